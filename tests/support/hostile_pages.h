#ifndef MONOTEST_HOSTILE_PAGES_H
#define MONOTEST_HOSTILE_PAGES_H

// Page files whose declared sizes ask for far more than their bytes hold, made at test time.

#include <cstdint>
#include <string>

namespace monotest {

// A crafted file, by name, and the words its refusal must hold.
struct CraftedFile {
  const char* name;
  std::string bytes;
  const char* message;
};

// A PNG of a 100 x 100 grey IHDR followed by a chunk of the type whose length field claims
// claimed bytes, and three bytes of it.
std::string png_claiming_chunk(const char type[4], uint32_t claimed);
// A PNG whose IHDR declares width x height (8-bit grey) and one small IDAT.
std::string png_declaring(uint32_t width, uint32_t height);
// The JPEG with its frame header's size set to width x height (the rest kept).
std::string jpeg_declaring(const std::string& jpeg, uint16_t width, uint16_t height);
// A little-endian TIFF of pages 1-bit uncompressed directories of width x height, all pointing
// at one strip of strip_bytes zero bytes.
std::string tiff_directories(uint32_t pages, uint32_t width = 8, uint32_t height = 8, uint32_t strip_bytes = 8);

}  // namespace monotest

#endif
