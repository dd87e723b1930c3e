// Skew estimation of a bilevel page through the core's skew detection.

#include "i_skew.h"
#include "pixr_geom.h"
#include "pixr_internal.h"

using namespace veriza;

VltStatus w_findSkewSample(IPWState* s, const PIXR* image, int32_t sampling, int32_t* confidence,
                           float* angle) {
  if (image == nullptr || confidence == nullptr || angle == nullptr) return W_FAIL(s, VLT_ERR_NULL);
  *angle = 0.0f;
  W_TRY(s, wp_pixrCheckFlags(s, image, PIXR_ORDER_0, PIXR_DEPTH_1, PIXR_CHANNELS_1, PIXR_FRAME_32));
  switch (sampling) {
    case 1: case 2: case 4: case 8: case 16: case 32: break;
    default: return W_FAIL(s, VLT_ERR_PARAM);
  }
  if (image->xRes != image->yRes && (image->xRes == 0 || image->yRes == 0)) return W_FAIL(s, VLT_ERR_PARAM);
  if (image->imageAll == nullptr) return W_FAIL(s, VLT_ERR_IPC_NO_IMAGE);
  double radians = 0.0;
  W_TRY(s, i_detectSkew(s, image->imageAll, framed_width(image), framed_height(image), image->bytesPerLine,
                        sampling, &radians, confidence, whole_dpi(image->xRes), whole_dpi(image->yRes)));
  *angle = static_cast<float>(radians);
  return VLT_OK;
}
