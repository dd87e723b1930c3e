// Skew detection: the coarse edge follower, the fine slope search with its line-difference
// scorer, and the confidence from the spread of the scores.

#include "i_skew.h"

#include <algorithm>
#include <cstring>

#include "fxpmath.h"
#include "ip_internal.h"
#include "ipcore.h"

extern "C" const uint32_t frac32LineVectors[32] = {
    0x00000000, 0x00010000, 0x00400800, 0x01010100, 0x04082040, 0x08210820, 0x10884220, 0x11111110,
    0x22444890, 0x24892448, 0x24922492, 0x49494948, 0x4A5294A4, 0x52A552A4, 0x552AA554, 0x55555554,
    0xAAAAAAAA, 0xAAD55AAA, 0xAD5AAD5A, 0xB5AD6B5A, 0xB6B6B6B6, 0xDB6DDB6C, 0xDB76DBB6, 0xDDBBB76E,
    0xEEEEEEEE, 0xEF77BDDE, 0xF7DEF7DE, 0xFBF7DFBE, 0xFEFEFEFE, 0xFFBFF7FE, 0xFFFEFFFE, 0xFFFFFFFE};

namespace {

// The edge follower and the scorer only ask whether pixel groups are blank, or which bytes
// are, so words are read in host order.
inline bool blank16(const uint8_t* p) {
  uint16_t v;
  std::memcpy(&v, p, 2);
  return v == 0;
}
inline bool blank32(const uint8_t* p) {
  uint32_t v;
  std::memcpy(&v, p, 4);
  return v == 0;
}
inline uint32_t load(const uint8_t* p) {
  uint32_t v;
  std::memcpy(&v, p, 4);
  return v;
}

constexpr int32_t kGoodStep = 3;  // a step moving at most this many lines follows the edge
constexpr int32_t kFailedStep = 4;
constexpr int32_t kEdgeStep = 16;  // pixels per step, and the greatest step up
constexpr int kProbeEntries = 100;
constexpr int32_t kMaxSearchWidth = 64;
constexpr int32_t kMaxSlope = 1 << 20;

// Saturating: far beyond any page's lines.
inline void add_score(uint64_t* total, uint64_t x) { *total = x > UINT64_MAX - *total ? UINT64_MAX : *total + x; }

// An exact unsigned sum of up to 128 bits for the confidence.
struct Wide {
  uint64_t hi = 0, lo = 0;
  void add(uint64_t x, uint32_t times) {
    const uint64_t a = (x & 0xFFFFFFFFu) * times, b = (x >> 32) * times;
    add_shifted(a, 0);
    add_shifted(b, 32);
  }
  void add_shifted(uint64_t x, int shift) {
    const uint64_t l = shift ? x << shift : x, h = shift ? x >> (64 - shift) : 0;
    const uint64_t sum = lo + l;
    hi += h + (sum < lo ? 1 : 0);
    lo = sum;
  }
  int bit_length() const {
    if (hi) return 128 - __builtin_clzll(hi);
    return lo ? 64 - __builtin_clzll(lo) : 0;
  }
  // Cut to 31 bits; returns the value and the shift used.
  uint32_t top31(int* shift) const {
    const int n = std::max(0, bit_length() - 31);
    *shift = n;
    if (n == 0) return static_cast<uint32_t>(lo);
    if (n >= 64) return static_cast<uint32_t>(hi >> (n - 64));
    return static_cast<uint32_t>((lo >> n) | (hi << (64 - n)));
  }
};

// Confidence from the spread of the probed slopes around the best, weighted by their scores.
int32_t confidence_of(const uint64_t* scores, const int32_t* slopes, int count, int32_t best) {
  Wide s1, s2;
  for (int i = 0; i < count; ++i) {
    s1.add(scores[i], 1);
    const int64_t d = int64_t{slopes[i]} - best;
    s2.add(scores[i], static_cast<uint32_t>(std::min<int64_t>(d < 0 ? -d : d, UINT32_MAX)));
  }
  int k1 = 0, k2 = 0;
  const uint32_t a = s1.top31(&k1), b = s2.top31(&k2);
  uint64_t r = 16;
  if (a != 0) {
    const uint64_t q = b / a;
    if (k2 > k1) r = (k2 - k1 >= 8 && q) ? 16 : q << (k2 - k1);
    else r = k1 - k2 >= 64 ? 0 : q >> (k1 - k2);
  }
  return r <= 15 ? static_cast<int32_t>((16 - r) * 100 / 16) : 0;
}

// Marked lanes of a word: bit 7 of each byte of (b & 0x7F) + 0x7F is set when any of the
// byte's seven low bits is, and no lane carries into the next.
inline uint32_t marks(uint32_t w) { return ((w & 0x7F7F7F7Fu) + 0x7F7F7F7Fu) >> 7 & 0x01010101u; }
inline uint32_t lane_sum(uint32_t lanes) { return (lanes & 0xFF) + (lanes >> 8 & 0xFF) + (lanes >> 16 & 0xFF) + (lanes >> 24); }

// Blocks of a fixed length let the compiler add many lines at once.
void add_column(uint16_t* __restrict sums, const uint8_t* __restrict col, int32_t n) {
  int32_t i = 0;
  for (; i + 16 <= n; i += 16)
    for (int32_t k = 0; k < 16; ++k) sums[i + k] = static_cast<uint16_t>(sums[i + k] + col[i + k]);
  for (; i < n; ++i) sums[i] = static_cast<uint16_t>(sums[i] + col[i]);
}

// Every path of every slope visits the same word columns and differs only in the rows it
// takes them from, and a word's count depends only on its row and the row two below. So the
// fine pass counts each (column, row) once into a table, and a probe adds up the table's
// columns, each moved by that column's row offset for the slope: the same exact sums as the
// word-by-word scorer, for a fraction of the work. Without memory for the table the probes
// fall back on the scorer.
struct LaneTable {
  static constexpr int32_t kRowLo = -32;       // the top frame, as far as any path can reach
  static constexpr size_t kMaxBytes = 64u << 20;
  uint8_t* counts = nullptr;                   // column-major: counts[j * rows + r - kRowLo]
  uint16_t* sums = nullptr;                    // one per scored line
  int32_t rows = 0;

  bool build(IPState* state, const uint8_t* buffer, int32_t h, int32_t bpl, int32_t words,
             int32_t advance, int32_t lines) {
    rows = h + 30 - kRowLo;  // up to row h + 29, whose row two below is the frame's last
    // The sums of the probes share their room with the marks of two rows per column that
    // building the table keeps.
    const uint64_t tableBytes = (uint64_t(words) * uint64_t(rows) + 7) & ~uint64_t{7};
    const uint64_t bytes = tableBytes + std::max<uint64_t>(2 * uint64_t(lines), 8 * uint64_t(words));
    if (words < 1 || lines < 1 || bytes > kMaxBytes) return false;
    counts = static_cast<uint8_t*>(ipcore::alloc(state, IP_SLOT_RECORDS, size_t(bytes)));
    if (!counts) return false;
    sums = reinterpret_cast<uint16_t*>(counts + tableBytes);
    auto* previous = reinterpret_cast<uint32_t*>(counts + tableBytes);
    // Row by row, so that every line of the page is read once and in order.
    const ptrdiff_t line = bpl;
    const uint8_t* row = buffer + (IP_FRAME + kRowLo) * line + 4;
    for (int32_t j = 0; j < words; ++j) {
      previous[2 * j] = marks(load(row + ptrdiff_t{j} * advance));
      previous[2 * j + 1] = marks(load(row + line + ptrdiff_t{j} * advance));
    }
    for (int32_t r = 0; r < rows; ++r) {
      const uint8_t* below = row + (r + 2) * line;
      for (int32_t j = 0; j < words; ++j) {
        const uint32_t m2 = marks(load(below + ptrdiff_t{j} * advance));
        uint32_t* p = previous + 2 * j;
        counts[size_t(j) * size_t(rows) + size_t(r)] = static_cast<uint8_t>(lane_sum(p[0] ^ m2));
        p[0] = p[1];
        p[1] = m2;
      }
    }
    return true;
  }
  void release(IPState* state) { ipcore::release(state, IP_SLOT_RECORDS, counts); }

  // The score of the paths from row firstRow, lines lineStep apart, for a slope of the given
  // sign moving `whole` rows per word plus one after every word whose mask bit is set.
  uint64_t score(int32_t firstRow, int32_t lines, int32_t lineStep, int32_t words, int32_t sign,
                 int32_t whole, uint32_t mask) const {
    std::fill(sums, sums + lines, uint16_t{0});
    int32_t moved = 0;
    for (int32_t j = 0; j < words; ++j) {
      // Rows r and r - 2 of a falling path are the count of row r - 2.
      const int32_t row = firstRow + sign * moved + (sign < 0 ? -2 : 0);
      const uint8_t* col = counts + size_t(j) * size_t(rows) + (row - kRowLo);
      if (lineStep == 1)
        add_column(sums, col, lines);
      else
        for (int32_t i = 0; i < lines; ++i) sums[i] = static_cast<uint16_t>(sums[i] + col[ptrdiff_t{i} * lineStep]);
      moved += whole + static_cast<int32_t>(mask >> (31 - (j & 31)) & 1);
    }
    uint64_t total = 0;
    for (int32_t i = 0; i < lines; ++i) add_score(&total, uint64_t{sums[i]} << (sums[i] >> 4));
    return total;
  }
};

struct Fine {
  IPState* state;
  const uint8_t* first;
  int32_t bpl, lines, lineStep, words, advance, shift, firstRow;
  uint64_t* scores;
  int32_t* slopes;
  const LaneTable* table;
  int count = 0;

  int probe(int32_t v) {
    const int64_t a = int64_t{v < 0 ? -v : v} << shift;
    const auto whole = static_cast<int32_t>(a >> 5);
    const int32_t sign = v >= 0 ? 1 : -1;
    const uint32_t mask = frac32LineVectors[a & 31];
    uint64_t score = 0;
    if (table) {
      score = table->score(firstRow, lines, lineStep, words, sign, whole, mask);
    } else {
      uint32_t low = 0, high = 0;
      ip_findDiffPixelsSum(state, first, lines, words, bpl * lineStep, advance + sign * whole * bpl,
                           sign * bpl, mask, &low, &high);
      score = uint64_t{high} << 31 | low;
    }
    slopes[count] = v;
    scores[count] = score;
    return count++;
  }
};

}  // namespace

extern "C" {

VltStatus ip_findDiffPixelsSum(IPState*, const uint8_t* firstLine, int32_t lineCount,
                               int32_t wordsPerLine, int32_t lineStride, int32_t wordAdvance,
                               int32_t extraLineOffset, uint32_t lineMask, uint32_t* scoreLow,
                               uint32_t* scoreHigh) {
  uint64_t total = 0;
  const ptrdiff_t compared = 2 * ptrdiff_t{extraLineOffset};
  const uint8_t* line = firstLine;
  for (int32_t l = 0; l < lineCount; ++l, line += lineStride) {
    // Four byte lanes counted at once, one 8-bit count per lane.
    uint32_t lanes = 0;
    ptrdiff_t off = 0;
    for (int32_t j = 0; j < wordsPerLine; ++j) {
      lanes += marks(load(line + off)) ^ marks(load(line + off + compared));
      off += wordAdvance;
      if (lineMask >> (31 - (j & 31)) & 1) off += extraLineOffset;
    }
    const uint32_t d = lane_sum(lanes);
    add_score(&total, uint64_t{d} << (d / 16));
  }
  if (scoreLow) *scoreLow = static_cast<uint32_t>(total & 0x7FFFFFFFu);
  if (scoreHigh) *scoreHigh = static_cast<uint32_t>(std::min<uint64_t>(total >> 31, UINT32_MAX));
  return VLT_OK;
}

int32_t ip_doFindEdgeTakeStep(IPState*, const uint8_t** position, int32_t bpl, const uint8_t* lower,
                              const uint8_t* upper, int32_t G, int32_t* steps, int32_t* drift,
                              int32_t* status) {
  const uint8_t* pos = *position;
  if (!(pos > lower && pos < upper)) {
    *status = 3;
    return kFailedStep;
  }
  const uint8_t* right = pos + 2;
  if (blank16(right)) {
    // White ahead: the edge may rise; look for black above, nearest first.
    for (int32_t m = 1; m < G; ++m)
      if (!blank16(right - ptrdiff_t{m} * bpl)) {
        *position = right - ptrdiff_t{m} * bpl;
        ++*steps;
        *drift -= m;
        *status = 0;
        return m;
      }
    *position = right;
    ++*steps;
    ++*status;
    return kFailedStep;
  }
  if (blank16(right + bpl)) {
    *position = right;
    ++*steps;
    *status = 0;
    return 0;
  }
  // Black ahead and below: the edge falls; look for white below.
  for (int32_t L = 2; L <= 2 * G; ++L)
    if (blank16(right + ptrdiff_t{L} * bpl)) {
      *position = right + ptrdiff_t{L - 1} * bpl;
      ++*steps;
      *drift += L - 1;
      *status = 0;
      return L - 1;
    }
  *status = 3;
  return kFailedStep;
}

void ip_doEdgeSample(IPState* state, const uint8_t* start, int32_t byteBudget, int32_t bpl,
                     EdgeAccumulator* acc, int32_t G, const uint8_t* lower, const uint8_t* upper) {
  int32_t budget = byteBudget / 2;
  const ptrdiff_t line = bpl;
  const uint8_t* black = nullptr;
  for (int d : {0, 8, 16})
    if (!blank32(start + d * line)) {
      black = start + d * line;
      break;
    }
  if (!black) return;
  const uint8_t* white = nullptr;
  for (int d : {8, 16, 24})
    if (blank32(black + d * line)) {
      white = black + d * line;
      break;
    }
  if (!white) return;
  const uint8_t* pos = white;
  while (blank32(pos)) pos -= line;

  int32_t status = 0, steps = 0, drift = 0;
  const auto step = [&] { return ip_doFindEdgeTakeStep(state, &pos, bpl, lower, upper, G, &steps, &drift, &status); };
  // Acquire: two good steps in a row.
  for (int good = 0; good < 2 && budget > 0 && status <= 1;) {
    const int32_t r = step();
    --budget;
    if (r <= kGoodStep) {
      ++good;
    } else {
      good = 0;
      steps = 0;
      drift = 0;
    }
  }
  // Measure until the edge is lost; a gap bridged within five steps is followed on.
  int32_t keptSteps = steps, keptDrift = drift;
  while (status < 2 && budget > 0) {
    keptSteps = steps;
    keptDrift = drift;
    if (step() > kGoodStep) {
      for (int good = 0; good < 2 && budget > 0 && status <= 1;) {
        good = step() <= kGoodStep ? good + 1 : 0;
        --budget;
      }
      if (steps - keptSteps > 5) status = 3;
    }
    --budget;
  }
  if (keptSteps > 3) {
    acc->steps += keptSteps;
    acc->drift += keptDrift;
  }
}

VltStatus ip_detectSkewRobot(IPState* state, const uint8_t* buffer, int32_t W, int32_t H,
                             int32_t bpl, int32_t sampleFactor, int32_t* estimate) {
  *estimate = IP_SKEW_NO_ESTIMATE;
  const int32_t wb = W / 8;
  if (wb <= 31 || H / 32 - 2 <= 0) return VLT_ERR_BUMMER;
  const int64_t target = int64_t{W / 16} * sampleFactor;
  if (target <= 0) return VLT_ERR_BUMMER;
  const ptrdiff_t line = bpl;
  const uint8_t* lower = buffer + 32 * line + 20;
  const uint8_t* upper = lower + 32 * ptrdiff_t{H / 32 - 2} * line;
  EdgeAccumulator acc{0, 0};
  for (int32_t x = 0; x < wb - 16 && acc.steps < target; x += 32)
    for (int32_t y = 0; acc.steps < target && y < H - 16; y += 32)
      ip_doEdgeSample(state, lower + x + y * line, (wb - 16) - x, bpl, &acc, kEdgeStep, lower, upper);
  if (acc.steps < target) return VLT_ERR_BUMMER;
  *estimate = static_cast<int32_t>(int64_t{acc.drift} * 1024 / (int64_t{acc.steps} * kEdgeStep));
  return VLT_OK;
}

VltStatus ip_detectSkewFine(IPState* state, const uint8_t* buffer, int32_t w, int32_t h, int32_t bpl,
                            int32_t lineStep, int32_t lo, int32_t hi, int32_t* angle,
                            int32_t* confidence, int32_t xRes, int32_t yRes) {
  *angle = 0;
  *confidence = 0;
  if (lineStep < 1 || lo > hi || int64_t{hi} - lo > kMaxSearchWidth || lo < -kMaxSlope || hi > kMaxSlope)
    return IP_FAIL(state, VLT_ERR_PARAM);
  // Margins for the steepest slopes probed (hi + 48 and lo - 48) keep every path in the page.
  const int64_t span = int64_t{w} - 64;
  const int64_t A = (std::max<int64_t>(0, int64_t{hi} + 48) * span) >> 10;
  const int64_t B = (std::max<int64_t>(0, 48 - int64_t{lo}) * span) >> 10;
  const int64_t U = (int64_t{h} - 64) - A - B + 1;
  const int32_t mid = (lo + hi) / 2;
  if (U <= lineStep) return IP_FAIL(state, VLT_ERR_BUMMER);
  if (!state) return IP_FAIL(state, VLT_ERR_NOMEM);
  auto* scores = static_cast<uint64_t*>(ipcore::alloc_zeroed(state, IP_SLOT_RECORDS, kProbeEntries, sizeof(uint64_t)));
  auto* slopes = static_cast<int32_t*>(ipcore::alloc_zeroed(state, IP_SLOT_RECORDS, kProbeEntries, sizeof(int32_t)));
  LaneTable* built = nullptr;
  const auto release = [&] {
    if (built) built->release(state);
    ipcore::release(state, IP_SLOT_RECORDS, scores);
    ipcore::release(state, IP_SLOT_RECORDS, slopes);
  };
  if (!scores || !slopes) {
    release();
    return IP_FAIL(state, VLT_ERR_NOMEM);
  }

  const int k = lineStep == 1 ? 4 : lineStep == 2 ? 3 : 2;
  int32_t words = static_cast<int32_t>(span / 32 - 1), advance = 4, shift = 0;
  while (words > 127) {
    words /= 2;
    advance *= 2;
    ++shift;
  }
  const auto lines = static_cast<int32_t>(U / lineStep);
  LaneTable table;
  const bool tabled = table.build(state, buffer, h, bpl, words, advance, lines);
  if (tabled) built = &table;
  Fine f{state, buffer + (32 + B) * ptrdiff_t{bpl} + 4, bpl, lines, lineStep, words, advance, shift,
         static_cast<int32_t>(B), scores, slopes, tabled ? &table : nullptr};
  int iLo = f.probe(lo), iHi = f.probe(hi);
  while (hi - lo > 1) {
    const int32_t step = (hi - lo) >> k;
    if (scores[iLo] <= scores[iHi]) {
      lo = step == 0 ? lo + 1 : lo < mid ? std::min(lo + step, mid) : lo + step;
      iLo = f.probe(lo);
    } else {
      hi = step == 0 ? hi - 1 : hi > mid ? std::max(hi - step, mid) : hi - step;
      iHi = f.probe(hi);
    }
  }
  const int32_t best = scores[iHi] >= scores[iLo] ? hi : lo;
  const bool sameResolution = std::abs(int64_t{xRes} - yRes) <= 1;
  const int64_t y = sameResolution ? -int64_t{best} : -int64_t{best} * xRes / yRes;
  int32_t a = 0;
  const VltStatus st = y < INT32_MIN || y > INT32_MAX ? VLT_ERR_PARAM : iatan2(state, 1024, static_cast<int32_t>(y), &a);
  if (st) {
    release();
    return IP_FAIL(state, st);
  }
  for (int32_t d : {-32, 32, -48, 48}) f.probe(best + d);
  *confidence = ip_skewConfidence(scores, slopes, f.count, best);
  *angle = a;
  release();
  return VLT_OK;
}

VltStatus i_detectSkewFixedPoint(IPState* state, const uint8_t* buffer, int32_t Wf, int32_t Hf,
                                 int32_t bpl, int32_t lineStep, int32_t* angle, int32_t* confidence,
                                 int32_t xRes, int32_t yRes) {
  if (!angle || !confidence) return IP_FAIL(state, VLT_ERR_NULL);
  *angle = 0;
  *confidence = 0;
  if (xRes != yRes && (xRes == 0 || yRes == 0)) return IP_FAIL(state, VLT_ERR_PARAM);
  if (!buffer) return IP_FAIL(state, VLT_ERR_NULL);
  // The follower and the scorer read whole words up to the frame, so the lines must hold the
  // framed width.
  if (lineStep < 1 || bpl < 4 || (Wf > 0 && int64_t{bpl} * 8 < Wf)) return IP_FAIL(state, VLT_ERR_PARAM);
  const int32_t W = Wf - 64, H = Hf - 64;
  int32_t estimate = IP_SKEW_NO_ESTIMATE;
  VltStatus st = VLT_OK;
  // Fewer edge steps are asked for at each try, down to one per 16 pixels of width. A real
  // estimate of 999 cannot be told from none and tries the next factor too.
  for (int32_t factor = 10; factor > 0 && estimate == IP_SKEW_NO_ESTIMATE; factor /= 2)
    st = ip_detectSkewRobot(state, buffer, W, H, bpl, factor, &estimate);
  if (st) return VLT_OK;
  const int32_t halfWidth = H > W / 4 ? 32 : 16;
  return ip_detectSkewFine(state, buffer, W, H, bpl, lineStep, estimate - halfWidth,
                           estimate + halfWidth, angle, confidence, xRes, yRes);
}

VltStatus i_detectSkew(IPState* state, const uint8_t* buffer, int32_t Wf, int32_t Hf, int32_t bpl,
                       int32_t lineStep, double* angleRadians, int32_t* confidence, int32_t xRes,
                       int32_t yRes) {
  if (!angleRadians || !confidence) return IP_FAIL(state, VLT_ERR_NULL);
  int32_t angle = 0;
  if (VltStatus s = i_detectSkewFixedPoint(state, buffer, Wf, Hf, bpl, lineStep, &angle, confidence, xRes, yRes)) {
    *confidence = 0;
    *angleRadians = 0.0;
    return s;
  }
  // Half turns to radians with the device's constant for pi, not the full-precision value.
  *angleRadians = angle * (1.0 / 32768.0) * 2.0 * 3.1415926;
  return VLT_OK;
}

int32_t ip_skewConfidence(const uint64_t* scores, const int32_t* slopes, int32_t count, int32_t best) {
  if (!scores || !slopes || count < 1) return 0;
  return confidence_of(scores, slopes, count, best);
}

}  // extern "C"
