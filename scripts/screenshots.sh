#!/usr/bin/env bash
# Takes the README's pictures of the front end (main window, encode and decode dialogs, About
# box) under a virtual X display and writes them to docs/screenshots/. Liberation Sans stands in
# for Arial with the same metrics, so the texts fit their designed places.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/scripts/setup.sh"

vekmrk_need_packages cmake make g++ libgtest-dev qt6-base-dev xvfb xauth fonts-liberation2
cmake -S "$root" -B "$root/build" -DCMAKE_BUILD_TYPE=Release
cmake --build "$root/build" -j"$(vekmrk_jobs)" --target vekmrkwin_screenshots
xvfb-run -a -s "-screen 0 1024x768x24 -dpi 96" \
    "$root/build/frontend/vekmrkwin_screenshots" "$root/docs/screenshots"
