#!/usr/bin/env bash
# Scan to PDF beside the public JBIG2 encoder and G4: PDF bytes of the sample pages written by
# monodoc pdf (lossless and lossy JBIG2 in sections of ten pages), by the public encoder's symbol
# mode wrapped by its jbig2topdf.py, and by G4 TIFF wrapped by tiff2pdf; the lossy pages'
# difference from the originals after jbig2dec (the share lying farther than one pixel from the
# other image's ink tells substituted glyphs); whole-process time and peak memory of monodoc pdf
# beside the public encoder plus jbig2topdf.py, and monodoc's peak memory at 10, 50 and 200 pages
# (the sample pages repeated).
# usage: bench/pdf_compare.sh BUILD_DIR [PAGES]
#   BUILD_DIR: a build with benchmarks (build/default); PAGES: sample page names (ccitt1..8, docN)
set -euo pipefail
build=${1:?usage: $0 BUILD_DIR [PAGES]}
shift
names=("$@")
[ ${#names[@]} -gt 0 ] || names=(ccitt1 ccitt4 ccitt7 doc3 doc10)
here=$(cd "$(dirname "$0")" && pwd)
monodoc=$(cd "$build" && pwd)/tools/monodoc/monodoc
peer=$("$here/../../shared/peers/build-jbig2enc.sh")
topdf="$here/../../shared/peers/jbig2enc/jbig2topdf.py"
for t in pamtotiff tiffcp tiff2pdf jbig2dec pdfimages python3 /usr/bin/time; do
  command -v $t >/dev/null || { echo "$t is missing" >&2; exit 2; }
done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
pages=()
for n in "${names[@]}"; do pages+=("$("$build/bench/jb2_generic_encode" --page "$n")"); done
bytes() { wc -c < "$1"; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", (b > 0 ? a / b : 0) }'; }

cd "$work"
"$monodoc" pdf -o lossless.pdf "${pages[@]}" >/dev/null
"$monodoc" pdf --lossy -o lossy.pdf "${pages[@]}" >/dev/null
"$peer" -s -p "${pages[@]}" 2>/dev/null
python3 "$topdf" output > peer.pdf
tiffs=()
for i in "${!pages[@]}"; do pamtotiff -g4 "${pages[$i]}" > "g4-$i.tif" 2>/dev/null; tiffs+=("g4-$i.tif"); done
tiffcp "${tiffs[@]}" g4.tif
tiff2pdf -o g4.pdf g4.tif

# Lossy pages decoded by jbig2dec beside the originals: ours and the public encoder's.
lossy_pairs() {  # pdf prefix
  mkdir -p "$2"
  pdfimages -all "$1" "$2/p"
  : > "$2.pairs"
  for i in "${!pages[@]}"; do
    local n
    n=$(printf '%03d' "$i")
    jbig2dec -e -t pbm -o "$2/$n.pbm" "$2/p-$n.jb2g" "$2/p-$n.jb2e" >/dev/null 2>&1
    echo "$2/$n.pbm ${pages[$i]}" >> "$2.pairs"
  done
  python3 "$here/lossy_diff.py" "$2.pairs"
}
read -r ours_mean ours_max ours_far < <(lossy_pairs lossy.pdf ours)
read -r peer_mean peer_max peer_far < <(lossy_pairs peer.pdf peer)

g4=$(bytes g4.pdf); pe=$(bytes peer.pdf); ll=$(bytes lossless.pdf); ly=$(bytes lossy.pdf)
echo "pages: ${names[*]}"
printf '%-34s %9s  %s\n' "PDF" "bytes" "ratios"
printf '%-34s %9d\n' "G4 TIFF through tiff2pdf" "$g4"
printf '%-34s %9d  %s x G4\n' "public encoder -s -p, jbig2topdf" "$pe" "$(ratio "$pe" "$g4")"
printf '%-34s %9d  %s x G4\n' "monodoc pdf, lossless JBIG2" "$ll" "$(ratio "$ll" "$g4")"
printf '%-34s %9d  %s x G4, %s x public encoder\n' "monodoc pdf --lossy" "$ly" "$(ratio "$ly" "$g4")" \
  "$(ratio "$ly" "$pe")"
echo "lossy difference (share of black pixels: mean, max, farther than one pixel from ink):"
echo "  monodoc pdf --lossy   $ours_mean $ours_max $ours_far"
echo "  public encoder -s -p  $peer_mean $peer_max $peer_far"

echo "whole-process time and peak memory, monodoc pdf against jbig2 -s -p plus jbig2topdf.py:"
"$here/compare.sh" "cd $work && $monodoc pdf -o t.pdf ${pages[*]}" \
  "cd $work && $peer -s -p ${pages[*]} 2>/dev/null && python3 $topdf output > t2.pdf"

echo "monodoc pdf peak memory by page count:"
for count in 10 50 200; do
  list=()
  while [ ${#list[@]} -lt "$count" ]; do
    for p in "${pages[@]}"; do [ ${#list[@]} -lt "$count" ] && list+=("$p"); done
  done
  /usr/bin/time -o mem -f '%e %M' "$monodoc" pdf -o many.pdf "${list[@]}" >/dev/null
  read -r secs kib < mem
  printf '  %3d pages: %8d KiB, %6.2f s, %9d bytes\n' "$count" "$kib" "$secs" "$(bytes many.pdf)"
done
