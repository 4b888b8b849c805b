#!/usr/bin/env bash
# The API reference (the docs target) builds, and doxygen has nothing to say about it: any
# line in its warnings log fails the test and is shown. The reference opens on the README's
# quickstarts and holds the C header and the declarations generated from the row tables.
# Usage: reference_check.sh CMAKE BUILD_DIR
set -u
cmake=$1 build=$2
log=$build/docs/warnings.log
out=$("$cmake" --build "$build" --target docs 2>&1) || { echo "$out" | tail -20; echo "FAIL: the docs target did not build"; exit 1; }
[ -f "$log" ] || { echo "FAIL: doxygen wrote no $log"; exit 1; }
if [ -s "$log" ]; then
  cat "$log"
  echo "FAIL: doxygen warned $(wc -l <"$log") times"
  exit 1
fi
html=$build/docs/html
fail=0
expect() {  # FILE TEXT WHAT
  grep -qF -- "$2" "$html/$1" 2>/dev/null || { echo "FAIL: $3 (no \"$2\" in $1)"; fail=1; }
}
expect index.html "C quickstart" "the main page is not the README's quickstarts"
expect index.html "Python quickstart" "the main page is not the README's quickstarts"
expect gelsim_8h.html "gelsim_PhysicsUpdate" "gelsim.h is not in the reference"
expect gelsim__picture_8h.html "gelsim_picture_save" "gelsim_picture.h is not in the reference"
for name in MassAdd ConAdd RigSetAngle ImageGet; do
  expect classkin_1_1gelsim_1_1TAdvBody.html ">$name</a>" "TAdvBody's generated $name is not listed"
done
expect namespacekin_1_1gelsim.html ">GelAdvBodyMassAdd</a>" "the generated procedural functions are not listed"
for page in classkin_1_1gelsim_1_1TAdvBody.html namespacekin_1_1gelsim.html; do
  if grep -qF "__VA_OPT__" "$html/$page"; then echo "FAIL: $page shows declarations half expanded"; fail=1; fi
done
[ $fail -eq 0 ] || exit 1
echo "PASS: $html/index.html, no warnings"
