// Generic region decoding: parsing the segment, the MQ template decoder, MMR, and composing the
// region into a page.
//
// The template decoder keeps each pixel's context as one running value. The context is made of
// runs of neighbouring pixels, one per row, that occupy consecutive bits with the leftmost pixel
// highest; moving one pixel right shifts every run up one bit, drops the pixel that leaves each
// run and brings in the one that enters at its right end. Adaptive pixels at their usual places
// extend those runs, so the usual case reads one new pixel per row above and costs a few shifts;
// adaptive pixels elsewhere are fetched afresh at every pixel with bounds tests.

#include <bit>
#include <cstring>

#include "byteorder.h"
#include "fax_decode.h"
#include "jb2_decode.h"
#include "jb2_memsink.h"
#include "vlt_blit.h"
#include "vlt_mq_fast.h"
#include "vlt_state.h"

namespace {

// ---- Template geometry -----------------------------------------------------------------------

// A run of n pixels of the row dy above, rightmost at column x + right, occupying context bits
// low .. low + n - 1 (the rightmost pixel lowest).
struct Run {
  int right;
  int low;
  int n;
};

struct Geometry {
  int rowBits;   // pixels x-1 .. x-rowBits of the current row, in bits 0 .. rowBits-1
  Run up1;       // the row above
  Run up2;       // two rows above (n == 0: none)
  int atCount;
  int atBit[4];
  int8_t atx[4]; // the usual adaptive pixels
  int8_t aty[4];
  uint32_t sltp; // context of the typical-prediction bit
};

// The fixed pixels of each template, without adaptive pixels.
constexpr Geometry kFixed[4] = {
    {4, {2, 5, 5}, {1, 12, 3}, 4, {4, 10, 11, 15}, {3, -3, 2, -2}, {-1, -1, -2, -2}, 0x9B25},
    {3, {2, 4, 5}, {2, 9, 4}, 1, {3}, {3}, {-1}, 0x0795},
    {2, {1, 3, 4}, {1, 7, 3}, 1, {2}, {2}, {-1}, 0x00E5},
    {4, {1, 5, 5}, {0, 0, 0}, 1, {4}, {2}, {-1}, 0x0195},
};

// The same with the adaptive pixels at their usual places folded into the runs.
constexpr Geometry kNominal[4] = {
    {4, {3, 4, 7}, {2, 11, 5}, 0, {}, {}, {}, 0x9B25},
    {3, {3, 3, 6}, {2, 9, 4}, 0, {}, {}, {}, 0x0795},
    {2, {2, 2, 5}, {1, 7, 3}, 0, {}, {}, {}, 0x00E5},
    {4, {2, 4, 6}, {0, 0, 0}, 0, {}, {}, {}, 0x0195},
};

constexpr uint32_t keep_mask(const Geometry& g) {
  auto run = [](int low, int n) { return n <= 1 ? 0u : ((1u << (n - 1)) - 1u) << (low + 1); };
  return run(0, g.rowBits) | run(g.up1.low, g.up1.n) | run(g.up2.low, g.up2.n);
}

bool nominal_at(const Jb2GenericParams& p) {
  const Geometry& f = kFixed[p.gbTemplate];
  for (int i = 0; i < f.atCount; ++i)
    if (p.atx[i] != f.atx[i] || p.aty[i] != f.aty[i]) return false;
  return true;
}

inline int pixel(const uint8_t* row, int32_t x) { return (row[x >> 3] >> (7 - (x & 7))) & 1; }

inline int pixel_checked(const uint8_t* row, int32_t x, int32_t width) {
  return row != nullptr && x >= 0 && x < width ? pixel(row, x) : 0;
}

// Word k of a row of nw words, 0 past its end.
inline uint32_t word(const uint8_t* row, int32_t k, int32_t nw) {
  return row != nullptr && k < nw ? mono::load_be32(row + 4 * static_cast<size_t>(k)) : 0u;
}

// The run's pixels left of column 0 of the next pixel: its state before pixel 0 is decoded.
inline uint32_t run_start(const uint8_t* row, const Run& r, int32_t width) {
  uint32_t v = 0;
  if (row == nullptr || r.n == 0) return 0;
  for (int c = 0; c < r.right; ++c) v |= static_cast<uint32_t>(pixel_checked(row, c, width)) << (r.low + r.right - 1 - c);
  return v;
}

// Decodes one row; rows above are null outside the image. Nominal: every context pixel is a run
// pixel, the output is collected a word at a time. Otherwise adaptive pixels are fetched per
// pixel and each pixel is written at once, as an adaptive pixel may read the current row.
template <int T, bool Nominal>
void decode_row(uint8_t* row, const uint8_t* up1, const uint8_t* up2, const uint8_t* const* atRows,
                const uint8_t* skipRow, int32_t width, int32_t nw, const Jb2GenericParams& p,
                uint8_t* cx, MqDecoder* mq) {
  constexpr Geometry g = Nominal ? kNominal[T] : kFixed[T];
  constexpr uint32_t keep = keep_mask(g);
  constexpr int s1 = 63 - g.up1.right - g.up1.low;
  constexpr int s2 = 63 - g.up2.right - g.up2.low;
  uint32_t ctx = run_start(up1, g.up1, width) | (g.up2.n != 0 ? run_start(up2, g.up2, width) : 0u);
  uint32_t prev = 0;
  vlt_mq::FastDecoder dec(mq);
  for (int32_t k = 0; k < nw; ++k) {
    uint64_t w1 = static_cast<uint64_t>(word(up1, k, nw)) << 32 | word(up1, k + 1, nw);
    uint64_t w2 = g.up2.n != 0 ? static_cast<uint64_t>(word(up2, k, nw)) << 32 | word(up2, k + 1, nw) : 0;
    const int32_t count = width - 32 * k < 32 ? width - 32 * k : 32;
    uint32_t out = 0;
    for (int32_t j = 0; j < count; ++j) {
      ctx = ((ctx << 1) & keep) | (static_cast<uint32_t>(w1 >> s1) & (1u << g.up1.low));
      if constexpr (g.up2.n != 0) ctx |= static_cast<uint32_t>(w2 >> s2) & (1u << g.up2.low);
      if constexpr (Nominal) {
        if ((ctx | prev) == 0 && (cx[0] & 0x80) == 0) {
          // A white pixel in a white neighbourhood: the pixels after it keep context 0 while
          // they decode white and no black pixel enters the template from the rows above.
          const int z1 = std::countl_zero(w1 << (g.up1.right + 1));
          const int z2 = g.up2.n != 0 ? std::countl_zero(w2 << (g.up2.right + 1)) : 64;
          const uint32_t ahead = static_cast<uint32_t>(1 + (z1 < z2 ? z1 : z2));
          const uint32_t left = static_cast<uint32_t>(count - j);
          const uint32_t n = dec.run(cx, ahead < left ? ahead : left);
          if (n > 0) {
            j += static_cast<int32_t>(n) - 1;
            w1 <<= n;
            if constexpr (g.up2.n != 0) w2 <<= n;
            out = static_cast<uint32_t>(static_cast<uint64_t>(out) << n);
            continue;
          }
        }
      }
      w1 <<= 1;
      if constexpr (g.up2.n != 0) w2 <<= 1;
      if constexpr (Nominal) {
        // Both contexts the pixel may take are read before the pixel to its left is known, so
        // the wait for that pixel does not include a memory read.
        const uint8_t c0 = cx[ctx], c1 = cx[ctx | 1];
        ctx |= prev;
        prev = static_cast<uint32_t>(dec.decode(&cx[ctx], prev ? c1 : c0));
        out = out << 1 | prev;
      } else {
        ctx |= prev;
        const int32_t x = 32 * k + j;
        if (skipRow != nullptr && pixel(skipRow, x)) {
          prev = 0;
          continue;
        }
        uint32_t full = ctx;
        for (int a = 0; a < g.atCount; ++a)
          full |= static_cast<uint32_t>(pixel_checked(atRows[a], x + p.atx[a], width)) << g.atBit[a];
        prev = static_cast<uint32_t>(dec.decode(&cx[full]));
        if (prev) row[x >> 3] |= static_cast<uint8_t>(0x80u >> (x & 7));
      }
    }
    if constexpr (Nominal) mono::store_be32(row + 4 * static_cast<size_t>(k), out << (32 - count));
  }
  dec.store();
}

// Past the end of its data the decoder reads 1-bits, as T.88 has it, for as long as the bitmap
// needs: an encoder may drop the 1-bits its code ends with, and a long white stretch coded in a
// few bytes is read almost wholly from them. The decoded bytes cannot tell such a stream from one
// that ran out, so what bounds the work is the bitmap's size, which the context bounds.
template <int T>
void decode_image(VltImage* image, const Jb2GenericParams* params, uint8_t* cx, MqDecoder* mq,
                  const VltImage* skip) {
  const int32_t width = image->hdr.width, height = image->hdr.height;
  if (width <= 0 || height <= 0 || image->rows == nullptr) return;
  const int32_t nw = (width + 31) / 32;
  const bool nominal = skip == nullptr && nominal_at(*params);
  int ltp = 0;
  for (int32_t y = 0; y < height; ++y) {
    uint8_t* row = image->rows[y];
    if (params->tpgdon) {
      uint8_t& c = cx[kFixed[T].sltp];
      ltp ^= VltEncode_mqdDecode(mq, &c);
      if (ltp) {
        // A typical row repeats the row above (the first row stays clear).
        if (y > 0) std::memcpy(row, image->rows[y - 1], 4 * static_cast<size_t>(nw));
        continue;
      }
    }
    const uint8_t* up1 = y >= 1 ? image->rows[y - 1] : nullptr;
    const uint8_t* up2 = y >= 2 ? image->rows[y - 2] : nullptr;
    if (nominal) {
      decode_row<T, true>(row, up1, up2, nullptr, nullptr, width, nw, *params, cx, mq);
      continue;
    }
    const uint8_t* atRows[4] = {};
    for (int a = 0; a < kFixed[T].atCount; ++a) {
      const int32_t ry = y + params->aty[a];
      atRows[a] = ry >= 0 ? image->rows[ry] : nullptr;
    }
    const uint8_t* skipRow = skip != nullptr && skip->rows != nullptr && y < skip->hdr.height ? skip->rows[y] : nullptr;
    decode_row<T, false>(row, up1, up2, atRows, skipRow, width, nw, *params, cx, mq);
  }
}

// ---- Unknown data length -----------------------------------------------------------------------

VltStatus put_byte(DataSink* sink, uint8_t b) {
  if (sink->pos < sink->size) {
    sink->buffer[sink->pos++] = b;
    ++sink->count;
    return VLT_OK;
  }
  return _dsPutc(sink, b);
}

// Joins a closed memory sink's chunks into one block, freeing them.
uint8_t* join(VltAdtList* chunks, uint32_t total, VltState* state) {
  auto* block = static_cast<uint8_t*>(state->malloc(total > 0 ? total : 1));
  uint32_t at = 0;
  for (VltAdtListNode* n = chunks->first; n != nullptr; n = n->next) {
    auto* c = static_cast<Jb2MemChunk*>(n->data);
    if (block != nullptr) {
      std::memcpy(block + at, c->buffer, c->used);
      at += c->used;
    }
    state->free(c->buffer);
    state->free(c);
  }
  VltAdt_liFree(chunks);
  return block;
}

// Copies the coded data up to and including its end sequence (FF AC after MQ data, 00 00 after
// MMR data), then reads the row count that follows, which is the region's real height.
VltStatus read_unknown_length(Jb2File* file, DataSource* source, SegmentInfo* seg, uint32_t consumed) {
  VltState* state = jb2GetFileVlt_State(file);
  Jb2GenericRegion& g = seg->body.generic;
  DataSink* sink = nullptr;
  if (const VltStatus st = jb2NewMemoryDataSink(state, &sink); st != VLT_OK) return st;
  const uint8_t first = g.mmr ? 0x00 : 0xFF;
  const uint8_t second = g.mmr ? 0x00 : 0xAC;
  VltStatus st = VLT_OK;
  uint32_t total = 0;
  bool after = false;
  for (;;) {
    uint8_t b;
    if (source->pos < source->size)
      b = source->data[source->pos++];
    else if ((st = _dsGetc(source, &b)) != VLT_OK)
      break;
    if ((st = put_byte(sink, b)) != VLT_OK) break;
    // The whole segment's length must still be expressible.
    if (++total > 0xFFFFFFFEu - consumed - 4) {
      st = jb2Fail(file, VLT_ERR_CODEC, "region data too long");
      break;
    }
    if (after && b == second) break;
    after = b == first;
  }
  uint8_t rows[4];
  uint32_t got = 0;
  if (st == VLT_OK) st = dsRead(source, 4, rows, &got);
  VltAdtList* chunks = nullptr;
  const VltStatus closed = jb2CloseMemoryDataSink(sink, &chunks);
  if (st == VLT_OK) st = closed;
  uint8_t* block = chunks != nullptr ? join(chunks, total, state) : nullptr;
  if (st == VLT_OK && block == nullptr) st = Vlt_report(state, VLT_ERR_NOMEM);
  if (st == VLT_OK) {
    const uint32_t height = mono::load_be32(rows);
    if (height > seg->region.height)
      st = jb2Fail(file, VLT_ERR_CODEC, "generic region row count beyond its height");
    else
      seg->region.height = height;
  }
  if (st == VLT_OK) st = jb2CheckRegionSize(file, seg->region.width, seg->region.height);
  if (st != VLT_OK) {
    state->free(block);
    return st;
  }
  // The row count is not coded data: MMR decoding must use up what it is given.
  g.data = block;
  g.dataLength = total;
  seg->dataLength = consumed + total + 4;
  return VLT_OK;
}

// Bytes left after the MMR code must be padding.
VltStatus check_mmr_rest(VltState* state, const uint8_t* data, uint32_t length, uint32_t left) {
  for (uint32_t i = length - left; i < length; ++i)
    if (data[i] != 0)
      return Vlt_reportErrMsg(state != nullptr ? state->errState : nullptr, VLT_ERR_CODEC,
                              "not all MMR-encoded data consumed");
  return VLT_OK;
}

}  // namespace

VltStatus jb2DecodeABParams(Jb2File* file, DataSource* source, Jb2GenericParams* params,
                            uint32_t* consumed) {
  const int pairs = params->gbTemplate == 0 ? 4 : 1;
  for (int i = 0; i < 4; ++i) params->atx[i] = params->aty[i] = 0;
  for (int i = 0; i < pairs; ++i) {
    uint8_t b[2];
    uint32_t got = 0;
    if (const VltStatus st = dsRead(source, 2, b, &got); st != VLT_OK) return st;
    params->atx[i] = static_cast<int8_t>(b[0]);
    params->aty[i] = static_cast<int8_t>(b[1]);
    *consumed += 2;
  }
  // Every adaptive pixel must be decoded before the pixel whose context it is part of.
  for (int i = 0; i < pairs; ++i)
    if (params->aty[i] > 0 || (params->aty[i] == 0 && params->atx[i] >= 0))
      return jb2Fail(file, VLT_ERR_PARAM, "bad AT params");
  return VLT_OK;
}

VltStatus jb2DecodeGenReg(Jb2File* file, DataSource* source, SegmentInfo* seg, SegmentInfo**) {
  if (seg->referredCount != 0) return jb2Fail(file, VLT_ERR_CODEC, "generic region segment can't refer to anything");
  VltStatus st = jb2DecodeRegSegment(file, source, &seg->region);
  if (st != VLT_OK) return st;
  uint8_t flags;
  if ((st = source->pos < source->size ? (flags = source->data[source->pos++], VLT_OK)
                                       : _dsGetc(source, &flags)) != VLT_OK)
    return st;
  Jb2GenericRegion& g = seg->body.generic;
  g.mmr = flags & 1;
  g.params.gbTemplate = (flags >> 1) & 3;
  g.params.tpgdon = (flags >> 3) & 1;
  uint32_t consumed = 18;
  if (!g.mmr && (st = jb2DecodeABParams(file, source, &g.params, &consumed)) != VLT_OK) return st;
  if (seg->dataLength == JB2_UNKNOWN_LENGTH) {
    if (seg->type == JB2_SEG_GENERIC_INTERMEDIATE)
      return jb2Fail(file, VLT_ERR_CODEC, "non-immediate streaming generic region");
    st = read_unknown_length(file, source, seg, consumed);
  } else {
    if ((st = jb2CheckRegionSize(file, seg->region.width, seg->region.height)) != VLT_OK) return st;
    if (seg->dataLength < consumed) return jb2Fail(file, VLT_ERR_CODEC, "generic region data too short");
    const uint32_t n = seg->dataLength - consumed;
    if ((st = jb2ReadBlock(file, source, n, &g.data)) != VLT_OK) return st;
    g.dataLength = n;
  }
  return st;
}

VltStatus jb2RenderGenReg(Jb2File* file, SegmentInfo* seg) {
  if (seg->hasBitmap) return VLT_OK;
  VltState* state = jb2GetFileVlt_State(file);
  const Jb2RegionInfo& r = seg->region;
  VltImage* bm = nullptr;
  VltStatus st = jb2NewRegionBitmap(file, r, &bm);
  if (st != VLT_OK) return st;
  const Jb2GenericRegion& g = seg->body.generic;
  if (r.width != 0 && r.height != 0) {
    if (g.mmr) {
      uint32_t left = g.dataLength;
      st = jb2MMRDecodeImageMemory(bm->rows[0], bm->hdr.width, bm->hdr.height, bm->hdr.bytesPerLine / 4,
                                   0, bm->hdr.width - 1, bm->hdr.height - 1, g.data, &left, state);
      if (st == VLT_OK) st = check_mmr_rest(state, g.data, g.dataLength, left);
    } else {
      const uint32_t n = jb2ABContextsNeeded(&g.params);
      auto* cx = static_cast<uint8_t*>(state->calloc(n, 1));
      if (cx == nullptr) {
        st = Vlt_report(state, VLT_ERR_NOMEM);
      } else {
        MqDecoder mq;
        VltEncode_mqdInit(&mq, g.data, g.dataLength, nullptr, nullptr, state);
        st = jb2ArithDecodeImagePacked(bm, &g.params, cx, &mq, nullptr);
        state->free(cx);
      }
    }
  }
  if (st != VLT_OK) {
    VltImage_free(bm);
    return st;
  }
  seg->bitmap = bm;
  seg->hasBitmap = 1;
  return VLT_OK;
}

VltStatus jb2RenderGenRegIntoPage(Jb2File* file, SegmentInfo* seg, VltImage* page) {
  const Jb2RegionInfo& r = seg->region;
  if (uint64_t{r.x} + r.width > static_cast<uint64_t>(page->hdr.width) ||
      uint64_t{r.y} + r.height > static_cast<uint64_t>(page->hdr.height))
    return jb2Fail(file, VLT_ERR_CODEC, "region extends off page");
  if (seg->type == JB2_SEG_GENERIC_INTERMEDIATE) return VLT_ERR_ASSERT;
  if (r.width == 0 || r.height == 0) return VLT_OK;
  const Jb2GenericRegion& g = seg->body.generic;
  if (g.mmr && r.combOp == JB2_COMBOP_OR && !seg->hasBitmap) {
    // ORed lines can go straight into the page.
    VltState* state = jb2GetFileVlt_State(file);
    uint32_t left = g.dataLength;
    const int32_t x = static_cast<int32_t>(r.x);
    const VltStatus st = jb2MMRDecodeImageMemory(
        page->rows[r.y], static_cast<int32_t>(r.width), static_cast<int32_t>(r.height),
        page->hdr.bytesPerLine / 4, x, x + static_cast<int32_t>(r.width) - 1,
        static_cast<int32_t>(r.height) - 1, g.data, &left, state);
    return st != VLT_OK ? st : check_mmr_rest(state, g.data, g.dataLength, left);
  }
  if (const VltStatus st = jb2RenderGenReg(file, seg); st != VLT_OK) return st;
  return VltBlat_blitPackedOp(page, seg->bitmap, static_cast<int32_t>(r.x), static_cast<int32_t>(r.y),
                              static_cast<int32_t>(jb2Minterms[r.combOp]));
}

void jb2FreeGenRegSegment(SegmentInfo* seg, VltState* state) {
  state->free(seg->body.generic.data);
  seg->body.generic.data = nullptr;
  seg->body.generic.dataLength = 0;
}

VltStatus jb2ArithDecodeImagePacked(VltImage* image, const Jb2GenericParams* params, uint8_t* contexts,
                                    MqDecoder* mq, const VltImage* skip) {
  switch (params->gbTemplate) {
    case 0: decode_image<0>(image, params, contexts, mq, skip); return VLT_OK;
    case 1: decode_image<1>(image, params, contexts, mq, skip); return VLT_OK;
    case 2: decode_image<2>(image, params, contexts, mq, skip); return VLT_OK;
    case 3: return arithDecodeImageT10L2(image, params, contexts, mq, skip);
    default: return VLT_OK;
  }
}

VltStatus arithDecodeImageT10L2(VltImage* image, const Jb2GenericParams* params, uint8_t* contexts,
                                MqDecoder* mq, const VltImage* skip) {
  decode_image<3>(image, params, contexts, mq, skip);
  return VLT_OK;
}

VltStatus jb2ArithDecodeImage(uint8_t* buffer, int32_t width, int32_t height, int32_t wordsPerRow,
                              const Jb2GenericParams* params, uint8_t* contexts, Jb2File* file,
                              MqDecoder* mq) {
  VltState* state = jb2GetFileVlt_State(file);
  VltImage* image = nullptr;
  if (const VltStatus st = VltImage_wrap(state, buffer, width, height, wordsPerRow, &image); st != VLT_OK)
    return st;
  uint8_t* own = nullptr;
  if (contexts == nullptr) {
    own = static_cast<uint8_t*>(state->calloc(jb2ABContextsNeeded(params), 1));
    if (own == nullptr) {
      VltImage_unwrap(image, nullptr);
      return Vlt_report(state, VLT_ERR_NOMEM);
    }
  }
  const VltStatus st = jb2ArithDecodeImagePacked(image, params, contexts != nullptr ? contexts : own, mq, nullptr);
  state->free(own);
  VltImage_unwrap(image, nullptr);
  return st;
}

VltStatus jb2MMRDecodeImageMemory(uint8_t* firstRow, int32_t width, int32_t lines,
                                  int32_t wordsPerRow, int32_t bitOffset, int32_t lastCol,
                                  int32_t lastLine, const uint8_t* data, uint32_t* length,
                                  VltState* state) {
  size_t used = 0;
  const VltStatus st = g4Decode(reinterpret_cast<uint32_t*>(firstRow), width, lines, wordsPerRow,
                                bitOffset, lastCol, lastLine, data, *length, 1, &used, state);
  *length -= static_cast<uint32_t>(used < *length ? used : *length);
  return st;
}

VltStatus jb2MMRDecodeImage(uint8_t* firstRow, int32_t width, int32_t lines, int32_t wordsPerRow,
                            int32_t bitOffset, int32_t lastCol, int32_t lastLine, Jb2File* file,
                            DataSource* source, uint32_t length) {
  VltState* state = jb2GetFileVlt_State(file);
  uint8_t* block = nullptr;
  VltStatus st = jb2ReadBlock(file, source, length, &block);
  if (st != VLT_OK) return st;
  uint32_t left = length;
  st = jb2MMRDecodeImageMemory(firstRow, width, lines, wordsPerRow, bitOffset, lastCol, lastLine,
                               block, &left, state);
  if (st == VLT_OK) st = check_mmr_rest(state, block, length, left);
  state->free(block);
  return st;
}
