#!/usr/bin/env bash
# Measures what the mark survives: marks generated music-like audio with vekmrkenc, changes the
# marked file the way audio gets changed in use (volume, resampling, MP3, mono downmix, cutting,
# noise, speed, pitch; sox and ffmpeg do the changing), reads it back with vekmrkdec and prints
# a Markdown table of packets found per change and gain. Takes a few minutes; not a test.
#   scripts/robustness.sh [seconds=60] [seeds="1 2"] [gains="1.0 2.0"]
# Every file is kept in out/robustness/ (results.md holds the table).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/scripts/setup.sh"

seconds=${1:-60}
seeds=${2:-"1 2"}
gains=${3:-"1.0 2.0"}
payload=0123ABCD
channels=2

vekmrk_need_packages cmake make g++ sox ffmpeg
build="$root/build-demo"
vekmrk_build_programs "$root" "$build"
enc="$build/encoder/vekmrkenc"
dec="$build/decoder/vekmrkdec"
genwav="$build/tests/support/vekmrk_genwav"
work="$root/out/robustness"
rm -rf "$work"
mkdir -p "$work"

# --- The changes: each reads $1 and writes the 16-bit WAV file $2 ---------------------------
# -R: the same dither and noise on every run, so that a run can be repeated exactly.
sox_q() { sox -V1 -R "$@"; }
rms_of() { sox "$1" -n stat 2>&1 | awk '/RMS +amplitude/ {print $3}'; }
mp3() {
    ffmpeg -v error -y -i "$1" -c:a libmp3lame -b:a "$3" "$2.mp3"
    ffmpeg -v error -y -i "$2.mp3" -c:a pcm_s16le "$2"
}
# White noise at an SNR in dB relative to the whole file's RMS level.
noise() {
    local rms noise_rms length channels rate
    rms=$(rms_of "$1")
    length=$(soxi -D "$1")
    channels=$(soxi -c "$1")
    rate=$(soxi -r "$1")
    sox_q -n -r "$rate" -c "$channels" -b 16 "$2.noise.wav" synth "$length" whitenoise vol 0.5
    noise_rms=$(rms_of "$2.noise.wav")
    local scale
    scale=$(awk -v s="$rms" -v n="$noise_rms" -v snr="$3" 'BEGIN {printf "%.6f", s / n / 10^(snr / 20)}')
    sox_q -m -v 1 "$1" -v "$scale" "$2.noise.wav" -b 16 "$2"
}

attacks=(
    "none|cp"
    "volume -6 dB|sox_q \$in \$out vol -6dB"
    "volume +3 dB|sox_q \$in \$out vol 3dB"
    "peak raised to +3 dB over full scale (0.03 to 0.3 % of samples clipped)|sox_q \$in \$out gain -n 3"
    "volume +12 dB (1.6 % of samples clipped)|sox_q \$in \$out vol 12dB"
    "volume +18 dB (30 % of samples clipped)|sox_q \$in \$out vol 18dB"
    "resampled to 48 kHz|sox_q \$in -r 48000 \$out"
    "resampled to 22.05 kHz|sox_q \$in -r 22050 \$out"
    "MP3 320 kbit/s|mp3 \$in \$out 320k"
    "MP3 192 kbit/s|mp3 \$in \$out 192k"
    "MP3 128 kbit/s|mp3 \$in \$out 128k"
    "mono downmix (L+R)/2|sox_q \$in \$out channels 1"
    "first 5.5 s cut off|sox_q \$in \$out trim 5.5"
    "white noise, SNR 30 dB|noise \$in \$out 30"
    "white noise, SNR 20 dB|noise \$in \$out 20"
    "white noise, SNR 10 dB|noise \$in \$out 10"
    "white noise, SNR 0 dB|noise \$in \$out 0"
    "speed +0.001 % (tempo and pitch)|sox_q \$in \$out speed 1.00001 rate 44100"
    "speed +0.01 % (tempo and pitch)|sox_q \$in \$out speed 1.0001 rate 44100"
    "speed +1 % (tempo and pitch)|sox_q \$in \$out speed 1.01 rate 44100"
    "speed +5 % (tempo and pitch)|sox_q \$in \$out speed 1.05 rate 44100"
    "tempo +1 %, pitch kept|sox_q \$in \$out tempo 1.01"
    "pitch +50 cents, tempo kept|sox_q \$in \$out pitch 50"
)

# Packets of the payload in the decoder's summary, and packets of any other payload.
decode_counts() {
    "$dec" "$1" 2>/dev/null | awk -v p="(x$payload)" '
        /^\(x[0-9A-F]+\) - [0-9]+ instance\(s\)/ { if ($1 == p) right += $3; else wrong += $3 }
        END { printf "%d %d\n", right, wrong }'
}

# Per gain and change: packets of the payload found, packets of other payloads, and packets
# written on the channels that the changed file still has (a mono downmix keeps one of two).
declare -A found wrong written
for gain in $gains; do
    for attack in "${attacks[@]}"; do
        found["$gain|${attack%%|*}"]=0
        wrong["$gain|${attack%%|*}"]=0
        written["$gain|${attack%%|*}"]=0
    done
done

for seed in $seeds; do
    original="$work/music-$seed.wav"
    "$genwav" "$original" "$seconds" 44100 "$channels" music 0.3 "$seed"
    for gain in $gains; do
        marked="$work/marked-$seed-g$gain.wav"
        count=$("$enc" -gain "$gain" "$original" "$payload" "$marked" 2>/dev/null |
            sed -n 's/^-> \([0-9]*\) packets encoded.*/\1/p')
        n=0
        for attack in "${attacks[@]}"; do
            name=${attack%%|*}
            command=${attack#*|}
            n=$((n + 1))
            in=$marked
            out="$work/attacked-$seed-g$gain-$n.wav"
            if [ "$command" = cp ]; then
                cp "$in" "$out"
            else
                eval "$command"
            fi
            read -r right other < <(decode_counts "$out")
            found["$gain|$name"]=$((found["$gain|$name"] + right))
            written["$gain|$name"]=$((written["$gain|$name"] + count * $(soxi -c "$out") / channels))
            wrong["$gain|$name"]=$((wrong["$gain|$name"] + other))
            echo "seed $seed, gain $gain, $name: $right found, $other other" >&2
        done
    done
done

{
    echo "Packets of the payload $payload found by vekmrkdec, of the packets vekmrkenc wrote"
    echo "(stereo 44.1 kHz music-like signal, $seconds s, seeds: $seeds; every channel of the"
    echo "changed file counted)."
    echo
    header="| Change |"
    rule="|---|"
    for gain in $gains; do
        header+=" gain $gain |"
        rule+="---|"
    done
    echo "$header"
    echo "$rule"
    for attack in "${attacks[@]}"; do
        name=${attack%%|*}
        row="| $name |"
        for gain in $gains; do
            f=${found["$gain|$name"]}
            w=${written["$gain|$name"]}
            cell="$f of $w ($(awk -v f="$f" -v w="$w" 'BEGIN {printf "%d", (w > 0 ? 100 * f / w + 0.5 : 0)}') %)"
            [ "${wrong["$gain|$name"]}" -eq 0 ] || cell+=", ${wrong["$gain|$name"]} wrong"
            row+=" $cell |"
        done
        echo "$row"
    done
} | tee "$work/results.md"
