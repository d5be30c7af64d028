#!/usr/bin/env bash
# Makes the Wine prefix DIR once (about 10 s); later runs find it ready.
#   tools/windows/wine-prefix.sh DIR [--keep-server|--stop-server]
# --keep-server leaves one Wine server and the prefix's services running until
# --stop-server, so the tests that follow neither start them nor inherit them.
set -euo pipefail
dir=${1:?usage: $0 DIR [--keep-server|--stop-server]}
export WINEPREFIX=$dir WINEDEBUG=${WINEDEBUG:--all} WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
if [ ! -f "$dir/system.reg" ]; then
    mkdir -p "$dir"
    wineboot -i >/dev/null 2>&1
    wineserver -w
fi
[ -f "$dir/system.reg" ]
case "${2:-}" in
--keep-server)
    wineserver -p </dev/null >/dev/null 2>&1 || true # one may run already
    # The prefix's services start with the first program and keep its output open;
    # started here, no test's output waits for them.
    wineboot </dev/null >/dev/null 2>&1 ;;
--stop-server) wineserver -k 2>/dev/null || true ;;
esac
