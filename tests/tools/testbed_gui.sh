#!/usr/bin/env bash
# The testbed in a virtual X server: it shows the lattice and steps it; pause stops every
# mass; the grid overlay key shades the cells around the masses and nothing far from them;
# a left drag pulls the grabbed mass towards the pointer; P saves a screenshot; Esc quits
# with status 0. The testbed's --dump file tells the state after every frame.
# Usage: testbed_gui.sh TESTBED_EXECUTABLE   (run from the repository root)
set -u
bed=$(readlink -f "$1")
for tool in xvfb-run xdotool import convert; do
  command -v "$tool" >/dev/null 2>&1 || { echo "skipping: $tool not installed"; exit 77; }
done

field() { awk -v k="$1" '$1 == k { $1 = ""; sub(/^ /, ""); print; exit }' "$work/state"; }
fail() { echo "FAIL: $*"; cat "$work/out.txt"; kill "$pid" 2>/dev/null; exit 1; }
# Waits until the dump shows at least n more frames than now.
frames_pass() {
  local start; start=$(field frame); start=${start:-0}
  for _ in $(seq 1 100); do
    local now; now=$(field frame); now=${now:-0}
    [ "$now" -ge $((start + $1)) ] && return 0
    sleep 0.05
  done
  fail "the testbed stopped drawing frames"
}

inner() {
  cd "$work"
  "$bed" scene:lattice --size 800x600 --dump "$work/state" --shots "$work/shot" >"$work/out.txt" 2>&1 &
  pid=$!
  wid=$(timeout 20 xdotool search --sync --onlyvisible --name '^gelsim testbed$' | head -n 1)
  [ -n "$wid" ] || fail "window 'gelsim testbed' did not appear"
  for _ in $(seq 1 100); do [ -s "$work/state" ] && break; sleep 0.1; done
  xdotool mousemove --window "$wid" 10 300   # keys go to the window under the pointer
  frames_pass 10

  # Running: the masses move. Paused: they stay, frame after frame.
  h1=$(field hash); frames_pass 5; h2=$(field hash)
  [ "$h1" != "$h2" ] || fail "the lattice does not move while running"
  xdotool key space; frames_pass 3
  [ "$(field running)" = 0 ] || fail "space did not pause"
  h3=$(field hash); frames_pass 10; h4=$(field hash)
  [ "$h3" = "$h4" ] || fail "masses moved while paused"
  echo "pause: ok (steps $(field steps))"

  # The grid overlay: cells holding masses are shaded, so the picture changes there and only
  # there (within a cell or two of the masses). The text lines at the top name the overlays
  # and are left out of the comparison.
  import -window "$wid" "$work/a.png"
  xdotool key g; frames_pass 3
  [ "$(field overlays)" = 1 ] || fail "g did not switch the grid overlay on"
  import -window "$wid" "$work/b.png"
  changed=$(compare -metric AE "$work/a.png" "$work/b.png" null: 2>&1)
  [ -n "$changed" ] && [ "${changed%%.*}" -eq "${changed%%.*}" ] 2>/dev/null || fail "compare failed: $changed"
  read -r dw dh dx dy < <(convert "$work/a.png" "$work/b.png" -crop 800x540+0+60 +repage -compose difference \
                            -composite -threshold 0 -format '%@' info: | tr 'x+' '  ')
  dy=$((dy + 60))
  read -r x0 y0 x1 y1 < <(field extent)
  read -r cw ch < <(field cell)
  echo "grid overlay: $changed pixels changed in ${dw}x${dh}+${dx}+${dy}; masses in $x0,$y0-$x1,$y1, cells ${cw}x${ch}"
  [ "${changed%%.*}" -gt 200 ] || fail "the grid overlay changed too few pixels"
  awk -v dx="$dx" -v dy="$dy" -v dw="$dw" -v dh="$dh" -v x0="$x0" -v y0="$y0" -v x1="$x1" -v y1="$y1" \
      -v cw="$cw" -v ch="$ch" 'BEGIN { mx = 2 * cw + 8; my = 2 * ch + 8;
        exit !(dx >= x0 - mx && dy >= y0 - my && dx + dw <= x1 + mx && dy + dh <= y1 + my) }' ||
    fail "the grid overlay changed pixels away from the masses"

  # Drag: run again, press on the mass nearest the middle and pull the pointer 150 px up.
  xdotool key space; frames_pass 3
  read -r px py < <(field probe)
  px=${px%.*} py=${py%.*}
  xdotool mousemove --window "$wid" "$px" "$py" mousedown 1
  for k in 1 2 3 4 5 6; do xdotool mousemove --window "$wid" "$px" $((py - 25 * k)); sleep 0.05; done
  frames_pass 30
  read -r gx gy < <(field grab)
  [ "$gx" != none ] || fail "no mass was grabbed at $px,$py"
  dist=$(awk -v gx="$gx" -v gy="$gy" -v px="$px" -v py="$((py - 150))" 'BEGIN { printf "%d", sqrt((gx-px)^2 + (gy-py)^2) }')
  echo "drag: pressed at $px,$py, pointer now $px,$((py - 150)), grabbed mass at $gx,$gy ($dist px away)"
  [ "$dist" -lt 60 ] || fail "the grabbed mass did not follow the pointer"
  xdotool mouseup 1; frames_pass 3
  [ "$(field grab)" = none ] || fail "the mass stayed grabbed after the button went up"

  # Screenshot and quit.
  xdotool key p; frames_pass 3
  [ -s "$work/shot-1.png" ] || fail "P wrote no screenshot"
  xdotool key Escape
  for _ in $(seq 1 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
  kill -0 "$pid" 2>/dev/null && fail "still running 5 s after Esc"
  wait "$pid"; status=$?
  [ "$status" -eq 0 ] || fail "exit status $status"
  if grep -q "gelsim-testbed: " "$work/out.txt"; then fail "the testbed reported a problem"; fi
  echo "PASS"
}
if [ "${2:-}" = "--inside" ]; then
  work=$(mktemp -d)
  trap 'rm -rf "$work"' EXIT
  inner
  exit $?
fi
exec xvfb-run -a -s "-screen 0 1024x768x24" "$0" "$bed" --inside
