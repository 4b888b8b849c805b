#!/usr/bin/env bash
# Runs one fuzz target under libFuzzer for a while: installs clang if it is missing,
# configures the instrumented build in build-fuzz/, builds the target and fuzzes it from
# its seed corpus and committed regressions, keeping what it finds new in a scratch folder.
# Usage: ./fuzz.sh TARGET SECONDS [extra libFuzzer options]
#   TARGET: body zone png quadtree tool-build sim capi state
# Inputs that make it fail land in build-fuzz/crashes/TARGET/; commit each one under
# fuzz/regressions/TARGET/ (replayed by ctest) once the fault is fixed.
set -euo pipefail
cd "$(dirname "$(readlink -f "$0")")"
targets="body zone png quadtree tool-build sim capi state"
if [ $# -lt 2 ] || ! [[ " $targets " == *" $1 "* ]] || ! [[ "$2" =~ ^[0-9]+$ ]]; then
  echo "usage: ./fuzz.sh TARGET SECONDS [libFuzzer options]   (TARGET: $targets)" >&2
  exit 2
fi
target=$1
seconds=$2
shift 2

source tools/jobs.sh
tools/setup-deps.sh fuzz
CC=clang-14 CXX=clang++-14 cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DGELSIM_FUZZ=ON >/dev/null
cmake --build build-fuzz -j"$jobs" --target "fuzz-$target"

scratch=build-fuzz/scratch/$target
crashes=build-fuzz/crashes/$target
mkdir -p "$scratch" "$crashes"
seeds=(fuzz/corpus/"$target")
[ -d fuzz/regressions/"$target" ] && seeds+=(fuzz/regressions/"$target")

status=0
ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1} build-fuzz/fuzz/fuzz-"$target" \
  -max_total_time="$seconds" -rss_limit_mb=2048 -malloc_limit_mb=512 -print_final_stats=1 \
  -artifact_prefix="$crashes/" "$@" "$scratch" "${seeds[@]}" || status=$?

found=$(find "$crashes" -type f | sort)
if [ -n "$found" ]; then
  echo "== inputs that failed (in $crashes/):"
  echo "$found"
else
  echo "== no failing input; new corpus entries are in $scratch/"
fi
exit $status
