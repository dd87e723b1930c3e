#!/usr/bin/env bash
# monodoc encode --file over long runs beside the public encoder's symbol mode (jbig2 -s) on the
# same pages: whole-process time and peak memory at 10, 50 and 200 pages, lossy and lossless, in
# paired runs (ours, then the reference, RUNS times; the median of the pair ratios); how peak
# memory grows from 10 to 200 pages; and the bytes the memory bound costs beside one unbounded
# section (--memory 0) at 200 pages.
# The pages are the sample pages in turn, moved a little further each round (shifted_pages.py).
# usage: bench/encode_scale.sh BUILD_DIR [RUNS]
#   BUILD_DIR: a build with monodoc and the benchmarks (build/default); RUNS: pairs (default 3)
set -euo pipefail
build=${1:?usage: $0 BUILD_DIR [RUNS]}
runs=${2:-3}
here=$(cd "$(dirname "$0")" && pwd)
monodoc="$build/tools/monodoc/monodoc"
peer=$("$here/../../shared/peers/build-jbig2enc.sh")
[ -x /usr/bin/time ] || { echo "GNU time is missing: apt-get install time" >&2; exit 2; }
command -v python3 >/dev/null || { echo "python3 is missing" >&2; exit 2; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

sources=()
for n in ccitt1 ccitt4 ccitt7 doc3 doc10; do sources+=("$("$build/bench/jb2_generic_encode" --page "$n")"); done
python3 "$here/shifted_pages.py" "$work/pages" 200 "${sources[@]}"
pages_of() { ls "$work"/pages/page-*.pbm | head -n "$1" | tr '\n' ' '; }

# One run: wall seconds and peak KiB.
run() {
  /usr/bin/time -o "$work/rec" -f '%e %M' bash -c "$1" >/dev/null 2>&1
  tail -n 1 "$work/rec"
}

# Paired runs of A and B: "medianA medianB medianRatioTime peakA peakB".
paired() {
  local a=$1 b=$2 i ta ma tb mb; local at=() bt=() rt=() pa=0 pb=0
  for ((i = 0; i < runs; i++)); do
    read -r ta ma < <(run "$a")
    read -r tb mb < <(run "$b")
    at+=("$ta"); bt+=("$tb"); rt+=("$(awk -v x="$ta" -v y="$tb" 'BEGIN { printf "%.4f", (y > 0 ? x / y : 0) }')")
    if [ "$ma" -gt "$pa" ]; then pa=$ma; fi
    if [ "$mb" -gt "$pb" ]; then pb=$mb; fi
  done
  med() { printf '%s\n' "$@" | sort -g | sed -n "$(( (runs + 1) / 2 ))p"; }
  echo "$(med "${at[@]}") $(med "${bt[@]}") $(med "${rt[@]}") $pa $pb"
}

printf '%-9s %5s %9s %9s %7s %10s %10s %7s\n' mode pages "ours s" "jbig2 s" "time" "ours KiB" "jbig2 KiB" "memory"
declare -A peak
for mode in lossy lossless; do
  flag=$([ $mode = lossy ] && echo --lossy || echo --lossless)
  for n in 10 50 200; do
    p=$(pages_of $n)
    read -r ta tb ratio ma mb < <(paired "$monodoc encode -q $flag -f $work/ours.jb2 $p" "$peer -s $p > $work/peer.jb2")
    peak[$mode$n]=$ma
    printf '%-9s %5d %9.2f %9.2f %7.2f %10d %10d %7.2f\n' $mode "$n" "$ta" "$tb" "$ratio" "$ma" "$mb" \
      "$(awk -v x="$ma" -v y="$mb" 'BEGIN { print (y > 0 ? x / y : 0) }')"
  done
done
echo
for mode in lossy lossless; do
  awk -v m=$mode -v a="${peak[${mode}200]}" -v b="${peak[${mode}10]}" \
    'BEGIN { printf "%s: peak memory at 200 pages / at 10 pages = %.2f\n", m, a / b }'
done

echo
echo "bytes at 200 pages by --memory (MB), beside one unbounded section (0):"
p=$(pages_of 200)
for mode in lossy lossless; do
  flag=$([ $mode = lossy ] && echo --lossy || echo --lossless)
  "$monodoc" encode -q $flag --memory 0 -f "$work/one.jb2" $p >/dev/null
  one=$(stat -c %s "$work/one.jb2")
  read -r _ onepeak < <(run "$monodoc encode -q $flag --memory 0 -f $work/one.jb2 $p")
  printf '%-9s %6s %9d bytes %8d KiB\n' $mode 0 "$one" "$onepeak"
  for m in 8 16 32 64; do
    read -r _ kib < <(run "$monodoc encode -q $flag --memory $m -f $work/bound.jb2 $p")
    size=$(stat -c %s "$work/bound.jb2")
    printf '%-9s %6s %9d bytes %8d KiB  %+.1f%% bytes\n' $mode $m "$size" "$kib" \
      "$(awk -v a="$size" -v b="$one" 'BEGIN { print 100 * (a - b) / b }')"
  done
done
