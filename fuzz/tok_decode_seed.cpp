// Writes the seed corpus of tok_decode_fuzz into the folder given: every shared JBIG2 feature
// stream as an embedded page without dictionary (MONO_SHARED_DIR names the shared folder; the
// build's own shared folder otherwise), and the same streams with their symbol dictionary moved
// to the dictionary part where they begin with one.

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "jb2_page_reader.h"

namespace {

bool write_seed(const std::string& path, const std::vector<uint8_t>& dict, const std::vector<uint8_t>& page) {
  std::ofstream f(path, std::ios::binary);
  const uint8_t length[2] = {static_cast<uint8_t>(dict.size() >> 8), static_cast<uint8_t>(dict.size())};
  f.write(reinterpret_cast<const char*>(length), 2);
  f.write(reinterpret_cast<const char*>(dict.data()), static_cast<std::streamsize>(dict.size()));
  f.write(reinterpret_cast<const char*>(page.data()), static_cast<std::streamsize>(page.size()));
  return static_cast<bool>(f);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s CORPUS_DIR\n", argv[0]);
    return 2;
  }
  const char* env = std::getenv("MONO_SHARED_DIR");
  const std::filesystem::path dir =
      std::filesystem::path(env != nullptr && *env != '\0' ? env : TOK_SEED_SHARED_DIR) / "testdata" / "jbig2-features";
  int written = 0;
  for (const auto& e : std::filesystem::directory_iterator(dir)) {
    if (e.path().extension() != ".jbig2") continue;
    std::ifstream in(e.path(), std::ios::binary);
    const std::vector<uint8_t> file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    jb2test::SplitFile split;
    if (!jb2test::split_file(file.data(), file.size(), &split)) continue;
    const std::string base = (std::filesystem::path(argv[1]) / e.path().stem()).string();
    if (!write_seed(base + ".page", {}, split.embedded)) return 1;
    // A first segment that is a symbol dictionary goes to the dictionary part.
    if (split.types.size() > 1 && split.boundaries.size() > 1 && split.embedded.size() > 4 &&
        (split.embedded[4] & 0x3F) == 0 && split.boundaries[1] < 65536) {
      const auto cut = split.embedded.begin() + static_cast<std::ptrdiff_t>(split.boundaries[1]);
      if (!write_seed(base + ".dict", {split.embedded.begin(), cut}, {cut, split.embedded.end()})) return 1;
    }
    ++written;
  }
  if (written == 0) {
    std::fprintf(stderr, "no feature streams in %s\n", dir.string().c_str());
    return 1;
  }
  return 0;
}
