#ifndef TOK_INSERT_H
#define TOK_INSERT_H

// Painting run lists into fresh token bitmaps, and drawing token bitmaps into larger images:
// packed 1-bit pages (directly, or by decoding a token kept as CCITT G4 data), 8-bit grey and
// 24-bit RGB images. Token bitmaps are TokBitmap headers (rows of big-endian 32-bit words); the
// insertion functions read only width, height, bits and wordsPerLine, and clip to the
// destination on every side.

#include <stdint.h>
#include <string.h>

#include "fax_decode.h"
#include "tok_types.h"
#include "vlt_image.h"
#include "vlt_state.h"

// The 32 x 32 run masks: entry a * 32 + b has columns min(a, b) .. max(a, b) of one word set,
// column 0 the most significant bit. Entries are stored big-endian, so a mask is ORed into a
// bitmap word as it lies in memory.
const uint32_t* MakeLongRunToBitmapLookup();
// ORs a stored mask into the bitmap word at p.
inline void tok_orMask(uint8_t* p, uint32_t stored) {
  uint32_t w;
  memcpy(&w, p, 4);
  w |= stored;
  memcpy(p, &w, 4);
}
// ORs columns s .. e (relative to the row start, s <= e) into a row of words.
void tok_paintRun(uint8_t* row, int32_t s, int32_t e);

// Paints pairs {first column, length} into a new zeroed bitmap of height rows of wordsPerRow
// words (engine calloc), columns shifted left by offset. A pair of length 0 moves painting to
// row `first`; a pair whose first column is not past the previous run's last column + 1 starts
// the next row. 10003 for a run outside the bitmap (nothing is handed out), 1 without memory.
VltStatus RunsToUnframedBitmap(uint8_t** place, const uint16_t* runs, int32_t pairCount, int32_t height,
                               int32_t wordsPerRow, int32_t offset, VltState* engine);

// XORs the token into a Packed image with its top-left pixel at image coordinates (x, y), or at
// (x + 32, y + 32) of a framed image's buffer.
void InsertBoxPacked(VltImage* image, int32_t x, int32_t y, const TokBitmap* token, int framed);

// ORs width x height pixels of G4 data into a Packed image at (x, y) (framed: + 32 each), clipped
// to the image's right edge and last row. The decoder's status (2 for a start outside the image).
VltStatus InsertCompressedBoxPacked(VltImage* image, int32_t x, int32_t y, int32_t width, int32_t height,
                                    const uint8_t* data, size_t length, int framed, VltState* engine);
VltStatus InsertCompressedBoxPackedC(VltImage* image, int32_t x, int32_t y, int32_t width, int32_t height,
                                     const uint8_t* data, size_t length, int framed, FaxDecoder* decoder,
                                     VltState* engine);

// A token kept as G4 data until it is needed.
struct TokCodedToken {
  uint8_t* data;          // G4 data while coded; packed rows once decoded (engine allocator)
  uint16_t width;
  uint16_t height;
  uint32_t codedLength;   // bytes of G4 data; 0 once decoded
  uint16_t lineWords;     // words per row of the decoded rows
};

// Decodes the token into packed rows of its own and hands the G4 data back through *oldData (the
// caller frees it). On failure the token is unchanged and *oldData null.
VltStatus decompressSingleUseToken(TokCodedToken* token, uint8_t** oldData, VltState* engine);
VltStatus decompressSingleUseTokenC(TokCodedToken* token, uint8_t** oldData, FaxDecoder* decoder,
                                    VltState* engine);

// Draws a residual at (x, y): packed rows of (width + 31) / 32 words when length is 0 (XORed, as
// InsertBoxPacked), otherwise G4 data of length bytes.
VltStatus InsertResidual(VltImage* image, const uint8_t* data, size_t length, int32_t x, int32_t y,
                         int32_t width, int32_t height, int framed, VltState* engine);

// RGB (type 3) and grey (type 1) destinations, token top-left at (x, y). The _scaled forms read a
// second plane of the token's size: with code (token bit, plane bit) 01 a pixel becomes the new
// value, 11 (2 x new + old) / 3, 10 (2 x old + new) / 3, 00 stays. 2 for a wrong image type.
VltStatus InsertSampledBox(VltImage* dst, const VltImage* src, int32_t x, int32_t y, const TokBitmap* token);
VltStatus InsertSampledBox_scaled(VltImage* dst, const VltImage* src, int32_t x, int32_t y,
                                  const TokBitmap* token, const TokBitmap* plane);
VltStatus InsertBoxRGB(VltImage* dst, int32_t x, int32_t y, const TokBitmap* token, const uint8_t colour[3]);
VltStatus InsertBoxRGB_scaled(VltImage* dst, int32_t x, int32_t y, const TokBitmap* token, const TokBitmap* plane,
                              const uint8_t colour[3]);
// Grey: code 01 paints 0, 11 0x55, 10 0xAA.
VltStatus InsertBoxScaled(VltImage* dst, int32_t x, int32_t y, const TokBitmap* token, const TokBitmap* plane);

#endif
