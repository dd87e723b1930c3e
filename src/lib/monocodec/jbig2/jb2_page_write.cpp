// Page information, end of page, end of stripe and end of file segments.

#include "jb2_encode.h"

#include "byteorder.h"
#include "vlt_state.h"

namespace {

// These segments refer to nothing and are never retained; arrays the record held stay the
// caller's.
void start_segment(Jb2File* file, SegmentInfo* seg, uint8_t type) {
  seg->number = jb2FileNextSegmentNumber(file);
  seg->type = type;
  seg->retain = 0;
  seg->deferred = 0;
  seg->referredCount = 0;
  seg->referred = nullptr;
  seg->referredRetain = nullptr;
}

VltStatus write_with_data(Jb2File* file, SegmentInfo* seg, const uint8_t* data, uint32_t n) {
  if (const VltStatus st = jb2BeginSegment(file, seg); st != VLT_OK) return st;
  if (const VltStatus st = jb2WriteBytes(file, file->dataSink, data, n); st != VLT_OK) return st;
  return jb2EndSegment(file, seg);
}

VltStatus write_empty(Jb2File* file, SegmentInfo* seg, uint8_t type) {
  start_segment(file, seg, type);
  seg->dataLength = 0;
  if (const VltStatus st = jb2EncodeSegmentHeader(file, seg); st != VLT_OK) return st;
  return jb2EncodeSegmentHeaderDataLength(file, seg);
}

}  // namespace

VltStatus jb2EncodePageInfo(Jb2File* file, SegmentInfo* seg) {
  start_segment(file, seg, JB2_SEG_PAGE_INFO);
  if (seg->page < 1) return VLT_ERR_ASSERT;
  const Jb2PageInfo& p = seg->body.pageInfo;
  // The stripe size shares its field with the striped flag in bit 15.
  if (p.striped && p.maxStripe > 0x7FFF) return Vlt_report(file->state, VLT_ERR_PARAM);
  uint8_t d[19];
  mono::store_be32(d, p.width);
  mono::store_be32(d + 4, p.height);
  mono::store_be32(d + 8, p.xResolution);
  mono::store_be32(d + 12, p.yResolution);
  d[16] = static_cast<uint8_t>((p.eventuallyLossless ? 0x01 : 0) | (p.mightRefine ? 0x02 : 0) |
                               (p.defaultPixel ? 0x04 : 0) | (p.defaultCombOp & 3u) << 3 |
                               (p.auxBuffers ? 0x20 : 0) | (p.combOpOverridden ? 0x40 : 0));
  mono::store_be16(d + 17, p.striped ? static_cast<uint16_t>(0x8000u | p.maxStripe) : uint16_t{0});
  return write_with_data(file, seg, d, sizeof d);
}

VltStatus jb2EncodeEOPage(Jb2File* file, SegmentInfo* seg) {
  return write_empty(file, seg, JB2_SEG_END_OF_PAGE);
}

VltStatus jb2EncodeEOFile(Jb2File* file, SegmentInfo* seg) {
  return write_empty(file, seg, JB2_SEG_END_OF_FILE);
}

VltStatus jb2EncodeEOStripe(Jb2File* file, SegmentInfo* seg) {
  start_segment(file, seg, JB2_SEG_END_OF_STRIPE);
  if (seg->page < 1) return VLT_ERR_ASSERT;
  uint8_t d[4];
  mono::store_be32(d, seg->body.endOfStripe.endRow);
  return write_with_data(file, seg, d, sizeof d);
}
