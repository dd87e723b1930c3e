#ifndef FAX_ENCODE_H
#define FAX_ENCODE_H

// CCITT fax coding of bilevel rows: T.6 (Group 4, JBIG2's MMR) and T.4 one- and two-dimensional
// (Group 3). Source rows are 32-bit words read big-endian, first pixel in the top bit, a set bit
// black; output bytes are written most significant bit first.

#include <stddef.h>
#include <stdint.h>

#include "vlt_state.h"
#include "vlt_status.h"

/* Colour changes of one line: the positions where a pixel differs from the one before (the line
   starts white), then the width three times; count includes the first width entry. */
struct FaxChangeList {
  int32_t count;
  int32_t capacity;  /* width + 4 */
  int32_t* array;
};

struct FaxEncoder {
  int32_t capacity;      /* the largest width the buffers are sized for */
  int32_t width;         /* of the current image */
  uint8_t* lineBuf;      /* code of the current line, whole 32-bit words */
  size_t lineBytes;
  size_t lineBufSize;    /* room for the longest code a line of capacity pixels can take */
  uint32_t bitCount;     /* 0-31 bits waiting in bitAcc, from its top; they carry across lines */
  uint32_t bitAcc;
  FaxChangeList ref;     /* the line above */
  FaxChangeList cur;     /* the line being coded */
  VltState* state;
  uint32_t sense;        /* 0: 1-bits are black; all ones: 0-bits are black */
  uint8_t* chunkBuf;     /* chunk-by-chunk coding only */
  size_t chunkBytes;
  size_t chunkSize;
  int32_t maxChunkLines;
};

/* The widest line the coder accepts; keeps every size computation far from overflow. */
inline constexpr int32_t FAX_MAX_WIDTH = 1 << 24;

/* Codes height rows with T.6 into out (capacity *size); a non-zero endFlag adds the end-of-block
   code; the last partial byte is padded with 0 bits. *size receives the bytes written (0 on
   failure). Returns 0, 7 when out is too small, 2 for bad geometry, 118, 1 or 10001. */
extern "C" VltStatus g4Encode(const uint32_t* firstRow, int32_t width, int32_t height,
                              int32_t strideWords, uint8_t* out, size_t* size, int32_t endFlag,
                              VltState* state);
/* The same on a caller's encoder, which it keeps. */
extern "C" VltStatus g4EncodeC(FaxEncoder* enc, const uint32_t* firstRow, int32_t width,
                               int32_t height, int32_t strideWords, uint8_t* out, size_t* size,
                               int32_t endFlag);

/* Codes lines rows of the width given to EncodeInit: K < 0 T.6, K = 0 T.4 1-D, K > 0 T.4 2-D with
   every K-th line 1-D. eol: an EOL before each line; end: the end code of K after the last line;
   uncompressed: lines that code badly fall back to uncompressed mode; align: each line's EOL
   (or code) ends (starts) on a byte boundary; flush: the waiting bits are written out at the end.
   Returns 0, 7 (out too small; *size is 0), 2, 118 or 10001. */
extern "C" VltStatus DoPage(FaxEncoder* enc, uint8_t* out, size_t* size, const uint32_t* firstRow,
                            int32_t strideWords, int32_t lines, int32_t K, int32_t eolFlag,
                            int32_t endFlag, int32_t uncompressedFlag, int32_t alignFlag,
                            int32_t flushFlag);

/* Chunk-by-chunk T.6 coding: startDoc makes an encoder for width x totalLines, with a chunk buffer
   for up to maxLines lines (2 when maxLines is outside 0..totalLines); g4EncodeChunk codes lines
   rows and hands back the chunk's whole words (2 when lines is outside 0..maxLines); endDoc hands
   back the last partial word's bytes (lastWord[0..*lastBytes-1]), frees everything and writes no
   end-of-block code. */
extern "C" VltStatus startDoc(FaxEncoder** place, int32_t width, int32_t totalLines,
                              int32_t maxLines, VltState* state);
extern "C" VltStatus g4EncodeChunk(FaxEncoder* enc, const uint32_t* firstRow, int32_t lines,
                                   int32_t strideWords, const uint8_t** chunk, size_t* chunkBytes);
extern "C" VltStatus endDoc(FaxEncoder** place, uint8_t lastWord[4], size_t* lastBytes);
/* Drives the three over an image in chunks of linesPerChunk rows into out (capacity *size). */
extern "C" VltStatus TestEncodeChunk(const uint32_t* firstRow, int32_t width, int32_t totalLines,
                                     int32_t linesPerChunk, int32_t strideWords, uint8_t* out,
                                     size_t* size, VltState* state);

/* Building blocks. */
VltStatus EncodeCreate(FaxEncoder** place, VltState* state);
VltStatus EncodeInit(FaxEncoder* enc, int32_t width);
void EncodeCleanUp(FaxEncoder** place);
/* Makes the previous line the reference and scans row into the coding line. */
VltStatus LineToTrans(FaxEncoder* enc, const uint32_t* row);
VltStatus TransToG4Code(FaxEncoder* enc, int32_t uncompressedFlag);
/* lineMode 0: 1-D; 1: tag bit 1, then 1-D; 2: tag bit 0, then 2-D. */
VltStatus TransToG3Code(FaxEncoder* enc, int32_t lineMode, int32_t uncompressedFlag);
/* Codes the coding line again in uncompressed mode from where it began (savedBitCount bits
   waiting and savedPos bytes in the line buffer). entryMode 0/1: 1-D entry code, 2: 2-D. */
VltStatus UseUncompressed(FaxEncoder* enc, int32_t entryMode, uint32_t savedBitCount,
                          size_t savedPos);
VltStatus PutBits(FaxEncoder* enc, uint32_t value, uint32_t count);
VltStatus PutEol(FaxEncoder* enc);
/* The end of data for K: two EOLs (K < 0), six EOLs (K = 0) or six EOL+1 codes (K > 0). */
VltStatus Terminate(FaxEncoder* enc, int32_t K);
void FlipSense(FaxEncoder* enc);

#endif
