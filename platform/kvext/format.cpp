// The imaging engine's file-format registry and identification.

#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <iterator>
#include <memory>

#include <zlib.h>

#include "kvng.h"
#include "kvng_format.h"

namespace {

constexpr KVngFormatEntry known_formats[] = {
    {"PDF", "application/pdf", nullptr, "readpdf", "writepdf", "pdf"},
    {"XPS", "application/vnd.ms-xpsdocument", "application/zip", "readxps", "writexps", "xps"},
    {"OXPS", "application/oxps", "application/zip", "readxps", "writexps", "oxps"},
    {"ZIP", "application/zip", nullptr, "none", "none", "zip"},
    {"TIFF", "image/tiff", nullptr, "readtif", "writetif", "tif,tiff"},
    {"JPEG", "image/jpeg", nullptr, "readjpg", "writejpg", "jpg,jpeg,jpe,jfif"},
    {"PNG", "image/png", nullptr, "readpng", "writepng", "png"},
    {"GIF", "image/gif", nullptr, "readgif", "writegif", "gif"},
    {"BMP", "image/bmp", nullptr, "readbmp", "writebmp", "bmp,dib"},
    {"PNM", "image/x-portable-anymap", nullptr, "readpnm", "writepnm", "pnm,pbm,pgm,ppm,pam"},
};

// Media types of the PNM kinds P1 to P7, none of them registered: named as file(1) names them,
// which spells the plain grey map with an "a" and the raw one with an "e".
constexpr const char* pnm_types[7] = {
    "image/x-portable-bitmap", "image/x-portable-graymap", "image/x-portable-pixmap", "image/x-portable-bitmap",
    "image/x-portable-greymap", "image/x-portable-pixmap", "image/x-portable-arbitrarymap",
};

// How far into a file a PDF header may start, as PDF readers allow.
constexpr size_t pdf_header_window = 1024;
// Bounds on what identifying a package reads: its central directory and its package
// relationships part.
constexpr uint32_t max_central_directory = 4u << 20;
constexpr uint32_t max_relationships = 1u << 20;
constexpr size_t zip_end_record = 22;
constexpr size_t zip_max_comment = 65535;

struct EngineFree {
  void operator()(void* p) const { kvng_internal_free(p); }
};
using Block = std::unique_ptr<unsigned char, EngineFree>;

Block allocate(size_t n) { return Block(static_cast<unsigned char*>(kvng_internal_calloc(n ? n : 1, 1))); }

voidpf z_alloc(voidpf, uInt items, uInt size) { return kvng_internal_calloc(items, size); }
void z_free(voidpf, voidpf block) { kvng_internal_free(block); }

// Random access to the bytes being identified.
struct Source {
  int fd = -1;
  const unsigned char* memory = nullptr;
  int64_t size = 0;

  bool read(int64_t offset, void* out, size_t n) const {
    if (offset < 0 || offset > size || static_cast<uint64_t>(size - offset) < n) return false;
    if (memory) {
      if (n) std::memcpy(out, memory + offset, n);
      return true;
    }
    auto* p = static_cast<unsigned char*>(out);
    while (n > 0) {
      const ssize_t got = pread(fd, p, n, static_cast<off_t>(offset));
      if (got < 0 && errno == EINTR) continue;
      if (got <= 0) return false;
      p += got;
      n -= static_cast<size_t>(got);
      offset += got;
    }
    return true;
  }
};

uint32_t le16(const unsigned char* p) { return p[0] | (p[1] << 8); }
uint32_t le32(const unsigned char* p) {
  return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

bool contains_nocase(const unsigned char* text, size_t n, const char* word) {
  const size_t m = std::strlen(word);
  for (size_t i = 0; i + m <= n; ++i) {
    if (strncasecmp(reinterpret_cast<const char*>(text) + i, word, m) == 0) return true;
  }
  return false;
}

// The bytes of a zip entry whose data is at most max bytes either way; null when it cannot be
// read or is stored with a method other than stored or deflated.
Block entry_data(const Source& src, const unsigned char* header, uint32_t max, size_t* length) {
  const uint32_t method = le16(header + 10), packed = le32(header + 20), size = le32(header + 24);
  const uint32_t local = le32(header + 42);
  unsigned char lh[30];
  if (packed > max || size > max || (method != 0 && method != 8) || !src.read(local, lh, sizeof lh) ||
      le32(lh) != 0x04034b50) {
    return nullptr;
  }
  Block data = allocate(packed);
  if (!data || !src.read(int64_t{local} + 30 + le16(lh + 26) + le16(lh + 28), data.get(), packed)) return nullptr;
  if (method == 0) {
    *length = packed;
    return data;
  }
  Block out = allocate(size);
  if (!out) return nullptr;
  z_stream z{};
  z.zalloc = z_alloc;
  z.zfree = z_free;
  if (inflateInit2(&z, -MAX_WBITS) != Z_OK) return nullptr;
  z.next_in = data.get();
  z.avail_in = packed;
  z.next_out = out.get();
  z.avail_out = size;
  const int r = inflate(&z, Z_FINISH);
  *length = z.total_out;
  inflateEnd(&z);
  return r == Z_STREAM_END ? std::move(out) : nullptr;
}

enum class Package { NotZip, Zip, Xps, OpenXps };

// A zip archive is an XPS package when its package relationships name a fixed representation.
Package classify_zip(const Source& src) {
  const size_t tail = static_cast<size_t>(src.size < int64_t{zip_end_record + zip_max_comment}
                                              ? src.size
                                              : int64_t{zip_end_record + zip_max_comment});
  if (tail < zip_end_record) return Package::NotZip;
  Block end = allocate(tail);
  if (!end || !src.read(src.size - static_cast<int64_t>(tail), end.get(), tail)) return Package::Zip;
  const unsigned char* record = nullptr;
  for (size_t at = tail - zip_end_record + 1; at-- > 0;) {
    if (le32(end.get() + at) == 0x06054b50) {
      record = end.get() + at;
      break;
    }
  }
  if (!record) return Package::Zip;
  const uint32_t cd_size = le32(record + 12), cd_offset = le32(record + 16);
  if (cd_size > max_central_directory) return Package::Zip;
  Block cd = allocate(cd_size);
  if (!cd || !src.read(cd_offset, cd.get(), cd_size)) return Package::Zip;
  for (size_t at = 0; at + 46 <= cd_size;) {
    const unsigned char* h = cd.get() + at;
    if (le32(h) != 0x02014b50) break;
    const size_t name_length = le16(h + 28);
    const size_t next = at + 46 + name_length + le16(h + 30) + le16(h + 32);
    if (next > cd_size) break;
    static constexpr char rels[] = "_rels/.rels";
    if (name_length == sizeof rels - 1 && strncasecmp(reinterpret_cast<const char*>(h + 46), rels, name_length) == 0) {
      size_t n = 0;
      Block text = entry_data(src, h, max_relationships, &n);
      if (text && contains_nocase(text.get(), n, "/fixedrepresentation")) {
        return contains_nocase(text.get(), n, "schemas.openxps.org") ? Package::OpenXps : Package::Xps;
      }
      return Package::Zip;
    }
    at = next;
  }
  return Package::Zip;
}

bool is_blank(unsigned char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

// The known format of the bytes, by name, and the media type when the kind decides it.
const char* classify(const Source& src, const char** media) {
  unsigned char head[pdf_header_window];
  const size_t n = static_cast<size_t>(src.size < int64_t{sizeof head} ? src.size : int64_t{sizeof head});
  if (!src.read(0, head, n)) return nullptr;
  auto starts = [&](const char* sig, size_t len) { return n >= len && std::memcmp(head, sig, len) == 0; };
  *media = nullptr;
  if (starts("PK\3\4", 4) || starts("PK\5\6", 4)) {
    switch (classify_zip(src)) {
      case Package::Xps: return "XPS";
      case Package::OpenXps: return "OXPS";
      case Package::Zip: return "ZIP";
      case Package::NotZip: break;
    }
    return nullptr;
  }
  if (starts("II*\0", 4) || starts("MM\0*", 4) || starts("II+\0", 4) || starts("MM\0+", 4)) return "TIFF";
  if (starts("\xFF\xD8\xFF", 3)) return "JPEG";
  if (starts("\x89PNG\r\n\x1A\n", 8)) return "PNG";
  if (starts("GIF87a", 6) || starts("GIF89a", 6)) return "GIF";
  if (starts("BM", 2) && n >= 18) {
    // The size of the bitmap information header tells a bitmap from text that starts with BM.
    const uint32_t info = le32(head + 14);
    for (uint32_t known : {12u, 40u, 52u, 56u, 64u, 108u, 124u}) {
      if (info == known) return "BMP";
    }
  }
  if (n >= 3 && head[0] == 'P' && head[1] >= '1' && head[1] <= '7' && is_blank(head[2])) {
    *media = pnm_types[head[1] - '1'];
    return "PNM";
  }
  for (size_t i = 0; i + 5 <= n; ++i) {
    if (std::memcmp(head + i, "%PDF-", 5) == 0) return "PDF";
  }
  return nullptr;
}

const KVngFormatEntry* find_format(const KVngFileFormats* table, const char* name) {
  for (int32_t i = 0; table && name && i < table->count; ++i) {
    if (std::strcmp(table->formats[i].name, name) == 0) return &table->formats[i];
  }
  return nullptr;
}

void release_info(KVngFileFormatInfo* info) { kvng_internal_free(info); }

KVngFileFormatInfo* identify(const Source& src, const KVngFileFormats* table) {
  const char* media = nullptr;
  const KVngFormatEntry* format = find_format(table, classify(src, &media));
  if (!format) return nullptr;
  auto* info = static_cast<KVngFileFormatInfo*>(kvng_internal_calloc(1, sizeof(KVngFileFormatInfo)));
  if (!info) return nullptr;
  *info = KVngFileFormatInfo{format, media ? media : format->mimeType, format->container, format->reader, release_info};
  return info;
}

void release_table(KVngFileFormats* table) { kvng_internal_free(table); }

// Whether ext is one of the comma-separated extensions of list, without regard to case.
bool has_extension(const char* list, const char* ext) {
  const size_t n = std::strlen(ext);
  for (const char* p = list; *p;) {
    const char* comma = std::strchr(p, ',');
    const size_t len = comma ? static_cast<size_t>(comma - p) : std::strlen(p);
    if (len == n && strncasecmp(p, ext, n) == 0) return true;
    p += len + (comma ? 1 : 0);
  }
  return false;
}

}  // namespace

int KVngReadFileFormats(KVngFileFormats** table) {
  if (!table) return 0;
  auto* t = static_cast<KVngFileFormats*>(kvng_internal_calloc(1, sizeof(KVngFileFormats)));
  if (!t) return 0;
  *t = KVngFileFormats{static_cast<int32_t>(std::size(known_formats)), known_formats, release_table};
  *table = t;
  return 1;
}

KVngFileFormatInfo* KVngGetFileFormatInfo(const char* filename, const KVngFileFormats* table) {
  if (!filename || !table) return nullptr;
  const int fd = open(filename, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return nullptr;
  struct stat st;
  KVngFileFormatInfo* info = nullptr;
  if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
    Source src;
    src.fd = fd;
    src.size = st.st_size;
    info = identify(src, table);
  }
  close(fd);
  return info;
}

KVngFileFormatInfo* KVngGetFileFormatFromBuf(const void* data, size_t size, const KVngFileFormats* table) {
  if ((!data && size) || !table || size > static_cast<size_t>(INT64_MAX)) return nullptr;
  Source src;
  src.memory = static_cast<const unsigned char*>(data);
  src.size = static_cast<int64_t>(size);
  return identify(src, table);
}

int KVngGetFileFormatWriter(const KVngFileFormats* table, const char* filename, char** writer) {
  if (writer) *writer = nullptr;
  if (!table || !filename || !writer) return 0;
  const char* slash = std::strrchr(filename, '/');
  const char* base = slash ? slash + 1 : filename;
  const char* dot = std::strrchr(base, '.');
  if (!dot || dot == base || !dot[1]) return 0;
  for (int32_t i = 0; i < table->count; ++i) {
    const KVngFormatEntry& f = table->formats[i];
    if (std::strcmp(f.writer, "none") == 0 || !has_extension(f.extensions, dot + 1)) continue;
    const size_t n = std::strlen(f.writer) + 1;
    *writer = static_cast<char*>(kvng_internal_calloc(n, 1));
    if (!*writer) return 0;
    std::memcpy(*writer, f.writer, n);
    return 1;
  }
  return 0;
}
