#ifndef TRANSFORM_FIXTURE_H
#define TRANSFORM_FIXTURE_H

// Helpers for the transform-specification tests: specs made as the writers make them, integer
// lists as scripts hand them over, and looking into result lists.

#include <cstdio>
#include <initializer_list>
#include <string>
#include <vector>

#include "dio_fixture.h"

namespace monotest {

class SpecTest : public DocTest {
 protected:
  // A spec with the defaults of a new one, kept until the test ends.
  elf_object* default_spec() {
    elf_object* spec = nullptr;
    EXPECT_EQ(__createDefaultTransformSpec(state, &spec), 0) << status_message();
    return keep(spec);
  }

  // A spec with an all-zero record: nothing accepted, nothing present.
  elf_object* zero_spec() {
    elf_object* spec = default_spec();
    DIOCoreSpec* c = dioCoreSpec(spec);
    __unsetTSRasterAttr(state, spec, 0);
    __unsetTSRasterAttr(state, spec, 1);
    *c = DIOCoreSpec{};
    return spec;
  }

  // Holds one reference on obj until the test ends.
  elf_object* keep(elf_object* obj) {
    if (obj) {
      elfRefUp(obj);
      kept_.push_back(obj);
    }
    return obj;
  }

  elf_object* int_list(std::initializer_list<int32_t> values) {
    elf_object* list = keep(new_LIST(state, nullptr, nullptr));
    for (int32_t v : values) elflistInsert(list, elfNewInteger(state, v), -1, 0);
    return list;
  }


 public:
  // The value under name in the current result list, or null.
  elf_object* result_value(const char* name) const {
    const int32_t n = elflistLength(result);
    for (int32_t i = 0; i < n; ++i) {
      elf_object* entry = elflistItem(result, i);
      if (elfIsType(entry, "IDENT") && std::string(reinterpret_cast<elf_IDENT*>(entry)->name) == name) {
        return reinterpret_cast<elf_IDENT*>(entry)->value;
      }
    }
    return nullptr;
  }
  // The names of the current result list, in order, joined by blanks.
  std::string result_names() const {
    std::string names;
    const int32_t n = elflistLength(result);
    for (int32_t i = 0; i < n; ++i) {
      elf_object* entry = elflistItem(result, i);
      if (!names.empty()) names += ' ';
      names += elfIsType(entry, "IDENT") ? reinterpret_cast<elf_IDENT*>(entry)->name : "?";
    }
    return names;
  }
  int32_t result_int(const char* name) const {
    elf_object* v = result_value(name);
    if (elfIsType(v, "INTEGER")) return reinterpret_cast<elf_INTEGER*>(v)->value;
    if (elfIsType(v, "BOOLEAN")) return reinterpret_cast<elf_BOOLEAN*>(v)->value;
    ADD_FAILURE() << "no integer or boolean " << name << " in " << result_names();
    return -99999;
  }
  double result_double(const char* name) const {
    elf_object* v = result_value(name);
    if (elfIsType(v, "DOUBLE")) return reinterpret_cast<elf_DOUBLE*>(v)->value;
    ADD_FAILURE() << "no double " << name << " in " << result_names();
    return -99999;
  }
  std::string result_text(const char* name) const {
    elf_object* v = result_value(name);
    if (elfIsType(v, "STRING")) return reinterpret_cast<elf_STRING*>(v)->value;
    ADD_FAILURE() << "no text " << name << " in " << result_names();
    return "";
  }


 protected:
  void TearDown() override {
    for (elf_object* obj : kept_) elfRefDown(obj);
    kept_.clear();
    DocTest::TearDown();
  }

 private:
  std::vector<elf_object*> kept_;
};

// The entries of a photometry list, "none" without one.
inline std::string photometries(const DIORasterSpec& b) {
  if (!b.photometries) return "none";
  std::string text;
  for (int32_t i = 0; i < b.photometries->count; ++i) text += (i ? "," : "") + std::to_string(b.photometries->entries[i]);
  return text;
}

// Gives a block a photometry list of its own in place of the one it had, as the library makes them.
inline void give_list(DIORasterSpec* b, std::initializer_list<int32_t> codes) {
  if (b->photometries) {
    _elfFree(b->photometries->entries);
    _elfFree(b->photometries);
  }
  auto* list = static_cast<DIOPhotometryList*>(elfCalloc(1, sizeof(DIOPhotometryList)));
  list->entries = static_cast<int32_t*>(elfCalloc(codes.size(), sizeof(int32_t)));
  list->count = 0;
  for (int32_t code : codes) list->entries[list->count++] = code;
  b->photometries = list;
}

// The fields of a block as one line, for comparing whole blocks.
inline std::string block_text(const DIORasterSpec& b) {
  char text[256];
  std::snprintf(text, sizeof text, "depth %d comp %d q %d arith %d il %d res %gx%g size %dx%d photo %s", b.depth,
                b.compression, b.jpegquality, b.jbig2arith, b.interleave, b.maxXRes, b.maxYRes, b.width, b.height,
                photometries(b).c_str());
  return text;
}

inline std::string page_text(const DIOCoreSpec& c) {
  char text[160];
  std::snprintf(text, sizeof text, "format %d sub %d orient %d mode %d ppf %d rotate %d affine %d", c.format,
                c.subtype, c.orientation, c.pageMode, c.pagesPerFile, c.rotate, c.affine);
  return text;
}

}  // namespace monotest

#endif
