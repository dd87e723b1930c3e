#include "hostile_pages.h"

#include <array>

namespace monotest {
namespace {

void be32(std::string* out, uint32_t v) {
  for (int shift = 24; shift >= 0; shift -= 8) out->push_back(static_cast<char>(v >> shift));
}
void le16(std::string* out, uint32_t v) {
  out->push_back(static_cast<char>(v));
  out->push_back(static_cast<char>(v >> 8));
}
void le32(std::string* out, uint32_t v) {
  le16(out, v & 0xFFFF);
  le16(out, v >> 16);
}

uint32_t crc32(const std::string& bytes) {
  uint32_t c = 0xFFFFFFFF;
  for (unsigned char b : bytes) {
    c ^= b;
    for (int k = 0; k < 8; ++k) c = c & 1 ? 0xEDB88320 ^ (c >> 1) : c >> 1;
  }
  return c ^ 0xFFFFFFFF;
}

std::string png_chunk(const std::string& type, const std::string& data) {
  std::string out;
  be32(&out, static_cast<uint32_t>(data.size()));
  out += type + data;
  be32(&out, crc32(type + data));
  return out;
}

std::string png_head(uint32_t width, uint32_t height) {
  std::string ihdr;
  be32(&ihdr, width);
  be32(&ihdr, height);
  ihdr += std::string("\x08\x00\x00\x00\x00", 5);
  return std::string("\x89PNG\r\n\x1a\n", 8) + png_chunk("IHDR", ihdr);
}

}  // namespace

std::string png_claiming_chunk(const char type[4], uint32_t claimed) {
  std::string out = png_head(100, 100);
  be32(&out, claimed);
  return out + std::string(type, 4) + "abc";
}

std::string png_declaring(uint32_t width, uint32_t height) {
  // A zlib stream of a few zero bytes: far fewer rows than declared.
  return png_head(width, height) + png_chunk("IDAT", std::string("\x78\x9c\x63\x60\x00\x00\x00\x02\x00\x01", 10)) +
         png_chunk("IEND", "");
}

std::string jpeg_declaring(const std::string& jpeg, uint16_t width, uint16_t height) {
  std::string out = jpeg;
  for (size_t at = 2; at + 9 < out.size();) {
    const auto marker = static_cast<unsigned char>(out[at + 1]);
    const size_t length = size_t{static_cast<unsigned char>(out[at + 2])} << 8 | static_cast<unsigned char>(out[at + 3]);
    if (marker >= 0xC0 && marker <= 0xC2) {
      out[at + 5] = static_cast<char>(height >> 8);
      out[at + 6] = static_cast<char>(height);
      out[at + 7] = static_cast<char>(width >> 8);
      out[at + 8] = static_cast<char>(width);
      break;
    }
    at += 2 + length;
  }
  return out;
}

std::string tiff_directories(uint32_t pages, uint32_t width, uint32_t height, uint32_t strip_bytes) {
  std::string out("II*\0", 4);
  le32(&out, 8 + strip_bytes);
  out += std::string(strip_bytes, '\0');
  // Entries: tag, type (3 SHORT, 4 LONG), count 1, value.
  const std::array<std::array<uint32_t, 3>, 9> entries{{{256, 4, width},
                                                        {257, 4, height},
                                                        {258, 3, 1},
                                                        {259, 3, 1},
                                                        {262, 3, 0},
                                                        {273, 4, 8},
                                                        {277, 3, 1},
                                                        {278, 4, height},
                                                        {279, 4, strip_bytes}}};
  for (uint32_t n = 0; n < pages; ++n) {
    le16(&out, entries.size());
    for (const auto& e : entries) {
      le16(&out, e[0]);
      le16(&out, e[1]);
      le32(&out, 1);
      if (e[1] == 3) {
        le16(&out, e[2]);
        le16(&out, 0);
      } else {
        le32(&out, e[2]);
      }
    }
    le32(&out, n + 1 < pages ? static_cast<uint32_t>(out.size()) + 4 : 0);
  }
  return out;
}

}  // namespace monotest
