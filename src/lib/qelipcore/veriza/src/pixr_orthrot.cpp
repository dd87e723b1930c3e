// Rotation by 90, 180 and 270 degrees, into a destination or within the image's own buffer,
// channel by channel through the core's quarter and half turns.

#include "i_orthrot.h"
#include "pixr_geom.h"
#include "pixr_internal.h"
#include "pixr_ops.h"

using namespace veriza;

namespace {

enum class Turn { Quarter90, Half, Quarter270 };

VltStatus check_image(IPWState* s, const PIXR* p) {
  // Everything after the checks allocates through the state.
  if (s == nullptr) return VLT_ERR_NULL_IPWSTATE;
  W_TRY(s, wp_pixrCheckFlags(s, p, PIXR_ORDER_0, PIXR_DEPTH_1TO8, kAnyChannels, PIXR_FRAME_32));
  W_TRY(s, check_channels_alike(s, p));
  return VLT_OK;
}

VltStatus core_turn(IPWState* s, Turn t, const PIXR* src, PIXR* dst) {
  const int32_t fw = framed_width(src), fh = framed_height(src);
  switch (t) {
    case Turn::Quarter90:
      W_TRY(s, i_fastRot90(s, dst->imageAll, src->imageAll, fw, fh, src->bytesPerLine, dst->bytesPerLine,
                           src->depth));
      break;
    case Turn::Quarter270:
      W_TRY(s, i_fastRot270(s, dst->imageAll, src->imageAll, fw, fh, src->bytesPerLine, dst->bytesPerLine,
                            src->depth));
      break;
    case Turn::Half:
      W_TRY(s, i_fastRot180(s, dst->imageAll, src->imageAll, fw, fh, src->bytesPerLine, dst->bytesPerLine,
                            src->depth));
      break;
  }
  return VLT_OK;
}

VltStatus rotate_into(IPWState* s, Turn t, const PIXR* src, PIXR** dst) {
  if (src == nullptr || dst == nullptr) return W_FAIL(s, VLT_ERR_NULL);
  W_TRY(s, check_image(s, src));
  if (t != Turn::Half && *dst == src) return W_FAIL(s, VLT_ERR_PARAM);
  if (*dst != nullptr) W_TRY(s, check_image(s, *dst));
  const PIXR* p = primary_of(src);
  const bool half = t == Turn::Half;
  int32_t dx = 0, dy = 0, created = 0;
  if (half)
    W_TRY(s, wp_clonePixrConditionalNoInit(s, src, dst, &dx, &dy, &created));
  else
    W_TRY(s, wp_createPixrExtendedConditionalNoInit(s, p->height, p->width, p->depth, p->yRes, p->xRes,
                                                    PIXR_FRAME, channel_count(src), p->type, p->colorMap,
                                                    dst, &dx, &dy, &created));
  CreatedGuard guard(s, dst, created != 0);
  PIXR* d = *dst;
  if (is_plain(src)) {
    if (src->imageAll == nullptr || d->imageAll == nullptr) return W_FAIL(s, VLT_ERR_IPC_NO_IMAGE);
    const int32_t wantW = half ? src->width : src->height, wantH = half ? src->height : src->width;
    W_TRY(s, into_wanted_size(s, d, wantW, wantH, [&](PIXR* target) { return core_turn(s, t, src, target); }));
  } else {
    for (int i = 0; i < channel_count(src); ++i) {
      PIXR* dc = channel_at(d, i);
      W_TRY(s, rotate_into(s, t, channel_at(src, i), &dc));
    }
  }
  W_TRY(s, wp_clearRightBottomFrames(s, d, dx, dy));
  guard.keep();
  return VLT_OK;
}

VltStatus quarter_in_place(IPWState* s, bool ninety, PIXR* image, PIXR* scratch) {
  if (image == nullptr || scratch == nullptr) return W_FAIL(s, VLT_ERR_NULL);
  W_TRY(s, check_image(s, image));
  W_TRY(s, wp_pixrCheckFlags(s, scratch, PIXR_ORDER_0, PIXR_DEPTH_1TO8, PIXR_CHANNELS_1, PIXR_FRAME_32));
  if (!is_plain(image)) {
    for (int i = 0; i < channel_count(image); ++i)
      W_TRY(s, quarter_in_place(s, ninety, channel_at(image, i), scratch));
    return VLT_OK;
  }
  // The scratch is the core's work area while the image's own buffer is rewritten; the two must
  // be apart and of one depth.
  if (scratch->depth != image->depth || scratch->imageBuffer == image->imageBuffer)
    return W_FAIL(s, VLT_ERR_PARAM);
  if (image->imageAll == nullptr || image->imageBuffer == nullptr || scratch->imageAll == nullptr)
    return W_FAIL(s, VLT_ERR_IPC_NO_IMAGE);
  const int32_t fw = framed_width(image), fh = framed_height(image), depth = image->depth;
  int32_t newBpl = 0, oldBpl = 0;
  size_t newSize = 0, oldSize = 0, frameOffset = 0;
  W_TRY(s, w_pixrImageProperties(s, image->height, image->width, depth, PIXR_FRAME, &newBpl, &newSize));
  W_TRY(s, w_pixrFrameOffset(s, image->imageBuffer, newBpl, depth, PIXR_FRAME, &frameOffset));
  W_TRY(s, w_pixrImageProperties(s, image->width, image->height, depth, PIXR_FRAME, &oldBpl, &oldSize));
  uint8_t* const lastByte = image->imageBuffer + oldSize - 1;
  uint8_t* const newAll = image->imageBuffer + frameOffset;
  if (ninety)
    W_TRY(s, i_fastRot90InPlace(s, scratch->imageAll, image->imageAll, lastByte, newAll, fw, fh,
                                framed_width(scratch), image->bytesPerLine, scratch->bytesPerLine, depth));
  else
    W_TRY(s, i_fastRot270InPlace(s, scratch->imageAll, image->imageAll, lastByte, newAll, fw, fh,
                                 framed_width(scratch), image->bytesPerLine, scratch->bytesPerLine, depth));
  image->width = fh - 2 * PIXR_FRAME;
  image->height = fw - 2 * PIXR_FRAME;
  image->bytesPerLine = newBpl;
  image->imageAll = newAll;
  const int32_t xRes = image->xRes;
  image->xRes = image->yRes;
  image->yRes = xRes;
  return VLT_OK;
}

}  // namespace

VltStatus w_rotate90(IPWState* s, const PIXR* src, PIXR** dst) {
  W_TRY(s, rotate_into(s, Turn::Quarter90, src, dst));
  return VLT_OK;
}

VltStatus w_rotate270(IPWState* s, const PIXR* src, PIXR** dst) {
  W_TRY(s, rotate_into(s, Turn::Quarter270, src, dst));
  return VLT_OK;
}

VltStatus w_rotate180(IPWState* s, const PIXR* src, PIXR** dst) {
  W_TRY(s, rotate_into(s, Turn::Half, src, dst));
  return VLT_OK;
}

VltStatus w_rotate90InPlace(IPWState* s, PIXR* image, PIXR* scratch) {
  W_TRY(s, quarter_in_place(s, true, image, scratch));
  return VLT_OK;
}

VltStatus w_rotate270InPlace(IPWState* s, PIXR* image, PIXR* scratch) {
  W_TRY(s, quarter_in_place(s, false, image, scratch));
  return VLT_OK;
}

VltStatus w_rotate180InPlace(IPWState* s, PIXR* image) {
  W_TRY(s, check_image(s, image));
  for (int i = 0; i < channel_count(image); ++i) {
    PIXR* c = channel_at(image, i);
    if (c->imageAll == nullptr) return W_FAIL(s, VLT_ERR_IPC_NO_IMAGE);
    W_TRY(s, core_turn(s, Turn::Half, c, c));
  }
  return VLT_OK;
}
