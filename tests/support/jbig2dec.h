#ifndef MONOTEST_JBIG2DEC_H
#define MONOTEST_JBIG2DEC_H

// jbig2dec as the oracle for JBIG2 streams we write: decode and hand back the pixels, so tests
// compare images instead of trusting an exit code. Host only (the tool runs on the build host).

#include <cstdint>
#include <string>
#include <vector>

#include "ref_bitmap.h"

namespace monotest {

struct Jbig2decResult {
  RefBitmap page;        // the first page, 1 = black
  std::string messages;  // what jbig2dec printed (warnings and errors)
};

// Decodes a JBIG2 file (with file header). Throws std::runtime_error with jbig2dec's messages
// when it produces no page, and when the tool is missing.
Jbig2decResult jbig2dec_decode(const std::vector<uint8_t>& file);
// Decodes a JBIG2 file of any number of pages: every page, in order, and jbig2dec's messages.
// Throws as jbig2dec_decode does.
std::vector<RefBitmap> jbig2dec_decode_pages(const std::vector<uint8_t>& file, std::string* messages);
// Decodes an embedded stream (no file header) as PDF carries it: optional global segments and
// the page's segments.
Jbig2decResult jbig2dec_decode_embedded(const std::vector<uint8_t>& globals,
                                        const std::vector<uint8_t>& page);

}  // namespace monotest

#endif
