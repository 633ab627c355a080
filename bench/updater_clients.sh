#!/usr/bin/env bash
# A thousand clients at once: QORV_BENCH_CLIENTS updaters (default 1,000), started evenly over
# QORV_BENCH_SPREAD seconds (default 10; this machine cannot hold them all at the same
# instant), each installing the same version of 4 files / 1 MiB into a directory of its own,
# against a PostgreSQL cluster that takes 20 client connections:
#  (a) directly, the updaters waiting with back-off while every connection is in use;
#  (b) through PgBouncer in transaction pooling mode with a pool of 20 server connections.
# The cluster runs with max_connections=21 and superuser_reserved_connections=1: 20 connections
# for the updaters and PgBouncer, one kept for the sampler that reads pg_stat_activity every
# 0.1 s. Printed per case: the time the starts took, wall time from the first start to the last
# exit, installs that succeeded and are byte-identical to the version, the updaters' retries
# (their "busy" lines) and the peak of the updaters' server connections.
#
# usage: bench/updater_clients.sh BUILD_DIR
set -euo pipefail

build=$(cd "$1" && pwd)
bin=$build/bin
root=$(cd "$(dirname "$0")/.." && pwd)
clients=${QORV_BENCH_CLIENTS:-1000}
spread=${QORV_BENCH_SPREAD:-10}
work=$(mktemp -d "${TMPDIR:-/tmp}/qorv-bench-clients.XXXXXX")
pg_env=$work/pg.env
bouncer_env=$work/pgbouncer.env
sampler=
cleanup() {
    [ -n "$sampler" ] && kill "$sampler" 2>/dev/null || true
    [ -f "$bouncer_env" ] && "$root/tests/postgresql/stop_pgbouncer.sh" "$bouncer_env" >/dev/null 2>&1 || true
    [ -f "$pg_env" ] && "$root/tests/postgresql/stop.sh" "$pg_env" >/dev/null 2>&1 || true
    rm -rf "$work"
}
trap cleanup EXIT
# Every updater and PgBouncer's clients need descriptors of their own.
ulimit -n 65536 2>/dev/null || ulimit -n "$(ulimit -Hn)"

# The version: 4 files, 1 MiB together.
mkdir -p "$work/version/lib"
head -c $((512 * 1024)) /dev/urandom >"$work/version/app.exe"
head -c $((256 * 1024)) /dev/urandom >"$work/version/lib/core.dll"
head -c $((192 * 1024)) /dev/urandom >"$work/version/lib/ui.dll"
head -c $((64 * 1024)) /dev/urandom >"$work/version/readme.txt"

QORV_PG_SETTINGS="max_connections=21 superuser_reserved_connections=1" \
    "$root/tests/postgresql/start.sh" "$pg_env" >/dev/null
# shellcheck disable=SC1090
source "$pg_env"
port=${QORV_PG_SERVER##*:}
export PGPASSWORD=$QORV_PG_PASSWORD
psql -X -q -h 127.0.0.1 -p "$port" -U "$QORV_PG_USER" -d "$QORV_PG_DATABASE" \
    -c "create database qorv_clients template template0 encoding 'UTF8'"
admin=(--server "$QORV_PG_SERVER" --database qorv_clients --user "$QORV_PG_USER"
    --password "$QORV_PG_PASSWORD")
"$bin/qorv_admin" init "${admin[@]}" >/dev/null 2>&1
"$bin/qorv_admin" publish "${admin[@]}" --ver 2 --base "$work/version" \
    "$work/version/app.exe" "$work/version/lib/core.dll" "$work/version/lib/ui.dll" \
    "$work/version/readme.txt" >/dev/null 2>&1
QORV_PGBOUNCER_POOL=20 QORV_PGBOUNCER_CLIENTS=$((clients + 100)) \
    "$root/tests/postgresql/start_pgbouncer.sh" "$pg_env" "$bouncer_env" >/dev/null
bouncer=$(sed -n 's/^QORV_PG_SERVER=//p' "$bouncer_env")

# The superuser's connection through the cluster's socket directory, in the reserved slot.
as_owner() { if [ "$(id -u)" -eq 0 ]; then runuser -u postgres -- "$@"; else "$@"; fi; }
pg_dir=$(sed -n 's/^QORV_PG_DIR=//p' "$pg_env")

# run_case NAME SERVER: starts the updaters, waits for all, prints the figures.
run_case() {
    local name=$1 server=$2 runs=$work/runs
    rm -rf "$runs"
    mkdir -p "$runs/template"
    "$bin/qorv_admin" write-ini "$runs/template" --server "$server" --database qorv_clients \
        --user "$QORV_PG_USER" --password "$QORV_PG_PASSWORD" --ver 1 >/dev/null
    for i in $(seq 1 "$clients"); do
        mkdir -p "$runs/$i/install/lib" "$runs/$i/run"
        cp "$runs/template/qorv.ini" "$runs/$i/install/"
    done
    chmod 700 "$runs"/*/run
    sync

    # The sampler: one query a tenth of a second on one connection, kept open throughout.
    (while sleep 0.1; do
        echo "select count(*) from pg_stat_activity where usename = '$QORV_PG_USER';"
    done | as_owner psql -X -q -At -h "$pg_dir" -p "$port" -U postgres -d postgres \
        >"$work/samples" 2>/dev/null) &
    sampler=$!

    # Times in microseconds, from bash's own clock: no process per start but the updater's.
    local t start step i left fraction pids=()
    t=$EPOCHREALTIME
    start=${t/./}
    step=$((spread * 1000000 / clients))
    for i in $(seq 1 "$clients"); do
        # Started at start + (i - 1) * step, evenly over the spread.
        t=$EPOCHREALTIME
        left=$((start + (i - 1) * step - ${t/./}))
        if [ "$left" -gt 0 ]; then
            printf -v fraction '%06d' $((left % 1000000))
            sleep "$((left / 1000000)).$fraction"
        fi
        (cd "$runs/$i/install" && XDG_RUNTIME_DIR=$runs/$i/run "$bin/qorv_update" --update \
            >"$runs/$i/out" 2>"$runs/$i/err"
        echo $? >"$runs/$i/status") &
        pids+=($!)
    done
    t=$EPOCHREALTIME
    local launched=${t/./}
    wait "${pids[@]}" || true
    t=$EPOCHREALTIME
    local end=${t/./}
    kill "$sampler" 2>/dev/null || true
    wait "$sampler" 2>/dev/null || true
    sampler=

    local ok=0 identical=0 retries peak
    for i in $(seq 1 "$clients"); do
        [ "$(cat "$runs/$i/status" 2>/dev/null)" = 0 ] && ok=$((ok + 1))
        diff -r -q -x qorv.ini "$work/version" "$runs/$i/install" >/dev/null 2>&1 &&
            identical=$((identical + 1))
    done
    retries=$(cat "$runs"/*/err | grep -c '升级服务器繁忙' || true)
    peak=$(sort -n "$work/samples" | tail -n 1)
    awk -v n="$name" -v c="$clients" -v w="$(((end - start) / 1000))" -v l="$(((launched - start) / 1000))" -v ok="$ok" \
        -v same="$identical" -v r="$retries" -v p="${peak:-0}" 'BEGIN {
        printf "%-28s %5d clients (started in %4.1f s): %6.1f s wall, %5d succeeded, %5d byte-identical, %6d retries, peak %3d server connections\n",
               n, c, l / 1000, w / 1000, ok, same, r, p }'
    if [ "$identical" -ne "$clients" ]; then
        echo "$name: $((clients - identical)) installs differ from the version; first failures:" >&2
        grep -L '^0$' "$runs"/*/status 2>/dev/null | head -n 3 | while read -r s; do
            echo "--- $(dirname "$s"): status $(cat "$s")" >&2
            tail -n 3 "$(dirname "$s")/err" >&2
        done
        return 1
    fi
}

echo "== updater: $clients clients started over $spread s, 20 server connections"
status=0
run_case "(a) direct, back-off" "$QORV_PG_SERVER" || status=1
run_case "(b) PgBouncer, pool of 20" "$bouncer" || status=1
exit $status
