#!/usr/bin/env bash
# Remakes the README's screenshots: both windows under Xvfb on the sample database, with the
# toolkit's own colours and with a dark KDE colour scheme (the scheme a KDE desktop in dark
# mode hands to Qt). Needs the programs built (scripts/setup.sh --programs).
#   docs/make-screenshots.sh
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
if [ -z "${ORVENDEL_TEST_HOST:-}" ]; then
  exec "$here/scripts/test-server.sh" xvfb-run -a -s "-screen 0 1024x768x24" "$0"
fi
mariadb --no-defaults -uroot --socket="$ORVENDEL_TEST_SOCKET" <"$here/scripts/sample-data.sql"
work=$(mktemp -d /tmp/orvendel-screenshots.XXXXXX)
trap 'rm -rf "$work"' EXIT

# One shot of the window the program opens with this stored password and colour scheme.
shoot() { # password scheme(light|dark) output
  local config="$work/$2-$3"
  mkdir -p "$config"
  printf '[Orvendel]\nMyServer=%s\nMyUser=%s\nMyPassword=%s\nMyDatabase=shop\nMyPort=%s\n' \
    "$ORVENDEL_TEST_HOST" "$ORVENDEL_TEST_USER" "$1" "$ORVENDEL_TEST_PORT" >"$config/Kestrane.ini"
  # Writable by others, it would not be trusted with the password.
  chmod 600 "$config/Kestrane.ini"
  local desktop=
  if [ "$2" = dark ]; then
    desktop=KDE
    cat >"$config/kdeglobals" <<'INI'
[Colors:Window]
BackgroundNormal=49,54,59
ForegroundNormal=252,252,252
[Colors:Button]
BackgroundNormal=49,54,59
ForegroundNormal=252,252,252
[Colors:View]
BackgroundNormal=35,38,41
ForegroundNormal=252,252,252
[Colors:Selection]
BackgroundNormal=61,174,233
ForegroundNormal=252,252,252
INI
  fi
  XDG_CONFIG_HOME=$config XDG_CURRENT_DESKTOP=$desktop KDE_SESSION_VERSION=5 \
    "$here/build/bin/orvendel" 2>/dev/null &
  local pid=$!
  sleep 3
  import -window Orvendel -strip "$work/$3"
  kill "$pid"
  wait "$pid" 2>/dev/null || true
}

# A wrong stored password keeps the login window open with every field filled.
shoot not-the-password light login-window.png
shoot "$ORVENDEL_TEST_PASSWORD" light table-list.png
shoot not-the-password dark login-dark.png
shoot "$ORVENDEL_TEST_PASSWORD" dark table-list-dark.png
cp "$work/login-window.png" "$work/table-list.png" "$here/docs/"
convert "$work/login-dark.png" "$work/table-list-dark.png" -background black -splice 8x0 \
  -gravity north +append +gravity -chop 8x0 -strip "$here/docs/dark-scheme.png"
echo "Wrote docs/login-window.png, docs/table-list.png and docs/dark-scheme.png"
