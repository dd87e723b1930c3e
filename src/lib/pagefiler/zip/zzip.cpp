// Zip archives as lists of records: reading them by walking the file or through the central
// directory, writing them back, showing them, and extracting entries to memory or to files.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <climits>
#include <cstdio>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "byteorder.h"
#include "dio.h"
#include "safe_output.h"
#include "zzip_internal.h"

namespace {

constexpr int64_t end_rec_size = 22;    // the end record without its comment
constexpr int64_t end_rec_reach = 4096; // how far from the end of the file it is looked for
constexpr int64_t loc64_size = 20;

template <typename T>
T* as(ZZipRecord* record) {
  return reinterpret_cast<T*>(record);
}

void free_records(ZZipRecord* record) {
  while (record) {
    ZZipRecord* next = record->next;
    record->Free(record);
    record = next;
  }
}

void append(ZZipArchive* zip, ZZipRecord* record) {
  if (zip->last) {
    zip->last->next = record;
  } else {
    zip->first = record;
  }
  zip->last = record;
}

// The file name without the extension of its last component; null without one (a leading dot
// names a file, it starts no extension). *failed tells a copy that could not be made.
char* base_name(SState* state, const char* fileName, bool* failed) {
  const char* slash = std::strrchr(fileName, '/');
  const char* last = slash ? slash + 1 : fileName;
  const char* dot = std::strrchr(last, '.');
  if (!dot || dot == last) return nullptr;
  auto* base = static_cast<char*>(SState_Calloc(state, static_cast<size_t>(dot - fileName) + 1, 1));
  if (!base) {
    *failed = true;
    return nullptr;
  }
  std::memcpy(base, fileName, static_cast<size_t>(dot - fileName));
  return base;
}

// Reads one record at the source's position, which must be of the kind expected; null after the
// error exit.
ZZipRecord* read_record_of(ZZipArchive* zip, uint32_t signature, const char* what) {
  const int64_t at = ByteSrc_GetPosition(zip->source);
  if (zzip::need(zip, 4) != 0) return nullptr;
  if (ZZip_Rd4(zip) != signature) {
    ZZIP_FAIL(zip, "  ZZip: no %s at %" PRId64 "\n", what, at);
    return nullptr;
  }
  ZZipRecord* record = zzip::make_record(zip, signature, at + 4);
  if (record && record->Read(record) != 0) {
    record->Free(record);
    return nullptr;
  }
  return record;
}

// A position the file holds, from a value read from it; -1 (reported) for one outside it.
int64_t position_in_file(ZZipArchive* zip, double value, const char* what) {
  const auto size = static_cast<double>(ByteSrc_GetSize(zip->source));
  if (!(value >= 0 && value <= size)) {
    ZZIP_FAIL(zip, "  ZZip: %s %1.0f is outside the file\n", what, value);
    return -1;
  }
  return static_cast<int64_t>(value);
}

// The central directory's offset as the ZIP64 end record holds it, found through the locator
// just before the end record at end; -1 after the error exit.
int64_t zip64_cdir_offset(ZZipArchive* zip, int64_t end) {
  if (end < loc64_size || ByteSrc_SetPosition(zip->source, end - loc64_size) != 0) {
    ZZIP_FAIL(zip, "  ZZip: no ZIP64 end record locator at %" PRId64 "\n", end - loc64_size);
    return -1;
  }
  ZZipRecord* locator = read_record_of(zip, ZZIP_SIG_CDIR_END_LOC64, "ZIP64 end record locator");
  if (!locator) return -1;
  const int64_t at = position_in_file(zip, as<CDirEndLoc64>(locator)->cDirEndRec64Offset, "ZIP64 end record offset");
  locator->Free(locator);
  if (at < 0 || ByteSrc_SetPosition(zip->source, at) != 0) return -1;
  ZZipRecord* end64 = read_record_of(zip, ZZIP_SIG_CDIR_END_REC64, "ZIP64 end record");
  if (!end64) return -1;
  zzip::show_on_state(end64);
  const int64_t offset = position_in_file(zip, as<CDirEndRec64>(end64)->cDirStartOffset, "central directory offset");
  end64->Free(end64);
  return offset;
}

// The end record's position: the last one within reach of the end of the file, the lowest
// position included; -1 after the error exit.
int64_t find_end_record(ZZipArchive* zip) {
  const int64_t size = ByteSrc_GetSize(zip->source);
  const int64_t last = size - end_rec_size;
  const int64_t lowest = size > end_rec_reach ? size - end_rec_reach : 0;
  uint8_t tail[end_rec_reach];
  const auto span = static_cast<size_t>(size - lowest);
  if (last >= 0 && ByteSrc_SetPosition(zip->source, lowest) == 0 &&
      ByteSrc_ReadBlock(zip->source, tail, span) == span) {
    for (int64_t at = last; at >= lowest; --at) {
      if (mono::load_le32(tail + (at - lowest)) == ZZIP_SIG_CDIR_END_REC) return at;
      if (at == last && at > lowest) SState_InfPrintf(zip->state, "  ZZip_ReadRandom: backing up\n");
    }
  }
  ZZIP_FAIL(zip, "  ZZip: unusually large file comment.\n");
  return -1;
}

// Reads the local header a central directory header names onto the list and gives it the
// directory's CRC, sizes and name; 0 or -1.
int take_local_header(ZZipArchive* zip, const CDirFileHdr* entry) {
  const uint64_t at = entry->localHdrPos;
  ZZipRecord* before = zip->last;
  if (at > static_cast<uint64_t>(ByteSrc_GetSize(zip->source)) ||
      ByteSrc_SetPosition(zip->source, static_cast<int64_t>(at)) != 0) {
    return ZZIP_FAIL(zip, "  ZZip: no local header at %" PRIu64 " for %s\n", at, entry->fileName);
  }
  if (ZZip_ReadStreaming(zip, 1) < 0) return -1;
  // Anything else there would be taken for a local header below.
  if (zip->last == before || zip->last->signature != ZZIP_SIG_LOCAL_FILE_HDR) {
    return ZZIP_FAIL(zip, "  ZZip: no local header at %" PRIu64 " for %s\n", at, entry->fileName);
  }
  auto* local = as<LocalFileHdr>(zip->last);
  auto* name = static_cast<char*>(SState_Calloc(zip->state, entry->fileNameLen + 1u, 1));
  if (!name) return SState_Err(zip->state, __FILE__, __LINE__, -1);
  std::memcpy(name, entry->fileName, entry->fileNameLen);
  SState_Free(zip->state, local->fileName);
  local->fileName = name;
  local->fileNameLen = entry->fileNameLen;
  local->crc = entry->crc;
  local->compressedSize = entry->compressedSize;
  local->uncompressedSize = entry->uncompressedSize;
  local->dataSize = entry->dataSize;
  local->fullSize = entry->fullSize;
  return 0;
}

// Reads the archive through its central directory, found from the end record: the list then
// holds the local headers in the directory's order. 0 or -1.
int read_random(ZZipArchive* zip) {
  const int64_t end = find_end_record(zip);
  if (end < 0 || ByteSrc_SetPosition(zip->source, end + 4) != 0) return -1;
  ZZipRecord* record = zzip::make_record(zip, ZZIP_SIG_CDIR_END_REC, end + 4);
  if (!record) return -1;
  if (record->Read(record) != 0) {
    record->Free(record);
    return -1;
  }
  zzip::show_on_state(record);
  int64_t offset = as<CDirEndRec>(record)->cDirStartOffset;
  record->Free(record);
  // An offset too large for the end record lives in the ZIP64 end record.
  if (offset == 0xFFFFFFFF && (offset = zip64_cdir_offset(zip, end)) < 0) return -1;
  if (offset > ByteSrc_GetSize(zip->source)) {
    return ZZIP_FAIL(zip, "  ZZip: central directory offset %" PRId64 " is outside the file\n", offset);
  }
  free_records(zip->first);
  zip->first = zip->last = nullptr;
  ByteSrc_SetPosition(zip->source, offset);
  while (!ByteSrc_EndOf(zip->source)) {
    if (ZZip_ReadStreaming(zip, INT32_MAX) < 0) return -1;
  }
  ZZipRecord* directory = zip->first;
  zip->first = zip->last = nullptr;
  int status = 0;
  for (ZZipRecord* r = directory; r && status == 0; r = r->next) {
    if (r->signature == ZZIP_SIG_CDIR_FILE_HDR) status = take_local_header(zip, as<CDirFileHdr>(r));
  }
  free_records(directory);
  return status;
}

// ---- Extracting ----

// The whole entry name, ASCII case aside; one leading '/' of the wanted name is skipped.
bool same_name(const char* wanted, const LocalFileHdr* header) {
  if (*wanted == '/') ++wanted;
  return std::strlen(wanted) == header->fileNameLen &&
         Util_StrCmpLCaseN(wanted, header->fileName, header->fileNameLen) == 0;
}

// Whether a name stays inside the directory it is extracted to: relative, without a drive, no
// ".." component ('\' separates as '/' does, as writers on other systems mean it), no NUL.
bool stays_inside(const char* name, size_t length) {
  if (length == 0 || std::memchr(name, 0, length)) return false;
  if (name[0] == '/' || name[0] == '\\') return false;
  if (length >= 2 && name[1] == ':' && ((name[0] | 0x20) >= 'a' && (name[0] | 0x20) <= 'z')) return false;
  for (size_t start = 0; start <= length;) {
    size_t end = start;
    while (end < length && name[end] != '/' && name[end] != '\\') ++end;
    if (end - start == 2 && name[start] == '.' && name[start + 1] == '.') return false;
    start = end + 1;
  }
  return true;
}

// What one entry may inflate to. A declared size above it is refused before anything is
// inflated; the parts of the documents the runner handles are far smaller (the XPS reader stops
// at a quarter of it).
constexpr uint64_t kMaxZipEntryBytes = uint64_t(1) << 30;
// What one extraction may write in all, its entries' declared sizes added up before the first
// is written: a small archive of many large entries is refused whole, never half written.
constexpr uint64_t kMaxZipArchiveBytes = uint64_t(4) << 30;
// The bytes read from the archive, and inflated, at a time: memory stays flat whatever an entry
// holds.
constexpr size_t kZipChunk = 64 * 1024;

// Takes the next inflated bytes of an entry; 0, or an errno value that ends the entry.
using EntrySink = int (*)(void* context, const unsigned char* data, size_t size);

// Inflates (or copies) an entry's data in bounded chunks to sink, checking its declared size and
// CRC as it goes; target names where the bytes go, for messages. 0, or -1 after the error exit.
int stream_entry(LocalFileHdr* header, EntrySink sink, void* context, const char* target) {
  ZZipArchive* zip = header->head.archive;
  if (header->flags & 1u) return ZZIP_FAIL(zip, "  ZZip: %s is encrypted\n", header->fileName);
  if (header->compression != 0 && header->compression != 8) {
    return ZZIP_FAIL(zip, "Unkown compression: %d\n", header->compression);
  }
  if (header->fullSize > kMaxZipEntryBytes) {
    return ZZIP_FAIL(zip,
                     "  ZZip: %s would inflate to %" PRIu64 " bytes, over the %" PRIu64
                     " bytes one entry may inflate to (kMaxZipEntryBytes)\n",
                     header->fileName, header->fullSize, kMaxZipEntryBytes);
  }
  if (zip->source && ByteSrc_SetPosition(zip->source, header->dataLoc) != 0) {
    return ZZIP_FAIL(zip, "Unexpected EOF: Expecting %" PRIu64 " bytes\n", header->dataSize);
  }
  if (zzip::need(zip, header->dataSize) != 0) return -1;
  const bool deflated = header->compression == 8;
  z_stream z{};
  if (deflated && inflateInit2(&z, -MAX_WBITS) != Z_OK) return ZZIP_FAIL(zip, "  ZZip: cannot inflate %s\n", header->fileName);
  unsigned char in[kZipChunk];
  unsigned char out[kZipChunk];
  uint64_t left = header->dataSize, produced = 0;
  uLong crc = crc32(0L, Z_NULL, 0);
  int status = 0;
  bool ended = !deflated && left == 0;
  // Hands over what was made, unless it runs past the declared size (a lying header stops here,
  // not at whatever the data would inflate to).
  const auto give = [&](const unsigned char* data, size_t size) {
    if (size > header->fullSize - produced) {
      return ZZIP_FAIL(zip, "  ZZip: %s holds more than its %" PRIu64 " bytes\n", header->fileName, header->fullSize);
    }
    produced += size;
    crc = crc32(crc, data, static_cast<uInt>(size));
    if (const int e = sink(context, data, size); e != 0) {
      return ZZIP_FAIL(zip, "  ZZip: cannot write %s: %s\n", target, std::strerror(e));
    }
    return 0;
  };
  while (status == 0 && !ended) {
    const size_t n = static_cast<size_t>(left < kZipChunk ? left : kZipChunk);
    if (n > 0 && ByteSrc_ReadBlock(zip->source, in, n) != n) {
      status = ZZIP_FAIL(zip, "Unexpected EOF: Expecting %" PRIu64 " bytes\n", header->dataSize);
      break;
    }
    left -= n;
    if (!deflated) {
      status = give(in, n);
      ended = left == 0;
      continue;
    }
    z.next_in = in;
    z.avail_in = static_cast<uInt>(n);
    do {
      z.next_out = out;
      z.avail_out = sizeof out;
      const int r = inflate(&z, Z_NO_FLUSH);
      if (r != Z_OK && r != Z_STREAM_END && !(r == Z_BUF_ERROR && z.avail_in == 0)) {
        status = ZZIP_FAIL(zip, "  ZZip: cannot inflate %s\n", header->fileName);
        break;
      }
      status = give(out, sizeof out - z.avail_out);
      ended = r == Z_STREAM_END;
    } while (status == 0 && !ended && (z.avail_in > 0 || z.avail_out == 0));
    if (status == 0 && !ended && left == 0) status = ZZIP_FAIL(zip, "  ZZip: cannot inflate %s\n", header->fileName);
  }
  if (deflated) inflateEnd(&z);
  if (status != 0) return status;
  if (produced != header->fullSize) {
    return ZZIP_FAIL(zip, "  ZZip: %s holds %" PRIu64 " bytes, not %" PRIu64 "\n", header->fileName, produced,
                     header->fullSize);
  }
  if (static_cast<uint32_t>(crc) != header->crc) {
    return ZZIP_FAIL(zip, "  ZZip: CRC of %s is %08" PRIx32 ", not %08" PRIx32 "\n", header->fileName,
                     static_cast<uint32_t>(crc), header->crc);
  }
  return 0;
}

int append_to_buffer(void* context, const unsigned char* data, size_t size) {
  auto* buffer = static_cast<BufUChar*>(context);
  const size_t at = buffer->length;
  if (BufUChar_Check(buffer, at + size) != 0) return ENOMEM;
  std::memcpy(buffer->data + at, data, size);
  buffer->length = at + size;
  return 0;
}

// The entry's bytes, inflated and checked against its size and CRC; null after the error exit.
BufUChar* entry_data(LocalFileHdr* header) {
  BufUChar* data = BufUChar_New(header->head.archive->state, 0);
  if (!data) {
    SState_Err(header->head.archive->state, __FILE__, __LINE__, -1);
    return nullptr;
  }
  if (stream_entry(header, append_to_buffer, data, "memory") == 0) return data;
  BufUChar_Free(data);
  return nullptr;
}

int write_to_fd(void* context, const unsigned char* data, size_t size) {
  const int fd = *static_cast<int*>(context);
  while (size > 0) {
    const ssize_t n = write(fd, data, size);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return errno;
    if (n == 0) return ENOSPC;
    data += n;
    size -= static_cast<size_t>(n);
  }
  return 0;
}

// One extraction: every file is written to a temporary file of its own, made with O_EXCL and
// O_NOFOLLOW in a folder opened without following links, and the temporary files take their
// names only when every entry is whole. A failure removes the temporary files and the folders
// the extraction made; a signal finds them on the pending list (safe_output.h).
class Extraction {
 public:
  explicit Extraction(ZZipArchive* zip) : zip_(zip), base_(zip->baseName ? zip->baseName : ".") {}
  ~Extraction() { roll_back(); }

  // Checks the total the entries declare against the archive's budget.
  int check_budget() {
    uint64_t total = 0;
    for (ZZipRecord* r = zip_->first; r; r = r->next) {
      if (r->signature != ZZIP_SIG_LOCAL_FILE_HDR) continue;
      total += std::min(reinterpret_cast<LocalFileHdr*>(r)->fullSize, kMaxZipArchiveBytes + 1);
      if (total > kMaxZipArchiveBytes) {
        return ZZIP_FAIL(zip_,
                         "  ZZip: %s would inflate to more than the %" PRIu64
                         " bytes one archive may inflate to (kMaxZipArchiveBytes): nothing extracted\n",
                         zip_->fileName ? zip_->fileName : "the archive", kMaxZipArchiveBytes);
      }
    }
    return 0;
  }

  int entry(LocalFileHdr* header) {
    if (!stays_inside(header->fileName, header->fileNameLen)) {
      return ZZIP_FAIL(zip_, "  ZZip: refusing %s, which leads outside %s\n", header->fileName, base_.c_str());
    }
    std::vector<std::string> parts;
    for (size_t start = 0; start <= header->fileNameLen;) {
      size_t end = start;
      while (end < header->fileNameLen && header->fileName[end] != '/') ++end;
      const std::string part(header->fileName + start, end - start);
      if (!part.empty() && part != ".") parts.push_back(part);
      start = end + 1;
    }
    const bool directory = header->fileName[header->fileNameLen - 1] == '/';
    if (parts.empty()) return 0;
    const std::string name = directory ? std::string() : parts.back();
    if (!directory) parts.pop_back();
    std::string folder;
    const int dirfd = open_folder(parts, &folder);
    if (dirfd < 0) return -1;
    if (directory) {
      close(dirfd);
      return 0;
    }
    int status = 0;
    int fd = -1;
    std::string temp;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
      char suffix[32];
      std::snprintf(suffix, sizeof suffix, ".%u.%d.tmp", static_cast<unsigned>(getpid()), ++counter_);
      temp = "." + name.substr(0, 48) + suffix;
      fd = openat(dirfd, temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
      if (fd < 0 && errno != EEXIST) break;
    }
    close(dirfd);
    const std::string path = folder + "/" + name;
    if (fd < 0) return ZZIP_FAIL(zip_, "  ZZip: cannot write %s: %s\n", path.c_str(), std::strerror(errno));
    remember(folder + "/" + temp, false);
    status = stream_entry(header, write_to_fd, &fd, path.c_str());
    if (status == 0 && fsync(fd) != 0) status = ZZIP_FAIL(zip_, "  ZZip: cannot write %s: %s\n", path.c_str(), std::strerror(errno));
    if (close(fd) != 0 && status == 0) status = ZZIP_FAIL(zip_, "  ZZip: cannot write %s: %s\n", path.c_str(), std::strerror(errno));
    if (status == 0) renames_.push_back({folder + "/" + temp, path});
    return status;
  }

  // Moves every file into place; a name held by a folder fails before anything moves.
  int commit() {
    for (const auto& [temp, path] : renames_) {
      struct stat st {};
      if (lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
        return ZZIP_FAIL(zip_, "  ZZip: cannot write %s: %s\n", path.c_str(), std::strerror(EISDIR));
      }
    }
    for (const auto& [temp, path] : renames_) {
      if (rename(temp.c_str(), path.c_str()) != 0) {
        return ZZIP_FAIL(zip_, "  ZZip: cannot write %s: %s\n", path.c_str(), std::strerror(errno));
      }
    }
    for (Made& m : made_) SafeOut_Forget(m.pending);
    made_.clear();
    renames_.clear();
    return 0;
  }

 private:
  struct Made {
    std::string path;
    bool directory;
    SafeOutPending* pending;
  };

  void remember(const std::string& path, bool directory) {
    made_.push_back({path, directory, SafeOut_Register(path.c_str(), directory ? 1 : 0)});
  }

  // Undoes what this extraction made, newest first.
  void roll_back() {
    for (auto m = made_.rbegin(); m != made_.rend(); ++m) {
      if (m->directory) {
        rmdir(m->path.c_str());
      } else {
        unlink(m->path.c_str());
      }
      SafeOut_Forget(m->pending);
    }
    made_.clear();
  }

  // Opens (making what is missing) the folder under the base that parts name, never through a
  // link: the base itself is checked too. The descriptor, or -1 after the error exit.
  int open_folder(const std::vector<std::string>& parts, std::string* folder) {
    int fd = open_one(AT_FDCWD, base_, base_);
    *folder = base_;
    for (const std::string& part : parts) {
      if (fd < 0) break;
      const std::string path = *folder + "/" + part;
      const int next = open_one(fd, part, path);
      close(fd);
      fd = next;
      *folder = path;
    }
    return fd;
  }

  int open_one(int at, const std::string& name, const std::string& path) {
    int fd = openat(at, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0 && errno == ENOENT) {
      if (mkdirat(at, name.c_str(), 0777) != 0 && errno != EEXIST) {
        return ZZIP_FAIL(zip_, "Failed to build full path:%s: %s\n", path.c_str(), std::strerror(errno));
      }
      remember(path, true);
      fd = openat(at, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    }
    if (fd >= 0) return fd;
    struct stat st {};
    if (fstatat(at, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode)) {
      return ZZIP_FAIL(zip_, "  ZZip: refusing %s: it is a symbolic link, which is not followed\n", path.c_str());
    }
    return ZZIP_FAIL(zip_, "Failed to build full path:%s: %s\n", path.c_str(), std::strerror(errno));
  }

  ZZipArchive* zip_;
  std::string base_;
  std::vector<Made> made_;
  std::vector<std::pair<std::string, std::string>> renames_;
  int counter_ = 0;
};

// Extracts one entry, or (header null) every entry, to files; 0 or -1.
int extract_to_files(ZZipArchive* zip, LocalFileHdr* header) {
  Extraction extraction(zip);
  if (!header && extraction.check_budget() != 0) return -1;
  int status = 0;
  if (header) {
    status = extraction.entry(header);
  } else {
    for (ZZipRecord* r = zip->first; r && status == 0; r = r->next) {
      if (r->signature == ZZIP_SIG_LOCAL_FILE_HDR) status = extraction.entry(reinterpret_cast<LocalFileHdr*>(r));
    }
  }
  return status == 0 ? extraction.commit() : status;
}

}  // namespace

BufUChar* ZZip_LocalFileHdr_Extract(ZZipRecord* record, const char* name) {
  auto* header = as<LocalFileHdr>(record);
  if (name) return same_name(name, header) ? entry_data(header) : nullptr;
  extract_to_files(record->archive, header);
  return nullptr;
}

// ---- The archive ----

int ZZip_ReadStreaming(ZZipArchive* zip, int32_t count) {
  if (!zip) return -1;
  while (count > 0 && !ByteSrc_EndOf(zip->source)) {
    const int64_t at = ByteSrc_GetPosition(zip->source);
    if (zzip::need(zip, 4) != 0) return -1;
    const uint32_t signature = ZZip_Rd4(zip);
    SState_VerPrintf(zip->state, "Position:%8ld  Sig:%08lx\n", static_cast<long>(at), static_cast<unsigned long>(signature));
    ZZipRecord* record = zzip::make_record(zip, signature, at + 4);
    if (!record) return -1;
    if (record->Read(record) != 0) {
      record->Free(record);
      return -1;
    }
    append(zip, record);
    --count;
    if (signature == ZZIP_SIG_LOCAL_FILE_HDR) {
      auto* header = as<LocalFileHdr>(record);
      const int64_t left = ByteSrc_GetSize(zip->source) - header->dataLoc;
      if (header->dataSize > static_cast<uint64_t>(left)) {
        return ZZIP_FAIL(zip, "Unexpected EOF: Expecting %" PRIu64 " bytes\n", header->dataSize);
      }
      ByteSrc_SetPosition(zip->source, header->dataLoc + static_cast<int64_t>(header->dataSize));
      // The sizes follow the data: where the next record starts is unknown.
      if (header->flags & ZZIP_FLAG_DATA_DESCRIPTOR) return 0;
    }
  }
  return 1;
}

ZZipArchive* ZZip_Read(SState* state, const char* fileName) {
  if (!state) {
    SState_ErrPrintf(nullptr, "ZZip_Read: no state\n");
    return nullptr;
  }
  auto* zip = static_cast<ZZipArchive*>(SState_Calloc(state, 1, sizeof(ZZipArchive)));
  if (!zip) {
    SState_Err(state, __FILE__, __LINE__, -1);
    return nullptr;
  }
  zip->state = state;
  bool failed = false;
  int status = 0;
  if (fileName) {
    zip->fileName = SState_StrDup(state, fileName);
    zip->baseName = base_name(state, fileName, &failed);
  }
  if (!zip->fileName || failed) {
    status = fileName ? SState_Err(state, __FILE__, __LINE__, -1) : ZZIP_FAIL(zip, "Can't open souce: %s\n", "(null)");
  } else if (!(zip->source = ByteSrc_NewFromFile(state, fileName))) {
    status = ZZIP_FAIL(zip, "Can't open souce: %s\n", fileName);
  } else {
    do {
      status = ZZip_ReadStreaming(zip, INT32_MAX);
    } while (status == 1 && !ByteSrc_EndOf(zip->source));
    status = status == 0 ? read_random(zip) : status < 0 ? -1 : 0;
  }
  if (status != 0) {
    ZZip_Free(zip);
    return nullptr;
  }
  return zip;
}

int ZZip_Write(ZZipArchive* zip) {
  if (!zip) return 0;
  if (!zip->out) return ZZIP_FAIL(zip, "  ZZip: no output stream\n");
  for (ZZipRecord* r = zip->first; r; r = r->next) {
    if (r->Write(r) != 0) return -1;
  }
  if (std::fflush(zip->out) != 0 || std::ferror(zip->out)) return ZZIP_FAIL(zip, "  ZZip: cannot write the archive\n");
  return 0;
}

int ZZip_Show(ZZipArchive* zip, FILE* stream, int level) {
  if (!zip) return 0;
  if (!stream) return -1;
  std::fprintf(stream, "\nZipFile: %s\n", zip->fileName ? zip->fileName : "");
  if (level == 1) std::fputs("  location  comprSz\n", stream);
  for (ZZipRecord* r = zip->first; r; r = r->next) r->Show(r, stream, level);
  return 0;
}

BufUChar* ZZip_Extract(ZZipArchive* zip, const char* name) {
  if (!zip) return nullptr;
  if (!name) {
    extract_to_files(zip, nullptr);
    return nullptr;
  }
  const int failures = zip->state->failed;
  for (ZZipRecord* r = zip->first; r; r = r->next) {
    BufUChar* data = r->Extract(r, name);
    if (data || zip->state->failed != failures) return data;
  }
  return nullptr;
}

int ZZip_ExtractTo(ZZipArchive* zip, const char* name, int (*write)(void* context, const void* data, size_t size),
                   void* context, const char* target) {
  if (!zip || !name || !write) return -1;
  for (ZZipRecord* r = zip->first; r; r = r->next) {
    if (r->signature != ZZIP_SIG_LOCAL_FILE_HDR) continue;
    auto* header = reinterpret_cast<LocalFileHdr*>(r);
    if (!same_name(name, header)) continue;
    struct Relay {
      int (*write)(void*, const void*, size_t);
      void* context;
    } relay{write, context};
    const EntrySink sink = [](void* c, const unsigned char* data, size_t size) {
      auto* to = static_cast<Relay*>(c);
      return to->write(to->context, data, size);
    };
    return stream_entry(header, sink, &relay, target ? target : "the output");
  }
  return 1;
}

int ZZip_Free(ZZipArchive* zip) {
  if (!zip) return 0;
  free_records(zip->first);
  ByteSrc_Close(zip->source);
  SState_Free(zip->state, zip->fileName);
  SState_Free(zip->state, zip->baseName);
  Util_StmClose(zip->out);
  SState_Free(zip->state, zip);
  return 0;
}
