// The XPS writing scripts (xps_write.h). A package is built unpacked in a temporary folder, one
// FixedPage and its image parts per "add", so that memory follows one page; "close" adds the
// document parts (ECMA-388 / XPS 1.0: FixedDocumentSequence, FixedDocument, relationships,
// content types, core properties), signs the folder when asked and zips it.

#include "xps_write.h"

#include <dirent.h>
#include <fcntl.h>
#include <ftw.h>
#include <png.h>
#include <tiffio.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zip.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include "kvng_print.h"
#include "qelinterp.h"
#include "safe_output.h"

namespace {

constexpr char kType[] = "XpsPackage";
constexpr char kScript[] = "docio/docioXPSWrite.elf";
constexpr char kXpsNs[] = "http://schemas.microsoft.com/xps/2005/06";
constexpr char kRelNs[] = "http://schemas.openxmlformats.org/package/2006/relationships";
constexpr char kDocument[] = "Documents/1/FixedDocument.fdoc";
// A layer resolution we cannot use (0, negative, absurd) is taken as the scanners' usual one.
constexpr double kDefaultDpi = 300.0;
// XPS counts its units in 1/96 inch.
constexpr double kViewboxDpi = 96.0;

struct XpsPackageRecord {
  elf_object hdr;
  char* folder;     // the unpacked package, owned; null before "open" and after "close"
  int32_t pages;
  char* fontPart;   // the font part the package's text is set in, owned; null until a page has text
};

XpsPackageRecord* record(elf_object* obj) {
  return elfIsType(obj, kType) ? reinterpret_cast<XpsPackageRecord*>(obj) : nullptr;
}

int remove_entry(const char* path, const struct stat*, int, struct FTW*) { return std::remove(path); }

void remove_folder(char* folder) {
  if (!folder) return;
  nftw(folder, remove_entry, 16, FTW_DEPTH | FTW_PHYS);
  _elfFree(folder);
}

void package_free(elf_object* obj) {
  if (!obj || obj->refCount > 0) return;
  XpsPackageRecord* r = record(obj);
  // A package never closed leaves nothing behind.
  if (r) {
    remove_folder(r->folder);
    _elfFree(r->fontPart);
  }
  elfFinishObject(obj);
  _elfFree(obj);
}

void package_reset(elf_object* obj, elf_state* state) { obj->state = state; }
int package_empty(elf_object* obj) { return record(obj) && !record(obj)->folder ? 1 : 0; }
elf_object* package_copy(elf_object*) { return nullptr; }  // a package being written has one owner
int package_set(elf_state*, elf_object*, const char*, elf_object*) { return -1; }
elf_object* package_get(elf_state*, elf_object*, const char*) { return nullptr; }
int package_cycle(elf_object*, elf_object*) { return 0; }
int package_equal(elf_object* a, elf_object* b) { return a == b ? 1 : 0; }

const elf_type_ops kOps = {package_reset, package_empty, nullptr,      package_copy, nullptr,      nullptr,
                           package_free,  package_set,   package_get, package_cycle, package_equal};

int fail(elf_state* state, int code, const char* format, ...) __attribute__((format(printf, 3, 4)));
int fail(elf_state* state, int code, const char* format, ...) {
  char text[1024];
  va_list ap;
  va_start(ap, format);
  std::vsnprintf(text, sizeof text, format, ap);
  va_end(ap);
  return setStatus(state, code, QEL_SEVERITY_ERROR, "%s: %s\n", kScript, text);
}

std::string number(double v) {
  char text[64];
  std::snprintf(text, sizeof text, "%.4f", v);
  std::string s = text;
  while (!s.empty() && s.back() == '0') s.pop_back();
  if (!s.empty() && s.back() == '.') s.pop_back();
  return s == "-0" ? "0" : s;
}

std::string escaped(const char* text) {
  std::string out;
  for (const char* p = text; *p; ++p) {
    switch (*p) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      default: out += *p;
    }
  }
  return out;
}

bool write_text(const std::string& path, const std::string& text, bool append = false) {
  FILE* f = std::fopen(path.c_str(), append ? "ab" : "wb");
  if (!f) return false;
  const bool ok = std::fwrite(text.data(), 1, text.size(), f) == text.size();
  return std::fclose(f) == 0 && ok;
}

bool make_folders(const std::string& root, std::initializer_list<const char*> folders) {
  for (const char* f : folders) {
    if (mkdir((root + "/" + f).c_str(), 0700) != 0 && errno != EEXIST) return false;
  }
  return true;
}

// ---- Image parts ----

struct LayerPixels {
  std::vector<uint8_t> bytes;  // the strips of the layer, in order
};

bool gather(elf_object* data, LayerPixels* out) {
  for (elf_object* p = data; p; p = reinterpret_cast<elf_POINTER*>(p)->next) {
    if (!elfIsType(p, "POINTER")) return false;
    const auto* ptr = reinterpret_cast<elf_POINTER*>(p);
    if (ptr->length && !ptr->data) return false;
    const auto* b = static_cast<const uint8_t*>(ptr->data);
    out->bytes.insert(out->bytes.end(), b, b + ptr->length);
  }
  return true;
}

struct PngTarget {
  FILE* file;
  char message[200];
};

void png_failed(png_structp png, png_const_charp text) {
  auto* t = static_cast<PngTarget*>(png_get_error_ptr(png));
  std::snprintf(t->message, sizeof t->message, "%s", text);
  png_longjmp(png, 1);
}

void png_warned(png_structp, png_const_charp) {}

// A PNG of an 8-bit grey or RGB layer, with dpi in pHYs.
bool write_png(const std::string& path, const elf_QELHDR* h, const uint8_t* rows, size_t stride, double dpi,
               std::string* why) {
  // Grey WhiteIsZero (0) stores black as the highest value.
  const bool invert = h->samplesPerPixel == 1 && h->photometric == 0;
  PngTarget target{std::fopen(path.c_str(), "wb"), {}};
  if (!target.file) {
    *why = "cannot create " + path + ": " + std::strerror(errno);
    return false;
  }
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &target, png_failed, png_warned);
  png_infop info = png ? png_create_info_struct(png) : nullptr;
  std::vector<uint8_t> row(stride);
  bool ok = png && info;
  if (ok && setjmp(png_jmpbuf(png)) == 0) {
    png_init_io(png, target.file);
    png_set_compression_level(png, 6);
    png_set_IHDR(png, info, static_cast<png_uint_32>(h->width), static_cast<png_uint_32>(h->height), 8,
                 h->samplesPerPixel == 3 ? PNG_COLOR_TYPE_RGB : PNG_COLOR_TYPE_GRAY, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    const auto ppm = static_cast<png_uint_32>(std::lround(dpi / 0.0254));
    png_set_pHYs(png, info, ppm, ppm, PNG_RESOLUTION_METER);
    png_write_info(png, info);
    for (int32_t y = 0; y < h->height; ++y) {
      const uint8_t* src = rows + static_cast<size_t>(y) * stride;
      if (invert) {
        for (size_t i = 0; i < stride; ++i) row[i] = static_cast<uint8_t>(~src[i]);
      } else {
        std::memcpy(row.data(), src, stride);
      }
      png_write_row(png, row.data());
    }
    png_write_end(png, info);
  } else if (ok) {
    ok = false;
    *why = std::string("PNG coding failed: ") + target.message;
  } else {
    *why = "no memory for PNG coding";
  }
  png_destroy_write_struct(png ? &png : nullptr, info ? &info : nullptr);
  if (std::fclose(target.file) != 0 && ok) {
    ok = false;
    *why = "cannot write " + path + ": " + std::strerror(errno);
  }
  return ok;
}

// A bilevel layer as a CCITT Group 4 TIFF (T.6): lossless, and a scanned page in about a third
// less than a 1-bit PNG takes. 1 is black (WhiteIsZero), as in the layer when its photometric is
// the bilevel one.
bool write_tiff_g4(const std::string& path, const elf_QELHDR* h, const uint8_t* rows, size_t stride, double dpi,
                   std::string* why) {
  TIFFErrorHandler quiet = TIFFSetErrorHandler(nullptr);
  TIFFErrorHandler quietWarnings = TIFFSetWarningHandler(nullptr);
  TIFF* t = TIFFOpen(path.c_str(), "w");
  bool ok = t != nullptr;
  const bool invert = h->photometric != QEL_PHOTO_BILEVEL;
  if (ok) {
    ok = TIFFSetField(t, TIFFTAG_IMAGEWIDTH, static_cast<uint32_t>(h->width)) &&
         TIFFSetField(t, TIFFTAG_IMAGELENGTH, static_cast<uint32_t>(h->height)) &&
         TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, 1) && TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, 1) &&
         TIFFSetField(t, TIFFTAG_COMPRESSION, COMPRESSION_CCITTFAX4) &&
         TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISWHITE) &&
         TIFFSetField(t, TIFFTAG_FILLORDER, FILLORDER_MSB2LSB) &&
         TIFFSetField(t, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG) &&
         TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, static_cast<uint32_t>(h->height)) &&
         TIFFSetField(t, TIFFTAG_XRESOLUTION, static_cast<float>(dpi)) &&
         TIFFSetField(t, TIFFTAG_YRESOLUTION, static_cast<float>(dpi)) &&
         TIFFSetField(t, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH);
    std::vector<uint8_t> row(stride);
    for (int32_t y = 0; ok && y < h->height; ++y) {
      const uint8_t* src = rows + static_cast<size_t>(y) * stride;
      for (size_t i = 0; i < stride; ++i) row[i] = invert ? static_cast<uint8_t>(~src[i]) : src[i];
      ok = TIFFWriteScanline(t, row.data(), static_cast<uint32_t>(y), 0) == 1;
    }
    ok = ok && TIFFWriteDirectory(t) == 1;
  }
  // The system's reason, taken before closing can change it.
  const int reason = errno != 0 ? errno : EIO;
  if (t) TIFFClose(t);
  TIFFSetErrorHandler(quiet);
  TIFFSetWarningHandler(quietWarnings);
  if (!ok) *why = "cannot write the G4 image part " + path + ": " + std::strerror(reason);
  return ok;
}

// The resolution a JPEG's JFIF header gives, or 96 (what XPS consumers take without one).
double jpeg_dpi(const std::vector<uint8_t>& b) {
  if (b.size() < 18 || b[0] != 0xFF || b[1] != 0xD8 || b[2] != 0xFF || b[3] != 0xE0 ||
      std::memcmp(&b[6], "JFIF", 5) != 0) {
    return 96.0;
  }
  const double x = b[14] << 8 | b[15];
  if (x <= 0) return 96.0;
  if (b[13] == 1) return x;
  if (b[13] == 2) return x * 2.54;
  return 96.0;
}

struct PagePart {
  std::string name;  // part name, from the package root
  double dpi;        // the resolution the image part itself declares
  int32_t width, height;
};

// Writes the image part of one raw or JPEG layer; false with the reason.
bool write_layer_image(const std::string& root, int32_t page, int32_t index, const elf_QELLAYER* layer,
                       PagePart* part, std::string* why) {
  const elf_QELHDR* h = qelHdr(layer->description);
  if (!h || h->width < 1 || h->height < 1 || h->samplesPerPixel < 1 || !h->bitsPerSample) {
    *why = "a layer without a usable description";
    return false;
  }
  LayerPixels px;
  if (!gather(layer->data, &px)) {
    *why = "a layer whose data is not readable";
    return false;
  }
  part->width = h->width;
  part->height = h->height;
  char name[96];
  if (h->compression == QEL_COMPRESSION_JPEG) {
    // The bytes go into the package as they are: at least they must be a JPEG stream.
    if (px.bytes.size() < 4 || px.bytes[0] != 0xFF || px.bytes[1] != 0xD8) {
      *why = "a JPEG layer whose data is no JPEG stream";
      return false;
    }
    std::snprintf(name, sizeof name, "Documents/1/Resources/Images/%d_%d.jpg", page, index);
    part->name = name;
    part->dpi = jpeg_dpi(px.bytes);
    FILE* f = std::fopen((root + "/" + name).c_str(), "wb");
    const bool ok = f && std::fwrite(px.bytes.data(), 1, px.bytes.size(), f) == px.bytes.size();
    if ((f && std::fclose(f) != 0) || !ok) {
      *why = std::string("cannot write the image part ") + name + ": " + std::strerror(errno);
      return false;
    }
    return true;
  }
  if (h->compression != QEL_COMPRESSION_NONE) {
    *why = "a layer coded as " + std::to_string(h->compression) +
           " (XPS pages take raw or JPEG layers; decode it first)";
    return false;
  }
  const int32_t bits = h->bitsPerSample[0];
  const bool usable = (h->samplesPerPixel == 1 && (bits == 1 || bits == 8)) || (h->samplesPerPixel == 3 && bits == 8);
  if (!usable || (h->samplesPerPixel == 3 && h->interleave == 0 && h->bitsPerSampleCount > 1 &&
                  h->bytesPerRowCount > 1)) {
    *why = "a layer of " + std::to_string(h->samplesPerPixel) + " samples of " + std::to_string(bits) +
           " bits (XPS pages take bilevel, 8-bit grey and 8-bit RGB layers)";
    return false;
  }
  const size_t need = (static_cast<size_t>(h->width) * static_cast<size_t>(h->samplesPerPixel * bits) + 7) / 8;
  const size_t stride =
      h->bytesPerRow && h->bytesPerRowCount > 0 && h->bytesPerRow[0] > 0 ? static_cast<size_t>(h->bytesPerRow[0]) : need;
  if (stride < need || px.bytes.size() / stride < static_cast<size_t>(h->height)) {
    *why = "a layer whose data does not cover its rows";
    return false;
  }
  const bool bilevel = h->samplesPerPixel == 1 && bits == 1;
  std::snprintf(name, sizeof name, "Documents/1/Resources/Images/%d_%d.%s", page, index, bilevel ? "tif" : "png");
  part->name = name;
  // The PNG declares 96 dots per inch, so that its Viewbox is counted in its pixels: renderers
  // that compute the image extent in single precision (mupdf) then map pixels to pixels exactly,
  // where 38.4 units for 120 pixels at 300 dpi would be resampled. The page's resolution lives in
  // the Viewport.
  part->dpi = kViewboxDpi;
  if (bilevel) return write_tiff_g4(root + "/" + name, h, px.bytes.data(), stride, kViewboxDpi, why);
  return write_png(root + "/" + name, h, px.bytes.data(), stride, kViewboxDpi, why);
}

double usable_dpi(double dpi, double fallback) { return dpi > 0 && dpi < 100000 ? dpi : fallback; }

// ---- Text layers ----

// The font file text layers are set in: glyph runs are invisible and carry their own advances,
// so one face serves every run; the font table's widths are this face's.
#ifndef XPSWRITE_TEXT_FONT
#define XPSWRITE_TEXT_FONT "/usr/share/fonts/opentype/urw-base35/NimbusSans-Regular.otf"
#endif
// A font file larger than this is no text face.
constexpr long kMaxFontBytes = 16L << 20;

bool read_file(const char* path, std::vector<uint8_t>* bytes, std::string* why) {
  FILE* f = std::fopen(path, "rb");
  if (!f) {
    *why = std::string("cannot open the text font ") + path + ": " + std::strerror(errno) +
           " (package fonts-urw-base35)";
    return false;
  }
  bytes->clear();
  uint8_t buffer[65536];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0 && static_cast<long>(bytes->size()) <= kMaxFontBytes) {
    bytes->insert(bytes->end(), buffer, buffer + n);
  }
  const bool ok = !std::ferror(f) && bytes->size() > 32 && static_cast<long>(bytes->size()) <= kMaxFontBytes;
  std::fclose(f);
  if (!ok) *why = std::string("the text font ") + path + " cannot be read";
  return ok;
}

// The font goes in obfuscated (ECMA-388 9.1.7.3): its embedding licence allows preview and print
// only. The part is named by a GUID made from the font's bytes, so that runs give identical
// packages; the first 32 bytes are XORed with the GUID's bytes taken in reverse order.
int write_font_part(elf_state* state, XpsPackageRecord* p) {
  std::vector<uint8_t> font;
  std::string why;
  if (!read_file(XPSWRITE_TEXT_FONT, &font, &why)) return fail(state, QEL_STATUS_FAILED, "%s", why.c_str());
  uint64_t h[2] = {0xcbf29ce484222325ULL, 0x84222325cbf29ce4ULL};
  for (uint8_t b : font) {
    h[0] = (h[0] ^ b) * 0x100000001b3ULL;
    h[1] = (h[1] ^ (b ^ 0x5a)) * 0x100000001b3ULL;
  }
  uint8_t key[16];
  for (int i = 0; i < 16; ++i) key[i] = static_cast<uint8_t>(h[i / 8] >> (8 * (i % 8)));
  char guid[40];
  std::snprintf(guid, sizeof guid, "%02X%02X%02X%02X-%02X%02X-%02X%02X-%02X%02X-%02X%02X%02X%02X%02X%02X", key[0],
                key[1], key[2], key[3], key[4], key[5], key[6], key[7], key[8], key[9], key[10], key[11], key[12],
                key[13], key[14], key[15]);
  for (int i = 0; i < 16; ++i) {
    font[static_cast<size_t>(i)] ^= key[15 - i];
    font[static_cast<size_t>(i) + 16] ^= key[15 - i];
  }
  const std::string name = std::string("Documents/1/Resources/Fonts/") + guid + ".odttf";
  FILE* f = std::fopen((std::string(p->folder) + "/" + name).c_str(), "wb");
  const bool written = f && std::fwrite(font.data(), 1, font.size(), f) == font.size();
  if ((f && std::fclose(f) != 0) || !written) return fail(state, QEL_STATUS_FAILED, "cannot write the font part");
  p->fontPart = elfStrDup(name.c_str());
  return p->fontPart ? QEL_STATUS_OK : fail(state, QEL_STATUS_FAILED, "no memory");
}

// The text of a text layer, up to its first zero byte.
bool layer_text(const elf_QELLAYER* layer, std::string* text) {
  LayerPixels bytes;
  if (!gather(layer->data, &bytes)) return false;
  // A layer without bytes has no data pointer at all: no string function may see it.
  const auto end = std::find(bytes.bytes.begin(), bytes.bytes.end(), uint8_t{0});
  text->assign(bytes.bytes.begin(), end);
  return true;
}

// The Glyphs of a text layer, made by libpagefiler's text-layer converter (QELXML2XPSXML) as a
// Canvas: text-layer XML and the XPS reader's glyph text, whose runs are in the layer's pixels.
// Plain text and PDF operators cannot be placed and are left out with a warning. The Canvas is
// appended to *markup, nothing for a layer without runs.
int text_glyphs(elf_state* state, XpsPackageRecord* p, const elf_QELLAYER* layer, int32_t pageWidth,
                int32_t pageHeight, double xres, double yres, int32_t pgNum, int32_t index, std::string* markup) {
  const elf_QELTEXT* t = qelText(layer->text);
  if (!t) return fail(state, QEL_STATUS_INVALID, "page %d: text layer %d has no text object", pgNum, index);
  if (t->kind != QEL_TEXT_XML && t->kind != QEL_TEXT_XPS) {
    KVngError("%s: page %d: Unable to pass %s text data to XPS, skipping text layer %d\n", kScript, pgNum,
              t->kind == QEL_TEXT_PLAIN ? "plain" : t->kind == QEL_TEXT_PDF ? "PDF" : "unknown", index);
    return QEL_STATUS_OK;
  }
  std::string xml;
  if (!layer_text(layer, &xml)) return fail(state, QEL_STATUS_INVALID, "page %d: text layer %d has no data", pgNum, index);
  if (xml.empty()) return QEL_STATUS_OK;
  static elf_method_proc convert = nullptr;
  char why[4200];
  void* place = nullptr;
  if (!convert && elfBindSharedProc("pagefiler", "QELXML2XPSXML", &place, why, sizeof why)) {
    convert = reinterpret_cast<elf_method_proc>(place);
  }
  if (!convert) return fail(state, QEL_STATUS_FAILED, "the text-layer converter is not available: %s", why);
  // Layer pixels to page pixels: the layer's own matrix, its resolution, its place on the page.
  const double lxres = usable_dpi(layer->xres, xres), lyres = usable_dpi(layer->yres, lxres);
  QELTransform2D m = layer->transform ? *layer->transform : QELTransform2D{{1, 0, 0, 1, 0, 0}};
  QELTransform2DScale(&m, xres / lxres, yres / lyres);
  QELTransform2DTranslate(&m, layer->x, layer->y);
  bool placed = true;
  for (double v : m.m) placed = placed && std::isfinite(v) && std::fabs(v) < 1e9;
  if (!placed) return fail(state, QEL_STATUS_INVALID, "page %d: text layer %d cannot be placed on the page", pgNum, index);
  // The converter takes the layer's size in whole pixels; a size it cannot hold is the page's.
  const auto pixels = [](double v, int32_t page) {
    return v >= 1 && v < 1e9 ? static_cast<int32_t>(v + 0.5) : page;
  };
  elf_object* matrix = lstBuildArgs(state, "a:d", m.m[0], 0, "b:d", m.m[1], 0, "c:d", m.m[2], 0, "d:d", m.m[3], 0,
                                    "e:d", m.m[4], 0, "f:d", m.m[5], 0, LST_END);
  elf_object* args = matrix ? lstBuildArgs(state, "@qelxml:s", xml.c_str(), 0, "@width:i",
                                           pixels(layer->width, pageWidth), 0, "@height:i",
                                           pixels(layer->height, pageHeight), 0, "@xres:d", xres, 0,
                                           "@yres:d", yres, 0, "@matrix:", matrix, 0, LST_END)
                            : nullptr;
  // The arguments hold their own copy: this one would only double what a large layer costs.
  std::string().swap(xml);
  if (!args) {
    if (matrix) elfDiscard(matrix);
    return fail(state, QEL_STATUS_FAILED, "no memory");
  }
  elfRefUp(args);
  elf_object* result = nullptr;
  int status = convert(state, args, &result);
  elfRefDown(args);
  const char *glyphs = nullptr, *font = nullptr;
  if (status == QEL_STATUS_OK &&
      lstScanArgs(result, "xpsxml:s", LST_REQUIRED, &glyphs, "font:s", LST_REQUIRED, &font, LST_END) != 1) {
    status = fail(state, QEL_STATUS_FAILED, "page %d: the text-layer converter gave no markup", pgNum);
  } else if (status != QEL_STATUS_OK) {
    // The converter's own message says why; the page is named beside it.
    char message[ELF_MESSAGE_MAX];
    std::snprintf(message, sizeof message, "%s", getStatusMessage(state));
    message[strcspn(message, "\n")] = '\0';
    status = fail(state, status, "page %d: text layer %d: %s", pgNum, index, message);
  }
  if (status == QEL_STATUS_OK && !p->fontPart) status = write_font_part(state, p);
  if (status == QEL_STATUS_OK) {
    // The converter names its font by file name; in the package that is the font part. The
    // markup is copied once with the names exchanged on the way: rewriting it in place would move
    // the rest of the text for every run.
    const std::string from = "FontUri=\"" + escaped(font) + "\"", to = "FontUri=\"/" + std::string(p->fontPart) + "\"";
    const std::string_view all(glyphs);
    markup->reserve(markup->size() + all.size());
    size_t done = 0;
    for (size_t at = all.find(from); at != std::string_view::npos; at = all.find(from, done)) {
      markup->append(all, done, at - done).append(to);
      done = at + from.size();
    }
    markup->append(all, done);
  }
  if (result) elfDiscard(result);
  return status;
}

// ---- The operations ----

struct Common {
  const char* oper = nullptr;
  const char* outfile = nullptr;
  elf_object* package = nullptr;
  int32_t compLevel = 0;
};

int open_package(elf_state* state, XpsPackageRecord* p, const Common& c) {
  if (p->folder) return fail(state, QEL_STATUS_INVALID, "the package for %s is open already", c.outfile);
  const char* tmp = std::getenv("TMPDIR");
  std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/xps-package-XXXXXX";
  std::vector<char> buf(pattern.begin(), pattern.end());
  buf.push_back('\0');
  if (!mkdtemp(buf.data())) {
    return fail(state, QEL_STATUS_FAILED, "cannot make a folder for %s: %s", c.outfile, std::strerror(errno));
  }
  p->folder = elfStrDup(buf.data());
  if (!p->folder) {
    rmdir(buf.data());
    return fail(state, QEL_STATUS_FAILED, "no memory");
  }
  p->pages = 0;
  _elfFree(p->fontPart);
  p->fontPart = nullptr;
  const std::string root = p->folder;
  if (!make_folders(root, {"_rels", "docProps", "Documents", "Documents/1", "Documents/1/_rels", "Documents/1/Pages",
                           "Documents/1/Pages/_rels", "Documents/1/Resources", "Documents/1/Resources/Images",
                           "Documents/1/Resources/Fonts"}) ||
      !write_text(root + "/" + kDocument, std::string("<FixedDocument xmlns=\"") + kXpsNs + "\">\n")) {
    remove_folder(p->folder);
    p->folder = nullptr;
    return fail(state, QEL_STATUS_FAILED, "cannot write in the folder of %s", c.outfile);
  }
  return QEL_STATUS_OK;
}

int add_page(elf_state* state, XpsPackageRecord* p, const Common& c, elf_object* args) {
  elf_object* image = nullptr;
  int32_t pgNum = 0, isJPEGXR = 0, isTIFF = 0, doCoalesce = 0, unit = 0;
  double page_x = 0, page_y = 0;
  if (!lstScanArgs(args, "page:QELIMAGE", LST_REQUIRED, &image, "pgNum:i", LST_REQUIRED, &pgNum, "isJPEGXR:i",
                   LST_OPTIONAL, &isJPEGXR, "isTIFF:i", LST_OPTIONAL, &isTIFF, "doCoalesce:i", LST_OPTIONAL,
                   &doCoalesce, "unit:i", LST_OPTIONAL, &unit, "page_x:d", LST_OPTIONAL, &page_x, "page_y:d",
                   LST_OPTIONAL, &page_y, LST_END)) {
    return fail(state, QEL_STATUS_INVALID, "\"add\" needs page:QELIMAGE and pgNum:i");
  }
  if (!p->folder) return fail(state, QEL_STATUS_INVALID, "the package for %s is not open", c.outfile);
  if (pgNum != p->pages + 1) return fail(state, QEL_STATUS_INVALID, "page %d comes after page %d", pgNum, p->pages);
  if (isJPEGXR) return fail(state, QEL_STATUS_INVALID, "JPEG XR image parts cannot be written in this build");
  const elf_QELIMAGE* im = qelImage(image);
  if (!im || im->width < 1 || im->height < 1) return fail(state, QEL_STATUS_INVALID, "page %d has no size", pgNum);
  const double xres = usable_dpi(im->xres, kDefaultDpi), yres = usable_dpi(im->yres, xres);
  // Page units of XPS are 1/96 inch. The page is rounded up to whole units: some consumers
  // (mupdf) read the page size as an integer, and a page cut short would lose the last rows.
  const double width = std::ceil(im->width * 96.0 / xres - 1e-9), height = std::ceil(im->height * 96.0 / yres - 1e-9);
  const std::string root = p->folder;
  std::string body, rels;
  int32_t images = 0;
  bool fonts = false;
  const int32_t count = elflistLength(im->layers);
  for (int32_t i = 0; i < count; ++i) {
    const elf_QELLAYER* layer = qelLayer(QELGetLayer(image, i));
    if (!layer || layer->kind == QEL_KIND_JBIG2_DICT || layer->kind == QEL_KIND_THUMBNAIL) continue;
    if (layer->kind == QEL_KIND_TEXT) {
      const size_t before = body.size();
      const int status = text_glyphs(state, p, layer, im->width, im->height, xres, yres, pgNum, i, &body);
      if (status != QEL_STATUS_OK) return status;
      fonts = fonts || body.size() > before;
      continue;
    }
    if (layer->kind != QEL_KIND_IMAGE && layer->kind != QEL_KIND_BILEVEL) {
      return fail(state, QEL_STATUS_INVALID, "page %d: layer %d is of kind %d, which XPS pages here do not take",
                  pgNum, i, layer->kind);
    }
    if (layer->transform && !QELTransform2DIsIdentity(layer->transform)) {
      return fail(state, QEL_STATUS_INVALID, "page %d: layer %d carries a transform, which is not applied here",
                  pgNum, i);
    }
    const double lxres = usable_dpi(layer->xres, xres), lyres = usable_dpi(layer->yres, lxres);
    PagePart part{};
    std::string why;
    if (!write_layer_image(root, pgNum, ++images, layer, &part, &why)) {
      return fail(state, QEL_STATUS_INVALID, "page %d: %s", pgNum, why.c_str());
    }
    // The layer's box on the page, in page pixels, then in XPS units.
    const double lw = layer->width > 0 ? layer->width : part.width * xres / lxres;
    const double lh = layer->height > 0 ? layer->height : part.height * yres / lyres;
    const double x0 = layer->x * 96.0 / xres, y0 = layer->y * 96.0 / yres;
    const double x1 = (layer->x + lw) * 96.0 / xres, y1 = (layer->y + lh) * 96.0 / yres;
    const double pdpi = usable_dpi(part.dpi, 96.0);
    body += "  <Path Data=\"M " + number(x0) + "," + number(y0) + " L " + number(x1) + "," + number(y0) + " " +
            number(x1) + "," + number(y1) + " " + number(x0) + "," + number(y1) + " Z\">\n" +
            "    <Path.Fill>\n      <ImageBrush ImageSource=\"/" + part.name + "\" Viewbox=\"0,0," +
            number(part.width * 96.0 / pdpi) + "," + number(part.height * 96.0 / pdpi) +
            "\" ViewboxUnits=\"Absolute\" Viewport=\"" + number(x0) + "," + number(y0) + "," + number(x1 - x0) + "," +
            number(y1 - y0) + "\" ViewportUnits=\"Absolute\" TileMode=\"None\"/>\n    </Path.Fill>\n  </Path>\n";
    rels += "  <Relationship Id=\"R" + std::to_string(images) + "\" Type=\"" + kXpsNs +
            "/required-resource\" Target=\"/" + part.name + "\"/>\n";
  }
  if (fonts) {
    rels += "  <Relationship Id=\"F1\" Type=\"" + std::string(kXpsNs) + "/required-resource\" Target=\"/" +
            p->fontPart + "\"/>\n";
  }
  const std::string page = "Documents/1/Pages/" + std::to_string(pgNum) + ".fpage";
  const std::string xml = "<FixedPage xmlns=\"" + std::string(kXpsNs) + "\" Width=\"" + number(width) + "\" Height=\"" +
                          number(height) + "\" xml:lang=\"und\">\n" + body + "</FixedPage>\n";
  bool ok = write_text(root + "/" + page, xml);
  // Every page, document and sequence part has its relationships part, empty or not: the
  // signing method signs each of them.
  if (ok) {
    ok = write_text(root + "/Documents/1/Pages/_rels/" + std::to_string(pgNum) + ".fpage.rels",
                    "<Relationships xmlns=\"" + std::string(kRelNs) + "\">\n" + rels + "</Relationships>\n");
  }
  if (ok) {
    ok = write_text(root + "/" + kDocument,
                    "  <PageContent Source=\"/" + page + "\" Width=\"" + number(width) + "\" Height=\"" +
                        number(height) + "\"/>\n",
                    true);
  }
  if (!ok) return fail(state, QEL_STATUS_FAILED, "cannot write page %d of %s", pgNum, c.outfile);
  ++p->pages;
  return QEL_STATUS_OK;
}

struct CloseArgs {
  const char* dateTime = nullptr;
  const char* creator = nullptr;
  const char* title = nullptr;
  const char* keyword = nullptr;
  const char* certFile = nullptr;
  const char* certPassword = nullptr;
  const char* intent = nullptr;
  const char* signingLocale = nullptr;
  elf_object* spotLocation = nullptr;
  elf_object* requests = nullptr;
};

bool write_document_parts(const std::string& root, const CloseArgs& a) {
  std::string core =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<cp:coreProperties "
      "xmlns:cp=\"http://schemas.openxmlformats.org/package/2006/metadata/core-properties\" "
      "xmlns:dc=\"http://purl.org/dc/elements/1.1/\" xmlns:dcterms=\"http://purl.org/dc/terms/\" "
      "xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\">\n";
  if (a.creator) core += "  <dc:creator>" + escaped(a.creator) + "</dc:creator>\n";
  if (a.title) core += "  <dc:title>" + escaped(a.title) + "</dc:title>\n";
  if (a.keyword) core += "  <cp:keywords>" + escaped(a.keyword) + "</cp:keywords>\n";
  core += "  <dcterms:created xsi:type=\"dcterms:W3CDTF\">" + escaped(a.dateTime) + "</dcterms:created>\n";
  core += "  <dcterms:modified xsi:type=\"dcterms:W3CDTF\">" + escaped(a.dateTime) + "</dcterms:modified>\n";
  core += "</cp:coreProperties>\n";
  const std::string rel = std::string("<Relationships xmlns=\"") + kRelNs + "\">\n";
  return write_text(root + "/" + kDocument, "</FixedDocument>\n", true) &&
         write_text(root + "/FixedDocumentSequence.fdseq",
                    std::string("<FixedDocumentSequence xmlns=\"") + kXpsNs + "\">\n  <DocumentReference Source=\"/" +
                        kDocument + "\"/>\n</FixedDocumentSequence>\n") &&
         write_text(root + "/docProps/core.xml", core) &&
         write_text(root + "/_rels/FixedDocumentSequence.fdseq.rels", rel + "</Relationships>\n") &&
         write_text(root + "/Documents/1/_rels/FixedDocument.fdoc.rels", rel + "</Relationships>\n") &&
         write_text(root + "/_rels/.rels",
                    rel + "  <Relationship Id=\"R1\" Type=\"" + kXpsNs +
                        "/fixedrepresentation\" Target=\"/FixedDocumentSequence.fdseq\"/>\n"
                        "  <Relationship Id=\"R2\" Type=\"http://schemas.openxmlformats.org/package/2006/relationships/"
                        "metadata/core-properties\" Target=\"/docProps/core.xml\"/>\n</Relationships>\n");
}

// The content types, with those of the parts signing adds when it is asked for: the signing
// method reads them to name each part's type in its references.
bool write_content_types(const std::string& root, bool signed_package) {
  std::string t =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Types "
      "xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\">\n"
      "  <Default Extension=\"rels\" ContentType=\"application/vnd.openxmlformats-package.relationships+xml\"/>\n"
      "  <Default Extension=\"fdseq\" ContentType=\"application/vnd.ms-package.xps-fixeddocumentsequence+xml\"/>\n"
      "  <Default Extension=\"fdoc\" ContentType=\"application/vnd.ms-package.xps-fixeddocument+xml\"/>\n"
      "  <Default Extension=\"fpage\" ContentType=\"application/vnd.ms-package.xps-fixedpage+xml\"/>\n"
      "  <Default Extension=\"png\" ContentType=\"image/png\"/>\n"
      "  <Default Extension=\"jpg\" ContentType=\"image/jpeg\"/>\n"
      "  <Default Extension=\"tif\" ContentType=\"image/tiff\"/>\n"
      "  <Default Extension=\"odttf\" ContentType=\"application/vnd.ms-package.obfuscated-opentype\"/>\n";
  if (signed_package) {
    t += "  <Default Extension=\"psdsor\" "
         "ContentType=\"application/vnd.openxmlformats-package.digital-signature-origin\"/>\n"
         "  <Default Extension=\"psdsxs\" "
         "ContentType=\"application/vnd.openxmlformats-package.digital-signature-xmlsignature+xml\"/>\n"
         "  <Default Extension=\"cer\" "
         "ContentType=\"application/vnd.openxmlformats-package.digital-signature-certificate\"/>\n"
         // The signing method names the signature definitions part as plain XML.
         "  <Override PartName=\"/xmls/xml_1.xaml\" ContentType=\"application/xml\"/>\n";
  }
  t += "  <Override PartName=\"/docProps/core.xml\" "
       "ContentType=\"application/vnd.openxmlformats-package.core-properties+xml\"/>\n</Types>\n";
  return write_text(root + "/[Content_Types].xml", t);
}

int sign_folder(elf_state* state, const std::string& root, const CloseArgs& a) {
  void* place = nullptr;
  char why[4200];
  if (!elfBindSharedProc("pagefiler", "XPSDSigMakeSignature", &place, why, sizeof why)) {
    return fail(state, QEL_STATUS_FAILED, "signing is not available: %s", why);
  }
  elf_object* options = lstBuildArgs(state, "certFile:s", a.certFile, 0, LST_END);
  bool ok = options != nullptr;
  if (ok && a.certPassword) ok = lstAppendArgs(options, "certPassword:s", a.certPassword, 0, LST_END);
  if (ok && a.intent) ok = lstAppendArgs(options, "intent:s", a.intent, 0, LST_END);
  if (ok && a.signingLocale) ok = lstAppendArgs(options, "signingLocale:s", a.signingLocale, 0, LST_END);
  if (ok && a.spotLocation) ok = lstAppendArgs(options, "spotLocation:", a.spotLocation, 0, LST_END);
  if (ok && a.requests) ok = lstAppendArgs(options, "requests:", a.requests, 0, LST_END);
  elf_object* call = ok ? lstBuildArgs(state, "rootPath:s", root.c_str(), 0, "options:LIST", options, 0, LST_END) : nullptr;
  if (!call) {
    if (options) elfDiscard(options);
    return fail(state, QEL_STATUS_FAILED, "no memory for the signing arguments");
  }
  elfRefUp(call);
  elf_object* result = nullptr;
  const int status = reinterpret_cast<elf_method_proc>(place)(state, call, &result);
  if (result) elfDiscard(result);
  elfRefDown(call);
  // XPSDSigMakeSignature has set the status that says why.
  return status;
}

// Entry names in a fixed order: the content types first, as consumers that stream expect. False
// with the folder or part and the reason when a folder cannot be listed or a part not looked at:
// a package without some of its parts is no result.
bool list_files(const std::string& root, const std::string& under, std::vector<std::string>* names,
                std::string* failure) {
  std::vector<std::string> here;
  const std::string folder = under.empty() ? root : root + "/" + under;
  DIR* d = opendir(folder.c_str());
  if (!d) {
    *failure = folder + ": " + std::strerror(errno);
    return false;
  }
  errno = 0;
  while (dirent* e = readdir(d)) {
    if (std::strcmp(e->d_name, ".") && std::strcmp(e->d_name, "..")) here.emplace_back(e->d_name);
    errno = 0;
  }
  const int listed = errno;
  closedir(d);
  if (listed != 0) {
    *failure = folder + ": " + std::strerror(listed);
    return false;
  }
  std::sort(here.begin(), here.end());
  for (const std::string& n : here) {
    const std::string rel = under.empty() ? n : under + "/" + n;
    struct stat st {};
    if (lstat((root + "/" + rel).c_str(), &st) != 0) {
      *failure = root + "/" + rel + ": " + std::strerror(errno);
      return false;
    }
    if (S_ISDIR(st.st_mode)) {
      if (!list_files(root, rel, names, failure)) return false;
    } else {
      names->push_back(rel);
    }
  }
  return true;
}

time_t parse_time(const char* text) {
  struct tm tm {};
  if (!text || !strptime(text, "%Y-%m-%dT%H:%M:%S", &tm)) return std::time(nullptr);
  return timegm(&tm);
}

int zip_folder(elf_state* state, const std::string& root, const char* outfile, int32_t level, time_t when) {
  std::vector<std::string> names;
  std::string failure;
  if (!list_files(root, "", &names, &failure)) {
    return fail(state, QEL_STATUS_FAILED, "cannot list the parts of %s (%s): no package is written", outfile,
                failure.c_str());
  }
  std::stable_partition(names.begin(), names.end(), [](const std::string& n) { return n == "[Content_Types].xml"; });
  // The archive is made in a temporary file beside the package's name and moved over it whole.
  SafeOut out;
  if (SafeOut_Open(&out, outfile) != 0) return fail(state, QEL_STATUS_FAILED, "%s", out.message);
  const std::string temp = out.temp;
  int error = 0;
  zip_t* z = zip_open(temp.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &error);
  if (!z) {
    zip_error_t ze;
    zip_error_init_with_code(&ze, error);
    const int status = fail(state, QEL_STATUS_FAILED, "cannot create %s: %s", outfile, zip_error_strerror(&ze));
    zip_error_fini(&ze);
    SafeOut_Abort(&out);
    return status;
  }
  for (const std::string& n : names) {
    zip_source_t* src = zip_source_file(z, (root + "/" + n).c_str(), 0, -1);
    const zip_int64_t index = src ? zip_file_add(z, n.c_str(), src, ZIP_FL_ENC_UTF_8) : -1;
    if (index < 0) {
      if (src) zip_source_free(src);
      const int status = fail(state, QEL_STATUS_FAILED, "cannot add %s to %s: %s", n.c_str(), outfile, zip_strerror(z));
      zip_discard(z);
      SafeOut_Abort(&out);
      return status;
    }
    // Image parts are compressed already.
    const bool image = n.size() > 4 && (n.compare(n.size() - 4, 4, ".png") == 0 || n.compare(n.size() - 4, 4, ".jpg") == 0 ||
                                        n.compare(n.size() - 4, 4, ".tif") == 0);
    zip_set_file_compression(z, static_cast<zip_uint64_t>(index), image ? ZIP_CM_STORE : ZIP_CM_DEFLATE,
                             image ? 0 : static_cast<zip_uint32_t>(std::clamp(level, 0, 9)));
    zip_file_set_mtime(z, static_cast<zip_uint64_t>(index), when, 0);
  }
  if (zip_close(z) != 0) {
    const int status = fail(state, QEL_STATUS_FAILED, "cannot write %s: %s", outfile, zip_strerror(z));
    zip_discard(z);
    SafeOut_Abort(&out);
    return status;
  }
  if (SafeOut_Commit(&out) != 0) return fail(state, QEL_STATUS_FAILED, "%s", out.message);
  return QEL_STATUS_OK;
}

int close_package(elf_state* state, XpsPackageRecord* p, const Common& c, elf_object* args) {
  CloseArgs a;
  if (!lstScanArgs(args, "dateTime:s", LST_REQUIRED, &a.dateTime, "creator:s", LST_OPTIONAL, &a.creator, "title:s",
                   LST_OPTIONAL, &a.title, "keyword:s", LST_OPTIONAL, &a.keyword, "certFile:s", LST_OPTIONAL,
                   &a.certFile, "certPassword:s", LST_OPTIONAL, &a.certPassword, "intent:s", LST_OPTIONAL, &a.intent,
                   "signingLocale:s", LST_OPTIONAL, &a.signingLocale, "spotLocation:", LST_OPTIONAL, &a.spotLocation,
                   "requests:", LST_OPTIONAL, &a.requests, LST_END)) {
    return fail(state, QEL_STATUS_INVALID, "\"close\" needs dateTime:s");
  }
  if (!p->folder) return fail(state, QEL_STATUS_INVALID, "the package for %s is not open", c.outfile);
  const std::string root = p->folder;
  int status = QEL_STATUS_OK;
  if (p->pages < 1) {
    status = fail(state, QEL_STATUS_INVALID, "%s has no pages; no package is written", c.outfile);
  } else if (!write_document_parts(root, a)) {
    status = fail(state, QEL_STATUS_FAILED, "cannot write the document parts of %s", c.outfile);
  }
  if (status == QEL_STATUS_OK && !write_content_types(root, a.certFile != nullptr)) {
    status = fail(state, QEL_STATUS_FAILED, "cannot write the content types of %s", c.outfile);
  }
  if (status == QEL_STATUS_OK && a.certFile) status = sign_folder(state, root, a);
  if (status == QEL_STATUS_OK) status = zip_folder(state, root, c.outfile, c.compLevel, parse_time(a.dateTime));
  remove_folder(p->folder);
  p->folder = nullptr;
  return status;
}

}  // namespace

extern "C" {

elf_object* new_XpsPackage(elf_state* state, void*, elf_object*) {
  auto* r = static_cast<XpsPackageRecord*>(elfCalloc(1, sizeof(XpsPackageRecord)));
  if (!r) return nullptr;
  if (elfInitObject(&r->hdr, state, kType, &kOps) != 0) {
    _elfFree(r);
    return nullptr;
  }
  return &r->hdr;
}

int XpsPackageScript(void* context, elf_object*, elf_object**) {
  auto* state = static_cast<elf_state*>(context);
  if (find_elf_type(state, kType) < 0) {
    return setStatus(state, QEL_STATUS_FAILED, QEL_SEVERITY_ERROR, "xps/XpsPackage.elf: the type %s is not known\n",
                     kType);
  }
  return QEL_STATUS_OK;
}

int XpsWriteScript(void* context, elf_object* args, elf_object**) {
  auto* state = static_cast<elf_state*>(context);
  Common c;
  if (!lstScanArgs(args, "oper:s", LST_REQUIRED, &c.oper, "outfile:s", LST_REQUIRED, &c.outfile, "package:XpsPackage",
                   LST_REQUIRED, &c.package, "compLevel:i", LST_OPTIONAL, &c.compLevel, LST_END)) {
    return fail(state, QEL_STATUS_INVALID, "needs oper:s, outfile:s and package:XpsPackage");
  }
  XpsPackageRecord* p = record(c.package);
  if (std::strcmp(c.oper, "open") == 0) return open_package(state, p, c);
  if (std::strcmp(c.oper, "add") == 0) return add_page(state, p, c, args);
  if (std::strcmp(c.oper, "close") == 0) return close_package(state, p, c, args);
  return fail(state, QEL_STATUS_INVALID, "no operation \"%s\" (open, add or close)", c.oper);
}

}  // extern "C"
