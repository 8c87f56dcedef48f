#!/bin/sh
# The main job: builds Fernwick and runs fernwick.exe on the sample distribution
# in examples/ (a copy of it) under Wine, in a prefix of its own. Uses the
# user's display when there is one, else a virtual one; a small robot answers
# the program's message boxes (OK, Yes) so that the run ends by itself, and a
# screenshot is saved of every box and every few seconds.
# Extra arguments are passed to fernwick.exe (default: none), for example
#     ./scripts/run-example.sh /?
# FERNWICK_EXAMPLE_TIMEOUT (seconds, default 300) stops a run that hangs;
# FERNWICK_EXAMPLE_DATA_MB (default 200) is about the size of the data archives.
set -e
ROOT=$(cd "$(dirname "$0")/.." && pwd)
B=${FW_BUILD_DIR:-$ROOT/build}
case "$B" in /*) ;; *) B="$PWD/$B" ;; esac
"$ROOT/scripts/deps.sh"
FW_BUILD_DIR="$B" FERNWICK_TESTS=OFF FERNWICK_SKIP_X86=1 "$ROOT/scripts/build.sh"
x86_64-w64-mingw32-g++-posix -O1 -static -o "$B/example-robot.exe" "$ROOT/scripts/example-robot.cpp" -luser32
export ROOT B
export WINEPREFIX="$B/example-prefix"
OUT="$B/example-run"
rm -rf "$OUT"; mkdir -p "$OUT"
cp -r "$ROOT/examples/." "$OUT/"
cp "$B/x64/bin/fernwick.exe" "$OUT/"
[ -f "$B/x64/bin/dunzip32.dll" ] && cp "$B/x64/bin/dunzip32.dll" "$OUT/"
# What the distribution delivers (product packages, data archives) is made
# here, not kept in the repository.
DUNZIP=""
[ -f "$B/x64/bin/dunzip32.dll" ] && DUNZIP="$B/x64/bin/dunzip32.dll"
python3 "$ROOT/examples/make_distribution.py" "$OUT" --dunzip "$DUNZIP" --data-mb "${FERNWICK_EXAMPLE_DATA_MB:-200}"
export OUT
if [ -n "$DISPLAY" ] && { ! command -v xdpyinfo >/dev/null || xdpyinfo >/dev/null 2>&1; }; then
    sh "$ROOT/scripts/run-example-inner.sh" "$@"
else
    xvfb-run -a -s "-screen 0 1024x768x24" sh "$ROOT/scripts/run-example-inner.sh" "$@"
fi
