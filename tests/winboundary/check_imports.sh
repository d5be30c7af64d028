#!/usr/bin/env bash
# Import tables: the program takes SetupAPI and WinUSB from the system's DLLs,
# the test program from its own boundary (no WinUSB, no SetupDi* import).
#   check_imports.sh OBJDUMP PROGRAM.exe TEST.exe
set -euo pipefail
objdump=${1:?usage: $0 OBJDUMP PROGRAM TEST}
program=${2:?}
test=${3:?}
fail=0
imports() { "$objdump" -p "$1" | awk '/DLL Name:/ {dll=tolower($3)} /^\t[0-9a-f]+\t +[0-9]+ +[A-Za-z_]/ {print dll, $3}'; }
program_imports=$(imports "$program")
for want in "setupapi.dll SetupDiGetClassDevsW" "setupapi.dll SetupDiGetDeviceInterfaceDetailW" \
    "winusb.dll WinUsb_Initialize" "winusb.dll WinUsb_ReadPipe" "winusb.dll WinUsb_GetOverlappedResult"; do
    if ! grep -qx "$want" <<<"$program_imports"; then
        echo "$(basename "$program") does not import $want"
        fail=1
    fi
done
test_imports=$(imports "$test")
if grep -E '^winusb\.dll |^setupapi\.dll SetupDi' <<<"$test_imports"; then
    echo "$(basename "$test") imports the calls above from the system instead of the test boundary"
    fail=1
fi
[ "$fail" -eq 0 ] && echo "imports as expected: $(grep -c '^winusb.dll' <<<"$program_imports") WinUSB calls in $(basename "$program"), none in $(basename "$test")"
exit "$fail"
