#!/usr/bin/env bash
# Starts the real program under Xvfb on freshly generated content, presses Space with xdotool to
# start stage 1-1 (arcade mode is the default configuration) and checks the screenshots: the
# title is drawn, and three seconds later the stage is shown (neither black nor the title).
# Usage: xvfb_play.sh MUBGEN MUB CONTENT-DIR
set -euo pipefail
mubgen=$(realpath "$1")
mub=$(realpath "$2")
content=$3
for tool in Xvfb xdotool import compare convert; do
  command -v "$tool" >/dev/null || { echo "xvfb_play: $tool is missing"; exit 1; }
done

work=$(mktemp -d)
xvfb_pid=""
game_pid=""
cleanup() {
  # The game first, as a user closes it, and only then its X server.
  if [ -n "$game_pid" ]; then
    kill "$game_pid" 2>/dev/null || true
    for _ in $(seq 50); do kill -0 "$game_pid" 2>/dev/null || break; sleep 0.1; done
    kill -9 "$game_pid" 2>/dev/null || true
    wait "$game_pid" 2>/dev/null || true
  fi
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

"$mubgen" "$content" "$work/game"
# Xvfb picks a free display and writes its number to the fd it is given.
Xvfb -displayfd 3 -screen 0 800x600x24 -nolisten tcp 3>"$work/display" >/dev/null 2>&1 &
xvfb_pid=$!
for _ in $(seq 300); do [ -s "$work/display" ] && break; sleep 0.1; done
[ -s "$work/display" ] || { echo "xvfb_play: Xvfb did not start"; exit 1; }
export DISPLAY=":$(head -n 1 "$work/display")"

(cd "$work/game" && SDL_AUDIODRIVER=dummy exec "$mub") &
game_pid=$!
# The window, by the clock: a sanitizer build on a loaded machine may take a minute to start, and
# a game that ended meanwhile is reported as such rather than waited for.
window=""
deadline=$((SECONDS + 180))
while [ "$SECONDS" -lt "$deadline" ]; do
  window=$(xdotool search --name "^mub" 2>/dev/null | head -n 1 || true)
  [ -n "$window" ] && break
  if ! kill -0 "$game_pid" 2>/dev/null; then
    status=0
    wait "$game_pid" || status=$?
    game_pid=""
    echo "xvfb_play: the game ended with status $status before it showed a window"
    exit 1
  fi
  sleep 0.1
done
[ -n "$window" ] || { echo "xvfb_play: no game window within 180 s"; exit 1; }

mean() { convert "$1" -colorspace Gray -format "%[fx:mean]" info:; }
bright() { awk -v v="$1" 'BEGIN { exit !(v > 0.01) }'; }

# The title, once it is drawn (a loaded machine may take a while to start the game).
for _ in $(seq 120); do
  sleep 0.5
  import -window "$window" "$work/title.png"
  title=$(mean "$work/title.png")
  bright "$title" && break
done
bright "$title" || { echo "xvfb_play: the title is not shown within 60 s"; exit 1; }

# Real key events (XTEST) go to the focused window; events sent to a window are ignored by SDL.
xdotool windowfocus --sync "$window" >/dev/null 2>&1 || true
xdotool keydown space
sleep 0.2
xdotool keyup space

# The stage: bright, and far from the title.
for _ in $(seq 120); do
  sleep 0.5
  import -window "$window" "$work/stage.png"
  stage=$(mean "$work/stage.png")
  changed=$(compare -metric AE "$work/title.png" "$work/stage.png" null: 2>&1 || true)
  bright "$stage" && awk -v c="${changed%% *}" 'BEGIN { exit !(c > 5000) }' && break
done
echo "title brightness $title, stage brightness $stage, pixels changed $changed"
bright "$stage" && awk -v c="${changed%% *}" 'BEGIN { exit !(c > 5000) }' ||
  { echo "xvfb_play: the stage is not shown within 60 s of Space"; exit 1; }
