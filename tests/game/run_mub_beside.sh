#!/usr/bin/env bash
# Runs the real program mub on freshly generated content as a new user's machine may meet it.
#   no-sound     headless, with ALSA asked for a device it does not know (a machine without a
#                sound device): mub plays, says so in one line and nothing else, and closes on
#                SIGTERM with status 0
#   second-copy  on a display of its own (Xvfb), a second mub started beside the first says that
#                mub is already running and fails at once; the first plays on and closes on
#                SIGTERM with status 0
# Usage: run_mub_beside.sh MUBGEN MUB CONTENT-DIR (no-sound | second-copy)
set -euo pipefail
mubgen=$(realpath "$1")
mub=$(realpath "$2")
content=$(realpath "$3")
mode=$4

fail() {
  echo "run_mub_beside: $*" >&2
  exit 1
}

if [ "$mode" = second-copy ]; then
  for tool in Xvfb xdotool; do
    command -v "$tool" >/dev/null || { echo "$tool is missing: skipped"; exit 77; }
  done
fi

work=$(mktemp -d)
game_pid=""
server_pid=""
cleanup() {
  if [ -n "$game_pid" ]; then
    kill -KILL "$game_pid" 2>/dev/null || true
    wait "$game_pid" 2>/dev/null || true
  fi
  if [ -n "$server_pid" ]; then
    kill -TERM "$server_pid" 2>/dev/null || true
    wait "$server_pid" 2>/dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT

game="$work/game"
"$mubgen" "$content" "$game" >/dev/null || fail "mubgen failed"

# Starts Xvfb on a free display and exports DISPLAY. Servers started at once by parallel tests can
# race for one display, and the loser exits: it is started again, a few times.
start_server() {
  local attempt waited
  for attempt in 1 2 3 4 5; do
    : >"$work/display"
    Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp -noreset 3>"$work/display" \
      >/dev/null 2>&1 &
    server_pid=$!
    # The number ends with a new line; wait up to 60 seconds for it, whatever the load.
    for ((waited = 0; waited < 600; ++waited)); do
      [ "$(wc -l <"$work/display")" -ge 1 ] && break
      kill -0 "$server_pid" 2>/dev/null || break
      sleep 0.1
    done
    if [ "$(wc -l <"$work/display")" -ge 1 ]; then
      export DISPLAY=":$(head -n 1 "$work/display")"
      return
    fi
    kill -TERM "$server_pid" 2>/dev/null || true
    wait "$server_pid" 2>/dev/null || true
    server_pid=""
  done
  fail "Xvfb did not start"
}

# Starts the first mub in the background and waits until it has run three seconds with SDL's
# SIGTERM handler in place; then, when $1 is set, until its window is on the display.
start_game() {
  local window=${1:-}
  (cd "$game" && exec "$mub" 2>"$work/first.stderr") &
  game_pid=$!
  local ticks=0 handler=0
  while ((ticks < 30 || !handler)); do
    kill -0 "$game_pid" 2>/dev/null ||
      fail "mub ended by itself after $((ticks / 10)) s:
$(cat "$work/first.stderr")"
    ((ticks < 600)) || fail "SDL's SIGTERM handler was not installed within 60 s"
    local caught
    caught=$(sed -n 's/^SigCgt:[[:space:]]*//p' "/proc/$game_pid/status" 2>/dev/null || echo 0)
    (((0x${caught:-0} >> 14) & 1)) && handler=1
    sleep 0.1
    ticks=$((ticks + 1))
  done
  if [ -n "$window" ]; then
    for ((ticks = 0; ticks < 600; ++ticks)); do
      xdotool search --name '^mub ver1\.02$' >/dev/null 2>&1 && return
      sleep 0.1
    done
    fail "the window of mub did not appear within 60 s"
  fi
}

# Closes the first mub with SIGTERM, as a window close; it must end with status 0.
close_game() {
  kill -TERM "$game_pid"
  local waited=0
  while kill -0 "$game_pid" 2>/dev/null && ((waited < 600)); do
    sleep 0.1
    waited=$((waited + 1))
  done
  kill -0 "$game_pid" 2>/dev/null && fail "SIGTERM did not close mub within 60 s"
  local status=0
  wait "$game_pid" || status=$?
  game_pid=""
  [ "$status" -eq 0 ] || fail "mub exited with status $status after SIGTERM:
$(cat "$work/first.stderr")"
}

case $mode in
  no-sound)
    export SDL_VIDEODRIVER=dummy SDL_AUDIODRIVER=alsa AUDIODEV=mub_test_no_such_device
    start_game
    close_game
    said=$(grep -c "^platform: no sound device (.*): everything plays silent$" "$work/first.stderr" ||
      true)
    [ "$said" = 1 ] || fail "not one line about the missing sound device:
$(cat "$work/first.stderr")"
    if grep -q -e "ALSA lib" -e "を読み込めませんでした" -e "読込に失敗しました" "$work/first.stderr"; then
      fail "more than the missing sound device was said:
$(cat "$work/first.stderr")"
    fi
    echo "mub played without a sound device and said so in one line"
    ;;
  second-copy)
    start_server
    # The X11 and D-Bus libraries keep memory of their own to the end.
    export SDL_VIDEODRIVER=x11 SDL_AUDIODRIVER=dummy ASAN_OPTIONS=detect_leaks=0
    start_game window
    status=0
    (cd "$game" && timeout 60 "$mub") 2>"$work/second.stderr" || status=$?
    [ "$status" -ne 0 ] && [ "$status" -ne 124 ] ||
      fail "the second mub exited with status $status, not a failure:
$(cat "$work/second.stderr")"
    grep -q "^mub: 起動できませんでした: mub はもう動いています$" "$work/second.stderr" ||
      fail "the second mub did not say that mub is already running:
$(cat "$work/second.stderr")"
    if grep -q -e "ディスプレイがありません" -e "Sanitizer" "$work/second.stderr"; then
      fail "the second mub said more than that:
$(cat "$work/second.stderr")"
    fi
    kill -0 "$game_pid" 2>/dev/null || fail "the first mub ended when the second started"
    close_game
    echo "a second mub said that mub is already running; the first played on"
    ;;
  *) fail "unknown mode $mode" ;;
esac
