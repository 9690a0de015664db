#!/usr/bin/env bash
# Sets up a fresh Debian-like machine, builds everything and runs every test through ctest:
# first the normal build (with the Debian package test), then the AddressSanitizer +
# UndefinedBehaviorSanitizer build (which skips the package test, and of the front end builds
# its core only).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/scripts/setup.sh"

# dpkg-dev (dpkg-shlibdeps), file and desktop-file-utils: the package test; groff-base: the
# manual-page check.
vekmrk_need_packages cmake make g++ libgtest-dev libgmock-dev qt6-base-dev clang libclang-rt-14-dev \
    ca-certificates dpkg-dev file gzip groff-base desktop-file-utils clang-format-14
jobs=$(vekmrk_jobs)

echo "== Formatting" >&2
"$root/scripts/format.sh"

echo "== Release build and tests" >&2
cmake -S "$root" -B "$root/build" -DCMAKE_BUILD_TYPE=Release
cmake --build "$root/build" -j"$jobs"
ctest --test-dir "$root/build" --output-on-failure -j"$jobs"

echo "== Sanitizer build and tests (ASan + UBSan)" >&2
cmake -S "$root" -B "$root/build-sanitize" -DCMAKE_BUILD_TYPE=Debug -DVEKMRK_SANITIZE=ON \
    -DVEKMRK_BUILD_FRONTEND=ON -DVEKMRK_BUILD_FRONTEND_UI=OFF
cmake --build "$root/build-sanitize" -j"$jobs"
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
    ctest --test-dir "$root/build-sanitize" --output-on-failure -j"$jobs"

echo "All tests passed." >&2
