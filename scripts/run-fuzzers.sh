#!/usr/bin/env bash
# Runs every fuzz target of a build that has them (the asan preset's), each on a fresh copy of its
# seed corpus (a target that has a seeding program writes its seeds first). The targets share one
# budget of fuzzing seconds, so adding a target never lengthens the run; longer campaigns pass a
# larger budget. As many targets run at once as there are processors (MONO_FUZZ_JOBS to choose),
# so the run takes the budget divided by that number.
#
# One input that runs longer than the target's whole share is a failure like a crash (a hang, as
# far as this run can tell). One slower than a quarter of the share (at least 10 seconds) is kept
# and named as slow but fails nothing: what a short random run happens to find must not decide
# whether the build is good; longer campaigns look into them. What libFuzzer keeps (crash-*,
# timeout-*, slow-unit-*) goes to BUILD_DIR/fuzz-artifacts, never into the working directory.
# Every target runs even after a failure; the script fails at the end, naming the failed targets.
# Target names after the seconds run those targets only (a campaign on one area). A campaign of
# an hour a target can set MONO_FUZZ_INPUT_SECONDS, the time one input may take (default: the
# whole share), so that a slow input still counts as one.
set -euo pipefail
build=${1:?usage: run-fuzzers.sh BUILD_DIR [TOTAL_SECONDS [TARGET...]]}
total=${2:-480}
shift $(( $# < 2 ? $# : 2 ))
only=("$@")
lanes=${MONO_FUZZ_JOBS:-$(nproc)}
shopt -s nullglob
targets=()
for target in "$build"/fuzz/*; do
  name=$(basename "$target")
  # Fuzz targets are the executables of the folder; seeding programs are named seed_<target>.
  [ -f "$target" ] && [ -x "$target" ] || continue
  case "$name" in seed_*) continue ;; esac
  if [ ${#only[@]} -gt 0 ] && [[ " ${only[*]} " != *" $name "* ]]; then continue; fi
  targets+=("$target")
done
[ ${#targets[@]} -gt 0 ] || { echo "==> no fuzz targets in $build/fuzz"; exit 1; }
seconds=$(( total / ${#targets[@]} ))
[ "$seconds" -ge 10 ] || seconds=10
limit=${MONO_FUZZ_INPUT_SECONDS:-$seconds}
unit=$(( limit / 4 ))
[ "$unit" -ge 10 ] || unit=10
artifacts=$(cd "$build" && pwd)/fuzz-artifacts
mkdir -p "$artifacts"
results=$(mktemp -d)
trap 'rm -rf "$results"' EXIT

# One target: its log, exit status and time go to the results folder.
fuzz_one() {
  local target=$1 name corpus start rc=0
  name=$(basename "$target")
  corpus=$(mktemp -d)
  start=$SECONDS
  if [ -x "$build/fuzz/seed_$name" ]; then "$build/fuzz/seed_$name" "$corpus" > /dev/null 2>&1 || rc=$?; fi
  if [ "$rc" -eq 0 ]; then
    "$target" -max_total_time="$seconds" -timeout="$limit" -report_slow_units="$unit" -print_final_stats=1 \
      -artifact_prefix="$artifacts/$name-" "$corpus" > "$results/$name.log" 2>&1 || rc=$?
  else
    echo "the seeding program failed ($rc)" > "$results/$name.log"
  fi
  echo "$rc" > "$results/$name.rc"
  echo "$(( SECONDS - start ))" > "$results/$name.time"
  rm -rf "$corpus"
}

printf '==> fuzzing %s target(s) for %ss each, %s at a time (an input over %ss is slow, over %ss fails)\n' \
  "${#targets[@]}" "$seconds" "$lanes" "$unit" "$limit"
running=0
for target in "${targets[@]}"; do
  if [ "$running" -ge "$lanes" ]; then
    wait -n || true
    running=$(( running - 1 ))
  fi
  fuzz_one "$target" &
  running=$(( running + 1 ))
done
wait || true

failed=()
slow=()
times=()
for target in "${targets[@]}"; do
  name=$(basename "$target")
  printf '\n==> fuzz %s\n' "$name"
  tail -n 12 "$results/$name.log"
  if [ "$(cat "$results/$name.rc" 2> /dev/null || echo missing)" != 0 ]; then
    failed+=("$name")
    grep -h -e '^==[0-9]*== ERROR' -e 'ERROR: libFuzzer' -e 'Test unit written' "$results/$name.log" || true
  fi
  if grep -q '^Slowest unit' "$results/$name.log"; then
    slow+=("$name")
    grep -h -e '^Slowest unit' "$results/$name.log" || true
  fi
  times+=("$name $(cat "$results/$name.time" 2> /dev/null || echo '?')s")
done
printf '\n==> time per target (seeding included)\n'
printf '  %s\n' "${times[@]}"
echo "==> ${#targets[@]} fuzz target(s) ran, ${seconds}s each, ${lanes} at a time"
if [ ${#slow[@]} -gt 0 ]; then
  echo "==> slow inputs (over ${unit}s) in: ${slow[*]} (kept in $artifacts)"
fi
if [ ${#failed[@]} -gt 0 ]; then
  echo "==> failed: ${failed[*]} (inputs in $artifacts)"
  exit 1
fi
