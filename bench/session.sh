#!/usr/bin/env bash
# Runs inside scripts/test-server.sh: see bench/run.sh.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
bin=$here/build/bin
root=(mariadb --no-defaults -uroot --socket="$ORVENDEL_TEST_SOCKET")
login=(--server "$ORVENDEL_TEST_HOST" --port "$ORVENDEL_TEST_PORT" --user "$ORVENDEL_TEST_USER")
export XDG_CONFIG_HOME=$(mktemp -d)
out=$(mktemp -d)
trap 'rm -rf "$XDG_CONFIG_HOME" "$out"' EXIT

seconds() { # run a command, print its wall time in seconds
  local start end
  start=$(date +%s%N)
  "$@"
  end=$(date +%s%N)
  awk -v ns=$((end - start)) 'BEGIN { printf "%.3f", ns / 1e9 }'
}
export_cmd() { # database, then export arguments
  local db=$1; shift
  "$bin/orvendel-export" "${login[@]}" --database "$db" --password-stdin "$@" \
    <<<"$ORVENDEL_TEST_PASSWORD"
}
peak() { # peak resident memory and wall time of an export: database, then export arguments
  local db=$1; shift
  /usr/bin/time -f '%M %e' -o "$out/time" "$bin/orvendel-export" "${login[@]}" --database "$db" \
    --password-stdin "$@" <<<"$ORVENDEL_TEST_PASSWORD"
  awk '{ printf "%.1f MB, %.2f s", $1 / 1024, $2 }' "$out/time"
}

echo "Generating the schemas (once per run)..."
columns="id int NOT NULL PRIMARY KEY, name varchar(45), code char(10), amount decimal(10,2),
  ratio double, flag tinyint(1), small smallint, big bigint unsigned, created datetime,
  updated timestamp NULL, day date, note text, data blob, price float, kind enum('a','b'),
  uid binary(16), tag varchar(255), score int unsigned, at_time time, extra json"
{
  echo "CREATE DATABASE many; USE many;"
  for i in $(seq 1 2000); do echo "CREATE TABLE t$i ($columns) ENGINE=InnoDB;"; done
} | "${root[@]}"
{
  echo "CREATE DATABASE rows_db; USE rows_db;"
  echo "CREATE TABLE big (id int NOT NULL PRIMARY KEY, name varchar(45), amount decimal(10,2),"
  echo "  note varchar(200), created datetime) ENGINE=InnoDB;"
  echo "CREATE TABLE empty LIKE big;"
  echo "INSERT INTO big SELECT seq, concat('name ', seq), seq / 100, repeat('x', 150), now()"
  echo "  FROM seq_1_to_2000000;"
} | "${root[@]}"
{
  echo "CREATE DATABASE wide; USE wide;"
  for i in $(seq 1 20000); do echo "CREATE TABLE w$i (a int) ENGINE=MyISAM;"; done
} | "${root[@]}"

echo
echo "1. 2,000 tables of 20 columns"
ours=$(seconds export_cmd many --all -o "$out/many.txt")
dump=$(seconds mysqldump --no-defaults -h "$ORVENDEL_TEST_HOST" -P "$ORVENDEL_TEST_PORT" \
  -u "$ORVENDEL_TEST_USER" -p"$ORVENDEL_TEST_PASSWORD" --no-data --skip-triggers \
  --result-file="$out/many.sql" many)
printf '   orvendel-export %.2f s, mysqldump %.2f s, ratio %.2f (goal: at most 0.5)\n' \
  "$ours" "$dump" "$(awk -v a="$ours" -v b="$dump" 'BEGIN { print a / b }')"

echo "2. 2,000,000 rows against an empty table of the same columns"
big=$(peak rows_db big -o "$out/big.txt")
empty=$(peak rows_db empty -o "$out/empty.txt")
sed 's/\bbig\b/empty/g' "$out/big.txt" | cmp -s - "$out/empty.txt" && alike="alike" || alike="DIFFERENT"
echo "   2,000,000 rows: $big; empty: $empty; reports $alike (goal: ratio at most 1.2, peak under 50 MB)"

echo "3. The 2,000-table export through a 20 ms round trip"
proxy_port=$((ORVENDEL_TEST_PORT + 1))
"$bin/orvendel-delay-proxy" "$proxy_port" "$ORVENDEL_TEST_PORT" 10 >"$out/proxy.log" &
proxy=$!
until grep -q ready "$out/proxy.log"; do sleep 0.05; done
far=$(seconds "$bin/orvendel-export" --server "$ORVENDEL_TEST_HOST" --port "$proxy_port" \
  --user "$ORVENDEL_TEST_USER" --database many --password-stdin --all -o "$out/far.txt" \
  <<<"$ORVENDEL_TEST_PASSWORD")
kill -TERM "$proxy"
wait "$proxy" || true
cmp -s "$out/far.txt" "$out/many.txt" && same="identical to the direct report" || same="DIFFERS from the direct report"
printf '   %.2f s, %s (goal: under 5 s); report %s\n' "$far" "$(tail -n 1 "$out/proxy.log")" "$same"

echo "4. 20,000 tables into the selection window's list"
printf '   '
QT_QPA_PLATFORM=offscreen "$bin/orvendel-list-bench" "$ORVENDEL_TEST_HOST" "$ORVENDEL_TEST_PORT" \
  "$ORVENDEL_TEST_USER" "$ORVENDEL_TEST_PASSWORD" wide 2>/dev/null
echo "   (goal: under 2 s)"
