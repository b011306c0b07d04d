#!/usr/bin/env bash
# ctest's way into Wine: runs one Windows program and hands back its output
# and exit code. The output goes through a file, not ctest's pipe, because
# Wine may start processes of its own on the way (the desktop process, a
# message box of the shell) that inherit the pipe and outlive the program;
# ctest would wait for them until the test times out.
out=$(mktemp)
wine "$@" >"$out" 2>&1 </dev/null
code=$?
cat "$out"
rm -f "$out"
exit "$code"
