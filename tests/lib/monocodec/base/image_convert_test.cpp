// Pixel-type conversions: a table of values through every rule, every pair of the table, the
// paths through the Packed type, and the failures each path reports.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdarg>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "counted_engine_test.h"
#include "counting_alloc.h"
#include "report_collector.h"
#include "vlt_image.h"
#include "vlt_state.h"

namespace {

int samples(uint16_t type) { return type == VLT_IMAGE_RGB || type == VLT_IMAGE_RGBFLOAT ? 3 : 1; }

// Writes sample i of pixel (x, y) from a double, in the element type of the image.
void put(VltImage* im, int32_t x, int32_t y, int i, double v) {
  switch (im->hdr.type) {
    case VLT_IMAGE_GRAY: *VltImage_pixel<uint8_t>(im, x, y) = static_cast<uint8_t>(v); break;
    case VLT_IMAGE_RGB: VltImage_pixel<uint8_t>(im, x, y)[i] = static_cast<uint8_t>(v); break;
    case VLT_IMAGE_FLOAT: *VltImage_pixel<float>(im, x, y) = static_cast<float>(v); break;
    case VLT_IMAGE_RGBFLOAT: VltImage_pixel<float>(im, x, y)[i] = static_cast<float>(v); break;
    case VLT_IMAGE_DOUBLE: *VltImage_pixel<double>(im, x, y) = v; break;
    case VLT_IMAGE_BINARY: *VltImage_pixel<int8_t>(im, x, y) = static_cast<int8_t>(v); break;
    case VLT_IMAGE_LONG: *VltImage_pixel<int32_t>(im, x, y) = static_cast<int32_t>(v); break;
    case VLT_IMAGE_SHORT: *VltImage_pixel<int16_t>(im, x, y) = static_cast<int16_t>(v); break;
    case VLT_IMAGE_PACKED: VltImage_setPackedPixel(im, x, y, v != 0); break;
    default: FAIL() << "type " << im->hdr.type;
  }
}

double get(const VltImage* im, int32_t x, int32_t y, int i) {
  switch (im->hdr.type) {
    case VLT_IMAGE_GRAY: return *VltImage_pixel<uint8_t>(im, x, y);
    case VLT_IMAGE_RGB: return VltImage_pixel<uint8_t>(im, x, y)[i];
    case VLT_IMAGE_FLOAT: return *VltImage_pixel<float>(im, x, y);
    case VLT_IMAGE_RGBFLOAT: return VltImage_pixel<float>(im, x, y)[i];
    case VLT_IMAGE_DOUBLE: return *VltImage_pixel<double>(im, x, y);
    case VLT_IMAGE_BINARY: return *VltImage_pixel<int8_t>(im, x, y);
    case VLT_IMAGE_LONG: return *VltImage_pixel<int32_t>(im, x, y);
    case VLT_IMAGE_SHORT: return *VltImage_pixel<int16_t>(im, x, y);
    case VLT_IMAGE_PACKED: return VltImage_getPackedPixel(im, x, y);
    default: return std::nan("");
  }
}

struct ConvertTest : CountedEngineTest {
  // A one-pixel image at (3, -1) holding the samples.
  VltImage* pixel(uint16_t type, std::vector<double> v) {
    VltImage* im = nullptr;
    EXPECT_EQ(VltImage_newOffset(state, type, 1, 1, 3, -1, &im), VLT_OK);
    for (int i = 0; i < samples(type); ++i) put(im, 3, -1, i, v[static_cast<size_t>(i) % v.size()]);
    return im;
  }
};

constexpr double kInf = std::numeric_limits<double>::infinity();

TEST_F(ConvertTest, ValuesFollowTheRuleOfEachPair) {
  const uint16_t G = VLT_IMAGE_GRAY, F = VLT_IMAGE_FLOAT, R = VLT_IMAGE_RGB, D = VLT_IMAGE_DOUBLE,
                 B = VLT_IMAGE_BINARY, L = VLT_IMAGE_LONG, S = VLT_IMAGE_SHORT,
                 RF = VLT_IMAGE_RGBFLOAT, P = VLT_IMAGE_PACKED;
  struct Case {
    uint16_t from;
    std::vector<double> in;
    uint16_t to;
    std::vector<double> out;
  } cases[] = {
      {G, {200}, S, {200}},
      {G, {200}, R, {200, 200, 200}},
      {G, {0}, B, {1}},
      {G, {7}, B, {0}},
      {G, {255}, RF, {255, 255, 255}},
      {B, {1}, G, {0}},
      {B, {0}, G, {255}},
      {B, {1}, F, {1.0}},
      {B, {-3}, D, {-3.0}},  // carried as the signed value
      {B, {-3}, S, {0}},     // any non-zero is on
      {B, {0}, RF, {255, 255, 255}},
      {F, {300.7}, G, {44}},
      {F, {0.9}, G, {0}},
      {F, {0.0}, B, {0}},
      {F, {-0.5}, B, {1}},
      {F, {-5.0}, G, {0}},             // saturates at 0 before the low byte
      {F, {1e20}, L, {2147483647}},    // saturates at the 32-bit range
      {F, {-1e20}, L, {-2147483648.0}},
      {F, {70000.9}, S, {4464}},       // low 16 bits, no clamp
      {F, {2.5}, RF, {2.5, 2.5, 2.5}},
      {F, {258.0}, R, {2, 2, 2}},
      {D, {1e300}, F, {kInf}},
      {D, {0.1}, F, {static_cast<double>(0.1f)}},
      {D, {300.5}, RF, {44, 44, 44}},
      {D, {-12.9}, L, {-12}},
      {D, {-1.5}, B, {1}},
      {R, {255, 0, 0}, G, {76}},
      {R, {255, 255, 255}, G, {255}},
      {R, {10, 20, 30}, D, {0.299 * 10 + 0.587 * 20 + 0.114 * 30}},
      {R, {0, 0, 0}, B, {1}},
      {R, {0, 1, 0}, B, {0}},
      {R, {1, 2, 3}, RF, {1, 2, 3}},
      {RF, {300.2, -4, 2.9}, R, {44, 0, 2}},
      {RF, {100, 100, 100}, S, {100}},
      {RF, {0, 0, 0}, B, {1}},
      {L, {-1}, G, {255}},
      {L, {70000}, S, {4464}},
      {L, {-1}, RF, {255, 255, 255}},
      {L, {16777217}, F, {16777216}},
      {L, {0}, B, {1}},
      {S, {-1}, G, {255}},
      {S, {-2}, R, {254, 254, 254}},
      {S, {-300}, L, {-300}},
      {S, {-300}, RF, {-300, -300, -300}},
      {G, {0}, P, {1}},
      {G, {9}, P, {0}},
      {P, {1}, G, {0}},
      {P, {0}, G, {255}},
      {P, {1}, B, {1}},
      {B, {5}, P, {1}},
      {P, {1}, RF, {0, 0, 0}},
      {P, {1}, P, {1}},
      {D, {0.5}, D, {0.5}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "from " << c.from << " to " << c.to << " value " << c.in[0]);
    VltImage* src = pixel(c.from, c.in);
    ASSERT_EQ(VltImage_setComment(src, "kept on the source only"), VLT_OK);
    VltImage* out = nullptr;
    ASSERT_EQ(VltImage_convert(src, c.to, &out), VLT_OK);
    ASSERT_NE(out, nullptr);
    EXPECT_EQ(out->hdr.type, c.to);
    EXPECT_EQ(out->hdr.xOffset, 3);
    EXPECT_EQ(out->hdr.yOffset, -1);
    EXPECT_EQ(out->hdr.comment, nullptr);
    for (int i = 0; i < samples(c.to); ++i) EXPECT_EQ(get(out, 3, -1, i), c.out[static_cast<size_t>(i)]) << "sample " << i;
    VltImage_free(out);
    VltImage_free(src);
  }
  EXPECT_TRUE(printed.codes.empty());
}

// Every pair of unpacked types with a value domain, and each to and from Packed, converts a
// whole image with its geometry; Word images have no conversions.
int value(int x, int y) { return (x * 7 + y) % 3 == 0 ? 0 : 1; }

TEST_F(ConvertTest, EveryPairConvertsWholeImages) {
  const uint16_t types[] = {VLT_IMAGE_GRAY, VLT_IMAGE_FLOAT, VLT_IMAGE_RGB, VLT_IMAGE_DOUBLE,
                            VLT_IMAGE_BINARY, VLT_IMAGE_LONG, VLT_IMAGE_SHORT,
                            VLT_IMAGE_RGBFLOAT, VLT_IMAGE_PACKED};
  for (uint16_t from : types) {
    VltImage* src = nullptr;
    ASSERT_EQ(VltImage_newOffset(state, from, 37, 3, -5, 2, &src), VLT_OK);
    for (int y = 0; y < 3; ++y)
      for (int x = 0; x < 37; ++x)
        for (int i = 0; i < samples(from); ++i) put(src, x - 5, y + 2, i, value(x, y));
    for (uint16_t to : types) {
      SCOPED_TRACE(testing::Message() << from << " to " << to);
      VltImage* out = nullptr;
      ASSERT_EQ(VltImage_convert(src, to, &out), VLT_OK);
      EXPECT_EQ(out->hdr.width, 37);
      EXPECT_EQ(out->hdr.height, 3);
      EXPECT_EQ(out->hdr.xOffset, -5);
      EXPECT_EQ(out->hdr.yOffset, 2);
      // Each pixel converts as a lone pixel of its value does.
      std::vector<double> expect[2];
      for (int v = 0; v < 2; ++v) {
        VltImage* one = pixel(from, {static_cast<double>(v)});
        VltImage* conv = nullptr;
        ASSERT_EQ(VltImage_convert(one, to, &conv), VLT_OK);
        for (int i = 0; i < samples(to); ++i) expect[v].push_back(get(conv, 3, -1, i));
        VltImage_free(conv);
        VltImage_free(one);
      }
      for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 37; ++x)
          for (int i = 0; i < samples(to); ++i)
            ASSERT_EQ(get(out, x - 5, y + 2, i), expect[value(x, y)][static_cast<size_t>(i)])
                << "at " << x << "," << y;
      VltImage_free(out);
    }
    VltImage* out = nullptr;
    EXPECT_EQ(VltImage_convert(src, VLT_IMAGE_WORD, &out), VLT_ERR_ASSERT);
    EXPECT_EQ(VltImage_convert(src, 0, &out), VLT_ERR_ASSERT);
    EXPECT_EQ(out, nullptr);
    VltImage_free(src);
  }
  VltImage* word = nullptr;
  ASSERT_EQ(VltImage_new(state, VLT_IMAGE_WORD, 2, 2, &word), VLT_OK);
  VltImage* out = nullptr;
  EXPECT_EQ(VltImage_convert(word, VLT_IMAGE_GRAY, &out), VLT_ERR_ASSERT);
  EXPECT_EQ(VltImage_convert(word, VLT_IMAGE_PACKED, &out), VLT_ERR_ASSERT);
  EXPECT_EQ(VltImage_convert(nullptr, VLT_IMAGE_GRAY, &out), VLT_ERR_ASSERT);
  VltImage_free(word);
}

TEST_F(ConvertTest, DirectPathsRefuseRequestsTheyDoNotServe) {
  VltImage* gray = pixel(VLT_IMAGE_GRAY, {1});
  VltImage* flt = pixel(VLT_IMAGE_FLOAT, {1});
  VltImage* bin = pixel(VLT_IMAGE_BINARY, {1});
  VltImage* packed = pixel(VLT_IMAGE_PACKED, {1});
  VltImage* out = nullptr;
  EXPECT_EQ(VltImage_pPromote(flt, VLT_IMAGE_GRAY, &out), VLT_ERR_CONSISTENCY);
  EXPECT_EQ(printed.codes, std::vector<int32_t>{VLT_ERR_CONSISTENCY});
  EXPECT_NE(printed.text.find("non-promotion request made to imPromote()"), std::string::npos);
  EXPECT_EQ(VltImage_pPromote(gray, VLT_IMAGE_GRAY, &out), VLT_ERR_ASSERT);
  EXPECT_EQ(VltImage_pPromote(packed, VLT_IMAGE_PACKED, &out), VLT_ERR_ASSERT);
  EXPECT_EQ(VltImage_pDemote(bin, VLT_IMAGE_PACKED, &out), VLT_ERR_ASSERT);
  EXPECT_EQ(VltImage_pDemote(packed, VLT_IMAGE_PACKED, &out), VLT_ERR_ASSERT);
  EXPECT_EQ(VltImage_pDemote(packed, VLT_IMAGE_BINARY, &out), VLT_ERR_ASSERT);
  EXPECT_EQ(VltImage_pDemote(nullptr, VLT_IMAGE_BINARY, &out), VLT_ERR_ASSERT);
  EXPECT_EQ(out, nullptr);
  ASSERT_EQ(VltImage_pDemote(gray, VLT_IMAGE_FLOAT, &out), VLT_OK);  // the table's converter
  EXPECT_EQ(get(out, 3, -1, 0), 1.0);
  VltImage_free(out);
  for (VltImage* im : {gray, flt, bin, packed}) VltImage_free(im);
}

// A conversion that cannot make its result fails with a status; temporaries are freed.
TEST_F(ConvertTest, AllocationFailureIsAStatusNeverANullSuccess) {
  VltImage* gray = pixel(VLT_IMAGE_GRAY, {0});
  VltImage* packed = pixel(VLT_IMAGE_PACKED, {1});
  const size_t live = alloc.live_blocks();
  for (const VltImage* src : {gray, packed}) {
    for (uint16_t to : {VLT_IMAGE_FLOAT, VLT_IMAGE_BINARY, VLT_IMAGE_PACKED, VLT_IMAGE_RGB}) {
      for (size_t k = 1; k < 12; ++k) {
        alloc.fail_at(k);
        VltImage* out = nullptr;
        const VltStatus st = VltImage_convert(src, to, &out);
        alloc.fail_at(0);
        EXPECT_EQ(st == VLT_OK, out != nullptr) << "to " << to << " failing allocation " << k;
        VltImage_free(out);
        EXPECT_EQ(alloc.live_blocks(), live);
      }
    }
  }
  VltImage_free(gray);
  VltImage_free(packed);
}

}  // namespace
