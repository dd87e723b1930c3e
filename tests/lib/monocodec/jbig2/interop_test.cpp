// Streams we write, decoded by jbig2dec: the pixels it produces are compared with ours.

#include <gtest/gtest.h>

#include "jb2_fixture.h"
#include "jb2_test_stream.h"
#include "jbig2dec.h"

namespace {

using monotest::first_difference;
using monotest::RefBitmap;

struct InteropTest : Jb2Test {};

TEST_F(InteropTest, PageWithoutRegionsShowsItsDefaultPixel) {
  for (uint8_t pixel : {0, 1}) {
    const auto file = jb2test::t88_file(state, {37, 5, pixel}, nullptr);
    RefBitmap want(37, 5);
    for (int y = 0; y < 5; ++y)
      for (int x = 0; x < 37; ++x) want.set(x, y, pixel);
    EXPECT_EQ(first_difference(want, monotest::jbig2dec_decode(file).page), "");
  }
}

}  // namespace
