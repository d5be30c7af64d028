#!/usr/bin/env bash
# Start to first shown window of the Windows build under Wine (windows platform,
# Xvfb), against the bare widget program built the same way, interleaved.
#   bench/windows/startup.sh BIN [ROUNDS]    BIN: the Windows build's bin/ folder
# Qt's log does not reach Linux from under Wine, so the clock runs outside: from
# the start of `wine PROGRAM` until its top-level window is mapped on the X
# display (Wine maps it when the program shows it; the paint follows at once).
set -euo pipefail
bin=$(realpath "${1:?usage: $0 BIN [ROUNDS]}")
rounds=${2:-7}
work=$(mktemp -d)
export WINEPREFIX=${WINEPREFIX:-$work/wineprefix} WINEDEBUG=-all WINEDLLOVERRIDES=mscoree,mshtml=
tools=$(cd "$(dirname "$0")/../../tools/windows" && pwd)
bash "$tools/wine-prefix.sh" "$WINEPREFIX"

source "$tools/xvfb.sh"
start_xvfb "$work"
trap 'wineserver -k 2>/dev/null || true; kill $xvfb_pid 2>/dev/null || true; rm -rf "$work"' EXIT
# One wine server for the whole run, so each start pays only for the program.
wineserver -p

start_ms() { # program.exe -> milliseconds to its first mapped window, or fails
    local exe=$1 t0 t1 pid
    t0=$(date +%s%N)
    (cd "$work" && exec wine "$bin/$exe") >/dev/null 2>&1 &
    pid=$!
    for _ in $(seq 3000); do
        if xdotool search --onlyvisible --classname "^$exe\$" >/dev/null 2>&1; then
            t1=$(date +%s%N)
            kill "$pid" 2>/dev/null || true
            wait "$pid" 2>/dev/null || true
            echo $(((t1 - t0) / 1000000))
            return 0
        fi
        sleep 0.01
    done
    kill "$pid" 2>/dev/null || true
    return 1
}

median() { sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

start_ms bw_bare_widget.exe >/dev/null # warm-up: DLLs into the page cache
start_ms boxwright.exe >/dev/null
bare=()
program=()
for i in $(seq "$rounds"); do
    b=$(start_ms bw_bare_widget.exe) || { echo "bare widget program showed no window" >&2; exit 1; }
    p=$(start_ms boxwright.exe) || { echo "boxwright showed no window" >&2; exit 1; }
    bare+=("$b")
    program+=("$p")
    echo "round $i: boxwright $p ms, bare widget $b ms"
done
bm=$(printf '%s\n' "${bare[@]}" | median)
pm=$(printf '%s\n' "${program[@]}" | median)
echo "median of $rounds: boxwright $pm ms, bare widget $bm ms, ratio $(awk -v p="$pm" -v b="$bm" 'BEGIN { printf "%.2f", p / b }')"
