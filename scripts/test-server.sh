#!/usr/bin/env bash
# Runs a command beside a throwaway MariaDB server:
#   scripts/test-server.sh COMMAND [ARGS...]
# The server lives in a temporary data folder, listens on 127.0.0.1 only on a free port, and is
# stopped (by its own PID) and removed when the command ends. The command sees:
#   ORVENDEL_TEST_HOST, ORVENDEL_TEST_PORT, ORVENDEL_TEST_USER, ORVENDEL_TEST_PASSWORD,
#   ORVENDEL_TEST_SOCKET (root login without password over this socket, for setting up data)
# With ORVENDEL_TEST_TLS=optional or =required the server offers TLS (required: it refuses
# unencrypted logins) with a certificate for 127.0.0.1 and localhost from a throwaway CA, made
# in the data folder and removed with it; the command then also sees ORVENDEL_TEST_TLS_CA, the
# CA's certificate file.
set -euo pipefail
[ $# -ge 1 ] || { echo "usage: $0 COMMAND [ARGS...]" >&2; exit 2; }

dir=$(mktemp -d /tmp/orvendel-mariadb.XXXXXX)
pid=
stop() {
  if [ -n "$pid" ] && kill -0 "$pid" 2>/dev/null; then
    kill -TERM "$pid" 2>/dev/null || true
    for _ in $(seq 1 100); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    kill -KILL "$pid" 2>/dev/null || true
  fi
  rm -rf "$dir"
}
trap stop EXIT
trap 'exit 130' INT TERM

# mariadbd lives in /usr/sbin, which is not on an ordinary user's PATH.
server=$(PATH=$PATH:/usr/sbin command -v mariadbd) || { echo "mariadbd not found" >&2; exit 1; }
# The server runs as the calling user; mariadbd refuses to run as root unless told so.
run_as=()
[ "$(id -u)" -ne 0 ] || run_as=(--user=root)
# A temporary folder of its own: under the shared /tmp, servers set up at the same time
# crashed now and then (signal 11 in mariadb-install-db, about one run in seven with three at
# once), and files were seen removed under a running server, failing its queries.
mkdir "$dir/tmp"
mariadb-install-db --no-defaults --datadir="$dir/data" --tmpdir="$dir/tmp" "${run_as[@]}" \
  --auth-root-authentication-method=normal --skip-test-db >"$dir/install.log" 2>&1 \
  || { cat "$dir/install.log" >&2; exit 1; }

tls_options=()
case "${ORVENDEL_TEST_TLS:-}" in
  "") ;;
  optional | required)
    tls="$dir/tls"
    mkdir "$tls"
    {
      openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=Orvendel test CA" \
        -keyout "$tls/ca-key.pem" -out "$tls/ca.pem" &&
        openssl req -newkey rsa:2048 -nodes -subj "/CN=127.0.0.1" \
          -keyout "$tls/server-key.pem" -out "$tls/server.csr" &&
        openssl x509 -req -days 2 -in "$tls/server.csr" -CA "$tls/ca.pem" \
          -CAkey "$tls/ca-key.pem" -CAcreateserial -out "$tls/server.pem" \
          -extfile <(printf 'subjectAltName=IP:127.0.0.1,DNS:localhost\n')
    } >"$tls/openssl.log" 2>&1 || { cat "$tls/openssl.log" >&2; exit 1; }
    tls_options=(--ssl-ca="$tls/ca.pem" --ssl-cert="$tls/server.pem" --ssl-key="$tls/server-key.pem")
    [ "$ORVENDEL_TEST_TLS" = required ] && tls_options+=(--require-secure-transport=ON)
    export ORVENDEL_TEST_TLS_CA="$tls/ca.pem"
    ;;
  *) echo "ORVENDEL_TEST_TLS must be optional or required" >&2; exit 2 ;;
esac

port_free() { ! (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null; }
sock="$dir/mysqld.sock"
for attempt in 1 2 3 4 5; do
  port=$((20000 + RANDOM % 40000))
  port_free "$port" || continue
  "$server" --no-defaults --datadir="$dir/data" --port="$port" --bind-address=127.0.0.1 \
    --socket="$sock" --pid-file="$dir/mysqld.pid" "${run_as[@]}" --log-error="$dir/error.log" \
    --skip-name-resolve --innodb-buffer-pool-size=64M --character-set-server=utf8mb4 \
    --collation-server=utf8mb4_general_ci --tmpdir="$dir/tmp" "${tls_options[@]}" \
    >>"$dir/stderr.log" 2>&1 &
  pid=$!
  for _ in $(seq 1 300); do
    if mariadb-admin --no-defaults --socket="$sock" -uroot ping >/dev/null 2>&1; then break 2; fi
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
  done
  kill -0 "$pid" 2>/dev/null && { echo "MariaDB did not become ready" >&2; cat "$dir/error.log" >&2; exit 1; }
  pid=
done
[ -n "$pid" ] || {
  echo "could not start MariaDB" >&2
  cat "$dir/stderr.log" "$dir/error.log" >&2 2>/dev/null || true
  exit 1
}

user=orvendel
password="test-$RANDOM$RANDOM"
mariadb --no-defaults --socket="$sock" -uroot <<SQL
CREATE USER '$user'@'localhost' IDENTIFIED BY '$password';
CREATE USER '$user'@'127.0.0.1' IDENTIFIED BY '$password';
GRANT ALL PRIVILEGES ON *.* TO '$user'@'localhost' WITH GRANT OPTION;
GRANT ALL PRIVILEGES ON *.* TO '$user'@'127.0.0.1' WITH GRANT OPTION;
SQL

export ORVENDEL_TEST_HOST=127.0.0.1 ORVENDEL_TEST_PORT=$port ORVENDEL_TEST_USER=$user \
  ORVENDEL_TEST_PASSWORD=$password ORVENDEL_TEST_SOCKET=$sock
set +e
"$@"
status=$?
set -e
exit $status
