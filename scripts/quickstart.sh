#!/usr/bin/env bash
# Installs what is needed, builds, and runs the image-core benchmark on the sample pages
# (CCITT test charts and rendered documentation pages).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake --preset default
cmake --build build/default -j "$(nproc)"
build/default/bench/ipshared_bench --benchmark_min_time=0.1
