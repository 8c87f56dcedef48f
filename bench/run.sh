#!/bin/sh
# Builds the benchmarks (x86_64) and runs them under wine in the build tree's
# own prefix. FW_BUILD_DIR picks the build tree (default build/); arguments go
# to bench_checksum (the file size in MB, default 64).
set -e
ROOT=$(cd "$(dirname "$0")/.." && pwd)
FW_BUILD_DIR=${FW_BUILD_DIR:-$ROOT/build}
case "$FW_BUILD_DIR" in /*) ;; *) FW_BUILD_DIR="$PWD/$FW_BUILD_DIR" ;; esac
export FW_BUILD_DIR ROOT
cmake -S "$ROOT" -B "$FW_BUILD_DIR/x64" -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw-x86_64.cmake" \
      -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$FW_BUILD_DIR/x64" -j "$(nproc 2>/dev/null || echo 2)" --target bench_checksum
. "$ROOT/scripts/wine-env.sh"
# Under a virtual display like the tests, so the prefix's wineserver is never
# one started without a display.
xvfb-run -a sh -c '
    . "$ROOT/scripts/wine-env.sh"
    wine_prefix_ready
    wine "$FW_BUILD_DIR/x64/bin/bench_checksum.exe" "$@"
    rc=$?
    wineserver -k 2>/dev/null || true
    exit $rc' sh "$@"
