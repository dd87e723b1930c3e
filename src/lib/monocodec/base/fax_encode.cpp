// CCITT fax encoder. A line is first turned into its list of colour changes, then coded from the
// list; code bits gather in a 32-bit accumulator and go to the line buffer a word at a time.

#include "fax_encode.h"

#include <cstring>

#include "byteorder.h"
#include "checked_size.h"
#include "fax_codes.h"

namespace {

constexpr FaxCode kEol = {0x001, 12};
constexpr FaxCode kPass = {0x1, 4};
constexpr FaxCode kHorizontal = {0x1, 3};
// Vertical codes by a1 - b1 + 3 (VL3 .. VR3).
constexpr FaxCode kVertical[7] = {{0x02, 7}, {0x02, 6}, {0x2, 3}, {0x1, 1},
                                  {0x3, 3},  {0x03, 6}, {0x03, 7}};
constexpr FaxCode kUncompressedEntry1D = {0x00F, 12};  // 000000001111
constexpr FaxCode kUncompressedEntry2D = {0x00F, 10};  // 0000001111
constexpr FaxCode kFiveWhites = {0x01, 6};             // 000001

// A line of width w codes in at most 7 bits per pixel plus a few bits at its start (every code
// word moves a0 on by at least one pixel per 7 bits; the worst is a vertical code per pixel or a
// horizontal code of two one-pixel runs). On top come an EOL, a tag bit, alignment, a
// return-to-control and the bits carried in the accumulator, all within 32 bytes.
bool line_buffer_size(int32_t width, size_t* out) {
  size_t bytes;
  if (!mono::checked_add(static_cast<size_t>(width), size_t{32}, &bytes)) return false;
  *out = (bytes + 3) & ~size_t{3};
  return true;
}

// The accumulator and line buffer of an encoder, kept in locals while a line is coded.
struct BitWriter {
  uint32_t acc;
  uint32_t count;
  uint8_t* buf;
  size_t pos;
  size_t size;
  bool overflow;

  explicit BitWriter(const FaxEncoder* e)
      : acc(e->bitAcc), count(e->bitCount), buf(e->lineBuf), pos(e->lineBytes),
        size(e->lineBufSize), overflow(false) {}

  void store_to(FaxEncoder* e) const {
    e->bitAcc = acc;
    e->bitCount = count;
    e->lineBytes = pos;
  }

  void flush_word(uint32_t w) {
    if (size - pos < 4) {
      overflow = true;
      return;
    }
    mono::store_be32(buf + pos, w);
    pos += 4;
  }

  // n is 1..32; value's bits above n are ignored.
  void put(uint32_t value, uint32_t n) {
    value &= mono::right_mask32(n);
    const uint32_t room = 32 - count;
    if (n < room) {
      acc |= value << (room - n);
      count += n;
      return;
    }
    const uint32_t rest = n - room;
    flush_word(acc | (value >> rest));
    count = rest;
    acc = rest == 0 ? 0 : value << (32 - rest);
  }

  void put(FaxCode c) { put(c.code, c.length); }

  void put_zeros(uint32_t n) {
    while (n > 0) {
      const uint32_t k = n > 32 ? 32 : n;
      put(0, k);
      n -= k;
    }
  }

  void put_ones(uint32_t n) {
    while (n > 0) {
      const uint32_t k = n > 32 ? 32 : n;
      put(~0u, k);
      n -= k;
    }
  }

  void put_run(uint32_t run, int colour) {
    const auto& longs = *longTabs[colour];
    while (run >= static_cast<uint32_t>(fax::kMaxMakeUp)) {
      put(longs[fax::kLongCodes - 1]);
      run -= fax::kMaxMakeUp;
    }
    if (run >= 64) {
      put(longs[run >> 6]);
      run &= 63;
    }
    put((*shortTabs[colour])[run]);
  }

  // Bits written since the writer stood at (savedPos, savedCount).
  size_t bits_since(size_t savedPos, uint32_t savedCount) const {
    return (pos - savedPos) * 8 + count - savedCount;
  }
};

VltStatus report_overflow(const FaxEncoder* enc) {
  return Vlt_report(enc->state, VLT_ERR_VLT_OVERFLOW);
}

VltStatus finish_line(FaxEncoder* enc, const BitWriter& w) {
  w.store_to(enc);
  return w.overflow ? report_overflow(enc) : VLT_OK;
}

void code_1d(BitWriter& w, const int32_t* cur, int32_t width) {
  int32_t pos = 0;
  int colour = 0;
  for (const int32_t* c = cur; *c < width; ++c) {
    w.put_run(static_cast<uint32_t>(*c - pos), colour);
    pos = *c;
    colour ^= 1;
  }
  w.put_run(static_cast<uint32_t>(width - pos), colour);
}

void code_2d(BitWriter& w, const int32_t* ref, const int32_t* cur, int32_t width) {
  int32_t a0 = -1;
  int colour = 0;
  int32_t ia = 0, ib = 0;
  while (a0 < width) {
    const int32_t a1 = cur[ia];
    // b1: the first change right of a0 to the colour opposite a0's; even entries turn black.
    while (ref[ib] <= a0) ++ib;
    if ((ib & 1) != colour) ++ib;
    const int32_t b1 = ref[ib];
    const int32_t b2 = ref[ib + 1];
    if (b2 < a1) {
      w.put(kPass);
      a0 = b2;
      ib += 2;
    } else if (a1 - b1 <= 3 && b1 - a1 <= 3) {
      w.put(kVertical[a1 - b1 + 3]);
      a0 = a1;
      colour ^= 1;
      ++ia;
      // a1 may lie left of b1: the change before b1 can be the next b1 for the new colour.
      if (ib > 0) --ib;
    } else {
      const int32_t a2 = cur[ia + 1];
      w.put(kHorizontal);
      w.put_run(static_cast<uint32_t>(a1 - (a0 < 0 ? 0 : a0)), colour);
      w.put_run(static_cast<uint32_t>(a2 - a1), colour ^ 1);
      a0 = a2;
      ia += 2;
    }
  }
}

void code_uncompressed(BitWriter& w, const int32_t* cur, int32_t width) {
  int32_t pos = 0;
  int colour = 0;
  for (const int32_t* c = cur;; ++c) {
    const int32_t next = *c < width ? *c : width;
    uint32_t run = static_cast<uint32_t>(next - pos);
    if (colour == 0) {
      while (run > 4) {
        w.put(kFiveWhites);
        run -= 5;
      }
      if (next == width) {
        // Exit code of the last 0-4 white pixels: (k + 6) zeros, a 1 and the tag bit 0.
        w.put_zeros(run + 6);
        w.put(0x2, 2);
        return;
      }
      w.put_zeros(run);
    } else {
      w.put_ones(run);
      if (next == width) {
        w.put(0x02, 8);
        return;
      }
    }
    pos = next;
    colour ^= 1;
  }
}

bool geometry_ok(int32_t width, int32_t height, int32_t strideWords) {
  if (width < 0 || width > FAX_MAX_WIDTH || height < 0) return false;
  return height == 0 || strideWords >= (width + 31) / 32;
}

const uint32_t* row_at(const uint32_t* first, int32_t strideWords, int32_t y) {
  return first + static_cast<ptrdiff_t>(strideWords) * y;
}

// Moves the line buffer's bytes to out[*done..cap); false (nothing moved) when they do not fit.
bool drain_line(FaxEncoder* enc, uint8_t* out, size_t cap, size_t* done) {
  if (cap - *done < enc->lineBytes) return false;
  if (enc->lineBytes != 0) std::memcpy(out + *done, enc->lineBuf, enc->lineBytes);
  *done += enc->lineBytes;
  enc->lineBytes = 0;
  return true;
}

// Writes the accumulator's waiting bits as whole bytes, most significant first.
bool drain_bits(FaxEncoder* enc, uint8_t* out, size_t cap, size_t* done) {
  const size_t n = enc->bitCount < 32 ? (enc->bitCount + 7) / 8 : 4;
  if (cap - *done < n) return false;
  for (size_t i = 0; i < n; ++i) out[*done + i] = static_cast<uint8_t>(enc->bitAcc >> (24 - 8 * i));
  *done += n;
  enc->bitAcc = 0;
  enc->bitCount = 0;
  return true;
}

VltStatus buffer_too_small(size_t* size) {
  *size = 0;
  return VLT_ERR_OVERFLOW;
}

VltStatus alloc_list(FaxEncoder* enc, FaxChangeList* list, size_t entries) {
  size_t bytes;
  if (!mono::checked_mul(entries, sizeof(int32_t), &bytes)) return Vlt_report(enc->state, VLT_ERR_NOMEM);
  auto* a = static_cast<int32_t*>(enc->state->malloc(bytes));
  if (a == nullptr) return Vlt_report(enc->state, VLT_ERR_NOMEM);
  enc->state->free(list->array);
  list->array = a;
  list->capacity = static_cast<int32_t>(entries);
  return VLT_OK;
}

void set_white_line(FaxChangeList* list, int32_t width) {
  list->array[0] = list->array[1] = list->array[2] = width;
  list->count = 1;
}

}  // namespace

VltStatus EncodeCreate(FaxEncoder** place, VltState* state) {
  if (place == nullptr || state == nullptr) return Vlt_report(state, VLT_ERR_NULL);
  auto* enc = static_cast<FaxEncoder*>(state->calloc(1, sizeof(FaxEncoder)));
  if (enc == nullptr) return Vlt_report(state, VLT_ERR_NOMEM);
  enc->state = state;
  *place = enc;
  return VLT_OK;
}

VltStatus EncodeInit(FaxEncoder* enc, int32_t width) {
  if (enc == nullptr) return VLT_ERR_NULL;
  if (width < 0 || width > FAX_MAX_WIDTH) return Vlt_report(enc->state, VLT_ERR_PARAM);
  if (width > enc->capacity || enc->lineBuf == nullptr) {
    size_t bufSize;
    if (!line_buffer_size(width, &bufSize)) return Vlt_report(enc->state, VLT_ERR_NOMEM);
    const size_t entries = static_cast<size_t>(width) + 4;
    VltStatus st = alloc_list(enc, &enc->ref, entries);
    if (st == VLT_OK) st = alloc_list(enc, &enc->cur, entries);
    if (st != VLT_OK) return st;
    auto* buf = static_cast<uint8_t*>(enc->state->malloc(bufSize));
    if (buf == nullptr) return Vlt_report(enc->state, VLT_ERR_NOMEM);
    enc->state->free(enc->lineBuf);
    enc->lineBuf = buf;
    enc->lineBufSize = bufSize;
    enc->capacity = width;
  }
  enc->width = width;
  set_white_line(&enc->ref, width);
  set_white_line(&enc->cur, width);
  enc->bitAcc = 0;
  enc->bitCount = 0;
  enc->lineBytes = 0;
  enc->sense = 0;
  return VLT_OK;
}

void EncodeCleanUp(FaxEncoder** place) {
  if (place == nullptr || *place == nullptr) return;
  FaxEncoder* enc = *place;
  *place = nullptr;
  VltState* st = enc->state;
  st->free(enc->ref.array);
  st->free(enc->cur.array);
  st->free(enc->lineBuf);
  st->free(enc->chunkBuf);
  st->free(enc);
}

VltStatus LineToTrans(FaxEncoder* enc, const uint32_t* row) {
  const FaxChangeList t = enc->ref;
  enc->ref = enc->cur;
  enc->cur = t;
  int32_t* out = enc->cur.array;
  const int32_t width = enc->width;
  const uint32_t sense = enc->sense;
  const int32_t whole = width / 32;
  const unsigned tail = static_cast<unsigned>(width % 32);
  int32_t n = 0;
  uint32_t prev = 0;  // the pixel left of the word, 1 = black; the line starts white
  // Bit p of t is set where pixel p differs from the pixel before it.
  auto emit = [&](uint32_t t, int32_t base) {
    while (t != 0) {
      const int z = __builtin_clz(t);
      out[n++] = base + z;
      t &= ~(0x80000000u >> z);
    }
  };
  for (int32_t w = 0; w < whole; ++w) {
    const uint32_t x = mono::load_be32(row + w) ^ sense;
    const uint32_t t = x ^ ((x >> 1) | (prev << 31));
    prev = x & 1;
    if (t != 0) emit(t, w * 32);
  }
  if (tail != 0) {
    const uint32_t mask = mono::left_mask32(tail);
    const uint32_t x = (mono::load_be32(row + whole) ^ sense) & mask;
    emit((x ^ ((x >> 1) | (prev << 31))) & mask, whole * 32);
  }
  out[n] = out[n + 1] = out[n + 2] = width;
  enc->cur.count = n + 1;
  return VLT_OK;
}

VltStatus PutBits(FaxEncoder* enc, uint32_t value, uint32_t count) {
  if (count == 0) return VLT_OK;
  BitWriter w(enc);
  w.put(value, count > 32 ? 32 : count);
  return finish_line(enc, w);
}

VltStatus PutEol(FaxEncoder* enc) { return PutBits(enc, kEol.code, kEol.length); }

VltStatus Terminate(FaxEncoder* enc, int32_t K) {
  BitWriter w(enc);
  if (K < 0) {
    w.put(kEol);
    w.put(kEol);
  } else {
    for (int i = 0; i < 6; ++i) {
      if (K == 0)
        w.put(kEol);
      else
        w.put(static_cast<uint32_t>(kEol.code << 1) | 1u, kEol.length + 1u);
    }
  }
  return finish_line(enc, w);
}

void FlipSense(FaxEncoder* enc) { enc->sense = ~enc->sense; }

VltStatus UseUncompressed(FaxEncoder* enc, int32_t entryMode, uint32_t savedBitCount,
                          size_t savedPos) {
  if (enc == nullptr) return VLT_ERR_NULL;
  if (savedBitCount > 31 || savedPos > enc->lineBytes) return Vlt_report(enc->state, VLT_ERR_PARAM);
  // Cut back to where the line began; the word it began in may since have gone to the buffer.
  const uint32_t began = savedPos < enc->lineBytes ? mono::load_be32(enc->lineBuf + savedPos)
                                                   : enc->bitAcc;
  enc->lineBytes = savedPos;
  enc->bitCount = savedBitCount;
  enc->bitAcc = began & mono::left_mask32(savedBitCount);
  BitWriter w(enc);
  w.put(entryMode == 2 ? kUncompressedEntry2D : kUncompressedEntry1D);
  code_uncompressed(w, enc->cur.array, enc->width);
  return finish_line(enc, w);
}

namespace {

// Falls back to uncompressed mode when the line took more than five bits per pixel.
VltStatus maybe_uncompressed(FaxEncoder* enc, const BitWriter& w, int32_t entryMode,
                             size_t savedPos, uint32_t savedCount) {
  if (w.overflow) return finish_line(enc, w);
  if (w.bits_since(savedPos, savedCount) <= 5 * static_cast<size_t>(enc->width)) {
    return finish_line(enc, w);
  }
  w.store_to(enc);
  return UseUncompressed(enc, entryMode, savedCount, savedPos);
}

}  // namespace

VltStatus TransToG4Code(FaxEncoder* enc, int32_t uncompressedFlag) {
  BitWriter w(enc);
  const size_t savedPos = w.pos;
  const uint32_t savedCount = w.count;
  code_2d(w, enc->ref.array, enc->cur.array, enc->width);
  if (uncompressedFlag) return maybe_uncompressed(enc, w, 2, savedPos, savedCount);
  return finish_line(enc, w);
}

VltStatus TransToG3Code(FaxEncoder* enc, int32_t lineMode, int32_t uncompressedFlag) {
  BitWriter w(enc);
  if (lineMode == 1) w.put(1, 1);
  if (lineMode == 2) w.put(0, 1);
  const size_t savedPos = w.pos;
  const uint32_t savedCount = w.count;
  if (lineMode == 2)
    code_2d(w, enc->ref.array, enc->cur.array, enc->width);
  else
    code_1d(w, enc->cur.array, enc->width);
  if (uncompressedFlag) return maybe_uncompressed(enc, w, lineMode, savedPos, savedCount);
  return finish_line(enc, w);
}

VltStatus g4EncodeC(FaxEncoder* enc, const uint32_t* firstRow, int32_t width, int32_t height,
                    int32_t strideWords, uint8_t* out, size_t* size, int32_t endFlag) {
  if (enc == nullptr) return VLT_ERR_NULL;
  if (size == nullptr || out == nullptr || (firstRow == nullptr && height > 0))
    return Vlt_report(enc->state, VLT_ERR_NULL);
  const size_t cap = *size;
  *size = 0;
  if (!geometry_ok(width, height, strideWords)) return Vlt_report(enc->state, VLT_ERR_PARAM);
  VltStatus st = EncodeInit(enc, width);
  if (st != VLT_OK) return st;
  size_t done = 0;
  for (int32_t y = 0; y < height; ++y) {
    LineToTrans(enc, row_at(firstRow, strideWords, y));
    st = TransToG4Code(enc, 0);
    if (st != VLT_OK) return st;
    if (!drain_line(enc, out, cap, &done)) return buffer_too_small(size);
  }
  if (endFlag) {
    st = Terminate(enc, -1);
    if (st != VLT_OK) return st;
    if (!drain_line(enc, out, cap, &done)) return buffer_too_small(size);
  }
  if (!drain_bits(enc, out, cap, &done)) return buffer_too_small(size);
  *size = done;
  return VLT_OK;
}

VltStatus g4Encode(const uint32_t* firstRow, int32_t width, int32_t height, int32_t strideWords,
                   uint8_t* out, size_t* size, int32_t endFlag, VltState* state) {
  FaxEncoder* enc = nullptr;
  const VltStatus created = EncodeCreate(&enc, state);
  if (created != VLT_OK) return created;
  const VltStatus st = g4EncodeC(enc, firstRow, width, height, strideWords, out, size, endFlag);
  EncodeCleanUp(&enc);
  return st;
}

VltStatus DoPage(FaxEncoder* enc, uint8_t* out, size_t* size, const uint32_t* firstRow,
                 int32_t strideWords, int32_t lines, int32_t K, int32_t eolFlag, int32_t endFlag,
                 int32_t uncompressedFlag, int32_t alignFlag, int32_t flushFlag) {
  if (enc == nullptr) return VLT_ERR_NULL;
  if (size == nullptr || out == nullptr || (firstRow == nullptr && lines > 0))
    return Vlt_report(enc->state, VLT_ERR_NULL);
  const size_t cap = *size;
  *size = 0;
  if (enc->lineBuf == nullptr || !geometry_ok(enc->width, lines, strideWords))
    return Vlt_report(enc->state, VLT_ERR_PARAM);
  size_t done = 0;
  if (!drain_line(enc, out, cap, &done)) return buffer_too_small(size);
  for (int32_t y = 0; y < lines; ++y) {
    LineToTrans(enc, row_at(firstRow, strideWords, y));
    if (alignFlag) {
      const uint32_t pad = eolFlag ? (52 - enc->bitCount) % 8 : (32 - enc->bitCount) % 8;
      if (pad != 0) {
        const VltStatus st = PutBits(enc, 0, pad);
        if (st != VLT_OK) return st;
      }
    }
    if (eolFlag) {
      const VltStatus st = PutEol(enc);
      if (st != VLT_OK) return st;
    }
    VltStatus st;
    if (K < 0)
      st = TransToG4Code(enc, uncompressedFlag);
    else if (K == 0)
      st = TransToG3Code(enc, 0, uncompressedFlag);
    else
      st = TransToG3Code(enc, y % K == 0 ? 1 : 2, uncompressedFlag);
    if (st != VLT_OK) return st;
    if (!drain_line(enc, out, cap, &done)) return buffer_too_small(size);
  }
  if (endFlag) {
    const VltStatus st = Terminate(enc, K);
    if (st != VLT_OK) return st;
    if (!drain_line(enc, out, cap, &done)) return buffer_too_small(size);
  }
  if ((endFlag || flushFlag) && !drain_bits(enc, out, cap, &done)) return buffer_too_small(size);
  *size = done;
  return VLT_OK;
}

VltStatus startDoc(FaxEncoder** place, int32_t width, int32_t totalLines, int32_t maxLines,
                   VltState* state) {
  if (place == nullptr || state == nullptr) return Vlt_report(state, VLT_ERR_NULL);
  if (maxLines < 0 || maxLines > totalLines)
    return Vlt_reportErrMsg(state->errState, VLT_ERR_PARAM, "Invalid parameter:  maxNumLines");
  if (width < 0 || width > FAX_MAX_WIDTH) return Vlt_report(state, VLT_ERR_PARAM);
  FaxEncoder* enc = nullptr;
  VltStatus st = EncodeCreate(&enc, state);
  if (st != VLT_OK) return st;
  st = EncodeInit(enc, width);
  size_t chunkSize = 0;
  if (st == VLT_OK && !mono::checked_mul(static_cast<size_t>(maxLines), enc->lineBufSize, &chunkSize))
    st = Vlt_report(state, VLT_ERR_NOMEM);
  if (st == VLT_OK) {
    enc->chunkBuf = static_cast<uint8_t*>(state->malloc(chunkSize == 0 ? 1 : chunkSize));
    if (enc->chunkBuf == nullptr) st = Vlt_report(state, VLT_ERR_NOMEM);
  }
  if (st != VLT_OK) {
    EncodeCleanUp(&enc);
    return st;
  }
  enc->chunkSize = chunkSize;
  enc->maxChunkLines = maxLines;
  *place = enc;
  return VLT_OK;
}

VltStatus g4EncodeChunk(FaxEncoder* enc, const uint32_t* firstRow, int32_t lines,
                        int32_t strideWords, const uint8_t** chunk, size_t* chunkBytes) {
  if (enc == nullptr) return VLT_ERR_NULL;
  if (chunk == nullptr || chunkBytes == nullptr || (firstRow == nullptr && lines > 0))
    return Vlt_report(enc->state, VLT_ERR_NULL);
  if (lines < 0 || lines > enc->maxChunkLines)
    return Vlt_reportErrMsg(enc->state->errState, VLT_ERR_PARAM, "Invalid parameter:  numLines");
  if (enc->chunkBuf == nullptr || !geometry_ok(enc->width, lines, strideWords))
    return Vlt_report(enc->state, VLT_ERR_PARAM);
  enc->chunkBytes = 0;
  for (int32_t y = 0; y < lines; ++y) {
    LineToTrans(enc, row_at(firstRow, strideWords, y));
    const VltStatus st = TransToG4Code(enc, 0);
    if (st != VLT_OK) return st;
    if (!drain_line(enc, enc->chunkBuf, enc->chunkSize, &enc->chunkBytes))
      return Vlt_reportErrMsg(enc->state->errState, VLT_ERR_OVERFLOW,
                              "chunk-by-chunk encoding buffer too full");
  }
  *chunk = enc->chunkBuf;
  *chunkBytes = enc->chunkBytes;
  return VLT_OK;
}

VltStatus endDoc(FaxEncoder** place, uint8_t lastWord[4], size_t* lastBytes) {
  if (place == nullptr || *place == nullptr) return VLT_ERR_NULL;
  FaxEncoder* enc = *place;
  if (lastWord == nullptr || lastBytes == nullptr) return Vlt_report(enc->state, VLT_ERR_NULL);
  size_t n = 0;
  drain_bits(enc, lastWord, 4, &n);
  *lastBytes = n;
  EncodeCleanUp(place);
  return VLT_OK;
}

VltStatus TestEncodeChunk(const uint32_t* firstRow, int32_t width, int32_t totalLines,
                          int32_t linesPerChunk, int32_t strideWords, uint8_t* out, size_t* size,
                          VltState* state) {
  if (size == nullptr || out == nullptr || state == nullptr) return Vlt_report(state, VLT_ERR_NULL);
  const size_t cap = *size;
  *size = 0;
  if (!geometry_ok(width, totalLines, strideWords) || linesPerChunk <= 0)
    return Vlt_report(state, VLT_ERR_PARAM);
  const int32_t perChunk = linesPerChunk < totalLines ? linesPerChunk : totalLines;
  FaxEncoder* enc = nullptr;
  VltStatus st = startDoc(&enc, width, totalLines, perChunk, state);
  if (st != VLT_OK) return st;
  size_t done = 0;
  for (int32_t y = 0; y < totalLines && st == VLT_OK; y += perChunk) {
    const int32_t n = totalLines - y < perChunk ? totalLines - y : perChunk;
    const uint8_t* chunk = nullptr;
    size_t bytes = 0;
    st = g4EncodeChunk(enc, row_at(firstRow, strideWords, y), n, strideWords, &chunk, &bytes);
    if (st != VLT_OK) break;
    if (cap - done < bytes) {
      st = Vlt_reportErrMsg(state->errState, VLT_ERR_OVERFLOW,
                            "toutput buffer too small; remainder not written.");
      break;
    }
    if (bytes != 0) std::memcpy(out + done, chunk, bytes);
    done += bytes;
  }
  uint8_t last[4];
  size_t lastBytes = 0;
  endDoc(&enc, last, &lastBytes);
  if (st != VLT_OK) return st;
  if (cap - done < lastBytes) return VLT_ERR_OVERFLOW;
  std::memcpy(out + done, last, lastBytes);
  *size = done + lastBytes;
  return VLT_OK;
}
