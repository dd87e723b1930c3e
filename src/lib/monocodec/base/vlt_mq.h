#ifndef VLT_MQ_H
#define VLT_MQ_H

/* The MQ binary arithmetic coder of JBIG2 (ITU-T T.88 Annex E).

   A context is one byte: bit 7 the current more probable symbol, bits 0-6 the probability state
   (0-45). Callers own arrays of context bytes and clear them to 0 before a coding pass.

   The encoder hands each finished byte to a byte-out callback; the decoder reads a window in
   place and asks a refill callback for the next one. Neither allocates. */

#include <stddef.h>
#include <stdint.h>

struct VltState;

#ifdef __cplusplus
extern "C" {
#endif

/* Returns non-zero when the byte was taken, 0 on failure. */
typedef int (*MqByteOutFn)(uint8_t byte, void* context);

/* Installs the next window in *data / *length; returns non-zero on success. A length of 0 means
   there is no more data. */
typedef int (*MqRefillFn)(const uint8_t** data, uint32_t* length, void* context);

typedef struct MqEncoder {
  uint32_t C;
  uint16_t A;
  int32_t CT;
  uint8_t B; /* held back one step: a carry can still reach it */
  MqByteOutFn byteOut;
  void* byteOutContext;
  struct VltState* state;
  int32_t started; /* the first byte-out only loads B */
} MqEncoder;

enum {
  MQD_MODE_END_MARKER = 0, /* the FF >8F marker has been met */
  MQD_MODE_RAN_OUT = 1,    /* the data ended without a marker */
  MQD_MODE_DATA = 2        /* data may still come */
};

typedef struct MqDecoder {
  uint32_t C;
  uint16_t A;
  uint8_t B; /* the last byte taken in */
  int32_t CT;
  const uint8_t* ptr;
  const uint8_t* end;
  MqRefillFn refill;
  void* refillContext;
  struct VltState* state;
  int32_t mode; /* MQD_MODE_* */
} MqDecoder;

void VltEncode_mqeInit(MqEncoder* enc, MqByteOutFn byteOut, void* context, struct VltState* state);
/* Codes one decision (bit 0 or 1) in the context *cx. Returns 1, or 0 when the byte-out callback
   failed; the encoder is unusable after a failure. */
int VltEncode_mqeEncode(MqEncoder* enc, uint8_t* cx, int bit);
/* Codes count equal decisions in the context *cx, exactly as count calls of VltEncode_mqeEncode
   would, but a stretch of more probable symbols that needs no renormalisation costs one step: a
   run of white pixels in a white neighbourhood is nearly free. Returns 1, or 0 when the byte-out
   callback failed. */
int VltEncode_mqeEncodeRun(MqEncoder* enc, uint8_t* cx, int bit, uint32_t count);
/* Ends the code stream with the FF AC marker. Returns 1 when every byte was taken, else 0. The
   encoder must be started again before further use. */
int VltEncode_mqeFlush(MqEncoder* enc);

/* Starts decoding on data[0..length); with length 0 the first window comes from the refill
   callback (which may be null). */
void VltEncode_mqdInit(MqDecoder* dec, const uint8_t* data, uint32_t length, MqRefillFn refill,
                       void* context, struct VltState* state);
/* Returns the decoded bit and updates *cx. Missing data decodes as 1-bits. */
int VltEncode_mqdDecode(MqDecoder* dec, uint8_t* cx);
/* 1 once the end marker has been met, else 0. */
int VltEncode_mqdEndSeen(const MqDecoder* dec);
/* The read position just past the end marker, or null when the marker has not been met. */
const uint8_t* VltEncode_mqdFinish(MqDecoder* dec);
/* The position just after the last byte the decoder has taken in (within the current window).
   A reader that knows where the coded data ends uses it to accept data that ends at that length
   without a marker, as some encoders write it. */
const uint8_t* VltEncode_mqdReadPos(const MqDecoder* dec);

/* The same coder with an inverted code register. */
void VltEncode_mqdInitSW(MqDecoder* dec, const uint8_t* data, uint32_t length, MqRefillFn refill,
                         void* context, struct VltState* state);
int VltEncode_mqdDecodeSW(MqDecoder* dec, uint8_t* cx);
int VltEncode_mqdEndSeenSW(const MqDecoder* dec);
/* Works on a decoder of either kind. */
const uint8_t* VltEncode_mqdFinishSW(MqDecoder* dec);

/* The probability estimate Qe of each context byte's state (indexed by its low seven bits). */
typedef struct VltMqQeTable {
  uint16_t qe[128];
} VltMqQeTable;
extern const VltMqQeTable VltMq_qe;

#ifdef __cplusplus
}

/* VltEncode_mqeEncode with its commonest case in line: a more probable symbol that needs no
   renormalisation only moves A and C. For the per-pixel loops of bitmap coders. */
inline int VltEncode_mqeEncodeFast(MqEncoder* enc, uint8_t* cx, int bit) {
  const uint8_t c = *cx;
  const uint32_t qe = VltMq_qe.qe[c & 0x7Fu];
  const uint32_t a = enc->A - qe;
  if (static_cast<unsigned>(bit != 0) == static_cast<unsigned>(c >> 7) && (a & 0x8000u) != 0) {
    enc->A = static_cast<uint16_t>(a);
    enc->C += qe;
    return 1;
  }
  return VltEncode_mqeEncode(enc, cx, bit);
}
#endif

#endif
