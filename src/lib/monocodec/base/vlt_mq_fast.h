#ifndef VLT_MQ_FAST_H
#define VLT_MQ_FAST_H

// The MQ coder's probability table and the decoder's decision as inline code, for bitmap
// decoders that make one decision a pixel. FastDecoder holds the decoder's C, A and CT in locals
// for a run of decisions: the caller's byte stores (context bytes, bitmap rows) may alias any
// memory, and would otherwise force the registers through memory at every decision. It writes
// them back with store(); between its construction and store() nothing else may use the decoder.

#include <array>
#include <bit>
#include <cstddef>

#include "vlt_mq.h"

namespace vlt_mq {

struct QeRow {
  uint16_t qe;
  uint8_t nmps;
  uint8_t nlps;  // bit 7: the more probable symbol switches on a less probable one
};

inline constexpr uint8_t kSwitch = 0x80;

// Probability states 0-45 of the JBIG2 MQ coder.
inline constexpr std::array<QeRow, 46> kQe = {{
    {0x5601, 1, 1 | kSwitch},  {0x3401, 2, 6},   {0x1801, 3, 9},   {0x0AC1, 4, 12},
    {0x0521, 5, 29},           {0x0221, 38, 33}, {0x5601, 7, 6 | kSwitch}, {0x5401, 8, 14},
    {0x4801, 9, 14},           {0x3801, 10, 14}, {0x3001, 11, 17}, {0x2401, 12, 18},
    {0x1C01, 13, 20},          {0x1601, 29, 21}, {0x5601, 15, 14 | kSwitch}, {0x5401, 16, 14},
    {0x5101, 17, 15},          {0x4801, 18, 16}, {0x3801, 19, 17}, {0x3401, 20, 18},
    {0x3001, 21, 19},          {0x2801, 22, 19}, {0x2401, 23, 20}, {0x2201, 24, 21},
    {0x1C01, 25, 22},          {0x1801, 26, 23}, {0x1601, 27, 24}, {0x1401, 28, 25},
    {0x1201, 29, 26},          {0x1101, 30, 27}, {0x0AC1, 31, 28}, {0x09C1, 32, 29},
    {0x08A1, 33, 30},          {0x0521, 34, 31}, {0x0441, 35, 32}, {0x02A1, 36, 33},
    {0x0221, 37, 34},          {0x0141, 38, 35}, {0x0111, 39, 36}, {0x0085, 40, 37},
    {0x0049, 41, 38},          {0x0025, 42, 39}, {0x0015, 43, 40}, {0x0009, 44, 41},
    {0x0005, 45, 42},          {0x0001, 45, 43},
}};

constexpr bool table_is_closed() {
  for (const QeRow& r : kQe)
    if (r.nmps >= kQe.size() || (r.nlps & 0x7F) >= kQe.size()) return false;
  return true;
}
static_assert(table_is_closed(), "every transition stays inside the table");

// Indexed by the whole state field (7 bits): a context byte whose state bits were corrupted by a
// caller reads the last state instead of memory past the table, and no branch is needed.
inline constexpr std::array<QeRow, 128> kRows = [] {
  std::array<QeRow, 128> rows{};
  for (size_t i = 0; i < rows.size(); ++i) rows[i] = kQe[i < kQe.size() ? i : kQe.size() - 1];
  return rows;
}();

inline const QeRow& row_of(uint8_t cx) { return kRows[cx & 0x7Fu]; }

// Renormalisation shifts the interval register until its top bit is set: this many bits.
inline int renorm_bits(uint16_t a) { return std::countl_zero(a); }

inline uint8_t after_mps(const QeRow& r, uint8_t cx) {
  return static_cast<uint8_t>(r.nmps | (cx & 0x80u));
}
inline uint8_t after_lps(const QeRow& r, uint8_t cx) {
  return static_cast<uint8_t>(r.nlps ^ (cx & 0x80u));
}

/* Takes the next coded byte into the decoder's C and CT (past the end, 1-bits). */
void bytein(MqDecoder* d);

class FastDecoder {
 public:
  explicit FastDecoder(MqDecoder* d) : d_(d), c_(d->C), a_(d->A), ct_(d->CT) {}

  void store() const {
    d_->C = c_;
    d_->A = static_cast<uint16_t>(a_);
    d_->CT = ct_;
  }

  // Returns the decoded bit and updates *cx; the context byte is stored last.
  int decode(uint8_t* cx) { return decode(cx, *cx); }

  // The same with *cx read by the caller already (it may read it ahead of time, before it knows
  // which of two contexts the pixel takes).
  int decode(uint8_t* cx, uint8_t c) {
    const QeRow& r = row_of(c);
    const uint32_t qe = r.qe;
    const int mps = c >> 7;
    const uint32_t a = a_ - qe;
    int bit;
    uint8_t next;
    if ((c_ >> 16) < qe) {
      if (a < qe) {
        bit = mps;
        next = after_mps(r, c);
      } else {
        bit = 1 - mps;
        next = after_lps(r, c);
      }
      a_ = qe;
    } else {
      c_ -= qe << 16;
      a_ = a;
      if (a & 0x8000u) return mps;
      if (a < qe) {
        bit = 1 - mps;
        next = after_lps(r, c);
      } else {
        bit = mps;
        next = after_mps(r, c);
      }
    }
    // Shifts in whole runs of bits between byte boundaries rather than one bit at a time.
    int n = renorm_bits(static_cast<uint16_t>(a_));
    while (n > 0) {
      if (ct_ == 0) {
        d_->C = c_;
        d_->CT = 0;
        bytein(d_);
        c_ = d_->C;
        ct_ = d_->CT;
      }
      const int s = n < ct_ ? n : ct_;
      a_ <<= s;
      c_ <<= s;
      ct_ -= s;
      n -= s;
    }
    *cx = next;
    return bit;
  }

  // Takes up to limit decisions in the context *cx at once, as many as would each give the more
  // probable symbol without renormalising (so the context does not change either); returns how
  // many it took. Runs of white pixels in a white neighbourhood cost one step this way.
  uint32_t run(const uint8_t* cx, uint32_t limit) {
    const uint32_t qe = row_of(*cx).qe;
    const uint32_t high = c_ >> 16;
    const uint32_t room = a_ - 0x8000u;
    uint32_t k = (high < room ? high : room) / qe;
    if (k > limit) k = limit;
    c_ -= (k * qe) << 16;
    a_ -= k * qe;
    return k;
  }

 private:
  MqDecoder* d_;
  uint32_t c_;
  uint32_t a_;
  int32_t ct_;
};

}  // namespace vlt_mq

#endif
