// Pattern dictionary and halftone region writers.

#include <cstring>

#include "checked_size.h"
#include "jb2_encode.h"
#include "vlt_blit.h"
#include "vlt_state.h"

namespace {

// Generic parameters of the bitmaps inside these segments, which carry no AT bytes of their own:
// the decoder derives A1 from the segment, and the others are the nominal ones.
Jb2GenericParams embedded_params(uint32_t gbTemplate, int8_t a1x, int8_t a1y) {
  Jb2GenericParams p{};
  p.gbTemplate = static_cast<uint8_t>(gbTemplate);
  p.atx[0] = a1x;
  p.aty[0] = a1y;
  if (gbTemplate == 0) {
    p.atx[1] = -3;
    p.aty[1] = -1;
    p.atx[2] = 2;
    p.aty[2] = -2;
    p.atx[3] = -2;
    p.aty[3] = -2;
  }
  return p;
}

bool is_halftone_type(uint8_t t) {
  return t == JB2_SEG_HALFTONE_INTERMEDIATE || t == JB2_SEG_HALFTONE_IMMEDIATE ||
         t == JB2_SEG_HALFTONE_LOSSLESS;
}

int16_t gray_at(const VltImage* gray, int32_t x, int32_t y) {
  int16_t v;
  std::memcpy(&v, gray->rows[y] + 2 * static_cast<size_t>(x), sizeof v);
  return v;
}

}  // namespace

VltStatus jb2EncodeHTDict(Jb2File* file, SegmentInfo* seg) {
  VltState* state = file->state;
  const Jb2FileParams& fp = file->params;
  const Jb2PatternDict& d = seg->body.patternDict;
  const bool mq = fp.pdArith != 0;
  // Sizes are single bytes in the segment; the collective bitmap must be addressable, and an MQ
  // dictionary's first adaptive pixel sits one pattern width to the left.
  int32_t totalWidth = 0;
  if (d.count < 1 || d.width < 1 || d.width > 255 || d.height < 1 || d.height > 255 ||
      d.patterns == nullptr ||
      !mono::checked_mul(static_cast<int32_t>(d.width), d.count, &totalWidth) ||
      (mq && (fp.pdTemplate > 3 || d.width > 128)))
    return Vlt_report(state, VLT_ERR_PARAM);

  seg->number = jb2FileNextSegmentNumber(file);
  seg->type = JB2_SEG_PATTERN_DICT;
  seg->retain = 1;
  seg->deferred = 0;
  seg->referredCount = 0;
  if (const VltStatus st = jb2BeginSegment(file, seg); st != VLT_OK) return st;
  DataSink* sink = file->dataSink;
  const uint8_t head[7] = {static_cast<uint8_t>(mq ? fp.pdTemplate << 1 : 0x01),
                           static_cast<uint8_t>(d.width),
                           static_cast<uint8_t>(d.height),
                           static_cast<uint8_t>((d.count - 1) >> 24),
                           static_cast<uint8_t>((d.count - 1) >> 16),
                           static_cast<uint8_t>((d.count - 1) >> 8),
                           static_cast<uint8_t>(d.count - 1)};
  if (const VltStatus st = jb2WriteBytes(file, sink, head, sizeof head); st != VLT_OK) return st;

  const int32_t words = (totalWidth + 31) / 32;
  auto* collective = static_cast<uint8_t*>(
      state->calloc(static_cast<size_t>(d.height), static_cast<size_t>(words) * 4));
  if (collective == nullptr) return Vlt_report(state, VLT_ERR_NOMEM);
  for (int32_t i = 0; i < d.count; ++i)
    VltBlat_blitBits(collective, words, 0, 0, totalWidth, d.height, d.patterns[i].bits,
                     d.patterns[i].wordsPerRow, d.width, d.height, i * d.width, 0);
  VltStatus st;
  if (!mq) {
    st = jb2MMREncodeDS(file, sink, collective, totalWidth, d.height, words, 0);
  } else {
    // A1 is the same pixel of the pattern to the left.
    const Jb2GenericParams p =
        embedded_params(fp.pdTemplate, static_cast<int8_t>(-static_cast<int32_t>(d.width)), 0);
    MqEncoder enc;
    dsInitVltEncode_MQEncoder(sink, &enc);
    st = jb2ArithEncodeImage(collective, totalWidth, d.height, words, &p, nullptr, file, &enc);
    if (st == VLT_OK) st = dsFinalVltEncode_MQEncoder(sink, &enc);
  }
  state->free(collective);
  if (st != VLT_OK) return st;
  return jb2EndSegment(file, seg);
}

VltStatus jb2EncodeHTRegion(Jb2File* file, SegmentInfo* seg, SegmentInfo* const* referred) {
  VltState* state = file->state;
  const Jb2FileParams& fp = file->params;
  const Jb2HalftoneRegion& h = seg->body.halftone;
  if (seg->referredCount != 1 || seg->referred == nullptr || referred == nullptr ||
      referred[0] == nullptr || referred[0]->type != JB2_SEG_PATTERN_DICT ||
      seg->referred[0] != referred[0]->number || !is_halftone_type(seg->type))
    return VLT_ERR_ASSERT;
  const Jb2PatternDict& dict = referred[0]->body.patternDict;
  const VltImage* gray = h.gray;
  const bool mq = fp.trArith != 0;
  if (gray == nullptr || gray->hdr.type != VLT_IMAGE_SHORT || dict.count < 1 ||
      h.combOp > JB2_COMBOP_REPLACE || (mq && fp.htTemplate > 3))
    return Vlt_report(state, VLT_ERR_PARAM);
  const int32_t gw = gray->hdr.width, gh = gray->hdr.height;
  // Every cell must name a pattern the dictionary has.
  for (int32_t y = 0; y < gh; ++y)
    for (int32_t x = 0; x < gw; ++x) {
      const int16_t v = gray_at(gray, x, y);
      if (v < 0 || v >= dict.count) return Vlt_report(state, VLT_ERR_PARAM);
    }

  seg->number = jb2FileNextSegmentNumber(file);
  seg->deferred = 0;
  seg->retain = 0;
  if (const VltStatus st = jb2BeginSegment(file, seg); st != VLT_OK) return st;
  DataSink* sink = file->dataSink;
  if (const VltStatus st = jb2EncodeRegSegment(file, sink, &seg->region); st != VLT_OK) return st;
  uint8_t head[21];
  head[0] = static_cast<uint8_t>((mq ? fp.htTemplate << 1 : 0x01) | h.combOp << 4 |
                                 (h.defaultPixel ? 0x80 : 0));
  const uint32_t fields[4] = {static_cast<uint32_t>(gw), static_cast<uint32_t>(gh),
                              static_cast<uint32_t>(h.gridX), static_cast<uint32_t>(h.gridY)};
  for (int i = 0; i < 4; ++i)
    for (int b = 0; b < 4; ++b)
      head[1 + 4 * i + b] = static_cast<uint8_t>(fields[i] >> (24 - 8 * b));
  head[17] = static_cast<uint8_t>(h.vectorX >> 8);
  head[18] = static_cast<uint8_t>(h.vectorX);
  head[19] = static_cast<uint8_t>(h.vectorY >> 8);
  head[20] = static_cast<uint8_t>(h.vectorY);
  if (const VltStatus st = jb2WriteBytes(file, sink, head, sizeof head); st != VLT_OK) return st;

  const auto bpp = static_cast<int32_t>(ceillog2(static_cast<uint32_t>(dict.count)));
  if (bpp == 0) return jb2EndSegment(file, seg);
  // Gray-coded bit planes, one block: neighbouring grey values differ in one plane only.
  const int32_t words = (gw + 31) / 32;
  const size_t planeBytes = static_cast<size_t>(words) * 4 * static_cast<size_t>(gh);
  size_t total = 0;
  if (!mono::checked_mul(planeBytes, static_cast<size_t>(bpp), &total))
    return Vlt_report(state, VLT_ERR_NOMEM);
  auto* planes = static_cast<uint8_t*>(state->calloc(total > 0 ? total : 1, 1));
  if (planes == nullptr) return Vlt_report(state, VLT_ERR_NOMEM);
  auto plane = [&](int32_t j) { return planes + static_cast<size_t>(j) * planeBytes; };
  for (int32_t y = 0; y < gh; ++y)
    for (int32_t x = 0; x < gw; ++x) {
      const auto v = static_cast<uint32_t>(gray_at(gray, x, y));
      const uint32_t code = v ^ (v >> 1);
      for (int32_t j = 0; j < bpp; ++j)
        if (code >> j & 1)
          plane(j)[static_cast<size_t>(y) * words * 4 + (x >> 3)] |=
              static_cast<uint8_t>(0x80u >> (x & 7));
    }
  VltStatus st = VLT_OK;
  if (!mq) {
    for (int32_t j = bpp - 1; j >= 0 && st == VLT_OK; --j)
      st = jb2MMREncodeDS(file, sink, plane(j), gw, gh, words, 1);
  } else {
    const Jb2GenericParams p = embedded_params(fp.htTemplate, fp.htTemplate <= 1 ? 3 : 2, -1);
    auto* cx = static_cast<uint8_t*>(state->calloc(jb2ABContextsNeeded(&p), 1));
    if (cx == nullptr) {
      st = Vlt_report(state, VLT_ERR_NOMEM);
    } else {
      MqEncoder enc;
      dsInitVltEncode_MQEncoder(sink, &enc);
      for (int32_t j = bpp - 1; j >= 0 && st == VLT_OK; --j)
        st = jb2ArithEncodeImage(plane(j), gw, gh, words, &p, cx, file, &enc);
      state->free(cx);
      if (st == VLT_OK) st = dsFinalVltEncode_MQEncoder(sink, &enc);
    }
  }
  state->free(planes);
  if (st != VLT_OK) return st;
  return jb2EndSegment(file, seg);
}
