#ifndef JB2_TEXT_WALK_H
#define JB2_TEXT_WALK_H

// The sequence of values a text region codes, shared by the coding choice (which counts them to
// price the tables) and the writer (which codes them), so that what is counted is exactly what
// is written.

#include <stdint.h>

#include "jb2_encode.h"

namespace jb2text {

// An instance in strip coordinates: T picks the strip, S runs along it.
struct Placement {
  int32_t s;
  int32_t t;
  int32_t extent;  // size along S
};

inline Placement place(const Jb2Instance& in, uint8_t transposed, uint8_t corner) {
  const Jb2Symbol& sym = *in.symbol;
  if (transposed) return {in.y, in.x, sym.height};
  if (corner == JB2_CORNER_TOPLEFT) return {in.x, in.y, sym.width};
  return {in.x, in.y + sym.height - 1, sym.width};
}

// Coder needs codeDT(value, firstOfRegion), codeDS(value), codeOOB() (end of a strip),
// codeFS(value), codeCurT(value) and codeID(instance), each returning a status.
template <typename Coder>
VltStatus walk(const Jb2TextChoice& c, int32_t n, Coder& coder) {
  const int log = c.logSbStrips;
  int32_t stripT = c.firstStrip * c.sbStrips;
  if (const VltStatus st = coder.codeDT(-c.firstStrip, true); st != VLT_OK) return st;
  int32_t firstS = 0, curS = 0;
  for (int32_t i = 0; i < n; ++i) {
    const Jb2Instance& in = *c.order[i];
    const Placement p = place(in, c.transposed, c.refCorner);
    VltStatus st = VLT_OK;
    if (i > 0 && (p.t >> log) == (stripT >> log)) {
      st = coder.codeDS(p.s - curS);
    } else {
      if (i > 0) st = coder.codeOOB();
      if (st == VLT_OK) st = coder.codeDT((p.t - stripT) >> log, false);
      if (st == VLT_OK) st = coder.codeFS(p.s - firstS);
      firstS = p.s;
      stripT = (p.t >> log) << log;
    }
    if (st == VLT_OK && log > 0) st = coder.codeCurT(p.t - stripT);
    if (st == VLT_OK) st = coder.codeID(in);
    if (st != VLT_OK) return st;
    curS = p.s + p.extent - 1 + c.dsOffset;
  }
  return n > 0 ? coder.codeOOB() : VLT_OK;
}

}  // namespace jb2text

#endif
