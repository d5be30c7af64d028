#!/usr/bin/env bash
# The relay round trip of the Wine whole runs. The program binds the relay port
# on every local address, so the echo cannot share its network namespace: the
# run goes into a namespace of its own (as root, or in a user namespace), with
# a Wine prefix of its own whose server starts there, and the echo sits behind
# a veth pair in a second namespace. Without namespaces the case skips itself.
#   relay-wine.sh TEST.exe RESULT_STEM WINEPREFIX
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
test=${1:?usage: $0 TEST.exe RESULT_STEM WINEPREFIX}
stem=${2:?}
prefix=${3:?}
if [ -z "${BW_RELAY_NETNS:-}" ]; then
    if [ "$(id -u)" -eq 0 ] && unshare --net true 2>/dev/null; then
        BW_RELAY_NETNS=1 exec unshare --net --fork -- bash "$0" "$@"
    elif unshare --user --map-root-user --net true 2>/dev/null; then
        BW_RELAY_NETNS=1 exec unshare --user --map-root-user --net --fork -- bash "$0" "$@"
    fi
    exec bash "$root/tools/windows/wine-qtest.sh" "$test" "$stem" relayRoundTrip
fi
ip link set lo up
export WINEPREFIX=$prefix
bash "$root/tools/windows/wine-prefix.sh" "$WINEPREFIX" || exit 1
port=5077
mkdir -p "$(dirname "$stem")"
log="$stem-echo.log"
bash "$root/demo/relay/relay-netns.sh" "$here/udp_echo.py" "$port" >"$log" 2>&1 &
echo_pid=$!
for _ in $(seq 100); do
    grep -q listening "$log" && break
    sleep 0.1
done
if ! grep -q listening "$log"; then
    echo "the UDP echo did not start:"
    cat "$log"
    kill "$echo_pid" 2>/dev/null
    exit 1
fi
BW_WINE_RELAY="${BW_RELAY_IP:-10.213.77.2}:$port" \
    bash "$root/tools/windows/wine-qtest.sh" "$test" "$stem" relayRoundTrip
status=$?
kill "$echo_pid" 2>/dev/null
wait "$echo_pid" 2>/dev/null
wineserver -k 2>/dev/null
exit "$status"
