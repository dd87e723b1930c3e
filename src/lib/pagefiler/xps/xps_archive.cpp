// XPS archive access: part naming, piece joining and the OPC conventions over the engine's zip
// reader.

#include "xps_archive.h"

#include <libxml/xmlmemory.h>

#include <cstdio>
#include <cstring>

#include "kvng.h"
#include "kvng_format.h"
#include "kvng_hdr.h"
#include "kvng_print.h"
#include "xps_image.h"
#include "xps_names.h"

namespace {

char* copy_string(const char* text) {
  const size_t n = std::strlen(text) + 1;
  auto* copy = static_cast<char*>(kvng_internal_calloc(n, 1));
  if (copy) std::memcpy(copy, text, n);
  return copy;
}

// A growing list of entries, as the pieces of one part.
struct EntryList {
  KVngZipEntry** items;
  int32_t count;
  int32_t capacity;
};

int list_add(EntryList* list, KVngZipEntry* entry) {
  constexpr char kName[] = "__XPSGetEntriesForPart";
  if (!list->items) {
    list->items = static_cast<KVngZipEntry**>(kvng_internal_calloc(16, sizeof(KVngZipEntry*)));
    if (!list->items) {
      KVngError("%s: Cannot create zip entry array\n", kName);
      return 0;
    }
    list->capacity = 16;
  }
  if (list->count >= list->capacity - 2) {
    auto* grown = static_cast<KVngZipEntry**>(kvng_internal_calloc(list->capacity + 16, sizeof(KVngZipEntry*)));
    if (!grown) {
      KVngError("%s: Cannot grow zip entry array\n", kName);
      return 0;
    }
    std::memcpy(grown, list->items, sizeof(KVngZipEntry*) * list->count);
    kvng_internal_free(list->items);
    list->items = grown;
    list->capacity += 16;
  }
  list->items[list->count++] = entry;
  return 1;
}

// Visits every entry name in directory order until visit returns false. 1; count_failure when
// the directory has no count; -1 when an entry or its name cannot be read.
template <typename Visit>
int for_each_entry(KVngZip* zip, const char* reporter, int count_failure, Visit visit) {
  const int32_t count = KVngZipGetEntryCount(zip);
  if (count == -1) {
    KVngError("%s: Cannot get zip entry count\n", reporter);
    return count_failure;
  }
  for (int32_t i = 0; i < count; ++i) {
    KVngZipEntry* entry = nullptr;
    if (KVngZipGetEntry(zip, i, &entry) != 1) {
      KVngError("%s: Cannot get zip entry #%d\n", reporter, i);
      return -1;
    }
    const char* name = KVngZipEntryGetFileName(entry);
    if (!name) {
      KVngError("%s: Cannot get filename for zip entry #%d\n", reporter, i);
      return -1;
    }
    if (!visit(entry, name)) break;
  }
  return 1;
}

// Entries that are pieces of the part: named by the part name, '/', then anything. Only a
// prefix counts; a name that merely contains the part's name elsewhere belongs to another part.
int count_pieces(KVngZip* zip, const char* entryName, int32_t* pieces) {
  *pieces = 0;
  const size_t length = std::strlen(entryName);
  return for_each_entry(zip, "__XPSGetEntryCountForDir", -1, [&](KVngZipEntry*, const char* name) {
    if (XPSPartNameHasPrefix(name, entryName) && name[length] == '/') ++*pieces;
    return true;
  });
}

// The entries that make the part, in piece order.
int entries_for_part(XPSArchive* archive, const char* entryName, EntryList* list) {
  constexpr char kName[] = "__XPSGetEntriesForPart";
  KVngZipEntry* whole = nullptr;
  int status = __XPSGetEntryForFile(archive->zip, entryName, &whole);
  if (status != 1) return status;
  if (whole) return list_add(list, whole);
  int32_t pieces = 0;
  if ((status = count_pieces(archive->zip, entryName, &pieces)) != 1) return status;
  const size_t size = std::strlen(entryName) + 64;
  auto* name = static_cast<char*>(kvng_internal_calloc(size, 1));
  if (!name) {
    KVngError("%s: Cannot create piece name\n", kName);
    return 0;
  }
  status = 1;
  bool ended = false;
  for (int32_t i = 0; i < pieces && status == 1 && !ended; ++i) {
    KVngZipEntry* piece = nullptr;
    std::snprintf(name, size, "%s/[%d].piece", entryName, i);
    status = __XPSGetEntryForFile(archive->zip, name, &piece);
    if (status == 1 && !piece) {
      std::snprintf(name, size, "%s/[%d].last.piece", entryName, i);
      status = __XPSGetEntryForFile(archive->zip, name, &piece);
      ended = piece != nullptr;
    }
    if (status != 1) break;
    if (!piece) {
      KVngError("%s: Missing piece #%d for part '%s'\n", kName, i, entryName);
      status = -1;
      break;
    }
    status = list_add(list, piece);
  }
  // Pieces stop at the last piece; a part whose pieces never reach one is incomplete.
  if (status == 1 && pieces > 0 && !ended) {
    KVngError("%s: Missing last piece for part '%s'\n", kName, entryName);
    status = -1;
  }
  kvng_internal_free(name);
  return status;
}

int make_xml_reader(XPSArchive* archive, const char* partName, int required, QELXmlReader** reader,
                    const char* caller) {
  *reader = nullptr;
  char* entryName = nullptr;
  int status = XPSPartNameToEntryName(partName, caller, &entryName);
  if (status != 1) return status;
  EntryList list{};
  status = entries_for_part(archive, entryName, &list);
  if (status == 1 && list.count == 0 && required) {
    KVngError("%s: Missing part '%s'\n", "XPSArchiveMakeXMLReader", partName);
    status = -1;
  }
  int64_t total = 0;
  for (int32_t i = 0; status == 1 && i < list.count; ++i) {
    int64_t size = 0;
    KVngZipEntryGetFileSize(list.items[i], &size);
    total += size;
    if (total > XPS_MAX_PART_BYTES) {
      KVngError("%s: Part '%s' is larger than %lld bytes\n", caller, partName,
                static_cast<long long>(XPS_MAX_PART_BYTES));
      status = -1;
    }
  }
  if (status == 1 && list.count > 0) {
    KVngSB* sb = KVngSBInit(1, 4096);
    KVngIO* io = sb ? KVngIO_SB(sb) : nullptr;
    if (!io) status = 0;
    for (int32_t i = 0; status == 1 && i < list.count; ++i) status = KVngZipExtractIO(archive->zip, list.items[i], io);
    if (io) io->release(io);
    if (status == 1 && !(*reader = QELXmlReaderAlloc(sb))) {
      KVngError("%s: Cannot create QELXmlReader\n", caller);
      status = 0;
    }
    if (status != 1) KVngSBFree(sb);
  }
  kvng_internal_free(list.items);
  kvng_internal_free(entryName);
  return status;
}

int open_archive(KVngIO* stream, const char* fileName, const char* mode, int skipDirectory, XPSArchive** out) {
  constexpr char kName[] = "__XPSOpen";
  if (out) *out = nullptr;
  if (!stream && !fileName) {
    KVngError("%s: Missing XPS data source\n", kName);
    return -1;
  }
  if (!mode) {
    KVngError("%s: Missing access mode\n", kName);
    return -1;
  }
  if (!out) return -1;
  if (mode[0] != 'r' && mode[0] != 'w') {
    KVngError("%s: Invalid access mode %s\n", kName, mode);
    return 0;
  }
  auto* archive = static_cast<XPSArchive*>(kvng_internal_calloc(1, sizeof(XPSArchive)));
  if (!archive) {
    KVngError("%s: Cannot create XPSArchive object\n", kName);
    return 0;
  }
  archive->references = 1;
  archive->writing = mode[0] == 'w';
  if (fileName && !(archive->fileName = copy_string(fileName))) {
    XPSArchiveClose(archive);
    return 0;
  }
  archive->stream = stream;
  if (!stream) {
    archive->stream = KVngIO_FileName(fileName, archive->writing ? "wb" : "rb");
    if (!archive->stream) {
      KVngError("%s: Cannot open '%s'\n", kName, fileName);
      XPSArchiveClose(archive);
      return 0;
    }
    archive->ownsStream = 1;
  }
  int status = KVngZipOpen(&archive->zip, archive->stream, 0, mode);
  if (status != 1) {
    KVngError("%s: Cannot open IO stream\n", kName);
    XPSArchiveClose(archive);
    return status;
  }
  if (!skipDirectory && !archive->writing && (status = KVngZipReadCentralDirectory(archive->zip)) != 1) {
    KVngError("%s: Cannot read central directory from IO stream\n", kName);
    XPSArchiveClose(archive);
    return status;
  }
  *out = archive;
  return 1;
}

bool is_name(const xmlChar* name, const char* expected) {
  return name && std::strcmp(reinterpret_cast<const char*>(name), expected) == 0;
}

}  // namespace

extern "C" {

int XPSPartNameToEntryName(const char* partName, const char* caller, char** entryName) {
  *entryName = nullptr;
  if (!partName) return -1;
  // Names from a package are URIs inside it: no scheme, drive, network path or backslash.
  const char* colon = std::strchr(partName, ':');
  const char* slash = std::strchr(partName, '/');
  if ((colon && (!slash || colon < slash)) || std::strchr(partName, '\\') || std::strncmp(partName, "//", 2) == 0) {
    KVngError("%s: Part name '%s' is not inside the package\n", caller, partName);
    return -1;
  }
  const size_t length = std::strlen(partName);
  auto* out = static_cast<char*>(kvng_internal_calloc(length + 2, 1));
  if (!out) return 0;
  size_t used = 0;
  const char* at = partName[0] == '/' ? partName + 1 : partName;
  while (*at) {
    const char* end = std::strchr(at, '/');
    const size_t n = end ? static_cast<size_t>(end - at) : std::strlen(at);
    if (n == 1 && at[0] == '.') {
      // A "." segment names the folder itself.
    } else if (n == 2 && at[0] == '.' && at[1] == '.') {
      if (used == 0) {
        KVngError("%s: Part name '%s' is not inside the package\n", caller, partName);
        kvng_internal_free(out);
        return -1;
      }
      while (used > 0 && out[used - 1] != '/') --used;
      if (used > 0) --used;  // the separator before the dropped segment
    } else if (n == 0 && end) {
      KVngError("%s: Part name '%s' has an empty segment\n", caller, partName);
      kvng_internal_free(out);
      return -1;
    } else {
      if (used > 0) out[used++] = '/';
      std::memcpy(out + used, at, n);
      used += n;
    }
    at += n;
    if (*at == '/') ++at;
  }
  out[used] = '\0';
  *entryName = out;
  return 1;
}

int XPSResolvePartName(const char* referringPart, const char* reference, const char* caller, char** partName) {
  *partName = nullptr;
  if (!reference || !reference[0]) {
    KVngError("%s: Empty part reference\n", caller);
    return -1;
  }
  const char* base = "";
  size_t base_length = 0;
  if (reference[0] != '/') {
    const char* last = referringPart ? std::strrchr(referringPart, '/') : nullptr;
    if (!last) {
      KVngError("%s: Cannot resolve '%s' against part name '%s'\n", caller, reference,
                referringPart ? referringPart : "");
      return -1;
    }
    base = referringPart;
    base_length = static_cast<size_t>(last - referringPart) + 1;
  }
  const size_t length = base_length + std::strlen(reference);
  auto* joined = static_cast<char*>(kvng_internal_calloc(length + 1, 1));
  if (!joined) {
    KVngError("%s: Cannot create string for expanded URI\n", caller);
    return 0;
  }
  std::memcpy(joined, base, base_length);
  std::strcat(joined, reference);
  char* entry = nullptr;
  const int status = XPSPartNameToEntryName(joined, caller, &entry);
  kvng_internal_free(joined);
  if (status != 1) return status;
  auto* absolute = static_cast<char*>(kvng_internal_calloc(std::strlen(entry) + 2, 1));
  if (absolute) {
    absolute[0] = '/';
    std::strcpy(absolute + 1, entry);
  }
  kvng_internal_free(entry);
  if (!absolute) {
    KVngError("%s: Cannot create string for expanded URI\n", caller);
    return 0;
  }
  *partName = absolute;
  return 1;
}

int XPSArchiveOpenFile(const char* fileName, const char* mode, int skipDirectory, XPSArchive** archive) {
  return open_archive(nullptr, fileName, mode, skipDirectory, archive);
}

int XPSArchiveOpen(KVngIO* stream, const char* mode, int skipDirectory, XPSArchive** archive) {
  return open_archive(stream, nullptr, mode, skipDirectory, archive);
}

void XPSArchiveRetain(XPSArchive* archive) {
  if (archive) ++archive->references;
}

void XPSArchiveClose(XPSArchive* archive) {
  if (!archive || --archive->references > 0) return;
  if (archive->formats) archive->formats->release(archive->formats);
  KVngZipClose(archive->zip, 0);
  if (archive->ownsStream && archive->stream) archive->stream->release(archive->stream);
  kvng_internal_free(archive->fileName);
  kvng_internal_free(archive);
}

const char* XPSArchiveGetFileName(const XPSArchive* archive) { return archive ? archive->fileName : nullptr; }

int __XPSGetEntryForFile(KVngZip* zip, const char* entryName, KVngZipEntry** entry) {
  *entry = nullptr;
  return for_each_entry(zip, "__XPSGetEntryForFile", 0, [&](KVngZipEntry* e, const char* name) {
    if (!XPSPartNamesEqual(name, entryName)) return true;
    *entry = e;
    return false;
  });
}

int XPSArchiveLoadResource(XPSArchive* archive, const char* partName, unsigned char** buffer, int64_t* size) {
  constexpr char kName[] = "XPSArchiveLoadResource";
  if (!partName) {
    KVngError("%s: Missing resource filename\n", kName);
    return -1;
  }
  if (!archive || !buffer || !size) return -1;
  *buffer = nullptr;
  *size = 0;
  char* entryName = nullptr;
  int status = XPSPartNameToEntryName(partName, kName, &entryName);
  if (status != 1) return status;
  KVngZipEntry* entry = nullptr;
  status = __XPSGetEntryForFile(archive->zip, entryName, &entry);
  kvng_internal_free(entryName);
  if (status != 1) return status;
  if (!entry) {
    KVngError("%s: Missing part '%s'\n", kName, partName);
    return -1;
  }
  int64_t bytes = 0;
  KVngZipEntryGetFileSize(entry, &bytes);
  // The whole 64-bit size is checked: a size cut to 32 bits would make a small buffer for a
  // large entry.
  if (bytes < 0 || bytes > XPS_MAX_PART_BYTES) {
    KVngError("%s: Part '%s' of %lld bytes is larger than %lld\n", kName, partName, static_cast<long long>(bytes),
              static_cast<long long>(XPS_MAX_PART_BYTES));
    return -1;
  }
  auto* data = static_cast<unsigned char*>(kvng_internal_calloc(static_cast<size_t>(bytes) + 1, 1));
  if (!data) {
    KVngError("%s: Cannot create input buffer for resource\n", kName);
    return 0;
  }
  KVngIO* io = KVngIO_Buffer(data, bytes);
  if (!io) {
    KVngError("%s: Cannot create IO stream for resource buffer\n", kName);
    kvng_internal_free(data);
    return 0;
  }
  status = KVngZipExtractIO(archive->zip, entry, io);
  io->release(io);
  if (status != 1) {
    KVngError("%s: Cannot extract resource data to IO stream\n", kName);
    kvng_internal_free(data);
    return status;
  }
  *buffer = data;
  *size = bytes;
  return 1;
}

int XPSArchiveGetPartSize(XPSArchive* archive, const char* partName, int64_t* size) {
  constexpr char kName[] = "XPSArchiveGetPartSize";
  if (!archive || !partName || !size) return -1;
  *size = 0;
  char* entryName = nullptr;
  int status = XPSPartNameToEntryName(partName, kName, &entryName);
  if (status != 1) return status;
  EntryList list{};
  status = entries_for_part(archive, entryName, &list);
  if (status == 1 && list.count == 0) {
    KVngError("%s: Missing part '%s'\n", kName, partName);
    status = -1;
  }
  for (int32_t i = 0; status == 1 && i < list.count; ++i) {
    int64_t bytes = 0;
    KVngZipEntryGetFileSize(list.items[i], &bytes);
    if (bytes < 0 || bytes > XPS_MAX_PART_BYTES - *size) {
      *size = XPS_MAX_PART_BYTES + 1;
      break;
    }
    *size += bytes;
  }
  kvng_internal_free(list.items);
  kvng_internal_free(entryName);
  return status;
}

int XPSArchiveLoadImage(XPSArchive* archive, const char* partName, int thumbnail, QELImage** image) {
  constexpr char kName[] = "XPSArchiveLoadImage";
  if (!archive || !image) return -1;
  *image = nullptr;
  unsigned char* buffer = nullptr;
  int64_t size = 0;
  int status = XPSArchiveLoadResource(archive, partName, &buffer, &size);
  if (status != 1) {
    KVngError("%s: Cannot load image resource\n", kName);
    return status;
  }
  if (!archive->formats && KVngReadFileFormats(&archive->formats) != 1) {
    KVngError("%s: Cannot read file formats description file\n", kName);
    kvng_internal_free(buffer);
    return -1;
  }
  // JPEG XR (ITU-T T.832) begins "II" 0xBC: XPS allows it, but no decoder is built in.
  if (size >= 4 && buffer[0] == 'I' && buffer[1] == 'I' && buffer[2] == 0xBC) {
    KVngError("%s: JPEG XR image '%s' cannot be decoded: this build has no JPEG XR decoder\n", kName, partName);
    kvng_internal_free(buffer);
    return -1;
  }
  KVngFileFormatInfo* format = KVngGetFileFormatFromBuf(buffer, static_cast<size_t>(size), archive->formats);
  if (!format) {
    KVngError("%s: Cannot identify file format for image data\n", kName);
    kvng_internal_free(buffer);
    return -1;
  }
  status = thumbnail ? __XPSBufferToThumbnail(format->reader, buffer, size, image)
                     : __XPSBufferToImage(format->reader, buffer, size, image);
  format->release(format);
  kvng_internal_free(buffer);
  return status;
}

char* __XPSMakeRelsPartName(const char* partName) {
  if (!partName) return nullptr;
  const size_t size = std::strlen(partName) + 16;
  auto* name = static_cast<char*>(kvng_internal_calloc(size, 1));
  if (!name) return nullptr;
  const char* last = std::strrchr(partName, '/');
  if (last) {
    std::snprintf(name, size, "%.*s/_rels/%s.rels", static_cast<int>(last - partName), partName, last + 1);
  } else {
    std::snprintf(name, size, "/_rels/%s.rels", partName);
  }
  return name;
}

int XPSArchiveMakeXMLReader(XPSArchive* archive, const char* partName, int required, QELXmlReader** reader) {
  if (!archive || !partName || !reader) return -1;
  return make_xml_reader(archive, partName, required, reader, "XPSArchiveMakeXMLReader");
}

int XPSArchiveMakeXMLRelsReader(XPSArchive* archive, const char* partName, int required, QELXmlReader** reader) {
  if (!archive || !partName || !reader) return -1;
  *reader = nullptr;
  char* rels = __XPSMakeRelsPartName(partName);
  if (!rels) {
    KVngError("%s: Cannot create rels part name\n", "XPSArchiveMakeXMLRelsReader");
    return 0;
  }
  const int status = make_xml_reader(archive, rels, required, reader, "XPSArchiveMakeXMLRelsReader");
  kvng_internal_free(rels);
  return status;
}

int XPSArchiveReadPart(XPSArchive* archive, const char* partName, int required, xmlDocPtr* doc) {
  constexpr char kName[] = "XPSArchiveReadPart";
  if (!partName) {
    KVngError("%s: partName argument is NULL\n", kName);
    return -1;
  }
  if (!doc) {
    KVngError("%s: doc argument is NULL\n", kName);
    return -1;
  }
  *doc = nullptr;
  QELXmlReader* reader = nullptr;
  int status = XPSArchiveMakeXMLReader(archive, partName, required, &reader);
  if (status != 1 || !reader) return status;
  if (QELXmlReaderRead(reader) != 1) {
    KVngError("%s: Cannot parse XML file %s\n", kName, partName);
    status = -1;
  } else if (!QELXmlReaderExpand(reader)) {
    KVngError("%s: Cannot read children of current node\n", kName);
    status = -1;
  } else {
    *doc = QELXmlReaderGetDoc(reader);
  }
  QELXmlReaderFree(reader);
  return status;
}

int XPSArchiveLoadDigitalSignatures(XPSArchive* archive, const char* origin, xmlDocPtr** parts) {
  constexpr char kName[] = "XPSArchiveLoadDigitalSignatures";
  if (!origin) {
    KVngError("%s: origin argument is NULL\n", kName);
    return -1;
  }
  if (!parts) {
    KVngError("%s: parts argument is NULL\n", kName);
    return -1;
  }
  if (!archive) return -1;
  *parts = nullptr;
  char* entryName = nullptr;
  int status = XPSPartNameToEntryName(origin, kName, &entryName);
  if (status != 1) return status;
  KVngZipEntry* entry = nullptr;
  status = __XPSGetEntryForFile(archive->zip, entryName, &entry);
  kvng_internal_free(entryName);
  if (status != 1) return status;
  int32_t capacity = 4, count = 0;
  auto* array = static_cast<xmlDocPtr*>(kvng_internal_calloc(capacity, sizeof(xmlDocPtr)));
  if (!array) {
    KVngError("%s: Cannot create Digital Signatures array\n", kName);
    return 0;
  }
  QELXmlReader* reader = nullptr;
  if (entry) {
    int64_t size = 0;
    KVngZipEntryGetFileSize(entry, &size);
    if (size != 0) KVngError("%s: Content found in Digital Signature Origin part\n", kName);
    status = XPSArchiveMakeXMLRelsReader(archive, origin, 0, &reader);
  }
  if (status == 1 && reader) {
    xmlChar* name = nullptr;
    if (QELXmlReaderRead(reader) != 1) {
      KVngError("%s: Cannot parse Digital Signature relationships\n", kName);
      status = -1;
    } else if (!is_name(name = QELXmlReaderName(reader), "Relationships")) {
      KVngError("%s: Root element name must be 'Relationships'\n", kName);
      status = -1;
    }
    xmlFree(name);
    int step = 1;
    while (status == 1 && (step = QELXmlReaderRead(reader)) == 1) {
      if (!QELXmlReaderIsStartElement(reader)) continue;
      name = QELXmlReaderName(reader);
      if (!is_name(name, "Relationship")) {
        KVngError("%s: Skipping illegal element <%s>\n", kName, name ? reinterpret_cast<const char*>(name) : "");
        xmlFree(name);
        continue;
      }
      xmlFree(name);
      xmlChar* target = QELXmlReaderGetAttribute(reader, "Target");
      xmlChar* type = QELXmlReaderGetAttribute(reader, "Type");
      if (XPSRelTypeIs(type, XPS_REL_DIGITAL_SIGNATURE)) {
        char* part = nullptr;
        status = XPSResolvePartName(origin, target ? reinterpret_cast<const char*>(target) : "", kName, &part);
        xmlDocPtr doc = nullptr;
        if (status == 1) status = XPSArchiveReadPart(archive, part, 1, &doc);
        kvng_internal_free(part);
        if (status == 1 && count >= capacity - 2) {
          auto* grown = static_cast<xmlDocPtr*>(kvng_internal_calloc(capacity + 4, sizeof(xmlDocPtr)));
          if (!grown) {
            KVngError("%s: Cannot grow Digital Signatures array\n", kName);
            xmlFreeDoc(doc);
            status = 0;
          } else {
            std::memcpy(grown, array, sizeof(xmlDocPtr) * count);
            kvng_internal_free(array);
            array = grown;
            capacity += 4;
          }
        }
        if (status == 1) array[count++] = doc;
      } else {
        KVngError("%s: Skipping invalid Relationship type %s\n", kName,
                  type ? reinterpret_cast<const char*>(type) : "");
      }
      xmlFree(target);
      xmlFree(type);
    }
    if (status == 1 && step < 0) status = -1;
  }
  QELXmlReaderFree(reader);
  if (status != 1) {
    for (int32_t i = 0; i < count; ++i) xmlFreeDoc(array[i]);
    kvng_internal_free(array);
    return status;
  }
  array[count] = nullptr;
  *parts = array;
  return 1;
}

}  // extern "C"
