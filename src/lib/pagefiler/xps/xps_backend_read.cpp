// The XPS back end's reading side: the reader's state is the package the XPS reader opened;
// pages come from its first FixedDocument, rendered into page images.

#include <cstdint>

#include "dio_backends.h"
#include "dio_internal.h"
#include "kvng_io.h"
#include "xps_backend.h"
#include "xps_image.h"
#include "xps_package.h"

namespace {

// The package's first FixedDocument with a reference for the caller, or null after a report.
XPSFixedDoc* first_document(elf_state* state, XPSPackage* package, const char* function) {
  if (!package) {
    setStatus(state, QEL_STATUS_FAILED, QEL_SEVERITY_ERROR, "%s: NULL XPSPackage object\n", function);
    return nullptr;
  }
  if (XPSPackageGetDocumentCount(package) < 1) {
    setStatus(state, QEL_STATUS_FAILED, QEL_SEVERITY_ERROR, "%s: No document in XPSPackage object\n", function);
    return nullptr;
  }
  return XPSPackageGetDocument(package, 1);
}

// Text layers of an XPS page hold the renderer's glyph text.
bool mark_text_layers(elf_state* state, elf_object* image) {
  for (int32_t i = 0; i < qelImage(image)->layerCount; ++i) {
    elf_QELLAYER* l = qelLayer(QELGetLayer(image, i));
    if (!l || l->kind != QEL_KIND_TEXT) continue;
    if (!l->text) {
      elf_object* text = new_QELTEXT(state, nullptr, nullptr);
      if (!text) return false;
      ELF_ASSIGN(state, &l->text, text);
    }
    qelText(l->text)->kind = QEL_TEXT_XPS;
  }
  return true;
}

}  // namespace

extern "C" {

void* __XPSOpenReader(const char* filename) {
  XPSPackage* package = nullptr;
  return XPSPackageOpenDefault(filename, &package) == 1 ? package : nullptr;
}

void __XPSCloseReader(void* backend) { XPSPackageClose(static_cast<XPSPackage*>(backend)); }

int __XPSReadGetPageCount(elf_state* state, void* backend, int32_t* count) {
  static const char function[] = "__XPSReadGetPageCount";
  XPSFixedDoc* document = first_document(state, static_cast<XPSPackage*>(backend), function);
  if (!document) return getStatus(state);
  const int32_t pages = XPSFixedDocGetPageCount(document);
  XPSElementRelease(document);
  if (count) *count = pages < 0 ? 0 : pages;
  // The count decides; a status left from an earlier call is no failure of this one.
  return 0;
}

int __XPSReadGetPage(elf_state* state, void* backend, int32_t page, elf_object** image) {
  static const char function[] = "__XPSReadGetPage";
  if (image) *image = nullptr;
  XPSFixedDoc* document = first_document(state, static_cast<XPSPackage*>(backend), function);
  if (!document) return getStatus(state);
  XPSFixedPage* fixedPage = nullptr;
  const int loaded = XPSFixedDocLoadPage(document, page, &fixedPage);
  XPSElementRelease(document);
  if (loaded != 1) {
    return setStatus(state, QEL_STATUS_FAILED, QEL_SEVERITY_ERROR, "%s: Cannot read fixed page %d\n", function, page);
  }
  QELImage* rendered = nullptr;
  const int status = XPSFixedPageRender(fixedPage, &rendered);
  XPSElementRelease(fixedPage);
  if (status != 1) {
    return setStatus(state, QEL_STATUS_FAILED, QEL_SEVERITY_ERROR, "%s: Cannot render fixed page\n", function);
  }
  // The object holds copies of what the rendered image owns, which goes at once.
  elf_object* made = __QELStruct2Obj(state, rendered);
  XPSFreeImage(rendered);
  if (!made || !mark_text_layers(state, made)) {
    if (made) elfDiscard(made);
    return setStatus(state, QEL_STATUS_FAILED, QEL_SEVERITY_ERROR, "%s: no memory for page %d\n", function, page);
  }
  if (image) {
    *image = made;
  } else {
    elfDiscard(made);
  }
  return 0;
}

int __XPSGetChecksum(elf_state* state, void* backend, int32_t* sum) {
  static const char function[] = "__XPSGetChecksum";
  const char* name = XPSPackageGetFileName(static_cast<XPSPackage*>(backend));
  if (!name) return setStatus(state, QEL_STATUS_FAILED, QEL_SEVERITY_ERROR, "%s: No XPS filename\n", function);
  KVngIO* io = KVngIO_FileName(name, "r");
  if (!io) {
    return setStatus(state, QEL_STATUS_FAILED, QEL_SEVERITY_ERROR, "%s: Cannot create KVngIO object\n", function);
  }
  const int64_t crc = __DIO_unfilteredChecksum(io);
  if (io->close) io->close(io);
  if (io->release) io->release(io);
  // A read that failed part-way gives no checksum: a partial one would be taken for the file's.
  if (crc < 0) {
    return setStatus(state, QEL_STATUS_FAILED, QEL_SEVERITY_ERROR, "%s: Cannot read %s\n", function, name);
  }
  if (sum) *sum = static_cast<int32_t>(static_cast<uint32_t>(crc));
  return 0;
}

}  // extern "C"
