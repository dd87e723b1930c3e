// Dilation, erosion, opening and closing through the core's table-driven morphology, with the
// element's cache of generated programs.

#include "pixr_morph.h"

#include <algorithm>

#include "checked_size.h"
#include "i_dilate.h"
#include "pixr_internal.h"
#include "pixr_ops.h"

using namespace veriza;

namespace {

enum class Morph { Dilate, Erode };

VltStatus check_image(IPWState* s, const PIXR* p) {
  // Everything after the checks allocates through the state.
  if (s == nullptr) return VLT_ERR_NULL_IPWSTATE;
  W_TRY(s, wp_pixrCheckFlags(s, p, PIXR_ORDER_0, PIXR_DEPTH_1, PIXR_CHANNELS_1, PIXR_FRAME_32));
  return VLT_OK;
}

VltStatus check_element(IPWState* s, const strel* e) {
  if (e->width < 1 || e->height < 1 || e->cells == nullptr) return W_FAIL(s, VLT_ERR_PARAM);
  for (int32_t y = 0; y < e->height; ++y)
    if (e->cells[y] == nullptr) return W_FAIL(s, VLT_ERR_PARAM);
  return VLT_OK;
}

// The cells as the core takes them: one byte per cell (its low byte), row after row, from
// set 0 for the length of one call.
class CellBytes {
 public:
  explicit CellBytes(IPWState* s) : s_(s) {}
  ~CellBytes() { wp_release(s_, bytes_); }
  CellBytes(const CellBytes&) = delete;
  CellBytes& operator=(const CellBytes&) = delete;

  VltStatus make(const strel* e) {
    size_t n = 0;
    if (!mono::checked_mul(static_cast<size_t>(e->width), static_cast<size_t>(e->height), &n))
      return W_FAIL(s_, VLT_ERR_PARAM);
    bytes_ = static_cast<uint8_t*>(wp_alloc(s_, n));
    if (bytes_ == nullptr) return W_FAIL(s_, VLT_ERR_NOMEM);
    for (int32_t y = 0; y < e->height; ++y)
      for (int32_t x = 0; x < e->width; ++x)
        bytes_[static_cast<size_t>(y) * static_cast<size_t>(e->width) + static_cast<size_t>(x)] =
            static_cast<uint8_t>(e->cells[y][x] & 0xFF);
    return VLT_OK;
  }
  const uint8_t* get() const { return bytes_; }

 private:
  IPWState* s_;
  uint8_t* bytes_ = nullptr;
};

// A record made by the call, destroyed with the object unless released.
class Temporary {
 public:
  explicit Temporary(IPWState* s) : s_(s) {}
  ~Temporary() { w_destroyPixr(s_, &p); }
  Temporary(const Temporary&) = delete;
  Temporary& operator=(const Temporary&) = delete;
  PIXR* p = nullptr;

 private:
  IPWState* s_;
};

// ---- Program generation

using SizeQuery = VltStatus (*)(IPState*, int32_t, int32_t, int32_t, int32_t, uint32_t*);
using Generator = VltStatus (*)(IPState*, int32_t, int32_t, int32_t, int32_t, const uint8_t*, int32_t*,
                                void**, uint32_t*);

struct ProgramKind {
  void* strel::*program;
  uintptr_t strel::*data;
  SizeQuery size;
  Generator generate;
};

constexpr ProgramKind kDilateShort{&strel::dilateProgram, &strel::shortProgramData, i_getDilateAsmSize,
                                   i_genDilateAsm};
constexpr ProgramKind kErodeShort{&strel::erodeProgram, &strel::shortProgramData, i_getErodeAsmSize,
                                  i_genErodeAsm};
constexpr ProgramKind kDilateLong{&strel::longDilateProgram, &strel::longProgramData, i_getLongDilateAsmSize,
                                  i_genLongDilateAsm};
constexpr ProgramKind kErodeLong{&strel::longErodeProgram, &strel::longProgramData, i_getLongErodeAsmSize,
                                 i_genLongErodeAsm};

// Core statuses that mean no program can be made here.
bool no_program(VltStatus st) { return st == VLT_ERR_NOT_IMPLEMENTED || st == 5; }

VltStatus generate(IPWState* s, const ProgramKind& kind, strel* e, uint32_t* codeHandle) {
  if (s == nullptr) return VLT_ERR_NULL_IPWSTATE;
  if (e == nullptr || codeHandle == nullptr) return W_FAIL(s, VLT_ERR_NULL);
  W_TRY(s, check_element(s, e));
  wp_release(s, e->*kind.program);
  e->*kind.program = nullptr;
  CellBytes cells(s);
  W_TRY(s, cells.make(e));
  uint32_t size = 0;
  VltStatus st = kind.size(s, e->width, e->height, e->centerX, e->centerY, &size);
  if (no_program(st)) return VLT_OK;
  if (st != VLT_OK) return W_FAIL(s, st);
  void* block = wp_allocZeroed(s, 1, size == 0 ? 1 : size);
  if (block == nullptr) return W_FAIL(s, VLT_ERR_NOMEM);
  e->*kind.program = block;
  int32_t data = 0;
  void* program = block;
  st = kind.generate(s, e->width, e->height, e->centerX, e->centerY, cells.get(), &data, &program, codeHandle);
  if (st != VLT_OK) {
    wp_release(s, block);
    e->*kind.program = nullptr;
    if (no_program(st)) return VLT_OK;
    return W_FAIL(s, st);
  }
  e->*kind.program = program;
  e->*kind.data = static_cast<uintptr_t>(static_cast<uint32_t>(data));
  return VLT_OK;
}

// The first use of an element asks once whether the core can make programs for it.
VltStatus ensure_programs(IPWState* s, Morph m, strel* e) {
  const ProgramKind& shortKind = m == Morph::Dilate ? kDilateShort : kErodeShort;
  const ProgramKind& longKind = m == Morph::Dilate ? kDilateLong : kErodeLong;
  if (e->generate == 0 || e->*shortKind.program != nullptr) return VLT_OK;
  uint32_t handle = 0;
  W_TRY(s, generate(s, shortKind, e, &handle));
  if (e->*shortKind.program != nullptr)
    W_TRY(s, generate(s, longKind, e, &handle));
  else
    e->generate = 0;
  return VLT_OK;
}

// ---- The pixel step

VltStatus fast(IPWState* s, Morph m, const PIXR* src, strel* e, PIXR* dst) {
  if (src == nullptr || e == nullptr || dst == nullptr) return W_FAIL(s, VLT_ERR_NULL);
  W_TRY(s, check_image(s, src));
  W_TRY(s, check_image(s, dst));
  W_TRY(s, check_element(s, e));
  if (src->imageAll == nullptr || dst->imageAll == nullptr) return W_FAIL(s, VLT_ERR_IPC_NO_IMAGE);
  const int32_t fw = std::min(framed_width(src), framed_width(dst));
  const int32_t fh = std::min(framed_height(src), framed_height(dst));
  CellBytes cells(s);
  W_TRY(s, cells.make(e));
  if (s != nullptr && s->purifyIsRunning != 0) W_TRY(s, w_clear(s, dst));
  // A single cell that is no hit (dilation) or neither hit nor miss (erosion) makes the core
  // write nothing; the result is what any element without such cells gives, so a destination
  // never keeps what it held before.
  if (e->width == 1 && e->height == 1) {
    const uint8_t cell = cells.get()[0];
    const bool acts = cell == STREL_HIT || (m == Morph::Erode && cell == STREL_MISS);
    if (!acts) {
      const int32_t op = m == Morph::Dilate ? W_ROP_CLEAR : W_ROP_SET;
      W_TRY(s, w_rasterop(s, 0, 0, nullptr, op, 0, 0, fw - 2 * PIXR_FRAME, fh - 2 * PIXR_FRAME, dst));
      return VLT_OK;
    }
  }
  const auto shortData = static_cast<int32_t>(e->shortProgramData);
  const auto longData = static_cast<int32_t>(e->longProgramData);
  if (m == Morph::Dilate)
    W_TRY(s, i_fastDilate(s, dst->imageAll, src->imageAll, e->dilateProgram, e->longDilateProgram, fw, fh,
                          src->bytesPerLine, dst->bytesPerLine, shortData, longData, e->width, e->height,
                          e->centerX, e->centerY, cells.get()));
  else
    W_TRY(s, i_fastErode(s, dst->imageAll, src->imageAll, e->erodeProgram, e->longErodeProgram, fw, fh,
                         src->bytesPerLine, dst->bytesPerLine, shortData, longData, e->width, e->height,
                         e->centerX, e->centerY, cells.get()));
  return VLT_OK;
}

// Columns and lines of dst beyond the source's image get no result; they are cleared.
VltStatus clear_excess(IPWState* s, const PIXR* src, PIXR* dst) {
  if (dst->width > src->width)
    W_TRY(s, w_rasterop(s, 0, 0, nullptr, W_ROP_CLEAR, src->width, 0, dst->width - src->width, dst->height, dst));
  if (dst->height > src->height)
    W_TRY(s, w_rasterop(s, 0, 0, nullptr, W_ROP_CLEAR, 0, src->height, dst->width, dst->height - src->height, dst));
  return VLT_OK;
}

VltStatus morph(IPWState* s, Morph m, const PIXR* src, strel* e, PIXR** place) {
  if (src == nullptr || e == nullptr || place == nullptr) return W_FAIL(s, VLT_ERR_NULL);
  W_TRY(s, check_image(s, src));
  W_TRY(s, check_element(s, e));
  PIXR* dst = *place;
  int32_t dx = 0, dy = 0, created = 0;
  W_TRY(s, wp_clonePixrConditionalNoInit(s, src, &dst, &dx, &dy, &created));
  CreatedGuard guard(s, &dst, created != 0);
  W_TRY(s, check_image(s, dst));
  W_TRY(s, ensure_programs(s, m, e));
  if (dst == src) {
    Temporary work(s);
    W_TRY(s, w_copy(s, src, &work.p));
    W_TRY(s, fast(s, m, src, e, work.p));
    W_TRY(s, w_logicOp(s, work.p, W_LOGIC_REPLACE, dst));
  } else {
    W_TRY(s, fast(s, m, src, e, dst));
  }
  W_TRY(s, clear_excess(s, src, dst));
  W_TRY(s, wp_clearRightBottomFrames(s, dst, dx, dy));
  guard.keep();
  *place = dst;
  return VLT_OK;
}

VltStatus open_close(IPWState* s, Morph first, const PIXR* src, strel* e, PIXR** place) {
  if (src == nullptr || e == nullptr || place == nullptr) return W_FAIL(s, VLT_ERR_NULL);
  W_TRY(s, check_image(s, src));
  PIXR* dst = *place;
  int32_t dx = 0, dy = 0, created = 0;
  W_TRY(s, wp_clonePixrConditionalNoInit(s, src, &dst, &dx, &dy, &created));
  CreatedGuard guard(s, &dst, created != 0);
  Temporary between(s);
  W_TRY(s, w_clonePixrNoInit(s, src, &between.p));
  const Morph second = first == Morph::Erode ? Morph::Dilate : Morph::Erode;
  W_TRY(s, morph(s, first, src, e, &between.p));
  W_TRY(s, morph(s, second, between.p, e, &dst));
  W_TRY(s, clear_excess(s, src, dst));
  W_TRY(s, wp_clearRightBottomFrames(s, dst, dx, dy));
  guard.keep();
  *place = dst;
  return VLT_OK;
}

}  // namespace

VltStatus w_dilate(IPWState* s, const PIXR* src, strel* element, PIXR** place) {
  W_TRY(s, morph(s, Morph::Dilate, src, element, place));
  return VLT_OK;
}

VltStatus w_erode(IPWState* s, const PIXR* src, strel* element, PIXR** place) {
  W_TRY(s, morph(s, Morph::Erode, src, element, place));
  return VLT_OK;
}

VltStatus w_open(IPWState* s, const PIXR* src, strel* element, PIXR** place) {
  W_TRY(s, open_close(s, Morph::Erode, src, element, place));
  return VLT_OK;
}

VltStatus w_close(IPWState* s, const PIXR* src, strel* element, PIXR** place) {
  W_TRY(s, open_close(s, Morph::Dilate, src, element, place));
  return VLT_OK;
}

VltStatus wp_fastDilate(IPWState* s, const PIXR* src, strel* element, PIXR* dst) {
  W_TRY(s, fast(s, Morph::Dilate, src, element, dst));
  return VLT_OK;
}

VltStatus wp_fastErode(IPWState* s, const PIXR* src, strel* element, PIXR* dst) {
  W_TRY(s, fast(s, Morph::Erode, src, element, dst));
  return VLT_OK;
}

VltStatus w_genDilateAsm(IPWState* s, strel* element, uint32_t* codeHandle) {
  W_TRY(s, generate(s, kDilateShort, element, codeHandle));
  return VLT_OK;
}

VltStatus w_genErodeAsm(IPWState* s, strel* element, uint32_t* codeHandle) {
  W_TRY(s, generate(s, kErodeShort, element, codeHandle));
  return VLT_OK;
}

VltStatus w_genLongDilateAsm(IPWState* s, strel* element, uint32_t* codeHandle) {
  W_TRY(s, generate(s, kDilateLong, element, codeHandle));
  return VLT_OK;
}

VltStatus w_genLongErodeAsm(IPWState* s, strel* element, uint32_t* codeHandle) {
  W_TRY(s, generate(s, kErodeLong, element, codeHandle));
  return VLT_OK;
}
