// monodoc pdf: scanned pages to one PDF through libpagefiler's PDF writer. Bilevel pages go to the
// PDF library's JBIG2 coder in sections of ten pages sharing one JBIG2Globals stream; grey and
// colour pages become JPEG or Flate images. Pages are read, appended and let go one at a time.

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "commands.h"
#include "document_job.h"
#include "image_io.h"
#include "page_files.h"
#include "session.h"

namespace monodoc {

const char pdf_help[] =
    "usage: monodoc pdf [options] -o OUTPUT.pdf PAGEFILE...\n"
    "\n"
    "Writes the pages of the page files (PBM, PNG, TIFF with every directory, JPEG, GIF, BMP,\n"
    "PNM, PDF) into one PDF with the document writer of libpagefiler (MakeDocWriter, format pdf).\n"
    "Bilevel pages become JBIG2 images: the PDF library codes them with libmonocodec's engine in\n"
    "sections of ten pages, and the pages of a section share one JBIG2Globals dictionary. Grey\n"
    "and colour pages become JPEG (DCT) images, or Flate images with --flate. A JPEG file's page\n"
    "keeps the file's own bytes (no second coding) unless --flate asks for Flate, or its coding\n"
    "(arithmetic, 12-bit, RGB without YCbCr) is not one every PDF reader takes; a JPEG or other\n"
    "page file that is cut short or damaged fails with the reason. Each page is read, written\n"
    "and released before the next, and a line per page tells how it went.\n"
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

bool set_attributes(elf_state* state, elf_object* writer, const PdfOptions& o, std::string* error) {
  constexpr int32_t kJbig2 = 7, kJpeg = 1, kDeflate = 6;
  // Coding type 0 is arithmetic coding; any other value Huffman with the profile's tables.
  const int32_t type = o.profile == 3 ? 0 : o.profile;
  bool ok = set_writer_attr(state, writer, "_DIObinarycomp", "i", kJbig2, error) &&
            set_writer_attr(state, writer, "_DIOcontonecomp", "i", o.flate ? kDeflate : kJpeg, error) &&
            set_writer_attr(state, writer, "_DIOjpegqual", "i", o.quality, error) &&
            set_writer_attr(state, writer, "_DIOjb2type", "i", type, error) &&
            set_writer_attr(state, writer, "_DIOcreator", "s", "monodoc pdf", error);
  if (ok && !o.lossy) ok = set_writer_attr(state, writer, "_DIOjb2lossless", "b", 1, error);
  // Text layers make most of a searchable page's content: it is worth compressing.
  if (ok && !o.texts.empty()) ok = set_writer_attr(state, writer, "_PDFdeflateText", "b", 1, error);
  if (ok && o.pdfa) ok = set_writer_attr(state, writer, "_PDFarchive", "b", 1, error);
  if (ok && o.linearize) ok = set_writer_attr(state, writer, "_PDFlinearized", "b", 1, error);
  if (ok && o.hasPassword) ok = set_writer_attr(state, writer, "_PDFpasswd", "s", o.password.c_str(), error);
  return ok;
}

bool is_pdf(const std::string& path, std::string* error) {
  FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) {
    *error = "cannot open " + path + ": " + std::strerror(errno);
    return false;
  }
  unsigned char b[5] = {};
  const size_t n = std::fread(b, 1, 5, f);
  std::fclose(f);
  return n == 5 && std::memcmp(b, "%PDF-", 5) == 0;
}

// The pages of a PDF as its reader makes them: layers kept in their coding (JBIG2 data and
// globals byte for byte), one page read, written and released at a time.
bool stream_pdf(elf_state* state, const std::string& file, const PageSink& sink, std::string* error) {
  char why[4200];
  void* place = nullptr;
  if (!elfBindSharedProc("pagefiler", "MakeDocReader", &place, why, sizeof why)) {
    *error = why;
    return false;
  }
  const bool ok = stream_reader_pages(
      state, reinterpret_cast<elf_method_proc>(place), file, "",
      [&](elf_object* image, int32_t n, int32_t count, std::string* why_not) {
        return sink(image, count > 1 ? file + " #" + std::to_string(n) : file, why_not);
      },
      error);
  if (!ok) *error = file + ": " + *error;
  return ok;
}

// PDF page files: decoded to their pixels and written as any bilevel page is (--recode), or
// passed through as the PDF reader reads them. Other files are the document run's.
bool pdf_pages(elf_state* state, bool recode, const std::string& file, const PageSink& sink, bool* taken,
               std::string* error) {
  *taken = is_pdf(file, error);
  if (!*taken) return error->empty();
  if (!recode) return stream_pdf(state, file, sink, error);
  std::vector<Bilevel> found;
  if (!read_pdf(file, &found, error)) {
    *error = file + ": " + *error;
    return false;
  }
  return stream_bilevel(state, &found, file, sink, error);
}

}  // namespace

int run_pdf(const std::vector<std::string>& args) {
  PdfOptions o;
  if (const int usage = parse(args, &o); usage != exit_ok) return usage;
  Interpreter interp("pagefiler.ucm");
  if (!interp.state) {
    complain("pdf", "cannot make the interpreter state from pagefiler.ucm");
    return exit_failed;
  }
  // The name the writer really writes (".pdf" added when there was no extension).
  std::string target = o.output;
  if (target.find('.', target.rfind('/') == std::string::npos ? 0 : target.rfind('/')) == std::string::npos) {
    target += ".pdf";
  }
  DocumentJob job{"pdf", o.output, target, o.files, "",
                  [&](elf_object* list) {
                    return lstAppendArgs(list, "format:s", "pdf", 0, "subtype:s", o.version.c_str(), 0, "testfile:b",
                                         o.test ? 1 : 0, 0, LST_END) == 1;
                  },
                  [&](elf_state* state, elf_object* writer, std::string* error) {
                    return set_attributes(state, writer, o, error);
                  },
                  o.texts,
                  [&](const std::string& file, const PageSink& sink, bool* taken, std::string* error) {
                    return pdf_pages(interp.state, o.recode, file, sink, taken, error);
                  }};
  job.jpeg_as_is = !o.flate;
  return write_document(interp.state, job);
}

}  // namespace monodoc
