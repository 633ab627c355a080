#!/usr/bin/env bash
# The updater against PostgreSQL when little has changed, and under load:
#  - only what changed: a version of 200 files (1 GiB) in which 2 files (10 MiB) differ from the
#    installed version, beside a full download of the same version into an empty installation,
#    in the same run. Printed: wall time and bytes read from the server (counted by a loopback
#    proxy that both runs go through), and the ratio of the times.
#  - load: 50 updaters at once, each with its own installation and runtime directory, each
#    installing a version of 20 files (100 MiB). Printed: wall time, peak server connections;
#    every installation is compared byte for byte.
#
# usage: bench/updater_delta.sh BUILD_DIR
set -euo pipefail

build=$(cd "$1" && pwd)
bin=$build/bin
root=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/qorv-bench-delta.XXXXXX")
pg_env=$work/pg.env
proxy_pid=
cleanup() {
    [ -n "$proxy_pid" ] && kill "$proxy_pid" 2>/dev/null || true
    [ -f "$pg_env" ] && "$root/tests/postgresql/stop.sh" "$pg_env" >/dev/null 2>&1 || true
    rm -rf "$work"
}
trap cleanup EXIT

"$root/tests/postgresql/start.sh" "$pg_env" >/dev/null
# shellcheck disable=SC1090
source "$pg_env"
port=${QORV_PG_SERVER##*:}
export PGPASSWORD=$QORV_PG_PASSWORD
sql() { psql -X -At -h 127.0.0.1 -p "$port" -U "$QORV_PG_USER" -d "$QORV_PG_DATABASE" -c "$1"; }
admin() { # admin COMMAND ARGS...: qorv_admin on the test server
    local command=$1
    shift
    "$bin/qorv_admin" "$command" --server "$QORV_PG_SERVER" --database "$QORV_PG_DATABASE" \
        --user "$QORV_PG_USER" --password "$QORV_PG_PASSWORD" "$@" >/dev/null 2>&1
}
# install DIR VERSION SERVER: an installation whose qorv.ini names SERVER and VERSION.
install() {
    mkdir -p "$1"
    "$bin/qorv_admin" write-ini "$1" --server "$3" --database "$QORV_PG_DATABASE" \
        --user "$QORV_PG_USER" --password "$QORV_PG_PASSWORD" --ver "$2" >/dev/null
}
seconds() { date +%s.%N; }

# A loopback proxy in front of the server that counts the bytes the server sends to clients.
cat >"$work/proxy.py" <<'PY'
import socket, sys, threading
listen, target, count_file = int(sys.argv[1]), int(sys.argv[2]), sys.argv[3]
total = [0]
lock = threading.Lock()
def pipe(src, dst, counted):
    try:
        while True:
            data = src.recv(1 << 20)
            if not data:
                break
            dst.sendall(data)
            if counted:
                with lock:
                    total[0] += len(data)
                    with open(count_file, "w") as f:
                        f.write(str(total[0]))
    except OSError:
        pass
    for s in (src, dst):
        try:
            s.shutdown(socket.SHUT_RDWR)
        except OSError:
            pass
server = socket.socket()
server.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
server.bind(("127.0.0.1", listen))
server.listen(64)
print("ready", flush=True)
while True:
    client, _ = server.accept()
    upstream = socket.create_connection(("127.0.0.1", target))
    threading.Thread(target=pipe, args=(client, upstream, False), daemon=True).start()
    threading.Thread(target=pipe, args=(upstream, client, True), daemon=True).start()
PY
proxy_port=$((port + 1))
python3 "$work/proxy.py" "$proxy_port" "$port" "$work/bytes" >"$work/proxy.log" 2>&1 &
proxy_pid=$!
for _ in $(seq 1 50); do grep -q ready "$work/proxy.log" 2>/dev/null && break; sleep 0.1; done
via_proxy=postgresql://127.0.0.1:$proxy_port
server_bytes() { cat "$work/bytes" 2>/dev/null || echo 0; }

echo "== updater: only what changed (PostgreSQL, 200 files, 1 GiB, 2 files changed)"
admin init
mkdir -p "$work/v1" "$work/v2"
changed_size=$((5 * 1024 * 1024))
other_size=$(((1024 * 1024 * 1024 - 2 * changed_size) / 198))
for i in $(seq -w 1 200); do
    size=$other_size
    [ "$i" -gt 198 ] && size=$changed_size
    head -c "$size" /dev/urandom >"$work/v1/file$i.bin"
    if [ "$i" -gt 198 ]; then
        head -c "$size" /dev/urandom >"$work/v2/file$i.bin"
    else
        ln "$work/v1/file$i.bin" "$work/v2/file$i.bin"
    fi
done
admin publish --ver 1 --base "$work/v1" "$work/v1"
admin publish --ver 2 --base "$work/v2" "$work/v2"
total=$(du -cb "$work"/v2/*.bin | tail -n 1 | cut -f 1)

# Changed files only: an installation of version 1.
install "$work/delta" 1 "$via_proxy"
cp "$work"/v1/*.bin "$work/delta/"
cat "$work"/delta/*.bin >/dev/null
# Each timed run starts without gigabytes of earlier writes still queued for the disk, which
# would otherwise hold up the updater's own flushes.
sync
before=$(server_bytes)
start=$(seconds)
mkdir -m 700 "$work/run-delta" "$work/run-full"
(cd "$work/delta" && XDG_RUNTIME_DIR=$work/run-delta "$bin/qorv_update" --update >/dev/null 2>&1)
delta_time=$(echo "$(seconds) - $start" | bc)
delta_bytes=$(($(server_bytes) - before))

# Full download of the same version into an empty installation.
install "$work/full" 0 "$via_proxy"
sync
before=$(server_bytes)
start=$(seconds)
(cd "$work/full" && XDG_RUNTIME_DIR=$work/run-full "$bin/qorv_update" --update >/dev/null 2>&1)
full_time=$(echo "$(seconds) - $start" | bc)
full_bytes=$(($(server_bytes) - before))

for i in $(seq -w 1 200); do
    cmp -s "$work/delta/file$i.bin" "$work/v2/file$i.bin" || { echo "delta: file$i.bin differs" >&2; exit 1; }
    cmp -s "$work/full/file$i.bin" "$work/v2/file$i.bin" || { echo "full: file$i.bin differs" >&2; exit 1; }
done
awk -v dt="$delta_time" -v db="$delta_bytes" -v ft="$full_time" -v fb="$full_bytes" \
    -v c=$((2 * changed_size)) -v t="$total" 'BEGIN {
    printf "version: %d files, %.1f MiB; changed: 2 files, %.1f MiB\n", 200, t / 1048576, c / 1048576
    printf "%-36s %7.2f s   %9.1f MiB read from the server\n", "only what changed", dt, db / 1048576
    printf "%-36s %7.2f s   %9.1f MiB read from the server\n", "full download (peer)", ft, fb / 1048576
    printf "ratio (full / changed only) %.1fx; bytes read above the changed bytes: %.2f MiB\n",
           ft / dt, (db - c) / 1048576 }'
rm -rf "$work/v1" "$work/delta" "$work/full"

echo "== updater: 50 updaters at once (PostgreSQL, 20 files, 100 MiB each)"
mkdir -p "$work/v3"
for i in $(seq -w 1 20); do head -c $((5 * 1024 * 1024)) /dev/urandom >"$work/v3/part$i.bin"; done
admin publish --ver 3 --base "$work/v3" "$work/v3"
for n in $(seq 1 50); do
    install "$work/load/$n" 2.0 "$QORV_PG_SERVER"
    mkdir -m 700 "$work/load/run$n"
done
(while :; do sql "select count(*) from pg_stat_activity where datname = '$QORV_PG_DATABASE'" \
    2>/dev/null; sleep 0.2; done) >"$work/connections" &
watcher=$!
sync
start=$(seconds)
pids=()
for n in $(seq 1 50); do
    (cd "$work/load/$n" && XDG_RUNTIME_DIR=$work/load/run$n exec "$bin/qorv_update" --update \
        >/dev/null 2>"$work/load/$n.err") &
    pids+=($!)
done
failed=0
for p in "${pids[@]}"; do wait "$p" || failed=$((failed + 1)); done
load_time=$(echo "$(seconds) - $start" | bc)
kill "$watcher" 2>/dev/null || true
wait "$watcher" 2>/dev/null || true
peak=$(sort -n "$work/connections" | tail -n 1)
differ=0
for n in $(seq 1 50); do
    for i in $(seq -w 1 20); do
        cmp -s "$work/load/$n/part$i.bin" "$work/v3/part$i.bin" || differ=$((differ + 1))
    done
done
# The watcher's own session is one of the connections counted.
printf "50 updaters: %.2f s wall, %d failed, %d files differ; peak server connections %d (1 of them the counter)\n" \
    "$load_time" "$failed" "$differ" "$peak"
[ "$failed" -eq 0 ] && [ "$differ" -eq 0 ]
