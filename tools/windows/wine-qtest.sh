#!/usr/bin/env bash
# Runs one QtTest program under Wine. Its console output does not reach a pipe
# there, so the results go to files that are printed afterwards:
#   STEM.txt (plain) and STEM.xml (JUnit XML).
#   tools/windows/wine-qtest.sh PROGRAM.exe STEM [test arguments...]
# A program that runs several test classes leaves only the last one's results in
# the files (each class rewrites them); its exit status covers all of them.
set -uo pipefail
program=${1:?usage: $0 PROGRAM STEM [args...]}
stem=${2:?usage: $0 PROGRAM STEM [args...]}
shift 2
mkdir -p "$(dirname "$stem")"
txt="$stem.txt"
xml="$stem.xml"
rm -f "$txt" "$xml"
# Wine keeps the host's QT_* variables from Windows programs; WINEQT_* reach them as QT_*.
while IFS='=' read -r name _; do
    export "WINE$name=${!name}"
done < <(env | grep -E '^QT_[A-Z0-9_]*=')
wine "$program" "$@" -o "$txt,txt" -o "$xml,junitxml" </dev/null
status=$?
if [ -f "$txt" ]; then
    cat "$txt"
    if [ "$status" -ne 0 ] && grep -q ' 0 failed' "$txt"; then
        echo "$(basename "$program"): exit status $status: a test class before the last one failed"
    fi
else
    echo "$(basename "$program"): no results written (exit status $status)"
    [ "$status" -eq 0 ] && status=1
fi
exit "$status"
