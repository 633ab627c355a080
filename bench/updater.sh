#!/usr/bin/env bash
# The updater downloading one large file, beside a peer that extracts the same stored value:
#  - SQLite, 900 MiB: `qorv_update --update` against the sqlite3 shell's writefile();
#  - PostgreSQL, 1 GiB: `qorv_update --update` against psql's \lo_export.
# Both sides read a warm database and write a new file in the same file system. Printed: the
# best wall time of QORV_BENCH_RUNS runs each (default 3), the throughput ratio (peer time /
# updater time: 1.0 is as fast as the peer) and the updater's peak resident memory above its
# idle size (a `--check` run against the same server). QORV_BENCH_ONLY=sqlite or =postgresql
# runs that case alone.
#
# usage: bench/updater.sh BUILD_DIR
set -euo pipefail

build=$(cd "$1" && pwd)
bin=$build/bin
root=$(cd "$(dirname "$0")/.." && pwd)
runs=${QORV_BENCH_RUNS:-3}
only=${QORV_BENCH_ONLY:-}
case $only in
'' | sqlite | postgresql) ;;
*) echo "updater.sh: QORV_BENCH_ONLY is sqlite or postgresql, not '$only'" >&2; exit 2 ;;
esac
work=$(mktemp -d "${TMPDIR:-/tmp}/qorv-bench.XXXXXX")
pg_env=$work/pg.env
cleanup() {
    [ -f "$pg_env" ] && "$root/tests/postgresql/stop.sh" "$pg_env" >/dev/null 2>&1 || true
    rm -rf "$work"
}
trap cleanup EXIT

# measure OUT_VAR_SECONDS OUT_VAR_KIB DIR COMMAND...: wall seconds and peak RSS of one run.
measure() {
    local -n seconds=$1 kib=$2
    local dir=$3
    shift 3
    local stats
    stats=$(cd "$dir" && /usr/bin/time -f '%e %M' "$@" 2>&1 >/dev/null | tail -n 1)
    seconds=${stats% *}
    kib=${stats#* }
}

best() { printf '%s\n' "$@" | sort -g | head -n 1; }

# bench_case NAME SERVER DATABASE USER PASSWORD SIZE PEER_COMMAND...
# The peer command runs in $work/peer and must write the stored value to ./out.
bench_case() {
    local name=$1 server=$2 database=$3 user=$4 password=$5 size=$6
    shift 6
    local install=$work/install
    local update_times=() peer_times=() update_kib=0 idle_kib=0 t k

    for _ in $(seq 1 "$runs"); do
        rm -rf "$install" "$work/peer"
        mkdir -p "$install" "$work/peer"
        "$bin/qorv_admin" write-ini "$install" --server "$server" --database "$database" \
            --user "$user" --password "$password" --ver 0 >/dev/null
        measure t k "$install" "$bin/qorv_update" --check
        idle_kib=$k
        measure t k "$install" "$bin/qorv_update" --update
        cmp -s "$install/big.bin" "$work/big.bin" || { echo "$name: the updated file differs" >&2; exit 1; }
        update_times+=("$t")
        [ "$k" -gt "$update_kib" ] && update_kib=$k
        rm -f "$install/big.bin"
        measure t k "$work/peer" "$@"
        cmp -s "$work/peer/out" "$work/big.bin" || { echo "$name: the peer's file differs" >&2; exit 1; }
        peer_times+=("$t")
    done
    local u p
    u=$(best "${update_times[@]}")
    p=$(best "${peer_times[@]}")
    awk -v n="$name" -v s="$size" -v u="$u" -v p="$p" -v m="$update_kib" -v i="$idle_kib" 'BEGIN {
        mib = s / 1048576
        printf "%-34s qorv_update %6.2f s (%6.0f MiB/s)   peer %6.2f s (%6.0f MiB/s)   ratio %.2f\n",
               n, u, mib / u, p, mib / p, p / u
        printf "%-34s qorv_update peak memory %.1f MiB, idle %.1f MiB: %.1f MiB above idle\n",
               "", m / 1024, i / 1024, (m - i) / 1024 }'
}

echo "== updater: one large file"
echo "load average before: $(cut -d ' ' -f 1-3 /proc/loadavg)"

# SQLite: its default build refuses a value over 1,000,000,000 bytes; 900 MiB fits.
if [ "$only" != postgresql ]; then
    size=$((900 * 1024 * 1024))
    head -c "$size" /dev/urandom > "$work/big.bin"
    db=$work/update.db
    "$bin/qorv_admin" init --server "sqlite:$db" >/dev/null
    "$bin/qorv_admin" publish --server "sqlite:$db" --ver 1 --base "$work" "$work/big.bin" >/dev/null 2>&1
    cat "$db" > /dev/null
    bench_case "SQLite 900 MiB vs writefile()" "sqlite:$db" "" "" "" "$size" \
        sqlite3 "$db" "select writefile('out', filedata) from t_file where filename = 'big.bin'"
    rm -f "$db"
fi

# PostgreSQL: a throw-away cluster on loopback; the file is a large object.
if [ "$only" != sqlite ]; then
    size=$((1024 * 1024 * 1024))
    head -c "$size" /dev/urandom > "$work/big.bin"
    "$root/tests/postgresql/start.sh" "$pg_env" >/dev/null
    # shellcheck disable=SC1090
    source "$pg_env"
    "$bin/qorv_admin" init --server "$QORV_PG_SERVER" --database "$QORV_PG_DATABASE" \
        --user "$QORV_PG_USER" --password "$QORV_PG_PASSWORD" >/dev/null
    "$bin/qorv_admin" publish --server "$QORV_PG_SERVER" --database "$QORV_PG_DATABASE" \
        --user "$QORV_PG_USER" --password "$QORV_PG_PASSWORD" --ver 1 --base "$work" "$work/big.bin" >/dev/null 2>&1
    port=${QORV_PG_SERVER##*:}
    oid=$(PGPASSWORD=$QORV_PG_PASSWORD psql -X -At -h 127.0.0.1 -p "$port" -U "$QORV_PG_USER" \
        -d "$QORV_PG_DATABASE" -c "select filedata from t_file where filename = 'big.bin'")
    PGPASSWORD=$QORV_PG_PASSWORD bench_case "PostgreSQL 1 GiB vs psql \\lo_export" \
        "$QORV_PG_SERVER" "$QORV_PG_DATABASE" "$QORV_PG_USER" "$QORV_PG_PASSWORD" "$size" \
        psql -X -q -h 127.0.0.1 -p "$port" -U "$QORV_PG_USER" -d "$QORV_PG_DATABASE" \
        -c "\\lo_export $oid out"
fi
echo "load average after: $(cut -d ' ' -f 1-3 /proc/loadavg)"
