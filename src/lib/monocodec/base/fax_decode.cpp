// CCITT fax decoder. Lines are built as lists of colour changes against the line above; codes
// are looked up in tables indexed by the next bits of a 64-bit bit buffer.

#include "fax_decode.h"

#include "byteorder.h"
#include "checked_size.h"
#include "fax_codes.h"

namespace {

// ---- bit reader ---------------------------------------------------------------------------

struct Reader {
  const uint8_t* data;
  size_t length;
  size_t pos;
  uint64_t buf;
  uint32_t count;
  size_t pad;

  explicit Reader(const FaxDecoder* d)
      : data(d->data), length(d->length), pos(d->position), buf(d->bitBuf), count(d->bitCount),
        pad(d->padBytes) {}

  void store_to(FaxDecoder* d) const {
    d->position = pos;
    d->bitBuf = buf;
    d->bitCount = count;
    d->padBytes = pad;
  }

  // Keeps more than 32 bits in the buffer; bytes past the end read as 0.
  void refill() {
    if (count > 32) return;
    if (length - pos >= 4) {
      buf |= static_cast<uint64_t>(mono::load_be32(data + pos)) << (32 - count);
      pos += 4;
      count += 32;
      return;
    }
    while (count <= 56) {
      uint64_t byte = 0;
      if (pos < length)
        byte = data[pos++];
      else
        ++pad;
      buf |= byte << (56 - count);
      count += 8;
    }
  }

  uint32_t peek(uint32_t n) const { return static_cast<uint32_t>(buf >> (64 - n)); }

  void skip(uint32_t n) {
    buf <<= n;
    count -= n;
  }

  uint32_t take(uint32_t n) {
    const uint32_t v = peek(n);
    skip(n);
    return v;
  }

  size_t consumed_bytes() const {
    const uint64_t bits = (static_cast<uint64_t>(pos) + pad) * 8 - count;
    const uint64_t bytes = (bits + 7) / 8;
    return bytes < length ? static_cast<size_t>(bytes) : length;
  }

  // Skips 0 bits up to the next 1 bit; false (having consumed only 0 bits) when none is left.
  bool skip_zeros() {
    for (;;) {
      refill();
      if (buf != 0) {
        skip(static_cast<uint32_t>(__builtin_clzll(buf)));
        return true;
      }
      if (pos >= length) return false;
      buf = 0;
      count = 0;
    }
  }
};

// ---- code tables --------------------------------------------------------------------------

enum Mode : uint8_t { kInvalid, kV, kH, kP, kExt, kZero };

struct ModeEntry {
  uint8_t mode;
  uint8_t length;
  int8_t delta;  // a1 - b1 for vertical codes
};

// Modes by the next 7 bits.
constexpr std::array<ModeEntry, 128> make_mode_tab() {
  std::array<ModeEntry, 128> t{};
  auto fill = [&t](unsigned code, unsigned len, uint8_t mode, int8_t delta) {
    const unsigned first = code << (7 - len);
    for (unsigned i = 0; i < (1u << (7 - len)); ++i) t[first + i] = ModeEntry{mode, uint8_t(len), delta};
  };
  fill(0x1, 1, kV, 0);
  fill(0x3, 3, kV, 1);
  fill(0x2, 3, kV, -1);
  fill(0x1, 3, kH, 0);
  fill(0x1, 4, kP, 0);
  fill(0x03, 6, kV, 2);
  fill(0x02, 6, kV, -2);
  fill(0x03, 7, kV, 3);
  fill(0x02, 7, kV, -3);
  fill(0x01, 7, kExt, 0);
  fill(0x00, 7, kZero, 0);
  return t;
}
constexpr std::array<ModeEntry, 128> kModeTab = make_mode_tab();

constexpr const FaxRunTab* kShortRunTabs[2] = {&whiteShortRunTab, &blackShortRunTab};
constexpr const FaxRunTab* kLongRunTabs[2] = {&whiteLongRunTab, &blackLongRunTab};

// Runs are summed only up to a bound well above any width, so corrupt data cannot overflow them.
constexpr int32_t kRunCap = FAX_MAX_WIDTH + 1;

// One run of a colour: make-up codes added up until a terminating code. False on a bit pattern
// no code starts with; nothing of that pattern is consumed.
bool read_run(Reader& r, int colour, int32_t* run) {
  int32_t total = 0;
  for (;;) {
    r.refill();
    const FaxRun e = r.peek(4) != 0 ? (*kShortRunTabs[colour])[r.peek(9)]
                                    : (*kLongRunTabs[colour])[r.peek(13) & 0x1FF];
    if (e.length == 0) return false;
    r.skip(e.length);
    total += e.run;
    if (total > kRunCap) total = kRunCap;
    if (e.run < 64) {
      *run = total;
      return true;
    }
  }
}

// ---- line building ------------------------------------------------------------------------

constexpr uint32_t kEolBits = 0x001;              // 000000000001
constexpr uint32_t kUncompressedEntry1D = 0x00F;  // 000000001111
constexpr uint32_t kUncompressedEntry2D = 0x00F;  // 0000001111 (10 bits)

struct Line {
  int32_t* a;
  int32_t n;
  int32_t limit;  // entries that may hold changes; three closing widths come after
  int32_t width;
  bool full;

  // Records a change at pos when it lies inside the line.
  void add(int32_t pos) {
    if (pos >= width) return;
    if (n >= limit) {
      full = true;
      return;
    }
    a[n++] = pos;
  }
};

VltStatus report_transitions(const FaxDecoder* dec) {
  return Vlt_reportErrMsg(dec->state->errState, VLT_ERR_CODEC, "error in line transitions");
}

VltStatus report_corrupt(const FaxDecoder* dec) { return Vlt_report(dec->state, VLT_ERR_CODEC); }

enum class Step { kGo, kEndLine, kCorrupt };

// After a code that cannot be decoded: 11 zero bits (an EOL or fill) end the line where it
// stands; anything else cannot be resynchronised within the line.
Step undecodable(Reader& r) {
  r.refill();
  return r.peek(11) == 0 ? Step::kEndLine : Step::kCorrupt;
}

// One code word of uncompressed mode at a0 (a position, not -1).
Step uncompressed_code(Reader& r, FaxDecoder* dec, Line& line, int32_t& a0, int& colour) {
  r.refill();
  const uint32_t w12 = r.peek(12);
  const uint32_t zeros = w12 == 0 ? 12 : static_cast<uint32_t>(__builtin_clz(w12)) - 20;
  auto whites = [&](uint32_t k) {
    if (k == 0) return;
    if (colour != 0) {
      line.add(a0);
      colour = 0;
    }
    a0 += static_cast<int32_t>(k);
  };
  if (zeros <= 4) {  // k whites and one black
    r.skip(zeros + 1);
    whites(zeros);
    if (colour == 0) {
      line.add(a0);
      colour = 1;
    }
    a0 += 1;
    return Step::kGo;
  }
  if (zeros == 5) {  // five whites
    r.skip(6);
    whites(5);
    return Step::kGo;
  }
  if (zeros <= 10) {  // exit: k whites, then the tag bit gives the colour of the next run
    r.skip(zeros + 1);
    whites(zeros - 6);
    const int tag = static_cast<int>(r.take(1));
    if (tag != colour) {
      line.add(a0);
      colour = tag;
    }
    dec->uncompressed = 0;
    return Step::kGo;
  }
  dec->uncompressed = 0;  // an EOL leaves the mode
  return Step::kEndLine;
}

// T.4 one-dimensional runs from a0 until the width or a stop (eight 0 bits or a bad code).
Step FastScan1D(Reader& r, FaxDecoder* dec, Line& line, int32_t& a0, int& colour) {
  const int32_t width = dec->width;
  while (a0 < width) {
    r.refill();
    if (r.peek(8) == 0) {
      if (r.peek(12) == kUncompressedEntry1D) {
        r.skip(12);
        dec->uncompressed = 1;
        return Step::kGo;
      }
      return undecodable(r);
    }
    int32_t run;
    if (!read_run(r, colour, &run)) return undecodable(r);
    const int32_t from = a0 < 0 ? 0 : a0;
    a0 = run > width - from ? width : from + run;
    line.add(a0);
    colour ^= 1;
  }
  return Step::kGo;
}

// T.6 codes from a0 until the width or a stop.
Step scan_2d(Reader& r, FaxDecoder* dec, Line& line, int32_t& a0, int& colour, int32_t& j) {
  const int32_t width = dec->width;
  const int32_t* ref = dec->ref.array;
  while (a0 < width) {
    r.refill();
    const ModeEntry m = kModeTab[r.peek(7)];
    // b1: the first change right of a0 to the colour opposite the current one (odd entries
    // turn black); b2 the change after it. Three closing widths keep both inside the list.
    while (ref[j] <= a0) ++j;
    if ((j & 1) == colour) ++j;
    const int32_t b1 = ref[j];
    switch (m.mode) {
      case kV: {
        const int32_t a1 = b1 + m.delta;
        if (a1 < 0 || a1 < a0) return undecodable(r);
        r.skip(m.length);
        line.add(a1);
        a0 = a1;
        colour ^= 1;
        // a1 may lie left of b1: the change before b1 can be the next b1 for the new colour.
        if (j > 0) --j;
        break;
      }
      case kH: {
        r.skip(3);
        int32_t run1, run2;
        if (!read_run(r, colour, &run1) || !read_run(r, colour ^ 1, &run2)) return undecodable(r);
        const int32_t from = a0 < 0 ? 0 : a0;
        const int32_t a1 = run1 > width - from ? width : from + run1;
        const int32_t a2 = run2 > width - a1 ? width : a1 + run2;
        line.add(a1);
        line.add(a2);
        a0 = a2;
        break;
      }
      case kP:
        r.skip(4);
        a0 = ref[j + 1];
        break;
      case kExt:
        if (r.peek(10) != kUncompressedEntry2D) return undecodable(r);
        r.skip(10);
        dec->uncompressed = 1;
        return Step::kGo;
      default:
        return undecodable(r);
    }
  }
  return Step::kGo;
}

// Consumes an EOL at the reader, after any 0-bit fill. When none follows, false; 0 bits that run
// to the end of the data are consumed unless keepFill asks to leave them (so that lines past the
// end of the data do not scan the same zeros again).
bool take_eol(Reader& r, bool keepFill) {
  r.refill();
  const uint32_t w = r.peek(12);
  if (w == kEolBits) {
    r.skip(12);
    return true;
  }
  if (w != 0) return false;
  const Reader saved = r;
  if (!r.skip_zeros()) {
    if (keepFill) r = saved;
    return false;
  }
  r.skip(1);
  return true;
}

int32_t end_code_count(int32_t K) { return K < 0 ? 2 : 6; }

void set_white_line(FaxChangeList* list, int32_t width) {
  list->array[0] = -1;
  list->array[1] = list->array[2] = list->array[3] = width;
  list->count = 4;
}

// ---- bit runs in destination rows ---------------------------------------------------------

enum class BitOp { kSet, kClear };

// Sets or clears bits [from, to) of a row of big-endian words.
void apply_bits(uint32_t* row, int64_t from, int64_t to, BitOp op) {
  if (from >= to) return;
  const int64_t w0 = from >> 5, w1 = (to - 1) >> 5;
  const uint32_t head = ~0u >> (from & 31);
  const uint32_t tail = mono::left_mask32(static_cast<unsigned>(to - w1 * 32));
  auto put = [&](int64_t w, uint32_t mask) {
    const uint32_t v = mono::load_be32(row + w);
    mono::store_be32(row + w, op == BitOp::kSet ? v | mask : v & ~mask);
  };
  if (w0 == w1) {
    put(w0, head & tail);
    return;
  }
  put(w0, head);
  const uint32_t fill = op == BitOp::kSet ? ~0u : 0u;
  for (int64_t w = w0 + 1; w < w1; ++w) mono::store_be32(row + w, fill);
  put(w1, tail);
}

// Applies op to the black runs of the decoded line that fall in [first, end).
void black_runs(const FaxDecoder* dec, uint32_t* row, int32_t bitOffset, int32_t first,
                int32_t end, BitOp op) {
  const int32_t* a = dec->ref.array;
  const int32_t width = dec->width;
  const int64_t shift = static_cast<int64_t>(bitOffset) - first;
  for (int32_t i = 1; a[i] < width && a[i] < end; i += 2) {
    const int32_t s = a[i] > first ? a[i] : first;
    const int32_t e = a[i + 1] < end ? a[i + 1] : end;
    apply_bits(row, s + shift, e + shift, op);
  }
}

// ---- the decoding driver ------------------------------------------------------------------

enum class SizeResult { kUsed, kLeft };

VltStatus drive(FaxDecoder* dec, uint32_t* firstRow, int32_t width, int32_t numLines,
                int32_t strideWords, int32_t bitOffset, int32_t lastCol, int32_t lastLine,
                const uint8_t* data, size_t length, int32_t endFlag, int32_t K, size_t* sizeOut,
                SizeResult kind) {
  const int64_t lines64 = lastLine < numLines ? static_cast<int64_t>(lastLine) + 1 : numLines;
  const int32_t lines = lines64 > 0 ? static_cast<int32_t>(lines64) : 0;
  if (width < 0 || width > FAX_MAX_WIDTH || bitOffset < 0)
    return Vlt_report(dec->state, VLT_ERR_PARAM);
  const int64_t windowEnd =
      (static_cast<int64_t>(lastCol) + 1 < static_cast<int64_t>(bitOffset) + width
           ? static_cast<int64_t>(lastCol) + 1
           : static_cast<int64_t>(bitOffset) + width) -
      bitOffset;
  const bool blit = lines > 0 && windowEnd > 0;
  // The window must stay inside the destination rows.
  if (blit && (strideWords <= 0 || lastCol >= static_cast<int64_t>(strideWords) * 32))
    return Vlt_report(dec->state, VLT_ERR_PARAM);
  if (blit && firstRow == nullptr) return Vlt_report(dec->state, VLT_ERR_NULL);
  VltStatus st = DecodeInit(dec, data, length, width, K);
  if (st != VLT_OK) return st;
  for (int32_t y = 0; y < lines && st == VLT_OK; ++y) {
    st = NextLine(dec);
    if (st == VLT_OK && blit)
      OrBltLine(dec, firstRow + static_cast<ptrdiff_t>(strideWords) * y, bitOffset, 0,
                static_cast<int32_t>(windowEnd));
  }
  if (st == VLT_OK && (endFlag & 0xFF) != 0) ConsumeEndOfBlock(dec);
  if (sizeOut != nullptr) {
    const size_t used = Reader(dec).consumed_bytes();
    *sizeOut = kind == SizeResult::kUsed ? used : length - used;
  }
  return st;
}

VltStatus drive_own(uint32_t* firstRow, int32_t width, int32_t numLines, int32_t strideWords,
                    int32_t bitOffset, int32_t lastCol, int32_t lastLine, const uint8_t* data,
                    size_t length, int32_t endFlag, size_t* bytesUsed, VltState* state,
                    int32_t K) {
  FaxDecoder* dec = nullptr;
  const VltStatus made = DecodeCreate(&dec, state);
  if (made != VLT_OK) return made;
  const VltStatus st = drive(dec, firstRow, width, numLines, strideWords, bitOffset, lastCol,
                             lastLine, data, length, endFlag, K, bytesUsed, SizeResult::kUsed);
  DecodeCleanUp(&dec);
  return st;
}

VltStatus drive_callers(FaxDecoder* dec, uint32_t* firstRow, int32_t width, int32_t numLines,
                        int32_t strideWords, int32_t bitOffset, int32_t lastCol,
                        int32_t lastLine, const uint8_t* data, size_t length, int32_t endFlag,
                        size_t* bytesLeft, int32_t K) {
  if (dec == nullptr) return VLT_ERR_NULL;
  return drive(dec, firstRow, width, numLines, strideWords, bitOffset, lastCol, lastLine, data,
               length, endFlag, K, bytesLeft, SizeResult::kLeft);
}

VltStatus alloc_list(FaxDecoder* dec, FaxChangeList* list, size_t entries) {
  size_t bytes;
  if (!mono::checked_mul(entries, sizeof(int32_t), &bytes)) return Vlt_report(dec->state, VLT_ERR_NOMEM);
  auto* a = static_cast<int32_t*>(dec->state->malloc(bytes));
  if (a == nullptr) return Vlt_report(dec->state, VLT_ERR_NOMEM);
  dec->state->free(list->array);
  list->array = a;
  list->capacity = static_cast<int32_t>(entries);
  return VLT_OK;
}

}  // namespace

VltStatus DecodeCreate(FaxDecoder** place, VltState* state) {
  if (place == nullptr || state == nullptr) return Vlt_report(state, VLT_ERR_NULL);
  auto* dec = static_cast<FaxDecoder*>(state->calloc(1, sizeof(FaxDecoder)));
  if (dec == nullptr) return Vlt_report(state, VLT_ERR_NOMEM);
  dec->state = state;
  dec->K = -1;
  *place = dec;
  return VLT_OK;
}

VltStatus DecodeInit(FaxDecoder* dec, const uint8_t* data, size_t length, int32_t width,
                     int32_t K) {
  if (dec == nullptr) return VLT_ERR_NULL;
  if (data == nullptr && length != 0) return Vlt_report(dec->state, VLT_ERR_NULL);
  if (width < 0 || width > FAX_MAX_WIDTH) return Vlt_report(dec->state, VLT_ERR_PARAM);
  const int32_t entries = width + 4;
  if (dec->ref.capacity < entries || dec->ref.array == nullptr) {
    const VltStatus st = alloc_list(dec, &dec->ref, static_cast<size_t>(entries));
    if (st != VLT_OK) return st;
  }
  if (dec->cur.capacity < entries || dec->cur.array == nullptr) {
    const VltStatus st = alloc_list(dec, &dec->cur, static_cast<size_t>(entries));
    if (st != VLT_OK) return st;
  }
  dec->width = width;
  dec->data = data;
  dec->length = length;
  dec->position = 0;
  dec->bitBuf = 0;
  dec->bitCount = 0;
  dec->padBytes = 0;
  dec->K = K;
  dec->uncompressed = 0;
  dec->oneD = K == 0;
  dec->colour = 0;
  dec->endSeen = 0;
  set_white_line(&dec->ref, width);
  set_white_line(&dec->cur, width);
  return VLT_OK;
}

void DecodeCleanUp(FaxDecoder** place) {
  if (place == nullptr || *place == nullptr) return;
  FaxDecoder* dec = *place;
  *place = nullptr;
  dec->state->free(dec->ref.array);
  dec->state->free(dec->cur.array);
  dec->state->free(dec);
}

VltStatus NextLine(FaxDecoder* dec) {
  const int32_t width = dec->width;
  Line line{dec->cur.array, 1, dec->cur.capacity - 3, width, false};
  line.a[0] = -1;
  Reader r(dec);
  Step step = Step::kGo;
  if (dec->uncompressed) {
    // A line left in uncompressed mode without an exit code: an EOL ends the mode.
    r.refill();
    if (r.peek(11) == 0) dec->uncompressed = 0;
  }
  if (dec->endSeen) {
    step = Step::kEndLine;
  } else if (!dec->uncompressed) {
    int32_t eols = 0;
    while (take_eol(r, false)) {
      if (dec->K > 0) {
        r.refill();
        dec->oneD = static_cast<uint8_t>(r.take(1));
      }
      if (++eols == end_code_count(dec->K)) {
        dec->endSeen = 1;
        step = Step::kEndLine;
        break;
      }
    }
  }
  int32_t a0 = -1;
  int colour = 0;
  int32_t j = 0;
  while (step == Step::kGo && a0 < width) {
    if (dec->uncompressed) {
      if (a0 < 0) a0 = 0;
      step = uncompressed_code(r, dec, line, a0, colour);
    } else if (dec->oneD) {
      step = FastScan1D(r, dec, line, a0, colour);
    } else {
      step = scan_2d(r, dec, line, a0, colour, j);
    }
    if (line.full) break;
  }
  // A line that ends in uncompressed mode is closed by an exit code of no white pixels.
  if (step == Step::kGo && dec->uncompressed) {
    r.refill();
    const uint32_t w = r.peek(7);
    if (w == 0x01) {
      r.skip(8);
      dec->uncompressed = 0;
    }
  }
  r.store_to(dec);
  dec->colour = static_cast<uint8_t>(colour);
  if (line.full) return report_transitions(dec);
  if (step == Step::kCorrupt) return report_corrupt(dec);
  line.a[line.n] = line.a[line.n + 1] = line.a[line.n + 2] = width;
  dec->cur.count = line.n + 3;
  const FaxChangeList t = dec->ref;
  dec->ref = dec->cur;
  dec->cur = t;
  return VLT_OK;
}

void OrBltLine(const FaxDecoder* dec, uint32_t* row, int32_t bitOffset, int32_t first,
               int32_t end) {
  black_runs(dec, row, bitOffset, first, end, BitOp::kSet);
}

void MoveLine(const FaxDecoder* dec, uint32_t* row, int32_t bitOffset, int32_t first, int32_t end,
              int32_t invert) {
  if (end <= first) return;
  const int64_t from = bitOffset, to = static_cast<int64_t>(bitOffset) + end - first;
  apply_bits(row, from, to, invert ? BitOp::kSet : BitOp::kClear);
  black_runs(dec, row, bitOffset, first, end, invert ? BitOp::kClear : BitOp::kSet);
}

int32_t ConsumeEndOfBlock(FaxDecoder* dec) {
  if (dec->endSeen || dec->length == 0) return 0;
  Reader r(dec);
  int32_t n = 0;
  const int32_t want = end_code_count(dec->K);
  while (n < want && take_eol(r, true)) {
    if (dec->K > 0) {
      r.refill();
      r.skip(1);
    }
    ++n;
  }
  if (n == want) dec->endSeen = 1;
  r.store_to(dec);
  return n;
}

int32_t EndSeen(const FaxDecoder* dec) {
  if (dec->endSeen) return 1;
  return dec->position >= dec->length && dec->bitBuf == 0 ? 1 : 0;
}

VltStatus g4Decode(uint32_t* firstRow, int32_t width, int32_t numLines, int32_t strideWords,
                   int32_t bitOffset, int32_t lastCol, int32_t lastLine, const uint8_t* data,
                   size_t length, int32_t endFlag, size_t* bytesUsed, VltState* state) {
  return drive_own(firstRow, width, numLines, strideWords, bitOffset, lastCol, lastLine, data,
                   length, endFlag, bytesUsed, state, -1);
}

VltStatus g4DecodeC(FaxDecoder* dec, uint32_t* firstRow, int32_t width, int32_t numLines,
                    int32_t strideWords, int32_t bitOffset, int32_t lastCol, int32_t lastLine,
                    const uint8_t* data, size_t length, int32_t endFlag, size_t* bytesLeft) {
  return drive_callers(dec, firstRow, width, numLines, strideWords, bitOffset, lastCol, lastLine,
                       data, length, endFlag, bytesLeft, -1);
}

VltStatus g3_1DDecode(uint32_t* firstRow, int32_t width, int32_t numLines, int32_t strideWords,
                      int32_t bitOffset, int32_t lastCol, int32_t lastLine, const uint8_t* data,
                      size_t length, int32_t endFlag, size_t* bytesUsed, VltState* state) {
  return drive_own(firstRow, width, numLines, strideWords, bitOffset, lastCol, lastLine, data,
                   length, endFlag, bytesUsed, state, 0);
}

VltStatus g3_1DDecodeC(FaxDecoder* dec, uint32_t* firstRow, int32_t width, int32_t numLines,
                       int32_t strideWords, int32_t bitOffset, int32_t lastCol, int32_t lastLine,
                       const uint8_t* data, size_t length, int32_t endFlag, size_t* bytesLeft) {
  return drive_callers(dec, firstRow, width, numLines, strideWords, bitOffset, lastCol, lastLine,
                       data, length, endFlag, bytesLeft, 0);
}

VltStatus g3_2DDecode(uint32_t* firstRow, int32_t width, int32_t numLines, int32_t strideWords,
                      int32_t bitOffset, int32_t lastCol, int32_t lastLine, const uint8_t* data,
                      size_t length, int32_t endFlag, size_t* bytesUsed, VltState* state) {
  return drive_own(firstRow, width, numLines, strideWords, bitOffset, lastCol, lastLine, data,
                   length, endFlag, bytesUsed, state, 1);
}

VltStatus g3_2DDecodeC(FaxDecoder* dec, uint32_t* firstRow, int32_t width, int32_t numLines,
                       int32_t strideWords, int32_t bitOffset, int32_t lastCol, int32_t lastLine,
                       const uint8_t* data, size_t length, int32_t endFlag, size_t* bytesLeft) {
  return drive_callers(dec, firstRow, width, numLines, strideWords, bitOffset, lastCol, lastLine,
                       data, length, endFlag, bytesLeft, 1);
}
