// The JBIG2 interpreter methods on page images: decoding layers of our own and of other writers,
// the layers left alone, failures that leave the image as it was, and allocation failures on the
// interpreter heap at every step.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "jb2_test_stream.h"
#include "jb2_methods.h"
#include "methods_fixture.h"
#include "vlt_state.h"

namespace {

using methodtest::Bytes;
using monotest::RefBitmap;

struct MethodsTest : monotest::InterpTest {
  VltState* engine = nullptr;  // writes the test streams
  void SetUp() override {
    InterpTest::SetUp();
    ASSERT_EQ(Vlt_initVltState(&engine, nullptr, nullptr, nullptr, nullptr, 0, 0), VLT_OK);
  }
  void TearDown() override {
    Vlt_cleanupVltState(&engine);
    InterpTest::TearDown();
  }

  // A JBIG2 page stream of generic regions giving the bitmap (split in two regions, ORed).
  Bytes page_of(const RefBitmap& bm) {
    RefBitmap top(bm.width, bm.height / 2), bottom(bm.width, bm.height - bm.height / 2);
    for (int y = 0; y < bm.height; ++y)
      for (int x = 0; x < bm.width; ++x) (y < top.height ? top : bottom).set(x, y < top.height ? y : y - top.height, bm.get(x, y));
    return jb2test::embedded_page(engine, {uint32_t(bm.width), uint32_t(bm.height), 0},
                                  {{top, 0, 0, JB2_COMBOP_OR, true}, {bottom, 0, uint32_t(top.height), JB2_COMBOP_OR, false}});
  }

  // Calls the method with an empty argument list; failAt makes the heap fail its k-th allocation
  // inside the call.
  int call(int (*method)(void*, elf_object*, elf_object**), elf_object* image, elf_object** result,
           size_t failAt = 0) {
    clearStatus(state);
    elf_object* args = new_LIST(state, nullptr, nullptr);
    elfRefUp(args);
    heap.fail_at(failAt);
    const int status = method(image, args, result);
    heap.fail_at(0);
    elfRefDown(args);
    return status;
  }
};

// A snapshot of what a method may change in an image, to prove that a failure changed nothing.
struct Snapshot {
  int32_t layerCount;
  std::vector<elf_object*> layers, data;
  std::vector<int32_t> compression, photometric;
  std::vector<Bytes> bytes;
  explicit Snapshot(elf_object* image) {
    const elf_QELIMAGE* im = qelImage(image);
    layerCount = im->layerCount;
    for (int32_t i = 0; i < elflistLength(im->layers); ++i) {
      elf_QELLAYER* l = methodtest::layer_at(image, i);
      layers.push_back(&l->hdr);
      data.push_back(l->data);
      const elf_QELHDR* h = qelHdr(l->description);
      compression.push_back(h != nullptr ? h->compression : -1);
      photometric.push_back(h != nullptr ? h->photometric : -1);
      bytes.push_back(methodtest::data_bytes(l));
    }
  }
  bool operator==(const Snapshot& o) const {
    return layerCount == o.layerCount && layers == o.layers && data == o.data && compression == o.compression &&
           photometric == o.photometric && bytes == o.bytes;
  }
};

TEST_F(MethodsTest, DecodeTurnsEveryJbig2LayerIntoRawRowsAndLeavesTheRest) {
  const RefBitmap a = monotest::make_text_blobs(1000, 90, 1), b = monotest::make_noise(1001, 70, 0.3, 2),
                  raw = monotest::make_noise(50, 40, 0.5, 3);
  elf_object* image = methodtest::image_of(
      state, {methodtest::raw_layer(state, raw, 0), methodtest::jbig2_layer(state, a.width, a.height, page_of(a)),
              methodtest::grey_layer(state, 20, 10), methodtest::g4_layer(state, 30, 10),
              methodtest::jbig2_layer(state, b.width, b.height, page_of(b))});
  // An entry that is no layer stays as it is too.
  ASSERT_TRUE(lstAppendArgs(qelImage(image)->layers, "note:s", "not a layer", 0, LST_END));
  elf_object* result = nullptr;
  ASSERT_EQ(call(jBig2Decode, image, &result), 0) << getStatusMessage(state);
  ASSERT_NE(result, nullptr);
  elf_object* img = nullptr;
  ASSERT_EQ(lstScanArgs(result, "img:", LST_REQUIRED, &img, LST_END), 1);
  EXPECT_EQ(img, image);
  elfDiscard(result);

  EXPECT_EQ(qelImage(image)->layerCount, 5);
  for (const auto& [index, want, rowBytes] : {std::tuple{1, &a, 125}, std::tuple{4, &b, 126}}) {
    const elf_QELLAYER* l = methodtest::layer_at(image, index);
    const elf_QELHDR* h = qelHdr(l->description);
    EXPECT_EQ(h->compression, 0);
    EXPECT_EQ(h->photometric, 0x15);
    EXPECT_EQ(h->samplesPerPixel, 1);
    ASSERT_EQ(h->bytesPerRowCount, 1);
    EXPECT_EQ(h->bytesPerRow[0], rowBytes);
    EXPECT_EQ(methodtest::data_bytes(l).size(), size_t(rowBytes) * size_t(want->height));
    EXPECT_EQ(monotest::first_difference(*want, methodtest::pixels(l)), "");
  }
  EXPECT_EQ(monotest::first_difference(raw, methodtest::pixels(methodtest::layer_at(image, 0))), "");
  EXPECT_EQ(qelHdr(methodtest::layer_at(image, 0)->description)->photometric, 0);
  EXPECT_EQ(qelHdr(methodtest::layer_at(image, 2)->description)->bitsPerSample[0], 8);
  EXPECT_EQ(qelHdr(methodtest::layer_at(image, 3)->description)->compression, QEL_COMPRESSION_G4);
  elfRefDown(image);
}

TEST_F(MethodsTest, AnEmptyDictionaryLayerGoesOnceItsPagesAreDecoded) {
  const RefBitmap a = monotest::make_text_blobs(120, 50, 4);
  elf_object* image = methodtest::image_of(
      state, {methodtest::jbig2_layer(state, a.width, a.height, page_of(a)), methodtest::dict_layer(state, {})});
  ASSERT_EQ(call(jBig2Decode, image, nullptr), 0) << getStatusMessage(state);
  EXPECT_EQ(qelImage(image)->layerCount, 1);
  EXPECT_EQ(elflistLength(qelImage(image)->layers), 1);
  EXPECT_EQ(monotest::first_difference(a, methodtest::pixels(methodtest::layer_at(image, 0))), "");
  elfRefDown(image);
}

TEST_F(MethodsTest, ALayerThatCannotBeDecodedFailsTheCallAndChangesNothing) {
  const RefBitmap a = monotest::make_text_blobs(120, 50, 5);
  const Bytes good = page_of(a);
  struct Case {
    const char* name;
    Bytes dictionary;  // empty: no dictionary layer
    Bytes second;      // the second page layer
    std::string message;
  };
  const Bytes cut(good.begin(), good.end() - 5);
  const std::vector<Case> cases = {
      {"cut short", {}, cut, "jBig2Decode: Unable to decode a jbig2 layer:\n\t"},
      {"not JBIG2 at all", {}, Bytes(40, 0xEE), "jBig2Decode: Unable to decode a jbig2 layer:\n\t"},
      {"a dictionary without a symbol dictionary", good, good, "jBig2Decode: Unable to decode the jbig2 dictionary:\n\t"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<elf_object*> layers = {methodtest::jbig2_layer(state, a.width, a.height, good),
                                       methodtest::jbig2_layer(state, a.width, a.height, c.second)};
    if (!c.dictionary.empty()) layers.push_back(methodtest::dict_layer(state, c.dictionary));
    elf_object* image = methodtest::image_of(state, layers);
    const Snapshot before(image);
    elf_object* result = nullptr;
    EXPECT_EQ(call(jBig2Decode, image, &result), 21);
    EXPECT_EQ(result, nullptr);
    EXPECT_EQ(getStatus(state), 21);
    EXPECT_EQ(getStatusSeverity(state), 1);
    EXPECT_EQ(std::string(getStatusMessage(state)).rfind(c.message, 0), 0u) << getStatusMessage(state);
    EXPECT_TRUE(Snapshot(image) == before);
    elfRefDown(image);
  }
}

TEST_F(MethodsTest, DecodeRefusesWhatIsNotAnImage) {
  elf_object* layer = methodtest::g4_layer(state, 8, 8);
  elfRefUp(layer);
  EXPECT_EQ(call(jBig2Decode, layer, nullptr), 20);
  EXPECT_STREQ(getStatusMessage(state), "jBig2Decode: Incorrect object type passed to jbig2 codec\n");
  elfRefDown(layer);
  testing::internal::CaptureStderr();
  EXPECT_EQ(jBig2Decode(nullptr, nullptr, nullptr), 20);
  EXPECT_NE(testing::internal::GetCapturedStderr().find("Null object passed to jbig2 codec"), std::string::npos);
}

TEST_F(MethodsTest, DecodeUnderAllocationFailuresIsWholeOrNothing) {
  const RefBitmap a = monotest::make_text_blobs(200, 60, 6), b = monotest::make_noise(90, 40, 0.4, 7);
  const Bytes pa = page_of(a), pb = page_of(b);
  for (size_t k = 1;; ++k) {
    elf_object* image = methodtest::image_of(
        state, {methodtest::jbig2_layer(state, a.width, a.height, pa), methodtest::jbig2_layer(state, b.width, b.height, pb),
                methodtest::dict_layer(state, {})});
    const Snapshot before(image);
    elf_object* result = nullptr;
    const int status = call(jBig2Decode, image, &result, k);
    elfDiscard(result);
    if (status == 0) {
      EXPECT_EQ(monotest::first_difference(a, methodtest::pixels(methodtest::layer_at(image, 0))), "");
      EXPECT_EQ(monotest::first_difference(b, methodtest::pixels(methodtest::layer_at(image, 1))), "");
      elfRefDown(image);
      EXPECT_GT(k, 3u);
      break;
    }
    EXPECT_EQ(status, 21) << k;
    EXPECT_TRUE(Snapshot(image) == before) << k;
    elfRefDown(image);
  }
}

}  // namespace
