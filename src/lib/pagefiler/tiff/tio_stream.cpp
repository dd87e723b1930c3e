// The TIFF back end's file keys and connectors, the bridge instance, and the code mappings.

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "tio.h"

#include "kvng_print.h"
#include "safe_output.h"

namespace {

// Made on first use by any state of the back end and kept for the life of the process; no lock,
// the back end is used from one thread at a time.
void* mio_handle = nullptr;

int32_t create_key(const char* fileName, SioFileKey** key, const char* mode, int32_t failure) {
  if (!key) return failure;
  *key = nullptr;
  auto* k = static_cast<SioFileKey*>(std::calloc(1, sizeof(SioFileKey)));
  if (!k) return failure;
  char* name = fileName ? KVngUTF8ConvertToFilename(fileName) : nullptr;
  // A file written is made whole in a temporary file beside it; its name is not touched before.
  if (name && mode[0] == 'w') {
    k->output = static_cast<SafeOut*>(std::calloc(1, sizeof(SafeOut)));
    if (k->output && SafeOut_Open(k->output, name) == 0) {
      k->file = std::fopen(k->output->temp, mode);
    } else if (k->output) {
      KVngError("%s\n", k->output->message);
    }
  } else if (name) {
    k->file = std::fopen(name, mode);
  }
  kvng_internal_free(name);
  if (!k->file) {
    if (k->output) SafeOut_Abort(k->output);
    std::free(k->output);
    std::free(k);
    return failure;
  }
  *key = k;
  return 0;
}

SioFileKey* key_of(void* key) { return static_cast<SioFileKey*>(key); }

}  // namespace

int32_t __sioCreateReadFileKey(const char* fileName, SioFileKey** key) {
  return create_key(fileName, key, "rb", TIO_READ_FAILED);
}

int32_t __sioCreateWriteFileKey(const char* fileName, SioFileKey** key) {
  // Readable too: libtiff reads back the directory chain when it links a page after the first.
  return create_key(fileName, key, "w+b", TIO_WRITE_FAILED);
}

int32_t __sioReleaseFileKey(SioFileKey* key) {
  if (!key) return 0;
  if (key->file) std::fclose(key->file);
  if (key->output) SafeOut_Abort(key->output);
  std::free(key->output);
  std::free(key);
  return 0;
}

int32_t __sioCommitFileKey(SioFileKey* key, char* message, size_t size) {
  if (!key) return TIO_WRITE_FAILED;
  int32_t result = TIO_OK;
  if (key->output && key->file) {
    int e = std::fflush(key->file) != 0 ? errno : std::ferror(key->file) ? EIO : 0;
    if (std::fclose(key->file) != 0 && e == 0) e = errno;
    key->file = nullptr;
    if (e != 0) {
      std::snprintf(message, size, "cannot write %s: %s", key->output->target, std::strerror(e));
      result = TIO_WRITE_FAILED;
    } else if (SafeOut_Commit(key->output) != 0) {
      std::snprintf(message, size, "%s", key->output->message);
      result = TIO_WRITE_FAILED;
    }
  }
  __sioReleaseFileKey(key);
  return result;
}

int32_t __sioCnctRead(void* key, void* buffer, int32_t count) {
  SioFileKey* k = key_of(key);
  if (!k || !k->file || !buffer || count <= 0) return 0;
  int32_t total = 0;
  while (total < count) {
    const size_t n = std::fread(static_cast<char*>(buffer) + total, 1, static_cast<size_t>(count - total), k->file);
    if (n == 0) break;
    total += static_cast<int32_t>(n);
  }
  k->position += total;
  return total;
}

int32_t __sioCnctWrite(void* key, const void* buffer, int32_t count) {
  SioFileKey* k = key_of(key);
  if (!k || !k->file || !buffer || count <= 0) return 0;
  int32_t total = 0;
  while (total < count) {
    const size_t n =
        std::fwrite(static_cast<const char*>(buffer) + total, 1, static_cast<size_t>(count - total), k->file);
    // What the flush could not place is lost: the write comes back short.
    if (n == 0 || std::fflush(k->file) != 0) {
      if (k->writeError == 0) k->writeError = errno != 0 ? errno : EIO;
      break;
    }
    total += static_cast<int32_t>(n);
  }
  k->position += total;
  return total;
}

int32_t __sioCnctSeek(void* key, int32_t offset) {
  SioFileKey* k = key_of(key);
  if (!k || !k->file || offset < 0 || std::fseek(k->file, offset, SEEK_SET) != 0) return 0;
  k->position = offset;
  return offset;
}

int32_t __sioCnctSize(void* key) {
  SioFileKey* k = key_of(key);
  if (!k || !k->file || std::fseek(k->file, 0, SEEK_END) != 0) return 0;
  const long end = std::ftell(k->file);
  if (end < 0 || end > INT32_MAX) return 0;
  k->position = static_cast<int32_t>(end);
  return k->position;
}

int32_t __sioCnctTell(void* key) { return key_of(key) ? key_of(key)->position : 0; }

int32_t __initMIOHandle(void** handle) {
  int32_t status = 0;
  if (!mio_handle) status = TFX_InitInstance(nullptr, &mio_handle);
  if (handle) *handle = mio_handle;
  return status;
}

void* __freeMIOHandle(void** handle) {
  if (handle) *handle = mio_handle;
  return mio_handle;
}

void* __tioInstance(void) { return mio_handle; }

int32_t __ioCSpaceFromQEL(int32_t photometry) {
  switch (photometry) {
    case 21:
    case 118:
      return 1;
    case 1:
    case 22:
    case 117:
      return 2;
    case 2:
    case 18:
    case 111:
      return 3;
    case 6:
      return 4;
    case 15:
      return 5;
    case 4:
      return 6;
    case 5:
      return 7;
    case 16:
    case 20:
      return 8;
    default:
      return 0;
  }
}

int32_t __photoFromIOColortype(int32_t colorType, int32_t colorSpace) {
  if (colorType == 1 || colorType == 3) {
    return colorSpace == 1 ? 21 : colorSpace == 2 ? 1 : 0;
  }
  if (colorType == 7) {
    switch (colorSpace) {
      case 3:
        return 111;
      case 5:
        return 15;
      case 6:
      case 7:
        return 4;
      case 8:
        return 20;
      default:
        return 0;
    }
  }
  return 0;
}

uint32_t __ioCompressFromQEL(int32_t compression, int32_t predictor) {
  switch (compression) {
    case 0:
      return 0x1;
    case 1:
      return 0x20;
    case 2:
      return 0x4;
    case 3:
      return 0x10;
    case 4:
      return 0x8;
    case 6:
      return 0x4000;
    case 7:
      return 0x800;
    case 8:
      return 0x8000;
    case 10:
      return predictor ? 0x280000 : 0x80000;
    case 11:
      return 0x20000;
    default:
      return 0;
  }
}

int32_t __compressFromIOCompression(uint32_t coding, int32_t* predictor) {
  if (predictor) *predictor = (coding & 0x200000) ? 1 : 0;
  switch (coding) {
    case 0x1:
    case 0x100000:
      return 0;
    case 0x2:
    case 0x4:
      return 2;
    case 0x8:
      return 4;
    case 0x10:
      return 3;
    case 0x20:
      return 1;
    case 0x800:
      return 7;
    case 0x4000:
      return 6;
    case 0x8000:
      return 8;
    case 0x20000:
      return 11;
    case 0x80000:
    case 0x280000:
      return 10;
    default:
      return -1;
  }
}

int32_t __ioCTypeFromQEL(elf_object* header) {
  const elf_QELHDR* h = qelHdr(header);
  if (!h || !h->bitsPerSample || h->bitsPerSampleCount < 1) return 0;
  int64_t bits = 0;
  switch (h->interleave) {
    case 0:
      if (h->samplesPerPixel <= 0) return 0;
      for (int32_t i = 0; i < h->samplesPerPixel && i < h->bitsPerSampleCount; ++i) bits += h->bitsPerSample[i];
      break;
    case 1:
      bits = int64_t{h->bitsPerSample[0]} * h->samplesPerPixel;
      break;
    case 3:  // JPEG data as the reader marks it: the samples are not laid out in the layer
      if (h->samplesPerPixel == 3) {
        bits = 24;
      } else if (h->bitsPerSample[0] == 8 || h->bitsPerSample[0] == 1) {
        bits = h->bitsPerSample[0];
      } else if (h->compression == 1 || h->compression == 8 || h->compression == 50) {
        bits = 8;
      }
      break;
    default:
      return 0;
  }
  return bits == 1 ? 1 : bits == 8 ? 3 : bits == 24 ? 7 : 0;
}

namespace tio {

int report(elf_state* context, int32_t code) {
  const char* text = code == TIO_NO_MEMORY      ? "Memory alloc error in TIFF IO\n"
                     : code == TIO_WRITE_FAILED ? "IO Write Error in TIFF IO\n"
                                                : "Unknown error in TIFF IO";
  return setStatus(context, QEL_STATUS_INVALID, QEL_SEVERITY_ERROR, "%s", text);
}

}  // namespace tio
