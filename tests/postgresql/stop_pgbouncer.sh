#!/bin/bash
# Stops the PgBouncer that start_pgbouncer.sh described in ENV_FILE and removes its directory
# with ENV_FILE.
#
# usage: stop_pgbouncer.sh ENV_FILE
set -uo pipefail

env_file=${1:?usage: stop_pgbouncer.sh ENV_FILE}
[ -f "$env_file" ] || exit 0
dir=$(sed -n 's/^QORV_PGBOUNCER_DIR=//p' "$env_file")
case "$dir" in
/tmp/qorv-pgbouncer.*) ;;
*)
    echo "stop_pgbouncer.sh: $env_file names no test PgBouncer" >&2
    rm -f "$env_file"
    exit 1
    ;;
esac
if [ -f "$dir/pgbouncer.pid" ]; then
    pid=$(cat "$dir/pgbouncer.pid")
    kill "$pid" 2>/dev/null
    for _ in $(seq 1 50); do
        kill -0 "$pid" 2>/dev/null || break
        sleep 0.1
    done
fi
rm -rf "$dir"
rm -f "$env_file"
