// XPS page images and the decoding of image parts into them.

#include "xps_image.h"

#include <cstring>
#include <strings.h>

#include "kvng.h"
#include "kvng_hdr.h"
#include "kvng_print.h"
#include "qel_image.h"

namespace {

// Layer resolution and size from the part's header: 96 ppi unless the header says otherwise.
void place_layer(QELLayer* layer, const KVHdr* header) {
  double xres = 96, yres = 96;
  double value = 0;
  if (header->userData && KVHdrGetHeaderDoubles(header->userData, "Origin", "resolution", &value, 1) > 0 &&
      value > 1.0) {
    xres = yres = static_cast<double>(static_cast<uint32_t>(value));
  }
  const char* units = header->userData ? KVHdrGetHeaderString(header->userData, "Origin", "units") : nullptr;
  if (units && strcasecmp(units, "cm") == 0) {
    xres = static_cast<double>(static_cast<uint32_t>(xres * 2.54));
    yres = static_cast<double>(static_cast<uint32_t>(yres * 2.54));
  }
  // The aspect is x over y resolution; divided as a real number, since an aspect under 1 cut to
  // an integer would divide by zero.
  double aspect = 0;
  if (header->userData && KVHdrGetHeaderDoubles(header->userData, "Origin", "aspect", &aspect, 1) > 0 && aspect > 0) {
    yres = static_cast<double>(static_cast<uint32_t>(yres / aspect));
  }
  if (xres < 1) xres = 1;
  if (yres < 1) yres = 1;
  layer->xres = static_cast<uint32_t>(xres);
  layer->yres = static_cast<uint32_t>(yres);
  layer->width = static_cast<uint32_t>(header->width * 96.0 / layer->xres);
  layer->height = static_cast<uint32_t>(header->height * 96.0 / layer->yres);
}

int make_image(KVImgDecoded* decoded, QELImage** image) {
  constexpr char kName[] = "__XPSMakeImage";
  auto* made = static_cast<QELImage*>(kvng_internal_calloc(1, sizeof(QELImage)));
  if (!made) {
    KVngError("%s: Cannot create QELImage object\n", kName);
    return 0;
  }
  made->width = static_cast<uint32_t>(decoded->image.header->width);
  made->height = static_cast<uint32_t>(decoded->image.header->height);
  QELLayer* layer = __XPSMakeLayer(&decoded->image, 0);
  QELLayer* mask = layer && decoded->mask.header ? __XPSMakeLayer(&decoded->mask, 1) : nullptr;
  if (!layer || (decoded->mask.header && !mask)) {
    __XPSFreeLayers(layer);
    kvng_internal_free(made);
    return 0;
  }
  made->layers = layer;
  made->layerCount = 1;
  made->xres = layer->xres;
  made->yres = layer->yres;
  if (mask) {
    mask->next = layer;
    made->layers = mask;
    made->layerCount = 2;
    if (mask->xres > made->xres) made->xres = mask->xres;
    if (mask->yres > made->yres) made->yres = mask->yres;
  }
  *image = made;
  return 1;
}

}  // namespace

extern "C" {

int __XPSNewImage(double width, double height, double xres, double yres, QELImage** image) {
  *image = static_cast<QELImage*>(kvng_internal_calloc(1, sizeof(QELImage)));
  if (!*image) return 0;
  (*image)->width = static_cast<uint32_t>(width);
  (*image)->height = static_cast<uint32_t>(height);
  (*image)->xres = xres;
  (*image)->yres = yres;
  return 1;
}

void __XPSFreeLayers(QELLayer* layer) {
  while (layer) {
    QELLayer* next = layer->next;
    if (layer->header) {
      KVngFreeUserCMData(static_cast<KVngUserCMData*>(layer->header->userData));
      kvng_internal_free(layer->header->bitsPerChannel);
      kvng_internal_free(layer->header->bytesPerRow);
      kvng_internal_free(layer->header);
    }
    kvng_internal_free(layer->data);
    kvng_internal_free(layer->transform);
    kvng_internal_free(layer);
    layer = next;
  }
}

void XPSFreeImage(QELImage* image) {
  if (!image) return;
  kvng_internal_free(image->owned);
  __XPSFreeLayers(image->layers);
  kvng_internal_free(image);
}

QELLayer* __XPSMakeLayer(KVImgPart* part, int32_t index) {
  constexpr char kName[] = "__XPSMakeLayer";
  const KVHdr* source = part->header;
  auto* layer = static_cast<QELLayer*>(kvng_internal_calloc(1, sizeof(QELLayer)));
  if (!layer) {
    KVngError("%s: Cannot create QELLayer object\n", kName);
    return nullptr;
  }
  const int32_t channels = source->channels;
  const size_t entries = source->layout == KVHDR_LAYOUT_INTERLEAVED ? 1 : static_cast<size_t>(channels);
  auto* header = static_cast<QELHdr*>(kvng_internal_calloc(1, sizeof(QELHdr)));
  if (header) {
    header->bitsPerChannel = static_cast<int32_t*>(kvng_internal_calloc(entries, sizeof(int32_t)));
    header->bytesPerRow = static_cast<int32_t*>(kvng_internal_calloc(entries, sizeof(int32_t)));
    if (source->userData) header->userData = KVngUserCMDupData(source->userData);
  }
  if (!header || !header->bitsPerChannel || !header->bytesPerRow || (source->userData && !header->userData)) {
    KVngError("%s: Cannot create QELHdr object\n", kName);
    layer->header = header;
    __XPSFreeLayers(layer);
    return nullptr;
  }
  header->channels = channels;
  header->width = static_cast<uint32_t>(source->width);
  header->height = static_cast<uint32_t>(source->height);
  header->layout = source->layout;
  header->compression = QEL_COMPRESSION_NONE;
  header->photometry = part->photometry;
  for (size_t c = 0; c < entries; ++c) {
    header->bitsPerChannel[c] = source->bits[c];
    header->bytesPerRow[c] = static_cast<int32_t>(source->lineLength[c]);
  }
  layer->header = header;
  layer->kind = index == 1 ? QEL_KIND_MASK : channels == 1 && source->bits[0] == 1 ? QEL_KIND_BILEVEL : QEL_KIND_IMAGE;
  place_layer(layer, source);
  layer->opacity = 1.0;
  layer->data = part->pixels;
  layer->dataLength = static_cast<size_t>(part->size);
  part->pixels = nullptr;
  return layer;
}

int __XPSBufferToImage(const char* reader, const void* buffer, int64_t size, QELImage** image) {
  if (!image) return 0;
  *image = nullptr;
  KVImgDecoded decoded;
  int status = KVImgDecode(reader, buffer, size, &decoded);
  if (status != 1) {
    KVngError("%s: Cannot decode image data read by %s\n", "__QELBufferToImage", reader ? reader : "(none)");
    return status;
  }
  status = make_image(&decoded, image);
  // Pixels the layers took are no longer the decode's; what is left goes here, once.
  KVImgDecodedFree(&decoded);
  return status;
}

int __XPSBufferToThumbnail(const char* reader, const void* buffer, int64_t size, QELImage** image) {
  const int status = __XPSBufferToImage(reader, buffer, size, image);
  if (status != 1) return status;
  const bool every = reader && std::strcmp(reader, "readpng") == 0;
  for (QELLayer* layer = (*image)->layers; layer; layer = every ? layer->next : nullptr) layer->kind = QEL_KIND_THUMBNAIL;
  return 1;
}

}  // extern "C"
