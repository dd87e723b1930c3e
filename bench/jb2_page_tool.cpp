// Whole-process side of the JBIG2 decoding benchmark:
//   jb2_page_tool write DIR     writes the benchmark streams (page-mq.jb2, page-mmr.jb2) into DIR
//   jb2_page_tool decode IN OUT decodes page 1 of the T.88 file IN into the PBM file OUT
// so that `jb2_page_tool decode` and `jbig2dec -t pbm -o OUT IN` can be timed on the same file.

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "jb2_bench_streams.h"
#include "jb2_page_reader.h"
#include "vlt_state.h"

namespace {

bool write_all(const std::string& path, const uint8_t* data, size_t size) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return false;
  const bool ok = std::fwrite(data, 1, size, f) == size;
  return std::fclose(f) == 0 && ok;
}

int decode(VltState* state, const char* in, const char* out) {
  FILE* f = std::fopen(in, "rb");
  if (f == nullptr) return 1;
  std::vector<uint8_t> bytes;
  uint8_t buf[65536];
  for (size_t n; (n = std::fread(buf, 1, sizeof buf, f)) > 0;) bytes.insert(bytes.end(), buf, buf + n);
  std::fclose(f);
  VltImage* page = nullptr;
  if (jb2test::read_page(state, bytes.data(), bytes.size(), jb2test::StreamForm::kFile, &page) != VLT_OK)
    return 1;
  const int32_t w = page->hdr.width, h = page->hdr.height;
  FILE* o = std::fopen(out, "wb");
  bool ok = o != nullptr && std::fprintf(o, "P4\n%d %d\n", w, h) > 0;
  const size_t rowBytes = (static_cast<size_t>(w) + 7) / 8;
  for (int32_t y = 0; ok && y < h; ++y) ok = std::fwrite(page->rows[y], 1, rowBytes, o) == rowBytes;
  if (o != nullptr && std::fclose(o) != 0) ok = false;
  VltImage_free(page);
  return ok ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  VltState* state = nullptr;
  if (Vlt_initVltState(&state, nullptr, nullptr, stderr, Vlt_fileErrPrinter, 0, 0) != VLT_OK) return 1;
  int rc = 2;
  if (argc == 3 && std::strcmp(argv[1], "write") == 0) {
    const std::string dir = argv[2];
    rc = 0;
    for (const bool mmr : {false, true}) {
      const jb2bench::Bytes& s = jb2bench::page_stream(state, mmr);
      if (!write_all(dir + (mmr ? "/page-mmr.jb2" : "/page-mq.jb2"), s.data(), s.size())) rc = 1;
    }
  } else if (argc == 4 && std::strcmp(argv[1], "decode") == 0) {
    rc = decode(state, argv[2], argv[3]);
  } else {
    std::fprintf(stderr, "usage: %s write DIR | decode IN.jb2 OUT.pbm\n", argv[0]);
  }
  Vlt_cleanupVltState(&state);
  return rc;
}
