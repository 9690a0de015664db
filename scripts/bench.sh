#!/usr/bin/env bash
# Benchmark (not a test): encodes and decodes a generated 3-minute stereo 44.1 kHz music-like
# file several times and prints the median wall time, the speed as a multiple of real time and
# the peak memory of each program, beside a floor measured in the same run: a plain copy of
# the same file (read and write of every byte).
#   scripts/bench.sh [runs=7] [seconds=180]
# Both programs run on one core (the script pins itself to processor 0 for them, and sets
# VEKMRK_THREADS=1 so that the encoder keeps to one thread); the encoder also runs as the
# machine allows, reading ahead on a second thread. The decoder has one thread only. Times are
# taken by the shell around /usr/bin/time (which reports the peak memory). The load average is
# printed before and after: other work on the machine makes the figures noisy.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/scripts/setup.sh"
vekmrk_need_packages cmake make g++ time util-linux

runs=${1:-7}
seconds=${2:-180}
build="$root/build-bench"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF \
    -DVEKMRK_BUILD_FRONTEND=OFF >/dev/null
cmake --build "$build" -j"$(vekmrk_jobs)" >/dev/null

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
input="$work/bench.wav"
"$build/tests/support/vekmrk_genwav" "$input" "$seconds" 44100 2 music 0.3 1
"$build/encoder/vekmrkenc" "$input" 0123ABCD "$work/marked.wav" >/dev/null 2>&1

# measure <label> <command...>: runs the command $runs times; prints median wall s, x-realtime, peak MiB
measure() {
    local label=$1
    shift
    local times=() mems=()
    local i
    for ((i = 0; i < runs; i++)); do
        local start end
        start=$EPOCHREALTIME
        /usr/bin/time -f "%M" -o "$work/time.txt" "$@" >/dev/null 2>&1
        end=$EPOCHREALTIME
        read -r m <"$work/time.txt"
        times+=("$(awk -v a="$start" -v b="$end" 'BEGIN { printf "%.4f", b - a }')")
        mems+=("$m")
    done
    local median_t median_m
    median_t=$(printf '%s\n' "${times[@]}" | sort -g | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}')
    median_m=$(printf '%s\n' "${mems[@]}" | sort -g | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}')
    awk -v l="$label" -v t="$median_t" -v m="$median_m" -v s="$seconds" 'BEGIN {
        x = sprintf("%.0fx", s / t);
        printf "%-28s %9.3f s %12s %10.1f MiB\n", l, t, x, m / 1024 }'
}

audio_mib=$(awk -v s="$seconds" 'BEGIN { printf "%.1f", s * 44100 * 2 * 4 / 1048576 }')
echo "Input: ${seconds} s stereo 44.1 kHz music-like, $runs runs each, median"
echo "CPU: $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //'), $(nproc) processor(s);" \
    "load average before: $(cut -d' ' -f1-3 /proc/loadavg)"
echo "The audio held as floats: $audio_mib MiB"
printf "%-28s %11s %12s %14s\n" "program" "wall" "x-realtime" "peak memory"
measure "floor: copy (cat)" sh -c "cat '$input' > '$work/copy.wav'"
# One core: this shell and what it starts keep to processor 0.
all_processors=$(taskset -p $$ | awk '{print $NF}')
taskset -p 1 $$ >/dev/null
export VEKMRK_THREADS=1
measure "vekmrkenc, one core" "$build/encoder/vekmrkenc" "$input" 0123ABCD "$work/out1.wav"
measure "vekmrkdec, one core" "$build/decoder/vekmrkdec" "$work/marked.wav"
unset VEKMRK_THREADS
taskset -p "$all_processors" $$ >/dev/null
measure "vekmrkenc, two threads" "$build/encoder/vekmrkenc" "$input" 0123ABCD "$work/out2.wav"
echo "Load average after: $(cut -d' ' -f1-3 /proc/loadavg)"
# The same bytes whichever way the encoder ran.
if cmp -s "$work/out1.wav" "$work/out2.wav" && cmp -s "$work/out1.wav" "$work/marked.wav"; then
    echo "Encoder outputs identical on one core and on two threads."
else
    echo "error: the encoder's outputs differ between runs" >&2
    exit 1
fi
