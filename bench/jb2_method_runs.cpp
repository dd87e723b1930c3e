#include "jb2_method_runs.h"

#include <cstdio>
#include <cstring>
#include <stdexcept>

#include "tiff_oracle.h"
#include "tools.h"

namespace jb2run {

namespace {

Method bind(const char* name) {
  void* address = nullptr;
  char why[4200];
  if (!elfBindSharedProc("monocodec", name, &address, why, sizeof why)) throw std::runtime_error(why);
  return reinterpret_cast<Method>(address);
}

void call(elf_state* state, Method method, elf_object* image, elf_object* args) {
  clearStatus(state);
  elf_object* result = nullptr;
  const int status = method(image, args, &result);
  if (result) elfDiscard(result);
  if (status != 0) throw std::runtime_error(getStatusMessage(state));
}

Bytes bytes_of(const elf_QELLAYER* layer) {
  const auto* p = reinterpret_cast<const elf_POINTER*>(layer->data);
  const auto* b = static_cast<const uint8_t*>(p->data);
  return Bytes(b, b + p->length);
}

elf_object* pointer(elf_state* state, const Bytes& bytes) {
  void* copy = elfMalloc(bytes.size());
  if (!bytes.empty()) std::memcpy(copy, bytes.data(), bytes.size());
  return elfNewPointer(state, copy, bytes.size());
}

}  // namespace

Methods::Methods() : state(initState(nullptr, "jb2run")), encode(bind("jBig2Encode")), decode(bind("jBig2Decode")) {}
Methods::~Methods() { freeState(state); }

Section encode(const Methods& m, const std::vector<const monotest::RefBitmap*>& pages, int32_t profile, bool lossless) {
  elf_object* image = new_QELIMAGE(m.state, nullptr, nullptr);
  elfRefUp(image);
  for (size_t i = 0; i < pages.size(); ++i) {
    const monotest::RefBitmap& p = *pages[i];
    void* rows = elfMalloc(p.bits.size());
    std::memcpy(rows, p.bits.data(), p.bits.size());
    elf_object* layer = QELNewBilevelLayer(m.state, p.width, p.height, int32_t(p.stride), rows, p.bits.size(), 300, 300);
    QELAppendLayer(image, ("layer" + std::to_string(i)).c_str(), layer);
  }
  elf_object* args = lstBuildArgs(m.state, "profile:i", profile, 0, LST_END);
  if (lossless) lstAppendArgs(args, "widthDiff:i", 0, 0, "heightDiff:i", 0, 0, "maxDense:i", 0, 0, LST_END);
  elfRefUp(args);
  Section s;
  try {
    call(m.state, m.encode, image, args);
  } catch (...) {
    elfRefDown(args);
    elfRefDown(image);
    throw;
  }
  for (size_t i = 0; i < pages.size(); ++i) s.pages.push_back(bytes_of(qelLayer(QELGetLayer(image, int32_t(i)))));
  s.dictionary = bytes_of(qelLayer(QELGetLayer(image, int32_t(pages.size()))));
  elfRefDown(args);
  elfRefDown(image);
  return s;
}

elf_object* decoded_image(const Methods& m, const Section& section, const std::vector<const monotest::RefBitmap*>& sizes) {
  elf_object* image = new_QELIMAGE(m.state, nullptr, nullptr);
  elfRefUp(image);
  for (size_t i = 0; i < section.pages.size(); ++i) {
    const monotest::RefBitmap& p = *sizes[i];
    void* rows = elfCalloc(p.bits.size(), 1);
    elf_object* layer = QELNewBilevelLayer(m.state, p.width, p.height, int32_t(p.stride), rows, p.bits.size(), 300, 300);
    elf_QELLAYER* l = qelLayer(layer);
    ELF_ASSIGN(m.state, &l->data, pointer(m.state, section.pages[i]));
    qelHdr(l->description)->compression = QEL_COMPRESSION_JBIG2;
    QELAppendLayer(image, ("layer" + std::to_string(i)).c_str(), layer);
  }
  elf_object* dict = new_QELLAYER(m.state, nullptr, nullptr);
  qelLayer(dict)->kind = QEL_KIND_JBIG2_DICT;
  ELF_ASSIGN(m.state, &qelLayer(dict)->data, pointer(m.state, section.dictionary));
  QELAppendLayer(image, "jbig2Dict", dict);
  try {
    call(m.state, m.decode, image, nullptr);
  } catch (...) {
    elfRefDown(image);
    throw;
  }
  return image;
}

std::vector<monotest::RefBitmap> decode(const Methods& m, const Section& section,
                                        const std::vector<const monotest::RefBitmap*>& sizes) {
  elf_object* image = decoded_image(m, section, sizes);
  std::vector<monotest::RefBitmap> out;
  for (size_t i = 0; i < section.pages.size(); ++i) {
    const elf_QELLAYER* l = qelLayer(QELGetLayer(image, int32_t(i)));
    const elf_QELHDR* h = qelHdr(l->description);
    const auto* rows = static_cast<const uint8_t*>(reinterpret_cast<const elf_POINTER*>(l->data)->data);
    monotest::RefBitmap bm(h->width, h->height);
    for (int y = 0; y < h->height; ++y)
      std::memcpy(bm.row(y), rows + size_t(y) * size_t(h->bytesPerRow[0]), bm.stride);
    out.push_back(std::move(bm));
  }
  elfRefDown(image);
  return out;
}

size_t g4_bytes(const monotest::RefBitmap& page) {
  monotest::TempDir dir;
  monotest::TiffSpec spec;
  spec.width = uint32_t(page.width);
  spec.height = uint32_t(page.height);
  spec.rowsPerStrip = uint32_t(page.height);
  spec.compression = 4;
  spec.photometric = 0;
  const std::string path = dir.file("page.tif");
  monotest::tiff_write(path, {spec}, {page.bits});
  size_t total = 0;
  for (const auto& strip : monotest::tiff_raw_strips(path, 0)) total += strip.size();
  return total;
}

}  // namespace jb2run
