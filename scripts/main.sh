#!/usr/bin/env bash
# The main job: builds everything for the host and the target, then reports
# the target sizes.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh

jobs=$(nproc)
cmake --preset host >/dev/null
cmake --build --preset host -j "$jobs"
cmake --preset tm4c123 >/dev/null
cmake --build --preset tm4c123 -j "$jobs"
scripts/size_report.sh build/tm4c123
