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

bool is_space(int c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f'; }

bool fail(std::string* error, const char* what) {
  *error = what;
  return false;
}

// Reads a PBM stream through stdio's buffer, so an image's raster is the only large thing held.
class Reader {
 public:
  explicit Reader(std::FILE* in) : in_(in) {
    const long at = std::ftell(in);
    if (at >= 0 && std::fseek(in, 0, SEEK_END) == 0) {
      const long end = std::ftell(in);
      if (end >= at) size_ = static_cast<uint64_t>(end);
    }
    std::fseek(in, at < 0 ? 0 : at, SEEK_SET);
  }

  // Skips blanks and comments; false at the end of the data.
  bool skip_blanks() {
    for (int c = std::getc(in_); c != EOF; c = std::getc(in_)) {
      if (c == '#') {
        while (c != EOF && c != '\n' && c != '\r') c = std::getc(in_);
      } else if (!is_space(c)) {
        std::ungetc(c, in_);
        return true;
      }
    }
    return false;
  }

  // A decimal number of at most 9 digits after blanks and comments.
  bool number(int64_t* value) {
    if (!skip_blanks()) return false;
    int64_t v = 0;
    int digits = 0;
    int c = std::getc(in_);
    for (; c >= '0' && c <= '9'; c = std::getc(in_)) {
      if (++digits > 9) return false;
      v = v * 10 + (c - '0');
    }
    if (c != EOF) std::ungetc(c, in_);
    *value = v;
    return digits > 0;
  }

  bool take(uint8_t* c) {
    const int got = std::getc(in_);
    if (got == EOF) return false;
    *c = static_cast<uint8_t>(got);
    return true;
  }
  // Bytes left in the stream (what a size check before allocating needs).
  uint64_t remaining() const {
    const long at = std::ftell(in_);
    return at >= 0 && static_cast<uint64_t>(at) <= size_ ? size_ - static_cast<uint64_t>(at) : 0;
  }
  bool read(uint8_t* to, size_t n) { return std::fread(to, 1, n, in_) == n; }
  bool skip(uint64_t n) { return std::fseek(in_, static_cast<long>(n), SEEK_CUR) == 0; }

 private:
  std::FILE* in_;
  uint64_t size_ = 0;
};

bool read_raster_raw(Reader* in, Bilevel* page, std::string* error) {
  uint8_t sep;
  if (!in->take(&sep) || !is_space(sep)) return fail(error, "no blank before the raster");
  const uint64_t bytes = uint64_t{page->stride} * static_cast<uint64_t>(page->height);
  if (in->remaining() < bytes) return fail(error, "the raster is truncated");
  if (page->bits.empty()) return in->skip(bytes) || fail(error, "the raster is truncated");
  if (!in->read(page->bits.data(), page->bits.size())) return fail(error, "the raster is truncated");
  clear_padding(page);
  return true;
}

bool read_raster_plain(Reader* in, Bilevel* page, std::string* error) {
  const bool keep = !page->bits.empty();
  for (int32_t y = 0; y < page->height; ++y) {
    uint8_t* row = keep ? page->row(y) : nullptr;
    for (int32_t x = 0; x < page->width; ++x) {
      uint8_t c;
      if (!in->skip_blanks() || !in->take(&c)) return fail(error, "the raster is truncated");
      if (c != '0' && c != '1') return fail(error, "a plain raster holds something other than 0 and 1");
      if (c == '1' && keep) row[x >> 3] |= static_cast<uint8_t>(0x80 >> (x & 7));
    }
  }
  return true;
}

}  // namespace

int read_pbm_image(std::FILE* in, bool first, Bilevel* page, std::string* error) {
  Reader r(in);
  if (!r.skip_blanks()) {
    if (first) *error = "the file is empty";
    return first ? -1 : 0;
  }
  uint8_t p, kind;
  if (!r.take(&p) || !r.take(&kind) || p != 'P' || (kind != '1' && kind != '4'))
    return fail(error, first ? "not a PBM file (P1 or P4)" : "data after the last image is not a PBM image"), -1;
  int64_t width, height;
  if (!r.number(&width) || !r.number(&height)) return fail(error, "the header has no width and height"), -1;
  Bilevel found;
  if (!page_size_ok(width, height, &found.stride)) return fail(error, "the page size is zero or too large"), -1;
  // Checked before the raster is allocated: a header must not make us reserve what the file
  // cannot fill.
  const uint64_t least = kind == '4' ? uint64_t{found.stride} * static_cast<uint64_t>(height)
                                     : static_cast<uint64_t>(width) * static_cast<uint64_t>(height);
  if (r.remaining() < least) return fail(error, "the raster is truncated"), -1;
  found.width = static_cast<int32_t>(width);
  found.height = static_cast<int32_t>(height);
  if (page != nullptr) found.bits.assign(found.stride * static_cast<size_t>(height), 0);
  if (!(kind == '4' ? read_raster_raw(&r, &found, error) : read_raster_plain(&r, &found, error))) return -1;
  if (page != nullptr) *page = std::move(found);
  return 1;
}

bool parse_pbm(const uint8_t* data, size_t size, std::vector<Bilevel>* pages, std::string* error) {
  if (size == 0) return fail(error, "the file is empty");
  std::FILE* in = fmemopen(const_cast<uint8_t*>(data), size, "rb");
  if (in == nullptr) return fail(error, "no memory to read the PBM data");
  std::vector<Bilevel> found;
  Bilevel page;
  int got;
  while ((got = read_pbm_image(in, found.empty(), &page, error)) == 1) found.push_back(std::move(page));
  std::fclose(in);
  if (got < 0) return false;
  for (auto& p : found) pages->push_back(std::move(p));
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
