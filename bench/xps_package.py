#!/usr/bin/env python3
"""Writes an XPS package of PAGES pages for the reader benchmark: each page a 300 ppi JPEG scan
(made with cjpeg from a drawn PPM), a PNG logo with alpha, colour rectangles and glyph runs in DejaVu Sans, as a
scanned office page carries them.

usage: bench/xps_package.py OUT.xps [PAGES]"""
import os
import struct
import subprocess
import sys
import tempfile
import zipfile
import zlib

NS = "http://schemas.microsoft.com/xps/2005/06"
FONT = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf"  # fonts-dejavu-core


def png_rgba(width, height):
    rows = []
    for y in range(height):
        row = bytearray(b"\0")
        for x in range(width):
            row += bytes((200, 30, 30, 255 if (x // 8 + y // 8) % 2 else 96))
        rows.append(bytes(row))
    raw = b"".join(rows)

    def chunk(kind, body):
        return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body) & 0xFFFFFFFF)

    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0)) +
            chunk(b"IDAT", zlib.compress(raw)) + chunk(b"IEND", b""))


def scan_jpeg(width, height, seed):
    # Text-like stripes on paper white, different on every page.
    rows = []
    for y in range(height):
        dark = (y // 12) % 5 != 4 and (y % 12) < 7
        row = bytearray()
        for x in range(width):
            ink = dark and ((x * 7 + y * 3 + seed * 13) // 29) % 3 == 0
            row += b"\x20\x20\x30" if ink else b"\xf4\xf2\xec"
        rows.append(bytes(row))
    with tempfile.TemporaryDirectory() as tmp:
        ppm = os.path.join(tmp, "page.ppm")
        with open(ppm, "wb") as f:
            f.write(b"P6\n%d %d\n255\n" % (width, height) + b"".join(rows))
        return subprocess.run(["cjpeg", "-quality", "85", ppm], check=True, capture_output=True).stdout


def main():
    out = sys.argv[1]
    pages = int(sys.argv[2]) if len(sys.argv) > 2 else 20
    width, height = 2550, 3300  # a letter page at 300 ppi
    z = zipfile.ZipFile(out, "w", zipfile.ZIP_DEFLATED)
    z.writestr("[Content_Types].xml",
               '<Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types">'
               '<Default Extension="rels" ContentType="application/vnd.openxmlformats-package.relationships+xml"/>'
               '<Default Extension="fdseq" ContentType="application/vnd.ms-package.xps-fixeddocumentsequence+xml"/>'
               '<Default Extension="fdoc" ContentType="application/vnd.ms-package.xps-fixeddocument+xml"/>'
               '<Default Extension="fpage" ContentType="application/vnd.ms-package.xps-fixedpage+xml"/>'
               '<Default Extension="png" ContentType="image/png"/><Default Extension="jpg" ContentType="image/jpeg"/>'
               '</Types>')
    z.writestr("_rels/.rels",
               '<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">'
               '<Relationship Id="R1" Type="http://schemas.microsoft.com/xps/2005/06/fixedrepresentation" '
               'Target="/FixedDocumentSequence.fdseq"/></Relationships>')
    z.writestr("FixedDocumentSequence.fdseq", '<FixedDocumentSequence xmlns="%s"><DocumentReference '
               'Source="/Documents/1/FixedDocument.fdoc"/></FixedDocumentSequence>' % NS)
    z.writestr("Documents/1/FixedDocument.fdoc", '<FixedDocument xmlns="%s">%s</FixedDocument>' % (
        NS, "".join('<PageContent Source="Pages/%d.fpage"/>' % (i + 1) for i in range(pages))))
    z.writestr("Resources/logo.png", png_rgba(240, 120))
    with open(FONT, "rb") as f:
        z.writestr("Resources/font.ttf", f.read())
    brush = ('<Path Data="M {x},{y} L {r},{y} {r},{b} {x},{b} Z"><Path.Fill><ImageBrush ImageSource="{src}" '
             'Viewbox="0,0,{w},{h}" ViewboxUnits="Absolute" Viewport="{x},{y},{vw},{vh}" ViewportUnits="Absolute"/>'
             '</Path.Fill></Path>')
    for i in range(pages):
        z.writestr("Resources/scan%d.jpg" % (i + 1), scan_jpeg(width, height, i))
        body = brush.format(x=0, y=0, r=816, b=1056, vw=816, vh=1056, w=width, h=height,
                            src="/Resources/scan%d.jpg" % (i + 1))
        body += brush.format(x=600, y=40, r=696, b=88, vw=96, vh=48, w=240, h=120, src="/Resources/logo.png")
        body += '<Path Data="M 48,960 L 768,960 768,964 48,964 Z" Fill="#FF1E3C78"/>'
        body += "".join('<Glyphs FontUri="/Resources/font.ttf" FontRenderingEmSize="12" OriginX="72" OriginY="%d" '
                        'UnicodeString="Line %d of page %d"/>' % (120 + 16 * k, k + 1, i + 1) for k in range(40))
        z.writestr("Documents/1/Pages/%d.fpage" % (i + 1),
                   '<FixedPage xmlns="%s" Width="816" Height="1056">%s</FixedPage>' % (NS, body))
    z.close()


if __name__ == "__main__":
    main()
