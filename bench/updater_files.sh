#!/usr/bin/env bash
# The updater installing many small files from SQLite: 1,000 files beside 10,000 files, in the
# same run. The time an install takes per file must not grow with the number of files (the
# install journal is appended to, never rewritten per file). Printed: the best wall time of
# QORV_BENCH_RUNS runs each (default 3), the time per file at both sizes and their ratio
# (10,000 over 1,000: 1.0 is linear), and the bytes the updater wrote to its journal (counted
# with strace in one extra run, untimed).
#
# usage: bench/updater_files.sh BUILD_DIR
set -euo pipefail

build=$(cd "$1" && pwd)
bin=$build/bin
runs=${QORV_BENCH_RUNS:-3}
work=$(mktemp -d "${TMPDIR:-/tmp}/qorv-bench-files.XXXXXX")
trap 'rm -rf "$work"' EXIT

# A version of COUNT files of ten bytes, 100 to a directory, published as version 2.
make_version() {
    local count=$1 dir=$2 db=$3
    mkdir -p "$dir"
    (cd "$dir" && for i in $(seq -w 0 $((count - 1))); do
        [ -d "d${i:0:${#i}-2}" ] || mkdir "d${i:0:${#i}-2}"
        printf 'file %s\n' "$i" >"d${i:0:${#i}-2}/f$i.txt"
    done)
    "$bin/qorv_admin" init --server "sqlite:$db" >/dev/null 2>&1
    "$bin/qorv_admin" publish --server "sqlite:$db" --ver 2 --base "$dir" "$dir" >/dev/null 2>&1
}

# A fresh installation of version 1 with the version's directories in place.
fresh_install() {
    local install=$1 versiondir=$2 db=$3
    rm -rf "$install"
    mkdir -p "$install"
    (cd "$versiondir" && find . -mindepth 1 -type d -exec mkdir -p "$install/{}" \;)
    "$bin/qorv_admin" write-ini "$install" --server "sqlite:$db" --database x --user x \
        --password x --ver 1 >/dev/null
}

# timed_install COUNT: one timed install of the version of COUNT files; prints the seconds.
timed_install() {
    local count=$1 install=$work/i$1 start end
    fresh_install "$install" "$work/v$count" "$work/u$count.db"
    sync
    start=$(date +%s.%N)
    (cd "$install" && XDG_RUNTIME_DIR=$work/run "$bin/qorv_update" --update >/dev/null 2>&1)
    end=$(date +%s.%N)
    diff -r -q -x qorv.ini "$work/v$count" "$install" >/dev/null ||
        { echo "$count files: the installation differs from the version" >&2; exit 1; }
    echo "$end - $start" | bc
}

# journal_bytes COUNT: the bytes one install of COUNT files writes to .qorv-journal or its
# scratch copy, counted by strace.
journal_bytes() {
    local count=$1 install=$work/i$1
    fresh_install "$install" "$work/v$count" "$work/u$count.db"
    (cd "$install" && XDG_RUNTIME_DIR=$work/run strace -f -y -e trace=write,pwrite64 \
        -o "$work/strace" "$bin/qorv_update" --update >/dev/null 2>&1)
    grep -E '<[^>]*/\.qorv-journal(\.new)?>' "$work/strace" |
        sed -E 's/.*= ([0-9]+)$/\1/' | awk '{ s += $1 } END { print s + 0 }'
}

best() { printf '%s\n' "$@" | sort -g | head -n 1; }

echo "== updater: many small files (SQLite)"
mkdir -m 700 "$work/run"
for count in 1000 10000; do
    make_version "$count" "$work/v$count" "$work/u$count.db"
    cat "$work/u$count.db" >/dev/null
done
# The two sizes take turns, so that a busy moment of the machine does not favour one.
small=() large=()
for _ in $(seq 1 "$runs"); do
    small+=("$(timed_install 1000)")
    large+=("$(timed_install 10000)")
done
small_time=$(best "${small[@]}")
large_time=$(best "${large[@]}")
small_journal=$(journal_bytes 1000)
large_journal=$(journal_bytes 10000)
awk -v st="$small_time" -v sj="$small_journal" -v lt="$large_time" -v lj="$large_journal" 'BEGIN {
    printf "%-14s %8.2f s   %6.2f ms per file   journal %10d bytes written\n", "1,000 files", st, st, sj
    printf "%-14s %8.2f s   %6.2f ms per file   journal %10d bytes written\n", "10,000 files", lt, lt / 10, lj
    printf "per file, 10,000 over 1,000: %.2f (1.0 is linear)\n", (lt / 10000) / (st / 1000) }'
