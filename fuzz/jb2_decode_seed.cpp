// Writes the seed corpus of jb2_decode_fuzz into the folder given: every shared JBIG2 feature
// stream, as a file and as an embedded stream (MONO_SHARED_DIR names the shared folder; the
// build's own shared folder otherwise).

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "jb2_page_reader.h"

namespace {

bool write_seed(const std::string& path, uint8_t first, const std::vector<uint8_t>& bytes) {
  std::ofstream f(path, std::ios::binary);
  f.put(static_cast<char>(first));
  f.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
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
      std::filesystem::path(env != nullptr && *env != '\0' ? env : JB2_SEED_SHARED_DIR) / "testdata" / "jbig2-features";
  int n = 0;
  std::error_code ec;
  for (const auto& e : std::filesystem::directory_iterator(dir, ec)) {
    if (e.path().extension() != ".jbig2") continue;
    std::ifstream in(e.path(), std::ios::binary);
    const std::vector<uint8_t> file((std::istreambuf_iterator<char>(in)), {});
    const std::string base = (std::filesystem::path(argv[1]) / e.path().stem()).string();
    if (!write_seed(base + ".file", 0, file)) return 1;
    jb2test::SplitFile split;
    if (jb2test::split_file(file.data(), file.size(), &split) && !write_seed(base + ".embedded", 1, split.embedded))
      return 1;
    ++n;
  }
  if (n == 0) {
    std::fprintf(stderr, "no feature streams in %s\n", dir.string().c_str());
    return 1;
  }
  return 0;
}
