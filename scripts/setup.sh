#!/usr/bin/env bash
# Installs what is missing from Debian's packages, registers the ODBC driver name the
# program connects with, then configures and builds. Safe to run again, as root or as a user
# with sudo (used only to install packages and to register the driver).
#   scripts/setup.sh [--sanitize] [--programs] [--werror] [--packaging]
#     --sanitize   also builds build-asan/ (AddressSanitizer and UndefinedBehaviorSanitizer)
#     --programs   builds only the two programs, not the tests
#     --werror     treats compiler warnings as errors
#     --packaging  also installs the tools that build and check the Debian package
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)

sanitize= programs= config=()
packages=(
  build-essential cmake pkg-config clang-format
  qt6-base-dev libgtest-dev
  unixodbc unixodbc-dev odbc-mariadb libmariadb-dev libssl-dev mariadb-server mariadb-client
  fonts-liberation2 xvfb xauth imagemagick openssl
  cmark-gfm python3-jsonschema
)
for arg; do
  case $arg in
  --sanitize) sanitize=1 ;;
  --programs) programs=1 ;;
  --werror) config+=(-DORVENDEL_WERROR=ON) ;;
  --packaging) packages+=(dpkg-dev file lintian appstream desktop-file-utils man-db) ;;
  *) echo "usage: $0 [--sanitize] [--programs] [--werror] [--packaging]" >&2; exit 2 ;;
  esac
done

as_root() {
  if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "Installing: ${missing[*]}"
  as_root apt-get update -qq
  as_root env DEBIAN_FRONTEND=noninteractive \
    apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

driver_name="MySQL ODBC 5.1 Driver"
if ! odbcinst -q -d -n "$driver_name" >/dev/null 2>&1; then
  # The library of the "MariaDB Unicode" driver that odbc-mariadb registers, made a full path
  # from the package's file list when it is registered by its file name only.
  driver_lib=$(odbcinst -q -d -n "MariaDB Unicode" 2>/dev/null |
    sed -n 's/^Driver[[:space:]]*=[[:space:]]*//p' | head -n 1)
  case $driver_lib in
  /*) ;;
  *) driver_lib=$(dpkg-query -L odbc-mariadb | grep "/${driver_lib:-libmaodbc.so}\$" | head -n 1) ;;
  esac
  [ -n "$driver_lib" ] || { echo "MariaDB Connector/ODBC's library was not found" >&2; exit 1; }
  echo "Registering ODBC driver \"$driver_name\" ($driver_lib)"
  printf '[%s]\nDescription=MariaDB Connector/ODBC\nDriver=%s\n' "$driver_name" "$driver_lib" |
    as_root odbcinst -i -d -r >/dev/null
fi

jobs=$(nproc)
cmake -S "$here" -B "$here/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo "${config[@]}" >/dev/null
if [ -n "$programs" ]; then
  cmake --build "$here/build" -j "$jobs" --target orvendel orvendel-export
else
  cmake --build "$here/build" -j "$jobs"
fi
if [ -n "$sanitize" ]; then
  cmake -S "$here" -B "$here/build-asan" -DCMAKE_BUILD_TYPE=Debug -DORVENDEL_SANITIZE=ON \
    "${config[@]}" >/dev/null
  cmake --build "$here/build-asan" -j "$jobs"
fi
