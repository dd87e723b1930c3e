// jBig2Decode: JBIG2 page layers back into raw 1-bit layers.
//
// Every page is rendered before any layer changes, so a layer that fails leaves the image as it
// was: no blank page is ever handed back as decoded.

#include <cstring>
#include <vector>

#include "checked_size.h"
#include "jb2_method_util.h"
#include "jb2_methods.h"
#include "kvng.h"
#include "vlt_decoder.h"
#include "vlt_errors.h"

namespace {

constexpr const char* kMethod = "jBig2Decode";

// One rendered page waiting to replace its layer's data.
struct Decoded {
  elf_QELLAYER* layer;
  elf_object* data;        // the new POINTER over the rows
  int32_t* bytesPerRow;    // its one-entry arrays
  int32_t* bitsPerSample;
  uint32_t rowBytes;
};

struct Run {
  elf_state* state;
  VltDecoder* decoder = nullptr;
  VltAdtList* dictList = nullptr;
  std::vector<Decoded> pages;

  explicit Run(elf_state* s) : state(s) {}
  ~Run() {
    for (Decoded& d : pages) {
      elfDiscard(d.data);
      _elfFree(d.bytesPerRow);
      _elfFree(d.bitsPerSample);
    }
    VltDec_close(&decoder);
  }

  int fail(const char* format, VltStatus code) {
    return setStatus(state, QEL_STATUS_FAILED, QEL_SEVERITY_ERROR, format, kMethod, Vlt_getErrStr(code));
  }
  int fail(const char* format) { return setStatus(state, QEL_STATUS_FAILED, QEL_SEVERITY_ERROR, format, kMethod); }

  int decode_dictionary(elf_QELLAYER* dict) {
    if (const VltStatus st = VltDec_init(&decoder, nullptr, nullptr); st != VLT_OK)
      return fail("%s: Unable to create the jbig2 decoder:\n\t%s\n", st);
    SegmentInfo* symbols = nullptr;
    if (dict != nullptr && dict->data != nullptr) {
      const uint8_t* bytes = nullptr;
      uint32_t length = 0;
      uint8_t* joined = nullptr;
      if (!jb2m::layer_bytes(dict->data, &bytes, &length, &joined))
        return fail("%s: Unable to read the jbig2 dictionary layer\n");
      const VltStatus st = length != 0 ? VltDec_decodeDict(decoder, bytes, length, &symbols) : VLT_OK;
      _elfFree(joined);
      if (st != VLT_OK) return fail("%s: Unable to decode the jbig2 dictionary:\n\t%s\n", st);
    }
    if (const VltStatus st = VltDec_buildDictList(decoder, &dictList, symbols); st != VLT_OK)
      return fail("%s: Unable to decode the jbig2 dictionary:\n\t%s\n", st);
    return QEL_STATUS_OK;
  }

  int render(elf_QELLAYER* layer, const elf_QELHDR* h) {
    if (h->width <= 0 || h->height <= 0 || h->width > jb2m::max_side || h->height > jb2m::max_side)
      return setStatus(state, QEL_STATUS_INVALID, QEL_SEVERITY_ERROR, "%s: jbig2 layer size %dx%d out of range\n",
                       kMethod, h->width, h->height);
    const auto width = static_cast<uint32_t>(h->width), height = static_cast<uint32_t>(h->height);
    const uint8_t* bytes = nullptr;
    uint32_t length = 0;
    uint8_t* joined = nullptr;
    if (!jb2m::layer_bytes(layer->data, &bytes, &length, &joined)) return fail("%s: Unable to read a jbig2 layer\n");
    // The page is rendered straight into the layer's rows: whole words while it is drawn, then
    // packed to whole bytes in place, so no second page is made and nothing is copied over.
    const uint32_t words = (width + 31) / 32, rowBytes = (width + 7) / 8;
    size_t size = 0;
    if (!mono::checked_mul(size_t{words} * 4, size_t{height}, &size) || size > UINT32_MAX) {
      _elfFree(joined);
      return fail("%s: Unable to allocate the decoded layer\n");
    }
    auto* buffer = static_cast<uint8_t*>(kvng_internal_calloc(size, 1));
    if (buffer == nullptr) {
      _elfFree(joined);
      return fail("%s: Unable to allocate the decoded layer\n");
    }
    const VltStatus st = VltDec_renderBinaryImage(decoder, dictList, bytes, length, buffer, h->width, h->height,
                                                  static_cast<int32_t>(words));
    _elfFree(joined);
    if (st != VLT_OK) {
      kvng_internal_free(buffer);
      return fail("%s: Unable to decode a jbig2 layer:\n\t%s\n", st);
    }
    const uint8_t mask = width % 8 == 0 ? 0xFF : static_cast<uint8_t>(0xFF << (8 - width % 8));
    for (uint32_t y = 0; y < height; ++y) {
      uint8_t* row = buffer + size_t{y} * rowBytes;
      std::memmove(row, buffer + size_t{y} * words * 4, rowBytes);
      row[rowBytes - 1] &= mask;
    }
    size = size_t{rowBytes} * height;
    Decoded d{layer, elfNewPointer(state, buffer, size), static_cast<int32_t*>(elfCalloc(1, sizeof(int32_t))),
              static_cast<int32_t*>(elfCalloc(1, sizeof(int32_t))), rowBytes};
    if (d.data == nullptr) kvng_internal_free(buffer);
    if (d.data == nullptr || d.bytesPerRow == nullptr || d.bitsPerSample == nullptr) {
      elfDiscard(d.data);
      _elfFree(d.bytesPerRow);
      _elfFree(d.bitsPerSample);
      return fail("%s: Unable to allocate the decoded layer\n");
    }
    d.bytesPerRow[0] = static_cast<int32_t>(rowBytes);
    d.bitsPerSample[0] = 1;
    pages.push_back(d);
    return QEL_STATUS_OK;
  }

  // Every page decoded: the layers take their rows.
  void replace_all() {
    for (Decoded& d : pages) {
      elf_QELHDR* h = qelHdr(d.layer->description);
      ELF_ASSIGN(state, &d.layer->data, d.data);
      d.data = nullptr;
      _elfFree(h->bytesPerRow);
      h->bytesPerRow = d.bytesPerRow;
      h->bytesPerRowCount = 1;
      d.bytesPerRow = nullptr;
      _elfFree(h->bitsPerSample);
      h->bitsPerSample = d.bitsPerSample;
      h->bitsPerSampleCount = 1;
      d.bitsPerSample = nullptr;
      h->photometric = QEL_PHOTO_BILEVEL;
      h->samplesPerPixel = 1;
      h->compression = QEL_COMPRESSION_NONE;
    }
    pages.clear();
  }
};

}  // namespace

int jBig2Decode(void* target, elf_object* args, elf_object** result) {
  (void)args;
  int status = QEL_STATUS_OK;
  elf_QELIMAGE* image = jb2m::target_image(target, kMethod, &status);
  if (image == nullptr) return status;
  elf_state* state = image->hdr.state;
  Run run(state);

  int32_t dictPosition = -1;
  elf_QELLAYER* dict = qelLayer(QELGetDictLayer(image->layers, &dictPosition));
  if ((status = run.decode_dictionary(dict)) != QEL_STATUS_OK) return status;

  const int32_t n = elflistLength(image->layers);
  for (int32_t i = 0; i < n; ++i) {
    elf_QELLAYER* layer = jb2m::entry_layer(elflistItem(image->layers, i));
    const elf_QELHDR* h = layer != nullptr ? qelHdr(layer->description) : nullptr;
    if (h == nullptr || h->compression != QEL_COMPRESSION_JBIG2 || layer->data == nullptr) continue;
    if ((status = run.render(layer, h)) != QEL_STATUS_OK) return status;
  }
  // A dictionary whose pages could all be decoded is no longer needed.
  run.replace_all();
  VltDec_close(&run.decoder);
  if (dict != nullptr) {
    elf_object* removed = lstRemoveArg(image->layers, dictPosition);
    if (removed != nullptr) elfRefDown(removed);
    image->layerCount -= 1;
  }
  if (result != nullptr) *result = lstBuildArgs(state, "img:", &image->hdr, 0, LST_END);
  return QEL_STATUS_OK;
}
