#!/usr/bin/env bash
# Installs what the build needs on Debian 12, when run as root; otherwise
# prints the command that would.
set -euo pipefail

packages=(cmake g++ make python3 pkg-config libgtest-dev libgmock-dev libbenchmark-dev
          gcc-arm-none-eabi libnewlib-arm-none-eabi libstdc++-arm-none-eabi-newlib
          binutils-arm-none-eabi
          libcpp-httplib-dev libsqlite3-dev nlohmann-json3-dev libelf-dev libtomlplusplus-dev libcli11-dev libssl-dev libmicrohttpd-dev curl tmux
          chromium chromium-driver sigrok-cli clang libclang-rt-dev gdb-multiarch)

missing=()
for package in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$package")
  fi
done
if [ ${#missing[@]} -gt 0 ]; then
  if [ "$(id -u)" -eq 0 ]; then
    echo "installing: ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq
    apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
  else
    echo "missing packages; install them with:" >&2
    echo "  sudo apt-get install -y ${missing[*]}" >&2
    exit 1
  fi
fi

"$(dirname "$0")/unicorn.sh"
