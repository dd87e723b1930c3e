// Runs of ON pixels of one 1-bit line, as a list of run cells or as an array of column pairs.

#include <bit>
#include <cstdint>

#include "byteorder.h"
#include "i_ccruns.h"
#include "ip_internal.h"

namespace {

// Scans columns firstX..lastX (0 <= firstX <= lastX) a word at a time and calls
// emit(start, end) for every run, left to right; a non-zero result of emit ends the scan.
// The word holding lastX is read only up to lastX's byte, so a line whose length is not a
// whole number of words is never overrun.
template <class Emit>
VltStatus scan_runs(const uint8_t* line, int32_t firstX, int32_t lastX, Emit emit) {
  const int32_t lastWord = lastX >> 5;
  const auto word = [&](int32_t i) -> uint32_t {
    if (i < lastWord) return mono::load_be32(line + 4 * i);
    const int32_t lastByte = lastX >> 3;
    uint32_t w = 0;
    for (int32_t b = 4 * i; b < 4 * i + 4; ++b) w = w << 8 | (b <= lastByte ? line[b] : 0u);
    return w & mono::left_mask32(static_cast<unsigned>(lastX & 31) + 1);
  };

  int32_t i = firstX >> 5;
  uint32_t w = word(i) & mono::right_mask32(32 - static_cast<unsigned>(firstX & 31));
  for (;;) {
    while (w == 0) {
      if (++i > lastWord) return VLT_OK;
      w = word(i);
    }
    const int p = std::countl_zero(w);
    const int32_t start = 32 * i + p;
    // OFF columns right of the start; the run goes on while whole words are ON.
    uint32_t off = ~(w | mono::left_mask32(static_cast<unsigned>(p)));
    while (off == 0) {
      if (++i > lastWord) return emit(start, lastX);
      w = word(i);
      off = ~w;
    }
    const int q = std::countl_zero(off);
    if (VltStatus s = emit(start, 32 * i + q - 1)) return s;
    w &= mono::right_mask32(32 - static_cast<unsigned>(q));
  }
}

void make_tail(CCRun* cell) {
  cell->start = IP_RUN_TAIL_SENTINEL;
  cell->end = IP_RUN_TAIL_SENTINEL;
  cell->component = nullptr;
}

}  // namespace

extern "C" {

VltStatus i_findAllRunsInLine(IPState* state, const uint8_t* line, int32_t lastX, int32_t firstX,
                              CCRun* first, CellBlock* runCells) {
  if (!first || !runCells || !line) return IP_FAIL(state, VLT_ERR_PARAM);
  // The run records hold 16-bit columns and the sentinels sit just above the last one.
  if (firstX < 0 || lastX > IP_RUN_MAX_COLUMN) return IP_FAIL(state, VLT_ERR_PARAM);
  first->component = nullptr;
  CCRun* cell = first;
  if (firstX <= lastX) {
    const VltStatus s = scan_runs(line, firstX, lastX, [&](int32_t start, int32_t end) -> VltStatus {
      cell->start = static_cast<int16_t>(start);
      if (!cell->next) {
        CCRun* fresh = nullptr;
        if (VltStatus a = ip_allocCell(state, runCells, &fresh)) return a;
        fresh->next = nullptr;
        cell->next = fresh;
      }
      cell->end = static_cast<int16_t>(end);
      cell = cell->next;
      cell->component = nullptr;
      return VLT_OK;
    });
    if (s != VLT_OK) return s;
  }
  make_tail(cell);
  return VLT_OK;
}

VltStatus i_findAllRunsInLineArray(IPState* state, const uint8_t* line, int32_t lastX,
                                   int32_t firstX, int32_t* runs, uint32_t capacity,
                                   int32_t offset, int32_t** end) {
  if (!runs || !line || capacity == 0) return IP_FAIL(state, VLT_ERR_PARAM);
  if (!end) return IP_FAIL(state, VLT_ERR_NULL);
  // Shifted positions must stay representable.
  const int64_t lo = int64_t{firstX} + offset, hi = int64_t{lastX} + offset;
  if (firstX < 0 || lo < INT32_MIN || hi > INT32_MAX) return IP_FAIL(state, VLT_ERR_PARAM);
  int32_t* out = runs;
  int32_t* const limit = runs + 2 * size_t{capacity};
  if (firstX <= lastX) {
    const VltStatus s = scan_runs(line, firstX, lastX, [&](int32_t start, int32_t stop) -> VltStatus {
      if (out == limit) return VLT_ERR_OVERFLOW;
      out[0] = start + offset;
      out[1] = stop + offset;
      out += 2;
      return VLT_OK;
    });
    if (s != VLT_OK) return IP_FAIL(state, s);
  }
  *end = out;
  return VLT_OK;
}

}  // extern "C"
