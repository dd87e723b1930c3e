#include "jb2_segment.h"

#include <bit>
#include <cstring>

#include "byteorder.h"
#include "checked_size.h"
#include "vlt_state.h"

namespace {

// Referred numbers take the fewest bytes that can name any segment before this one.
int referred_width(uint32_t number) { return number <= 256 ? 1 : number <= 65536 ? 2 : 4; }

}  // namespace

VltStatus jb2WriteBytes(Jb2File* file, DataSink* sink, const uint8_t* bytes, uint32_t n) {
  uint32_t written = 0;
  if (const VltStatus st = dsWrite(sink, n, bytes, &written); st != VLT_OK) return st;
  if (written != n) return Vlt_report(file->state, VLT_ERR_IO_WRITE);
  return VLT_OK;
}

VltStatus jb2WriteU8(Jb2File* file, DataSink* sink, uint8_t value) {
  return jb2WriteBytes(file, sink, &value, 1);
}

VltStatus jb2WriteU16(Jb2File* file, DataSink* sink, uint16_t value) {
  uint8_t b[2];
  mono::store_be16(b, value);
  return jb2WriteBytes(file, sink, b, 2);
}

VltStatus jb2WriteU32(Jb2File* file, DataSink* sink, uint32_t value) {
  uint8_t b[4];
  mono::store_be32(b, value);
  return jb2WriteBytes(file, sink, b, 4);
}

VltStatus jb2EncodeSegmentHeader(Jb2File* file, const SegmentInfo* seg) {
  const int32_t count = seg->referredCount;
  if (count < 0 || count >= (1 << 29) ||
      (count > 0 && (seg->referred == nullptr || seg->referredRetain == nullptr)))
    return VLT_ERR_ASSERT;
  // Refuse a forward or self reference before anything is written.
  for (int32_t i = 0; i < count; ++i)
    if (seg->referred[i] >= seg->number) return VLT_ERR_ASSERT;

  DataSink* sink = file->headerSink;
  uint8_t head[9];
  uint32_t n = 0;
  mono::store_be32(head, seg->number);
  n = 4;
  head[n++] = static_cast<uint8_t>((seg->type & 0x3Fu) | (seg->page > 255 ? 0x40u : 0u) |
                                   (seg->deferred ? 0x80u : 0u));
  if (count <= 4) {
    uint32_t b = static_cast<uint32_t>(count) << 5 | (seg->retain ? 1u : 0u);
    for (int32_t i = 0; i < count; ++i) b |= (seg->referredRetain[i] ? 1u : 0u) << (i + 1);
    head[n++] = static_cast<uint8_t>(b);
    if (const VltStatus st = jb2WriteBytes(file, sink, head, n); st != VLT_OK) return st;
  } else {
    mono::store_be32(head + n, 0xE0000000u | static_cast<uint32_t>(count));
    n += 4;
    if (const VltStatus st = jb2WriteBytes(file, sink, head, n); st != VLT_OK) return st;
    // Bit 0 of the first byte is this segment's flag, then one bit per referred segment.
    uint8_t b = seg->retain ? 1 : 0;
    int bit = 1;
    for (int32_t i = 0; i < count; ++i) {
      if (seg->referredRetain[i]) b = static_cast<uint8_t>(b | 1u << bit);
      if (++bit == 8) {
        if (const VltStatus st = jb2WriteU8(file, sink, b); st != VLT_OK) return st;
        b = 0;
        bit = 0;
      }
    }
    if (bit != 0) {
      if (const VltStatus st = jb2WriteU8(file, sink, b); st != VLT_OK) return st;
    }
  }
  const int width = referred_width(seg->number);
  for (int32_t i = 0; i < count; ++i) {
    const uint32_t r = seg->referred[i];
    const VltStatus st = width == 1   ? jb2WriteU8(file, sink, static_cast<uint8_t>(r))
                         : width == 2 ? jb2WriteU16(file, sink, static_cast<uint16_t>(r))
                                      : jb2WriteU32(file, sink, r);
    if (st != VLT_OK) return st;
  }
  const VltStatus st = seg->page > 255 ? jb2WriteU32(file, sink, seg->page)
                                       : jb2WriteU8(file, sink, static_cast<uint8_t>(seg->page));
  if (st != VLT_OK) return st;
  return dsMark(sink, 4);
}

VltStatus jb2EncodeSegmentHeaderDataLength(Jb2File* file, const SegmentInfo* seg) {
  uint8_t b[4];
  mono::store_be32(b, seg->dataLength);
  return dsFillMark(file->headerSink, 4, b);
}

VltStatus jb2BeginSegment(Jb2File* file, const SegmentInfo* seg) {
  if (const VltStatus st = jb2EncodeSegmentHeader(file, seg); st != VLT_OK) return st;
  dsResetCount(file->dataSink);
  return VLT_OK;
}

VltStatus jb2EndSegment(Jb2File* file, SegmentInfo* seg) {
  seg->dataLength = dsCount(file->dataSink);
  return jb2EncodeSegmentHeaderDataLength(file, seg);
}

VltStatus jb2EncodeRegSegment(Jb2File* file, DataSink* sink, const Jb2RegionInfo* region) {
  if (region->combOp > JB2_COMBOP_REPLACE) return VLT_ERR_ASSERT;
  uint8_t b[17];
  mono::store_be32(b, region->width);
  mono::store_be32(b + 4, region->height);
  mono::store_be32(b + 8, region->x);
  mono::store_be32(b + 12, region->y);
  b[16] = region->combOp;
  return jb2WriteBytes(file, sink, b, sizeof b);
}

VltStatus jb2AddReferencedSegments(Jb2File* file, SegmentInfo* seg, SegmentInfo* const* referred,
                                   int32_t n) {
  VltState* st = file->state;
  if (n < 0 || seg->referredCount < 0) return VLT_ERR_ASSERT;
  if (n == 0) return VLT_OK;
  if ((seg->referred == nullptr || seg->referredRetain == nullptr) && seg->referredCount > 0)
    return VLT_ERR_ASSERT;
  int32_t total = 0;
  size_t numberBytes = 0;
  if (!mono::checked_add(seg->referredCount, n, &total) ||
      !mono::checked_mul(static_cast<size_t>(total), sizeof(uint32_t), &numberBytes))
    return Vlt_report(st, VLT_ERR_NOMEM);
  auto* numbers = static_cast<uint32_t*>(
      seg->referred != nullptr ? st->realloc(seg->referred, numberBytes) : st->malloc(numberBytes));
  if (numbers == nullptr) return Vlt_report(st, VLT_ERR_NOMEM);
  seg->referred = numbers;  // larger now; the count still says how much of it is in use
  auto* flags = static_cast<uint8_t*>(
      seg->referredRetain != nullptr ? st->realloc(seg->referredRetain, static_cast<size_t>(total))
                                     : st->malloc(static_cast<size_t>(total)));
  if (flags == nullptr) return Vlt_report(st, VLT_ERR_NOMEM);
  seg->referredRetain = flags;
  for (int32_t i = 0; i < n; ++i) {
    numbers[seg->referredCount + i] = referred[i]->number;
    flags[seg->referredCount + i] = 0;
  }
  seg->referredCount = total;
  return VLT_OK;
}

uint32_t ceillog2(uint32_t n) { return n <= 1 ? 0 : static_cast<uint32_t>(std::bit_width(n - 1)); }

uint32_t jb2ABContextsNeeded(const Jb2GenericParams* params) {
  switch (params->gbTemplate) {
    case 0:
      return 65536;
    case 1:
      return 8192;
    case 2:
    case 3:
      return 1024;
    default:
      return 1;
  }
}
