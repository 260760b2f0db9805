#!/usr/bin/env bash
# Runs inside scripts/test-server.sh: loads the sample database and starts the program on it.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
mariadb --no-defaults -uroot --socket="$ORVENDEL_TEST_SOCKET" <"$here/scripts/sample-data.sql"

config=$(mktemp -d /tmp/orvendel-sample-config.XXXXXX)
trap 'rm -rf "$config"' EXIT
cat >"$config/Kestrane.ini" <<INI
[Orvendel]
MyServer=$ORVENDEL_TEST_HOST
MyUser=$ORVENDEL_TEST_USER
MyPassword=$ORVENDEL_TEST_PASSWORD
MyDatabase=shop
MyPort=$ORVENDEL_TEST_PORT
INI
chmod 600 "$config/Kestrane.ini"
export XDG_CONFIG_HOME=$config

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "No display found: the desktop program needs one (run this from a desktop session, or"
  echo "under xvfb-run). Here is the sample database's report from orvendel-export instead:"
  echo
  "$here/build/bin/orvendel-export" --all
  exit 0
fi
echo "Sample server on $ORVENDEL_TEST_HOST:$ORVENDEL_TEST_PORT (user $ORVENDEL_TEST_USER," \
  "password $ORVENDEL_TEST_PASSWORD, database shop); it stops when the program ends."
"$here/build/bin/orvendel"
