#!/usr/bin/env bash
# Checks that every C++ file under version control is formatted with the root .clang-format
# (clang-format 14); with --fix, formats them in place instead.
#   scripts/format.sh [--fix]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
formatter=${CLANG_FORMAT:-clang-format-14}
if ! command -v "$formatter" >/dev/null 2>&1; then
    echo "error: $formatter not found (Debian package clang-format-14)" >&2
    exit 1
fi
mapfile -t files < <(git ls-files -- '*.cpp' '*.h')
if [ "${1:-}" = "--fix" ]; then
    "$formatter" -i -- "${files[@]}"
    exit 0
fi
bad=()
for f in "${files[@]}"; do
    if ! "$formatter" --dry-run --Werror -- "$f" >/dev/null 2>&1; then
        bad+=("$f")
    fi
done
if [ ${#bad[@]} -gt 0 ]; then
    echo "error: not formatted (run scripts/format.sh --fix or make format):" >&2
    printf '  %s\n' "${bad[@]}" >&2
    exit 1
fi
echo "Formatting: ${#files[@]} files clean." >&2
