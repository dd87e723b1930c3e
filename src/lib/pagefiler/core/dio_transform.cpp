// The object type TRANSFORMSPEC, its core record, the record's setters and its text form.

#include <array>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "byteorder.h"
#include "dio_protocol.h"
#include "dio_transform_internal.h"

namespace dio::ts {

bool new_list(int32_t code, DIOPhotometryList** out) {
  *out = nullptr;
  auto* list = static_cast<DIOPhotometryList*>(elfCalloc(1, sizeof(DIOPhotometryList)));
  auto* entries = list ? static_cast<int32_t*>(elfCalloc(1, sizeof(int32_t))) : nullptr;
  if (!entries) {
    _elfFree(list);
    return false;
  }
  entries[0] = code;
  list->count = 1;
  list->entries = entries;
  *out = list;
  return true;
}

bool clone_list(const DIOPhotometryList* from, DIOPhotometryList** out) {
  *out = nullptr;
  if (!from || from->count < 1) return true;
  auto* list = static_cast<DIOPhotometryList*>(elfCalloc(1, sizeof(DIOPhotometryList)));
  auto* entries =
      list ? static_cast<int32_t*>(elfCalloc(static_cast<size_t>(from->count), sizeof(int32_t))) : nullptr;
  if (!entries) {
    _elfFree(list);
    return false;
  }
  std::memcpy(entries, from->entries, sizeof(int32_t) * static_cast<size_t>(from->count));
  list->count = from->count;
  list->entries = entries;
  *out = list;
  return true;
}

void free_list(DIOPhotometryList* list) {
  if (!list) return;
  _elfFree(list->entries);
  _elfFree(list);
}

bool same_list(const DIOPhotometryList* a, const DIOPhotometryList* b) {
  if (!a || !b) return a == b;
  return a->count == b->count &&
         (a->count < 1 || std::memcmp(a->entries, b->entries, sizeof(int32_t) * static_cast<size_t>(a->count)) == 0);
}

bool list_holds(const DIOPhotometryList* list, int32_t code) {
  if (!list) return false;
  for (int32_t i = 0; i < list->count; ++i) {
    if (list->entries[i] == code) return true;
  }
  return false;
}

int list_failed(elf_state* state) {
  return setStatus(state, QEL_STATUS_FAILED, QEL_SEVERITY_ERROR, "__createPhotometryList: Unable to allocate list\n");
}

void clear_block(DIORasterSpec* block) {
  free_list(block->photometries);
  *block = DIORasterSpec{};
}

void default_block(DIORasterSpec* block, int32_t depth) {
  clear_block(block);
  block->depth = depth;
  block->compression = DIO_COMPRESSION_ANY;
  block->jpegquality = 80;
  block->interleave = 100;
  block->maxXRes = block->maxYRes = 65000.0;
}

bool copy_block(DIORasterSpec* to, const DIORasterSpec* from) {
  DIOPhotometryList* list = nullptr;
  const bool ok = clone_list(from->photometries, &list);
  free_list(to->photometries);
  *to = *from;
  to->photometries = list;
  return ok;
}

DIOCoreSpec* core_record(elf_object* pointer) {
  const auto* p = reinterpret_cast<const elf_POINTER*>(pointer);
  return elfIsType(pointer, "POINTER") && p->release == __freeDocAttr && p->data &&
                 p->length == sizeof(DIOCoreSpec)
             ? static_cast<DIOCoreSpec*>(p->data)
             : nullptr;
}

elf_object* new_core(elf_state* state) {
  auto* record = static_cast<DIOCoreSpec*>(elfCalloc(1, sizeof(DIOCoreSpec)));
  if (!record) return nullptr;
  elf_object* pointer = elfNewPointer(state, record, sizeof(DIOCoreSpec));
  if (!pointer) {
    _elfFree(record);
    return nullptr;
  }
  reinterpret_cast<elf_POINTER*>(pointer)->release = __freeDocAttr;
  return pointer;
}

namespace {

// Lists of its own for each block of to, equal to from's; to's list fields are overwritten (they
// are taken to be from's, as after a byte copy). A list that cannot be had is left out (reported).
bool clone_lists(elf_state* state, DIOCoreSpec* to, const DIOCoreSpec* from) {
  bool ok = true;
  for (auto block : {&DIOCoreSpec::contone, &DIOCoreSpec::binary}) {
    if (!clone_list((from->*block).photometries, &(to->*block).photometries)) {
      list_failed(state);
      ok = false;
    }
  }
  return ok;
}

}  // namespace

elf_object* copy_core(elf_state* state, elf_object* from) {
  const DIOCoreSpec* source = core_record(from);
  if (!source) return nullptr;
  elf_object* copy = new_core(state);
  if (!copy) return nullptr;
  DIOCoreSpec* record = core_record(copy);
  *record = *source;
  if (!clone_lists(state, record, source)) {
    elfDiscard(copy);
    return nullptr;
  }
  return copy;
}

bool has_arg(elf_object* args, const char* name) {
  const int32_t n = elflistLength(args);
  for (int32_t i = 0; i < n; ++i) {
    elf_object* entry = elflistItem(args, i);
    if (elfIsType(entry, "IDENT") && std::strcmp(reinterpret_cast<elf_IDENT*>(entry)->name, name) == 0) return true;
  }
  return false;
}

bool append_entry(elf_object* list, const char* name, elf_object* value) {
  elf_object* ident = elfNewIdent(list->state, name, value);
  if (!ident) return false;
  if (elflistInsert(list, ident, -1, 0) != 0) {
    elfDiscard(ident);
    return false;
  }
  return true;
}

}  // namespace dio::ts

namespace {

using namespace dio::ts;

// ---- The record in the text form ----
//
// The record holds addresses (its photometry lists), so it is written as a portable image of its
// fields instead: a POINTER whose description names the form and whose data holds every field
// big-endian (doubles as IEEE-754 bits), each block followed by its photometry count (0 for no
// list) and entries.

constexpr const char* core_form = "TRANSFORMSPEC core record 1";
constexpr size_t block_fixed = 4 * 7 + 8 * 2 + 4;  // the block's words, resolutions, list count
constexpr size_t record_fixed = 4 * (3 + DIO_COMPRESS_CONTROL_CODES + 4) + 2 * block_fixed;

struct Writer {
  uint8_t* at;
  void word(int32_t v) {
    mono::store_be32(at, static_cast<uint32_t>(v));
    at += 4;
  }
  void real(double v) {
    uint64_t bits;
    std::memcpy(&bits, &v, 8);
    mono::store_be64(at, bits);
    at += 8;
  }
};

struct Reader {
  const uint8_t* at;
  size_t left;
  bool word(int32_t* v) {
    if (left < 4) return false;
    *v = static_cast<int32_t>(mono::load_be32(at));
    at += 4;
    left -= 4;
    return true;
  }
  bool real(double* v) {
    if (left < 8) return false;
    const uint64_t bits = mono::load_be64(at);
    std::memcpy(v, &bits, 8);
    at += 8;
    left -= 8;
    return true;
  }
};

size_t list_bytes(const DIORasterSpec& b) { return b.photometries ? 4 * static_cast<size_t>(b.photometries->count) : 0; }

void put_block(Writer& w, const DIORasterSpec& b) {
  w.word(b.depth);
  w.word(b.compression);
  w.word(b.jpegquality);
  w.word(b.jbig2arith);
  w.word(b.interleave);
  w.real(b.maxXRes);
  w.real(b.maxYRes);
  w.word(b.width);
  w.word(b.height);
  w.word(b.photometries ? b.photometries->count : 0);
  for (int32_t i = 0; b.photometries && i < b.photometries->count; ++i) w.word(b.photometries->entries[i]);
}

bool get_block(Reader& r, DIORasterSpec* b) {
  int32_t count = 0;
  if (!r.word(&b->depth) || !r.word(&b->compression) || !r.word(&b->jpegquality) || !r.word(&b->jbig2arith) ||
      !r.word(&b->interleave) || !r.real(&b->maxXRes) || !r.real(&b->maxYRes) || !r.word(&b->width) ||
      !r.word(&b->height) || !r.word(&count)) {
    return false;
  }
  if (count == 0) return true;
  if (count < 0 || static_cast<size_t>(count) > r.left / 4) return false;
  auto* list = static_cast<DIOPhotometryList*>(elfCalloc(1, sizeof(DIOPhotometryList)));
  auto* entries = list ? static_cast<int32_t*>(elfCalloc(static_cast<size_t>(count), sizeof(int32_t))) : nullptr;
  if (!entries) {
    _elfFree(list);
    return false;
  }
  list->count = count;
  list->entries = entries;
  b->photometries = list;
  for (int32_t i = 0; i < count; ++i) r.word(&entries[i]);
  return true;
}

// The portable image of a record, as a POINTER without release procedure, or null.
elf_object* core_image(elf_state* state, const DIOCoreSpec& c) {
  const size_t size = record_fixed + list_bytes(c.contone) + list_bytes(c.binary);
  auto* bytes = static_cast<uint8_t*>(elfMalloc(size));
  elf_object* pointer = bytes ? elfNewPointer(state, bytes, size) : nullptr;
  char* description = pointer ? elfStrDup(core_form) : nullptr;
  if (!description) {
    if (pointer) {
      elfDiscard(pointer);
    } else {
      _elfFree(bytes);
    }
    return nullptr;
  }
  reinterpret_cast<elf_POINTER*>(pointer)->description = description;
  Writer w{bytes};
  w.word(c.format);
  w.word(c.subtype);
  w.word(c.orientation);
  for (int32_t flag : c.compressControl) w.word(flag);
  put_block(w, c.contone);
  put_block(w, c.binary);
  w.word(c.pageMode);
  w.word(c.pagesPerFile);
  w.word(c.rotate);
  w.word(c.affine);
  return pointer;
}

// A coreImage POINTER rebuilt from a portable image; null when it is not one or is damaged.
elf_object* core_from_image(elf_state* state, const elf_POINTER* image) {
  if (!image->description || std::strcmp(image->description, core_form) != 0) return nullptr;
  elf_object* pointer = new_core(state);
  if (!pointer) return nullptr;
  auto* c = static_cast<DIOCoreSpec*>(reinterpret_cast<elf_POINTER*>(pointer)->data);
  Reader r{static_cast<const uint8_t*>(image->data), image->data ? image->length : 0};
  bool ok = r.word(&c->format) && r.word(&c->subtype) && r.word(&c->orientation);
  for (int32_t& flag : c->compressControl) ok = ok && r.word(&flag);
  ok = ok && get_block(r, &c->contone) && get_block(r, &c->binary) && r.word(&c->pageMode) &&
       r.word(&c->pagesPerFile) && r.word(&c->rotate) && r.word(&c->affine) && r.left == 0;
  if (!ok) {
    elfDiscard(pointer);
    return nullptr;
  }
  return pointer;
}

bool same_real(double a, double b) { return a == b || (std::isnan(a) && std::isnan(b)); }

bool same_block(const DIORasterSpec& a, const DIORasterSpec& b) {
  return a.depth == b.depth && a.compression == b.compression && a.jpegquality == b.jpegquality &&
         a.jbig2arith == b.jbig2arith && a.interleave == b.interleave && same_real(a.maxXRes, b.maxXRes) &&
         same_real(a.maxYRes, b.maxYRes) && a.width == b.width && a.height == b.height &&
         same_list(a.photometries, b.photometries);
}

bool same_core(const DIOCoreSpec& a, const DIOCoreSpec& b) {
  return a.format == b.format && a.subtype == b.subtype && a.orientation == b.orientation &&
         std::memcmp(a.compressControl, b.compressControl, sizeof a.compressControl) == 0 &&
         same_block(a.contone, b.contone) && same_block(a.binary, b.binary) && a.pageMode == b.pageMode &&
         a.pagesPerFile == b.pagesPerFile && a.rotate == b.rotate && a.affine == b.affine;
}

// ---- The type's own part of the object protocol ----

struct SpecTraits {
  using Record = elf_TRANSFORMSPEC;
  static constexpr const char* name = "TRANSFORMSPEC";
  static constexpr std::array<const char*, TRANSFORMSPEC_MEMBERS> members = {
      "testAffine", "testSize", "testSegment", "testFlat", "testCompress", "testOrient",
      "testDepth",  "testPhotom", "setRasterSpec", "setPageSpec", "isMRC", "clearAttr",
      "getAttr",    "setAttr",  "toList",       "matchList",   "initByImage"};
  static elf_object** caches(Record* r) { return r->members; }

  static int write_fields(Record* r, int fd, const char* indent, const char* child) {
    if (dprintf(fd, "%sattributes: \n", indent) < 0) return -1;
    if (r->attributes && elfWriteObject(r->attributes, fd, child) != 0) return -1;
    if (dprintf(fd, "%scoreImage: \n", indent) < 0) return -1;
    if (!r->coreImage) return 0;
    const DIOCoreSpec* core = core_record(r->coreImage);
    if (!core) return elfWriteObject(r->coreImage, fd, child);
    elf_object* image = core_image(r->hdr.state, *core);
    if (!image) {
      elfMessage(r->hdr.state, "write_TRANSFORMSPEC: no memory for the core record's text\n");
      return -1;
    }
    // The record's own number, so that its text is the same each time it is written.
    image->instance = r->coreImage->instance;
    const int written = elfWriteObject(image, fd, child);
    elfDiscard(image);
    return written;
  }
  static void read_value(Record*, const char*, const char*, int) {}
  static bool read_nested(elf_state* state, Record* r, const char* key, elf_object* obj) {
    if (std::strcmp(key, "attributes") == 0 && elfIsType(obj, "LIST")) {
      ELF_ASSIGN(state, &r->attributes, obj);
      return true;
    }
    if (std::strcmp(key, "coreImage") != 0 || !elfIsType(obj, "POINTER")) return false;
    const auto* image = reinterpret_cast<const elf_POINTER*>(obj);
    if (!image->description || std::strcmp(image->description, core_form) != 0) {
      // Not a record of ours: kept as it is, never taken for one.
      ELF_ASSIGN(state, &r->coreImage, obj);
      return true;
    }
    if (elf_object* core = core_from_image(state, image)) {
      core->instance = obj->instance;
      ELF_ASSIGN(state, &r->coreImage, core);
    } else {
      elfMessage(state, "read_TRANSFORMSPEC: the core record is damaged or memory ran out; dropped\n");
    }
    return false;
  }
  static bool copy_fields(const Record* from, Record* to) {
    elf_state* state = to->hdr.state;
    if (!dio::copy_held(state, from->attributes, &to->attributes)) return false;
    if (!from->coreImage) return true;
    if (!core_record(from->coreImage)) return dio::copy_held(state, from->coreImage, &to->coreImage);
    elf_object* core = copy_core(state, from->coreImage);
    if (!core) return false;
    ELF_ASSIGN(state, &to->coreImage, core);
    return true;
  }
  static bool equal_fields(Record* a, Record* b) {
    if (!dio::equal_held(a->attributes, b->attributes)) return false;
    const DIOCoreSpec* x = core_record(a->coreImage);
    const DIOCoreSpec* y = core_record(b->coreImage);
    // Records hold their lists by address: compared by what they hold, not the bytes.
    if (x || y) return x && y && same_core(*x, *y);
    return dio::equal_held(a->coreImage, b->coreImage);
  }
  static bool empty_fields(const Record* r) { return !r->attributes && !r->coreImage; }
  static void release_backend(Record*) {}
  using Held = dio::HeldObjects<Record, &Record::attributes, &Record::coreImage>;
  static void drop_fields(Record* r) { Held::drop(r); }
  static void refs_fields(Record* r, int fd, const char* indent, const char* child) {
    Held::refs(r, fd, indent, child, {"attributes", "coreImage"});
  }
  static void reset_fields(Record* r, elf_state* state) { Held::reset(r, state); }
  static bool reaches_fields(Record* r, elf_object* other) { return Held::reach(r, other); }
};

using Protocol = dio::Protocol<SpecTraits>;

// ---- Setters ----

// The record a setter changes, or null with the status reported by the setter's name.
DIOCoreSpec* settable(elf_state* context, elf_object* spec, const char* who, int* status) {
  const elf_TRANSFORMSPEC* ts = Protocol::cast(spec);
  const char* problem = !ts                                       ? "No spec given"
                        : !ts->coreImage                          ? "No core image struct"
                        : !core_record(ts->coreImage)               ? "Bad attribute struct"
                                                                  : nullptr;
  if (problem) {
    *status = setStatus(context, QEL_STATUS_INVALID, QEL_SEVERITY_ERROR, "%s: %s.\n", who, problem);
    return nullptr;
  }
  return core_record(ts->coreImage);
}

// Runs set on the record a setter changes; its status, or the setter's refusal.
template <class Set>
int change(elf_state* context, elf_object* spec, const char* who, Set&& set) {
  int status = QEL_STATUS_OK;
  DIOCoreSpec* c = settable(context, spec, who, &status);
  return c ? set(c) : status;
}

// Asks a LIST member for an integer answer ("obj:i"), as the interpreter would; 0 or the status
// reported (what the call reported, or 20 for an answer that is no integer).
int ask_integer(elf_state* context, elf_object* list, const char* member, elf_object* args, int32_t* value,
                const char* what) {
  elf_object* answer = nullptr;
  int status = call_elf_object_method(context, list, member, args, &answer);
  if (status == QEL_STATUS_OK && !lstScanArgs(answer, "obj:i", LST_REQUIRED, value, LST_END)) {
    status = setStatus(context, QEL_STATUS_INVALID, QEL_SEVERITY_ERROR, "__createPhotometryList: %s is not an integer\n",
                       what);
  }
  elfDiscard(answer);
  return status;
}

// Builds a block's photometry list from a LIST of integers through its "length" and "ref"
// members; 0 or the status reported, nothing made then.
int photometries_from(elf_state* context, elf_object* list, DIOPhotometryList** out) {
  *out = nullptr;
  int32_t count = 0;
  int status = ask_integer(context, list, "length", nullptr, &count, "the length");
  if (status != QEL_STATUS_OK || count < 1) return status;
  auto* made = static_cast<DIOPhotometryList*>(elfCalloc(1, sizeof(DIOPhotometryList)));
  auto* entries = made ? static_cast<int32_t*>(elfCalloc(static_cast<size_t>(count), sizeof(int32_t))) : nullptr;
  if (!entries) {
    _elfFree(made);
    return list_failed(context);
  }
  made->count = count;
  made->entries = entries;
  for (int32_t i = 0; i < count && status == QEL_STATUS_OK; ++i) {
    elf_object* args = lstBuildArgs(context, "entry:i", i, 0, LST_END);
    char what[32];
    std::snprintf(what, sizeof what, "entry %d", i);
    status = args ? ask_integer(context, list, "ref", args, &entries[i], what) : list_failed(context);
    elfDiscard(args);
  }
  if (status != QEL_STATUS_OK) {
    free_list(made);
    return status;
  }
  *out = made;
  return QEL_STATUS_OK;
}

}  // namespace

DIO_DEFINE_TYPE(TRANSFORMSPEC, SpecTraits)

elf_TRANSFORMSPEC* dioTransformSpec(elf_object* obj) { return Protocol::cast(obj); }

DIOCoreSpec* dioCoreSpec(elf_object* spec) {
  const elf_TRANSFORMSPEC* ts = Protocol::cast(spec);
  return ts ? core_record(ts->coreImage) : nullptr;
}

void __freeDocAttr(elf_object* pointer) {
  if (!elfIsType(pointer, "POINTER")) return;
  auto* p = reinterpret_cast<elf_POINTER*>(pointer);
  auto* record = static_cast<DIOCoreSpec*>(p->data);
  p->data = nullptr;
  p->length = 0;
  if (!record) return;
  clear_block(&record->contone);
  clear_block(&record->binary);
  _elfFree(record);
}

int __createDefaultTransformSpec(elf_state* context, elf_object** spec) {
  if (spec) *spec = nullptr;
  elf_object* made = spec ? new_elf_object(context, "TRANSFORMSPEC", nullptr) : nullptr;
  elf_TRANSFORMSPEC* ts = Protocol::cast(made);
  if (!ts) {
    elfDiscard(made);
    return setStatus(context, QEL_STATUS_FAILED, QEL_SEVERITY_ERROR,
                     "__createDefaultTransformSpec: Unable to create TRANSFORMSPEC\n");
  }
  elf_object* core = new_core(context);
  if (!core) {
    elfDiscard(made);
    return setStatus(context, QEL_STATUS_FAILED, QEL_SEVERITY_ERROR,
                     "__createDefaultTransformSpec: Unable to allocate the core specification\n");
  }
  ELF_ASSIGN(context, &ts->coreImage, core);
  DIOCoreSpec* c = core_record(core);
  default_block(&c->contone, 24);
  default_block(&c->binary, 1);
  *spec = made;
  return QEL_STATUS_OK;
}

int __setTSAttributes(elf_state* context, elf_object* spec, int32_t format, int32_t subtype, int32_t orientation,
                      int32_t pageMode, int32_t pagesPerFile) {
  return change(context, spec, "setTSAttributes", [&](DIOCoreSpec* c) -> int {
    c->format = format;
    c->subtype = subtype;
    c->orientation = orientation;
    c->pageMode = pageMode;
    c->pagesPerFile = pagesPerFile;
    return QEL_STATUS_OK;
  });
}

int __setTSInterleave(elf_state* context, elf_object* spec, int32_t interleave, int32_t binary) {
  return change(context, spec, "setInterleave", [&](DIOCoreSpec* c) -> int {
    (binary ? c->binary : c->contone).interleave = interleave;
    return QEL_STATUS_OK;
  });
}

int __setTSRotate(elf_state* context, elf_object* spec, int32_t degrees) {
  return change(context, spec, "setRotate", [&](DIOCoreSpec* c) -> int {
    c->rotate = degrees;
    return QEL_STATUS_OK;
  });
}

int __setTSAffine(elf_state* context, elf_object* spec, int32_t flag) {
  return change(context, spec, "setAffine", [&](DIOCoreSpec* c) -> int {
    c->affine = flag;
    return QEL_STATUS_OK;
  });
}

int __setTSCompression(elf_state* context, elf_object* spec, int32_t compression, int32_t binary,
                       int32_t jpegQuality, int32_t jbig2Arith) {
  return change(context, spec, "setCompression", [&](DIOCoreSpec* c) -> int {
    if (binary) {
      if (compression == QEL_COMPRESSION_JPEG || compression == QEL_COMPRESSION_JPEG_DEFLATE) {
        return setStatus(context, QEL_STATUS_INVALID, QEL_SEVERITY_ERROR,
                         "setCompression: Compression specified is not allowed for binary data.\n");
      }
      c->binary.compression = compression;
      c->binary.jbig2arith = jbig2Arith;
      return QEL_STATUS_OK;
    }
    if (compression == QEL_COMPRESSION_G3 || compression == QEL_COMPRESSION_G4 || compression == QEL_COMPRESSION_G3_2D ||
        compression == QEL_COMPRESSION_JBIG2) {
      return setStatus(context, QEL_STATUS_INVALID, QEL_SEVERITY_ERROR,
                       "setCompression: Compression specified is not allowed for contone data.\n");
    }
    c->contone.compression = compression;
    c->contone.jpegquality = jpegQuality;
    return QEL_STATUS_OK;
  });
}

int __setTSCompressControlList(elf_state* context, elf_object* spec, const int32_t* list) {
  return change(context, spec, "setCompressControl", [&](DIOCoreSpec* c) -> int {
    if (!list) {
      return setStatus(context, QEL_STATUS_INVALID, QEL_SEVERITY_ERROR, "setCompressControl: No list given.\n");
    }
    std::memcpy(c->compressControl, list, sizeof c->compressControl);
    return QEL_STATUS_OK;
  });
}

int __setTSRasterAttr(elf_state* context, elf_object* spec, int32_t compression, int32_t jpegQuality,
                      int32_t jbig2Arith, int32_t interleave, elf_object* photometries, int32_t maxXRes,
                      int32_t maxYRes, int32_t depth) {
  return change(context, spec, "unsetTSCompression", [&](DIOCoreSpec* c) -> int {
    DIORasterSpec& b = depth == 1 ? c->binary : c->contone;
    b.depth = depth;
    b.compression = compression;
    b.jpegquality = jpegQuality;
    b.jbig2arith = jbig2Arith;
    b.interleave = interleave;
    b.maxXRes = maxXRes;
    b.maxYRes = maxYRes;
    free_list(b.photometries);
    b.photometries = nullptr;
    return photometries ? photometries_from(context, photometries, &b.photometries) : QEL_STATUS_OK;
  });
}

int __unsetTSRasterAttr(elf_state* context, elf_object* spec, int32_t binary) {
  return change(context, spec, "unsetTSCompression", [&](DIOCoreSpec* c) -> int {
    DIORasterSpec& b = binary ? c->binary : c->contone;
    b.depth = 0;
    b.compression = DIO_COMPRESSION_ANY;
    b.interleave = 0;
    b.maxXRes = b.maxYRes = 0.0;
    free_list(b.photometries);
    b.photometries = nullptr;
    return QEL_STATUS_OK;
  });
}

void __qelcompressToString(int32_t code, char* buffer) {
  if (!buffer) return;
  struct Name {
    int32_t code;
    const char* text;
  };
  static constexpr Name names[] = {
      {QEL_COMPRESSION_JPEG, "\"jpeg\""},   {QEL_COMPRESSION_G3, "\"g3\""},       {QEL_COMPRESSION_G4, "\"g4\""},
      {QEL_COMPRESSION_G3_2D, "\"g32d\""},  {QEL_COMPRESSION_DEFLATE, "\"deflate\""},
      {QEL_COMPRESSION_JBIG2, "\"jbig2\""}, {QEL_COMPRESSION_XLZ, "\"xlz\""},     {QEL_COMPRESSION_LZW, "\"lzw\""},
      {QEL_COMPRESSION_JPEG_DEFLATE, "\"jpeg-deflate\""},
  };
  static_assert(sizeof "\"jpeg-deflate\"" <= DIO_COMPRESSION_NAME_MAX);
  const char* text = "unknown";
  for (const Name& n : names) {
    if (n.code == code) text = n.text;
  }
  std::strcpy(buffer, text);
}

void __outsideClonePhotometryList(elf_object* destination, elf_object* source) {
  DIOCoreSpec* to = core_record(destination);
  const DIOCoreSpec* from = core_record(source);
  if (!to || !from) return;
  clone_lists(destination->state, to, from);
}
