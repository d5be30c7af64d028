#!/usr/bin/env bash
# expect_exit.sh CODE PATTERN COMMAND... : passes when COMMAND exits with CODE
# and prints a line matching PATTERN (so a crash does not count as the
# expected failure).
code=$1
pattern=$2
shift 2
output=$("$@" 2>&1)
status=$?
echo "$output"
if [ $status -ne "$code" ]; then
    echo "expected exit status $code, got $status" >&2
    exit 1
fi
if ! grep -qE "$pattern" <<<"$output"; then
    echo "no line matching: $pattern" >&2
    exit 1
fi
