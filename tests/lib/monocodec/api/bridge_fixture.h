#ifndef BRIDGE_FIXTURE_H
#define BRIDGE_FIXTURE_H

// Pages written straight through the engine's JBIG2 bridge: token records made from shapes, a
// section dictionary, then per page the page information, the residual dictionary and the
// placements in two stripes, each collected as its own block the way the engine API hands them
// out. The expected page is the OR of the placements.

#include <cstdint>
#include <vector>

#include "jb2_bridge.h"
#include "jb2_filemode.h"
#include "jb2_fixture.h"
#include "jb2_test_stream.h"
#include "ref_bitmap.h"
#include "tok_pagecc.h"
#include "vlt_stripes.h"

namespace bridgetest {

struct Placement {
  int shape;
  int x;
  int bottom;
};

// A large component as the page record keeps it: by runs or by bitmap, y its bottom row.
struct LargePiece {
  monotest::RefBitmap bm;
  int x;
  int bottom;
  bool runs;
};

struct TestPage {
  int width = 0;
  int height = 0;
  int splitRow = 1;
  std::vector<int> residualShapes;  // shapes only this page uses: its residual dictionary
  std::vector<Placement> placed;    // shape indices: section shapes first, then residual ones
  std::vector<LargePiece> large;
};

struct Section {
  std::vector<monotest::RefBitmap> shapes;  // section dictionary symbols, then residual ones
  int sectionShapes = 0;
  std::vector<TestPage> pages;
};

struct Blocks {
  jb2test::Bytes dictionary;
  std::vector<jb2test::Bytes> pages;
};

// Writes the section through the bridge with the profile; the records' link words are checked to
// come back unchanged after every text region. Returns the first failing status, 0 on success.
VltStatus write_section(VltState* state, const Section& section, uint32_t profile, Blocks* out);
// The same section as one standalone file (random-access organisation, one page per test page,
// page segments numbered from 1), with an ASCII comment after the first page when one is given.
VltStatus write_file(VltState* state, const Section& section, uint32_t profile, const jb2test::Bytes& annotation,
                     jb2test::Bytes* out);
monotest::RefBitmap render(const Section& section, const TestPage& page);

}  // namespace bridgetest

// The codec fixture; component records come from a pool whose first chunk stays with the state,
// so it is taken before the count starts.
struct BridgeTest : Jb2Test {
  void SetUp() override {
    Jb2Test::SetUp();
    void* block = nullptr;
    ASSERT_EQ(state->smallAlloc(state->smallContext, TOK_POOL_COMPONENT, &block), VLT_OK);
    state->smallFree(state->smallContext, TOK_POOL_COMPONENT, block);
    baseline = alloc.live_blocks();
  }
};

#endif
