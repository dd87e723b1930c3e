// Rank reduction of 1-bit images by 2, 4, 8 and 16 through the core's cascaded halvings.

#include "i_reduce.h"
#include "pixr_internal.h"
#include "pixr_ops.h"

using namespace veriza;

namespace {

constexpr uint32_t kDepth1 = PIXR_DEPTH_1;

VltStatus check_thresholds(IPWState* s, const int32_t* t, int k) {
  if (t[0] < 1 || t[0] > 4) return W_FAIL(s, VLT_ERR_PARAM);
  for (int i = 1; i < k; ++i)
    if (t[i] < 0 || t[i] > 4) return W_FAIL(s, VLT_ERR_PARAM);
  return VLT_OK;
}

VltStatus check_images(IPWState* s, const PIXR* src, PIXR** dst) {
  W_TRY(s, wp_pixrCheckFlags(s, src, PIXR_ORDER_0, kDepth1, PIXR_CHANNELS_1, PIXR_FRAME_32));
  if (dst == nullptr) return W_FAIL(s, VLT_ERR_NULL);
  if (*dst != nullptr) W_TRY(s, wp_pixrCheckFlags(s, *dst, PIXR_ORDER_0, kDepth1, PIXR_CHANNELS_1, PIXR_FRAME_32));
  if (src->imageAll == nullptr) return W_FAIL(s, VLT_ERR_IPC_NO_IMAGE);
  return VLT_OK;
}

// Reduction by 2^k with thresholds t[0..k-1].
VltStatus reduce(IPWState* s, const PIXR* src, int k, const int32_t* t, PIXR** dst) {
  W_TRY(s, check_images(s, src, dst));
  W_TRY(s, check_thresholds(s, t, k));
  const int32_t factor = 1 << k;
  const int32_t w = src->width / factor, h = src->height / factor;
  int32_t dx = 0, dy = 0, created = 0;
  W_TRY(s, wp_createPixrConditionalNoInit(s, w, h, 1, src->xRes / factor, src->yRes / factor, PIXR_FRAME,
                                          dst, &dx, &dy, &created));
  CreatedGuard guard(s, dst, created != 0);
  PIXR* d = *dst;
  if (d->imageAll == nullptr) return W_FAIL(s, VLT_ERR_IPC_NO_IMAGE);
  // The kernel works over the wanted size: a given destination slightly smaller takes the rest in
  // its frame (cleared below); one slightly larger keeps its extra pixels.
  const int32_t dfw = w + 2 * PIXR_FRAME, dfh = h + 2 * PIXR_FRAME;
  const int32_t dbpl = d->bytesPerLine, sbpl = src->bytesPerLine;
  const int32_t sfw = framed_width(src), sfh = framed_height(src);
  VltStatus st = VLT_OK;
  switch (k) {
    case 1: st = i_reduce2(s, d->imageAll, dfw, dfh, dbpl, src->imageAll, sbpl, t[0]); break;
    case 2: st = i_reduce4(s, d->imageAll, dfw, dfh, dbpl, src->imageAll, sfw, sfh, sbpl, t[0], t[1]); break;
    case 3:
      st = i_reduce8(s, d->imageAll, dfw, dfh, dbpl, src->imageAll, sfw, sfh, sbpl, t[0], t[1], t[2]);
      break;
    default:
      st = i_reduce16(s, d->imageAll, dfw, dfh, dbpl, src->imageAll, sfw, sfh, sbpl, t[0], t[1], t[2], t[3]);
      break;
  }
  if (st != VLT_OK) return W_FAIL(s, st);
  W_TRY(s, wp_clearRightBottomFrames(s, d, dx, dy));
  guard.keep();
  return VLT_OK;
}

}  // namespace

VltStatus w_reduce(IPWState* s, const PIXR* src, int32_t t1, int32_t t2, int32_t t3, int32_t t4,
                   PIXR** dst) {
  W_TRY(s, check_images(s, src, dst));
  const int32_t t[4] = {t1, t2, t3, t4};
  W_TRY(s, check_thresholds(s, t, 4));
  const int k = t2 == 0 ? 1 : t3 == 0 ? 2 : t4 == 0 ? 3 : 4;
  W_TRY(s, reduce(s, src, k, t, dst));
  return VLT_OK;
}

VltStatus w_reduce2(IPWState* s, const PIXR* src, int32_t t1, PIXR** dst) {
  const int32_t t[1] = {t1};
  W_TRY(s, reduce(s, src, 1, t, dst));
  return VLT_OK;
}

VltStatus w_reduce4(IPWState* s, const PIXR* src, int32_t t1, int32_t t2, PIXR** dst) {
  const int32_t t[2] = {t1, t2};
  W_TRY(s, reduce(s, src, 2, t, dst));
  return VLT_OK;
}

VltStatus w_reduce8(IPWState* s, const PIXR* src, int32_t t1, int32_t t2, int32_t t3, PIXR** dst) {
  const int32_t t[3] = {t1, t2, t3};
  W_TRY(s, reduce(s, src, 3, t, dst));
  return VLT_OK;
}

VltStatus w_reduce16(IPWState* s, const PIXR* src, int32_t t1, int32_t t2, int32_t t3, int32_t t4,
                     PIXR** dst) {
  const int32_t t[4] = {t1, t2, t3, t4};
  W_TRY(s, reduce(s, src, 4, t, dst));
  return VLT_OK;
}
