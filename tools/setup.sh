#!/usr/bin/env bash
# Installs the Debian packages Tintora builds, runs and tests with, when any is
# missing. Quick when everything is there already.
set -euo pipefail

packages=(
  cmake g++ make pkg-config
  qt6-base-dev libgl-dev
  libjpeg62-turbo-dev
  libcli11-dev
  ffmpeg
  libgtest-dev libgmock-dev libbenchmark-dev
  clang libclang-rt-dev
  fonts-dejavu-core
  fonts-wine
  desktop-file-utils  # the installed-layout test validates the desktop entry
  dpkg-dev            # cpack -G DEB finds the package's dependencies with dpkg-shlibdeps
  nodejs npm chromium
)

missing=()
for package in "${packages[@]}"; do
  # NodeSource's nodejs carries its own npm and refuses Debian's beside it.
  if [ "$package" = npm ] && command -v npm >/dev/null; then continue; fi
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$package")
  fi
done

if ((${#missing[@]})); then
  echo "Installing: ${missing[*]}"
  sudo_cmd=()
  if [ "$(id -u)" -ne 0 ]; then sudo_cmd=(sudo); fi
  export DEBIAN_FRONTEND=noninteractive
  "${sudo_cmd[@]}" apt-get update -qq
  "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
