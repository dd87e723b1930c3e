// Reading pages from PBM files, and from the other raster formats through the imaging engine's
// readers.

#include "page_files.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "kvraster.h"
#include "pbm.h"
#include "qelinterp.h"

namespace monodoc {
namespace {

bool fail(std::string* error, const std::string& what) {
  *error = what;
  return false;
}

// ---- Everything else, through the imaging engine ----

// A grey sample is black when darker than half (the engine has laid transparent pixels on white
// already); colour is weighed as libpng turns it grey.
bool is_dark(uint32_t grey) { return grey < 128; }
uint32_t grey_of(const uint8_t* rgb) { return (6968u * rgb[0] + 23434u * rgb[1] + 2366u * rgb[2] + 16384u) >> 15; }

// The first layer of a page image the engine read (1-bit, 1 black; 8-bit grey; 8-bit RGB).
bool to_bilevel(elf_object* image, Bilevel* page, std::string* error) {
  const elf_QELLAYER* l = qelLayer(QELGetLayer(image, 0));
  const elf_QELHDR* h = l ? qelHdr(l->description) : nullptr;
  const auto* data = l && elfIsType(l->data, "POINTER") ? reinterpret_cast<const elf_POINTER*>(l->data) : nullptr;
  if (!h || !data || !h->bitsPerSample || !h->bytesPerRow) return fail(error, "the engine gave no page");
  if (!samples_to_bilevel(h->width, h->height, h->bitsPerSample[0], h->samplesPerPixel, h->bytesPerRow[0],
                          static_cast<const uint8_t*>(data->data), data->length, true, page)) {
    return fail(error, "the engine gave a page of an unexpected layout");
  }
  page->xres = l->xres > 0 ? l->xres : default_resolution;
  page->yres = l->yres > 0 ? l->yres : default_resolution;
  return true;
}

// An interpreter state of its own for the engine's procedures; quiet, the reason goes into the
// error.
struct EngineState {
  elf_state* state = initState(nullptr, "monodoc-pages");
  EngineState() {
    if (state) state->print = [](void*, const char*) {};
  }
  ~EngineState() { freeState(state); }
  std::string reason(const char* kind) const {
    std::string text = getStatusMessage(state);
    while (!text.empty() && text.back() == '\n') text.pop_back();
    return std::string(kind) + ": " + (text.empty() ? "cannot be read" : text);
  }
};

// A result's object under spec, or null.
elf_object* result_object(elf_object* result, const char* spec) {
  elf_object* obj = nullptr;
  return result && lstScanArgs(result, spec, LST_OPTIONAL, &obj, LST_END) ? obj : nullptr;
}

// Calls a member and drops its argument list; the result list goes to *result (the caller
// drops it).
int call_member(elf_state* state, elf_object* obj, const char* member, elf_object* args, elf_object** result) {
  const int status = call_elf_object_method(state, obj, member, args, result);
  if (args) elfDiscard(args);
  return status;
}

}  // namespace

int32_t tiff_pages(elf_state* state, const std::string& path) {
  elf_object* args = lstBuildArgs(state, "filename:s", path.c_str(), 0, "info:b", 1, 0, LST_END);
  elf_object* result = nullptr;
  const int status = args ? call_elf_procedure(state, "readtif", args, &result) : QEL_STATUS_FAILED;
  if (args) elfDiscard(args);
  elf_object* info = status == QEL_STATUS_OK ? result_object(result, "img:QELIMAGE") : nullptr;
  int32_t field = -1, pages = -1;
  elf_object* found = nullptr;
  if (info && call_member(state, info, "findField", lstBuildArgs(state, "name:s", "pages", 0, "type:s", "i", 0, LST_END),
                          &found) == QEL_STATUS_OK) {
    lstScanArgs(found, "field:i", LST_OPTIONAL, &field, LST_END);
  }
  if (found) elfDiscard(found);
  found = nullptr;
  if (field >= 0 && call_member(state, info, "getFieldInt",
                                lstBuildArgs(state, "entry:i", 0, 0, "index:i", 0, 0, "field:i", field, 0, LST_END),
                                &found) == QEL_STATUS_OK) {
    lstScanArgs(found, "value:i", LST_OPTIONAL, &pages, LST_END);
  }
  if (found) elfDiscard(found);
  if (result) elfDiscard(result);
  return pages;
}

namespace {

bool read_tiff(const std::string& path, std::vector<Bilevel>* pages, std::string* error) {
  EngineState engine;
  if (!engine.state) return fail(error, "TIFF: no memory for the engine");
  const int32_t count = tiff_pages(engine.state, path);
  if (count < 1) return fail(error, engine.reason("TIFF"));
  std::vector<Bilevel> found;
  for (int32_t n = 1; n <= count; ++n) {
    elf_object* args = lstBuildArgs(engine.state, "filename:s", path.c_str(), 0, "dirnum:i", n, 0, LST_END);
    elf_object* result = nullptr;
    const int status = args ? call_elf_procedure(engine.state, "readtif", args, &result) : QEL_STATUS_FAILED;
    if (args) elfDiscard(args);
    elf_object* image = status == QEL_STATUS_OK ? result_object(result, "img:QELIMAGE") : nullptr;
    Bilevel page;
    const bool ok = image && to_bilevel(image, &page, error);
    if (!image) *error = engine.reason("TIFF");
    if (result) elfDiscard(result);
    if (!ok) return false;
    found.push_back(std::move(page));
  }
  for (auto& page : found) pages->push_back(std::move(page));
  return true;
}

bool read_other(const std::string& path, const char* kind, std::vector<Bilevel>* pages, std::string* error) {
  EngineState engine;
  if (!engine.state) return fail(error, std::string(kind) + ": no memory for the engine");
  elf_object* image = nullptr;
  if (QELReadFile2QELIMAGE(engine.state, path.c_str(), nullptr, &image) != QEL_STATUS_OK) {
    return fail(error, engine.reason(kind));
  }
  Bilevel page;
  const bool ok = to_bilevel(image, &page, error);
  elfDiscard(image);
  if (ok) pages->push_back(std::move(page));
  return ok;
}

bool starts_with(const std::string& bytes, const char* magic, size_t n) {
  return bytes.size() >= n && std::memcmp(bytes.data(), magic, n) == 0;
}

}  // namespace

bool samples_to_bilevel(int32_t width, int32_t height, int32_t bits, int32_t samples, int64_t rowBytes,
                        const uint8_t* data, size_t length, bool oneIsBlack, Bilevel* page) {
  size_t stride;
  if (!data || !page_size_ok(width, height, &stride) || rowBytes < 1 ||
      !((bits == 1 && samples == 1) || (bits == 8 && (samples == 1 || samples == 3))) ||
      int64_t{width} * bits * samples > rowBytes * 8 || length / static_cast<size_t>(rowBytes) < static_cast<size_t>(height)) {
    return false;
  }
  page->width = width;
  page->height = height;
  page->stride = stride;
  page->bits.assign(stride * static_cast<size_t>(height), 0);
  for (int32_t y = 0; y < height; ++y) {
    const uint8_t* in = data + static_cast<size_t>(rowBytes) * static_cast<size_t>(y);
    uint8_t* out = page->row(y);
    if (bits == 1) {
      for (size_t i = 0; i < stride; ++i) out[i] = oneIsBlack ? in[i] : static_cast<uint8_t>(~in[i]);
      continue;
    }
    for (int32_t x = 0; x < width; ++x) {
      const uint32_t grey = samples == 1 ? in[x] : grey_of(in + 3 * x);
      if (is_dark(grey)) out[x >> 3] |= static_cast<uint8_t>(0x80 >> (x & 7));
    }
  }
  clear_padding(page);
  return true;
}

bool read_all_pages(const std::vector<std::string>& files, std::vector<Bilevel>* pages, std::string* error) {
  for (const std::string& file : files) {
    if (!read_pages(file, pages, error)) return false;
  }
  return true;
}

bool read_pages(const std::string& path, std::vector<Bilevel>* pages, std::string* error) {
  std::string bytes;
  if (!read_file_bytes(path, &bytes, error)) return false;
  bool ok;
  if (starts_with(bytes, "P1", 2) || starts_with(bytes, "P4", 2)) {
    ok = parse_pbm(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), pages, error);
  } else if (starts_with(bytes, "II*\0", 4) || starts_with(bytes, "MM\0*", 4) || starts_with(bytes, "II+\0", 4) ||
             starts_with(bytes, "MM\0+", 4)) {
    ok = read_tiff(path, pages, error);
  } else if (starts_with(bytes, "\x89PNG\r\n\x1a\n", 8)) {
    ok = read_other(path, "PNG", pages, error);
  } else if (starts_with(bytes, "\xff\xd8", 2)) {
    ok = read_other(path, "JPEG", pages, error);
  } else if (starts_with(bytes, "GIF8", 4)) {
    ok = read_other(path, "GIF", pages, error);
  } else if (starts_with(bytes, "BM", 2)) {
    ok = read_other(path, "BMP", pages, error);
  } else if (bytes.size() >= 2 && bytes[0] == 'P' && bytes[1] >= '2' && bytes[1] <= '6' && bytes[1] != '4') {
    ok = read_other(path, "PNM", pages, error);
  } else {
    return fail(error, path + ": not a PBM, PNM, PNG, TIFF, JPEG, GIF or BMP file");
  }
  if (!ok) *error = path + ": " + *error;
  return ok;
}

}  // namespace monodoc
