#!/usr/bin/env bash
# Helpers for the private Wine prefix of a build tree and a virtual display.
# Source this file; every function takes the build folder.
source "$(dirname "${BASH_SOURCE[0]}")/identity.sh"

wine_prefix_up() {
  export WINEPREFIX="$1/wineprefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    echo "wine: creating prefix $WINEPREFIX"
    mkdir -p "$WINEPREFIX"
    wineboot -i >/dev/null 2>&1 || true
    wineserver -w || true
  fi
  # Keep the prefix's wineserver and its system processes (service manager,
  # desktop) up for the whole run, started here with their output going
  # nowhere: started by a test instead, they would inherit that test's output
  # pipe and ctest would wait for them to end.
  wineserver -p
  wine cmd /c exit >/dev/null 2>&1 </dev/null || true
  # Wine gives every file to the one user with full access, so the elevated
  # copy would refuse to install the service from the build's app folder:
  # the administrator's switch for development machines (README). One
  # end-to-end test clears it for its refusal case and puts it back.
  wine reg add "HKLM\\$(tarnwick_identity PolicyKey)" /v "$(tarnwick_identity AllowUnprotectedProgramFolderValue)" /t REG_DWORD /d 1 /f \
    >/dev/null 2>&1 </dev/null || true
}

wine_prefix_down() {
  WINEPREFIX="$1/wineprefix" wineserver -k >/dev/null 2>&1 || true
}

# Starts Xvfb on a free display unless one is usable already; sets DISPLAY
# and XVFB_PID.
virtual_display_up() {
  XVFB_PID=""
  if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then return 0; fi
  local fifo
  fifo=$(mktemp -u)
  mkfifo "$fifo"
  Xvfb -displayfd 3 -screen 0 1920x1200x24 -nolisten tcp 3>"$fifo" >/dev/null 2>&1 &
  XVFB_PID=$!
  local n
  read -r n <"$fifo"
  rm -f "$fifo"
  export DISPLAY=":$n"
}

virtual_display_down() {
  if [ -n "${XVFB_PID:-}" ]; then kill "$XVFB_PID" 2>/dev/null || true; wait "$XVFB_PID" 2>/dev/null || true; fi
}
