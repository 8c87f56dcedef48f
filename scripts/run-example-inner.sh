#!/bin/sh
# The example run on a display (called by run-example.sh with ROOT, B, OUT and
# WINEPREFIX set): the robot starts fernwick.exe in $OUT and answers its boxes;
# this loop takes a screenshot of each box before it is answered (the robot
# waits for box_<n>.png) and one of the screen every few seconds.
. "$ROOT/scripts/wine-env.sh"
wine_prefix_ready
cd "$OUT"
wine "$B/example-robot.exe" "${FERNWICK_EXAMPLE_TIMEOUT:-300}" fernwick.exe "$@" &
pid=$!
tick=0; n=0
while kill -0 $pid 2>/dev/null; do
    for box in box_*.txt; do
        [ -e "$box" ] || continue
        shot="${box%.txt}.png"
        [ -e "$shot" ] && continue
        # Written under another name first: the robot answers once the file exists.
        if import -window root "box.tmp.png" 2>/dev/null; then
            mv box.tmp.png "$shot"
        else
            touch "$shot"   # no screenshot possible: do not hold the robot
        fi
    done
    tick=$((tick + 1))
    if [ $((tick % 15)) -eq 0 ] && [ $n -lt 100 ]; then
        n=$((n + 1))
        import -window root "screen_$n.png" 2>/dev/null || true
    fi
    sleep 0.2
done
wait $pid; rc=$?
wineserver -w
echo "fernwick.exe's exit code (as the shell sees it): $rc"
log=$(ls -t "$WINEPREFIX"/drive_c/users/*/AppData/Local/Temp/Fern_*.log \
            "$WINEPREFIX"/drive_c/users/*/Temp/Fern_*.log 2>/dev/null | head -n 1)
if [ -n "$log" ]; then
    echo "Log of the run: $log"
    echo "--- last lines ---"
    tail -n 15 "$log"
    echo "------------------"
fi
shots=$(ls "$OUT"/box_*.png "$OUT"/screen_*.png 2>/dev/null | wc -l)
echo "Screenshots ($shots) and box texts are in $OUT"
exit $rc
