#include "pages.h"

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <stdexcept>
#include <unistd.h>

#include "tools.h"

#ifndef MONOTEST_SOURCE_SHARED_DIR
#define MONOTEST_SOURCE_SHARED_DIR "../shared"
#endif

namespace fs = std::filesystem;

namespace monotest {

namespace {

constexpr const char* kChartDir = "/usr/share/jbigkit-testdata";
constexpr const char* kDocPdf = "/usr/share/doc/libtasn1-doc/libtasn1.pdf";

// Builds the cached file with make(tmp) unless it is there; rename keeps parallel tests safe.
std::string cached(const std::string& name, const std::function<void(const std::string&)>& make) {
  const std::string path = cache_dir() + "/" + name;
  if (fs::exists(path)) return path;
  fs::create_directories(cache_dir());
  const std::string tmp = path + ".tmp" + std::to_string(getpid());
  make(tmp);
  fs::rename(tmp, path);
  return path;
}

std::string cached(const std::string& name, void (*make)(const std::string&, int), int arg) {
  return cached(name, [&](const std::string& tmp) { make(tmp, arg); });
}

void make_chart(const std::string& out, int n) {
  require_tool("jbgtopbm", "jbigkit-bin");
  const std::string src = std::string(kChartDir) + "/ccitt" + std::to_string(n) + ".jbg";
  if (!fs::exists(src)) throw std::runtime_error(src + " is missing: apt-get install jbigkit-testdata");
  const ToolResult r = run_tool("jbgtopbm " + shell_quote(src) + " " + shell_quote(out));
  if (r.exit_code != 0) throw std::runtime_error("jbgtopbm failed on " + src);
}

void make_doc_page(const std::string& out, int n) {
  require_tool("pdftoppm", "poppler-utils");
  if (!fs::exists(kDocPdf)) throw std::runtime_error(std::string(kDocPdf) + " is missing: apt-get install libtasn1-doc");
  const std::string p = std::to_string(n);
  const ToolResult r =
      run_tool("pdftoppm -r 300 -gray -f " + p + " -l " + p + " " + shell_quote(kDocPdf));
  if (r.exit_code != 0) throw std::runtime_error("pdftoppm failed on page " + p);
  // Raw PGM, 8-bit: threshold at half intensity.
  const std::string& g = r.output;
  size_t i = 2;
  int vals[3] = {0, 0, 0};
  for (int& v : vals) {
    while (i < g.size() && (g[i] == ' ' || g[i] == '\n' || g[i] == '\r' || g[i] == '\t')) ++i;
    while (i < g.size() && g[i] >= '0' && g[i] <= '9') v = v * 10 + (g[i++] - '0');
  }
  ++i;
  if (g.compare(0, 2, "P5") != 0 || vals[2] != 255 ||
      g.size() - i < static_cast<size_t>(vals[0]) * static_cast<size_t>(vals[1]))
    throw std::runtime_error("pdftoppm gave an unexpected image");
  RefBitmap bm(vals[0], vals[1]);
  for (int y = 0; y < bm.height; ++y)
    for (int x = 0; x < bm.width; ++x)
      if (static_cast<unsigned char>(g[i + static_cast<size_t>(y) * bm.width + x]) < 128) bm.set(x, y, 1);
  write_pbm(out, bm);
}

}  // namespace

std::string shared_dir() {
  if (const char* e = std::getenv("MONO_SHARED_DIR"); e && *e) return e;
  return MONOTEST_SOURCE_SHARED_DIR;
}

std::string feature_dir() { return shared_dir() + "/testdata/jbig2-features"; }

std::string cache_dir() {
  if (const char* e = std::getenv("MONO_CACHE_DIR"); e && *e) return e;
  return (fs::temp_directory_path() / "mono-page-cache").string();
}

RefBitmap ccitt_chart(int n) {
  if (n < 1 || n > 8) throw std::invalid_argument("CCITT charts are numbered 1 to 8");
  return read_pbm(cached("ccitt" + std::to_string(n) + ".pbm", make_chart, n));
}

RefBitmap doc_page(int n) {
  return read_pbm(cached("doc-page" + std::to_string(n) + ".pbm", make_doc_page, n));
}

std::string doc_page_render(int n, int dpi, const std::string& mode) {
  const char* option = mode == "mono" ? " -mono" : mode == "gray" ? " -gray" : mode == "color" ? "" : nullptr;
  if (!option) throw std::invalid_argument("pages render as mono, gray or color, not " + mode);
  const std::string name = "doc-page" + std::to_string(n) + "-" + std::to_string(dpi) + "-" + mode + ".pnm";
  return cached(name, [&](const std::string& out) {
    require_tool("pdftoppm", "poppler-utils");
    if (!fs::exists(kDocPdf)) throw std::runtime_error(std::string(kDocPdf) + " is missing: apt-get install libtasn1-doc");
    const std::string p = std::to_string(n);
    const ToolResult r = run_tool("pdftoppm -r " + std::to_string(dpi) + option + " -f " + p + " -l " + p + " " +
                                  shell_quote(kDocPdf) + " > " + shell_quote(out));
    if (r.exit_code != 0) throw std::runtime_error("pdftoppm failed on page " + p);
  });
}

std::vector<std::string> sample_page_names() {
  return {"ccitt1", "ccitt4", "ccitt7", "doc3", "doc10"};
}

RefBitmap sample_page(const std::string& name) {
  if (name.rfind("ccitt", 0) == 0) return ccitt_chart(std::stoi(name.substr(5)));
  if (name.rfind("doc", 0) == 0) return doc_page(std::stoi(name.substr(3)));
  throw std::invalid_argument("unknown sample page " + name);
}

const RefBitmap& cached_sample_page(const std::string& name) {
  static std::map<std::string, RefBitmap> cache;
  auto it = cache.find(name);
  if (it == cache.end()) it = cache.emplace(name, sample_page(name)).first;
  return it->second;
}

}  // namespace monotest
