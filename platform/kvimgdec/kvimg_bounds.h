#ifndef KVIMG_BOUNDS_H
#define KVIMG_BOUNDS_H

// What the engine's image readers (files and memory) check before they allocate for an image:
// a JPEG frame between jpeg_read_header and jpeg_start_decompress, which allocates for the whole
// frame (a progressive frame's coefficients take two bytes a sample), which of libjpeg's
// warnings mean that pixels were made up, and how far a TIFF strip's coding can expand. Not
// installed: the libraries' own sources share it.

#include <cstdint>
#include <cstdio>  // before jpeglib.h, which needs FILE

#include <jpeglib.h>
// After jpeglib.h, whose version decides which warnings jerror.h names.
#include <jerror.h>

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

// The most bytes of pixels one byte of a TIFF coding (libtiff's compression code) can give, for
// rows of row_bytes and pixels of bits_per_pixel: a page whose strips, as far as the data holds
// them, cannot code its rows is refused before they are allocated.
inline uint64_t tiff_most_expansion(uint16_t compression, uint64_t row_bytes, int bits_per_pixel) {
  switch (compression) {
    case 1:  // none
      return 1;
    case 32773:  // PackBits: a two-byte run codes 128 bytes
      return 64;
    case 5:  // LZW: a code of at least 9 bits stands for at most 4096 bytes
      return 4096 * 8 / 9;
    case 8:  // deflate, either code: deflate's limit
    case 32946:
      return 1032;
    case 2:  // CCITT RLE, G3, G4: a row takes at least one bit
    case 3:
    case 4:
      return 8 * row_bytes;
    case 6:  // JPEG, old and new: a block of 64 pixels takes at least a bit
    case 7:
      return 512 * static_cast<uint64_t>(bits_per_pixel / 8 > 1 ? bits_per_pixel / 8 : 1);
    default:  // other codings: generous, still far below what a crafted size asks
      return uint64_t{1} << 16;
  }
}

// Whether strips holding held bytes can code height rows of width pixels.
inline bool tiff_strips_can_hold(uint64_t held, uint16_t compression, uint32_t width, uint32_t height,
                                 int bits_per_pixel) {
  const uint64_t row_bytes = (uint64_t{width} * static_cast<uint64_t>(bits_per_pixel) + 7) / 8;
  const unsigned __int128 most =
      static_cast<unsigned __int128>(held) * tiff_most_expansion(compression, row_bytes, bits_per_pixel);
  return most >= static_cast<unsigned __int128>(row_bytes) * height;
}

}  // namespace kvimg

#endif
