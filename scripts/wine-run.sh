#!/usr/bin/env bash
# ctest's way into Wine: runs one Windows program and hands back its output
# and exit code. The output goes through a file, not ctest's pipe, because
# Wine may start processes of its own on the way (the desktop process, a
# message box of the shell) that inherit the pipe and outlive the program;
# ctest would wait for them until the test times out.
#
# Every program run here is a test program, whose framework prints and
# flushes its first lines before any test runs. A run that fails having
# printed nothing at all never reached its tests: under Wine the process
# did not start or died on the way in (seen once on a loaded machine, after
# 0.09 s). Such a run is named on the output and started once more, so the
# lab's fault does not read as the product's; a program that fails so twice
# still fails, and one that prints anything is never run again.
out=$(mktemp)
trap 'rm -f "$out"' EXIT
wine "$@" >"$out" 2>&1 </dev/null
code=$?
if [ "$code" -ne 0 ] && [ ! -s "$out" ]; then
  echo "wine-run: $1 ended with $code before printing anything; starting it once more"
  wine "$@" >"$out" 2>&1 </dev/null
  code=$?
fi
cat "$out"
exit "$code"
