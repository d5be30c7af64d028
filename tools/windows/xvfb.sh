# Sourced: start_xvfb DIR [Xvfb options] starts a 640x480 Xvfb of its own, exports
# DISPLAY and sets xvfb_pid; the caller ends it.
start_xvfb() {
    local dir=$1
    shift
    Xvfb -displayfd 8 -screen 0 640x480x24 -nolisten tcp "$@" 8>"$dir/display" \
        >"$dir/xvfb.log" 2>&1 &
    xvfb_pid=$!
    for _ in $(seq 50); do
        [ -s "$dir/display" ] && break
        sleep 0.1
    done
    [ -s "$dir/display" ] || { echo "Xvfb did not start" >&2; return 1; }
    export DISPLAY=:$(cat "$dir/display")
}
