#!/usr/bin/env bash
# Runs the real program mub headless on freshly generated content, once with the loose image/ and
# sound/ folders and once from image.kva and sound.kva made by kvapack with those folders removed.
# The game exits 1 at once when a bitmap fails to load; each run must instead last until a SIGTERM
# closes it like a window close, and then end with status 0 without the load-failure message.
# A sound that fails to load only leaves a line on standard error, which no run may show; "reads"
# mode also traces the archive run with strace and checks that every byte of both archives was read.
# Usage: run_mub_from_archives.sh MUBGEN KVAPACK MUB CONTENT-DIR (runs | reads)
set -euo pipefail
mubgen=$(realpath "$1")
kvapack=$(realpath "$2")
mub=$(realpath "$3")
content=$(realpath "$4")
mode=$5

fail() {
  echo "run_mub_from_archives: $*" >&2
  exit 1
}

if [ "$mode" = reads ]; then
  command -v strace >/dev/null || { echo "strace is missing: skipped"; exit 77; }
  strace -f -o /dev/null true 2>/dev/null || { echo "strace cannot trace here: skipped"; exit 77; }
fi

work=$(mktemp -d)
game_pid=""
mub_pid=""
cleanup() {
  # mub itself first: strace killed would leave it running detached.
  [ -n "$mub_pid" ] && kill -KILL "$mub_pid" 2>/dev/null || true
  if [ -n "$game_pid" ]; then
    kill -KILL "$game_pid" 2>/dev/null || true
    wait "$game_pid" 2>/dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT

# Headless copies of the engine do not see each other's windows, so runs in parallel do not meet.
export SDL_VIDEODRIVER=dummy SDL_AUDIODRIVER=dummy

# Starts the game in $game (under strace when $2 names a trace file; $1 names the run in
# messages), waits until it has run three seconds with SDL's SIGTERM handler in place, sends
# SIGTERM and checks how it ended.
run_game() {
  local label=$1 trace=${2:-} folder=$game
  if [ -n "$trace" ]; then
    # LeakSanitizer cannot run under ptrace; the untraced runs check for leaks.
    (cd "$folder" && ASAN_OPTIONS=detect_leaks=0 exec strace -f -y -qq -s 0 -o "$trace" \
       -e trace=openat,lseek,read,pread64 "$mub" 2>"$work/stderr") &
  else
    (cd "$folder" && exec "$mub" 2>"$work/stderr") &
  fi
  game_pid=$!
  mub_pid=$game_pid
  if [ -n "$trace" ]; then
    for _ in $(seq 600); do
      mub_pid=$(pgrep -P "$game_pid" -x mub || true)
      [ -n "$mub_pid" ] && break
      sleep 0.05
    done
    [ -n "$mub_pid" ] || fail "$label: mub did not start under strace within 30 s"
  fi

  local ticks=0 handler=0
  while ((ticks < 30 || !handler)); do
    if ! kill -0 "$mub_pid" 2>/dev/null; then
      local status=0
      wait "$game_pid" || status=$?
      game_pid="" mub_pid=""
      fail "$label: mub ended by itself after $((ticks / 10)) s with status $status:
$(cat "$work/stderr")"
    fi
    ((ticks < 600)) || fail "$label: SDL's SIGTERM handler was not installed within 60 s"
    local caught
    caught=$(sed -n 's/^SigCgt:[[:space:]]*//p' "/proc/$mub_pid/status" 2>/dev/null || echo 0)
    (((0x${caught:-0} >> 14) & 1)) && handler=1
    sleep 0.1
    ticks=$((ticks + 1))
  done

  kill -TERM "$mub_pid"
  local waited=0
  while kill -0 "$mub_pid" 2>/dev/null && ((waited < 600)); do
    sleep 0.1
    waited=$((waited + 1))
  done
  if kill -0 "$mub_pid" 2>/dev/null; then
    fail "$label: SIGTERM did not close mub within 60 s"
  fi
  local status=0
  wait "$game_pid" || status=$?
  game_pid="" mub_pid=""
  if grep -q -e "読込に失敗しました" -e "を読み込めませんでした" "$work/stderr"; then
    fail "$label: mub reported a load failure:
$(cat "$work/stderr")"
  fi
  [ "$status" -eq 0 ] || fail "$label: mub exited with status $status after SIGTERM:
$(cat "$work/stderr")"
  echo "$label: mub ran and closed on SIGTERM with status 0"
}

# Prints the bytes of $2 that the traced process never read, counting from the positions its
# lseek calls set and its reads advanced, per open descriptor.
unread_bytes() {
  local trace=$1 file=$2 size
  size=$(stat -c %s "$file")
  awk -v path="$file" -v size="$size" '
    # Each line is "TID  call(...) = result"; a call another thread interrupts comes as an
    # "<unfinished ...>" line and its "<... call resumed>" line.
    {
      tid = $1
      line = $0
      sub(/^[0-9]+ +/, "", line)
      if (line !~ /^<\.\.\. [a-z0-9]+ resumed>/) {
        call = line
        sub(/\(.*/, "", call)
        if (call == "openat") {
          if (index(line, "\"" path "\"") == 0) next
        } else if (call == "lseek" || call == "read" || call == "pread64") {
          fd = substr(line, length(call) + 2)
          if (index(fd, "<" path ">") == 0) next
          pending_fd[tid] = substr(fd, 1, index(fd, ">"))
          if (call == "pread64") { split(line, parts, ", "); pending_offset[tid] = parts[4] + 0 }
        } else {
          next
        }
        pending_call[tid] = call
      } else if (!(tid in pending_call)) {
        next
      }
      if (line ~ /<unfinished \.\.\.>$/) next
      result = line
      sub(/.* = /, "", result)
      sub(/ .*/, "", result)
      call = pending_call[tid]
      fd = pending_fd[tid]
      delete pending_call[tid]
      if (call == "openat") { position[result] = 0; next }
      if (result !~ /^[0-9]+$/) next
      if (call == "lseek") { position[fd] = result + 0; next }
      start = call == "pread64" ? pending_offset[tid] : position[fd]
      for (i = start; i < start + result; ++i) seen[i] = 1
      if (call == "read") position[fd] = start + result
    }
    END {
      missing = 0
      for (i = 0; i < size; ++i) if (!(i in seen)) ++missing
      print missing
    }' "$trace"
}

game="$work/game"
"$mubgen" "$content" "$game" >/dev/null || fail "mubgen failed"
[ -d "$game/image" ] && [ -d "$game/sound" ] || fail "mubgen wrote no image/ or sound/"

if [ "$mode" = runs ]; then
  run_game "loose folders"
fi

(cd "$game" && "$kvapack" pack image && "$kvapack" pack sound) >/dev/null ||
  fail "kvapack failed"
rm -rf "$game/image" "$game/sound"

if [ "$mode" = runs ]; then
  run_game "archives"
else
  run_game "archives, traced" "$work/trace"
  for archive in image.kva sound.kva; do
    unread=$(unread_bytes "$work/trace" "$game/$archive")
    [ "$unread" = 0 ] || fail "$unread bytes of $archive were never read"
    echo "every byte of $archive was read"
  done
fi
