#include "jb2_test_stream.h"

#include <algorithm>
#include <cstring>
#include <random>
#include <stdexcept>
#include <utility>

#include "fax_decode.h"
#include "jb2_page_reader.h"
#include "vlt_state.h"

namespace jb2test {

WindowSource::WindowSource(VltState* state, const std::vector<uint8_t>& b, std::vector<uint32_t> s)
    : bytes(&b), sizes(std::move(s)) {
  source.moredata = more;
  source.context = this;
  source.state = state;
}

VltStatus WindowSource::more(DataSource* s, void*) {
  auto* w = static_cast<WindowSource*>(s->context);
  ++w->calls;
  if (w->next >= w->bytes->size()) return VLT_ERR_IO_LENGTH;
  const uint32_t n = std::min<uint32_t>(w->sizes[w->turn++ % w->sizes.size()],
                                        static_cast<uint32_t>(w->bytes->size() - w->next));
  s->data = w->bytes->data() + w->next;
  s->size = n;
  s->pos = 0;
  w->next += n;
  return VLT_OK;
}

void check(VltStatus st, const std::string& what) {
  if (st != VLT_OK) throw std::runtime_error(what + " failed with status " + std::to_string(st));
}

Bytes join_chunks(VltAdtList* chunks, VltState* state) {
  Bytes out;
  for (VltAdtListNode* n = chunks->first; n != nullptr; n = n->next) {
    auto* c = static_cast<Jb2MemChunk*>(n->data);
    out.insert(out.end(), c->buffer, c->buffer + c->used);
    state->free(c->buffer);
    state->free(c);
  }
  VltAdt_liFree(chunks);
  return out;
}

MemoryStream::MemoryStream(VltState* state) : state_(state) {
  check(jb2NewMemoryDataSink(state, &sink_), "jb2NewMemoryDataSink");
  const VltStatus st = jb2CreateFile(sink_, sink_, state, &file_);
  if (st != VLT_OK) {
    VltAdtList* chunks = nullptr;
    jb2CloseMemoryDataSink(sink_, &chunks);
    join_chunks(chunks, state);
    check(st, "jb2CreateFile");
  }
}

MemoryStream::~MemoryStream() {
  if (sink_ != nullptr) finish();
  jb2FreeFile(file_);
}

Bytes MemoryStream::finish() {
  VltAdtList* chunks = nullptr;
  const VltStatus st = jb2CloseMemoryDataSink(sink_, &chunks);
  sink_ = nullptr;
  Bytes out = join_chunks(chunks, state_);
  check(st, "jb2CloseMemoryDataSink");
  return out;
}

Bytes t88_file(VltState* state, const PageSetup& page, const SegmentWriter& segments,
               const Jb2FileParams* params) {
  MemoryStream s(state);
  if (params != nullptr) jb2SetFileParams(s.file(), params);
  // File header: the identification string, sequential organisation, one page.
  static constexpr uint8_t kHeader[] = {0x97, 'J',  'B', '2', 0x0D, 0x0A, 0x1A,
                                        0x0A, 0x01, 0,   0,   0,    1};
  check(jb2WriteBytes(s.file(), s.sink(), kHeader, sizeof kHeader), "file header");
  SegmentInfo info{};
  info.page = 1;
  info.body.pageInfo.width = page.width;
  info.body.pageInfo.height = page.height;
  info.body.pageInfo.xResolution = 11811;
  info.body.pageInfo.yResolution = 11811;
  info.body.pageInfo.eventuallyLossless = 1;
  info.body.pageInfo.defaultPixel = page.defaultPixel;
  check(jb2EncodePageInfo(s.file(), &info), "jb2EncodePageInfo");
  if (segments) check(segments(s.file()), "the page's segments");
  SegmentInfo eop{};
  eop.page = 1;
  check(jb2EncodeEOPage(s.file(), &eop), "jb2EncodeEOPage");
  SegmentInfo eof{};
  check(jb2EncodeEOFile(s.file(), &eof), "jb2EncodeEOFile");
  return s.finish();
}

std::vector<ParsedSegment> parse_segments(const Bytes& s, bool fileHeader) {
  size_t at = 0;
  auto need = [&](size_t n) {
    if (s.size() - at < n)
      throw std::runtime_error("stream ends inside a segment header at " + std::to_string(at));
  };
  auto u32 = [&]() {
    need(4);
    const uint32_t v =
        uint32_t(s[at]) << 24 | uint32_t(s[at + 1]) << 16 | uint32_t(s[at + 2]) << 8 | s[at + 3];
    at += 4;
    return v;
  };
  auto u8 = [&]() {
    need(1);
    return s[at++];
  };
  bool randomAccess = false;
  if (fileHeader) {
    static constexpr uint8_t kId[8] = {0x97, 'J', 'B', '2', 0x0D, 0x0A, 0x1A, 0x0A};
    need(9);
    if (!std::equal(kId, kId + 8, s.begin())) throw std::runtime_error("no JBIG2 file header");
    at = 8;
    const uint8_t flags = u8();
    randomAccess = (flags & 1) == 0;
    if ((flags & 2) == 0) u32();
  }
  std::vector<ParsedSegment> out;
  std::vector<uint32_t> lengths;  // random access: the data parts follow the end-of-file header
  while (at < s.size()) {
    ParsedSegment p;
    p.headerOffset = at;
    p.number = u32();
    const uint8_t flags = u8();
    p.type = flags & 0x3F;
    p.deferred = (flags & 0x80) != 0;
    const uint8_t first = u8();
    uint32_t count = first >> 5;
    std::vector<bool> bits;
    if (count == 7) {
      at -= 1;
      count = u32() & 0x1FFFFFFF;
      for (uint32_t i = 0; i < (count + 8) / 8; ++i) {
        const uint8_t b = u8();
        for (int k = 0; k < 8; ++k) bits.push_back((b >> k & 1) != 0);
      }
    } else {
      if (count > 4) throw std::runtime_error("bad referred-to count");
      for (int k = 0; k < 5; ++k) bits.push_back((first >> k & 1) != 0);
    }
    p.retain = bits[0];
    for (uint32_t i = 0; i < count; ++i) p.referredRetain.push_back(bits[i + 1]);
    for (uint32_t i = 0; i < count; ++i) {
      if (p.number <= 256) {
        p.referred.push_back(u8());
      } else if (p.number <= 65536) {
        need(2);
        p.referred.push_back(uint32_t(s[at]) << 8 | s[at + 1]);
        at += 2;
      } else {
        p.referred.push_back(u32());
      }
    }
    p.page = (flags & 0x40) ? u32() : u8();
    const uint32_t length = u32();
    if (length == 0xFFFFFFFF) throw std::runtime_error("unknown data length");
    if (randomAccess) {
      lengths.push_back(length);
      out.push_back(std::move(p));
      if (out.back().type == 51) break;
      continue;
    }
    need(length);
    p.data.assign(s.begin() + static_cast<long>(at), s.begin() + static_cast<long>(at + length));
    at += length;
    out.push_back(std::move(p));
  }
  if (randomAccess) {
    if (out.empty() || out.back().type != 51) throw std::runtime_error("no end of file after the headers");
    for (size_t i = 0; i < out.size(); ++i) {
      need(lengths[i]);
      out[i].data.assign(s.begin() + static_cast<long>(at), s.begin() + static_cast<long>(at + lengths[i]));
      at += lengths[i];
    }
    if (at != s.size()) throw std::runtime_error("bytes after the last data part");
  }
  return out;
}

VltImage* packed_image(VltState* state, const monotest::RefBitmap& bm, bool dirtyPadding) {
  VltImage* im = nullptr;
  check(VltImage_new(state, VLT_IMAGE_PACKED, bm.width, bm.height, &im), "VltImage_new");
  for (int y = 0; y < bm.height; ++y) {
    uint8_t* row = im->rows[y];
    std::memset(row, 0, static_cast<size_t>(im->hdr.bytesPerLine));
    std::memcpy(row, bm.row(y), bm.stride);
    if (dirtyPadding)
      for (int x = bm.width; x < im->hdr.bytesPerLine * 8; ++x)
        row[x >> 3] |= static_cast<uint8_t>(0x80u >> (x & 7));
    else if (bm.width % 8 != 0)
      row[bm.width >> 3] &= static_cast<uint8_t>(0xFF00u >> (bm.width & 7));
  }
  return im;
}

monotest::RefBitmap ref_bitmap(const VltImage* image) {
  monotest::RefBitmap bm(image->hdr.width, image->hdr.height);
  for (int y = 0; y < bm.height; ++y)
    for (int x = 0; x < bm.width; ++x) bm.set(x, y, VltImage_getPackedPixel(image, x, y));
  return bm;
}

SegmentInfo generic_record(VltImage* bitmap, uint32_t x, uint32_t y, bool mmr,
                           const Jb2GenericParams& params) {
  SegmentInfo seg{};
  seg.page = 1;
  seg.type = JB2_SEG_GENERIC_IMMEDIATE;
  seg.region = Jb2RegionInfo{static_cast<uint32_t>(bitmap->hdr.width),
                             static_cast<uint32_t>(bitmap->hdr.height), x, y, JB2_COMBOP_OR};
  seg.hasBitmap = 1;
  seg.bitmap = bitmap;
  seg.body.generic.mmr = mmr ? 1 : 0;
  seg.body.generic.params = params;
  return seg;
}

monotest::RefBitmap mmr_decode(const uint8_t* data, size_t size, int width, int height, bool eob,
                               size_t* used, VltState* state) {
  const int words = (width + 31) / 32;
  std::vector<uint32_t> rows(static_cast<size_t>(words) * static_cast<size_t>(height) + 1, 0);
  size_t taken = 0;
  check(g4Decode(rows.data(), width, height, words, 0, width - 1, height - 1, data, size,
                 eob ? 1 : 0, &taken, state),
        "g4Decode");
  if (used != nullptr) *used = taken;
  monotest::RefBitmap bm(width, height);
  const auto* bytes = reinterpret_cast<const uint8_t*>(rows.data());
  for (int y = 0; y < height; ++y)
    std::memcpy(bm.row(y), bytes + static_cast<size_t>(y) * words * 4, bm.stride);
  return bm;
}

monotest::RefBitmap decode_generic_data(const Bytes& d, VltState* state) {
  if (d.size() < 18) throw std::runtime_error("generic region data too short");
  auto be32 = [&](size_t at) {
    return uint32_t(d[at]) << 24 | uint32_t(d[at + 1]) << 16 | uint32_t(d[at + 2]) << 8 | d[at + 3];
  };
  const int w = static_cast<int>(be32(0)), h = static_cast<int>(be32(4));
  const uint8_t flags = d[17];
  size_t at = 18;
  if (flags & 1) return mmr_decode(d.data() + at, d.size() - at, w, h, false, nullptr, state);
  monotest::RefGenericParams p;
  p.gbTemplate = flags >> 1 & 3;
  p.tpgdon = (flags & 8) != 0;
  const int pairs = p.gbTemplate == 0 ? 4 : 1;
  if (d.size() < at + 2 * pairs) throw std::runtime_error("generic region AT bytes missing");
  for (int i = 0; i < pairs; ++i) {
    p.atx[i] = static_cast<int8_t>(d[at++]);
    p.aty[i] = static_cast<int8_t>(d[at++]);
  }
  monotest::RefGenericDecoder dec(d.data() + at, d.size() - at);
  return dec.decode(w, h, p);
}

std::vector<GenericConfig> generic_configs() {
  struct At {
    const char* name;
    int8_t x[4];
    int8_t y[4];
  };
  const At nominal[4] = {{"nominal", {3, -3, 2, -2}, {-1, -1, -2, -2}},
                         {"nominal", {3}, {-1}},
                         {"nominal", {2}, {-1}},
                         {"nominal", {2}, {-1}}};
  const At custom[4] = {{"custom", {-5, 127, 0, -128}, {0, -1, -128, -3}},
                        {"custom", {-128}, {0}},
                        {"custom", {4}, {-3}},
                        {"custom", {-1}, {-2}}};
  std::vector<GenericConfig> out;
  out.push_back({"MMR", true, {}});
  for (uint8_t t = 0; t < 4; ++t)
    for (const At* at : {&nominal[t], &custom[t]})
      for (uint8_t tp = 0; tp < 2; ++tp) {
        GenericConfig c;
        c.name = std::string("T");
        c.name.append(std::to_string(t))
            .append(" ")
            .append(at->name)
            .append(" AT")
            .append(tp ? " TPGDON" : "");
        c.params.gbTemplate = t;
        std::copy(at->x, at->x + 4, c.params.atx);
        std::copy(at->y, at->y + 4, c.params.aty);
        c.params.tpgdon = tp;
        out.push_back(c);
      }
  return out;
}

HalftoneSample::HalftoneSample(VltState* state, int pw, int ph, int n, int gw, int gh,
                               uint32_t seed)
    : patternWidth(pw),
      patternHeight(ph),
      patterns(n),
      gridWidth(gw),
      gridHeight(gh),
      state_(state) {
  std::mt19937 rng(seed);
  const int wpr = (pw + 31) / 32;
  for (int i = 0; i < n; ++i) {
    bitmaps.push_back(monotest::make_noise(pw, ph, 0.1 + 0.8 * i / std::max(1, n - 1),
                                           seed + static_cast<uint32_t>(i)));
    Bytes w(static_cast<size_t>(wpr) * 4 * static_cast<size_t>(ph), 0);
    for (int y = 0; y < ph; ++y)
      std::memcpy(w.data() + static_cast<size_t>(y) * wpr * 4, bitmaps[i].row(y),
                  bitmaps[i].stride);
    words_.push_back(std::move(w));
  }
  for (int i = 0; i < n; ++i)
    records_.push_back(HalftonePattern{words_[i].data(), static_cast<uint16_t>(wpr), 0});
  dict.page = 1;
  dict.body.patternDict =
      Jb2PatternDict{n, static_cast<uint16_t>(pw), static_cast<uint16_t>(ph), records_.data()};
  VltImage* g = nullptr;
  check(VltImage_new(state, VLT_IMAGE_SHORT, gw, gh, &g), "VltImage_new");
  for (int y = 0; y < gh; ++y)
    for (int x = 0; x < gw; ++x) {
      const int v = static_cast<int>(rng() % static_cast<uint32_t>(n));
      gray.push_back(v);
      const auto v16 = static_cast<int16_t>(v);
      std::memcpy(g->rows[y] + 2 * static_cast<size_t>(x), &v16, 2);
    }
  region.page = 1;
  region.type = JB2_SEG_HALFTONE_LOSSLESS;
  region.body.halftone.gray = g;
  region.body.halftone.patternDict = &dict;
}

HalftoneSample::~HalftoneSample() { VltImage_free(region.body.halftone.gray); }

VltStatus HalftoneSample::write(Jb2File* file, uint32_t x, uint32_t y, uint32_t width,
                                uint32_t height, int32_t gridX, int32_t gridY, int32_t vectorX,
                                int32_t vectorY) {
  if (const VltStatus st = jb2EncodeHTDict(file, &dict); st != VLT_OK) return st;
  referred_ = dict.number;
  region.referredCount = 1;
  region.referred = &referred_;
  region.referredRetain = &referredRetain_;
  region.region = Jb2RegionInfo{width, height, x, y, JB2_COMBOP_OR};
  Jb2HalftoneRegion& h = region.body.halftone;
  h.gridX = gridX;
  h.gridY = gridY;
  h.vectorX = vectorX;
  h.vectorY = vectorY;
  SegmentInfo* refs[] = {&dict};
  return jb2EncodeHTRegion(file, &region, refs);
}

monotest::RefBitmap HalftoneSample::render() const {
  const Jb2HalftoneRegion& h = region.body.halftone;
  monotest::RefBitmap out(static_cast<int>(region.region.width),
                          static_cast<int>(region.region.height));
  for (int m = 0; m < gridHeight; ++m)
    for (int n = 0; n < gridWidth; ++n) {
      const int x0 = (h.gridX + m * h.vectorY + n * h.vectorX) >> 8;
      const int y0 = (h.gridY + m * h.vectorX - n * h.vectorY) >> 8;
      const monotest::RefBitmap& p =
          bitmaps[static_cast<size_t>(gray[static_cast<size_t>(m * gridWidth + n)])];
      for (int v = 0; v < patternHeight; ++v)
        for (int u = 0; u < patternWidth; ++u) {
          const int x = x0 + u, y = y0 + v;
          if (x >= 0 && y >= 0 && x < out.width && y < out.height && p.get(u, v)) out.set(x, y, 1);
        }
    }
  return out;
}

Bytes embedded_page(VltState* state, const PageSetup& page, const std::vector<PageRegion>& regions) {
  const Bytes file = t88_file(state, page, [&](Jb2File* f) -> VltStatus {
    for (const PageRegion& r : regions) {
      VltImage* image = packed_image(state, r.bm);
      const Jb2GenericParams params{0, {3, -3, 2, -2}, {-1, -1, -2, -2}, 0};
      SegmentInfo seg = generic_record(image, r.x, r.y, r.mmr, params);
      seg.region.combOp = r.combOp;
      const VltStatus st = jb2EncodeGenRegion(f, &seg);
      VltImage_free(image);
      if (st != VLT_OK) return st;
    }
    return VLT_OK;
  });
  SplitFile split;
  if (!split_file(file.data(), file.size(), &split)) throw std::runtime_error("cannot split our own file");
  return split.embedded;
}

}  // namespace jb2test
