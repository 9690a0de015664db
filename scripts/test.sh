#!/usr/bin/env bash
# Sets up a fresh Debian-like machine, builds everything and runs every test through ctest:
# first the normal build (with the Debian package test), then the AddressSanitizer +
# UndefinedBehaviorSanitizer build (which skips the package test, and of the front end builds
# its core only), then the libFuzzer targets, each run for the time it registers.
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

echo "== Fuzz targets (clang, libFuzzer)" >&2
cmake -S "$root" -B "$root/build-fuzz" -DCMAKE_CXX_COMPILER=clang++ \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVEKMRK_FUZZ=ON -DVEKMRK_BUILD_FRONTEND=OFF
cmake --build "$root/build-fuzz" -j"$jobs" --target fuzz
ctest --test-dir "$root/build-fuzz" --output-on-failure -j"$jobs" -L fuzz

echo "All tests passed." >&2
