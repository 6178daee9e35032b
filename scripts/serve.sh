#!/usr/bin/env bash
# Builds the report server (optimised) and runs it:
#   scripts/serve.sh [--listen ADDRESS:PORT] [--data FOLDER] [report_server's other options]
# The data folder (default server-data/) is created when missing, with a
# caretaker's secret in FOLDER/secret (mode 0600), printed once when it is made.
set -euo pipefail
cd "$(dirname "$0")/.."
listen=127.0.0.1:5000
data=server-data
more=()
while [ $# -gt 0 ]; do
  case "$1" in
    --listen) listen=$2; shift 2 ;;
    --data) data=$2; shift 2 ;;
    *) more+=("$1"); shift ;;
  esac
done
scripts/deps.sh
cmake --preset bench >/dev/null
cmake --build --preset bench -j "$(nproc)" --target report_server >/dev/null
mkdir -p "$data"
if [ ! -s "$data/secret" ]; then
  (umask 077; head -c 24 /dev/urandom | base64 | tr -d '/+=' > "$data/secret")
  echo "the caretaker's secret, kept in $data/secret: $(cat "$data/secret")"
fi
exec build/bench/server/report_server --listen "$listen" --data "$data" --secret-file "$data/secret" "${more[@]}"
