// Releasing the C-level page-image records.

#include "qel_struct.h"

#include "elf_memory.h"

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
