#!/usr/bin/env bash
# Builds the Debian packages with CPack into out/packages/:
#   vekmrk_<version>_<arch>.deb     vekmrkenc, vekmrkdec and their manual pages (no Qt)
#   vekmrkwin_<version>_<arch>.deb  the front end, its help file, desktop entry and icon;
#                                   depends on vekmrk and on the Qt 6 libraries it links
# The programs are built for /usr, so the system-wide owner-name file is
# /etc/vekmrk/vekmrk-owner.txt. Install with: sudo apt install ./out/packages/*.deb
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/scripts/setup.sh"

vekmrk_need_packages cmake make g++ qt6-base-dev dpkg-dev file gzip
jobs=$(vekmrk_jobs)
build="$root/build-package"
out="$root/out/packages"

cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
    -DBUILD_TESTING=OFF >/dev/null
cmake --build "$build" -j"$jobs" >/dev/null
rm -rf "$out"
mkdir -p "$out"
(cd "$build" && cpack -G DEB -B "$out" >/dev/null)
rm -rf "$out/_CPack_Packages"

for deb in "$out"/*.deb; do
    echo "$deb"
    dpkg-deb -f "$deb" Depends | sed 's/^/    Depends: /'
done
