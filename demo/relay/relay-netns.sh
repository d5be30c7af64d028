#!/usr/bin/env bash
# Runs the demo relay server in a network namespace of its own, joined to the
# current namespace by a veth pair, until interrupted; then removes both.
#   relay-netns.sh RELAY_BINARY PORT
# Needs CAP_NET_ADMIN in the current network namespace: run it as root, or
# inside `unshare --user --map-root-user --net` together with the program.
# The relay answers at $BW_RELAY_IP (default 10.213.77.2); this side of the
# pair gets $BW_RELAY_HOST_IP (default 10.213.77.1), a /30 of their own.
set -u
relay=${1:?relay binary}
port=${2:?port}
host_ip=${BW_RELAY_HOST_IP:-10.213.77.1}
relay_ip=${BW_RELAY_IP:-10.213.77.2}
veth=bwrh$$
peer=bwrr$$
holder=""
rpid=""

cleanup() {
    trap - EXIT INT TERM
    if [ -n "$rpid" ]; then
        kill "$rpid" 2>/dev/null
        wait "$rpid" 2>/dev/null
    fi
    if [ -n "$holder" ]; then
        kill "$holder" 2>/dev/null
        wait "$holder" 2>/dev/null
    fi
    # The namespace goes with its last process and takes the pair along; this
    # only matters when the holder could not be started.
    ip link del "$veth" 2>/dev/null
    return 0
}
trap cleanup EXIT
trap 'exit 0' INT TERM

die() {
    echo "relay-netns: $*" >&2
    exit 1
}

unshare --net sleep infinity &
holder=$!
own=$(readlink /proc/self/ns/net)
for _ in $(seq 100); do
    ns=$(readlink "/proc/$holder/ns/net" 2>/dev/null) || die "namespace holder exited"
    [ "$ns" != "$own" ] && break
    sleep 0.02
done
[ "$ns" != "$own" ] || die "could not create a network namespace"

ip link add "$veth" type veth peer name "$peer" netns "$holder" || die "could not create the veth pair"
ip addr add "$host_ip/30" dev "$veth" || die "could not address $veth"
ip link set "$veth" up || die "could not bring $veth up"
nsenter --target "$holder" --net sh -c \
    "ip link set lo up && ip addr add $relay_ip/30 dev $peer && ip link set $peer up" \
    || die "could not configure the relay namespace"

nsenter --target "$holder" --net "$relay" --bind "$relay_ip" --port "$port" &
rpid=$!
wait "$rpid"
status=$?
rpid=""
exit $status
