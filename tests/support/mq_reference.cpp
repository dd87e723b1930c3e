#include "mq_reference.h"

namespace monotest {

namespace {

struct Row {
  uint32_t qe;
  uint8_t nmps, nlps, sw;
};

// T.88 Table E.1.
const Row kTable[47] = {
    {0x5601, 1, 1, 1},   {0x3401, 2, 6, 0},   {0x1801, 3, 9, 0},   {0x0AC1, 4, 12, 0},
    {0x0521, 5, 29, 0},  {0x0221, 38, 33, 0}, {0x5601, 7, 6, 1},   {0x5401, 8, 14, 0},
    {0x4801, 9, 14, 0},  {0x3801, 10, 14, 0}, {0x3001, 11, 17, 0}, {0x2401, 12, 18, 0},
    {0x1C01, 13, 20, 0}, {0x1601, 29, 21, 0}, {0x5601, 15, 14, 1}, {0x5401, 16, 14, 0},
    {0x5101, 17, 15, 0}, {0x4801, 18, 16, 0}, {0x3801, 19, 17, 0}, {0x3401, 20, 18, 0},
    {0x3001, 21, 19, 0}, {0x2801, 22, 19, 0}, {0x2401, 23, 20, 0}, {0x2201, 24, 21, 0},
    {0x1C01, 25, 22, 0}, {0x1801, 26, 23, 0}, {0x1601, 27, 24, 0}, {0x1401, 28, 25, 0},
    {0x1201, 29, 26, 0}, {0x1101, 30, 27, 0}, {0x0AC1, 31, 28, 0}, {0x09C1, 32, 29, 0},
    {0x08A1, 33, 30, 0}, {0x0521, 34, 31, 0}, {0x0441, 35, 32, 0}, {0x02A1, 36, 33, 0},
    {0x0221, 37, 34, 0}, {0x0141, 38, 35, 0}, {0x0111, 39, 36, 0}, {0x0085, 40, 37, 0},
    {0x0049, 41, 38, 0}, {0x0025, 42, 39, 0}, {0x0015, 43, 40, 0}, {0x0009, 44, 41, 0},
    {0x0005, 45, 42, 0}, {0x0001, 45, 43, 0}, {0x5601, 46, 46, 0},
};

}  // namespace

MqRefEncoder::MqRefEncoder(size_t contexts) : index_(contexts), mps_(contexts), buf_(1, 0) {}

void MqRefEncoder::encode(size_t cx, int d) {
  if (d == mps_[cx])
    code_mps(cx);
  else
    code_lps(cx);
}

void MqRefEncoder::code_lps(size_t cx) {
  const Row& r = kTable[index_[cx]];
  a_ -= r.qe;
  if (a_ < r.qe)
    c_ += r.qe;
  else
    a_ = r.qe;
  if (r.sw) mps_[cx] = static_cast<uint8_t>(1 - mps_[cx]);
  index_[cx] = r.nlps;
  renorme();
}

void MqRefEncoder::code_mps(size_t cx) {
  const Row& r = kTable[index_[cx]];
  a_ -= r.qe;
  if ((a_ & 0x8000) == 0) {
    if (a_ < r.qe)
      a_ = r.qe;
    else
      c_ += r.qe;
    index_[cx] = r.nmps;
    renorme();
  } else {
    c_ += r.qe;
  }
}

void MqRefEncoder::renorme() {
  do {
    a_ <<= 1;
    c_ <<= 1;
    if (--ct_ == 0) byteout();
  } while ((a_ & 0x8000) == 0);
}

void MqRefEncoder::byteout() {
  auto next = [&](unsigned shift, uint32_t mask, int ct) {
    ++bp_;
    buf_.resize(bp_ + 1);
    buf_[bp_] = static_cast<uint8_t>(c_ >> shift);
    c_ &= mask;
    ct_ = ct;
  };
  if (buf_[bp_] == 0xFF) {
    next(20, 0xFFFFF, 7);
  } else if (c_ < 0x8000000) {
    next(19, 0x7FFFF, 8);
  } else {
    ++buf_[bp_];
    if (buf_[bp_] == 0xFF) {
      c_ &= 0x7FFFFFF;
      next(20, 0xFFFFF, 7);
    } else {
      next(19, 0x7FFFF, 8);
    }
  }
}

std::vector<uint8_t> MqRefEncoder::flush() {
  const uint32_t t = c_ + a_;
  c_ |= 0xFFFF;
  if (c_ >= t) c_ -= 0x8000;
  c_ <<= ct_;
  byteout();
  c_ <<= ct_;
  byteout();
  if (buf_[bp_] != 0xFF) buf_.push_back(0xFF);
  buf_.push_back(0xAC);
  return std::vector<uint8_t>(buf_.begin() + 1, buf_.end());
}

MqRefDecoder::MqRefDecoder(const uint8_t* data, size_t size, size_t contexts)
    : data_(data), size_(size), index_(contexts), mps_(contexts) {
  c_ = static_cast<uint32_t>(byte_at(0)) << 16;
  bytein();
  c_ <<= 7;
  ct_ -= 7;
  a_ = 0x8000;
}

void MqRefDecoder::bytein() {
  if (byte_at(bp_) == 0xFF) {
    if (byte_at(bp_ + 1) > 0x8F) {
      c_ += 0xFF00;
      ct_ = 8;
    } else {
      ++bp_;
      c_ += static_cast<uint32_t>(byte_at(bp_)) << 9;
      ct_ = 7;
    }
  } else {
    ++bp_;
    c_ += static_cast<uint32_t>(byte_at(bp_)) << 8;
    ct_ = 8;
  }
}

void MqRefDecoder::renormd() {
  do {
    if (ct_ == 0) bytein();
    a_ <<= 1;
    c_ <<= 1;
    --ct_;
  } while ((a_ & 0x8000) == 0);
}

int MqRefDecoder::mps_exchange(size_t cx) {
  const Row& r = kTable[index_[cx]];
  int d;
  if (a_ < r.qe) {
    d = 1 - mps_[cx];
    if (r.sw) mps_[cx] = static_cast<uint8_t>(1 - mps_[cx]);
    index_[cx] = r.nlps;
  } else {
    d = mps_[cx];
    index_[cx] = r.nmps;
  }
  return d;
}

int MqRefDecoder::lps_exchange(size_t cx) {
  const Row& r = kTable[index_[cx]];
  int d;
  if (a_ < r.qe) {
    a_ = r.qe;
    d = mps_[cx];
    index_[cx] = r.nmps;
  } else {
    a_ = r.qe;
    d = 1 - mps_[cx];
    if (r.sw) mps_[cx] = static_cast<uint8_t>(1 - mps_[cx]);
    index_[cx] = r.nlps;
  }
  return d;
}

int MqRefDecoder::decode(size_t cx) {
  const Row& r = kTable[index_[cx]];
  a_ -= r.qe;
  int d;
  if ((c_ >> 16) < r.qe) {
    d = lps_exchange(cx);
    renormd();
  } else {
    c_ -= r.qe << 16;
    if ((a_ & 0x8000) == 0) {
      d = mps_exchange(cx);
      renormd();
    } else {
      d = mps_[cx];
    }
  }
  return d;
}

}  // namespace monotest
