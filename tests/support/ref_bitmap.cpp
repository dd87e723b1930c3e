#include "ref_bitmap.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>

namespace monotest {

RefBitmap::RefBitmap(int w, int h)
    : width(w), height(h), stride((static_cast<size_t>(w) + 7) / 8),
      bits(stride * static_cast<size_t>(h), 0) {}

void RefBitmap::set(int x, int y, int v) {
  uint8_t m = static_cast<uint8_t>(0x80u >> (x & 7));
  if (v) row(y)[x >> 3] |= m; else row(y)[x >> 3] &= static_cast<uint8_t>(~m);
}

size_t RefBitmap::count() const {
  size_t n = 0;
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) n += static_cast<size_t>(get(x, y));
  return n;
}

bool RefBitmap::operator==(const RefBitmap& o) const { return first_difference(*this, o).empty(); }

size_t unexplained_ink(const RefBitmap& a, const RefBitmap& b) {
  size_t n = 0;
  for (int y = 0; y < a.height; ++y)
    for (int x = 0; x < a.width; ++x) {
      if (!a.get(x, y)) continue;
      bool near = false;
      for (int v = std::max(y - 1, 0); v <= std::min(y + 1, b.height - 1) && !near; ++v)
        for (int u = std::max(x - 1, 0); u <= std::min(x + 1, b.width - 1) && !near; ++u) near = b.get(u, v);
      n += !near;
    }
  return n;
}

std::string first_difference(const RefBitmap& e, const RefBitmap& a) {
  std::ostringstream s;
  if (e.width != a.width || e.height != a.height) {
    s << "size differs: expected " << e.width << "x" << e.height << ", got " << a.width << "x"
      << a.height;
    return s.str();
  }
  size_t diffs = 0;
  int fx = -1, fy = -1;
  for (int y = 0; y < e.height; ++y)
    for (int x = 0; x < e.width; ++x)
      if (e.get(x, y) != a.get(x, y)) {
        if (diffs++ == 0) { fx = x; fy = y; }
      }
  if (diffs == 0) return {};
  s << diffs << " pixel(s) differ; first at (" << fx << "," << fy << "): expected "
    << e.get(fx, fy) << ", got " << a.get(fx, fy);
  return s.str();
}

namespace {

size_t skip_space_and_comments(const std::string& b, size_t i) {
  while (i < b.size()) {
    if (b[i] == '#') {
      while (i < b.size() && b[i] != '\n') ++i;
    } else if (std::isspace(static_cast<unsigned char>(b[i]))) {
      ++i;
    } else {
      break;
    }
  }
  return i;
}

int read_number(const std::string& b, size_t& i) {
  i = skip_space_and_comments(b, i);
  if (i >= b.size() || !std::isdigit(static_cast<unsigned char>(b[i])))
    throw std::runtime_error("PBM: number expected");
  long v = 0;
  while (i < b.size() && std::isdigit(static_cast<unsigned char>(b[i]))) {
    v = v * 10 + (b[i++] - '0');
    if (v > 1000000) throw std::runtime_error("PBM: dimension too large");
  }
  return static_cast<int>(v);
}

}  // namespace

RefBitmap parse_pbm(const std::string& b) {
  if (b.size() < 2 || b[0] != 'P' || (b[1] != '1' && b[1] != '4'))
    throw std::runtime_error("PBM: not a P1 or P4 image");
  const bool plain = b[1] == '1';
  size_t i = 2;
  const int w = read_number(b, i);
  const int h = read_number(b, i);
  RefBitmap bm(w, h);
  if (plain) {
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        i = skip_space_and_comments(b, i);
        if (i >= b.size() || (b[i] != '0' && b[i] != '1'))
          throw std::runtime_error("PBM: truncated plain data");
        bm.set(x, y, b[i++] - '0');
      }
    return bm;
  }
  if (i >= b.size() || !std::isspace(static_cast<unsigned char>(b[i])))
    throw std::runtime_error("PBM: missing separator");
  ++i;
  if (b.size() - i < bm.bits.size()) throw std::runtime_error("PBM: truncated raw data");
  for (size_t k = 0; k < bm.bits.size(); ++k) bm.bits[k] = static_cast<uint8_t>(b[i + k]);
  // Keep the padding bits zero so row bytes compare equal.
  if (w % 8)
    for (int y = 0; y < h; ++y) bm.row(y)[bm.stride - 1] &= static_cast<uint8_t>(0xFF00 >> (w % 8));
  return bm;
}

RefBitmap read_pbm(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  if (!f) throw std::runtime_error("cannot open " + path);
  std::ostringstream s;
  s << f.rdbuf();
  return parse_pbm(s.str());
}

std::string format_pbm(const RefBitmap& bm, bool plain) {
  std::ostringstream s;
  s << (plain ? "P1\n" : "P4\n") << bm.width << " " << bm.height << "\n";
  if (plain) {
    for (int y = 0; y < bm.height; ++y) {
      for (int x = 0; x < bm.width; ++x) s << (bm.get(x, y) ? '1' : '0');
      s << '\n';
    }
  } else {
    s.write(reinterpret_cast<const char*>(bm.bits.data()), static_cast<std::streamsize>(bm.bits.size()));
  }
  return s.str();
}

void write_pbm(const std::string& path, const RefBitmap& bm, bool plain) {
  std::ofstream f(path, std::ios::binary);
  const std::string data = format_pbm(bm, plain);
  f.write(data.data(), static_cast<std::streamsize>(data.size()));
  if (!f) throw std::runtime_error("cannot write " + path);
}

RefBitmap make_noise(int w, int h, double density, uint32_t seed) {
  RefBitmap bm(w, h);
  std::mt19937 rng(seed);
  std::bernoulli_distribution on(density);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      if (on(rng)) bm.set(x, y, 1);
  return bm;
}

RefBitmap make_text_blobs(int w, int h, uint32_t seed) {
  RefBitmap bm(w, h);
  std::mt19937 rng(seed);
  const int line_height = 40;
  for (int top = 20; top + line_height < h; top += line_height + 10) {
    int x = 20 + static_cast<int>(rng() % 20);
    while (x < w - 40) {
      const int gw = 8 + static_cast<int>(rng() % 20);
      const int gh = 12 + static_cast<int>(rng() % 24);
      const int gy = top + line_height - gh;
      // A glyph: an outline box with a random interior stroke pattern.
      for (int yy = 0; yy < gh; ++yy)
        for (int xx = 0; xx < gw; ++xx) {
          const bool edge = yy < 3 || xx < 3 || yy >= gh - 3 || xx >= gw - 3;
          const bool stroke = ((xx * 7 + yy * 3 + static_cast<int>(seed)) % 11) < 2;
          if (x + xx < w && gy + yy < h && (edge || stroke)) bm.set(x + xx, gy + yy, 1);
        }
      x += gw + 3 + static_cast<int>(rng() % 6);
      if (rng() % 7 == 0) x += 15;  // word gap
    }
  }
  return bm;
}

RefBitmap make_lines(int w, int h, uint32_t seed) {
  RefBitmap bm(w, h);
  std::mt19937 rng(seed);
  for (int i = 0; i < 12; ++i) {
    const int y = static_cast<int>(rng() % static_cast<uint32_t>(h));
    for (int x = 0; x < w; ++x) bm.set(x, y, 1);
    const int x0 = static_cast<int>(rng() % static_cast<uint32_t>(w));
    for (int yy = 0; yy < h; ++yy) bm.set(x0, yy, 1);
    // A slanted stroke with slope 1/2.
    const int sx = static_cast<int>(rng() % static_cast<uint32_t>(w));
    for (int yy = 0; yy < h && sx + yy / 2 < w; ++yy) bm.set(sx + yy / 2, yy, 1);
  }
  return bm;
}

RefBitmap make_checkerboard(int w, int h, int cell) {
  RefBitmap bm(w, h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) bm.set(x, y, ((x / cell) + (y / cell)) & 1);
  return bm;
}

RefBitmap turned(const RefBitmap& page, double angle) {
  RefBitmap out(page.width, page.height);
  const double c = std::cos(angle), sn = std::sin(angle);
  const double mx = page.width / 2.0, my = page.height / 2.0;
  for (int y = 0; y < page.height; ++y)
    for (int x = 0; x < page.width; ++x) {
      const double dx = x - mx, dy = y - my;
      const long sx = std::lround(mx + c * dx + sn * dy), sy = std::lround(my - sn * dx + c * dy);
      if (sx >= 0 && sy >= 0 && sx < page.width && sy < page.height && page.get(int(sx), int(sy))) out.set(x, y, 1);
    }
  return out;
}

}  // namespace monotest
