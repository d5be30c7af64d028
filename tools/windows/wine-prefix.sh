#!/usr/bin/env bash
# Makes the Wine prefix DIR once (about 10 s); later runs find it ready.
set -euo pipefail
dir=${1:?usage: $0 DIR}
export WINEPREFIX=$dir WINEDEBUG=${WINEDEBUG:--all} WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
if [ ! -f "$dir/system.reg" ]; then
    mkdir -p "$dir"
    wineboot -i >/dev/null 2>&1
    wineserver -w
fi
[ -f "$dir/system.reg" ]
