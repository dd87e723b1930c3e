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

struct PageSpec {
  uint32_t width = 0;
  uint32_t height = 0;
  uint8_t defaultPixel = 0;
};

// The file's segments after page information: write them into the context, return a status.
using SegmentWriter = std::function<VltStatus(Jb2File*)>;

// A one-page T.88 file in sequential organisation. The context starts with the given parameters
// (the defaults when null), so writers that read them see what the test wants.
Bytes t88_file(VltState* state, const PageSpec& page, const SegmentWriter& segments,
               const Jb2FileParams* params = nullptr);

// A packed VltImage of the bitmap (a copy) and back; pixels past the width are left as they are
// in padded (for tests of padding): rows are words, not bytes.
VltImage* packed_image(VltState* state, const monotest::RefBitmap& bm, bool dirtyPadding = false);
monotest::RefBitmap ref_bitmap(const VltImage* image);

// A generic region record over a bitmap at (x, y) of the page, immediate type, combination OR.
SegmentInfo generic_record(VltImage* bitmap, uint32_t x, uint32_t y, bool mmr,
                           const Jb2GenericParams& params);

}  // namespace jb2test

#endif
