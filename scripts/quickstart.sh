#!/usr/bin/env bash
# Installs what is needed, builds, and runs the main job on the sample pages (CCITT test charts
# and rendered documentation pages): each page compressed through jBig2Encode, decoded back
# through jBig2Decode and compared, with a table of sizes and ratios against raw and G4.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake --preset default
cmake --build build/default -j "$(nproc)"
build/default/bench/jb2_main_job
