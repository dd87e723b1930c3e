// Huffman codes read from arbitrary bits: a standard table, or a table built from prefix lengths
// the input gives (which the code assignment must refuse or serve soundly), read through a bit
// reader over windows whose size the input picks. Every value handed back must be one of the
// table's own values, and reading must always end.

#include <cstdint>
#include <vector>

#include "fuzz_windows.h"
#include "jb2_bitfile.h"
#include "jb2_huffman.h"
#include "vlt_state.h"

namespace {

const JhtTable* const kStandard[16] = {&stdhuffA,   &stdhuffDW1,     &stdhuffDW2, &stdhuffDH1,
                                       &stdhuffDH2, &stdhuffFS1,     &stdhuffFS2, &stdhuffDS1,
                                       &stdhuffDS2, &stdhuffDS3,     &stdhuffDT1, &stdhuffDT2,
                                       &stdhuffDT3, &stdhuffDT3_neg, &stdhuffRD1, &stdhuffRD2};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 3) return 0;
  static VltState* state = [] {
    VltState* s = nullptr;
    Vlt_initVltState(&s, nullptr, nullptr, nullptr, nullptr, 0, 0);
    return s;
  }();
  const uint8_t pick = data[0];
  const uint8_t step = static_cast<uint8_t>(data[1] % 8 + 1);
  size_t at = 2;
  JhtTable own{};
  std::vector<JhtLine> lines;
  std::vector<void*> values;
  const JhtTable* table = nullptr;
  if (pick < 16) {
    table = kStandard[pick];
  } else {
    const size_t n = pick % 48;
    if (size - at < n) return 0;
    for (size_t i = 0; i < n; ++i)
      lines.push_back(JhtLine{0, 0, static_cast<uint8_t>(data[at + i] % 36), 0, {0, 0}});
    at += n;
    own.lineCount = static_cast<int32_t>(n);
    own.lines = lines.data();
    if (jhtSetCodes(&own, state) != VLT_OK) return 0;
    for (size_t i = 0; i < n; ++i) values.push_back(&lines[i]);
    if (jhtCompile(&own, values.data(), state) != VLT_OK) return 0;
    table = &own;
  }
  FuzzWindows w{data + at, size - at, 0, step};
  DataSource src{nullptr, 0, 0, FuzzWindows::more, &w, state};
  JbfFile* f = nullptr;
  if (jbfOpenFromDataSource(&src, &f) == VLT_OK) {
    for (;;) {
      void* v = nullptr;
      if (jhtReadCode(table, f, state, &v) != VLT_OK) break;
      const auto* line = static_cast<const JhtLine*>(v);
      if (line < table->lines || line >= table->lines + table->lineCount) __builtin_trap();
      uint32_t offset = 0;
      if (jbfReadBits(f, line->rangeLen, &offset) != VLT_OK) break;
    }
    jbfClose(f);
  }
  jhtCleanup(&own, state);
  return 0;
}
