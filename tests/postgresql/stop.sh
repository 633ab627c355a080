#!/bin/bash
# Stops the cluster that start.sh described in ENV_FILE and removes it with ENV_FILE.
#
# usage: stop.sh ENV_FILE
set -uo pipefail

env_file=${1:?usage: stop.sh ENV_FILE}
[ -f "$env_file" ] || exit 0
dir=$(sed -n 's/^QORV_PG_DIR=//p' "$env_file")
case "$dir" in
/tmp/qorv-pg.*) ;;
*)
    echo "stop.sh: $env_file names no test cluster" >&2
    rm -f "$env_file"
    exit 1
    ;;
esac

bindir=${QORV_PG_BINDIR:-}
if [ -z "$bindir" ]; then
    for d in /usr/lib/postgresql/*/bin; do
        [ -x "$d/pg_ctl" ] && bindir=$d
    done
fi
if [ -d "$dir/data" ] && [ -n "$bindir" ]; then
    if [ "$(id -u)" -eq 0 ]; then
        (cd "$dir" && runuser -u postgres -- "$bindir/pg_ctl" -D "$dir/data" -m fast -w stop) >/dev/null
    else
        (cd "$dir" && "$bindir/pg_ctl" -D "$dir/data" -m fast -w stop) >/dev/null
    fi
fi
rm -rf "$dir"
rm -f "$env_file"
