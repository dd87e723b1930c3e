#ifndef EXPTABLE_H
#define EXPTABLE_H

// Byte-indexed expansion tables: entry b replicates every pixel of source byte b (pixels most
// significant first) 2, 4, 8 or 16 times; and the 4-bit resolution-conversion tables that spread
// a byte's two pixels around an interpolated middle one. Multi-byte entries are stored most
// significant byte first, so copying an entry's bytes writes its pixels in order on any host
// (read a value with mono::load_be16/load_be32).

#include <stddef.h>
#include <stdint.h>

#include "ipstate.h"

#ifdef __cplusplus
extern "C" {
#endif

// Table bytes by factor: 2 gives 512 (16-bit entries), 4 gives 1024 (32-bit entries), 8 gives
// 2048 (plane 1 at bytes 1024-2047 holds the first 32 bits of each expansion, plane 0 the last),
// 16 gives 4096 (planes 3, 2, 1, 0 from the first 32 bits to the last, plane k at 1024 k).
// Any other factor gives 2. The depth is not looked at.
VltStatus i_getExpandTableSizes(IPState* state, int32_t factor, int32_t depth, size_t* size);

// Each clears its table, then fills it for depth 1, 2, 4 or 8; another depth gives 8 with the
// table left cleared, a null table 118.
VltStatus i_fillExp2LUT(IPState* state, int32_t depth, uint8_t* table);
VltStatus i_fillExp4LUT(IPState* state, int32_t depth, uint8_t* table);
VltStatus i_fillExp8LUT(IPState* state, int32_t depth, uint8_t* table);
VltStatus i_fillExp16LUT(IPState* state, int32_t depth, uint8_t* table);

// 1024 bytes for the ratios 1:2 and 2:3 (0 at depth 8, where no table is needed); any other
// ratio gives 2.
VltStatus i_getResconTableSize(IPState* state, int32_t srcResolution, int32_t dstResolution,
                               int32_t depth, size_t* size);
// 32-bit entries: nibbles h, ceil((h + l) / 2), l, 0 for the 1:2 table and h, floor((h + l) / 2),
// l in the low 12 bits for the 2:3 table, h and l the high and low nibble of the index. Nothing
// is written at depth 8.
VltStatus i_fill1To2ResconTable(IPState* state, uint8_t* table, int32_t depth);
VltStatus i_fill2To3ResconTable(IPState* state, uint8_t* table, int32_t depth);

#ifdef __cplusplus
}
#endif

#endif
