# Runs inside the virtual display (sourced by run-example.sh).
. "$ROOT/scripts/wine-env.sh"
wine_prefix_ready
cd "$OUT"
wine fernwick.exe "$@" &
pid=$!
n=0
while kill -0 $pid 2>/dev/null; do
    sleep 3; n=$((n + 1))
    import -window root "$OUT/screen_$n.png" 2>/dev/null || true
done
wait $pid; rc=$?
echo "fernwick.exe ended with exit code $rc"
echo "Log files (Windows temporary folder of the prefix):"
find "$WINEPREFIX/drive_c/users" -name 'Fern_*.log' 2>/dev/null
ls "$OUT"/screen_*.png 2>/dev/null && echo "Screenshots are in $OUT"
