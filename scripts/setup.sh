#!/usr/bin/env bash
# Installs the Debian packages a build needs (only those missing), by group:
#   build    compilers, CMake, Ninja and the libraries of the native build
#   browser  chromium: vdtrace's timeline page checked in a headless browser
#   windows  the mingw-w64 posix compilers, Wine, Xvfb and msitools for the Windows stage
# With no group it installs build and browser, what the native build and its tests need.
set -euo pipefail

groups=("$@")
((${#groups[@]})) || groups=(build browser)
packages=()
for g in "${groups[@]}"; do
  case $g in
    build) packages+=(build-essential cmake ninja-build g++ clang libclang-rt-14-dev
                      libgtest-dev libgmock-dev libbenchmark-dev nlohmann-json3-dev) ;;
    browser) packages+=(chromium) ;;
    windows) packages+=(g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix wine64 xvfb xauth
                        wixl msitools) ;;
    *) echo "setup.sh: unknown package group '$g' (build, browser, windows)" >&2; exit 2 ;;
  esac
done

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "Installing: ${missing[*]}"
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}"
fi
