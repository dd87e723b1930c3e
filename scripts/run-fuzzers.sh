#!/usr/bin/env bash
# Runs every fuzz target of a build that has them (the asan preset's), each on a fresh copy of its
# seed corpus (a target that has a seeding program writes its seeds first). The targets share one
# time budget, so adding a target never lengthens the run; longer campaigns pass a larger budget.
#
# One input that runs longer than the target's whole share is a failure like a crash (a hang, as
# far as this run can tell). One slower than a quarter of the share (at least 10 seconds) is kept
# and named as slow but fails nothing: what a short random run happens to find must not decide
# whether the build is good; longer campaigns look into them. What libFuzzer keeps (crash-*,
# timeout-*, slow-unit-*) goes to BUILD_DIR/fuzz-artifacts, never into the working directory.
# Every target runs even after a failure; the script fails at the end, naming the failed targets.
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
slow=()
times=()
for target in "${targets[@]}"; do
  name=$(basename "$target")
  corpus=$(mktemp -d)
  start=$SECONDS
  if [ -x "$build/fuzz/seed_$name" ]; then "$build/fuzz/seed_$name" "$corpus"; fi
  printf '\n==> fuzz %s for %ss (an input over %ss is slow, over %ss fails)\n' "$name" "$seconds" "$unit" "$seconds"
  rc=0
  "$target" -max_total_time="$seconds" -timeout="$seconds" -report_slow_units="$unit" -print_final_stats=1 \
    -artifact_prefix="$artifacts/$name-" "$corpus" > "$corpus.log" 2>&1 || rc=$?
  tail -n 12 "$corpus.log"
  if [ "$rc" -ne 0 ]; then
    failed+=("$name")
    grep -h -e '^==[0-9]*== ERROR' -e 'ERROR: libFuzzer' -e 'Test unit written' "$corpus.log" || true
  fi
  if grep -q '^Slowest unit' "$corpus.log"; then
    slow+=("$name")
    grep -h -e '^Slowest unit' "$corpus.log" || true
  fi
  times+=("$name $(( SECONDS - start ))s")
  rm -rf "$corpus" "$corpus.log"
done
printf '\n==> time per target (seeding included)\n'
printf '  %s\n' "${times[@]}"
echo "==> ${#targets[@]} fuzz target(s) ran, ${seconds}s each"
if [ ${#slow[@]} -gt 0 ]; then
  echo "==> slow inputs (over ${unit}s) in: ${slow[*]} (kept in $artifacts)"
fi
if [ ${#failed[@]} -gt 0 ]; then
  echo "==> failed: ${failed[*]} (inputs in $artifacts)"
  exit 1
fi
