// The segment loop over arbitrary bytes: headers, referred segments, every decoder and the
// composition of regions into a page, as a file or as an embedded stream, arriving in windows of
// a size the input chooses. It must end with a page or a status, never read outside its input
// and leave nothing allocated. The first byte chooses the form (bit 0) and the window size; a
// sequential file that arrives whole is read to its end, every page of it.

#include <cstdint>
#include <cstdlib>
#include <vector>

#include "fuzz_windows.h"
#include "jb2_page_reader.h"
#include "vlt_state.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const auto form = (data[0] & 1) != 0 ? jb2test::StreamForm::kEmbedded : jb2test::StreamForm::kFile;
  // Most inputs arrive whole; some in small windows, so that every field can straddle two.
  const size_t step = (data[0] >> 1) < 96 ? size : (data[0] >> 1) - 95;
  VltState* state = nullptr;
  if (Vlt_initVltState(&state, nullptr, nullptr, nullptr, nullptr, 0, 0) != VLT_OK) return 0;
  FuzzWindows w{data + 1, size - 1, 0, step};
  DataSource src{nullptr, 0, 0, FuzzWindows::more, &w, state};
  // Pages and region bitmaps up to four million pixels keep each input quick: the decoders read
  // coded data past its end for as long as a bitmap asks, so its size bounds the work.
  constexpr uint64_t kMaxPixels = uint64_t{1} << 22;
  if (form == jb2test::StreamForm::kFile && step == size && size > 9 && (data[9] & 0xFD) == 1) {
    std::vector<VltImage*> pages;
    if (jb2test::read_pages(state, data + 1, size - 1, &pages, kMaxPixels) != VLT_OK && !pages.empty()) std::abort();
    for (VltImage* p : pages) VltImage_free(p);
  } else {
    VltImage* page = nullptr;
    if (jb2test::read_page(state, &src, form, &page, kMaxPixels) == VLT_OK && page == nullptr) std::abort();
    VltImage_free(page);
  }
  Vlt_cleanupVltState(&state);
  return 0;
}
