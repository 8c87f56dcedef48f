#!/bin/sh
# Builds both architectures and runs every test under Wine and Xvfb:
#   x86_64   build/x64's tests in a 64-bit prefix;
#   i686     build/x86-tests' tests (they start the release build's
#            fernwick.exe) in a 64-bit prefix, as a 32-bit program on 64-bit
#            Windows (WOW64), and the older systems' rows (the Windows 9x,
#            NT 4.0, XP and Vista settings) again in a 32-bit prefix.
# Whether this machine runs 32-bit code is tried once, with a tiny 32-bit
# program; where it does not, every i686 test is reported as skipped, with the
# reason. Arguments go to ctest (for example -R test_Log). FW_BUILD_DIR picks
# the build tree (default build/); FERNWICK_SKIP_X86=1 skips the i686 builds.
set -e
ROOT=$(cd "$(dirname "$0")/.." && pwd)
FW_BUILD_DIR=${FW_BUILD_DIR:-$ROOT/build}
case "$FW_BUILD_DIR" in /*) ;; *) FW_BUILD_DIR="$PWD/$FW_BUILD_DIR" ;; esac
export FW_BUILD_DIR
"$ROOT/scripts/deps.sh"
"$ROOT/scripts/build.sh"
. "$ROOT/scripts/wine-env.sh"
export ROOT
# The whole session runs under one virtual display, started before any wine process.
xvfb-run -a -s "-screen 0 1024x768x24" sh -c '
    . "$ROOT/scripts/wine-env.sh"
    B=$FW_BUILD_DIR
    SUMMARY=$B/session-summary.txt
    : >"$SUMMARY"
    status=0
    # One pass: ctest in tree $1 under the label $2 (what the summary calls
    # it), in the prefix WINEPREFIX, with the further arguments.
    pass() {
        tree=$1; what=$2; shift 2
        start=$(date +%s)
        wine_prefix_ready
        # A test program that hangs inside Wine itself (seen at process exit,
        # and in a dropped-connection download that Wine never ends) gets two
        # more chances; a real failure fails every time.
        { (cd "$tree" && ctest --output-on-failure -j 2 --repeat until-pass:3 "$@") 2>&1
          echo $? >"$B/pass.rc"; } | tee "$B/pass.log"
        rc=$(cat "$B/pass.rc")
        wine_prefix_down
        result=$(grep -E "tests passed|No tests were found" "$B/pass.log" | tail -n 1)
        [ $rc -eq 0 ] || status=1
        printf "%-44s %s (%s s)\n" "$what:" "${result:-ctest ended with $rc}" "$(($(date +%s) - start))" >>"$SUMMARY"
    }
    # Every test of tree $1 that the pass $2 would run (ctest arguments after
    # the reason $3) reported as skipped, with that reason: none has passed.
    skipped() {
        tree=$1; what=$2; why=$3; shift 3
        (cd "$tree" && ctest -N "$@") | sed -n "s/^ *Test *#[0-9]*: \(.*\)$/\1/p" >"$B/skipped.txt"
        while read -r name; do echo "$name: skipped, $why"; done <"$B/skipped.txt"
        printf "%-44s %s tests skipped: %s\n" "$what:" "$(wc -l <"$B/skipped.txt")" "$why" >>"$SUMMARY"
    }

    export WINEPREFIX="$B/x64/wineprefix"
    pass "$B/x64" "x86_64, 64-bit Windows" "$@"
    if [ "${FERNWICK_SKIP_X86:-0}" != 1 ]; then
        T=$B/x86-tests
        export WINEPREFIX="$T/wineprefix"
        wine_prefix_ready
        # fw_child exits with the code it is given: 86 says a 32-bit program ran.
        probe=0
        wine "$T/bin/fw_child.exe" 86 >"$B/probe32.log" 2>&1 || probe=$?
        wine_prefix_down
        if [ $probe -eq 86 ]; then
            pass "$T" "i686, 64-bit Windows (WOW64)" "$@"
            # The older systems in a Windows of their own architecture.
            export WINEARCH=win32 WINEPREFIX="$T/wineprefix32" FW_TEST_PREFIX="$T/wineprefix32"
            export FW_SYSTEMS="win98 nt40 winxp vista"
            export GTEST_FILTER="Install/*:Window.NarrowInterfacesShowGreekInItsCodePage"
            pass "$T" "i686, 32-bit Windows (older systems)" -L older-systems "$@"
        else
            why="this machine does not run 32-bit Windows programs under Wine: $(tr -d "\r" <"$B/probe32.log" | grep . | tail -n 1)"
            [ -s "$B/probe32.log" ] || why="this machine does not run 32-bit Windows programs under Wine (exit code $probe)"
            skipped "$T" "i686, 64-bit Windows (WOW64)" "$why" "$@"
            skipped "$T" "i686, 32-bit Windows (older systems)" "$why" -L older-systems "$@"
        fi
    fi
    echo
    echo "=== Session"
    cat "$SUMMARY"
    exit $status' fwtest "$@"
