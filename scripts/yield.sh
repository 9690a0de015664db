#!/usr/bin/env bash
# Benchmark (not a test): how much of the mark the decoder reads back. Marks the real recordings
# of scripts/corpus.sh (music, speech) and some generated signals at 22.05, 32, 44.1 and 48 kHz
# with several payloads and options, changes the marked files the way audio gets changed in use
# (volume, clipping, resampling, MP3, Ogg, AAC, noise, filters, cuts, speed, mono, 8 bits), reads
# each file with vekmrkdec and prints, per case: packets read of packets written, time stamps
# read, wrong packets (another payload, or a time stamp that does not fit the place in the file
# where the packet was read) and the decoder's speed. Ends with Markdown tables and totals.
#   scripts/yield.sh [--quick] [--decoder PATH] [--encoder PATH] [--baseline PATH]
#                    [--decoder-options "WORDS"] [--out DIR]
#   --quick            a subset (two 30-second pieces, a few options and changes, two 3-minute
#                      pieces): about a minute
#   --decoder PATH     the decoder to measure (default: built from this tree into build-yield)
#   --encoder PATH     the encoder that marks the corpus (default: built from this tree)
#   --baseline PATH    a second decoder read on the same files; the tables show both, and every
#                      file that the measured decoder reads less often than the baseline is listed
#   --decoder-options  words added to every decoder command line (e.g. an option of the decoder)
#   --out DIR          where the results go (default out/yield/<decoder's hash>[-quick])
#   --report FILE      only print the tables again from a cases.tsv of an earlier run
# Marked and changed files are kept in out/yield/files/<encoder's hash>/ and reused, so measuring
# another decoder costs only the decoding. Written packets are the encoder's "-> N packets
# encoded" figure (a packet under way at the end of the file counts); after a cut, the packets
# that began in the part kept; after a mono downmix, those of one channel.
# A time stamp counts as right when it equals the stamp of one of the packets that ended in the
# 2 packets + 2 s before the end of the second of audio in which the decoder reported it (in the
# original file's time: cuts shift it, speed changes scale it).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/scripts/setup.sh"

quick=0
decoder=""
encoder=""
baseline=""
decoder_options=""
out=""
report_only=""
while [ $# -gt 0 ]; do
    case $1 in
        --quick) quick=1 ;;
        --decoder) decoder=$2; shift ;;
        --encoder) encoder=$2; shift ;;
        --baseline) baseline=$2; shift ;;
        --decoder-options) decoder_options=$2; shift ;;
        --out) out=$2; shift ;;
        --report) report_only=$2; shift ;;
        *) echo "usage: $0 [--quick] [--decoder PATH] [--encoder PATH] [--baseline PATH]" \
            "[--decoder-options WORDS] [--out DIR] [--report FILE]" >&2; exit 1 ;;
    esac
    shift
done

vekmrk_need_packages cmake make g++ sox ffmpeg
[ -n "$report_only" ] || "$root/scripts/corpus.sh"
corpus="$root/out/corpus"
if [ -n "$report_only" ] && { [ -z "$decoder" ] || [ -z "$encoder" ]; }; then
    echo "--report needs the --decoder and --encoder of that run (for the header)" >&2
    exit 1
fi
vekmrk_measured_programs "$root"
hash_of() { sha1sum "$1" | cut -c1-10; }
files="$root/out/yield/files/$(hash_of "$encoder")"
[ -n "$out" ] || out="$root/out/yield/$(hash_of "$decoder")$([ "$quick" = 0 ] || echo -quick)"
mkdir -p "$files" "$out"
owner=YieldOwnerA # the owner name of the private-layer cases

# --- Cases ------------------------------------------------------------------------------------
# One line each: group piece rate channels payload addts layer rawbr change
# layer: public | private (VEKMRK_OWNER=$owner on both sides) | code (marked as private, read
# with "-layer $owner" and no owner name).
digits16=0123456789ABCDEF
digits96=$digits16$digits16$digits16$digits16$digits16$digits16
music3="bright-3min lofi-3min quiet-3min dense-3min"
music30="bright-30s lofi-30s loud-30s"
speech="speech-3min speech-30s"
generated="noise-30s pink-30s tone-30s sweep-30s silence-30s"
# id|label: the changes that count towards the total (7 pieces x 19 changes), then the others.
changes=(
    "vol-10|volume -10 dB"
    "clip|volume +9 dB, clipped"
    "rs48|resampled to 48 kHz"
    "rs22|resampled to 22.05 kHz"
    "mp3-320|MP3 320 kbit/s"
    "mp3-128|MP3 128 kbit/s"
    "mp3-64|MP3 64 kbit/s"
    "ogg|Ogg Vorbis, quality 3"
    "aac|AAC 128 kbit/s"
    "noise-40|white noise at -40 dBFS"
    "noise-30|white noise at -30 dBFS"
    "lp8k|low-pass 8 kHz"
    "hp200|high-pass 200 Hz"
    "crop|first 5.5 s cut off"
    "excerpt|15 s excerpt from the middle"
    "speed+1|speed +1 %"
    "speed-1|speed -1 %"
    "mono|mono downmix"
    "8bit|requantised to 8 bits"
    "speed+0.1|speed +0.1 %"
    "speed-0.1|speed -0.1 %"
    "rs11|resampled to 11.025 kHz"
)
counted_changes=19
cases_list() {
    local p r pay ts br c
    if [ "$quick" = 1 ]; then
        for p in bright-30s lofi-30s; do
            for r in 44100 48000; do
                echo "rates $p $r 2 0123ABCD 0 public 50 none"
                echo "payloads $p $r 2 12345678 0 public 50 none"
                echo "payloads $p $r 2 0123ABCD 1 public 50 none"
            done
            echo "payloads $p 44100 2 $digits96 0 public 50 none"
            echo "layers $p 44100 2 0123ABCD 0 private 50 none"
            echo "rawbr $p 44100 2 0123ABCD 0 public 40 none"
            for c in mp3-128 noise-30 crop speed+1 speed+0.1; do
                echo "changes $p 44100 2 0123ABCD 0 public 50 $c"
            done
        done
        for r in 44100 48000; do
            echo "rates bright-3min $r 2 0123ABCD 0 public 50 none"
            echo "payloads dense-3min $r 2 0123ABCD 1 public 50 none"
        done
        return
    fi
    for p in $music3 $music30 $speech $generated; do
        for r in 22050 32000 44100 48000; do
            echo "rates $p $r 2 0123ABCD 0 public 50 none"
        done
        echo "rates $p 44100 1 0123ABCD 0 public 50 none"
    done
    for p in $music3 $music30; do
        for r in 44100 48000; do
            for pay in 0A1B 0123ABCD 12345678 $digits16 $digits96; do
                for ts in 0 1; do
                    echo "payloads $p $r 2 $pay $ts public 50 none"
                done
            done
        done
        for r in 22050 32000; do
            for pay in 12345678 $digits96; do
                echo "payloads $p $r 2 $pay 1 public 50 none"
            done
        done
        for r in 44100 48000; do
            echo "layers $p $r 2 0123ABCD 0 private 50 none"
            echo "layers $p $r 2 0123ABCD 0 code 50 none"
            echo "layers $p $r 2 12345678 1 private 50 none"
        done
        for r in 22050 44100 48000; do
            for br in 25 40 50 100; do
                # 50 at 44.1 and 48 kHz: the payload cases above
                [ "$br" != 50 ] || [ "$r" = 22050 ] || continue
                echo "rawbr $p $r 2 0123ABCD 0 public $br none"
            done
        done
        for c in "${changes[@]}"; do
            echo "changes $p 44100 2 0123ABCD 0 public 50 ${c%%|*}"
        done
        for c in crop excerpt speed+1 speed-1 speed+0.1 speed-0.1 mp3-128 rs48; do
            echo "stamps $p 44100 2 0123ABCD 1 public 50 $c"
        done
    done
}

# --- Marking and changing (cached) --------------------------------------------------------------
layer_env() { # layer -> env words for the encoder
    case $1 in
        public) echo "-u VEKMRK_OWNER" ;;
        *) echo "VEKMRK_OWNER=$owner" ;;
    esac
}
# mark piece rate channels payload addts layer rawbr -> prints the marked file; its .count beside
mark() {
    local piece=$1 rate=$2 ch=$3 payload=$4 ts=$5 layer=$6 br=$7
    local kind=stereo
    [ "$ch" = 2 ] || kind=mono
    local name="$piece-$rate-$kind-$(echo "$payload" | cut -c1-16)-${#payload}-ts$ts-$layer-br$br"
    local file="$files/$name.wav"
    if [ ! -e "$file.count" ]; then
        local options=(-addts "$ts" -rawbr "$br")
        [ "$layer" = public ] || options+=(-layer private)
        # shellcheck disable=SC2046
        env $(layer_env "$layer") "$encoder" "${options[@]}" "$corpus/$rate/$kind/$piece.wav" \
            "$payload" "$file" 2>/dev/null |
            sed -n 's/^-> \([0-9]*\) packets encoded.*/\1/p' >"$file.count.tmp"
        mv "$file.count.tmp" "$file.count"
    fi
    echo "$file"
}

sox_q() { sox -V1 -R "$@"; }
via_ffmpeg() { # in out extension codec options...
    local in=$1 o=$2 ext=$3
    shift 3
    ffmpeg -nostdin -v error -y -i "$in" "$@" "$o.$ext"
    ffmpeg -nostdin -v error -y -i "$o.$ext" -ar "$(soxi -r "$in")" -c:a pcm_s16le "$o"
    rm -f "$o.$ext"
}
add_noise() { # in out dBFS: white noise of that RMS level
    local amplitude
    amplitude=$(awk -v d="$3" 'BEGIN {printf "%.6f", 10^(d / 20) * sqrt(3)}')
    sox_q -n -r "$(soxi -r "$1")" -c "$(soxi -c "$1")" -b 16 "$2.noise.wav" synth "$(soxi -D "$1")" \
        whitenoise vol "$amplitude"
    sox_q -m -v 1 "$1" -v 1 "$2.noise.wav" -b 16 "$2"
    rm -f "$2.noise.wav"
}
excerpt_start() { awk -v d="$(soxi -D "$1")" 'BEGIN {printf "%.3f", d / 2 - 7.5}'; }
# change id in out
apply_change() {
    local id=$1 in=$2 o=$3 rate
    rate=$(soxi -r "$in")
    case $id in
        none) cp "$in" "$o" ;;
        vol-10) sox_q "$in" "$o" vol -10dB ;;
        clip) sox_q "$in" "$o" vol 9dB ;;
        rs48) sox_q "$in" -b 16 "$o" rate -v 48000 ;;
        rs22) sox_q "$in" -b 16 "$o" rate -v 22050 ;;
        rs11) sox_q "$in" -b 16 "$o" rate -v 11025 ;;
        mp3-*) via_ffmpeg "$in" "$o" mp3 -c:a libmp3lame -b:a "${id#mp3-}k" ;;
        ogg) via_ffmpeg "$in" "$o" ogg -c:a libvorbis -q:a 3 ;;
        aac) via_ffmpeg "$in" "$o" m4a -c:a aac -b:a 128k ;;
        noise-*) add_noise "$in" "$o" "-${id#noise-}" ;;
        lp8k) sox_q "$in" "$o" sinc -8000 ;;
        hp200) sox_q "$in" "$o" sinc 200 ;;
        crop) sox_q "$in" "$o" trim 5.5 ;;
        excerpt) sox_q "$in" "$o" trim "$(excerpt_start "$in")" 15 ;;
        speed*) sox_q "$in" "$o" speed "$(awk -v p="${id#speed}" 'BEGIN {printf "%.4f", 1 + p / 100}')" \
            rate -v "$rate" ;;
        mono) sox_q "$in" "$o" channels 1 ;;
        8bit) sox_q "$in" -b 8 "$o.8.wav" && sox_q "$o.8.wav" -b 16 "$o" && rm -f "$o.8.wav" ;;
        *) echo "unknown change $id" >&2; return 1 ;;
    esac
}
# Time map of a change: "offset scale from to": a second t of the changed file is the second
# offset + scale * t of the marked one; packets begun in [from, to) of the marked file are kept.
change_map() {
    local id=$1 marked=$2 length
    length=$(soxi -D "$marked")
    case $id in
        crop) echo "5.5 1 5.5 $length" ;;
        excerpt) local s; s=$(excerpt_start "$marked"); echo "$s 1 $s $(awk -v s="$s" 'BEGIN {print s + 15}')" ;;
        speed*) echo "0 $(awk -v p="${id#speed}" 'BEGIN {printf "%.4f", 1 + p / 100}') 0 $length" ;;
        *) echo "0 1 0 $length" ;;
    esac
}
changed_file() { # change marked -> prints the changed file
    local id=$1 marked=$2
    [ "$id" != none ] || { echo "$marked"; return; }
    local file="${marked%.wav}--$id.wav"
    if [ ! -e "$file" ]; then
        apply_change "$id" "$marked" "$file.tmp.wav"
        mv "$file.tmp.wav" "$file"
    fi
    echo "$file"
}

# The encoder's schedule of one channel: a lead-in of 40 chips whose first chip is shortened by
# (byte sum of the payload text) / 256 of a chip, then packets back to back. Fills start[i] (s)
# and stamp[i] (the time stamp the packet carries) and packet_seconds; returns the packet count.
schedule_awk='
function schedule(payload, ts, rate, br, length_s,    n, chip, sum, i, c, t, step, count) {
    n = length(payload); chip = int(rate / br + 0.5); sum = 0
    for (i = 1; i <= n; i++) {
        c = substr(payload, i, 1)
        sum += index("0123456789ABCDEF", c) - 1 + (c ~ /[0-9]/ ? 48 : 55)
    }
    sum %= 256
    step = (8 * n + (ts ? 68 : 44)) * chip
    packet_seconds = step / rate
    count = 0
    for (t = 40 * chip - int(sum * chip / 256); t / rate < length_s; t += step) {
        start[count] = t / rate
        stamp[count] = int(((8 * n + 69) / br + t / rate) / 15 + 0.5)
        count++
    }
    return count
}
'

# --- Decoding and judging ---------------------------------------------------------------------
# decode decoder file layer rawbr -> "read stamps wrong_payloads wrong_stamps cpu_seconds exit"
# Packets are taken from the per-packet lines on standard error; the progress figures between
# them tell in which second of the file each packet was reported.
decode() {
    local dec=$1 file=$2 layer=$3 br=$4 payload=$5 ts=$6 map=$7
    local options=()
    case $layer in
        private) options+=(-layer private) ;;
        code) options+=(-layer "$owner") ;;
    esac
    [ "$br" = 50 ] || options+=(-rawbr "$br")
    # Decoders that write the progress figure only to a terminal are asked for it with -S:
    # the figure tells in which second each packet was reported.
    ! "$dec" --help 2>/dev/null | grep -q -- '-S' || options+=(-S)
    # shellcheck disable=SC2206
    [ -z "$decoder_options" ] || options+=($decoder_options)
    local env_words="-u VEKMRK_OWNER"
    [ "$layer" != private ] || env_words="VEKMRK_OWNER=$owner"
    local status=0 cpu
    local TIMEFORMAT="%3U %3S"
    # shellcheck disable=SC2086
    cpu=$({ time env $env_words "$dec" "${options[@]}" "$file" >"$work/stdout" 2>"$work/stderr" ||
        echo "exit $?" >"$work/status"; } 2>&1)
    [ ! -e "$work/status" ] || { status=$(cut -d' ' -f2 <"$work/status"); rm -f "$work/status"; }
    cpu=$(echo "$cpu" | awk '{print $1 + $2}')
    awk -v RS='\b' -v payload="$payload" -v ts="$ts" -v rate="$8" -v br="$br" -v map="$map" \
        -v length_s="$9" -v cpu="$cpu" -v status="$status" "$schedule_awk"'
    BEGIN {
        split(map, m, " "); offset = m[1]; scale = m[2]
        count = schedule(payload, ts, rate, br, length_s)
        window = 2 * packet_seconds + 2
    }
    NR == 1 { next }
    /^[0-9][0-9][0-9]%/ { frame++; next }
    /^x/ {
        lines = split($0, line, "\n")
        for (j = 1; j <= lines; j++) {
            if (line[j] !~ /^x/) continue
            got = substr(line[j], 2); v = -1
            if (match(got, / \(T [0-9]+:[0-9][0-9]\)$/)) {
                split(substr(got, RSTART + 4, RLENGTH - 5), mmss, ":")
                v = mmss[1] * 4 + mmss[2] / 15
                got = substr(got, 1, RSTART - 1)
            }
            if (got != payload) { wrong_payload++; continue }
            read++
            if (v < 0) continue
            stamps++
            lo = offset + scale * (frame - window); hi = offset + scale * (frame + 1) + 0.5
            ok = 0
            for (i = 0; i < count; i++) {
                end = start[i] + packet_seconds
                if (end >= lo && end <= hi && stamp[i] == v) ok = 1
            }
            if (!ok) wrong_stamp++
        }
    }
    END { printf "%d %d %d %d %s %d\n", read, stamps, wrong_payload, wrong_stamp, cpu, status }
    ' "$work/stderr"
}

# written packets: the encoder's count, or those begun in the part a cut keeps, per channel kept
written_packets() {
    local count=$1 payload=$2 ts=$3 rate=$4 br=$5 map=$6 ch_in=$7 ch_out=$8
    awk -v count="$count" -v payload="$payload" -v ts="$ts" -v rate="$rate" -v br="$br" \
        -v map="$map" -v ci="$ch_in" -v co="$ch_out" "$schedule_awk"'
    BEGIN {
        split(map, m, " "); from = m[3]; to = m[4]
        if (from == 0) { printf "%d\n", count * co / ci; exit }
        packets = schedule(payload, ts, rate, br, to)
        kept = 0
        for (i = 0; i < packets; i++) if (start[i] >= from) kept++
        printf "%d\n", kept * co
    }'
}

# --- Report -----------------------------------------------------------------------------------
# Markdown tables and totals from the cases file.
report() {
    local labels="" c
    for c in "${changes[@]}"; do labels+="${c%%|*}=${c#*|};"; done
    {
        echo "Decoder: \`$decoder\` (sha1 $(hash_of "$decoder"))${decoder_options:+, options \`$decoder_options\`}"
        [ -z "$baseline" ] || echo "Baseline: \`$baseline\` (sha1 $(hash_of "$baseline")), shown as [b: N]"
        echo "Encoder: \`$encoder\` (sha1 $(hash_of "$encoder")); measured $(date -u '+%Y-%m-%d %H:%M UTC')"
        echo "Corpus (scripts/corpus.sh; gain 1, 16-bit WAV):"
        sed 's/^\([^ ]*\) \([^ ]*\) \([^ ]*\) \(.*\)/- \1: \2, \3 s, \4/' "$corpus/pieces.txt"
        echo
    }
    awk -F '\t' -v labels="$labels" -v counted="$counted_changes" -v has_base="$([ -n "$baseline" ] && echo 1 || echo 0)" '
    function pct(a, b) { return b > 0 ? sprintf("%d %%", int(100 * a / b + 0.5)) : "-" }
    function cell(r, w, b) { return r " of " w (has_base ? " [b: " b "]" : "") }
    NR == 1 { next }
    {
        # A file read in two groups counts once in the totals and once per table.
        file_key = $2 SUBSEP $3 SUBSEP $4 SUBSEP $5 SUBSEP $6 SUBSEP $7 SUBSEP $8 SUBSEP $9
        table_key = ($1 == "rates" || $1 == "changes" ? $1 : "options") SUBSEP file_key
        if (table_key in seen_case) next
        seen_case[table_key] = 1
        repeated = (file_key in seen_file)
        seen_file[file_key] = 1
    }
    {
        g = $1; piece = $2; rate = $3; ch = $4; pay = $5; ts = $6; layer = $7; br = $8; change = $9
        written = $10; read = $11; stamps = $12; wrong = $13; wstamps = $14; cpu = $15; secs = $16
        if (!repeated) { all_wrong += wrong; all_wstamps += wstamps; all_cpu += cpu; all_secs += secs; cases++ }
        if (has_base && !repeated) {
            b_wrong += $20; b_wstamps += $21; b_cpu += $22
            if (read < $18) fewer = fewer sprintf("| %s | %s | %s | %d | %s | ts %s | %s | %s | %s | %d | %d |\n", g, piece, rate, ch, pay, ts, layer, br, change, read, $18)
        }
        if ($17 != 0) errors = errors sprintf("- %s %s %s %s %s: decoder exit %s\n", g, piece, rate, pay, change, $17)
        if (g == "rates") {
            key = piece SUBSEP rate SUBSEP ch
            R[key] = cell(read, written, $18)
            if (!(piece in seen_piece)) { seen_piece[piece] = 1; pieces[++np] = piece }
        } else if (g == "changes") {
            key = change SUBSEP piece
            C[key] = cell(read, written, $18) (read > 0 && wrong + wstamps == 0 ? "" : " **lost**") (wrong + wstamps ? " " wrong + wstamps " wrong" : "")
            ok = (read > 0 && wrong + wstamps == 0)
            if (!(change in seen_change)) { seen_change[change] = 1; chg[++nc] = change }
            if (!(piece in seen_cpiece)) { seen_cpiece[piece] = 1; cpieces[++ncp] = piece }
            survived[change] += ok
            if (has_base) b_survived[change] += ($18 > 0 && $20 + $21 == 0)
        } else {
            len = (piece ~ /3min/ ? "3 min" : "30 s")
            opt = (length(pay) > 16 ? length(pay) " digits" : pay) (ts ? ", time stamps" : "") (layer != "public" ? ", " (layer == "code" ? "private, read by layer code" : "private") : "") (br != 50 ? ", -rawbr " br : "")
            if (g == "stamps") { opt = "time stamps, " change; len = "all" }
            key = opt SUBSEP len
            if (!(key in seen_opt)) { seen_opt[key] = 1; opts[++no] = key }
            O_r[key, rate] += read; O_w[key, rate] += written; O_s[key, rate] += stamps
            O_wrong[key, rate] += wrong + wstamps
            p = (written > 0 ? read / written : 0)
            if (!((key, rate) in O_min) || p < O_min[key, rate]) O_min[key, rate] = p
            rates_seen[rate] = 1
            if (has_base) O_b[key, rate] += $18
        }
    }
    END {
        print "### Unmodified marked files, payload 0123ABCD, default options: packets read of written"
        print ""
        print "| Piece | 22.05 kHz | 32 kHz | 44.1 kHz | 48 kHz | 44.1 kHz mono |"
        print "|---|---|---|---|---|---|"
        for (i = 1; i <= np; i++) {
            pc = pieces[i]
            printf "| %s | %s | %s | %s | %s | %s |\n", pc, R[pc, 22050, 2], R[pc, 32000, 2], R[pc, 44100, 2], R[pc, 48000, 2], R[pc, 44100, 1]
        }
        print ""
        if (no > 0) {
            print "### Payloads and options, real music: packets read of written, the lowest piece, time stamps read"
            print ""
            nr = 0
            for (r in rates_seen) rl[++nr] = r
            for (i = 1; i <= nr; i++) for (j = i + 1; j <= nr; j++) if (rl[j] + 0 < rl[i] + 0) { t = rl[i]; rl[i] = rl[j]; rl[j] = t }
            head = "| Payload and options | Pieces |"; rule = "|---|---|"
            for (i = 1; i <= nr; i++) { head = head " " rl[i] / 1000 " kHz |"; rule = rule "---|" }
            print head; print rule
            for (k = 1; k <= no; k++) {
                split(opts[k], part, SUBSEP)
                line = "| " part[1] " | " part[2] " |"
                for (i = 1; i <= nr; i++) {
                    key = opts[k] SUBSEP rl[i]
                    if (!(key in O_w)) { line = line " |"; continue }
                    c = O_r[key] " of " O_w[key] " = " pct(O_r[key], O_w[key]) ", lowest " int(100 * O_min[key] + 0.5) " %"
                    if (opts[k] ~ /time stamps/) c = c ", stamps " pct(O_s[key], O_r[key])
                    if (O_wrong[key]) c = c ", **" O_wrong[key] " wrong**"
                    if (has_base) c = c " [b: " O_b[key] "]"
                    line = line " " c " |"
                }
                print line
            }
            print ""
        }
        if (nc > 0) {
            print "### Changes to the marked file (44.1 kHz stereo, payload 0123ABCD): packets read of written"
            print ""
            head = "| Change |"; rule = "|---|"
            for (i = 1; i <= ncp; i++) { head = head " " cpieces[i] " |"; rule = rule "---|" }
            print head " survived |"; print rule "---|"
            split(labels, lab, ";")
            for (i = 1; i in lab; i++) { split(lab[i], kv, "="); label[kv[1]] = kv[2]; order[kv[1]] = i }
            for (i = 1; i <= nc; i++) {
                ch_ = chg[i]
                line = "| " (ch_ in label ? label[ch_] : ch_) (order[ch_] > counted ? " (not in the total)" : "") " |"
                for (j = 1; j <= ncp; j++) line = line " " C[ch_, cpieces[j]] " |"
                print line " " survived[ch_] " of " ncp (has_base ? " [b: " b_survived[ch_] "]" : "") " |"
                if (order[ch_] <= counted) { tot += survived[ch_]; totn += ncp; btot += b_survived[ch_] }
                else { xtot += survived[ch_]; xn += ncp }
            }
            print ""
            printf "Changes survived (the payload read at least once, nothing wrong): %d of %d%s", tot, totn, (has_base ? " [baseline: " btot "]" : "")
            if (xn) printf "; other changes: %d of %d", xtot, xn
            print "."
            print ""
        }
        printf "Wrong packets (another payload): %d; wrong time stamps: %d; over %d files read.\n", all_wrong, all_wstamps, cases
        if (has_base) printf "Baseline: wrong packets %d, wrong time stamps %d.\n", b_wrong, b_wstamps
        printf "Decoder speed: %.1f h of audio in %.1f s of CPU time = %.0fx real time (one process, one core)%s.\n", all_secs / 3600, all_cpu, (all_cpu > 0 ? all_secs / all_cpu : 0), (has_base && b_cpu > 0 ? sprintf("; baseline %.0fx", all_secs / b_cpu) : "")
        if (errors != "") { print ""; print "Decoder failures:"; printf "%s", errors }
        if (fewer != "") {
            print ""; print "Files read less often than by the baseline:"; print ""
            print "| Group | Piece | Rate | Ch | Payload | Stamps | Layer | Chip rate | Change | Read | Baseline |"
            print "|---|---|---|---|---|---|---|---|---|---|---|"
            printf "%s", fewer
        }
    }' "$1"
}

if [ -n "$report_only" ]; then
    report "$report_only"
    exit 0
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
results="$out/cases.tsv"
cases_list >"$work/cases"
total=$(wc -l <"$work/cases")
echo "Measuring $decoder on $total cases$([ -z "$baseline" ] || echo ", baseline $baseline")" >&2
printf "group\tpiece\trate\tchannels\tpayload\taddts\tlayer\trawbr\tchange\twritten\tread\tstamps\twrong\twrong_stamps\tcpu\tseconds\texit\tb_read\tb_stamps\tb_wrong\tb_wrong_stamps\tb_cpu\n" >"$results"
done_cases=0
while read -r group piece rate ch payload ts layer br change <&3; do
    marked=$(mark "$piece" "$rate" "$ch" "$payload" "$ts" "$layer" "$br")
    file=$(changed_file "$change" "$marked")
    map=$(change_map "$change" "$marked")
    length_s=$(soxi -D "$marked")
    seconds=$(soxi -D "$file")
    ch_out=$(soxi -c "$file")
    written=$(written_packets "$(cat "$marked.count")" "$payload" "$ts" "$rate" "$br" "$map" "$ch" "$ch_out")
    read -r r s w ws cpu status < <(decode "$decoder" "$file" "$layer" "$br" "$payload" "$ts" "$map" "$rate" "$length_s")
    b="-\t-\t-\t-\t-"
    if [ -n "$baseline" ]; then
        read -r br_ bs bw bws bcpu _ < <(decode "$baseline" "$file" "$layer" "$br" "$payload" "$ts" "$map" "$rate" "$length_s")
        b="$br_\t$bs\t$bw\t$bws\t$bcpu"
    fi
    printf "%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\t$b\n" "$group" "$piece" "$rate" \
        "$ch" "$payload" "$ts" "$layer" "$br" "$change" "$written" "$r" "$s" "$w" "$ws" "$cpu" "$seconds" \
        "$status" >>"$results"
    done_cases=$((done_cases + 1))
    printf "[%d/%d] %-8s %-11s %5s %s %-10.10s ts%s %-7s br%-3s %-10s read %4d of %4d, stamps %4d, wrong %d+%d%s\n" \
        "$done_cases" "$total" "$group" "$piece" "$rate" "$ch" "$payload" "$ts" "$layer" "$br" "$change" \
        "$r" "$written" "$s" "$w" "$ws" "$([ -z "$baseline" ] || echo ", baseline read $br_")" >&2
done 3<"$work/cases"

report "$results" | tee "$out/results.md"
echo "Results: $out/results.md, cases: $results" >&2
