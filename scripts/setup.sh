#!/usr/bin/env bash
# Installs what is missing from Debian's packages, registers the ODBC driver name the
# program connects with, then configures and builds. Safe to run again.
#   scripts/setup.sh [--sanitize | --programs]
#     --sanitize  also builds build-asan/ (AddressSanitizer and UndefinedBehaviorSanitizer)
#     --programs  builds only the two programs, not the tests
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)

packages=(
  build-essential cmake pkg-config clang-format
  qt6-base-dev libgtest-dev
  unixodbc unixodbc-dev odbc-mariadb mariadb-server mariadb-client
  fonts-liberation2 xvfb xauth imagemagick
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "Installing: ${missing[*]}"
  if [ "$(id -u)" -ne 0 ]; then sudo=sudo; else sudo=; fi
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

driver_name="MySQL ODBC 5.1 Driver"
driver_lib=/usr/lib/x86_64-linux-gnu/odbc/libmaodbc.so
if ! odbcinst -q -d -n "$driver_name" >/dev/null 2>&1; then
  echo "Registering ODBC driver \"$driver_name\""
  ini=$(mktemp)
  printf '[%s]\nDescription=MariaDB Connector/ODBC\nDriver=%s\n' "$driver_name" "$driver_lib" >"$ini"
  if [ "$(id -u)" -ne 0 ]; then sudo odbcinst -i -d -f "$ini" >/dev/null; else odbcinst -i -d -f "$ini" >/dev/null; fi
  rm -f "$ini"
fi

jobs=$(nproc)
cmake -S "$here" -B "$here/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
if [ "${1:-}" = "--programs" ]; then
  cmake --build "$here/build" -j "$jobs" --target orvendel orvendel-export
else
  cmake --build "$here/build" -j "$jobs"
fi
if [ "${1:-}" = "--sanitize" ]; then
  cmake -S "$here" -B "$here/build-asan" -DCMAKE_BUILD_TYPE=Debug -DORVENDEL_SANITIZE=ON >/dev/null
  cmake --build "$here/build-asan" -j "$jobs"
fi
