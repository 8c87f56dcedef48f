#!/bin/sh
# Whole-installation benchmarks: fernwick.exe installs the sample distribution
# (about 200 MB of data archives; the first argument changes the size in MB)
# on a bare Wine prefix, and each figure is printed beside its baseline from
# the same run, in one table:
#   - LOCAL install against the fair baseline: the system's own tools doing
#     the same work on a bare prefix (the same product package installed by
#     msiexec /i ... /qn with the same properties, CopyFileA of the same data
#     files, the product's unzip library unpacking the same programs); and,
#     as before, against CopyFileA of the data alone;
#   - WEB install from a loopback server against curl fetching the same files
#     from the same server, and against the system's download routine that
#     the program uses (bench_baseline.exe download);
#   - the data phase of each (from the program's log, bench/log-times.py)
#     against the same baselines: what the program itself costs;
#   - a second run with everything in place: bytes obtained and its time;
#   - the same two LOCAL runs unattended (/q: no window, no boxes), against
#     the fair baseline and the first;
#   - a WEB install from a server that cuts every file's connection once at
#     90% (resumed with range requests): its time and the bytes served;
#   - peak working set against that msiexec (also the /q run's) and a minimal
#     Win32 program that shows one message box; time to the first window
#     against the latter.
# The robot of the example run drives the installations (languages FR and EN).
# FW_BENCH_WEB=no leaves the WEB runs out. Each run's log lines with their
# times are kept in build/bench-install/*-lines.txt (where the time goes).
set -e
ROOT=$(cd "$(dirname "$0")/.." && pwd)
. "$ROOT/bench/common.sh"
if [ "$1" != --inner ]; then
    bench_build fernwick fwchecksums dunzip32 bench_minimal_box bench_baseline
    BB="$FW_BUILD_DIR/bench-install"
    bench_distribution "${1:-200}" _FW_LOCAL_.txt
    bench_rounds "$0"
    exit 0
fi

. "$ROOT/scripts/wine-env.sh"
export WINEPREFIX="$BB/prefix"
export FERNWICK_EXAMPLE_NOSHOTS=1 FERNWICK_EXAMPLE_LANGS="FR EN"
w() { winepath -w "$1"; }

bare_machine() {
    wineserver -k 2>/dev/null || true
    rm -rf "$WINEPREFIX"
    wine_prefix_ready
}

# Every timed run starts with nothing waiting to be written to disk: the
# system writes out what earlier steps wrote (the distribution, a new prefix,
# the last run's 150 MB) about half a minute later, and that writing, in the
# middle of whichever run came next, moved a run's copy of one 80 MB file
# between 90 and 330 ms.
settle() { sync; }

# Runs a program (a Windows path, then its arguments) through the robot; FIG
# holds its figures line, and for a run of fernwick.exe LOGFIG the stretches
# of the run read from its log (bench/log-times.py: the log watched as it
# grows), its lines with their times kept in $BB/$NAME-lines.txt.
robot() {
    log=$(log_file)
    [ -n "$log" ] || log="$WINEPREFIX/drive_c/users/$(id -un)/Temp/Fern_$(date +%d%m%Y).log"
    from=$(stat -c %s "$log" 2>/dev/null || echo 0)
    python3 "$ROOT/bench/log-times.py" watch "$log" "$BB/log-growth.txt" &
    watcher=$!
    wine_prefix_ready
    settle
    out=$(cd "$BB" && wine "$FW_BUILD_DIR/example-robot.exe" 900 "$@" | tr -d '\r')
    # The robot has seen its program end; the desktop's process never ends by
    # itself, so the prefix is ended rather than waited for.
    wine_prefix_down
    kill $watcher 2>/dev/null; wait $watcher 2>/dev/null || true
    read_robot "$out"
    LOGFIG=$(python3 "$ROOT/bench/log-times.py" phases "$log" "$BB/log-growth.txt" "$from" 2>/dev/null | tr '\n' ' ')
    echo "log: $LOGFIG" >>"$BB/robot.log"
    [ -z "$NAME" ] || python3 "$ROOT/bench/log-times.py" lines "$log" "$BB/log-growth.txt" "$from" \
        >"$BB/$NAME-lines.txt" 2>/dev/null || true
}
logfig() { printf '%s\n' "$LOGFIG" | tr ' ' '\n' | sed -n "s/^$1=//p"; }

log_file() {
    ls "$WINEPREFIX"/drive_c/users/*/AppData/Local/Temp/Fern_*.log \
       "$WINEPREFIX"/drive_c/users/*/Temp/Fern_*.log 2>/dev/null | head -n 1
}
log_lines() { f=$(log_file); [ -n "$f" ] && wc -l <"$f" || echo 0; }
# The files of the distribution folder that the run since line $1 of the log
# copied into place, relative to it (copies of installed files left out).
copied_from_dist() {
    python3 - "$(log_file)" "$1" "$(w "$BB/dist")" <<'EOF'
import sys
log, skip, dist = sys.argv[1], int(sys.argv[2]), sys.argv[3].lower().rstrip("\\") + "\\"
for line in open(log, "rb").read().decode("latin-1").split("\n")[skip:]:
    line = line.strip("\r\t")
    if line.startswith("Copied '"):
        source = line[len("Copied '"):].split("'", 1)[0]
        if source.lower().startswith(dist):
            print(source[len(dist):])
EOF
}

bare_machine
wine "$BIN/fwchecksums.exe" "$(w "$BB/dist")" >/dev/null

# The minimal program's box stays a second, as long as the robot's answer to
# the installation's last box takes.
export FERNWICK_EXAMPLE_ANSWER_DELAY_MS=1000
NAME= robot "$(w "$BIN/bench_minimal_box.exe")"
unset FERNWICK_EXAMPLE_ANSWER_DELAY_MS
MIN_FIRST=$(fig first-window-ms); MIN_PEAK=$(fig peak-working-set-kb)

# LOCAL: the first installation, then the same again with everything in place.
before=$(log_lines)
NAME=local robot "$(w "$BB/dist/fernwick.exe")"
LOCAL_RC=$RC; LOCAL_MS=$(fig total-ms); LOCAL_FIRST=$(fig first-window-ms); LOCAL_PEAK=$(fig peak-working-set-kb)
LOCAL_DATA_MS=$(logfig data-ms)
copied_from_dist "$before" | sort -u >"$BB/local-files.txt"
# What the run asked of the system's installer, and the archives it unpacked
# (found in the distribution by their names: the run deletes its copies).
MSI_CALL=$(tail -n +$((before + 1)) "$(log_file)" | tr -d '\r' | sed -n 's/^\t*MSI InstallProduct (\(.*\))$/\1/p' | head -n 1)
MSI_PACKAGE=${MSI_CALL%%, *}; MSI_PROPERTIES=${MSI_CALL#*, }
tail -n +$((before + 1)) "$(log_file)" | tr -d '\r' | sed -n "s/^\t*Uncompressed '.*\\\\\([^\\\\]*\)' OK\.$/\1/p" |
    while read -r archive; do grep -i -m1 "\(^\|\\\\\)$archive\$" "$BB/local-files.txt"; done >"$BB/local-archives.txt"
before=$(log_lines)
NAME=local-again robot "$(w "$BB/dist/fernwick.exe")"
LOCAL2_RC=$RC; LOCAL2_MS=$(fig total-ms)
LOCAL2_FILES=$(copied_from_dist "$before" | wc -l)

# The system's copy of the same files, in the same prefix.
settle
COPY=$(wine "$BIN/bench_baseline.exe" copy "$(w "$BB/dist")" 'C:\benchcopy' $(cat "$BB/local-files.txt") | tr -d '\r')
COPY_MS=$(printf '%s\n' "$COPY" | sed -n 's/.*copy-ms=\([0-9]*\).*/\1/p')
LOCAL_BYTES=$(printf '%s\n' "$COPY" | sed -n 's/.*copied-bytes=\([0-9]*\).*/\1/p')

# The fair baseline of the whole LOCAL run, on a bare machine again: the
# system's installer installs the same package quietly with the same
# properties (msiexec started by full path: the 64-bit one, as the program's
# msi.dll), the system copies the same data and the product's unzip library
# unpacks the same programs.
bare_machine
eval "set -- $MSI_PROPERTIES"
NAME= robot 'C:\windows\system32\msiexec.exe' /i "$MSI_PACKAGE" /qn "$@"
MSI_RC=$RC; MSI_MS=$(fig total-ms); MSI_PEAK=$(fig peak-working-set-kb)
settle
COPY=$(wine "$BIN/bench_baseline.exe" copy "$(w "$BB/dist")" 'C:\benchcopy' $(cat "$BB/local-files.txt") | tr -d '\r')
FAIR_COPY_MS=$(printf '%s\n' "$COPY" | sed -n 's/.*copy-ms=\([0-9]*\).*/\1/p')
UNZIP_MS=0
if [ -s "$BB/local-archives.txt" ]; then
    set --
    while read -r archive; do set -- "$@" "$(w "$BB/dist/$(printf '%s\n' "$archive" | tr '\\' /)")"; done <"$BB/local-archives.txt"
    settle
    UNZIP=$(wine "$BIN/bench_baseline.exe" unzip "$(w "$BIN/dunzip32.dll")" 'C:\benchunzip' "$@" | tr -d '\r')
    UNZIP_MS=$(printf '%s\n' "$UNZIP" | sed -n 's/.*unzip-ms=\([0-9]*\).*/\1/p')
fi
FAIR_MS=$((MSI_MS + FAIR_COPY_MS + UNZIP_MS))

# The same LOCAL installation unattended (/q, languages FR and EN), on a bare machine again: the
# work msiexec /qn does, without the window, the language choice and the
# boxes that the robot answers; then once more with everything in place.
bare_machine
NAME=quiet robot "$(w "$BB/dist/fernwick.exe")" /q /s FR,EN
QUIET_RC=$RC; QUIET_MS=$(fig total-ms); QUIET_DATA_MS=$(logfig data-ms); QUIET_PEAK=$(fig peak-working-set-kb)
NAME=quiet-again robot "$(w "$BB/dist/fernwick.exe")" /q /s FR,EN
QUIET2_RC=$RC; QUIET2_MS=$(fig total-ms)
wine_prefix_down

# WEB, on a bare machine again, from a loopback server.
if [ "$FW_BENCH_WEB" != no ]; then
bare_machine
web_folder "$BB/dist" "$BB"
NAME=web robot "$(w "$BB/web/fernwick.exe")"
WEB_RC=$RC; WEB_MS=$(fig total-ms); WEB_FIRST=$(fig first-window-ms); WEB_PEAK=$(fig peak-working-set-kb)
WEB_DATA_MS=$(logfig data-ms)
served >"$BB/web-files.txt"
WEB_BYTES=$(served_bytes)
served_before=$(wc -l <"$BB/web-files.txt")
NAME=web-again robot "$(w "$BB/web/fernwick.exe")"
WEB2_RC=$RC; WEB2_MS=$(fig total-ms)
WEB2_FILES=$(($(served | wc -l) - served_before))
WEB2_BYTES=$(($(served_bytes) - WEB_BYTES))
# The system's download routine, then curl, fetching the same files.
FETCH=$(wine "$BIN/bench_baseline.exe" download "http://127.0.0.1:$PORT/" $(cat "$BB/web-files.txt") | tr -d '\r')
FETCH_MS=$(printf '%s\n' "$FETCH" | sed -n 's/.*download-ms=\([0-9]*\).*/\1/p')
CURL_MS=$(curl_ms "$BB/web-files.txt")
kill $SERVER 2>/dev/null || true

# WEB on a bare machine again, from a server that cuts every file once at 90%.
bare_machine
mkdir -p "$BB/drop"
# msi.dll fetches the product package itself and cannot resume: it is served whole.
LOOPBACK_OPTIONS="--drop-once 0.9 --keep-whole .msi" web_folder "$BB/dist" "$BB/drop"
NAME=drop robot "$(w "$BB/drop/web/fernwick.exe")"
DROP_RC=$RC; DROP_MS=$(fig total-ms); DROP_DATA_MS=$(logfig data-ms)
DROP_BYTES=$(awk '$3 == 200 || $3 == 206 {n += $4} END {print n + 0}' "$BB/drop/server.log")
DROP_RANGES=$(awk '$3 == 206' "$BB/drop/server.log" | wc -l)
kill $SERVER 2>/dev/null || true
wineserver -k 2>/dev/null || true
fi

machine_line
echo "Exit codes: LOCAL $LOCAL_RC, LOCAL again $LOCAL2_RC, msiexec $MSI_RC, LOCAL /q $QUIET_RC, again $QUIET2_RC, WEB ${WEB_RC:--}, WEB again ${WEB2_RC:--}"
echo "Fair baseline: msiexec /qn $MSI_MS ms + CopyFileA $FAIR_COPY_MS ms + unzip $UNZIP_MS ms"
row() { printf '%-50s %11s %-2s %11s %-2s %8s\n' "$1" "$2" "$4" "$3" "$4" "$(ratio "$2" "$3")"; }
printf '%-50s %14s %14s %8s\n' "figure" "fernwick.exe" "baseline" "ratio"
row "LOCAL install vs msiexec+CopyFileA+unzip" "$LOCAL_MS" "$FAIR_MS" ms
row "LOCAL install ($((LOCAL_BYTES / 1048576)) MB) vs CopyFileA" "$LOCAL_MS" "$COPY_MS" ms
row "  its data phase alone vs CopyFileA" "$LOCAL_DATA_MS" "$COPY_MS" ms
row "LOCAL again, all in place ($LOCAL2_FILES files copied)" "$LOCAL2_MS" "$LOCAL_MS" ms
row "LOCAL /q (no window, no boxes) vs the fair baseline" "$QUIET_MS" "$FAIR_MS" ms
row "  its data phase alone vs CopyFileA" "$QUIET_DATA_MS" "$COPY_MS" ms
row "LOCAL /q again, all in place, vs LOCAL /q" "$QUIET2_MS" "$QUIET_MS" ms
if [ "$FW_BENCH_WEB" != no ]; then
printf '%-50s %9s MB/s %9s MB/s %8s\n' "WEB install ($((WEB_BYTES / 1048576)) MB) vs curl, throughput" \
       "$(mb_s "$WEB_BYTES" "$WEB_MS")" "$(mb_s "$WEB_BYTES" "$CURL_MS")" "$(ratio "$CURL_MS" "$WEB_MS")"
printf '%-50s %9s MB/s %9s MB/s %8s\n' "  its data phase alone vs curl, throughput" \
       "$(mb_s "$WEB_BYTES" "$WEB_DATA_MS")" "$(mb_s "$WEB_BYTES" "$CURL_MS")" "$(ratio "$CURL_MS" "$WEB_DATA_MS")"
printf '%-50s %9s MB/s %9s MB/s %8s\n' "  its data phase vs URLDownloadToCacheFileA" \
       "$(mb_s "$WEB_BYTES" "$WEB_DATA_MS")" "$(mb_s "$WEB_BYTES" "$FETCH_MS")" "$(ratio "$FETCH_MS" "$WEB_DATA_MS")"
row "WEB cut once per file (exit $DROP_RC), data vs curl" "$(mb_s "$WEB_BYTES" "$DROP_DATA_MS")" "$(mb_s "$WEB_BYTES" "$CURL_MS")" MB/s
printf '%-50s %11s B  %11s B  %8s\n' "  bytes served ($DROP_RANGES ranges) vs the files" "$DROP_BYTES" "$WEB_BYTES" \
       "$(ratio "$DROP_BYTES" "$WEB_BYTES")"
row "WEB again ($WEB2_FILES files, $WEB2_BYTES bytes obtained)" "$WEB2_MS" "$WEB_MS" ms
fi
row "peak working set, LOCAL vs msiexec" "$LOCAL_PEAK" "$MSI_PEAK" KB
row "peak working set, LOCAL vs minimal program" "$LOCAL_PEAK" "$MIN_PEAK" KB
row "peak working set, LOCAL /q vs msiexec /qn" "$QUIET_PEAK" "$MSI_PEAK" KB
[ "$FW_BENCH_WEB" = no ] || row "peak working set, WEB vs minimal program" "$WEB_PEAK" "$MIN_PEAK" KB
row "start to first window vs minimal program" "$LOCAL_FIRST" "$MIN_FIRST" ms
