#!/usr/bin/env bash
# Starts the game in a virtual X server and waits for its window; checks that a screenshot
# shows the scene (sky above the structure, the structure's blobs and the height lines),
# clicks into the canvas and checks that the game lives on, then closes the window like a
# window manager does and expects a clean exit with status 0.
# Usage: gui_smoke.sh GAME_EXECUTABLE X11_CLOSE_HELPER   (run from the repository root)
set -u
game=$(readlink -f "$1") closer=$(readlink -f "$2")
for tool in xvfb-run xdotool import convert; do
  command -v "$tool" >/dev/null 2>&1 || { echo "skipping: $tool not installed"; exit 77; }
done

# Prints the colour at (x, y) of a picture as "r,g,b".
pixel() {
  convert "$1" -format "%[fx:int(255*p{$2,$3}.r)],%[fx:int(255*p{$2,$3}.g)],%[fx:int(255*p{$2,$3}.b)]" info:
}
# Counts the pixels of a picture with exactly this colour (#rrggbb).
count_colour() {
  convert "$1" -fill black +opaque "$2" -fill white -opaque "$2" -format "%[fx:int(mean*w*h+0.5)]" info:
}

inner() {
  "$game" >"$work/out.txt" 2>&1 &
  pid=$!
  wid=$(timeout 20 xdotool search --sync --onlyvisible --name '^Slime Tower$' | head -n 1)
  if [ -z "$wid" ]; then echo "FAIL: window 'Slime Tower' did not appear"; kill $pid 2>/dev/null; cat "$work/out.txt"; return 1; fi
  sleep 1.5  # a few frames
  import -window "$wid" "$work/shot.png" || { echo "FAIL: screenshot"; kill $pid; return 1; }
  read -r w h < <(identify -format '%w %h\n' "$work/shot.png")
  sky=$(pixel "$work/shot.png" $((w / 2)) $((h / 4)))
  red=$(count_colour "$work/shot.png" '#ff0000')
  echo "window $wid ${w}x${h}, sky pixel $sky, $red pixels of the current height's red"

  # A click into the sky: the game takes it and keeps running.
  xdotool mousemove --window "$wid" $((w / 2)) $((h / 3)) click 1
  sleep 0.5
  kill -0 $pid 2>/dev/null || { echo "FAIL: the game ended after a click"; cat "$work/out.txt"; return 1; }
  import -window "$wid" "$work/shot2.png" || { echo "FAIL: screenshot after the click"; kill $pid; return 1; }

  "$closer" "$wid" || { echo "FAIL: could not send WM_DELETE_WINDOW"; kill $pid; return 1; }
  for _ in $(seq 1 50); do kill -0 $pid 2>/dev/null || break; sleep 0.1; done
  if kill -0 $pid 2>/dev/null; then echo "FAIL: still running 5 s after the close request"; kill -9 $pid; return 1; fi
  wait $pid; status=$?
  cat "$work/out.txt"
  [ -z "${SLIME_SMOKE_KEEP:-}" ] || cp "$work/shot.png" "$work/shot2.png" "$SLIME_SMOKE_KEEP/"
  [ "$status" -eq 0 ] || { echo "FAIL: exit status $status"; return 1; }
  [ "$sky" = "127,127,255" ] || { echo "FAIL: expected the sky colour 127,127,255 above the structure"; return 1; }
  [ "$red" -gt 100 ] || { echo "FAIL: no red height line or number on screen"; return 1; }
  if grep -q "slime-tower: " "$work/out.txt"; then echo "FAIL: the game reported a problem"; return 1; fi
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
