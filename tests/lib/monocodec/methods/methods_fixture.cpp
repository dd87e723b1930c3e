#include "methods_fixture.h"

#include <cstring>
#include <stdexcept>

namespace methodtest {

elf_object* raw_layer(elf_state* state, const monotest::RefBitmap& bm, int32_t photometric, int32_t rowBytes) {
  const int32_t stride = rowBytes != 0 ? rowBytes : int32_t((bm.width + 7) / 8);
  const size_t size = size_t(stride) * size_t(bm.height);
  auto* rows = static_cast<uint8_t*>(elfCalloc(size != 0 ? size : 1, 1));
  if (rows == nullptr) return nullptr;
  for (int y = 0; y < bm.height; ++y) {
    std::memcpy(rows + size_t(y) * size_t(stride), bm.row(y), bm.stride);
    if (photometric != 0x15)
      for (int32_t i = 0; i < stride; ++i) rows[size_t(y) * size_t(stride) + size_t(i)] ^= 0xFF;
  }
  elf_object* layer = QELNewBilevelLayer(state, bm.width, bm.height, stride, rows, size, 300, 300);
  if (layer == nullptr) {
    _elfFree(rows);
    return nullptr;
  }
  qelHdr(qelLayer(layer)->description)->photometric = photometric;
  return layer;
}

namespace {

elf_object* pointer_over(elf_state* state, const Bytes& bytes) {
  void* copy = elfMalloc(bytes.size());
  if (copy == nullptr) return nullptr;
  if (!bytes.empty()) std::memcpy(copy, bytes.data(), bytes.size());
  elf_object* p = elfNewPointer(state, copy, bytes.size());
  if (p == nullptr) _elfFree(copy);
  return p;
}

elf_object* described(elf_state* state, int32_t width, int32_t height, int32_t bits, int32_t compression) {
  monotest::RefBitmap blank(width * bits, height);
  elf_object* layer = raw_layer(state, blank);
  if (layer == nullptr) return nullptr;
  elf_QELHDR* h = qelHdr(qelLayer(layer)->description);
  h->width = width;
  h->bitsPerSample[0] = bits;
  h->compression = compression;
  if (bits > 1) qelLayer(layer)->kind = QEL_KIND_IMAGE;
  return layer;
}

}  // namespace

elf_object* jbig2_layer(elf_state* state, int32_t width, int32_t height, const Bytes& bytes) {
  elf_object* layer = described(state, width, height, 1, QEL_COMPRESSION_JBIG2);
  elf_object* data = layer != nullptr ? pointer_over(state, bytes) : nullptr;
  if (data == nullptr) {
    elfDiscard(layer);
    return nullptr;
  }
  ELF_ASSIGN(state, &qelLayer(layer)->data, data);
  return layer;
}

elf_object* dict_layer(elf_state* state, const Bytes& bytes) {
  elf_object* layer = new_QELLAYER(state, nullptr, nullptr);
  elf_object* data = layer != nullptr ? pointer_over(state, bytes) : nullptr;
  if (data == nullptr) {
    elfDiscard(layer);
    return nullptr;
  }
  qelLayer(layer)->kind = QEL_KIND_JBIG2_DICT;
  ELF_ASSIGN(state, &qelLayer(layer)->data, data);
  return layer;
}

elf_object* grey_layer(elf_state* state, int32_t width, int32_t height) {
  return described(state, width, height, 8, QEL_COMPRESSION_NONE);
}

elf_object* g4_layer(elf_state* state, int32_t width, int32_t height) {
  return described(state, width, height, 1, QEL_COMPRESSION_G4);
}

elf_object* image_of(elf_state* state, const std::vector<elf_object*>& layers) {
  elf_object* image = new_QELIMAGE(state, nullptr, nullptr);
  if (image == nullptr) throw std::runtime_error("no image");
  elfRefUp(image);
  for (size_t i = 0; i < layers.size(); ++i) {
    if (layers[i] == nullptr) throw std::runtime_error("no layer");
    if (QELAppendLayer(image, ("layer" + std::to_string(i)).c_str(), layers[i]) != 0)
      throw std::runtime_error("cannot append a layer");
  }
  return image;
}

elf_QELLAYER* layer_at(elf_object* image, int32_t index) {
  return qelLayer(elfIdentValue(elflistItem(qelImage(image)->layers, index)));
}

monotest::RefBitmap pixels(const elf_QELLAYER* layer) {
  const elf_QELHDR* h = qelHdr(layer->description);
  const auto* p = reinterpret_cast<const elf_POINTER*>(layer->data);
  monotest::RefBitmap bm(h->width, h->height);
  const auto* rows = static_cast<const uint8_t*>(p->data);
  const int32_t stride = h->bytesPerRow[0];
  for (int y = 0; y < h->height; ++y)
    for (int x = 0; x < h->width; ++x) {
      const int v = (rows[size_t(y) * size_t(stride) + size_t(x / 8)] >> (7 - x % 8)) & 1;
      bm.set(x, y, h->photometric == 0x15 ? v : 1 - v);
    }
  return bm;
}

Bytes data_bytes(const elf_QELLAYER* layer) {
  const auto* p = reinterpret_cast<const elf_POINTER*>(layer->data);
  const auto* b = static_cast<const uint8_t*>(p->data);
  return Bytes(b, b + p->length);
}

}  // namespace methodtest
