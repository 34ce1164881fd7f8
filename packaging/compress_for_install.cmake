# Writes a file gzip-compressed, as Debian keeps manual pages and changelogs:
# the page a program prints for --man (PROGRAM) or a written file (SOURCE).
# cmake -DPROGRAM=<exe> | -DSOURCE=<page> -DOUTPUT=<page.gz> -P compress_for_install.cmake
find_program(GZIP_PROGRAM gzip REQUIRED)
get_filename_component(folder ${OUTPUT} DIRECTORY)
file(MAKE_DIRECTORY ${folder})
if(PROGRAM)
  string(REGEX REPLACE "\\.gz$" "" page ${OUTPUT})
  # A sanitizer build prints it too; making the page is no leak test.
  set(ENV{ASAN_OPTIONS} detect_leaks=0)
  execute_process(COMMAND ${PROGRAM} --man OUTPUT_FILE ${page} RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "${PROGRAM} --man failed: ${status}")
  endif()
else()
  set(page ${SOURCE})
endif()
# -n leaves out the name and time, so the same page gives the same bytes.
execute_process(COMMAND ${GZIP_PROGRAM} -9 -n -c ${page} OUTPUT_FILE ${OUTPUT}
                RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "gzip failed on ${page}: ${status}")
endif()
