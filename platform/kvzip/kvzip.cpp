// The engine's zip reader over libzip: the archive is read through the caller's byte stream by a
// libzip source of our own, so files and memory are read alike.

#include <zip.h>

#include <cstring>

#include "kvng.h"
#include "kvng_print.h"
#include "kvzip.h"

struct KVngZipEntry {
  zip_uint64_t index;
  const char* name;  // libzip's, alive while the archive is open
  int64_t size;
};

struct KVngZip {
  KVngIO* stream;
  zip_t* archive;
  KVngZipEntry* entries;
  int32_t count;
  zip_error_t error;  // what the stream source last failed on, for libzip to report
};

namespace {

// Bytes inflated per step: small enough for the stack, large enough to keep calls few.
constexpr size_t kCopyChunk = 16 * 1024;

// libzip's source callback over an engine stream.
zip_int64_t stream_source(void* data, void* out, zip_uint64_t length, zip_source_cmd_t command) {
  auto* zip = static_cast<KVngZip*>(data);
  KVngIO* io = zip->stream;
  switch (command) {
    case ZIP_SOURCE_OPEN:
      if (io->seek(io, 0, KVNG_SEEK_SET, 0) != 0) {
        zip_error_set(&zip->error, ZIP_ER_SEEK, 0);
        return -1;
      }
      return 0;
    case ZIP_SOURCE_READ: {
      const int64_t want = length > static_cast<zip_uint64_t>(INT64_MAX) ? INT64_MAX : static_cast<int64_t>(length);
      const int64_t n = io->read(io, out, want);
      if (n < 0) zip_error_set(&zip->error, ZIP_ER_READ, 0);
      return n;
    }
    case ZIP_SOURCE_CLOSE:
    case ZIP_SOURCE_FREE:
      return 0;
    case ZIP_SOURCE_STAT: {
      if (length < sizeof(zip_stat_t)) {
        zip_error_set(&zip->error, ZIP_ER_INVAL, 0);
        return -1;
      }
      const int64_t at = io->tell(io);
      const bool ends = at >= 0 && io->seek(io, 0, KVNG_SEEK_END, 0) == 0;
      const int64_t size = ends ? io->tell(io) : -1;
      if (size < 0 || io->seek(io, at, KVNG_SEEK_SET, 0) != 0) {
        zip_error_set(&zip->error, ZIP_ER_SEEK, 0);
        return -1;
      }
      auto* st = static_cast<zip_stat_t*>(out);
      zip_stat_init(st);
      st->size = static_cast<zip_uint64_t>(size);
      st->valid |= ZIP_STAT_SIZE;
      return sizeof(zip_stat_t);
    }
    case ZIP_SOURCE_ERROR:
      return zip_error_to_data(&zip->error, out, length);
    case ZIP_SOURCE_SEEK: {
      const int64_t at = io->tell(io);
      const int64_t end = io->seek(io, 0, KVNG_SEEK_END, 0) == 0 ? io->tell(io) : -1;
      if (at < 0 || end < 0) {
        zip_error_set(&zip->error, ZIP_ER_SEEK, 0);
        return -1;
      }
      const zip_int64_t to = zip_source_seek_compute_offset(static_cast<zip_uint64_t>(at),
                                                            static_cast<zip_uint64_t>(end), out, length, &zip->error);
      if (to < 0) {
        io->seek(io, at, KVNG_SEEK_SET, 0);
        return -1;
      }
      if (io->seek(io, to, KVNG_SEEK_SET, 0) != 0) {
        zip_error_set(&zip->error, ZIP_ER_SEEK, 0);
        return -1;
      }
      return 0;
    }
    case ZIP_SOURCE_TELL:
      return io->tell(io);
    case ZIP_SOURCE_SUPPORTS:
      return zip_source_make_command_bitmap(ZIP_SOURCE_OPEN, ZIP_SOURCE_READ, ZIP_SOURCE_CLOSE, ZIP_SOURCE_STAT,
                                            ZIP_SOURCE_ERROR, ZIP_SOURCE_FREE, ZIP_SOURCE_SEEK, ZIP_SOURCE_TELL,
                                            ZIP_SOURCE_SUPPORTS, -1);
    default:
      zip_error_set(&zip->error, ZIP_ER_OPNOTSUPP, 0);
      return -1;
  }
}

}  // namespace

extern "C" {

int KVngZipOpen(KVngZip** zip, KVngIO* stream, int, const char* mode) {
  if (!zip || !stream || !mode) return -1;
  *zip = nullptr;
  if (mode[0] != 'r' && mode[0] != 'w') {
    KVngError("%s: Invalid access mode %s\n", "KVngZipOpen", mode);
    return -1;
  }
  auto* z = static_cast<KVngZip*>(kvng_internal_calloc(1, sizeof(KVngZip)));
  if (!z) return 0;
  z->stream = stream;
  zip_error_init(&z->error);
  *zip = z;
  return 1;
}

int KVngZipReadCentralDirectory(KVngZip* zip) {
  if (!zip) return -1;
  if (zip->archive) return 1;
  zip_error_t error;
  zip_error_init(&error);
  zip_source_t* source = zip_source_function_create(stream_source, zip, &error);
  if (!source) {
    KVngError("%s: Cannot make a zip source: %s\n", "KVngZipReadCentralDirectory", zip_error_strerror(&error));
    zip_error_fini(&error);
    return 0;
  }
  // CHECKCONS has libzip compare every local header with the directory, which refuses
  // overlapping entries, one way a small archive claims a huge content.
  zip_t* archive = zip_open_from_source(source, ZIP_RDONLY | ZIP_CHECKCONS, &error);
  if (!archive) {
    KVngError("%s: Not a readable zip archive: %s\n", "KVngZipReadCentralDirectory", zip_error_strerror(&error));
    zip_source_free(source);
    zip_error_fini(&error);
    return 0;
  }
  zip_error_fini(&error);
  const zip_int64_t n = zip_get_num_entries(archive, 0);
  if (n < 0 || n > KVNG_ZIP_MAX_ENTRIES) {
    KVngError("%s: Zip directory of %lld entries refused\n", "KVngZipReadCentralDirectory", static_cast<long long>(n));
    zip_discard(archive);
    return -1;
  }
  auto* entries = static_cast<KVngZipEntry*>(kvng_internal_calloc(n ? static_cast<size_t>(n) : 1, sizeof(KVngZipEntry)));
  if (!entries) {
    zip_discard(archive);
    return 0;
  }
  for (zip_int64_t i = 0; i < n; ++i) {
    zip_stat_t st;
    zip_stat_init(&st);
    const auto index = static_cast<zip_uint64_t>(i);
    if (zip_stat_index(archive, index, 0, &st) != 0 || !(st.valid & ZIP_STAT_NAME) || !(st.valid & ZIP_STAT_SIZE)) {
      KVngError("%s: Cannot read zip entry #%lld\n", "KVngZipReadCentralDirectory", static_cast<long long>(i));
      kvng_internal_free(entries);
      zip_discard(archive);
      return 0;
    }
    entries[i].index = index;
    entries[i].name = st.name;
    entries[i].size = st.size > static_cast<zip_uint64_t>(INT64_MAX) ? INT64_MAX : static_cast<int64_t>(st.size);
  }
  zip->archive = archive;
  zip->entries = entries;
  zip->count = static_cast<int32_t>(n);
  return 1;
}

int32_t KVngZipGetEntryCount(KVngZip* zip) { return zip && zip->archive ? zip->count : -1; }

int KVngZipGetEntry(KVngZip* zip, int32_t index, KVngZipEntry** entry) {
  if (!zip || !entry || !zip->archive || index < 0 || index >= zip->count) return -1;
  *entry = &zip->entries[index];
  return 1;
}

const char* KVngZipEntryGetFileName(const KVngZipEntry* entry) { return entry ? entry->name : nullptr; }

int KVngZipEntryGetFileSize(const KVngZipEntry* entry, int64_t* size) {
  if (!entry || !size) return -1;
  *size = entry->size;
  return 1;
}

int KVngZipExtractIO(KVngZip* zip, const KVngZipEntry* entry, KVngIO* out) {
  if (!zip || !entry || !out || !zip->archive) return -1;
  if (entry->size > KVNG_ZIP_MAX_INFLATED) {
    KVngError("%s: Zip entry '%s' of %lld bytes exceeds the limit of %lld\n", "KVngZipExtractIO", entry->name,
              static_cast<long long>(entry->size), static_cast<long long>(KVNG_ZIP_MAX_INFLATED));
    return -1;
  }
  zip_file_t* file = zip_fopen_index(zip->archive, entry->index, 0);
  if (!file) {
    KVngError("%s: Cannot open zip entry '%s': %s\n", "KVngZipExtractIO", entry->name, zip_strerror(zip->archive));
    return 0;
  }
  unsigned char chunk[kCopyChunk];
  int status = 1;
  int64_t total = 0;
  while (status == 1) {
    const zip_int64_t n = zip_fread(file, chunk, kCopyChunk);
    if (n == 0) break;
    if (n < 0) {
      KVngError("%s: Cannot inflate zip entry '%s': %s\n", "KVngZipExtractIO", entry->name, zip_file_strerror(file));
      status = 0;
      break;
    }
    total += n;
    // libzip checks the declared size only at the end; stop a lying entry before it is written.
    if (total > entry->size) {
      KVngError("%s: Zip entry '%s' inflates past its declared %lld bytes\n", "KVngZipExtractIO", entry->name,
                static_cast<long long>(entry->size));
      status = -1;
      break;
    }
    if (out->write(out, chunk, n) != n) {
      KVngError("%s: Cannot write zip entry '%s'\n", "KVngZipExtractIO", entry->name);
      status = 0;
    }
  }
  if (status == 1 && total != entry->size) {
    KVngError("%s: Zip entry '%s' holds %lld bytes, not its declared %lld\n", "KVngZipExtractIO", entry->name,
              static_cast<long long>(total), static_cast<long long>(entry->size));
    status = 0;
  }
  zip_fclose(file);
  return status;
}

void KVngZipClose(KVngZip* zip, int) {
  if (!zip) return;
  // Read-only: discarding writes nothing back.
  if (zip->archive) zip_discard(zip->archive);
  kvng_internal_free(zip->entries);
  zip_error_fini(&zip->error);
  kvng_internal_free(zip);
}

}  // extern "C"
