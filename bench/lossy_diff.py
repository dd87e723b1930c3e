#!/usr/bin/env python3
# Black pixels that differ between decoded lossy pages and their originals, for lines of
# "decoded.pbm original.pbm" in the file named first: the mean and largest share of the page's
# black pixels, and the mean share that lies farther than one pixel (4-neighbour) from the other
# image's ink. Edge differences of accepted shapes stay near; substituted or misplaced shapes do
# not, so the last figure is the substitution check.
import re
import sys


def load(path):
    data = open(path, 'rb').read()
    m = re.match(rb'P4\s+(?:#.*\n\s*)*(\d+)\s+(\d+)\s', data)
    return (int(m.group(1)) + 7) // 8 * 8, int.from_bytes(data[m.end():], 'big')


def grow(x, stride):
    return x | (x << 1) | (x >> 1) | (x << stride) | (x >> stride)


def ones(v):
    return bin(v).count('1')


shares, far = [], []
for line in open(sys.argv[1]):
    dec, orig = line.split()
    stride, a = load(orig)
    _, b = load(dec)
    black = max(1, ones(a))
    shares.append(ones(a ^ b) / black)
    far.append(ones((a & ~grow(b, stride)) | (b & ~grow(a, stride))) / black)
print('%.4f %.4f %.5f' % (sum(shares) / len(shares), max(shares), sum(far) / len(far)))
