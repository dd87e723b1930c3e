// The JBIG2 interpreter methods on page images: decoding layers of our own and of other writers,
// the layers left alone, failures that leave the image as it was, and allocation failures on the
// interpreter heap at every step.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "jb2_page_reader.h"
#include "jb2_test_stream.h"
#include "jbig2dec.h"
#include "jb2_methods.h"
#include "methods_fixture.h"
#include "pages.h"
#include "tools.h"
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
  int32_t layerCount, attributes;
  std::vector<elf_object*> layers, data;
  std::vector<int32_t> compression, photometric;
  std::vector<Bytes> bytes;
  explicit Snapshot(elf_object* image) {
    const elf_QELIMAGE* im = qelImage(image);
    layerCount = im->layerCount;
    attributes = elflistLength(im->attributes);
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
    return layerCount == o.layerCount && attributes == o.attributes && layers == o.layers && data == o.data && compression == o.compression &&
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

TEST_F(MethodsTest, EveryFeatureStreamDecodesAsTheGeneralReaderDecodesIt) {
  int compared = 0;
  for (const auto& e : std::filesystem::directory_iterator(monotest::feature_dir())) {
    if (e.path().extension() != ".jbig2") continue;
    SCOPED_TRACE(e.path().filename().string());
    const std::string file = monotest::read_file(e.path().string());
    jb2test::SplitFile split;
    if (!jb2test::split_file(reinterpret_cast<const uint8_t*>(file.data()), file.size(), &split)) continue;
    VltImage* general = nullptr;
    if (jb2test::read_page(engine, split.embedded.data(), split.embedded.size(), jb2test::StreamForm::kEmbedded,
                           &general) != VLT_OK)
      continue;
    const RefBitmap want = jb2test::ref_bitmap(general);
    VltImage_free(general);
    elf_object* image = methodtest::image_of(state, {methodtest::jbig2_layer(state, want.width, want.height, split.embedded)});
    ASSERT_EQ(call(jBig2Decode, image, nullptr), 0) << getStatusMessage(state);
    EXPECT_EQ(monotest::first_difference(want, methodtest::pixels(methodtest::layer_at(image, 0))), "");
    elfRefDown(image);
    ++compared;
  }
  EXPECT_GT(compared, 100);
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

// ---- jBig2Encode -----------------------------------------------------------------------------

elf_object* arguments(elf_state* state, int32_t profile, bool lossless) {
  elf_object* args = lstBuildArgs(state, "profile:i", profile, 0, LST_END);
  if (lossless) lstAppendArgs(args, "widthDiff:i", 0, 0, "heightDiff:i", 0, 0, "maxDense:i", 0, 0, LST_END);
  return args;
}

int encode(elf_state* state, elf_object* image, int32_t profile, bool lossless, elf_object** result = nullptr) {
  clearStatus(state);
  elf_object* args = arguments(state, profile, lossless);
  elfRefUp(args);
  const int status = jBig2Encode(image, args, result);
  elfRefDown(args);
  return status;
}

std::string attribute(elf_object* image, const char* name) {
  const char* value = nullptr;
  elf_object* attrs = qelImage(image)->attributes;
  if (attrs == nullptr || lstScanArgs(attrs, (std::string(name) + ":s").c_str(), LST_REQUIRED, &value, LST_END) != 1)
    return "";
  return value;
}

TEST_F(MethodsTest, EncodeThenDecodeRestoresEveryRawLayer) {
  const RefBitmap text = monotest::make_text_blobs(640, 300, 11), noise = monotest::make_noise(333, 120, 0.2, 12),
                  lines = monotest::make_lines(500, 260, 13);
  struct Case {
    const char* name;
    std::vector<RefBitmap> pages;
    std::vector<int32_t> photometric;
    std::vector<int32_t> rowBytes;
  };
  const std::vector<Case> cases = {
      {"one layer", {text}, {0x15}, {0}},
      {"three layers of both polarities, one with wide rows", {text, noise, lines}, {0x15, 0, 1}, {0, 0, 70}},
  };
  for (const int32_t profile : {1, 2, 3}) {
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(c.name) + ", profile " + std::to_string(profile));
      // A G4 layer and a grey layer sit among the raw ones and are left as they are.
      std::vector<elf_object*> layers = {methodtest::g4_layer(state, 16, 16)};
      for (size_t i = 0; i < c.pages.size(); ++i) {
        layers.push_back(methodtest::raw_layer(state, c.pages[i], c.photometric[i], c.rowBytes[i]));
        if (i == 0) layers.push_back(methodtest::grey_layer(state, 24, 8));
      }
      elf_object* image = methodtest::image_of(state, layers);
      elf_object* result = nullptr;
      ASSERT_EQ(encode(state, image, profile, true, &result), 0) << getStatusMessage(state);
      elfDiscard(result);
      const int32_t n = int32_t(layers.size());
      ASSERT_EQ(qelImage(image)->layerCount, n + 1);
      ASSERT_EQ(elflistLength(qelImage(image)->layers), n + 1);
      const auto* entry = reinterpret_cast<elf_IDENT*>(elflistItem(qelImage(image)->layers, n));
      EXPECT_STREQ(entry->name, "jbig2Dict");
      const elf_QELLAYER* dict = methodtest::layer_at(image, n);
      EXPECT_EQ(dict->kind, QEL_KIND_JBIG2_DICT);
      EXPECT_EQ(dict->description, nullptr);
      EXPECT_FALSE(attribute(image, "jb2DictUID").empty());

      // Each coded layer, written out with the dictionary, is the page jbig2dec decodes.
      const Bytes globals = methodtest::data_bytes(dict);
      for (int32_t i = 0, k = 0; i < n; ++i) {
        const elf_QELLAYER* l = methodtest::layer_at(image, i);
        const elf_QELHDR* h = qelHdr(l->description);
        if (h->compression != QEL_COMPRESSION_JBIG2) continue;
        EXPECT_EQ(h->photometric, c.photometric[size_t(k)]);
        const monotest::Jbig2decResult r = monotest::jbig2dec_decode_embedded(globals, methodtest::data_bytes(l));
        EXPECT_EQ(monotest::first_difference(c.pages[size_t(k++)], r.page), "") << r.messages;
      }
      EXPECT_EQ(qelHdr(methodtest::layer_at(image, 0)->description)->compression, QEL_COMPRESSION_G4);
      EXPECT_EQ(qelHdr(methodtest::layer_at(image, 2)->description)->bitsPerSample[0], 8);

      ASSERT_EQ(call(jBig2Decode, image, nullptr), 0) << getStatusMessage(state);
      EXPECT_EQ(qelImage(image)->layerCount, n);
      for (int32_t i = 0, k = 0; i < n; ++i) {
        const elf_QELLAYER* l = methodtest::layer_at(image, i);
        const elf_QELHDR* h = qelHdr(l->description);
        if (i == 0 || i == 2) continue;
        EXPECT_EQ(h->compression, 0);
        EXPECT_EQ(h->photometric, 0x15);
        EXPECT_EQ(monotest::first_difference(c.pages[size_t(k++)], methodtest::pixels(l)), "");
      }
      elfRefDown(image);
    }
  }
}

TEST_F(MethodsTest, EveryEncodeNamesItsDictionaryAnewAndASecondFindsNothingToDo) {
  const RefBitmap page = monotest::make_text_blobs(300, 120, 14);
  elf_object* image = methodtest::image_of(state, {methodtest::raw_layer(state, page)});
  ASSERT_EQ(encode(state, image, 2, false), 0) << getStatusMessage(state);
  const std::string first = attribute(image, "jb2DictUID");
  elf_object* result = nullptr;
  EXPECT_EQ(encode(state, image, 2, false, &result), 20);
  EXPECT_EQ(getStatusSeverity(state), 0);
  EXPECT_STREQ(getStatusMessage(state), "jBig2Encode: No valid layers to encode\n");
  elf_object* img = nullptr;
  ASSERT_NE(result, nullptr);
  EXPECT_EQ(lstScanArgs(result, "img:", LST_REQUIRED, &img, LST_END), 1);
  EXPECT_EQ(img, image);
  elfDiscard(result);
  // Decoded and coded again, the image carries one identity, a new one.
  ASSERT_EQ(call(jbig2Codec, image, nullptr), 0) << getStatusMessage(state);
  ASSERT_EQ(call(jbig2Codec, image, nullptr), 0) << getStatusMessage(state);
  EXPECT_EQ(qelImage(image)->layerCount, 2);
  const std::string second = attribute(image, "jb2DictUID");
  EXPECT_FALSE(second.empty());
  EXPECT_NE(first, second);
  int identities = 0;
  for (int32_t i = 0; i < elflistLength(qelImage(image)->attributes); ++i)
    identities += std::string(reinterpret_cast<elf_IDENT*>(elflistItem(qelImage(image)->attributes, i))->name) ==
                  "jb2DictUID";
  EXPECT_EQ(identities, 1);
  elfRefDown(image);
}

TEST_F(MethodsTest, EncodeRefusals) {
  struct Case {
    const char* name;
    RefBitmap page;
    int32_t rowBytes;
    const char* args;  // extra argument as name:type=value, or null
    int status;
    std::string message;
  };
  const std::vector<Case> cases = {
      {"page wider than coordinates reach", RefBitmap(40000, 2), 0, nullptr, 20,
       "jBig2Encode: layer 0: page size out of range\n"},
      {"an argument of the wrong type", RefBitmap(16, 16), 0, "profile", 21, "jBig2Encode: lstScanArgs error\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    elf_object* image = methodtest::image_of(state, {methodtest::raw_layer(state, c.page, 0x15, c.rowBytes)});
    const Snapshot before(image);
    elf_object* args = c.args != nullptr ? lstBuildArgs(state, (std::string(c.args) + ":s").c_str(), "one", 0, LST_END)
                                         : arguments(state, 2, true);
    elfRefUp(args);
    clearStatus(state);
    EXPECT_EQ(jBig2Encode(image, args, nullptr), c.status);
    elfRefDown(args);
    EXPECT_EQ(getStatusMessage(state), c.message);
    EXPECT_TRUE(Snapshot(image) == before);
    elfRefDown(image);
  }
  // Rows shorter than the width never reach the engine.
  elf_object* image = methodtest::image_of(state, {methodtest::raw_layer(state, RefBitmap(64, 8))});
  qelHdr(methodtest::layer_at(image, 0)->description)->bytesPerRow[0] = 7;
  EXPECT_EQ(encode(state, image, 2, true), 20);
  EXPECT_EQ(qelHdr(methodtest::layer_at(image, 0)->description)->compression, 0);
  elfRefDown(image);
  messages.clear();
}

TEST_F(MethodsTest, CodecRefusesWhatIsNotAnImage) {
  testing::internal::CaptureStderr();
  EXPECT_EQ(jbig2Codec(nullptr, nullptr, nullptr), 20);
  EXPECT_NE(testing::internal::GetCapturedStderr().find("jbig2Codec: Null object passed to jbig2 codec"),
            std::string::npos);
  elf_object* number = elfNewInteger(state, 3);
  elfRefUp(number);
  EXPECT_EQ(call(jbig2Codec, number, nullptr), 20);
  EXPECT_STREQ(getStatusMessage(state), "jbig2Codec: Incorrect object type passed to jbig2 codec\n");
  elfRefDown(number);
}

TEST_F(MethodsTest, EncodeUnderAllocationFailuresIsWholeOrNothing) {
  const RefBitmap a = monotest::make_text_blobs(240, 90, 15), b = monotest::make_noise(120, 50, 0.3, 16);
  elf_object* args = arguments(state, 2, true);
  elfRefUp(args);
  for (size_t k = 1;; ++k) {
    elf_object* image = methodtest::image_of(state, {methodtest::raw_layer(state, a), methodtest::raw_layer(state, b, 0)});
    const Snapshot before(image);
    clearStatus(state);
    heap.fail_at(k);
    elf_object* result = nullptr;
    const int status = jBig2Encode(image, args, &result);
    heap.fail_at(0);
    elfDiscard(result);
    if (status == 0) {
      EXPECT_EQ(qelImage(image)->layerCount, 3);
      ASSERT_EQ(call(jBig2Decode, image, nullptr), 0);
      EXPECT_EQ(monotest::first_difference(a, methodtest::pixels(methodtest::layer_at(image, 0))), "");
      EXPECT_EQ(monotest::first_difference(b, methodtest::pixels(methodtest::layer_at(image, 1))), "");
      elfRefDown(image);
      EXPECT_GT(k, 5u);
      break;
    }
    EXPECT_NE(status, 0) << k;
    EXPECT_TRUE(Snapshot(image) == before) << k << ": " << getStatusMessage(state);
    elfRefDown(image);
  }
  elfRefDown(args);
}

}  // namespace
