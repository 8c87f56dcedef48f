#!/bin/sh
# The main job: builds Fernwick and runs fernwick.exe on the sample distribution
# in examples/ under Wine, in a prefix of its own. Uses the user's display when
# there is one, else a virtual one, and saves screenshots of what was shown.
# Extra arguments are passed to fernwick.exe (default: none).
set -e
ROOT=$(cd "$(dirname "$0")/.." && pwd)
"$ROOT/scripts/deps.sh"
FERNWICK_TESTS=OFF FERNWICK_SKIP_X86=1 "$ROOT/scripts/build.sh"
export ROOT
export WINEPREFIX="$ROOT/build/example-prefix"
OUT="$ROOT/build/example-run"
rm -rf "$OUT"; mkdir -p "$OUT"
cp -r "$ROOT/examples/." "$OUT/"
cp "$ROOT/build/x64/bin/fernwick.exe" "$OUT/"
export OUT
if [ -n "$DISPLAY" ]; then
    sh -c ". \"$ROOT/scripts/run-example-inner.sh\"" fernwick "$@"
else
    xvfb-run -a -s "-screen 0 1024x768x24" sh -c ". \"$ROOT/scripts/run-example-inner.sh\"" fernwick "$@"
fi
