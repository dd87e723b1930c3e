#ifndef TOK_EDGE_H
#define TOK_EDGE_H

// Dilated edge images: the complement of a model's dilation, made once per bitmap so that the
// match test counts the pixels of another bitmap outside the dilation with one AND per word.

#include <stdint.h>

#include "tok_types.h"

// Neighbourhood tables: one entry per 13-pixel pattern of the radius-2 diamond around a pixel.
// Index bits, as (row, column) offsets: 0 (-2, 0); 1-3 (-1, -1), (-1, 0), (-1, +1);
// 4-8 (0, -2) .. (0, +2); 9-11 (+1, -1), (+1, 0), (+1, +1); 12 (+2, 0).
// Entry bit 0 is the dilated pixel; bit 1 marks a boundary pixel (set, with a clear 8-neighbour).
inline constexpr uint32_t TOK_DILATE_TABLE_SIZE = 8192;
extern const uint8_t (&rad1dilateLookup)[TOK_DILATE_TABLE_SIZE];     // plus-shaped element
extern const uint8_t (&radroot2dilateLookup)[TOK_DILATE_TABLE_SIZE]; // 3x3 square
extern const uint8_t (&tpdilateLookup)[TOK_DILATE_TABLE_SIZE];       // plus, keeping holes and gaps

// Set bits of every 16-bit value.
extern const uint8_t (&bitcounts)[65536];
inline uint32_t tok_bitcount(uint32_t w) { return bitcounts[w >> 16] + bitcounts[w & 0xffffu]; }

// Fills one destination row (width + 1 pixels, the last one right of the source) from the
// source rows y - 2 .. y + 2 (null for rows outside the source) and adds the boundary pixels of
// row y to *count. A source row has srcWords words holding pixels, lastBits of them in the last
// (0 meaning all 32); bits beyond the width are ignored. The table must map a set centre to 1
// and a pattern whose 3x3 square is clear to 0, as all three tables do.
void do_row(const uint8_t* const rows[5], uint8_t* dst, uint32_t srcWords, uint32_t lastBits,
            const uint8_t* table, uint32_t* count);

// One dilation pass: the destination gets height + 2 rows of (width + 32) / 32 words, row
// y + 1 being the dilation at source row y; *edgeCount receives the source's boundary pixels.
void TableCrossDilate(const uint8_t* src, uint32_t srcWordsPerLine, uint32_t width, uint32_t height,
                      uint32_t* edgeCount, uint8_t* dst, uint32_t dstWordsPerLine, const uint8_t* table);

// Boundary pixels of a packed bitmap (set pixels with a clear 8-neighbour).
uint32_t tok_countEdgePixels(const uint8_t* bits, uint32_t wordsPerLine, uint32_t width, uint32_t height);

// Makes the edge image of a model and sets the model's edge count. Returns 0, 1 (reported) or
// 10003 for a negative pass count.
VltStatus MakeImCrossFromMod(TokModel* model, TokState* state, TokModel** edge);

// Releases a model or an edge image: bits to the allocator, record to its pool.
void FreeModel(TokModel* model, TokState* state);
void FreeImage(TokModel* image, TokState* state);

#endif
