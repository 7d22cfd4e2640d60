#!/usr/bin/env bash
# Installs what building and testing Wendrake needs on Debian 12, and only
# what is missing. Safe to run again.
#   install-deps.sh          native build and tests only
#   install-deps.sh --all    also the Windows cross build, Wine and Xvfb
set -euo pipefail

# dpkg-dev and file: cpack -G DEB finds the package's dependencies with them;
# lintian and systemd (systemd-analyze verify): the package test checks the
# package and its units with them.
# bindfs: the shared-folder tests mount a FUSE folder over a backing one.
# rsync, sqlite3: tests run them in a watched folder, as users do.
packages=(g++ cmake make libgtest-dev libgmock-dev libbenchmark-dev inotify-tools util-linux bindfs rsync sqlite3
          clang libclang-rt-14-dev clang-tidy clang-format cppcheck dpkg-dev file lintian systemd)
# unzip: the Windows package test looks into the zip with it.
if [ "${1:-}" = "--all" ]; then
  packages+=(g++-mingw-w64-x86-64-posix wine wine64 xvfb xauth unzip)
fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
sudo=""
if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
