#!/usr/bin/env bash
# Benchmark (not a test): false alarms of the decoder. Reads many hours of unmarked audio, made
# from the real recordings and generated signals of scripts/corpus.sh, and files marked on a
# layer other than the one being read; every packet the decoder reports there is a wrong one.
#   scripts/falsealarm.sh [--hours N] [--quick] [--decoder PATH] [--baseline PATH]
#                         [--encoder PATH] [--decoder-options "WORDS"]
#   --hours N          hours of unmarked audio (default 24); --quick: 1 hour and fewer marked files
#   --decoder PATH     the decoder to measure (default: built from this tree into build-yield)
#   --baseline PATH    a second decoder read on the same files
#   --encoder PATH     the encoder that marks the other-layer files (default: built from this tree)
#   --clean            delete the hour files kept from earlier runs and stop
# The unmarked audio is made one hour at a time, one file per hour, kept in out/falsealarm/hours/
# (about 400 MB an hour) so that the next run, of another decoder, only reads: the rate and
# channel count change from hour to hour (22.05, 32, 44.1, 48 kHz; mono, stereo), and each hour
# strings together some 40 segments drawn from music, speech, noise, tones, sweeps, plucked notes
# and silence, each one edited: another start, turned up or down, sometimes filtered or
# reversed, one in ten with the speed (pitch and tempo) changed by up to 8 % and resampled back
# to the hour's rate. The draws are seeded by the hour, so a run can be repeated exactly.
# Making an hour takes about ten seconds of one core; reading it, a few seconds.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/scripts/setup.sh"

hours=24
quick=0
decoder=""
baseline=""
encoder=""
decoder_options=""
while [ $# -gt 0 ]; do
    case $1 in
        --hours) hours=$2; shift ;;
        --quick) quick=1; hours=1 ;;
        --decoder) decoder=$2; shift ;;
        --baseline) baseline=$2; shift ;;
        --encoder) encoder=$2; shift ;;
        --decoder-options) decoder_options=$2; shift ;;
        --clean) rm -rf "$root/out/falsealarm/hours"; exit 0 ;;
        *) echo "usage: $0 [--hours N] [--quick] [--decoder PATH] [--baseline PATH] [--encoder PATH]" \
            "[--decoder-options WORDS] [--clean]" >&2; exit 1 ;;
    esac
    shift
done

vekmrk_need_packages cmake make g++ sox ffmpeg
"$root/scripts/corpus.sh"
corpus="$root/out/corpus"
vekmrk_measured_programs "$root"
work="$root/out/falsealarm"
mkdir -p "$work/marked" "$work/hours"
tmp=$(mktemp -d "$work/tmp.XXXXXX")
trap 'rm -rf "$tmp"' EXIT

decoders=("$decoder")
[ -z "$baseline" ] || decoders+=("$baseline")
declare -A packets cpu
for d in "${decoders[@]}"; do
    packets[$d]=0
    cpu[$d]=0
done
audio_seconds=0
channel_seconds=0

# read_file label file [env words] [decoder words...]: every decoder reads the file; prints and
# adds up the packets reported and the CPU time.
read_file() {
    local label=$1 file=$2 env_words=$3
    shift 3
    local d t n line="" secs channels
    secs=$(soxi -D "$file")
    channels=$(soxi -c "$file")
    for d in "${decoders[@]}"; do
        local TIMEFORMAT="%3U %3S"
        # shellcheck disable=SC2086,SC2068
        t=$({ time env $env_words "$d" "$@" $decoder_options "$file" >"$tmp/stdout" 2>/dev/null; } 2>&1)
        n=$(sed -n 's/^-> \([0-9]*\) packet(s) decoded.*/\1/p' "$tmp/stdout")
        [ -n "$n" ] || { echo "error: $d gave no summary for $file" >&2; exit 1; }
        if [ "$n" -gt 0 ]; then
            echo "WRONG: $label: $d reported: $(grep '^(x' "$tmp/stdout" | tr '\n' ' ')" >&2
        fi
        packets[$d]=$((packets[$d] + n))
        cpu[$d]=$(awk -v a="${cpu[$d]}" -v t="$t" 'BEGIN {split(t, p, " "); print a + p[1] + p[2]}')
        line+=" $n packets"
    done
    audio_seconds=$(awk -v a="$audio_seconds" -v s="$secs" 'BEGIN {print a + s}')
    channel_seconds=$(awk -v a="$channel_seconds" -v s="$secs" -v c="$channels" 'BEGIN {print a + s * c}')
    printf "%-58s %7.1f s x %d:%s\n" "$label" "$secs" "$channels" "$line" >&2
}

# --- Files marked on another layer ------------------------------------------------------------
# Marked by owner A (private) or on the public layer, read on every other layer: public, the
# private layer of owner B (as owner and by layer code).
pieces="bright-3min lofi-3min quiet-3min dense-3min bright-30s lofi-30s loud-30s speech-3min speech-30s"
rates="22050 32000 44100 48000"
[ "$quick" = 0 ] || { pieces="bright-30s loud-30s speech-30s"; rates="44100"; }
echo "Files marked on another layer:" >&2
for piece in $pieces; do
    for rate in $rates; do
        for layer in public private; do
            marked="$work/marked/$piece-$rate-$layer.wav"
            if [ ! -e "$marked" ]; then
                options=(-addts 1)
                [ "$layer" = public ] || options+=(-layer private)
                VEKMRK_OWNER=YieldOwnerA "$encoder" "${options[@]}" "$corpus/$rate/stereo/$piece.wav" \
                    0123ABCD "$marked.tmp.wav" >/dev/null 2>&1
                mv "$marked.tmp.wav" "$marked"
            fi
            if [ "$layer" = private ]; then
                read_file "$piece $rate Hz, owner A's layer, read public" "$marked" "-u VEKMRK_OWNER"
            fi
            read_file "$piece $rate Hz, $layer layer, read by owner B" "$marked" \
                "VEKMRK_OWNER=YieldOwnerB" -layer private
            read_file "$piece $rate Hz, $layer layer, read with B's code" "$marked" \
                "-u VEKMRK_OWNER" -layer YieldOwnerB
        done
    done
done
marked_seconds=$audio_seconds
marked_channel_seconds=$channel_seconds

# --- Unmarked audio, one hour at a time -------------------------------------------------------
master="$corpus/master"
# Long generated sources to cut segments from (-R: the same samples on every run).
make_source() {
    local name=$1 rate
    shift
    for rate in 22050 32000 44100 48000; do
        [ -e "$work/$name-$rate.wav" ] ||
            sox -V1 -R -n -r "$rate" -c 2 -b 16 "$work/$name-$rate.wav" synth "$@"
    done
}
make_source white 600 whitenoise
make_source pink 600 pinknoise
make_source brown 600 brownnoise
real=(bright-3min lofi-3min quiet-3min dense-3min bright-30s lofi-30s loud-30s speech-3min speech-30s)

# The segment list of one hour: "kind source start length speed gain filter reverse" per line.
plan_hour() {
    awk -v seed="$1" -v nreal="${#real[@]}" -v names="${real[*]}" 'BEGIN {
        srand(seed); split(names, name, " "); total = 0
        while (total < 3600) {
            u = rand(); len = 20 + int(rand() * 150)
            if (total + len > 3600) len = 3600 - total
            speed = (rand() < 0.1 ? sprintf("%.4f", 0.92 + rand() * 0.16) : 1); gain = sprintf("%.1f", -24 + rand() * 30)
            f = rand(); filter = (f < 0.1 ? "sinc_-" int(3000 + rand() * 9000) : f < 0.15 ? "sinc_" int(100 + rand() * 400) : f < 0.25 ? "treble_+8" : "none")
            rev = (rand() < 0.15)
            if (u < 0.55) {
                p = name[1 + int(rand() * nreal)]
                printf "real %s %.2f %d %s %s %s %d\n", p, rand() * 15, len, speed, gain, filter, rev
            } else if (u < 0.75) {
                n = (rand() < 0.4 ? "white" : rand() < 0.6 ? "pink" : "brown")
                printf "noise %s %.2f %d %s %s %s %d\n", n, rand() * 400, len, speed, gain, filter, rev
            } else if (u < 0.9) {
                k = int(rand() * 4)
                tone = (k == 0 ? "sine_" int(40 + rand() * 12000) : k == 1 ? "sine_" int(100 + rand() * 400) ":" int(2000 + rand() * 14000) : k == 2 ? "square_" int(50 + rand() * 2000) : "pluck_" int(100 + rand() * 1000))
                printf "tone %s 0 %d 1 %s %s 0\n", tone, len, gain, filter
            } else {
                printf "silence - 0 %d 1 0 none 0\n", len
            }
            total += len
        }
    }'
}
# make_hour index rate channels file
make_hour() {
    local index=$1 rate=$2 channels=$3 file=$4 n=0 parts=()
    local kind source start len speed gain filter rev
    while read -r kind source start len speed gain filter rev; do
        n=$((n + 1))
        local part="$tmp/part-$n.wav" effects=()
        [ "$filter" = none ] || read -r -a effects <<<"${filter//_/ }"
        [ "$rev" = 0 ] || effects+=(reverse)
        case $kind in
            real | noise)
                # The corpus holds every piece at every rate; noise is made at each rate once.
                local input="$corpus/$rate/stereo/$source.wav" speed_effects=()
                [ "$kind" = real ] || input="$work/$source-$rate.wav"
                [ "$speed" = 1 ] || speed_effects=(speed "$speed" rate -q "$rate")
                # The speed change shortens or lengthens the cut; loop short pieces with repeat.
                sox -V1 -R "$input" -c "$channels" -b 16 "$part" \
                    trim "$start" repeat 19 trim 0 "$(awk -v l="$len" -v s="$speed" 'BEGIN {print l * s}')" \
                    "${speed_effects[@]}" vol "${gain}dB" "${effects[@]}"
                ;;
            tone)
                local wave=${source%%_*} freq=${source#*_}
                sox -V1 -R -n -r "$rate" -c "$channels" -b 16 "$part" synth "$len" "$wave" "$freq" \
                    vol "${gain}dB" "${effects[@]}"
                ;;
            silence)
                sox -V1 -R -n -r "$rate" -c "$channels" -b 16 "$part" trim 0 "$len"
                ;;
        esac
        parts+=("$part")
    done < <(plan_hour "$index")
    sox -V1 "${parts[@]}" "$file"
    rm -f "${parts[@]}"
    echo "$n"
}

echo "Unmarked audio, $hours hour(s):" >&2
formats=("22050 1" "44100 2" "32000 2" "48000 1" "44100 1" "48000 2" "22050 2" "32000 1")
for ((h = 1; h <= hours; h++)); do
    read -r rate channels <<<"${formats[$(((h - 1) % ${#formats[@]}))]}"
    hour="$work/hours/hour-$h-$rate-$channels.wav"
    if [ ! -e "$hour" ]; then
        make_hour "$h" "$rate" "$channels" "$tmp/hour.wav" >"$hour.segments"
        mv "$tmp/hour.wav" "$hour"
    fi
    read_file "hour $h: $rate Hz, $channels channel(s), $(cat "$hour.segments") segments" "$hour" "-u VEKMRK_OWNER"
done

echo
echo "False alarms (scripts/falsealarm.sh, $(date -u '+%Y-%m-%d %H:%M UTC'))"
awk -v a="$audio_seconds" -v c="$channel_seconds" -v ma="$marked_seconds" -v mc="$marked_channel_seconds" 'BEGIN {
    printf "Unmarked audio: %.2f h (%.2f h of channels); files marked on another layer: %.2f h (%.2f h of channels)\n",
        (a - ma) / 3600, (c - mc) / 3600, ma / 3600, mc / 3600 }'
for d in "${decoders[@]}"; do
    awk -v d="$d" -v p="${packets[$d]}" -v t="${cpu[$d]}" -v a="$audio_seconds" -v o="$decoder_options" 'BEGIN {
        printf "%s%s: %d wrong packets in %.2f h; %.1f s of CPU time = %.0fx real time\n",
            d, (o != "" ? " " o : ""), p, a / 3600, t, (t > 0 ? a / t : 0) }'
done
