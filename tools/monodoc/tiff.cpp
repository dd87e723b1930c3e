// monodoc tiff: fax-profile (TIFF-FX) documents written and read through libpagefiler's TIFF and
// TIFF-FX back end, pages kept in the coding they arrive in.

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "commands.h"
#include "messages.h"
#include "output.h"
#include "page_files.h"
#include "dio.h"
#include "image_io.h"
#include "kvng_print.h"
#include "page_stream.h"
#include "session.h"

namespace monodoc {

const char tiff_help[] =
    "usage: monodoc tiff write [-p PROFILE] [-1] OUTPUT PAGEFILE...\n"
    "       monodoc tiff read DOCUMENT...\n"
    "\n"
    "write makes a TIFF-FX document with the document writer of libpagefiler (MakeDocWriter,\n"
    "format tifffx) and appends every page of the page files to it. Pages of TIFF files are read\n"
    "with the back end's own reader and keep their coding: their strips go into the document as\n"
    "the file holds them, never coded again. Pages of PBM and PNG files are raw 1-bit pages.\n"
    "A fax profile takes only pages it can hold: profile S pages coded T.4 one-dimensional (G3),\n"
    "F and C also G3 two-dimensional and G4 (C also JPEG colour), at the profile's resolutions and\n"
    "widths. A page of another resolution or width is first scaled by the script\n"
    "\"docio/tifffxFmtAdj.elf\" to the size the profile asks for; a page of a coding the profile\n"
    "does not take is refused, and the pages before it stay in the document. An OUTPUT without\n"
    "extension gets \".tif\".\n"
    "\n"
    "read opens each document with the back end's reader and prints its format, subtype and\n"
    "pages, and for each page its size, resolution, coding and strips (a page it cannot read\n"
    "is reported with the reason, and the next one read):\n"
    "  fax.tif: format TIFFFX, subtype profileF, 2 pages\n"
    "    page 1: 1728 x 1100 pixels, 204 x 196 dpi, 1 bit, g4, 1 strip\n"
    "\n"
    "Options:\n"
    "  -p, --profile PROFILE   S, F or C (the fax profiles), or none for TIFF-FX without a\n"
    "                          profile (default F)\n"
    "  -1, --single-page       one file per page: OUTPUT-1.tif, OUTPUT-2.tif ...\n"
    "  -h, --help              this text\n"
    "\n"
    "Exit status: 0 when every page was written or read, 1 otherwise, 2 for wrong usage.\n";

namespace {

// The back end's entry points, bound by name from libpagefiler as the interpreter binds them.
struct TiffLibrary {
  elf_method_proc make_writer = nullptr;
  void* (*read_init)(elf_state*, const char*, int32_t*, int32_t*) = nullptr;
  int (*page_count)(elf_state*, void*, int32_t*) = nullptr;
  int (*get_page)(elf_state*, void*, int32_t, elf_object**) = nullptr;
  void (*release)(elf_object*) = nullptr;
  void (*format_name)(int32_t, char*) = nullptr;
  void (*compression_name)(int32_t, char*) = nullptr;

  bool bind(std::string* error) {
    constexpr const char* symbols[] = {"MakeDocWriter",  "TIFFReadInit",       "TIFFReadGetPageCount",
                                       "TIFFReadGetPage", "TIFFRelease",       "FormatTypeToString",
                                       "__qelcompressToString"};
    void* places[std::size(symbols)] = {};
    char why[4200];
    for (size_t i = 0; i < std::size(symbols); ++i) {
      if (!elfBindSharedProc("pagefiler", symbols[i], &places[i], why, sizeof why)) {
        *error = why;
        return false;
      }
    }
    make_writer = reinterpret_cast<elf_method_proc>(places[0]);
    read_init = reinterpret_cast<void* (*)(elf_state*, const char*, int32_t*, int32_t*)>(places[1]);
    page_count = reinterpret_cast<int (*)(elf_state*, void*, int32_t*)>(places[2]);
    get_page = reinterpret_cast<int (*)(elf_state*, void*, int32_t, elf_object**)>(places[3]);
    release = reinterpret_cast<void (*)(elf_object*)>(places[4]);
    format_name = reinterpret_cast<void (*)(int32_t, char*)>(places[5]);
    compression_name = reinterpret_cast<void (*)(int32_t, char*)>(places[6]);
    return true;
  }
};

// A document opened by the back end's reader, released as a reader object releases it.
class TiffReader {
 public:
  TiffReader(elf_state* state, const TiffLibrary& lib, const std::string& file) : state_(state), lib_(lib) {
    clearStatus(state);
    backend_ = lib.read_init(state, file.c_str(), &format_, &subtype_);
  }
  ~TiffReader() {
    if (!backend_) return;
    elf_object* record = new_elf_object(state_, "DOCUMENTREADER", nullptr);
    if (!dioReader(record)) {
      elfDiscard(record);
      return;
    }
    dioReader(record)->backend = backend_;
    dioReader(record)->fns.Release = lib_.release;
    elfDiscard(record);
  }
  TiffReader(const TiffReader&) = delete;
  TiffReader& operator=(const TiffReader&) = delete;

  // The page count, or -1 with the reason.
  int32_t pages(std::string* error) const {
    int32_t count = -1;
    const int status = backend_ ? lib_.page_count(state_, backend_, &count) : QEL_STATUS_FAILED;
    if (status != QEL_STATUS_OK || count < 0) {
      *error = backend_ ? status_text(state_, status) : "no memory to open it";
      return -1;
    }
    return count;
  }
  // Page n (from 1), or none with the reason.
  Held page(int32_t n, std::string* error) const {
    clearStatus(state_);
    elf_object* image = nullptr;
    const int status = lib_.get_page(state_, backend_, n, &image);
    if (status != QEL_STATUS_OK) {
      *error = "page " + std::to_string(n) + ": " + status_text(state_, status);
      return Held();
    }
    return Held(image);
  }
  int32_t format() const { return format_; }
  int32_t subtype() const { return subtype_; }

 private:
  elf_state* state_;
  const TiffLibrary& lib_;
  void* backend_ = nullptr;
  int32_t format_ = 0, subtype_ = 0;
};

bool is_tiff(const std::string& path) {
  FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return false;
  char bytes[4] = {};
  const size_t n = std::fread(bytes, 1, 4, f);
  std::fclose(f);
  return n == 4 && (std::memcmp(bytes, "II*\0", 4) == 0 || std::memcmp(bytes, "MM\0*", 4) == 0);
}

int append(elf_state* state, elf_object* writer, elf_object* image, std::string* error) {
  const Held args(lstBuildArgs(state, "pgImg:QELIMAGE", image, 0, LST_END));
  if (!args.get()) {
    *error = "no memory";
    return QEL_STATUS_FAILED;
  }
  return call_member(state, writer, "appendPage", args.get(), error).get() ? QEL_STATUS_OK : QEL_STATUS_FAILED;
}

// Appends the pages of one page file; false with the reason at the first page that fails.
bool append_file(elf_state* state, const TiffLibrary& lib, elf_object* writer, const std::string& file,
                 int32_t* written, std::string* error) {
  if (is_tiff(file)) {
    const TiffReader reader(state, lib, file);
    const int32_t count = reader.pages(error);
    if (count < 0) return false;
    for (int32_t n = 1; n <= count; ++n) {
      const Held image = reader.page(n, error);
      if (!image.get()) return false;
      if (append(state, writer, image.get(), error) != QEL_STATUS_OK) {
        *error = "page " + std::to_string(n) + ": " + *error;
        return false;
      }
      ++*written;
    }
    return true;
  }
  // One page at a time: a long file is never held whole.
  PageStream stream({file});
  Bilevel page;
  while (stream.next(&page, error)) {
    const Held image(image_from_pages(state, {&page}, error));
    if (!image.get()) return false;
    if (append(state, writer, image.get(), error) != QEL_STATUS_OK) {
      *error = "page " + std::to_string(stream.pages_read()) + ": " + *error;
      return false;
    }
    ++*written;
  }
  // The stream names the file itself; the caller names it once.
  if (error->rfind(file + ": ", 0) == 0) error->erase(0, file.size() + 2);
  return error->empty();
}

// The page files of a document written a file per page (target "doc.tif": doc-1.tif, doc-2.tif,
// ...): the writer makes them in a folder of their own beside them, and they take their names
// together when every page is in; otherwise the folder goes with what it holds.
class PageFolder {
 public:
  PageFolder(const std::string& target, std::vector<std::string> inputs) : target_(target), files_(std::move(inputs)) {
    const size_t slash = target.rfind('/');
    folder_ = slash == std::string::npos ? "." : target.substr(0, slash == 0 ? 1 : slash);
    prefix_ = slash == std::string::npos ? "" : target.substr(0, slash + 1);
    base_ = target.substr(slash == std::string::npos ? 0 : slash + 1);
    const size_t dot = base_.rfind('.');
    ext_ = dot == std::string::npos ? "" : base_.substr(dot);
    base_ = base_.substr(0, dot);
  }
  ~PageFolder() {
    // The folder is this run's own: whatever the writer left in it goes with it.
    std::error_code ignored;
    if (!temp_.empty()) std::filesystem::remove_all(temp_, ignored);
    SafeOut_Forget(pending_);
  }
  PageFolder(const PageFolder&) = delete;
  PageFolder& operator=(const PageFolder&) = delete;

  bool open(std::string* error) {
    // An input that is one of the page files to come (same folder, a name of their form).
    struct stat here {};
    for (const std::string& input : files_) {
      const size_t slash = input.rfind('/');
      const std::string folder = slash == std::string::npos ? "." : input.substr(0, slash == 0 ? 1 : slash);
      const std::string name = input.substr(slash == std::string::npos ? 0 : slash + 1);
      struct stat there {};
      const bool numbered = name.size() > base_.size() + ext_.size() + 1 && name.rfind(base_ + "-", 0) == 0 &&
                            name.compare(name.size() - ext_.size(), ext_.size(), ext_) == 0 &&
                            name.find_first_not_of("0123456789", base_.size() + 1) == name.size() - ext_.size();
      if (numbered && stat(folder_.c_str(), &here) == 0 && stat(folder.c_str(), &there) == 0 &&
          here.st_dev == there.st_dev && here.st_ino == there.st_ino) {
        *error = input + " is both an input and an output (a page file of " + target_ + "): not written";
        return false;
      }
    }
    std::string pattern = folder_ + "/." + base_.substr(0, 48) + ".XXXXXX";
    if (!mkdtemp(pattern.data())) {
      *error = "cannot write in " + folder_ + ": " + std::strerror(errno);
      return false;
    }
    temp_ = pattern;
    pending_ = SafeOut_Register(temp_.c_str(), 1);
    return true;
  }
  std::string writer_name() const { return temp_ + "/" + base_ + ext_; }

  // Moves the pages' files into place; false with the reason.
  bool commit(int32_t pages, std::string* error) {
    OutputSet outputs(files_);
    for (int32_t n = 1; n <= pages; ++n) {
      const std::string name = base_ + "-" + std::to_string(n) + ext_;
      const std::string made = temp_ + "/" + name;
      OutputFile* file = outputs.open(prefix_ + name, error);
      if (!file) return false;
      // A FIFO's or a device's bytes wait elsewhere (another file system, perhaps): copied.
      if (std::rename(made.c_str(), file->temp_path()) != 0) {
        std::string bytes;
        if (errno != EXDEV || !read_file_bytes(made, &bytes, error) || !file->write(bytes.data(), bytes.size(), error)) {
          if (error->empty()) *error = "cannot write " + prefix_ + name + ": " + std::strerror(errno);
          return false;
        }
      }
    }
    return outputs.commit(error);
  }

 private:
  std::string target_, folder_, prefix_, base_, ext_, temp_;
  std::vector<std::string> files_;
  SafeOutPending* pending_ = nullptr;  // the folder, for a signal's handler
};

int run_write(elf_state* state, const TiffLibrary& lib, const std::vector<std::string>& args) {
  static const std::vector<OptionSpec> specs = {{'p', "profile", true}, {'1', "single-page", false}};
  ParsedOptions parsed;
  std::string error;
  if (!parse_options(args, specs, &parsed, &error) || parsed.operands.size() < 2) {
    complain("tiff", error.empty() ? "write needs OUTPUT and at least one PAGEFILE (monodoc help tiff)" : error);
    return exit_usage;
  }
  std::string subtype = "profileF";
  bool single = false;
  for (const auto& [spec, value] : parsed.options) {
    if (spec->short_name == '1') {
      single = true;
      continue;
    }
    if (value == "S" || value == "s" || value == "F" || value == "f" || value == "C" || value == "c") {
      subtype = "profile" + std::string(1, static_cast<char>(value[0] & ~0x20));
    } else if (value == "none") {
      subtype = "none";
    } else {
      complain("tiff", "no profile \"" + value + "\" (S, F, C or none)");
      return exit_usage;
    }
  }
  const std::string& output = parsed.operands.front();
  const std::vector<std::string> inputs(parsed.operands.begin() + 1, parsed.operands.end());
  // One document is made in a temporary file beside its name (".tif" added to a name without
  // extension, as the writer adds it) and takes the name only when every page is in; page files
  // of their own are each written whole by the writer.
  std::string target = output;
  struct stat st {};
  const bool device = stat(target.c_str(), &st) == 0 && (S_ISFIFO(st.st_mode) || S_ISCHR(st.st_mode));
  if (!device && target.find('.', target.rfind('/') == std::string::npos ? 0 : target.rfind('/')) == std::string::npos) {
    target += ".tif";
  }
  OutputFile document;
  PageFolder pages(target, inputs);
  // What the writer says of the file it writes names the document, not its temporary file.
  KVngSetPrinter(print_output_message, &document);
  struct RestorePrinter {
    ~RestorePrinter() { KVngSetPrinter(print_engine_message, nullptr); }
  } restore_printer;
  if (!single && (!refuse_same_file(target, inputs, &error) || !document.open(target, &error))) {
    complain("tiff", error);
    return exit_failed;
  }
  if (single && !pages.open(&error)) {
    complain("tiff", error);
    return exit_failed;
  }
  const Held made_args(lstBuildArgs(state, "filename:s", single ? pages.writer_name().c_str() : document.temp_path(),
                                    0, "format:s", "tifffx", 0, "subtype:s", subtype.c_str(), 0, LST_END));
  elf_object* made = nullptr;
  clearStatus(state);
  const int status = made_args.get() ? lib.make_writer(state, made_args.get(), &made) : QEL_STATUS_FAILED;
  const Held made_list(made);
  elf_object* writer = nullptr;
  if (status != QEL_STATUS_OK || lstScanArgs(made, "docwt:DOCUMENTWRITER", LST_REQUIRED, &writer, LST_END) != 1) {
    complain("tiff", output + ": " + document.plain(status_text(state, status)));
    return exit_failed;
  }
  if (single) {
    const Held flag(lstBuildArgs(state, "name:s", "_DIOsinglePageFile", 0, "obj:b", 1, 0, LST_END));
    if (!flag.get() || !call_member(state, writer, "setAttr", flag.get(), &error).get()) {
      complain("tiff", output + ": " + document.plain(error));
      return exit_failed;
    }
  }
  int32_t written = 0;
  int exit = exit_ok;
  for (size_t i = 1; i < parsed.operands.size() && exit == exit_ok; ++i) {
    if (!append_file(state, lib, writer, parsed.operands[i], &written, &error)) {
      complain("tiff", parsed.operands[i] + ": " + document.plain(error));
      exit = exit_failed;
    }
  }
  if (!call_member(state, writer, "release", nullptr, &error).get() && exit == exit_ok) {
    complain("tiff", output + ": " + document.plain(error));
    exit = exit_failed;
  }
  if (exit == exit_ok && !(single ? pages.commit(written, &error) : document.commit(&error))) {
    complain("tiff", single ? error : document.plain(error));
    exit = exit_failed;
  }
  if (exit != exit_ok) return exit;
  std::printf("%s: %d page%s written, TIFF-FX %s\n", output.c_str(), written, written == 1 ? "" : "s",
              subtype.c_str());
  return exit;
}

std::string compression_name(const TiffLibrary& lib, int32_t code) {
  if (code == 0) return "raw";
  char text[DIO_COMPRESSION_NAME_MAX];
  lib.compression_name(code, text);
  std::string s = text;
  return s.size() > 1 && s.front() == '"' ? s.substr(1, s.size() - 2) : "compression " + std::to_string(code);
}

bool describe(elf_state* state, const TiffLibrary& lib, const std::string& file, std::string* error) {
  const TiffReader reader(state, lib, file);
  const int32_t count = reader.pages(error);
  if (count < 0) return false;
  char format[DIO_FORMAT_NAME_MAX] = "";
  lib.format_name(reader.format(), format);
  constexpr const char* subtypes[] = {"none", "none", "v6", "tn2", "profileS", "profileF", "profileC"};
  const int32_t sub = reader.subtype();
  std::printf("%s: format %s, subtype %s, %d page%s\n", file.c_str(), format,
              sub >= 0 && sub < static_cast<int32_t>(std::size(subtypes)) ? subtypes[sub] : "none", count,
              count == 1 ? "" : "s");
  // A page that cannot be read is reported and the next one read.
  int32_t failed = 0;
  for (int32_t n = 1; n <= count; ++n) {
    std::string why;
    const Held image = reader.page(n, &why);
    const elf_QELLAYER* layer = image.get() ? qelLayer(QELGetLayer(image.get(), 0)) : nullptr;
    const elf_QELHDR* h = layer ? qelHdr(layer->description) : nullptr;
    if (!h) {
      std::fflush(stdout);
      complain("tiff", file + ": " + (why.empty() ? "page " + std::to_string(n) + " has no layer" : why));
      ++failed;
      continue;
    }
    int32_t strips = 0;
    const char* note = nullptr;
    for (elf_object* item = layer->data; elfIsType(item, "POINTER");
         item = reinterpret_cast<elf_POINTER*>(item)->next) {
      if (!strips) note = reinterpret_cast<elf_POINTER*>(item)->description;
      ++strips;
    }
    const int32_t bits = h->samplesPerPixel * (h->bitsPerSample ? h->bitsPerSample[0] : 0);
    std::printf("  page %d: %d x %d pixels, %g x %g dpi, %d bit%s, %s, %d strip%s%s%s%s\n", n, h->width, h->height,
                layer->xres, layer->yres, bits, bits == 1 ? "" : "s", compression_name(lib, h->compression).c_str(),
                strips, strips == 1 ? "" : "s", note ? " (" : "", note ? note : "", note ? ")" : "");
  }
  if (failed == 0) return true;
  *error = std::to_string(failed) + " of " + std::to_string(count) + " page" + (count == 1 ? "" : "s") +
           " cannot be read";
  return false;
}

}  // namespace

int run_tiff(const std::vector<std::string>& args) {
  if (args.empty() || (args.front() != "write" && args.front() != "read")) {
    complain("tiff", "needs write or read (monodoc help tiff)");
    return exit_usage;
  }
  const std::vector<std::string> rest(args.begin() + 1, args.end());
  if (args.front() == "read" && rest.empty()) {
    complain("tiff", "read needs at least one DOCUMENT (monodoc help tiff)");
    return exit_usage;
  }
  Interpreter interp("pagefiler.ucm");
  if (!interp.state) {
    complain("tiff", "cannot make the interpreter state from pagefiler.ucm");
    return exit_failed;
  }
  TiffLibrary lib;
  std::string error;
  if (!lib.bind(&error)) {
    complain("tiff", error);
    return exit_failed;
  }
  KVngSetPrinter(print_engine_message, nullptr);
  int exit = exit_ok;
  if (args.front() == "write") {
    exit = run_write(interp.state, lib, rest);
  } else {
    for (const std::string& file : rest) {
      error.clear();
      if (!describe(interp.state, lib, file, &error)) {
        complain("tiff", file + ": " + error);
        exit = exit_failed;
      }
    }
  }
  KVngSetPrinter(nullptr, nullptr);
  return exit;
}

}  // namespace monodoc
