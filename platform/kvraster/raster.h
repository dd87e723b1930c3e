#ifndef KVRASTER_RASTER_H
#define KVRASTER_RASTER_H

// What the raster procedures share: a page in one of three plain forms that every reader makes
// and every writer takes, and the conversions between those forms and page-image layers.

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "qelinterp.h"
#include "safe_output.h"

namespace kvraster {

enum class Form { Bilevel, Grey, Rgb };

struct Raster {
  Form form = Form::Grey;
  int32_t width = 0;
  int32_t height = 0;
  double xres = 0;  // pixels per inch, 0 when unknown
  double yres = 0;
  std::vector<uint8_t> pixels;  // rows of row_bytes(): bilevel 1 bit (1 black), grey 8 bits, RGB 8 bits each

  int channels() const { return form == Form::Rgb ? 3 : 1; }
  size_t row_bytes() const {
    return form == Form::Bilevel ? (static_cast<size_t>(width) + 7) / 8 : static_cast<size_t>(width) * channels();
  }
  uint8_t* row(int32_t y) { return pixels.data() + row_bytes() * static_cast<size_t>(y); }
  const uint8_t* row(int32_t y) const { return pixels.data() + row_bytes() * static_cast<size_t>(y); }
  // Sizes the pixel store for width x height; false when it would be absurdly large.
  bool allocate(int32_t w, int32_t h, Form f);
};

// Pages larger than this many pixels are refused rather than allocated.
constexpr int64_t max_pixels = int64_t{1} << 28;

// The raster of an image's first raw layer; false with a status set on state.
bool raster_of(elf_state* state, elf_object* image, const char* who, Raster* out);
// The same raster as 8-bit grey or RGB (bilevel pages become grey).
void to_eight_bit(Raster* r);
// A new image (count 0) holding the raster as its one layer, or null (status set).
elf_object* image_of(elf_state* state, const Raster& r, const char* who);

int fail(elf_state* state, const char* format, ...) __attribute__((format(printf, 2, 3)));

// Readers by format: true on success, else false with a status set on state.
bool read_tiff_page(elf_state* state, const char* filename, int32_t page, Raster* out);
bool read_png(elf_state* state, const char* filename, Raster* out);
bool read_jpeg(elf_state* state, const char* filename, Raster* out);
bool read_gif(elf_state* state, const char* filename, Raster* out);
bool read_bmp(elf_state* state, const char* filename, Raster* out);
bool read_pnm(elf_state* state, const char* filename, Raster* out);

struct TiffOptions {
  bool append = false;
  int32_t compression = -1;  // engine code, -1 for the default
  int32_t quality = 80;
};
// Writers: true on success, else false with a status set on state and no file left behind
// (an appended TIFF keeps the pages it had).
bool write_tiff(elf_state* state, const Raster& r, const char* filename, const TiffOptions& options);
bool write_jpeg(elf_state* state, const Raster& r, const char* filename, int32_t quality);
bool write_png(elf_state* state, const Raster& r, const char* filename);
bool write_gif(elf_state* state, const Raster& r, const char* filename);
bool write_bmp(elf_state* state, const Raster& r, const char* filename);
bool write_pnm(elf_state* state, const Raster& r, const char* filename);

// TIFF file facts for readtif's info fields: page count and fax profile name.
bool tiff_info(elf_state* state, const char* filename, int32_t* pages, std::string* profile);

// A file a writer makes: written whole to a temporary file beside its name (safe_output.h) and
// moved over the name by finish; abandoned, the name untouched, when finish is not reached.
class OutFile {
 public:
  // Opens; after a failure (reported on state by who) name() is null.
  OutFile(elf_state* state, const char* who, const char* filename);
  ~OutFile();
  OutFile(const OutFile&) = delete;
  OutFile& operator=(const OutFile&) = delete;

  // The name a library that writes by name writes to; null when the file could not be made.
  const char* name() const { return out_.temp; }
  // A stream over it, or null.
  std::FILE* stream();
  // Closes the stream (checked) and moves the file into place; false after a report.
  bool finish();

 private:
  elf_state* state_;
  const char* who_;
  SafeOut out_;
  std::FILE* stream_ = nullptr;
};

}  // namespace kvraster

#endif
