// The JBIG2 coder the library uses when none was installed: libmonocodec's engine API, bound by
// name from the "monocodec" plug-in the first time a document starts JBIG2 coding.
//
// Each section runs on an engine run of its own (VltApi_init to VltApi_close): a section's
// globals and page streams then form a self-contained JBIG2 stream set, as a PDF reader decodes
// them (ISO 32000-1, 7.4.7), with segment numbers starting afresh and no symbol carried in from
// an earlier section whose dictionary the page does not refer to.

#include <cstdlib>
#include <cstring>
#include <deque>
#include <new>
#include <utility>

#include "kvng.h"
#include "pdf_internal.h"
#include "tok_params.h"
#include "vlt_api.h"
#include "vlt_pagebuf.h"

namespace {

struct VltFns {
  decltype(&VltApi_init) init = nullptr;
  decltype(&VltApi_close) close = nullptr;
  decltype(&VltApi_startSection) startSection = nullptr;
  decltype(&VltApi_addMonoPage) addMonoPage = nullptr;
  decltype(&VltApi_endSectionGetDict) endSection = nullptr;
  decltype(&VltApi_getNextPosBlock) nextPosBlock = nullptr;
  decltype(&convertBuffToVltPageDesc) framePage = nullptr;
};

// Bound once; one thread at a time, as the whole library.
VltFns g_vlt;
bool g_bound = false;

template <typename F>
bool bind_one(const char* name, F* place) {
  void* p = nullptr;
  if (KVngRetrieveFunc(name, "monocodec", &p) != 1 || !p) return false;
  *place = reinterpret_cast<F>(p);
  return true;
}

bool bind_vlt() {
  if (g_bound) return true;
  VltFns f;
  g_bound = bind_one("VltApi_init", &f.init) && bind_one("VltApi_close", &f.close) &&
            bind_one("VltApi_startSection", &f.startSection) && bind_one("VltApi_addMonoPage", &f.addMonoPage) &&
            bind_one("VltApi_endSectionGetDict", &f.endSection) &&
            bind_one("VltApi_getNextPosBlock", &f.nextPosBlock) &&
            bind_one("convertBuffToVltPageDesc", &f.framePage);
  if (g_bound) g_vlt = f;
  return g_bound;
}

// What arithmetic coding starts the engine with: the Huffman record's layout with the profile
// that codes every region with the MQ coder.
constexpr uint32_t kArithmeticProfile = 3;
VltApiOptions arithmetic_options() {
  VltApiOptions o{};
  o.minSize = 1;
  o.outputWord = 10;
  o.reserved1 = 3;
  o.resolution = 300;
  o.profile = kArithmeticProfile;
  o.tenthSize = 1;
  o.memoryLimit = 0;
  o.sectionMode = 1;
  o.singlePage = 1;
  return o;
}

// Bytes the engine made (C library) moved to the engine allocator the library hands out.
unsigned char* to_engine_heap(uint8_t* bytes, uint32_t length) {
  auto* copy = static_cast<unsigned char*>(kvng_internal_calloc(length ? length : 1, 1));
  if (copy && length) std::memcpy(copy, bytes, length);
  std::free(bytes);
  return copy;
}

struct Coder {
  VltApiOptions options{};
  bool hasParams = false;
  TokParams params{};
  VltApiHandle* run = nullptr;  // the open section's engine run
  uint32_t pages = 0;           // pages added to it
  std::deque<std::pair<unsigned char*, size_t>> blocks;   // the ended section's pages, in order

  void drop_blocks() {
    for (auto& b : blocks) kvng_internal_free(b.first);
    blocks.clear();
  }
  void close_run() {
    if (run) g_vlt.close(run);
    run = nullptr;
    pages = 0;
  }
};

void* coder_open(const VltApiOptions* options, const TokParams* params) {
  if (!bind_vlt()) return nullptr;
  auto* c = new (std::nothrow) Coder;
  if (!c) return nullptr;
  c->options = options ? *options : arithmetic_options();
  if (params) {
    c->params = *params;
    c->hasParams = true;
  }
  return c;
}

int coder_add_page(void* handle, const unsigned char* rows, int32_t width, int32_t height, int32_t rowBytes) {
  auto* c = static_cast<Coder*>(handle);
  if (!c || !rows || width < 1 || height < 1 || rowBytes < (width + 7) / 8) return 0;
  if (!c->run) {
    if (g_vlt.init(&c->run, nullptr, nullptr, &c->options, c->hasParams ? &c->params : nullptr, nullptr) != 0) {
      c->run = nullptr;
      return 0;
    }
    if (g_vlt.startSection(c->run) != 0) {
      c->close_run();
      return 0;
    }
  }
  VltPageDesc page{};
  if (g_vlt.framePage(&page, static_cast<uint32_t>(width), static_cast<uint32_t>(height),
                      static_cast<uint32_t>(rowBytes), rows) != 1) {
    return 0;
  }
  uint8_t full = 0;
  const VltStatus st = g_vlt.addMonoPage(c->run, &page, &full);
  kvng_internal_free(page.buffer);
  // The runs have no memory bound, so a full section means the page did not go in as asked.
  if (st != 0 || full) return 0;
  ++c->pages;
  return 1;
}

// Ends the section and takes every page's data at once, so the run can go.
int coder_end_section(void* handle, unsigned char** dict, size_t* dictLength) {
  auto* c = static_cast<Coder*>(handle);
  if (!c || !c->run || !dict || !dictLength) return 0;
  c->drop_blocks();
  VltApiDict d{};
  bool ok = g_vlt.endSection(c->run, 0, &d) == 0;
  unsigned char* dictBytes = ok ? to_engine_heap(d.bytes, d.length) : nullptr;
  if (!ok) std::free(d.bytes);
  ok = ok && dictBytes;
  for (uint32_t i = 0; ok && i < c->pages; ++i) {
    VltApiPosBlock b{};
    if (g_vlt.nextPosBlock(c->run, &b) != 0) {
      std::free(b.bytes);
      ok = false;
      break;
    }
    unsigned char* bytes = to_engine_heap(b.bytes, b.length);
    if (!bytes) {
      ok = false;
      break;
    }
    c->blocks.emplace_back(bytes, b.length);
  }
  c->close_run();
  if (!ok) {
    kvng_internal_free(dictBytes);
    c->drop_blocks();
    return 0;
  }
  *dict = dictBytes;
  *dictLength = d.length;
  return 1;
}

int coder_page_data(void* handle, unsigned char** data, size_t* length) {
  auto* c = static_cast<Coder*>(handle);
  if (!c || c->blocks.empty() || !data || !length) return 0;
  *data = c->blocks.front().first;
  *length = c->blocks.front().second;
  c->blocks.pop_front();
  return 1;
}

void coder_close(void* handle) {
  auto* c = static_cast<Coder*>(handle);
  if (!c) return;
  c->drop_blocks();
  c->close_run();
  delete c;
}

constexpr PDFJbig2Engine kEngine{coder_open, coder_add_page, coder_end_section, coder_page_data, coder_close};

}  // namespace

namespace pdflib {

const PDFJbig2Engine* monocodec_engine(std::string* why) {
  if (bind_vlt()) return &kEngine;
  if (why) *why = KVngRetrieveError();
  return nullptr;
}

}  // namespace pdflib
