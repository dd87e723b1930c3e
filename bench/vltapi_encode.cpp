// A command that codes PBM pages through the engine API, as one section (or one section per
// page), for whole-process comparisons with other encoders (bench/vltapi_compare.sh).
//   vltapi_encode [-p PROFILE] [-lossy] [-each] OUTDIR in.pbm...
// Pages are read one at a time, each just before it is added. Writes OUTDIR/dict.S for each section and OUTDIR/page.NNNN for each page (embedded JBIG2, as
// PDF carries them) and prints the bytes written and the seconds spent encoding.

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "byteorder.h"
#include "pixr.h"
#include "vlt_api.h"
#include "vlt_state.h"

namespace {

struct Page {
  uint32_t width = 0, height = 0, bytesPerLine = 0;
  std::vector<uint8_t> framed;
};

// A raw PBM read into a framed buffer with the wrapper's line length.
bool read_page(const char* path, IPWState* wrapper, Page* page) {
  FILE* f = std::fopen(path, "rb");
  if (f == nullptr) return false;
  int w = 0, h = 0;
  bool ok = std::fscanf(f, "P4 %d %d", &w, &h) == 2 && std::fgetc(f) != EOF && w > 0 && h > 0;
  int32_t bpl = 0;
  size_t size = 0;
  ok = ok && w_pixrImageProperties(wrapper, w, h, 1, 32, &bpl, &size) == VLT_OK;
  if (ok) {
    page->width = uint32_t(w);
    page->height = uint32_t(h);
    page->bytesPerLine = uint32_t(bpl);
    page->framed.assign(size_t(bpl) * size_t(h + 64), 0);
    const size_t stride = (size_t(w) + 7) / 8;
    std::vector<uint8_t> row(stride);
    for (int y = 0; y < h && ok; ++y) {
      ok = std::fread(row.data(), 1, stride, f) == stride;
      for (int x = 0; x < w && ok; ++x)
        if (mono::get_bit(row.data(), size_t(x))) mono::set_bit(&page->framed[size_t(y + 32) * size_t(bpl)], size_t(x + 32), 1);
    }
  }
  std::fclose(f);
  return ok;
}

bool write_block(const std::string& path, const uint8_t* bytes, uint32_t length) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return false;
  const bool ok = length == 0 || std::fwrite(bytes, 1, length, f) == length;
  return std::fclose(f) == 0 && ok;
}

int fail(const char* what, VltStatus st) {
  std::fprintf(stderr, "vltapi_encode: %s failed (%d: %s)\n", what, st, Vlt_getErrStr(st));
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  uint32_t profile = 2;
  bool lossy = false, each = false;
  int a = 1;
  for (; a < argc && argv[a][0] == '-'; ++a) {
    if (std::strcmp(argv[a], "-p") == 0 && a + 1 < argc)
      profile = uint32_t(std::atoi(argv[++a]));
    else if (std::strcmp(argv[a], "-lossy") == 0)
      lossy = true;
    else if (std::strcmp(argv[a], "-each") == 0)
      each = true;
    else
      break;
  }
  if (argc - a < 2) {
    std::fprintf(stderr, "usage: vltapi_encode [-p PROFILE] [-lossy] [-each] OUTDIR in.pbm...\n");
    return 2;
  }
  const std::string out = argv[a++];
  const std::vector<const char*> paths(argv + a, argv + argc);
  VltState* helper = nullptr;
  if (Vlt_initVltState(&helper, nullptr, nullptr, nullptr, nullptr, 1, 0) != VLT_OK) return fail("state", 1);
  auto* wrapper = reinterpret_cast<IPWState*>(helper->ipwState);
  TokParams params{};
  tokSetDefaults(&params);
  if (!lossy) {
    params.widthDiff = params.heightDiff = params.maxDense = 0;
    params.minLossySize = 100000;
  }
  VltApiOptions o{};
  o.minSize = 1;
  o.outputWord = 10;
  o.reserved1 = 3;
  o.resolution = 300;
  o.profile = profile;
  o.tenthSize = 1;
  o.memoryLimit = -1;
  o.singlePage = 1;
  const auto start = std::chrono::steady_clock::now();
  VltApiHandle* h = nullptr;
  if (VltStatus st = VltApi_init(&h, nullptr, nullptr, &o, &params, nullptr)) return fail("init", st);
  uint64_t total = 0;
  size_t next = 0, section = 0;
  while (next < paths.size()) {
    if (VltStatus st = VltApi_startSection(h)) return fail("startSection", st);
    const size_t first = next;
    for (; next < paths.size() && (!each || next == first); ++next) {
      // One page in memory at a time, as a scanner hands them over.
      Page page;
      if (!read_page(paths[next], wrapper, &page)) {
        std::fprintf(stderr, "vltapi_encode: cannot read %s as a raw PBM\n", paths[next]);
        return 1;
      }
      VltPageDesc d{page.framed.data(), page.width, page.height, page.bytesPerLine, 300, 300};
      uint8_t full = 0;
      if (VltStatus st = VltApi_addMonoPage(h, &d, &full)) return fail("addMonoPage", st);
    }
    VltApiDict dict{};
    if (VltStatus st = VltApi_endSectionGetDict(h, 0, &dict)) return fail("endSectionGetDict", st);
    if (!write_block(out + "/dict." + std::to_string(section++), dict.bytes, dict.length)) return fail("write", 19);
    total += dict.length;
    std::free(dict.bytes);
    for (size_t p = first; p < next; ++p) {
      VltApiPosBlock b{};
      if (VltStatus st = VltApi_getNextPosBlock(h, &b)) return fail("getNextPosBlock", st);
      char name[32];
      std::snprintf(name, sizeof name, "/page.%04zu", p);
      if (!write_block(out + name, b.bytes, b.length)) return fail("write", 19);
      total += b.length;
      std::free(b.bytes);
    }
  }
  VltApi_close(h);
  Vlt_cleanupVltState(&helper);
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::printf("%llu bytes %zu pages %.3f s\n", static_cast<unsigned long long>(total), paths.size(), seconds);
  return 0;
}
