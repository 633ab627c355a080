#!/usr/bin/env bash
# Runs clang-tidy (checks in .clang-tidy) on the C++ sources that changed since BASE: files
# that differ between BASE and the working tree, and for a changed header its own .cpp. Uses
# the compile commands of BUILD_DIR (any configured build; CMake writes them). Exits non-zero
# when clang-tidy reports anything.
#   tools/tidy-changed.sh [BASE [BUILD_DIR]]
# Without BASE: the merge base with origin/main (or main), so a branch is checked for what it
# adds; where neither exists, or nothing changed, there is nothing to check.
set -euo pipefail
cd "$(dirname "$0")/.."
base=${1:-}
build=${2:-build-test}
jobs=${JOBS:-$(nproc)}

if [ -z "$base" ]; then
    for ref in origin/main main; do
        if git rev-parse -q --verify "$ref^{commit}" >/dev/null; then
            base=$(git merge-base HEAD "$ref") && break
        fi
    done
fi
if [ -z "$base" ]; then
    echo "tidy: no origin/main or main to compare with; nothing checked"
    exit 0
fi
if [ ! -f "$build/compile_commands.json" ]; then
    echo "tidy: $build/compile_commands.json is missing (configure that build first)" >&2
    exit 2
fi

# The sources the compile commands know, as paths relative to the source tree.
mapfile -t known < <(python3 - "$build/compile_commands.json" "$PWD" <<'PY'
import json, os, sys
root = sys.argv[2]
for entry in json.load(open(sys.argv[1])):
    path = os.path.relpath(os.path.join(entry["directory"], entry["file"]), root)
    if not path.startswith(".."):
        print(path)
PY
)
declare -A compiled=()
for f in "${known[@]}"; do compiled[$f]=1; done

files=()
while IFS= read -r changed; do
    case $changed in
    *.cpp) candidate=$changed ;;
    *.h) candidate=${changed%.h}.cpp ;;
    *) continue ;;
    esac
    if [ -n "${compiled[$candidate]:-}" ] && [ -f "$candidate" ]; then
        files+=("$candidate")
    fi
done < <(git diff --name-only --diff-filter=d "$base" -- '*.cpp' '*.h' | sort -u)

if [ ${#files[@]} -eq 0 ]; then
    echo "tidy: no C++ source changed since ${base:0:12}"
    exit 0
fi
echo "tidy: ${#files[@]} source(s) changed since ${base:0:12}"
# GCC's warning options in the compile commands mean nothing to clang's front end.
printf '%s\0' "${files[@]}" | sort -zu |
    xargs -0 -n 1 -P "$jobs" clang-tidy -p "$build" --quiet \
        --extra-arg=-Wno-unknown-warning-option
