#!/usr/bin/env bash
# lumora's two grid exports beside their peers, measured in the same run: a grid of 100,000 rows
# x 10 columns (Chinese texts, numbers, a code table, a computed field) exported by
# dw_saveas_exl and uf_dwsaveas_excel, beside plain libxlsxwriter loops writing the same cells
# (constant-memory mode: the floor, as the exports write rows in order; default mode) and
# openpyxl's write-only mode. Each case runs in its own process (QORV_BENCH_RUNS times, default 3,
# the cases taking turns); printed are the best wall time of the writing alone, the peak resident memory of the process,
# what the export added to the peak the grid had reached before it, and the ratios time /
# constant-memory loop, time / default loop and openpyxl time / time.
#
# usage: bench/export.sh BUILD_DIR [ROWS]
set -euo pipefail

build=$(cd "$1" && pwd)
rows=${2:-100000}
here=$(cd "$(dirname "$0")" && pwd)
runs=${QORV_BENCH_RUNS:-3}
work=$(mktemp -d "${TMPDIR:-/tmp}/export-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT

# The cases take turns, run after run, so that a change in the machine's load meets all of them
# alike; kept per case is its best time and the peak memory of that run.
cases=(libxlsxwriter_cm libxlsxwriter openpyxl dw_saveas_exl uf_dwsaveas_excel)
run_case() { # CASE: prints "SECONDS PEAK_KIB BEFORE_KIB"
    rm -f "$work/out.xlsx"
    if [ "$1" = openpyxl ]; then
        /usr/bin/python3 "$here/export_peer.py" "$work/out.xlsx" "$rows"
    else
        "$build/bin/export_bench" "$1" "$work/out.xlsx" "$rows"
    fi 2>/dev/null | cut -d' ' -f2-
}
declare -A best_time best_mem best_before
for _ in $(seq "$runs"); do
    for name in "${cases[@]}"; do
        read -r seconds peak before < <(run_case "$name")
        if [ -z "${best_time[$name]:-}" ] ||
            awk -v a="$seconds" -v b="${best_time[$name]}" 'BEGIN { exit !(a < b) }'; then
            best_time[$name]=$seconds
            best_mem[$name]=$peak
            best_before[$name]=${before:-0}
        fi
    done
done
for name in "${cases[@]}"; do
    echo "$name ${best_time[$name]} ${best_mem[$name]} ${best_before[$name]}"
done >"$work/results.txt"

echo "lumora export, $rows rows x 10 columns (load average $(cut -d' ' -f1-3 /proc/loadavg)):"
echo "case, time, peak memory, added to the peak before, time / constant-memory loop," \
    "time / default loop, openpyxl time / time"
awk '{ t[$1] = $2; m[$1] = $3; b[$1] = $4; order[NR] = $1 }
    END {
        for (i = 1; i <= NR; ++i) {
            n = order[i]
            added = b[n] > 0 ? sprintf("%+8.1f MB", (m[n] - b[n]) / 1024) : "        -   "
            printf "%-18s %8.3f s %8.1f MB %s   %5.2fx   %5.2fx   %5.2fx\n", n, t[n], m[n] / 1024,
                added, t[n] / t["libxlsxwriter_cm"], t[n] / t["libxlsxwriter"], t["openpyxl"] / t[n]
        }
    }' "$work/results.txt"
