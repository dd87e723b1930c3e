// Engine image: creation over an own store, wrapping of caller memory, origin changes,
// duplication and release. Row pointers always address the first pixel of their row, so no
// pointer is ever formed outside the store, whatever the offsets.

#include "vlt_image.h"

#include <cstdint>
#include <cstring>

#include "byteorder.h"
#include "checked_size.h"
#include "vlt_state.h"

namespace {

const VltErrState* reporter(const VltState* state) {
  return state != nullptr ? state->errState : nullptr;
}

// Bytes per line by the type's rule; false when it does not fit.
bool line_bytes(uint16_t type, int32_t width, bool aligned, int32_t* out) {
  if (type == VLT_IMAGE_PACKED) {
    *out = static_cast<int32_t>((static_cast<int64_t>(width) + 31) / 32 * 4);
    return true;
  }
  int32_t plain;
  if (!mono::checked_mul(VltImage_bytesPerPixel(type), width, &plain)) return false;
  // Single-byte and short rows round up to whole words; wider elements fill words already
  // except RGB, which the same rule covers.
  if (aligned && plain % 4 != 0) {
    int32_t rounded;
    if (!mono::checked_add(plain, 3, &rounded)) return false;
    plain = rounded / 4 * 4;
  }
  *out = plain;
  return true;
}

// The row table of height entries (at least one, so a wrapped image of height 0 can still give
// its buffer back) over rows of bytesPerLine bytes from base.
uint8_t** make_rows(VltState* state, uint8_t* base, int32_t height, int32_t bytes_per_line) {
  const size_t entries = height > 0 ? static_cast<size_t>(height) : 1;
  size_t table_bytes;
  if (!mono::checked_mul(entries, sizeof(uint8_t*), &table_bytes)) return nullptr;
  auto** rows = static_cast<uint8_t**>(state->malloc(table_bytes));
  if (rows == nullptr) return nullptr;
  for (size_t i = 0; i < entries; ++i) rows[i] = base + i * static_cast<size_t>(bytes_per_line);
  return rows;
}

VltImage* new_record(VltState* state) {
  auto* im = static_cast<VltImage*>(state->malloc(sizeof(VltImage)));
  if (im != nullptr) *im = VltImage{};
  if (im != nullptr) im->state = state;
  return im;
}

void release(VltImage* im) {
  VltState* state = im->state;
  if (im->hdr.comment != nullptr) state->free(im->hdr.comment);
  if (im->rows != nullptr) {
    if ((im->flags & VLT_IMAGE_WRAPPED) == 0) state->free(im->rows[0]);
    state->free(im->rows);
  }
  state->free(im);
}

// Header over caller memory; the caller has checked the arguments.
VltStatus wrap_header(VltState* state, uint8_t* buffer, uint16_t type, int32_t width,
                      int32_t height, int32_t bytes_per_line, VltStatus table_failure,
                      VltImage** image) {
  VltImage* im = new_record(state);
  if (im == nullptr) return Vlt_report(state, VLT_ERR_NOMEM);
  im->rows = make_rows(state, buffer, height, bytes_per_line);
  if (im->rows == nullptr) {
    state->free(im);
    return Vlt_report(state, table_failure);
  }
  im->hdr.width = width;
  im->hdr.height = height;
  im->hdr.bytesPerLine = bytes_per_line;
  im->hdr.type = type;
  im->flags = VLT_IMAGE_WRAPPED;
  *image = im;
  return VLT_OK;
}

// Rows of bytes_per_line must hold the width; no row may reach outside the caller's buffer.
bool wrap_geometry_ok(uint16_t type, int32_t width, int32_t height, int64_t bytes_per_line) {
  int32_t needed;
  return width >= 0 && height >= 0 && line_bytes(type, width, false, &needed) &&
         bytes_per_line >= needed && bytes_per_line <= INT32_MAX &&
         static_cast<uint64_t>(bytes_per_line) * static_cast<uint64_t>(height) <= SIZE_MAX;
}

VltStatus unwrap_common(VltImage* image, uint8_t** buffer) {
  uint8_t* base = image->rows[0];
  if (buffer != nullptr) *buffer = base;
  VltState* state = image->state;
  if (image->hdr.comment != nullptr) state->free(image->hdr.comment);
  state->free(image->rows);
  state->free(image);
  return VLT_OK;
}

}  // namespace

int32_t VltImage_bytesPerPixel(uint16_t type) {
  switch (type) {
    case VLT_IMAGE_GRAY:
    case VLT_IMAGE_BINARY: return 1;
    case VLT_IMAGE_SHORT: return 2;
    case VLT_IMAGE_RGB: return 3;
    case VLT_IMAGE_FLOAT:
    case VLT_IMAGE_LONG:
    case VLT_IMAGE_WORD: return 4;
    case VLT_IMAGE_DOUBLE: return 8;
    case VLT_IMAGE_RGBFLOAT: return 12;
    default: return 0;
  }
}

int VltImage_validType(uint16_t type) {
  return (type >= VLT_IMAGE_GRAY && type <= VLT_IMAGE_RGBFLOAT) || type == VLT_IMAGE_PACKED;
}

int VltImage_getPackedPixel(const VltImage* im, int32_t x, int32_t y) {
  const auto u = static_cast<uint32_t>(static_cast<int64_t>(x) - im->hdr.xOffset);
  const uint32_t word = mono::load_be32(VltImage_row(im, y) + (u >> 5) * 4);
  return static_cast<int>((word >> (31 - (u & 31))) & 1u);
}

void VltImage_setPackedPixel(VltImage* im, int32_t x, int32_t y, int value) {
  const auto u = static_cast<uint32_t>(static_cast<int64_t>(x) - im->hdr.xOffset);
  uint8_t* p = VltImage_row(im, y) + (u >> 5) * 4;
  const uint32_t bit = 1u << (31 - (u & 31));
  const uint32_t word = mono::load_be32(p);
  mono::store_be32(p, value ? word | bit : word & ~bit);
}

VltStatus VltImage_newOffsetAligned(VltState* state, uint16_t type, int32_t width, int32_t height,
                                    int32_t xOffset, int32_t yOffset, int aligned,
                                    VltImage** image) {
  if (image != nullptr) *image = nullptr;
  if (state == nullptr || image == nullptr) return VLT_ERR_NULL;
  const bool uninit = (type & VLT_IMAGE_UNINIT) != 0;
  if (uninit) type = static_cast<uint16_t>(type & ~VLT_IMAGE_UNINIT);
  if (!VltImage_validType(type)) return Vlt_report(state, VLT_ERR_COMMAND_LINE);

  int32_t bytes_per_line = 0;
  size_t store_bytes = 0;
  if (width < 0 || height < 0 || !line_bytes(type, width, aligned != 0, &bytes_per_line) ||
      !mono::checked_mul(static_cast<size_t>(height), static_cast<size_t>(bytes_per_line),
                         &store_bytes))
    return Vlt_report(state, VLT_ERR_PARAM);

  VltImage* im = new_record(state);
  if (im == nullptr) return Vlt_report(state, VLT_ERR_NOMEM);
  if (width != 0 && height != 0) {
    auto* store = static_cast<uint8_t*>(
        uninit ? state->malloc(store_bytes)
               : state->calloc(static_cast<size_t>(height), static_cast<size_t>(bytes_per_line)));
    uint8_t** rows = store != nullptr ? make_rows(state, store, height, bytes_per_line) : nullptr;
    if (rows == nullptr) {
      if (store != nullptr) state->free(store);
      state->free(im);
      return Vlt_report(state, VLT_ERR_VLT_NOMEM);
    }
    im->rows = rows;
  }
  im->hdr.width = width;
  im->hdr.height = height;
  im->hdr.bytesPerLine = bytes_per_line;
  im->hdr.xOffset = xOffset;
  im->hdr.yOffset = yOffset;
  im->hdr.type = type;
  *image = im;
  return VLT_OK;
}

VltStatus VltImage_newAligned(VltState* state, uint16_t type, int32_t width, int32_t height,
                              VltImage** image) {
  return VltImage_newOffsetAligned(state, type, width, height, 0, 0, 1, image);
}

VltStatus VltImage_newOffset(VltState* state, uint16_t type, int32_t width, int32_t height,
                             int32_t xOffset, int32_t yOffset, VltImage** image) {
  return VltImage_newOffsetAligned(state, type, width, height, xOffset, yOffset, 0, image);
}

VltStatus VltImage_new(VltState* state, uint16_t type, int32_t width, int32_t height,
                       VltImage** image) {
  return VltImage_newOffsetAligned(state, type, width, height, 0, 0, 0, image);
}

VltStatus VltImage_wrap(VltState* state, uint8_t* buffer, int32_t width, int32_t height,
                        int32_t wordsPerLine, VltImage** image) {
  if (image != nullptr) *image = nullptr;
  if (state == nullptr || image == nullptr) return VLT_ERR_NULL;
  const int64_t bytes_per_line = int64_t{wordsPerLine} * 4;
  if (buffer == nullptr || !wrap_geometry_ok(VLT_IMAGE_PACKED, width, height, bytes_per_line))
    return VLT_ERR_ASSERT;
  return wrap_header(state, buffer, VLT_IMAGE_PACKED, width, height,
                     static_cast<int32_t>(bytes_per_line), VLT_ERR_NULL, image);
}

VltStatus VltImage_unwrap(VltImage* image, uint8_t** buffer) {
  if (image == nullptr || image->rows == nullptr) return VLT_ERR_ASSERT;
  return unwrap_common(image, buffer);
}

VltStatus VltImage_wrapRGB(VltState* state, uint8_t* buffer, int32_t width, int32_t height,
                           int32_t bytesPerLine, VltImage** image) {
  if (image != nullptr) *image = nullptr;
  if (state == nullptr || image == nullptr) return VLT_ERR_NULL;
  if (buffer == nullptr || !wrap_geometry_ok(VLT_IMAGE_RGB, width, height, bytesPerLine))
    return VLT_ERR_ASSERT;
  return wrap_header(state, buffer, VLT_IMAGE_RGB, width, height, bytesPerLine, VLT_ERR_NOMEM,
                     image);
}

VltStatus VltImage_unwrapRGB(VltImage* image, uint8_t** buffer) {
  return VltImage_unwrap(image, buffer);
}

VltStatus VltImage_wrapAll(VltState* state, uint8_t* buffer, uint16_t type, int32_t width,
                           int32_t height, int32_t bytesPerLine, VltImage** image) {
  if (image != nullptr) *image = nullptr;
  if (state == nullptr) return VLT_ERR_NULL;
  if (buffer == nullptr || image == nullptr) return Vlt_report(state, VLT_ERR_NULL);
  if (!VltImage_validType(type)) return Vlt_report(state, VLT_ERR_COMMAND_LINE);
  if (!wrap_geometry_ok(type, width, height, bytesPerLine)) return VLT_ERR_ASSERT;
  return wrap_header(state, buffer, type, width, height, bytesPerLine, VLT_ERR_VLT_NOMEM, image);
}

VltStatus VltImage_unwrapAll(VltImage* image, uint8_t** buffer) {
  if (image == nullptr) return VLT_ERR_NULL;
  if (image->rows == nullptr) return Vlt_report(image->state, VLT_ERR_NULL);
  return unwrap_common(image, buffer);
}

VltStatus VltImage_setOffset(VltImage* image, int32_t xOffset, int32_t yOffset) {
  if (image == nullptr) return VLT_ERR_ASSERT;
  if (image->hdr.type == VLT_IMAGE_PACKED && image->rows == nullptr) return VLT_ERR_ASSERT;
  image->hdr.xOffset = xOffset;
  image->hdr.yOffset = yOffset;
  if (!VltImage_validType(image->hdr.type)) return Vlt_report(image->state, VLT_ERR_COMMAND_LINE);
  return VLT_OK;
}

VltStatus VltImage_getHeader(VltImage* image, VltImageHeader** header) {
  if (image == nullptr || header == nullptr) return VLT_ERR_ASSERT;
  *header = &image->hdr;
  return VLT_OK;
}

VltStatus VltImage_setComment(VltImage* image, const char* text) {
  if (image == nullptr) return VLT_ERR_ASSERT;
  VltState* state = image->state;
  if (image->hdr.comment != nullptr) state->free(image->hdr.comment);
  image->hdr.comment = nullptr;
  if (text == nullptr) return VLT_OK;
  const size_t n = std::strlen(text) + 1;
  auto* copy = static_cast<char*>(state->malloc(n));
  if (copy == nullptr) return Vlt_report(state, VLT_ERR_VLT_NOMEM);
  std::memcpy(copy, text, n);
  image->hdr.comment = copy;
  return VLT_OK;
}

VltStatus VltImage_free(VltImage* image) {
  if (image == nullptr) return VLT_OK;
  if (!VltImage_validType(image->hdr.type))
    return Vlt_reportErrMsg(reporter(image->state), VLT_ERR_CONSISTENCY, "bad image tag");
  release(image);
  return VLT_OK;
}

VltStatus VltImage_dup(const VltImage* image, int copyComment, VltImage** copy) {
  if (copy != nullptr) *copy = nullptr;
  if (image == nullptr || copy == nullptr) return VLT_ERR_ASSERT;
  const VltImageHeader& h = image->hdr;
  VltImage* out = nullptr;
  if (h.type == VLT_IMAGE_PACKED) {
    const VltStatus st = VltImage_newOffset(image->state, VLT_IMAGE_PACKED | VLT_IMAGE_UNINIT,
                                            h.width, h.height, h.xOffset, h.yOffset, &out);
    if (st != VLT_OK) return st;
  } else {
    // The copy keeps word-aligned rows when the source has them, so every source row fits.
    int32_t aligned_bpl = 0;
    const bool aligned = VltImage_validType(h.type) &&
                         line_bytes(h.type, h.width, true, &aligned_bpl) &&
                         h.bytesPerLine == aligned_bpl;
    const VltStatus st = VltImage_newOffsetAligned(
        image->state, static_cast<uint16_t>(h.type | VLT_IMAGE_UNINIT), h.width, h.height,
        h.xOffset, h.yOffset, aligned, &out);
    if (st != VLT_OK) return st;
  }
  if (out->rows != nullptr) {
    const size_t row_bytes = static_cast<size_t>(out->hdr.bytesPerLine);
    if (h.bytesPerLine == out->hdr.bytesPerLine)
      std::memcpy(out->rows[0], image->rows[0], row_bytes * static_cast<size_t>(h.height));
    else
      for (int32_t i = 0; i < h.height; ++i) std::memcpy(out->rows[i], image->rows[i], row_bytes);
  }
  if (h.type != VLT_IMAGE_PACKED && copyComment && h.comment != nullptr &&
      VltImage_setComment(out, h.comment) != VLT_OK) {
    release(out);
    return VLT_ERR_VLT_NOMEM;
  }
  *copy = out;
  return VLT_OK;
}
