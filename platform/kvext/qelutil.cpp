// C-level page images made by the engine's utilities.

#include "qelutil.h"

#include "kvng.h"

int QELUtil_ImageNew(SState* state, int32_t, uint32_t width, uint32_t height, double xres, double yres,
                     QELImage** image) {
  *image = static_cast<QELImage*>(SState_Calloc(state, 1, sizeof(QELImage)));
  if (!*image) return -1;
  (*image)->width = width;
  (*image)->height = height;
  (*image)->xres = xres;
  (*image)->yres = yres;
  return 0;
}

QELLayer* QELUtil_LayerNew(SState* state, int32_t number, const QELRect*, const QELRect*, const QELRect*,
                           uint32_t width, uint32_t height, void* data, size_t size, int32_t samples, int32_t bits,
                           int32_t bytesPerRow, uint32_t pixelWidth, uint32_t pixelHeight, int32_t layout,
                           int32_t compression, int32_t photometry) {
  const size_t channels = samples > 0 ? static_cast<size_t>(samples) : 1;
  auto* layer = static_cast<QELLayer*>(SState_Calloc(state, 1, sizeof(QELLayer)));
  auto* header = layer ? static_cast<QELHdr*>(SState_Calloc(state, 1, sizeof(QELHdr))) : nullptr;
  auto* bit_counts = header ? static_cast<int32_t*>(SState_Calloc(state, channels, sizeof(int32_t))) : nullptr;
  auto* row_bytes = bit_counts ? static_cast<int32_t*>(SState_Calloc(state, channels, sizeof(int32_t))) : nullptr;
  if (!row_bytes) {
    kvng_internal_free(bit_counts);
    kvng_internal_free(header);
    kvng_internal_free(layer);
    return nullptr;
  }
  for (size_t i = 0; i < channels; ++i) {
    bit_counts[i] = bits;
    row_bytes[i] = bytesPerRow;
  }
  *header = QELHdr{samples, bit_counts, row_bytes, pixelWidth, pixelHeight, layout, compression, photometry, nullptr};
  layer->kind = samples == 1 && bits == 1 ? 7 : 1;
  layer->number = number;
  layer->width = width;
  layer->height = height;
  layer->data = data;
  layer->dataLength = size;
  layer->header = header;
  layer->opacity = 1.0;
  return layer;
}
