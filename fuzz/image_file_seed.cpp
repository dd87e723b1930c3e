// Writes the seed corpus of the image-file target into the folder given: one file of every
// magic, comments, 16-bit samples, and raw files of several types. The first byte chooses the
// target's entry (see image_file_fuzz.cpp).

#include <cstdio>
#include <string>

namespace {

// Entry byte of a PNM load into the type at index i of the target's list.
std::string pnm(int i, const std::string& body) { return std::string(1, char(i << 1)) + body; }
// Entry bytes of a raw load: type index, width, height, flags.
std::string raw(int i, int w, int h, int flags, const std::string& body) {
  return std::string(1, char(i << 1 | 1)) + char(w & 255) + char(w >> 8) + char(h & 255) + char(h >> 8) +
         char(flags) + body;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s CORPUS_DIR\n", argv[0]);
    return 2;
  }
  using std::string;
  const string seeds[] = {
      pnm(0, "P5\n# a comment\n3 2\n255\nabcdef"),
      pnm(0, "P2 2 2 15\n0 7\n15 3\n"),
      pnm(0, string("P5 2 1 65535\n") + '\xff' + '\x00' + '\x12' + '\x34'),
      pnm(2, "P3 1 2 255 1 2 3 4 5 6\n"),
      pnm(2, "P6\n2 1\n255\nabcdef"),
      pnm(4, string("P4\n10 2\n") + '\xa5' + '\xc0' + '\x0f' + '\x40'),
      pnm(4, "P1\n4 2\n1 0 1 1\n0001"),
      pnm(8, string("P4 9 1 ") + '\xff' + '\x80'),
      pnm(8, "P1 3 1 101"),
      pnm(1, "Q1\n2 1\n\x3f\x80\x00\x00\x40\x00\x00\x00"),
      pnm(3, string("Q2 1 1\n") + string(8, '\x01')),
      pnm(5, "Q3 1 1\n\x01\x02\x03\x04"),
      pnm(6, "Q4 2 1\n\x01\x02\x03\x04"),
      pnm(7, string("Q5 1 1\n") + string(12, '\x40')),
      pnm(1, "P5 1 1 255\nz"),
      raw(0, 3, 2, 0, "abcdef"),
      raw(6, 2, 1, 2, "\x01\x02\x03\x04"),
      raw(4, 12, 2, 0, "\xf0\xf0\x0f\x0f"),
      raw(8, 8, 1, 0, "\x81"),
      raw(7, 1, 1, 2, string(12, '\x3f')),
  };
  int n = 0;
  for (const string& s : seeds) {
    const string path = string(argv[1]) + "/seed" + std::to_string(n++);
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f || std::fwrite(s.data(), 1, s.size(), f) != s.size() || std::fclose(f) != 0) {
      std::fprintf(stderr, "cannot write %s\n", path.c_str());
      return 1;
    }
  }
  return 0;
}
