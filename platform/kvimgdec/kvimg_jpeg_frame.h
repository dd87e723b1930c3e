#ifndef KVIMG_JPEG_FRAME_H
#define KVIMG_JPEG_FRAME_H

// What the engine's JPEG readers check between jpeg_read_header and jpeg_start_decompress, which
// allocates for the whole frame (a progressive frame's coefficients take two bytes a sample),
// and which of libjpeg's warnings mean that pixels were made up. Not installed: the libraries'
// own sources share it.

#include <cstdint>
#include <cstdio>  // before jpeglib.h, which needs FILE

#include <jerror.h>
#include <jpeglib.h>

namespace kvimg {

// Whether a frame may be decoded: its pixels within max_pixels and, for Huffman coding, its first
// scan within the file (every block of a scan takes at least one bit for its DC difference, and
// a progression must begin with DC). Arithmetic coding has no such floor; the memory limit set on
// the decoder bounds it. False with the reason in why.
inline bool jpeg_frame_fits(const jpeg_decompress_struct* info, int64_t file_bytes, int64_t max_pixels, char* why,
                            size_t why_size) {
  const int64_t pixels = int64_t{info->image_width} * info->image_height;
  if (pixels > max_pixels) {
    std::snprintf(why, why_size, "the JPEG declares %u x %u pixels, more than the %lld a page may have",
                  info->image_width, info->image_height, static_cast<long long>(max_pixels));
    return false;
  }
  if (info->progressive_mode && info->Ss != 0) {
    std::snprintf(why, why_size, "the JPEG's progression begins with AC coefficients, before any DC");
    return false;
  }
  if (info->arith_code) return true;
  int64_t blocks = 0;
  for (int i = 0; i < info->comps_in_scan; ++i) {
    const jpeg_component_info* c = info->cur_comp_info[i];
    blocks += int64_t{c->width_in_blocks} * c->height_in_blocks;
  }
  if (blocks / 8 > file_bytes) {
    std::snprintf(why, why_size, "the JPEG declares %u x %u pixels, more than its %lld bytes can code",
                  info->image_width, info->image_height, static_cast<long long>(file_bytes));
    return false;
  }
  return true;
}

// The memory a frame's decoder may take: room for the coefficients of a progressive page of
// max_pixels in grey or subsampled colour; a larger whole-frame buffer fails with libjpeg's own
// error instead of being allocated.
inline long jpeg_memory_limit(int64_t max_pixels) { return static_cast<long>(max_pixels * 3); }

// Warnings after which libjpeg carries on with coefficients it made up: data cut short, damaged
// entropy-coded data, lost restart markers, a progression out of order.
inline bool jpeg_warning_loses_data(int code) {
  return code == JWRN_JPEG_EOF || code == JWRN_HIT_MARKER || code == JWRN_HUFF_BAD_CODE ||
         code == JWRN_ARITH_BAD_CODE || code == JWRN_MUST_RESYNC || code == JWRN_NOT_SEQUENTIAL ||
         code == JWRN_BOGUS_PROGRESSION;
}

}  // namespace kvimg

#endif
