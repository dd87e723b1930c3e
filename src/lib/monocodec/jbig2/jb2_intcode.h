#ifndef JB2_INTCODE_H
#define JB2_INTCODE_H

// Integer fields of the symbol dictionary and text region writers behind one interface: Huffman
// coded through a code table and a bit writer, or arithmetic coded (IAx) through the MQ encoder.
// An encoder over a table without a bit writer only counts which table line each value would
// take, which is how the writers price the candidate tables before writing anything.

#include <stdint.h>

#include "jb2_bitfile.h"
#include "jb2_huffman.h"
#include "vlt_mq.h"
#include "vlt_status.h"

struct VltState;

/* Context bytes of one IAx field kind. */
inline constexpr uint32_t EI_MQ_CONTEXTS = 512;

enum : uint8_t { EI_HUFFMAN = 0, EI_MQ = 1 };

struct EiEncoder {
  uint8_t kind;            /* EI_HUFFMAN or EI_MQ */
  JhtTable table;          /* Huffman: a copy with its own line array (not compiled) */
  const JhtLine* lower;    /* Huffman: the range and out-of-band lines, null where absent */
  const JhtLine* upper;
  const JhtLine* oob;
  int32_t lowerIndex;      /* their positions in the line array */
  int32_t upperIndex;
  int32_t oobIndex;
  int32_t normalCount;     /* lines before the special ones */
  int32_t lowest;          /* first value of the ordinary lines */
  int32_t highest;         /* last value of the ordinary lines */
  JbfFile* bits;           /* Huffman: where codes go; null for a counting encoder */
  MqEncoder* mq;           /* MQ */
  uint8_t* contexts;       /* MQ: EI_MQ_CONTEXTS bytes, the caller's */
  VltState* state;
};

/* An encoder over a copy of the table; bits may be null for counting only. 1 (reported) without
   memory; *out is null on failure. */
VltStatus eiNewEncoder(const JhtTable* table, JbfFile* bits, VltState* state, EiEncoder** out);
/* An IAx encoder over the caller's contexts and MQ encoder. */
VltStatus eiNewEncoderMQ(MqEncoder* mq, uint8_t* contexts, VltState* state, EiEncoder** out);
/* huffman != 0: eiNewEncoder; else clears the contexts and makes an IAx encoder. */
VltStatus eiNewEncoderEither(int huffman, const JhtTable* table, JbfFile* bits, MqEncoder* mq,
                             uint8_t* contexts, VltState* state, EiEncoder** out);

/* Codes value, or the out-of-band value when oob is non-zero. 10003 (unreported, nothing
   written) when the table has no usable line for it: outside the ordinary lines without the
   matching range line, OOB without an OOB line, or a line whose prefix length is 0; 2001
   (reported) when an MQ decision cannot be written; bit writer failures pass on. */
VltStatus eiEncode(EiEncoder* enc, int32_t value, int oob);
/* Adds 1 to counts[line] for the table line that would code the request (Huffman encoders only;
   the request must be codable by the table). */
void eiCount(const EiEncoder* enc, int32_t value, int oob, uint32_t* counts);
/* Frees the encoder and its line copy; contexts and MQ encoder stay the caller's. Null is
   accepted. */
void eiFreeEncoder(EiEncoder* enc);

#endif
