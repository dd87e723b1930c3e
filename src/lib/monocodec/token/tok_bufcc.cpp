// Band-wise connected components of packed buffers, and packed-image utilities.

#include "tok_bufcc.h"

#include <cstring>
#include <utility>

#include "byteorder.h"
#include "checked_size.h"
#include "vlt_blit.h"

namespace {

// 300 dpi in 16.16 fixed point.
constexpr int32_t k300Dpi = 300 << 16;

void make_empty(CCRun* head) {
  CCRun* tail = head->next;
  tail->start = IP_RUN_TAIL_SENTINEL;
  tail->end = IP_RUN_TAIL_SENTINEL;
  tail->component = nullptr;
}

}  // namespace

VltStatus tcly_findBufCC(IPState* ip, CCState* cc, const uint8_t* buffer, int finalFlag, int32_t lastX,
                         int32_t firstX, int32_t firstLine, int32_t lastLine, int32_t lineOffset, int32_t totalLines,
                         int32_t bytesPerLine, int32_t minWidth, int32_t minHeight, int32_t connectivity,
                         void* userData, CCCallback callback, int* callbackStatus) {
  if (connectivity < 0 || connectivity > 1 || cc == nullptr || cc->runCells == nullptr ||
      cc->componentCells == nullptr || cc->runListA == nullptr || cc->runListB == nullptr || callback == nullptr)
    return VLT_ERR_PARAM;
  // The lines and columns read must exist in the buffer and their numbers in 32 bits.
  int32_t firstL = 0, lastL = 0;
  if (!mono::checked_add(firstLine, lineOffset, &firstL) || !mono::checked_add(lastLine, lineOffset, &lastL) ||
      lastL == INT32_MAX)
    return VLT_ERR_PARAM;
  if (firstLine <= lastLine && (buffer == nullptr || firstLine < 0 || firstX < 0 ||
                                 (firstX <= lastX && int64_t{lastX} >= int64_t{bytesPerLine} * 8)))
    return VLT_ERR_PARAM;

  const CCJoinParams params{connectivity, minWidth, minHeight, callback, userData, callbackStatus};
  CCRun* cur = cc->runListA;
  CCRun* prev = cc->runListB;
  const int32_t end = finalFlag ? lastL + 1 : lastL;
  VltStatus s = VLT_OK;
  for (int32_t L = firstL; s == VLT_OK && L <= end; ++L) {
    std::swap(prev, cur);
    if (L > lastL || L >= totalLines)
      make_empty(cur);
    else
      s = i_findAllRunsInLine(ip, buffer + size_t(L - lineOffset) * size_t(bytesPerLine), lastX, firstX, cur->next,
                              cc->runCells);
    if (s == VLT_OK) s = ip_joinRunLines(ip, cc, prev, cur, L, params);
  }
  cc->runListA = cur;
  cc->runListB = prev;
  return s;
}

VltStatus packedToPixr(VltState* engine, const uint8_t* rows, int32_t width, int32_t height, int32_t wordsPerRow,
                       PIXR** place) {
  if (engine == nullptr || place == nullptr || (rows == nullptr && height > 0)) return Vlt_report(engine, VLT_ERR_NULL);
  IPWState* w = engine->ipwState;
  if (width < 0 || height < 0 || wordsPerRow < (width + 31) / 32) return Vlt_report(engine, VLT_ERR_PARAM);
  PIXR* p = nullptr;
  if (VltStatus st = w_createPixr(w, width, height, 1, k300Dpi, k300Dpi, PIXR_FRAME, &p)) return st;
  int32_t bpl = 0;
  uint8_t* image = nullptr;
  VltStatus st = w_pixrGetBpl(w, p, &bpl);
  if (st == VLT_OK) st = w_pixrGetImage(w, p, &image);
  // The image starts a whole frame (32 pixels) into its line, so rows copy byte for byte; the
  // source's bits past the width would land in the frame, which stays clear.
  const size_t used = mono::packed_row_bytes(size_t(width), 1);
  if (st == VLT_OK && int64_t{bpl} < int64_t{PIXR_FRAME / 8} + int64_t(used)) st = Vlt_report(engine, VLT_ERR_PARAM);
  if (st != VLT_OK) {
    w_destroyPixr(w, &p);
    return st;
  }
  for (int32_t y = 0; y < height && used > 0; ++y) {
    uint8_t* dst = image + size_t(y) * size_t(bpl);
    std::memcpy(dst, rows + size_t(y) * size_t(wordsPerRow) * 4, used);
    if (width % 8 != 0) dst[used - 1] &= static_cast<uint8_t>(0xFF00u >> (width % 8));
  }
  *place = p;
  return VLT_OK;
}

VltStatus packedAddFrame(VltState* engine, const VltImage* image, int32_t frame, VltImage** place) {
  if (image == nullptr || place == nullptr || image->hdr.type != VLT_IMAGE_PACKED || frame < 0)
    return Vlt_report(engine, VLT_ERR_PARAM);
  *place = nullptr;
  int32_t w = 0, h = 0;
  if (!mono::checked_add(image->hdr.width, 2 * frame, &w) || !mono::checked_add(image->hdr.height, 2 * frame, &h))
    return Vlt_report(engine, VLT_ERR_PARAM);
  VltImage* out = nullptr;
  if (VltStatus st = VltImage_new(engine, VLT_IMAGE_PACKED, w, h, &out)) return st;
  // Bit 0 of the source rows is the image's x offset, so the source's own pixels start there.
  if (image->rows != nullptr && out->rows != nullptr)
    VltBlat_blitBits(out->rows[0], out->hdr.bytesPerLine / 4, 0, 0, w, h, image->rows[0],
                     image->hdr.bytesPerLine / 4, image->hdr.width, image->hdr.height, frame, frame);
  *place = out;
  return VLT_OK;
}

void packedClear(VltImage* image) {
  if (image == nullptr || image->rows == nullptr || image->hdr.height <= 0) return;
  std::memset(image->rows[0], 0, size_t(image->hdr.height) * size_t(image->hdr.bytesPerLine));
}

VltStatus getImgDblAverage(VltState* engine, VltImage* sum, int32_t count) {
  if (sum == nullptr || count == 0 || sum->hdr.type != VLT_IMAGE_DOUBLE) return Vlt_report(engine, VLT_ERR_PARAM);
  for (int32_t y = 0; y < sum->hdr.height; ++y) {
    auto* row = reinterpret_cast<double*>(sum->rows[y]);
    for (int32_t x = 0; x < sum->hdr.width; ++x) row[x] /= static_cast<double>(count);
  }
  return VLT_OK;
}
