// A small plug-in with methods in the interpreter's convention, for the runner and the binding
// tests: it reads arguments, changes layers in place as a codec method does, adds a layer and
// reports failures through the interpreter status.

#include <cstdio>
#include <cstring>

#include "qelinterp.h"

namespace {

elf_state* context_of(void* target, elf_object* args) {
  if (args) return args->state;
  return target ? static_cast<elf_object*>(target)->state : nullptr;
}

// The raw 1-bit layers of an image, in list order.
template <class F>
int for_each_raw_layer(elf_object* image, F&& f) {
  int n = 0;
  const elf_QELIMAGE* im = qelImage(image);
  for (int32_t i = 0; im && i < elflistLength(im->layers); ++i) {
    elf_QELLAYER* layer = qelLayer(QELGetLayer(image, i));
    elf_QELHDR* h = layer ? qelHdr(layer->description) : nullptr;
    auto* data = layer && elfIsType(layer->data, "POINTER") ? reinterpret_cast<elf_POINTER*>(layer->data) : nullptr;
    if (!h || h->compression != QEL_COMPRESSION_NONE || h->samplesPerPixel != 1 || !h->bitsPerSample ||
        h->bitsPerSample[0] != 1 || !h->bytesPerRow || !data || !data->data) {
      continue;
    }
    if (!f(h, data)) return -1;
    ++n;
  }
  return n;
}

// A file's bytes in a block of the shared heap, or null.
void* read_whole_file(const char* path, size_t* length) {
  FILE* f = std::fopen(path, "rb");
  if (!f) return nullptr;
  std::fseek(f, 0, SEEK_END);
  const long size = std::ftell(f);
  std::fseek(f, 0, SEEK_SET);
  void* bytes = size > 0 ? elfMalloc(static_cast<size_t>(size)) : nullptr;
  if (bytes && std::fread(bytes, 1, static_cast<size_t>(size), f) != static_cast<size_t>(size)) {
    _elfFree(bytes);
    bytes = nullptr;
  }
  std::fclose(f);
  *length = bytes ? static_cast<size_t>(size) : 0;
  return bytes;
}

}  // namespace

// Inverts the pixels of every raw 1-bit layer ("times:i" times, default 1) into new data blocks;
// result "img:" and "inverted:i", the number of layers changed.
MONO_API int invertLayers(void* target, elf_object* args, elf_object** result) {
  static const char* const name = "invertLayers";
  elf_state* ctx = context_of(target, args);
  auto* image = static_cast<elf_object*>(target);
  if (!qelImage(image)) return setStatus(ctx, QEL_STATUS_INVALID, QEL_SEVERITY_ERROR, "%s: no image\n", name);
  int32_t times = 1;
  if (lstScanArgs(args, "times:i", LST_OPTIONAL, &times, LST_END) != 1) {
    return setStatus(ctx, QEL_STATUS_FAILED, QEL_SEVERITY_ERROR, "%s: lstScanArgs error\n", name);
  }
  if (QELUpdateQELIMAGE(image) != 0) return getStatus(ctx);
  const int n = for_each_raw_layer(image, [&](elf_QELHDR* h, elf_POINTER* data) {
    auto* fresh = static_cast<uint8_t*>(elfMalloc(data->length));
    if (!fresh) return false;
    std::memcpy(fresh, data->data, data->length);
    const size_t stride = static_cast<size_t>(h->bytesPerRow[0]);
    const size_t row_bytes = static_cast<size_t>(h->width + 7) / 8;
    const int tail = h->width % 8;
    for (int32_t y = 0; (times & 1) && y < h->height; ++y) {
      uint8_t* row = fresh + static_cast<size_t>(y) * stride;
      for (size_t i = 0; i < row_bytes; ++i) row[i] = static_cast<uint8_t>(~row[i]);
      if (tail) row[row_bytes - 1] &= static_cast<uint8_t>(0xFF << (8 - tail));
    }
    _elfFree(data->data);
    data->data = fresh;
    return true;
  });
  if (n < 0) return setStatus(ctx, QEL_STATUS_FAILED, QEL_SEVERITY_ERROR, "%s: Unable to allocate layer data\n", name);
  int status = QEL_STATUS_OK;
  if (n == 0) status = setStatus(ctx, QEL_STATUS_INVALID, QEL_SEVERITY_WARNING, "%s: No valid layers to invert\n", name);
  if (result) *result = lstBuildArgs(ctx, "img:", image, 0, "inverted:i", n, 0, LST_END);
  return status;
}

// Reports "message:s" (required) with "code:i" (default 21) and "severity:i" (default 1).
MONO_API int failWith(void* target, elf_object* args, elf_object**) {
  elf_state* ctx = context_of(target, args);
  int32_t code = QEL_STATUS_FAILED, severity = QEL_SEVERITY_ERROR;
  const char* message = nullptr;
  if (lstScanArgs(args, "code:i", LST_OPTIONAL, &code, "severity:i", LST_OPTIONAL, &severity, "message:s",
                  LST_REQUIRED, &message, LST_END) != 1) {
    return setStatus(ctx, QEL_STATUS_FAILED, QEL_SEVERITY_ERROR, "%s: lstScanArgs error\n", "failWith");
  }
  return setStatus(ctx, code, severity, "%s: %s\n", "failWith", message);
}

// Makes an image look like a JBIG2-coded one: every raw 1-bit layer takes the bytes of the file
// "page:s" as JBIG2 page data (compression 7), and a dictionary layer holding the bytes of the
// file "dict:s" is appended under "jbig2Dict:".
MONO_API int attachJbig2(void* target, elf_object* args, elf_object** result) {
  static const char* const name = "attachJbig2";
  elf_state* ctx = context_of(target, args);
  auto* image = static_cast<elf_object*>(target);
  const char* page_path = nullptr;
  const char* dict_path = nullptr;
  if (!qelImage(image) || lstScanArgs(args, "page:s", LST_REQUIRED, &page_path, "dict:STRING", LST_REQUIRED,
                                      &dict_path, LST_END) != 1) {
    return setStatus(ctx, QEL_STATUS_FAILED, QEL_SEVERITY_ERROR, "%s: lstScanArgs error\n", name);
  }
  const int n = for_each_raw_layer(image, [&](elf_QELHDR* h, elf_POINTER* data) {
    size_t length;
    void* bytes = read_whole_file(page_path, &length);
    if (!bytes) return false;
    _elfFree(data->data);
    data->data = bytes;
    data->length = length;
    h->compression = QEL_COMPRESSION_JBIG2;
    return true;
  });
  size_t length = 0;
  void* dict = n > 0 ? read_whole_file(dict_path, &length) : nullptr;
  if (!dict) return setStatus(ctx, QEL_STATUS_FAILED, QEL_SEVERITY_ERROR, "%s: Unable to read the JBIG2 files\n", name);
  elf_object* layer = new_elf_object(ctx, "QELLAYER", nullptr);
  elf_object* data = layer ? elfNewPointer(ctx, dict, length) : nullptr;
  if (!data) {
    elfDiscard(layer);
    _elfFree(dict);
    return setStatus(ctx, QEL_STATUS_FAILED, QEL_SEVERITY_ERROR, "%s: Unable to allocate QELLAYER memory\n", name);
  }
  qelLayer(layer)->kind = QEL_KIND_JBIG2_DICT;
  ELF_ASSIGN(ctx, &qelLayer(layer)->data, data);
  if (QELAppendLayer(image, QEL_JBIG2_DICT_ENTRY, layer) != QEL_STATUS_OK) {
    elfDiscard(layer);
    return setStatus(ctx, QEL_STATUS_FAILED, QEL_SEVERITY_ERROR, "%s: Unable to add the dictionary layer\n", name);
  }
  if (result) *result = lstBuildArgs(ctx, "img:", image, 0, LST_END);
  return QEL_STATUS_OK;
}
