#!/usr/bin/env bash
# The main job: builds everything for the host and the target, reports the
# target sizes, then runs the afternoon walk scenario and says where its
# report, waveform and trace are.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh

jobs=$(nproc)
cmake --preset host >/dev/null
cmake --build --preset host -j "$jobs"
cmake --preset tm4c123 >/dev/null
cmake --build --preset tm4c123 -j "$jobs"
scripts/size_report.sh build/tm4c123
# The runner users run: the optimised build, with no sanitizers; it writes
# the same outputs as the sanitizer build the tests use, ten times faster.
cmake --preset bench >/dev/null
cmake --build --preset bench -j "$jobs" --target tracker_run field_soak tracker_world
runner=build/bench/sim/tracker_run

# The afternoon walk: the wearer leaves the 250 m circle and comes back,
# presses for help, answers the caretaker's call, gets a new radius by SMS
# and loses the network for a while; reports go to the real report server.
# It runs the ARM image on the emulated board when the target build made
# one, the host build of the firmware otherwise.
image=build/tm4c123/apps/tracker/tracker_firmware.elf
out=build/afternoon-walk
echo
if [ -f "$image" ]; then
  echo "== the afternoon walk, the ARM image on the emulated board =="
  "$runner" --scenario scenarios/afternoon-walk.toml --out "$out" --image "$image"
else
  echo "== the afternoon walk, the firmware on the simulated board =="
  "$runner" --scenario scenarios/afternoon-walk.toml --out "$out"
fi
echo
echo "Open $out/report.html for the track, the caretaker's inbox, the calls and the reports;"
echo "$out/waveform.vcd in PulseView or GTKWave (UART decoders read its lines);"
echo "$out/trace.json in Perfetto (ui.perfetto.dev) for what ran when."
