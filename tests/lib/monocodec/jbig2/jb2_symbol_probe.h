#ifndef JB2_SYMBOL_PROBE_H
#define JB2_SYMBOL_PROBE_H

// A reader of the Huffman-coded symbol dictionaries, text regions and code tables we write,
// following the standard's decoding procedures step by step with its own bit reader and its own
// canonical codes. It reads what jbig2dec reads, but also tells which value each field held and
// how many bits each kind of field took, so tests can check the structure and the writer's own
// bit accounting, not only the pixels.

#include <cstdint>
#include <string>
#include <vector>

#include "jb2_huffman.h"
#include "jb2_test_stream.h"
#include "ref_bitmap.h"

namespace jb2test {

// Most significant bit first over a byte string; reading past the end throws.
class ProbeBits {
 public:
  ProbeBits(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  uint32_t read(int n);
  void align() { pos_ = (pos_ + 7) & ~size_t{7}; }
  size_t bit_pos() const { return pos_; }
  size_t byte_pos() const { return (pos_ + 7) / 8; }
  void skip_bytes(size_t n);  // after align
  const uint8_t* here() const { return data_ + byte_pos(); }
  size_t left() const { return size_ - byte_pos(); }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t pos_ = 0;
};

enum ProbeKind : char { PROBE_NORMAL = 'n', PROBE_LOWER = 'l', PROBE_UPPER = 'u', PROBE_OOB = 'o' };

struct ProbeLine {
  int64_t low;
  int pref;
  int range;
  ProbeKind kind;
  uint32_t code = 0;
};

// A code table with its canonical codes assigned here.
struct ProbeTable {
  std::vector<ProbeLine> lines;
};

// The lines of one of our tables (values only; codes assigned by the probe).
ProbeTable probe_table(const JhtTable& t);
// The table a code table segment's data part describes.
ProbeTable probe_table_segment(const Bytes& data);

struct ProbeValue {
  bool oob = false;
  int64_t value = 0;
};
ProbeValue probe_read(ProbeBits& bits, const ProbeTable& t);

struct ProbeDict {
  uint16_t flags = 0;
  std::vector<monotest::RefBitmap> symbols;  // in coding order
  std::vector<int64_t> heightDeltas, widthDeltas;
  std::vector<uint32_t> bmsizes;           // per height class
  std::vector<int64_t> exportRuns;
};

// A Huffman symbol dictionary; tables holds the code tables it refers to, in order.
ProbeDict probe_symbol_dict(const Bytes& data, const std::vector<ProbeTable>& tables, VltState* state);

struct ProbeInstance {
  int32_t x;
  int32_t y;
  uint32_t id;
  bool operator==(const ProbeInstance&) const = default;
  bool operator<(const ProbeInstance& o) const {
    return x != o.x ? x < o.x : y != o.y ? y < o.y : id < o.id;
  }
};

struct ProbeText {
  uint16_t flags = 0;
  uint16_t huffmanFlags = 0;
  int logStrips = 0;
  int corner = 0;
  bool transposed = false;
  int dsOffset = 0;
  int64_t firstDT = 0;                  // the value coded first
  std::vector<uint32_t> idLengths;      // the symbol-ID code lengths sent
  std::vector<ProbeInstance> instances; // in coding order
  uint64_t fieldBits[3] = {0, 0, 0};    // bits of the DT, DS and FS fields
};

// The symbol-ID code lengths of n symbols as a Huffman text region sends them (run codes, then
// padding to a byte); items, when given, receives each run code with its extra value.
std::vector<uint32_t> probe_id_lengths(ProbeBits& bits, size_t n,
                                       std::vector<std::pair<int, int>>* items = nullptr);

// A Huffman text region over symbols of the given sizes (by ID); tables holds the code tables
// it refers to, in order.
ProbeText probe_text_region(const Bytes& data, const std::vector<std::pair<int, int>>& sizes,
                            const std::vector<ProbeTable>& tables);

// The code tables among a segment's referred-to segments, in order.
std::vector<ProbeTable> referred_tables(const ParsedSegment& seg, const std::vector<ParsedSegment>& all);

}  // namespace jb2test

#endif
