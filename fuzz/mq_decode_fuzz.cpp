// Both MQ decoders over arbitrary bytes, fed through a byte source in windows whose sizes come
// from the input: they must read only inside the windows and always end. (They agree on every
// decision only for well-formed code streams; the unit tests hold them to that.)

#include <cstdint>
#include <vector>

#include "fuzz_windows.h"
#include "jb2_datastream.h"

namespace {

size_t decode(const uint8_t* data, size_t size, uint8_t step, bool sw, size_t decisions) {
  FuzzWindows w{data, size, 0, step};
  DataSource src{nullptr, 0, 0, FuzzWindows::more, &w, nullptr};
  MqDecoder dec;
  if (sw)
    VltEncode_mqdInitSW(&dec, nullptr, 0, data_in, &src, nullptr);
  else
    dsInitVltEncode_MQDecoder(&src, &dec);
  std::vector<uint8_t> cx(32, 0);
  size_t ones = 0;
  uint32_t pick = 0x9E3779B9u;
  for (size_t i = 0; i < decisions; ++i) {
    pick = pick * 1664525u + 1013904223u;
    uint8_t& c = cx[pick >> 27];
    ones += static_cast<size_t>(sw ? VltEncode_mqdDecodeSW(&dec, &c) : VltEncode_mqdDecode(&dec, &c));
  }
  if (dsFinalVltEncode_MQDecoder(&src, &dec) == VLT_OK && src.pos > src.size) __builtin_trap();
  return ones;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const uint8_t step = static_cast<uint8_t>(data[0] % 16 + 1);
  const size_t decisions = (size - 1) * 10 + 64;
  decode(data + 1, size - 1, step, false, decisions);
  decode(data + 1, size - 1, step, true, decisions);
  return 0;
}
