#!/usr/bin/env bash
# Builds both presets and runs every test; fails if anything fails to build
# or any test fails.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh

jobs=$(nproc)
cmake --preset tm4c123 >/dev/null
cmake --build --preset tm4c123 -j "$jobs"
ctest --preset tm4c123 -j "$jobs"
# The tracker built with a server key, which a test runs against a server
# that asks it.
cmake --preset tm4c123 -B build/tm4c123-keyed -DTRACKER_SERVER_KEY="the bench's tracker key" >/dev/null
cmake --build build/tm4c123-keyed -j "$jobs" --target tracker_firmware
# The optimised runner, which a test holds to the sanitizer build's outputs.
cmake --preset bench >/dev/null
cmake --build --preset bench -j "$jobs" --target tracker_run
cmake --preset host >/dev/null
cmake --build --preset host -j "$jobs"
ctest --preset host -j "$jobs"
scripts/fuzz.sh --ci
