#!/usr/bin/env bash
# Runs every benchmark of an optimised build and prints each case beside its peer.
# usage: bench/run.sh BUILD_DIR
set -euo pipefail
build=$(cd "${1:-build-bench}" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
"$here/updater.sh" "$build"
"$here/updater_delta.sh" "$build"
"$here/updater_memory.sh" "$build"
"$here/updater_files.sh" "$build"
"$here/updater_signed.sh" "$build"
"$here/updater_clients.sh" "$build"
"$here/lumora.sh" "$build"
"$here/export.sh" "$build"
"$build/bin/lumora_bits_bench" "$build/bin/liblumora.so"
