// Reading files of the standard raster formats into the plain page forms.

#include <cstdio>  // before jpeglib.h, which needs FILE

#include <gif_lib.h>
#include <jpeglib.h>
#include <png.h>

#include "kvimg_bounds.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>

#include "kvtf.h"
#include "raster.h"

namespace kvraster {

namespace {

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

int64_t file_length(std::FILE* f) {
  struct stat st {};
  return fstat(fileno(f), &st) == 0 ? static_cast<int64_t>(st.st_size) : 0;
}

void set_resolution(Raster* r, double x, double y, int unit_is_cm) {
  const double scale = unit_is_cm ? 2.54 : 1.0;
  r->xres = x * scale;
  r->yres = y * scale;
}

// ---- TIFF ----

struct TiffCloser {
  void operator()(KVTF_TIFF* t) const { KVTF_TIFFClose(t); }
};
using Tiff = std::unique_ptr<KVTF_TIFF, TiffCloser>;

// A file's identity: the directory mark below holds for the same file unchanged.
struct FileId {
  dev_t dev = 0;
  ino_t ino = 0;
  off_t size = 0;
  int64_t mtime_ns = 0;
  bool operator==(const FileId&) const = default;
};

bool file_id(int fd, FileId* id) {
  struct stat st {};
  if (fstat(fd, &st) != 0) return false;
  *id = {st.st_dev, st.st_ino, st.st_size, int64_t{st.st_mtim.tv_sec} * 1000000000 + st.st_mtim.tv_nsec};
  return true;
}

// Where the page read last lies in its file. Readers ask for a file's pages one call at a time
// and in order; from the mark, the next page's directory is found at once instead of by
// walking the chain of directories from the first, which made reading a file of n pages cost n².
// The mark holds for the same file (identity, size, time) whose header and marked directory
// still hold the same bytes: a file rewritten in place within one clock tick is not mistaken
// for the one marked.
struct DirectoryMark {
  std::string path;
  FileId id;
  std::string header;
  int32_t page = 0;
  uint64_t offset = 0;
  std::string directory;
};
std::mutex mark_lock;
DirectoryMark mark;

// The file as libtiff reads it, with the header's first-directory offset replaced when a page
// is opened straight from its directory.
struct PageFile {
  int fd = -1;
  uint64_t size = 0;
  uint64_t position = 0;
  unsigned char header[16] = {};
  size_t header_bytes = 0;  // 8 for classic TIFF, 16 for BigTIFF
  bool motorola = false;

  ~PageFile() {
    if (fd >= 0) close(fd);
  }
  bool read_at(uint64_t at, void* buffer, size_t n) const {
    return at <= size && n <= size - at && pread(fd, buffer, n, static_cast<off_t>(at)) == static_cast<ssize_t>(n);
  }
  uint64_t number(const unsigned char* p, int bytes) const {
    uint64_t v = 0;
    for (int i = 0; i < bytes; ++i) v |= uint64_t{p[motorola ? i : bytes - 1 - i]} << (8 * (bytes - 1 - i));
    return v;
  }
  // The bytes of the directory at offset (entry count, entries, next offset), "" when they
  // cannot be read.
  std::string directory_at(uint64_t offset) const {
    const bool big = header_bytes == 16;
    unsigned char b[8];
    if (!read_at(offset, b, big ? 8 : 2)) return "";
    const uint64_t entries = number(b, big ? 8 : 2);
    const uint64_t bytes = (big ? 16 : 6) + entries * (big ? 20 : 12);
    if (entries > 65535 || bytes > size) return "";
    std::string d(static_cast<size_t>(bytes), '\0');
    return read_at(offset, d.data(), d.size()) ? d : "";
  }
  // The offset of the next directory that directory (directory_at) names.
  uint64_t next_of(const std::string& directory) const {
    const int bytes = header_bytes == 16 ? 8 : 4;
    return number(reinterpret_cast<const unsigned char*>(directory.data() + directory.size() - bytes), bytes);
  }
  void set_first_directory(uint64_t offset) {
    const int bytes = header_bytes == 16 ? 8 : 4;
    unsigned char* p = header + (header_bytes == 16 ? 8 : 4);
    for (int i = 0; i < bytes; ++i) p[motorola ? i : bytes - 1 - i] = static_cast<unsigned char>(offset >> (8 * (bytes - 1 - i)));
  }
};

int64_t page_file_read(KVTF_thandle h, void* buffer, int64_t count) {
  auto* f = static_cast<PageFile*>(h);
  auto* out = static_cast<unsigned char*>(buffer);
  int64_t done = 0;
  while (done < count && f->position < f->size) {
    const uint64_t want = static_cast<uint64_t>(count - done);
    if (f->position < f->header_bytes) {
      const size_t n = static_cast<size_t>(std::min<uint64_t>(f->header_bytes - f->position, want));
      std::memcpy(out + done, f->header + f->position, n);
      done += static_cast<int64_t>(n);
      f->position += n;
      continue;
    }
    const ssize_t n = pread(f->fd, out + done, static_cast<size_t>(std::min<uint64_t>(want, f->size - f->position)),
                            static_cast<off_t>(f->position));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += n;
    f->position += static_cast<uint64_t>(n);
  }
  return done;
}
int64_t page_file_write(KVTF_thandle, void*, int64_t) { return -1; }
uint64_t page_file_seek(KVTF_thandle h, uint64_t offset, int whence) {
  auto* f = static_cast<PageFile*>(h);
  const uint64_t base = whence == SEEK_CUR ? f->position : whence == SEEK_END ? f->size : 0;
  f->position = base + offset;
  return f->position;
}
int page_file_close(KVTF_thandle) { return 0; }
uint64_t page_file_size(KVTF_thandle h) { return static_cast<PageFile*>(h)->size; }
// Mapped, libtiff reads strips and tiles in place (and reads uncompressed tiles at all: without a
// map it refuses their byte counts). The header stays what the read procedure gave.
int page_file_map(KVTF_thandle h, void** base, uint64_t* size) {
  const auto* f = static_cast<PageFile*>(h);
  if (f->size == 0 || f->size > SIZE_MAX) return 0;
  void* p = mmap(nullptr, static_cast<size_t>(f->size), PROT_READ, MAP_PRIVATE, f->fd, 0);
  if (p == MAP_FAILED) return 0;
  *base = p;
  *size = f->size;
  return 1;
}
void page_file_unmap(KVTF_thandle, void* base, uint64_t size) { munmap(base, static_cast<size_t>(size)); }

// Opens the file with page (from 1) as its current directory; null with a status set.
Tiff open_tiff_page(elf_state* state, const char* filename, int32_t page, PageFile* file) {
  file->fd = open(filename, O_RDONLY | O_CLOEXEC);
  FileId id;
  if (file->fd < 0 || !file_id(file->fd, &id)) {
    fail(state, "readtif: %s cannot be opened: %s\n", filename, std::strerror(errno));
    return nullptr;
  }
  file->size = static_cast<uint64_t>(id.size);
  unsigned char* h = file->header;
  const bool tiff = file->read_at(0, h, 8) && ((h[0] == 'I' && h[1] == 'I') || (h[0] == 'M' && h[1] == 'M'));
  file->motorola = h[0] == 'M';
  const uint64_t version = tiff ? file->number(h + 2, 2) : 0;
  file->header_bytes = version == 42 ? 8 : version == 43 && file->read_at(0, h, 16) ? 16 : 0;
  if (file->header_bytes == 0) {
    fail(state, "readtif: %s is not a TIFF file\n", filename);
    return nullptr;
  }
  const std::string header(reinterpret_cast<const char*>(h), file->header_bytes);
  uint64_t start = 0;
  if (page > 1) {
    const std::lock_guard<std::mutex> hold(mark_lock);
    if (mark.path == filename && mark.id == id && mark.header == header && (mark.page == page || mark.page + 1 == page) &&
        file->directory_at(mark.offset) == mark.directory) {
      start = mark.page == page ? mark.offset : file->next_of(mark.directory);
      // A directory naming itself next is a loop, which libtiff's own walk refuses.
      if (mark.page != page && start == mark.offset) start = 0;
    }
  }
  if (start) file->set_first_directory(start);
  Tiff tif(KVTF_TIFFClientOpen(filename, "r", file, page_file_read, page_file_write, page_file_seek, page_file_close,
                               page_file_size, page_file_map, page_file_unmap));
  if (!tif) {
    fail(state, "readtif: %s cannot be read as TIFF\n", filename);
    return nullptr;
  }
  if (page < 1 || (!start && !KVTF_TIFFSetDirectory(tif.get(), static_cast<uint32_t>(page - 1)))) {
    fail(state, "readtif: %s has no page %d\n", filename, page);
    return nullptr;
  }
  const uint64_t offset = start ? start : KVTF_TIFFCurrentDirOffset(tif.get());
  std::string directory = file->directory_at(offset);
  const std::lock_guard<std::mutex> hold(mark_lock);
  mark = {filename, id, header, page, offset, std::move(directory)};
  if (mark.directory.empty()) mark.path.clear();
  return tif;
}

bool strips_can_hold(elf_state* state, KVTF_TIFF* tif, const char* filename, int32_t page, uint64_t file_size,
                     uint32_t width, uint32_t height, int bits_per_pixel) {
  uint16_t compression = KVTF_COMPRESSION_NONE;
  KVTF_TIFFGetFieldDefaulted(tif, KVTF_TAG_COMPRESSION, &compression);
  const uint32_t count = KVTF_TIFFIsTiled(tif) ? KVTF_TIFFNumberOfTiles(tif) : KVTF_TIFFNumberOfStrips(tif);
  uint64_t held = 0;
  for (uint32_t i = 0; i < count; ++i) {
    const uint64_t at = KVTF_TIFFStripOffset(tif, i);
    if (at < file_size) held += std::min(KVTF_TIFFStripByteCount(tif, i), file_size - at);
  }
  if (kvimg::tiff_strips_can_hold(held, compression, width, height, bits_per_pixel)) return true;
  fail(state, "readtif: %s: page %d declares %u x %u pixels, more than the %llu bytes of its strips can code\n",
       filename, page, width, height, static_cast<unsigned long long>(held));
  return false;
}

bool tiff_by_scanline(elf_state* state, KVTF_TIFF* tif, const char* filename, Raster* out, bool invert) {
  const int64_t size = KVTF_TIFFScanlineSize(tif);
  if (size < static_cast<int64_t>(out->row_bytes())) {
    return fail(state, "readtif: %s: scanlines are shorter than their pixels\n", filename), false;
  }
  std::vector<uint8_t> line(static_cast<size_t>(size));
  for (int32_t y = 0; y < out->height; ++y) {
    if (KVTF_TIFFReadScanline(tif, line.data(), static_cast<uint32_t>(y), 0) < 0) {
      return fail(state, "readtif: %s: row %d cannot be read: %s\n", filename, y, KVTF_TIFFLastMessage(tif)), false;
    }
    uint8_t* dst = out->row(y);
    for (size_t i = 0; i < out->row_bytes(); ++i) dst[i] = invert ? static_cast<uint8_t>(~line[i]) : line[i];
  }
  return true;
}

// One pixel of libtiff's RGBA rendering into the page. The library gives colour multiplied by
// alpha: laid on white, the rest is white.
void put_rgba(Raster* out, uint32_t x, uint32_t y, uint32_t word) {
  const uint32_t white = 255 - (word >> 24);
  uint8_t c[3];
  for (int i = 0; i < 3; ++i) c[i] = static_cast<uint8_t>(std::min<uint32_t>(255, ((word >> (8 * i)) & 0xFF) + white));
  uint8_t* row = out->row(static_cast<int32_t>(y));
  if (out->form == Form::Rgb) {
    std::memcpy(row + size_t{x} * 3, c, 3);
  } else if (out->form == Form::Grey) {
    row[x] = c[0];
  } else if (c[0] < 128) {
    row[x >> 3] |= static_cast<uint8_t>(0x80 >> (x & 7));
  }
}

// Tiles through libtiff's RGBA rendering, one tile in memory at a time.
bool tiff_by_tile(elf_state* state, KVTF_TIFF* tif, const char* filename, int32_t page, Raster* out) {
  uint32_t tw = 0, th = 0;
  KVTF_TIFFGetField(tif, KVTF_TAG_TILEWIDTH, &tw);
  KVTF_TIFFGetField(tif, KVTF_TAG_TILELENGTH, &th);
  if (tw == 0 || th == 0 || uint64_t{tw} * th > static_cast<uint64_t>(max_pixels)) {
    return fail(state, "readtif: %s: page %d has tiles of %u x %u pixels\n", filename, page, tw, th), false;
  }
  std::vector<uint32_t> tile(size_t{tw} * th);
  const auto width = static_cast<uint32_t>(out->width), height = static_cast<uint32_t>(out->height);
  for (uint32_t top = 0; top < height; top += th) {
    for (uint32_t left = 0; left < width; left += tw) {
      if (!KVTF_TIFFReadRGBATile(tif, left, top, tile.data())) {
        return fail(state, "readtif: %s: page %d: the tile at %u,%u cannot be read: %s\n", filename, page, left, top,
                    KVTF_TIFFLastMessage(tif)),
               false;
      }
      for (uint32_t r = 0; r < th && top + r < height; ++r) {
        const uint32_t* src = tile.data() + size_t{th - 1 - r} * tw;
        for (uint32_t c = 0; c < tw && left + c < width; ++c) put_rgba(out, left + c, top + r, src[c]);
      }
    }
  }
  return true;
}

bool tiff_by_rgba(elf_state* state, KVTF_TIFF* tif, const char* filename, int32_t page, Raster* out) {
  const auto width = static_cast<uint32_t>(out->width), height = static_cast<uint32_t>(out->height);
  std::vector<uint32_t> rgba(size_t{width} * height);
  if (!KVTF_TIFFReadRGBAImage(tif, width, height, rgba.data())) {
    return fail(state, "readtif: %s: page %d cannot be rendered: %s\n", filename, page, KVTF_TIFFLastMessage(tif)), false;
  }
  for (uint32_t y = 0; y < height; ++y) {
    for (uint32_t x = 0; x < width; ++x) put_rgba(out, x, y, rgba[size_t{y} * width + x]);
  }
  return true;
}

}  // namespace

bool read_tiff_page(elf_state* state, const char* filename, int32_t page, Raster* out) {
  PageFile file;
  Tiff tif = open_tiff_page(state, filename, page, &file);
  if (!tif) return false;
  uint32_t width = 0, height = 0;
  uint16_t bits = 1, samples = 1, photometric = 0, planar = KVTF_PLANARCONFIG_CONTIG, unit = KVTF_RESUNIT_INCH;
  uint16_t extra_count = 0;
  uint16_t* extra = nullptr;
  float xres = 0, yres = 0;
  KVTF_TIFFGetField(tif.get(), KVTF_TAG_IMAGEWIDTH, &width);
  KVTF_TIFFGetField(tif.get(), KVTF_TAG_IMAGELENGTH, &height);
  KVTF_TIFFGetFieldDefaulted(tif.get(), KVTF_TAG_BITSPERSAMPLE, &bits);
  KVTF_TIFFGetFieldDefaulted(tif.get(), KVTF_TAG_SAMPLESPERPIXEL, &samples);
  KVTF_TIFFGetFieldDefaulted(tif.get(), KVTF_TAG_PLANARCONFIG, &planar);
  KVTF_TIFFGetFieldDefaulted(tif.get(), KVTF_TAG_RESOLUTIONUNIT, &unit);
  KVTF_TIFFGetFieldDefaulted(tif.get(), KVTF_TAG_EXTRASAMPLES, &extra_count, &extra);
  if (!KVTF_TIFFGetField(tif.get(), KVTF_TAG_PHOTOMETRIC, &photometric)) {
    return fail(state, "readtif: %s: page %d has no photometric interpretation\n", filename, page), false;
  }
  KVTF_TIFFGetField(tif.get(), KVTF_TAG_XRESOLUTION, &xres);
  KVTF_TIFFGetField(tif.get(), KVTF_TAG_YRESOLUTION, &yres);
  if (width > INT32_MAX || height > INT32_MAX || int64_t{width} * height > max_pixels) {
    return fail(state, "readtif: %s: a page of %ux%u is too large\n", filename, width, height), false;
  }
  // The page's form follows its samples alone, whether it is stored in strips or tiles.
  const bool grey = photometric == KVTF_PHOTOMETRIC_MINISWHITE || photometric == KVTF_PHOTOMETRIC_MINISBLACK;
  const Form form = grey && samples == extra_count + 1 ? (bits == 1 ? Form::Bilevel : Form::Grey) : Form::Rgb;
  if (!strips_can_hold(state, tif.get(), filename, page, file.size, width, height, bits * samples)) return false;
  if (!out->allocate(static_cast<int32_t>(width), static_cast<int32_t>(height), form)) {
    return fail(state, "readtif: %s: a page of %ux%u cannot be held\n", filename, width, height), false;
  }
  set_resolution(out, xres, yres, unit == KVTF_RESUNIT_CENTIMETER);
  if (unit == KVTF_RESUNIT_NONE) set_resolution(out, 0, 0, 0);
  const int errors = KVTF_TIFFErrorCount(tif.get()), warnings = KVTF_TIFFWarningCount(tif.get());
  const bool strips = !KVTF_TIFFIsTiled(tif.get()) && extra_count == 0;
  bool ok;
  if (strips && form != Form::Rgb && (bits == 1 || bits == 8)) {
    const bool zero_is_black = photometric == KVTF_PHOTOMETRIC_MINISBLACK;
    ok = tiff_by_scanline(state, tif.get(), filename, out, form == Form::Bilevel ? zero_is_black : !zero_is_black);
  } else if (strips && planar == KVTF_PLANARCONFIG_CONTIG && photometric == KVTF_PHOTOMETRIC_RGB && samples == 3 &&
             bits == 8) {
    ok = tiff_by_scanline(state, tif.get(), filename, out, false);
  } else if (KVTF_TIFFIsTiled(tif.get())) {
    // Everything else (palettes, alpha, 16 bits, planes, YCbCr, CMYK) through the library's
    // RGBA rendering.
    ok = tiff_by_tile(state, tif.get(), filename, page, out);
  } else {
    ok = tiff_by_rgba(state, tif.get(), filename, page, out);
  }
  // The codecs warn where data is missing or damaged and fill in what they lack: such a page is
  // not the page the file was meant to hold.
  if (ok && (KVTF_TIFFErrorCount(tif.get()) != errors || KVTF_TIFFWarningCount(tif.get()) != warnings)) {
    return fail(state, "readtif: %s: page %d is damaged: %s\n", filename, page, KVTF_TIFFLastMessage(tif.get())), false;
  }
  return ok;
}

bool tiff_info(elf_state* state, const char* filename, int32_t* pages, std::string* profile) {
  Tiff tif(KVTF_TIFFOpen(filename, "r"));
  if (!tif) return fail(state, "readtif: %s cannot be opened as TIFF\n", filename), false;
  *pages = static_cast<int32_t>(KVTF_TIFFNumberOfDirectories(tif.get()));
  static constexpr const char* profiles[] = {"none", "s", "f", "j", "c", "l", "m"};
  uint8_t code = 0;
  *profile = KVTF_TIFFGetField(tif.get(), KVTF_TAG_FAXPROFILE, &code) && code < 7 ? profiles[code] : "none";
  return true;
}

// ---- PNG ----

namespace {

void png_failed(png_structp png, png_const_charp message) {
  auto* text = static_cast<char*>(png_get_error_ptr(png));
  std::snprintf(text, 200, "%s", message);
  png_longjmp(png, 1);
}
void png_quiet(png_structp, png_const_charp) {}

void png_read_file(png_structp png, png_bytep data, png_size_t length) {
  if (std::fread(data, 1, length, static_cast<std::FILE*>(png_get_io_ptr(png))) != length) {
    png_error(png, "the file ends before its data does");
  }
}

// Chunks a page has no use for, skipped unread: libpng would allocate what their length claims
// (and merely warn when that is more than the file holds) before reading them.
constexpr png_byte unused_chunks[] = {'t', 'E', 'X', 't', 0, 'z', 'T', 'X', 't', 0, 'i', 'T', 'X', 't', 0,
                                      's', 'P', 'L', 'T', 0, 'p', 'C', 'A', 'L', 0, 's', 'C', 'A', 'L', 0,
                                      'e', 'X', 'I', 'f', 0, 'i', 'C', 'C', 'P', 0, 'h', 'I', 'S', 'T', 0};

}  // namespace

bool read_png(elf_state* state, const char* filename, Raster* out) {
  File f(std::fopen(filename, "rb"));
  if (!f) return fail(state, "QELReadFile2QELIMAGE: %s cannot be opened: %s\n", filename, std::strerror(errno)), false;
  // In memory, not a register: a jump back from the library does not restore registers.
  const volatile int64_t file_bytes = file_length(f.get());
  char why[200] = "";
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, why, png_failed, png_quiet);
  png_infop info = png ? png_create_info_struct(png) : nullptr;
  if (!info) {
    png_destroy_read_struct(&png, nullptr, nullptr);
    return fail(state, "QELReadFile2QELIMAGE: no memory for PNG reading\n"), false;
  }
  std::vector<png_bytep> rows;
  std::vector<uint8_t> with_alpha;  // before the jump point: it must outlive a jump
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_read_struct(&png, &info, nullptr);
    return fail(state, "QELReadFile2QELIMAGE: %s: %s\n", filename, why), false;
  }
  png_set_user_limits(png, 1u << 20, 1u << 20);
  // No chunk holds more than the file does.
  png_set_chunk_malloc_max(png, static_cast<png_alloc_size_t>(std::max(static_cast<int64_t>(file_bytes), int64_t{1})));
  png_set_keep_unknown_chunks(png, PNG_HANDLE_CHUNK_NEVER, unused_chunks, sizeof unused_chunks / 5);
  png_set_read_fn(png, f.get(), png_read_file);
  png_read_info(png, info);
  const png_uint_32 width = png_get_image_width(png, info), height = png_get_image_height(png, info);
  // Deflate gives at most 1032 bytes for one: rows (with their filter bytes) beyond that cannot
  // be in the file.
  if ((static_cast<uint64_t>(png_get_rowbytes(png, info)) + 1) * height / 1032 > static_cast<uint64_t>(file_bytes) ||
      int64_t{width} * height > max_pixels) {
    png_destroy_read_struct(&png, &info, nullptr);
    return fail(state, "QELReadFile2QELIMAGE: %s: the PNG declares %u x %u pixels, more than %s\n", filename, width,
                height, int64_t{width} * height > max_pixels ? "a page may have" : "its bytes can code"),
           false;
  }
  const int type = png_get_color_type(png, info), depth = png_get_bit_depth(png, info);
  const bool alpha = (type & PNG_COLOR_MASK_ALPHA) || png_get_valid(png, info, PNG_INFO_tRNS);
  const Form form = type & PNG_COLOR_MASK_COLOR ? Form::Rgb : depth == 1 && !alpha ? Form::Bilevel : Form::Grey;
  if (type == PNG_COLOR_TYPE_PALETTE) png_set_palette_to_rgb(png);
  if (form == Form::Grey && depth < 8) png_set_expand_gray_1_2_4_to_8(png);
  if (alpha) png_set_tRNS_to_alpha(png);
  if (depth == 16) png_set_strip_16(png);
  if (form == Form::Bilevel) png_set_invert_mono(png);
  png_set_interlace_handling(png);
  png_read_update_info(png, info);
  const size_t samples = (form == Form::Rgb ? 3 : 1) + (alpha ? 1 : 0);
  if (width > INT32_MAX || height > INT32_MAX ||
      !out->allocate(static_cast<int32_t>(width), static_cast<int32_t>(height), form) ||
      png_get_rowbytes(png, info) != (alpha ? size_t{width} * samples : out->row_bytes())) {
    png_destroy_read_struct(&png, &info, nullptr);
    return fail(state, "QELReadFile2QELIMAGE: %s: a PNG of %ux%u cannot be held\n", filename, width, height), false;
  }
  // Transparent pixels are laid on white, as on a page.
  with_alpha.assign(alpha ? size_t{width} * samples * height : 0, 0);
  rows.resize(height);
  for (png_uint_32 y = 0; y < height; ++y) {
    rows[y] = alpha ? with_alpha.data() + size_t{width} * samples * y : out->row(static_cast<int32_t>(y));
  }
  png_read_image(png, rows.data());
  png_read_end(png, nullptr);
  for (png_uint_32 y = 0; alpha && y < height; ++y) {
    const uint8_t* src = rows[y];
    uint8_t* dst = out->row(static_cast<int32_t>(y));
    for (png_uint_32 x = 0; x < width; ++x) {
      const uint32_t a = src[x * samples + samples - 1];
      for (size_t c = 0; c + 1 < samples; ++c) {
        dst[x * (samples - 1) + c] = static_cast<uint8_t>((src[x * samples + c] * a + 255 * (255 - a) + 127) / 255);
      }
    }
  }
  png_uint_32 rx = 0, ry = 0;
  int unit = 0;
  if (png_get_pHYs(png, info, &rx, &ry, &unit) && unit == PNG_RESOLUTION_METER) {
    out->xres = rx * 0.0254;
    out->yres = ry * 0.0254;
  }
  png_destroy_read_struct(&png, &info, nullptr);
  return true;
}

// ---- JPEG ----

namespace {

struct JpegError {
  jpeg_error_mgr mgr;
  std::jmp_buf jump;
  char text[JMSG_LENGTH_MAX];
};

void jpeg_failed(j_common_ptr info) {
  auto* e = reinterpret_cast<JpegError*>(info->err);
  e->mgr.format_message(info, e->text);
  std::longjmp(e->jump, 1);
}

// Warnings of made-up pixels end the reading like errors; the others (extraneous bytes, unusual
// markers) leave the page as the file holds it.
void jpeg_warned(j_common_ptr info, int level) {
  if (level < 0 && kvimg::jpeg_warning_loses_data(info->err->msg_code)) jpeg_failed(info);
}

}  // namespace

bool read_jpeg(elf_state* state, const char* filename, Raster* out) {
  File f(std::fopen(filename, "rb"));
  if (!f) return fail(state, "QELReadFile2QELIMAGE: %s cannot be opened: %s\n", filename, std::strerror(errno)), false;
  // In memory, not a register: a jump back from the library does not restore registers.
  const volatile int64_t file_bytes = file_length(f.get());
  jpeg_decompress_struct info{};
  JpegError error{};
  info.err = jpeg_std_error(&error.mgr);
  error.mgr.error_exit = jpeg_failed;
  error.mgr.emit_message = jpeg_warned;
  if (setjmp(error.jump)) {
    jpeg_destroy_decompress(&info);
    return fail(state, "QELReadFile2QELIMAGE: %s: %s\n", filename, error.text), false;
  }
  jpeg_create_decompress(&info);
  jpeg_stdio_src(&info, f.get());
  jpeg_read_header(&info, TRUE);
  if (info.jpeg_color_space == JCS_CMYK || info.jpeg_color_space == JCS_YCCK) {
    jpeg_destroy_decompress(&info);
    return fail(state, "QELReadFile2QELIMAGE: %s: CMYK JPEG is not read\n", filename), false;
  }
  char why[200];
  if (!kvimg::jpeg_frame_fits(&info, file_bytes, max_pixels, why, sizeof why)) {
    jpeg_destroy_decompress(&info);
    return fail(state, "QELReadFile2QELIMAGE: %s: %s\n", filename, why), false;
  }
  info.mem->max_memory_to_use = kvimg::jpeg_memory_limit(max_pixels);
  const bool grey = info.num_components == 1;
  info.out_color_space = grey ? JCS_GRAYSCALE : JCS_RGB;
  jpeg_calc_output_dimensions(&info);
  if (!out->allocate(static_cast<int32_t>(info.output_width), static_cast<int32_t>(info.output_height),
                     grey ? Form::Grey : Form::Rgb)) {
    jpeg_destroy_decompress(&info);
    return fail(state, "QELReadFile2QELIMAGE: %s: the JPEG is too large\n", filename), false;
  }
  jpeg_start_decompress(&info);
  while (info.output_scanline < info.output_height) {
    JSAMPROW row = out->row(static_cast<int32_t>(info.output_scanline));
    jpeg_read_scanlines(&info, &row, 1);
  }
  if (info.saw_JFIF_marker && info.X_density && info.Y_density && info.density_unit) {
    set_resolution(out, info.X_density, info.Y_density, info.density_unit == 2);
  }
  jpeg_finish_decompress(&info);
  jpeg_destroy_decompress(&info);
  return true;
}

// ---- GIF ----

namespace {
const char* gif_reason(int error) {
  const char* text = GifErrorString(error);
  return text ? text : "not a GIF file the reader takes";
}
}  // namespace

bool read_gif(elf_state* state, const char* filename, Raster* out) {
  int error = 0;
  GifFileType* gif = DGifOpenFileName(filename, &error);
  if (!gif) return fail(state, "QELReadFile2QELIMAGE: %s: %s\n", filename, gif_reason(error)), false;
  struct Closer {
    GifFileType* g;
    ~Closer() {
      int e;
      DGifCloseFile(g, &e);
    }
  } closer{gif};
  if (DGifSlurp(gif) != GIF_OK || gif->ImageCount < 1) {
    return fail(state, "QELReadFile2QELIMAGE: %s: %s\n", filename, gif_reason(gif->Error)), false;
  }
  const SavedImage& frame = gif->SavedImages[0];
  const ColorMapObject* map = frame.ImageDesc.ColorMap ? frame.ImageDesc.ColorMap : gif->SColorMap;
  if (!map) return fail(state, "QELReadFile2QELIMAGE: %s: the GIF has no colour map\n", filename), false;
  const int32_t width = gif->SWidth > 0 ? gif->SWidth : frame.ImageDesc.Width;
  const int32_t height = gif->SHeight > 0 ? gif->SHeight : frame.ImageDesc.Height;
  if (!out->allocate(width, height, Form::Rgb)) {
    return fail(state, "QELReadFile2QELIMAGE: %s: the GIF is too large\n", filename), false;
  }
  const GifColorType background = gif->SColorMap && gif->SBackGroundColor < gif->SColorMap->ColorCount
                                      ? gif->SColorMap->Colors[gif->SBackGroundColor]
                                      : GifColorType{255, 255, 255};
  for (int32_t y = 0; y < height; ++y) {
    uint8_t* dst = out->row(y);
    for (int32_t x = 0; x < width; ++x) {
      GifColorType c = background;
      const int32_t fx = x - frame.ImageDesc.Left, fy = y - frame.ImageDesc.Top;
      if (fx >= 0 && fy >= 0 && fx < frame.ImageDesc.Width && fy < frame.ImageDesc.Height) {
        const int index = frame.RasterBits[static_cast<size_t>(fy) * frame.ImageDesc.Width + fx];
        if (index < map->ColorCount) c = map->Colors[index];
      }
      dst[x * 3] = c.Red;
      dst[x * 3 + 1] = c.Green;
      dst[x * 3 + 2] = c.Blue;
    }
  }
  return true;
}

}  // namespace kvraster
