// Reading whole page files.

#include "page_files.h"

#include "page_stream.h"

namespace monodoc {
namespace {

// A grey sample is black when darker than half (the engine has laid transparent pixels on white
// already); colour is weighed as libpng turns it grey.
bool is_dark(uint32_t grey) { return grey < 128; }
uint32_t grey_of(const uint8_t* rgb) { return (6968u * rgb[0] + 23434u * rgb[1] + 2366u * rgb[2] + 16384u) >> 15; }

}  // namespace

bool samples_to_bilevel(int32_t width, int32_t height, int32_t bits, int32_t samples, int64_t rowBytes,
                        const uint8_t* data, size_t length, bool oneIsBlack, Bilevel* page) {
  size_t stride;
  if (!data || !page_size_ok(width, height, &stride) || rowBytes < 1 ||
      !((bits == 1 && samples == 1) || (bits == 8 && (samples == 1 || samples == 3))) ||
      int64_t{width} * bits * samples > rowBytes * 8 || length / static_cast<size_t>(rowBytes) < static_cast<size_t>(height)) {
    return false;
  }
  page->width = width;
  page->height = height;
  page->stride = stride;
  page->bits.assign(stride * static_cast<size_t>(height), 0);
  for (int32_t y = 0; y < height; ++y) {
    const uint8_t* in = data + static_cast<size_t>(rowBytes) * static_cast<size_t>(y);
    uint8_t* out = page->row(y);
    if (bits == 1) {
      for (size_t i = 0; i < stride; ++i) out[i] = oneIsBlack ? in[i] : static_cast<uint8_t>(~in[i]);
      continue;
    }
    for (int32_t x = 0; x < width; ++x) {
      const uint32_t grey = samples == 1 ? in[x] : grey_of(in + 3 * x);
      if (is_dark(grey)) out[x >> 3] |= static_cast<uint8_t>(0x80 >> (x & 7));
    }
  }
  clear_padding(page);
  return true;
}

bool read_all_pages(const std::vector<std::string>& files, std::vector<Bilevel>* pages, std::string* error) {
  PageStream stream(files);
  std::vector<Bilevel> found;
  Bilevel page;
  while (stream.next(&page, error)) found.push_back(std::move(page));
  if (!error->empty()) return false;
  for (auto& p : found) pages->push_back(std::move(p));
  return true;
}

bool read_pages(const std::string& path, std::vector<Bilevel>* pages, std::string* error) {
  return read_all_pages({path}, pages, error);
}

}  // namespace monodoc
