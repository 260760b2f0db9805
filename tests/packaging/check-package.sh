#!/usr/bin/env bash
# Builds the Debian package in a build folder and checks it: its name, its Depends, the files
# it must hold, lintian (no errors), the desktop entry and metainfo validators, the programs
# and the completion as extracted into a throwaway root, and its maintainer scripts against
# a private odbcinst.ini.
#   tests/packaging/check-package.sh BUILD_DIR
set -euo pipefail
build=$(cd "${1:?usage: $0 BUILD_DIR}" && pwd)
work=$(mktemp -d /tmp/orvendel-package.XXXXXX)
trap 'rm -rf "$work"' EXIT
fail() { echo "package check failed: $*" >&2; exit 1; }

version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
deb=$build/orvendel_${version}_$(dpkg --print-architecture).deb
rm -f "$deb"
(cd "$build" && cpack -G DEB >"$work/cpack.log" 2>&1) ||
  { cat "$work/cpack.log" >&2; fail "cpack failed"; }
[ -f "$deb" ] || fail "cpack did not make $deb"
echo "Package $(basename "$deb"): $(stat -c %s "$deb") bytes," \
  "installed size $(dpkg-deb -f "$deb" Installed-Size) KiB"

depends=$(dpkg-deb -f "$deb" Depends)
for dependency in libqt6widgets6 libodbc2 odbcinst odbc-mariadb fonts-liberation2; do
  [[ ", $depends," == *", $dependency"[\ ,]* ]] || fail "Depends lacks $dependency: $depends"
done

listing=$(dpkg-deb -c "$deb" | awk '{ print $6 }')
for file in usr/bin/orvendel usr/bin/orvendel-export usr/libexec/orvendel/orvendel \
  usr/libexec/orvendel/HAND-M.CUR usr/share/man/man1/orvendel.1.gz \
  usr/share/man/man1/orvendel-export.1.gz usr/share/bash-completion/completions/orvendel-export \
  usr/share/applications/orvendel.desktop usr/share/metainfo/com.kestrane.Orvendel.metainfo.xml \
  usr/share/icons/hicolor/scalable/apps/orvendel.svg \
  usr/share/icons/hicolor/48x48/apps/orvendel.png \
  usr/share/doc/orvendel/copyright; do
  grep -qx "\./$file" <<<"$listing" || fail "$file is not in the package"
done

lintian --fail-on error "$deb" >"$work/lintian.log" 2>&1 || lintian_status=$?
grep -v 'running with root privileges' "$work/lintian.log" || echo "lintian: no errors or warnings"
[ "${lintian_status:-0}" -eq 0 ] || fail "lintian reports errors"

root=$work/root
dpkg -x "$deb" "$root"
desktop-file-validate "$root/usr/share/applications/orvendel.desktop" ||
  fail "desktop entry not valid"
appstreamcli validate --no-net "$root"/usr/share/metainfo/*.xml >/dev/null ||
  fail "metainfo not valid"
shown=$("$root/usr/bin/orvendel-export" --version)
[[ $shown == "orvendel-export (Orvendel) $version"*"License: MIT"* ]] ||
  fail "orvendel-export --version in the extracted package says: $shown"
[ "$(readlink -f "$root/usr/bin/orvendel")" = "$root/usr/libexec/orvendel/orvendel" ] ||
  fail "usr/bin/orvendel does not lead to the program"
completion=$root/usr/share/bash-completion/completions/orvendel-export
offered=$(bash -c 'source "$1"
  offer() { COMP_WORDS=("$@") COMP_CWORD=$(($# - 1)); _orvendel_export; echo "${COMPREPLY[*]}"; }
  offer orvendel-export --ssl-mode=v
  offer orvendel-export --all --ssl-c' _ "$completion")
[ "$offered" = $'--ssl-mode=verify-ca --ssl-mode=verify-identity\n--ssl-ca' ] ||
  fail "completion offers: $offered"

# The maintainer scripts, with unixODBC and the package's state folder pointed elsewhere.
dpkg-deb -e "$deb" "$work/control"
library=$(dpkg-query -L odbc-mariadb | grep '/libmaodbc\.so$')
export ODBCSYSINI=$work/etc DPKG_ROOT=$work/state
mkdir -p "$ODBCSYSINI" "$DPKG_ROOT"
mariadb_entry=$'[MariaDB Unicode]\nDriver='$library$'\nUsageCount=1\n'
own_entry=$'[MySQL ODBC 5.1 Driver]\nDescription=MariaDB Connector/ODBC\nDriver='$library
printf '%s' "$mariadb_entry" >"$ODBCSYSINI/odbcinst.ini"
"$work/control/postinst" configure
grep -qxF "Driver=$library" <(odbcinst -q -d -n "MySQL ODBC 5.1 Driver") ||
  fail "postinst did not register the driver name: $(cat "$ODBCSYSINI/odbcinst.ini")"
"$work/control/postinst" configure # an upgrade: registered already, nothing more to count
"$work/control/prerm" upgrade
"$work/control/prerm" remove
"$work/control/postrm" remove
[ "$(cat "$ODBCSYSINI/odbcinst.ini")" = "$(printf '%s' "$mariadb_entry")" ] ||
  fail "removal did not restore odbcinst.ini: $(cat "$ODBCSYSINI/odbcinst.ini")"
# A name registered before the package stays as it was.
printf '%s\n%s\nUsageCount=1\n' "$mariadb_entry" "$own_entry" >"$ODBCSYSINI/odbcinst.ini"
before=$(cat "$ODBCSYSINI/odbcinst.ini")
"$work/control/postinst" configure
"$work/control/prerm" remove
"$work/control/postrm" purge
[ "$(cat "$ODBCSYSINI/odbcinst.ini")" = "$before" ] ||
  fail "an earlier registration was changed: $(cat "$ODBCSYSINI/odbcinst.ini")"
[ ! -e "$DPKG_ROOT/var/lib/orvendel" ] || fail "the package's state folder is left behind"
echo "Package checks passed"
