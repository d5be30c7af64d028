#!/usr/bin/env bash
# Round trip of the Windows installer under Wine, in a fresh Wine prefix:
# silent install (it starts no program of ours: no elevated run; it adds the
# relay's firewall rule), the version resource and the licence files, the
# installed program started from its Start-menu entry under Xvfb in the user's
# own folder until it shows the waiting view (screenshot kept), an upgrade and an
# uninstall refused while it runs, the session ended (log off: the program must
# end with it), an upgrade, silent uninstall, and nothing of the program left.
#   tools/windows/installer-check.sh INSTALLER.exe OUT [SHOT.exe]
# SHOT.exe (boxwright-demo-shot of the Windows build) saves OUT/waiting-view.png.
set -euo pipefail
installer=$(realpath "${1:?usage: $0 INSTALLER OUT}")
out=$(realpath -m "${2:?usage: $0 INSTALLER OUT}")
shot=${3:+$(realpath "$3")}
here=$(cd "$(dirname "$0")" && pwd)
title="Boxwright v1.0.2"
version=$(basename "$installer" | sed -n 's/^boxwright-\(.*\)-win64\.exe$/\1/p')
script="$(dirname "$installer")/_CPack_Packages/win64/NSIS/project.nsi"

rm -rf "$out"
mkdir -p "$out"
export WINEPREFIX=$out/wineprefix WINEDEBUG=-all WINEDLLOVERRIDES=mscoree,mshtml=
bash "$here/wine-prefix.sh" "$WINEPREFIX"
drive=$WINEPREFIX/drive_c
instdir="$drive/Program Files/Boxwright"

fail() {
    echo "installer check: $*" >&2
    exit 1
}

# What the installed program could leave: files outside the user's profile, and
# the machine's and the user's software registry.
snapshot() { # file
    (cd "$drive" && find . -path ./users -prune -o -path ./windows -prune -o -print | sort) >"$1.files"
    wine reg export 'HKLM\Software' "$1.hklm" /y >/dev/null 2>&1
    wine reg export 'HKCU\Software' "$1.hkcu" /y >/dev/null 2>&1
    wineserver -w
}
snapshot "$out/before"

# The finish page must not start the program: it would run elevated, as the installer.
if [ -f "$script" ]; then
    ! grep -n 'MUI_FINISHPAGE_RUN\|Exec.*boxwright\.exe' "$script" \
        || fail "the installer starts the program"
fi

echo "installer check: silent install"
# Wine's process trace shows every program the installer starts.
WINEDEBUG=+process wine "$installer" /S 2>"$out/install-trace.txt"
wineserver -w
grep -E 'CreateProcess.*(app L"[^"]*boxwright\.exe"|cmdline L"(\\")?[^"]*[\\/]boxwright\.exe)' \
    "$out/install-trace.txt" && fail "the installer started the program"
grep -q 'netsh advfirewall firewall add rule name=\\\?"Boxwright relay' "$out/install-trace.txt" \
    || fail "no firewall rule added for the relay"
for f in boxwright.exe Qt5Core.dll Qt5Gui.dll Qt5Widgets.dll Qt5Network.dll \
    libstdc++-6.dll libgcc_s_seh-1.dll libwinpthread-1.dll \
    platforms/qwindows.dll styles/qwindowsvistastyle.dll imageformats/qico.dll Uninstall.exe; do
    [ -f "$instdir/$f" ] || fail "$f not installed"
done
images=$(find "$instdir/BoxwrightImages" -name '*.png' | wc -l)
expected=$(find "$here/../../BoxwrightImages" -name '*.png' | wc -l)
[ "$images" -eq "$expected" ] || fail "$images images installed, expected $expected"
link=$(find "$drive/ProgramData" "$drive/users" -name 'Boxwright.lnk' 2>/dev/null | head -n 1)
[ -n "$link" ] || fail "no Start-menu entry"
echo "installer check: installed in C:/Program Files/Boxwright, Start-menu entry ${link#"$drive"/}"

for f in LICENSE.txt third-party-notices.txt licences/LGPL-3.0.txt licences/GPL-3.0.txt; do
    [ -s "$instdir/$f" ] || fail "$f not installed"
done
grep -q 'Apache License' "$instdir/LICENSE.txt" || fail "LICENSE.txt is not the Apache licence"
for name in Qt5Core.dll libwinpthread-1.dll 'MinGW-w64 runtime' 'LGPL-3.0'; do
    grep -q "$name" "$instdir/third-party-notices.txt" || fail "the notices do not name $name"
done
# Explorer's Properties: the version strings and the icon of the program.
strings -el "$instdir/boxwright.exe" >"$out/exe-strings.txt"
for key in FileVersion ProductVersion; do
    grep -A1 -x "$key" "$out/exe-strings.txt" | tail -n 1 | grep -qx "$version" \
        || fail "no $key $version in boxwright.exe"
done
x86_64-w64-mingw32-objdump -h "$instdir/boxwright.exe" | grep -q '\.rsrc' || fail "no resources in boxwright.exe"
echo "installer check: licence, notices and version resource $version present"

# The entry starts the program in the user's own folder (Program Files is not writable
# for a standard user), where its trace files go.
strings -el "$link" | grep -qx '%LOCALAPPDATA%' || fail "the Start-menu entry has no per-user working folder"

echo "installer check: start from the Start menu (Xvfb)"
source "$here/xvfb.sh"
start_xvfb "$out" -wr # white root: the window's edges show in the screenshot
trap 'kill $xvfb_pid 2>/dev/null || true; wineserver -k 2>/dev/null || true' EXIT
(cd "$out" && wine start /unix "$link") &
window=
for _ in $(seq 120); do
    window=$(xdotool search --name "^$title\$" 2>/dev/null | head -n 1) && [ -n "$window" ] && break
    sleep 0.5
done
[ -n "$window" ] || fail "no window \"$title\" within 60 s"
sleep 2 # the first paint
size=$(xdotool getwindowgeometry "$window" | sed -n 's/.*Geometry: \([0-9]*x[0-9]*\).*/\1/p')
[ "$size" = 250x150 ] || fail "window is $size, the waiting view is 250x150"
if [ -n "$shot" ]; then
    wine "$shot" "$(winepath -w "$out/waiting-view.png")" || fail "no screenshot"
fi
echo "installer check: waiting view shown ($size)"

# One program per user: a second start brings the first forward and ends.
(cd "$out" && timeout 60 wine "$instdir/boxwright.exe") || fail "a second start did not end by itself"
windows=$(xdotool search --name "^$title\$" 2>/dev/null | wc -l)
[ "$windows" -eq 1 ] || fail "$windows windows after a second start"
echo "installer check: a second start left the first one alone"

# The program started from the entry runs in the user's %LOCALAPPDATA%, which takes files.
traces=$(realpath "$(winepath -u "$(wine cmd /c 'echo %LOCALAPPDATA%' | tr -d '\r')")")
case "$traces" in "$(realpath "$drive")/users/"*) ;; *) fail "working folder $traces is not in the user's profile" ;; esac
cwd=
for pid in $(pgrep -f 'Boxwright.boxwright\.exe'); do
    grep -qz "^WINEPREFIX=$WINEPREFIX\$" "/proc/$pid/environ" 2>/dev/null && cwd=$(realpath "/proc/$pid/cwd")
done
[ "$cwd" = "$traces" ] || fail "the program runs in ${cwd:-(not found)}, not in $traces"
touch "$traces/bw-trace-probe.txt" && rm "$traces/bw-trace-probe.txt" || fail "cannot write in $traces"
echo "installer check: the program's working folder is ${traces#"$(realpath "$drive")"/}"

echo "installer check: upgrade and uninstall while the program runs"
status=0
wine "$installer" /S || status=$?
[ "$status" -eq 2 ] || fail "an upgrade over the running program ended with $status, not 2 (refused)"
# In place (_?=, unquoted: a short path), so that Wine waits for the uninstaller itself.
status=0
wine "$instdir/Uninstall.exe" /S '_?=C:\PROGRA~1\Boxwright' || status=$?
for pid in $(pgrep -f 'Uninstall\.exe|Au_\.exe'); do
    grep -qz "^WINEPREFIX=$WINEPREFIX\$" "/proc/$pid/environ" 2>/dev/null && fail "the uninstaller still runs"
done
echo "installer check: the uninstaller ended with $status"
[ -f "$instdir/boxwright.exe" ] && [ -f "$instdir/Qt5Core.dll" ] || fail "the uninstaller removed the running program"
windows=$(xdotool search --name "^$title\$" 2>/dev/null | wc -l)
[ "$windows" -eq 1 ] || fail "the running program did not survive the refused upgrade"
echo "installer check: both refused, the running program left alone"

echo "installer check: end the session"
wine wineboot --end-session >/dev/null 2>&1 || true
for _ in $(seq 40); do
    xdotool search --name "^$title\$" >/dev/null 2>&1 || break
    sleep 0.5
done
xdotool search --name "^$title\$" >/dev/null 2>&1 && fail "the program outlived the session"
wineserver -w
echo "installer check: the program ended with the session"

echo "installer check: upgrade over the closed program"
wine "$installer" /S || fail "the upgrade failed"
wineserver -w
[ -f "$instdir/boxwright.exe" ] || fail "boxwright.exe missing after the upgrade"

echo "installer check: silent uninstall"
wine "$instdir/Uninstall.exe" /S
wineserver -w
sleep 1
wineserver -w
snapshot "$out/after"
[ ! -e "$instdir" ] || fail "install folder left: $(find "$instdir" | head -n 5)"
diff "$out/before.files" "$out/after.files" >"$out/files.diff" || fail "files left: $(head -n 5 "$out/files.diff")"
for hive in hklm hkcu; do
    diff <(iconv -f UTF-16 -t UTF-8 "$out/before.$hive" | grep -v '^#time') \
        <(iconv -f UTF-16 -t UTF-8 "$out/after.$hive" | grep -v '^#time') >"$out/$hive.diff" \
        || { grep -i boxwright "$out/$hive.diff" && fail "registry entries left ($hive)"; }
done
echo "installer check: uninstalled, nothing left"
