#!/bin/sh
# Layout benchmark: fernwick.exe /o lays the sample distribution (about 200 MB
# of data archives; the first argument changes the size in MB) out from a
# loopback server into a folder, and the figures are printed beside their
# baseline from the same run:
#   - the layout's throughput against curl fetching the same files from the
#     same server (the files the server's log shows the layout fetched);
#   - a second layout into the same folder: files and bytes fetched (none
#     should be) and its time against the first.
# The robot of the example run answers the layout's last box.
set -e
ROOT=$(cd "$(dirname "$0")/.." && pwd)
. "$ROOT/bench/common.sh"
if [ "$1" != --inner ]; then
    bench_build fernwick fwchecksums dunzip32
    BB="$FW_BUILD_DIR/bench-layout"
    bench_distribution "${1:-200}"
    # The sample ships no engine redistributables (its machines' engines are
    # new enough); a layout fetches them whenever the engine step can run.
    python3 - "$BB/dist/Zaph.ini" <<'PY'
import re, sys
text = open(sys.argv[1], "rb").read().decode("utf-16")
text = re.sub(r"(?m)^MSI_Version=.*$", "MSI_Version=$SKIP$", text, count=1)
open(sys.argv[1], "wb").write(text.encode("utf-16"))
PY
    bench_rounds "$0"
    exit 0
fi

. "$ROOT/scripts/wine-env.sh"
export WINEPREFIX="$BB/prefix"
export FERNWICK_EXAMPLE_NOSHOTS=1
w() { winepath -w "$1"; }

wineserver -k 2>/dev/null || true
rm -rf "$WINEPREFIX"
wine_prefix_ready
wine "$BIN/fwchecksums.exe" "$(w "$BB/dist")" >/dev/null

# Runs fernwick.exe /o through the robot; FIG holds its figures, RC its code.
layout() {
    wine_prefix_ready
    out=$(cd "$BB" && wine "$FW_BUILD_DIR/example-robot.exe" 900 "$(w "$BB/web/fernwick.exe")" /o 'C:\benchlayout' \
          | tr -d '\r')
    wine_prefix_down
    read_robot "$out"
}

web_folder "$BB/dist" "$BB"
layout
LAYOUT_RC=$RC; LAYOUT_MS=$(fig total-ms)
served >"$BB/layout-files.txt"
LAYOUT_FILES=$(wc -l <"$BB/layout-files.txt")
LAYOUT_BYTES=$(served_bytes)
layout
LAYOUT2_RC=$RC; LAYOUT2_MS=$(fig total-ms)
LAYOUT2_FILES=$(($(served | wc -l) - LAYOUT_FILES))
LAYOUT2_BYTES=$(($(served_bytes) - LAYOUT_BYTES))
CURL_MS=$(curl_ms "$BB/layout-files.txt")
kill $SERVER 2>/dev/null || true
wineserver -k 2>/dev/null || true

machine_line
echo "Exit codes: layout $LAYOUT_RC, layout again $LAYOUT2_RC"
printf '%-50s %14s %14s %8s\n' "figure" "fernwick.exe" "baseline" "ratio"
printf '%-50s %9s MB/s %9s MB/s %8s\n' "layout ($LAYOUT_FILES files, $((LAYOUT_BYTES / 1048576)) MB) vs curl, throughput" \
       "$(mb_s "$LAYOUT_BYTES" "$LAYOUT_MS")" "$(mb_s "$LAYOUT_BYTES" "$CURL_MS")" "$(ratio "$CURL_MS" "$LAYOUT_MS")"
printf '%-50s %11s ms %11s ms %8s\n' "layout again ($LAYOUT2_FILES files, $LAYOUT2_BYTES bytes fetched)" \
       "$LAYOUT2_MS" "$LAYOUT_MS" "$(ratio "$LAYOUT2_MS" "$LAYOUT_MS")"
