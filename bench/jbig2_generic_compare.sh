#!/usr/bin/env bash
# Generic region coding of the eight CCITT charts and two 300-dpi rendered pages, whole process
# each: our MQ coder (template 0, typical prediction) and MMR beside the public JBIG2 encoder's
# generic mode (jbig2 -d: the same coder, template and prediction) and pbmtojbg (JBIG1). Prints
# the coded bytes and the time ratios (ours / theirs) of every page.
# usage: bench/jbig2_generic_compare.sh BUILD_DIR [RUNS]
#   BUILD_DIR: a build of this project with benchmarks (build/default); RUNS: runs a timing (20)
set -euo pipefail
build=${1:?usage: $0 BUILD_DIR [RUNS]}
runs=${2:-20}
ours="$build/bench/jb2_generic_encode"
peer=$("$(dirname "$0")/../../shared/peers/build-jbig2enc.sh")
command -v pbmtojbg >/dev/null || { echo "pbmtojbg is missing: apt-get install jbigkit-bin" >&2; exit 2; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# CPU seconds (user + system) of `runs` runs of a command, the best of three tries.
cpu() {
  local best="" t
  for _ in 1 2 3; do
    t=$( { /usr/bin/time -f '%U %S' bash -c "for ((i = 0; i < $runs; i++)); do $1 >/dev/null 2>&1; done" ; } 2>&1 |
         tail -n 1 | awk '{ print $1 + $2 }')
    if [ -z "$best" ] || awk -v a="$t" -v b="$best" 'BEGIN { exit !(a < b) }'; then best=$t; fi
  done
  echo "$best"
}
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", (b > 0 ? a / b : 0) }'; }

printf '%-8s %9s %9s %6s %9s %9s | %7s %7s %7s %7s\n' page MQ jbig2enc MQ/j2e MMR JBIG1 \
  'MQ/j2e' 'MQ/J1' 'MMR/j2e' 'MMR/J1'
printf '%-8s %9s %9s %6s %9s %9s | %31s\n' '' '(region bytes)' '' '' '(region)' '(file)' 'CPU time ratios'
for page in ccitt1 ccitt2 ccitt3 ccitt4 ccitt5 ccitt6 ccitt7 ccitt8 doc3 doc10; do
  pbm=$("$ours" --page "$page")
  "$ours" "$pbm" "$work/mq.jb2"
  "$ours" -m "$pbm" "$work/mmr.jb2"
  "$peer" -d "$pbm" >"$work/peer.jb2" 2>/dev/null
  pbmtojbg "$pbm" "$work/j1.jbg"
  mq=$("$ours" --regions "$work/mq.jb2")
  mmr=$("$ours" --regions "$work/mmr.jb2")
  pe=$("$ours" --regions "$work/peer.jb2")
  j1=$(stat -c %s "$work/j1.jbg")
  t_mq=$(cpu "$ours $pbm $work/t.jb2")
  t_mmr=$(cpu "$ours -m $pbm $work/t.jb2")
  t_pe=$(cpu "$peer -d $pbm")
  t_j1=$(cpu "pbmtojbg $pbm $work/t.jbg")
  printf '%-8s %9d %9d %6s %9d %9d | %7s %7s %7s %7s\n' "$page" "$mq" "$pe" "$(ratio "$mq" "$pe")" "$mmr" "$j1" \
    "$(ratio "$t_mq" "$t_pe")" "$(ratio "$t_mq" "$t_j1")" "$(ratio "$t_mmr" "$t_pe")" "$(ratio "$t_mmr" "$t_j1")"
done
