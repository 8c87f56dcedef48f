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
run() {
    . "$ROOT/scripts/wine-env.sh"
    wine_prefix_ready
    cd "$OUT"
    wine fernwick.exe "$@" &
    pid=$!
    n=0
    # A screenshot every few seconds while the program runs.
    while kill -0 $pid 2>/dev/null; do
        sleep 3; n=$((n + 1))
        import -window root "$OUT/screen_$n.png" 2>/dev/null || true
    done
    wait $pid; rc=$?
    echo "fernwick.exe ended with exit code $rc"
    echo "Log files (Windows temporary folder of the prefix):"
    find "$WINEPREFIX/drive_c/users" -name 'Fern_*.log' -newer "$OUT/fernwick.exe" 2>/dev/null
    ls "$OUT"/screen_*.png 2>/dev/null && echo "Screenshots are in $OUT"
    return 0
}
if [ -n "$DISPLAY" ]; then
    run "$@"
else
    export -f run 2>/dev/null || true
    xvfb-run -a -s "-screen 0 1024x768x24" sh -c ". \"$ROOT/scripts/run-example-inner.sh\" $*"
fi
