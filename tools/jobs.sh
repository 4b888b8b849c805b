# Sourced by the build scripts (./run, ./test, ./benchmark, ./fuzz.sh): sets `jobs`, the
# number of parallel jobs for builds and test runs. GELSIM_JOBS chooses it (for a machine
# shared with other work); otherwise one job per core.
jobs=${GELSIM_JOBS:-$(nproc)}
if ! [[ "$jobs" =~ ^[1-9][0-9]*$ ]]; then
  echo "GELSIM_JOBS must be a positive whole number, not '$jobs'" >&2
  exit 2
fi
