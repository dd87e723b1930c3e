// Fonts between PDF pages and FONTDIO objects: a page's font dictionaries read into records, and
// records written again as font resources of an output page.

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

#include "dio_internal.h"
#include "dio_text.h"
#include "kvng.h"

namespace {

// A PDF text (engine allocator) moved onto the interpreter's heap; null when there was none or
// memory ran out.
char* take_text(char* engine_text) {
  if (!engine_text) return nullptr;
  char* copy = elfStrDup(engine_text);
  kvng_internal_free(engine_text);
  return copy;
}

// Replaces a record text by a name or string entry of dict, when present; false when memory ran
// out.
bool text_entry(PDFDoc* doc, PDFObj* dict, const char* key, char** field) {
  PDFObj* value = PDFGetDictEntry(doc, dict, key);
  if (!value) return true;
  const int32_t kind = PDFObjectKind(doc, value);
  if (kind != PDF_OBJ_NAME && kind != PDF_OBJ_STRING) return true;
  char* text = take_text(PDFStringToCString(doc, value));
  if (!text) return false;
  _elfFree(*field);
  *field = text;
  return true;
}

void free_differences(FontDifferenceEntry* d) {
  while (d) {
    FontDifferenceEntry* next = d->next;
    _elfFree(d->text);
    _elfFree(d);
    d = next;
  }
}

// The encoding of a font dictionary: a name, or an /Encoding dictionary with a BaseEncoding
// (ISO 32000-1 9.6.6.1); null when there is none that counts. ok becomes false when memory runs out.
FontEncodingRecord* read_encoding(PDFDoc* doc, PDFObj* font, bool* ok) {
  PDFObj* value = PDFGetDictEntry(doc, font, "Encoding");
  if (!value) return nullptr;
  char* base = nullptr;
  FontDifferenceEntry* differences = nullptr;
  const int32_t kind = PDFObjectKind(doc, value);
  if (kind == PDF_OBJ_NAME) {
    base = take_text(PDFStringToCString(doc, value));
    if (!base) *ok = false;
  } else if (kind == PDF_OBJ_DICT && PDFStringTestCString(doc, PDFGetDictEntry(doc, value, "Type"), "Encoding")) {
    PDFObj* baseName = PDFGetDictEntry(doc, value, "BaseEncoding");
    if (baseName && !(base = take_text(PDFStringToCString(doc, baseName)))) *ok = false;
    PDFObj* array = PDFGetDictEntry(doc, value, "Differences");
    FontDifferenceEntry** tail = &differences;
    const int32_t n = array && PDFObjectKind(doc, array) == PDF_OBJ_ARRAY ? PDFGetArrayCount(doc, array) : 0;
    for (int32_t i = 0; *ok && base && i < n; ++i) {
      PDFObj* item = PDFGetArrayObject(doc, array, i);
      const int32_t itemKind = PDFObjectKind(doc, item);
      if (itemKind != PDF_OBJ_INTEGER && itemKind != PDF_OBJ_REAL && itemKind != PDF_OBJ_STRING &&
          itemKind != PDF_OBJ_NAME) {
        continue;
      }
      auto* d = static_cast<FontDifferenceEntry*>(elfCalloc(1, sizeof(FontDifferenceEntry)));
      if (!d) {
        *ok = false;
        break;
      }
      d->kind = itemKind;
      *tail = d;
      tail = &d->next;
      if (itemKind == PDF_OBJ_INTEGER) {
        PDFGetInteger(doc, item, &d->intValue);
      } else if (itemKind == PDF_OBJ_REAL) {
        PDFGetReal(doc, item, &d->realValue);
      } else if (!(d->text = take_text(PDFStringToCString(doc, item)))) {
        *ok = false;
      }
    }
  }
  // Without a base name the encoding, differences included, is dropped.
  if (!*ok || !base) {
    _elfFree(base);
    free_differences(differences);
    return nullptr;
  }
  auto* e = static_cast<FontEncodingRecord*>(elfCalloc(1, sizeof(FontEncodingRecord)));
  if (!e) {
    *ok = false;
    _elfFree(base);
    free_differences(differences);
    return nullptr;
  }
  e->baseEncoding = base;
  e->differences = differences;
  return e;
}

// The ToUnicode stream as stored; false (the font fails) when its bytes differ from its Length.
bool read_to_unicode(PDFDoc* doc, PDFObj* font, ToUnicodeRecord** out, bool* ok) {
  PDFObj* stream = PDFGetDictEntry(doc, font, "ToUnicode");
  if (!stream || PDFObjectKind(doc, stream) != PDF_OBJ_STREAM) return true;
  KVngSB* data = PDFReadStreamData(doc, stream);
  int32_t length = -1;
  PDFGetInteger(doc, PDFGetDictEntry(doc, stream, "Length"), &length);
  if (!data || length < 0 || KVngSBBytesAvailable(data) != static_cast<size_t>(length)) return false;
  auto* t = static_cast<ToUnicodeRecord*>(elfCalloc(1, sizeof(ToUnicodeRecord)));
  if (!t || (length > 0 && !(t->bytes = static_cast<uint8_t*>(elfCalloc(static_cast<size_t>(length), 1))))) {
    _elfFree(t);
    *ok = false;
    return true;
  }
  t->length = length;
  t->flate = PDFStringTestCString(doc, PDFGetDictEntry(doc, stream, "Filter"), "FlateDecode") ? 1 : 0;
  if (length > 0) KVngSBPeek(data, t->bytes, static_cast<size_t>(length));
  *out = t;
  return true;
}

FontWidthsRecord* read_widths(PDFDoc* doc, PDFObj* font, bool* ok) {
  PDFObj* array = PDFGetDictEntry(doc, font, "Widths");
  if (!array || PDFObjectKind(doc, array) != PDF_OBJ_ARRAY) return nullptr;
  const int32_t n = std::max(PDFGetArrayCount(doc, array), 0);
  auto* w = static_cast<FontWidthsRecord*>(elfCalloc(1, sizeof(FontWidthsRecord)));
  if (!w || (n > 0 && !(w->widths = static_cast<int32_t*>(elfCalloc(static_cast<size_t>(n), sizeof(int32_t)))))) {
    _elfFree(w);
    *ok = false;
    return nullptr;
  }
  w->count = n;
  for (int32_t i = 0; i < n; ++i) {
    // A real width counts by its integer part.
    double v = 0;
    if (PDFGetReal(doc, PDFGetArrayObject(doc, array, i), &v)) {
      w->widths[i] = static_cast<int32_t>(std::clamp(v, -2147483648.0, 2147483647.0));
    }
  }
  return w;
}

// Fills a FONTDIO's record from its font dictionary; false when the font fails the fetch.
bool read_font(PDFDoc* doc, PDFObj* font, FontDioRecord* r, bool* ok) {
  if (!font || PDFObjectKind(doc, font) != PDF_OBJ_DICT ||
      !PDFStringTestCString(doc, PDFGetDictEntry(doc, font, "Type"), "Font")) {
    return false;
  }
  *ok = text_entry(doc, font, "Subtype", &r->subtype) && text_entry(doc, font, "BaseFont", &r->baseFont);
  PDFGetInteger(doc, PDFGetDictEntry(doc, font, "FirstChar"), &r->firstChar);
  PDFGetInteger(doc, PDFGetDictEntry(doc, font, "LastChar"), &r->lastChar);
  if (*ok) r->encoding = read_encoding(doc, font, ok);
  const bool unicode = *ok && read_to_unicode(doc, font, &r->toUnicode, ok);
  if (*ok) r->widths = read_widths(doc, font, ok);
  int32_t generation = 0;
  const int32_t number = PDFGetObjectNumber(doc, font, &generation);
  const std::string source = "F" + std::to_string(number) + "_" + std::to_string(generation) + "_needPDFid";
  char* id = elfStrDup(source.c_str());
  if (!id) {
    *ok = false;
  } else {
    _elfFree(r->sourceId);
    r->sourceId = id;
  }
  // A damaged ToUnicode fails the font unless Widths describe it.
  return unicode || r->widths;
}

PDFObj* make_name(PDFDoc* doc, const char* text) { return PDFCreateName(doc, text ? text : ""); }

// The font dictionary of a record, made indirect; null when the library fails.
PDFObj* build_font(PDFDoc* doc, const FontDioRecord* r) {
  PDFObj* dict = PDFCreateDict(doc);
  if (!dict || !PDFAddDictEntry(doc, dict, "Type", make_name(doc, "Font")) ||
      !PDFAddDictEntry(doc, dict, "Subtype", make_name(doc, r->subtype)) ||
      !PDFAddDictEntry(doc, dict, "BaseFont", make_name(doc, r->baseFont))) {
    return nullptr;
  }
  if (r->firstChar >= 0 && !PDFAddDictEntry(doc, dict, "FirstChar", PDFCreateInteger(doc, r->firstChar))) return nullptr;
  if (r->lastChar >= 0 && !PDFAddDictEntry(doc, dict, "LastChar", PDFCreateInteger(doc, r->lastChar))) return nullptr;
  if (const FontEncodingRecord* e = r->encoding) {
    PDFObj* encoding = make_name(doc, e->baseEncoding);
    if (e->differences) {
      encoding = PDFCreateDict(doc);
      PDFObj* array = PDFCreateArray(doc);
      if (!encoding || !array || !PDFAddDictEntry(doc, encoding, "Type", make_name(doc, "Encoding")) ||
          !PDFAddDictEntry(doc, encoding, "BaseEncoding", make_name(doc, e->baseEncoding))) {
        return nullptr;
      }
      for (const FontDifferenceEntry* d = e->differences; d; d = d->next) {
        PDFObj* item = d->kind == PDF_OBJ_REAL      ? PDFCreateReal(doc, d->realValue)
                       : d->kind == PDF_OBJ_INTEGER ? PDFCreateInteger(doc, d->intValue)
                       : d->kind == PDF_OBJ_STRING  ? PDFCreateString(doc, d->text ? d->text : "", -1)
                                                    : make_name(doc, d->text);
        if (!PDFAddArrayObject(doc, array, item)) return nullptr;
      }
      if (!PDFAddDictEntry(doc, encoding, "Differences", array)) return nullptr;
    }
    if (!PDFAddDictEntry(doc, dict, "Encoding", encoding)) return nullptr;
  }
  if (const ToUnicodeRecord* t = r->toUnicode) {
    PDFObj* stream = PDFCreateStream(doc);
    if (!stream || !PDFMakeObjectIndirect(doc, stream)) return nullptr;
    const size_t length = static_cast<size_t>(std::max(t->length, 0));
    const bool appended = t->flate ? PDFSetStreamFilter(doc, stream, PDF_FILTER_FLATE, nullptr) &&
                                         PDFAppendPrecompressedStream(doc, stream, t->bytes, length)
                                   : PDFAppendStream(doc, stream, t->bytes, length);
    if (!appended || !PDFAddDictEntry(doc, dict, "ToUnicode", stream)) return nullptr;
  }
  if (const FontWidthsRecord* w = r->widths) {
    PDFObj* array = PDFCreateArray(doc);
    if (!array) return nullptr;
    for (int32_t i = 0; i < w->count; ++i) {
      if (!PDFAddArrayObject(doc, array, PDFCreateInteger(doc, w->widths[i]))) return nullptr;
    }
    if (!PDFMakeObjectIndirect(doc, array) || !PDFAddDictEntry(doc, dict, "Widths", array)) return nullptr;
  }
  return PDFMakeObjectIndirect(doc, dict) ? dict : nullptr;
}

}  // namespace

extern "C" {

int __fontDioFetchFonts(elf_state* state, PDFDoc* doc, PDFObj* pageDict, elf_object** listInOut) {
  if (!doc || !pageDict || !listInOut) return 0;
  PDFObj* resources = PDFGetDictEntry(doc, pageDict, "Resources");
  PDFObj* fonts = resources ? PDFGetDictEntry(doc, resources, "Font") : nullptr;
  if (!fonts || PDFObjectKind(doc, fonts) != PDF_OBJ_DICT) return 1;
  // The page's fonts gather in a list of their own and join the caller's only when all were read.
  elf_object* found = new_LIST(state, nullptr, nullptr);
  if (!found) return 0;
  bool ok = true;
  const int32_t n = PDFGetDictCount(doc, fonts);
  for (int32_t i = 0; ok && i < n; ++i) {
    const char* key = PDFGetDictKey(doc, fonts, i);
    const std::string name = key ? key : "";
    elf_object* obj = new_FONTDIO(state, nullptr, nullptr);
    elf_FONTDIO* font = dioFontDio(obj);
    ok = font && font->record && (font->record->name = (_elfFree(font->record->name), elfStrDup(name.c_str())));
    bool memory = true;
    ok = ok && read_font(doc, PDFGetDictEntry(doc, fonts, name.c_str()), font->record, &memory) && memory;
    elf_object* ident = ok ? elfNewIdent(state, name.c_str(), obj) : nullptr;
    ok = ident && elflistInsert(found, ident, -1, 0) == 0;
    if (!ident) elfDiscard(obj);
    if (!ok && ident) elfDiscard(ident);
  }
  if (!ok) {
    elfDiscard(found);
    return 0;
  }
  if (elflistLength(found) > 0) {
    if (!*listInOut) {
      *listInOut = found;
      return 1;
    }
    while (elflistLength(found) > 0) {
      elf_object* entry = elflistRemove(found, 0);
      const int inserted = elflistInsert(*listInOut, entry, -1, 0);
      elfRefDown(entry);
      if (inserted != 0) {
        elfDiscard(found);
        return 0;
      }
    }
  }
  elfDiscard(found);
  return 1;
}

int __fontDioPushFont(void*, PDFDoc* doc, PDFObj* page, int32_t index, elf_object* fontList, int32_t* doneOut) {
  int32_t ignored = 0;
  if (!doneOut) doneOut = &ignored;
  *doneOut = 0;
  PDFObj* pageDict = PDFFindPage(doc, page);
  elf_FONTDIO* font = dioFontDio(elfIdentValue(elflistItem(fontList, index)));
  if (!font) {
    *doneOut = 1;
    return 1;
  }
  const FontDioRecord* r = font->record;
  if (!r || r->tag != FONTDIO_TAG || r->magic != FONTDIO_MAGIC || !pageDict) return 0;
  const PDFResourceEntry* kept = PDFResMgrFindObj(doc, r->sourceId);
  if (kept) {
    // A page may name the same font otherwise than the page that brought it: it gets the one
    // dictionary under its own name.
    PDFResourceEntry entry = *kept;
    entry.name = r->name;
    if (!PDFPageAddResources(doc, page, &entry)) return 0;
    *doneOut = 1;
    return 1;
  }
  {
    PDFObj* dict = build_font(doc, r);
    PDFResourceEntry entry{};
    entry.kind = PDF_RES_FONT;
    entry.reserved1 = entry.reserved2 = -1;
    entry.baseFont = r->baseFont;
    entry.name = r->name;
    entry.dict = dict;
    if (!dict || !PDFResMgrAssign(doc, r->sourceId, &entry)) return 0;
    kept = PDFResMgrFindObj(doc, r->sourceId);
  }
  if (!kept || !PDFPageAddResources(doc, page, kept)) return 0;
  *doneOut = 1;
  return 1;
}

}  // extern "C"
