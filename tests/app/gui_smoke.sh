#!/usr/bin/env bash
# Starts the game in a virtual X server, waits for its window, checks that a screenshot
# shows the sky colour, closes the window like a window manager does and expects a clean
# exit with status 0.
# Usage: gui_smoke.sh GAME_EXECUTABLE X11_CLOSE_HELPER   (run from the repository root)
set -u
game=$(readlink -f "$1") closer=$(readlink -f "$2")
for tool in xvfb-run xdotool import convert; do
  command -v "$tool" >/dev/null 2>&1 || { echo "skipping: $tool not installed"; exit 77; }
done

inner() {
  "$game" >"$work/out.txt" 2>&1 &
  pid=$!
  wid=$(timeout 20 xdotool search --sync --onlyvisible --name '^Slime Tower$' | head -n 1)
  if [ -z "$wid" ]; then echo "FAIL: window 'Slime Tower' did not appear"; kill $pid 2>/dev/null; cat "$work/out.txt"; return 1; fi
  sleep 1.5  # a few frames
  import -window "$wid" "$work/shot.png" || { echo "FAIL: screenshot"; kill $pid; return 1; }
  read -r w h < <(identify -format '%w %h\n' "$work/shot.png")
  px=$(convert "$work/shot.png" -format "%[fx:int(255*p{$((w/2)),$((h/2))}.r)],%[fx:int(255*p{$((w/2)),$((h/2))}.g)],%[fx:int(255*p{$((w/2)),$((h/2))}.b)]" info:)
  echo "window $wid ${w}x${h}, centre pixel $px"
  "$closer" "$wid" || { echo "FAIL: could not send WM_DELETE_WINDOW"; kill $pid; return 1; }
  for _ in $(seq 1 50); do kill -0 $pid 2>/dev/null || break; sleep 0.1; done
  if kill -0 $pid 2>/dev/null; then echo "FAIL: still running 5 s after the close request"; kill -9 $pid; return 1; fi
  wait $pid; status=$?
  cat "$work/out.txt"
  [ "$status" -eq 0 ] || { echo "FAIL: exit status $status"; return 1; }
  [ "$px" = "127,127,255" ] || { echo "FAIL: expected the sky colour 127,127,255 at the centre"; return 1; }
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
