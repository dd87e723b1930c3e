// Writes the seed corpus of one fax decoder fuzz target (FAX_FUZZ_K as the target) into the
// folder given: our own codings of small pathological and random images, with their headers.

#include <cstdint>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "fax_encode.h"
#include "fax_fuzz_input.h"
#include "vlt_state.h"

namespace {

struct Image {
  int32_t width, lines, stride;
  std::vector<uint32_t> words;  // rows of big-endian words, as the coder reads them
  Image(int32_t w, int32_t h) : width(w), lines(h), stride((w + 31) / 32), words(static_cast<size_t>(stride) * h) {}
  void set(int32_t x, int32_t y) {
    auto* bytes = reinterpret_cast<uint8_t*>(words.data() + static_cast<size_t>(stride) * y);
    bytes[x >> 3] |= static_cast<uint8_t>(0x80 >> (x & 7));
  }
};

Image make(int kind, int32_t w, int32_t h, std::mt19937& rng) {
  Image im(w, h);
  for (int32_t y = 0; y < h; ++y)
    for (int32_t x = 0; x < w; ++x) {
      bool on = false;
      switch (kind) {
        case 0: on = false; break;                                 // white
        case 1: on = true; break;                                  // black
        case 2: on = ((x + y) & 1) != 0; break;                    // checkerboard
        case 3: on = (x & 1) != 0; break;                          // columns
        case 4: on = rng() % 2 == 0; break;                        // noise
        case 5: on = rng() % 20 == 0; break;                       // sparse noise
        default: on = (x / 7 + y / 9) % 3 == 0 && x % 7 < 5; break;  // blocks like glyphs
      }
      if (on) im.set(x, y);
    }
  return im;
}

bool write_seed(const std::string& dir, int n, const Image& im, const uint8_t* bytes, size_t size) {
  uint8_t header[kFaxFuzzHeader];
  fax_fuzz_header(im.width, im.lines, header);
  const std::string path = dir + "/seed" + std::to_string(n);
  FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return false;
  const bool ok = std::fwrite(header, 1, sizeof header, f) == sizeof header &&
                  std::fwrite(bytes, 1, size, f) == size;
  return std::fclose(f) == 0 && ok;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s CORPUS_DIR\n", argv[0]);
    return 2;
  }
  VltState* st = nullptr;
  if (Vlt_initVltState(&st, nullptr, nullptr, nullptr, nullptr, 0, 0) != VLT_OK) return 1;
  std::mt19937 rng(1);
  int n = 0;
  for (int32_t w : {1, 7, 33, 200, 1728}) {
    for (int kind = 0; kind < 7; ++kind) {
      const Image im = make(kind, w, 1 + static_cast<int32_t>(rng() % kFaxFuzzMaxLines), rng);
      // T.6 as such, else T.4 with and without EOLs, alignment and uncompressed mode.
      const int variants = FAX_FUZZ_K < 0 ? 2 : 4;
      for (int v = 0; v < variants; ++v) {
        std::vector<uint8_t> out(static_cast<size_t>(w + 64) * static_cast<size_t>(im.lines + 1) + 128);
        size_t size = out.size();
        FaxEncoder* enc = nullptr;
        if (EncodeCreate(&enc, st) != VLT_OK || EncodeInit(enc, w) != VLT_OK) return 1;
        const int32_t K = FAX_FUZZ_K < 0 ? -1 : FAX_FUZZ_K == 0 ? 0 : 1 + v;
        const VltStatus s = DoPage(enc, out.data(), &size, im.words.data(), im.stride, im.lines, K,
                                   FAX_FUZZ_K >= 0 || v == 1, 1, v >= 2 || v == 1, v == 3, 1);
        EncodeCleanUp(&enc);
        if (s != VLT_OK || !write_seed(argv[1], n++, im, out.data(), size)) return 1;
      }
    }
  }
  Vlt_cleanupVltState(&st);
  return 0;
}
