#!/usr/bin/env bash
# Runs every libFuzzer target of a fuzz build (see fuzz/CMakeLists.txt) for SECONDS each, from
# the corpus it has gathered so far (kept in BUILD_DIR/fuzz-corpus/TARGET). Stops at the first
# target that finds a crash, a leak or undefined behaviour; the input is left in BUILD_DIR.
# usage: tools/run-fuzz.sh BUILD_DIR SECONDS
set -euo pipefail
build=$(cd "$1" && pwd)
seconds=$2
here=$(cd "$(dirname "$0")/.." && pwd)
targets=(profile_fuzz target_path_fuzz install_journal_fuzz release_manifest_fuzz lumora_urldecode_fuzz
    lumora_hexdecode_fuzz lumora_todec_fuzz lumora_decto_fuzz lumora_elf_fuzz dw_definition_fuzz
    dw_describe_fuzz xlsx_read_fuzz)
export QT_QPA_PLATFORM=offscreen
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1}
export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$here/tests/lsan.supp:print_suppressions=0}
for target in "${targets[@]}"; do
    corpus=$build/fuzz-corpus/$target
    mkdir -p "$corpus"
    echo "fuzz: $target for ${seconds}s"
    (cd "$build" && "$build/bin/$target" -max_total_time="$seconds" -print_final_stats=0 \
        "$corpus" >"$build/$target.log" 2>&1) || {
        tail -n 40 "$build/$target.log" >&2
        echo "fuzz: $target failed (log: $build/$target.log)" >&2
        exit 1
    }
done
