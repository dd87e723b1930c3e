// The object type FONTDIO: one font of a PDF page, read with the page and written again as a
// font resource of an output page.

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <string>

#include "dio_protocol.h"
#include "dio_text.h"
#include "kvng.h"

namespace {

constexpr char kDefaultName[] = "unnamed font";
constexpr char kDefaultSource[] = "unknown source";
constexpr char kDefaultBase[] = "no base font";
constexpr char kDefaultSubtype[] = "subtype not found";
constexpr char kNoFont[] = "no font available";

bool valid(const FontDioRecord* r) { return r && r->tag == FONTDIO_TAG && r->magic == FONTDIO_MAGIC; }

// Replaces a record text with a copy of text; false when memory runs out (the old text stays).
bool set_text(char** field, const char* text) {
  char* copy = elfStrDup(text ? text : "");
  if (!copy) return false;
  _elfFree(*field);
  *field = copy;
  return true;
}

void free_encoding(FontEncodingRecord* e) {
  if (!e) return;
  for (FontDifferenceEntry* d = e->differences; d;) {
    FontDifferenceEntry* next = d->next;
    _elfFree(d->text);
    _elfFree(d);
    d = next;
  }
  _elfFree(e->baseEncoding);
  _elfFree(e);
}

void free_to_unicode(ToUnicodeRecord* t) {
  if (!t) return;
  _elfFree(t->bytes);
  _elfFree(t);
}

void free_widths(FontWidthsRecord* w) {
  if (!w) return;
  _elfFree(w->widths);
  _elfFree(w);
}

FontEncodingRecord* copy_encoding(const FontEncodingRecord* from, bool* ok) {
  if (!from) return nullptr;
  auto* e = static_cast<FontEncodingRecord*>(elfCalloc(1, sizeof(FontEncodingRecord)));
  if (!e || (from->baseEncoding && !(e->baseEncoding = elfStrDup(from->baseEncoding)))) {
    free_encoding(e);
    *ok = false;
    return nullptr;
  }
  FontDifferenceEntry** tail = &e->differences;
  for (const FontDifferenceEntry* d = from->differences; d; d = d->next) {
    auto* c = static_cast<FontDifferenceEntry*>(elfCalloc(1, sizeof(FontDifferenceEntry)));
    if (!c || (d->text && !(c->text = elfStrDup(d->text)))) {
      _elfFree(c);
      free_encoding(e);
      *ok = false;
      return nullptr;
    }
    c->kind = d->kind;
    c->intValue = d->intValue;
    c->realValue = d->realValue;
    *tail = c;
    tail = &c->next;
  }
  return e;
}

// count items of size bytes; null without items (ok stays true) or when memory runs out.
void* copy_block(const void* from, size_t count, size_t size, bool* ok) {
  if (!from || count == 0) return nullptr;
  void* block = elfCalloc(count, size);
  if (!block) {
    *ok = false;
    return nullptr;
  }
  std::memcpy(block, from, count * size);
  return block;
}

struct FontDioTraits {
  using Record = elf_FONTDIO;
  static constexpr const char* name = "FONTDIO";
  static constexpr std::array<const char*, FONTDIO_MEMBERS> members = {"getSrcID", "getName"};
  static elf_object** caches(Record* r) { return r->members; }
  static bool init_fields(Record* r) { return (r->record = __outsideFONTDIOCreate()) != nullptr; }
  // The font record is no part of the text form: an object read back has the default record.
  static int write_fields(Record*, int, const char*, const char*) { return 0; }
  static void read_value(Record*, const char*, const char*, int) {}
  static bool read_nested(elf_state*, Record*, const char*, elf_object*) { return false; }
  static bool copy_fields(const Record* from, Record* to) {
    FontDioRecord* copy = __outsideFONTDIOcopy(from->record);
    if (!copy && valid(from->record)) return false;
    __outsideFONTDIORelease(to->record);
    to->record = copy;
    return true;
  }
  static bool equal_fields(Record*, Record*) { return true; }
  static bool empty_fields(const Record*) { return true; }
  static void release_backend(Record*) {}
  static void drop_fields(Record* r) {
    __outsideFONTDIORelease(r->record);
    r->record = nullptr;
  }
  static void refs_fields(Record*, int, const char*, const char*) {}
  static void reset_fields(Record*, elf_state*) {}
  static bool reaches_fields(Record*, elf_object*) { return false; }
};

}  // namespace

DIO_DEFINE_TYPE(FONTDIO, FontDioTraits)

elf_FONTDIO* dioFontDio(elf_object* obj) { return dio::Protocol<FontDioTraits>::cast(obj); }

FontDioRecord* __outsideFONTDIOCreate(void) {
  auto* r = static_cast<FontDioRecord*>(elfCalloc(1, sizeof(FontDioRecord)));
  if (!r) return nullptr;
  r->tag = FONTDIO_TAG;
  r->magic = FONTDIO_MAGIC;
  r->firstChar = -1;
  r->lastChar = -1;
  if (!set_text(&r->name, kDefaultName) || !set_text(&r->sourceId, kDefaultSource) ||
      !set_text(&r->baseFont, kDefaultBase) || !set_text(&r->subtype, kDefaultSubtype)) {
    __outsideFONTDIORelease(r);
    return nullptr;
  }
  return r;
}

FontDioRecord* __outsideFONTDIOcopy(const FontDioRecord* from) {
  if (!valid(from)) return nullptr;
  auto* r = static_cast<FontDioRecord*>(elfCalloc(1, sizeof(FontDioRecord)));
  if (!r) return nullptr;
  r->tag = from->tag;
  r->magic = from->magic;
  r->firstChar = from->firstChar;
  r->lastChar = from->lastChar;
  bool ok = (!from->name || (r->name = elfStrDup(from->name))) &&
            (!from->sourceId || (r->sourceId = elfStrDup(from->sourceId))) &&
            (!from->baseFont || (r->baseFont = elfStrDup(from->baseFont))) &&
            (!from->subtype || (r->subtype = elfStrDup(from->subtype)));
  if (ok) r->encoding = copy_encoding(from->encoding, &ok);
  if (ok && from->toUnicode) {
    r->toUnicode = static_cast<ToUnicodeRecord*>(elfCalloc(1, sizeof(ToUnicodeRecord)));
    if (!r->toUnicode) {
      ok = false;
    } else {
      r->toUnicode->flate = from->toUnicode->flate;
      r->toUnicode->length = from->toUnicode->length;
      r->toUnicode->bytes = static_cast<uint8_t*>(
          copy_block(from->toUnicode->bytes, static_cast<size_t>(std::max(from->toUnicode->length, 0)), 1, &ok));
    }
  }
  if (ok && from->widths) {
    r->widths = static_cast<FontWidthsRecord*>(elfCalloc(1, sizeof(FontWidthsRecord)));
    if (!r->widths) {
      ok = false;
    } else {
      r->widths->count = from->widths->count;
      r->widths->widths = static_cast<int32_t*>(
          copy_block(from->widths->widths, static_cast<size_t>(std::max(from->widths->count, 0)), sizeof(int32_t), &ok));
    }
  }
  if (!ok) {
    __outsideFONTDIORelease(r);
    return nullptr;
  }
  return r;
}

void __outsideFONTDIORelease(FontDioRecord* r) {
  if (!r) return;
  _elfFree(r->name);
  _elfFree(r->sourceId);
  _elfFree(r->baseFont);
  _elfFree(r->subtype);
  free_encoding(r->encoding);
  free_to_unicode(r->toUnicode);
  free_widths(r->widths);
  _elfFree(r);
}

int FontDioMethods(void* target, elf_object* args, elf_object** result) {
  elf_FONTDIO* font = dioFontDio(static_cast<elf_object*>(target));
  elf_state* state = font ? font->hdr.state : (args ? args->state : nullptr);
  const char* method = nullptr;
  if (!lstScanArgs(args, "CALL_NAME:s", LST_REQUIRED, &method, LST_END) || !method) {
    return setStatus(state, QEL_STATUS_FAILED, QEL_SEVERITY_ERROR, "%s:Internal Object Error - No such method\n",
                     "FontDioMethods");
  }
  const bool getName = std::strcmp(method, "getName") == 0;
  if (!getName && std::strcmp(method, "getSrcID") != 0) return QEL_STATUS_OK;
  const FontDioRecord* r = font ? font->record : nullptr;
  const char* text = !valid(r) ? nullptr : getName ? r->name : r->sourceId;
  return dio::give(state, result, lstBuildArgs(state, "name:s", text ? text : kNoFont, 0, LST_END), "FontDioMethods");
}
