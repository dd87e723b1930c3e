#!/usr/bin/env bash
# Searchable scans: the pages of a documentation PDF rendered at 300 dpi (bilevel) and written by
# monodoc pdf with and without their text layers (text-layer XML made from the words pdftotext
# finds on the original pages); whole-process time of the two runs as a ratio, bytes the text
# adds per page, and how many of the words pdftotext finds again in the searchable PDF, at their
# boxes within two points.
# usage: bench/text_pdf_compare.sh BUILD_DIR [PAGES]   (PAGES: how many, default 20)
set -euo pipefail
build=${1:?usage: $0 BUILD_DIR [PAGES]}
count=${2:-20}
here=$(cd "$(dirname "$0")" && pwd)
monodoc=$(cd "$build" && pwd)/tools/monodoc/monodoc
source_pdf=/usr/share/doc/libtasn1-doc/libtasn1.pdf
for t in pdftoppm pdftotext python3; do command -v $t >/dev/null || { echo "$t is missing" >&2; exit 2; }; done
[ -r "$source_pdf" ] || { echo "$source_pdf is missing: apt-get install libtasn1-doc" >&2; exit 2; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
pages=() texts=()
for ((p = 1; p <= count; p++)); do
  pdftoppm -r 300 -mono -f $p -l $p -singlefile "$source_pdf" "page$p"
  pdftotext -bbox -f $p -l $p "$source_pdf" "words$p.html"
  python3 "$here/words_to_text_layer.py" "words$p.html" 300 > "page$p.xml"
  pages+=("page$p.pbm") texts+=(--text "page$p.xml")
done
plain="$monodoc pdf --test -o plain.pdf ${pages[*]}"
searchable="$monodoc pdf --test ${texts[*]} -o searchable.pdf ${pages[*]}"
$plain >/dev/null
$searchable >/dev/null
echo "== $count pages: bytes"
awk -v a="$(wc -c < searchable.pdf)" -v b="$(wc -c < plain.pdf)" -v n="$count" \
  'BEGIN { printf "with text %d, without %d: %.0f bytes of text per page\n", a, b, (a - b) / n }'
echo "== words found again (pdftotext -bbox, boxes within 2 pt)"
pdftotext -bbox searchable.pdf found.html
python3 - "$count" <<'PY'
import re, sys
word = re.compile(r'<word xMin="([\d.]+)" yMin="([\d.]+)" xMax="([\d.]+)" yMax="([\d.]+)">(.*?)</word>')
page = re.compile(r'<page .*?</page>', re.S)
found = [word.findall(p) for p in page.findall(open("found.html", encoding="utf-8").read())]
total = hit = 0
for n in range(1, int(sys.argv[1]) + 1):
    want = word.findall(open("words%d.html" % n, encoding="utf-8").read())
    have = found[n - 1] if n - 1 < len(found) else []
    for w in want:
        total += 1
        box = [float(v) for v in w[:4]]
        if any(h[4] == w[4] and all(abs(float(h[i]) - box[i]) <= 2.0 for i in range(4)) for h in have):
            hit += 1
print("%d of %d words at their boxes" % (hit, total))
PY
echo "== whole-process time: with text layers against without"
"$here/compare.sh" "$searchable" "$plain"
