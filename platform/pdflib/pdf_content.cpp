// Page content written as operator lists or text, and page resources: fonts, named colour
// spaces, the resource manager.

#include <cstring>

#include "pdf_internal.h"

using pdflib::guarded;
using pdflib::number;
using pdflib::resolved;

namespace {

// The pending content stream of a page being written.
pdflib::PendingStream* content_of(PDFDoc* doc, QPDFObjectHandle page) {
  QPDFObjectHandle contents = page.getKey("/Contents");
  if (contents.isArray() && contents.getArrayNItems() > 0) {
    contents = contents.getArrayItem(contents.getArrayNItems() - 1);
  }
  if (!contents.isStream()) {
    contents = doc->impl->pdf.newStream();
    page.replaceKey("/Contents", contents);
  }
  pdflib::PendingStream& p = pdflib::pending(doc->impl, contents);
  if (p.kind == pdflib::PendingStream::PRECOMPRESSED) return nullptr;
  p.kind = pdflib::PendingStream::RAW;
  return &p;
}

QPDFObjectHandle page_resources(QPDFObjectHandle page, const char* category) {
  QPDFObjectHandle res = page.getKey("/Resources");
  if (!res.isDictionary()) {
    res = QPDFObjectHandle::newDictionary();
    page.replaceKey("/Resources", res);
  }
  QPDFObjectHandle sub = res.getKey(category);
  if (!sub.isDictionary()) {
    sub = QPDFObjectHandle::newDictionary();
    res.replaceKey(category, sub);
  }
  return sub;
}

QPDFObjectHandle written_page(PDFDoc* doc, PDFObj* page) {
  QPDFObjectHandle p = resolved(page);
  return doc->writing && p.isDictionary() && PDFFindPage(doc, page) ? p : QPDFObjectHandle();
}

std::string color(int v) { return number((v < 0 ? 0 : v > 255 ? 255 : v) / 255.0); }

QPDFObjectHandle numbers(const double* v, int n) {
  QPDFObjectHandle a = QPDFObjectHandle::newArray();
  for (int i = 0; i < n; ++i) a.appendItem(QPDFObjectHandle::newReal(v[i], 6, true));
  return a;
}

bool valid_name(const char* name) { return name && *name && std::strlen(name) < 127; }

}  // namespace

extern "C" {

int PDFPageAddContents(PDFDoc* doc, PDFObj* page, PDFObj* image, ...) {
  // The operands are read before anything else can fail, so that a refusal never leaves the
  // argument list half read.
  std::string ops;
  bool known = true;
  std::string unknown;
  va_list ap;
  va_start(ap, image);
  while (const char* op = va_arg(ap, const char*)) {
    std::string piece;
    if (std::strcmp(op, "cm") == 0) {
      for (int i = 0; i < 6; ++i) piece += number(va_arg(ap, double)) + " ";
    } else if (std::strcmp(op, "w") == 0) {
      piece = number(va_arg(ap, double)) + " ";
    } else if (std::strcmp(op, "g") == 0 || std::strcmp(op, "G") == 0) {
      piece = color(va_arg(ap, int)) + " ";
    } else if (std::strcmp(op, "rg") == 0 || std::strcmp(op, "RG") == 0) {
      for (int i = 0; i < 3; ++i) piece += color(va_arg(ap, int)) + " ";
    } else if (std::strcmp(op, "k") == 0 || std::strcmp(op, "K") == 0) {
      for (int i = 0; i < 4; ++i) piece += color(va_arg(ap, int)) + " ";
    } else if (std::strcmp(op, "re") == 0) {
      for (int i = 0; i < 4; ++i) piece += std::to_string(va_arg(ap, int)) + " ";
    } else if (std::strcmp(op, "CUS") == 0) {
      const char* text = va_arg(ap, const char*);
      ops += (text ? text : "");
      ops += "\n";
      continue;
    } else if (std::strcmp(op, "f") != 0 && std::strcmp(op, "S") != 0 && std::strcmp(op, "n") != 0 &&
               std::strcmp(op, "q") != 0 && std::strcmp(op, "Q") != 0) {
      // Its operands cannot be told apart: nothing after it is read.
      known = false;
      unknown = op;
      break;
    }
    ops += piece + op + "\n";
  }
  va_end(ap);
  return guarded(doc, "PDFPageAddContents", 0, [&] {
    if (!known) return pdflib::fail(doc, "PDFPageAddContents: unknown operator %s", unknown.c_str());
    QPDFObjectHandle p = written_page(doc, page);
    if (!p.isInitialized()) return pdflib::fail(doc, "PDFPageAddContents: not a page being written");
    std::string text;
    if (image) {
      const auto name = doc->impl->imageNames.find(resolved(image).getObjGen());
      if (!resolved(image).isStream() || name == doc->impl->imageNames.end()) {
        return pdflib::fail(doc, "PDFPageAddContents: the image is not a resource of a page");
      }
      page_resources(p, "/XObject").replaceKey(name->second, resolved(image));
      text = "q\n" + ops + QPDFObjectHandle::newName(name->second).unparse() + " Do\nQ\n";
    } else {
      text = "q\n" + ops + "Q\n";
    }
    pdflib::PendingStream* content = content_of(doc, p);
    if (!content) return pdflib::fail(doc, "PDFPageAddContents: the page content was given coded");
    content->data += text;
    return 1;
  });
}

int PDFPageAddContentString(PDFDoc* doc, PDFObj* page, const char* text) {
  if (!text) return pdflib::fail(doc, "PDFPageAddContentString: no text");
  return guarded(doc, "PDFPageAddContentString", 0, [&] {
    QPDFObjectHandle p = written_page(doc, page);
    if (!p.isInitialized()) return pdflib::fail(doc, "PDFPageAddContentString: not a page being written");
    pdflib::PendingStream* content = content_of(doc, p);
    if (!content) return pdflib::fail(doc, "PDFPageAddContentString: the page content was given coded");
    if (!content->data.empty() && content->data.back() != '\n') content->data += "\n";
    content->data += text;
    content->data += "\n";
    return 1;
  });
}

int PDFPageAddResources(PDFDoc* doc, PDFObj* page, const PDFResourceEntry* entry) {
  return guarded(doc, "PDFPageAddResources", 0, [&] {
    QPDFObjectHandle p = written_page(doc, page);
    if (!p.isInitialized() || !entry) return pdflib::fail(doc, "PDFPageAddResources: no page or no entry");
    if (entry->kind != PDF_RES_FONT) return pdflib::fail(doc, "PDFPageAddResources: resource kind %d", entry->kind);
    QPDFObjectHandle dict = resolved(entry->dict);
    if (!dict.isDictionary() || !valid_name(entry->name)) {
      return pdflib::fail(doc, "PDFPageAddResources: the entry has no dictionary or name");
    }
    page_resources(p, "/Font").replaceKey(std::string("/") + entry->name, dict);
    return 1;
  });
}

int PDFPageAddRGBColorSpace(PDFDoc* doc, PDFObj* page, const char* name, const double whitePoint[3],
                            const double matrix[9], const double gamma[3]) {
  return guarded(doc, "PDFPageAddRGBColorSpace", 0, [&] {
    QPDFObjectHandle p = written_page(doc, page);
    if (!p.isInitialized() || !valid_name(name) || !whitePoint) {
      return pdflib::fail(doc, "PDFPageAddRGBColorSpace: no page, name or white point");
    }
    QPDFObjectHandle params = QPDFObjectHandle::newDictionary();
    params.replaceKey("/WhitePoint", numbers(whitePoint, 3));
    if (gamma) params.replaceKey("/Gamma", numbers(gamma, 3));
    if (matrix) params.replaceKey("/Matrix", numbers(matrix, 9));
    page_resources(p, "/ColorSpace")
        .replaceKey(std::string("/") + name, QPDFObjectHandle::newArray({QPDFObjectHandle::newName("/CalRGB"), params}));
    return 1;
  });
}

int PDFPageAddGrayColorSpace(PDFDoc* doc, PDFObj* page, const char* name, const double whitePoint[3], double gamma) {
  return guarded(doc, "PDFPageAddGrayColorSpace", 0, [&] {
    QPDFObjectHandle p = written_page(doc, page);
    if (!p.isInitialized() || !valid_name(name) || !whitePoint) {
      return pdflib::fail(doc, "PDFPageAddGrayColorSpace: no page, name or white point");
    }
    QPDFObjectHandle params = QPDFObjectHandle::newDictionary();
    params.replaceKey("/WhitePoint", numbers(whitePoint, 3));
    params.replaceKey("/Gamma", QPDFObjectHandle::newReal(gamma, 6, true));
    page_resources(p, "/ColorSpace")
        .replaceKey(std::string("/") + name, QPDFObjectHandle::newArray({QPDFObjectHandle::newName("/CalGray"), params}));
    return 1;
  });
}

int PDFFontCreateRefed(PDFDoc* doc, PDFObj* page, const char* baseFont, const char* resName) {
  return guarded(doc, "PDFFontCreateRefed", 0, [&] {
    QPDFObjectHandle p = written_page(doc, page);
    if (!p.isInitialized() || !valid_name(baseFont) || !valid_name(resName)) {
      return pdflib::fail(doc, "PDFFontCreateRefed: no page, font or resource name");
    }
    auto& fonts = doc->impl->standardFonts;
    auto it = fonts.find(baseFont);
    if (it == fonts.end()) {
      QPDFObjectHandle font = QPDFObjectHandle::newDictionary();
      font.replaceKey("/Type", QPDFObjectHandle::newName("/Font"));
      font.replaceKey("/Subtype", QPDFObjectHandle::newName("/Type1"));
      font.replaceKey("/BaseFont", QPDFObjectHandle::newName(std::string("/") + baseFont));
      it = fonts.emplace(baseFont, doc->impl->pdf.makeIndirectObject(font)).first;
    }
    page_resources(p, "/Font").replaceKey(std::string("/") + resName, it->second);
    return 1;
  });
}

PDFResourceEntry* PDFResMgrFindObj(PDFDoc* doc, const char* sourceId) {
  if (!doc || !doc->impl || !sourceId) return nullptr;
  const auto it = doc->impl->resources.find(sourceId);
  return it == doc->impl->resources.end() ? nullptr : &it->second->entry;
}

int PDFResMgrAssign(PDFDoc* doc, const char* sourceId, const PDFResourceEntry* entry) {
  if (!sourceId || !entry) return pdflib::fail(doc, "PDFResMgrAssign: no source id or entry");
  return guarded(doc, "PDFResMgrAssign", 0, [&] {
    auto kept = std::make_unique<pdflib::KeptResource>();
    kept->baseFont = entry->baseFont ? entry->baseFont : "";
    kept->name = entry->name ? entry->name : "";
    kept->entry = *entry;
    kept->entry.baseFont = kept->baseFont.c_str();
    kept->entry.name = kept->name.c_str();
    doc->impl->resources[sourceId] = std::move(kept);
    return 1;
  });
}

}  // extern "C"
