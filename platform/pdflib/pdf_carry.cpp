// Images carried from a document read into a document written: the image XObject and every
// object it refers to travel as a small PDF of their own, stream data as stored, so that the
// written image is the read one byte for byte whatever its filters, colour space or masks.

#include <qpdf/Buffer.hh>
#include <qpdf/QPDFWriter.hh>

#include <cstring>
#include <map>
#include <stdexcept>
#include <string>

#include "pdf_internal.h"

using pdflib::guarded;
using pdflib::resolved;

namespace {

// The key of the carrier's catalog under which the image travels.
constexpr char kCarried[] = "/MonoCarriedImage";
// Objects one image may bring along: masks, colour spaces, lookup tables and functions are a
// handful; an image whose references reach this many has them pointing at the document itself.
constexpr size_t kMaxCarriedObjects = 4096;

struct Copying {
  QPDF& dest;
  std::map<QPDFObjGen, QPDFObjectHandle> done;
};

// A copy of obj (from another QPDF) made of objects of dest: streams get their data as stored,
// shared objects stay shared, and nothing of the source is referred to afterwards.
QPDFObjectHandle copy_into(Copying* c, QPDFObjectHandle obj) {
  QPDFObjectHandle reserved;
  if (obj.isIndirect()) {
    const auto it = c->done.find(obj.getObjGen());
    if (it != c->done.end()) return it->second;
    if (c->done.size() >= kMaxCarriedObjects) {
      throw std::runtime_error("the image refers to more than " + std::to_string(kMaxCarriedObjects) + " objects");
    }
    if (obj.isNull()) return QPDFObjectHandle::newNull();
    // Taken before the parts are copied, so that references back to the object end here.
    reserved = obj.isStream() ? c->dest.newStream() : QPDFObjectHandle::newReserved(&c->dest);
    c->done[obj.getObjGen()] = reserved;
  }
  if (obj.isStream()) {
    QPDFObjectHandle from = obj.getDict();
    QPDFObjectHandle to = reserved.getDict();
    for (const std::string& key : from.getKeys()) {
      if (key == "/Length" || key == "/Filter" || key == "/DecodeParms") continue;
      to.replaceKey(key, copy_into(c, from.getKey(key)));
    }
    reserved.replaceStreamData(obj.getRawStreamData(), copy_into(c, from.getKey("/Filter")),
                               copy_into(c, from.getKey("/DecodeParms")));
    return reserved;
  }
  QPDFObjectHandle made;
  if (obj.isArray()) {
    made = QPDFObjectHandle::newArray();
    for (QPDFObjectHandle item : obj.aitems()) made.appendItem(copy_into(c, item));
  } else if (obj.isDictionary()) {
    made = QPDFObjectHandle::newDictionary();
    for (const std::string& key : obj.getKeys()) made.replaceKey(key, copy_into(c, obj.getKey(key)));
  } else {
    made = obj.shallowCopy();
  }
  if (!reserved.isInitialized()) return made;
  c->dest.replaceReserved(reserved, made);
  return reserved;
}

}  // namespace

extern "C" {

KVngSB* PDFImageExport(PDFDoc* doc, PDFObj* image) {
  return guarded(doc, "PDFImageExport", static_cast<KVngSB*>(nullptr), [&]() -> KVngSB* {
    QPDFObjectHandle s = resolved(image);
    if (!s.isStream() || !s.getDict().getKey("/Subtype").isNameAndEquals("/Image")) {
      pdflib::fail(doc, "PDFImageExport: not an image XObject");
      return nullptr;
    }
    QPDF carrier;
    carrier.emptyPDF();
    Copying c{carrier, {}};
    carrier.getRoot().replaceKey(kCarried, copy_into(&c, s));
    QPDFWriter w(carrier);
    w.setOutputMemory();
    w.setStreamDataMode(qpdf_s_preserve);
    w.setDecodeLevel(qpdf_dl_none);
    w.setStaticID(true);
    w.write();
    std::shared_ptr<Buffer> bytes = w.getBufferSharedPointer();
    KVngSB* sb = KVngSBNew();
    if (!sb || KVngSBAppend(sb, bytes->getBuffer(), bytes->getSize()) != 1) {
      KVngSBFree(sb);
      pdflib::fail(doc, "PDFImageExport: no memory");
      return nullptr;
    }
    return sb;
  });
}

PDFObj* PDFImageImport(PDFDoc* doc, PDFObj* page, const char* name, const void* bytes, size_t length) {
  if (!doc || !doc->writing) return nullptr;
  return guarded(doc, "PDFImageImport", static_cast<PDFObj*>(nullptr), [&]() -> PDFObj* {
    QPDFObjectHandle p = resolved(page);
    if (!p.isDictionary() || !name || !*name || !bytes || length == 0) {
      pdflib::fail(doc, "PDFImageImport: no page, name or image");
      return nullptr;
    }
    QPDF carrier;
    carrier.setSuppressWarnings(true);
    carrier.processMemoryFile("carried image", static_cast<const char*>(bytes), length);
    QPDFObjectHandle carried = carrier.getRoot().getKey(kCarried);
    if (!carried.isStream()) {
      pdflib::fail(doc, "PDFImageImport: the bytes carry no image");
      return nullptr;
    }
    Copying c{doc->impl->pdf, {}};
    QPDFObjectHandle s = copy_into(&c, carried);
    pdflib::add_page_image(doc, p, name, s);
    return pdflib::wrap(doc, s);
  });
}

}  // extern "C"
