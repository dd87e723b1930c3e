// The kinds of zip records: reading their fields with bounds, writing them back byte for byte,
// showing and freeing them.

#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include "zzip_internal.h"

namespace zzip {

int need(ZZipArchive* zip, uint64_t count) {
  if (!zip->source) return ZZIP_FAIL(zip, "No source for %" PRIu64 " bytes.\n", count);
  const int64_t left = ByteSrc_GetSize(zip->source) - ByteSrc_GetPosition(zip->source);
  if (left < 0 || count > static_cast<uint64_t>(left)) {
    return ZZIP_FAIL(zip, "Unexpected EOF: Expecting %" PRIu64 " bytes\n", count);
  }
  return 0;
}

int read_part(ZZipArchive* zip, uint64_t length, char** part) {
  if (need(zip, length) != 0) return -1;
  auto* block = static_cast<char*>(SState_Calloc(zip->state, static_cast<size_t>(length) + 1, 1));
  if (!block) return SState_Err(zip->state, __FILE__, __LINE__, -1);
  *part = block;
  if (ByteSrc_ReadBlock(zip->source, block, static_cast<size_t>(length)) != length) {
    return ZZIP_FAIL(zip, "Unexpected EOF: Expecting %" PRIu64 " bytes\n", length);
  }
  return 0;
}

void put2(FILE* out, uint32_t value) {
  std::fputc(static_cast<int>(value & 0xFF), out);
  std::fputc(static_cast<int>((value >> 8) & 0xFF), out);
}

void put4(FILE* out, uint32_t value) {
  put2(out, value & 0xFFFF);
  put2(out, value >> 16);
}

void put_bytes(FILE* out, const void* bytes, uint64_t length) {
  if (length) std::fwrite(bytes, 1, static_cast<size_t>(length), out);
}

int zip64_values(const char* extra, uint16_t length, uint64_t* values, int max) {
  const auto* p = reinterpret_cast<const uint8_t*>(extra);
  for (size_t at = 0; extra && at + 4 <= length;) {
    const uint32_t id = p[at] | p[at + 1] << 8;
    const size_t size = p[at + 2] | p[at + 3] << 8;
    at += 4;
    if (size > length - at) break;
    if (id == 0x0001) {
      int n = 0;
      for (; n < max && static_cast<size_t>(n + 1) * 8 <= size; ++n) {
        uint64_t v = 0;
        for (int k = 7; k >= 0; --k) v = v << 8 | p[at + static_cast<size_t>(n) * 8 + static_cast<size_t>(k)];
        values[n] = v;
      }
      return n;
    }
    at += size;
  }
  return 0;
}

BufUChar* load_data(LocalFileHdr* header) {
  ZZipArchive* zip = header->head.archive;
  if (zip->source && ByteSrc_SetPosition(zip->source, header->dataLoc) != 0) {
    ZZIP_FAIL(zip, "Unexpected EOF: Expecting %" PRIu64 " bytes\n", header->dataSize);
    return nullptr;
  }
  if (need(zip, header->dataSize) != 0) return nullptr;
  BufUChar* data = BufUChar_New(zip->state, static_cast<size_t>(header->dataSize));
  if (!data) {
    SState_Err(zip->state, __FILE__, __LINE__, -1);
    return nullptr;
  }
  if (ByteSrc_ReadBlock(zip->source, data->data, data->length) != data->length) {
    BufUChar_Free(data);
    ZZIP_FAIL(zip, "Unexpected EOF: Expecting %" PRIu64 " bytes\n", header->dataSize);
    return nullptr;
  }
  return data;
}

void show_on_state(ZZipRecord* record) {
  SState* state = record->archive->state;
  if (!state || state->level < SSTATE_VER) return;
  char* text = nullptr;
  size_t size = 0;
  FILE* stream = open_memstream(&text, &size);
  if (!stream) return;
  record->Show(record, stream, 2);
  std::fclose(stream);
  // The printers take a line at a time of bounded length.
  for (size_t at = 0; at < size;) {
    const size_t n = size - at < 1024 ? size - at : 1024;
    SState_VerPrintf(state, "%.*s", static_cast<int>(n), text + at);
    at += n;
  }
  std::free(text);
}

}  // namespace zzip

using zzip::need;
using zzip::put2;
using zzip::put4;
using zzip::put_bytes;
using zzip::read_part;

namespace {

template <typename T>
T* as(ZZipRecord* record) {
  return reinterpret_cast<T*>(record);
}

void free_parts(ZZipRecord* record, std::initializer_list<char*> parts) {
  SState* state = record->archive ? record->archive->state : nullptr;
  for (char* p : parts) SState_Free(state, p);
  SState_Free(state, record);
}

unsigned long ul(uint64_t v) { return static_cast<unsigned long>(v); }

// The fields local and central directory headers share, from the version needed to the extra
// field: read, written, and shown at level 2.
template <typename Header>
void read_common(ZZipArchive* zip, Header* h) {
  h->versionNeeded = static_cast<uint16_t>(ZZip_Rd2(zip));
  h->flags = static_cast<uint16_t>(ZZip_Rd2(zip));
  h->compression = static_cast<uint16_t>(ZZip_Rd2(zip));
  h->modTime = static_cast<uint16_t>(ZZip_Rd2(zip));
  h->modDate = static_cast<uint16_t>(ZZip_Rd2(zip));
  h->crc = ZZip_Rd4(zip);
  h->compressedSize = ZZip_Rd4(zip);
  h->uncompressedSize = ZZip_Rd4(zip);
  h->fileNameLen = static_cast<uint16_t>(ZZip_Rd2(zip));
  h->extraFieldLen = static_cast<uint16_t>(ZZip_Rd2(zip));
}

template <typename Header>
void write_common(FILE* out, const Header* h) {
  put2(out, h->versionNeeded);
  put2(out, h->flags);
  put2(out, h->compression);
  put2(out, h->modTime);
  put2(out, h->modDate);
  put4(out, h->crc);
  put4(out, h->compressedSize);
  put4(out, h->uncompressedSize);
  put2(out, h->fileNameLen);
  put2(out, h->extraFieldLen);
}

template <typename Header>
void show_common(FILE* out, const Header* h) {
  const unsigned date = h->modDate, time = h->modTime;
  std::fprintf(out, "    versionNeeded:       %u\n", h->versionNeeded);
  std::fprintf(out, "    flags:               %04x\n", h->flags);
  std::fprintf(out, "    compression:         %u\n", h->compression);
  std::fprintf(out, "    modDateTime:         %4u/%02u/%02u ", (date >> 9) + 1980, (date >> 5) & 15, date & 31);
  std::fprintf(out, "%02u:%02u:%02u\n", time >> 11, (time >> 5) & 63, (time * 2) & 62);
  std::fprintf(out, "    crc:                 %08lx\n", ul(h->crc));
  std::fprintf(out, "    compressedSize       %lu\n", ul(h->compressedSize));
  std::fprintf(out, "    uncompressedSize     %lu\n", ul(h->uncompressedSize));
  std::fprintf(out, "    fileNameLen          %u\n", h->fileNameLen);
  std::fprintf(out, "    fileName             %s\n", h->fileName ? h->fileName : "");
  std::fprintf(out, "    extraFieldLen        %u\n", h->extraFieldLen);
  std::fprintf(out, "    extraField           %s\n", h->extraField ? h->extraField : "");
}

// The sizes in effect: a field holding 0xFFFFFFFF takes the next value of the ZIP64 field.
void apply_zip64(const char* extra, uint16_t extraLen, uint64_t* const* fields, const bool* marked, int count) {
  uint64_t values[4];
  const int found = zzip::zip64_values(extra, extraLen, values, 4);
  for (int i = 0, next = 0; i < count; ++i) {
    if (marked[i] && next < found) *fields[i] = values[next++];
  }
}

}  // namespace

// ---- Local file header ----

int ZZip_LocalFileHdr_Free(ZZipRecord* record) {
  if (!record) return 0;
  auto* h = as<LocalFileHdr>(record);
  BufUChar_Free(h->data);
  free_parts(record, {h->fileName, h->extraField});
  return 0;
}

int ZZip_LocalFileHdr_Show(ZZipRecord* record, FILE* out, int level) {
  auto* h = as<LocalFileHdr>(record);
  if (level == 1) {
    std::fprintf(out, "  %8ld %8ld  %s\n", static_cast<long>(h->dataLoc), static_cast<long>(h->dataSize),
                 h->fileName ? h->fileName : "");
  }
  if (level < 2) return 0;
  std::fprintf(out, "  LocalFileHdr at:       %lu\n", ul(static_cast<uint64_t>(record->at)));
  show_common(out, h);
  std::fprintf(out, "    data loc size        %ld %ld\n", static_cast<long>(h->dataLoc), static_cast<long>(h->dataSize));
  return 0;
}

int ZZip_LocalFileHdr_Read(ZZipRecord* record) {
  auto* h = as<LocalFileHdr>(record);
  ZZipArchive* zip = record->archive;
  if (need(zip, 26) != 0) return -1;
  read_common(zip, h);
  if (read_part(zip, h->fileNameLen, &h->fileName) != 0 || read_part(zip, h->extraFieldLen, &h->extraField) != 0) {
    return -1;
  }
  h->dataLoc = ByteSrc_GetPosition(zip->source);
  h->fullSize = h->uncompressedSize;
  h->dataSize = h->compressedSize;
  uint64_t* const fields[] = {&h->fullSize, &h->dataSize};
  const bool marked[] = {h->uncompressedSize == 0xFFFFFFFFu, h->compressedSize == 0xFFFFFFFFu};
  apply_zip64(h->extraField, h->extraFieldLen, fields, marked, 2);
  return 0;
}

int ZZip_LocalFileHdr_Write(ZZipRecord* record) {
  auto* h = as<LocalFileHdr>(record);
  ZZipArchive* zip = record->archive;
  if (!h->data && !(h->data = zzip::load_data(h))) return -1;
  FILE* out = zip->out;
  put4(out, record->signature);
  write_common(out, h);
  put_bytes(out, h->fileName, h->fileNameLen);
  put_bytes(out, h->extraField, h->extraFieldLen);
  put_bytes(out, h->data->data, h->data->length);
  return 0;
}

// ---- Central directory file header ----

int ZZip_CDirFileHdr_Free(ZZipRecord* record) {
  if (!record) return 0;
  auto* h = as<CDirFileHdr>(record);
  free_parts(record, {h->fileName, h->extraField, h->comment});
  return 0;
}

int ZZip_CDirFileHdr_Show(ZZipRecord* record, FILE* out, int level) {
  if (level < 2) return 0;
  auto* h = as<CDirFileHdr>(record);
  std::fprintf(out, "  CDirFileHdr at:        %lu\n", ul(static_cast<uint64_t>(record->at)));
  std::fprintf(out, "    versionMadeBy:       %u %u\n", h->versionMadeBy >> 8u, h->versionMadeBy & 0xFFu);
  show_common(out, h);
  std::fprintf(out, "    commentLen           %u\n", h->commentLen);
  std::fprintf(out, "    comment              %s\n", h->comment ? h->comment : "");
  std::fprintf(out, "    cDirStartDisk:       %u\n", h->cDirStartDisk);
  std::fprintf(out, "    intFileAttr:         %u\n", h->intFileAttr);
  std::fprintf(out, "    extFileAttr:         %08lx\n", ul(h->extFileAttr));
  std::fprintf(out, "    LocalHdrOffset:      %lu\n", ul(h->localHdrOffset));
  return 0;
}

int ZZip_CDirFileHdr_Read(ZZipRecord* record) {
  auto* h = as<CDirFileHdr>(record);
  ZZipArchive* zip = record->archive;
  if (need(zip, 42) != 0) return -1;
  h->versionMadeBy = static_cast<uint16_t>(ZZip_Rd2(zip));
  read_common(zip, h);
  h->commentLen = static_cast<uint16_t>(ZZip_Rd2(zip));
  h->cDirStartDisk = static_cast<uint16_t>(ZZip_Rd2(zip));
  h->intFileAttr = static_cast<uint16_t>(ZZip_Rd2(zip));
  h->extFileAttr = ZZip_Rd4(zip);
  h->localHdrOffset = ZZip_Rd4(zip);
  if (read_part(zip, h->fileNameLen, &h->fileName) != 0 || read_part(zip, h->extraFieldLen, &h->extraField) != 0 ||
      read_part(zip, h->commentLen, &h->comment) != 0) {
    return -1;
  }
  h->fullSize = h->uncompressedSize;
  h->dataSize = h->compressedSize;
  h->localHdrPos = h->localHdrOffset;
  uint64_t disk = h->cDirStartDisk;
  uint64_t* const fields[] = {&h->fullSize, &h->dataSize, &h->localHdrPos, &disk};
  const bool marked[] = {h->uncompressedSize == 0xFFFFFFFFu, h->compressedSize == 0xFFFFFFFFu,
                         h->localHdrOffset == 0xFFFFFFFFu, h->cDirStartDisk == 0xFFFFu};
  apply_zip64(h->extraField, h->extraFieldLen, fields, marked, 4);
  return 0;
}

int ZZip_CDirFileHdr_Write(ZZipRecord* record) {
  auto* h = as<CDirFileHdr>(record);
  FILE* out = record->archive->out;
  put4(out, record->signature);
  put2(out, h->versionMadeBy);
  write_common(out, h);
  put2(out, h->commentLen);
  put2(out, h->cDirStartDisk);
  put2(out, h->intFileAttr);
  put4(out, h->extFileAttr);
  put4(out, h->localHdrOffset);
  put_bytes(out, h->fileName, h->fileNameLen);
  put_bytes(out, h->extraField, h->extraFieldLen);
  put_bytes(out, h->comment, h->commentLen);
  return 0;
}

// ---- End of central directory record ----

int ZZip_CDirEndRec_Free(ZZipRecord* record) {
  if (!record) return 0;
  free_parts(record, {as<CDirEndRec>(record)->comment});
  return 0;
}

int ZZip_CDirEndRec_Show(ZZipRecord* record, FILE* out, int level) {
  if (level < 2) return 0;
  auto* h = as<CDirEndRec>(record);
  std::fprintf(out, "  CDirEndRec at:         %lu\n", ul(static_cast<uint64_t>(record->at)));
  std::fprintf(out, "    diskNumber:          %u\n", h->diskNumber);
  std::fprintf(out, "    cDirStartDisk:       %u\n", h->cDirStartDisk);
  std::fprintf(out, "    cDirEntriesThisDisk: %u\n", h->cDirEntriesThisDisk);
  std::fprintf(out, "    cDirEntriesTotal:    %u\n", h->cDirEntriesTotal);
  std::fprintf(out, "    cDirSize:            %lu\n", ul(h->cDirSize));
  std::fprintf(out, "    cDirStartOffset:     %lu\n", ul(h->cDirStartOffset));
  std::fprintf(out, "    commentLen:          %u\n", h->commentLen);
  std::fprintf(out, "    comment:             %s\n", h->comment ? h->comment : "");
  return 0;
}

int ZZip_CDirEndRec_Read(ZZipRecord* record) {
  auto* h = as<CDirEndRec>(record);
  ZZipArchive* zip = record->archive;
  if (need(zip, 18) != 0) return -1;
  h->diskNumber = static_cast<uint16_t>(ZZip_Rd2(zip));
  h->cDirStartDisk = static_cast<uint16_t>(ZZip_Rd2(zip));
  h->cDirEntriesThisDisk = static_cast<uint16_t>(ZZip_Rd2(zip));
  h->cDirEntriesTotal = static_cast<uint16_t>(ZZip_Rd2(zip));
  h->cDirSize = ZZip_Rd4(zip);
  h->cDirStartOffset = ZZip_Rd4(zip);
  h->commentLen = static_cast<uint16_t>(ZZip_Rd2(zip));
  return read_part(zip, h->commentLen, &h->comment);
}

int ZZip_CDirEndRec_Write(ZZipRecord* record) {
  auto* h = as<CDirEndRec>(record);
  FILE* out = record->archive->out;
  put4(out, record->signature);
  put2(out, h->diskNumber);
  put2(out, h->cDirStartDisk);
  put2(out, h->cDirEntriesThisDisk);
  put2(out, h->cDirEntriesTotal);
  put4(out, h->cDirSize);
  put4(out, h->cDirStartOffset);
  put2(out, h->commentLen);
  put_bytes(out, h->comment, h->commentLen);
  return 0;
}

// ---- ZIP64 end of central directory record ----

int ZZip_CDirEndRec64_Free(ZZipRecord* record) {
  if (!record) return 0;
  free_parts(record, {as<CDirEndRec64>(record)->extensibleData});
  return 0;
}

int ZZip_CDirEndRec64_Show(ZZipRecord* record, FILE* out, int level) {
  if (level < 2) return 0;
  auto* h = as<CDirEndRec64>(record);
  std::fprintf(out, "  CDirEndRec64 at:       %lu\n", ul(static_cast<uint64_t>(record->at)));
  std::fprintf(out, "    size:                %1.0f\n", h->size);
  std::fprintf(out, "    versionMadeBy:       %u %u\n", h->versionMadeBy >> 8u, h->versionMadeBy & 0xFFu);
  std::fprintf(out, "    versionNeeded:       %u\n", h->versionNeeded);
  std::fprintf(out, "    diskNumber:          %lu\n", ul(h->diskNumber));
  std::fprintf(out, "    cDirStartDisk:       %lu\n", ul(h->cDirStartDisk));
  std::fprintf(out, "    cDirEntriesThisDisk: %1.0f\n", h->cDirEntriesThisDisk);
  std::fprintf(out, "    cDirEntriesTotal:    %1.0f\n", h->cDirEntriesTotal);
  std::fprintf(out, "    cDirSize:            %1.0f\n", h->cDirSize);
  std::fprintf(out, "    cDirStartOffset:     %1.0f\n", h->cDirStartOffset);
  std::fprintf(out, "    extensibleDataSz:    %lu\n", ul(h->extensibleDataSz));
  return 0;
}

int ZZip_CDirEndRec64_Read(ZZipRecord* record) {
  auto* h = as<CDirEndRec64>(record);
  ZZipArchive* zip = record->archive;
  if (need(zip, 52) != 0) return -1;
  h->size = ZZip_Rd8(zip);
  h->versionMadeBy = static_cast<uint16_t>(ZZip_Rd2(zip));
  h->versionNeeded = static_cast<uint16_t>(ZZip_Rd2(zip));
  h->diskNumber = ZZip_Rd4(zip);
  h->cDirStartDisk = ZZip_Rd4(zip);
  h->cDirEntriesThisDisk = ZZip_Rd8(zip);
  h->cDirEntriesTotal = ZZip_Rd8(zip);
  h->cDirSize = ZZip_Rd8(zip);
  h->cDirStartOffset = ZZip_Rd8(zip);
  // The size counts the record after its own field; 44 bytes of it are the fixed fields.
  const double extensible = h->size - 44;
  if (extensible > 0) {
    const double left = static_cast<double>(ByteSrc_GetSize(zip->source) - ByteSrc_GetPosition(zip->source));
    if (extensible > left) return ZZIP_FAIL(zip, "Unexpected EOF: Expecting %1.0f bytes\n", extensible);
    h->extensibleDataSz = static_cast<uint64_t>(extensible);
    return read_part(zip, h->extensibleDataSz, &h->extensibleData);
  }
  return 0;
}

int ZZip_CDirEndRec64_Write(ZZipRecord* record) {
  auto* h = as<CDirEndRec64>(record);
  ZZipArchive* zip = record->archive;
  FILE* out = zip->out;
  put4(out, record->signature);
  ZZip_Wt8(zip, h->size);
  put2(out, h->versionMadeBy);
  put2(out, h->versionNeeded);
  put4(out, h->diskNumber);
  put4(out, h->cDirStartDisk);
  ZZip_Wt8(zip, h->cDirEntriesThisDisk);
  ZZip_Wt8(zip, h->cDirEntriesTotal);
  ZZip_Wt8(zip, h->cDirSize);
  ZZip_Wt8(zip, h->cDirStartOffset);
  put_bytes(out, h->extensibleData, h->extensibleDataSz);
  return 0;
}

// ---- ZIP64 end of central directory locator ----

int ZZip_CDirEndLoc64_Free(ZZipRecord* record) {
  if (!record) return 0;
  free_parts(record, {});
  return 0;
}

int ZZip_CDirEndLoc64_Show(ZZipRecord* record, FILE* out, int level) {
  if (level < 2) return 0;
  auto* h = as<CDirEndLoc64>(record);
  std::fprintf(out, "  CDirEndLoc64 at:       %lu\n", ul(static_cast<uint64_t>(record->at)));
  std::fprintf(out, "    cDirEndRec64Disk:    %lu\n", ul(h->cDirEndRec64Disk));
  std::fprintf(out, "    cDirEndRec64Offset:  %1.0f\n", h->cDirEndRec64Offset);
  std::fprintf(out, "    disksTotal:          %lu\n", ul(h->disksTotal));
  return 0;
}

int ZZip_CDirEndLoc64_Read(ZZipRecord* record) {
  auto* h = as<CDirEndLoc64>(record);
  ZZipArchive* zip = record->archive;
  if (need(zip, 16) != 0) return -1;
  h->cDirEndRec64Disk = ZZip_Rd4(zip);
  h->cDirEndRec64Offset = ZZip_Rd8(zip);
  h->disksTotal = ZZip_Rd4(zip);
  return 0;
}

int ZZip_CDirEndLoc64_Write(ZZipRecord* record) {
  auto* h = as<CDirEndLoc64>(record);
  ZZipArchive* zip = record->archive;
  put4(zip->out, record->signature);
  put4(zip->out, h->cDirEndRec64Disk);
  ZZip_Wt8(zip, h->cDirEndRec64Offset);
  put4(zip->out, h->disksTotal);
  return 0;
}

// ---- Archive extra data record ----

int ZZip_ArchExtraData_Free(ZZipRecord* record) {
  if (!record) return 0;
  free_parts(record, {as<ArchExtraData>(record)->extraField});
  return 0;
}

int ZZip_ArchExtraData_Show(ZZipRecord* record, FILE* out, int level) {
  if (level < 2) return 0;
  std::fprintf(out, "  ArchExtraData at:      %lu\n", ul(static_cast<uint64_t>(record->at)));
  std::fprintf(out, "    extraFieldLen:       %lu\n", ul(as<ArchExtraData>(record)->extraFieldLen));
  return 0;
}

int ZZip_ArchExtraData_Read(ZZipRecord* record) {
  auto* h = as<ArchExtraData>(record);
  ZZipArchive* zip = record->archive;
  if (need(zip, 4) != 0) return -1;
  h->extraFieldLen = ZZip_Rd4(zip);
  return read_part(zip, h->extraFieldLen, &h->extraField);
}

int ZZip_ArchExtraData_Write(ZZipRecord* record) {
  auto* h = as<ArchExtraData>(record);
  FILE* out = record->archive->out;
  put4(out, record->signature);
  put4(out, h->extraFieldLen);
  put_bytes(out, h->extraField, h->extraFieldLen);
  return 0;
}

// ---- Digital signature ----

int ZZip_DigitalSig_Free(ZZipRecord* record) {
  if (!record) return 0;
  free_parts(record, {as<DigitalSig>(record)->data});
  return 0;
}

int ZZip_DigitalSig_Show(ZZipRecord* record, FILE* out, int level) {
  if (level < 2) return 0;
  std::fprintf(out, "  DigitalSig at:         %lu\n", ul(static_cast<uint64_t>(record->at)));
  std::fprintf(out, "    size:                %u\n", as<DigitalSig>(record)->size);
  return 0;
}

int ZZip_DigitalSig_Read(ZZipRecord* record) {
  auto* h = as<DigitalSig>(record);
  ZZipArchive* zip = record->archive;
  if (need(zip, 2) != 0) return -1;
  h->size = static_cast<uint16_t>(ZZip_Rd2(zip));
  return read_part(zip, h->size, &h->data);
}

int ZZip_DigitalSig_Write(ZZipRecord* record) {
  auto* h = as<DigitalSig>(record);
  FILE* out = record->archive->out;
  put4(out, record->signature);
  put2(out, h->size);
  put_bytes(out, h->data, h->size);
  return 0;
}

BufUChar* ZZip_Default_Extract(ZZipRecord*, const char*) { return nullptr; }

// ---- Values ----

namespace {

// Reads count little-endian bytes; 0 after the error exit.
uint64_t read_le(ZZipArchive* zip, int count) {
  if (!zip || need(zip, static_cast<uint64_t>(count)) != 0) return 0;
  uint8_t bytes[8];
  if (ByteSrc_ReadBlock(zip->source, bytes, static_cast<size_t>(count)) != static_cast<size_t>(count)) {
    ZZIP_FAIL(zip, "Unexpected EOF: Expecting %d bytes\n", count);
    return 0;
  }
  uint64_t v = 0;
  for (int k = count - 1; k >= 0; --k) v = v << 8 | bytes[k];
  return v;
}

}  // namespace

uint32_t ZZip_Rd2(ZZipArchive* zip) { return static_cast<uint32_t>(read_le(zip, 2)); }

uint32_t ZZip_Rd4(ZZipArchive* zip) { return static_cast<uint32_t>(read_le(zip, 4)); }

double ZZip_Rd8(ZZipArchive* zip) {
  const uint64_t v = read_le(zip, 8);
  return static_cast<double>(static_cast<uint32_t>(v)) + static_cast<double>(static_cast<uint32_t>(v >> 32)) * 4294967296.0;
}

int ZZip_Wt8(ZZipArchive* zip, double value) {
  if (!zip || !zip->out) return -1;
  // Whole numbers from 0 up to the largest eight-byte value; anything else is clamped there.
  const uint64_t v = !(value > 0) ? 0 : value >= 18446744073709551616.0 ? UINT64_MAX : static_cast<uint64_t>(value);
  put4(zip->out, static_cast<uint32_t>(v));
  put4(zip->out, static_cast<uint32_t>(v >> 32));
  return 0;
}

// ---- The kinds ----

namespace {

struct Kind {
  uint32_t signature;
  size_t size;
  int (*Free)(ZZipRecord*);
  int (*Show)(ZZipRecord*, FILE*, int);
  int (*Read)(ZZipRecord*);
  int (*Write)(ZZipRecord*);
  BufUChar* (*Extract)(ZZipRecord*, const char*);
};

#define ZZIP_KIND(sig, type, extract) \
  {sig, sizeof(type), ZZip_##type##_Free, ZZip_##type##_Show, ZZip_##type##_Read, ZZip_##type##_Write, extract}

constexpr Kind kinds[] = {
    ZZIP_KIND(ZZIP_SIG_LOCAL_FILE_HDR, LocalFileHdr, ZZip_LocalFileHdr_Extract),
    ZZIP_KIND(ZZIP_SIG_CDIR_FILE_HDR, CDirFileHdr, ZZip_Default_Extract),
    ZZIP_KIND(ZZIP_SIG_CDIR_END_REC, CDirEndRec, ZZip_Default_Extract),
    ZZIP_KIND(ZZIP_SIG_CDIR_END_REC64, CDirEndRec64, ZZip_Default_Extract),
    ZZIP_KIND(ZZIP_SIG_CDIR_END_LOC64, CDirEndLoc64, ZZip_Default_Extract),
    ZZIP_KIND(ZZIP_SIG_ARCH_EXTRA_DATA, ArchExtraData, ZZip_Default_Extract),
    ZZIP_KIND(ZZIP_SIG_DIGITAL_SIG, DigitalSig, ZZip_Default_Extract),
};

#undef ZZIP_KIND

}  // namespace

ZZipRecord* zzip::make_record(ZZipArchive* zip, uint32_t signature, int64_t at) {
  for (const Kind& k : kinds) {
    if (k.signature != signature) continue;
    auto* r = static_cast<ZZipRecord*>(SState_Calloc(zip->state, 1, k.size));
    if (!r) {
      SState_Err(zip->state, __FILE__, __LINE__, -1);
      return nullptr;
    }
    *r = ZZipRecord{zip, at, signature, k.Free, k.Show, k.Read, k.Write, k.Extract, nullptr};
    return r;
  }
  ZZIP_FAIL(zip, "  Unknown signature: %08x\n", signature);
  return nullptr;
}
