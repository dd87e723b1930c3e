// The C-level page-image records: releasing them, and turning them into page-image objects.

#include "qel_struct.h"

#include <cstring>
#include <string>

#include "elf_memory.h"
#include "interp_internal.h"
#include "qel_image.h"

void __QELLayersFree(QELLayer* layer) {
  while (layer) {
    QELLayer* next = layer->next;
    if (layer->header) {
      _elfFree(layer->header->bitsPerChannel);
      _elfFree(layer->header->bytesPerRow);
      _elfFree(layer->header->userData);
      _elfFree(layer->header);
    }
    _elfFree(layer->data);
    _elfFree(layer->transform);
    _elfFree(layer);
    layer = next;
  }
}

void __QELImageFree(QELImage* image) {
  if (!image) return;
  _elfFree(image->owned);
  __QELLayersFree(image->layers);
  _elfFree(image);
}

namespace {

// The photometric value of RGB colours, as the document writers read a layer's colour.
constexpr int32_t kPhotometricRgb = 18;
// Colour model code of a parsed colour (red, green and blue in the first three words).
constexpr int32_t kColourModelRgb = 111;

elf_object* copy_header(elf_state* state, const QELHdr* from) {
  elf_object* desc = new_QELHDR(state, nullptr, nullptr);
  elf_QELHDR* h = qelHdr(desc);
  if (!h) return nullptr;
  // An interleaved layout names the depth and row size of every channel in entry 0.
  const int32_t entries = from->layout == QEL_LAYOUT_INTERLEAVED ? 1 : from->channels;
  if (from->channels < 1 || !from->bitsPerChannel || !from->bytesPerRow) {
    elfDiscard(desc);
    return nullptr;
  }
  h->bitsPerSample = static_cast<int32_t*>(elfCalloc(static_cast<size_t>(entries), sizeof(int32_t)));
  h->bytesPerRow = static_cast<int32_t*>(elfCalloc(static_cast<size_t>(entries), sizeof(int32_t)));
  auto* extra = static_cast<elf_hdr_extra*>(from->userData);
  h->engineData = extra && extra->copy ? extra->copy(extra) : nullptr;
  if (!h->bitsPerSample || !h->bytesPerRow || (extra && !h->engineData)) {
    elfDiscard(desc);
    return nullptr;
  }
  std::memcpy(h->bitsPerSample, from->bitsPerChannel, static_cast<size_t>(entries) * sizeof(int32_t));
  std::memcpy(h->bytesPerRow, from->bytesPerRow, static_cast<size_t>(entries) * sizeof(int32_t));
  h->bitsPerSampleCount = h->bytesPerRowCount = entries;
  h->width = static_cast<int32_t>(from->width);
  h->height = static_cast<int32_t>(from->height);
  h->samplesPerPixel = from->channels;
  h->photometric = from->photometry;
  h->compression = from->compression;
  h->interleave = from->layout == QEL_LAYOUT_INTERLEAVED ? 1 : 0;
  return desc;
}

bool set_colour(elf_state* state, elf_QELLAYER* l, const int32_t colour[5]) {
  elf_object* list = lstBuildArgs(state, "c:i", colour[0], 0, "c:i", colour[1], 0, "c:i", colour[2], 0, LST_END);
  elf_object* attrs = list ? lstBuildArgs(state, "_DIOcolor:LIST", list, 0, "_DIOcolorPhotometric:i",
                                          kPhotometricRgb, 0, LST_END)
                           : nullptr;
  if (!attrs) {
    if (list) elfDiscard(list);
    return false;
  }
  ELF_ASSIGN(state, &l->attributes, attrs);
  return true;
}

elf_object* copy_layer(elf_state* state, const QELLayer* from) {
  elf_object* layer = new_QELLAYER(state, nullptr, nullptr);
  elf_QELLAYER* l = qelLayer(layer);
  if (!l) return nullptr;
  l->kind = from->kind;
  l->xres = from->xres;
  l->yres = from->yres;
  l->x = from->x;
  l->y = from->y;
  l->width = from->width;
  l->height = from->height;
  bool ok = true;
  if (from->header) {
    elf_object* desc = copy_header(state, from->header);
    ok = desc != nullptr;
    if (ok) ELF_ASSIGN(state, &l->description, desc);
  }
  if (ok && from->data) {
    void* bytes = elfMalloc(from->dataLength ? from->dataLength : 1);
    elf_object* data = bytes ? elfNewPointer(state, bytes, from->dataLength) : nullptr;
    if (!data) _elfFree(bytes);
    ok = data != nullptr;
    if (ok) {
      std::memcpy(bytes, from->data, from->dataLength);
      ELF_ASSIGN(state, &l->data, data);
    }
  }
  if (ok && from->transform) {
    const QELTransform2D t{{from->transform[0], from->transform[1], from->transform[2], from->transform[3],
                            from->transform[4], from->transform[5]}};
    ok = __QELLAYERSetTransformMatrix(layer, &t) == QEL_STATUS_OK;
  }
  if (ok && from->colour[4] == kColourModelRgb) ok = set_colour(state, l, from->colour);
  if (!ok) {
    elfDiscard(layer);
    return nullptr;
  }
  return layer;
}

}  // namespace

elf_object* __QELStruct2Obj(elf_state* state, const QELImage* image) {
  if (!image) return nullptr;
  elf_object* obj = new_QELIMAGE(state, nullptr, nullptr);
  elf_QELIMAGE* im = qelImage(obj);
  if (!im) {
    elfMessage(state, "__QELStruct2Obj: no memory for the image\n");
    return nullptr;
  }
  im->width = static_cast<int32_t>(image->width);
  im->height = static_cast<int32_t>(image->height);
  im->xres = image->xres;
  im->yres = image->yres;
  int32_t n = 0;
  for (const QELLayer* from = image->layers; from; from = from->next, ++n) {
    elf_object* layer = copy_layer(state, from);
    const std::string name = "layer" + std::to_string(n) + ":QELLAYER";
    if (!layer || QELAppendLayer(obj, name.c_str(), layer) != QEL_STATUS_OK) {
      if (layer) elfDiscard(layer);
      elfMessage(state, "__QELStruct2Obj: no memory for layer %d\n", n);
      elfDiscard(obj);
      return nullptr;
    }
  }
  return obj;
}
