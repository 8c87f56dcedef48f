#!/bin/sh
# The larger run of the settings-file fault suite: COUNT mutants from SEED on
# (defaults 1000 and 1), each a run of the real fernwick.exe. Prints every
# fault with the seed that remakes it and keeps the mutant's bytes in the
# build tree (fault-mutant-<seed>.ini); ends non-zero when any was found.
#     ./scripts/fault-run.sh [SEED [COUNT]]
set -e
ROOT=$(cd "$(dirname "$0")/.." && pwd)
FW_BUILD_DIR=${FW_BUILD_DIR:-$ROOT/build}
export FW_BUILD_DIR
export FW_FAULT_SEED=${1:-${FW_FAULT_SEED:-1}}
export FW_FAULT_COUNT=${2:-${FW_FAULT_COUNT:-1000}}
"$ROOT/scripts/deps.sh"
FERNWICK_SKIP_X86=1 "$ROOT/scripts/build.sh"
. "$ROOT/scripts/wine-env.sh"
export ROOT
xvfb-run -a -s "-screen 0 1024x768x24" sh -c '
    . "$ROOT/scripts/wine-env.sh"
    wine_prefix_ready
    cd "$FW_BUILD_DIR/x64/bin"
    wine ./e2e_faults.exe --gtest_filter=SettingsFaults.MutantsEndWithACodeAndABox
    rc=$?
    wineserver -k 2>/dev/null || true
    exit $rc'
