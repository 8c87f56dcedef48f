#!/bin/sh
# Builds both architectures and runs every test under wine64 and Xvfb.
set -e
ROOT=$(cd "$(dirname "$0")/.." && pwd)
"$ROOT/scripts/deps.sh"
"$ROOT/scripts/build.sh"
. "$ROOT/scripts/wine-env.sh"
export ROOT
# The whole session runs under one virtual display, started before any wine process.
xvfb-run -a -s "-screen 0 1024x768x24" sh -c '
    . "$ROOT/scripts/wine-env.sh"
    wine_prefix_ready
    cd "$ROOT/build/x64"
    ctest --output-on-failure -j 2 '"$*"'
    rc=$?
    wineserver -k 2>/dev/null || true
    exit $rc'
