#!/usr/bin/env python3
"""Text-layer XML of a page from the words pdftotext -bbox found on it: one Glyphs run per word,
positions in pixels at the given resolution (the page rendered at that resolution matches).

usage: words_to_text_layer.py BBOX.html DPI > PAGE.xml
"""
import re
import sys
from xml.sax.saxutils import quoteattr


def main():
    html, dpi = sys.argv[1], float(sys.argv[2])
    k = dpi / 72.0
    word = re.compile(r'<word xMin="([\d.]+)" yMin="([\d.]+)" xMax="([\d.]+)" yMax="([\d.]+)">(.*?)</word>')
    out = ['<?xml version="1.0" encoding="UTF-8"?>', "<Page>"]
    with open(html, encoding="utf-8") as f:
        for m in word.finditer(f.read()):
            x0, y0, x1, y1 = (float(v) * k for v in m.groups()[:4])
            text = m.group(5).replace("&amp;", "&").replace("&lt;", "<").replace("&gt;", ">").replace("&quot;", '"')
            out.append('  <Glyphs x0="%d" xw="%d" yb="%d" yh="%d" famStyle="4" str=%s/>'
                       % (round(x0), round(x1 - x0), round(y1), round(y1 - y0), quoteattr(text)))
    out.append("</Page>")
    print("\n".join(out))


if __name__ == "__main__":
    main()
