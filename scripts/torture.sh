#!/usr/bin/env bash
# The attack campaign against vekmrkenc and vekmrkdec: malformed headers (truncations at every
# offset, size fields, channels, rates, formats, chunk layouts, random mutations), memory use on
# small inputs, command-line fuzz, signals during each stage, a full disk, read-only places,
# links and special files as outputs and logs. Prints the cases tried and passed per category
# and exits non-zero when any case failed. Not part of the quick tests; takes several minutes.
#   scripts/torture.sh [--quick] [--seed N]
# Crashes and memory errors are caught by an ASan + UBSan build (build-torture/); memory use is
# measured on the release build (build-demo/). A failed case keeps its files under
# out/torture/failed/ with a line in out/torture/failures.txt saying what went wrong.
# Some categories need root (device nodes, a small disk, a read-only mount); without it those
# cases are skipped and counted as such.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/scripts/setup.sh"

quick=0
seed=1
while [ $# -gt 0 ]; do
    case "$1" in
    --quick) quick=1 ;;
    --seed) seed=$2; shift ;;
    *) echo "usage: $0 [--quick] [--seed N]" >&2; exit 1 ;;
    esac
    shift
done
mutations=400 fuzz_lines=300 fractions="0 0.02 0.1 0.4 0.7 0.9 0.97"
[ "$quick" = 1 ] && mutations=60 fuzz_lines=60 fractions="0.02 0.5 0.95"

vekmrk_need_packages cmake make g++ python3 time coreutils util-linux gawk || exit 1
set -e
san="$root/build-torture"
cmake -S "$root" -B "$san" -DCMAKE_BUILD_TYPE=Debug -DVEKMRK_SANITIZE=ON \
    -DVEKMRK_BUILD_FRONTEND=OFF >/dev/null
cmake --build "$san" -j"$(vekmrk_jobs)" --target vekmrkenc vekmrkdec vekmrk_genwav >/dev/null
rel="$root/build-demo"
vekmrk_build_programs "$root" "$rel"
set +e
enc="$san/encoder/vekmrkenc" dec="$san/decoder/vekmrkdec" genwav="$san/tests/support/vekmrk_genwav"
enc_rel="$rel/encoder/vekmrkenc" dec_rel="$rel/decoder/vekmrkdec"

work="$root/out/torture"
rm -rf "$work"
mkdir -p "$work/failed" "$work/inputs"
: >"$work/failures.txt"
# A huge allocation fails instead of taking the machine's memory; leaks are reported.
export ASAN_OPTIONS=allocator_may_return_null=1:max_allocation_size_mb=2048:detect_leaks=1
export UBSAN_OPTIONS=print_stacktrace=1
export VEKMRK_OWNER=TortureOwner
is_root=0
[ "$(id -u)" = 0 ] && is_root=1
set -m # background jobs keep SIGINT, as programs started from a terminal do

declare -A tried passed skipped
categories=()
note_category() {
    local c=$1
    if [ -z "${tried[$c]+x}" ]; then
        categories+=("$c")
        tried[$c]=0 passed[$c]=0 skipped[$c]=0
    fi
}
skip() { note_category "$1"; skipped[$1]=$((skipped[$1] + ${2:-1})); }

# One case: $1 category, $2 description, $3 case folder; `problems` holds what went wrong.
problems=()
verdict() {
    local category=$1 what=$2 dir=$3
    note_category "$category"
    tried[$category]=$((tried[$category] + 1))
    if [ ${#problems[@]} -eq 0 ]; then
        passed[$category]=$((passed[$category] + 1))
    else
        local keep
        keep="$work/failed/$(printf '%s' "$category-$what" | tr -c 'A-Za-z0-9_.-' '_')"
        cp -a "$dir" "$keep" 2>/dev/null
        printf '%s | %s | %s\n' "$category" "$what" "${problems[*]}" >>"$work/failures.txt"
    fi
    problems=()
}

# Runs a program with a time limit in the case folder: $1 folder, then the command. Sets rc;
# stdout and stderr go to folder/stdout and folder/stderr.
run_in() {
    local dir=$1
    shift
    (cd "$dir" && timeout -k 5 120 "$@" >"$dir/stdout" 2>"$dir/stderr" </dev/null)
    rc=$?
}

# What every run must do, however it ends.
check_run() { # $1 folder, $2 allowed exit codes ("0 10 11"), [$3 log file]
    local dir=$1 allowed=" $2 " log=${3:-}
    [ "$rc" = 124 ] || [ "$rc" = 137 ] && problems+=("hung (killed after 120 s)")
    [[ $allowed == *" $rc "* ]] || problems+=("exit $rc, expected one of$allowed")
    grep -qE 'ERROR: (AddressSanitizer|LeakSanitizer)|runtime error:' "$dir/stderr" 2>/dev/null &&
        problems+=("sanitizer report")
    local debris
    debris=$(find "$dir" -name '.*vekmrk*' -o -name '*.tmp' 2>/dev/null | head -3)
    [ -n "$debris" ] && problems+=("temporary files left: $debris")
    if [ -n "$log" ] && [ -f "$log" ]; then
        local status
        status=$(head -c 4 "$log" | tr -d ' ')
        if [ "$rc" = 0 ] && [ "$status" != 1000 ]; then
            problems+=("log status $status after exit 0")
        elif [ "$rc" != 0 ] && [ "$rc" != 1 ] && [ "$status" != "-$rc" ]; then
            problems+=("log status '$status' after exit $rc")
        fi
    fi
}

gen() { "$genwav" "$@" >/dev/null 2>&1 || { echo "cannot generate $1" >&2; exit 1; }; }
gen "$work/inputs/valid.wav" 1 22050 2 music
gen "$work/inputs/song.wav" 10 22050 1 music
gen "$work/inputs/long.wav" 20 44100 2 music
gen "$work/inputs/loud.wav" 20 44100 2 music 0.99
gen "$work/inputs/short.wav" 3 22050 2 music
python3 "$root/scripts/torture_cases.py" "$work/cases" "$work/inputs/valid.wav" \
    "$work/inputs/song.wav" "$mutations" "$seed" || exit 1

# --- Malformed headers through both programs (sanitizer build) ------------------------------
n=0
for folder in truncations size_fields channels rates formats chunk_layouts mutations; do
    category=${folder//_/ }
    for file in "$work/cases/$folder"/*.wav; do
        name=$(basename "$file" .wav)
        d="$work/case$((n++))"
        mkdir -p "$d"
        run_in "$d" "$enc" -logfile "$d/enc.log" "$file" 0123 "$d/out.wav"
        check_run "$d" "0 3 4 10 11 20" "$d/enc.log"
        [ "$rc" != 0 ] && [ -e "$d/out.wav" ] && problems+=("failed run left out.wav")
        run_in "$d" "$dec" -logfile "$d/dec.log" "$file"
        check_run "$d" "0 3 4 10 11" "$d/dec.log"
        verdict "$category" "$name" "$d"
        rm -rf "$d"
    done
done

# --- Memory on inputs under 1 MB (release build, peak resident memory) ----------------------
for file in "$work/cases/memory"/*.wav; do
    name=$(basename "$file" .wav)
    d="$work/case$((n++))"
    mkdir -p "$d"
    for prog in "$enc_rel" "$dec_rel"; do
        args=("$file")
        [ "$prog" = "$enc_rel" ] && args=("$file" 0123 "$d/out.wav")
        # Virtual memory capped at 4 GB so that a failure cannot take the machine's memory.
        (cd "$d" && ulimit -v 4000000 && timeout -k 5 120 /usr/bin/time -f '%M' -o "$d/rss" \
            "$prog" "${args[@]}" >"$d/stdout" 2>"$d/stderr")
        rc=$?
        # Running out of memory on a small input is the failure this category looks for.
        check_run "$d" "0 4 10 11 20"
        rss=$(tail -n 1 "$d/rss" 2>/dev/null)
        [[ $rss =~ ^[0-9]+$ ]] && [ "$rss" -le 102400 ] ||
            problems+=("$(basename "$prog") used ${rss:-?} KB")
    done
    verdict "memory (100 MB)" "$name" "$d"
    rm -rf "$d"
done

# --- Command-line fuzz ----------------------------------------------------------------------
d="$work/cli"
mkdir -p "$d/dir"
cp "$work/inputs/short.wav" "$d/in.wav"
before=$(sha256sum <"$d/in.wav")
long=$(head -c 5000 /dev/zero | tr '\0' 'A')
hex200=$(head -c 200 /dev/zero | tr '\0' '7')
words=(-logfile -logfile -layer -layer public private -gain -rawbr -addts 0 1 -1 2.5 1e309 nan
    inf -inf 0x10 "(" ")" "[-layer,private]" "" " " - -- -h --help --version "$long" "$hex200"
    in.wav in.wav in.wav "$d/in.wav" missing.wav dir out.wav out.wav log.txt log.txt 0123
    ABCDEFG "%s%n%x" $'\x01\x02' "é" TortureOwner ycianjkiuncopltq "a b" $'line\nfeed')
RANDOM=$seed
for prog in enc dec; do
    for ((i = 0; i < fuzz_lines; i++)); do
        count=$((RANDOM % 9))
        args=()
        for ((j = 0; j < count; j++)); do args+=("${words[RANDOM % ${#words[@]}]}"); done
        rm -rf "$d/out.wav" "$d/log.txt"
        if [ $prog = enc ]; then
            run_in "$d" "$enc" "${args[@]}"
            check_run "$d" "0 1 3 4 10 11 20" "$d/log.txt"
        else
            run_in "$d" "$dec" "${args[@]}"
            check_run "$d" "0 1 3 4 10 11" "$d/log.txt"
        fi
        # The run's own input must never change (another file may be named as the log).
        input_word=""
        if [ $prog = enc ] && [ $count -ge 3 ]; then input_word=${args[count - 3]}; fi
        if [ $prog = dec ] && [ $count -ge 1 ]; then input_word=${args[count - 1]}; fi
        if [ "$(sha256sum <"$d/in.wav")" != "$before" ]; then
            [ "$input_word" = in.wav ] || [ "$input_word" = "$d/in.wav" ] &&
                problems+=("the input changed")
            cp "$work/inputs/short.wav" "$d/in.wav"
        fi
        [ -d "$d/dir" ] || { problems+=("a folder was replaced"); rm -f "$d/dir"; mkdir "$d/dir"; }
        verdict "command-line fuzz" "$prog $(printf '%q ' "${args[@]}" | head -c 300)" "$d"
    done
done

# --- Signals during each stage --------------------------------------------------------------
# The run's length is measured once; signals then arrive at fractions of it, from the start-up
# to the last write. A run that ends before its signal must have ended well.
signal_case() { # $1 program (enc|dec), $2 signal, $3 delay in seconds, $4 input
    local prog=$1 sig=$2 delay=$3 input=$4 d="$work/case$((n++))" pid number
    mkdir -p "$d"
    printf 'keep' >"$d/out.wav"
    if [ "$prog" = enc ]; then
        (cd "$d" && exec "$enc" -logfile "$d/run.log" -layer private "$input" 0123 "$d/out.wav" \
            >"$d/stdout" 2>"$d/stderr") &
    else
        (cd "$d" && exec "$dec" -logfile "$d/run.log" "$input" >"$d/stdout" 2>"$d/stderr") &
    fi
    pid=$!
    sleep "$delay"
    kill -s "$sig" "$pid" 2>/dev/null
    wait "$pid"
    rc=$?
    number=$(($(kill -l "$sig") + 128))
    if [ "$rc" = 0 ]; then
        check_run "$d" "0" "$d/run.log"
    else
        check_run "$d" "$number" "$d/run.log"
        [ -f "$d/run.log" ] && [ "$(head -c 4 "$d/run.log" | tr -d ' ')" != "-$number" ] &&
            problems+=("log does not end with -$number")
        [ "$prog" = enc ] && [ "$(cat "$d/out.wav")" != keep ] && problems+=("out.wav changed")
    fi
    verdict "signals" "$prog $sig after ${delay}s" "$d"
    rm -rf "$d"
}
for prog in enc dec; do
    for input in "$work/inputs/long.wav" "$work/inputs/loud.wav"; do
        d="$work/timing"
        mkdir -p "$d"
        start=$(date +%s.%N)
        if [ $prog = enc ]; then
            run_in "$d" "$enc" -layer private "$input" 0123 "$d/out.wav"
        else
            run_in "$d" "$dec" "$input"
        fi
        length=$(awk -v a="$start" -v b="$(date +%s.%N)" 'BEGIN { print b - a }')
        rm -rf "$d"
        for fraction in $fractions; do
            delay=$(awk -v a="$length" -v f="$fraction" 'BEGIN { printf "%.3f", a * f }')
            for sig in INT TERM HUP; do
                signal_case $prog $sig "$delay" "$input"
            done
        done
    done
done

# --- A full disk, a file-size limit ---------------------------------------------------------
d="$work/case$((n++))"
mkdir -p "$d/small"
if [ $is_root = 1 ] && mount -t tmpfs -o size=256k tmpfs "$d/small" 2>/dev/null; then
    printf 'keep' >"$d/small/out.wav"
    run_in "$d" "$enc" -logfile "$d/run.log" "$work/inputs/short.wav" 0123 "$d/small/out.wav"
    check_run "$d" "20" "$d/run.log"
    [ "$(cat "$d/small/out.wav")" = keep ] || problems+=("out.wav changed")
    [ "$(ls -A "$d/small" | wc -l)" = 1 ] || problems+=("files left on the full disk")
    verdict "disk full" "output on a 256 KiB disk" "$d"
    # The log on the full disk: the program still reports its own outcome.
    head -c 250000 /dev/zero >"$d/small/filler" 2>/dev/null
    run_in "$d" "$dec" -logfile "$d/small/run.log" "$work/inputs/short.wav"
    check_run "$d/small" "0"
    verdict "disk full" "log on a full disk" "$d"
    umount "$d/small"
else
    skip "disk full" 2
fi
rm -rf "$d"
d="$work/case$((n++))"
mkdir -p "$d"
run_in "$d" bash -c "ulimit -f 200 && exec \"\$0\" \"\$@\"" "$enc" -logfile "$d/run.log" \
    "$work/inputs/short.wav" 0123 "$d/out.wav"
check_run "$d" "20" "$d/run.log"
[ -e "$d/out.wav" ] && problems+=("out.wav left")
verdict "disk full" "file-size limit of 100 KiB (SIGXFSZ)" "$d"
rm -rf "$d"
if [ $is_root = 1 ]; then
    d="$work/case$((n++))"
    mkdir -p "$d"
    mknod "$d/full" c 1 7
    run_in "$d" "$enc" -logfile "$d/run.log" "$work/inputs/short.wav" 0123 "$d/full"
    check_run "$d" "20" "$d/run.log"
    [ -c "$d/full" ] || problems+=("the device was replaced")
    verdict "disk full" "output to a device that is always full" "$d"
    rm -rf "$d"
else
    skip "disk full"
fi

# --- Read-only places -----------------------------------------------------------------------
d="$work/case$((n++))"
mkdir -p "$d/ro"
cp "$work/inputs/short.wav" "$d/ro/in.wav"
printf 'keep' >"$d/ro/out.wav"
readonly_ok=0
if [ $is_root = 1 ]; then
    mount --bind "$d/ro" "$d/ro" 2>/dev/null && mount -o remount,bind,ro "$d/ro" 2>/dev/null &&
        readonly_ok=1
else
    chmod a-w "$d/ro" && readonly_ok=1
fi
if [ $readonly_ok = 1 ]; then
    run_in "$d" "$enc" -logfile "$d/run.log" "$d/ro/in.wav" 0123 "$d/ro/out.wav"
    check_run "$d" "20" "$d/run.log"
    [ "$(cat "$d/ro/out.wav")" = keep ] || problems+=("out.wav changed")
    verdict "read-only places" "output in a read-only folder" "$d"
    run_in "$d" "$enc" -logfile "$d/run.log" "$d/ro/in.wav" 0123 "$d/new.wav"
    check_run "$d" "0" "$d/run.log"
    verdict "read-only places" "input in a read-only folder" "$d"
    run_in "$d" "$dec" -logfile "$d/ro/run.log" "$d/ro/in.wav"
    check_run "$d" "0"
    [ -e "$d/ro/run.log" ] && problems+=("a log appeared in the read-only folder")
    verdict "read-only places" "log in a read-only folder" "$d"
    if [ $is_root = 1 ]; then umount "$d/ro"; else chmod u+w "$d/ro"; fi
else
    skip "read-only places" 3
fi
rm -rf "$d"

# --- Links and special files as outputs and logs --------------------------------------------
short="$work/inputs/short.wav"
new_case() { d="$work/case$((n++))"; mkdir -p "$d"; }

new_case
printf 'old' >"$d/target.wav"
ln -s target.wav "$d/link.wav"
run_in "$d" "$enc" "$short" 0123 "$d/link.wav"
check_run "$d" "0"
[ -L "$d/link.wav" ] || problems+=("the link was replaced")
[ "$(head -c 4 "$d/target.wav")" = RIFF ] || problems+=("the link's target was not written")
verdict "links and special files" "output: a link to a file" "$d"

new_case
mkdir -p "$d/sub"
ln -s sub/made.wav "$d/dangling.wav"
run_in "$d" "$enc" "$short" 0123 "$d/dangling.wav"
check_run "$d" "0"
[ -L "$d/dangling.wav" ] || problems+=("the link was replaced")
[ "$(head -c 4 "$d/sub/made.wav" 2>/dev/null)" = RIFF ] || problems+=("the target was not created")
verdict "links and special files" "output: a dangling link" "$d"

new_case
mkfifo "$d/pipe.wav"
(cat "$d/pipe.wav" >"$d/received.wav") &
reader=$!
run_in "$d" "$enc" "$short" 0123 "$d/pipe.wav"
check_run "$d" "0"
wait $reader
[ -p "$d/pipe.wav" ] || problems+=("the pipe was replaced")
run_in "$d" "$dec" "$d/received.wav"
[ "$rc" = 0 ] || problems+=("the pipe's reader did not get a readable WAV file")
verdict "links and special files" "output: a named pipe with a reader" "$d"

new_case
mkdir "$d/folder.wav"
run_in "$d" "$enc" "$short" 0123 "$d/folder.wav"
check_run "$d" "20"
[ -d "$d/folder.wav" ] || problems+=("the folder was replaced")
verdict "links and special files" "output: a folder" "$d"

new_case
printf 'old' >"$d/other.wav"
ln "$d/other.wav" "$d/out.wav"
run_in "$d" "$enc" "$short" 0123 "$d/out.wav"
check_run "$d" "0"
[ "$(head -c 4 "$d/out.wav")" = RIFF ] || problems+=("out.wav not written")
grep -q "hard link" "$d/stderr" || problems+=("no word on the split hard link")
verdict "links and special files" "output: a file with another hard link" "$d"

if [ $is_root = 1 ]; then
    new_case
    mknod "$d/null" c 1 3
    run_in "$d" "$enc" -logfile "$d/run.log" "$short" 0123 "$d/null"
    check_run "$d" "0" "$d/run.log"
    [ -c "$d/null" ] || problems+=("the device was replaced")
    verdict "links and special files" "output: a device (null)" "$d"

    new_case
    printf 'old' >"$d/theirs.wav"
    chown 65534:65534 "$d/theirs.wav"
    chmod 640 "$d/theirs.wav"
    run_in "$d" "$enc" "$short" 0123 "$d/theirs.wav"
    check_run "$d" "0"
    [ "$(stat -c '%u:%g %a' "$d/theirs.wav")" = "65534:65534 640" ] ||
        problems+=("owner or permissions not kept: $(stat -c '%u:%g %a' "$d/theirs.wav")")
    verdict "links and special files" "output: another user's file" "$d"
else
    skip "links and special files" 2
fi

for kind in link dangling pipe folder device; do
    new_case
    printf 'precious' >"$d/out.wav"
    case $kind in
    link) ln -s out.wav "$d/run.log" ;;
    dangling) ln -s made.txt "$d/run.log" ;;
    pipe) mkfifo "$d/run.log" ;;
    folder) mkdir "$d/run.log" ;;
    device)
        [ $is_root = 1 ] || { skip "links and special files"; continue; }
        mknod "$d/run.log" c 1 3
        ;;
    esac
    for prog in enc dec; do
        rm -f "$d/new.wav"
        if [ $prog = enc ]; then
            run_in "$d" "$enc" -logfile "$d/run.log" "$short" 0123 "$d/new.wav"
        else
            run_in "$d" "$dec" -logfile "$d/run.log" "$short"
        fi
        check_run "$d" "1"
        grep -q "log file" "$d/stderr" || problems+=("no reason given")
        [ "$(cat "$d/out.wav")" = precious ] || problems+=("out.wav overwritten")
        [ -e "$d/made.txt" ] && problems+=("the link's target was created")
        case $kind in
        link | dangling) [ -L "$d/run.log" ] || problems+=("the link was replaced") ;;
        pipe) [ -p "$d/run.log" ] || problems+=("the pipe was replaced") ;;
        folder) [ -d "$d/run.log" ] || problems+=("the folder was replaced") ;;
        device) [ -c "$d/run.log" ] || problems+=("the device was replaced") ;;
        esac
        verdict "links and special files" "$prog log: a $kind" "$d"
    done
done
rm -rf "$work"/case*

# --- The table ------------------------------------------------------------------------------
total_tried=0 total_passed=0
printf '\n| Category | Cases tried | Passed | Skipped |\n|---|---:|---:|---:|\n'
for c in "${categories[@]}"; do
    printf '| %s | %d | %d | %d |\n' "$c" "${tried[$c]}" "${passed[$c]}" "${skipped[$c]}"
    total_tried=$((total_tried + tried[$c]))
    total_passed=$((total_passed + passed[$c]))
done
printf '| **all** | **%d** | **%d** | |\n' "$total_tried" "$total_passed"
if [ "$total_passed" != "$total_tried" ]; then
    echo "Failed cases: $work/failures.txt" >&2
    exit 1
fi
