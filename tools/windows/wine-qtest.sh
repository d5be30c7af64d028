#!/usr/bin/env bash
# Runs one QtTest program under Wine. Its console output does not reach a pipe
# there, so the results go to files that are printed afterwards:
#   RESULTS/NAME.txt (plain) and RESULTS/NAME.xml (JUnit XML).
#   tools/windows/wine-qtest.sh PROGRAM.exe RESULTS [test arguments...]
set -uo pipefail
program=${1:?usage: $0 PROGRAM RESULTS [args...]}
results=${2:?usage: $0 PROGRAM RESULTS [args...]}
shift 2
mkdir -p "$results"
name=$(basename "$program" .exe)
txt="$results/$name.txt"
xml="$results/$name.xml"
rm -f "$txt" "$xml"
wine "$program" "$@" -o "$txt,txt" -o "$xml,junitxml" </dev/null
status=$?
if [ -f "$txt" ]; then
    cat "$txt"
else
    echo "$name: no results written (exit status $status)"
    [ "$status" -eq 0 ] && status=1
fi
exit "$status"
