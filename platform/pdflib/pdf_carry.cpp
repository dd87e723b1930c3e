// Images carried from a document read into a document written: the image XObject and every
// object it refers to travel as bytes of their own, stream data as stored, so that the written
// image is the read one byte for byte whatever its filters, colour space or masks.
//
// The bytes: a header line, then per object (the image first) a line "<kind> <text length>
// <data length>", the object's text in PDF syntax and, for a stream, its data as stored. A
// reference to another carried object is written as the name /MonoCarried_<index>, which no
// reader sees: it becomes the object again when the bytes are made into objects.

#include <qpdf/Buffer.hh>

#include <cstdio>
#include <cstring>
#include <map>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "pdf_internal.h"

using pdflib::guarded;
using pdflib::resolved;

namespace {

constexpr char kHeader[] = "MonoCarriedImage 1\n";
constexpr char kReference[] = "/MonoCarried_";
// Objects one image may bring along: masks, colour spaces, lookup tables and functions are a
// handful; an image whose references reach this many has them pointing at the document itself.
constexpr size_t kMaxCarriedObjects = 4096;

struct Exporting {
  std::map<QPDFObjGen, size_t> index;    // carried objects by their place in the source
  std::vector<QPDFObjectHandle> queue;   // in the order they are written
};

// The PDF text of a direct object, references to indirect ones replaced by their names.
std::string text_of(Exporting* e, QPDFObjectHandle obj, bool top) {
  if (obj.isIndirect() && !top) {
    if (obj.isNull()) return "null";
    auto it = e->index.find(obj.getObjGen());
    if (it == e->index.end()) {
      if (e->queue.size() >= kMaxCarriedObjects) {
        throw std::runtime_error("the image refers to more than " + std::to_string(kMaxCarriedObjects) + " objects");
      }
      it = e->index.emplace(obj.getObjGen(), e->queue.size()).first;
      e->queue.push_back(obj);
    }
    return kReference + std::to_string(it->second);
  }
  if (obj.isStream()) return text_of(e, obj.getDict(), false);
  if (obj.isArray()) {
    std::string t = "[";
    for (QPDFObjectHandle item : obj.aitems()) t += text_of(e, item, false) + " ";
    return t + "]";
  }
  if (obj.isDictionary()) {
    std::string t = "<<";
    for (const std::string& key : obj.getKeys()) {
      if (key == "/Length") continue;
      t += QPDFObjectHandle::newName(key).unparse() + " " + text_of(e, obj.getKey(key), false) + " ";
    }
    return t + ">>";
  }
  return obj.unparse();
}

// The carried objects by index, their names turned back into references.
QPDFObjectHandle resolve_names(QPDFObjectHandle obj, const std::vector<QPDFObjectHandle>& made) {
  if (obj.isName()) {
    const std::string name = obj.getName();
    if (name.compare(0, std::strlen(kReference), kReference) != 0) return obj;
    const std::string digits = name.substr(std::strlen(kReference));
    if (digits.empty() || digits.size() > 6 || digits.find_first_not_of("0123456789") != std::string::npos) return obj;
    const size_t i = std::stoul(digits);
    if (i >= made.size()) throw std::runtime_error("a carried reference names no carried object");
    return made[i];
  }
  if (obj.isArray()) {
    QPDFObjectHandle a = QPDFObjectHandle::newArray();
    for (QPDFObjectHandle item : obj.aitems()) a.appendItem(resolve_names(item, made));
    return a;
  }
  if (obj.isDictionary()) {
    QPDFObjectHandle d = QPDFObjectHandle::newDictionary();
    for (const std::string& key : obj.getKeys()) d.replaceKey(key, resolve_names(obj.getKey(key), made));
    return d;
  }
  return obj;
}

// Reads "<kind> <text length> <data length>\n" at *at.
bool record_line(const char* bytes, size_t length, size_t* at, char* kind, size_t* text, size_t* data) {
  const size_t end = std::string_view(bytes, length).find('\n', *at);
  if (end == std::string_view::npos || end - *at > 64) return false;
  const std::string line(bytes + *at, end - *at);
  unsigned long long t = 0, d = 0;
  char k = 0;
  if (std::sscanf(line.c_str(), "%c %llu %llu", &k, &t, &d) != 3 || (k != 'S' && k != 'O')) return false;
  *at = end + 1;
  if (t > length - *at || d > length - *at - t) return false;
  *kind = k;
  *text = static_cast<size_t>(t);
  *data = static_cast<size_t>(d);
  return true;
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
    Exporting e;
    e.queue.push_back(s);
    if (s.isIndirect()) e.index.emplace(s.getObjGen(), 0);
    KVngSB* sb = KVngSBNew();
    bool ok = sb && KVngSBAppend(sb, kHeader, std::strlen(kHeader)) == 1;
    for (size_t i = 0; ok && i < e.queue.size(); ++i) {
      QPDFObjectHandle obj = e.queue[i];
      const std::string text = text_of(&e, obj, true);
      std::shared_ptr<Buffer> data = obj.isStream() ? obj.getRawStreamData() : nullptr;
      const size_t n = data ? data->getSize() : 0;
      const std::string line =
          std::string(obj.isStream() ? "S " : "O ") + std::to_string(text.size()) + " " + std::to_string(n) + "\n";
      ok = KVngSBAppend(sb, line.data(), line.size()) == 1 && KVngSBAppend(sb, text.data(), text.size()) == 1 &&
           (n == 0 || KVngSBAppend(sb, data->getBuffer(), n) == 1);
    }
    if (!ok) {
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
    const char* in = static_cast<const char*>(bytes);
    const size_t header = std::strlen(kHeader);
    if (!p.isDictionary() || !name || !*name || !in || length < header || std::memcmp(in, kHeader, header) != 0) {
      pdflib::fail(doc, "PDFImageImport: no page, name or carried image");
      return nullptr;
    }
    struct Record {
      char kind;
      std::string_view text;
      std::string_view data;
    };
    std::vector<Record> records;
    for (size_t at = header; at < length;) {
      Record r{};
      size_t text = 0, data = 0;
      if (records.size() >= kMaxCarriedObjects || !record_line(in, length, &at, &r.kind, &text, &data)) {
        pdflib::fail(doc, "PDFImageImport: the carried image is damaged");
        return nullptr;
      }
      r.text = std::string_view(in + at, text);
      r.data = std::string_view(in + at + text, data);
      at += text + data;
      records.push_back(std::move(r));
    }
    if (records.empty() || records[0].kind != 'S') {
      pdflib::fail(doc, "PDFImageImport: the bytes carry no image");
      return nullptr;
    }
    QPDF& dest = doc->impl->pdf;
    std::vector<QPDFObjectHandle> made;
    for (const Record& r : records) {
      made.push_back(r.kind == 'S' ? dest.newStream() : QPDFObjectHandle::newReserved(&dest));
    }
    for (size_t i = 0; i < records.size(); ++i) {
      QPDFObjectHandle parsed = resolve_names(QPDFObjectHandle::parse(std::string(records[i].text), "carried image"), made);
      if (records[i].kind == 'O') {
        dest.replaceReserved(made[i], parsed);
        continue;
      }
      if (!parsed.isDictionary()) throw std::runtime_error("a carried stream has no dictionary");
      QPDFObjectHandle dict = made[i].getDict();
      for (const std::string& key : parsed.getKeys()) {
        if (key != "/Filter" && key != "/DecodeParms") dict.replaceKey(key, parsed.getKey(key));
      }
      // Held in the spool file as a page's coded streams are, not in memory to the end.
      pdflib::spool_stored(doc, made[i], std::string(records[i].data), parsed.getKey("/Filter"),
                           parsed.getKey("/DecodeParms"));
    }
    pdflib::add_page_image(doc, p, name, made[0]);
    return pdflib::wrap(doc, made[0]);
  });
}

}  // extern "C"
