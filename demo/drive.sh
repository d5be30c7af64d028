# Headless demo drive, sourced by run-demo.sh: one full seal through the real
# windows with xdotool (from outside the program), relay traffic, a time
# query, unplug and replug. Uses $out, $shot, $relay_on and fd 7 (the virtual
# key's command input) from run-demo.sh. The Wine demo sources it for its
# window helpers.

key_sent=0
failures=0
boxes=0

key_send() {
    echo "$*" >&7
    key_sent=$((key_sent + 1))
}

# Sends one command to the virtual key and waits for its "ok:" or "fail:"
# line; every command answers with exactly one of them.
key_run() { # seconds command...
    local t=$1
    shift
    key_send "$*"
    local end=$((SECONDS + t + 5)) n
    while [ $SECONDS -lt $end ]; do
        n=$(grep -c -E '^(ok|fail): ' "$out/key.log" 2>/dev/null)
        if [ "${n:-0}" -ge $key_sent ]; then
            grep -E '^(ok|fail): ' "$out/key.log" | sed -n "${key_sent}p" | grep -q '^ok: '
            return
        fi
        sleep 0.1
    done
    return 1
}

check() { # description command...
    local what=$1
    shift
    if "$@"; then
        echo "  ok    $what"
    else
        echo "  FAIL  $what"
        failures=$((failures + 1))
        # The whole screen shows what was there instead.
        screenshot "failed-$failures"
    fi
}

# Id of the visible window titled exactly TITLE, waiting up to SECONDS. The
# workflow's dialogs add the scanned tag: "Login - tag 303903".
window() { # title seconds
    local end=$((SECONDS + $2)) w
    while [ $SECONDS -lt $end ]; do
        w=$(xdotool search --onlyvisible --name "^$1( - tag [0-9]+)?\$" 2>/dev/null | tail -n 1)
        [ -n "$w" ] && { echo "$w"; return 0; }
        sleep 0.2
    done
    return 1
}

gone() { # title seconds
    local end=$((SECONDS + $2))
    while [ $SECONDS -lt $end ]; do
        xdotool search --onlyvisible --name "^$1( - tag [0-9]+)?\$" >/dev/null 2>&1 || return 0
        sleep 0.2
    done
    return 1
}

size_of() {
    xdotool getwindowgeometry "$1" 2>/dev/null | sed -n 's/.*Geometry: \([0-9]*x[0-9]*\).*/\1/p'
}

has_size() { # window WxH seconds
    local end=$((SECONDS + $3))
    while [ $SECONDS -lt $end ]; do
        [ "$(size_of "$1")" = "$2" ] && return 0
        sleep 0.2
    done
    return 1
}

# A click at x,y inside the window, as a person would do it.
click() { # window x y
    xdotool mousemove --window "$1" "$2" "$3" click 1
    sleep 0.4
}

# The dashboard's top row is its three command buttons, a third of the width
# each; found from the window's size now, whatever the font or scale.
press_button() { # window 1|2|3 (Scan Tag, Unlock, Lock)
    local size w h
    size=$(size_of "$1")
    w=${size%x*}
    h=${size#*x}
    [ -n "$w" ] && [ -n "$h" ] || return 1
    click "$1" $((w * (2 * $2 - 1) / 6)) $((h / 8))
}

# Keys typed into the window, as a person at the keyboard would: dialogs start
# with the focus in their first field and Tab goes on in reading order.
keys() { # window key...
    xdotool windowfocus --sync "$1" 2>/dev/null
    xdotool key --delay 80 "${@:2}"
    sleep 0.4
}

type_text() { # window text
    xdotool windowfocus --sync "$1" 2>/dev/null
    xdotool type --delay 40 "$2"
    sleep 0.2
}

screenshot() { # name [window]
    "$shot" "$out/screens/$1.png" ${2:-} 2>>"$out/shots.log" || echo "  (no screenshot $1)"
}

line_count() {
    [ -f "$1" ] && wc -l <"$1" || echo 0
}

main_title="Boxwright v1.0.2"

# Clicks the menu button in the window's top right corner.
open_program_menu() { # window
    local width
    width=$(size_of "$1" | cut -dx -f1)
    click "$1" $((${width:-310} - 10)) 9
}

# The demo logged in with password "packing": neither its digest nor any
# 32-digit hex run (the demo service's tokens) may be in the file.
diagnostics_clean() { # file
    local digest
    digest=$(printf packing | md5sum | cut -d' ' -f1)
    [ -f "$1" ] && ! grep -qi "$digest" "$1" && ! grep -qiE '[0-9a-f]{32}' "$1" \
        && grep -q '^Key serial: *[0-9A-F]\{8\}$' "$1" && grep -q 'VALID USER DETAILS' "$1"
}

# Closes the message box titled TITLE with its OK button (the keyboard).
dismiss() { # title
    local b
    b=$(window "$1" 20) || return 1
    boxes=$((boxes + 1))
    screenshot "message-$boxes" "$b"
    xdotool windowfocus --sync "$b" 2>/dev/null
    xdotool key Return
    gone "$1" 10
}

# Scans the next tag and follows it: "confirm" expects the confirm dialog
# (then cancelled), "box TITLE" a message box after the exam centre list,
# "scan-box TITLE" a message box right after the scan.
next_tag() { # outcome [title]
    press_button "$main" 1
    key_run 10 expect scan-request 10 >/dev/null || return 1
    if [ "$1" = scan-box ]; then
        dismiss "$2"
        return
    fi
    local w
    w=$(window "Exam Center" 40) || return 1
    keys "$w" Return
    if [ "$1" = confirm ]; then
        # From the comment: Finish, Back, Cancel.
        w=$(window "Confirm Details" 20) || return 1
        keys "$w" Tab Tab Tab Return
        gone "Confirm Details" 10
    else
        dismiss "$2"
    fi
}

drive_demo() {
    echo "Headless run on display $DISPLAY:"
    local main
    check "the program finds the virtual key over libusb and sends its connect request" \
        key_run 30 expect connect-request 30
    main=$(window "$main_title" 20)
    check "main window shown" test -n "$main"
    [ -n "$main" ] || return 1
    check "dashboard shown at 310 x 400" has_size "$main" 310x400 10
    check "identity reached the program (relay server $relay_ip:5077)" \
        wait_line "$out/boxwright.log" "Server $relay_ip\$" 10 >/dev/null
    sleep 1
    screenshot 01-dashboard "$main"

    # Unlock: the key drives its bar to 100, then reports ready.
    press_button "$main" 2
    check "Unlock reaches the key and the key bar runs to ready" key_run 15 expect bar-done 15
    screenshot 02-after-unlock "$main"

    # Manual mode shows the transfer button; the key runs its bar above 128
    # and counts the transfer.
    # The transfer button follows Lock in the tab order; Unlock has the focus.
    key_run 5 manual on >/dev/null
    sleep 0.5
    keys "$main" Tab Tab space
    check "manual mode: data transfer runs and is counted" key_run 15 expect transfer-done 15 1
    screenshot 03-after-transfer "$main"
    key_run 5 manual off >/dev/null

    # Scan a tag: the key answers with the first lock of its list.
    press_button "$main" 1
    check "Scan Tag reaches the key" key_run 10 expect scan-request 10
    local w
    w=$(window Login 15)
    check "login dialog" test -n "$w"
    if [ -n "$w" ]; then
        screenshot 04-login "$w"
        type_text "$w" demo
        keys "$w" Tab
        type_text "$w" packing
        keys "$w" Return
    fi
    w=$(window "Time Table" 20)
    check "timetable dialog (three pages fetched)" test -n "$w"
    if [ -n "$w" ]; then
        screenshot 05-timetable "$w"
        keys "$w" Return
    fi
    w=$(window "Exam Center" 40)
    check "exam centre dialog (2,500 centres fetched)" test -n "$w"
    if [ -n "$w" ]; then
        screenshot 06-exam-centre "$w"
        keys "$w" Return
    fi
    w=$(window "Confirm Details" 20)
    check "confirm dialog" test -n "$w"
    if [ -n "$w" ]; then
        type_text "$w" "Packed by the demo"
        screenshot 07-confirm "$w"
        keys "$w" Tab Return
    fi
    w=$(window Success 20)
    check "\"Packed\" shown" test -n "$w"
    if [ -n "$w" ]; then
        screenshot 08-packed "$w"
        xdotool windowfocus --sync "$w" 2>/dev/null
        xdotool key Return
        check "\"Packed\" closed with OK" gone Success 10
    fi
    check "one seal recorded by the web service" test "$(line_count "$out/seals.jsonl")" -eq 1
    local log
    log=$(find "$out/config" -name Packlog.txt 2>/dev/null | head -n 1)
    check "one line in the packing log" test -n "$log" -a "$(line_count "${log:-/dev/null}")" -eq 1
    if [ -n "$log" ]; then
        echo "  packing log line: $(tr -d '\r' <"$log")"
        cp "$log" "$out/Packlog.txt"
    fi

    # The rest of the key's tags: logged in and with the timetable kept, each
    # scan goes straight to the exam centre list.
    check "uncommissioned lock goes to the confirm dialog" next_tag confirm
    check "lock that needs validation is validated, then confirmed" next_tag confirm
    check "service saw one passing and no failing validation yet" \
        test "$(grep -c 'lock/validate -> 200' "$out/service.log")" -eq 1
    check "lock that fails validation: \"Lock could not be found...\"" next_tag box ERROR
    check "tag the service does not know: \"Could not retrieve lock.\"" next_tag box ERROR
    check "empty scan: \"No lock scanned.\"" next_tag scan-box Error
    check "still exactly one seal recorded" test "$(line_count "$out/seals.jsonl")" -eq 1

    key_run 5 query >/dev/null
    check "time and value queries answered" key_run 10 expect time 10

    if [ "$relay_on" -eq 1 ]; then
        key_run 5 relay open >/dev/null
        check "program acknowledged the relay link" key_run 10 expect relay-open 10
        key_run 5 relay send hello relay >/dev/null
        check "payload went to the relay server and its answer came back" \
            key_run 10 expect relay-data 10
        key_run 5 relay burst 5 >/dev/null
        local i
        for i in 1 2 3 4 5; do
            key_run 10 expect relay-data 10 >/dev/null || break
        done
        check "a burst of five came back" test "$i" -eq 5
        key_run 5 relay close >/dev/null
        check "relay link closed" key_run 10 expect relay-closed 10
    else
        echo "  skip  relay traffic (no network namespace available)"
    fi

    # "Log out" in the program menu: the next scan asks for the login again.
    open_program_menu "$main"
    xdotool key Down Down Down Return
    sleep 0.5
    press_button "$main" 1
    key_run 10 expect scan-request 10 >/dev/null
    w=$(window Login 15)
    check "after \"Log out\" the next scan asks for the login" test -n "$w"
    if [ -n "$w" ]; then
        keys "$w" Escape
        gone Login 10
    fi

    key_run 5 unplug >/dev/null
    check "unplug returns to \"Waiting for USB connection\" (250 x 150)" has_size "$main" 250x150 10
    screenshot 09-waiting "$main"
    key_run 5 plug >/dev/null
    check "replug brings the dashboard back" key_run 20 expect connect-request 20
    check "dashboard at 310 x 400 again" has_size "$main" 310x400 10
    screenshot 10-replugged "$main"

    # The program menu in the window's top right corner.
    open_program_menu "$main"
    xdotool key Down Return
    w=$(window "About Boxwright" 10)
    check "About box from the program menu" test -n "$w"
    if [ -n "$w" ]; then
        screenshot 11-about "$w"
        xdotool windowfocus --sync "$w" 2>/dev/null
        xdotool key Return
        gone "About Boxwright" 10
    fi
    mkdir -p "$out/diagnostics"
    open_program_menu "$main"
    xdotool key Down Down Return
    w=$(window "Save diagnostics to" 10)
    if [ -n "$w" ]; then
        xdotool windowfocus --sync "$w" 2>/dev/null
        xdotool key ctrl+a
        xdotool type --delay 20 "$out/diagnostics"
        xdotool key Return
    fi
    w=$(window "Diagnostics saved" 10)
    check "diagnostics saved, the box names the file" test -n "$w"
    if [ -n "$w" ]; then
        screenshot 12-diagnostics-saved "$w"
        xdotool windowfocus --sync "$w" 2>/dev/null
        xdotool key Return
        gone "Diagnostics saved" 10
    fi
    local diag
    diag=$(find "$out/diagnostics" -name 'boxwright-diagnostics-*.txt' | head -n 1)
    check "diagnostics name the key and hide the password digest and the token" \
        diagnostics_clean "$diag"
    [ -n "$diag" ] && echo "  $(grep -o 'diagnostics written in [0-9]* ms' "$out/boxwright.log" | tail -n 1)"

    echo "Screenshots: $out/screens"
    [ $failures -eq 0 ] && echo "Demo: all steps seen." || echo "Demo: $failures step(s) failed; see $out."
    [ $failures -eq 0 ]
}
