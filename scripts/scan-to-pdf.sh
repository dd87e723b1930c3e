#!/usr/bin/env bash
# The main job: the sample pages (CCITT test charts and rendered documentation pages) scanned to
# one PDF with monodoc pdf, lossless and lossy JBIG2 with shared dictionaries, checked by qpdf,
# each lossless page rendered back by poppler and compared with its original, and a table of
# sizes against the same pages as G4 in PDF (tiff2pdf).
# usage: scripts/scan-to-pdf.sh [BUILD_DIR]   (default build/default, built with benchmarks)
set -euo pipefail
cd "$(dirname "$0")/.."
build=$(cd "${1:-build/default}" && pwd)
monodoc="$build/tools/monodoc/monodoc"
names=(ccitt1 ccitt4 ccitt7 doc3 doc10)
out=$build/scan-to-pdf
mkdir -p "$out"
pages=()
for n in "${names[@]}"; do pages+=("$("$build/bench/jb2_generic_encode" --page "$n")"); done

"$monodoc" pdf -o "$out/scan.pdf" "${pages[@]}"
"$monodoc" pdf --lossy -o "$out/scan-lossy.pdf" "${pages[@]}" >/dev/null
for f in scan scan-lossy; do qpdf --check "$out/$f.pdf" >/dev/null || { echo "qpdf finds $f.pdf damaged" >&2; exit 1; }; done
tiffs=()
for i in "${!pages[@]}"; do pamtotiff -g4 "${pages[$i]}" > "$out/g4-$i.tif" 2>/dev/null; tiffs+=("$out/g4-$i.tif"); done
tiffcp "${tiffs[@]}" "$out/g4.tif"
tiff2pdf -o "$out/g4.pdf" "$out/g4.tif"

# Every lossless page as poppler paints it at 300 dpi, against its original pixels.
same_pixels() {  # page.pbm render.pgm: the render, dark below half, is the page
  python3 - "$1" "$2" <<'PY'
import re, sys
def header(d, magic):
    m = re.match(magic + rb'\s+(?:#.*\n\s*)*(\d+)\s+(\d+)\s+(?:(\d+)\s)?', d)
    return int(m.group(1)), int(m.group(2)), m.end()
pbm, pgm = open(sys.argv[1], 'rb').read(), open(sys.argv[2], 'rb').read()
w, h, a = header(pbm, rb'P4')
w2, h2, b = header(pgm, rb'P5')
stride = (w + 7) // 8
same = (w, h) == (w2, h2) and all(
    ((pbm[a + y * stride + x // 8] >> (7 - x % 8)) & 1) == (pgm[b + y * w + x] < 128)
    for y in range(h) for x in range(w))
sys.exit(0 if same else 1)
PY
}
for i in "${!pages[@]}"; do
  n=$((i + 1))
  pdftocairo -r 300 -gray -antialias none -f $n -l $n -singlefile -png "$out/scan.pdf" "$out/render"
  pngtopnm "$out/render.png" > "$out/render.pgm"
  if same_pixels "${pages[$i]}" "$out/render.pgm"; then
    echo "page $n (${names[$i]}): poppler paints the page's pixels exactly"
  else
    echo "page $n (${names[$i]}): poppler paints other pixels than the page's" >&2
    exit 1
  fi
done
g4=$(wc -c < "$out/g4.pdf"); ll=$(wc -c < "$out/scan.pdf"); ly=$(wc -c < "$out/scan-lossy.pdf")
awk -v g4="$g4" -v ll="$ll" -v ly="$ly" 'BEGIN {
  printf "%-28s %9s %8s\n", "PDF of the sample pages", "bytes", "x G4"
  printf "%-28s %9d %8.2f\n", "G4 (tiff2pdf)", g4, 1
  printf "%-28s %9d %8.2f\n", "JBIG2 lossless", ll, ll / g4
  printf "%-28s %9d %8.2f\n", "JBIG2 lossy", ly, ly / g4
}'
echo "files in $out"
