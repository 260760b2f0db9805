#!/usr/bin/env bash
# Sets up what is missing, builds, and opens Orvendel logged in to a private sample MariaDB
# server (loopback only) that holds a small shop database. Your own stored login is not
# touched: the program gets a settings folder of its own. The server stops when the program
# ends. Without a display, the sample database's report is printed with orvendel-export.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
"$here/scripts/setup.sh" --programs
exec "$here/scripts/test-server.sh" "$here/scripts/sample-session.sh"
