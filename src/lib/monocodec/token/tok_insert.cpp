// Run lists to bitmaps, and token bitmaps drawn into packed, grey and RGB images.

#include "tok_insert.h"

#include <array>

#include "byteorder.h"
#include "checked_size.h"
#include "vlt_blit.h"

namespace {

constexpr std::array<uint32_t, 32 * 32> make_masks() {
  std::array<uint32_t, 32 * 32> t{};
  for (int s = 0; s < 32; ++s)
    for (int e = s; e < 32; ++e) {
      uint32_t m = 0;
      for (int c = s; c <= e; ++c) m |= 0x80000000u >> c;
      if constexpr (!mono::kHostBigEndian) m = mono::bswap32(m);
      t[size_t(s) * 32 + size_t(e)] = m;
      t[size_t(e) * 32 + size_t(s)] = m;
    }
  return t;
}

constexpr std::array<uint32_t, 32 * 32> kMasks = make_masks();

// Floor division by 32 for columns that may be negative.
constexpr int64_t word_of(int64_t column) { return column >= 0 ? column / 32 : -((31 - column) / 32); }

// Row index and bit column of image coordinates in a Packed image.
struct PackedSpot {
  int64_t row;
  int64_t bit;
};
PackedSpot packed_spot(const VltImage* im, int32_t x, int32_t y, int framed) {
  const int32_t f = framed ? 32 : 0;
  return PackedSpot{int64_t{y} + f - im->hdr.yOffset, int64_t{x} + f - im->hdr.xOffset};
}

bool packed_usable(const VltImage* im) {
  return im != nullptr && im->hdr.type == VLT_IMAGE_PACKED && im->rows != nullptr && im->hdr.height > 0 &&
         im->hdr.bytesPerLine % 4 == 0;
}

template <class Decode>
VltStatus insert_coded(VltImage* im, int32_t x, int32_t y, int32_t width, int32_t height, const uint8_t* data,
                       int framed, VltState* engine, Decode decode) {
  if (data == nullptr) return Vlt_report(engine, VLT_ERR_NULL);
  if (!packed_usable(im) || width < 0 || height < 0) return Vlt_report(engine, VLT_ERR_PARAM);
  const PackedSpot p = packed_spot(im, x, y, framed);
  if (p.row < 0 || p.row >= im->hdr.height || p.bit < 0 || p.bit >= im->hdr.width)
    return Vlt_report(engine, VLT_ERR_PARAM);
  if (width == 0 || height == 0) return VLT_OK;
  const auto rowsLeft = static_cast<int32_t>(im->hdr.height - p.row);
  return decode(reinterpret_cast<uint32_t*>(im->rows[p.row]), width, height, im->hdr.bytesPerLine / 4,
                static_cast<int32_t>(p.bit), im->hdr.width - 1, rowsLeft - 1);
}

template <class Decode>
VltStatus decompress(TokCodedToken* token, uint8_t** oldData, VltState* engine, Decode decode) {
  if (oldData != nullptr) *oldData = nullptr;
  if (token == nullptr || oldData == nullptr || engine == nullptr) return Vlt_report(engine, VLT_ERR_NULL);
  const int32_t wpl = (token->width + 31) / 32;
  size_t bytes = 0;
  if (!mono::checked_mul(size_t(wpl) * 4, size_t(token->height), &bytes)) return Vlt_report(engine, VLT_ERR_NOMEM);
  auto* rows = static_cast<uint8_t*>(engine->calloc(bytes == 0 ? 1 : bytes, 1));
  if (rows == nullptr) return Vlt_report(engine, VLT_ERR_NOMEM);
  VltStatus st = VLT_OK;
  if (token->width != 0 && token->height != 0) {
    VltImage* im = nullptr;
    st = VltImage_wrap(engine, rows, token->width, token->height, wpl, &im);
    if (st == VLT_OK) {
      st = decode(im);
      VltImage_unwrap(im, nullptr);
    }
  }
  if (st != VLT_OK) {
    engine->free(rows);
    return st;
  }
  *oldData = token->data;
  token->data = rows;
  token->lineWords = static_cast<uint16_t>(wpl);
  token->codedLength = 0;
  return VLT_OK;
}

// Walks the token's pixels that fall inside the destination: fn(pixel bytes, code, x, y) with
// code = token bit << 1 | plane bit (plane bit 0 without a plane).
template <class Fn>
VltStatus each_pixel(VltImage* dst, uint16_t type, int32_t x, int32_t y, const TokBitmap* token,
                     const TokBitmap* plane, Fn fn) {
  if (dst == nullptr || token == nullptr || token->bits == nullptr) return VLT_ERR_NULL;
  if (dst->hdr.type != type || dst->rows == nullptr) return dst->hdr.height == 0 ? VLT_OK : VLT_ERR_PARAM;
  if (plane != nullptr && (plane->bits == nullptr || plane->width < token->width || plane->height < token->height))
    return VLT_ERR_PARAM;
  const VltImageHeader& h = dst->hdr;
  for (int32_t v = 0; v < token->height; ++v) {
    const int64_t py = int64_t{y} + v;
    if (py < h.yOffset || py >= int64_t{h.yOffset} + h.height) continue;
    const uint8_t* trow = tok_row(token->bits, token->wordsPerLine, uint32_t(v));
    const uint8_t* prow = plane != nullptr ? tok_row(plane->bits, plane->wordsPerLine, uint32_t(v)) : nullptr;
    for (int32_t u = 0; u < token->width; ++u) {
      const int64_t px = int64_t{x} + u;
      if (px < h.xOffset || px >= int64_t{h.xOffset} + h.width) continue;
      const int code = mono::get_bit(trow, size_t(u)) << 1 | (prow != nullptr ? mono::get_bit(prow, size_t(u)) : 0);
      fn(VltImage_pixel<uint8_t>(dst, int32_t(px), int32_t(py)), code, int32_t(px), int32_t(py));
    }
  }
  return VLT_OK;
}

// The RGB source pixel at (x, y), or null outside the source.
const uint8_t* source_pixel(const VltImage* src, int32_t x, int32_t y) {
  const VltImageHeader& h = src->hdr;
  if (x < h.xOffset || x - int64_t{h.xOffset} >= h.width || y < h.yOffset || y - int64_t{h.yOffset} >= h.height)
    return nullptr;
  return VltImage_pixel<uint8_t>(src, x, y);
}

// The blend of the coverage codes: 01 new, 11 two thirds new, 10 one third new.
void blend(uint8_t* px, const uint8_t* value, int code, int channels) {
  for (int c = 0; c < channels; ++c) {
    const int n = value[c], o = px[c];
    switch (code) {
      case 1: px[c] = uint8_t(n); break;
      case 3: px[c] = uint8_t((2 * n + o) / 3); break;
      case 2: px[c] = uint8_t((2 * o + n) / 3); break;
      default: break;
    }
  }
}

VltStatus check_source(const VltImage* src) {
  if (src == nullptr) return VLT_ERR_NULL;
  return src->hdr.type == VLT_IMAGE_RGB && (src->rows != nullptr || src->hdr.height == 0) ? VLT_OK : VLT_ERR_PARAM;
}

}  // namespace

const uint32_t* MakeLongRunToBitmapLookup() { return kMasks.data(); }

void tok_paintRun(uint8_t* row, int32_t s, int32_t e) {
  const int32_t ws = s >> 5, we = e >> 5;
  if (ws == we) {
    tok_orMask(row + 4 * ws, kMasks[size_t(s & 31) * 32 + size_t(e & 31)]);
    return;
  }
  tok_orMask(row + 4 * ws, kMasks[size_t(s & 31) * 32 + 31]);
  for (int32_t i = ws + 1; i < we; ++i) mono::store_be32(row + 4 * i, 0xFFFFFFFFu);
  tok_orMask(row + 4 * we, kMasks[size_t(e & 31)]);
}

VltStatus RunsToUnframedBitmap(uint8_t** place, const uint16_t* runs, int32_t pairCount, int32_t height,
                               int32_t wordsPerRow, int32_t offset, VltState* engine) {
  if (place == nullptr || engine == nullptr || (runs == nullptr && pairCount > 0)) return Vlt_report(engine, VLT_ERR_NULL);
  if (height < 0 || wordsPerRow < 0) return Vlt_report(engine, VLT_ERR_PARAM);
  const int64_t words = int64_t{height} * wordsPerRow;
  if (uint64_t(words) > SIZE_MAX / 4) return Vlt_report(engine, VLT_ERR_NOMEM);
  auto* bits = static_cast<uint8_t*>(engine->calloc(words == 0 ? 1 : size_t(words), 4));
  if (bits == nullptr) return Vlt_report(engine, VLT_ERR_NOMEM);
  int64_t row = 0, prevLast = -100;
  for (int32_t i = 0; i < pairCount; ++i) {
    const int64_t first = runs[2 * i], length = runs[2 * i + 1];
    if (length == 0) {
      row = first;
      prevLast = -100;
      continue;
    }
    if (first <= prevLast + 1) ++row;
    prevLast = first + length - 1;
    const int64_t start = first - offset, end = first + length - 1 - offset;
    // A run may reach into the next row, but never outside the bitmap.
    const int64_t base = row * wordsPerRow;
    if (base + word_of(start) < 0 || base + word_of(end) >= words) {
      engine->free(bits);
      return VLT_ERR_ASSERT;
    }
    const int64_t lead = word_of(start) * 32;
    tok_paintRun(bits + 4 * (base + word_of(start)), int32_t(start - lead), int32_t(end - lead));
  }
  *place = bits;
  return VLT_OK;
}

void InsertBoxPacked(VltImage* image, int32_t x, int32_t y, const TokBitmap* token, int framed) {
  if (!packed_usable(image) || token == nullptr || token->bits == nullptr) return;
  const PackedSpot p = packed_spot(image, x, y, framed);
  // Beyond the 32-bit coordinates the blitter takes, nothing of the token can be on the image.
  if (p.row < INT32_MIN || p.row > INT32_MAX || p.bit < INT32_MIN || p.bit > INT32_MAX) return;
  VltBlat_blitBitsOp(image->rows[0], image->hdr.bytesPerLine / 4, 0, 0, image->hdr.width, image->hdr.height,
                     token->bits, token->wordsPerLine, token->width, token->height, int32_t(p.bit), int32_t(p.row),
                     VLT_BLIT_XOR);
}

VltStatus InsertCompressedBoxPacked(VltImage* image, int32_t x, int32_t y, int32_t width, int32_t height,
                                    const uint8_t* data, size_t length, int framed, VltState* engine) {
  return insert_coded(image, x, y, width, height, data, framed, engine,
                      [&](uint32_t* row, int32_t w, int32_t h, int32_t stride, int32_t bit, int32_t lastCol,
                          int32_t lastLine) {
                        return g4Decode(row, w, h, stride, bit, lastCol, lastLine, data, length, 0, nullptr, engine);
                      });
}

VltStatus InsertCompressedBoxPackedC(VltImage* image, int32_t x, int32_t y, int32_t width, int32_t height,
                                     const uint8_t* data, size_t length, int framed, FaxDecoder* decoder,
                                     VltState* engine) {
  if (decoder == nullptr) return Vlt_report(engine, VLT_ERR_NULL);
  return insert_coded(image, x, y, width, height, data, framed, engine,
                      [&](uint32_t* row, int32_t w, int32_t h, int32_t stride, int32_t bit, int32_t lastCol,
                          int32_t lastLine) {
                        size_t left = 0;
                        return g4DecodeC(decoder, row, w, h, stride, bit, lastCol, lastLine, data, length, 0, &left);
                      });
}

VltStatus decompressSingleUseToken(TokCodedToken* token, uint8_t** oldData, VltState* engine) {
  return decompress(token, oldData, engine, [&](VltImage* im) {
    return InsertCompressedBoxPacked(im, 0, 0, token->width, token->height, token->data, token->codedLength, 0,
                                     engine);
  });
}

VltStatus decompressSingleUseTokenC(TokCodedToken* token, uint8_t** oldData, FaxDecoder* decoder,
                                    VltState* engine) {
  return decompress(token, oldData, engine, [&](VltImage* im) {
    return InsertCompressedBoxPackedC(im, 0, 0, token->width, token->height, token->data, token->codedLength, 0,
                                      decoder, engine);
  });
}

VltStatus InsertResidual(VltImage* image, const uint8_t* data, size_t length, int32_t x, int32_t y,
                         int32_t width, int32_t height, int framed, VltState* engine) {
  if (data == nullptr) return Vlt_report(engine, VLT_ERR_NULL);
  if (length != 0) return InsertCompressedBoxPacked(image, x, y, width, height, data, length, framed, engine);
  if (width < 0 || height < 0 || width > UINT16_MAX || height > UINT16_MAX) return Vlt_report(engine, VLT_ERR_PARAM);
  const TokBitmap token{uint16_t(width), uint16_t(height), const_cast<uint8_t*>(data), uint16_t((width + 31) / 32),
                        nullptr};
  InsertBoxPacked(image, x, y, &token, framed);
  return VLT_OK;
}

VltStatus InsertSampledBox(VltImage* dst, const VltImage* src, int32_t x, int32_t y, const TokBitmap* token) {
  if (VltStatus st = check_source(src)) return st;
  return each_pixel(dst, VLT_IMAGE_RGB, x, y, token, nullptr, [&](uint8_t* px, int code, int32_t px_x, int32_t px_y) {
    const uint8_t* s = source_pixel(src, px_x, px_y);
    if (code != 0 && s != nullptr) blend(px, s, 1, 3);
  });
}

VltStatus InsertSampledBox_scaled(VltImage* dst, const VltImage* src, int32_t x, int32_t y, const TokBitmap* token,
                                  const TokBitmap* plane) {
  if (VltStatus st = check_source(src)) return st;
  if (plane == nullptr) return VLT_ERR_NULL;
  return each_pixel(dst, VLT_IMAGE_RGB, x, y, token, plane, [&](uint8_t* px, int code, int32_t px_x, int32_t px_y) {
    if (const uint8_t* s = source_pixel(src, px_x, px_y)) blend(px, s, code, 3);
  });
}

VltStatus InsertBoxRGB(VltImage* dst, int32_t x, int32_t y, const TokBitmap* token, const uint8_t colour[3]) {
  if (colour == nullptr) return VLT_ERR_NULL;
  return each_pixel(dst, VLT_IMAGE_RGB, x, y, token, nullptr, [&](uint8_t* px, int code, int32_t, int32_t) {
    if (code != 0) blend(px, colour, 1, 3);
  });
}

VltStatus InsertBoxRGB_scaled(VltImage* dst, int32_t x, int32_t y, const TokBitmap* token, const TokBitmap* plane,
                              const uint8_t colour[3]) {
  if (colour == nullptr || plane == nullptr) return VLT_ERR_NULL;
  return each_pixel(dst, VLT_IMAGE_RGB, x, y, token, plane,
                    [&](uint8_t* px, int code, int32_t, int32_t) { blend(px, colour, code, 3); });
}

VltStatus InsertBoxScaled(VltImage* dst, int32_t x, int32_t y, const TokBitmap* token, const TokBitmap* plane) {
  if (plane == nullptr) return VLT_ERR_NULL;
  return each_pixel(dst, VLT_IMAGE_GRAY, x, y, token, plane, [](uint8_t* px, int code, int32_t, int32_t) {
    static constexpr uint8_t kGrey[4] = {0, 0, 0xAA, 0x55};
    if (code != 0) *px = kGrey[code];
  });
}
