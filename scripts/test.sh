#!/usr/bin/env bash
# Builds everything and runs every test: the plain native build, the sanitizer builds
# (AddressSanitizer + UndefinedBehaviorSanitizer, and ThreadSanitizer), the fuzzer smoke
# runs, and the Windows build (x86_64 and i686 with mingw-w64) with its tests under Wine
# (scripts/test-windows.sh, which installs the cross compilers, Wine and Xvfb when missing).
#
# Time budgets on a 2-core machine from a fresh clone, no compiler cache (the whole run must
# stay under 40 minutes). Each stage prints its elapsed time at its end so CI logs show where
# the time goes, and names a stage that went over its budget. Measured three times on such a
# machine with the packages already installed: native 3.7-4.5, ASan 5.3-6.4, TSan 3.8-4.9,
# fuzz 2.7-3.6 min, Windows 8.7-9.2 min (the Wine cases about 3 of them); 27.7-27.8 min in all.
#   setup (the build packages; the rest installs during the native build)   2 min
#   native build + tests                                                    5 min
#   ASan + UBSan build + tests                                              7 min
#   ThreadSanitizer build + tests                                           6 min
#   fuzz targets, bounded runs two at a time                                4 min
#   Windows: mingw i686 and x86_64 builds, the x86_64 tests under Wine     13 min
#   total                                                                  37 min
set -euo pipefail
cd "$(dirname "$0")/.."

stage_start=$SECONDS
# Ends a stage: its elapsed time, and a note when it took longer than its budget (minutes).
stage_done() {
  local name=$1 budget=$2 took=$((SECONDS - stage_start))
  echo "== $name took $((took / 60)) min $((took % 60)) s (budget $budget min)"
  if ((took > budget * 60)); then echo "== WARNING: $name is over its budget of $budget min"; fi
  stage_start=$SECONDS
}

bash scripts/setup.sh build
# Chromium (the browser test) and the Windows stage's packages download and unpack while the
# native build compiles; the native tests wait for them.
mkdir -p build
bash scripts/setup.sh browser windows >build/setup-more.log 2>&1 &
setup_more=$!
stage_done "Setup" 2

jobs=2
# Debug information as line tables only (-g1): enough for sanitizer reports and backtraces,
# and a quarter less compile time than full debug information.
line_tables=-g1

echo "== Native build and tests"
cmake -S . -B build/native -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O2 $line_tables -DNDEBUG"
cmake --build build/native -j"$jobs"
if ! wait $setup_more; then
  echo "== Installing chromium and the Windows stage's packages failed:"; cat build/setup-more.log
  exit 1
fi
cat build/setup-more.log
ctest --test-dir build/native --output-on-failure --timeout 300 -j"$jobs"
stage_done "Native stage" 5

echo "== Sanitizer build and tests (ASan + UBSan)"
cmake -S . -B build/asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DVD_SANITIZE=ON -DVD_BENCH=OFF \
  -DCMAKE_CXX_FLAGS_DEBUG="$line_tables"
cmake --build build/asan -j"$jobs"
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --test-dir build/asan --output-on-failure --timeout 300 -j"$jobs"
stage_done "Sanitizer stage" 7

echo "== ThreadSanitizer build and tests"
# The whole ctest runs under TSan. The parts that run on threads of their own, and the test
# name patterns that exercise them (checked below to match tests, so a rename cannot drop
# one from this stage unnoticed):
#   task queue                 TaskQueueTest
#   timer queue                TimerQueueTest
#   registry watcher           RegistryWatcher (Test, Conformance)
#   mailslot reader            Mailslot (SimMailslotTest, MailslotInboxTest, MailslotConformance)
#   plug-in loader             AgentPluginsTest, TrayPluginStandInTest, CMenuPluginTest
#   launcher threads           LaunchersTest
#   toast callbacks            Toast (ToastTest, ToastStandinTest, ToastActivatorTest,
#                              ToastCompletionTest), BalloonCallbackTest
#   the library's callbacks    FingerprintLogicTest, CardTest
cmake -S . -B build/tsan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DVD_TSAN=ON -DVD_BENCH=OFF \
  -DCMAKE_CXX_FLAGS_DEBUG="$line_tables"
cmake --build build/tsan -j"$jobs"
for pattern in TaskQueueTest TimerQueueTest RegistryWatcher Mailslot AgentPluginsTest \
  TrayPluginStandInTest LaunchersTest ToastTest ToastStandinTest BalloonCallbackTest \
  FingerprintLogicTest CardTest; do
  if ! ctest --test-dir build/tsan -N -R "$pattern" | grep -q "Total Tests: [1-9]"; then
    echo "== No test matches '$pattern' in the ThreadSanitizer build"
    exit 1
  fi
done
TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" \
  ctest --test-dir build/tsan --output-on-failure --timeout 300 -j"$jobs"
stage_done "ThreadSanitizer stage" 6

echo "== Fuzz targets (clang, libFuzzer), bounded runs"
CC=clang CXX=clang++ cmake -S . -B build/fuzz -G Ninja -DCMAKE_BUILD_TYPE=Debug \
  -DVD_FUZZ=ON -DVD_BENCH=OFF -DCMAKE_CXX_FLAGS_DEBUG="$line_tables"
cmake --build build/fuzz -j"$jobs" --target trace_reader_fuzzer trace_seed_gen der_codec_fuzzer \
  hotkey_parse_fuzzer kiosk_user_record_fuzzer scenario_parse_fuzzer card_event_fuzzer \
  policy_user_info_fuzzer token_report_fuzzer launcher_table_fuzzer launcher_element_fuzzer \
  mailslot_datagram_fuzzer machine_description_fuzzer registry_string_fuzzer \
  fingerprint_event_fuzzer policy_buffer_fuzzer ole_date_fuzzer
# Each run is single-threaded and bounded by its run count: two at a time.
ctest --test-dir build/fuzz --output-on-failure -L fuzz -j"$jobs"
stage_done "Fuzz stage" 4

echo "== Windows stage"
bash scripts/test-windows.sh
stage_done "Windows stage" 13

echo "== All tests passed in $((SECONDS / 60)) min $((SECONDS % 60)) s"
if ((SECONDS > 40 * 60)); then echo "== WARNING: the whole run is over its budget of 40 min"; fi
