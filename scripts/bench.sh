#!/usr/bin/env bash
# Benchmarks of the simulated board, the report server and the afternoon walk
# scenario: optimised host build, no sanitizers.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
cmake --preset bench >/dev/null
cmake --build --preset bench -j "$(nproc)"
build/bench/bench/sim_bench "$@"
build/bench/bench/server_bench "$@"
build/bench/bench/scenario_bench "$@"
