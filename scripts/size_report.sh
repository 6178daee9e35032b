#!/usr/bin/env bash
# Size of each target library and image: text, data, bss in bytes.
set -euo pipefail
build=${1:-build/tm4c123}

echo "== target libraries (text data bss) =="
for library in $(find "$build" -name 'lib*.a' | sort); do
  totals=$(arm-none-eabi-size -t "$library" | tail -n 1)
  printf '%-28s %s\n' "$(basename "$library")" "$(echo "$totals" | awk '{print $1, $2, $3}')"
done
