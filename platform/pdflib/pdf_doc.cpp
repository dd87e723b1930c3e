// Documents: opening, writing and closing, errors, the version, the catalog and information
// dictionary, pages, outlines and the object dump.

#include <qpdf/QPDFExc.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>
#include <qpdf/QPDFSystemError.hh>
#include <qpdf/QPDFWriter.hh>

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <set>
#include <stdexcept>

#include "kvng.h"
#include "kvng_print.h"
#include "pdf_internal.h"
#include "pdf_password.h"

using pdflib::guarded;
using pdflib::impl;
using pdflib::resolved;
using pdflib::wrap;

namespace pdflib {

int fail(PDFDoc* doc, const char* format, ...) {
  if (!doc || !doc->impl) return 0;
  char text[PDF_ERROR_TEXT_MAX];
  va_list ap;
  va_start(ap, format);
  std::vsnprintf(text, sizeof text, format, ap);
  va_end(ap);
  doc->impl->errorText = text;
  return 0;
}

int require_version(PDFDoc* doc, int32_t need, const char* what, const char* call) {
  const int32_t have = doc->impl->version;
  if (have >= need) return 1;
  return fail(doc, "%s: %s need PDF %d.%d; the document is PDF %d.%d", call, what, need / 10, need % 10, have / 10,
              have % 10);
}

int32_t version_needed(PDFDoc* doc, std::string* what) {
  int32_t need = 13;
  const auto raise = [&](int32_t v, const char* why) {
    if (v > need) {
      need = v;
      *what = why;
    }
  };
  for (QPDFObjectHandle h : doc->impl->pdf.getAllObjects()) {
    QPDFObjectHandle d = h.isStream() ? h.getDict() : h;
    if (!d.isDictionary()) continue;
    // ISO 32000-1, tables 6 and 89: the filters and keys a version introduced.
    for (const std::string& f : filter_names(doc, h)) {
      if (f == "/JBIG2Decode") raise(14, "JBIG2 images");
      if (f == "/JPXDecode") raise(15, "JPEG 2000 images");
      if (f == "/Crypt") raise(15, "crypt filters");
    }
    if (d.hasKey("/SMask") && d.getKey("/SMask").isStream()) raise(14, "soft masks");
    if (d.getKey("/Type").isNameAndEquals("/Catalog")) {
      if (d.hasKey("/Metadata")) raise(14, "XMP metadata streams");
      if (d.hasKey("/OutputIntents")) raise(14, "output intents");
    }
    QPDFObjectHandle group = d.getKey("/Group");
    if (group.isDictionary() && group.getKey("/S").isNameAndEquals("/Transparency")) raise(14, "transparency groups");
  }
  return need;
}

PDFObj* wrap(PDFDoc* doc, QPDFObjectHandle h, bool pinned) {
  if (!h.isInitialized()) return nullptr;
  auto obj = std::make_unique<PDFObj>();
  obj->h = h;
  obj->pinned = pinned;
  doc->impl->handles.push_back(std::move(obj));
  return doc->impl->handles.back().get();
}

QPDFObjectHandle resolved(PDFObj* obj) {
  if (!obj || !obj->h.isInitialized()) return QPDFObjectHandle();
  return obj->h;  // qpdf resolves references when the object is used
}

int32_t kind_of(QPDFObjectHandle h) {
  if (!h.isInitialized()) return PDF_OBJ_NONE;
  if (h.isNull()) return PDF_OBJ_NULL;
  if (h.isBool()) return PDF_OBJ_BOOLEAN;
  if (h.isInteger()) return PDF_OBJ_INTEGER;
  if (h.isReal()) return PDF_OBJ_REAL;
  if (h.isString()) return PDF_OBJ_STRING;
  if (h.isName()) return PDF_OBJ_NAME;
  if (h.isArray()) return PDF_OBJ_ARRAY;
  if (h.isStream()) return PDF_OBJ_STREAM;
  if (h.isDictionary()) return PDF_OBJ_DICT;
  if (h.isInlineImage()) return PDF_OBJ_INLINE_IMAGE;
  return PDF_OBJ_NONE;
}

}  // namespace pdflib

namespace {

PDFDoc* new_doc(const char* name) {
  auto* doc = static_cast<PDFDoc*>(kvng_internal_calloc(1, sizeof(PDFDoc)));
  if (!doc) return nullptr;
  try {
    doc->impl = new PDFDocImpl;
    doc->impl->name = name ? name : "";
    doc->filename = doc->impl->name.c_str();
    doc->impl->pdf.setSuppressWarnings(true);
  } catch (...) {
    delete doc->impl;
    kvng_internal_free(doc);
    return nullptr;
  }
  return doc;
}

void free_doc(PDFDoc* doc) {
  if (!doc) return;
  if (doc->impl && doc->impl->jbig2.handle) pdflib::jbig2_finish(doc);
  if (doc->impl && doc->impl->outputOpen) SafeOut_Abort(&doc->impl->output);
  delete doc->impl;
  kvng_internal_free(doc);
}

// Pages a document may have. Opening gives every page the attributes it inherits and lists
// them all, some kilobytes and a fraction of a millisecond each: a file of a million empty pages
// (85 MB) would take more than a gigabyte and minutes before its first page is read.
constexpr size_t kMaxPages = 100000;
// Nodes of the page tree, inner nodes included: a balanced tree has far fewer inner nodes than
// pages; chains of empty nodes are not pages, whatever their number.
constexpr size_t kMaxPageTreeNodes = 2 * kMaxPages;

// A document refused by a budget rather than for damage.
class OverBudget : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Counts the pages of the tree as opening will list them, and throws as soon as a budget is
// exceeded, so that what cannot be opened costs no more than the budget. A page listed again
// counts again, as opening makes a copy of it for every place; an inner node listed again is
// walked again (qpdf refuses it later), so only the node budget bounds such a walk.
void check_page_count(QPDF& pdf) {
  QPDFObjectHandle root = pdf.getRoot().getKey("/Pages");
  // The count the tree claims refuses at once; the walk below catches a count that understates.
  QPDFObjectHandle claimed = root.isDictionary() ? root.getKey("/Count") : QPDFObjectHandle::newNull();
  if (claimed.isInteger() && claimed.getIntValue() > static_cast<long long>(kMaxPages)) {
    throw OverBudget("it claims " + std::to_string(claimed.getIntValue()) + " pages, more than the budget of " +
                     std::to_string(kMaxPages) + " pages a document may have");
  }
  // Depth first; an entry with leave set takes its node off the path when its kids are done.
  struct Step {
    QPDFObjectHandle node;
    bool leave;
  };
  std::vector<Step> todo{{root, false}};
  std::set<QPDFObjGen> path;
  size_t pages = 0, nodes = 0;
  while (!todo.empty()) {
    const Step step = todo.back();
    todo.pop_back();
    if (step.leave) {
      path.erase(step.node.getObjGen());
      continue;
    }
    QPDFObjectHandle node = step.node;
    if (!node.isDictionary()) continue;
    if (++nodes > kMaxPageTreeNodes) {
      throw OverBudget("its page tree has more than the budget of " + std::to_string(kMaxPageTreeNodes) +
                       " nodes a document's page tree may have");
    }
    QPDFObjectHandle kids = node.getKey("/Kids");
    if (!kids.isArray() || node.getKey("/Type").isNameAndEquals("/Page")) {
      if (++pages > kMaxPages) {
        throw OverBudget("it has more than the budget of " + std::to_string(kMaxPages) + " pages a document may have");
      }
      continue;
    }
    // A node within itself is a loop, which qpdf reports.
    if (node.isIndirect()) {
      if (!path.insert(node.getObjGen()).second) continue;
      todo.push_back({node, true});
    }
    const int n = kids.getArrayNItems();
    for (int i = n - 1; i >= 0; --i) todo.push_back({kids.getArrayItem(i), false});
  }
}

int32_t open_error(const QPDFExc& e) {
  switch (e.getErrorCode()) {
    case qpdf_e_password:
      return PDF_ERR_PASSWORD;
    case qpdf_e_system:
      return PDF_ERR_OPEN;
    default:
      return PDF_ERR_DAMAGED;
  }
}

// A reader whose open failed, made fresh for another try: qpdf reads a document once.
bool renew_reader(PDFDoc* doc) {
  PDFDocImpl* old = doc->impl;
  PDFDocImpl* fresh = nullptr;
  try {
    fresh = new PDFDocImpl;
  } catch (const std::bad_alloc&) {
    return false;
  }
  fresh->name.swap(old->name);
  fresh->memory.swap(old->memory);
  fresh->pdf.setSuppressWarnings(true);
  doc->impl = fresh;
  doc->filename = fresh->name.c_str();
  delete old;
  return true;
}

// Reads the document that new_doc made, from its file or its memory; pages get the attributes
// they inherit, so that a page dictionary answers for its own box and resources. A password is
// tried in each form a writer may have stored it in, until one opens the document.
PDFDoc* read_doc(PDFDoc* doc, bool memory, const char* password, int32_t* error) {
  int32_t code = PDF_ERR_NONE;
  std::vector<std::string> forms;
  try {
    if (password && *password) forms = pdflib::password_forms(password);
  } catch (const std::bad_alloc&) {
    code = PDF_ERR_MEMORY;
  }
  for (size_t attempt = 0; code == PDF_ERR_NONE; ++attempt) {
    const char* given = forms.empty() ? password : forms[attempt].c_str();
    try {
      PDFDocImpl* d = doc->impl;
      if (memory) {
        d->pdf.processMemoryFile(d->name.c_str(), d->memory.data(), d->memory.size(), given);
      } else {
        d->pdf.processFile(d->name.c_str(), given);
      }
      check_page_count(d->pdf);
      d->pdf.pushInheritedAttributesToPage();
      QPDFPageDocumentHelper(d->pdf).getAllPages();
      pdflib::collect_warnings(doc);
      break;
    } catch (const OverBudget& e) {
      code = PDF_ERR_UNSUPPORTED;
      KVngError("PDFOpenFilenameEx: %s: %s\n", doc->impl->name.c_str(), e.what());
    } catch (const QPDFExc& e) {
      code = open_error(e);
      KVngDebug("PDFOpenFilenameEx: %s\n", e.what());
      if (code == PDF_ERR_PASSWORD && attempt + 1 < forms.size()) {
        code = renew_reader(doc) ? PDF_ERR_NONE : PDF_ERR_MEMORY;
      }
    } catch (const QPDFSystemError& e) {
      // The file itself could not be had: not a damaged document.
      code = PDF_ERR_OPEN;
      KVngDebug("PDFOpenFilenameEx: %s\n", e.what());
    } catch (const std::bad_alloc&) {
      code = PDF_ERR_MEMORY;
    } catch (const std::exception& e) {
      code = PDF_ERR_DAMAGED;
      KVngDebug("PDFOpenFilenameEx: %s\n", e.what());
    }
  }
  if (error) *error = code;
  if (code != PDF_ERR_NONE) {
    free_doc(doc);
    return nullptr;
  }
  return doc;
}

const char* version_text(int32_t version) {
  switch (version) {
    case 13:
      return "1.3";
    case 14:
      return "1.4";
    case 15:
      return "1.5";
    case 16:
      return "1.6";
    default:
      return "1.7";
  }
}

}  // namespace

extern "C" {

PDFDoc* PDFOpenFilenameEx(const char* name, int mode, const char* password, int32_t* error) {
  if (error) *error = PDF_ERR_ARGUMENT;
  if (!name || !*name) return nullptr;
  PDFDoc* doc = new_doc(name);
  if (!doc) {
    if (error) *error = PDF_ERR_MEMORY;
    return nullptr;
  }
  if (mode == 'r') return read_doc(doc, false, password, error);
  // A writer makes its temporary file now, so that a place it cannot write to fails at once;
  // a file that has the name stays untouched until the document is whole.
  if (SafeOut_Open(&doc->impl->output, name) != 0) {
    const int why = doc->impl->output.error;
    KVngError("PDFOpenFilenameEx: %s\n", doc->impl->output.message);
    if (error) *error = PDF_ERR_OPEN;
    free_doc(doc);
    errno = why;
    return nullptr;
  }
  doc->impl->outputOpen = true;
  try {
    doc->impl->pdf.emptyPDF();
    doc->writing = 1;
  } catch (...) {
    if (error) *error = PDF_ERR_MEMORY;
    free_doc(doc);
    return nullptr;
  }
  if (error) *error = PDF_ERR_NONE;
  return doc;
}

PDFDoc* PDFOpenMemoryEx(const void* bytes, size_t size, const char* password, int32_t* error) {
  if (error) *error = PDF_ERR_ARGUMENT;
  if (!bytes && size) return nullptr;
  PDFDoc* doc = new_doc("memory");
  if (!doc) {
    if (error) *error = PDF_ERR_MEMORY;
    return nullptr;
  }
  try {
    doc->impl->memory.assign(static_cast<const char*>(bytes), size);
  } catch (...) {
    if (error) *error = PDF_ERR_MEMORY;
    free_doc(doc);
    return nullptr;
  }
  return read_doc(doc, true, password, error);
}

int PDFCloseFile(PDFDoc* doc, int testMode) {
  if (!doc) return 0;
  int ok = 1;
  if (doc->writing && doc->impl) {
    ok = guarded(doc, "PDFCloseFile", 0, [&] {
      PDFDocImpl* d = doc->impl;
      if (!pdflib::jbig2_finish(doc)) return 0;
      pdflib::finalize_streams(doc);
      pdflib::write_outlines(doc);
      std::string what;
      const int32_t need = pdflib::version_needed(doc, &what);
      if (!pdflib::require_version(doc, need, what.c_str(), "PDFCloseFile")) return 0;
      // Written to the temporary file made at opening, every write, the flush and the close
      // checked, and moved over the file whole.
      SafeOut* out = &d->output;
      FILE* f = nullptr;
      const int fd = dup(out->fd);
      if (fd < 0 || !(f = fdopen(fd, "wb"))) {
        if (fd >= 0) close(fd);
        return pdflib::fail(doc, "PDFCloseFile: cannot write %s: %s", d->name.c_str(), std::strerror(errno));
      }
      int e = 0;
      try {
        QPDFWriter w(d->pdf);
        w.setOutputFile(d->name.c_str(), f, false);
        w.setCompressStreams(false);
        w.setDecodeLevel(qpdf_dl_none);
        w.setObjectStreamMode(qpdf_o_disable);
        w.setMinimumPDFVersion(version_text(d->version));
        if (testMode) w.setDeterministicID(true);
        w.write();
      } catch (...) {
        std::fclose(f);
        d->outputOpen = false;
        SafeOut_Abort(out);
        throw;
      }
      if (std::fflush(f) != 0 || std::ferror(f)) e = errno != 0 ? errno : EIO;
      if (std::fclose(f) != 0 && e == 0) e = errno;
      d->outputOpen = false;
      if (e != 0) {
        SafeOut_Abort(out);
        return pdflib::fail(doc, "PDFCloseFile: cannot write %s: %s", d->name.c_str(), std::strerror(e));
      }
      if (SafeOut_Commit(out) != 0) return pdflib::fail(doc, "PDFCloseFile: %s", out->message);
      return 1;
    });
    // A document that could not be written leaves its name as it found it (free_doc drops the
    // temporary file).
    if (!ok) KVngError("PDFCloseFile: %s\n", PDFErrorText(doc));
  }
  free_doc(doc);
  return ok;
}

const char* PDFErrorText(const PDFDoc* doc) { return doc && doc->impl ? doc->impl->errorText.c_str() : ""; }

int PDFSetError(PDFDoc* doc, int32_t code, const char* file, int32_t line, const char* format, ...) {
  if (!doc || doc->error.code != PDF_ERR_NONE) return 0;
  doc->error.code = code;
  doc->error.file = file;
  doc->error.line = line;
  doc->error.message[0] = '\0';
  if (format) {
    va_list ap;
    va_start(ap, format);
    std::vsnprintf(doc->error.message, sizeof doc->error.message, format, ap);
    va_end(ap);
  }
  return 0;
}

void PDFClearError(PDFDoc* doc) {
  if (doc) doc->error = PDFErrorRecord{};
}

int PDFSetVersion(PDFDoc* doc, int32_t version) {
  if (!impl(doc)) return 0;
  if (version < 13 || version > 17) return pdflib::fail(doc, "PDFSetVersion: no PDF version %d", version);
  doc->impl->version = version;
  return 1;
}

PDFObj* PDFGetCatalog(PDFDoc* doc) {
  return guarded(doc, "PDFGetCatalog", static_cast<PDFObj*>(nullptr),
                 [&] { return wrap(doc, doc->impl->pdf.getRoot(), true); });
}

int PDFAddInfoDict(PDFDoc* doc, ...) {
  va_list ap;
  va_start(ap, doc);
  std::vector<std::pair<std::string, std::string>> entries;
  while (const char* key = va_arg(ap, const char*)) {
    const char* value = va_arg(ap, const char*);
    entries.emplace_back(key, value ? value : "");
  }
  va_end(ap);
  return guarded(doc, "PDFAddInfoDict", 0, [&] {
    QPDFObjectHandle trailer = doc->impl->pdf.getTrailer();
    QPDFObjectHandle info = trailer.getKey("/Info");
    if (!info.isDictionary()) {
      info = doc->impl->pdf.makeIndirectObject(QPDFObjectHandle::newDictionary());
      trailer.replaceKey("/Info", info);
    }
    for (const auto& [key, value] : entries) info.replaceKey("/" + key, QPDFObjectHandle::newUnicodeString(value));
    return 1;
  });
}

int PDFObjsToFile(PDFDoc* doc, const char* path) {
  if (!path) return pdflib::fail(doc, "PDFObjsToFile: no path");
  return guarded(doc, "PDFObjsToFile", 0, [&] {
    FILE* f = std::fopen(path, "w");
    if (!f) return pdflib::fail(doc, "PDFObjsToFile: cannot create %s", path);
    for (QPDFObjectHandle h : doc->impl->pdf.getAllObjects()) {
      std::string body;
      if (h.isStream()) {
        body = h.getDict().unparse() + "\nstream (" + std::to_string(h.getRawStreamData()->getSize()) +
               " bytes)\nendstream";
      } else {
        body = h.unparseResolved();
      }
      std::fprintf(f, "%d %d obj\n%s\nendobj\n", h.getObjectID(), h.getGeneration(), body.c_str());
    }
    std::fprintf(f, "trailer\n%s\n", doc->impl->pdf.getTrailer().unparse().c_str());
    return std::fclose(f) == 0 ? 1 : pdflib::fail(doc, "PDFObjsToFile: cannot write %s", path);
  });
}

PDFObj* PDFAddPage(PDFDoc* doc) {
  if (!impl(doc) || !doc->writing) return nullptr;
  return guarded(doc, "PDFAddPage", static_cast<PDFObj*>(nullptr), [&] {
    QPDF& pdf = doc->impl->pdf;
    QPDFObjectHandle page = QPDFObjectHandle::newDictionary();
    page.replaceKey("/Type", QPDFObjectHandle::newName("/Page"));
    page.replaceKey("/MediaBox", QPDFObjectHandle::newArray(QPDFObjectHandle::Rectangle(0, 0, 612, 792)));
    page.replaceKey("/Resources", QPDFObjectHandle::newDictionary());
    QPDFObjectHandle contents = pdf.newStream();
    pdflib::pending(doc->impl, contents);
    page.replaceKey("/Contents", contents);
    page = pdf.makeIndirectObject(page);
    QPDFPageDocumentHelper(pdf).addPage(QPDFPageObjectHelper(page), false);
    PDFObj* handle = wrap(doc, page, true);
    doc->impl->pageHandles.push_back(handle);
    return handle;
  });
}

PDFObj** PDFGetPageList(PDFDoc* doc, int32_t* count) {
  if (count) *count = 0;
  return guarded(doc, "PDFGetPageList", static_cast<PDFObj**>(nullptr), [&]() -> PDFObj** {
    PDFDocImpl* d = doc->impl;
    if (!doc->writing) {
      const auto pages = QPDFPageDocumentHelper(d->pdf).getAllPages();
      if (d->pageHandles.size() != pages.size()) {
        d->pageHandles.clear();
        for (const auto& p : pages) d->pageHandles.push_back(wrap(doc, p.getObjectHandle(), true));
      }
    }
    const size_t n = d->pageHandles.size();
    auto** list = static_cast<PDFObj**>(kvng_internal_calloc(n ? n : 1, sizeof(PDFObj*)));
    if (!list) {
      pdflib::fail(doc, "PDFGetPageList: no memory");
      return nullptr;
    }
    for (size_t i = 0; i < n; ++i) list[i] = d->pageHandles[i];
    if (count) *count = static_cast<int32_t>(n);
    return list;
  });
}

PDFObj* PDFFindPage(PDFDoc* doc, PDFObj* page) {
  if (!impl(doc) || !page) return nullptr;
  // From the last page back: a writer asks about the page it is adding, so that a document of n
  // pages costs n lookups of one step, not n^2 / 2.
  const auto& handles = doc->impl->pageHandles;
  for (auto it = handles.rbegin(); it != handles.rend(); ++it) {
    PDFObj* p = *it;
    if (p == page || (page->h.isInitialized() && p->h.getObjGen() == page->h.getObjGen() &&
                      page->h.getObjGen().isIndirect())) {
      return p;
    }
  }
  return nullptr;
}

PDFObj* PDFFindIndirectObject(PDFDoc* doc, PDFObj* obj, int32_t) {
  return guarded(doc, "PDFFindIndirectObject", static_cast<PDFObj*>(nullptr), [&]() -> PDFObj* {
    if (!obj || !obj->h.isInitialized() || !obj->h.isIndirect()) return nullptr;
    return obj;
  });
}

int PDFPageAddMediaBox(PDFDoc* doc, PDFObj* page, double x0, double y0, double x1, double y1) {
  return guarded(doc, "PDFPageAddMediaBox", 0, [&] {
    QPDFObjectHandle p = resolved(page);
    if (!p.isDictionary()) return pdflib::fail(doc, "PDFPageAddMediaBox: no page");
    if (!(x1 > x0) || !(y1 > y0)) return pdflib::fail(doc, "PDFPageAddMediaBox: empty box");
    p.replaceKey("/MediaBox", QPDFObjectHandle::newArray(QPDFObjectHandle::Rectangle(x0, y0, x1, y1)));
    return 1;
  });
}

PDFObj* PDFGetPgMediaBox(PDFDoc* doc, PDFObj* page) {
  return guarded(doc, "PDFGetPgMediaBox", static_cast<PDFObj*>(nullptr), [&]() -> PDFObj* {
    QPDFObjectHandle p = resolved(page);
    if (!p.isDictionary()) return nullptr;
    QPDFObjectHandle box = QPDFPageObjectHelper(p).getAttribute("/MediaBox", false);
    return box.isArray() ? wrap(doc, box) : nullptr;
  });
}

int PDFDeletePage(PDFDoc* doc, PDFObj* page) {
  return guarded(doc, "PDFDeletePage", 0, [&] {
    PDFObj* p = PDFFindPage(doc, page);
    if (!doc->writing || !p) return pdflib::fail(doc, "PDFDeletePage: not a page of this document");
    QPDFPageDocumentHelper(doc->impl->pdf).removePage(QPDFPageObjectHelper(p->h));
    auto& handles = doc->impl->pageHandles;
    for (auto it = handles.begin(); it != handles.end(); ++it) {
      if (*it == p) {
        handles.erase(it);
        break;
      }
    }
    auto& marks = doc->impl->bookmarks;
    for (auto it = marks.begin(); it != marks.end();) it = *it == p->h.getObjGen() ? marks.erase(it) : it + 1;
    return 1;
  });
}

int PDFPageClose(PDFDoc* doc, PDFObj* page) {
  return guarded(doc, "PDFPageClose", 0, [&] {
    if (!PDFFindPage(doc, page)) return pdflib::fail(doc, "PDFPageClose: not a page of this document");
    pdflib::spool_streams(doc);
    return 1;
  });
}

int PDFAddBookmark(PDFDoc* doc, PDFObj* target) {
  return guarded(doc, "PDFAddBookmark", 0, [&] {
    QPDFObjectHandle t = resolved(target);
    if (!t.isDictionary() || !t.isIndirect() || !PDFFindPage(doc, target)) {
      return pdflib::fail(doc, "PDFAddBookmark: the target is not a page of this document");
    }
    doc->impl->bookmarks.push_back(t.getObjGen());
    return 1;
  });
}

}  // extern "C"

namespace pdflib {

void write_outlines(PDFDoc* doc) {
  PDFDocImpl* d = doc->impl;
  if (d->bookmarks.empty()) return;
  QPDF& pdf = d->pdf;
  QPDFObjectHandle outlines = pdf.makeIndirectObject(QPDFObjectHandle::parse("<< /Type /Outlines >>"));
  std::vector<QPDFObjectHandle> items;
  for (const QPDFObjGen& target : d->bookmarks) {
    size_t number = 0;
    for (size_t i = 0; i < d->pageHandles.size(); ++i) {
      if (d->pageHandles[i]->h.getObjGen() == target) number = i + 1;
    }
    QPDFObjectHandle item = pdf.makeIndirectObject(QPDFObjectHandle::newDictionary());
    item.replaceKey("/Title", QPDFObjectHandle::newUnicodeString("Page " + std::to_string(number)));
    item.replaceKey("/Parent", outlines);
    QPDFObjectHandle dest = QPDFObjectHandle::newArray();
    dest.appendItem(pdf.getObject(target));
    dest.appendItem(QPDFObjectHandle::newName("/Fit"));
    item.replaceKey("/Dest", dest);
    if (!items.empty()) {
      item.replaceKey("/Prev", items.back());
      items.back().replaceKey("/Next", item);
    }
    items.push_back(item);
  }
  outlines.replaceKey("/First", items.front());
  outlines.replaceKey("/Last", items.back());
  outlines.replaceKey("/Count", QPDFObjectHandle::newInteger(static_cast<long long>(items.size())));
  pdf.getRoot().replaceKey("/Outlines", outlines);
}

}  // namespace pdflib
