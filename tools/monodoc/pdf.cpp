// monodoc pdf: scanned pages to one PDF through libpagefiler's PDF writer. Bilevel pages go to the
// PDF library's JBIG2 coder in sections of ten pages sharing one JBIG2Globals stream; grey and
// colour pages become JPEG or Flate images. Pages are read, appended and let go one at a time.

#include <cerrno>
#include <sys/stat.h>

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
    "      --profile N       JBIG2 coding: 3 arithmetic (MQ) coding (default), 1 or 2 Huffman and\n"
    "                        MMR coding\n"
    "  -q, --quality N       JPEG quality of grey and colour pages, 1 to 100 (default 85)\n"
    "      --flate           grey and colour pages as Flate images (lossless) instead of JPEG\n"
    "      --pdfa            PDF/A-1b: XMP identification, sRGB output intent (ICC version 2).\n"
    "                        Refused with --password, and with no file written when a page\n"
    "                        cannot meet it: text shown in a font that is not embedded (text\n"
    "                        read from a PDF keeps its fonts unembedded; invisible text may),\n"
    "                        transparency, JPEG 2000 or LZW\n"
    "      --linearize       linearized (\"fast web view\") through the post-format plug-in\n"
    "  -p, --input-password P\n"
    "                        the password of encrypted PDF page files (as monodoc info -p)\n"
    "      --password P      encrypted for the user password P (any UTF-8 text): AES-256\n"
    "                        (revision 6, PDF 1.7, the password in SASLprep form); with\n"
    "                        --version 1.4 RC4-128 (revision 3, PDF 1.4), which takes only\n"
    "                        passwords that PDFDocEncoding carries (others are refused)\n"
    "      --version V       PDF version 1.3, 1.4 (default; 1.7 with --password) or 1.7. A\n"
    "                        version older than the file needs is refused: JBIG2 images,\n"
    "                        RC4-128 and --pdfa need 1.4, AES-256 1.7\n"
    "      --test            fixed IDs and dates, so that runs give identical files\n"
    "      --text PAGE.xml   the text-layer XML of a page (repeatable: the first --text goes with\n"
    "                        the first page, the second with the second ..., counting pages\n"
    "                        across the page files in order, every page of a multi-page file\n"
    "                        included; pages beyond the last --text have none): its words become\n"
    "                        invisible text over the page image, so that the PDF can be searched\n"
    "                        and copied from (monodoc help text tells the XML form);\n"
    "                        characters beyond the Latin-1 and Latin-2 sets of the text fonts\n"
    "                        are written as \"?\", and a note on the page counts them\n"
    "      --recode          bilevel images of PDF page files decoded and coded again as JBIG2;\n"
    "                        grey and colour images keep their coding, pages their boxes and\n"
    "                        rotation. A page must be one image that fills it (and invisible\n"
    "                        text, as over a scan)\n"
    "  -h, --help            this text\n"
    "\n"
    "Pages of PDF page files pass through as libpagefiler's PDF reader reads them: images as\n"
    "they are stored, rectangles, text in the 14 standard fonts, invisible text in any font, the\n"
    "page boxes and rotation. A page that draws anything else (paths, shadings, clips, text in\n"
    "embedded fonts ...) is refused by name, as \"page 3: vector drawing is not carried\".\n"
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
  std::string inputPassword;
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
      {'o', "output", true},     {0, "lossy", false},    {0, "profile", true},  {'q', "quality", true},
      {0, "flate", false},       {0, "pdfa", false},     {0, "linearize", false}, {0, "password", true},
      {0, "version", true},      {0, "test", false},     {0, "text", true},
      {0, "recode", false},      {'p', "input-password", true}};
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
    } else if (name == "input-password") {
      o->inputPassword = value;
    }
  }
  // The version chooses the security handler: AES-256 at 1.7, RC4-128 at 1.4.
  if (o->version.empty()) o->version = o->hasPassword ? "v1.7" : "v1.4";
  if (o->hasPassword && o->version == "v1.3") {
    complain("pdf", "--password needs PDF 1.4 (RC4-128) or 1.7 (AES-256), not --version 1.3");
    return exit_usage;
  }
  o->files = parsed.operands;
  if (o->output.empty() || o->files.empty()) {
    complain("pdf", "needs -o OUTPUT and at least one PAGEFILE (monodoc help pdf)");
    return exit_usage;
  }
  if (o->pdfa && o->version == "v1.3") {
    complain("pdf", "PDF/A-1 needs PDF 1.4 (its metadata and output intent): --pdfa takes --version 1.4 or 1.7");
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

// The reader's refusal of an encrypted file, said for the command line.
std::string opening_failure(const std::string& file, const std::string& password, const std::string& why) {
  // The reason may come already in plain words when the opening step has translated it.
  if (why.find("PDF_PASSWORD_PROTECT") == std::string::npos && why.find("protected by a password") == std::string::npos)
    return file + ": " + why;
  return file + (password.empty() ? ": encrypted: its password is needed (-p PASSWORD)"
                                  : ": encrypted, and the password given (-p) does not open it");
}

// The pages of a PDF as its reader makes them: layers kept in their coding (JBIG2 data and
// globals byte for byte), one page read, written and released at a time. A page that draws what
// the layers cannot carry is refused by name: written, it would look different.
bool stream_pdf(elf_state* state, const std::string& file, const std::string& password, const PageSink& sink,
                std::string* error) {
  char why[4200];
  void* place = nullptr;
  if (!elfBindSharedProc("pagefiler", "MakeDocReader", &place, why, sizeof why)) {
    *error = why;
    return false;
  }
  const bool ok = stream_reader_pages(
      state, reinterpret_cast<elf_method_proc>(place), file, password,
      [&](elf_object* image, int32_t n, int32_t count, std::string* why_not) {
        if (!pdf_page_carried(image, n, why_not)) return false;
        return sink(image, count > 1 ? file + " #" + std::to_string(n) : file, why_not);
      },
      error);
  if (!ok) *error = opening_failure(file, password, *error);
  return ok;
}

// --recode: one page at a time from one opening of the file, its black-and-white image decoded
// and given to the writer as pixels (coded again as JBIG2) in the page's boxes and rotation;
// grey and colour images go through as they are stored.
bool recode_pdf(elf_state* state, const std::string& file, const std::string& password, const PageSink& sink,
                std::string* error) {
  const bool ok = visit_pdf_pages(
      state, file, password,
      [&](elf_object* image, PDFDoc* doc, int32_t n, int32_t count, std::string* why) {
        const std::string where = count > 1 ? file + " #" + std::to_string(n) : file;
        Bilevel page;
        bool bilevel = false;
        if (!pdf_page_carried(image, n, why) || !recode_page(state, doc, image, n, &page, &bilevel, why)) return false;
        if (!bilevel) return sink(image, where, why);
        const Held made(image_from_pages(state, {&page}, why));
        std::vector<uint8_t>().swap(page.bits);
        return made.get() && keep_page_rest(image, made.get(), why) && sink(made.get(), where, why);
      },
      error);
  if (!ok) *error = opening_failure(file, password, *error);
  return ok;
}

// PDF page files: passed through as the PDF reader reads them, or re-coded (--recode). Other
// files are the document run's.
bool pdf_pages(elf_state* state, bool recode, const std::string& password, const std::string& file,
               const PageSink& sink, bool* taken, std::string* error) {
  *taken = is_pdf(file, error);
  if (!*taken) return error->empty();
  return recode ? recode_pdf(state, file, password, sink, error) : stream_pdf(state, file, password, sink, error);
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
  // The name the writer really writes (".pdf" added when there was no extension, unless it names
  // a FIFO or a device, which is written as it is).
  std::string target = o.output;
  struct stat st {};
  const bool device = stat(target.c_str(), &st) == 0 && (S_ISFIFO(st.st_mode) || S_ISCHR(st.st_mode));
  if (!device &&
      target.find('.', target.rfind('/') == std::string::npos ? 0 : target.rfind('/')) == std::string::npos) {
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
                    return pdf_pages(interp.state, o.recode, o.inputPassword, file, sink, taken, error);
                  }};
  job.jpeg_as_is = !o.flate;
  return write_document(interp.state, job);
}

}  // namespace monodoc
