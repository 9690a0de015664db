#!/usr/bin/env bash
# Builds the measuring corpus in out/corpus/ (not kept in git): real recordings that Debian
# packages ship, cut into 3-minute pieces and 30-second excerpts, plus generated signals, each as
# 16-bit WAV at 22050, 32000, 44100 and 48000 Hz, stereo and mono. Used by scripts/yield.sh and
# scripts/falsealarm.sh. Safe to run again: what is already there is kept.
#   scripts/corpus.sh
#
# Packages (downloaded with apt-get download, unpacked with dpkg -x, never installed):
#   drascula-music         34 MB  CD soundtrack of a 1990s adventure game, Ogg 44.1 kHz: bright,
#                                 wide-band (13 to 17 % of the RMS level above 11 kHz)
#   asc-music              10 MB  game soundtrack, MP3 at 22.05 kHz: band-limited ("lo-fi"),
#                                 nothing above 11 kHz
#   planetblupi-music-ogg  57 MB  game soundtrack, Ogg 44.1 kHz: quiet (RMS near -24 dBFS)
#   singularity-music      49 MB  electronic game soundtrack, Ogg 48 kHz: loud, dense
#   klettres-data          37 MB  letters and syllables read aloud by people in many languages
#                                 (Ogg, mono 44.1 kHz): real speech
#
# Layout:
#   out/corpus/pieces.txt                 one line per piece: name kind seconds source
#   out/corpus/<rate>/<stereo|mono>/<name>.wav
#   out/corpus/debs/, out/corpus/src/     downloaded packages and their unpacked files
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/scripts/setup.sh"
vekmrk_need_packages sox ffmpeg apt

corpus="$root/out/corpus"
debs="$corpus/debs"
src="$corpus/src"
master="$corpus/master"
mkdir -p "$debs" "$src" "$master"
rates="22050 32000 44100 48000"

# Fetches and unpacks one package once; prints the folder it was unpacked into.
unpack() {
    local package=$1
    if [ ! -e "$src/$package/.done" ]; then
        if ! ls "$debs/${package}"_*.deb >/dev/null 2>&1; then
            echo "Downloading $package ..." >&2
            # apt-get download runs as user _apt where it can; a root-owned folder only warns.
            (cd "$debs" && apt-get download "$package" >/dev/null 2>&1) ||
                (apt-get update -qq && cd "$debs" && apt-get download "$package" >/dev/null)
        fi
        rm -rf "$src/$package"
        mkdir -p "$src/$package"
        dpkg -x "$(ls "$debs/${package}"_*.deb | head -1)" "$src/$package"
        touch "$src/$package/.done"
    fi
    echo "$src/$package"
}

# master <name> <input file> <start s> <seconds>: a stereo 16-bit WAV at the source's own rate.
cut_master() {
    local name=$1 input=$2 start=$3 seconds=$4
    [ -e "$master/$name.wav" ] && return 0
    local rate
    rate=$(soxi -r "$input")
    ffmpeg -nostdin -v error -y -ss "$start" -t "$seconds" -i "$input" -ac 2 -ar "$rate" -c:a pcm_s16le \
        "$master/$name.tmp.wav"
    mv "$master/$name.tmp.wav" "$master/$name.wav"
}

# Real speech: the spoken letters and syllables of several languages one after another, with the
# pauses that the recordings have, cut to the given length.
speech_master() {
    local name=$1 seconds=$2 first=$3
    [ -e "$master/$name.wav" ] && return 0
    local base list=() lang f i=0 total=0
    base="$(unpack klettres-data)/usr/share/klettres"
    local tmp="$master/$name.parts"
    rm -rf "$tmp"
    mkdir -p "$tmp"
    for lang in en fr de es it ru nl pt_BR cs hu da; do
        for f in "$base/$lang"/syllab/*.ogg "$base/$lang"/alpha/*.ogg; do
            [ -e "$f" ] || continue
            i=$((i + 1))
            [ "$i" -ge "$first" ] || continue
            ffmpeg -nostdin -v error -y -i "$f" -ac 1 -ar 44100 -c:a pcm_s16le "$tmp/$(printf %05d "$i").wav"
            list+=("$tmp/$(printf %05d "$i").wav")
            total=$(awk -v t="$total" -v d="$(soxi -D "$tmp/$(printf %05d "$i").wav")" 'BEGIN {print t + d}')
            awk -v t="$total" -v s="$seconds" 'BEGIN {exit !(t < s)}' || break 2
        done
    done
    sox -V1 "${list[@]}" "$tmp/all.wav"
    sox -V1 "$tmp/all.wav" -c 2 "$master/$name.tmp.wav" trim 0 "$seconds"
    mv "$master/$name.tmp.wav" "$master/$name.wav"
    rm -rf "$tmp"
}

# Generated signals (-R: the same samples on every run).
generated_master() {
    local name=$1 seconds=$2
    shift 2
    [ -e "$master/$name.wav" ] && return 0
    sox -V1 -R -n -r 48000 -c 2 -b 16 "$master/$name.tmp.wav" synth "$seconds" "$@"
    mv "$master/$name.tmp.wav" "$master/$name.wav"
}

echo "Building the corpus in $corpus ..." >&2
drascula="$(unpack drascula-music)/usr/share/scummvm/drascula/audio"
asc="$(unpack asc-music)/usr/share/games/asc/music"
blupi="$(unpack planetblupi-music-ogg)/usr/share/planetblupi/music"
singularity="$(unpack singularity-music)/usr/share/games/singularity/music"

# name | kind | seconds | source file | start | description
pieces=(
    "bright-3min|music|180|$drascula/track2.ogg|0|drascula-music track2.ogg, bright and wide-band"
    "lofi-3min|music|180|$asc/frontiers.mp3|10|asc-music frontiers.mp3, 22.05 kHz source, band-limited"
    "quiet-3min|music|180|$blupi/music007.ogg|0|planetblupi-music-ogg music007.ogg, quiet"
    "dense-3min|music|180|$singularity/Coherence.ogg|0|singularity-music Coherence.ogg, loud electronic"
    "bright-30s|music|30|$drascula/track30.ogg|60|drascula-music track30.ogg, bright and wide-band"
    "lofi-30s|music|30|$asc/machine_wars.mp3|60|asc-music machine_wars.mp3, band-limited"
    "loud-30s|music|30|$singularity/Enemy Unknown.ogg|60|singularity-music Enemy Unknown.ogg, loud"
)
for piece in "${pieces[@]}"; do
    IFS='|' read -r name kind seconds file start description <<<"$piece"
    cut_master "$name" "$file" "$start" "$seconds"
done
speech_master speech-3min 180 1
speech_master speech-30s 30 400
generated_master noise-30s 30 whitenoise vol 0.1
generated_master pink-30s 30 pinknoise vol 0.2
generated_master tone-30s 30 sine 1000 vol 0.3
generated_master sweep-30s 30 sine 50:16000 vol 0.3
generated_master silence-30s 30 sine 1000 vol 0

manifest="$corpus/pieces.txt"
{
    for piece in "${pieces[@]}"; do
        IFS='|' read -r name kind seconds file start description <<<"$piece"
        echo "$name $kind $seconds $description (from $start s)"
    done
    echo "speech-3min speech 180 klettres-data letters and syllables, 11 languages"
    echo "speech-30s speech 30 klettres-data letters and syllables, other clips"
    echo "noise-30s generated 30 white noise, -20 dBFS peak"
    echo "pink-30s generated 30 pink noise"
    echo "tone-30s generated 30 1 kHz sine"
    echo "sweep-30s generated 30 sine sweep 50 Hz to 16 kHz"
    echo "silence-30s generated 30 digital silence"
} >"$manifest.tmp"
mv "$manifest.tmp" "$manifest"

# Every rate, stereo and mono, with the best resampler; -R keeps the dither repeatable.
for rate in $rates; do
    mkdir -p "$corpus/$rate/stereo" "$corpus/$rate/mono"
    while read -r name _; do
        out="$corpus/$rate/stereo/$name.wav"
        if [ ! -e "$out" ]; then
            sox -V1 -R "$master/$name.wav" -b 16 "$out.tmp.wav" rate -v "$rate"
            mv "$out.tmp.wav" "$out"
        fi
        out="$corpus/$rate/mono/$name.wav"
        if [ ! -e "$out" ]; then
            sox -V1 -R "$master/$name.wav" -b 16 -c 1 "$out.tmp.wav" rate -v "$rate"
            mv "$out.tmp.wav" "$out"
        fi
    done <"$manifest"
done
echo "Corpus ready: $corpus ($(wc -l <"$manifest") pieces, rates $rates, stereo and mono)" >&2
