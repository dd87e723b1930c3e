#!/usr/bin/env bash
# Runs every fuzz target of a fuzz build, each on a fresh copy of its seed corpus (a target that
# has a seeding program writes its seeds first). The targets share one time budget, so adding a
# target never lengthens the run; longer campaigns pass a larger budget.
#
# One input that runs longer than a quarter of a target's share (at least 10 seconds) is a
# failure like a crash: left unchecked, it would eat its target's share and the run would overrun. What
# libFuzzer keeps of a failure (crash-*, timeout-*, slow-unit-*) goes to BUILD_DIR/fuzz-artifacts,
# never into the working directory. Every target runs even after a failure; the script fails at
# the end, naming the failed targets.
set -euo pipefail
build=${1:?usage: run-fuzzers.sh BUILD_DIR [TOTAL_SECONDS]}
total=${2:-480}
shopt -s nullglob
targets=()
for target in "$build"/fuzz/*; do
  name=$(basename "$target")
  # Fuzz targets are the executables of the folder; seeding programs are named seed_<target>.
  [ -f "$target" ] && [ -x "$target" ] || continue
  case "$name" in seed_*) continue ;; esac
  targets+=("$target")
done
[ ${#targets[@]} -gt 0 ] || { echo "==> no fuzz targets in $build/fuzz"; exit 1; }
seconds=$(( total / ${#targets[@]} ))
[ "$seconds" -ge 10 ] || seconds=10
unit=$(( seconds / 4 ))
[ "$unit" -ge 10 ] || unit=10
artifacts=$(cd "$build" && pwd)/fuzz-artifacts
mkdir -p "$artifacts"
failed=()
times=()
for target in "${targets[@]}"; do
  name=$(basename "$target")
  corpus=$(mktemp -d)
  start=$SECONDS
  if [ -x "$build/fuzz/seed_$name" ]; then "$build/fuzz/seed_$name" "$corpus"; fi
  printf '\n==> fuzz %s for %ss (an input over %ss fails)\n' "$name" "$seconds" "$unit"
  rc=0
  "$target" -max_total_time="$seconds" -timeout="$unit" -report_slow_units="$unit" -print_final_stats=1 \
    -artifact_prefix="$artifacts/$name-" "$corpus" > "$corpus.log" 2>&1 || rc=$?
  tail -n 12 "$corpus.log"
  # libFuzzer only reports a slow unit below the timeout; it counts as a failure all the same.
  if [ "$rc" -ne 0 ] || grep -q '^Slowest unit' "$corpus.log"; then
    failed+=("$name")
    grep -h -e '^==[0-9]*== ERROR' -e 'ERROR: libFuzzer' -e '^Slowest unit' -e 'Test unit written' "$corpus.log" || true
  fi
  times+=("$name $(( SECONDS - start ))s")
  rm -rf "$corpus" "$corpus.log"
done
printf '\n==> time per target (seeding included)\n'
printf '  %s\n' "${times[@]}"
echo "==> ${#targets[@]} fuzz target(s) ran, ${seconds}s each"
if [ ${#failed[@]} -gt 0 ]; then
  echo "==> failed: ${failed[*]} (inputs in $artifacts)"
  exit 1
fi
