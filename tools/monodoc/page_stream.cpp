// Reading pages one at a time: PBM images straight from the file, the other raster formats
// through the imaging engine's readers.

#include "page_stream.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "kvraster.h"
#include "page_files.h"
#include "pbm.h"
#include "qelinterp.h"

namespace monodoc {
namespace {

bool fail(std::string* error, const std::string& what) {
  *error = what;
  return false;
}

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

enum class Kind { pbm, tiff, other };

// The format by the file's first bytes; false with the reason.
bool identify(const std::string& path, Kind* kind, const char** name, std::string* error) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) return fail(error, "cannot open " + path + ": " + std::strerror(errno));
  unsigned char b[8] = {};
  const size_t n = std::fread(b, 1, sizeof b, f);
  std::fclose(f);
  const auto is = [&](const char* magic, size_t len) { return n >= len && std::memcmp(b, magic, len) == 0; };
  *kind = Kind::other;
  if (is("P1", 2) || is("P4", 2)) {
    *kind = Kind::pbm;
    *name = "PBM";
  } else if (is("II*\0", 4) || is("MM\0*", 4) || is("II+\0", 4) || is("MM\0+", 4)) {
    *kind = Kind::tiff;
    *name = "TIFF";
  } else if (is("\x89PNG\r\n\x1a\n", 8)) {
    *name = "PNG";
  } else if (is("\xff\xd8", 2)) {
    *name = "JPEG";
  } else if (is("GIF8", 4)) {
    *name = "GIF";
  } else if (is("BM", 2)) {
    *name = "BMP";
  } else if (n >= 2 && b[0] == 'P' && b[1] >= '2' && b[1] <= '6' && b[1] != '4') {
    *name = "PNM";
  } else {
    return fail(error, "not a PBM, PNM, PNG, TIFF, JPEG, GIF or BMP file");
  }
  return true;
}

}  // namespace

// One open file: a PBM stream, or an engine state with the TIFF directory or image still to read.
struct PageStream::Source {
  std::string path;
  Kind kind = Kind::other;
  const char* name = "";
  std::FILE* pbm = nullptr;
  std::unique_ptr<EngineState> engine;
  int32_t pages = 1;  // TIFF directories, 1 for the other formats
  int32_t next = 0;   // pages of the file handed out

  ~Source() {
    if (pbm != nullptr) std::fclose(pbm);
  }

  bool open(std::string* error) {
    if (!identify(path, &kind, &name, error)) return false;
    if (kind == Kind::pbm) {
      pbm = std::fopen(path.c_str(), "rb");
      return pbm != nullptr || fail(error, "cannot open " + path + ": " + std::strerror(errno));
    }
    engine = std::make_unique<EngineState>();
    if (!engine->state) return fail(error, std::string(name) + ": no memory for the engine");
    if (kind == Kind::tiff) {
      pages = tiff_pages(engine->state, path);
      if (pages < 1) return fail(error, engine->reason("TIFF"));
    }
    return true;
  }

  // 1 with a page, 0 at the end of the file, -1 with the reason.
  int read(Bilevel* page, std::string* error) {
    if (kind == Kind::pbm) return read_pbm_image(pbm, next++ == 0, page, error);
    if (next >= pages) return 0;
    ++next;
    elf_object* image = nullptr;
    elf_object* result = nullptr;
    int status;
    if (kind == Kind::tiff) {
      elf_object* args = lstBuildArgs(engine->state, "filename:s", path.c_str(), 0, "dirnum:i", next, 0, LST_END);
      status = args ? call_elf_procedure(engine->state, "readtif", args, &result) : QEL_STATUS_FAILED;
      if (args) elfDiscard(args);
      image = status == QEL_STATUS_OK ? result_object(result, "img:QELIMAGE") : nullptr;
    } else {
      status = QELReadFile2QELIMAGE(engine->state, path.c_str(), nullptr, &image);
      if (status != QEL_STATUS_OK) image = nullptr;
    }
    const bool ok = image != nullptr && to_bilevel(image, page, error);
    if (image == nullptr) *error = engine->reason(name);
    if (result != nullptr)
      elfDiscard(result);
    else if (image != nullptr)
      elfDiscard(image);
    return ok ? 1 : -1;
  }
};

PageStream::PageStream(std::vector<std::string> files) : files_(std::move(files)) {}
PageStream::~PageStream() = default;

const std::string& PageStream::file() const {
  static const std::string none;
  return source_ ? source_->path : none;
}

bool PageStream::next(Bilevel* page, std::string* error) {
  error->clear();
  while (at_ < files_.size()) {
    if (!source_) {
      source_ = std::make_unique<Source>();
      source_->path = files_[at_];
      if (!source_->open(error)) break;
    }
    const int got = source_->read(page, error);
    if (got > 0) {
      ++read_;
      return true;
    }
    if (got < 0) break;
    source_.reset();
    ++at_;
  }
  if (error->empty()) return false;
  // Failed: the reason names the file, and nothing more is read.
  if (error->find(files_[at_]) == std::string::npos) *error = files_[at_] + ": " + *error;
  at_ = files_.size();
  return false;
}

bool PageStream::count(size_t* pages, std::string* error) const {
  size_t total = 0;
  for (const std::string& path : files_) {
    Source s;
    s.path = path;
    bool ok = s.open(error);
    if (ok && s.kind == Kind::pbm) {
      int got;
      while ((got = s.read(nullptr, error)) > 0) ++total;
      ok = got == 0;
    } else if (ok) {
      total += static_cast<size_t>(s.pages);
    }
    if (!ok) {
      if (error->find(path) == std::string::npos) *error = path + ": " + *error;
      return false;
    }
  }
  *pages = total;
  return true;
}

}  // namespace monodoc
