#!/usr/bin/env bash
# Benchmark (not a test): encodes and decodes generated stereo 44.1 kHz music-like files and
# prints the median wall time, the speed as a multiple of real time and the peak memory of each
# run, beside a floor measured in the same run: a plain copy of the same file (`cat`).
#   scripts/bench.sh [runs=7] [seconds=180] [recording.wav ...]
# (BENCH_MINUTES="1 10 60" sets the lengths of part 3.)
# 1. The 3-minute file: vekmrkenc on one core (pinned to processor 0, VEKMRK_THREADS=1) and with
#    the threads the machine allows, vekmrkdec on one core.
# 2. Two files that need clipping prevention: the same music made loud (it passes full scale
#    early) and the same music followed by one second of loud noise (it passes full scale only
#    at the end, so the whole file is written a second time, rescaled: the worst case).
# 3. Cost as the work grows: 1, 10 and 60 minutes of the music (fewer runs for the hour), so
#    that linear time and flat memory are seen.
# 4. Every recording named on the command line (real music is not generated, and never committed).
# Times are taken by the shell around /usr/bin/time (which reports the peak memory). The load
# average is printed before and after: other work on the machine makes the figures noisy.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/scripts/setup.sh"
vekmrk_need_packages cmake make g++ time util-linux

runs=${1:-7}
seconds=${2:-180}
shift $(($# < 2 ? $# : 2))
recordings=("$@")
build="$root/build-bench"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF \
    -DVEKMRK_BUILD_FRONTEND=OFF >/dev/null
cmake --build "$build" -j"$(vekmrk_jobs)" >/dev/null
enc="$build/encoder/vekmrkenc"
dec="$build/decoder/vekmrkdec"
genwav="$build/tests/support/vekmrk_genwav"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# concat_wav <out> <a> <b>: the samples of b after those of a (same format, 44-byte headers).
concat_wav() {
    local data
    data=$(($(stat -c %s "$2") + $(stat -c %s "$3") - 88))
    le32() { printf '\\x%02x\\x%02x\\x%02x\\x%02x' $(($1 & 255)) $((($1 >> 8) & 255)) \
        $((($1 >> 16) & 255)) $((($1 >> 24) & 255)); }
    {
        head -c 4 "$2"
        printf "$(le32 $((data + 36)))"
        head -c 40 "$2" | tail -c 32
        printf "$(le32 "$data")"
        tail -c +45 "$2"
        tail -c +45 "$3"
    } >"$1"
}

# measure <label> <seconds of audio> <runs> <command...>: runs the command; prints the median
# wall time, the speed as a multiple of real time, the median processor time (user and system,
# all threads: less disturbed by a loaded machine than the wall time) and the median peak
# memory.
measure() {
    local label=$1 audio=$2 n=$3
    shift 3
    local times=() mems=() cpus=()
    local i
    for ((i = 0; i < n; i++)); do
        local start end
        start=$EPOCHREALTIME
        /usr/bin/time -f "%M %U %S" -o "$work/time.txt" "$@" >/dev/null 2>"$work/stderr.txt"
        end=$EPOCHREALTIME
        read -r m u k <"$work/time.txt"
        cpus+=("$(awk -v u="$u" -v k="$k" 'BEGIN { printf "%.2f", u + k }')")
        times+=("$(awk -v a="$start" -v b="$end" 'BEGIN { printf "%.4f", b - a }')")
        mems+=("$m")
    done
    local median_t median_m median_c
    median_t=$(printf '%s\n' "${times[@]}" | sort -g | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}')
    median_m=$(printf '%s\n' "${mems[@]}" | sort -g | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}')
    median_c=$(printf '%s\n' "${cpus[@]}" | sort -g | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}')
    awk -v l="$label" -v t="$median_t" -v m="$median_m" -v s="$audio" -v c="$median_c" 'BEGIN {
        printf "%-34s %9.3f s %9.0fx %8.2f s %10.1f MiB\n", l, t, s / t, c, m / 1024 }'
}

header() {
    echo
    echo "$1"
    printf "%-34s %11s %10s %10s %14s\n" "" "wall" "x-realtime" "cpu" "peak memory"
}

# one_core pins this shell, and what it starts, to processor 0 with VEKMRK_THREADS=1;
# all_cores undoes it.
all_processors=$(taskset -p $$ | awk '{print $NF}')
one_core() {
    taskset -p 1 $$ >/dev/null
    export VEKMRK_THREADS=1
}
all_cores() {
    taskset -p "$all_processors" $$ >/dev/null
    unset VEKMRK_THREADS
}

# clipped <output of the last encoder run>: whether it reported clipping prevention.
clipped() {
    if grep -q "Potential clipping detected" "$work/stderr.txt"; then echo "clips"; else echo "no clipping"; fi
}

echo "CPU: $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //'), $(nproc) processor(s);" \
    "load average before: $(cut -d' ' -f1-3 /proc/loadavg)"
echo "Generated inputs: stereo 44.1 kHz music-like (tests/support/vekmrk_genwav), medians of $runs runs"

input="$work/bench.wav"
"$genwav" "$input" "$seconds" 44100 2 music 0.3 1
"$enc" "$input" 0123ABCD "$work/marked.wav" >/dev/null 2>&1
header "${seconds} s of music"
measure "floor: copy (cat)" "$seconds" "$runs" sh -c "cat '$input' > '$work/copy.wav'"
one_core
measure "vekmrkenc, one core" "$seconds" "$runs" "$enc" "$input" 0123ABCD "$work/out1.wav"
measure "vekmrkdec, one core" "$seconds" "$runs" "$dec" "$work/marked.wav"
all_cores
measure "vekmrkenc, $(nproc) processors" "$seconds" "$runs" "$enc" "$input" 0123ABCD "$work/out2.wav"
echo "(the encoder: $(clipped))"
# The same bytes whichever way the encoder ran.
if ! cmp -s "$work/out1.wav" "$work/out2.wav" || ! cmp -s "$work/out1.wav" "$work/marked.wav"; then
    echo "error: the encoder's outputs differ between runs" >&2
    exit 1
fi

loud="$work/loud.wav"
"$genwav" "$loud" "$seconds" 44100 2 music 0.95 1
"$genwav" "$work/noise.wav" 1 44100 2 noise 0.98 2
late="$work/late.wav"
concat_wav "$late" "$input" "$work/noise.wav"
header "Clipping prevention"
for file in "$loud" "$late"; do
    name=$([ "$file" = "$loud" ] && echo "loud music" || echo "music, loud last second")
    audio=$([ "$file" = "$loud" ] && echo "$seconds" || echo $((seconds + 1)))
    one_core
    measure "$name, one core" "$audio" "$runs" "$enc" "$file" 0123ABCD "$work/c1.wav"
    all_cores
    measure "$name, $(nproc) processors" "$audio" "$runs" "$enc" "$file" 0123ABCD "$work/c2.wav"
    echo "(the encoder: $(clipped))"
    cmp -s "$work/c1.wav" "$work/c2.wav" || { echo "error: outputs differ" >&2 && exit 1; }
done

header "Cost as the work grows ($(nproc) processors; the hour: 3 runs)"
for minutes in ${BENCH_MINUTES:-1 10 60}; do
    n=$([ "$minutes" -ge 60 ] && echo 3 || echo "$runs")
    long="$work/long.wav"
    "$genwav" "$long" $((minutes * 60)) 44100 2 music 0.3 1
    measure "floor: copy, $minutes min" $((minutes * 60)) "$n" sh -c "cat '$long' > '$work/copy.wav'"
    measure "vekmrkenc, $minutes min" $((minutes * 60)) "$n" "$enc" "$long" 0123ABCD "$work/out.wav"
    rm -f "$long" "$work/out.wav" "$work/copy.wav"
done

for file in "${recordings[@]}"; do
    audio=$(awk -v b="$(stat -c %s "$file")" 'BEGIN { printf "%.2f", (b - 44) / 176400 }')
    header "$(basename "$file") (about $audio s if stereo 44.1 kHz)"
    measure "floor: copy (cat)" "$audio" "$runs" sh -c "cat '$file' > '$work/copy.wav'"
    one_core
    measure "vekmrkenc, one core" "$audio" "$runs" "$enc" "$file" 0123ABCD "$work/r1.wav"
    all_cores
    measure "vekmrkenc, $(nproc) processors" "$audio" "$runs" "$enc" "$file" 0123ABCD "$work/r2.wav"
    echo "(the encoder: $(clipped))"
done
echo
echo "Load average after: $(cut -d' ' -f1-3 /proc/loadavg)"
