#!/usr/bin/env bash
# Size of each target library and image: text, data, bss in bytes.
set -euo pipefail
build=${1:-build/tm4c123}

echo "== target libraries (text data bss) =="
for library in $(find "$build" -name 'lib*.a' | sort); do
  totals=$(arm-none-eabi-size -t "$library" | tail -n 1)
  printf '%-28s %s\n' "$(basename "$library")" "$(echo "$totals" | awk '{print $1, $2, $3}')"
done

echo "== target images (bytes) =="
printf '%-22s %8s %8s %8s\n' image flash ram stack
for image in $(find "$build/boards" "$build/apps" -name '*.elf' | sort); do
  arm-none-eabi-size -A "$image" | awk -v name="$(basename "$image" .elf)" '
    $1 == ".intvecs" || $1 == ".text" || $1 == ".ARM.exidx" { flash += $2 }
    $1 == ".data" { flash += $2; ram += $2 }
    $1 == ".bss" || $1 == ".ramvectors" { ram += $2 }
    $1 == ".stack" { ram += $2; stack = $2 }
    END { printf "%-22s %8d %8d %8d\n", name, flash, ram, stack }'
done
