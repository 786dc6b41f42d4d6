#!/usr/bin/env bash
# The test desktop: a private X11 session for the tests labelled `x11` and for
# benchmarks that need a real X server.
#
# It starts, on a display number that Xvfb picks itself (so runs never
# collide), with its own cookie and its own runtime folder:
#   Xvfb      24-bit, 1280 x 800
#   openbox   an EWMH window manager (waits until it manages the screen)
#   trayer    a tray host, so QSystemTrayIcon is available
#   xcompmgr  a compositing manager, so translucent windows are translucent
# Tests drive it with xdotool, xclip, wmctrl and setfattr (scripts/install-deps.sh).
#
# Usage:
#   test-desktop.sh start DIR      start a desktop described by DIR/env
#   test-desktop.sh stop DIR       stop it and remove DIR
#   test-desktop.sh run -- CMD...  run CMD inside a desktop of its own, then stop it
#   test-desktop.sh repeat N -- CMD...
#                                  run CMD (for example `ctest --test-dir build/test -L x11`)
#                                  N times in a row, stopping at the first failure; prints
#                                  how many passed. A flaky x11 test shows here, not in CI.
#
# DIR/env holds DISPLAY, XAUTHORITY and XDG_RUNTIME_DIR as NAME=VALUE lines.
#
# In CTest: Tests/CMakeLists.txt starts one desktop per run as the fixture
# "TestDesktop" (FIXTURES_SETUP/CLEANUP). Every test file named
# *X11Tests.cpp goes into an executable of its own whose tests carry the
# label x11, require the fixture, take the resource lock "TestDesktop" (one
# desktop, one clipboard, one pointer: x11 tests never run in parallel) and
# get TOLVEX_TEST_DESKTOP=DIR; the shared test main reads DIR/env and uses
# Qt's xcb platform. A missing desktop fails those tests; they never skip.
set -euo pipefail

usage() {
  echo "usage: $0 start DIR | stop DIR | run -- COMMAND... | repeat N -- COMMAND..." >&2
  exit 2
}

# Polls a command until it succeeds; fails after the deadline (seconds).
wait_for() {
  local deadline=$(( $(date +%s) + $1 ))
  shift
  until "$@" >/dev/null 2>&1; do
    if [ "$(date +%s)" -ge "$deadline" ]; then
      echo "test desktop: timed out waiting for: $*" >&2
      return 1
    fi
    sleep 0.05
  done
}

# Starts a daemon detached from our standard streams (CTest waits for them to
# close), and records its pid for stop.
spawn() {
  local dir=$1 name=$2
  shift 2
  setsid "$@" >"$dir/$name.log" 2>&1 </dev/null &
  echo "$!" >>"$dir/pids"
}

# Shows the daemons' logs, then stops what was started.
fail() {
  local dir=$1 log
  for log in "$dir"/*.log; do
    [ -f "$log" ] && { echo "--- $log" >&2; tail -n 20 "$log" >&2; }
  done
  stop "$dir"
  return 1
}

start() {
  local dir=$1
  [ -e "$dir/pids" ] && stop "$dir"
  mkdir -p "$dir/runtime"
  chmod 700 "$dir/runtime"
  : >"$dir/pids"
  rm -f "$dir/env"

  local cookie
  cookie=$(od -An -N16 -tx1 /dev/urandom | tr -d ' \n')
  # The server accepts every cookie of its -auth file, whatever display
  # the entry names; the client entry is added once the number is known.
  : >"$dir/Xauthority"
  : >"$dir/server-auth"
  xauth -q -f "$dir/server-auth" add :0 . "$cookie"

  local fifo="$dir/displayfd"
  rm -f "$fifo"
  mkfifo "$fifo"
  # -noreset: the server would otherwise restart when its first client (the
  # readiness probe below) disconnects, and refuse the next one meanwhile.
  setsid Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp -noreset -auth "$dir/server-auth" \
    3>"$fifo" >"$dir/Xvfb.log" 2>&1 </dev/null &
  echo "$!" >>"$dir/pids"
  local number
  if ! read -r -t 20 number <"$fifo" || [ -z "$number" ]; then
    echo "test desktop: Xvfb did not start" >&2
    fail "$dir"
  fi
  rm -f "$fifo"

  export DISPLAY=":$number" XAUTHORITY="$dir/Xauthority" XDG_RUNTIME_DIR="$dir/runtime"
  xauth -q -f "$XAUTHORITY" add "$DISPLAY" . "$cookie"
  printf 'DISPLAY=%s\nXAUTHORITY=%s\nXDG_RUNTIME_DIR=%s\n' "$DISPLAY" "$XAUTHORITY" "$XDG_RUNTIME_DIR" >"$dir/env.tmp"

  wait_for 20 xdotool getdisplaygeometry || fail "$dir"
  spawn "$dir" openbox openbox --sm-disable
  wait_for 20 wmctrl -m || fail "$dir"
  spawn "$dir" trayer trayer --edge bottom --align right --widthtype request --height 24 \
    --SetDockType true --SetPartialStrut true --transparent false
  wait_for 20 xdotool search --classname trayer || fail "$dir"
  spawn "$dir" xcompmgr xcompmgr -n
  mv "$dir/env.tmp" "$dir/env"
  echo "test desktop on $DISPLAY ($dir)"
}

stop() {
  local dir=$1
  if [ -f "$dir/pids" ]; then
    # Newest first: the clients go before their X server.
    local pid
    for pid in $(tac "$dir/pids"); do
      kill "$pid" 2>/dev/null || true
    done
    for pid in $(tac "$dir/pids"); do
      local waited=0
      while kill -0 "$pid" 2>/dev/null && [ "$waited" -lt 100 ]; do
        sleep 0.05
        waited=$((waited + 1))
      done
      kill -9 "$pid" 2>/dev/null || true
    done
  fi
  rm -rf "$dir"
}

case "${1:-}" in
  start)
    [ $# -eq 2 ] || usage
    start "$2"
    ;;
  stop)
    [ $# -eq 2 ] || usage
    stop "$2"
    ;;
  run)
    [ "${2:-}" = "--" ] && [ $# -ge 3 ] || usage
    shift 2
    dir=$(mktemp -d "${TMPDIR:-/tmp}/tolvex-desktop-XXXXXX")
    trap 'stop "$dir"' EXIT
    start "$dir"
    set +e
    (set -a; . "$dir/env"; set +a; "$@")
    status=$?
    set -e
    exit "$status"
    ;;
  repeat)
    [ $# -ge 4 ] && [ "$3" = "--" ] && [ "$2" -ge 1 ] 2>/dev/null || usage
    runs=$2
    shift 3
    for run in $(seq 1 "$runs"); do
      log=$(mktemp "${TMPDIR:-/tmp}/tolvex-repeat-XXXXXX.log")
      if ! "$@" >"$log" 2>&1; then
        echo "repeat: run $run of $runs failed after $((run - 1)) passed; its output: $log" >&2
        tail -n 60 "$log" >&2
        exit 1
      fi
      rm -f "$log"
      echo "repeat: run $run of $runs passed"
    done
    echo "repeat: all $runs runs passed"
    ;;
  *)
    usage
    ;;
esac
