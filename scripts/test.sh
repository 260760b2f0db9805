#!/usr/bin/env bash
# Every test: installs what is missing, builds a normal and a sanitizer build (warnings as
# errors), checks the formatting, starts a throwaway MariaDB server and runs ctest in both
# builds, then builds the Debian package and checks it.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
cd "$here"

scripts/setup.sh --sanitize --werror --packaging

echo "Checking formatting"
git ls-files -z -- '*.cpp' '*.h' | xargs -0 -r clang-format --dry-run --Werror

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
jobs=$(nproc)
scripts/test-server.sh bash -c "
  set -e
  echo 'Tests (release build)'
  ctest --test-dir build -j $jobs --output-on-failure
  echo 'Tests (AddressSanitizer and UndefinedBehaviorSanitizer build)'
  ctest --test-dir build-asan -j $jobs --output-on-failure
"

echo "Debian package"
tests/packaging/check-package.sh build
