# Sourced by the scripts: a Wine prefix private to the build tree, quiet wine.
ROOT=${ROOT:-$(cd "$(dirname "$0")/.." && pwd)}
export WINEPREFIX=${WINEPREFIX:-${FW_BUILD_DIR:-$ROOT/build}/x64/wineprefix}
export WINEDEBUG=-all
export WINEARCH=win64
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
        # to close; unmanaged windows close at once.
        wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
        wineserver -w
    fi
    # Start the prefix's wineserver and services once, under this display,
    # before tests start in parallel.
    wine cmd.exe /c exit 0 >/dev/null 2>&1 || true
}
