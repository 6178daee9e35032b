#!/usr/bin/env bash
# Builds the fuzz targets (clang, libFuzzer, sanitizers) and runs each on its
# seed corpus. Findings (the input and the fuzzer's report) go to
# build/fuzz/findings; the exit status is 1 when there is any.
#
#   scripts/fuzz.sh --ci                 a bounded number of runs, for the test job
#   scripts/fuzz.sh --seconds 1800 [T..] each target (or those named) that long
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh

mode=ci
seconds=0
while [ $# -gt 0 ]; do
  case "$1" in
    --ci) mode=ci; shift ;;
    --seconds) mode=time; seconds="$2"; shift 2 ;;
    -h|--help) sed -n '2,7p' "$0"; exit 0 ;;
    *) break ;;
  esac
done

# Targets on the simulated board run a board per input: a few hundred a
# second. The others run in process.
board_targets=(modem_interpreter position_source gsm_replies camera_replies)
process_targets=(report_record report_server sim900_commands scenario_file)
targets=("$@")
[ ${#targets[@]} -eq 0 ] && targets=("${board_targets[@]}" "${process_targets[@]}")

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j "$(nproc)" --target $(printf '%s_fuzz ' "${targets[@]}")

findings=build/fuzz/findings
mkdir -p "$findings"
failed=0
for target in "${targets[@]}"; do
  binary=build/fuzz/fuzz/${target}_fuzz
  seeds=fuzz/corpus/$target
  work=build/fuzz/corpus/$target
  mkdir -p "$work"
  options=(-seed=1 -max_len=4096 -artifact_prefix="$findings/$target-" -print_final_stats=1)
  dictionary=fuzz/dictionaries/${target%%_*}.dict
  case "$target" in
    modem_interpreter) dictionary=fuzz/dictionaries/modem.dict ;;
    position_source) dictionary=fuzz/dictionaries/nmea.dict ;;
    gsm_replies) dictionary=fuzz/dictionaries/gsm.dict ;;
    report_server) dictionary=fuzz/dictionaries/http.dict ;;
    sim900_commands) dictionary=fuzz/dictionaries/sim900.dict ;;
    scenario_file) dictionary=fuzz/dictionaries/scenario.dict ;;
    *) dictionary= ;;
  esac
  [ -n "$dictionary" ] && options+=(-dict="$dictionary")
  if [ "$mode" = ci ]; then
    runs=20000
    [[ " ${board_targets[*]} " == *" $target "* ]] && runs=1500
    options+=(-runs="$runs")
  else
    options+=(-max_total_time="$seconds")
  fi
  log=build/fuzz/$target.log
  echo "== $target"
  if "$binary" "${options[@]}" "$work" "$seeds" >"$log" 2>&1; then
    grep -E '^#[0-9]+ +DONE' "$log" | tail -1 || true
    grep -E 'stat::(number_of_executed_units|average_exec_per_sec|peak_rss_mb)' "$log" || true
  else
    failed=1
    echo "   FINDING: see $log"
    grep -aE 'BROKEN:|ERROR: |runtime error|Test unit written' "$log" | head -5
  fi
done
exit $failed
