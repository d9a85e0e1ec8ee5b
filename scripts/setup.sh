#!/usr/bin/env bash
# Installs the Debian packages the native build and tests need (only those missing).
set -euo pipefail

packages=(build-essential cmake ninja-build g++ clang libclang-rt-14-dev
          libgtest-dev libgmock-dev libbenchmark-dev nlohmann-json3-dev
          chromium)  # chromium: vdtrace's timeline page checked in a headless browser

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
