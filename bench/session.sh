#!/usr/bin/env bash
# Runs inside scripts/test-server.sh: see bench/run.sh.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
bin=$here/build/bin
root=(mariadb --no-defaults -uroot --socket="$ORVENDEL_TEST_SOCKET")
host=$ORVENDEL_TEST_HOST
port=$ORVENDEL_TEST_PORT
user=$ORVENDEL_TEST_USER
password=$ORVENDEL_TEST_PASSWORD
# Cases run this often (the 20,000-table ones three times); the median time is printed.
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

# Three global status values: logins, statements prepared, prepared statements run (the root
# client's text-protocol statements count in neither of the last two).
global_status() {
  "${root[@]}" -N -B -e "SHOW GLOBAL STATUS WHERE Variable_name IN
    ('Connections', 'Com_stmt_prepare', 'Com_stmt_execute')" |
    awk '{ v[$1] = $2 } END { print v["Connections"], v["Com_stmt_prepare"], v["Com_stmt_execute"] }'
}

# Runs a command (standard input passed on) and sets took (seconds), rss (peak MB),
# connections (logins the server counted, less the one of the status read), unrun (statements
# prepared and never run: the driver's descriptions) and code.
run_measured() {
  local before after start end
  before=($(global_status))
  start=$(date +%s%N)
  set +e
  /usr/bin/time -f %M -o "$out/rss" "$@"
  code=$?
  set -e
  end=$(date +%s%N)
  after=($(global_status))
  took=$(awk -v ns=$((end - start)) 'BEGIN { printf "%.3f", ns / 1e9 }')
  rss=$(tail -n 1 "$out/rss" | awk '{ printf "%.1f", $1 / 1024 }')
  connections=$((after[0] - before[0] - 1))
  unrun=$((after[1] - before[1] - (after[2] - before[2])))
}

# The delay proxy between the client and the server; it counts the client's round trips.
proxy_start() { # one-way delay in ms
  proxy_port=$((port + 1))
  "$bin/orvendel-delay-proxy" "$proxy_port" "$port" "$1" >"$out/proxy.log" &
  proxy_pid=$!
  until grep -qs ready "$out/proxy.log"; do sleep 0.05; done
}
proxy_stop() { # sets trips
  kill -TERM "$proxy_pid"
  wait "$proxy_pid" || true
  proxy_pid=
  trips=$(sed -n 's/^round trips: //p' "$out/proxy.log")
}

ours() { # port, then export arguments
  local p=$1
  shift
  run_measured "$bin/orvendel-export" --server "$host" --port "$p" --user "$user" \
    --password-stdin "$@" <<<"$password"
}
client() { # port, then mariadb client arguments
  local p=$1
  shift
  run_measured mariadb --no-defaults -h "$host" -P "$p" -u "$user" -p"$password" "$@"
}

median() { printf '%s\n' "$@" | sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
spread() { printf '%s\n' "$@" | sort -n | awk 'NR == 1 { a = $1 } { b = $1 } END { printf "%.2f-%.2f", a, b }'; }

# One line of figures for a case: median time of the repeats (and the fastest and slowest), then
# peak memory, connections and round trips of the last one. Direct cases (delay "-") count their
# round trips in one more, otherwise identical run through the proxy at 1 ms each way: at 0 ms a
# reply may come back between two packets the client sends without waiting, which would then
# count twice (measured: 15 to 21 for the 2,000-table export, 14 at 1 ms and at 10 ms).
# count_delay=0 before the call counts at 0 ms instead, for a client that never sends ahead.
#   figures LABEL REPEATS DELAY COMMAND...   (COMMAND gets the port to use as its first argument)
figures() {
  local label=$1 count=$2 delay=$3 times=() i
  shift 3
  if [ "$delay" = - ]; then
    for ((i = 0; i < count; i++)); do "$@" "$port"; times+=("$took"); done
    local kept=("$rss" "$connections" "$code" "$unrun")
    proxy_start "${count_delay:-1}"
    "$@" "$proxy_port"
    proxy_stop
    rss=${kept[0]} connections=${kept[1]} code=${kept[2]} unrun=${kept[3]}
  else
    proxy_start "$delay"
    for ((i = 0; i < count; i++)); do "$@" "$proxy_port"; times+=("$took"); done
    proxy_stop
    trips=$((trips / count))
  fi
  median_took=$(median "${times[@]}")
  printf '   %-44s %7.3f s (%s) %6.1f MB %3d conn. %5d round trips%s%s\n' "$label" \
    "$median_took" "$(spread "${times[@]}")" "$rss" "$connections" "$trips" \
    "$([ "$unrun" = 0 ] && echo "" || echo ", $unrun unrun prepares")" \
    "$([ "$code" = 0 ] && echo "" || echo "  EXIT STATUS $code")"
}
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }

columns="id int NOT NULL PRIMARY KEY, name varchar(45), code char(10), amount decimal(10,2),
  ratio double, flag tinyint(1), small smallint, big bigint unsigned, created datetime,
  updated timestamp NULL, day date, note text, data blob, price float, kind enum('a','b'),
  uid binary(16), tag varchar(255), score int unsigned, at_time time, extra json"
ten_columns="id int NOT NULL PRIMARY KEY, name varchar(45), code char(10), amount decimal(10,2),
  flag tinyint(1), created datetime, note text, kind enum('a','b'), score int unsigned,
  tag varchar(255)"

# COUNT tables of the columns given (the 20 above by default): one made, the others copied with
# CREATE TABLE ... LIKE in four client sessions side by side (measured: 2 to 10 times faster
# than one session of full CREATE TABLE statements, depending on what else the machine was
# doing).
make_tables() { # database, name prefix, count, engine[, columns]
  local db=$1 prefix=$2 count=$3 engine=$4 table_columns=${5:-$columns} sessions=4 k i pids=()
  "${root[@]}" -e "CREATE DATABASE $db; CREATE TABLE $db.${prefix}1 ($table_columns) ENGINE=$engine;"
  for ((k = 0; k < sessions; k++)); do
    for ((i = 2 + k; i <= count; i += sessions)); do
      echo "CREATE TABLE $prefix$i LIKE ${prefix}1;"
    done | "${root[@]}" "$db" &
    pids+=($!)
  done
  for k in "${pids[@]}"; do wait "$k"; done
}

echo "Generating the schemas (once per run)..."
start=$(date +%s)
make_tables many t 2000 InnoDB
make_tables wide w 20000 MyISAM
make_tables huge h 100000 MyISAM "$ten_columns"
make_tables twenty t 20 InnoDB
{
  echo "CREATE DATABASE one; CREATE TABLE one.t1 ($columns) ENGINE=InnoDB;"
  echo "CREATE DATABASE rows_db; USE rows_db;"
  echo "CREATE TABLE big (id int NOT NULL PRIMARY KEY, name varchar(45), amount decimal(10,2),"
  echo "  note varchar(200), created datetime) ENGINE=InnoDB;"
  echo "CREATE TABLE empty LIKE big;"
  echo "INSERT INTO big SELECT seq, concat('name ', seq), seq / 100, repeat('x', 150), now()"
  echo "  FROM seq_1_to_2000000;"
  for host_name in localhost 127.0.0.1; do
    echo "CREATE USER 'solo'@'$host_name' IDENTIFIED BY '$password' WITH MAX_USER_CONNECTIONS 1;"
    echo "GRANT SELECT ON many.* TO 'solo'@'$host_name';"
  done
} | "${root[@]}"
echo "   $(($(date +%s) - start)) s"
echo
echo "Each line: median wall time of $repeats runs (3 or 1 where said; fastest-slowest in"
echo "brackets), peak memory (RSS), logins the server counted (global status Connections), round"
echo "trips (counted by the delay proxy; for a direct case in one more run through it at 1 ms)."

echo
echo "1. 2,000 tables of 20 columns, loopback"
ours_many() { ours "$1" --database many --all -o "$out/many.txt"; }
dump_cmd() {
  local p=$1
  shift
  run_measured mariadb-dump --no-defaults -h "$host" -P "$p" -u "$user" -p"$password" "$@"
}
dump_many() { dump_cmd "$1" --no-data --result-file="$out/many.sql" many; }
figures "orvendel-export --all" "$repeats" - ours_many
ours_took=$median_took
# Its 22,000 round trips would take 44 s at 1 ms each way.
count_delay=0 figures "mariadb-dump --no-data" "$repeats" - dump_many
echo "   ratio $(ratio "$ours_took" "$median_took") of mariadb-dump's time (goal: no slower than" \
  "0.19 s; 1 connection, at most 2 counting the list)"

echo "2. The same through the delay proxy"
ours_far() { ours "$1" --database many --all -o "$out/far.txt"; }
for delay in 10 50; do
  figures "$((2 * delay)) ms round trip" "$repeats" "$delay" ours_far
  cmp -s "$out/far.txt" "$out/many.txt" && same=identical || same=DIFFERENT
  echo "      report $same to the direct one (goal: $([ "$delay" = 10 ] &&
    echo "under 1 s, under 50 round trips" || echo "under 3 s"))"
done

echo "3. One table over a 100 ms round trip (50 ms each way)"
ours_one() { ours "$1" --database one --all -o "$out/one.txt"; }
select_one() { client "$1" -e 'select 1' >/dev/null; }
figures "orvendel-export, 1 table" "$repeats" 50 ours_one
ours_took=$median_took
figures "mariadb -e 'select 1'" "$repeats" 50 select_one
echo "   ratio $(ratio "$ours_took" "$median_took") (goal: at most 2)"

echo "4. 2,000, 20,000 and 100,000 tables, loopback, against one information_schema.COLUMNS query"
"${root[@]}" -N -B -e "SELECT concat('   server: table_definition_cache ', @@table_definition_cache,
  ', table_open_cache ', @@table_open_cache)"
catalogue() { # database
  echo "SELECT TABLE_NAME, COLUMN_NAME, ORDINAL_POSITION, DATA_TYPE, COLUMN_TYPE,
    CHARACTER_MAXIMUM_LENGTH, NUMERIC_PRECISION, NUMERIC_SCALE, DATETIME_PRECISION, EXTRA
    FROM information_schema.COLUMNS WHERE TABLE_SCHEMA = '$1'"
}
flush() { "${root[@]}" -e "FLUSH TABLES"; }
for db in many wide huge; do
  eval "ours_$db() { ours \"\$1\" --database $db --all -o \"\$out/$db.txt\"; }"
  eval "query_$db() { client \"\$1\" -B -N -e \"\$(catalogue $db)\" >\"\$out/$db.tsv\"; }"
  eval "cold_ours_$db() { flush; ours_$db \"\$1\"; }"
  eval "cold_query_$db() { flush; query_$db \"\$1\"; }"
done
scale() { # label, database, runs[, "cold_"]
  local label=$1 db=$2 runs=$3 cold=${4:-} ours_took
  figures "$label: orvendel-export --all ($runs runs)" "$runs" - "${cold}ours_$db"
  ours_took=$median_took
  figures "$label: mariadb, one COLUMNS query ($runs runs)" "$runs" - "${cold}query_$db"
  echo "      ratio $(ratio "$ours_took" "$median_took");" \
    "$(grep -c '^Table Name' "$out/$db.txt") tables in the report," \
    "$(wc -l <"$out/$db.tsv") columns in the query's answer"
}
scale "2,000 warm" many 5
scale "20,000 cold" wide 3 cold_
scale "20,000 warm" wide 3
scale "100,000 warm" huge 3
echo "   (goal: at most 1.3 times the query; peak memory at most 40 MB at 20,000 tables and 60 MB"
echo "   at 100,000. Cold: after FLUSH TABLES, which closes the server's tables and empties its"
echo "   table definition cache; the operating system's file cache stays warm)"

echo "5. An account limited to one connection (MAX_USER_CONNECTIONS 1), 10 exports in a row"
successes=0 logins=0
: >"$out/solo.err"
for _ in $(seq 1 10); do
  run_measured "$bin/orvendel-export" --server "$host" --port "$port" --user solo \
    --database many --password-stdin --all -o "$out/solo.txt" <<<"$password" 2>>"$out/solo.err"
  if [ "$code" = 0 ] && cmp -s "$out/solo.txt" "$out/many.txt"; then
    successes=$((successes + 1))
  fi
  logins=$((logins + connections))
done
echo "   $successes of 10 succeeded with the full report, $logins logins in all" \
  "$([ -s "$out/solo.err" ] && echo "(first error: $(head -n 1 "$out/solo.err"))")"

echo "6. 2,000,000 rows against an empty table of the same columns"
ours_big() { ours "$1" --database rows_db big -o "$out/big.txt"; }
ours_empty() { ours "$1" --database rows_db empty -o "$out/empty.txt"; }
figures "2,000,000 rows" "$repeats" - ours_big
figures "empty" "$repeats" - ours_empty
sed 's/\bbig\b/empty/g' "$out/big.txt" | cmp -s - "$out/empty.txt" && alike=alike || alike=DIFFERENT
echo "   reports $alike (goal: time and memory ratio at most 1.2, peak under 50 MB)"

echo "7. 2,000 tables while one of them is behind a metadata lock"
# One root session holds the table in an open transaction, a second one queues an ALTER behind
# it: from then on every new reader of the table waits for the ALTER.
mkfifo "$out/reader" "$out/alterer"
"${root[@]}" <"$out/reader" &
reader=$!
"${root[@]}" <"$out/alterer" &
alterer=$!
exec 3>"$out/reader" 4>"$out/alterer"
sessions() { "${root[@]}" -N -B -e "SELECT count(*) FROM information_schema.PROCESSLIST WHERE $1"; }
# The reader only enters the database once it holds the table.
echo "BEGIN; SELECT * FROM many.t1000 LIMIT 1; USE many;" >&3
until [ "$(sessions "db = 'many'")" != 0 ]; do sleep 0.1; done
echo "ALTER TABLE many.t1000 COMMENT = 'held';" >&4
until [ "$(sessions "state = 'Waiting for table metadata lock'")" != 0 ]; do sleep 0.1; done
figures "one table locked (1 run)" 1 - ours_far
cmp -s "$out/far.txt" "$out/many.txt" && same=identical || same=DIFFERENT
echo "      report $same to the unlocked one"
exec 3>&- 4>&-
wait "$reader" "$alterer" || true

echo "8. 20,000 tables into the selection window's list"
printf '   '
run_measured env QT_QPA_PLATFORM=offscreen "$bin/orvendel-list-bench" "$host" "$port" "$user" \
  "$password" wide 2>/dev/null
echo "   $connections logins, peak $rss MB (goal: under 2 s)"

echo "9. \"Save Results\" of 20 tables over a 100 ms round trip (50 ms each way), desktop program"
# A session of "Next >" and one save, then one of "Next >" and six: the difference is what the
# five more saves cost.
for saves in 1 6; do
  proxy_start 50
  printf '   %d save(s): ' "$saves"
  run_measured env QT_QPA_PLATFORM=offscreen "$bin/orvendel-save-bench" "$host" "$proxy_port" \
    "$user" "$password" twenty "$saves" 2>/dev/null
  proxy_stop
  echo "      $connections logins, $trips round trips in the whole session"
  [ "$saves" = 1 ] && first_trips=$trips
done
echo "   $(((trips - first_trips) / 5)) round trips per save (goal: a save under 0.3 s;" \
  "1 login per session)"

echo "10. 20,000 tables as documents, and --check against their own reports"
ours_text() { ours "$1" --database wide --all -o "$out/wide.txt"; }
ours_json() { ours "$1" --database wide --all --format json -o "$out/wide.json"; }
ours_markdown() { ours "$1" --database wide --all --format markdown -o "$out/wide.md"; }
figures "--format text (3 runs)" 3 - ours_text
text_took=$median_took
figures "--format json (3 runs)" 3 - ours_json
json_took=$median_took
figures "--format markdown (3 runs)" 3 - ours_markdown
echo "   ratio json $(ratio "$json_took" "$text_took"), markdown $(ratio "$median_took" "$text_took")" \
  "to text; $(wc -c <"$out/wide.json") bytes of JSON, $(wc -c <"$out/wide.md") of Markdown," \
  "$(wc -c <"$out/wide.txt") of text"
# On a shared machine the load drifts between the cases above: a text and a JSON export side
# by side, five times, give the ratio of each pair.
ratios=()
for ((i = 0; i < 5; i++)); do
  ours_text "$port"
  text_took=$took
  ours_json "$port"
  ratios+=("$(ratio "$took" "$text_took")")
done
echo "   json to text, 5 pairs side by side: median ratio $(median "${ratios[@]}")" \
  "($(spread "${ratios[@]}")) (goal: at most 1.2)"
for format in json md txt; do
  check_it() { ours "$1" --database wide --all --check "$out/wide.$format" >"$out/check.out"; }
  figures "--check against the $format report (3 runs)" 3 - check_it
  echo "      $(tail -n 1 "$out/check.out")"
done
"${root[@]}" -e "ALTER TABLE wide.w777 MODIFY name varchar(46) NOT NULL"
for format in json txt; do
  run_measured "$bin/orvendel-export" --server "$host" --port "$port" --user "$user" \
    --password-stdin --database wide --all --check "$out/wide.$format" \
    >"$out/check.out" <<<"$password"
  echo "   after an ALTER, --check against the $format report: exit status $code, $took s:"
  sed 's/^/      /' "$out/check.out"
done
"${root[@]}" -e "ALTER TABLE wide.w777 MODIFY name varchar(45)"
