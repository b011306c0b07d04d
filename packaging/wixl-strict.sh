#!/usr/bin/env bash
# Runs wixl and fails on anything it says besides its progress lines.
#   wixl-strict.sh <working folder> <output .msi> <source .wxs> [wixl options...]
# wixl exits 0 on faults that leave a broken package: a File without an Id
# is left out with only a "critical" line, an attribute it does not know is
# dropped with a warning, a feature it lacks (a non-advertised Shortcut
# inside a File) is skipped with an "unimplemented" message. So any line
# other than "Loading/Building/Writing ..." fails the build here, and so does
# a missing output. Source paths in the .wxs resolve against the working
# folder.
set -uo pipefail
if [ $# -lt 3 ]; then
  echo "usage: $0 <working folder> <output .msi> <source .wxs> [wixl options...]" >&2
  exit 2
fi
workdir=$1 output=$2 source=$3
shift 3
wixl=${WIXL:-wixl}
command -v "$wixl" >/dev/null || { echo "wixl-strict: $wixl not found (scripts/setup.sh installs it)" >&2; exit 1; }

rm -f "$output"
log=$(cd "$workdir" && "$wixl" -v -a x64 -o "$output" "$@" "$source" 2>&1)
code=$?
printf '%s\n' "$log"
if [ "$code" -ne 0 ]; then
  echo "wixl-strict: wixl failed with exit code $code" >&2
  rm -f "$output"
  exit 1
fi
if grep -vE '^((Loading|Building|Writing) .*\.\.\.)?$' <<<"$log" >/dev/null; then
  echo "wixl-strict: wixl reported the problems above; no package written" >&2
  rm -f "$output"
  exit 1
fi
if [ ! -s "$output" ]; then
  echo "wixl-strict: wixl wrote no $output" >&2
  exit 1
fi
