#!/usr/bin/env bash
# A long fuzzing campaign over the engine's page-file readers (PNG, JPEG, TIFF: file and memory),
# outside CI: each reader's target runs for SECONDS (default an hour), at most MONO_FUZZ_JOBS (2)
# at a time and at the lowest priority, from seeds made by the public tools (netpbm, cjpeg,
# libtiff's tools) in every coding they offer. The corpus grows in BUILD_DIR/fuzz-campaign/<target>
# and is kept for the next campaign; what libFuzzer keeps (crash-*, oom-*, timeout-*, slow-unit-*)
# goes to BUILD_DIR/fuzz-artifacts. The script fails naming the targets that found something.
# MONO_FUZZ_READERS chooses and orders the readers (default "tiff jpeg png").
#
#   scripts/fuzz-page-files.sh build/asan [SECONDS]
set -euo pipefail
build=${1:?usage: fuzz-page-files.sh BUILD_DIR [SECONDS]}
seconds=${2:-3600}
lanes=${MONO_FUZZ_JOBS:-2}
build=$(cd "$build" && pwd)
campaign=$build/fuzz-campaign
artifacts=$build/fuzz-artifacts
mkdir -p "$campaign" "$artifacts"
have() { command -v "$1" > /dev/null 2>&1; }

# Small pages with structure in every direction, as the converters take them.
pages=$(mktemp -d)
trap 'rm -rf "$pages"' EXIT
make_pages() {
  local w=67 h=45
  { printf 'P4\n%d %d\n' $w $h; head -c $(( (w + 7) / 8 * h )) /dev/urandom; } > "$pages/b.pbm"
  { printf 'P5\n%d %d\n255\n' $w $h; head -c $(( w * h )) /dev/urandom; } > "$pages/g.pgm"
  { printf 'P6\n%d %d\n255\n' $w $h; head -c $(( w * h * 3 )) /dev/urandom; } > "$pages/c.ppm"
}

seed_png() {
  local out=$1
  have pnmtopng || return 0
  pnmtopng "$pages/b.pbm" > "$out/b.png"
  pnmtopng "$pages/g.pgm" > "$out/g.png"
  pnmtopng "$pages/c.ppm" > "$out/c.png"
  pnmtopng -interlace "$pages/c.ppm" > "$out/ci.png"
  pnmtopng -alpha="$pages/g.pgm" "$pages/c.ppm" > "$out/ca.png"
  pnmtopng -text /dev/null "$pages/g.pgm" > "$out/gt.png" 2> /dev/null || true
  if have ppmquant; then ppmquant 16 "$pages/c.ppm" 2> /dev/null | pnmtopng > "$out/p.png"; fi
}

seed_jpeg() {
  local out=$1
  have cjpeg || return 0
  cjpeg "$pages/c.ppm" > "$out/c.jpg"
  cjpeg -grayscale "$pages/g.pgm" > "$out/g.jpg"
  cjpeg -progressive "$pages/c.ppm" > "$out/cp.jpg"
  cjpeg -arithmetic "$pages/c.ppm" > "$out/ca.jpg"
  cjpeg -restart 1 -sample 2x2 "$pages/c.ppm" > "$out/cr.jpg"
  cjpeg -rgb "$pages/c.ppm" > "$out/rgb.jpg"
  cjpeg -progressive -arithmetic -grayscale "$pages/g.pgm" > "$out/gpa.jpg"
}

seed_tiff() {
  local out=$1 c
  have pnmtotiff && have tiffcp || return 0
  pnmtotiff "$pages/b.pbm" > "$pages/b.tif" 2> /dev/null
  pnmtotiff "$pages/g.pgm" > "$pages/g.tif" 2> /dev/null
  pnmtotiff "$pages/c.ppm" > "$pages/c.tif" 2> /dev/null
  for c in none lzw zip packbits g3 g4; do
    tiffcp -c $c "$pages/b.tif" "$out/b-$c.tif"
    tiffcp -t -c $c "$pages/b.tif" "$out/bt-$c.tif"
  done
  for c in none lzw zip packbits jpeg; do
    tiffcp -c $c -r 16 "$pages/g.tif" "$out/g-$c.tif"
    tiffcp -c $c -r 16 "$pages/c.tif" "$out/c-$c.tif"
    tiffcp -t -c $c "$pages/c.tif" "$out/ct-$c.tif"
  done
  tiffcp -p separate "$pages/c.tif" "$out/c-planar.tif"
  tiffcp -c g4 "$pages/b.tif" -c lzw "$pages/g.tif" "$pages/c.tif" "$out/pages.tif"
}

make_pages
targets=()
for name in ${MONO_FUZZ_READERS:-tiff jpeg png}; do
  target=$build/fuzz/page_${name}_fuzz
  [ -x "$target" ] || { echo "==> $target is missing: build the asan preset's page_${name}_fuzz"; exit 1; }
  mkdir -p "$campaign/page_${name}_fuzz"
  "seed_$name" "$campaign/page_${name}_fuzz"
  targets+=("$target")
done

results=$(mktemp -d)
trap 'rm -rf "$pages" "$results"' EXIT
run_one() {
  local target=$1 name rc=0
  name=$(basename "$target")
  nice -n 19 "$target" -max_total_time="$seconds" -timeout=60 -rss_limit_mb=2048 -print_final_stats=1 \
    -artifact_prefix="$artifacts/$name-" "$campaign/$name" > "$results/$name.log" 2>&1 || rc=$?
  echo "$rc" > "$results/$name.rc"
}
export -f run_one
export seconds artifacts campaign results

printf '==> %s reader(s) for %ss each, %s at a time, at nice 19\n' "${#targets[@]}" "$seconds" "$lanes"
printf '%s\n' "${targets[@]}" | xargs -P "$lanes" -I{} bash -c 'run_one "$1"' _ {}

failed=()
for target in "${targets[@]}"; do
  name=$(basename "$target")
  printf '\n==> %s: %s inputs in the corpus\n' "$name" "$(find "$campaign/$name" -type f | wc -l)"
  grep -h -e '^stat::number_of_executed_units' -e '^stat::peak_rss_mb' -e '^Done' "$results/$name.log" || true
  if [ "$(cat "$results/$name.rc")" != 0 ]; then
    failed+=("$name")
    grep -h -e '^==[0-9]*== ERROR' -e 'ERROR: libFuzzer' -e 'Test unit written' "$results/$name.log" || true
  fi
done
if [ ${#failed[@]} -gt 0 ]; then
  echo "==> found something: ${failed[*]} (inputs in $artifacts)"
  exit 1
fi
echo "==> no finding"
