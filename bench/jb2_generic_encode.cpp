// A command that codes a PBM page as a one-page JBIG2 file with one generic region, for
// whole-process comparisons with other encoders (bench/jbig2_generic_compare.sh).
//   jb2_generic_encode [-m] in.pbm out.jb2   MQ, template 0, typical prediction; -m: MMR
//   jb2_generic_encode --page NAME           prints the path of a sample page's PBM (ccitt1..8,
//                                            docN), made on first use
//   jb2_generic_encode --regions FILE        prints the data length of each generic region of a
//                                            JBIG2 file (sequential, with file header)

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "jb2_encode.h"
#include "jb2_memsink.h"
#include "pages.h"
#include "vlt_state.h"

namespace {

int fail(const char* what, VltStatus st) {
  std::fprintf(stderr, "jb2_generic_encode: %s failed (%d)\n", what, st);
  return 1;
}

// A raw PBM read straight into packed rows, as an image tool's reader would.
VltImage* read_raw_pbm(VltState* state, const char* path) {
  FILE* f = std::fopen(path, "rb");
  if (f == nullptr) return nullptr;
  int w = 0, h = 0;
  VltImage* image = nullptr;
  if (std::fscanf(f, "P4 %d %d", &w, &h) == 2 && std::fgetc(f) != EOF && w > 0 && h > 0 &&
      VltImage_new(state, VLT_IMAGE_PACKED | VLT_IMAGE_UNINIT, w, h, &image) == VLT_OK) {
    const size_t stride = (static_cast<size_t>(w) + 7) / 8;
    for (int y = 0; y < h && image != nullptr; ++y)
      if (std::fread(image->rows[y], 1, stride, f) != stride) {
        VltImage_free(image);
        image = nullptr;
      }
  }
  std::fclose(f);
  return image;
}

// Walks the segment headers of a sequential JBIG2 file and prints the generic regions' data
// lengths, one a line.
int print_regions(const char* path) {
  FILE* f = std::fopen(path, "rb");
  if (f == nullptr) return 1;
  std::vector<uint8_t> b;
  for (int c; (c = std::fgetc(f)) != EOF;) b.push_back(static_cast<uint8_t>(c));
  std::fclose(f);
  auto be32 = [&](size_t at) {
    return uint32_t(b[at]) << 24 | uint32_t(b[at + 1]) << 16 | uint32_t(b[at + 2]) << 8 | b[at + 3];
  };
  if (b.size() < 9) return 1;
  size_t at = (b[8] & 2) ? 9 : 13;
  while (at + 11 <= b.size()) {
    const uint32_t number = be32(at);
    const uint8_t flags = b[at + 4];
    at += 5;
    uint32_t count = b[at] >> 5;
    if (count == 7) {
      count = be32(at) & 0x1FFFFFFF;
      at += 4 + (count + 8) / 8;
    } else {
      at += 1;
    }
    at += count * (number <= 256 ? 1 : number <= 65536 ? 2 : 4);
    at += (flags & 0x40) ? 4 : 1;
    if (at + 4 > b.size()) return 1;
    const uint32_t length = be32(at);
    at += 4;
    const uint8_t type = flags & 0x3F;
    if (type == 36 || type == 38 || type == 39) std::printf("%u\n", length);
    at += length;
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::strcmp(argv[1], "--regions") == 0) return print_regions(argv[2]);
  if (argc == 3 && std::strcmp(argv[1], "--page") == 0) {
    // Loading the page caches its PBM; say where.
    monotest::sample_page(argv[2]);
    const std::string name = argv[2];
    const std::string file = name.rfind("doc", 0) == 0 ? "doc-page" + name.substr(3) : name;
    std::printf("%s/%s.pbm\n", monotest::cache_dir().c_str(), file.c_str());
    return 0;
  }
  const bool mmr = argc == 4 && std::strcmp(argv[1], "-m") == 0;
  if (argc != 3 + (mmr ? 1 : 0)) {
    std::fprintf(stderr, "usage: jb2_generic_encode [-m] in.pbm out.jb2 | --page NAME\n");
    return 2;
  }
  VltState* state = nullptr;
  if (const VltStatus st =
          Vlt_initVltState(&state, nullptr, nullptr, stderr, Vlt_fileErrPrinter, 0, 0))
    return fail("engine state", st);
  VltImage* image = read_raw_pbm(state, argv[argc - 2]);
  if (image == nullptr) return fail("reading the raw PBM", 2000);
  const uint32_t width = static_cast<uint32_t>(image->hdr.width),
                 height = static_cast<uint32_t>(image->hdr.height);

  DataSink* sink = nullptr;
  Jb2File* file = nullptr;
  if (const VltStatus st = jb2NewMemoryDataSink(state, &sink)) return fail("memory sink", st);
  if (const VltStatus st = jb2CreateFile(sink, sink, state, &file))
    return fail("stream context", st);
  static constexpr uint8_t kHeader[] = {0x97, 'J',  'B', '2', 0x0D, 0x0A, 0x1A,
                                        0x0A, 0x01, 0,   0,   0,    1};
  VltStatus st = jb2WriteBytes(file, sink, kHeader, sizeof kHeader);
  SegmentInfo page{};
  page.page = 1;
  page.body.pageInfo = Jb2PageInfo{width, height, 11811, 11811, 1, 0, 0, 0, 0, 0, 0, 0};
  if (st == VLT_OK) st = jb2EncodePageInfo(file, &page);
  SegmentInfo region{};
  region.page = 1;
  region.type = JB2_SEG_GENERIC_IMMEDIATE;
  region.region = Jb2RegionInfo{width, height, 0, 0, 0};
  region.hasBitmap = 1;
  region.bitmap = image;
  region.body.generic.mmr = mmr;
  region.body.generic.params = Jb2GenericParams{0, {3, -3, 2, -2}, {-1, -1, -2, -2}, 1};
  if (st == VLT_OK) st = jb2EncodeGenRegion(file, &region);
  SegmentInfo end{};
  end.page = 1;
  if (st == VLT_OK) st = jb2EncodeEOPage(file, &end);
  end.page = 0;
  if (st == VLT_OK) st = jb2EncodeEOFile(file, &end);
  if (st != VLT_OK) return fail("writing", st);

  VltAdtList* chunks = nullptr;
  if (const VltStatus cs = jb2CloseMemoryDataSink(sink, &chunks))
    return fail("closing the sink", cs);
  FILE* out = std::fopen(argv[argc - 1], "wb");
  if (out == nullptr) return fail("opening the output", 2001);
  for (VltAdtListNode* n = chunks->first; n != nullptr; n = n->next) {
    auto* c = static_cast<Jb2MemChunk*>(n->data);
    std::fwrite(c->buffer, 1, c->used, out);
    state->free(c->buffer);
    state->free(c);
  }
  VltAdt_liFree(chunks);
  const bool written = std::fclose(out) == 0;
  jb2FreeFile(file);
  VltImage_free(image);
  Vlt_cleanupVltState(&state);
  return written ? 0 : fail("writing the output", 2001);
}
