#!/usr/bin/env bash
# The manual pages format without a single groff warning, and each command's page names every
# option that the program's own usage text shows.
#   man_pages_test.sh <docs/man folder> <vekmrkenc> <vekmrkdec>
set -euo pipefail
pages=$1
encoder=$2
decoder=$3
failed=0

for page in "$pages"/*.1; do
    warnings=$(LC_ALL=C.UTF-8 groff -man -Tutf8 -ww -z "$page" 2>&1 || echo "groff failed")
    if [ -n "$warnings" ]; then
        echo "FAIL: $page: $warnings"
        failed=1
    fi
done

# The options of a program's usage text ("\t-layer\t...", "[options]") and its page's
# "\-layer" spellings.
check_options() {
    local program=$1 page=$2 option
    local usage
    usage=$("$program" 2>&1 >/dev/null || true)
    local options
    options=$(printf '%s\n' "$usage" | grep -oE '^[[:space:]]+-[a-z]+' | sed 's/^[[:space:]]*//' | sort -u)
    if [ -z "$options" ]; then
        echo "FAIL: no options found in the usage text of $program"
        failed=1
    fi
    for option in $options; do
        if ! grep -qF "\\$option" "$page"; then
            echo "FAIL: $page does not describe $option"
            failed=1
        fi
    done
}
check_options "$encoder" "$pages/vekmrkenc.1"
check_options "$decoder" "$pages/vekmrkdec.1"

exit $failed
