#!/usr/bin/env bash
# The whole test suite, all with warnings as errors: the host build (its tests include the
# installed-tree check); one clang build with AddressSanitizer + UBSan that runs the same tests
# and holds the libFuzzer targets, each then fuzzed for a short bounded time; the 32-bit
# big-endian PowerPC build of libmonocodec under qemu. Each phase's wall and CPU time is printed
# at the end (CPU time is what a phase costs on a smaller machine). A run that leaves files in the
# source tree that git neither tracks nor ignores fails: tests write only into build folders.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)
fuzz_seconds=${MONO_FUZZ_TOTAL_SECONDS:-480}
times_file=$(mktemp)

step() { printf '\n==> %s\n' "$*"; }

# phase NAME COMMAND...: runs the command as one timed phase.
phase() {
  local name=$1 rc=0
  shift
  step "$name"
  if [ -x /usr/bin/time ]; then
    /usr/bin/time -o "$times_file.one" -f '%e %U %S' "$@" || rc=$?
    # A failed command makes time write "Command exited with non-zero status N" before the
    # figures; the figures are always the last line.
    printf '%s %s\n' "$name" "$(tail -n 1 "$times_file.one")" >> "$times_file"
    rm -f "$times_file.one"
  else
    "$@" || rc=$?
  fi
  return "$rc"
}

report_times() {
  [ -s "$times_file" ] || return 0
  printf '\n==> time per phase (seconds; CPU = user + sys)\n'
  awk '{ cpu = $3 + $4; wall += $2; total += cpu;
         printf "  %-22s wall %7.1f  cpu %8.1f\n", $1, $2, cpu }
       END { printf "  %-22s wall %7.1f  cpu %8.1f\n", "all", wall, total }' "$times_file"
}

# Untracked files already there when the run starts are the user's, not the run's.
untracked() { git ls-files --others --exclude-standard 2>/dev/null | LC_ALL=C sort; }
in_git=0
if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then in_git=1; fi
untracked_before=$(mktemp)
[ "$in_git" = 1 ] && untracked > "$untracked_before"

# check_stray: fails naming every file the run left in the source tree.
check_stray() {
  [ "$in_git" = 1 ] || return 0
  local left
  left=$(untracked | LC_ALL=C comm -13 "$untracked_before" -)
  [ -z "$left" ] && return 0
  printf '\n==> the run left files in the source tree:\n' >&2
  printf '%s\n' "$left" | sed 's/^/  /' >&2
  return 1
}

finish() {
  local rc=$?
  report_times
  check_stray || { [ "$rc" = 0 ] && rc=1; }
  rm -f "$times_file" "$untracked_before"
  exit "$rc"
}
trap finish EXIT

phase install-packages scripts/install-deps.sh

for preset in default asan ppc; do
  phase "configure-$preset" cmake --preset "$preset"
  phase "build-$preset" cmake --build "build/$preset" -j "$jobs"
  phase "test-$preset" ctest --test-dir "build/$preset" -j "$jobs" --output-on-failure --timeout 900
  if [ "$preset" = asan ]; then
    phase fuzz scripts/run-fuzzers.sh build/asan "$fuzz_seconds"
  fi
done
