# Sourced by the whole-run benchmarks (run-install.sh, run-layout.sh): the
# build of what they run, the sample distribution they run it on, the start
# under a display of their own, and the helpers that read the robot's figures.
# The sourcing script sets ROOT first.
FW_BUILD_DIR=${FW_BUILD_DIR:-$ROOT/build}
case "$FW_BUILD_DIR" in /*) ;; *) FW_BUILD_DIR="$PWD/$FW_BUILD_DIR" ;; esac
BIN="$FW_BUILD_DIR/x64/bin"

# Builds the given targets of the x86_64 tree and the example's robot, which
# drives every run.
bench_build() {
    "$ROOT/scripts/deps.sh"
    cmake -S "$ROOT" -B "$FW_BUILD_DIR/x64" -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw-x86_64.cmake" \
          -DCMAKE_BUILD_TYPE=Release -DFERNWICK_TESTS=ON >/dev/null
    cmake --build "$FW_BUILD_DIR/x64" -j "$(nproc 2>/dev/null || echo 2)" --target "$@"
    x86_64-w64-mingw32-g++-posix -O1 -static -o "$FW_BUILD_DIR/example-robot.exe" \
        "$ROOT/scripts/example-robot.cpp" -luser32 -lpsapi
}

# Makes $BB/dist afresh: the program, the sample's settings file and the given
# files of examples/ beside them, and the sample's data ($1 MB of archives).
bench_distribution() {
    mb=$1; shift
    rm -rf "$BB"; mkdir -p "$BB/dist"
    for f in Zaph.ini "$@"; do cp "$ROOT/examples/$f" "$BB/dist/"; done
    cp "$BIN/fernwick.exe" "$BB/dist/"
    python3 "$ROOT/examples/make_distribution.py" "$BB/dist" --dunzip "$BIN/dunzip32.dll" \
            --data-mb "$mb" >/dev/null
}

# Runs the sourcing script again with --inner, under a display of its own
# (Xvfb: the runs' windows are real and nobody else's screen is touched), as
# many rounds as FW_BENCH_ROUNDS says (default 1). With more than one, each
# round's table is kept in $BB/round-N.txt and its runs' timed log lines in
# $BB/round-N/, and one table of the medians follows (bench/medians.py): the
# figures of a whole run move by half from one run to the next on a shared
# machine, so one round's ratio is not a figure to quote.
bench_rounds() {
    export FW_BUILD_DIR ROOT BB
    rounds=${FW_BENCH_ROUNDS:-1}
    case "$rounds" in
        '' | *[!0-9]* | 0) echo "FW_BENCH_ROUNDS must be a whole number of rounds, not '$rounds'" >&2; exit 2 ;;
    esac
    [ "$rounds" -gt 1 ] || exec xvfb-run -a -s "-screen 0 1024x768x24" sh "$1" --inner
    i=1
    while [ "$i" -le "$rounds" ]; do
        echo "Round $i of $rounds"
        xvfb-run -a -s "-screen 0 1024x768x24" sh "$1" --inner | tee "$BB/round-$i.txt"
        mkdir -p "$BB/round-$i"
        for f in "$BB"/*-lines.txt; do [ -f "$f" ] && mv "$f" "$BB/round-$i/"; done
        i=$((i + 1))
    done
    python3 "$ROOT/bench/medians.py" "$BB"/round-*.txt
}

# The robot's output $1 of one run: FIG its figures line, RC the program's code.
read_robot() {
    # printf, not echo: the shell's echo reads the backslashes of Windows
    # paths as escapes ("\c" in a folder's name ends its output).
    printf '%s\n' "$1" >>"$BB/robot.log"
    FIG=$(printf '%s\n' "$1" | sed -n 's/^figures: //p')
    RC=$(printf '%s\n' "$1" | sed -n 's/.* ended with exit code \(-*[0-9]*\)$/\1/p')
}
fig() { printf '%s\n' "$FIG" | tr ' ' '\n' | sed -n "s/^$1=//p"; }
ratio() { python3 -c "print('%.2f' % ($1 / $2))" 2>/dev/null || echo "?"; }
mb_s() { python3 -c "print('%.1f' % ($1 / 1048576.0 / ($2 / 1000.0)))" 2>/dev/null || echo "?"; }

# The files the loopback server of $1 (default $BB) has served whole so far,
# and their bytes.
served() { awk '$3 == 200 {print substr($2, 2)}' "${1:-$BB}/server.log"; }
served_bytes() { awk '$3 == 200 {n += $4} END {print n + 0}' "${1:-$BB}/server.log"; }

# Milliseconds curl takes to fetch the files listed in $1 from the server at
# $PORT, one after another.
curl_ms() {
    start=$(date +%s%N)
    for f in $(cat "$1"); do
        curl -s -o /dev/null "http://127.0.0.1:$PORT/$f"
    done
    echo $((($(date +%s%N) - start) / 1000000))
}

machine_line() {
    echo "Machine: $(grep -m1 'model name' /proc/cpuinfo | sed 's/.*: //'), $(nproc) cores, $(free -g | awk '/Mem:/ {print $2}') GiB; $(wine --version 2>/dev/null); load $(cut -d' ' -f1-3 /proc/loadavg)"
}
