#!/usr/bin/env bash
# The Windows stage: VdAgent.exe and VdAgent.msi for x86_64 and i686 with mingw-w64 and wixl,
# and the x86_64 build's tests under Wine + Xvfb (the agent end to end, its package, and the
# backend conformance tests). Run by
# test.sh after the native stage; alone it builds the native vdtrace it needs to read traces.
# Every Wine program runs under `timeout` (tests/wine/wine-run.sh), every test under ctest's
# time-out, and the whole Wine run under one more: a stuck Wine fails, it never hangs.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh windows
vdtrace="${VD_NATIVE_VDTRACE:-$PWD/build/native/tools/vdtrace/vdtrace}"
[ -x "$vdtrace" ] || { cmake -S . -B build/native -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo;
                       cmake --build build/native -j2 --target vdtrace; }

echo "== Windows build (i686): built, not run"
cmake -S . -B build/win32 -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/mingw-i686.cmake
cmake --build build/win32 -j2 --target VdAgent VdAgentRes VDFPApi VDHostStandIn VDSCApi \
  VDCardStandIn VDEvtLog VDTSClnt VdAgentMsi
# The 32-bit package's tables are read on this machine (no Wine needed).
ctest --test-dir build/win32 -R '^msi_tables_VdAgent$' --output-on-failure

echo "== Windows build (x86_64) and its tests under Wine"
cmake -S . -B build/win64 -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/mingw-x86_64.cmake -DVD_NATIVE_VDTRACE="$vdtrace"
cmake --build build/win64 -j2
rc=0
timeout -k 30 2100 ctest --test-dir build/win64 --output-on-failure --timeout 300 || rc=$?
if [ $rc -ne 0 ]; then
  # What Wine itself said: prefix creation, Xvfb. Then stop this prefix's wineserver and
  # our Xvfb in case ctest was cut off before its clean-up case ran.
  for log in build/win64/wine/wineboot.log build/win64/wine/xvfb.log; do
    [ -f "$log" ] && { echo "---- $log (last 40 lines)"; tail -n 40 "$log"; }
  done
  [ $rc -eq 124 ] && echo "== Wine tests timed out (ctest was stopped after 2100 s)"
  VD_WINE_DIR="$PWD/build/win64/wine" tests/wine/wine-run.sh stop || true
  exit $rc
fi
