#!/usr/bin/env bash
# Runs scripts/test-server.sh as an unprivileged user (as nobody when started as root, else as
# the calling user) and checks that the server runs as that user and takes a TCP login.
#   tests/scripts/test-server-as-user.sh PATH/TO/test-server.sh
set -euo pipefail
script=${1:?usage: $0 PATH/TO/test-server.sh}
check='set -e
  pid=$(cat "$(dirname "$ORVENDEL_TEST_SOCKET")/mysqld.pid")
  [ "$(ps -o uid= -p "$pid" | tr -d " ")" = "$(id -u)" ] ||
    { echo "the server does not run as $(id -un)" >&2; exit 1; }
  mariadb --no-defaults -h "$ORVENDEL_TEST_HOST" -P "$ORVENDEL_TEST_PORT" \
    -u "$ORVENDEL_TEST_USER" -p"$ORVENDEL_TEST_PASSWORD" -N -e "select current_user()"'
if [ "$(id -u)" -ne 0 ]; then
  exec "$script" bash -c "$check"
fi
# nobody may not be able to reach the source tree (a clone in /root), so it gets a copy, and
# the PATH of an ordinary user, without the sbin folders.
copy=$(mktemp -d /tmp/orvendel-test-server.XXXXXX)
trap 'rm -rf "$copy"' EXIT
cp "$script" "$copy/test-server.sh"
chmod 755 "$copy" "$copy/test-server.sh"
setpriv --reuid=nobody --regid=nogroup --clear-groups env PATH=/usr/local/bin:/usr/bin:/bin \
  "$copy/test-server.sh" bash -c "$check"
