#!/bin/bash
# Starts a throw-away PostgreSQL cluster for the tests and writes how to reach it to ENV_FILE:
#   QORV_PG_SERVER=postgresql://127.0.0.1:PORT   QORV_PG_DATABASE=…   QORV_PG_USER=…
#   QORV_PG_PASSWORD=…   QORV_PG_DIR=… (the cluster's directory, for stop.sh)
# The cluster lives in a fresh directory under /tmp, listens on 127.0.0.1 on a free port and
# keeps its unix sockets in that directory. initdb refuses to run as root, so as root the
# cluster belongs to the user "postgres". Server settings in QORV_PG_SETTINGS (blank-separated
# NAME=VALUE words, e.g. "max_connections=8") are given to the server as it starts.
#
# usage: start.sh ENV_FILE
set -euo pipefail

env_file=${1:?usage: start.sh ENV_FILE}
here=$(cd "$(dirname "$0")" && pwd)

# A cluster left over from an interrupted run goes first.
if [ -f "$env_file" ]; then
    "$here/stop.sh" "$env_file" || true
fi

bindir=${QORV_PG_BINDIR:-}
if [ -z "$bindir" ]; then
    for d in /usr/lib/postgresql/*/bin; do
        [ -x "$d/initdb" ] && bindir=$d
    done
fi
if [ -z "$bindir" ] || [ ! -x "$bindir/initdb" ]; then
    echo "start.sh: PostgreSQL server programs not found (install the postgresql package)" >&2
    exit 1
fi

dir=$(mktemp -d /tmp/qorv-pg.XXXXXX)
chmod 700 "$dir"
as_owner() { # runs a command as the cluster's owner
    if [ "$(id -u)" -eq 0 ]; then
        (cd "$dir" && runuser -u postgres -- "$@")
    else
        (cd "$dir" && "$@")
    fi
}
if [ "$(id -u)" -eq 0 ]; then
    chown postgres: "$dir"
fi
cleanup_on_error() {
    as_owner "$bindir/pg_ctl" -D "$dir/data" -m immediate stop >/dev/null 2>&1 || true
    rm -rf "$dir"
}
trap cleanup_on_error ERR

user=qorv_test
password="pw-$(od -An -N8 -tx1 /dev/urandom | tr -d ' \n')"
database=qorv_test

as_owner "$bindir/initdb" -D "$dir/data" -U postgres -E UTF8 --locale=C \
    --auth-local=trust --auth-host=scram-sha-256 >"$dir/initdb.log" 2>&1 || {
    cat "$dir/initdb.log" >&2
    false
}

settings=
for setting in ${QORV_PG_SETTINGS:-}; do
    settings="$settings -c $setting"
done

# Try random high ports until the server starts on one that is free.
port=
for _ in $(seq 1 20); do
    candidate=$((20000 + RANDOM % 40000))
    if as_owner "$bindir/pg_ctl" -D "$dir/data" -l "$dir/server.log" -w -t 60 \
        -o "-p $candidate -k $dir -c listen_addresses=127.0.0.1 -c fsync=off$settings" start >/dev/null; then
        port=$candidate
        break
    fi
done
if [ -z "$port" ]; then
    echo "start.sh: the server did not start; its log:" >&2
    cat "$dir/server.log" >&2 || true
    false
fi

as_owner "$bindir/psql" -X -q -v ON_ERROR_STOP=1 -h "$dir" -p "$port" -U postgres -d postgres <<SQL
create role $user login createdb createrole password '$password';
create database $database owner $user template template0 encoding 'UTF8'
    lc_collate 'C' lc_ctype 'C';
SQL

{
    echo "QORV_PG_SERVER=postgresql://127.0.0.1:$port"
    echo "QORV_PG_DATABASE=$database"
    echo "QORV_PG_USER=$user"
    echo "QORV_PG_PASSWORD=$password"
    echo "QORV_PG_DIR=$dir"
} >"$env_file.tmp"
mv "$env_file.tmp" "$env_file"
trap - ERR
echo "PostgreSQL test server on 127.0.0.1:$port ($dir)"
