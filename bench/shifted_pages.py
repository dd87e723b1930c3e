#!/usr/bin/env python3
# Writes COUNT raw PBM pages OUT/page-NNN.pbm made from the given PBM pages in turn, each round
# moved right and down by a few more pixels (ink pushed past an edge is lost), so that a long run
# repeats real glyphs at new places.
# usage: shifted_pages.py OUT COUNT PAGE.pbm...
import os
import re
import sys


def load(path):
    data = open(path, 'rb').read()
    m = re.match(rb'P4\s+(?:#.*\n\s*)*(\d+)\s+(\d+)\s', data)
    if not m:
        sys.exit(path + ': not a raw PBM file')
    w, h = int(m.group(1)), int(m.group(2))
    stride = (w + 7) // 8
    body = data[m.end():m.end() + stride * h]
    return w, h, stride, [body[y * stride:(y + 1) * stride] for y in range(h)]


def shifted(page, dx, dy):
    w, h, stride, rows = page
    out = []
    blank = bytes(stride)
    mask = (1 << (stride * 8)) - 1
    pad = stride * 8 - w
    for y in range(h):
        if y < dy:
            out.append(blank)
            continue
        v = int.from_bytes(rows[y - dy], 'big') >> dx
        v &= mask ^ ((1 << pad) - 1)
        out.append(v.to_bytes(stride, 'big'))
    return b'P4\n%d %d\n' % (w, h) + b''.join(out)


def main():
    out, count, sources = sys.argv[1], int(sys.argv[2]), sys.argv[3:]
    os.makedirs(out, exist_ok=True)
    pages = [load(p) for p in sources]
    for i in range(count):
        r = i // len(pages)
        with open(os.path.join(out, 'page-%03d.pbm' % (i + 1)), 'wb') as f:
            f.write(shifted(pages[i % len(pages)], 3 * r % 61, 5 * r % 97))


main()
