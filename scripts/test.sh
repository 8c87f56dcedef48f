#!/bin/sh
# Builds both architectures and runs every test under wine64 and Xvfb.
# Arguments go to ctest (for example -R test_Log). FW_BUILD_DIR picks the build
# tree (default build/); FERNWICK_SKIP_X86=1 skips the i686 build.
set -e
ROOT=$(cd "$(dirname "$0")/.." && pwd)
FW_BUILD_DIR=${FW_BUILD_DIR:-$ROOT/build}
case "$FW_BUILD_DIR" in /*) ;; *) FW_BUILD_DIR="$PWD/$FW_BUILD_DIR" ;; esac
export FW_BUILD_DIR
"$ROOT/scripts/deps.sh"
"$ROOT/scripts/build.sh"
. "$ROOT/scripts/wine-env.sh"
export ROOT
# The whole session runs under one virtual display, started before any wine process.
xvfb-run -a -s "-screen 0 1024x768x24" sh -c '
    . "$ROOT/scripts/wine-env.sh"
    wine_prefix_ready
    cd "$FW_BUILD_DIR/x64"
    # A test program that hangs inside Wine itself (seen at process exit, and
    # in a dropped-connection download that Wine never ends) gets two more
    # chances; a real failure fails every time.
    ctest --output-on-failure -j 2 --repeat until-pass:3 "$@"
    rc=$?
    wineserver -k 2>/dev/null || true
    exit $rc' fwtest "$@"
