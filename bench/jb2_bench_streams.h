#ifndef JB2_BENCH_STREAMS_H
#define JB2_BENCH_STREAMS_H

// The streams the JBIG2 decoding benchmarks read: a rendered letter page (2550 x 3300) as one
// full-page generic region, coded by our writer with the MQ coder (template 0 with its usual
// adaptive pixels and typical prediction) or with MMR, in a one-page T.88 file.

#include <cstdint>
#include <vector>

struct VltState;

namespace jb2bench {

using Bytes = std::vector<uint8_t>;

// Made once per process.
const Bytes& page_stream(VltState* state, bool mmr);

}  // namespace jb2bench

#endif
