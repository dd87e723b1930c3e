#include "jbig2dec.h"

#include <cctype>
#include <filesystem>
#include <stdexcept>

#include "tools.h"

namespace monotest {

namespace {

std::string as_string(const std::vector<uint8_t>& b) { return std::string(b.begin(), b.end()); }

Jbig2decResult run(const TempDir& dir, const std::string& inputs, const std::string& options) {
  require_tool("jbig2dec", "jbig2dec");
  const std::string out = dir.file("page.pbm");
  const std::string log = dir.file("messages.txt");
  const ToolResult r = run_tool("jbig2dec " + options + " -t pbm -o " + shell_quote(out) + " " +
                                inputs + " >" + shell_quote(log) + " 2>&1");
  Jbig2decResult res;
  res.messages = read_file(log);
  if (r.exit_code != 0 || !std::filesystem::exists(out))
    throw std::runtime_error("jbig2dec gave no page (exit " + std::to_string(r.exit_code) +
                             "): " + res.messages);
  res.page = read_pbm(out);
  return res;
}

}  // namespace

Jbig2decResult jbig2dec_decode(const std::vector<uint8_t>& file) {
  TempDir dir;
  const std::string in = dir.file("stream.jb2");
  write_file(in, as_string(file));
  return run(dir, shell_quote(in), "");
}

std::vector<RefBitmap> jbig2dec_decode_pages(const std::vector<uint8_t>& file, std::string* messages) {
  TempDir dir;
  const std::string in = dir.file("stream.jb2");
  write_file(in, as_string(file));
  Jbig2decResult first = run(dir, shell_quote(in), "");
  if (messages != nullptr) *messages = first.messages;
  // jbig2dec writes the pages one after another into the output file as raw PBMs.
  const std::string all = read_file(dir.file("page.pbm"));
  std::vector<RefBitmap> pages;
  size_t at = 0;
  while (at < all.size()) {
    size_t p = at;
    std::vector<long> numbers;
    if (all.compare(p, 2, "P4") != 0) throw std::runtime_error("jbig2dec output is not a run of raw PBMs");
    p += 2;
    while (numbers.size() < 2) {
      while (p < all.size() && std::isspace(static_cast<unsigned char>(all[p]))) ++p;
      if (p < all.size() && all[p] == '#') {
        while (p < all.size() && all[p] != '\n') ++p;
        continue;
      }
      size_t used = 0;
      numbers.push_back(std::stol(all.substr(p, 12), &used));
      p += used;
    }
    ++p;  // the single white-space character before the raster
    const size_t end = p + size_t((numbers[0] + 7) / 8) * size_t(numbers[1]);
    if (end > all.size()) throw std::runtime_error("jbig2dec output ends inside a page");
    pages.push_back(parse_pbm(all.substr(at, end - at)));
    at = end;
  }
  return pages;
}

Jbig2decResult jbig2dec_decode_embedded(const std::vector<uint8_t>& globals,
                                        const std::vector<uint8_t>& page) {
  TempDir dir;
  const std::string g = dir.file("globals.jb2");
  const std::string p = dir.file("page.jb2");
  write_file(g, as_string(globals));
  write_file(p, as_string(page));
  return run(dir, shell_quote(g) + " " + shell_quote(p), "-e");
}

}  // namespace monotest
