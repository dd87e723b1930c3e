#!/usr/bin/env bash
# The PDF reader beside poppler: a JBIG2 PDF of our own writer read page by page into page images
# (monodoc info, which makes every page a page image with its JBIG2 and dictionary layers) against
# pdfimages -all extracting every image of the same file, as whole-process time and peak memory
# ratios. The file and pdfimages' output lie in memory (/dev/shm when there is one), so that the
# reference is not timed writing a hundred files to a disk. Each timing is 20 runs of a command
# one after the other (a run takes some ten milliseconds, below what GNU time resolves); the peak
# is the largest single run's.
# usage: bench/pdf_read_compare.sh BUILD_DIR [PAGES]
#   BUILD_DIR: a build with benchmarks (build/default); PAGES: how many pages (default 50)
set -euo pipefail
build=$(cd "${1:?usage: pdf_read_compare.sh BUILD_DIR [PAGES]}" && pwd)
count=${2:-50}
here=$(cd "$(dirname "$0")" && pwd)
command -v pdfimages >/dev/null || { echo "pdfimages is missing: apt-get install poppler-utils" >&2; exit 2; }
work=$(mktemp -d -p "$([ -d /dev/shm ] && echo /dev/shm || echo "${TMPDIR:-/tmp}")")
trap 'rm -rf "$work"' EXIT
# Realistic pages: the CCITT test charts and rendered documentation pages, repeated to the count.
samples=()
for n in ccitt1 ccitt2 ccitt3 ccitt4 ccitt5 ccitt6 ccitt7 ccitt8 doc1 doc2 doc3 doc4 doc5 doc6 doc7 doc8 doc9 doc10; do
  samples+=("$("$build/bench/jb2_generic_encode" --page "$n")")
done
pages=()
while [ ${#pages[@]} -lt "$count" ]; do
  for p in "${samples[@]}"; do [ ${#pages[@]} -lt "$count" ] && pages+=("$p"); done
done
"$build/tools/monodoc/monodoc" pdf --test -o "$work/pages.pdf" "${pages[@]}" >/dev/null
mkdir "$work/out"
echo "$count pages, $(wc -c < "$work/pages.pdf") bytes: monodoc info against pdfimages -all"
"$here/compare.sh" -n 11 "for i in \$(seq 20); do $build/tools/monodoc/monodoc info $work/pages.pdf; done" \
  "for i in \$(seq 20); do pdfimages -all $work/pages.pdf $work/out/i; done"
