#include "jbig2dec.h"

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
