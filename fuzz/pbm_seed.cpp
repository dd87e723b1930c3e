// Writes the seed corpus of the PBM reader target into the folder given: plain and raw images,
// comments, several images in one file, odd widths.

#include <cstdio>
#include <string>

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s CORPUS_DIR\n", argv[0]);
    return 2;
  }
  const std::string raw9 = std::string("P4\n9 2\n") + '\xA5' + '\x80' + '\x3C' + '\x00';
  const std::string seeds[] = {
      "P1\n# plain\n5 3\n1 0 1 0 1\n0 1 0 1 0\n11111\n",
      raw9,
      raw9 + "P1 2 2 1001",
      std::string("P4 16 1 ") + '\xFF' + '\x00',
      "P1\n1 1\n0",
  };
  int n = 0;
  for (const std::string& s : seeds) {
    const std::string path = std::string(argv[1]) + "/seed" + std::to_string(n++) + ".pbm";
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f || std::fwrite(s.data(), 1, s.size(), f) != s.size() || std::fclose(f) != 0) {
      std::fprintf(stderr, "cannot write %s\n", path.c_str());
      return 1;
    }
  }
  return 0;
}
