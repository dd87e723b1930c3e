// MQ arithmetic coder. The encoder keeps the last byte back (B) because a carry out of the code
// register can still reach it; the decoder reads the caller's windows in place.

#include "vlt_mq.h"

#include "vlt_mq_fast.h"

namespace {

using vlt_mq::after_lps;
using vlt_mq::kRows;
using vlt_mq::after_mps;
using vlt_mq::QeRow;
using vlt_mq::renorm_bits;
using vlt_mq::row_of;

// Emits the held-back byte and takes the next one from the code register. Registers change only
// once the callback has accepted the byte.
bool byteout(MqEncoder* e) {
  if (!e->started) {
    e->started = 1;
    e->CT = 8;
    e->B = static_cast<uint8_t>(e->C >> 19);
    e->C &= 0x7FFFFu;
    return true;
  }
  uint8_t out = e->B;
  bool stuffed = out == 0xFF;
  bool carry_taken = false;
  if (!stuffed && e->C > 0x7FFFFFFu) {
    ++out;
    stuffed = out == 0xFF;
    carry_taken = true;
  }
  if (!e->byteOut(out, e->byteOutContext)) return false;
  if (stuffed) {
    // After 0xFF only 7 bits follow: a later carry lands in the free top bit of the next byte
    // instead of reaching the 0xFF, so it can never make a marker.
    if (carry_taken) e->C &= 0x7FFFFFFu;
    e->CT = 7;
    e->B = static_cast<uint8_t>(e->C >> 20);
    e->C &= 0xFFFFFu;
  } else {
    e->CT = 8;
    e->B = static_cast<uint8_t>(e->C >> 19);  // the carry, already in B, drops out here
    e->C &= 0x7FFFFu;
  }
  return true;
}

bool put(MqEncoder* e, uint8_t b) { return e->byteOut(b, e->byteOutContext) != 0; }

// Takes the next coded byte, or 0 when there is none (refilling from the callback as needed).
inline bool next_byte(MqDecoder* d, uint32_t* b) {
  if (d->ptr == d->end) {
    const uint8_t* data = nullptr;
    uint32_t length = 0;
    if (d->refill == nullptr || !d->refill(&data, &length, d->refillContext) || length == 0 ||
        data == nullptr) {
      d->mode = MQD_MODE_RAN_OUT;
      return false;
    }
    d->ptr = data;
    d->end = data + length;
  }
  *b = *d->ptr++;
  return true;
}

void bytein_sw(MqDecoder* d) {
  uint32_t b;
  if (d->mode == MQD_MODE_DATA && next_byte(d, &b)) {
    if (d->B == 0xFF) {
      if (b > 0x8F) {
        d->mode = MQD_MODE_END_MARKER;
        b = 0x7F;
      }
      d->C += (0x7Fu - b) << 9;
      d->CT = 7;
    } else {
      d->C += (0xFFu - b) << 8;
      d->CT = 8;
    }
    d->B = static_cast<uint8_t>(b);
    return;
  }
  // The inverted register takes the 1-bits past the end as zeros: nothing to add.
  d->CT = 8;
}

void start(MqDecoder* d, const uint8_t* data, uint32_t length, MqRefillFn refill, void* context,
           VltState* state) {
  d->ptr = data;
  d->end = data == nullptr ? data : data + length;
  d->refill = refill;
  d->refillContext = context;
  d->state = state;
  d->mode = MQD_MODE_DATA;
  d->C = 0;
  d->CT = 0;
  uint32_t b;
  // Missing data reads as 1-bits from its very first byte on, as it does past the end.
  d->B = next_byte(d, &b) ? static_cast<uint8_t>(b) : 0xFF;
}

// Shifts in whole runs of bits between byte boundaries rather than one bit at a time.
template <void (*ByteIn)(MqDecoder*)>
inline void renormd(MqDecoder* d) {
  int n = renorm_bits(d->A);
  while (n > 0) {
    if (d->CT == 0) ByteIn(d);
    const int s = n < d->CT ? n : d->CT;
    d->A = static_cast<uint16_t>(d->A << s);
    d->C <<= s;
    d->CT -= s;
    n -= s;
  }
}

}  // namespace

namespace vlt_mq {

void bytein(MqDecoder* d) {
  uint32_t b;
  if (d->mode == MQD_MODE_DATA && next_byte(d, &b)) {
    if (d->B == 0xFF) {
      if (b > 0x8F) {
        d->mode = MQD_MODE_END_MARKER;
        b = 0x7F;
      }
      d->B = static_cast<uint8_t>(b);
      d->C += b << 9;
      d->CT = 7;
    } else {
      d->B = static_cast<uint8_t>(b);
      d->C += b << 8;
      d->CT = 8;
    }
    return;
  }
  // Past the end: alternate 0xFF and 0x7F, an endless run of 1-bits.
  if (d->B == 0xFF) {
    d->B = 0x7F;
    d->C += 0xFE00u;
    d->CT = 7;
  } else {
    d->B = 0xFF;
    d->C += 0xFF00u;
    d->CT = 8;
  }
}

}  // namespace vlt_mq

using vlt_mq::bytein;

extern "C" {

constexpr VltMqQeTable VltMq_qe = [] {
  VltMqQeTable t{};
  for (size_t i = 0; i < 128; ++i) t.qe[i] = kRows[i].qe;
  return t;
}();

void VltEncode_mqeInit(MqEncoder* enc, MqByteOutFn byteOut, void* context, VltState* state) {
  enc->C = 0;
  enc->A = 0x8000;
  enc->CT = 12;
  enc->B = 0;
  enc->byteOut = byteOut;
  enc->byteOutContext = context;
  enc->state = state;
  enc->started = 0;
}

int VltEncode_mqeEncode(MqEncoder* enc, uint8_t* cx, int bit) {
  // As in decoding, the context byte is stored last so the registers can stay in registers.
  const uint8_t c = *cx;
  const QeRow& r = row_of(c);
  const uint32_t qe = r.qe;
  const unsigned mps = c >> 7;
  uint32_t a = enc->A - qe;
  uint32_t code = enc->C;
  uint8_t next;
  if (static_cast<unsigned>(bit != 0) == mps) {
    if (a & 0x8000u) {
      enc->A = static_cast<uint16_t>(a);
      enc->C = code + qe;
      return 1;
    }
    if (a < qe)
      a = qe;
    else
      code += qe;
    next = after_mps(r, c);
  } else {
    if (a < qe)
      code += qe;
    else
      a = qe;
    next = after_lps(r, c);
  }
  int n = renorm_bits(static_cast<uint16_t>(a));
  int ct = enc->CT;
  while (n > 0) {
    const int s = n < ct ? n : ct;
    a <<= s;
    code <<= s;
    ct -= s;
    n -= s;
    if (ct == 0) {
      enc->A = static_cast<uint16_t>(a);
      enc->C = code;
      enc->CT = 0;
      if (!byteout(enc)) {
        *cx = next;
        return 0;
      }
      code = enc->C;
      ct = enc->CT;
    }
  }
  enc->A = static_cast<uint16_t>(a);
  enc->C = code;
  enc->CT = ct;
  *cx = next;
  return 1;
}

int VltEncode_mqeEncodeRun(MqEncoder* enc, uint8_t* cx, int bit, uint32_t count) {
  while (count > 0) {
    const uint32_t qe = row_of(*cx).qe;
    if (static_cast<unsigned>(bit != 0) == (*cx >> 7u)) {
      // While the interval stays at or above 0x8000 a more probable symbol only moves A and C by
      // Qe; the decision that would take it below is coded normally and renormalises.
      const uint32_t room = enc->A - 0x8000u;
      const uint32_t m = uint64_t{count} * qe <= room ? count : room / qe;
      enc->A = static_cast<uint16_t>(enc->A - m * qe);
      enc->C += m * qe;
      count -= m;
      if (count == 0) break;
    }
    if (!VltEncode_mqeEncode(enc, cx, bit)) return 0;
    --count;
  }
  return 1;
}

int VltEncode_mqeFlush(MqEncoder* enc) {
  // Choose the value in the final interval with the most trailing 1-bits.
  const uint32_t t = enc->C + enc->A;
  enc->C |= 0xFFFFu;
  if (enc->C >= t) enc->C -= 0x8000u;

  enc->C <<= enc->CT;
  if (!byteout(enc)) return 0;
  const bool wrote_ff = enc->B == 0xFF;
  enc->C <<= enc->CT;
  if (!byteout(enc)) return 0;
  if (enc->B == 0xFF) return put(enc, 0xFF) && put(enc, 0xAC);
  // A 0x7F after 0xFF decodes exactly as the 1-bits the decoder supplies past the end, so the
  // written 0xFF can start the marker at once.
  if (wrote_ff && enc->B == 0x7F) return put(enc, 0xAC);
  enc->C <<= enc->CT;
  if (!byteout(enc)) return 0;
  return put(enc, 0xFF) && put(enc, 0xAC);
}

void VltEncode_mqdInit(MqDecoder* dec, const uint8_t* data, uint32_t length, MqRefillFn refill,
                       void* context, VltState* state) {
  start(dec, data, length, refill, context, state);
  dec->C = static_cast<uint32_t>(dec->B) << 16;
  bytein(dec);
  dec->C <<= 7;
  dec->CT -= 7;
  dec->A = 0x8000;
}

int VltEncode_mqdDecode(MqDecoder* dec, uint8_t* cx) {
  vlt_mq::FastDecoder f(dec);
  const int d = f.decode(cx);
  f.store();
  return d;
}

int VltEncode_mqdEndSeen(const MqDecoder* dec) { return dec->mode == MQD_MODE_END_MARKER; }

int VltEncode_mqdEndSeenSW(const MqDecoder* dec) { return dec->mode == MQD_MODE_END_MARKER; }

const uint8_t* VltEncode_mqdFinish(MqDecoder* dec) {
  if (dec->mode == MQD_MODE_END_MARKER) return dec->ptr;
  if (dec->mode == MQD_MODE_RAN_OUT || dec->B != 0xFF) return nullptr;
  // The last byte taken was 0xFF: the marker may be the very next byte. The register no longer
  // matters once decoding is over.
  bytein(dec);
  return dec->mode == MQD_MODE_END_MARKER ? dec->ptr : nullptr;
}

const uint8_t* VltEncode_mqdFinishSW(MqDecoder* dec) { return VltEncode_mqdFinish(dec); }

const uint8_t* VltEncode_mqdReadPos(const MqDecoder* dec) { return dec->ptr; }

void VltEncode_mqdInitSW(MqDecoder* dec, const uint8_t* data, uint32_t length, MqRefillFn refill,
                         void* context, VltState* state) {
  start(dec, data, length, refill, context, state);
  dec->C = static_cast<uint32_t>(dec->B ^ 0xFFu) << 16;
  bytein_sw(dec);
  dec->C <<= 7;
  dec->CT -= 7;
  dec->A = 0x8000;
}

int VltEncode_mqdDecodeSW(MqDecoder* dec, uint8_t* cx) {
  const uint8_t c = *cx;
  const QeRow& r = row_of(c);
  const uint32_t qe = r.qe;
  const int mps = c >> 7;
  const uint32_t a = dec->A - qe;
  int d;
  uint8_t next;
  if ((dec->C >> 16) < a) {
    dec->A = static_cast<uint16_t>(a);
    if (a & 0x8000u) return mps;
    if (a < qe) {
      d = 1 - mps;
      next = after_lps(r, c);
    } else {
      d = mps;
      next = after_mps(r, c);
    }
  } else {
    dec->C -= a << 16;
    if (a < qe) {
      d = mps;
      next = after_mps(r, c);
    } else {
      d = 1 - mps;
      next = after_lps(r, c);
    }
    dec->A = static_cast<uint16_t>(qe);
  }
  renormd<bytein_sw>(dec);
  *cx = next;
  return d;
}

}  // extern "C"
