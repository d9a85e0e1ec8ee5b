#!/usr/bin/env bash
# Builds the benchmarks (native, RelWithDebInfo) and runs every one of them, then writes a
# Markdown table of result and target per benchmark to build/native/bench-results.md (and
# prints it). The raw Google Benchmark JSON of each program stays beside it in
# build/native/bench-json/. A result over its target is marked; the script still succeeds,
# since figures depend on the machine: the table is for reading, not a gate.
#   bash scripts/bench.sh [--benchmark_min_time=0.5s ...]   extra arguments go to each program
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh build
cmake -S . -B build/native -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build/native -j2
out=build/native/bench-json
rm -rf "$out" && mkdir -p "$out"
for program in build/native/bench/*_bench; do
  [ -x "$program" ] || continue
  name=$(basename "$program")
  echo "== $name" >&2
  "$program" --benchmark_format=json --benchmark_out="$out/$name.json" \
    --benchmark_out_format=json "$@" >/dev/null
done
python3 scripts/bench_table.py "$out" "$(uname -m), $(nproc) cores, $(. /etc/os-release && echo "$PRETTY_NAME")" \
  > build/native/bench-results.md
cat build/native/bench-results.md
