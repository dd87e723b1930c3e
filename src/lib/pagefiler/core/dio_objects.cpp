// The object types DOCUMENTREADER, DOCUMENTWRITER and PAGEFILER.

#include <array>

#include "dio_protocol.h"

namespace {

using dio::DocFields;

// What the document types without object fields of their own share.
template <class R>
struct PlainDoc {
  using Record = R;
  static int write_fields(R* r, int fd, const char* indent, const char*) { return DocFields<R>::write(r, fd, indent); }
  static void read_value(R* r, const char* key, const char* text, int nth) {
    DocFields<R>::read_value(r, key, text, nth);
  }
  static bool read_nested(elf_state*, R*, const char*, elf_object*) { return false; }
  static bool copy_fields(const R* from, R* to) { return DocFields<R>::copy(from, to); }
  static bool equal_fields(R* a, R* b) { return DocFields<R>::equal(a, b); }
  static bool empty_fields(const R* r) { return DocFields<R>::empty(r); }
  static void drop_fields(R* r) { DocFields<R>::drop(r); }
  static void refs_fields(R*, int, const char*, const char*) {}
  static void reset_fields(R*, elf_state*) {}
  static bool reaches_fields(R*, elf_object*) { return false; }
};

struct ReaderTraits : PlainDoc<elf_DOCUMENTREADER> {
  static constexpr const char* name = "DOCUMENTREADER";
  static constexpr std::array<const char*, DOCREADER_MEMBERS> members = {
      "query", "release", "getPage", "getPageCount", "getFormat", "getFilename", "getChecksum"};
  static elf_object** caches(Record* r) { return r->members; }
  static void release_backend(Record* r) {
    if (r->backend && r->fns.Release) r->fns.Release(&r->hdr);
    r->backend = nullptr;
  }
};
struct PageFilerTraits : PlainDoc<elf_PAGEFILER> {
  static constexpr const char* name = "PAGEFILER";
  static constexpr std::array<const char*, 0> members{};
  static elf_object** caches(Record*) { return nullptr; }
  static void release_backend(Record*) {}
};

struct WriterTraits {
  using Record = elf_DOCUMENTWRITER;
  static constexpr const char* name = "DOCUMENTWRITER";
  static constexpr std::array<const char*, DOCWRITER_MEMBERS> members = {
      "releaseJbig2", "release",      "insertPage", "appendPage",  "clearAttr",  "getAttr",    "setAttr",
      "refSpecs",     "listSpecs",    "getPageCount", "getFormat", "getFileSize", "getFilename"};
  static elf_object** caches(Record* r) { return r->members; }

  static int write_fields(Record* r, int fd, const char* indent, const char* child) {
    if (DocFields<Record>::write(r, fd, indent) != 0) return -1;
    if (dprintf(fd, "%sattributes: \n", indent) < 0) return -1;
    if (r->attributes && write_LIST(r->attributes, fd, child) != 0) return -1;
    if (dprintf(fd, "%stransspecs: \n", indent) < 0) return -1;
    return r->transspecs ? write_LIST(r->transspecs, fd, child) : 0;
  }
  static void read_value(Record* r, const char* key, const char* text, int nth) {
    DocFields<Record>::read_value(r, key, text, nth);
  }
  static bool read_nested(elf_state* state, Record* r, const char* key, elf_object* nested) {
    if (!elfIsType(nested, "LIST")) return false;
    elf_object** field = std::strcmp(key, "attributes") == 0   ? &r->attributes
                         : std::strcmp(key, "transspecs") == 0 ? &r->transspecs
                                                               : nullptr;
    if (!field) return false;
    ELF_ASSIGN(state, field, nested);
    return true;
  }
  static bool copy_fields(const Record* from, Record* to) {
    return DocFields<Record>::copy(from, to) && dio::copy_held(to->hdr.state, from->attributes, &to->attributes) &&
           dio::copy_held(to->hdr.state, from->transspecs, &to->transspecs);
  }
  static bool equal_fields(Record* a, Record* b) {
    return DocFields<Record>::equal(a, b) && dio::equal_held(a->attributes, b->attributes) &&
           dio::equal_held(a->transspecs, b->transspecs);
  }
  static bool empty_fields(const Record* r) {
    return DocFields<Record>::empty(r) && !r->attributes && !r->transspecs;
  }
  static void release_backend(Record* r) {
    if (r->backend && r->fns.Release) r->fns.Release(&r->hdr);
    r->backend = nullptr;
  }
  using Held = dio::HeldObjects<Record, &Record::attributes, &Record::transspecs>;
  static void drop_fields(Record* r) {
    DocFields<Record>::drop(r);
    Held::drop(r);
  }
  static void refs_fields(Record* r, int fd, const char* indent, const char* child) {
    Held::refs(r, fd, indent, child, {"attributes", "transspecs"});
  }
  static void reset_fields(Record* r, elf_state* state) { Held::reset(r, state); }
  static bool reaches_fields(Record* r, elf_object* other) { return Held::reach(r, other); }
};
}  // namespace

DIO_DEFINE_TYPE(DOCUMENTREADER, ReaderTraits)
DIO_DEFINE_TYPE(DOCUMENTWRITER, WriterTraits)
DIO_DEFINE_TYPE(PAGEFILER, PageFilerTraits)

elf_DOCUMENTREADER* dioReader(elf_object* obj) { return dio::Protocol<ReaderTraits>::cast(obj); }
elf_DOCUMENTWRITER* dioWriter(elf_object* obj) { return dio::Protocol<WriterTraits>::cast(obj); }
elf_PAGEFILER* dioPageFiler(elf_object* obj) { return dio::Protocol<PageFilerTraits>::cast(obj); }
