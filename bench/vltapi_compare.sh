#!/usr/bin/env bash
# The engine API on twelve 300-dpi rendered text pages beside G4 (libtiff), JBIG1 (pbmtojbg) and
# the public JBIG2 encoder (generic mode; symbol mode -s -p per page and as one twelve-page
# section). Bytes per page for our profiles 1-3, lossless and lossy at the defaults, as one
# section; the black-pixel difference of every lossy coding after jbig2dec; whole-process time
# and peak memory of the twelve-page section. Prints a table of ratios.
# usage: bench/vltapi_compare.sh BUILD_DIR [PAGES]
#   BUILD_DIR: a build with benchmarks (build/default); PAGES: sample page names (doc1 .. doc12)
set -euo pipefail
build=${1:?usage: $0 BUILD_DIR [PAGES]}
shift
names=("$@")
[ ${#names[@]} -gt 0 ] || names=(doc1 doc2 doc3 doc4 doc5 doc6 doc7 doc8 doc9 doc10 doc11 doc12)
ours="$build/bench/vltapi_encode"
peer=$("$(dirname "$0")/../../shared/peers/build-jbig2enc.sh")
for t in pbmtojbg pnmtotiff jbig2dec python3; do
  command -v $t >/dev/null || { echo "$t is missing" >&2; exit 2; }
done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
pages=()
for n in "${names[@]}"; do pages+=("$("$build/bench/jb2_generic_encode" --page "$n")"); done
count=${#pages[@]}
bytes() { cat "$@" | wc -c; }

# Black pixels differing after decoding (bench/lossy_diff.py tells the three figures).
diff_share() {  # file of lines "decoded original"
  python3 "$(dirname "$0")/lossy_diff.py" "$1"
}
decode_all() {  # globals-for-page-function outdir prefix list
  local list=$1 k=0; : > "$list.pairs"
  mkdir -p "$work/dec"
  while read -r g p o; do
    k=$((k + 1))
    jbig2dec -e -t pbm -o "$work/dec/$k.pbm" $g "$p" >/dev/null 2>&1
    echo "$work/dec/$k.pbm $o" >> "$list.pairs"
  done < "$list"
  diff_share "$list.pairs"
}

declare -A total
# G4 and JBIG1 per page.
mkdir -p "$work/ref"
for i in "${!pages[@]}"; do
  pnmtotiff -g4 "${pages[$i]}" > "$work/ref/$i.tif" 2>/dev/null
  pbmtojbg "${pages[$i]}" "$work/ref/$i.jbg"
  "$peer" -p "${pages[$i]}" > "$work/ref/$i.gen" 2>/dev/null
  (cd "$work/ref" && "$peer" -s -p -b "sym$i" "${pages[$i]}" >/dev/null 2>&1)
done
total[g4]=$(bytes "$work"/ref/*.tif)
total[jbig1]=$(bytes "$work"/ref/*.jbg)
total[gen]=$(bytes "$work"/ref/*.gen)
total[symeach]=$(bytes "$work"/ref/sym*)
(cd "$work/ref" && "$peer" -s -p -b multi "${pages[@]}" >/dev/null 2>&1)
total[symsec]=$(bytes "$work"/ref/multi.*)
: > "$work/symsec.list"; : > "$work/symeach.list"
for i in "${!pages[@]}"; do
  printf '%s %s %s\n' "$work/ref/multi.sym" "$work/ref/multi.$(printf %04d "$i")" "${pages[$i]}" >> "$work/symsec.list"
  printf '%s %s %s\n' "$work/ref/sym$i.sym" "$work/ref/sym$i.0000" "${pages[$i]}" >> "$work/symeach.list"
done
read -r dsec dsecmax dsecfar < <(decode_all "$work/symsec.list")
read -r deach deachmax deachfar < <(decode_all "$work/symeach.list")

printf 'bytes per page over %d pages (ours: one section; ratios: ours / reference)\n' "$count"
printf '%-14s %9s %7s %7s %7s %9s %9s | %s\n' coding bytes/pg 'x G4' 'x JBIG1' 'x j2e-g' 'x j2e-s1' 'x j2e-sN' 'black-pixel diff mean/max/far'
row() { awk -v n="$count" -v b="$2" -v g4="${total[g4]}" -v j1="${total[jbig1]}" -v gen="${total[gen]}" \
          -v se="${total[symeach]}" -v ss="${total[symsec]}" -v name="$1" -v d="$3" \
  'BEGIN { printf "%-14s %9.0f %7.3f %7.3f %7.3f %9.3f %9.3f | %s\n", name, b / n, b / g4, b / j1, b / gen, b / se, b / ss, d }'; }
row G4 "${total[g4]}" "-"
row JBIG1 "${total[jbig1]}" "-"
row j2e-generic "${total[gen]}" "-"
row j2e-sym-page "${total[symeach]}" "$deach / $deachmax / $deachfar"
row j2e-sym-sect "${total[symsec]}" "$dsec / $dsecmax / $dsecfar"
for mode in lossless lossy; do
  for p in 1 2 3; do
    d="$work/ours-$mode-$p"; mkdir -p "$d"
    flag=""; [ $mode = lossy ] && flag=-lossy
    "$ours" -p $p $flag "$d" "${pages[@]}" > "$work/out-$mode-$p.txt"
    : > "$work/list-$mode-$p"
    for i in "${!pages[@]}"; do printf '%s %s %s\n' "$d/dict.0" "$d/page.$(printf %04d "$i")" "${pages[$i]}" >> "$work/list-$mode-$p"; done
    read -r dm dmax dfar < <(decode_all "$work/list-$mode-$p")
    row "ours-$mode-p$p" "$(bytes "$d"/dict.* "$d"/page.*)" "$dm / $dmax / $dfar"
  done
done
# Lossless profile 3 with every page a section of its own (its dictionary counted) against the
# public encoder's generic mode, worst page.
mkdir -p "$work/each"
"$ours" -p 3 -each "$work/each" "${pages[@]}" >/dev/null
worst=0
for i in "${!pages[@]}"; do
  r=$(awk -v a="$(bytes "$work/each/dict.$i" "$work/each/page.$(printf %04d "$i")")" -v b="$(bytes "$work/ref/$i.gen")" \
      'BEGIN { printf "%.3f", a / b }')
  worst=$(awk -v a="$r" -v b="$worst" 'BEGIN { print (a > b ? a : b) }')
done
printf 'lossless p3, one-page sections / j2e generic, worst page: %s\n' "$worst"

# Whole-process time and peak memory of the twelve-page section (median of 3).
measure() {
  local t=() m=0 o
  for _ in 1 2 3; do
    /usr/bin/time -o "$work/time" -f '%e %M' bash -c "$1" >/dev/null 2>&1
    o=$(tail -n 1 "$work/time")
    t+=("${o% *}"); [ "${o#* }" -gt "$m" ] && m=${o#* }
  done
  printf '%s %s\n' "$(printf '%s\n' "${t[@]}" | sort -g | sed -n 2p)" "$m"
}
mkdir -p "$work/t"
read -r to mo < <(measure "'$ours' -lossy '$work/t' ${pages[*]}")
read -r tl ml < <(measure "'$ours' -p 3 '$work/t' ${pages[*]}")
read -r tj mj < <(measure "cd '$work/t' && '$peer' -s -p -b m ${pages[*]}")
awk -v n="$count" -v to="$to" -v mo="$mo" -v tl="$tl" -v ml="$ml" -v tj="$tj" -v mj="$mj" 'BEGIN {
  printf "%d-page section, whole process: ours lossy p2 %.3f s/page %d KiB, ours lossless p3 %.3f s/page %d KiB, j2e -s -p %.3f s/page %d KiB\n", n, to / n, mo, tl / n, ml, tj / n, mj
  printf "time ratio lossy / j2e %.2f, memory ratio %.2f\n", to / tj, mo / mj }'
