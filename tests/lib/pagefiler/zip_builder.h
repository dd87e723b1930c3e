#ifndef ZIP_BUILDER_H
#define ZIP_BUILDER_H

// Small zip archives built byte by byte with zlib doing the deflating and the CRC, for the tests
// and the fuzz seeds: entries stored or deflated, with or without data descriptors, any names.

#include <zlib.h>

#include <cstdint>
#include <string>
#include <vector>

namespace ziptest {

inline void put16(std::string* s, uint64_t v) {
  s->push_back(static_cast<char>(v & 0xFF));
  s->push_back(static_cast<char>((v >> 8) & 0xFF));
}
inline void put32(std::string* s, uint64_t v) {
  put16(s, v & 0xFFFF);
  put16(s, (v >> 16) & 0xFFFF);
}
inline void put64(std::string* s, uint64_t v) {
  put32(s, v & 0xFFFFFFFF);
  put32(s, v >> 32);
}

inline uint32_t crc(const std::string& data) {
  return static_cast<uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(data.data()), static_cast<uInt>(data.size())));
}

inline std::string deflate_raw(const std::string& data) {
  std::vector<unsigned char> out(compressBound(static_cast<uLong>(data.size())) + 64);
  z_stream z{};
  deflateInit2(&z, Z_BEST_COMPRESSION, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
  z.avail_in = static_cast<uInt>(data.size());
  z.next_out = out.data();
  z.avail_out = static_cast<uInt>(out.size());
  deflate(&z, Z_FINISH);
  std::string packed(reinterpret_cast<char*>(out.data()), z.total_out);
  deflateEnd(&z);
  return packed;
}

struct Entry {
  std::string name;
  std::string data;
  uint16_t method = 8;      // 8 deflates; any other method stores the data as given
  bool descriptor = false;  // CRC and sizes in a data descriptor after the data
  uint16_t flags = 0;       // further general purpose flags
};

// Local headers with their data, the central directory and the end record with a comment.
inline std::string build(const std::vector<Entry>& entries, const std::string& comment = "") {
  std::string zip, directory;
  for (const Entry& e : entries) {
    const std::string body = e.method == 8 ? deflate_raw(e.data) : e.data;
    const uint32_t sum = crc(e.data);
    const uint16_t flags = static_cast<uint16_t>(e.flags | (e.descriptor ? 8 : 0));
    const uint32_t offset = static_cast<uint32_t>(zip.size());
    put32(&zip, 0x04034b50);
    put16(&zip, 20), put16(&zip, flags), put16(&zip, e.method), put16(&zip, 0x6B2C), put16(&zip, 0x5A8A);
    put32(&zip, e.descriptor ? 0 : sum), put32(&zip, e.descriptor ? 0 : body.size()),
        put32(&zip, e.descriptor ? 0 : e.data.size());
    put16(&zip, e.name.size()), put16(&zip, 0);
    zip += e.name + body;
    if (e.descriptor) put32(&zip, 0x08074b50), put32(&zip, sum), put32(&zip, body.size()), put32(&zip, e.data.size());
    put32(&directory, 0x02014b50);
    put16(&directory, 0x031E), put16(&directory, 20), put16(&directory, flags), put16(&directory, e.method);
    put16(&directory, 0x6B2C), put16(&directory, 0x5A8A);
    put32(&directory, sum), put32(&directory, body.size()), put32(&directory, e.data.size());
    put16(&directory, e.name.size()), put16(&directory, 0), put16(&directory, 0), put16(&directory, 0);
    put16(&directory, 0), put32(&directory, 0x81A40000), put32(&directory, offset);
    directory += e.name;
  }
  const uint32_t start = static_cast<uint32_t>(zip.size());
  zip += directory;
  put32(&zip, 0x06054b50);
  put16(&zip, 0), put16(&zip, 0), put16(&zip, entries.size()), put16(&zip, entries.size());
  put32(&zip, directory.size()), put32(&zip, start), put16(&zip, comment.size());
  return zip + comment;
}

}  // namespace ziptest

#endif
