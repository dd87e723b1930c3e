#ifndef MONOTEST_MQ_REFERENCE_H
#define MONOTEST_MQ_REFERENCE_H

// The MQ arithmetic coder written straight from the flowcharts of ITU-T T.88 Annex E: a byte
// buffer with a pointer BP, separate state and MPS arrays per context, and the look-ahead BYTEIN.
// It is the oracle and the speed reference for the library's coder; it shares no code with it.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace monotest {

class MqRefEncoder {
 public:
  explicit MqRefEncoder(size_t contexts);
  void encode(size_t cx, int d);
  // FLUSH; returns the code stream (ending with FF AC).
  std::vector<uint8_t> flush();

 private:
  void code_mps(size_t cx);
  void code_lps(size_t cx);
  void renorme();
  void byteout();

  std::vector<uint8_t> index_, mps_;
  std::vector<uint8_t> buf_;  // buf_[0] is the byte before the stream start (BPST - 1)
  size_t bp_ = 0;
  uint32_t a_ = 0x8000, c_ = 0;
  int ct_ = 12;
};

class MqRefDecoder {
 public:
  MqRefDecoder(const uint8_t* data, size_t size, size_t contexts);
  int decode(size_t cx);

 private:
  uint8_t byte_at(size_t i) const { return i < size_ ? data_[i] : 0xFF; }
  void bytein();
  void renormd();
  int mps_exchange(size_t cx);
  int lps_exchange(size_t cx);

  const uint8_t* data_;
  size_t size_;
  size_t bp_ = 0;
  std::vector<uint8_t> index_, mps_;
  uint32_t a_ = 0, c_ = 0;
  int ct_ = 0;
};

}  // namespace monotest

#endif
