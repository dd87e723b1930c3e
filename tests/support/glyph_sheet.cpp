#include "glyph_sheet.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <functional>
#include <sstream>
#include <stdexcept>
#include <unistd.h>

#include "pages.h"
#include "tools.h"

namespace fs = std::filesystem;

namespace monotest {

namespace {

// Raw PGM with optional comments in the header.
GrayImage parse_pgm(const std::string& g) {
  size_t i = 2;
  int vals[3] = {0, 0, 0};
  for (int& v : vals) {
    for (;;) {
      while (i < g.size() && std::isspace(static_cast<unsigned char>(g[i]))) ++i;
      if (i < g.size() && g[i] == '#') {
        while (i < g.size() && g[i] != '\n') ++i;
        continue;
      }
      break;
    }
    while (i < g.size() && g[i] >= '0' && g[i] <= '9') v = v * 10 + (g[i++] - '0');
  }
  ++i;
  if (g.compare(0, 2, "P5") != 0 || vals[2] != 255 || vals[0] <= 0 || vals[1] <= 0 ||
      g.size() - i < size_t(vals[0]) * size_t(vals[1]))
    throw std::runtime_error("ghostscript gave an unexpected image");
  GrayImage im;
  im.width = vals[0];
  im.height = vals[1];
  im.px.assign(g.begin() + std::ptrdiff_t(i), g.begin() + std::ptrdiff_t(i + size_t(im.width) * size_t(im.height)));
  return im;
}

// The cached rendering, made by running ghostscript with the given arguments when missing.
GrayImage cached_gs(const std::string& name, const std::string& args) {
  require_tool("gs", "ghostscript");
  const std::string path = cache_dir() + "/" + name + ".pgm";
  if (!fs::exists(path)) {
    fs::create_directories(cache_dir());
    const std::string tmp = path + ".tmp" + std::to_string(getpid());
    const ToolResult r = run_tool("gs -q -dNOPAUSE -dBATCH -dSAFER -sDEVICE=pgmraw -dTextAlphaBits=4 "
                                  "-dGraphicsAlphaBits=4 -sOutputFile=" + shell_quote(tmp) + " " + args);
    if (r.exit_code != 0 || !fs::exists(tmp)) throw std::runtime_error("ghostscript failed on " + name);
    fs::rename(tmp, path);
  }
  return parse_pgm(read_file(path));
}

}  // namespace

GrayImage gs_render_ps(const std::string& cache_name, const std::string& postscript, int dpi, int width, int height) {
  const std::string name = cache_name + "-" + std::to_string(std::hash<std::string>{}(postscript) & 0xffffffffu);
  const std::string ps = cache_dir() + "/" + name + ".ps";
  fs::create_directories(cache_dir());
  if (!fs::exists(ps)) write_file(ps, postscript);
  return cached_gs(name, "-r" + std::to_string(dpi) + " -g" + std::to_string(width) + "x" + std::to_string(height) +
                             " " + shell_quote(ps));
}

GrayImage gaussian_blur(const GrayImage& im, double sigma) {
  if (sigma <= 0) return im;
  const int r = static_cast<int>(std::ceil(3 * sigma));
  std::vector<double> k(size_t(2 * r + 1));
  double sum = 0;
  for (int i = -r; i <= r; ++i) sum += k[size_t(i + r)] = std::exp(-0.5 * i * i / (sigma * sigma));
  for (double& v : k) v /= sum;
  // Rows blurred across are kept in a ring of 2r + 1, enough for one output row down.
  const size_t w = size_t(im.width);
  std::vector<double> ring(size_t(2 * r + 1) * w);
  const auto across = [&](int y, double* out) {
    const uint8_t* row = &im.px[size_t(y) * w];
    for (int x = 0; x < im.width; ++x) {
      double v = 0;
      for (int i = -r; i <= r; ++i) v += k[size_t(i + r)] * row[std::clamp(x + i, 0, im.width - 1)];
      out[x] = v;
    }
  };
  const auto slot = [&](int y) { return &ring[size_t(std::clamp(y, 0, im.height - 1) % (2 * r + 1)) * w]; };
  for (int y = 0; y < std::min(r, im.height); ++y) across(y, slot(y));
  GrayImage out = im;
  for (int y = 0; y < im.height; ++y) {
    if (y + r < im.height) across(y + r, slot(y + r));
    for (int x = 0; x < im.width; ++x) {
      double v = 0;
      for (int i = -r; i <= r; ++i) v += k[size_t(i + r)] * slot(y + i)[x];
      out.px[size_t(y) * w + size_t(x)] = static_cast<uint8_t>(std::clamp(std::lround(v), 0L, 255L));
    }
  }
  return out;
}

void add_noise(GrayImage& im, double sigma, uint32_t seed) {
  // splitmix64 and Box-Muller pairs: cheap, and the same numbers on every library.
  uint64_t state = seed;
  const auto uniform = [&state]() {
    uint64_t z = (state += 0x9e3779b97f4a7c15ull);
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ull;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebull;
    return (double((z ^ (z >> 31)) >> 11) + 0.5) * 0x1.0p-53;
  };
  const auto add = [sigma](uint8_t& p, double n) {
    p = static_cast<uint8_t>(std::clamp(std::lround(p + n * sigma), 0L, 255L));
  };
  for (size_t i = 0; i < im.px.size(); i += 2) {
    const double r = std::sqrt(-2.0 * std::log(uniform())), t = 6.283185307179586 * uniform();
    add(im.px[i], r * std::cos(t));
    if (i + 1 < im.px.size()) add(im.px[i + 1], r * std::sin(t));
  }
}

RefBitmap threshold(const GrayImage& im, int level) {
  RefBitmap bm(im.width, im.height);
  for (int y = 0; y < im.height; ++y)
    for (int x = 0; x < im.width; ++x)
      if (im.at(x, y) < level) bm.set(x, y, 1);
  return bm;
}

int GlyphSheet::cell_at(int x, int y) const {
  for (size_t i = 0; i < cells.size(); ++i)
    if (x >= cells[i].x0 && x <= cells[i].x1 && y >= cells[i].y0 && y <= cells[i].y1) return static_cast<int>(i);
  return -1;
}

GlyphSheet glyph_sheet(const std::vector<std::string>& fonts, const std::vector<std::string>& texts,
                       const std::vector<double>& points, int dpi, int repeats) {
  const double biggest = *std::max_element(points.begin(), points.end());
  const double cw = 2.4 * biggest, ch = 1.9 * biggest;  // cell size in points
  const int columns = 24;
  const size_t count = fonts.size() * texts.size() * points.size() * size_t(repeats);
  const int rows = static_cast<int>((count + columns - 1) / columns);
  const double pw = columns * cw, ph = rows * ch;
  const int width = static_cast<int>(std::ceil(pw * dpi / 72.0)), height = static_cast<int>(std::ceil(ph * dpi / 72.0));
  GlyphSheet sheet;
  std::ostringstream ps;
  ps << "%!PS\n";
  size_t i = 0;
  for (const std::string& font : fonts)
    for (double size : points)
      for (const std::string& text : texts)
        for (int k = 0; k < repeats; ++k, ++i) {
          const int col = static_cast<int>(i % columns), row = static_cast<int>(i / columns);
          // Sub-pixel phases differ from copy to copy.
          const double phase = ((i * 7 + size_t(k) * 3) % 10) / 10.0 * 72.0 / dpi;
          const double x = col * cw + 0.4 * biggest + phase;
          const double y = ph - (row + 1) * ch + 0.5 * biggest + phase * 0.7;
          ps << "/" << font << " findfont " << size << " scalefont setfont " << x << " " << y << " moveto (" << text
             << ") show\n";
          SheetCell c;
          c.font = font;
          c.text = text;
          c.points = size;
          c.x0 = static_cast<int>(col * cw * dpi / 72.0);
          c.x1 = static_cast<int>((col + 1) * cw * dpi / 72.0) - 1;
          c.y0 = static_cast<int>(row * ch * dpi / 72.0);
          c.y1 = static_cast<int>((row + 1) * ch * dpi / 72.0) - 1;
          sheet.cells.push_back(c);
        }
  ps << "showpage\n";
  sheet.gray = gs_render_ps("sheet-" + std::to_string(dpi), ps.str(), dpi, width, height);
  return sheet;
}

}  // namespace monotest
