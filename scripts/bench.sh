#!/usr/bin/env bash
# Benchmarks of the simulated board, the report server and the afternoon walk
# scenario, and the long field soak: optimised host build, no sanitizers.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
cmake --preset bench >/dev/null
cmake --build --preset bench -j "$(nproc)"
build/bench/bench/sim_bench "$@"
build/bench/bench/server_bench "$@"
build/bench/bench/scenario_bench "$@"
# The long field soak: 20 seeds of a day under each busy policy (about ten
# minutes); what the wearer and the caretaker got is in build/soak/summary.json.
build/bench/sim/field_soak --seeds 20 --hours 24 --out build/soak
