#!/usr/bin/env bash
# Installs a build into a fresh folder and checks what lands where: both
# programs, the guide where the program looks for it (share/tintora/guide
# beside bin), the desktop entry naming the installed program and icon, the
# icon's sizes, and the manual pages, tintora-cli's listing under each command
# every option that command's --help lists. Exits 77 (skipped) after the
# other checks when desktop-file-validate is missing.
# Usage: check_installed_layout.sh CMAKE BUILD_FOLDER PREFIX
set -euo pipefail
cmake="$1" build="$2" prefix="$3"
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }

rm -rf "$prefix"
"$cmake" --install "$build" --prefix "$prefix" >/dev/null

for program in tintora tintora-cli; do
  [ -x "$prefix/bin/$program" ] || fail "bin/$program is not an installed program"
done
for page in guide_en.html guide_ru.html; do
  [ -f "$prefix/share/tintora/guide/$page" ] || fail "share/tintora/guide/$page is missing"
done

entry="$prefix/share/applications/tintora.desktop"
[ -f "$entry" ] || fail "share/applications/tintora.desktop is missing"
exec_program=$(sed -n 's/^Exec=\([^ ]*\).*/\1/p' "$entry")
[ -x "$prefix/bin/$exec_program" ] || fail "the entry starts '$exec_program', not an installed program"
icon=$(sed -n 's/^Icon=//p' "$entry")
icons="$prefix/share/icons/hicolor"
[ -f "$icons/scalable/apps/$icon.svg" ] || fail "no scalable icon '$icon'"
# A PNG's width and height are the big-endian words at bytes 16 and 20.
for png in "$icons"/*x*/apps/"$icon".png; do
  [ -f "$png" ] || { fail "no PNG icon '$icon'"; break; }
  size=$(basename "$(dirname "$(dirname "$png")")")
  read -r width height < <(od -An -tu1 -j16 -N8 "$png" |
    awk '{ print $1*16777216 + $2*65536 + $3*256 + $4, $5*16777216 + $6*65536 + $7*256 + $8 }')
  [ "${width}x${height}" = "$size" ] || fail "$png is ${width}x${height}"
done

man1="$prefix/share/man/man1"
[ -f "$man1/tintora.1.gz" ] || fail "share/man/man1/tintora.1.gz is missing"
if [ -f "$man1/tintora-cli.1.gz" ]; then
  # The page's text with roff's escaped hyphens plain.
  page=$(gzip -dc "$man1/tintora-cli.1.gz" | sed 's/\\-/-/g')
  cli="$prefix/bin/tintora-cli"
  # One section per command: from its .SS heading to the next heading.
  section_of() { awk -v name="$1" '/^\.S[SH]/ { inside = ($0 == ".SS \"" name "\"") } inside' <<<"$page"; }
  options_in() { grep -oE -- '(^|[ ,])--?[a-z][a-z-]*' | grep -oE -- '--?[a-z][a-z-]*' | sort -u; }
  commands=$("$cli" --help | awk '/^Subcommands:/ { listing = 1; next } listing && NF { print $1 }')
  [ -n "$commands" ] || fail "tintora-cli --help lists no commands"
  for option in $("$cli" --help | options_in); do
    grep -qE -- "(^|[^a-z-])$option([^a-z-]|$)" <<<"$page" || fail "the page lacks $option"
  done
  for command in $commands; do
    section=$(section_of "$command")
    [ -n "$section" ] || { fail "the page has no section for $command"; continue; }
    for option in $("$cli" "$command" --help | options_in); do
      case "$option" in -h | --help) continue ;; esac  # said once for every command
      grep -qE -- "(^|[^a-z-])$option([^a-z-]|$)" <<<"$section" ||
        fail "the page lacks $command $option"
    done
  done
else
  fail "share/man/man1/tintora-cli.1.gz is missing"
fi

if ((failures)); then exit 1; fi
if ! command -v desktop-file-validate >/dev/null; then
  echo "SKIP: desktop-file-validate is missing (Debian: desktop-file-utils); the rest passed"
  exit 77
fi
# It says nothing about a clean entry; hints and warnings fail the check too.
report=$(desktop-file-validate "$entry" 2>&1) || true
[ -z "$report" ] || { echo "FAIL: $report" >&2; exit 1; }
echo "installed layout checked in $prefix"
