// The classifier's public face: parameters, bitmaps in, classes out, resumption, release and
// every failure path.

#include <gtest/gtest.h>

#include <random>

#include "tok_fixture.h"
#include "tok_table.h"

namespace {

using monotest::RefBitmap;
using toktest::TokTest;

const std::vector<std::string> kO = {".####.", "##..##", "##..##", "##..##", "##..##", ".####."};
const std::vector<std::string> kC = {".####.", "##..##", "##....", "##....", "##..##", ".####."};
const std::vector<std::string> kI = {"##", "##", "##", "##", "##", "##", "##"};
const std::vector<std::string> kWide = {"########", "#......#", "########"};

using ClassifierTest = TokTest;

TEST(TokParams, Defaults) {
  TokParams p{};
  int keep = 0;
  p.engineState = reinterpret_cast<VltState*>(&keep);
  tokSetDefaults(&p);
  EXPECT_EQ(p.matchFraction, 0.97f);
  const int32_t ints[] = {p.maxDense,    p.widthDiff,       p.heightDiff,    p.commitCount,  p.sumLimit,
                          p.sumStart,    p.sumOutputMin,    p.maxShift,      p.thresholdOffset, p.thresholdKnee,
                          p.minLossySize, p.frameMarginWord, p.spareWord};
  const int32_t want[] = {3, 1, 1, 10000, 10000, 10, 0, 8, 3, 6, 6, 1, 1};
  for (size_t i = 0; i < std::size(want); ++i) EXPECT_EQ(ints[i], want[i]) << i;
  EXPECT_EQ(p.thresholdSlope, 2.0f);
  EXPECT_EQ(p.tokFlags, 0u);
  EXPECT_EQ(p.engineState, reinterpret_cast<VltState*>(&keep));
  EXPECT_EQ(p.mergeHook, nullptr);
  EXPECT_EQ(p.mergeHookData, nullptr);
}

TEST_F(ClassifierTest, RadiusCodesGiveTheirMargins) {
  struct Case {
    uint32_t flags;
    int32_t word, margin;
  };
  for (const Case& c : {Case{TOK_FLAG_RADIUS_CODE, 14, 1}, Case{TOK_FLAG_RADIUS_CODE, 10, 1},
                        Case{TOK_FLAG_RADIUS_CODE, 20, 2}, Case{TOK_FLAG_RADIUS_CODE, 3, 3}, Case{0, 14, 14}}) {
    params.tokFlags = c.flags;
    params.frameMarginWord = c.word;
    init();
    EXPECT_EQ(tok->margin, c.margin) << c.word;
    EXPECT_EQ(tok->radiusCode, c.word);
    tokFreeState(tok);
    tok = nullptr;
  }
}

TEST_F(ClassifierTest, BitsAreTakenOverOrCopied) {
  for (uint32_t flags : {0u, uint32_t(TOK_FLAG_COPY_BITS)}) {
    params.tokFlags = flags;
    init();
    // Rows with room for the margin are taken over in place unless copying is asked for.
    TokBitmap spare = bitmap(kO);
    uint8_t* given = spare.bits;
    TokBox* b = nullptr;
    ASSERT_EQ(tokBitmapToBox(tok, &spare, &b), VLT_OK);
    if (flags == 0) {
      EXPECT_EQ(b->model->bits, given);
      EXPECT_EQ(spare.bits, nullptr) << "the caller no longer owns the bits";
    } else {
      EXPECT_NE(b->model->bits, given);
      EXPECT_EQ(spare.bits, given);
      engine->free(given);
    }
    EXPECT_EQ(toktest::model_bitmap(b->model, 1), toktest::rows_bitmap(kO));
    FreeBox(b, tok);
    // A width of 32 leaves no room: copied, and the caller's buffer released unless kept.
    const RefBitmap full = monotest::make_noise(32, 5, 1.0, 1);
    TokBitmap tight = bitmap(full);
    const size_t before = alloc.live_blocks();
    ASSERT_EQ(tokBitmapToBox(tok, &tight, &b), VLT_OK);
    EXPECT_EQ(b->model->wordsPerLine, 2u);
    if (flags == 0) {
      EXPECT_EQ(tight.bits, nullptr);
      EXPECT_EQ(alloc.live_blocks(), before - 1 + 5) << "caller's buffer out; box, model, its bits, edge, edge bits in";
    } else {
      EXPECT_NE(tight.bits, nullptr);
      engine->free(tight.bits);
    }
    EXPECT_EQ(toktest::model_bitmap(b->model, 1), full);
    FreeBox(b, tok);
    tokFreeState(tok);
    tok = nullptr;
  }
}

TEST_F(ClassifierTest, StrayBitsRightOfTheWidthAreIgnored) {
  init();
  TokBitmap b = bitmap(kI, nullptr, 2);
  for (int y = 0; y < 7; ++y) b.bits[size_t(y) * 8 + 5] = 0xff;  // second word, beyond the width
  b.bits[0] |= 0x01;                                              // first word, beyond the width
  TokBox* box = nullptr;
  ASSERT_EQ(tokBitmapToBox(tok, &b, &box), VLT_OK);
  EXPECT_EQ(box->pixelCount, 14u);
  EXPECT_EQ(toktest::model_bitmap(box->model, 1), toktest::rows_bitmap(kI));
  FreeBox(box, tok);
}

TEST_F(ClassifierTest, FirstBitmapFoundsAClassAndTheSecondJoins) {
  init();
  EXPECT_EQ(tok->table.rows, nullptr);
  ASSERT_EQ(add(kO), VLT_OK);
  uint32_t n = 0;
  tokGetCount(tok, &n);
  EXPECT_EQ(n, 1u);
  ASSERT_EQ(add(kO), VLT_OK);
  tokGetCount(tok, &n);
  EXPECT_EQ(n, 1u);
  ASSERT_EQ(add(kC), VLT_OK);
  tokGetCount(tok, &n);
  EXPECT_EQ(n, 2u);
}

TEST_F(ClassifierTest, BadBitmapsAreRefusedAndChangeNothing) {
  init();
  ASSERT_EQ(add(kO), VLT_OK);
  EXPECT_EQ(add(std::vector<std::string>{"....", "...."}), VLT_ERR_ASSERT);
  TokBitmap none{4, 4, nullptr, 1, nullptr};
  EXPECT_EQ(tokAddBitmap(tok, &none), VLT_ERR_ASSERT);
  EXPECT_EQ(add(monotest::make_noise(16384, 1, 1.0, 2)), VLT_ERR_PARAM);
  EXPECT_EQ(tok->table.count, 1u);
  EXPECT_EQ(tok->table.rows[6].cells[6]->first->data != nullptr, true);
  EXPECT_EQ(static_cast<TokClass*>(tok->table.rows[6].cells[6]->first->data)->members->count, 1u);
}

TEST_F(ClassifierTest, EmptyAndMissingTables) {
  init();
  VltAdtList* out = nullptr;
  ASSERT_EQ(tokFinal(tok, &out), VLT_OK);
  EXPECT_EQ(out->count, 0u);
  ASSERT_EQ(tokFreeOutput(tok, out, 0), VLT_OK);
  tok->table.count = 1;
  EXPECT_EQ(tokFinal(tok, &out), VLT_ERR_ASSERT);
  tok->table.count = 0;
}

// Records come out by exemplar height, then width, then filing order; each carries the tight
// exemplar and its members.
TEST_F(ClassifierTest, OutputOrderAndRecords) {
  params.tokFlags = TOK_FLAG_MEMBER_POS;
  init();
  int owners[6];
  ASSERT_EQ(add(kI, &owners[0]), VLT_OK);
  ASSERT_EQ(add(kO, &owners[1]), VLT_OK);
  ASSERT_EQ(add(kWide, &owners[2]), VLT_OK);
  ASSERT_EQ(add(kC, &owners[3]), VLT_OK);
  ASSERT_EQ(add(kO, &owners[4]), VLT_OK);
  VltAdtList* out = nullptr;
  ASSERT_EQ(tokFinalNoMerge(tok, &out), VLT_OK);
  ASSERT_EQ(out->count, 4u);
  const std::vector<std::string>* want[] = {&kWide, &kO, &kC, &kI};
  const std::vector<std::vector<int*>> members = {{&owners[2]}, {&owners[1], &owners[4]}, {&owners[3]}, {&owners[0]}};
  size_t i = 0;
  for (VltAdtListNode* n = out->first; n != nullptr; n = n->next, ++i) {
    const auto* r = static_cast<const TokOutput*>(n->data);
    EXPECT_EQ(toktest::record_bitmap(r), toktest::rows_bitmap(*want[i])) << i;
    EXPECT_EQ(r->exemplar.owner, nullptr);
    EXPECT_EQ(r->narrow, 1);
    EXPECT_EQ(r->histogram, nullptr);
    ASSERT_EQ(r->members->count, members[i].size()) << i;
    size_t k = 0;
    for (VltAdtListNode* m = r->members->first; m != nullptr; m = m->next, ++k) {
      const auto* pos = static_cast<const TokMemberPos*>(m->data);
      EXPECT_EQ(pos->owner, members[i][k]);
      EXPECT_EQ(pos->dx, 0);
      EXPECT_EQ(pos->dy, 0);
    }
  }
  EXPECT_EQ(tok->table.count, 0u);
  ASSERT_EQ(tokFreeOutput(tok, out, 1), VLT_OK);
  ASSERT_EQ(tokFinal(tok, &out), VLT_OK);
  EXPECT_EQ(out->count, 0u) << "a second output call finds the classifier empty";
  ASSERT_EQ(tokFreeOutput(tok, out, 1), VLT_OK);
}

TEST_F(ClassifierTest, PixelSumsGoOutUnderTheirFlag) {
  params.tokFlags = TOK_FLAG_PIXEL_SUMS;
  init();
  for (int i = 0; i < 5; ++i) ASSERT_EQ(add(kO), VLT_OK);
  ASSERT_EQ(add(kC), VLT_OK);
  VltAdtList* out = nullptr;
  ASSERT_EQ(tokFinal(tok, &out), VLT_OK);
  ASSERT_EQ(out->count, 2u);
  const auto* o = static_cast<const TokOutput*>(out->first->data);
  const auto* c = static_cast<const TokOutput*>(out->last->data);
  EXPECT_EQ(o->sampleCount, 5);
  ASSERT_NE(o->histogram, nullptr);
  EXPECT_EQ(o->narrow, 1);
  // The histogram is in the exemplar's frame: column 0 is the exemplar's first column.
  EXPECT_EQ(*VltImage_pixel<uint8_t>(o->histogram, 1, 0), 5);
  EXPECT_EQ(*VltImage_pixel<uint8_t>(o->histogram, 0, 0), 0);
  EXPECT_EQ(c->sampleCount, 1);
  EXPECT_EQ(c->histogram, nullptr);
  ASSERT_EQ(tokFreeOutput(tok, out, 0), VLT_OK);
}

TEST_F(ClassifierTest, AnExemplarWithABlankFirstColumnIsRefused) {
  init();
  ASSERT_EQ(add(std::vector<std::string>{".##", ".##"}), VLT_OK);
  VltAdtList* out = nullptr;
  EXPECT_EQ(tokFinalNoMerge(tok, &out), VLT_ERR_ASSERT);
  EXPECT_EQ(tok->table.count, 1u) << "the classes stay when output fails";
}

TEST_F(ClassifierTest, ResumedClassesCarryTheirExemplarAndReference) {
  params.tokFlags = TOK_FLAG_MEMBER_POS;
  init();
  int first = 0, later = 0, ref = 0;
  ASSERT_EQ(add(kO, &first), VLT_OK);
  ASSERT_EQ(add(kO, &first), VLT_OK);
  VltAdtList* out = nullptr;
  ASSERT_EQ(tokPartial(tok, &out), VLT_OK);
  ASSERT_EQ(out->count, 1u);
  static_cast<TokOutput*>(out->first->data)->dictRef = &ref;
  ASSERT_EQ(tokResumeKeepMember(tok, out), VLT_OK);
  ASSERT_EQ(tok->table.count, 1u);
  ASSERT_EQ(add(kO, &later), VLT_OK);
  ASSERT_EQ(add(kC, &later), VLT_OK);
  ASSERT_EQ(tokFinal(tok, &out), VLT_OK);
  ASSERT_EQ(out->count, 2u);
  const auto* r = static_cast<const TokOutput*>(out->first->data);
  EXPECT_EQ(r->dictRef, &ref);
  EXPECT_EQ(toktest::record_bitmap(r), toktest::rows_bitmap(kO));
  ASSERT_EQ(r->members->count, 3u);
  EXPECT_EQ(static_cast<const TokMemberPos*>(r->members->last->data)->owner, &later);
  EXPECT_EQ(static_cast<const TokOutput*>(out->last->data)->dictRef, nullptr);
  ASSERT_EQ(tokFreeOutput(tok, out, 1), VLT_OK);
}

TEST_F(ClassifierTest, ReleaseCallsRefuseBrokenRecords) {
  init();
  ASSERT_EQ(add(kO), VLT_OK);
  VltAdtList* out = nullptr;
  ASSERT_EQ(tokFinal(tok, &out), VLT_OK);
  auto* r = static_cast<TokOutput*>(out->first->data);
  uint8_t* bits = r->exemplar.bits;
  r->exemplar.bits = nullptr;
  EXPECT_EQ(tokFreeOutput(tok, out, 0), VLT_ERR_ASSERT);
  r->exemplar.bits = bits;
  EXPECT_EQ(tokFreeOutput(tok, out, 0), VLT_OK);
}

TEST_F(ClassifierTest, StateAllocationFailureIsReported) {
  alloc.fail_at(1);
  EXPECT_EQ(tokInit(&params, &tok), VLT_ERR_NOMEM);
  EXPECT_EQ(tok, nullptr);
  ASSERT_FALSE(printed.codes.empty());
  EXPECT_EQ(printed.codes.back(), VLT_ERR_NOMEM);
  EXPECT_NE(printed.text.find("Unable to allocate memory"), std::string::npos);
}

// A whole section and a resumed one with the k-th allocation failing, for every k: each call
// fails cleanly or succeeds, and releasing what there is leaves nothing behind.
TEST_F(ClassifierTest, EveryAllocationFailureIsSurvived) {
  params.tokFlags = TOK_FLAG_MEMBER_POS | TOK_FLAG_ALIGN | TOK_FLAG_PIXEL_SUMS;
  params.commitCount = 6;
  std::mt19937 rng(5);
  std::vector<RefBitmap> glyphs;
  for (const auto* rows : {&kO, &kC, &kI, &kWide}) glyphs.push_back(toktest::rows_bitmap(*rows));
  for (int i = 0; i < 4; ++i) glyphs.push_back(monotest::make_noise(9 + i * 12, 11, 0.7, rng()));
  std::vector<int> order;
  for (int i = 0; i < 40; ++i) order.push_back(int(rng() % glyphs.size()));
  size_t failures = 0;
  for (size_t k = 1;; ++k) {
    alloc.fail_at(k);
    VltStatus st = tokInit(&params, &tok);
    VltAdtList* out = nullptr;
    for (size_t i = 0; st == VLT_OK && i < order.size(); ++i) st = add(glyphs[size_t(order[i])], &order[i]);
    if (st == VLT_OK) st = tokPartial(tok, &out);
    if (st == VLT_OK) {
      st = tokResume(tok, out);
      if (st != VLT_OK) tokFreeOutput(tok, out, 1);
      out = nullptr;
    }
    for (size_t i = 0; st == VLT_OK && i < 10; ++i) st = add(glyphs[size_t(order[i])], &order[i]);
    if (st == VLT_OK) st = tokFinal(tok, &out);
    const bool failed = alloc.failures() > failures;
    failures = alloc.failures();
    alloc.fail_at(0);
    if (out != nullptr) {
      EXPECT_EQ(tokFreeOutput(tok, out, 1), VLT_OK);
    }
    tokFreeState(tok);
    tok = nullptr;
    ASSERT_EQ(alloc.live_blocks(), baseline) << "leak after failing allocation " << k;
    if (!failed) {
      ASSERT_EQ(st, VLT_OK);
      break;
    }
    EXPECT_EQ(st, VLT_ERR_NOMEM) << "allocation " << k;
  }
  EXPECT_GT(failures, 100u);
}

}  // namespace
