#!/usr/bin/env bash
# The paced-write benchmark of the Windows build under Wine (figures only).
#   bench/windows/pacing.sh BIN [ROUNDS]    BIN: the Windows build's bin/ folder
set -euo pipefail
bin=$(realpath "${1:?usage: $0 BIN [ROUNDS]}")
rounds=${2:-30}
work=$(mktemp -d)
export WINEPREFIX=${WINEPREFIX:-$work/wineprefix} WINEDEBUG=-all WINEDLLOVERRIDES=mscoree,mshtml=
trap 'wineserver -k 2>/dev/null || true; rm -rf "$work"' EXIT
bash "$(dirname "$0")/../../tools/windows/wine-prefix.sh" "$WINEPREFIX"
wine "$bin/bench_pacing.exe" "$rounds" "$(winepath -w "$work/pacing.txt")" >/dev/null 2>&1 </dev/null
cat "$work/pacing.txt"
