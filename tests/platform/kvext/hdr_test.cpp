// The imaging engine's image headers and stream buffers: compression chains in their order, user
// data replaced by kind, copies that are deep (a layer description copied with its data), every
// allocation failure leaving nothing behind; buffers read, peeked and positioned.

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "interp_fixture.h"
#include "kvext.h"
#include "kvng.h"

namespace {

using monotest::InterpTest;

class HdrTest : public InterpTest {};

TEST_F(HdrTest, CompressionChainsKeepTheirOrderAndCopyDeeply) {
  KVngCompressionData* chain = KVngCreateCompressionData();
  ASSERT_NE(chain, nullptr);
  // Pushed innermost first, as a reader takes filters from the last to the first.
  ASSERT_EQ(KVngPushCompressionData(chain, 1, "ycc_transform"), 1);
  ASSERT_EQ(KVngPushCompressionData(chain, 6, nullptr), 1);
  ASSERT_EQ(KVngPushCompressionData(chain, 11, "a,b"), 1);
  KVngCompressionData* copy = KVngCopyCompressionData(chain);
  KVngFreeCompressionData(chain);
  ASSERT_EQ(KVngCompressionDataCount(copy), 3);
  const int32_t types[] = {11, 6, 1};
  const char* params[] = {"a,b", nullptr, "ycc_transform"};
  for (int32_t i = 0; i < 3; ++i) {
    int32_t type = -1;
    const char* p = "x";
    ASSERT_EQ(KVngGetCompressionData(copy, &type, &p, i), 1);
    EXPECT_EQ(type, types[i]);
    EXPECT_STREQ(p, params[i]);
  }
  EXPECT_EQ(KVngGetCompressionData(copy, nullptr, nullptr, 3), 0);
  EXPECT_EQ(KVngGetCompressionData(copy, nullptr, nullptr, -1), 0);
  EXPECT_TRUE(KVngCompressionParamHas("a,b", "b"));
  EXPECT_FALSE(KVngCompressionParamHas("a,bc", "b"));
  EXPECT_FALSE(KVngCompressionParamHas(nullptr, "b"));
  KVngFreeCompressionData(copy);
}

TEST_F(HdrTest, UserDataByKindAndLayerDescriptionsCarryIt) {
  elf_object* hdr = new_QELHDR(state, nullptr, nullptr);
  EXPECT_EQ(KVngHdrUserData(hdr, 0), nullptr);
  KVngUserCMData* data = KVngHdrUserData(hdr, 1);
  ASSERT_NE(data, nullptr);
  const double wp[3] = {0.9642, 1, 0.8249};
  ASSERT_EQ(KVHdrSetHeaderDoubles(data, "Photometry", "whitepoint", wp, 3), 1);
  ASSERT_EQ(KVHdrSetHeaderBytes(data, "Photometry", "iccprofile", "\0\1\2", 3), 1);
  ASSERT_EQ(KVHdrSetHeaderString(data, "Photometry", "name", "srgb"), 1);
  // A parameter set again replaces the old one, whatever its kind was.
  ASSERT_EQ(KVHdrSetHeaderString(data, "Photometry", "whitepoint", "D50"), 1);
  EXPECT_EQ(KVHdrGetHeaderDoubles(data, "Photometry", "whitepoint", nullptr, 0), -1);
  EXPECT_STREQ(KVHdrGetHeaderString(data, "Photometry", "whitepoint"), "D50");
  ASSERT_EQ(KVHdrSetHeaderDoubles(data, "Photometry", "whitepoint", wp, 3), 1);
  KVngCompressionData* chain = KVngCreateCompressionData();
  KVngPushCompressionData(chain, 3, nullptr);
  ASSERT_EQ(KVngSaveCompressionData(data, chain), 1);
  KVngFreeCompressionData(chain);

  elf_object* copy = hdr->ops.copy(hdr);
  elfDiscard(hdr);  // the copy owns its own data
  ASSERT_NE(copy, nullptr);
  KVngUserCMData* c = KVngHdrUserData(copy, 0);
  ASSERT_NE(c, nullptr);
  double got[3] = {};
  EXPECT_EQ(KVHdrGetHeaderDoubles(c, "Photometry", "whitepoint", got, 2), 3);
  EXPECT_EQ(got[1], 1);
  EXPECT_EQ(got[2], 0);  // only the capacity asked is copied
  size_t n = 0;
  const void* icc = KVHdrGetHeaderBytes(c, "Photometry", "iccprofile", &n);
  ASSERT_EQ(n, 3u);
  EXPECT_EQ(std::memcmp(icc, "\0\1\2", 3), 0);
  EXPECT_EQ(KVngHasCompressionData(c), 1);
  EXPECT_EQ(KVHdrRemoveHeaderParam(c, "Photometry", "name"), 1);
  EXPECT_EQ(KVHdrRemoveHeaderParam(c, "Photometry", "name"), 0);
  EXPECT_EQ(KVHdrGetHeaderString(c, "Photometry", "name"), nullptr);
  EXPECT_STREQ(KVHdrGetHeaderString(c, "Photometry", "name"), nullptr);
  EXPECT_EQ(qelHdr(copy)->engineData != nullptr, true);
  elfDiscard(copy);
}

TEST_F(HdrTest, FailedAllocationsLeaveNothingBehind) {
  const size_t before = heap.live_blocks();  // the state's own
  for (size_t k = 1; k < 40; ++k) {
    KVngUserCMData* data = KVngUserCMNew();
    if (!data) continue;
    const double v[2] = {1, 2};
    KVHdrSetHeaderDoubles(data, "S", "a", v, 2);
    KVHdrSetHeaderString(data, "S", "b", "text");
    heap.fail_at(k);
    KVngUserCMData* copy = KVngUserCMDupData(data);
    KVHdrSetHeaderBytes(data, "S", "c", "xy", 2);
    heap.fail_at(0);
    KVngFreeUserCMData(copy);
    KVngFreeUserCMData(data);
    EXPECT_EQ(heap.live_blocks(), before) << k;
  }
}

TEST_F(HdrTest, EngineHeadersAndImageParts) {
  const KVHdrManager* m = nullptr;
  ASSERT_EQ(KVHdrGetManager_Str("internal", "2.1", &m), 1);
  EXPECT_EQ(KVHdrGetManager_Str("other", "2.1", &m), 0);
  KVHdr* h = nullptr;
  ASSERT_EQ(KVHdrCreateHeader(m, &h), 1);
  EXPECT_EQ(h->width, 0);
  h->userData = KVngUserCMNew();
  KVHdrFree(h);
  EXPECT_EQ(KVngGetImageParts(0), 0);
  EXPECT_EQ(KVngGetImageParts(0x15), 1);
  EXPECT_EQ(KVngGetImageParts(107), 4);
  EXPECT_EQ(KVngGetImageParts(18), 3);
  size_t n = 0;
  const unsigned char* icc = ICC_sRGB(&n);
  ASSERT_NE(icc, nullptr);
  EXPECT_GT(n, 128u);
  EXPECT_EQ(std::memcmp(icc + 36, "acsp", 4), 0);  // the profile file signature
  EXPECT_EQ(icc[8], 2);  // major version 2: what PDF/A-1 output intents and PDF before 1.5 take
}

TEST_F(HdrTest, StreamBuffers) {
  KVngSB* sb = KVngSBNew();
  ASSERT_NE(sb, nullptr);
  ASSERT_EQ(KVngSBAppend(sb, "hello ", 6), 1);
  ASSERT_EQ(KVngSBAppend(sb, "world", 5), 1);
  char buf[16] = {};
  EXPECT_EQ(KVngSBPeek(sb, buf, 5), 5u);
  EXPECT_EQ(KVngSBRead(sb, buf, 6), 6u);
  EXPECT_EQ(std::string(buf, 6), "hello ");
  EXPECT_EQ(KVngSBBytesAvailable(sb), 5u);
  EXPECT_EQ(KVngSBRead(sb, buf, 16), 5u);
  EXPECT_EQ(KVngSBRead(sb, buf, 16), 0u);
  EXPECT_EQ(KVngSBSetPosition(sb, 12), 0);
  EXPECT_EQ(KVngSBSetPosition(sb, 11), 1);
  size_t n = 0;
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(KVngSBData(sb, &n)), 11), "hello world");
  KVngSBClear(sb);
  EXPECT_EQ(KVngSBBytesAvailable(sb), 0u);
  KVngSBFree(sb);
}

TEST_F(HdrTest, LayerTransformsAreCopiedAndCompared) {
  elf_object* layer = new_QELLAYER(state, nullptr, nullptr);
  QELTransform2D* t = __QELLAYERGetTransformMatrix(layer);
  EXPECT_EQ(QELTransform2DIsIdentity(t), 1);
  QELTransform2DScale(t, 2, 3);
  QELTransform2DTranslate(t, 10, 20);
  EXPECT_EQ(std::vector<double>(t->m, t->m + 6), (std::vector<double>{2, 0, 0, 3, 10, 20}));
  ASSERT_EQ(__QELLAYERSetTransformMatrix(layer, t), QEL_STATUS_OK);
  _elfFree(t);
  elf_object* copy = layer->ops.copy(layer);
  ASSERT_NE(copy, nullptr);
  EXPECT_EQ(layer->ops.equal(layer, copy), 1);
  ASSERT_EQ(__QELLAYERSetTransformMatrix(copy, nullptr), QEL_STATUS_OK);
  EXPECT_EQ(layer->ops.equal(layer, copy), 0);
  elfDiscard(copy);
  elfDiscard(layer);
}

}  // namespace
