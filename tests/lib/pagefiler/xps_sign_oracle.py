"""An independent check of OPC package signatures over unpacked packages, with lxml.

  xps_sign_oracle.py digests ROOT SIGNATURE
      recomputes every Manifest Reference of SIGNATURE over the package in folder ROOT: the
      part's bytes, or for a relationships part the OPC relationship transform (ECMA-376 Part 2,
      Relationships Transform Algorithm) followed by inclusive C14N; then SHA-1. Also checks the content type named in
      the URI against [Content_Types].xml. Prints "ok URI" or "BAD URI (why)" per reference and
      exits 1 when any is bad.
  xps_sign_oracle.py transform RELS [id:ID | type:TYPE]...
      prints the C14N of the transformed relationships part RELS.
"""

import base64
import hashlib
import os
import re
import sys

from lxml import etree

DSIG = "http://www.w3.org/2000/09/xmldsig#"
OPC_DSIG = "http://schemas.openxmlformats.org/package/2006/digital-signature"
RELS = "http://schemas.openxmlformats.org/package/2006/relationships"
REL_TRANSFORM = "http://schemas.openxmlformats.org/package/2006/RelationshipTransform"
PARSER = etree.XMLParser(resolve_entities=False, no_network=True, load_dtd=False)


def part_bytes(path):
    """A part's bytes: a file, or a folder of interleaved pieces joined in piece order."""
    if not os.path.isdir(path):
        with open(path, "rb") as f:
            return f.read()
    pieces = {}
    for name in os.listdir(path):
        m = re.fullmatch(r"\[(\d+)\](\.last)?\.piece", name)
        if not m:
            raise ValueError("not a piece: " + name)
        pieces[int(m.group(1))] = name
    if sorted(pieces) != list(range(len(pieces))):
        raise ValueError("pieces missing in " + path)
    data = b""
    for i in range(len(pieces)):
        with open(os.path.join(path, pieces[i]), "rb") as f:
            data += f.read()
    return data


def relationship_transform(data, ids, types):
    doc = etree.fromstring(data, PARSER)
    rels = [e for e in doc if isinstance(e.tag, str) and etree.QName(e).localname == "Relationship"]
    if ids or types:
        rels = [e for e in rels if e.get("Id") in ids or e.get("Type") in types]
    rels.sort(key=lambda e: e.get("Id").encode("utf-8"))
    out = etree.Element("{%s}Relationships" % RELS, nsmap={None: RELS})
    for e in rels:
        copy = etree.SubElement(out, "{%s}Relationship" % RELS)
        if e.get("TargetMode") is None:
            copy.set("TargetMode", "Internal")
        for key, value in e.attrib.items():
            copy.set(key, value)
    return etree.tostring(out, method="c14n")


def content_type(root, part):
    types = etree.fromstring(part_bytes(os.path.join(root, "[Content_Types].xml")), PARSER)
    extension = part.rsplit(".", 1)[1] if "." in part.rsplit("/", 1)[-1] else None
    for e in types:
        if not isinstance(e.tag, str):
            continue
        name = etree.QName(e).localname
        if name == "Override" and e.get("PartName") == part:
            return e.get("ContentType")
        if name == "Default" and extension is not None and e.get("Extension") == extension:
            return e.get("ContentType")
    if part == "/xmls/xml_1.xaml":
        return "application/xml"
    return None


def check_digests(root, signature):
    sig = etree.fromstring(open(signature, "rb").read(), PARSER)
    refs = sig.findall(".//{%s}Manifest/{%s}Reference" % (DSIG, DSIG))
    bad = 0
    for ref in refs:
        uri = ref.get("URI")
        part, _, query = uri.partition("?")
        why = None
        transforms = ref.findall("{%s}Transforms/{%s}Transform" % (DSIG, DSIG))
        data = part_bytes(root + part)
        if any(t.get("Algorithm") == REL_TRANSFORM for t in transforms):
            t = [t for t in transforms if t.get("Algorithm") == REL_TRANSFORM][0]
            ids = {c.get("SourceId") for c in t if etree.QName(c).localname == "RelationshipReference"}
            types = {c.get("SourceType") for c in t if etree.QName(c).localname == "RelationshipsGroupReference"}
            data = relationship_transform(data, ids, types)
        digest = base64.b64encode(hashlib.sha1(data).digest()).decode()
        if digest != ref.findtext("{%s}DigestValue" % DSIG):
            why = "digest"
        elif query != "ContentType=%s" % content_type(root, part):
            why = "content type"
        print(("BAD %s (%s)" % (uri, why)) if why else ("ok " + uri))
        bad += why is not None
    print("%d references" % len(refs))
    return 1 if bad else 0


def main():
    if sys.argv[1] == "digests":
        return check_digests(sys.argv[2], sys.argv[3])
    ids = {a[3:] for a in sys.argv[3:] if a.startswith("id:")}
    types = {a[5:] for a in sys.argv[3:] if a.startswith("type:")}
    sys.stdout.write(relationship_transform(part_bytes(sys.argv[2]), ids, types).decode())
    return 0


if __name__ == "__main__":
    sys.exit(main())
