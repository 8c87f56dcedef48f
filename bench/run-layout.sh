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
FW_BUILD_DIR=${FW_BUILD_DIR:-$ROOT/build}
case "$FW_BUILD_DIR" in /*) ;; *) FW_BUILD_DIR="$PWD/$FW_BUILD_DIR" ;; esac
if [ "$1" != --inner ]; then
    "$ROOT/scripts/deps.sh"
    cmake -S "$ROOT" -B "$FW_BUILD_DIR/x64" -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw-x86_64.cmake" \
          -DCMAKE_BUILD_TYPE=Release -DFERNWICK_TESTS=ON >/dev/null
    cmake --build "$FW_BUILD_DIR/x64" -j "$(nproc 2>/dev/null || echo 2)" --target fernwick fwchecksums dunzip32
    x86_64-w64-mingw32-g++-posix -O1 -static -o "$FW_BUILD_DIR/example-robot.exe" \
        "$ROOT/scripts/example-robot.cpp" -luser32 -lpsapi
    BB="$FW_BUILD_DIR/bench-layout"
    rm -rf "$BB"; mkdir -p "$BB/dist"
    cp "$ROOT/examples/Zaph.ini" "$FW_BUILD_DIR/x64/bin/fernwick.exe" "$BB/dist/"
    python3 "$ROOT/examples/make_distribution.py" "$BB/dist" --dunzip "$FW_BUILD_DIR/x64/bin/dunzip32.dll" \
            --data-mb "${1:-200}" >/dev/null
    # The sample ships no engine redistributables (its machines' engines are
    # new enough); a layout fetches them whenever the engine step can run.
    python3 - "$BB/dist/Zaph.ini" <<'PY'
import re, sys
text = open(sys.argv[1], "rb").read().decode("utf-16")
text = re.sub(r"(?m)^MSI_Version=.*$", "MSI_Version=$SKIP$", text, count=1)
open(sys.argv[1], "wb").write(text.encode("utf-16"))
PY
    export FW_BUILD_DIR ROOT BB
    exec xvfb-run -a -s "-screen 0 1024x768x24" sh "$0" --inner
fi

. "$ROOT/scripts/wine-env.sh"
BIN="$FW_BUILD_DIR/x64/bin"
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
    # printf, not echo: the shell's echo reads the backslashes of Windows
    # paths as escapes ("\c" in a folder's name ends its output).
    printf '%s\n' "$out" >>"$BB/robot.log"
    FIG=$(printf '%s\n' "$out" | sed -n 's/^figures: //p')
    RC=$(printf '%s\n' "$out" | sed -n 's/.* ended with exit code \(-*[0-9]*\)$/\1/p')
}
fig() { printf '%s\n' "$FIG" | tr ' ' '\n' | sed -n "s/^$1=//p"; }
ratio() { python3 -c "print('%.2f' % ($1 / $2))" 2>/dev/null || echo "?"; }
mb_s() { python3 -c "print('%.1f' % ($1 / 1048576.0 / ($2 / 1000.0)))" 2>/dev/null || echo "?"; }
served() { awk '$3 == 200 {print substr($2, 2)}' "$BB/server.log"; }
served_bytes() { awk '$3 == 200 {n += $4} END {print n + 0}' "$BB/server.log"; }

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
start=$(date +%s%N)
for f in $(cat "$BB/layout-files.txt"); do
    curl -s -o /dev/null "http://127.0.0.1:$PORT/$f"
done
CURL_MS=$((($(date +%s%N) - start) / 1000000))
kill $SERVER 2>/dev/null || true
wineserver -k 2>/dev/null || true

echo "Machine: $(grep -m1 'model name' /proc/cpuinfo | sed 's/.*: //'), $(nproc) cores; $(wine --version 2>/dev/null)"
echo "Exit codes: layout $LAYOUT_RC, layout again $LAYOUT2_RC"
printf '%-50s %14s %14s %8s\n' "figure" "fernwick.exe" "baseline" "ratio"
printf '%-50s %9s MB/s %9s MB/s %8s\n' "layout ($LAYOUT_FILES files, $((LAYOUT_BYTES / 1048576)) MB) vs curl, throughput" \
       "$(mb_s "$LAYOUT_BYTES" "$LAYOUT_MS")" "$(mb_s "$LAYOUT_BYTES" "$CURL_MS")" "$(ratio "$CURL_MS" "$LAYOUT_MS")"
printf '%-50s %11s ms %11s ms %8s\n' "layout again ($LAYOUT2_FILES files, $LAYOUT2_BYTES bytes fetched)" \
       "$LAYOUT2_MS" "$LAYOUT_MS" "$(ratio "$LAYOUT2_MS" "$LAYOUT_MS")"
