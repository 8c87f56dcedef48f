#!/bin/sh
# The example run on a display (called by run-example.sh with ROOT, B, MODE,
# BIN (the build's programs), REG_VIEW (its registry view, 32 or 64),
# BUILD_NAME and WINEPREFIX set, the distribution folders made in $B/example): writes their
# checksums, runs fernwick.exe through the robot, which answers its boxes,
# takes screenshots, and reports what the installation left on the machine.
. "$ROOT/scripts/wine-env.sh"
wine_prefix_ready
EX="$B/example"
PRODUCT_KEY='HKLM\SOFTWARE\Ombrant\ZAPH QRT'
LANGS=${FERNWICK_EXAMPLE_LANGS:-FR EN}

checksums() {
    wine "$BIN/fwchecksums.exe" "$(winepath -w "$1")" >/dev/null
}

# Wine's own programs started by their bare name are 32-bit ones where wine32
# is installed, and read the 32-bit registry view: the view of the build that
# ran (and of its product package) is named.
reg_query() {
    /usr/lib/wine/wine64 reg query "$@" /reg:$REG_VIEW 2>/dev/null | tr -d '\r'
}
reg_value() {
    reg_query "$1" /v "$2" | sed -n "s/^ *$2 *REG_[A-Z_]* *//p"
}

# Runs fernwick.exe in folder $1 (further arguments are its own) through the
# robot; the screenshot loop shoots each box before it is answered (the robot
# waits for box_<n>.png) and the screen every few seconds. Sets RC.
run() {
    folder=$1; shift
    wine_prefix_ready
    shots="$EX/shots-$(basename "$folder")"
    mkdir -p "$shots"
    (cd "$shots" && FERNWICK_EXAMPLE_LANGS="$LANGS" \
        wine "$B/example-robot.exe" "${FERNWICK_EXAMPLE_TIMEOUT:-600}" \
             "$(winepath -w "$folder/fernwick.exe")" "$@") &
    pid=$!
    tick=0; n=0
    while kill -0 $pid 2>/dev/null; do
        for box in "$shots"/box_*.txt; do
            [ -e "$box" ] || continue
            shot="${box%.txt}.png"
            [ -e "$shot" ] && continue
            # Written under another name first: the robot answers once the file exists.
            if import -window root "$shots/box.tmp.png" 2>/dev/null; then
                mv "$shots/box.tmp.png" "$shot"
            else
                touch "$shot"   # no screenshot possible: do not hold the robot
            fi
        done
        tick=$((tick + 1))
        if [ $((tick % 15)) -eq 0 ] && [ $n -lt 100 ]; then
            n=$((n + 1))
            import -window root "$shots/screen_$n.png" 2>/dev/null || true
        fi
        sleep 0.2
    done
    RC=0
    wait $pid || RC=$?
    # The robot has seen the program end; what is still running is the
    # desktop's process (and whatever the run left behind), which would never
    # end by itself.
    wine_prefix_down
}

outcome() {
    case $1 in
        0) echo "installed completely" ;;
        1223) echo "cancelled" ;;
        1641|3010) echo "installed; a restart completes it" ;;
        *) echo "failed" ;;
    esac
}

# What the product does on its first start after a setup: it takes the data of
# the staging folder in (unpacked) and the staging folder goes.
take_in() {
    target=$(reg_value "$PRODUCT_KEY" InstallPath)
    [ -n "$target" ] || return 0
    python3 - "$(winepath -u "$target")" <<'EOF'
import os, shutil, sys, zipfile
root = sys.argv[1]
for name in os.listdir(root):
    staging = os.path.join(root, name)
    if not (name.endswith("_New") and os.path.isdir(staging)):
        continue
    data = os.path.join(root, name[:-4])
    for folder, _, files in os.walk(staging):
        relative = os.path.relpath(folder, staging)
        if relative.split(os.sep)[0] in ("setup", "Log"):
            continue
        for f in files:
            if f == "FW_Complete.lol":
                continue
            into = os.path.join(data, relative)
            os.makedirs(into, exist_ok=True)
            if f.lower().endswith((".zip", ".zsi")):
                zipfile.ZipFile(os.path.join(folder, f)).extractall(into)
            else:
                shutil.copy2(os.path.join(folder, f), into)
    shutil.rmtree(staging)
    print("The product took '%s' in as '%s'." % (name, name[:-4]))
EOF
}

echo "=== The program: $BUILD_NAME, $BIN/fernwick.exe"
case "$MODE" in
    upgrade)
        checksums "$EX/earlier"
        echo "=== The release before this one (languages $LANGS)"
        run "$EX/earlier"
        echo "Earlier release: exit code $RC ($(outcome $RC))"
        take_in
        checksums "$EX/dist"
        echo "=== The upgrade"
        run "$EX/dist" "$@"
        ;;
    web)
        checksums "$EX/dist"
        web_folder "$EX/dist" "$EX"
        echo "=== WEB installation from http://127.0.0.1:$PORT/"
        run "$EX/web" "$@"
        kill $SERVER 2>/dev/null || true
        echo "Files the server delivered: $(grep -c ' 200 ' "$EX/server.log"), $(awk '$3 == 200 {n += $4} END {print n + 0}' "$EX/server.log") bytes"
        ;;
    *)
        checksums "$EX/dist"
        echo "=== LOCAL installation from $EX/dist"
        run "$EX/dist" "$@"
        ;;
esac

echo
echo "=== Outcome"
echo "fernwick.exe's exit code: $RC ($(outcome $RC)); it was $BUILD_NAME"
echo
echo "=== Registry values ($PRODUCT_KEY, $REG_VIEW-bit view)"
reg_query "$PRODUCT_KEY" | sed -n 's/^ \{4\}/    /p'
target=$(reg_value "$PRODUCT_KEY" InstallPath)
if [ -n "$target" ]; then
    echo
    echo "=== Installed folders and files ($target)"
    (cd "$(winepath -u "$target")" && find . -type f -printf '%P  %s bytes\n' | sort)
fi
echo
echo "=== Shortcuts"
find "$WINEPREFIX/drive_c" -name '*.lnk' -path '*Desktop*' -o -name '*.lnk' -path '*Start Menu*' 2>/dev/null |
while read -r link; do
    points=$(strings "$link" | grep -i 'login.exe' | head -n 1)
    echo "$link -> ${points:-?}"
done
echo
log=$(ls -t "$WINEPREFIX"/drive_c/users/*/AppData/Local/Temp/Fern_*.log \
            "$WINEPREFIX"/drive_c/users/*/Temp/Fern_*.log 2>/dev/null | head -n 1)
if [ -n "$log" ]; then
    echo "=== Log: $log"
    echo "--- last lines ---"
    # The log is written in the system's code page (Windows-1252 for a French
    # run): its accented letters are shown in the terminal's own encoding.
    acp=$(reg_value 'HKLM\System\CurrentControlSet\Control\Nls\CodePage' ACP)
    tail -n 12 "$log" | python3 -c 'import sys
sys.stdout.write(sys.stdin.buffer.read().decode("cp" + sys.argv[1], "replace").replace("\r", ""))' "${acp:-1252}"
    echo "------------------"
fi
wine_prefix_down
echo "Screenshots and box texts: $(ls "$EX"/shots-*/*.png 2>/dev/null | wc -l) in $EX/shots-*"
exit $RC
