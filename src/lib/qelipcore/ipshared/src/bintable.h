#ifndef BINTABLE_H
#define BINTABLE_H

// Binarization tables: kernels that build one output word from a group of 2, 4 or 8 source
// words mask each word down to its result bits, gather the group into one word by shifting and
// OR-ing, and put the interleaved results into pixel order with one table lookup per byte
// (table k indexed by byte k, byte 0 the most significant). Tables are 256 words each, in
// buffers the caller provides.

#include <stddef.h>
#include <stdint.h>

#include "ipstate.h"

#ifdef __cplusplus
extern "C" {
#endif

// Bytes of each table of the set for a depth pair: srcDepth 2, 4 or 8 and dstDepth 1, 2 or 4,
// else 2. The 8-to-4 conversion uses no table and reports 0.
VltStatus i_getBinarizationTableSizes(IPState* state, int32_t srcDepth, int32_t dstDepth,
                                      int32_t inverted, size_t* size);

// Each fills the four tables of its set; a null table gives 118 and nothing is written.
VltStatus i_fillBinarizationTables(IPState* state, uint32_t* t0, uint32_t* t1, uint32_t* t2, uint32_t* t3);
VltStatus i_fillInvBinarizationTables(IPState* state, uint32_t* t0, uint32_t* t1, uint32_t* t2, uint32_t* t3);
VltStatus i_fill4To1BinarizationTables(IPState* state, uint32_t* t0, uint32_t* t1, uint32_t* t2, uint32_t* t3);
VltStatus i_fill4To1InvBinarizationTables(IPState* state, uint32_t* t0, uint32_t* t1, uint32_t* t2, uint32_t* t3);
VltStatus i_fill2To1BinarizationTables(IPState* state, uint32_t* t0, uint32_t* t1, uint32_t* t2, uint32_t* t3);
VltStatus i_fill2To1InvBinarizationTables(IPState* state, uint32_t* t0, uint32_t* t1, uint32_t* t2, uint32_t* t3);
VltStatus i_fill2bppBinarizationTables(IPState* state, uint32_t* t0, uint32_t* t1, uint32_t* t2, uint32_t* t3);
// The single 4-to-2 table, used for all four bytes (shifted right by 0, 4, 8 and 12).
VltStatus i_fill4To2bppBinarizationTable(IPState* state, uint32_t* t);

// Byte lookup tables over 8 pixels of a 1-bit line (pixel p of the index byte is bit 7 - p).
// Each is allocated through slot 0 and handed to the caller, who frees it through slot 0. A
// null state or a failed allocation gives 1 with a null table; a null out pointer gives 118.
// Even pixels 0, 2, 4, 6 in bits 11..8, odd pixels 1, 3, 5, 7 in bits 3..0.
VltStatus ip_makePermuteLUT(IPState* state, uint16_t** table);
// The same split of the complemented byte.
VltStatus ip_makeInvPermuteLUT(IPState* state, uint16_t** table);
// The pixels in bit-reversed order of their numbers: 0, 4, 2, 6, 1, 5, 3, 7 (its own inverse).
VltStatus ip_make4PermuteLUT(IPState* state, uint8_t** table);
// The first pixel of every pair (bits 3..0) or of every group of four (bits 1..0).
VltStatus ip_makeRedLUT2(IPState* state, uint8_t** table);
VltStatus ip_makeRedLUT4(IPState* state, uint8_t** table);

#ifdef __cplusplus
}
#endif

#endif
