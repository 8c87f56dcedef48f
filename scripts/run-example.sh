#!/bin/sh
# The main job: builds Fernwick and installs the sample distribution of
# examples/ with fernwick.exe under Wine, on a bare machine (a prefix of its
# own, made afresh), then shows what was installed. Uses the user's display
# when there is one, else a virtual one; a small robot answers the program's
# boxes (OK, Yes) and its language selection, and a screenshot is saved of
# every box and every few seconds.
#
#     ./scripts/run-example.sh [--upgrade | --web] [fernwick.exe arguments...]
#
#   (none)     a LOCAL installation from the distribution folder
#   --upgrade  installs the release before this one first, lets the product
#              take its data in, then upgrades it with the current release
#   --web      the same installation from a loopback web server: the folder
#              fernwick.exe starts from holds only itself and its settings file
#
# FERNWICK_EXAMPLE_LANGS (default "FR EN") are the languages chosen;
# FERNWICK_EXAMPLE_TIMEOUT (seconds, default 600) stops a run that hangs;
# FERNWICK_EXAMPLE_DATA_MB (default 200) is about the size of the data archives;
# FERNWICK_EXAMPLE_BUILD is the build that installs: x86 (the default, the
# release build, i686, as an administrator ships it: a 32-bit program on this
# 64-bit Windows) or x64 (the x86_64 build); the product package is built for
# the same architecture.
set -e
ROOT=$(cd "$(dirname "$0")/.." && pwd)
B=${FW_BUILD_DIR:-$ROOT/build}
case "$B" in /*) ;; *) B="$PWD/$B" ;; esac
MODE=local
case "$1" in
    --upgrade) MODE=upgrade; shift ;;
    --web) MODE=web; shift ;;
esac
"$ROOT/scripts/deps.sh"
ARCH=${FERNWICK_EXAMPLE_BUILD:-x86}
case "$ARCH" in
    x86) SKIP_X86=0; PACKAGE_ARCH=x86; REG_VIEW=32; BUILD_NAME="the release build (i686, build/x86)" ;;
    x64) SKIP_X86=1; PACKAGE_ARCH=x64; REG_VIEW=64; BUILD_NAME="the x86_64 build (build/x64)" ;;
    *) echo "FERNWICK_EXAMPLE_BUILD is x86 or x64, not '$ARCH'" >&2; exit 2 ;;
esac
FW_BUILD_DIR="$B" FERNWICK_TESTS=OFF FERNWICK_SKIP_X86=$SKIP_X86 "$ROOT/scripts/build.sh"
x86_64-w64-mingw32-g++-posix -O1 -static -o "$B/example-robot.exe" "$ROOT/scripts/example-robot.cpp" -luser32 -lpsapi
BIN="$B/$ARCH/bin"
export ROOT B MODE BIN PACKAGE_ARCH REG_VIEW BUILD_NAME
export WINEPREFIX="$B/example-prefix"
# Every example starts from a machine without the product.
rm -rf "$WINEPREFIX"
EX="$B/example"
rm -rf "$EX"; mkdir -p "$EX"
DUNZIP="$BIN/dunzip32.dll"
[ -f "$DUNZIP" ] || DUNZIP=""

# A distribution folder: the settings file, the program and what the
# distribution delivers (product packages, data archives), made here rather
# than kept in the repository. Its [CheckSums] are written by the release tool
# once the folder is complete (run-example-inner.sh, under Wine).
make_distribution() {
    mkdir -p "$1"
    cp "$ROOT/examples/Zaph.ini" "$ROOT/examples/_FW_LOCAL_.txt" "$BIN/fernwick.exe" "$1/"
    python3 "$ROOT/examples/make_distribution.py" "$1" --dunzip "$DUNZIP" \
            --data-mb "${FERNWICK_EXAMPLE_DATA_MB:-200}" $2
}
make_distribution "$EX/dist"
if [ "$MODE" = upgrade ]; then
    make_distribution "$EX/earlier" --earlier
fi
if [ -n "$DISPLAY" ] && { ! command -v xdpyinfo >/dev/null || xdpyinfo >/dev/null 2>&1; }; then
    sh "$ROOT/scripts/run-example-inner.sh" "$@"
else
    xvfb-run -a -s "-screen 0 1024x768x24" sh "$ROOT/scripts/run-example-inner.sh" "$@"
fi
