#!/usr/bin/env bash
# Checks that every tracked C and C++ file is formatted as .clang-format says; prints the places
# that differ. `clang-format -i FILE` fixes a file.
# usage: tools/check-format.sh [SOURCE_DIR]
set -euo pipefail
cd "${1:-.}"
if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
    mapfile -d '' files < <(git ls-files -z -- '*.c' '*.cc' '*.cpp' '*.h' '*.hpp')
else
    # A tree without git (an unpacked release): every source outside the build directories.
    mapfile -d '' files < <(find . -name 'build*' -prune -o \
        \( -name '*.c' -o -name '*.cc' -o -name '*.cpp' -o -name '*.h' -o -name '*.hpp' \) -print0)
fi
[ ${#files[@]} -gt 0 ] || exit 0
clang-format --dry-run --Werror "${files[@]}"
