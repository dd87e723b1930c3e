#!/usr/bin/env bash
# Whole-process decoding beside jbig2dec: `monodoc decode` and `jbig2dec` run in turns on the same
# standalone JBIG2 files (paired runs, so that both meet the same machine load), and the medians
# of the per-pair time ratios and the peak memory of each are printed, with `monodoc help` beside
# `jbig2dec --version` for start-up.
# usage: bench/decode_compare.sh [-n PAIRS] BUILD_DIR [WORK_DIR]
# The files: 21 pages of a documentation PDF rendered at 300 dpi (poppler-utils), coded lossless
# and lossy by `monodoc encode --file` with the MQ coder (profile 3), by the public encoder in symbol mode when JBIG2ENC names
# its `jbig2` program, and a single text page and a single CCITT chart (jbigkit-testdata).
set -euo pipefail
pairs=9
if [ "${1:-}" = "-n" ]; then pairs=$2; shift 2; fi
[ $# -ge 1 ] || { echo "usage: $0 [-n PAIRS] BUILD_DIR [WORK_DIR]" >&2; exit 2; }
monodoc=$(cd "$1" && pwd)/tools/monodoc/monodoc
work=${2:-$(mktemp -d)}
mkdir -p "$work"
cd "$work"
for tool in jbig2dec pdftoppm jbgtopbm /usr/bin/time; do
  command -v "$tool" >/dev/null || { echo "$tool is missing (jbig2dec, poppler-utils, jbigkit-bin, time)" >&2; exit 2; }
done

pdf=/usr/share/doc/libtasn1-doc/libtasn1.pdf
if [ ! -e doc-21.pbm ]; then
  pdftoppm -r 300 -mono -f 1 -l 21 "$pdf" doc
  for f in doc-0*.pbm; do n=${f#doc-}; n=${n%.pbm}; mv "$f" "doc-$((10#$n)).pbm"; done
fi
pages=$(for i in $(seq 1 21); do echo "doc-$i.pbm"; done)
[ -e lossless.jb2 ] || "$monodoc" encode -q -p 3 --lossless --file lossless.jb2 $pages >/dev/null
[ -e lossy.jb2 ] || "$monodoc" encode -q -p 3 --lossy --file lossy.jb2 $pages >/dev/null
[ -e text.jb2 ] || "$monodoc" encode -q -p 3 --file text.jb2 doc-3.pbm >/dev/null
[ -e chart.pbm ] || jbgtopbm /usr/share/jbigkit-testdata/ccitt1.jbg chart.pbm
[ -e chart.jb2 ] || "$monodoc" encode -q -p 3 --file chart.jb2 chart.pbm >/dev/null
files="lossless lossy text chart"
if [ -n "${JBIG2ENC:-}" ]; then
  [ -e public.jb2 ] || "$JBIG2ENC" -s $pages >public.jb2 2>/dev/null
  files="lossless lossy public text chart"
fi

# One run: wall seconds and peak resident KiB.
run() {
  local start end
  start=$EPOCHREALTIME
  /usr/bin/time -o rec -f '%M' bash -c "exec $1" >/dev/null 2>&1 || { echo "failed: $1" >&2; exit 1; }
  end=$EPOCHREALTIME
  echo "$(awk -v s="$start" -v e="$end" 'BEGIN {printf "%.4f", e - s}') $(tail -n 1 rec)"
}
median() { sort -g | awk '{v[NR] = $1} END {print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2}'; }

# Paired runs of two commands: median time of each, median of the per-pair ratios, peak memory.
compare() {
  local name=$1 ours=$2 theirs=$3 i a b ta tb ma=0 mb=0
  : >ta.txt; : >tb.txt; : >ratio.txt
  for ((i = 0; i < pairs; i++)); do
    read -r a ma1 < <(run "$ours")
    read -r b mb1 < <(run "$theirs")
    echo "$a" >>ta.txt; echo "$b" >>tb.txt
    awk -v a="$a" -v b="$b" 'BEGIN {print (a > 0 ? b / a : 0)}' >>ratio.txt
    [ "$ma1" -gt "$ma" ] && ma=$ma1
    [ "$mb1" -gt "$mb" ] && mb=$mb1
  done
  printf '%-9s monodoc %7.3f s %7d KiB   jbig2dec %7.3f s %7d KiB   speed-up %.2fx  memory %.2f\n' "$name" \
    "$(median <ta.txt)" "$ma" "$(median <tb.txt)" "$mb" "$(median <ratio.txt)" \
    "$(awk -v a="$ma" -v b="$mb" 'BEGIN {print (b > 0 ? a / b : 0)}')"
}

echo "medians of $pairs paired runs; speed-up = jbig2dec time / monodoc time"
for f in $files; do
  rm -rf out && mkdir out
  compare "$f" "'$monodoc' decode -q -o out/m $f.jb2" "jbig2dec -t pbm -o out/j.pbm $f.jb2"
done
compare "start-up" "'$monodoc' help" "jbig2dec --version"
