#!/usr/bin/env bash
# Runs every fuzz target of a fuzz build for a bounded time, each on a fresh copy of its seed
# corpus (a target that has a seeding program writes its seeds first).
set -euo pipefail
build=${1:?usage: run-fuzzers.sh BUILD_DIR [SECONDS]}
seconds=${2:-60}
shopt -s nullglob
ran=0
for target in "$build"/fuzz/*; do
  name=$(basename "$target")
  # Fuzz targets are the executables of the folder; seeding programs are named seed_<target>.
  [ -f "$target" ] && [ -x "$target" ] || continue
  case "$name" in seed_*) continue ;; esac
  corpus=$(mktemp -d)
  if [ -x "$build/fuzz/seed_$name" ]; then "$build/fuzz/seed_$name" "$corpus"; fi
  printf '\n==> fuzz %s for %ss\n' "$name" "$seconds"
  "$target" -max_total_time="$seconds" -print_final_stats=1 "$corpus" 2>&1 | tail -n 12
  rm -rf "$corpus"
  ran=$((ran + 1))
done
echo "==> $ran fuzz target(s) ran"
