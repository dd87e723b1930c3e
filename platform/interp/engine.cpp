// What every state knows of the imaging engine: its raster procedures and the members it serves
// on page images, bound by name in the engine's raster library when first called, as the
// interpreter finds its engine beside itself.

#include "interp_internal.h"

namespace {

constexpr const char engine_library[] = "kvraster";

struct EngineProcedure {
  const char* name;
  const char* symbol;
};
constexpr EngineProcedure engine_procedures[] = {{"readtif", "KVReadTif"}, {"Execute", "KVExecute"}};

// Members of QELIMAGE, all served by one dispatcher on the member name.
constexpr const char* image_members[] = {"exec",       "modheader", "unmap",     "interleave",  "writetif",
                                         "writejpg",   "writepng",  "writegif",  "writebmp",    "writeimage",
                                         "findField", "getFieldInt", "getFieldStr"};
constexpr char image_methods[] = "KVImageMethods";

}  // namespace

namespace interp {

int bind_engine(elf_state* state) {
  for (const EngineProcedure& p : engine_procedures) {
    if (elfBindProcedure(state, ELF_PROCEDURE, p.name, engine_library, p.symbol) != 0) return -1;
  }
  for (const char* member : image_members) {
    if (elfBindMemberIn(state, ELF_TYPE_QELIMAGE, member, engine_library, image_methods) != 0) return -1;
  }
  return 0;
}

}  // namespace interp
