#!/usr/bin/env bash
# Sets up, builds the programs and runs the main job: watermark a WAV file and read it back.
#   scripts/demo.sh [input.wav [payload]]
# Without an input, a 20-second stereo 44.1 kHz music-like sample is generated.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/scripts/setup.sh"

vekmrk_need_packages cmake make g++
build="$root/build-demo"
vekmrk_build_programs "$root" "$build"

work="$root/out/demo"
mkdir -p "$work"
input=${1:-}
payload=${2:-0123ABCD}
if [ -z "$input" ]; then
    input="$work/sample.wav"
    "$build/tests/support/vekmrk_genwav" "$input" 20 44100 2 music 0.3 1
    echo "Generated the sample $input (20 s, stereo, 44.1 kHz)."
fi
output="$work/$(basename "${input%.*}")-e.wav"

echo
echo "== Encoding payload $payload"
if [ ! -x "$build/encoder/vekmrkenc" ]; then
    echo "The encoder is not built yet: the build stops here." >&2
    exit 0
fi
"$build/encoder/vekmrkenc" "$input" "$payload" "$output"

echo
echo "== Decoding $output"
if [ ! -x "$build/decoder/vekmrkdec" ]; then
    echo "The decoder is not built yet: the demo stops here." >&2
    exit 0
fi
"$build/decoder/vekmrkdec" "$output"
