#!/usr/bin/env bash
# Every example command of the README and the manual pages runs as printed and succeeds, and
# every option that a program's --help lists is described in the README and in its page.
# Examples are the lines of the README's code blocks and of the pages' EXAMPLES sections that
# start with vekmrkenc or vekmrkdec (after an optional VEKMRK_OWNER=...); they run in order, in a
# fresh folder per document that holds song.wav and a marked song-e.wav, with the owner name
# Acme.
#   doc_examples_test.sh <source folder> <vekmrkenc> <vekmrkdec> <vekmrk_genwav>
set -euo pipefail
src=$1
encoder=$2
decoder=$3
genwav=$4
work=$(mktemp -d "${TMPDIR:-/tmp}/vekmrk_examples.XXXXXX")
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/bin"
ln -s "$encoder" "$work/bin/vekmrkenc"
ln -s "$decoder" "$work/bin/vekmrkdec"
export PATH="$work/bin:$PATH"
export VEKMRK_OWNER=Acme
failed=0
program_line='^(cat [^ |]+ [|] )?(VEKMRK_OWNER=[^ ]+ )?vekmrk(enc|dec) '

readme_examples() {
    awk '/^```/ { block = !block; next } block' "$src/README.md" | grep -E "$program_line" |
        grep -v '<infile>' || true
}
# The lines between .nf and .fi of the EXAMPLES section, roff escapes undone, continued lines
# (ending in \e) joined.
page_examples() {
    sed -n '/^\.SH EXAMPLES/,/^\.SH [^E]/p' "$1" |
        awk '/^\.nf/ { on = 1; next } /^\.fi/ { on = 0; next } on' |
        sed -e 's/\\-/-/g' |
        awk '{ if (sub(/\\e$/, "")) { joined = joined $0; next } print joined $0; joined = "" }' |
        grep -E "$program_line" || true
}

"$genwav" "$work/song.wav" 8 44100 2 music >/dev/null
vekmrkenc "$work/song.wav" 0123ABCD "$work/song-e.wav" >/dev/null 2>&1

run_examples() {
    local name=$1 count=0 line
    local dir="$work/$name.d"
    mkdir -p "$dir"
    cp "$work/song.wav" "$work/song-e.wav" "$dir/"
    while IFS= read -r line; do
        count=$((count + 1))
        if ! (cd "$dir" && bash -o pipefail -c "$line") >"$dir/out" 2>&1; then
            echo "FAIL: $name: $line"
            sed 's/^/    /' "$dir/out"
            failed=1
        fi
    done
    if [ "$count" -eq 0 ]; then
        echo "FAIL: $name has no example"
        failed=1
    fi
    echo "$name: $count example(s) run"
}
run_examples README < <(readme_examples)
run_examples vekmrkenc.1 < <(page_examples "$src/docs/man/vekmrkenc.1")
run_examples vekmrkdec.1 < <(page_examples "$src/docs/man/vekmrkdec.1")

# The options of --help ("  -gain <g> ..." lines) in the README and the page.
for program in vekmrkenc vekmrkdec; do
    options=$("$program" --help | grep -oE '^[[:space:]]+-[a-z-]+' | sed 's/^[[:space:]]*//' | sort -u || true)
    [ -n "$options" ] || { echo "FAIL: $program --help lists no option"; failed=1; }
    for option in $options; do
        grep -qF -- "$option" "$src/README.md" || { echo "FAIL: README lacks $program $option"; failed=1; }
        grep -qF -- "${option//-/\\-}" "$src/docs/man/$program.1" ||
            { echo "FAIL: $program.1 lacks $option"; failed=1; }
    done
done
exit $failed
