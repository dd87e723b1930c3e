#include "jb2_bench_streams.h"

#include "jb2_test_stream.h"
#include "pages.h"

namespace jb2bench {

namespace {

Bytes make(VltState* state, bool mmr) {
  const monotest::RefBitmap& bm = monotest::cached_sample_page("doc3");
  const Jb2GenericParams params{0, {3, -3, 2, -2}, {-1, -1, -2, -2}, 1};
  VltImage* im = jb2test::packed_image(state, bm);
  SegmentInfo seg = jb2test::generic_record(im, 0, 0, mmr, params);
  Bytes file = jb2test::t88_file(
      state, {static_cast<uint32_t>(bm.width), static_cast<uint32_t>(bm.height), 0},
      [&](Jb2File* f) { return jb2EncodeGenRegion(f, &seg); });
  VltImage_free(im);
  return file;
}

}  // namespace

const Bytes& page_stream(VltState* state, bool mmr) {
  static const Bytes mq = make(state, false);
  static const Bytes g4 = make(state, true);
  return mmr ? g4 : mq;
}

}  // namespace jb2bench
