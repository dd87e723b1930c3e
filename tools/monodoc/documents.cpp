// monodoc identify and monodoc info: what the imaging engine takes a file for, and what a
// document reader of libpagefiler says of it.

#include <cstdio>
#include <string>
#include <vector>

#include "commands.h"
#include "messages.h"
#include "document_job.h"
#include "image_io.h"
#include "kvext.h"
#include "session.h"
#include "xps_info.h"

namespace monodoc {

const char identify_help[] =
    "usage: monodoc identify FILE...\n"
    "\n"
    "Tells what the imaging engine takes each file for, by its content: the format, its media\n"
    "type (and the container's, for packages), and the engine procedure that reads it:\n"
    "  scan.tif: TIFF image/tiff, read by readtif\n"
    "  doc.xps: XPS application/vnd.ms-xpsdocument in application/zip, read by readxps\n"
    "Formats: PDF, XPS and OpenXPS packages, other zip archives, TIFF, JPEG, PNG, GIF, BMP and\n"
    "PNM; zip archives that are no packages have no reader. A file that is missing, unreadable\n"
    "or of no known format is \"not identified\".\n"
    "\n"
    "Exit status: 0 when every file was identified, 1 otherwise.\n";

const char info_help[] =
    "usage: monodoc info [-s] [-p PASSWORD] DOCUMENT...\n"
    "\n"
    "Opens each document as the interpreter would, with MakeDocReader of libpagefiler (its types\n"
    "come from \"pagefiler.ucm\", found like plug-in libraries), and prints its format, subtype,\n"
    "page count and checksum, then reads the pages one at a time and prints each page's size and\n"
    "resolution and its layers (kind, place and size on the page in pixels, samples, compression,\n"
    "bytes):\n"
    "  doc.pdf: format PDF, subtype none, 3 pages, checksum 0x1a2b3c4d\n"
    "    page 1: 2550x3300 pixels at 300x300 dpi, 2 layers\n"
    "      layer 0: JBIG2 dictionary, 1200 bytes\n"
    "      layer 1: bilevel image at 0,0 2550x3300, 2550x3300 samples 1x1 bit, JBIG2, 41233 bytes\n"
    "Damage that the PDF library repaired while reading is reported as a warning naming the object\n"
    "and the file offset. A document or page that cannot be read is reported with the interpreter\n"
    "status. PDF budgets refuse, by name, documents of more than 100,000 pages and pages whose\n"
    "images declare more than 512 MiB of samples in all, whose forms run more than 100,000 times\n"
    "or whose content, forms included, passes 64 MiB.\n"
    "XPS and OpenXPS packages are read by libpagefiler's XPS reader instead, which lists their\n"
    "documents and the signatures their origin lists, then each page as it is rendered, with the\n"
    "layers it renders to (colour rectangles, images and masks with their pixels and resolution,\n"
    "glyph text, thumbnails); a page that cannot be read is reported and the next one read:\n"
    "  doc.xps: XPS package, 1 document, 1 signature\n"
    "  document 1 (/Documents/1/FixedDocument.fdoc): 2 pages\n"
    "    page 1 (/Documents/1/Pages/1.fpage): 816 x 1056 units, image 816 x 1056 at 96 x 96 ppi, 1 layer\n"
    "      layer 1: colour rectangle at 10,20 size 100 x 200, colour #FF0000\n"
    "\n"
    "Options:\n"
    "  -s, --summary             the document line only (for XPS also its documents'), no\n"
    "                            pages\n"
    "  -p, --password PASSWORD   the password of an encrypted document, as UTF-8 text; a PDF is\n"
    "                            tried with it as typed, in PDFDocEncoding (RC4, AES-128) and\n"
    "                            in SASLprep form (AES-256), as writers store it either way\n"
    "  -h, --help                this text\n"
    "\n"
    "Exit status: 0 when every document and page was read, 1 otherwise, 2 for wrong usage.\n";

namespace {

// Releases the engine's format table when the run ends.
struct FormatTable {
  KVngFileFormats* table = nullptr;
  FormatTable() {
    if (KVngReadFileFormats(&table) != 1) table = nullptr;
  }
  ~FormatTable() {
    if (table) table->release(table);
  }
};


const char* kind_name(int32_t kind) {
  switch (kind) {
    case QEL_KIND_IMAGE:
      return "image";
    case QEL_KIND_MASK:
      return "mask";
    case QEL_KIND_COLOR_MASK:
      return "colour mask";
    case QEL_KIND_RECTANGLE:
      return "rectangle";
    case QEL_KIND_JBIG2_DICT:
      return "JBIG2 dictionary";
    case QEL_KIND_THUMBNAIL:
      return "thumbnail";
    case QEL_KIND_BILEVEL:
      return "bilevel image";
    case QEL_KIND_TEXT:
      return "text";
    default:
      return "unknown kind";
  }
}

std::string compression_name(int32_t code) {
  switch (code) {
    case QEL_COMPRESSION_NONE:
      return "uncompressed";
    case QEL_COMPRESSION_JPEG:
      return "JPEG";
    case QEL_COMPRESSION_G3:
      return "G3";
    case QEL_COMPRESSION_G4:
      return "G4";
    case QEL_COMPRESSION_G3_2D:
      return "G3 2-D";
    case QEL_COMPRESSION_DEFLATE:
      return "deflate";
    case QEL_COMPRESSION_JBIG2:
      return "JBIG2";
    case QEL_COMPRESSION_LZW:
      return "LZW";
    case QEL_COMPRESSION_JPEG_DEFLATE:
      return "JPEG in deflate";
    default:
      return "compression " + std::to_string(code);
  }
}

void print_page(int32_t number, elf_object* image) {
  elf_QELIMAGE* im = qelImage(image);
  const int32_t count = elflistLength(im->layers) > 0 ? elflistLength(im->layers) : 0;
  std::printf("    page %d: %dx%d pixels at %gx%g dpi, %d layer%s\n", number, im->width, im->height, im->xres,
              im->yres, count, count == 1 ? "" : "s");
  for (int32_t i = 0; i < count; ++i) {
    elf_QELLAYER* l = qelLayer(elfIdentValue(elflistItem(im->layers, i)));
    if (!l) continue;
    const auto* data = l->data ? reinterpret_cast<const elf_POINTER*>(l->data) : nullptr;
    size_t bytes = 0;
    for (const elf_POINTER* p = data; p; p = p->next ? reinterpret_cast<const elf_POINTER*>(p->next) : nullptr) {
      bytes += p->length;
    }
    std::printf("      layer %d: %s", i, kind_name(l->kind));
    if (l->kind != QEL_KIND_JBIG2_DICT && l->kind != QEL_KIND_TEXT) {
      std::printf(" at %.0f,%.0f %.0fx%.0f", l->x, l->y, l->width, l->height);
    }
    if (const elf_QELHDR* h = qelHdr(l->description)) {
      std::printf(", %dx%d samples %dx%d bit, %s", h->width, h->height, h->samplesPerPixel,
                  h->bitsPerSampleCount > 0 && h->bitsPerSample ? h->bitsPerSample[0] : 0,
                  compression_name(h->compression).c_str());
    }
    std::printf(", %zu bytes\n", bytes);
  }
}

// Prints one document's line, then (unless summary) its pages one at a time; false with the
// reason when the document or a page cannot be read. The document is opened once for both.
bool describe_document(elf_state* state, elf_method_proc make_reader, const std::string& file,
                       const std::string& password, bool summary, std::string* error) {
  const auto opened = [&](elf_object* reader, int32_t count, bool* read_pages, std::string* why) {
    const Held format = call_member(state, reader, "getFormat", nullptr, why);
    const Held sum = format.get() ? call_member(state, reader, "getChecksum", nullptr, why) : Held();
    const char *format_name = "", *subtype = "";
    int32_t checksum = 0;
    const bool ok = sum.get() &&
                    lstScanArgs(format.get(), "format:s", LST_REQUIRED, &format_name, "subtype:s", LST_REQUIRED,
                                &subtype, LST_END) == 1 &&
                    lstScanArgs(sum.get(), "sum:i", LST_REQUIRED, &checksum, LST_END) == 1;
    if (!ok) {
      if (why->empty()) *why = "the reader gave no answer";
      return false;
    }
    std::printf("%s: format %s, subtype %s, %d page%s, checksum 0x%08x\n", file.c_str(), format_name, subtype, count,
                count == 1 ? "" : "s", static_cast<unsigned>(checksum));
    std::fflush(stdout);
    *read_pages = !summary;
    return true;
  };
  return stream_reader_pages(
      state, make_reader, file, password,
      [](elf_object* image, int32_t n, int32_t, std::string*) {
        print_page(n, image);
        std::fflush(stdout);
        return true;
      },
      error, opened);
}

}  // namespace

int run_identify(const std::vector<std::string>& args) {
  ParsedOptions parsed;
  std::string error;
  if (!parse_options(args, {}, &parsed, &error) || parsed.operands.empty()) {
    complain("identify", error.empty() ? "needs at least one FILE (monodoc help identify)" : error);
    return exit_usage;
  }
  FormatTable formats;
  if (!formats.table) {
    complain("identify", "the engine's format table cannot be read");
    return exit_failed;
  }
  int exit = exit_ok;
  for (const std::string& file : parsed.operands) {
    KVngFileFormatInfo* info = KVngGetFileFormatInfo(file.c_str(), formats.table);
    if (!info) {
      std::printf("%s: not identified\n", file.c_str());
      exit = exit_failed;
      continue;
    }
    const bool readable = std::string(info->reader) != "none";
    std::printf("%s: %s %s%s%s, %s%s\n", file.c_str(), info->format->name, info->mimeType, info->container ? " in " : "",
                info->container ? info->container : "", readable ? "read by " : "no reader",
                readable ? info->reader : "");
    info->release(info);
  }
  return exit;
}

int run_info(const std::vector<std::string>& args) {
  static const std::vector<OptionSpec> specs = {{'p', "password", true}, {'s', "summary", false}};
  ParsedOptions parsed;
  std::string error;
  if (!parse_options(args, specs, &parsed, &error) || parsed.operands.empty()) {
    complain("info", error.empty() ? "needs at least one DOCUMENT (monodoc help info)" : error);
    return exit_usage;
  }
  std::string password;
  bool summary = false;
  for (const auto& [spec, value] : parsed.options) {
    if (spec->short_name == 's') {
      summary = true;
    } else {
      password = value;
    }
  }

  Interpreter interp("pagefiler.ucm");
  if (!interp.state) {
    complain("info", "cannot make the interpreter state from pagefiler.ucm");
    return exit_failed;
  }
  KVngSetPrinter(print_engine_message, nullptr);
  void* address = nullptr;
  char why[4200];
  if (!elfBindSharedProc("pagefiler", "MakeDocReader", &address, why, sizeof why)) {
    complain("info", why);
    return exit_failed;
  }
  auto* make_reader = reinterpret_cast<elf_method_proc>(address);
  int exit = exit_ok;
  for (const std::string& file : parsed.operands) {
    error.clear();
    if (is_xps_package(file) ? !describe_xps_package(file, summary, &error)
                             : !describe_document(interp.state, make_reader, file, password, summary, &error)) {
      complain("info", file + ": " + error);
      exit = exit_failed;
    }
  }
  KVngSetPrinter(nullptr, nullptr);
  return exit;
}

}  // namespace monodoc
