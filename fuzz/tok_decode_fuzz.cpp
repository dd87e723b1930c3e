// The token decoder over arbitrary bytes: a dictionary stream decoded into the decoder, then a
// page stream rendered against it into a framed destination, through placements or composition.
// It must end with a status, never write outside the clip window nor read outside its input, and
// leave nothing allocated. Input: a 16-bit big-endian dictionary length, the dictionary bytes,
// the page bytes.

#include <cstdint>
#include <cstdlib>
#include <vector>

#include "vlt_adt.h"
#include "vlt_decoder.h"
#include "vlt_state.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  size_t dictLength = size_t{data[0]} << 8 | data[1];
  if (dictLength > size - 2) dictLength = size - 2;
  const uint8_t* dict = data + 2;
  const uint8_t* page = dict + dictLength;
  const size_t pageLength = size - 2 - dictLength;

  VltDecoder* decoder = nullptr;
  if (VltDec_init(&decoder, nullptr, nullptr) != VLT_OK) return 0;
  // The printer prints nothing to no stream: reports would only slow the run down.
  decoder->state->errState->context = nullptr;
  // Pages and region bitmaps up to four million pixels keep each input quick; the decoder
  // refuses larger ones before allocating them.
  VltDec_setMaxPagePixels(decoder, uint64_t{1} << 22);
  SegmentInfo* symbols = nullptr;
  if (dictLength != 0) VltDec_decodeDict(decoder, dict, static_cast<uint32_t>(dictLength), &symbols);
  VltAdtList* list = nullptr;
  if (VltDec_buildDictList(decoder, &list, symbols) == VLT_OK) {
    // A 256 x 192 page in a 32-pixel frame; the window reaches into the frame on the right and
    // below, and the guard rows and words around it must stay clear.
    constexpr int32_t kWords = (256 + 64) / 32, kRows = 192 + 64;
    std::vector<uint32_t> buffer(size_t{kWords} * kRows, 0);
    auto* bytes = reinterpret_cast<uint8_t*>(buffer.data());
    VltDec_renderBinaryImage(decoder, list, page, static_cast<uint32_t>(pageLength), bytes + 32 * kWords * 4 + 4,
                             256 + 32, 192 + 32, kWords);
    for (int32_t y = 0; y < kRows; ++y)
      for (int32_t w = 0; w < kWords; ++w)
        if ((y < 32 || w == 0) && buffer[size_t(y) * kWords + size_t(w)] != 0) std::abort();
  }
  VltDec_close(&decoder);
  return 0;
}
