// jBig2Encode and jbig2Codec: raw 1-bit layers into JBIG2 page layers sharing one dictionary.
//
// Every block is produced before the image changes: a failure part way leaves every layer raw and
// no dictionary layer, so no image ever holds coded pages without the dictionary they refer to.

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>
#include <unistd.h>

#include "jb2_method_util.h"
#include "jb2_methods.h"
#include "kvng.h"
#include "vlt_api.h"
#include "vlt_errors.h"
#include "vlt_pagebuf.h"
#include "vlt_pagebuf_util.h"

namespace {

constexpr const char* kMethod = "jBig2Encode";

// What the method gives every page of the section.
VltApiOptions encode_options(int32_t profile) {
  VltApiOptions o{};
  o.minSize = 1;
  o.outputWord = 10;
  o.reserved1 = 3;
  o.halftones = 0;
  o.resolution = 300;
  o.profile = static_cast<uint32_t>(profile);
  o.tenthSize = 1;
  o.memoryLimit = -1;
  o.sectionMode = 0;
  o.singlePage = 1;
  return o;
}

// A raw layer the method codes, with the description it was chosen by.
struct Usable {
  elf_QELLAYER* layer;
  elf_QELHDR* h;
};

bool usable(elf_object* entry, Usable* out) {
  elf_QELLAYER* layer = jb2m::entry_layer(entry);
  elf_QELHDR* h = layer != nullptr ? qelHdr(layer->description) : nullptr;
  if (h == nullptr || h->compression != QEL_COMPRESSION_NONE || !elfIsType(layer->data, "POINTER")) return false;
  if (h->samplesPerPixel != 1 || h->bitsPerSample == nullptr || h->bitsPerSampleCount < 1 || h->bitsPerSample[0] != 1)
    return false;
  const auto* data = reinterpret_cast<const elf_POINTER*>(layer->data);
  if (h->bytesPerRow == nullptr || h->bytesPerRowCount < 1 || data->data == nullptr) return false;
  *out = Usable{layer, h};
  return true;
}

// A process-wide unique name for a dictionary: process, time and a running count.
void dictionary_uid(char* text, size_t size) {
  static std::atomic<uint32_t> count{0};
  const auto now = std::chrono::system_clock::now().time_since_epoch();
  std::snprintf(text, size, "JBIG2DICT-%ld-%lld-%u", static_cast<long>(getpid()),
                static_cast<long long>(std::chrono::duration_cast<std::chrono::nanoseconds>(now).count()),
                count.fetch_add(1) + 1);
}

// A POINTER over a copy of engine bytes on the interpreter heap, which every layer reader
// releases from; the engine's block is freed here.
elf_object* adopt_block(elf_state* state, uint8_t* block, uint32_t length) {
  void* copy = elfMalloc(length);
  if (copy != nullptr && length != 0) std::memcpy(copy, block, length);
  std::free(block);
  elf_object* p = copy != nullptr ? elfNewPointer(state, copy, length) : nullptr;
  if (p == nullptr) _elfFree(copy);
  return p;
}

struct Run {
  elf_state* state;
  elf_QELIMAGE* image;
  VltApiHandle* handle = nullptr;
  std::vector<Usable> layers;
  std::vector<elf_object*> blocks;  // one new data object per layer, until they are placed
  elf_object* dictLayer = nullptr;
  elf_object* uid = nullptr;  // held

  Run(elf_state* s, elf_QELIMAGE* im) : state(s), image(im) {}
  ~Run() {
    for (elf_object* b : blocks) elfDiscard(b);
    elfDiscard(dictLayer);
    elfRefDown(uid);
    if (handle != nullptr) VltApi_close(handle);
  }

  int fail(const char* format) { return setStatus(state, QEL_STATUS_FAILED, QEL_SEVERITY_ERROR, format, kMethod); }
  int fail(const char* format, VltStatus code) {
    return setStatus(state, QEL_STATUS_FAILED, QEL_SEVERITY_ERROR, format, kMethod, Vlt_getErrStr(code));
  }
  int invalid(const char* format, int32_t index) {
    return setStatus(state, QEL_STATUS_INVALID, QEL_SEVERITY_ERROR, format, kMethod, index);
  }

  // Sizes a layer's data must live up to before any of it is read.
  int check(const Usable& u, int32_t index) {
    const elf_QELHDR* h = u.h;
    if (h->width <= 0 || h->height <= 0 || h->width > jb2m::max_side || h->height > jb2m::max_side)
      return invalid("%s: layer %d: page size out of range\n", index);
    if (h->bytesPerRow[0] < (int64_t{h->width} + 7) / 8) return invalid("%s: layer %d: rows shorter than the width\n", index);
    const uint8_t* bytes = nullptr;
    uint32_t length = 0;
    uint8_t* joined = nullptr;
    const bool readable = jb2m::layer_bytes(u.layer->data, &bytes, &length, &joined);
    _elfFree(joined);
    if (!readable || length / static_cast<uint32_t>(h->bytesPerRow[0]) < static_cast<uint32_t>(h->height))
      return invalid("%s: layer %d: data shorter than its rows\n", index);
    return QEL_STATUS_OK;
  }

  int add_page(const Usable& u, VltStatus sectionStatus) {
    const uint8_t* rows = nullptr;
    uint32_t length = 0;
    uint8_t* joined = nullptr;
    VltPageDesc page{};
    const bool made = jb2m::layer_bytes(u.layer->data, &rows, &length, &joined) &&
                      convertBuffToVltPageDesc(&page, static_cast<uint32_t>(u.h->width),
                                               static_cast<uint32_t>(u.h->height),
                                               static_cast<uint32_t>(u.h->bytesPerRow[0]), rows) == 1;
    _elfFree(joined);
    if (!made) return fail("%s: convertBuffToVltPageDesc failed\n");
    if (sectionStatus != VLT_OK) {
      kvng_internal_free(page.buffer);
      return fail("%s: VltApi_startSection failed:\n\t%s\n", sectionStatus);
    }
    // The engine takes 1 as black.
    if (u.h->photometric != QEL_PHOTO_BILEVEL) __JB2Util_InvertPage(&page);
    uint8_t full = 0;
    const VltStatus st = VltApi_addMonoPage(handle, &page, &full);
    kvng_internal_free(page.buffer);
    return st != VLT_OK ? fail("%s: VltApi_addMonoPage failed:\n\t%s\n", st) : QEL_STATUS_OK;
  }

  // The dictionary layer with its bytes, and the identity the image will carry for it.
  int make_dictionary(const VltApiDict& dict) {
    dictLayer = new_elf_object(state, "QELLAYER", nullptr);
    if (dictLayer == nullptr) {
      std::free(dict.bytes);
      return fail("%s: Unable to allocate QELLAYER memory\n");
    }
    elf_object* data = adopt_block(state, dict.bytes, dict.length);
    if (data == nullptr) return fail("%s: Unable to allocate QELLAYER memory\n");
    qelLayer(dictLayer)->kind = QEL_KIND_JBIG2_DICT;
    ELF_ASSIGN(state, &qelLayer(dictLayer)->data, data);
    char text[96];
    dictionary_uid(text, sizeof text);
    uid = elfNewString(state, text);
    elfRefUp(uid);
    return uid != nullptr ? QEL_STATUS_OK : fail("%s: Unable to allocate QELLAYER memory\n");
  }

  // Everything is made: the image takes it. The dictionary identity (replacing one an earlier
  // encode left) and the dictionary layer go in together or not at all; placing the blocks
  // cannot fail.
  int place_all() {
    if (image->layers == nullptr) return fail("%s: Unable to allocate QELLAYER memory\n");
    const bool madeList = image->attributes == nullptr;
    if (madeList) {
      elf_object* list = new_LIST(state, nullptr, nullptr);
      if (list == nullptr) return fail("%s: Unable to allocate QELLAYER memory\n");
      ELF_ASSIGN(state, &image->attributes, list);
    }
    // A failure from here on takes back what was added.
    const auto undo = [&](bool inserted) {
      if (inserted) elfRefDown(elflistRemove(image->attributes, elflistLength(image->attributes) - 1));
      if (madeList) ELF_ASSIGN(state, &image->attributes, nullptr);
      return fail("%s: Unable to allocate QELLAYER memory\n");
    };
    elf_object* ident = elfNewIdent(state, QEL_ATTR_JB2_DICT_UID, uid);
    if (ident == nullptr || elflistInsert(image->attributes, ident, -1, 0) != 0) {
      elfDiscard(ident);
      return undo(false);
    }
    const int32_t last = elflistLength(image->attributes) - 1;
    if (!lstAppendArgs(image->layers, QEL_JBIG2_DICT_ENTRY, dictLayer, 0, LST_END)) return undo(true);
    dictLayer = nullptr;
    image->layerCount += 1;
    for (int32_t i = last - 1; i >= 0; --i) {
      elf_object* entry = elflistItem(image->attributes, i);
      if (elfIsType(entry, "IDENT") && std::strcmp(reinterpret_cast<elf_IDENT*>(entry)->name, QEL_ATTR_JB2_DICT_UID) == 0)
        elfRefDown(elflistRemove(image->attributes, i));
    }
    for (size_t i = 0; i < layers.size(); ++i) {
      ELF_ASSIGN(state, &layers[i].layer->data, blocks[i]);
      blocks[i] = nullptr;
      layers[i].h->compression = QEL_COMPRESSION_JBIG2;
    }
    return QEL_STATUS_OK;
  }
};

int encode(elf_QELIMAGE* image, elf_object* args, elf_object** result) {
  elf_state* state = image->hdr.state;
  TokParams params{};
  tokSetDefaults(&params);
  int32_t profile = 2, widthDiff = params.widthDiff, heightDiff = params.heightDiff, maxDense = params.maxDense;
  if (lstScanArgs(args, "profile:i", LST_OPTIONAL, &profile, "widthDiff:i", LST_OPTIONAL, &widthDiff,
                  "heightDiff:i", LST_OPTIONAL, &heightDiff, "maxDense:i", LST_OPTIONAL, &maxDense, LST_END) != 1)
    return setStatus(state, QEL_STATUS_FAILED, QEL_SEVERITY_ERROR, "%s: lstScanArgs error\n", kMethod);
  params.widthDiff = widthDiff;
  params.heightDiff = heightDiff;
  params.maxDense = maxDense;
  // No tolerance at all: every component is coded by exact match.
  if (widthDiff == 0 && heightDiff == 0 && maxDense == 0) params.minLossySize = 100000;
  if (QELUpdateQELIMAGE(&image->hdr) != 0) return getStatus(state);

  Run run(state, image);
  const int32_t n = elflistLength(image->layers);
  for (int32_t i = 0; i < n; ++i) {
    Usable u{};
    if (!usable(elflistItem(image->layers, i), &u)) continue;
    if (const int st = run.check(u, i); st != QEL_STATUS_OK) return st;
    run.layers.push_back(u);
  }
  if (run.layers.empty()) {
    if (result != nullptr) *result = lstBuildArgs(state, "img:", &image->hdr, 0, LST_END);
    return setStatus(state, QEL_STATUS_INVALID, QEL_SEVERITY_WARNING, "%s: No valid layers to encode\n", kMethod);
  }

  const VltApiOptions options = encode_options(profile);
  if (const VltStatus st = VltApi_init(&run.handle, nullptr, nullptr, &options, &params, nullptr); st != VLT_OK) {
    run.handle = nullptr;
    std::fprintf(stderr, "Vlt initialization failed:\n\t%s\n", Vlt_getErrStr(st));
    return run.fail("%s: Error initializing Vellumite\n");
  }
  const VltStatus sectionStatus = VltApi_startSection(run.handle);
  for (const Usable& u : run.layers)
    if (const int st = run.add_page(u, sectionStatus); st != QEL_STATUS_OK) return st;

  VltApiDict dict{};
  if (const VltStatus st = VltApi_endSectionGetDict(run.handle, 0, &dict); st != VLT_OK) {
    std::free(dict.bytes);
    return run.fail("%s: VltApi_endSectionGetDict failed:\n\t%s\n", st);
  }
  if (const int st = run.make_dictionary(dict); st != QEL_STATUS_OK) return st;
  for (size_t i = 0; i < run.layers.size(); ++i) {
    VltApiPosBlock block{};
    if (const VltStatus st = VltApi_getNextPosBlock(run.handle, &block); st != VLT_OK) {
      std::free(block.bytes);
      return run.fail("%s: VltApi_getNextPosBlock failed:\n\t%s\n", st);
    }
    elf_object* data = adopt_block(state, block.bytes, block.length);
    if (data == nullptr) return run.fail("%s: Unable to allocate the coded layer\n");
    run.blocks.push_back(data);
  }
  if (const int st = run.place_all(); st != QEL_STATUS_OK) return st;
  if (result != nullptr) *result = lstBuildArgs(state, "img:", &image->hdr, 0, LST_END);
  return QEL_STATUS_OK;
}

}  // namespace

int jBig2Encode(void* target, elf_object* args, elf_object** result) {
  int status = QEL_STATUS_OK;
  elf_QELIMAGE* image = jb2m::target_image(target, kMethod, &status);
  return image != nullptr ? encode(image, args, result) : status;
}

int jbig2Codec(void* target, elf_object* args, elf_object** result) {
  int status = QEL_STATUS_OK;
  elf_QELIMAGE* image = jb2m::target_image(target, "jbig2Codec", &status);
  if (image == nullptr) return status;
  for (int32_t i = 0; i < elflistLength(image->layers); ++i) {
    const elf_QELLAYER* layer = jb2m::entry_layer(elflistItem(image->layers, i));
    if (layer != nullptr && layer->kind == QEL_KIND_JBIG2_DICT) return jBig2Decode(target, args, result);
  }
  return jBig2Encode(target, args, result);
}
