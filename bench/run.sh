#!/usr/bin/env bash
# The performance benchmark: one command, figures printed, nothing asserted.
#   bench/run.sh
# Builds, starts its own MariaDB server on loopback, generates the schemas once, and prints for
# each case its time, peak memory, logins and round trips (see bench/README.md):
#   1. 2,000 tables of 20 columns: orvendel-export against mariadb-dump --no-data
#   2. the same through a proxy that adds 10 ms and 50 ms each way
#   3. one table over 50 ms each way, against mariadb -e 'select 1'
#   4. 2,000, 20,000 (cold and warm) and 100,000 tables against one information_schema.COLUMNS
#      query
#   5. an account allowed one connection at a time, 10 exports in a row
#   6. 2,000,000 rows against none: time and peak memory of the export
#   7. 2,000 tables while one of them is behind a metadata lock
#   8. 20,000 tables listed into the selection window's list
#   9. "Save Results" of 20 tables over a 100 ms round trip, in the desktop program
#  10. 20,000 tables as Markdown and JSON against text, and --check against each report
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
"$here/scripts/setup.sh" --programs >/dev/null
cmake -S "$here" -B "$here/build" -DORVENDEL_BENCHMARKS=ON >/dev/null
cmake --build "$here/build" --target orvendel-delay-proxy orvendel-list-bench \
  orvendel-save-bench >/dev/null
if ! command -v /usr/bin/time >/dev/null; then
  if [ "$(id -u)" -eq 0 ]; then sudo=; else sudo=sudo; fi
  $sudo env DEBIAN_FRONTEND=noninteractive \
    apt-get install -y -qq --no-install-recommends time >/dev/null
fi
exec "$here/scripts/test-server.sh" "$here/bench/session.sh"
