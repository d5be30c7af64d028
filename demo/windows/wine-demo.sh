#!/usr/bin/env bash
# The demo under Wine: the program's test build (boxwright-wine-demo.exe, a
# virtual key behind the test boundary in its process), the demo web service,
# a 640x480 Xvfb; screenshots of the dashboard with the key attached and of the
# login after the key's first scan, in OUT.
#   wine-demo.sh BIN_DIR OUT_DIR WINEPREFIX
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
bin=$(realpath "${1:?usage: $0 BIN_DIR OUT_DIR WINEPREFIX}")
out=$(realpath -m "${2:?}")
export WINEPREFIX=$(realpath -m "${3:?}") WINEDEBUG=-all WINEDLLOVERRIDES=mscoree,mshtml=
mkdir -p "$out"
rm -f "$out"/*.png
fail() {
    echo "wine demo: $*" >&2
    exit 1
}
bash "$root/tools/windows/wine-prefix.sh" "$WINEPREFIX" || fail "no Wine prefix"
source "$root/tools/windows/xvfb.sh"
BW_XVFB_SIZE=1280x1024 start_xvfb "$out" -wr || fail "no Xvfb"
service_pid=
cleanup() {
    [ -n "$service_pid" ] && kill "$service_pid" 2>/dev/null
    wineserver -k 2>/dev/null
    kill "$xvfb_pid" 2>/dev/null
    wait 2>/dev/null
    return 0
}
trap cleanup EXIT
port=18080
wine "$bin/boxwright-demo-service.exe" --port $port --seal-log "$(winepath -w "$out/seals.jsonl")" \
    >"$out/service.log" 2>&1 &
service_pid=$!
title="Boxwright v$(sed -n 's/^project(Boxwright VERSION \([0-9.]*\).*/\1/p' "$root/CMakeLists.txt")"
(cd "$out" && BW_DEMO_SERVICE_PORT=$port BW_DEMO_SCAN_AFTER_MS=6000 \
    wine "$bin/boxwright-wine-demo.exe" >"$out/program.log" 2>&1) &
window=
for _ in $(seq 120); do
    window=$(xdotool search --name "^$title\$" 2>/dev/null | head -n 1) && [ -n "$window" ] && break
    sleep 0.5
done
[ -n "$window" ] || fail "no window \"$title\" within 60 s"
sleep 4 # attached, identity and status shown
# The window's own area of the screen (Wine's windows are not X window ids to Qt).
area() {
    eval "$(xdotool getwindowgeometry --shell "$1")"
    echo "$X,$Y,$WIDTH,$HEIGHT"
}
wine "$bin/boxwright-demo-shot.exe" "$(winepath -w "$out/01-dashboard-wine.png")" "$(area "$window")" \
    || fail "no screenshot of the dashboard"
login=
for _ in $(seq 40); do
    login=$(xdotool search --name "Login" 2>/dev/null | head -n 1) && [ -n "$login" ] && break
    sleep 0.5
done
[ -n "$login" ] || fail "no login window after the key's scan"
sleep 1
wine "$bin/boxwright-demo-shot.exe" "$(winepath -w "$out/04-login-wine.png")" "$(area "$login")" \
    || fail "no screenshot of the login"
echo "wine demo: screenshots in $out"
