#!/usr/bin/env bash
# Builds vekmrkenc.exe and vekmrkdec.exe for 64-bit Windows with MinGW-w64 (statically linked,
# no front end) into build-windows/, then runs them under Wine (tests/windows/wine_checks.sh).
# Installs the cross compiler and Wine when missing.
#   scripts/windows.sh              build and check
#   scripts/windows.sh --build-only build only
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/scripts/setup.sh"

build_only=false
case "${1:-}" in
"") ;;
--build-only) build_only=true ;;
*)
    echo "Usage: $0 [--build-only]" >&2
    exit 2
    ;;
esac

packages=(cmake make g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64)
$build_only || packages+=(wine wine64)
vekmrk_need_packages "${packages[@]}"

build="$root/build-windows"
echo "== Windows build (MinGW-w64)" >&2
cmake -S "$root" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF -DVEKMRK_BUILD_FRONTEND=OFF >/dev/null
cmake --build "$build" -j"$(vekmrk_jobs)" --target vekmrkenc vekmrkdec
echo "Built $build/encoder/vekmrkenc.exe and $build/decoder/vekmrkdec.exe" >&2
$build_only && exit 0

echo "== Windows checks under Wine" >&2
"$root/tests/windows/wine_checks.sh" "$build/encoder/vekmrkenc.exe" \
    "$build/decoder/vekmrkdec.exe" "$build/wineprefix"
