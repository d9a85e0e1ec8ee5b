#!/usr/bin/env bash
# Builds everything and runs every test: the plain native build, the sanitizer builds
# (AddressSanitizer + UndefinedBehaviorSanitizer, and ThreadSanitizer), the fuzzer smoke
# runs, and the Windows build (x86_64 and i686 with mingw-w64) with its tests under Wine
# (scripts/test-windows.sh, which installs the cross compilers, Wine and Xvfb when missing).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh

jobs=2

echo "== Native build and tests"
cmake -S . -B build/native -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build/native -j"$jobs"
ctest --test-dir build/native --output-on-failure --timeout 300 -j"$jobs"

echo "== Sanitizer build and tests (ASan + UBSan)"
cmake -S . -B build/asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DVD_SANITIZE=ON -DVD_BENCH=OFF
cmake --build build/asan -j"$jobs"
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --test-dir build/asan --output-on-failure --timeout 300 -j"$jobs"

echo "== ThreadSanitizer build and tests"
# The task queue, timer queue, registry watcher, thread pool and the library's callbacks run
# on several threads; TSan checks each of their tests.
cmake -S . -B build/tsan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DVD_TSAN=ON -DVD_BENCH=OFF
cmake --build build/tsan -j"$jobs"
TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" \
  ctest --test-dir build/tsan --output-on-failure --timeout 300 -j"$jobs"

echo "== Fuzz targets (clang, libFuzzer), bounded runs"
CC=clang CXX=clang++ cmake -S . -B build/fuzz -G Ninja -DCMAKE_BUILD_TYPE=Debug \
  -DVD_FUZZ=ON -DVD_BENCH=OFF
cmake --build build/fuzz -j"$jobs" --target trace_reader_fuzzer trace_seed_gen der_codec_fuzzer \
  hotkey_parse_fuzzer kiosk_user_record_fuzzer scenario_parse_fuzzer card_event_fuzzer \
  policy_user_info_fuzzer token_report_fuzzer launcher_table_fuzzer launcher_element_fuzzer \
  mailslot_datagram_fuzzer
ctest --test-dir build/fuzz --output-on-failure -L fuzz

echo "== Windows stage"
bash scripts/test-windows.sh

echo "== All tests passed"
