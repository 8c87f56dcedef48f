# Sourced by the scripts: a Wine prefix private to the build tree, quiet wine.
ROOT=${ROOT:-$(cd "$(dirname "$0")/.." && pwd)}
export WINEPREFIX=${WINEPREFIX:-${FW_BUILD_DIR:-$ROOT/build}/x64/wineprefix}
export WINEDEBUG=-all
# A 64-bit Windows unless told otherwise (the older systems' rows of the
# release build run in a 32-bit one, WINEARCH=win32): a 32-bit program in a
# 64-bit prefix runs as on 64-bit Windows, its registry view and system folder
# redirected.
export WINEARCH=${WINEARCH:-win64}
# No Mono/Gecko download prompts when the prefix is made.
export WINEDLLOVERRIDES="mscoree,mshtml=d;winemenubuilder.exe=d"

wine_prefix_ready() {
    # Kill a wineserver that may have been started without a display: it would
    # break every later window of this prefix.
    wineserver -k 2>/dev/null || true
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
        mkdir -p "$WINEPREFIX"
        wineboot -i >/dev/null 2>&1
        # Without a window manager (Xvfb) Wine waits for every managed window
        # to close; unmanaged windows close at once. (HKCU\Software is one key
        # for 32-bit and 64-bit programs: no view to name.)
        wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
        wineserver -w
    fi
    # Start the prefix's wineserver and services once, under this display,
    # before tests start in parallel.
    wine cmd.exe /c exit 0 >/dev/null 2>&1 || true
    # The desktop's process (explorer) starts with the first window of the
    # session and inherits that program's error output; it lives as long as
    # other programs use the desktop, and ctest waits for the output pipe, not
    # the program: the first windowed test would last until its time-out.
    # Started here, it holds no test's pipe.
    wine explorer.exe /desktop </dev/null >/dev/null 2>&1 &
}

# Ends the prefix: every process of it, the desktop's included (which never
# ends by itself, so waiting for the prefix to fall idle would wait for ever),
# and its wineserver, which writes the registry to disk as it goes. A run that
# waits for its own program first and then calls this ends by itself.
wine_prefix_down() {
    wineserver -k 2>/dev/null || true
    wineserver -w 2>/dev/null || true
}

# A WEB installation's start: serves distribution folder $1 from a loopback
# server (its log in $2/server.log) and makes $2/web, the folder the program
# starts from: itself and its settings file, whose base names the server.
# Sets SERVER (the server's pid) and PORT.
web_folder() {
    rm -f "$2/port"
    python3 "$ROOT/scripts/loopback-server.py" "$1" "$2/port" $LOOPBACK_OPTIONS 2>"$2/server.log" &
    SERVER=$!
    while [ ! -s "$2/port" ]; do sleep 0.2; done
    PORT=$(cat "$2/port")
    mkdir -p "$2/web"
    cp "$1/fernwick.exe" "$2/web/"
    python3 - "$1/Zaph.ini" "$2/web/Zaph.ini" "http://127.0.0.1:$PORT/" <<'PY'
import re, sys
text = open(sys.argv[1], "rb").read().decode("utf-16")
text = re.sub(r"(?m)^BASE_URL=.*$", "BASE_URL=" + sys.argv[3].replace("\\", "\\\\"), text, count=1)
open(sys.argv[2], "wb").write(text.encode("utf-16"))
PY
}
