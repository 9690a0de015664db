#!/usr/bin/env bash
# Builds the Debian packages from this build tree, unpacks them into a temporary root with
# dpkg -x and runs the unpacked programs there: the files lie where the documentation says,
# only the front end's package depends on Qt, and a payload written by the unpacked encoder is
# read back by the unpacked decoder, on the public layer and on a private layer keyed by the
# owner-name file of the unpacked tree.
#   package_test.sh <build folder> <vekmrk_genwav> <version> <1 when the front end is built>
set -euo pipefail
build=$1
genwav=$2
version=$3
frontend=$4

work=$(mktemp -d "${TMPDIR:-/tmp}/vekmrk_package.XXXXXX")
trap 'rm -rf "$work"' EXIT
failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}

cpack --config "$build/CPackConfig.cmake" -G DEB -B "$work/packages" >"$work/cpack.log" 2>&1 ||
    { cat "$work/cpack.log"; echo "FAIL: cpack"; exit 1; }
arch=$(dpkg --print-architecture)
cli="$work/packages/vekmrk_${version}_${arch}.deb"
gui="$work/packages/vekmrkwin_${version}_${arch}.deb"
[ -f "$cli" ] || { ls "$work/packages"; echo "FAIL: no package $cli"; exit 1; }

# A Homepage, when there is one, is a real address.
[[ "$(dpkg-deb -f "$cli" Homepage)" != *example* ]] || fail "the Homepage field is a placeholder"

# Dependencies: found by dpkg-shlibdeps; Qt only for the front end.
cli_depends=$(dpkg-deb -f "$cli" Depends)
echo "vekmrk Depends: $cli_depends"
[[ "$cli_depends" == *libc6* ]] || fail "vekmrk does not declare its C library: $cli_depends"
[[ "${cli_depends,,}" != *qt* ]] || fail "vekmrk depends on Qt: $cli_depends"
root="$work/root"
mkdir -p "$root"
dpkg -x "$cli" "$root"
if [ "$frontend" = 1 ]; then
    [ -f "$gui" ] || { ls "$work/packages"; echo "FAIL: no package $gui"; exit 1; }
    gui_depends=$(dpkg-deb -f "$gui" Depends)
    echo "vekmrkwin Depends: $gui_depends"
    [[ "$gui_depends" == *"vekmrk (= $version)"* ]] || fail "vekmrkwin does not depend on vekmrk: $gui_depends"
    [[ "$gui_depends" == *libqt6widgets6* ]] || fail "vekmrkwin does not depend on Qt 6 Widgets: $gui_depends"
    [[ "$gui_depends" == *fonts-liberation* ]] || fail "vekmrkwin does not depend on Arial-metric fonts: $gui_depends"
    dpkg -x "$gui" "$root"
    if dpkg-deb -c "$cli" | grep -q vekmrkwin; then
        fail "the front end's files are in the command-line package"
    fi
fi

# The places the manual pages and the README name.
expected=(usr/bin/vekmrkenc usr/bin/vekmrkdec usr/share/man/man1/vekmrkenc.1.gz
          usr/share/man/man1/vekmrkdec.1.gz usr/share/doc/vekmrk/copyright)
if [ "$frontend" = 1 ]; then
    expected+=(usr/bin/vekmrkwin usr/share/man/man1/vekmrkwin.1.gz
               usr/share/vekmrk/vekmrkguiHelp.html usr/share/applications/vekmrkwin.desktop
               usr/share/icons/hicolor/scalable/apps/vekmrkwin.svg usr/share/doc/vekmrkwin/copyright)
fi
for file in "${expected[@]}"; do
    [ -f "$root/$file" ] || fail "missing $file"
done
for program in "$root"/usr/bin/*; do
    [ -x "$program" ] || fail "$program is not executable"
done
for page in "$root"/usr/share/man/man1/*.gz; do
    gzip -t "$page" || fail "$page is not a valid gzip file"
done
if [ "$frontend" = 1 ]; then
    desktop="$root/usr/share/applications/vekmrkwin.desktop"
    desktop-file-validate "$desktop" || fail "the desktop entry does not validate"
    grep -qx 'Exec=vekmrkwin' "$desktop" || fail "the desktop entry does not start vekmrkwin"
    grep -qx 'Icon=vekmrkwin' "$desktop" || fail "the desktop entry does not name the icon"
    grep -q '^MimeType=.*audio/x-wav;' "$desktop" || fail "the desktop entry does not declare WAV files"
fi

# The unpacked programs at work: public layer, then a private layer whose owner name comes from
# <bin>/../etc/vekmrk of the unpacked tree.
"$genwav" "$work/song.wav" 24 44100 2 music 0.3 7
bin="$root/usr/bin"
run_clean() { env -u VEKMRK_OWNER "$@"; }
run_clean "$bin/vekmrkenc" "$work/song.wav" 0123ABCD "$work/public.wav" >"$work/enc.out" 2>"$work/enc.err" ||
    { cat "$work/enc.err"; fail "the unpacked encoder failed"; }
run_clean "$bin/vekmrkdec" "$work/public.wav" >"$work/dec.out" 2>"$work/dec.err" ||
    { cat "$work/dec.err"; fail "the unpacked decoder failed"; }
cat "$work/dec.out"
grep -qE '^\(x0123ABCD\) - [1-9][0-9]* instance\(s\)$' "$work/dec.out" ||
    fail "the payload 0123ABCD did not come back"
[ "$(grep -c '^(x' "$work/dec.out")" = 1 ] || fail "the decoder found other payloads"

mkdir -p "$root/usr/etc/vekmrk"
printf 'PackageOwner\n' >"$root/usr/etc/vekmrk/vekmrk-owner.txt"
run_clean "$bin/vekmrkenc" -layer private "$work/song.wav" 5EC2E7 "$work/private.wav" >/dev/null 2>"$work/enc.err" ||
    { cat "$work/enc.err"; fail "the unpacked encoder failed on the private layer"; }
run_clean "$bin/vekmrkdec" -layer PackageOwner "$work/private.wav" >"$work/code.out" 2>/dev/null ||
    fail "the unpacked decoder failed with a layer code"
grep -qE '^\(x5EC2E7\) - [1-9][0-9]* instance\(s\)$' "$work/code.out" ||
    fail "the private payload did not come back with the owner's code"
run_clean "$bin/vekmrkdec" -layer private "$work/private.wav" >"$work/own.out" 2>/dev/null ||
    fail "the unpacked decoder failed on its own private layer"
grep -q '^(x5EC2E7)' "$work/own.out" || fail "the unpacked decoder did not read its own private layer"
run_clean "$bin/vekmrkdec" "$work/private.wav" >"$work/none.out" 2>/dev/null || fail "public read failed"
! grep -q '^(x' "$work/none.out" || fail "the private mark was read on the public layer"

if [ "$failures" -ne 0 ]; then
    echo "$failures check(s) failed"
    exit 1
fi
echo "Packages, their files and the unpacked programs are as documented."
