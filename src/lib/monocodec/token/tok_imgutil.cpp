// Small image utilities of the token engine.

#include "tok_imgutil.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "byteorder.h"
#include "checked_size.h"
#include "pixr.h"
#include "pixr_geom.h"
#include "tok_bufcc.h"

namespace {

constexpr int32_t kRgbChannels = 3;

// The wrapper state of the engine, reported when missing.
VltStatus wrapper_of(VltState* engine, IPWState** w) {
  *w = engine->ipwState;
  return *w == nullptr ? Vlt_report(engine, VLT_ERR_NULL_IPWSTATE) : VLT_OK;
}

// The first image pixel of row y of each of the three channels.
VltStatus channel_lines(IPWState* w, const PIXR* p, int32_t y, uint8_t* lines[kRgbChannels]) {
  for (int32_t c = 0; c < kRgbChannels; ++c) {
    PIXR* channel = nullptr;
    if (VltStatus st = w_pixrGetChannel(w, p, c, &channel)) return st;
    if (VltStatus st = w_pixrGetLine(w, channel, y, &lines[c])) return st;
  }
  return VLT_OK;
}

// A new 3-channel 8-bit PIXR of the image's size filled row by row: fill(y, lines) writes the
// width pixels of row y into the three channel lines.
template <typename Fill>
VltStatus make_rgb_pixr(VltState* engine, int32_t width, int32_t height, bool zeroed, PIXR** place, Fill fill) {
  IPWState* w = nullptr;
  if (VltStatus st = wrapper_of(engine, &w)) return st;
  PIXR* p = nullptr;
  const VltStatus made =
      zeroed ? w_createPixrExtended(w, width, height, 8, 0, 0, PIXR_FRAME, kRgbChannels, 5, nullptr, &p)
             : w_createPixrExtendedNoInit(w, width, height, 8, 0, 0, PIXR_FRAME, kRgbChannels, 5, nullptr, &p);
  if (made != VLT_OK) return made;
  for (int32_t y = 0; y < height; ++y) {
    uint8_t* lines[kRgbChannels] = {};
    if (VltStatus st = channel_lines(w, p, y, lines)) {
      w_destroyPixr(w, &p);
      return st;
    }
    fill(y, lines);
  }
  *place = p;
  return VLT_OK;
}

// Converts by truncation toward zero, saturating at the 32-bit limits.
int32_t saturating_trunc(float v) {
  if (v >= 2147483648.0f) return INT32_MAX;
  if (v <= -2147483648.0f) return INT32_MIN;
  return static_cast<int32_t>(v);
}

// Releases the images of a list (not the list).
void free_list_images(const VltAdtList* list) {
  for (VltAdtListNode* n = list->first; n != nullptr; n = n->next) VltImage_free(static_cast<VltImage*>(n->data));
}

}  // namespace

int32_t find_max_of_ints(const int32_t* values, int32_t n) {
  int32_t best = values[0];
  for (int32_t i = 1; i < n; ++i)
    if (values[i] > best) best = values[i];
  return best;
}

void cmyk2rgb(uint32_t cmyk, uint8_t rgb[3]) {
  // Ink colours of cyan, magenta, yellow and black per output channel.
  static constexpr double kInk[4][3] = {{0, 1, 1}, {1, 0, 1}, {1, 1, 0}, {0, 0, 0}};
  const double value[4] = {double((cmyk >> 24) & 0xFF) / 255.0, double((cmyk >> 16) & 0xFF) / 255.0,
                           double((cmyk >> 8) & 0xFF) / 255.0, double(cmyk & 0xFF) / 255.0};
  for (int ch = 0; ch < 3; ++ch) {
    double product = 1.0;
    for (int ink = 0; ink < 4; ++ink) product *= 1.0 - value[ink] * (1.0 - kInk[ink][ch]);
    rgb[ch] = static_cast<uint8_t>(static_cast<int>(product * 255.0 + 0.5));
  }
}

VltStatus limtorgbim(const VltImage* cmyk, VltImage** place) {
  if (cmyk == nullptr || place == nullptr || cmyk->rows == nullptr) return VLT_ERR_PARAM;
  *place = nullptr;
  const VltImageHeader& h = cmyk->hdr;
  VltImage* rgb = nullptr;
  if (VltStatus st = VltImage_newOffset(cmyk->state, VLT_IMAGE_RGB, h.width, h.height, h.xOffset, h.yOffset, &rgb))
    return st;
  for (int32_t y = 0; y < h.height; ++y)
    for (int32_t x = 0; x < h.width; ++x)
      cmyk2rgb(mono::load_be32(cmyk->rows[y] + 4 * size_t(x)), rgb->rows[y] + 3 * size_t(x));
  *place = rgb;
  return VLT_OK;
}

VltStatus pimNewFrameAligned(VltState* engine, int32_t width, int32_t height, int32_t* xOffset, VltImage** place) {
  if (engine == nullptr) return VLT_ERR_PARAM;
  if (place == nullptr || xOffset == nullptr) return Vlt_report(engine, VLT_ERR_NULL);
  *place = nullptr;
  IPWState* w = engine->ipwState;
  if (w == nullptr) return Vlt_report(engine, VLT_ERR_NULL_IPWSTATE);
  int32_t bpl = 0;
  size_t size = 0;
  if (VltStatus st = w_pixrImageProperties(w, width, height, 1, 32, &bpl, &size)) return st;
  auto* buffer = static_cast<uint8_t*>(engine->calloc(1, size == 0 ? 1 : size));
  if (buffer == nullptr) return Vlt_report(engine, VLT_ERR_NOMEM);
  VltImage* image = nullptr;
  if (VltStatus st = VltImage_wrap(engine, buffer, width + 64, height + 64, bpl / 4, &image)) {
    engine->free(buffer);
    return st;
  }
  // The frame is exactly 32 pixels, a whole word, on the left of every row.
  *xOffset = 0;
  *place = image;
  return VLT_OK;
}

VltStatus decompressAnyCompressedTokens(TokCodedToken* tokens, int32_t n, VltState* engine) {
  if (engine == nullptr) return VLT_ERR_PARAM;
  if (tokens == nullptr && n > 0) return Vlt_report(engine, VLT_ERR_NULL);
  for (int32_t i = 0; i < n; ++i) {
    TokCodedToken& t = tokens[i];
    if (t.codedLength == 0 || t.width == 0) continue;
    uint8_t* coded = nullptr;
    if (VltStatus st = decompressSingleUseToken(&t, &coded, engine)) return st;
    engine->free(coded);
  }
  return VLT_OK;
}

VltStatus noFramedPackedToPixr(VltState* engine, const uint8_t* data, int32_t width, int32_t height,
                               int32_t wordsPerLine, PIXR** place) {
  if (engine == nullptr) return VLT_ERR_PARAM;
  IPWState* w = nullptr;
  if (VltStatus st = wrapper_of(engine, &w)) return st;
  return packedToPixr(engine, data, width, height, wordsPerLine, place);
}

VltStatus packedtopixr(VltState* engine, VltImage* image, int32_t frame, PIXR** place) {
  if (engine == nullptr) return VLT_ERR_PARAM;
  if (image == nullptr || place == nullptr) return Vlt_report(engine, VLT_ERR_NULL);
  IPWState* w = nullptr;
  if (VltStatus st = wrapper_of(engine, &w)) return st;
  const VltImageHeader& h = image->hdr;
  // Only a buffer the image merely wraps can change owner, and only when its rows lie one after
  // the other with a whole frame around the page.
  if (h.type != VLT_IMAGE_PACKED || (image->flags & VLT_IMAGE_WRAPPED) == 0 || image->rows == nullptr ||
      (frame != 0 && frame != PIXR_FRAME) || h.width <= 2 * frame || h.height <= 2 * frame || h.bytesPerLine % 4 != 0)
    return Vlt_report(engine, VLT_ERR_PARAM);
  uint8_t* buffer = image->rows[0];
  PIXR* p = nullptr;
  if (VltStatus st = w_createPixrStructOnly(w, h.width - 2 * frame, h.height - 2 * frame, 1, 0, 0, frame, buffer, &p))
    return st;
  int32_t bpl = 0;
  VltStatus st = w_pixrGetBpl(w, p, &bpl);
  if (st == VLT_OK && h.bytesPerLine < bpl) st = Vlt_report(engine, VLT_ERR_PARAM);
  // The record would place the frame at the next long-access boundary inside the buffer; the
  // image's rows start at the buffer itself, which the core reads with word access.
  if (st == VLT_OK) st = w_pixrSetImageAll(w, p, buffer);
  if (st == VLT_OK) st = w_pixrSetBpl(w, p, h.bytesPerLine);
  if (st != VLT_OK) {
    w_destroyPixrStructOnly(w, &p);
    return st;
  }
  VltImage_unwrap(image, nullptr);
  *place = p;
  return VLT_OK;
}

VltStatus limtorgbpixr(VltState* engine, const VltImage* cmyk, PIXR** place) {
  if (engine == nullptr) return VLT_ERR_PARAM;
  if (cmyk == nullptr || place == nullptr) return Vlt_report(engine, VLT_ERR_NULL);
  const VltImageHeader& h = cmyk->hdr;
  if (VltImage_bytesPerPixel(h.type) != 4 || (cmyk->rows == nullptr && h.width > 0 && h.height > 0))
    return Vlt_report(engine, VLT_ERR_PARAM);
  return make_rgb_pixr(engine, h.width, h.height, true, place, [&](int32_t y, uint8_t* const* lines) {
    for (int32_t x = 0; x < h.width; ++x) {
      uint8_t rgb[3];
      cmyk2rgb(mono::load_be32(cmyk->rows[y] + 4 * size_t(x)), rgb);
      for (int32_t c = 0; c < kRgbChannels; ++c) lines[c][x] = rgb[c];
    }
  });
}

VltStatus pixrtorgb(VltState* engine, const PIXR* pixr, VltImage** place) {
  if (engine == nullptr) return VLT_ERR_PARAM;
  if (pixr == nullptr || place == nullptr) return Vlt_report(engine, VLT_ERR_NULL);
  IPWState* w = nullptr;
  if (VltStatus st = wrapper_of(engine, &w)) return st;
  if (VltStatus st = wp_pixrCheckFlags(w, pixr, PIXR_ORDER_ANY, PIXR_DEPTH_8, PIXR_CHANNELS_3, PIXR_FRAME_ANY))
    return st;
  int32_t width = 0, height = 0;
  if (VltStatus st = w_pixrGetWidth(w, pixr, &width)) return st;
  if (VltStatus st = w_pixrGetHeight(w, pixr, &height)) return st;
  VltImage* rgb = nullptr;
  if (VltStatus st = VltImage_new(engine, VLT_IMAGE_RGB, width, height, &rgb)) return st;
  for (int32_t y = 0; y < height && width > 0; ++y) {
    uint8_t* lines[kRgbChannels] = {};
    if (VltStatus st = channel_lines(w, pixr, y, lines)) {
      VltImage_free(rgb);
      return st;
    }
    uint8_t* out = rgb->rows[y];
    for (int32_t x = 0; x < width; ++x)
      for (int32_t c = 0; c < kRgbChannels; ++c) out[3 * size_t(x) + size_t(c)] = lines[c][x];
  }
  *place = rgb;
  return VLT_OK;
}

VltStatus rgbimtorgbpixr(VltState* engine, const VltImage* rgb, PIXR** place) {
  if (engine == nullptr) return VLT_ERR_PARAM;
  if (rgb == nullptr || place == nullptr) return Vlt_report(engine, VLT_ERR_NULL);
  const VltImageHeader& h = rgb->hdr;
  if (h.type != VLT_IMAGE_RGB || (rgb->rows == nullptr && h.width > 0 && h.height > 0))
    return Vlt_report(engine, VLT_ERR_PARAM);
  return make_rgb_pixr(engine, h.width, h.height, false, place, [&](int32_t y, uint8_t* const* lines) {
    const uint8_t* in = rgb->rows[y];
    for (int32_t x = 0; x < h.width; ++x)
      for (int32_t c = 0; c < kRgbChannels; ++c) lines[c][x] = in[3 * size_t(x) + size_t(c)];
  });
}

VltStatus tc_convertToPixr(VltState* engine, const VltImage* image, PIXR** place) {
  if (engine == nullptr) return VLT_ERR_PARAM;
  if (image == nullptr || place == nullptr) return Vlt_report(engine, VLT_ERR_PARAM);
  switch (image->hdr.type) {
    case VLT_IMAGE_RGB: return rgbimtorgbpixr(engine, image, place);
    case VLT_IMAGE_PACKED: {
      const VltImageHeader& h = image->hdr;
      if (h.height > 0 && (image->rows == nullptr || h.bytesPerLine % 4 != 0)) return Vlt_report(engine, VLT_ERR_PARAM);
      // A Packed image's rows are one store at a fixed stride, so they read as one block.
      return noFramedPackedToPixr(engine, h.height > 0 ? image->rows[0] : nullptr, h.width, h.height,
                                  h.bytesPerLine / 4, place);
    }
    default:
      std::printf("do not support this format\n");
      return Vlt_report(engine, VLT_ERR_ILLEGAL_TYPE);
  }
}

VltStatus scale_sampled_image(VltState* engine, const VltImage* image, VltImage** place, float factor) {
  if (engine == nullptr) return VLT_ERR_PARAM;
  if (image == nullptr || place == nullptr) return Vlt_report(engine, VLT_ERR_NULL);
  if (image->hdr.type != VLT_IMAGE_RGB || !(factor > 0.0f)) return Vlt_report(engine, VLT_ERR_PARAM);
  const int32_t width = saturating_trunc(static_cast<float>(image->hdr.width) / factor);
  const int32_t height = saturating_trunc(static_cast<float>(image->hdr.height) / factor);
  if (width == 0 || height == 0) return VltImage_new(engine, VLT_IMAGE_RGB, width, height, place);
  IPWState* w = nullptr;
  if (VltStatus st = wrapper_of(engine, &w)) return st;
  PIXR* source = nullptr;
  if (VltStatus st = rgbimtorgbpixr(engine, image, &source)) return st;
  PIXR* scaled = nullptr;
  VltStatus st = w_scaleLinearSize(w, source, width, height, &scaled);
  w_destroyPixr(w, &source);
  if (st == VLT_OK) st = pixrtorgb(engine, scaled, place);
  w_destroyPixr(w, &scaled);
  return st;
}

VltStatus scale_sampled_images(VltImage* const* images, int32_t n, float factor, VltImage*** place,
                               VltState* engine) {
  if (engine == nullptr) return VLT_ERR_PARAM;
  if (place == nullptr || (images == nullptr && n > 0)) return Vlt_report(engine, VLT_ERR_NULL);
  if (n < 0) return Vlt_report(engine, VLT_ERR_PARAM);
  size_t bytes = 0;
  if (!mono::checked_mul(size_t(n), sizeof(VltImage*), &bytes)) return Vlt_report(engine, VLT_ERR_PARAM);
  auto** out = static_cast<VltImage**>(engine->calloc(1, bytes == 0 ? 1 : bytes));
  if (out == nullptr) return Vlt_report(engine, VLT_ERR_NOMEM);
  for (int32_t i = 0; i < n; ++i)
    if (VltStatus st = scale_sampled_image(engine, images[i], &out[i], factor)) {
      for (int32_t j = 0; j < i; ++j) VltImage_free(out[j]);
      engine->free(out);
      return st;
    }
  *place = out;
  return VLT_OK;
}

VltStatus scale_sampled_imagesL(const VltAdtList* images, float factor, VltAdtList** place, VltState* engine) {
  if (engine == nullptr) return VLT_ERR_PARAM;
  if (images == nullptr || place == nullptr) return Vlt_report(engine, VLT_ERR_NULL);
  VltAdtList* out = nullptr;
  if (VltStatus st = VltAdt_liNew(&out, engine)) return st;
  for (VltAdtListNode* n = images->first; n != nullptr; n = n->next) {
    VltImage* scaled = nullptr;
    VltStatus st = scale_sampled_image(engine, static_cast<const VltImage*>(n->data), &scaled, factor);
    if (st == VLT_OK) {
      st = VltAdt_liAdd(out, scaled, nullptr);
      if (st != VLT_OK) VltImage_free(scaled);
    }
    if (st != VLT_OK) {
      free_list_images(out);
      VltAdt_liFree(out);
      return st;
    }
  }
  *place = out;
  return VLT_OK;
}
