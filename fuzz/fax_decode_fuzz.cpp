// One CCITT decoder entry (FAX_FUZZ_K: -1 T.6, 0 T.4 1-D, 1 T.4 2-D) over arbitrary bytes.
// Input: 4 header bytes choosing the geometry (see fax_fuzz_input.h), then the coded data.
// Besides surviving, the decoder must give the same pixels and consistent byte counts through
// both of its entries, and the G4 coder must reproduce whatever image came out.

#include <cstdint>
#include <cstring>
#include <vector>

#include "fax_decode.h"
#include "fax_encode.h"
#include "fax_fuzz_input.h"
#include "vlt_state.h"

namespace {

VltState* engine_state() {
  static VltState* st = [] {
    VltState* s = nullptr;
    Vlt_initVltState(&s, nullptr, nullptr, nullptr, nullptr, 0, 0);
    return s;
  }();
  return st;
}

using OwnFn = VltStatus (*)(uint32_t*, int32_t, int32_t, int32_t, int32_t, int32_t, int32_t,
                            const uint8_t*, size_t, int32_t, size_t*, VltState*);
using CallersFn = VltStatus (*)(FaxDecoder*, uint32_t*, int32_t, int32_t, int32_t, int32_t,
                                int32_t, int32_t, const uint8_t*, size_t, int32_t, size_t*);

constexpr OwnFn kOwn = FAX_FUZZ_K < 0 ? g4Decode : FAX_FUZZ_K == 0 ? g3_1DDecode : g3_2DDecode;
constexpr CallersFn kCallers =
    FAX_FUZZ_K < 0 ? g4DecodeC : FAX_FUZZ_K == 0 ? g3_1DDecodeC : g3_2DDecodeC;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FaxFuzzGeometry g;
  if (!fax_fuzz_geometry(data, size, &g)) return 0;
  VltState* st = engine_state();
  const uint8_t* coded = data + kFaxFuzzHeader;
  const size_t length = size - kFaxFuzzHeader;
  const size_t words = static_cast<size_t>(g.stride) * static_cast<size_t>(g.lines);
  std::vector<uint32_t> a(words, 0u), b(words, 0u);
  size_t used = 0, left = 0;
  const VltStatus s1 = kOwn(a.data(), g.width, g.lines, g.stride, g.bitOffset, g.lastCol,
                            g.lines - 1, coded, length, g.endFlag, &used, st);
  FaxDecoder* dec = nullptr;
  if (DecodeCreate(&dec, st) != VLT_OK) return 0;
  const VltStatus s2 = kCallers(dec, b.data(), g.width, g.lines, g.stride, g.bitOffset, g.lastCol,
                                g.lines - 1, coded, length, g.endFlag, &left);
  DecodeCleanUp(&dec);
  if (s1 != s2 || a != b || used + left != length || used > length) __builtin_trap();
  if (s1 != VLT_OK || g.bitOffset != 0 || g.lastCol != g.width - 1) return 0;

  // Whatever image came out must survive a G4 round trip unchanged.
  std::vector<uint8_t> out(static_cast<size_t>(g.width + 64) * static_cast<size_t>(g.lines + 1));
  size_t outSize = out.size();
  if (g4Encode(a.data(), g.width, g.lines, g.stride, out.data(), &outSize, 1, st) != VLT_OK) __builtin_trap();
  std::vector<uint32_t> c(words, 0u);
  size_t used2 = 0;
  if (g4Decode(c.data(), g.width, g.lines, g.stride, 0, g.width - 1, g.lines - 1, out.data(), outSize,
               1, &used2, st) != VLT_OK ||
      c != a || used2 != outSize)
    __builtin_trap();
  return 0;
}
