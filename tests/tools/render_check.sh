#!/usr/bin/env bash
# `gelsim render` of the slime scene (media/ground.plz three times, media/slime.plb on it),
# stepped and with every overlay on, matches the checked-in picture: at most 0.5 % of the
# pixels may differ by more than 3 %.
# Usage: render_check.sh GELSIM_TOOL [--update]   (run from the repository root)
set -u
tool=$(readlink -f "$1")
expected=tests/tools/expected/render_slime_all.png
command -v compare >/dev/null 2>&1 || { echo "skipping: compare (ImageMagick) not installed"; exit 77; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$tool" render scene:slime --steps 90 --size 320x240 --overlay all -o "$work/out.png" ||
  { echo "FAIL: render exited with status $?"; exit 1; }
if [ "${2:-}" = "--update" ]; then cp "$work/out.png" "$expected"; echo "updated $expected"; exit 0; fi
differ=$(compare -metric AE -fuzz 3% "$work/out.png" "$expected" null: 2>&1)
echo "render: $differ of $((320 * 240)) pixels differ"
[ "${differ%%.*}" -eq "${differ%%.*}" ] 2>/dev/null || { echo "FAIL: compare: $differ"; exit 1; }
[ "${differ%%.*}" -le $((320 * 240 / 200)) ] || { echo "FAIL: the picture differs from $expected"; exit 1; }
echo "PASS"
