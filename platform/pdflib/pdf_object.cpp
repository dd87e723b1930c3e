// Objects: making them, reading them, and the handles that stand for them.

#include <algorithm>
#include <cstring>

#include "kvng.h"
#include "pdf_internal.h"

using pdflib::guarded;
using pdflib::resolved;
using pdflib::wrap;

namespace {

using Obj = PDFObj*;

char* engine_text(const std::string& s) {
  auto* out = static_cast<char*>(kvng_internal_calloc(s.size() + 1, 1));
  if (out && !s.empty()) std::memcpy(out, s.data(), s.size());
  return out;
}

// The dictionary of a dictionary or of a stream, or a null handle.
QPDFObjectHandle dict_of(PDFObj* obj) {
  QPDFObjectHandle h = resolved(obj);
  if (!h.isInitialized()) return h;
  if (h.isStream()) return h.getDict();
  return h.isDictionary() ? h : QPDFObjectHandle();
}

// Text of a string or name, without the slash; false for anything else.
bool text_of(QPDFObjectHandle h, std::string* out) {
  if (h.isString()) {
    *out = h.getStringValue();
    return true;
  }
  if (h.isName()) {
    *out = h.getName().substr(1);
    return true;
  }
  return false;
}

}  // namespace

extern "C" {

PDFObj* PDFCreateDict(PDFDoc* doc) {
  return guarded(doc, "PDFCreateDict", Obj{}, [&] { return wrap(doc, QPDFObjectHandle::newDictionary()); });
}

PDFObj* PDFCreateArray(PDFDoc* doc) {
  return guarded(doc, "PDFCreateArray", Obj{}, [&] { return wrap(doc, QPDFObjectHandle::newArray()); });
}

PDFObj* PDFCreateName(PDFDoc* doc, const char* name) {
  if (!name) return nullptr;
  return guarded(doc, "PDFCreateName", Obj{},
                 [&] { return wrap(doc, QPDFObjectHandle::newName(std::string("/") + name)); });
}

PDFObj* PDFCreateInteger(PDFDoc* doc, int32_t value) {
  return guarded(doc, "PDFCreateInteger", Obj{}, [&] { return wrap(doc, QPDFObjectHandle::newInteger(value)); });
}

PDFObj* PDFCreateReal(PDFDoc* doc, double value) {
  return guarded(doc, "PDFCreateReal", Obj{}, [&] { return wrap(doc, QPDFObjectHandle::newReal(value, 6, true)); });
}

PDFObj* PDFCreateString(PDFDoc* doc, const char* bytes, int32_t length) {
  if (!bytes) return nullptr;
  return guarded(doc, "PDFCreateString", Obj{}, [&] {
    const size_t n = length < 0 ? std::strlen(bytes) : static_cast<size_t>(length);
    return wrap(doc, QPDFObjectHandle::newString(std::string(bytes, n)));
  });
}

PDFObj* PDFCreateStream(PDFDoc* doc) {
  if (!doc || !doc->writing) return nullptr;
  return guarded(doc, "PDFCreateStream", Obj{}, [&] {
    QPDFObjectHandle s = doc->impl->pdf.newStream();
    pdflib::pending(doc->impl, s);
    return wrap(doc, s);
  });
}

int PDFAddArrayObject(PDFDoc* doc, PDFObj* array, PDFObj* obj) {
  return guarded(doc, "PDFAddArrayObject", 0, [&] {
    QPDFObjectHandle a = resolved(array);
    if (!a.isArray() || !obj || !obj->h.isInitialized()) return pdflib::fail(doc, "PDFAddArrayObject: no array or object");
    a.appendItem(obj->h);
    return 1;
  });
}

int PDFAddDictEntry(PDFDoc* doc, PDFObj* dict, const char* key, PDFObj* value) {
  return guarded(doc, "PDFAddDictEntry", 0, [&] {
    QPDFObjectHandle d = dict_of(dict);
    if (!d.isInitialized() || !key || !*key || !value || !value->h.isInitialized()) {
      return pdflib::fail(doc, "PDFAddDictEntry: no dictionary, key or value");
    }
    d.replaceKey(std::string("/") + key, value->h);
    return 1;
  });
}

int PDFRemoveDictEntry(PDFDoc* doc, PDFObj* dict, const char* key) {
  return guarded(doc, "PDFRemoveDictEntry", 0, [&] {
    QPDFObjectHandle d = dict_of(dict);
    if (!d.isInitialized() || !key) return pdflib::fail(doc, "PDFRemoveDictEntry: no dictionary or key");
    d.removeKey(std::string("/") + key);
    return 1;
  });
}

int PDFMakeObjectIndirect(PDFDoc* doc, PDFObj* obj) {
  return guarded(doc, "PDFMakeObjectIndirect", 0, [&] {
    if (!obj || !obj->h.isInitialized()) return pdflib::fail(doc, "PDFMakeObjectIndirect: no object");
    if (!obj->h.isIndirect()) obj->h = doc->impl->pdf.makeIndirectObject(obj->h);
    return 1;
  });
}

int32_t PDFGetObjectNumber(PDFDoc* doc, PDFObj* obj, int32_t* generation) {
  if (generation) *generation = 0;
  return guarded(doc, "PDFGetObjectNumber", 0, [&] {
    if (!obj || !obj->h.isInitialized() || !obj->h.isIndirect()) return 0;
    if (generation) *generation = obj->h.getGeneration();
    return obj->h.getObjectID();
  });
}

void PDFFreeObject(PDFDoc* doc, PDFObj* obj) {
  if (!doc || !doc->impl || !obj || obj->pinned) return;
  auto& handles = doc->impl->handles;
  // Handles let go of early are usually the latest ones, so the search starts from the end.
  for (auto it = handles.rbegin(); it != handles.rend(); ++it) {
    if (it->get() == obj) {
      handles.erase(std::next(it).base());
      return;
    }
  }
}

int32_t PDFObjectKind(PDFDoc* doc, PDFObj* obj) {
  return guarded(doc, "PDFObjectKind", int32_t{PDF_OBJ_NONE}, [&] { return pdflib::kind_of(resolved(obj)); });
}

PDFObj* PDFGetDictEntry(PDFDoc* doc, PDFObj* dict, const char* key) {
  if (!key) return nullptr;
  return guarded(doc, "PDFGetDictEntry", Obj{}, [&]() -> PDFObj* {
    QPDFObjectHandle d = dict_of(dict);
    if (!d.isInitialized()) return nullptr;
    QPDFObjectHandle v = d.getKey(std::string("/") + key);
    return v.isNull() ? nullptr : wrap(doc, v);
  });
}

int32_t PDFGetDictCount(PDFDoc* doc, PDFObj* dict) {
  return guarded(doc, "PDFGetDictCount", int32_t{0}, [&] {
    QPDFObjectHandle d = dict_of(dict);
    return d.isInitialized() ? static_cast<int32_t>(d.getKeys().size()) : 0;
  });
}

const char* PDFGetDictKey(PDFDoc* doc, PDFObj* dict, int32_t index) {
  return guarded(doc, "PDFGetDictKey", static_cast<const char*>(nullptr), [&]() -> const char* {
    QPDFObjectHandle d = dict_of(dict);
    if (!d.isInitialized() || index < 0) return nullptr;
    // Kept in the handle, so that the text lives as long as the handle does.
    const std::set<std::string> keys = d.getKeys();
    if (static_cast<size_t>(index) >= keys.size()) return nullptr;
    dict->text = std::next(keys.begin(), index)->substr(1);
    return dict->text.c_str();
  });
}

int32_t PDFGetArrayCount(PDFDoc* doc, PDFObj* array) {
  return guarded(doc, "PDFGetArrayCount", int32_t{0}, [&] {
    QPDFObjectHandle a = resolved(array);
    return a.isArray() ? a.getArrayNItems() : 0;
  });
}

PDFObj* PDFGetArrayObject(PDFDoc* doc, PDFObj* array, int32_t index) {
  return guarded(doc, "PDFGetArrayObject", Obj{}, [&]() -> PDFObj* {
    QPDFObjectHandle a = resolved(array);
    if (!a.isArray() || index < 0 || index >= a.getArrayNItems()) return nullptr;
    return wrap(doc, a.getArrayItem(index));
  });
}

PDFObj* PDFLoadObject(PDFDoc* doc, PDFObj* obj) {
  return guarded(doc, "PDFLoadObject", Obj{}, [&]() -> PDFObj* {
    QPDFObjectHandle h = resolved(obj);
    if (!h.isInitialized() || h.isNull()) return nullptr;
    return obj;
  });
}

int PDFGetInteger(PDFDoc* doc, PDFObj* obj, int32_t* value) {
  return guarded(doc, "PDFGetInteger", 0, [&] {
    QPDFObjectHandle h = resolved(obj);
    if (!h.isInteger() || !value) return 0;
    *value = h.getIntValueAsInt();
    return 1;
  });
}

int PDFGetReal(PDFDoc* doc, PDFObj* obj, double* value) {
  return guarded(doc, "PDFGetReal", 0, [&] {
    QPDFObjectHandle h = resolved(obj);
    if (!h.isNumber() || !value) return 0;
    *value = h.getNumericValue();
    return 1;
  });
}

int PDFGetBoolean(PDFDoc* doc, PDFObj* obj, int32_t* value) {
  return guarded(doc, "PDFGetBoolean", 0, [&] {
    QPDFObjectHandle h = resolved(obj);
    if (!h.isBool() || !value) return 0;
    *value = h.getBoolValue() ? 1 : 0;
    return 1;
  });
}

char* PDFStringToCString(PDFDoc* doc, PDFObj* obj) {
  return guarded(doc, "PDFStringToCString", static_cast<char*>(nullptr), [&]() -> char* {
    std::string text;
    return text_of(resolved(obj), &text) ? engine_text(text) : nullptr;
  });
}

int PDFStringTestCString(PDFDoc* doc, PDFObj* obj, const char* text) {
  if (!text) return 0;
  return guarded(doc, "PDFStringTestCString", 0, [&] {
    std::string have;
    return text_of(resolved(obj), &have) && have == text ? 1 : 0;
  });
}

const char* PDFObjectText(PDFDoc* doc, PDFObj* obj) {
  return guarded(doc, "PDFObjectText", static_cast<const char*>(nullptr), [&]() -> const char* {
    if (!obj || !obj->h.isInitialized()) return nullptr;
    obj->text = obj->h.unparse();
    return obj->text.c_str();
  });
}

}  // extern "C"
