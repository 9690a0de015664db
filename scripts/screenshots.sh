#!/usr/bin/env bash
# Takes the README's pictures of the front end under a virtual X display and writes them to
# docs/screenshots/: every window in a light theme with Liberation Sans (the Arial-metric font
# the package depends on), some in a dark theme (Fusion style, dark palette), and the
# fixed-layout windows again with Debian's stock DejaVu Sans, which is wider, so that the
# windows grow to fit their texts (files *-dark.png, *-dejavu.png, *-dark-dejavu.png).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/scripts/setup.sh"

vekmrk_need_packages cmake make g++ libgtest-dev qt6-base-dev xvfb xauth fonts-liberation2 \
    fonts-dejavu-core
cmake -S "$root" -B "$root/build" -DCMAKE_BUILD_TYPE=Release
cmake --build "$root/build" -j"$(vekmrk_jobs)" --target vekmrkwin_screenshots

out="$root/docs/screenshots"
shots="$root/build/frontend/vekmrkwin_screenshots"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# The stock fonts: the system's configuration with the Liberation fonts left out, so that
# Arial falls to DejaVu Sans as on a system without them.
cat >"$work/stock-fonts.conf" <<'CONF'
<?xml version="1.0"?>
<!DOCTYPE fontconfig SYSTEM "fonts.dtd">
<fontconfig>
  <include ignore_missing="yes">/etc/fonts/fonts.conf</include>
  <selectfont><rejectfont><glob>/usr/share/fonts/truetype/liberation*/*</glob></rejectfont></selectfont>
</fontconfig>
CONF
take() {
    xvfb-run -a -s "-screen 0 1280x1024x24 -dpi 96" "$shots" "$out" "$@"
}
take
take --dark --suffix -dark main_window_done encode_dialog decode_dialog about_box
FONTCONFIG_FILE="$work/stock-fonts.conf" take --suffix -dejavu encode_dialog decode_dialog about_box
FONTCONFIG_FILE="$work/stock-fonts.conf" take --dark --suffix -dark-dejavu encode_dialog \
    decode_dialog
