// monodoc pdf: scanned pages to one PDF through libpagefiler's PDF writer. Bilevel pages go to the
// PDF library's JBIG2 coder in sections of ten pages sharing one JBIG2Globals stream; grey and
// colour pages become JPEG or Flate images. Pages are read, appended and let go one at a time.

#include <cstdio>
#include <cstring>
#include <string>
#include <sys/stat.h>
#include <vector>

#include "commands.h"
#include "dio.h"
#include "document_job.h"
#include "image_io.h"
#include "kvng_print.h"
#include "page_files.h"
#include "pbm.h"
#include "session.h"

namespace monodoc {

const char pdf_help[] =
    "usage: monodoc pdf [options] -o OUTPUT.pdf PAGEFILE...\n"
    "\n"
    "Writes the pages of the page files (PBM, PNG, TIFF with every directory, JPEG, GIF, BMP,\n"
    "PNM, PDF) into one PDF with the document writer of libpagefiler (MakeDocWriter, format pdf).\n"
    "Bilevel pages become JBIG2 images: the PDF library codes them with libmonocodec's engine in\n"
    "sections of ten pages, and the pages of a section share one JBIG2Globals dictionary. Grey\n"
    "and colour pages become JPEG (DCT) images, or Flate images with --flate. Each page is read,\n"
    "written and released before the next, and a line per page tells how it went.\n"
    "\n"
    "Options:\n"
    "  -o, --output FILE     the PDF to write (\".pdf\" added when it has no extension)\n"
    "      --lossy           JBIG2 with the token classifier's lossy matching (default: lossless,\n"
    "                        exact matches only)\n"
    "  -p, --profile N       JBIG2 coding: 3 arithmetic (MQ) coding (default), 1 or 2 Huffman and\n"
    "                        MMR coding\n"
    "  -q, --quality N       JPEG quality of grey and colour pages, 1 to 100 (default 85)\n"
    "      --flate           grey and colour pages as Flate images (lossless) instead of JPEG\n"
    "      --pdfa            PDF/A-1b: XMP metadata, sRGB output intent\n"
    "      --linearize       linearized (\"fast web view\") through the post-format plug-in\n"
    "      --password P      encrypted for the user password P: AES-128 (revision 4), or\n"
    "                        RC4-128 (revision 3) with --version 1.3 or 1.4\n"
    "      --version V       PDF version 1.3, 1.4 (default; 1.7 with --password) or 1.7\n"
    "      --test            fixed IDs and dates, so that runs give identical files\n"
    "      --text PAGE.xml   the text-layer XML of a page (repeatable: the first --text goes with\n"
    "                        the first page, the second with the second ...): its words become\n"
    "                        invisible text over the page image, so that the PDF can be searched\n"
    "                        and copied from (monodoc help text tells the XML form)\n"
    "      --recode          PDF page files decoded to their pixels and coded again (pages that\n"
    "                        are one scanned image); without it their pages pass through as\n"
    "                        libpagefiler's PDF reader reads them, images kept in their coding\n"
    "  -h, --help            this text\n"
    "\n"
    "Linearizing and encrypting use the post-format plug-in pdflib2qel, found as the other\n"
    "plug-ins are. A page that cannot be read or written ends the run; no output file stays\n"
    "then.\n"
    "\n"
    "Exit status: 0 when every page was written, 1 otherwise, 2 for wrong usage.\n";

namespace {

struct PdfOptions {
  std::string output;
  bool lossy = false;
  int profile = 3;
  int quality = 85;
  bool flate = false;
  bool pdfa = false;
  bool linearize = false;
  std::string password;
  bool hasPassword = false;
  std::string version;
  bool test = false;
  std::vector<std::string> texts;
  bool recode = false;
  std::vector<std::string> files;
};

bool parse_int(const std::string& text, int lo, int hi, int* out) {
  char* end = nullptr;
  const long v = std::strtol(text.c_str(), &end, 10);
  if (text.empty() || *end || v < lo || v > hi) return false;
  *out = static_cast<int>(v);
  return true;
}

int parse(const std::vector<std::string>& args, PdfOptions* o) {
  static const std::vector<OptionSpec> specs = {
      {'o', "output", true},     {0, "lossy", false},    {'p', "profile", true}, {'q', "quality", true},
      {0, "flate", false},       {0, "pdfa", false},     {0, "linearize", false}, {0, "password", true},
      {0, "version", true},      {0, "test", false},     {0, "text", true},
      {0, "recode", false}};
  ParsedOptions parsed;
  std::string error;
  if (!parse_options(args, specs, &parsed, &error)) {
    complain("pdf", error);
    return exit_usage;
  }
  for (const auto& [spec, value] : parsed.options) {
    const std::string name = spec->long_name;
    if (name == "output") {
      o->output = value;
    } else if (name == "lossy") {
      o->lossy = true;
    } else if (name == "profile") {
      if (!parse_int(value, 1, 3, &o->profile)) {
        complain("pdf", "no JBIG2 profile \"" + value + "\" (1, 2 or 3)");
        return exit_usage;
      }
    } else if (name == "quality") {
      if (!parse_int(value, 1, 100, &o->quality)) {
        complain("pdf", "JPEG quality \"" + value + "\" is not 1 to 100");
        return exit_usage;
      }
    } else if (name == "flate") {
      o->flate = true;
    } else if (name == "pdfa") {
      o->pdfa = true;
    } else if (name == "linearize") {
      o->linearize = true;
    } else if (name == "password") {
      o->password = value;
      o->hasPassword = true;
    } else if (name == "version") {
      if (value != "1.3" && value != "1.4" && value != "1.7") {
        complain("pdf", "no PDF version \"" + value + "\" (1.3, 1.4 or 1.7)");
        return exit_usage;
      }
      o->version = "v" + value;
    } else if (name == "test") {
      o->test = true;
    } else if (name == "text") {
      o->texts.push_back(value);
    } else if (name == "recode") {
      o->recode = true;
    }
  }
  // AES-128 needs PDF 1.6 or later; a version asked for keeps RC4-128 where it must.
  if (o->version.empty()) o->version = o->hasPassword ? "v1.7" : "v1.4";
  o->files = parsed.operands;
  if (o->output.empty() || o->files.empty()) {
    complain("pdf", "needs -o OUTPUT and at least one PAGEFILE (monodoc help pdf)");
    return exit_usage;
  }
  if (o->texts.size() > o->files.size()) {
    complain("pdf", "more --text files than PAGEFILEs: each text layer goes with one page");
    return exit_usage;
  }
  if (o->pdfa && o->hasPassword) {
    complain("pdf", "PDF/A files cannot be encrypted: --pdfa and --password exclude each other");
    return exit_usage;
  }
  return exit_ok;
}

void print_engine_message(void*, int kind, const char* text) {
  if (kind != KVNG_PRINT_DEBUG) std::fprintf(stderr, "monodoc: %s", text);
}

// Sets one writer attribute through its own member, as the interpreter's scripts would.
template <typename T>
bool set_attr(elf_state* state, elf_object* writer, const char* name, const char* type, T value, std::string* error) {
  const std::string spec = std::string("obj:") + type;
  const Held args(lstBuildArgs(state, "name:s", name, 0, spec.c_str(), value, 0, LST_END));
  if (!args.get()) {
    *error = "no memory";
    return false;
  }
  return call_member(state, writer, "setAttr", args.get(), error).get() != nullptr;
}

bool set_attributes(elf_state* state, elf_object* writer, const PdfOptions& o, std::string* error) {
  constexpr int32_t kJbig2 = 7, kJpeg = 1, kDeflate = 6;
  // Coding type 0 is arithmetic coding; any other value Huffman with the profile's tables.
  const int32_t type = o.profile == 3 ? 0 : o.profile;
  bool ok = set_attr(state, writer, "_DIObinarycomp", "i", kJbig2, error) &&
            set_attr(state, writer, "_DIOcontonecomp", "i", o.flate ? kDeflate : kJpeg, error) &&
            set_attr(state, writer, "_DIOjpegqual", "i", o.quality, error) &&
            set_attr(state, writer, "_DIOjb2type", "i", type, error) &&
            set_attr(state, writer, "_DIOcreator", "s", "monodoc pdf", error);
  if (ok && !o.lossy) ok = set_attr(state, writer, "_DIOjb2lossless", "b", 1, error);
  // Text layers make most of a searchable page's content: it is worth compressing.
  if (ok && !o.texts.empty()) ok = set_attr(state, writer, "_PDFdeflateText", "b", 1, error);
  if (ok && o.pdfa) ok = set_attr(state, writer, "_PDFarchive", "b", 1, error);
  if (ok && o.linearize) ok = set_attr(state, writer, "_PDFlinearized", "b", 1, error);
  if (ok && o.hasPassword) ok = set_attr(state, writer, "_PDFpasswd", "s", o.password.c_str(), error);
  return ok;
}

enum class Kind { pbm, tiff, pdf, other };

Kind kind_of(const std::string& path, std::string* error) {
  FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) {
    *error = "cannot open " + path + ": " + std::strerror(errno);
    return Kind::other;
  }
  unsigned char b[5] = {};
  const size_t n = std::fread(b, 1, 5, f);
  std::fclose(f);
  if (n == 5 && std::memcmp(b, "%PDF-", 5) == 0) return Kind::pdf;
  if (n >= 2 && b[0] == 'P' && (b[1] == '1' || b[1] == '4')) return Kind::pbm;
  if (n >= 4 && ((b[0] == 'I' && b[1] == 'I' && (b[2] == 42 || b[2] == 43) && b[3] == 0) ||
                 (b[0] == 'M' && b[1] == 'M' && b[2] == 0 && (b[3] == 42 || b[3] == 43)))) {
    return Kind::tiff;
  }
  return Kind::other;
}

const char* describe(elf_object* image) {
  const elf_QELLAYER* l = qelLayer(QELGetLayer(image, 0));
  const elf_QELHDR* h = l ? qelHdr(l->description) : nullptr;
  if (!h) return "no layer";
  const int32_t bits = h->samplesPerPixel * (h->bitsPerSample ? h->bitsPerSample[0] : 0);
  return bits == 1 ? "bilevel" : h->samplesPerPixel == 1 ? "grey" : "colour";
}

class Run {
 public:
  Run(elf_state* state, elf_object* writer, const std::vector<std::string>& texts)
      : state_(state), writer_(writer), texts_(texts) {}

  // Appends one page image, with its text layer when one was given for it; false with the reason.
  bool append(elf_object* image, const std::string& where, std::string* error) {
    std::string text_note;
    if (static_cast<size_t>(pages_) < texts_.size()) {
      if (!attach_text(state_, image, texts_[static_cast<size_t>(pages_)], error)) return false;
      text_note = ", text " + texts_[static_cast<size_t>(pages_)];
    }
    const Held args(lstBuildArgs(state_, "pgImg:QELIMAGE", image, 0, LST_END));
    if (!args.get() || !call_member(state_, writer_, "appendPage", args.get(), error).get()) {
      if (!args.get()) *error = "no memory";
      return false;
    }
    ++pages_;
    const elf_QELIMAGE* im = qelImage(image);
    std::printf("page %d: %s, %d x %d pixels, %g dpi, %s%s\n", pages_, where.c_str(), im->width, im->height,
                im->xres > 0 ? im->xres : 300.0, describe(image), text_note.c_str());
    std::fflush(stdout);
    return true;
  }

  bool append_file(const std::string& file, std::string* error) {
    const Kind kind = kind_of(file, error);
    if (!error->empty()) return false;
    if (kind == Kind::pbm) return append_pbm(file, error);
    if (kind == Kind::tiff) return append_tiff(file, error);
    if (kind == Kind::pdf) return recode_ ? append_recoded(file, error) : append_pdf(file, error);
    elf_object* image = nullptr;
    if (read_image(file, &image, error) != QEL_STATUS_OK) return false;
    const Held held(image);
    return append(image, file, error);
  }

  int32_t pages() const { return pages_; }

 private:
  // A page file of any other raster format, through the engine's reader.
  int read_image(const std::string& file, elf_object** image, std::string* error) {
    // The engine's reader of every raster format, bound in the raster library as the interpreter
    // binds it.
    using ReadFn = int (*)(elf_state*, const char*, elf_object*, elf_object**);
    static ReadFn read = nullptr;
    char why[4200];
    void* place = nullptr;
    if (!read && elfBindSharedProc("kvraster", "QELReadFile2QELIMAGE", &place, why, sizeof why)) {
      read = reinterpret_cast<ReadFn>(place);
    }
    if (!read) {
      *error = why;
      return QEL_STATUS_FAILED;
    }
    clearStatus(state_);
    const int read_status = read(state_, file.c_str(), nullptr, image);
    if (read_status != QEL_STATUS_OK) *error = file + ": " + status_text(state_, read_status);
    return read_status;
  }

  bool append_pbm(const std::string& file, std::string* error) {
    std::vector<Bilevel> found;
    return read_pages(file, &found, error) && append_bilevel(&found, file, error);
  }

  bool append_tiff(const std::string& file, std::string* error) {
    clearStatus(state_);
    const int32_t count = tiff_pages(state_, file);
    if (count < 1) {
      *error = file + ": " + status_text(state_, getStatus(state_));
      return false;
    }
    for (int32_t n = 1; n <= count; ++n) {
      const Held args(lstBuildArgs(state_, "filename:s", file.c_str(), 0, "dirnum:i", n, 0, LST_END));
      elf_object* result = nullptr;
      clearStatus(state_);
      const int status = args.get() ? call_elf_procedure(state_, "readtif", args.get(), &result) : QEL_STATUS_FAILED;
      const Held held(result);
      elf_object* image = nullptr;
      if (status != QEL_STATUS_OK || !lstScanArgs(result, "img:QELIMAGE", LST_OPTIONAL, &image, LST_END) || !image) {
        *error = file + " page " + std::to_string(n) + ": " + status_text(state_, status);
        return false;
      }
      if (!append(image, count > 1 ? file + " #" + std::to_string(n) : file, error)) return false;
    }
    return true;
  }

  // The pages of a PDF decoded to their pixels, written as any bilevel page is.
  bool append_recoded(const std::string& file, std::string* error) {
    std::vector<Bilevel> found;
    if (!read_pdf(file, &found, error)) {
      *error = file + ": " + *error;
      return false;
    }
    return append_bilevel(&found, file, error);
  }

  // Bilevel pages of a file, each released once written.
  bool append_bilevel(std::vector<Bilevel>* pages, const std::string& file, std::string* error) {
    std::vector<Bilevel>& found = *pages;
    for (size_t i = 0; i < found.size(); ++i) {
      const Held image(image_from_pages(state_, {&found[i]}, error));
      if (!image.get()) return false;
      std::vector<uint8_t>().swap(found[i].bits);
      if (!append(image.get(), found.size() > 1 ? file + " #" + std::to_string(i + 1) : file, error)) return false;
    }
    return true;
  }

  // The pages of a PDF as its reader makes them: layers kept in their coding (JBIG2 data and
  // globals byte for byte), one page read, written and released at a time.
  bool append_pdf(const std::string& file, std::string* error) {
    char why[4200];
    void* place = nullptr;
    if (!elfBindSharedProc("pagefiler", "MakeDocReader", &place, why, sizeof why)) {
      *error = why;
      return false;
    }
    const Held args(lstBuildArgs(state_, "filename:s", file.c_str(), 0, LST_END));
    elf_object* made = nullptr;
    clearStatus(state_);
    const int status = args.get() ? reinterpret_cast<elf_method_proc>(place)(state_, args.get(), &made)
                                  : QEL_STATUS_FAILED;
    const Held made_list(made);
    elf_object* reader = nullptr;
    if (status != QEL_STATUS_OK || lstScanArgs(made, "docrd:DOCUMENTREADER", LST_REQUIRED, &reader, LST_END) != 1) {
      *error = file + ": " + status_text(state_, status);
      return false;
    }
    const Held counted = call_member(state_, reader, "getPageCount", nullptr, error);
    int32_t count = 0;
    bool ok = counted.get() && lstScanArgs(counted.get(), "num:i", LST_REQUIRED, &count, LST_END) == 1;
    for (int32_t n = 1; ok && n <= count; ++n) {
      const Held number(lstBuildArgs(state_, "pgnum:i", n, 0, LST_END));
      const Held page = call_member(state_, reader, "getPage", number.get(), error);
      elf_object* image = nullptr;
      ok = page.get() && lstScanArgs(page.get(), "img:QELIMAGE", LST_REQUIRED, &image, LST_END) == 1 &&
           append(image, count > 1 ? file + " #" + std::to_string(n) : file, error);
    }
    std::string ignored;
    call_member(state_, reader, "release", nullptr, &ignored);
    if (!ok) *error = file + ": " + *error;
    return ok;
  }

  elf_state* state_;
  elf_object* writer_;
  const std::vector<std::string>& texts_;
  int32_t pages_ = 0;

 public:
  bool recode_ = false;
};

}  // namespace

int run_pdf(const std::vector<std::string>& args) {
  PdfOptions o;
  if (const int usage = parse(args, &o); usage != exit_ok) return usage;
  Interpreter interp("pagefiler.ucm");
  if (!interp.state) {
    complain("pdf", "cannot make the interpreter state from pagefiler.ucm");
    return exit_failed;
  }
  elf_state* state = interp.state;
  void* place = nullptr;
  char why[4200];
  if (!elfBindSharedProc("pagefiler", "MakeDocWriter", &place, why, sizeof why)) {
    complain("pdf", why);
    return exit_failed;
  }
  const auto make_writer = reinterpret_cast<elf_method_proc>(place);
  KVngSetPrinter(print_engine_message, nullptr);
  const Held made_args(lstBuildArgs(state, "filename:s", o.output.c_str(), 0, "format:s", "pdf", 0, "subtype:s",
                                    o.version.c_str(), 0, "testfile:b", o.test ? 1 : 0, 0, LST_END));
  elf_object* made = nullptr;
  clearStatus(state);
  const int status = made_args.get() ? make_writer(state, made_args.get(), &made) : QEL_STATUS_FAILED;
  const Held made_list(made);
  elf_object* writer = nullptr;
  if (status != QEL_STATUS_OK || lstScanArgs(made, "docwt:DOCUMENTWRITER", LST_REQUIRED, &writer, LST_END) != 1) {
    complain("pdf", o.output + ": " + status_text(state, status));
    KVngSetPrinter(nullptr, nullptr);
    return exit_failed;
  }
  // The name the writer really writes (".pdf" added when there was no extension).
  std::string target = o.output;
  if (target.find('.', target.rfind('/') == std::string::npos ? 0 : target.rfind('/')) == std::string::npos) {
    target += ".pdf";
  }
  std::string error;
  int exit = exit_ok;
  Run run(state, writer, o.texts);
  run.recode_ = o.recode;
  if (!set_attributes(state, writer, o, &error)) {
    complain("pdf", o.output + ": " + error);
    exit = exit_failed;
  }
  for (size_t i = 0; exit == exit_ok && i < o.files.size(); ++i) {
    error.clear();
    if (!run.append_file(o.files[i], &error)) {
      complain("pdf", error);
      exit = exit_failed;
    }
  }
  if (!call_member(state, writer, "release", nullptr, &error).get()) {
    complain("pdf", target + ": " + error);
    exit = exit_failed;
  }
  KVngSetPrinter(nullptr, nullptr);
  if (exit != exit_ok) {
    // A document without all its pages is no result.
    std::remove(target.c_str());
    return exit;
  }
  struct stat st {};
  const long long bytes = stat(target.c_str(), &st) == 0 ? static_cast<long long>(st.st_size) : -1;
  std::printf("%s: %d page%s, %lld bytes\n", target.c_str(), run.pages(), run.pages() == 1 ? "" : "s", bytes);
  return exit_ok;
}

}  // namespace monodoc
