# Sourced: start_xvfb DIR [Xvfb options] starts an Xvfb of its own (640x480, or
# BW_XVFB_SIZE), exports DISPLAY and sets xvfb_pid; the caller ends it.
start_xvfb() {
    local dir=$1
    shift
    Xvfb -displayfd 8 -screen 0 ${BW_XVFB_SIZE:-640x480}x24 -nolisten tcp "$@" 8>"$dir/display" \
        >"$dir/xvfb.log" 2>&1 &
    xvfb_pid=$!
    for _ in $(seq 50); do
        [ -s "$dir/display" ] && break
        sleep 0.1
    done
    [ -s "$dir/display" ] || { echo "Xvfb did not start" >&2; return 1; }
    export DISPLAY=:$(cat "$dir/display")
}
