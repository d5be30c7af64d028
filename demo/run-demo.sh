#!/usr/bin/env bash
# Starts the Boxwright demo: the demo web service, the demo relay server, the
# virtual key, and the unmodified program as the key's child.
#
#   run-demo.sh BUILD_DIR [--headless]
#
# With a display the windows appear and the virtual key takes commands at the
# terminal (type help). Without a display, or with --headless, everything runs
# under Xvfb: one full seal is driven through the real windows with xdotool,
# screenshots and logs are saved in BUILD_DIR/demo-out, and the exit status
# tells whether every step was seen.
#
# The whole demo runs in a private network namespace when it can (as root, or
# through an unprivileged user namespace), so that the relay server can have a
# namespace of its own behind a veth pair. Without either it runs without relay
# traffic and says so.
set -u

usage() {
    echo "usage: $0 BUILD_DIR [--headless]" >&2
    exit 2
}
[ $# -ge 1 ] || usage
build=$(cd "$1" 2>/dev/null && pwd) || { echo "no build folder $1" >&2; exit 2; }
shift
headless=0
for arg in "$@"; do
    case "$arg" in
    --headless) headless=1 ;;
    *) usage ;;
    esac
done
[ -n "${DISPLAY:-}" ] || headless=1
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/.." && pwd)

# --- network namespace -------------------------------------------------------
if [ -z "${BW_DEMO_NETNS:-}" ]; then
    if [ "$(id -u)" -eq 0 ] && unshare --net true 2>/dev/null; then
        BW_DEMO_NETNS=private exec unshare --net --fork -- bash "$0" "$build" "$@"
    elif unshare --user --map-root-user --net true 2>/dev/null; then
        BW_DEMO_NETNS=user exec unshare --user --map-root-user --net --fork -- bash "$0" "$build" "$@"
    fi
    BW_DEMO_NETNS=none
fi
if [ "$BW_DEMO_NETNS" != none ]; then
    ip link set lo up || BW_DEMO_NETNS=none
fi

# --- programs ----------------------------------------------------------------
find_bin() { # name [expected folder in the build tree]
    local f="$build/${2:-}/$1"
    [ -x "$f" ] && [ -f "$f" ] && { echo "$f"; return; }
    f=$(find "$build" -type f -name "$1" -perm -u+x 2>/dev/null | head -n 1)
    [ -n "$f" ] || { echo "missing $1 in $build (build it first)" >&2; exit 77; }
    echo "$f"
}
program=$(find_bin boxwright app) || exit $?
vkey=$(find_bin boxwright-virtual-key demo/virtual_key) || exit $?
service=$(find_bin boxwright-demo-service demo/service) || exit $?
relay=$(find_bin boxwright-demo-relay demo/relay) || exit $?
shot=$(find_bin boxwright-demo-shot demo) || exit $?
if [ $headless -eq 1 ]; then
    for tool in Xvfb xdotool; do
        command -v $tool >/dev/null || { echo "$tool is needed for the headless demo" >&2; exit 77; }
    done
fi

out="$build/demo-out"
rm -rf "$out"
mkdir -p "$out/work" "$out/config" "$out/runtime" "$out/screens"
chmod 700 "$out/runtime"
ln -s "$root/BoxwrightImages" "$out/work/BoxwrightImages"
export XDG_CONFIG_HOME="$out/config" XDG_RUNTIME_DIR="$out/runtime"

pids=()
xvfb_pid=""
cleanup() {
    trap - EXIT INT TERM
    exec 7>&- 2>/dev/null
    local p
    for p in "${pids[@]}"; do
        kill "$p" 2>/dev/null
    done
    for p in "${pids[@]}"; do
        wait "$p" 2>/dev/null
    done
    if [ -n "$xvfb_pid" ]; then
        kill "$xvfb_pid" 2>/dev/null
        wait "$xvfb_pid" 2>/dev/null
    fi
    return 0
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# Waits until FILE has a line matching PATTERN; prints it.
wait_line() { # file pattern seconds
    local end=$((SECONDS + $3))
    while [ $SECONDS -lt $end ]; do
        grep -m 1 -E "$2" "$1" 2>/dev/null && return 0
        sleep 0.1
    done
    return 1
}

# --- relay -------------------------------------------------------------------
relay_port=5077
relay_ip=127.0.0.1
relay_on=0
if [ "$BW_DEMO_NETNS" != none ]; then
    bash "$root/demo/relay/relay-netns.sh" "$relay" $relay_port >"$out/relay.log" 2>&1 &
    pids+=($!)
    if wait_line "$out/relay.log" '^relay listening on ' 10 >/dev/null; then
        relay_ip=10.213.77.2
        relay_on=1
    else
        echo "Relay: could not start (see $out/relay.log); the demo runs without relay traffic."
    fi
else
    echo "Relay: needs root or unprivileged user namespaces, neither is available here;"
    echo "       the demo runs without relay traffic."
fi

# --- web service -------------------------------------------------------------
"$service" --port 0 --seal-log "$out/seals.jsonl" >"$out/service.log" 2>&1 &
pids+=($!)
line=$(wait_line "$out/service.log" '^listening on 127\.0\.0\.1:[0-9]+$' 10) \
    || { echo "the demo web service did not start:" >&2; cat "$out/service.log" >&2; exit 1; }
service_port=${line##*:}

# --- display -----------------------------------------------------------------
if [ $headless -eq 1 ]; then
    Xvfb -displayfd 8 -screen 0 1024x768x24 -nolisten tcp 8>"$out/display" >"$out/xvfb.log" 2>&1 &
    xvfb_pid=$!
    wait_line "$out/display" '^[0-9]+$' 10 >/dev/null || { echo "Xvfb did not start" >&2; exit 1; }
    export DISPLAY=":$(head -n 1 "$out/display")"
    # The program and the screenshots go to this display, whatever platform the
    # caller's environment names (offscreen would hide every window from xdotool).
    export QT_QPA_PLATFORM=xcb
fi

echo "Boxwright demo"
echo "  web service  http://127.0.0.1:$service_port   login: user \"demo\", password \"packing\""
if [ $relay_on -eq 1 ]; then
    echo "  relay server $relay_ip:$relay_port (own network namespace)"
fi
echo "  logs and screenshots in $out"

key_args=(--program "$program" --program-dir "$out/work" --program-log "$out/boxwright.log"
    --service-port "$service_port" --relay-host "$relay_ip" --relay-port $relay_port --step-ms 100)

if [ $headless -eq 0 ]; then
    echo "  the virtual key takes commands below (help lists them, quit ends the demo)"
    "$vkey" "${key_args[@]}"
    exit $?
fi

# --- headless run ------------------------------------------------------------
mkfifo "$out/key.in"
"$vkey" "${key_args[@]}" <"$out/key.in" >"$out/key.log" 2>&1 &
pids+=($!)
exec 7>"$out/key.in"

. "$here/drive.sh"
drive_demo
status=$?
key_send quit
sleep 1
exit $status
