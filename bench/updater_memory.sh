#!/usr/bin/env bash
# The updater's memory while it downloads one 900 MiB file, on every server form this machine
# runs: SQLite, and PostgreSQL directly (postgresql://) and through its ODBC driver (odbc:),
# each on both tables `qorv_admin init` makes there (large objects through postgresql://, bytea
# through odbc:). SQL Server cannot run here. Printed per form: the file size, the updater's
# peak resident memory, its idle size (a `--check` run against the same server), the
# difference, and whether that stays under 64 MiB. Every download is compared byte for byte.
# It writes the file once, a copy per database, and one download at a time (about 6 GiB below
# $TMPDIR, default /tmp).
#
# usage: bench/updater_memory.sh BUILD_DIR
set -euo pipefail

build=$(cd "$1" && pwd)
bin=$build/bin
root=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/qorv-bench-memory.XXXXXX")
pg_env=$work/pg.env
cleanup() {
    [ -f "$pg_env" ] && "$root/tests/postgresql/stop.sh" "$pg_env" >/dev/null 2>&1 || true
    rm -rf "$work"
}
trap cleanup EXIT

limit_kib=$((64 * 1024))
size=$((900 * 1024 * 1024))
head -c "$size" /dev/urandom >"$work/big.bin"

# peak_kib DIR ARGS...: the peak resident memory of one qorv_update run, in KiB.
peak_kib() {
    local dir=$1
    shift
    (cd "$dir" && /usr/bin/time -f '%M' "$bin/qorv_update" "$@" 2>&1 >/dev/null | tail -n 1)
}

# measure NAME SERVER DATABASE USER PASSWORD
measure() {
    local name=$1 install=$work/install
    rm -rf "$install"
    mkdir -p "$install"
    "$bin/qorv_admin" write-ini "$install" --server "$2" --database "$3" --user "$4" \
        --password "$5" --ver 0 >/dev/null
    local idle peak
    idle=$(peak_kib "$install" --check)
    peak=$(peak_kib "$install" --update)
    cmp -s "$install/big.bin" "$work/big.bin" || { echo "$name: the file differs" >&2; exit 1; }
    rm -rf "$install"
    awk -v n="$name" -v s="$size" -v p="$peak" -v i="$idle" -v l="$limit_kib" 'BEGIN {
        printf "%-40s %4.0f MiB file: peak %6.1f MiB, idle %5.1f MiB, %5.1f MiB above idle (%s)\n",
               n, s / 1048576, p / 1024, i / 1024, (p - i) / 1024,
               p - i < l ? "under 64 MiB" : "OVER 64 MiB" }'
}

echo "== updater: peak memory for one large file"

db=$work/update.db
"$bin/qorv_admin" init --server "sqlite:$db" >/dev/null 2>&1
"$bin/qorv_admin" publish --server "sqlite:$db" --ver 1 --base "$work" "$work/big.bin" >/dev/null 2>&1
measure "SQLite" "sqlite:$db" "" "" ""
rm -f "$db"

"$root/tests/postgresql/start.sh" "$pg_env" >/dev/null
# shellcheck disable=SC1090
source "$pg_env"
port=${QORV_PG_SERVER##*:}
odbc="odbc:Driver=$(find /usr/lib -name psqlodbcw.so -print -quit);Server=127.0.0.1;Port=$port"
export PGPASSWORD=$QORV_PG_PASSWORD
for table in large_objects bytea; do
    # Each table in a database of its own, made by the form `qorv_admin init` makes it with.
    psql -X -q -h 127.0.0.1 -p "$port" -U "$QORV_PG_USER" -d "$QORV_PG_DATABASE" \
        -c "create database qorv_$table template template0 encoding 'UTF8'"
    maker=$QORV_PG_SERVER
    [ "$table" = bytea ] && maker=$odbc
    "$bin/qorv_admin" init --server "$maker" --database "qorv_$table" --user "$QORV_PG_USER" \
        --password "$QORV_PG_PASSWORD" >/dev/null 2>&1
    # Published through postgresql:// either way: through ODBC the driver would hold the file.
    "$bin/qorv_admin" publish --server "$QORV_PG_SERVER" --database "qorv_$table" \
        --user "$QORV_PG_USER" --password "$QORV_PG_PASSWORD" --ver 1 --base "$work" \
        "$work/big.bin" >/dev/null 2>&1
    measure "PostgreSQL, $table, postgresql://" "$QORV_PG_SERVER" "qorv_$table" \
        "$QORV_PG_USER" "$QORV_PG_PASSWORD"
    measure "PostgreSQL, $table, odbc:" "$odbc" "qorv_$table" "$QORV_PG_USER" \
        "$QORV_PG_PASSWORD"
done
