#ifndef JB2_METHOD_RUNS_H
#define JB2_METHOD_RUNS_H

// Pages through libmonocodec's JBIG2 methods as the interpreter calls them (bound by name from
// libmonocodec.so), shared by the main job and the methods benchmark.

#include <cstdint>
#include <string>
#include <vector>

#include "qelinterp.h"
#include "ref_bitmap.h"

namespace jb2run {

using Bytes = std::vector<uint8_t>;
using Method = int (*)(void*, elf_object*, elf_object**);

struct Methods {
  elf_state* state = nullptr;
  Method encode = nullptr;
  Method decode = nullptr;
  Methods();   // throws std::runtime_error when the library or a method is missing
  ~Methods();
};

// One section: the dictionary and each page's stream.
struct Section {
  Bytes dictionary;
  std::vector<Bytes> pages;
};

// Codes the pages as one section (lossless: the classifier's differences 0); throws with the
// interpreter's message on failure.
Section encode(const Methods& m, const std::vector<const monotest::RefBitmap*>& pages, int32_t profile, bool lossless);
// Decodes a section back to pages; throws on failure.
std::vector<monotest::RefBitmap> decode(const Methods& m, const Section& section,
                                        const std::vector<const monotest::RefBitmap*>& sizes);

// The same, leaving the decoded page image to the caller (released with elfRefDown).
elf_object* decoded_image(const Methods& m, const Section& section, const std::vector<const monotest::RefBitmap*>& sizes);

// The bytes of the page as one G4 strip written by libtiff.
size_t g4_bytes(const monotest::RefBitmap& page);

}  // namespace jb2run

#endif
