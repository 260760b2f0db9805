#!/usr/bin/env bash
# What each TLS mode costs when a connection opens: the median time of `orvendel-export --list`
# over 5 runs, and per run the round trips the client made and the TLS handshakes and the
# connections the server counted, on loopback and over a delay of 25 ms each way. Runs beside a
# test server with TLS, from a build with the benchmark tools (-DORVENDEL_BENCHMARKS=ON, for the
# delay proxy):
#   ORVENDEL_TEST_TLS=optional scripts/test-server.sh bench/tls-modes.sh
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
bin=$here/build/bin
: "${ORVENDEL_TEST_TLS_CA:?run beside a test server with ORVENDEL_TEST_TLS=optional}"
root=(mariadb --no-defaults -uroot --socket="$ORVENDEL_TEST_SOCKET")
port=$ORVENDEL_TEST_PORT
repeats=5
XDG_CONFIG_HOME=$(mktemp -d)
export XDG_CONFIG_HOME
out=$(mktemp -d)
proxy_pid=
cleanup() {
  if [ -n "$proxy_pid" ]; then kill -TERM "$proxy_pid" 2>/dev/null || true; fi
  rm -rf "$XDG_CONFIG_HOME" "$out"
}
trap cleanup EXIT
"${root[@]}" -e "CREATE DATABASE IF NOT EXISTS bench_tls; CREATE TABLE IF NOT EXISTS bench_tls.t (a int)"

status() { "${root[@]}" -N -B -e "SHOW GLOBAL STATUS LIKE '$1'" | cut -f2; }

# Sets median (seconds), and handshakes and connections per run.
measure() { # TARGET_PORT OPTIONS...
  local target=$1
  shift
  local times=() accepts connections start end
  accepts=$(status Ssl_accepts)
  connections=$(status Connections)
  for _ in $(seq "$repeats"); do
    start=$(date +%s%N)
    printf '%s\n' "$ORVENDEL_TEST_PASSWORD" |
      "$bin/orvendel-export" --server 127.0.0.1 --port "$target" --user "$ORVENDEL_TEST_USER" \
        --database bench_tls --password-stdin "$@" --list >/dev/null
    end=$(date +%s%N)
    times+=("$(awk -v ns=$((end - start)) 'BEGIN { printf "%.3f", ns / 1e9 }')")
  done
  median=$(printf '%s\n' "${times[@]}" | sort -n | sed -n "$(((repeats + 1) / 2))p")
  handshakes=$((($(status Ssl_accepts) - accepts) / repeats))
  # The status read itself counts one.
  connections_per_run=$((($(status Connections) - connections - 1) / repeats))
}

run_modes() { # DELAY_MS TARGET_PORT
  local mode trips
  for mode in preferred required verify-ca verify-identity; do
    local options=(--ssl-mode "$mode")
    [[ $mode == verify-* ]] && options+=(--ssl-ca "$ORVENDEL_TEST_TLS_CA")
    trips=-
    if [ "$2" != "$port" ]; then
      "$bin/orvendel-delay-proxy" "$2" "$port" "$1" >"$out/proxy.log" &
      proxy_pid=$!
      until grep -qs ready "$out/proxy.log"; do sleep 0.05; done
    fi
    measure "$2" "${options[@]}"
    if [ -n "$proxy_pid" ]; then
      kill -TERM "$proxy_pid"
      wait "$proxy_pid" || true
      proxy_pid=
      trips=$(($(sed -n 's/^round trips: //p' "$out/proxy.log") / repeats))
    fi
    printf '%-16s %5s ms %8s s %8s %10s %11s\n' "$mode" "$1" "$median" "$trips" "$handshakes" \
      "$connections_per_run"
  done
}

printf '%-16s %8s %10s %8s %10s %11s\n' mode delay median trips handshakes connections
run_modes 0 "$port"
run_modes 25 $((port + 1))
