#!/usr/bin/env bash
# The demo under Wine: the program's test build (boxwright-wine-demo.exe, a
# virtual key behind the test boundary in its process), the demo web service and
# an Xvfb; one seal driven through the windows from the key's first scan (login,
# timetable, exam centre, confirm, "Packed"), with a screenshot of each, in OUT.
# Fails unless the service recorded one seal and the packing log holds one line.
# Where network namespaces can be had, the run has one of its own, the key names
# a UDP echo behind a veth pair as its relay server, and the run fails unless the
# key's payload comes back through the relay.
#   wine-demo.sh BIN_DIR OUT_DIR WINEPREFIX
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
bin=$(realpath "${1:?usage: $0 BIN_DIR OUT_DIR WINEPREFIX}")
out=$(realpath -m "${2:?}")
export WINEPREFIX=$(realpath -m "${3:?}") WINEDEBUG=-all WINEDLLOVERRIDES=mscoree,mshtml=
if [ -z "${BW_WINE_DEMO_NETNS:-}" ]; then
    if [ "$(id -u)" -eq 0 ] && unshare --net true 2>/dev/null; then
        BW_WINE_DEMO_NETNS=1 exec unshare --net --fork -- bash "$0" "$@"
    elif unshare --user --map-root-user --net true 2>/dev/null; then
        BW_WINE_DEMO_NETNS=1 exec unshare --user --map-root-user --net --fork -- bash "$0" "$@"
    fi
    BW_WINE_DEMO_NETNS=none
fi
mkdir -p "$out"
rm -f "$out"/*.png "$out/seals.jsonl"
fail() {
    echo "wine demo: $*" >&2
    exit 1
}
# A prefix whose Wine server has only ever run in such a namespace.
[ "$BW_WINE_DEMO_NETNS" != none ] && WINEPREFIX=$WINEPREFIX-netns
bash "$root/tools/windows/wine-prefix.sh" "$WINEPREFIX" || fail "no Wine prefix"
find "$WINEPREFIX/drive_c/users" -path '*Varnex/Packlog.txt' -delete 2>/dev/null
source "$root/tools/windows/xvfb.sh"
BW_XVFB_SIZE=1280x1024 start_xvfb "$out" -wr || fail "no Xvfb"
service_pid=
relay_pid=
cleanup() {
    [ -n "$service_pid" ] && kill "$service_pid" 2>/dev/null
    [ -n "$relay_pid" ] && kill "$relay_pid" 2>/dev/null
    wineserver -k 2>/dev/null
    kill "$xvfb_pid" 2>/dev/null
    wait 2>/dev/null
    return 0
}
trap cleanup EXIT
relay=
if [ "$BW_WINE_DEMO_NETNS" != none ]; then
    ip link set lo up || fail "no loopback in the demo's namespace"
    bash "$root/demo/relay/relay-netns.sh" "$root/tests/winboundary/udp_echo.py" 5077 \
        >"$out/relay.log" 2>&1 &
    relay_pid=$!
    for _ in $(seq 100); do
        grep -q listening "$out/relay.log" && break
        sleep 0.1
    done
    grep -q listening "$out/relay.log" || fail "the relay's UDP echo did not start"
    relay="${BW_RELAY_IP:-10.213.77.2}:5077"
else
    echo "wine demo: no network namespace here, so no relay"
fi
port=18080
wine "$bin/boxwright-demo-service.exe" --port $port --seal-log "$(winepath -w "$out/seals.jsonl")" \
    >"$out/service.log" 2>&1 &
service_pid=$!
title="Boxwright v$(sed -n 's/^project(Boxwright VERSION \([0-9.]*\).*/\1/p' "$root/CMakeLists.txt")"
(cd "$out" && BW_DEMO_SERVICE_PORT=$port BW_DEMO_SCAN_AFTER_MS=6000 BW_DEMO_RELAY=$relay \
    wine "$bin/boxwright-wine-demo.exe" >"$out/program.log" 2>&1) &
# The Linux demo's window helpers: window, keys, type_text (it defines only
# functions and counters at its top level).
source "$root/demo/drive.sh"
dashboard=$(window "$title" 60) || fail "no window \"$title\" within 60 s"
sleep 4 # attached, identity and status shown
# The window's own area of the screen (Wine's windows are not X window ids to Qt).
area() {
    eval "$(xdotool getwindowgeometry --shell "$1")"
    echo "$X,$Y,$WIDTH,$HEIGHT"
}
wine "$bin/boxwright-demo-shot.exe" "$(winepath -w "$out/01-dashboard-wine.png")" "$(area "$dashboard")" \
    || fail "no screenshot of the dashboard"
shot() { # name window
    sleep 1
    wine "$bin/boxwright-demo-shot.exe" "$(winepath -w "$out/$1.png")" "$(area "$2")" \
        || fail "no screenshot $1"
}

w=$(window Login 20) || fail "no login window after the key's scan"
shot 04-login-wine "$w"
type_text "$w" demo
keys "$w" Tab
type_text "$w" packing
keys "$w" Return
w=$(window "Time Table" 30) || fail "no timetable after the login"
shot 05-timetable-wine "$w"
keys "$w" Return
w=$(window "Exam Center" 60) || fail "no exam centre list"
shot 06-exam-centre-wine "$w"
keys "$w" Return
w=$(window "Confirm Details" 30) || fail "no confirmation"
type_text "$w" "Packed under Wine"
shot 07-confirm-wine "$w"
keys "$w" Tab Return
w=$(window Success 30) || fail "no \"Packed\" after Finish"
shot 08-packed-wine "$w"
keys "$w" Return
[ "$(wc -l <"$out/seals.jsonl")" -eq 1 ] || fail "the web service did not record exactly one seal"
log=$(find "$WINEPREFIX/drive_c/users" -path '*Varnex/Packlog.txt' | head -n 1)
[ -n "$log" ] && [ "$(wc -l <"$log")" -eq 1 ] || fail "no single line in the packing log"
echo "wine demo: packing log line: $(tr -d '\r' <"$log")"
if [ -n "$relay" ]; then
    grep -q "demo key: relay data" "$out/program.log" || fail "the key's payload did not come back through the relay"
    echo "wine demo: relay round trip: $(grep -m1 "demo key: relay data" "$out/program.log")"
fi
echo "wine demo: one seal through the windows; screenshots in $out"
