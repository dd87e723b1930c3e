// One pass of thinning by four directional hit-or-miss erosions.

#include <array>

#include "pixr_internal.h"
#include "pixr_morph.h"
#include "pixr_ops.h"

using namespace veriza;

namespace {

// The first direction, row after row (1 must be set, 2 must be clear, 0 free): a set pixel
// whose left column is clear and whose upper-right and right neighbours are set. The centre is
// free, so the erosion marks such places whatever the pixel; removal only changes set pixels.
constexpr int16_t kFirstCells[3][3] = {{2, 0, 1}, {2, 0, 1}, {2, 0, 0}};

// The four elements and the temporary image of one pass, released on every path.
struct ThinScratch {
  IPWState* s;
  std::array<strel*, 4> elements{};
  PIXR* marks = nullptr;
  explicit ThinScratch(IPWState* state) : s(state) {}
  ~ThinScratch() {
    for (strel*& e : elements) w_destroyStrel(s, &e);
    w_destroyPixr(s, &marks);
  }
  ThinScratch(const ThinScratch&) = delete;
  ThinScratch& operator=(const ThinScratch&) = delete;
};

// The element turned a quarter: cell (x, y) takes the previous cell (y, height - 1 - x).
VltStatus quarter_turn(IPWState* s, const strel* from, strel** to) {
  W_TRY(s, w_createStrel(s, from->height, from->width, to));
  W_TRY(s, w_strelSetCenter(s, from->centerY, from->centerX, *to));
  for (int32_t y = 0; y < (*to)->height; ++y)
    for (int32_t x = 0; x < (*to)->width; ++x)
      W_TRY(s, w_strelSetPoint(s, x, y, from->cells[from->height - 1 - x][y], *to));
  return VLT_OK;
}

}  // namespace

VltStatus w_thin8(IPWState* s, const PIXR* src, PIXR** place) {
  if (s == nullptr) return VLT_ERR_NULL_IPWSTATE;
  W_TRY(s, wp_pixrCheckFlags(s, src, PIXR_ORDER_0, PIXR_DEPTH_1, PIXR_CHANNELS_1, PIXR_FRAME_32));
  if (place == nullptr) return W_FAIL(s, VLT_ERR_NULL);
  if (*place != nullptr) {
    PIXR* given = *place;
    W_TRY(s, wp_pixrCheckFlags(s, given, PIXR_ORDER_0, PIXR_DEPTH_1, PIXR_CHANNELS_1, PIXR_FRAME_32));
    // The erosions share one temporary of the source's size, so the destination has that size.
    if (given->width != src->width || given->height != src->height) return W_FAIL(s, VLT_ERR_DIMENSIONS);
    if (given != src) W_TRY(s, w_logicOp(s, src, W_LOGIC_REPLACE, given));
  } else {
    W_TRY(s, w_copy(s, src, place));
  }
  PIXR* dst = *place;
  ThinScratch scratch(s);
  W_TRY(s, w_createStrel(s, 3, 3, &scratch.elements[0]));
  W_TRY(s, w_strelSetCenter(s, 1, 1, scratch.elements[0]));
  for (int32_t y = 0; y < 3; ++y)
    for (int32_t x = 0; x < 3; ++x) W_TRY(s, w_strelSetPoint(s, x, y, kFirstCells[y][x], scratch.elements[0]));
  for (size_t i = 1; i < scratch.elements.size(); ++i)
    W_TRY(s, quarter_turn(s, scratch.elements[i - 1], &scratch.elements[i]));
  // Each direction sees what the one before left.
  for (size_t i = 0; i < scratch.elements.size(); ++i) {
    W_TRY(s, w_erode(s, i == 0 ? src : dst, scratch.elements[i], &scratch.marks));
    W_TRY(s, w_logicOp(s, scratch.marks, W_LOGIC_AND_NOT, dst));
  }
  return VLT_OK;
}
