#ifndef JB2_SYMID_H
#define JB2_SYMID_H

// Symbol IDs of text regions, both directions: Huffman coded through a per-region code whose
// lengths travel at the start of the region, or arithmetic coded (IAID) with a fixed number of
// bits per ID.

#include <stdint.h>

#include "jb2_bitfile.h"
#include "jb2_huffman.h"
#include "vlt_mq.h"
#include "vlt_status.h"

struct VltState;

enum : uint8_t { SYM_HUFFMAN = 0, SYM_MQ = 1 };

struct SymEncoder {
  uint8_t kind;        /* SYM_HUFFMAN or SYM_MQ */
  VltState* state;
  JhtTable table;      /* Huffman: line i codes ID i; the lines are owned */
  JbfFile* bits;       /* Huffman: where codes go */
  MqEncoder* mq;       /* MQ */
  int32_t count;       /* number of IDs */
  int32_t codeLength;  /* MQ: bits per ID */
  uint8_t* contexts;   /* MQ: 2^(codeLength + 1) bytes, owned */
};

struct SymDecoder {
  uint8_t kind;
  VltState* state;
  JhtTable table;      /* Huffman: compiled, each code yielding its entry of values */
  JbfFile* bits;
  MqDecoder* mq;
  uint32_t* values;    /* owned copy of the caller's values */
  int32_t count;
  int32_t codeLength;
  uint8_t* contexts;
};

/* A Huffman ID encoder over n code lengths (0 for IDs that are never coded). 1 (reported)
   without memory; the code assignment's status for lengths that form no code. *out is null on
   failure. */
VltStatus symEncoderHuffman(int32_t n, JbfFile* bits, const uint32_t* lengths, VltState* state,
                            SymEncoder** out);
/* An IAID encoder for n IDs on the region's MQ encoder. */
VltStatus symEncoderArith(int32_t n, MqEncoder* mq, VltState* state, SymEncoder** out);
/* Codes one ID. 10003 (unreported, nothing written) for an ID outside 0..n-1 or, with Huffman
   coding, one without a code; 2001 (reported) when an MQ decision cannot be written. */
VltStatus symEncode(SymEncoder* enc, uint32_t id);
void symEncoderFree(SymEncoder* enc);

/* Decoders yielding values[i] for ID i. */
VltStatus symDecoderHuffman(const uint32_t* values, int32_t n, JbfFile* bits, const uint32_t* lengths,
                            VltState* state, SymDecoder** out);
VltStatus symDecoderArith(const uint32_t* values, int32_t n, MqDecoder* mq, VltState* state, SymDecoder** out);
/* Decodes one ID. MQ: an ID at or beyond n yields 0. Huffman: the code reader's status when the
   bits match no code. */
VltStatus symDecode(SymDecoder* dec, uint32_t* value);
void symDecoderFree(SymDecoder* dec);

/* Writes the symbol-ID code of a Huffman text region at the bit writer: code lengths from the
   usage counts of the n IDs, sent as run codes, then padding to a byte. Hands back the encoder
   over those lengths. 10003 (unreported) when a run-code length would not fit its 4-bit field. */
VltStatus symWriteHuffmanCode(JbfFile* bits, const uint32_t* usage, int32_t n, VltState* state,
                              SymEncoder** out);

#endif
