#include "api_fixture.h"

#include <cstdlib>

#include "byteorder.h"
#include "jb2_filemode.h"
#include "pixr.h"
#include "vlt_api_deskew.h"
#include "vlt_api_handle.h"
#include "vlt_state.h"

namespace apitest {

using monotest::RefBitmap;

VltApiOptions single_page_options() {
  VltApiOptions o{};
  o.minSize = 1;
  o.resolution = 300;
  o.profile = 2;
  o.tenthSize = 1;
  o.memoryLimit = -1;
  o.singlePage = 1;
  return o;
}

std::vector<uint8_t> framed(const RefBitmap& page, uint32_t* bytesPerLine) {
  VltState* state = nullptr;
  if (Vlt_initVltState(&state, nullptr, nullptr, nullptr, nullptr, 1, 0) != VLT_OK) return {};
  int32_t bpl = 0;
  size_t size = 0;
  const VltStatus st =
      w_pixrImageProperties(reinterpret_cast<IPWState*>(state->ipwState), page.width, page.height, 1, 32, &bpl, &size);
  Vlt_cleanupVltState(&state);
  if (st != VLT_OK) return {};
  std::vector<uint8_t> buf(size_t(bpl) * size_t(page.height + 64), 0);
  for (int y = 0; y < page.height; ++y)
    for (int x = 0; x < page.width; ++x)
      if (page.get(x, y)) mono::set_bit(buf.data() + size_t(y + 32) * size_t(bpl), size_t(x + 32), 1);
  *bytesPerLine = uint32_t(bpl);
  return buf;
}

RefBitmap ruled_text_page(uint32_t seed) {
  RefBitmap page(2550, 1000);
  const RefBitmap text = monotest::make_text_blobs(2400, 650, seed);
  for (int y = 0; y < text.height; ++y)
    for (int x = 0; x < text.width; ++x) page.set(x + 75, y + 50, text.get(x, y));
  for (const int top : {780, 880})
    for (const int left : {150, 1300}) {
      for (int y = top; y < top + 5; ++y)
        for (int x = left; x < left + 250; ++x) page.set(x, y, 1);
      for (int y = top - 20; y < top - 17; ++y)
        for (int x = left + 120; x < left + 123; ++x) page.set(x, y, 1);
    }
  return page;
}

namespace {

VltApiOptions options_for(const EncodeSetup& s) {
  VltApiOptions o{};
  o.minSize = 1;
  o.outputWord = 10;
  o.reserved1 = 3;
  o.resolution = 300;
  o.profile = s.profile;
  o.tenthSize = 1;
  o.memoryLimit = s.memoryLimit;
  o.singlePage = 1;
  return o;
}

jb2test::Bytes take(uint8_t* bytes, uint32_t length, const VltMemFuncs* memory) {
  jb2test::Bytes b(bytes, bytes + length);
  if (memory != nullptr)
    memory->free(bytes);
  else
    std::free(bytes);
  return b;
}

// The file target's writer: everything is kept.
size_t append_bytes(const void* data, size_t size, size_t count, void* stream) {
  auto* out = static_cast<jb2test::Bytes*>(stream);
  const auto* p = static_cast<const uint8_t*>(data);
  out->insert(out->end(), p, p + size * count);
  return count;
}

}  // namespace

VltStatus encode(const std::vector<RefBitmap>& pages, const EncodeSetup& setup, Encoded* out, std::string* what) {
  TokParams params{};
  tokSetDefaults(&params);
  if (setup.lossless) {
    params.widthDiff = 0;
    params.heightDiff = 0;
    params.maxDense = 0;
    params.minLossySize = 100000;
  }
  const VltApiOptions options = options_for(setup);
  VltApiHandle* h = nullptr;
  const auto fail = [&](VltStatus st, const char* step) {
    *what = step;
    if (h != nullptr) VltApi_close(h);
    return st;
  };
  if (VltStatus st = VltApi_init(&h, setup.memory, nullptr, &options, &params, nullptr)) return fail(st, "init");
  Jb2FileTarget target{setup.file, append_bytes};
  std::vector<std::string> comments;
  std::vector<Jb2ExtensionRecord> notes;
  if (setup.file != nullptr) {
    if (VltStatus st = VltApi_openFile(h, &target, uint32_t(pages.size()))) return fail(st, "openFile");
    for (const std::string& text : setup.comments) {
      // An ASCII comment: name and value, each ended by a zero byte, and one more zero at the end.
      comments.push_back(std::string("Comment") + '\0' + text + '\0' + '\0');
      notes.push_back({0x20000000u, reinterpret_cast<const uint8_t*>(comments.back().data()),
                       uint32_t(comments.back().size())});
    }
    if (!notes.empty())
      if (VltStatus st = VltApi_annotateFile(h, int32_t(notes.size()), notes.data())) return fail(st, "annotateFile");
  }
  if (setup.deskew)
    if (VltStatus st = VltApi_setDeskew(h, 5, 0)) return fail(st, "setDeskew");
  size_t next = 0;
  while (next < pages.size()) {
    if (VltStatus st = VltApi_startSection(h)) return fail(st, "startSection");
    const size_t first = next;
    bool full = false;
    while (next < pages.size() && !full) {
      if (setup.pagesPerSection != 0 && next - first == setup.pagesPerSection) break;
      uint32_t bpl = 0;
      std::vector<uint8_t> buf = framed(pages[next], &bpl);
      if (buf.empty()) return fail(VLT_ERR_NOMEM, "framing");
      VltPageDesc desc{buf.data(), uint32_t(pages[next].width), uint32_t(pages[next].height), bpl, 300, 300};
      uint8_t refused = 0;
      if (VltStatus st = VltApi_addMonoPage(h, &desc, &refused)) return fail(st, "addMonoPage");
      // Full: the page is not in the section, either refused or taken back out when the
      // section ends; it opens the next one.
      full = refused != 0;
      if (!full) ++next;
    }
    if (next == first) return fail(VLT_ERR_ASSERT, "a section that takes no page");
    if (full) ++out->fullSections;
    VltApiDict dict{};
    const VltStatus ended = VltApi_endSectionGetDict(h, setup.endMode, &dict);
    if (dict.bytes != nullptr && ended != VLT_OK) take(dict.bytes, dict.length, setup.memory);
    if (ended != VLT_OK) return fail(ended, "endSectionGetDict");
    for (size_t p = first; p < next; ++p) out->angles.push_back(h->lossyDoc->section->pages[p - first].skewAngle);
    out->dictionaries.push_back(take(dict.bytes, dict.length, setup.memory));
    for (size_t p = first; p < next; ++p) {
      VltApiPosBlock block{};
      if (VltStatus st = VltApi_getNextPosBlock(h, &block)) return fail(st, "getNextPosBlock");
      out->pages.push_back(take(block.bytes, block.length, setup.memory));
      out->sectionOf.push_back(out->dictionaries.size() - 1);
    }
  }
  const VltStatus st = VltApi_close(h);
  h = nullptr;
  if (st != VLT_OK) *what = "close";
  return st;
}

jb2test::Bytes joined(const Encoded& e) {
  jb2test::Bytes all;
  for (size_t s = 0; s < e.dictionaries.size(); ++s) {
    all.insert(all.end(), e.dictionaries[s].begin(), e.dictionaries[s].end());
    for (size_t p = 0; p < e.pages.size(); ++p)
      if (e.sectionOf[p] == s) all.insert(all.end(), e.pages[p].begin(), e.pages[p].end());
  }
  return all;
}

std::string check_segments(const Encoded& e) {
  uint32_t expected = 0;
  const auto walk = [&](const jb2test::Bytes& block, bool dictionary) -> std::string {
    for (const jb2test::ParsedSegment& s : jb2test::parse_segments(block, false)) {
      if (s.number != expected)
        return "segment " + std::to_string(s.number) + " where " + std::to_string(expected) + " was due";
      ++expected;
      if (s.type == 49 || s.type == 51) return "end of page or file segment " + std::to_string(s.number);
      const uint32_t page = dictionary ? 0 : 1;
      if (s.page != page) return "segment " + std::to_string(s.number) + " on page " + std::to_string(s.page);
    }
    return "";
  };
  for (size_t s = 0; s < e.dictionaries.size(); ++s) {
    if (std::string why = walk(e.dictionaries[s], true); !why.empty()) return why;
    for (size_t p = 0; p < e.pages.size(); ++p)
      if (e.sectionOf[p] == s)
        if (std::string why = walk(e.pages[p], false); !why.empty()) return why;
  }
  return "";
}

}  // namespace apitest
