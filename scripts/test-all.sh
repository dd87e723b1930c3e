#!/usr/bin/env bash
# The whole test suite: host build, AddressSanitizer + UBSan build, and the 32-bit big-endian
# PowerPC build of libmonocodec under qemu, all with warnings as errors; then each fuzz target
# for a short bounded time.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)

step() { printf '\n==> %s\n' "$*"; }

step "installing packages"
scripts/install-deps.sh

for preset in default asan ppc; do
  step "configure $preset"
  cmake --preset "$preset"
  step "build $preset"
  cmake --build "build/$preset" -j "$jobs"
  step "test $preset"
  ctest --test-dir "build/$preset" -j "$jobs" --output-on-failure --timeout 900
done

step "configure fuzz"
cmake --preset fuzz
step "build fuzz"
cmake --build build/fuzz -j "$jobs"
scripts/run-fuzzers.sh build/fuzz "${MONO_FUZZ_TOTAL_SECONDS:-480}"
