// Writes the seed corpus of the identification target into the folder given: the signature of
// every format, and small zip archives with and without package relationships, stored and
// deflated.

#include <zlib.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace {

void put16(std::string* s, uint32_t v) {
  s->push_back(static_cast<char>(v & 0xFF));
  s->push_back(static_cast<char>(v >> 8));
}
void put32(std::string* s, uint32_t v) {
  put16(s, v & 0xFFFF);
  put16(s, v >> 16);
}

// A zip archive of one entry, deflated (raw) or stored.
std::string zip_of(const std::string& name, const std::string& text, bool deflated) {
  std::string body = text;
  if (deflated) {
    std::vector<unsigned char> out(compressBound(static_cast<uLong>(text.size())) + 16);
    z_stream z{};
    deflateInit2(&z, Z_DEFAULT_COMPRESSION, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
    z.avail_in = static_cast<uInt>(text.size());
    z.next_out = out.data();
    z.avail_out = static_cast<uInt>(out.size());
    deflate(&z, Z_FINISH);
    body.assign(reinterpret_cast<char*>(out.data()), z.total_out);
    deflateEnd(&z);
  }
  const uint32_t crc = static_cast<uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(text.data()),
                                                   static_cast<uInt>(text.size())));
  std::string zip;
  put32(&zip, 0x04034b50);
  put16(&zip, 20), put16(&zip, 0), put16(&zip, deflated ? 8 : 0), put16(&zip, 0), put16(&zip, 0);
  put32(&zip, crc), put32(&zip, static_cast<uint32_t>(body.size())), put32(&zip, static_cast<uint32_t>(text.size()));
  put16(&zip, static_cast<uint32_t>(name.size())), put16(&zip, 0);
  zip += name + body;
  const uint32_t cd = static_cast<uint32_t>(zip.size());
  put32(&zip, 0x02014b50);
  put16(&zip, 20), put16(&zip, 20), put16(&zip, 0), put16(&zip, deflated ? 8 : 0), put16(&zip, 0), put16(&zip, 0);
  put32(&zip, crc), put32(&zip, static_cast<uint32_t>(body.size())), put32(&zip, static_cast<uint32_t>(text.size()));
  put16(&zip, static_cast<uint32_t>(name.size())), put16(&zip, 0), put16(&zip, 0), put16(&zip, 0), put16(&zip, 0);
  put32(&zip, 0), put32(&zip, 0);
  zip += name;
  const uint32_t cd_size = static_cast<uint32_t>(zip.size()) - cd;
  put32(&zip, 0x06054b50);
  put16(&zip, 0), put16(&zip, 0), put16(&zip, 1), put16(&zip, 1);
  put32(&zip, cd_size), put32(&zip, cd), put16(&zip, 0);
  return zip;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s CORPUS_DIR\n", argv[0]);
    return 2;
  }
  const std::string rels =
      "<Relationships><Relationship Type=\"http://schemas.microsoft.com/xps/2005/06/fixedrepresentation\" "
      "Target=\"/FixedDocumentSequence.fdseq\" Id=\"R0\"/></Relationships>";
  const std::string seeds[] = {
      "%PDF-1.4\n%%EOF\n",
      std::string("II*\0\x08\0\0\0", 8),
      std::string("MM\0*\0\0\0\x08", 8),
      "\xFF\xD8\xFF\xE0",
      "\x89PNG\r\n\x1A\n",
      "GIF89a",
      std::string("BM\x3A\0\0\0\0\0\0\0\x36\0\0\0\x28\0\0\0", 18),
      "P4\n8 1\n\xAA",
      "P7\nWIDTH 1\n",
      zip_of("_rels/.rels", rels, true),
      zip_of("_rels/.rels", rels, false),
      zip_of("note.txt", "hello", false),
  };
  int n = 0;
  for (const std::string& s : seeds) {
    const std::string path = std::string(argv[1]) + "/seed" + std::to_string(n++);
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f || std::fwrite(s.data(), 1, s.size(), f) != s.size() || std::fclose(f) != 0) {
      std::fprintf(stderr, "cannot write %s\n", path.c_str());
      return 1;
    }
  }
  return 0;
}
