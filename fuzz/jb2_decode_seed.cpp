// Writes the seed corpus of jb2_decode_fuzz into the folder given: every shared JBIG2 feature
// stream, as a file and as an embedded stream (MONO_SHARED_DIR names the shared folder; the
// build's own shared folder otherwise), and pages our own writers make of a symbol dictionary,
// a text region, a pattern dictionary and a halftone region, Huffman/MMR and MQ coded.

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "byteorder.h"
#include "jb2_encode.h"
#include "jb2_memsink.h"
#include "jb2_page_reader.h"
#include "vlt_state.h"

namespace {

// A small page of our own segments: five symbols placed forty times, and a halftone of four
// patterns over a grid of cells below them.
bool our_page(VltState* state, bool mq, std::vector<uint8_t>* out) {
  DataSink* sink = nullptr;
  Jb2File* file = nullptr;
  if (jb2NewMemoryDataSink(state, &sink) != VLT_OK) return false;
  if (jb2CreateFile(sink, sink, state, &file) != VLT_OK) return false;
  Jb2FileParams* params = jb2GetFileParams(file);
  params->arith = params->trArith = params->pdArith = mq ? 1 : 0;
  static constexpr uint8_t kHeader[] = {0x97, 'J', 'B', '2', 0x0D, 0x0A, 0x1A, 0x0A, 0x01, 0, 0, 0, 1};
  bool ok = jb2WriteBytes(file, sink, kHeader, sizeof kHeader) == VLT_OK;
  SegmentInfo info{};
  info.page = 1;
  info.body.pageInfo = Jb2PageInfo{200, 120, 11811, 11811, 1, 0, 0, 0, 0, 0, 0, 0};
  ok = ok && jb2EncodePageInfo(file, &info) == VLT_OK;

  std::vector<std::vector<uint8_t>> bits;
  std::vector<Jb2Symbol> symbols;
  for (int i = 0; i < 5; ++i) {
    const int w = 5 + 3 * i, h = 7 + (i % 3) * 4;
    std::vector<uint8_t> b(static_cast<size_t>(h) * 4, 0);
    for (int y = 0; y < h; ++y)
      mono::store_be32(b.data() + 4 * y, ((0xFFFFFFFFu << (32 - w)) & (0x5A5A5A5Au >> (y % 4))) | 0x80000000u);
    bits.push_back(std::move(b));
  }
  for (int i = 0; i < 5; ++i)
    symbols.push_back(Jb2Symbol{5 + 3 * i, 7 + (i % 3) * 4, bits[i].data(), 1, 0, nullptr, 0});
  SegmentInfo dict{};
  dict.page = 1;
  dict.body.symbolDict.count = 5;
  dict.body.symbolDict.symbols = symbols.data();
  ok = ok && jb2EncodeSymDict(file, &dict, nullptr, nullptr, nullptr, 1) == VLT_OK;
  std::vector<Jb2Instance> placed;
  for (int i = 0; i < 40; ++i)
    placed.push_back(Jb2Instance{4 + (i % 10) * 19, 3 + (i / 10) * 16, &symbols[(i * 3) % 5], nullptr, nullptr});
  SegmentInfo text{};
  text.type = JB2_SEG_TEXT_IMMEDIATE;
  text.page = 1;
  text.region = Jb2RegionInfo{200, 70, 0, 0, JB2_COMBOP_OR};
  text.body.textRegion.count = static_cast<int32_t>(placed.size());
  text.body.textRegion.instances = placed.data();
  SegmentInfo* dictPtr = &dict;
  ok = ok && jb2AddReferencedSegments(file, &text, &dictPtr, 1) == VLT_OK &&
       jb2EncodeSymRegion(file, &text, &dictPtr, nullptr, nullptr, 0) == VLT_OK;
  state->free(text.referred);
  state->free(text.referredRetain);

  HalftonePattern patterns[4];
  ok = ok && makeSpiralHalftonePattern(state, 4, 4, 1, patterns) == VLT_OK;
  SegmentInfo pd{};
  pd.page = 1;
  pd.body.patternDict = Jb2PatternDict{4, 4, 4, patterns};
  ok = ok && jb2EncodeHTDict(file, &pd) == VLT_OK;
  VltImage* gray = nullptr;
  ok = ok && VltImage_new(state, VLT_IMAGE_SHORT, 40, 10, &gray) == VLT_OK;
  for (int y = 0; ok && y < 10; ++y)
    for (int x = 0; x < 40; ++x) reinterpret_cast<int16_t*>(gray->rows[y])[x] = static_cast<int16_t>((x + y) % 4);
  uint32_t refNumber = pd.number;
  uint8_t refRetain = 0;
  SegmentInfo ht{};
  ht.page = 1;
  ht.type = JB2_SEG_HALFTONE_LOSSLESS;
  ht.referredCount = 1;
  ht.referred = &refNumber;
  ht.referredRetain = &refRetain;
  ht.region = Jb2RegionInfo{160, 40, 20, 75, JB2_COMBOP_OR};
  ht.body.halftone = Jb2HalftoneRegion{gray, 0, 0, 4 * 256, 0, JB2_COMBOP_OR, 0, &pd};
  SegmentInfo* pdPtr = &pd;
  ok = ok && jb2EncodeHTRegion(file, &ht, &pdPtr) == VLT_OK;
  VltImage_free(gray);
  for (HalftonePattern& p : patterns) state->free(p.bits);

  SegmentInfo eop{};
  eop.page = 1;
  SegmentInfo eof{};
  ok = ok && jb2EncodeEOPage(file, &eop) == VLT_OK && jb2EncodeEOFile(file, &eof) == VLT_OK;
  VltAdtList* chunks = nullptr;
  ok = jb2CloseMemoryDataSink(sink, &chunks) == VLT_OK && ok;
  for (VltAdtListNode* n = chunks != nullptr ? chunks->first : nullptr; n != nullptr; n = n->next) {
    auto* c = static_cast<Jb2MemChunk*>(n->data);
    out->insert(out->end(), c->buffer, c->buffer + c->used);
    state->free(c->buffer);
    state->free(c);
  }
  if (chunks != nullptr) VltAdt_liFree(chunks);
  jb2FreeFile(file);
  return ok;
}

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
  VltState* state = nullptr;
  if (Vlt_initVltState(&state, nullptr, nullptr, nullptr, nullptr, 0, 0) != VLT_OK) return 1;
  for (bool mq : {false, true}) {
    std::vector<uint8_t> page;
    const std::string base = (std::filesystem::path(argv[1]) / (mq ? "ours-mq" : "ours-huffman")).string();
    jb2test::SplitFile split;
    if (!our_page(state, mq, &page) || !write_seed(base + ".file", 0, page) ||
        !jb2test::split_file(page.data(), page.size(), &split) || !write_seed(base + ".embedded", 1, split.embedded)) {
      Vlt_cleanupVltState(&state);
      return 1;
    }
  }
  Vlt_cleanupVltState(&state);
  return 0;
}
