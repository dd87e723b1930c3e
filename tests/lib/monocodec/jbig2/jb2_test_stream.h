#ifndef JB2_TEST_STREAM_H
#define JB2_TEST_STREAM_H

// Test helpers for the JBIG2 writers: the bytes of a memory sink, a stream context over one
// memory sink, and whole T.88 files (file header, page information, the caller's segments, end
// of page, end of file) written through our own writers, ready for jbig2dec. Failures throw
// std::runtime_error naming the step and its status.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "jb2_encode.h"
#include "jb2_memsink.h"
#include "ref_bitmap.h"
#include "ref_generic.h"
#include "vlt_image.h"

namespace jb2test {

using Bytes = std::vector<uint8_t>;

// A source handing out a byte string in windows of the given sizes (cycled), as a stream arriving
// in pieces does.
struct WindowSource {
  DataSource source{};
  const std::vector<uint8_t>* bytes;
  std::vector<uint32_t> sizes;
  size_t next = 0, turn = 0;
  int calls = 0;

  WindowSource(VltState* state, const std::vector<uint8_t>& b, std::vector<uint32_t> s);
  static VltStatus more(DataSource* s, void*);
};

// Throws when st is not 0.
void check(VltStatus st, const std::string& what);

// The bytes of a closed memory sink's chunk list, which is freed.
Bytes join_chunks(VltAdtList* chunks, VltState* state);

// One memory sink as both header and data sink of a fresh stream context.
class MemoryStream {
 public:
  explicit MemoryStream(VltState* state);
  ~MemoryStream();
  MemoryStream(const MemoryStream&) = delete;
  MemoryStream& operator=(const MemoryStream&) = delete;

  Jb2File* file() const { return file_; }
  DataSink* sink() const { return sink_; }
  // Closes the sink and returns everything written; the context stays usable for accessors only.
  Bytes finish();

 private:
  VltState* state_;
  DataSink* sink_ = nullptr;
  Jb2File* file_ = nullptr;
};

struct PageSetup {
  uint32_t width = 0;
  uint32_t height = 0;
  uint8_t defaultPixel = 0;
};

// The file's segments after page information: write them into the context, return a status.
using SegmentWriter = std::function<VltStatus(Jb2File*)>;

// A one-page T.88 file in sequential organisation. The context starts with the given parameters
// (the defaults when null), so writers that read them see what the test wants.
Bytes t88_file(VltState* state, const PageSetup& page, const SegmentWriter& segments,
               const Jb2FileParams* params = nullptr);

// A generic region of a test page: the bitmap at (x, y), combined with the operator, MMR or MQ
// (template 0 with its nominal adaptive pixels).
struct PageRegion {
  monotest::RefBitmap bm;
  uint32_t x, y;
  uint8_t combOp;
  bool mmr;
};

// An embedded page stream as layers carry it (no file header, no end of page or file): page
// information and the regions in order.
Bytes embedded_page(VltState* state, const PageSetup& page, const std::vector<PageRegion>& regions);

// One segment found in a stream by reading its header as the standard lays it out.
struct ParsedSegment {
  uint32_t number = 0;
  uint8_t type = 0;
  bool deferred = false;
  bool retain = false;
  uint32_t page = 0;
  std::vector<uint32_t> referred;
  std::vector<bool> referredRetain;
  size_t headerOffset = 0;
  Bytes data;  // the data part, by the header's length
};

// The segments of a stream, with or without the file header (in the random-access organisation
// the headers run up to the end of file and the data parts follow in the same order).
// Throws on a malformed or truncated stream.
std::vector<ParsedSegment> parse_segments(const Bytes& stream, bool fileHeader);

// A packed VltImage of the bitmap (a copy) and back; pixels past the width are left as they are
// in padded (for tests of padding): rows are words, not bytes.
VltImage* packed_image(VltState* state, const monotest::RefBitmap& bm, bool dirtyPadding = false);
monotest::RefBitmap ref_bitmap(const VltImage* image);

// A generic region record over a bitmap at (x, y) of the page, immediate type, combination OR.
SegmentInfo generic_record(VltImage* bitmap, uint32_t x, uint32_t y, bool mmr,
                           const Jb2GenericParams& params);

// MMR-coded rows decoded by the engine's fax decoder (itself checked against libtiff); *used gets
// the bytes taken, the end-of-block code included when eob is set.
monotest::RefBitmap mmr_decode(const uint8_t* data, size_t size, int width, int height, bool eob,
                               size_t* used, VltState* state);

// The bitmap of a generic region segment's data part, decoded with the reference MQ decoding
// procedure or the fax decoder as its flags say. Throws on a malformed data part.
monotest::RefBitmap decode_generic_data(const Bytes& data, VltState* state);

// A way to code a generic region: MMR, or MQ with a template, adaptive pixels and typical
// prediction.
struct GenericConfig {
  std::string name;
  bool mmr = false;
  Jb2GenericParams params{};
};

// MMR, and templates 0-3 with and without typical prediction, each with its nominal adaptive
// pixels and with ones far from them (up to 128 pixels away, on the row being coded and 128 rows
// up).
std::vector<GenericConfig> generic_configs();

// A pattern dictionary of random patterns and a halftone region over it with a random grey image,
// as the two segment records the writers take. The region refers to the dictionary once the
// dictionary has its number (write() sees to it).
class HalftoneSample {
 public:
  HalftoneSample(VltState* state, int patternWidth, int patternHeight, int patterns, int gridWidth,
                 int gridHeight, uint32_t seed);
  ~HalftoneSample();
  HalftoneSample(const HalftoneSample&) = delete;
  HalftoneSample& operator=(const HalftoneSample&) = delete;

  // Writes the dictionary, then the region at (x, y) of page 1 with the given grid.
  VltStatus write(Jb2File* file, uint32_t x, uint32_t y, uint32_t width, uint32_t height,
                  int32_t gridX, int32_t gridY, int32_t vectorX, int32_t vectorY);
  // The region's bitmap as the standard renders it (OR of the patterns on the default pixel 0).
  monotest::RefBitmap render() const;

  int patternWidth, patternHeight, patterns, gridWidth, gridHeight;
  std::vector<monotest::RefBitmap> bitmaps;  // the patterns
  std::vector<int> gray;                     // row by row
  SegmentInfo dict{};
  SegmentInfo region{};

 private:
  VltState* state_;
  std::vector<Bytes> words_;
  std::vector<HalftonePattern> records_;
  uint32_t referred_ = 0;
  uint8_t referredRetain_ = 0;
};

}  // namespace jb2test

#endif
