// monodoc identify and monodoc info: what the imaging engine takes a file for, and what a
// document reader of libpagefiler says of it.

#include <cstdio>
#include <string>
#include <vector>

#include "commands.h"
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
    "usage: monodoc info [-p PASSWORD] DOCUMENT...\n"
    "\n"
    "Opens each document as the interpreter would, with MakeDocReader of libpagefiler (its types\n"
    "come from \"pagefiler.ucm\", found like plug-in libraries), and prints its format, subtype,\n"
    "page count and checksum:\n"
    "  doc.pdf: format PDF, subtype none, 3 pages, checksum 0x1a2b3c4d\n"
    "XPS and OpenXPS packages are read by libpagefiler's XPS reader instead, which lists their\n"
    "documents, then each page as it is rendered, with the layers it renders to (colour\n"
    "rectangles, images and masks with their pixels and resolution, glyph text, thumbnails):\n"
    "  doc.xps: XPS package, 1 document\n"
    "  document 1 (/Documents/1/FixedDocument.fdoc): 2 pages\n"
    "    page 1 (/Documents/1/Pages/1.fpage): 816 x 1056 units, image 816 x 1056 at 96 x 96 ppi, 1 layer\n"
    "      layer 1: colour rectangle at 10,20 size 100 x 200, colour #FF0000\n"
    "A document that cannot be opened is reported with the interpreter status.\n"
    "\n"
    "Options:\n"
    "  -p, --password PASSWORD   the password of an encrypted document\n"
    "  -h, --help                this text\n"
    "\n"
    "Exit status: 0 when every document was read, 1 otherwise, 2 for wrong usage.\n";

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

void print_engine_message(void*, int kind, const char* text) {
  if (kind != KVNG_PRINT_DEBUG) std::fprintf(stderr, "monodoc: %s", text);
}

// Prints one document's line; false with the reason when it cannot be read.
bool describe_document(elf_state* state, elf_method_proc make_reader, const std::string& file,
                       const std::string& password, std::string* error) {
  const Held args(password.empty()
                      ? lstBuildArgs(state, "filename:s", file.c_str(), 0, LST_END)
                      : lstBuildArgs(state, "filename:s", file.c_str(), 0, "password:s", password.c_str(), 0, LST_END));
  if (!args.get()) {
    *error = "no memory";
    return false;
  }
  clearStatus(state);
  elf_object* made = nullptr;
  const int status = make_reader(state, args.get(), &made);
  const Held made_list(made);
  elf_object* reader = nullptr;
  if (status != QEL_STATUS_OK ||
      lstScanArgs(made, "docrd:DOCUMENTREADER", LST_REQUIRED, &reader, LST_END) != 1) {
    *error = status_text(state, status);
    return false;
  }
  const Held format = call_member(state, reader, "getFormat", nullptr, error);
  const Held pages = format.get() ? call_member(state, reader, "getPageCount", nullptr, error) : Held();
  const Held sum = pages.get() ? call_member(state, reader, "getChecksum", nullptr, error) : Held();
  const char *format_name = "", *subtype = "";
  int32_t count = 0, checksum = 0;
  const bool ok = sum.get() &&
                  lstScanArgs(format.get(), "format:s", LST_REQUIRED, &format_name, "subtype:s", LST_REQUIRED,
                              &subtype, LST_END) == 1 &&
                  lstScanArgs(pages.get(), "num:i", LST_REQUIRED, &count, LST_END) == 1 &&
                  lstScanArgs(sum.get(), "sum:i", LST_REQUIRED, &checksum, LST_END) == 1;
  call_member(state, reader, "release", nullptr, error);
  if (!ok) {
    if (error->empty()) *error = "the reader gave no answer";
    return false;
  }
  std::printf("%s: format %s, subtype %s, %d page%s, checksum 0x%08x\n", file.c_str(), format_name, subtype, count,
              count == 1 ? "" : "s", static_cast<unsigned>(checksum));
  return true;
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
  static const std::vector<OptionSpec> specs = {{'p', "password", true}};
  ParsedOptions parsed;
  std::string error;
  if (!parse_options(args, specs, &parsed, &error) || parsed.operands.empty()) {
    complain("info", error.empty() ? "needs at least one DOCUMENT (monodoc help info)" : error);
    return exit_usage;
  }
  std::string password;
  for (const auto& [spec, value] : parsed.options) password = value;

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
    if (is_xps_package(file) ? !describe_xps_package(file, &error)
                             : !describe_document(interp.state, make_reader, file, password, &error)) {
      complain("info", file + ": " + error);
      exit = exit_failed;
    }
  }
  KVngSetPrinter(nullptr, nullptr);
  return exit;
}

}  // namespace monodoc
