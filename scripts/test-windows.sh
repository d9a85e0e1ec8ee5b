#!/usr/bin/env bash
# The Windows stage: VdAgent.exe for x86_64 and i686 with mingw-w64, and the x86_64 build's
# tests under Wine + Xvfb. Kept apart from test.sh until it has proven reliable from clean
# build directories; needs a native vdtrace (build/native, made by test.sh) to read traces.
set -euo pipefail
cd "$(dirname "$0")/.."
pkgs=(g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix wine64 xvfb xauth)
missing=()
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  sudo=""; [ "$(id -u)" -eq 0 ] || sudo="sudo"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}"
fi
vdtrace="${VD_NATIVE_VDTRACE:-$PWD/build/native/tools/vdtrace/vdtrace}"
[ -x "$vdtrace" ] || { cmake -S . -B build/native -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo;
                       cmake --build build/native -j2 --target vdtrace; }

echo "== Windows build (i686): built, not run"
cmake -S . -B build/win32 -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/mingw-i686.cmake
cmake --build build/win32 -j2 --target VdAgent VdAgentRes VDFPApi VDHostStandIn

echo "== Windows build (x86_64) and its tests under Wine"
cmake -S . -B build/win64 -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/mingw-x86_64.cmake -DVD_NATIVE_VDTRACE="$vdtrace"
cmake --build build/win64 -j2
ctest --test-dir build/win64 --output-on-failure --timeout 300
