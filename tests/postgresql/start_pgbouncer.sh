#!/bin/bash
# Starts PgBouncer in transaction pooling mode in front of the cluster that start.sh described
# in PG_ENV_FILE, and writes how to reach the cluster through it to ENV_FILE, in the same
# KEY=VALUE form (QORV_PG_SERVER is PgBouncer's address; QORV_PGBOUNCER_DIR its directory, for
# stop_pgbouncer.sh). It listens on 127.0.0.1 on a free port, serves every database of the
# cluster, and checks the clients' passwords the way the cluster does (SCRAM-SHA-256). PgBouncer
# refuses to run as root, so as root it runs as the cluster's owner, "postgres".
#   QORV_PGBOUNCER_POOL      server connections per database and user (default_pool_size, 20)
#   QORV_PGBOUNCER_CLIENTS   client connections it accepts (max_client_conn, 1000)
#   QORV_PGBOUNCER_IDLE      seconds an idle server connection is kept (server_idle_timeout, 5)
#
# usage: start_pgbouncer.sh PG_ENV_FILE ENV_FILE
set -euo pipefail

pg_env=${1:?usage: start_pgbouncer.sh PG_ENV_FILE ENV_FILE}
env_file=${2:?usage: start_pgbouncer.sh PG_ENV_FILE ENV_FILE}
here=$(cd "$(dirname "$0")" && pwd)

if [ -f "$env_file" ]; then
    "$here/stop_pgbouncer.sh" "$env_file" || true
fi
command -v pgbouncer >/dev/null || {
    echo "start_pgbouncer.sh: pgbouncer not found (install the pgbouncer package)" >&2
    exit 1
}
value() { sed -n "s/^$1=//p" "$pg_env"; }
server=$(value QORV_PG_SERVER)
user=$(value QORV_PG_USER)
password=$(value QORV_PG_PASSWORD)
database=$(value QORV_PG_DATABASE)
[ -n "$server" ] || {
    echo "start_pgbouncer.sh: $pg_env describes no server" >&2
    exit 1
}
pg_port=${server##*:}

dir=$(mktemp -d /tmp/qorv-pgbouncer.XXXXXX)
chmod 700 "$dir"
as_owner() {
    if [ "$(id -u)" -eq 0 ]; then
        runuser -u postgres -- "$@"
    else
        "$@"
    fi
}
[ "$(id -u)" -eq 0 ] && chown postgres: "$dir"
trap 'rm -rf "$dir"' ERR

printf '"%s" "%s"\n' "$user" "$password" >"$dir/userlist.txt"
chmod 600 "$dir/userlist.txt"

port=
for _ in $(seq 1 20); do
    candidate=$((20000 + RANDOM % 40000))
    cat >"$dir/pgbouncer.ini" <<INI
[databases]
* = host=127.0.0.1 port=$pg_port

[pgbouncer]
listen_addr = 127.0.0.1
listen_port = $candidate
unix_socket_dir =
auth_type = scram-sha-256
auth_file = $dir/userlist.txt
pool_mode = transaction
default_pool_size = ${QORV_PGBOUNCER_POOL:-20}
max_client_conn = ${QORV_PGBOUNCER_CLIENTS:-1000}
; idle server connections go soon: every test makes databases of its own
server_idle_timeout = ${QORV_PGBOUNCER_IDLE:-5}
logfile = $dir/pgbouncer.log
pidfile = $dir/pgbouncer.pid
INI
    [ "$(id -u)" -eq 0 ] && chown postgres: "$dir"/*
    if as_owner pgbouncer -d -q "$dir/pgbouncer.ini" 2>>"$dir/start.log"; then
        # Ready once a client gets through to the cluster.
        for _ in $(seq 1 50); do
            if PGPASSWORD=$password psql -X -q -At -h 127.0.0.1 -p "$candidate" -U "$user" \
                -d "$database" -c 'select 1' >/dev/null 2>&1; then
                port=$candidate
                break 2
            fi
            [ -f "$dir/pgbouncer.pid" ] && kill -0 "$(cat "$dir/pgbouncer.pid")" 2>/dev/null || break
            sleep 0.2
        done
        [ -f "$dir/pgbouncer.pid" ] && kill "$(cat "$dir/pgbouncer.pid")" 2>/dev/null || true
        sleep 0.2
    fi
done
if [ -z "$port" ]; then
    echo "start_pgbouncer.sh: PgBouncer did not start; its log:" >&2
    cat "$dir/start.log" "$dir/pgbouncer.log" >&2 || true
    false
fi

{
    echo "QORV_PG_SERVER=postgresql://127.0.0.1:$port"
    echo "QORV_PG_DATABASE=$database"
    echo "QORV_PG_USER=$user"
    echo "QORV_PG_PASSWORD=$password"
    echo "QORV_PGBOUNCER_DIR=$dir"
} >"$env_file.tmp"
mv "$env_file.tmp" "$env_file"
trap - ERR
echo "PgBouncer on 127.0.0.1:$port in front of 127.0.0.1:$pg_port ($dir)"
