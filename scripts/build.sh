#!/bin/sh
# Builds both architectures: build/x64 (x86_64 with its tests), build/x86 (i686,
# the release build: what ships, win32 thread model, tests off) and, with the
# tests, build/x86-tests (i686 with the posix thread model that the tests need;
# they start build/x86's fernwick.exe and dunzip32.dll).
# FERNWICK_TESTS=OFF builds the programs only; FERNWICK_SKIP_X86=1 skips i686.
set -e
ROOT=$(cd "$(dirname "$0")/.." && pwd)
JOBS=$(nproc 2>/dev/null || echo 2)
# FW_BUILD_DIR lets several people build side by side (default build/).
B=${FW_BUILD_DIR:-$ROOT/build}
TESTS=${FERNWICK_TESTS:-ON}
# Where ccache is installed it serves every work tree: paths below the tree's
# top are hashed relative to it, so side-by-side trees share their objects.
LAUNCHER=""
if command -v ccache >/dev/null 2>&1; then
    export CCACHE_BASEDIR="$ROOT"
    LAUNCHER="-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache"
fi
cmake -S "$ROOT" -B "$B/x64" -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw-x86_64.cmake" \
      -DCMAKE_BUILD_TYPE=Release -DFERNWICK_TESTS=$TESTS $LAUNCHER >/dev/null
cmake --build "$B/x64" -j "$JOBS"
if [ "${FERNWICK_SKIP_X86:-0}" != 1 ]; then
    cmake -S "$ROOT" -B "$B/x86" -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw-i686.cmake" \
          -DCMAKE_BUILD_TYPE=Release -DFERNWICK_TESTS=OFF $LAUNCHER >/dev/null
    cmake --build "$B/x86" -j "$JOBS"
    "$ROOT/scripts/check-imports.sh" "$B/x86/bin/fernwick.exe" "$B/x86/bin/dunzip32.dll"
    if [ "$TESTS" != OFF ]; then
        cmake -S "$ROOT" -B "$B/x86-tests" -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw-i686-posix.cmake" \
              -DCMAKE_BUILD_TYPE=Release -DFERNWICK_TESTS=ON -DFERNWICK_RELEASE_BIN="$B/x86/bin" \
              $LAUNCHER >/dev/null
        cmake --build "$B/x86-tests" -j "$JOBS"
    fi
fi
