#include "jb2_symbol_probe.h"

#include <algorithm>
#include <stdexcept>

#include "byteorder.h"

namespace jb2test {

using monotest::RefBitmap;

uint32_t ProbeBits::read(int n) {
  uint32_t v = 0;
  for (int i = 0; i < n; ++i, ++pos_) {
    if (pos_ / 8 >= size_) throw std::runtime_error("probe: read past the end of the data");
    v = v << 1 | ((data_[pos_ / 8] >> (7 - pos_ % 8)) & 1u);
  }
  return v;
}

void ProbeBits::skip_bytes(size_t n) {
  if (byte_pos() + n > size_) throw std::runtime_error("probe: skip past the end of the data");
  pos_ = (byte_pos() + n) * 8;
}

namespace {

// Canonical codes: by length, then line order.
void assign_codes(ProbeTable& t) {
  uint32_t code = 0;
  for (int len = 1; len <= 32; ++len) {
    for (ProbeLine& l : t.lines)
      if (l.pref == len) l.code = code++;
    code <<= 1;
  }
}

int16_t be16(const Bytes& d, size_t at) { return static_cast<int16_t>(mono::load_be16(d.data() + at)); }
int32_t be32(const Bytes& d, size_t at) { return static_cast<int32_t>(mono::load_be32(d.data() + at)); }

ProbeTable standard(const JhtTable& t) { return probe_table(t); }

}  // namespace

std::vector<uint32_t> probe_id_lengths(ProbeBits& bits, size_t n, std::vector<std::pair<int, int>>* items) {
  ProbeTable runs;
  for (int i = 0; i < 35; ++i) runs.lines.push_back({i, static_cast<int>(bits.read(4)), 0, PROBE_NORMAL});
  assign_codes(runs);
  std::vector<uint32_t> lengths;
  while (lengths.size() < n) {
    const int code = static_cast<int>(probe_read(bits, runs).value);
    const uint32_t extra = code == 32 ? bits.read(2) : code == 33 ? bits.read(3) : code == 34 ? bits.read(7) : 0;
    if (items != nullptr) items->push_back({code, static_cast<int>(extra)});
    if (code < 32) {
      lengths.push_back(static_cast<uint32_t>(code));
    } else if (code == 32) {
      if (lengths.empty()) throw std::runtime_error("probe: repeat before any length");
      const uint32_t last = lengths.back();
      lengths.insert(lengths.end(), 3 + extra, last);
    } else {
      lengths.insert(lengths.end(), code == 33 ? 3 + extra : 11 + extra, 0);
    }
  }
  if (lengths.size() != n) throw std::runtime_error("probe: run codes overrun the symbol count");
  bits.align();
  return lengths;
}

ProbeTable probe_table(const JhtTable& t) {
  ProbeTable p;
  const int normal = t.lineCount - t.hasLower - t.hasUpper - t.hasOOB;
  for (int i = 0; i < t.lineCount; ++i) {
    ProbeKind k = PROBE_NORMAL;
    if (i >= normal) {
      int special = i - normal;
      if (!t.hasLower) ++special;
      if (special == 1 && !t.hasUpper) ++special;
      k = special == 0 ? PROBE_LOWER : special == 1 ? PROBE_UPPER : PROBE_OOB;
    }
    p.lines.push_back({t.lines[i].rangeLow, t.lines[i].prefLen, t.lines[i].rangeLen, k});
  }
  assign_codes(p);
  return p;
}

ProbeTable probe_table_segment(const Bytes& d) {
  if (d.size() < 9) throw std::runtime_error("probe: short table segment");
  const int oob = d[0] & 1, ps = ((d[0] >> 1) & 7) + 1, rs = ((d[0] >> 4) & 7) + 1;
  const int64_t low = be32(d, 1), high = be32(d, 5);
  ProbeBits bits(d.data() + 9, d.size() - 9);
  ProbeTable t;
  for (int64_t cur = low; cur < high;) {
    const int pref = static_cast<int>(bits.read(ps));
    const int range = static_cast<int>(bits.read(rs));
    t.lines.push_back({cur, pref, range, PROBE_NORMAL});
    cur += int64_t{1} << range;
  }
  t.lines.push_back({low - 1, static_cast<int>(bits.read(ps)), 32, PROBE_LOWER});
  t.lines.push_back({high, static_cast<int>(bits.read(ps)), 32, PROBE_UPPER});
  if (oob) t.lines.push_back({0, static_cast<int>(bits.read(ps)), 0, PROBE_OOB});
  assign_codes(t);
  return t;
}

ProbeValue probe_read(ProbeBits& bits, const ProbeTable& t) {
  uint32_t code = 0;
  for (int len = 1; len <= 32; ++len) {
    code = code << 1 | bits.read(1);
    for (const ProbeLine& l : t.lines) {
      if (l.pref != len || l.code != code) continue;
      switch (l.kind) {
        case PROBE_OOB: return {true, 0};
        case PROBE_LOWER: return {false, l.low - bits.read(32)};
        case PROBE_UPPER: return {false, l.low + bits.read(32)};
        default: return {false, l.low + (l.range > 0 ? bits.read(l.range) : 0)};
      }
    }
  }
  throw std::runtime_error("probe: no code matches");
}

ProbeDict probe_symbol_dict(const Bytes& d, const std::vector<ProbeTable>& tables, VltState* state) {
  ProbeDict out;
  out.flags = static_cast<uint16_t>(be16(d, 0));
  if ((out.flags & 1) == 0) throw std::runtime_error("probe: reads Huffman dictionaries only");
  const uint32_t newSymbols = static_cast<uint32_t>(be32(d, 6));
  size_t nextTable = 0;
  auto pick = [&](int sel, const JhtTable& a, const JhtTable& b) {
    if (sel == 3) return tables.at(nextTable++);
    return standard(sel == 0 ? a : b);
  };
  const ProbeTable dh = pick((out.flags >> 2) & 3, stdhuffDH1, stdhuffDH2);
  const ProbeTable dw = pick((out.flags >> 4) & 3, stdhuffDW1, stdhuffDW2);
  const ProbeTable a = standard(stdhuffA);
  ProbeBits bits(d.data() + 10, d.size() - 10);
  int64_t height = 0;
  while (out.symbols.size() < newSymbols) {
    const int64_t dhv = probe_read(bits, dh).value;
    out.heightDeltas.push_back(dhv);
    height += dhv;
    std::vector<int64_t> widths;
    int64_t width = 0, total = 0;
    for (;;) {
      const ProbeValue v = probe_read(bits, dw);
      if (v.oob) break;
      out.widthDeltas.push_back(v.value);
      width += v.value;
      widths.push_back(width);
      total += width;
    }
    const uint32_t bmsize = static_cast<uint32_t>(probe_read(bits, a).value);
    out.bmsizes.push_back(bmsize);
    bits.align();
    RefBitmap collective(static_cast<int>(total), static_cast<int>(height));
    if (bmsize == 0) {
      const size_t row = static_cast<size_t>((total + 7) / 8);
      if (bits.left() < row * static_cast<size_t>(height)) throw std::runtime_error("probe: short raw bitmap");
      for (int y = 0; y < height; ++y) std::copy(bits.here() + y * row, bits.here() + (y + 1) * row, collective.row(y));
      bits.skip_bytes(row * static_cast<size_t>(height));
    } else {
      size_t used = 0;
      collective = mmr_decode(bits.here(), bmsize, static_cast<int>(total), static_cast<int>(height), false, &used,
                              state);
      bits.skip_bytes(bmsize);
    }
    int64_t x = 0;
    for (int64_t w : widths) {
      RefBitmap s(static_cast<int>(w), static_cast<int>(height));
      for (int yy = 0; yy < height; ++yy)
        for (int xx = 0; xx < w; ++xx) s.set(xx, yy, collective.get(static_cast<int>(x + xx), yy));
      out.symbols.push_back(std::move(s));
      x += w;
    }
  }
  out.exportRuns.push_back(probe_read(bits, a).value);
  out.exportRuns.push_back(probe_read(bits, a).value);
  return out;
}

ProbeText probe_text_region(const Bytes& d, const std::vector<std::pair<int, int>>& sizes,
                            const std::vector<ProbeTable>& tables) {
  ProbeText out;
  out.flags = static_cast<uint16_t>(be16(d, 17));
  if ((out.flags & 1) == 0) throw std::runtime_error("probe: reads Huffman text regions only");
  out.huffmanFlags = static_cast<uint16_t>(be16(d, 19));
  const uint32_t count = static_cast<uint32_t>(be32(d, 21));
  out.logStrips = (out.flags >> 2) & 3;
  out.corner = (out.flags >> 4) & 3;
  out.transposed = (out.flags >> 6) & 1;
  out.dsOffset = (out.flags >> 10) & 0x1F;
  if (out.dsOffset >= 16) out.dsOffset -= 32;
  size_t nextTable = 0;
  auto pick = [&](int sel, std::initializer_list<const JhtTable*> group) {
    if (sel == 3) return tables.at(nextTable++);
    return standard(**(group.begin() + sel));
  };
  const ProbeTable fs = pick(out.huffmanFlags & 3, {&stdhuffFS1, &stdhuffFS2});
  const ProbeTable ds = pick((out.huffmanFlags >> 2) & 3, {&stdhuffDS1, &stdhuffDS2, &stdhuffDS3});
  const ProbeTable dt = pick((out.huffmanFlags >> 4) & 3, {&stdhuffDT1, &stdhuffDT2, &stdhuffDT3});
  ProbeBits bits(d.data() + 25, d.size() - 25);
  out.idLengths = probe_id_lengths(bits, sizes.size());
  ProbeTable ids;
  for (size_t i = 0; i < sizes.size(); ++i)
    ids.lines.push_back({static_cast<int64_t>(i), static_cast<int>(out.idLengths[i]), 0, PROBE_NORMAL});
  assign_codes(ids);
  auto timed = [&](int field, const ProbeTable& t) {
    const size_t before = bits.bit_pos();
    const ProbeValue v = probe_read(bits, t);
    out.fieldBits[field] += bits.bit_pos() - before;
    return v;
  };
  const int64_t strips = int64_t{1} << out.logStrips;
  out.firstDT = timed(0, dt).value;
  int64_t stripT = -out.firstDT * strips, firstS = 0;
  while (out.instances.size() < count) {
    stripT += timed(0, dt).value * strips;
    int64_t curS = 0;
    for (bool first = true;; first = false) {
      if (first) {
        firstS += timed(2, fs).value;
        curS = firstS;
      } else {
        const ProbeValue v = timed(1, ds);
        if (v.oob) break;
        curS += v.value + out.dsOffset;
      }
      const int64_t t = stripT + (out.logStrips > 0 ? bits.read(out.logStrips) : 0);
      const uint32_t id = static_cast<uint32_t>(probe_read(bits, ids).value);
      const auto [w, h] = sizes.at(id);
      if (out.transposed) {
        out.instances.push_back({static_cast<int32_t>(t), static_cast<int32_t>(curS), id});
        curS += h - 1;
      } else {
        const int64_t y = out.corner == 1 ? t : t - h + 1;
        out.instances.push_back({static_cast<int32_t>(curS), static_cast<int32_t>(y), id});
        curS += w - 1;
      }
      if (out.instances.size() > count) throw std::runtime_error("probe: more instances than announced");
    }
  }
  return out;
}

std::vector<ProbeTable> referred_tables(const ParsedSegment& seg, const std::vector<ParsedSegment>& all) {
  std::vector<ProbeTable> out;
  for (uint32_t r : seg.referred)
    for (const ParsedSegment& s : all)
      if (s.number == r && s.type == 53) out.push_back(probe_table_segment(s.data));
  return out;
}

}  // namespace jb2test
