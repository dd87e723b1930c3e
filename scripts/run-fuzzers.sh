#!/usr/bin/env bash
# Runs every fuzz target of a fuzz build, each on a fresh copy of its seed corpus (a target that
# has a seeding program writes its seeds first). The targets share one time budget, so adding a
# target never lengthens the run; longer campaigns pass a larger budget.
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
for target in "${targets[@]}"; do
  name=$(basename "$target")
  corpus=$(mktemp -d)
  if [ -x "$build/fuzz/seed_$name" ]; then "$build/fuzz/seed_$name" "$corpus"; fi
  printf '\n==> fuzz %s for %ss\n' "$name" "$seconds"
  "$target" -max_total_time="$seconds" -print_final_stats=1 "$corpus" 2>&1 | tail -n 12
  rm -rf "$corpus"
done
echo "==> ${#targets[@]} fuzz target(s) ran, ${seconds}s each"
