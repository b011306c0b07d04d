#!/usr/bin/env bash
# Runs the VPN client: builds the Windows preset if needed and starts
# tarnwick.exe under Wine with the stand-in UI's panel, on a virtual display
# when there is none, with the debugger-output monitor printing the
# diagnostic lines of every process (the client, its elevated copies and the
# tunnel service) as they happen.
#
# With a display: the panel is yours to use; the command ends when you close
# the window. Without one: a short demo presses the panel's buttons (connect
# with a sample configuration, status, stats, disconnect, status), prints
# each step and its reply, saves a screenshot of the window as
# build/tarnwick-demo.png, and closes the window.
#
# Arguments are passed on to tarnwick.exe. TARNWICK_RUN_BUILD names another
# build folder of the Windows build than build/mingw.
set -u
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

bash scripts/setup.sh || { echo "run: setup failed"; exit 1; }
source scripts/wine-env.sh

build="${TARNWICK_RUN_BUILD:-$root/build/mingw}"
app="$build/app"
demo_dir="$build/demo"
screenshot="$root/build/tarnwick-demo.png"

echo "run: building the Windows build in $build (if needed)"
if [ ! -f "$build/build.ninja" ]; then
  if [ "$build" = "$root/build/mingw" ]; then
    cmake --preset mingw >/dev/null || { echo "run: configure failed"; exit 1; }
  else
    cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
      -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" >/dev/null ||
      { echo "run: configure failed"; exit 1; }
  fi
fi
jobs=$(nproc)
cmake --build "$build" -j "$jobs" --target tarnwick tunnel dbwin_monitor panel_demo >"$build/run-build.log" 2>&1 || {
  tail -n 40 "$build/run-build.log"; echo "run: build failed"; exit 1; }

headless=1
if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then headless=0; fi
virtual_display_up
wine_prefix_up "$build"

# Wine's launcher warns about its missing 32-bit half on every start; the
# product is 64-bit only.
wine_quiet() {
  wine "$@" 2> >(grep -vE 'wine32 is missing|multiarch needs|dpkg --add-architecture|apt-get install wine32' >&2)
}

monitor_pid=""
cleanup() {
  # A tunnel left running by the demo (or by a person) goes with the run.
  if wine sc query "$(tarnwick_identity TunnelServiceName)" >/dev/null 2>&1; then
    echo "run: removing the tunnel service left installed"
    wine_quiet "$app/tarnwick.exe" /svc-remove || true
  fi
  if [ -n "$monitor_pid" ]; then kill "$monitor_pid" 2>/dev/null || true; fi
  wine_prefix_down "$build"
  if [ -n "$monitor_pid" ]; then wait "$monitor_pid" 2>/dev/null || true; fi
  virtual_display_down
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# Diagnostic lines of all processes in the prefix, as "[pid] text".
wine_quiet "$build/tools/dbwin_monitor.exe" &
monitor_pid=$!
sleep 1

if [ "$headless" -eq 0 ]; then
  echo "run: starting tarnwick.exe on $DISPLAY; close its window to end"
  wine_quiet "$app/tarnwick.exe" "$@"
  code=$?
  echo "run: tarnwick.exe exited with $code"
  exit "$code"
fi

echo "run: no display; running the demo on the virtual display $DISPLAY"
mkdir -p "$demo_dir"
driver="$build/tools/panel_demo.exe"
marker="$demo_dir/screenshot.marker"
rm -f "$marker" "$screenshot"

wine_quiet "$app/tarnwick.exe" "$@" &
app_pid=$!
wine_quiet "$driver" "$(winepath -w "$marker" 2>/dev/null)" &
driver_pid=$!

# The driver holds the window still while the marker exists.
for _ in $(seq 1 1800); do
  [ -f "$marker" ] && break
  kill -0 "$driver_pid" 2>/dev/null || break
  sleep 0.1
done
if [ -f "$marker" ]; then
  sleep 0.5
  import -display "$DISPLAY" -window root -crop 1310x780+0+0 +repage "$screenshot" &&
    echo "run: screenshot saved as $screenshot"
  rm -f "$marker"
fi

wait "$driver_pid"
driver_code=$?
wait "$app_pid"
code=$?
echo "run: tarnwick.exe exited with $code"
[ "$driver_code" -eq 0 ] || { echo "run: the demo did not get every reply"; exit 1; }
exit "$code"
