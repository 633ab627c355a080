#!/usr/bin/env bash
# What checking the publisher's signature adds to an update: a signed version of 200 files
# (1 GiB) on PostgreSQL, installed into an empty installation by an updater that holds the
# publisher key (the release record is read, its signature and manifest checked, every file
# matched against it) beside one that holds none (the same server, the same files, nothing
# checked against a signature). The two alternate, QORV_BENCH_RUNS times each (default 7), the
# order swapped every other round so that a drift of the machine weighs on both alike. Printed:
# the best and the median wall time and processor time (user + system) of each, and what the
# check adds to each. The updates' wall times swing with the disk's flushes, more so on a shared
# machine; the processor time of the updater shows its own work. Then the work of the check
# alone, which is all the updater does besides comparing each file with the manifest (the
# SHA-256 of every file is computed with or without a key): `qorv_update --check` with the key
# (reads the record, verifies the signature and the manifest against the server's list) beside
# `--check` without it, 21 runs each, as milliseconds and as a share of the median update.
#
# Disk below $TMPDIR: the 1 GiB installation of one run at a time (the cluster's copy lives
# below /tmp); the published files are removed once stored.
#
# usage: bench/updater_signed.sh BUILD_DIR
set -euo pipefail

build=$(cd "$1" && pwd)
bin=$build/bin
root=$(cd "$(dirname "$0")/.." && pwd)
runs=${QORV_BENCH_RUNS:-7}
work=$(mktemp -d "${TMPDIR:-/tmp}/qorv-bench-signed.XXXXXX")
pg_env=$work/pg.env
cleanup() {
    [ -f "$pg_env" ] && "$root/tests/postgresql/stop.sh" "$pg_env" >/dev/null 2>&1 || true
    rm -rf "$work"
}
trap cleanup EXIT

"$root/tests/postgresql/start.sh" "$pg_env" >/dev/null
# shellcheck disable=SC1090
source "$pg_env"
database=(--server "$QORV_PG_SERVER" --database "$QORV_PG_DATABASE" --user "$QORV_PG_USER"
    --password "$QORV_PG_PASSWORD")

echo "== updater: verifying a signed release (PostgreSQL, 200 files, 1 GiB)"
"$bin/qorv_admin" init "${database[@]}" >/dev/null 2>&1
pubkey=$("$bin/qorv_admin" keygen "$work" 2>/dev/null)
mkdir "$work/release"
size=$((1024 * 1024 * 1024 / 200))
for i in $(seq -w 1 200); do head -c "$size" /dev/urandom >"$work/release/file$i.bin"; done
(cd "$work/release" && sha256sum ./*.bin) >"$work/sums"
"$bin/qorv_admin" publish "${database[@]}" --ver 2 --base "$work/release" \
    --sign "$work/qorv-release.key" "$work/release" >/dev/null 2>&1
rm -rf "$work/release"
mkdir -m 700 "$work/run"

# one_run KIND: installs version 2 into an empty installation; prints the wall seconds and the
# processor seconds.
one_run() {
    local kind=$1 install=$work/install
    rm -rf "$install"
    mkdir "$install"
    local key=()
    [ "$kind" = signed ] && key=(--pubkey "$pubkey")
    "$bin/qorv_admin" write-ini "$install" "${database[@]}" --ver 1 "${key[@]}" >/dev/null
    # No gigabyte of earlier writes still queued for the disk holds up this run's flushes.
    sync
    (cd "$install" && XDG_RUNTIME_DIR=$work/run /usr/bin/time -f '%e %U %S' -o "$work/time" \
        "$bin/qorv_update" --update >/dev/null 2>&1)
    awk '{ printf "%s %.2f\n", $1, $2 + $3 }' "$work/time"
    (cd "$install" && sha256sum --quiet -c "$work/sums") ||
        { echo "$kind: the installed files differ" >&2; exit 1; }
    [ "$kind" = unsigned ] || grep -q '^pubkey=' "$install/qorv.ini"
    rm -rf "$install"
}

: >"$work/signed"
: >"$work/unsigned"
for round in $(seq 1 "$runs"); do
    echo "  round $round of $runs" >&2
    if [ $((round % 2)) -eq 1 ]; then order=(unsigned signed); else order=(signed unsigned); fi
    for kind in "${order[@]}"; do one_run "$kind" >>"$work/$kind"; done
done
# stats FILE COLUMN: the best and the median of one column.
stats() { cut -d ' ' -f "$2" "$1" | sort -g | awk '{ v[NR] = $1 } END {
    printf "%.3f %.3f", v[1], (NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2) }'; }
read -r uwb uwm <<<"$(stats "$work/unsigned" 1)"
read -r swb swm <<<"$(stats "$work/signed" 1)"
read -r ucb ucm <<<"$(stats "$work/unsigned" 2)"
read -r scb scm <<<"$(stats "$work/signed" 2)"
# The rounds paired: signed minus unsigned within each round, whose median drifts least.
paired=$(paste -d ' ' "$work/signed" "$work/unsigned" | awk '{ print $1 - $3 }' | sort -g |
    awk '{ v[NR] = $1 } END { print (NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2) }')
awk -v uwb="$uwb" -v uwm="$uwm" -v swb="$swb" -v swm="$swm" -v ucb="$ucb" -v ucm="$ucm" -v p="$paired" \
    -v scb="$scb" -v scm="$scm" -v n="$runs" 'BEGIN {
    f = "%-32s wall best %6.2f s, median %6.2f s;  processor best %5.2f s, median %5.2f s\n"
    printf f, "without a key (peer)", uwb, uwm, ucb, ucm
    printf f, "with the key, signature checked", swb, swm, scb, scm
    printf "verifying adds: wall %+.2f%% (best), %+.2f%% (median); processor %+.2f%% (best), %+.2f%% (median); %d runs each\n",
           (swb / uwb - 1) * 100, (swm / uwm - 1) * 100, (scb / ucb - 1) * 100, (scm / ucm - 1) * 100, n
    printf "median of the paired differences (signed - unsigned, same round): %+.2f s, %+.2f%%\n", p, p / uwm * 100 }'

# The check alone: --check against the same server, with and without the key.
mkdir "$work/check"
"$bin/qorv_admin" write-ini "$work/check" "${database[@]}" --ver 1 >/dev/null
check_once() { # check_once KIND: prints the wall milliseconds of one --check
    if [ "$1" = signed ]; then
        "$bin/qorv_admin" write-ini "$work/check" "${database[@]}" --ver 1 --pubkey "$pubkey" >/dev/null
    else
        sed -i '/^pubkey=/d' "$work/check/qorv.ini"
    fi
    local start end
    start=$(date +%s%N)
    (cd "$work/check" && XDG_RUNTIME_DIR=$work/run "$bin/qorv_update" --check >"$work/check.out")
    end=$(date +%s%N)
    [ "$1" = unsigned ] || grep -q '发布者签名已验证' "$work/check.out"
    echo $(((end - start) / 1000))
}
: >"$work/check-signed"
: >"$work/check-unsigned"
for round in $(seq 1 21); do
    check_once unsigned >>"$work/check-unsigned"
    check_once signed >>"$work/check-signed"
done
read -r _ cu <<<"$(stats "$work/check-unsigned" 1)"
read -r _ cs <<<"$(stats "$work/check-signed" 1)"
awk -v cu="$cu" -v cs="$cs" -v um="$uwm" 'BEGIN {
    printf "--check: %.1f ms without a key, %.1f ms with it (medians of 21): the check costs %.1f ms, %.3f%% of the median update\n",
           cu / 1000, cs / 1000, (cs - cu) / 1000, (cs - cu) / 1e6 / um * 100 }'
