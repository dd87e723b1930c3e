// PBM reading and writing, and the page helpers every format shares.

#include "pbm.h"

#include <algorithm>
#include <cstdio>

#include "checked_size.h"

namespace monodoc {

bool page_size_ok(int64_t width, int64_t height, size_t* stride) {
  if (width < 1 || height < 1 || width > max_side || height > max_side) return false;
  const size_t s = static_cast<size_t>((width + 7) / 8);
  size_t total;
  if (!mono::checked_mul(s, static_cast<size_t>(height), &total) || total > max_page_bytes) return false;
  *stride = s;
  return true;
}

void clear_padding(Bilevel* page) {
  const int tail = page->width % 8;
  if (tail == 0) return;
  const auto mask = static_cast<uint8_t>(0xFF << (8 - tail));
  for (int32_t y = 0; y < page->height; ++y) page->row(y)[page->stride - 1] &= mask;
}

namespace {

bool is_space(uint8_t c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f'; }

class Reader {
 public:
  Reader(const uint8_t* data, size_t size) : p_(data), end_(data + size) {}

  // Skips blanks and comments; false at the end of the data.
  bool skip_blanks() {
    while (p_ < end_) {
      if (*p_ == '#') {
        while (p_ < end_ && *p_ != '\n' && *p_ != '\r') ++p_;
      } else if (is_space(*p_)) {
        ++p_;
      } else {
        return true;
      }
    }
    return false;
  }

  // A decimal number of at most 9 digits after blanks and comments.
  bool number(int64_t* value) {
    if (!skip_blanks() || *p_ < '0' || *p_ > '9') return false;
    int64_t v = 0;
    int digits = 0;
    while (p_ < end_ && *p_ >= '0' && *p_ <= '9') {
      if (++digits > 9) return false;
      v = v * 10 + (*p_++ - '0');
    }
    *value = v;
    return true;
  }

  bool take(uint8_t* c) {
    if (p_ == end_) return false;
    *c = *p_++;
    return true;
  }
  size_t remaining() const { return static_cast<size_t>(end_ - p_); }
  const uint8_t* here() const { return p_; }
  void advance(size_t n) { p_ += n; }

 private:
  const uint8_t* p_;
  const uint8_t* end_;
};

bool fail(std::string* error, const char* what) {
  *error = what;
  return false;
}

bool read_raster_raw(Reader* in, Bilevel* page, std::string* error) {
  uint8_t sep;
  if (!in->take(&sep) || !is_space(sep)) return fail(error, "no blank before the raster");
  if (in->remaining() < page->bits.size()) return fail(error, "the raster is truncated");
  std::copy(in->here(), in->here() + page->bits.size(), page->bits.begin());
  in->advance(page->bits.size());
  clear_padding(page);
  return true;
}

bool read_raster_plain(Reader* in, Bilevel* page, std::string* error) {
  for (int32_t y = 0; y < page->height; ++y) {
    uint8_t* row = page->row(y);
    for (int32_t x = 0; x < page->width; ++x) {
      uint8_t c;
      if (!in->skip_blanks() || !in->take(&c)) return fail(error, "the raster is truncated");
      if (c != '0' && c != '1') return fail(error, "a plain raster holds something other than 0 and 1");
      if (c == '1') row[x >> 3] |= static_cast<uint8_t>(0x80 >> (x & 7));
    }
  }
  return true;
}

}  // namespace

bool parse_pbm(const uint8_t* data, size_t size, std::vector<Bilevel>* pages, std::string* error) {
  Reader in(data, size);
  std::vector<Bilevel> found;
  while (in.skip_blanks()) {
    uint8_t p, kind;
    if (!in.take(&p) || !in.take(&kind) || p != 'P' || (kind != '1' && kind != '4')) {
      return fail(error, found.empty() ? "not a PBM file (P1 or P4)" : "data after the last image is not a PBM image");
    }
    int64_t width, height;
    if (!in.number(&width) || !in.number(&height)) return fail(error, "the header has no width and height");
    Bilevel page;
    if (!page_size_ok(width, height, &page.stride)) return fail(error, "the page size is zero or too large");
    if (kind == '4' && in.remaining() / page.stride < static_cast<size_t>(height)) {
      return fail(error, "the raster is truncated");
    }
    if (kind == '1' && in.remaining() / static_cast<size_t>(width) < static_cast<size_t>(height)) {
      return fail(error, "the raster is truncated");
    }
    page.width = static_cast<int32_t>(width);
    page.height = static_cast<int32_t>(height);
    page.bits.assign(page.stride * static_cast<size_t>(height), 0);
    if (!(kind == '4' ? read_raster_raw(&in, &page, error) : read_raster_plain(&in, &page, error))) return false;
    found.push_back(std::move(page));
  }
  if (found.empty()) return fail(error, "the file is empty");
  for (auto& page : found) pages->push_back(std::move(page));
  return true;
}

std::string format_pbm(const Bilevel& page) {
  char header[64];
  const int n = std::snprintf(header, sizeof header, "P4\n%d %d\n", page.width, page.height);
  std::string out(header, static_cast<size_t>(n));
  out.append(reinterpret_cast<const char*>(page.bits.data()), page.bits.size());
  return out;
}

}  // namespace monodoc
