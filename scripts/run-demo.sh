#!/usr/bin/env bash
# Builds vdagent-sim and runs the agent in a simulated session with the built-in demo
# scenario. Extra arguments go to vdagent-sim (try --help).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh build
cmake -S . -B build/native -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build/native -j2 --target vdagent-sim
exec build/native/tools/vdagent_sim/vdagent-sim "$@"
