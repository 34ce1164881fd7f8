#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <future>
#include <string>
#include <vector>

#include "core/settings/settings_file.hpp"
#include "core/settings/texts.hpp"
#include "support/temporary_folder.hpp"
#include "support/without_hanging.hpp"

namespace tintora {
namespace {

namespace fs = std::filesystem;

void write_file(const fs::path& path, const std::string& bytes, fs::perms perms = fs::perms(0644)) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << bytes;
    fs::permissions(path, perms);
}

std::string read_file(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

fs::perms permissions_of(const fs::path& path) {
    return fs::status(path).permissions() & fs::perms::all;
}

AppSettings preset() {
    AppSettings settings;
    settings.language = "eng";
    settings.work_dir = "/default/Temp";
    settings.ffmpeg_path = "/default/ffmpeg";
    settings.ffplay_path = "/default/ffplay";
    return settings;
}

TEST(SettingsText, ReadsKeyedLinesByTheFileRules) {
    const std::string long_path = "/" + std::string(242, 'p');  // 250-character line with the key
    const std::string chunk_key_line = std::string(199, 'x') + "LANG=rus";
    const struct {
        const char* name;
        std::string text;
        std::string language, work_dir, ffmpeg, ffplay;
    } cases[] = {
        {"crlf", "LANG=rus\r\nTEMP=/w\r\nFFMPEG=/a/ffmpeg\r\nFFPLAY=/a/ffplay\r\n", "rus", "/w",
         "/a/ffmpeg", "/a/ffplay"},
        {"lf only", "LANG=rus\nTEMP=/w\nFFMPEG=/a/ffmpeg\nFFPLAY=/a/ffplay\n", "rus", "/w",
         "/a/ffmpeg", "/a/ffplay"},
        {"no line break at the end", "FFPLAY=/p", "eng", "/default/Temp", "/default/ffmpeg", "/p"},
        {"keys are case-sensitive", "lang=rus\r\nFfmpeg=/x\r\n", "eng", "/default/Temp",
         "/default/ffmpeg", "/default/ffplay"},
        {"key only at line start", " LANG=rus\r\nXTEMP=/x\r\n", "eng", "/default/Temp",
         "/default/ffmpeg", "/default/ffplay"},
        {"value untrimmed", "LANG= rus\r\nTEMP=/w \r\n", " rus", "/w ", "/default/ffmpeg",
         "/default/ffplay"},
        {"empty values", "LANG=\r\nTEMP=\r\n", "", "", "/default/ffmpeg", "/default/ffplay"},
        {"last occurrence wins", "FFMPEG=/first\r\nFFMPEG=/second\r\n", "eng", "/default/Temp",
         "/second", "/default/ffplay"},
        {"several trailing CR and LF go", "LANG=rus\r\r\n\nTEMP=/w\r\r", "rus", "/w",
         "/default/ffmpeg", "/default/ffplay"},
        {"a CR inside a value stays", "TEMP=/a\rb\r\n", "eng", "/a\rb", "/default/ffmpeg",
         "/default/ffplay"},
        // Lines end at LF only: a CR-only file is one line.
        {"cr-only file is one line", "LANG=rus\rTEMP=/w\r", "rus\rTEMP=/w", "/default/Temp",
         "/default/ffmpeg", "/default/ffplay"},
        {"the value ends at a NUL", std::string("LANG=ru\0s\r\nTEMP=/w\r\n", 20), "ru", "/w",
         "/default/ffmpeg", "/default/ffplay"},
        {"a NUL at line start hides the line", std::string("\0LANG=rus\r\n", 11), "eng",
         "/default/Temp", "/default/ffmpeg", "/default/ffplay"},
        {"bytes kept as they are", "FFPLAY=/\xff\xe9 x=y\r\n", "eng", "/default/Temp",
         "/default/ffmpeg", "/\xff\xe9 x=y"},
        {"long line read whole", "FFMPEG=" + long_path + "\r\nLANG=rus\r\n", "rus", "/default/Temp",
         long_path, "/default/ffplay"},
        // Read whole, the tail of a long line is no line of its own.
        {"no key inside a long line", chunk_key_line + "\r\n", "eng", "/default/Temp",
         "/default/ffmpeg", "/default/ffplay"},
        {"other lines ignored", "\r\n\r\n[section]\r\nFOO=bar\r\n=\r\nLANG\r\n", "eng",
         "/default/Temp", "/default/ffmpeg", "/default/ffplay"},
    };
    for (const auto& c : cases) {
        AppSettings settings = preset();
        settings.program_dir = "/prog";
        apply_settings_text(c.text, settings);
        EXPECT_EQ(settings.language, c.language) << c.name;
        EXPECT_EQ(settings.work_dir.native(), c.work_dir) << c.name;
        EXPECT_EQ(settings.ffmpeg_path.native(), c.ffmpeg) << c.name;
        EXPECT_EQ(settings.ffplay_path.native(), c.ffplay) << c.name;
        EXPECT_EQ(settings.program_dir.native(), "/prog") << c.name;
    }
}

TEST(SettingsText, FormatWritesExactlyFourCrLfLinesThatReadBackTheSame) {
    AppSettings settings;
    settings.program_dir = "/never/written";
    settings.language = "rus";
    settings.work_dir = "/home/u/my work";
    settings.ffmpeg_path = "/opt/ff=mpeg/ffmpeg";
    settings.ffplay_path = "/opt/ffplay";
    EXPECT_EQ(format_settings(settings),
              "LANG=rus\r\nTEMP=/home/u/my work\r\nFFMPEG=/opt/ff=mpeg/ffmpeg\r\n"
              "FFPLAY=/opt/ffplay\r\n");

    AppSettings read_back = preset();
    apply_settings_text(format_settings(settings), read_back);
    EXPECT_EQ(read_back.language, settings.language);
    EXPECT_EQ(read_back.work_dir, settings.work_dir);
    EXPECT_EQ(read_back.ffmpeg_path, settings.ffmpeg_path);
    EXPECT_EQ(read_back.ffplay_path, settings.ffplay_path);

    EXPECT_EQ(format_settings(AppSettings{{}, {}, {}, {}, ""}),
              "LANG=\r\nTEMP=\r\nFFMPEG=\r\nFFPLAY=\r\n");
}

TEST(SettingsDefaults, LanguageFollowsCountryCodeSeven) {
    const struct {
        int code;
        const char* language;
    } cases[] = {{7, "rus"}, {0, "eng"}, {1, "eng"}, {44, "eng"}, {70, "eng"}, {-7, "eng"}};
    for (const auto& c : cases) {
        EXPECT_EQ(language_for_country_code(c.code), c.language) << c.code;
        SettingsEnvironment environment{"/nowhere", c.code, ""};
        EXPECT_EQ(default_settings(environment).language, c.language) << c.code;
    }
}

// Layout: prog/ (the program's folder), bin_plain/ffmpeg not executable,
// bin_dir/ffmpeg a folder, bin_a/ and bin_b/ with executable tools.
TEST(SettingsDefaults, ToolPathBesideProgramThenAbsoluteSearchPathThenBesideProgram) {
    test::TemporaryFolder root;
    const fs::path prog = root.path() / "prog";
    const fs::path plain = root.path() / "bin_plain";
    const fs::path folder = root.path() / "bin_dir";
    const fs::path a = root.path() / "bin_a";
    const fs::path b = root.path() / "bin_b";
    fs::create_directories(prog);
    fs::create_directories(folder / "ffmpeg");
    write_file(plain / "ffmpeg", "#!/bin/sh\n", fs::perms(0644));
    write_file(a / "ffmpeg", "#!/bin/sh\n", fs::perms(0755));
    write_file(b / "ffmpeg", "#!/bin/sh\n", fs::perms(0755));
    write_file(b / "ffplay", "#!/bin/sh\n", fs::perms(0755));
    const std::string relative_a = fs::relative(a, fs::current_path()).string();
    ASSERT_NE(relative_a.front(), '/');

    const struct {
        const char* name;
        std::string search_path;
        fs::path expected;
    } cases[] = {
        {"empty search path", "", prog / "ffmpeg"},
        {"not executable, folder and empty entries skipped",
         plain.string() + "::" + folder.string() + ":" + b.string(), b / "ffmpeg"},
        {"first match wins", a.string() + ":" + b.string(), a / "ffmpeg"},
        {"relative entries are not taken", relative_a + ":" + root.path().string(),
         prog / "ffmpeg"},
        {"trailing colon", b.string() + ":", b / "ffmpeg"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(default_tool_path(prog, "ffmpeg", c.search_path), c.expected) << c.name;
    }

    // A file beside the program wins even over the search path, executable or not.
    write_file(prog / "ffmpeg", "", fs::perms(0644));
    EXPECT_EQ(default_tool_path(prog, "ffmpeg", a.string()), prog / "ffmpeg");

    // Each tool is looked up on its own.
    const AppSettings defaults = default_settings({prog, 7, a.string() + ":" + b.string()});
    EXPECT_EQ(defaults.program_dir, prog);
    EXPECT_EQ(defaults.ffmpeg_path, prog / "ffmpeg");
    EXPECT_EQ(defaults.ffplay_path, b / "ffplay");
    EXPECT_EQ(defaults.work_dir, prog / "Temp");
    EXPECT_EQ(defaults.language, "rus");
}

TEST(SettingsFile, LoadGivesDefaultsWithoutAFileAndTheFileValuesWithOne) {
    test::TemporaryFolder prog;
    const SettingsEnvironment environment{prog.path(), 7, ""};
    const AppSettings defaults = load_settings(environment);
    EXPECT_EQ(defaults.language, "rus");
    EXPECT_EQ(defaults.work_dir, prog.path() / "Temp");
    EXPECT_EQ(defaults.ffmpeg_path, prog.path() / "ffmpeg");
    EXPECT_EQ(defaults.ffplay_path, prog.path() / "ffplay");
    EXPECT_EQ(defaults.program_dir, prog.path());

    // A folder in the file's place reads as no file.
    fs::create_directory(prog.path() / "Tintora.ini");
    EXPECT_EQ(load_settings(environment).work_dir, prog.path() / "Temp");
    fs::remove(prog.path() / "Tintora.ini");

    // Keys the file lacks keep their defaults.
    write_file(prog.path() / "Tintora.ini", "LANG=eng\nFFPLAY=/usr/bin/ffplay\n");
    const AppSettings loaded = load_settings(environment);
    EXPECT_EQ(loaded.language, "eng");
    EXPECT_EQ(loaded.ffplay_path, "/usr/bin/ffplay");
    EXPECT_EQ(loaded.ffmpeg_path, prog.path() / "ffmpeg");
    EXPECT_EQ(loaded.work_dir, prog.path() / "Temp");
    EXPECT_EQ(loaded.program_dir, prog.path());
}

TEST(SettingsFile, SaveReplacesTheWholeFileAndLeavesNoTemporaryFile) {
    test::TemporaryFolder prog;
    const fs::path file = prog.path() / "Tintora.ini";
    write_file(file, "# my notes\nLANG=eng\nEXTRA=1\n", fs::perms(0600));

    // First start on a Russian system with no file of its own values kept.
    AppSettings settings = default_settings({prog.path(), 7, ""});
    ASSERT_TRUE(save_settings(settings).ok());
    EXPECT_EQ(read_file(file), "LANG=rus\r\nTEMP=" + (prog.path() / "Temp").string() +
                                   "\r\nFFMPEG=" + (prog.path() / "ffmpeg").string() +
                                   "\r\nFFPLAY=" + (prog.path() / "ffplay").string() + "\r\n");
    // The user's permissions survive the replacement.
    EXPECT_EQ(fs::status(file).permissions() & fs::perms::all, fs::perms(0600));

    std::vector<fs::path> entries;
    for (const auto& entry : fs::directory_iterator(prog.path())) entries.push_back(entry.path());
    EXPECT_EQ(entries, std::vector<fs::path>{file});

    // What was saved loads back unchanged.
    settings.language = " rus";
    settings.work_dir = "";
    ASSERT_TRUE(save_settings(settings).ok());
    const AppSettings loaded = load_settings({prog.path(), 0, ""});
    EXPECT_EQ(loaded.language, " rus");
    EXPECT_EQ(loaded.work_dir, "");
    EXPECT_EQ(loaded.ffmpeg_path, settings.ffmpeg_path);
}

// A FIFO would block the start until someone writes to it; a device such as
// /dev/zero never ends.
TEST(SettingsFile, AFifoOrADeviceAsTheFileGivesTheDefaults) {
    const struct {
        const char* name;
        void (*make)(const fs::path& file);
    } cases[] = {
        {"FIFO", [](const fs::path& file) { ASSERT_EQ(::mkfifo(file.c_str(), 0600), 0); }},
        {"link to /dev/zero", [](const fs::path& file) { fs::create_symlink("/dev/zero", file); }},
    };
    for (const auto& c : cases) {
        test::TemporaryFolder prog;
        c.make(prog.path() / "Tintora.ini");
        const SettingsEnvironment environment{prog.path(), 7, ""};
        const AppSettings loaded =
            test::without_hanging([&] { return load_settings(environment); });
        const AppSettings defaults = default_settings(environment);
        EXPECT_EQ(loaded.language, defaults.language) << c.name;
        EXPECT_EQ(loaded.work_dir, defaults.work_dir) << c.name;
        EXPECT_EQ(loaded.ffmpeg_path, defaults.ffmpeg_path) << c.name;
        EXPECT_EQ(loaded.ffplay_path, defaults.ffplay_path) << c.name;
    }
}

// Replacing a file the user may not write would go unnoticed (the folder
// allows the rename), or, for a file the user may not even read, lose every
// change at the next start. Writing it in place fails, and so does saving.
TEST(SettingsFile, SaveReportsAFileTheUserMayNotWrite) {
    if (::geteuid() == 0) {
        GTEST_SKIP() << "Permission bits do not stop root from writing a file.";
    }
    for (const fs::perms mode : {fs::perms(0444), fs::perms(0)}) {
        test::TemporaryFolder prog;
        const fs::path file = prog.path() / "Tintora.ini";
        write_file(file, "LANG=eng\r\n", mode);
        const Status saved = save_settings(default_settings({prog.path(), 7, ""}));
        ASSERT_FALSE(saved.ok()) << std::oct << static_cast<int>(mode);
        EXPECT_EQ(saved.error(),
                  "Cannot write \"" + file.string() + "\": " + std::strerror(EACCES));
        EXPECT_EQ(permissions_of(file), mode);
        fs::permissions(file, fs::perms(0600));
        EXPECT_EQ(read_file(file), "LANG=eng\r\n");
        EXPECT_EQ(std::distance(fs::directory_iterator(prog.path()), fs::directory_iterator()), 1);
    }
}

// The user keeps the settings elsewhere: the file a link leads to is written,
// created when missing, and the links stay links.
TEST(SettingsFile, SaveWritesThroughLinksToTheFileTheyLeadTo) {
    const struct {
        const char* name;
        std::vector<std::pair<std::string, std::string>> links;  // link name, what it holds
        std::string target;
        bool target_exists;
    } cases[] = {
        {"dangling relative link",
         {{"Tintora.ini", "kept/settings.ini"}},
         "kept/settings.ini",
         false},
        {"chain of relative links",
         {{"Tintora.ini", "kept/first"},
          {"kept/first", "../kept/deeper/second"},
          {"kept/deeper/second", "settings.ini"}},
         "kept/deeper/settings.ini",
         true},
        {"chain ending dangling",
         {{"Tintora.ini", "kept/first"}, {"kept/first", "settings.ini"}},
         "kept/settings.ini",
         false},
    };
    for (const auto& c : cases) {
        test::TemporaryFolder prog;
        fs::create_directories(prog.path() / "kept" / "deeper");
        const fs::path target = prog.path() / c.target;
        if (c.target_exists) write_file(target, "LANG=eng\r\n", fs::perms(0640));
        for (const auto& [link, holds] : c.links) fs::create_symlink(holds, prog.path() / link);

        AppSettings settings = default_settings({prog.path(), 7, ""});
        settings.work_dir = "/somewhere/else";
        const Status saved = save_settings(settings);
        ASSERT_TRUE(saved.ok()) << c.name << ": " << saved.error();
        EXPECT_EQ(read_file(target), format_settings(settings)) << c.name;
        if (c.target_exists) {
            EXPECT_EQ(permissions_of(target), fs::perms(0640)) << c.name;
        }
        for (const auto& [link, holds] : c.links) {
            ASSERT_TRUE(fs::is_symlink(prog.path() / link)) << c.name << ": " << link;
            EXPECT_EQ(fs::read_symlink(prog.path() / link), holds) << c.name;
        }
        EXPECT_EQ(load_settings({prog.path(), 0, ""}).work_dir, "/somewhere/else") << c.name;
    }
}

TEST(SettingsFile, SaveReportsAnUnwritablePlace) {
    test::TemporaryFolder root;
    write_file(root.path() / "a_file", "x");
    fs::create_directories(root.path() / "blocked" / "Tintora.ini");
    const fs::path places[] = {root.path() / "missing", root.path() / "missing" / "deeper",
                               root.path() / "a_file", root.path() / "blocked"};
    // Without the user's folders there is no other place to fall back on.
    const UserFolders unknown;
    for (const fs::path& place : places) {
        AppSettings settings = default_settings({place, 0, "", unknown});
        const Status status = save_settings(settings, unknown);
        EXPECT_FALSE(status.ok()) << place;
        EXPECT_FALSE(status.error().empty()) << place;
    }
    EXPECT_FALSE(fs::exists(root.path() / "missing"));
    EXPECT_EQ(read_file(root.path() / "a_file"), "x");
    // The failed rename over the folder left nothing behind.
    EXPECT_TRUE(fs::is_directory(root.path() / "blocked" / "Tintora.ini"));
    EXPECT_EQ(
        std::distance(fs::directory_iterator(root.path() / "blocked"), fs::directory_iterator()),
        1);
}

TEST(SettingsPlace, UserFoldersFollowTheBaseDirectoryRules) {
    const struct {
        const char *name, *config_home, *cache_home, *home, *config, *cache;
    } cases[] = {
        {"variables set", "/x/conf", "/x/cache", "/home/u", "/x/conf", "/x/cache"},
        {"variables unset", nullptr, nullptr, "/home/u", "/home/u/.config", "/home/u/.cache"},
        {"empty or relative values ignored", "", "rel/cache", "/home/u", "/home/u/.config",
         "/home/u/.cache"},
        {"no absolute home", nullptr, "/x/cache", "home/u", "", "/x/cache"},
    };
    for (const auto& c : cases) {
        const UserFolders folders = user_folders(c.config_home, c.cache_home, c.home);
        EXPECT_EQ(folders.config, c.config) << c.name;
        EXPECT_EQ(folders.cache, c.cache) << c.name;
    }
}

// Layout: build/ (a build folder), portable/bin and installed/bin beside
// share/tintora (installations), the first with a settings file of its own,
// and read-only/.
TEST(SettingsPlace, BesideTheProgramUnlessInstalledOrUnwritable) {
    test::TemporaryFolder root;
    const UserFolders user{root / "config", root / "cache"};
    fs::create_directories(root / "build");
    fs::create_directories(root / "portable" / "share" / "tintora");
    write_file(root / "portable" / "bin" / "Tintora.ini", "LANG=eng\r\n");
    fs::create_directories(root / "installed" / "share" / "tintora");
    fs::create_directories(root / "installed" / "bin");

    struct Case {
        const char* name;
        fs::path program_dir;
        UserFolders user;
        bool beside;
    };
    std::vector<Case> cases = {
        {"build folder", root / "build", user, true},
        {"settings file in the program's folder", root / "portable" / "bin", user, true},
        {"installed", root / "installed" / "bin", user, false},
        {"user's folders unknown", root / "installed" / "bin", {root / "config", {}}, true},
        // Saving there fails and says so, as it always did.
        {"missing folder", root / "missing", user, true},
    };
    // Permission bits do not stop root.
    if (::geteuid() != 0) {
        fs::create_directories(root / "read-only");
        fs::permissions(root / "read-only", fs::perms(0555));
        cases.push_back({"folder the user may not write", root / "read-only", user, false});
    }
    for (const auto& c : cases) {
        const AppSettings defaults = default_settings({c.program_dir, 0, "", c.user});
        EXPECT_EQ(keeps_settings_beside_program(c.program_dir, c.user), c.beside) << c.name;
        EXPECT_EQ(settings_file_path(c.program_dir, c.user),
                  c.beside ? c.program_dir / "Tintora.ini" : user.config / "tintora/Tintora.ini")
            << c.name;
        EXPECT_EQ(defaults.work_dir,
                  c.beside ? c.program_dir / "Temp" : user.cache / "tintora/Temp")
            << c.name;
    }
}

// An installed program makes the user's settings folder on its first save,
// reads the file back from there and leaves its own folder alone.
TEST(SettingsPlace, AnInstalledProgramSavesAndLoadsTheUsersFile) {
    test::TemporaryFolder root;
    const fs::path program_dir = root / "usr" / "bin";
    fs::create_directories(program_dir);
    fs::create_directories(root / "usr" / "share" / "tintora");
    const SettingsEnvironment environment{program_dir, 0, "", {root / "config", root / "cache"}};

    AppSettings settings = default_settings(environment);
    settings.language = "rus";
    const Status saved = save_settings(settings, environment.user_folders);
    ASSERT_TRUE(saved.ok()) << saved.error();
    EXPECT_EQ(read_file(root / "config" / "tintora" / "Tintora.ini"), format_settings(settings));
    EXPECT_TRUE(fs::is_empty(program_dir));
    const AppSettings loaded = load_settings(environment);
    EXPECT_EQ(loaded.language, "rus");
    EXPECT_EQ(loaded.work_dir, root / "cache" / "tintora" / "Temp");
}

TEST(Texts, LanguageChoiceOfMessagesMainWindowAndHelpPage) {
    const TextPair text{"Exit", "Выход"};
    const struct {
        const char* language;
        const char* message;      // message boxes: English only for exactly "eng"
        const char* main_window;  // main window: Russian only for exactly "rus"
        const char* help_path;
    } cases[] = {
        {"eng", "Exit", "Exit", "/eng/help/tintora"},
        {"rus", "Выход", "Выход", "/help/tintora"},
        {"", "Выход", "Exit", "/eng/help/tintora"},
        {" rus", "Выход", "Exit", "/eng/help/tintora"},
        {"RUS", "Выход", "Exit", "/eng/help/tintora"},
        {"ENG", "Выход", "Exit", "/eng/help/tintora"},
        {"eng ", "Выход", "Exit", "/eng/help/tintora"},
        {"fra", "Выход", "Exit", "/eng/help/tintora"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(message_text(text, c.language), c.message) << '"' << c.language << '"';
        EXPECT_EQ(main_window_text(text, c.language), c.main_window) << '"' << c.language << '"';
        EXPECT_EQ(help_page_url(c.language), std::string(kVendorSite) + c.help_path)
            << '"' << c.language << '"';
    }
}

}  // namespace
}  // namespace tintora
