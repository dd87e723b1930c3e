// Zip archives as lists of records: reading them by walking the file or through the central
// directory, writing them back, showing them, and extracting entries to memory or to files.

#include <cinttypes>
#include <climits>
#include <cstdio>
#include <cstring>

#include "byteorder.h"
#include "dio.h"
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

uint32_t crc_of(const unsigned char* bytes, size_t length) {
  uint32_t reg = 0xFFFFFFFFu;
  while (length) {
    const size_t n = length < (1u << 30) ? length : (1u << 30);
    reg = __DIO_calculateChecksum(reg, bytes, static_cast<int32_t>(n));
    bytes += n;
    length -= n;
  }
  return ~reg;
}

// The entry's bytes, inflated and checked against its size and CRC; null after the error exit.
BufUChar* entry_data(LocalFileHdr* header) {
  ZZipArchive* zip = header->head.archive;
  if (header->flags & 1u) {
    ZZIP_FAIL(zip, "  ZZip: %s is encrypted\n", header->fileName);
    return nullptr;
  }
  if (header->compression != 0 && header->compression != 8) {
    ZZIP_FAIL(zip, "Unkown compression: %d\n", header->compression);
    return nullptr;
  }
  BufUChar* data = zzip::load_data(header);
  if (data && header->compression == 8) {
    BufUChar* inflated = header->fullSize <= SIZE_MAX ? BufUCharZ_InflateZip(data, static_cast<size_t>(header->fullSize)) : nullptr;
    BufUChar_Free(data);
    data = inflated;
    if (!data) ZZIP_FAIL(zip, "  ZZip: cannot inflate %s\n", header->fileName);
  }
  if (!data) return nullptr;
  if (data->length != header->fullSize) {
    ZZIP_FAIL(zip, "  ZZip: %s holds %zu bytes, not %" PRIu64 "\n", header->fileName, data->length, header->fullSize);
  } else if (const uint32_t crc = crc_of(data->data, data->length); crc != header->crc) {
    ZZIP_FAIL(zip, "  ZZip: CRC of %s is %08" PRIx32 ", not %08" PRIx32 "\n", header->fileName, crc, header->crc);
  } else {
    return data;
  }
  BufUChar_Free(data);
  return nullptr;
}

// Makes every directory along path (each prefix ending before a '/'); 0 or -1.
int make_directories(ZZipArchive* zip, char* path) {
  for (char* p = path + 1; *p; ++p) {
    if (*p != '/' || p[-1] == '/') continue;
    *p = '\0';
    const int made = Dir_Ensure(zip->state, path);
    *p = '/';
    if (made != 0) return ZZIP_FAIL(zip, "Failed to build full path:%s\n", path);
  }
  return 0;
}

// Writes an entry (its data, or a directory) under the base name; 0 or -1.
int extract_to_file(ZZipArchive* zip, LocalFileHdr* header) {
  SState* state = zip->state;
  if (!stays_inside(header->fileName, header->fileNameLen)) {
    return ZZIP_FAIL(zip, "  ZZip: refusing %s, which leads outside %s\n", header->fileName,
                     zip->baseName ? zip->baseName : ".");
  }
  char* path = zip->baseName ? SState_StrsDup(state, zip->baseName, "/", header->fileName, nullptr)
                             : SState_StrDup(state, header->fileName);
  if (!path) return SState_Err(state, __FILE__, __LINE__, -1);
  int status = make_directories(zip, path);
  const bool directory = header->fileName[header->fileNameLen - 1] == '/';
  if (status == 0 && !directory) {
    BufUChar* data = entry_data(header);
    FILE* file = data ? SState_OpenOut(state, path) : nullptr;
    if (!data) {
      status = -1;
    } else if (!file) {
      status = SState_Err(state, __FILE__, __LINE__, -1);
    } else {
      const int wrote = BufUChar_WriteStm(data, file);
      if (Util_StmClose(file) != 0 || wrote != 0) status = ZZIP_FAIL(zip, "  ZZip: cannot write %s\n", path);
    }
    BufUChar_Free(data);
  }
  SState_Free(state, path);
  return status;
}

}  // namespace

BufUChar* ZZip_LocalFileHdr_Extract(ZZipRecord* record, const char* name) {
  auto* header = as<LocalFileHdr>(record);
  if (name) return same_name(name, header) ? entry_data(header) : nullptr;
  extract_to_file(record->archive, header);
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
  const int failures = zip->state->failed;
  for (ZZipRecord* r = zip->first; r; r = r->next) {
    BufUChar* data = r->Extract(r, name);
    if (data || zip->state->failed != failures) return data;
  }
  return nullptr;
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
