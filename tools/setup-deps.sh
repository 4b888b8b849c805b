#!/usr/bin/env bash
# Installs the Debian packages the project needs, only when some are missing, so a
# machine that already has everything never touches apt (and works offline).
# Usage: tools/setup-deps.sh [run|test|bench|peers|fuzz]
set -euo pipefail

# What the game, the library and the tools build with; the game (run) needs nothing more.
build_pkgs=(cmake g++ make pkg-config libsdl2-dev libsdl2-mixer-dev libpng-dev zlib1g-dev
            libfreetype-dev nlohmann-json3-dev)
# libclang-rt-14-dev also brings FuzzedDataProvider.h, which the fuzz targets' replay uses;
# clang-14 builds the simulation tests a second time (they must give g++'s hashes).
test_pkgs=(libgtest-dev xvfb xauth xdotool imagemagick x11-utils libx11-dev libclang-rt-14-dev clang-14
           python3-dev pybind11-dev python3-pybind11 python3-numpy python3-pytest python3-mypy python3-venv python3-wheel
           python3-setuptools python3-pip)
bench_pkgs=(libbenchmark-dev)
# The peers that ./benchmark peers runs the same scenes in.
peers_pkgs=(libbox2d-dev chipmunk-dev)
fuzz_pkgs=(clang-14 libclang-rt-14-dev)
# doxygen makes the API reference (the docs target), which a test builds.
test_pkgs+=(doxygen)

want=("${build_pkgs[@]}")
case "${1:-run}" in
  test) want+=("${test_pkgs[@]}") ;;
  bench) want+=("${bench_pkgs[@]}") ;;
  peers) want+=("${peers_pkgs[@]}") ;;
  fuzz) want+=("${fuzz_pkgs[@]}") ;;
esac

missing=()
for p in "${want[@]}"; do
  status=$(dpkg-query -W -f='${db:Status-Status}' "$p" 2>/dev/null || true)
  [ "$status" = "installed" ] || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing missing packages: ${missing[*]}"
sudo=""
if [ "$(id -u)" -ne 0 ]; then
  if command -v sudo >/dev/null 2>&1; then sudo="sudo"; else
    echo "error: packages missing (${missing[*]}) and not running as root; install them and retry" >&2
    exit 1
  fi
fi
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
