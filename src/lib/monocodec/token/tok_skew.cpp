// Page skew angle for the token deskew facility.

#include "tok_skew.h"

#include <algorithm>

#include "pixr_geom.h"

namespace {

// Thirty degrees: larger readings are taken for noise, not skew.
constexpr double kLargestSkew = 0.523598776;
constexpr int32_t kLeastConfidence = 5;

}  // namespace

VltStatus deskewInit(DeskewContext** out, int32_t level, int32_t orientation, VltState* state) {
  if (out == nullptr || state == nullptr) return Vlt_report(state, VLT_ERR_NULL);
  auto* c = static_cast<DeskewContext*>(state->malloc(sizeof(DeskewContext)));
  if (c == nullptr) return Vlt_report(state, VLT_ERR_NOMEM);
  *c = DeskewContext{orientation, int32_t{1} << (5 - std::clamp(level, 0, 5)), nullptr, 0, state};
  *out = c;
  return VLT_OK;
}

void deskewCleanup(DeskewContext* context) {
  if (context == nullptr) return;
  // Lengths counted for a section that was never straightened go with the context.
  context->state->free(context->straighteningLengths);
  context->state->free(context);
}

void tok_freeSharedBitmap(VltState* state, DeskewSharedBitmap* record) {
  if (record == nullptr) return;
  state->free(record->bitmap);
  state->free(record->references);
  state->free(record);
}

VltStatus getSkewAngle(DeskewContext* context, const PIXR* page, float* angle) {
  if (context == nullptr) return VLT_ERR_NULL;
  VltState* es = context->state;
  if (angle == nullptr || page == nullptr) return Vlt_report(es, VLT_ERR_NULL);
  IPWState* w = es->ipwState;
  PIXR* turned = nullptr;
  VltStatus st = VLT_OK;
  switch (context->orientation) {
    case 1: st = w_rotate180(w, page, &turned); break;
    case 2: st = w_rotate270(w, page, &turned); break;
    case 3: st = w_rotate90(w, page, &turned); break;
    default: break;
  }
  int32_t confidence = 0;
  float found = 0.0f;
  if (st == VLT_OK) st = w_findSkewSample(w, turned != nullptr ? turned : page, context->sampling, &confidence, &found);
  w_destroyPixr(w, &turned);
  if (st != VLT_OK) return st;
  *angle = tok_skewAccepted(confidence, found) ? found : 0.0f;
  return VLT_OK;
}

int tok_skewAccepted(int32_t confidence, float angle) {
  const double a = angle;
  return confidence > kLeastConfidence && a >= -kLargestSkew && a <= kLargestSkew ? 1 : 0;
}
