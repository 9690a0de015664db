#!/usr/bin/env bash
# Runs the Windows programs under Wine and checks what differs between systems: file names and
# the command line in UTF-16, the owner-name places, the progress log's CR LF, the exit codes of
# the failure paths, replacing an existing output, and the conformance vectors byte for byte.
#   tests/windows/wine_checks.sh <vekmrkenc.exe> <vekmrkdec.exe> <wine prefix folder>
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
vectors="$here/../data/vectors"
enc_built=$(realpath "$1")
dec_built=$(realpath "$2")
export WINEPREFIX=$(realpath -m "$3")
export WINEDEBUG=-all
# No Mono or Gecko installation offered when the prefix is created: console programs only.
export WINEDLLOVERRIDES="mscoree=;mshtml="
# Wine reads Unix file names and arguments in the locale's character set.
export LC_ALL=C.UTF-8
unset VEKMRK_OWNER VEKMRK_SIMD VEKMRK_THREADS

failures=0
pass() { echo "ok   - $1"; }
fail() {
    echo "FAIL - $1" >&2
    failures=$((failures + 1))
}
check() { # check <description> <command...>: passes when the command succeeds
    local what=$1
    shift
    if "$@"; then pass "$what"; else fail "$what"; fi
}

started=$(date +%s)
wine wineboot --init >/dev/null 2>&1
wineserver -w
echo "Wine prefix ready in $(($(date +%s) - started)) s ($WINEPREFIX)"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# The programs live in a folder with blanks and non-ASCII characters, as installed ones may.
bin="$work/Programme – Größe"
mkdir -p "$bin" "$work/run"
cp "$enc_built" "$bin/vekmrkenc.exe"
cp "$dec_built" "$bin/vekmrkdec.exe"
cd "$work/run" || exit 1

# run <exe> <args...>: stdout in out.txt, stderr in err.txt, exit code in $code.
run() {
    local exe=$1
    shift
    wine "$bin/$exe.exe" "$@" >out.txt 2>err.txt
    code=$?
}
expect_code() { # expect_code <description> <code> <exe> <args...>
    local what=$1 want=$2
    shift 2
    run "$@"
    if [ "$code" = "$want" ]; then pass "$what: exit $want"; else fail "$what: exit $code, not $want"; fi
}
sha() { sha256sum "$1" | cut -d' ' -f1; }
expected_sha() { grep " $1\$" "$vectors/SHA256SUMS" | cut -d' ' -f1; }
# Every line ends with CR LF, and the file has at least one line.
crlf_only() { [ -s "$1" ] && ! tr -d '\r' <"$1" | cmp -s - "$1" && ! grep -q $'[^\r]$' "$1"; }

echo "== Static linking"
for exe in vekmrkenc vekmrkdec; do
    dlls=$(x86_64-w64-mingw32-objdump -p "$bin/$exe.exe" | sed -n 's/.*DLL Name: //p' | tr '\n' ' ')
    check "$exe.exe needs system DLLs only ($dlls)" \
        bash -c '! grep -qiE "libstdc|libgcc|winpthread" <<<"$0"' "$dlls"
done

echo "== Conformance vectors"
cp "$vectors"/in*.wav .
run vekmrkenc in1_44100_mono.wav 0123ABCD out1.wav
VEKMRK_OWNER=VekTestOwner run vekmrkenc -layer private -gain 2 -addts 1 in2_48000_mono.wav 0A1B out2.wav
run vekmrkenc -rawbr 45 -gain 0.7 in3_22050_stereo.wav 1A2 out3.wav
run vekmrkenc in4_32000_stereo_loud.wav CAFEBABE out4.wav
for n in 1 2 3 4; do
    check "out$n.wav byte for byte" [ "$(sha out$n.wav)" = "$(expected_sha out$n.wav)" ]
done
VEKMRK_SIMD=portable run vekmrkenc -rawbr 45 -gain 0.7 in3_22050_stereo.wav 1A2 portable3.wav
check "out3.wav byte for byte with the portable kernels" \
    [ "$(sha portable3.wav)" = "$(expected_sha out3.wav)" ]

echo "== Round trip, file names with blanks and non-ASCII characters"
name="Café – Größe.wav"
marked="Größe – Café (marked).wav"
cp in1_44100_mono.wav "$name"
run vekmrkenc "$name" 0123abcd "$marked"
check "encoder names the files in UTF-8 on stdout" grep -qF "\"$name\" + (0123ABCD) => \"$marked\"" out.txt
check "output written under its non-ASCII name" [ "$(sha "$marked")" = "$(expected_sha out1.wav)" ]
run vekmrkdec "$marked"
check "decoder finds the public payload" grep -qF "(x0123ABCD)" out.txt

echo "== Private layer and the owner-name places"
printf 'Größe\r\n' >"$bin/vekmrk-owner.txt"
run vekmrkenc -layer private "$name" BEEF private.wav
check "private encode with the owner file beside the programs" [ "$code" = 0 ]
run vekmrkdec -layer private private.wav
check "private layer read back with the same owner file" grep -qF "(xBEEF)" out.txt
run vekmrkdec private.wav
check "public layer of the private mark stays empty" bash -c '! grep -q "(x" out.txt'
run vekmrkdec -layer Größe private.wav
check "owner name given as a non-ASCII layer code" grep -qF "(xBEEF)" out.txt
rm "$bin/vekmrk-owner.txt"
machine="$WINEPREFIX/drive_c/ProgramData/vekmrk"
mkdir -p "$machine"
printf 'Größe\n' >"$machine/vekmrk-owner.txt"
run vekmrkdec -layer private private.wav
check "owner file in %ProgramData%\\vekmrk" grep -qF "(xBEEF)" out.txt
rm -r "$machine"

echo "== Progress logs with CR LF"
log="Journal – é.txt"
run vekmrkenc -logfile "$log" in1_44100_mono.wav 0123ABCD logged.wav
check "encoder log ends with status 1000" [ "$(head -n1 "$log")" = $'1000\r' ]
check "encoder log lines end with CR LF" crlf_only "$log"
run vekmrkdec -logfile "$log" logged.wav
check "decoder log lines end with CR LF" crlf_only "$log"
run vekmrkenc -logfile "$log" missing.wav 0123ABCD x.wav
check "failure logged as -10" [ "$(head -n1 "$log")" = $' -10\r' ]

echo "== Exit codes of the failure paths"
cp in1_44100_mono.wav rate8000.wav
printf '\x40\x1f\x00\x00' | dd of=rate8000.wav bs=1 seek=24 conv=notrunc status=none
expect_code "encoder without arguments" 1 vekmrkenc
expect_code "encoder with a payload that is not hexadecimal" 1 vekmrkenc in1_44100_mono.wav XYZ x.wav
expect_code "encoder with a missing input" 10 vekmrkenc missing.wav 12 x.wav
expect_code "encoder with an 8000 Hz input" 11 vekmrkenc rate8000.wav 12 x.wav
expect_code "encoder with a refused configuration" 4 vekmrkenc -rawbr 0 in1_44100_mono.wav 12 x.wav
expect_code "encoder, private layer without an owner name" 4 \
    vekmrkenc -layer private in1_44100_mono.wav 12 x.wav
expect_code "encoder writing into a missing folder" 20 vekmrkenc in1_44100_mono.wav 12 'no such\x.wav'
expect_code "encoder writing over its input" 20 vekmrkenc in1_44100_mono.wav 12 IN1_44100_MONO.WAV
expect_code "decoder without arguments" 1 vekmrkdec
expect_code "decoder with a missing input" 10 vekmrkdec missing.wav
expect_code "decoder with an 8000 Hz input" 11 vekmrkdec rate8000.wav
expect_code "decoder with a refused configuration" 4 vekmrkdec -rawbr 0 in1_44100_mono.wav
# Past 2 GiB (a sparse file whose data chunk runs to its end): the reader gets its size and
# header, and only the rate is refused.
cp rate8000.wav beyond2GiB.wav
printf '\x00\x00\x00\xf0' | dd of=beyond2GiB.wav bs=1 seek=40 conv=notrunc status=none
truncate -s 2200M beyond2GiB.wav
expect_code "decoder with an 8000 Hz input of 2.2 GB" 11 vekmrkdec beyond2GiB.wav
rm beyond2GiB.wav

echo "== Replacing an existing output"
head -c 5000 /dev/urandom >existing.wav
run vekmrkenc in1_44100_mono.wav 0123ABCD existing.wav
check "existing file replaced by the complete output" \
    [ "$(sha existing.wav)" = "$(expected_sha out1.wav)" ]
check "no temporary file left beside it" bash -c '! ls -A | grep -q "\.tmp$"'

echo "== Stopped by Ctrl+C (SIGINT) while writing"
le32() { printf '\\x%02x' $(($1 & 255)) $(($1 >> 8 & 255)) $(($1 >> 16 & 255)) $(($1 >> 24)); }
bytes=$((600 * 44100 * 2)) # ten minutes of mono noise: far longer than the wait below
{
    head -c 4 in1_44100_mono.wav
    printf "$(le32 $((bytes + 36)))"
    head -c 40 in1_44100_mono.wav | tail -c 32
    printf "$(le32 $bytes)"
    head -c "$bytes" /dev/urandom
} >long.wav
wine "$bin/vekmrkenc.exe" -logfile stop.log long.wav 0123 stopped.wav >/dev/null 2>&1 &
launched=$!
for _ in $(seq 600); do # the first progress report, or a minute at most
    [ -s stop.log ] && break
    sleep 0.1
done
kill -INT "$(pgrep -f 'vekmrkenc.exe -logfile stop.log' | head -n1)"
wait "$launched"
code=$?
check "exit status 130 (128 + SIGINT)" [ "$code" = 130 ]
check "log reports -130" [ "$(head -n1 stop.log)" = $'-130\r' ]
check "no output and no temporary file left" bash -c '[ ! -e stopped.wav ] && ! ls -A | grep -q "\.tmp$"'
rm long.wav

wineserver -w
if [ "$failures" -ne 0 ]; then
    echo "$failures Windows check(s) failed." >&2
    exit 1
fi
echo "All Windows checks passed."
