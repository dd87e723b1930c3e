#!/usr/bin/env bash
# The XPS reader beside mutool: opening a package and rendering every page of it (monodoc info,
# which renders each page into its layers) against mutool drawing every page at 300 ppi, as
# whole-process time and peak memory ratios.
# usage: bench/xps_compare.sh BUILD_DIR [PAGES]
set -euo pipefail
build=${1:?usage: xps_compare.sh BUILD_DIR [PAGES]}
pages=${2:-20}
here=$(cd "$(dirname "$0")" && pwd)
command -v mutool >/dev/null || { echo "mutool is missing: apt-get install mupdf-tools" >&2; exit 2; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
python3 "$here/xps_package.py" "$work/bench.xps" "$pages"
"$here/compare.sh" "$build/tools/monodoc/monodoc info $work/bench.xps" "mutool draw -r 300 $work/bench.xps"
