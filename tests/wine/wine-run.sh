#!/usr/bin/env bash
# Runs a Windows program under Wine for the tests of a mingw build directory; used as
# CMAKE_CROSSCOMPILING_EMULATOR, so `ctest` there runs every test through it.
#
#   wine-run.sh start            prefix, Xvfb and a persistent wineserver for the whole run
#   wine-run.sh stop             wineserver -k for this prefix only, then our own Xvfb
#   wine-run.sh prog.exe args…   one program, bounded by `timeout`
#
# Everything lives in <build>/wine (the current directory's build, or VD_WINE_DIR): the
# prefix, the Xvfb pid and display. A program run without `start` brings the environment
# up for itself and takes it down again. Nothing outside this prefix is ever stopped.
set -euo pipefail

dir="${VD_WINE_DIR:-}"
if [ -z "$dir" ]; then
  # ctest runs tests from their build folder: walk up to the one with CMakeCache.txt.
  d="$PWD"
  while [ "$d" != / ] && [ ! -f "$d/CMakeCache.txt" ]; do d="$(dirname "$d")"; done
  [ -f "$d/CMakeCache.txt" ] || { echo "wine-run.sh: no build directory above $PWD" >&2; exit 2; }
  dir="$d/wine"
fi
mkdir -p "$dir"
export WINEPREFIX="$dir/prefix"
export WINEARCH=win64
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"  # no Mono/Gecko prompts
timeout_s="${VD_WINE_TIMEOUT:-300}"

up() { [ -f "$dir/display" ] && [ -f "$dir/xvfb.pid" ] && kill -0 "$(cat "$dir/xvfb.pid")" 2>/dev/null; }

start() {
  if ! up; then
    # -displayfd picks a free display and tells us which.
    rm -f "$dir/display.fifo"
    Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$dir/display.tmp" >"$dir/xvfb.log" 2>&1 &
    echo $! >"$dir/xvfb.pid"
    for _ in $(seq 100); do [ -s "$dir/display.tmp" ] && break; sleep 0.1; done
    [ -s "$dir/display.tmp" ] || { echo "wine-run.sh: Xvfb did not start" >&2; exit 2; }
    echo ":$(head -n1 "$dir/display.tmp")" >"$dir/display"
  fi
  export DISPLAY="$(cat "$dir/display")"
  # One persistent wineserver: every program of the run shares its objects (named mutexes,
  # events, windows), as programs in one Windows session do.
  if [ ! -f "$WINEPREFIX/.vd-ready" ]; then
    timeout 300 wine wineboot -i >"$dir/wineboot.log" 2>&1
    # The session that created the prefix is ended before anything runs: in it, every COM
    # class-object registration and revocation waits about 10 s (an agent start and stop
    # took 20 s longer), in every later session they take milliseconds.
    timeout 60 wineserver -k 2>/dev/null || true
    timeout 60 wineserver -w 2>/dev/null || true
    touch "$WINEPREFIX/.vd-ready"
  fi
  timeout 60 wineserver -p 2>/dev/null || true  # already running is fine
  # Wine's own services and desktop process start with the first program and outlive it.
  # Started here, with their output in a log, they never hold a test's output pipe open
  # (ctest would wait for it until the time-out).
  timeout 120 wine wineboot </dev/null >>"$dir/wineboot.log" 2>&1 || true
  timeout 60 wine reg query 'HKCU\Software' </dev/null >>"$dir/wineboot.log" 2>&1 || true
  wait_for_taskbar
}

# The agent waits for the taskbar at creation without a limit, and now and then Wine's
# desktop process never makes it when programs start while it is still coming up: wait up
# to 20 s, restart this prefix's wineserver (and with it the desktop) once, then give up.
wait_for_taskbar() {
  local waiter
  waiter="$(dirname "$dir")/wait_taskbar.exe"
  if [ ! -f "$waiter" ]; then
    echo "wine-run.sh: $waiter is not built; not waiting for the taskbar" >&2
    return 0
  fi
  timeout 60 wine "$waiter" 20000 </dev/null >>"$dir/wineboot.log" 2>&1 && return 0
  echo "wine-run.sh: no taskbar window after 20 s; restarting the prefix's desktop" >&2
  timeout 60 wineserver -k 2>/dev/null || true
  timeout 60 wineserver -p 2>/dev/null || true
  timeout 60 wine "$waiter" 20000 </dev/null >>"$dir/wineboot.log" 2>&1 && return 0
  echo "wine-run.sh: the prefix's taskbar window (Shell_TrayWnd) never appeared;" \
       "agents started now would wait for it forever" >&2
  exit 3
}

stop() {
  # Only this prefix's wineserver; never a broad kill.
  timeout 60 wineserver -k 2>/dev/null || true
  if [ -f "$dir/xvfb.pid" ]; then
    kill "$(cat "$dir/xvfb.pid")" 2>/dev/null || true
    rm -f "$dir/xvfb.pid" "$dir/display"
  fi
}

case "${1:-}" in
  start) start; exit 0 ;;
  stop) stop; exit 0 ;;
  "") echo "usage: wine-run.sh start|stop|program [args...]" >&2; exit 2 ;;
esac

own=0
if ! up; then own=1; start; fi
export DISPLAY="$(cat "$dir/display")"
[ $own -eq 1 ] && trap stop EXIT
rc=0
timeout -k 10 "$timeout_s" wine "$@" </dev/null || rc=$?
exit $rc
