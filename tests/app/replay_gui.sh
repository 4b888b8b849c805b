#!/usr/bin/env bash
# Records a game in a real window under a virtual X server (a few clicks on and beside the
# structure, then the window is closed like a window manager does), replays the recording
# headless and expects the hash the recording run printed at its end. The same recording
# without its clicks must end elsewhere, so the clicks did reach the world.
# Usage: replay_gui.sh GAME_EXECUTABLE X11_CLOSE_HELPER   (run from the repository root)
set -u
game=$(readlink -f "$1") closer=$(readlink -f "$2")
for tool in xvfb-run xdotool; do
  command -v "$tool" >/dev/null 2>&1 || { echo "skipping: $tool not installed"; exit 77; }
done

inner() {
  "$game" --record "$work/game.rec" --hash >"$work/out.txt" 2>&1 &
  pid=$!
  wid=$(timeout 20 xdotool search --sync --onlyvisible --name '^Slime Tower$' | head -n 1)
  if [ -z "$wid" ]; then echo "FAIL: window 'Slime Tower' did not appear"; kill $pid 2>/dev/null; cat "$work/out.txt"; return 1; fi
  sleep 0.7  # the structure settles on the ground
  read -r w h < <(xdotool getwindowgeometry "$wid" | awk '/Geometry/ { split($2, a, "x"); print a[1], a[2] }')
  # The structure stands on the ground at the bottom, a little left of the middle, 1024
  # world units across the canvas: clicks above it add blobs, one on a blob removes it.
  for at in "0.469 0.777" "0.524 0.763" "0.411 0.860" "0.5 0.3" "0.469 0.73"; do
    read -r fx fy <<<"$at"
    x=$(awk -v f="$fx" -v w="$w" 'BEGIN { printf "%d", f * w }')
    y=$(awk -v f="$fy" -v h="$h" 'BEGIN { printf "%d", f * h }')
    xdotool mousemove --window "$wid" "$x" "$y" click 1
    sleep 0.2
  done
  sleep 0.3
  "$closer" "$wid" || { echo "FAIL: could not send WM_DELETE_WINDOW"; kill $pid; return 1; }
  for _ in $(seq 1 50); do kill -0 $pid 2>/dev/null || break; sleep 0.1; done
  if kill -0 $pid 2>/dev/null; then echo "FAIL: still running 5 s after the close request"; kill -9 $pid; return 1; fi
  wait $pid; status=$?
  [ "$status" -eq 0 ] || { echo "FAIL: recording run ended with status $status"; cat "$work/out.txt"; return 1; }
  recorded=$(grep '^hash ' "$work/out.txt")
  clicks=$(grep -c '^click ' "$work/game.rec")
  echo "recording: $(wc -l <"$work/game.rec") lines, $clicks clicks, $(tail -n 1 "$work/game.rec"); $recorded"
  [ "$clicks" -eq 5 ] || { echo "FAIL: expected 5 recorded clicks"; cat "$work/game.rec"; return 1; }
  grep -q '^end [0-9]' "$work/game.rec" || { echo "FAIL: no end line"; cat "$work/game.rec"; return 1; }

  replayed=$("$game" --replay "$work/game.rec" --headless --hash 2>"$work/err.txt")
  status=$?
  echo "replay: $replayed"
  [ "$status" -eq 0 ] || { echo "FAIL: replay ended with status $status"; cat "$work/err.txt"; return 1; }
  [ -n "$recorded" ] && [ "$replayed" = "$recorded" ] || { echo "FAIL: the replay's hash differs"; cat "$work/game.rec"; return 1; }

  grep -v '^click ' "$work/game.rec" >"$work/noclicks.rec"
  unclicked=$("$game" --replay "$work/noclicks.rec" --headless --hash 2>/dev/null)
  [ "$unclicked" != "$recorded" ] || { echo "FAIL: the clicks changed nothing"; cat "$work/game.rec"; return 1; }
  echo "PASS"
}
if [ "${3:-}" = "--inside" ]; then
  work=$(mktemp -d)
  trap 'rm -rf "$work"' EXIT
  inner
  exit $?
fi
# Re-enter this script inside the virtual X server.
exec xvfb-run -a -s "-screen 0 1024x768x24" "$0" "$game" "$closer" --inside
