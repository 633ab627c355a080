#!/usr/bin/env bash
# lumora's two grid exports beside their peers, measured in the same run: a grid of 100,000 rows
# x 10 columns (Chinese texts, numbers, a code table, a computed field) exported by
# dw_saveas_exl and uf_dwsaveas_excel, beside plain libxlsxwriter loops writing the same cells
# (constant-memory mode: the floor, as the exports write rows in order; default mode) and
# openpyxl's write-only mode. Each case runs in its own process (QORV_BENCH_RUNS times, default 3);
# printed are the best wall time of the writing alone, the peak resident memory of the process,
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

best() { # CASE COMMAND...: best time and the peak memory of that run
    local name=$1 best_time=inf best_mem=0 best_before=0
    shift
    for _ in $(seq "$runs"); do
        rm -f "$work/out.xlsx"
        read -r _ seconds peak before < <("$@" "$work/out.xlsx" "$rows" 2>/dev/null)
        if awk -v a="$seconds" -v b="$best_time" 'BEGIN { exit !(b == "inf" || a < b) }'; then
            best_time=$seconds
            best_mem=$peak
            best_before=${before:-0}
        fi
    done
    echo "$name $best_time $best_mem $best_before"
}

{
    best libxlsxwriter_cm "$build/bin/export_bench" libxlsxwriter_cm
    best libxlsxwriter "$build/bin/export_bench" libxlsxwriter
    best openpyxl /usr/bin/python3 "$here/export_peer.py"
    best dw_saveas_exl "$build/bin/export_bench" dw_saveas_exl
    best uf_dwsaveas_excel "$build/bin/export_bench" uf_dwsaveas_excel
} >"$work/results.txt"

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
