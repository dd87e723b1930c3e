// monodoc xps: scanned pages to one XPS package through libpagefiler's XPS writer, optionally
// signed. Pages are read, appended and let go one at a time.

#include <string>
#include <vector>

#include "commands.h"
#include "output.h"
#include "image_io.h"
#include "document_job.h"
#include "session.h"

namespace monodoc {

const char xps_help[] =
    "usage: monodoc xps [options] [--text PAGE.xml]... -o OUTPUT.xps PAGEFILE...\n"
    "\n"
    "Writes the pages of the page files (PBM, PNG, TIFF with every directory, JPEG, GIF, BMP,\n"
    "PNM) into one XPS package with the document writer of libpagefiler (MakeDocWriter, format\n"
    "xps). Each page becomes a FixedPage whose image layers are ImageBrush parts, all lossless but\n"
    "JPEG: raw bilevel layers as CCITT G4 TIFF, grey and colour layers as PNG, JPEG layers as their\n"
    "JPEG bytes. A JPEG page file becomes its page's image part as it is, unless its coding\n"
    "(arithmetic, 12-bit, RGB without YCbCr) must be converted; a page file that is cut short or\n"
    "damaged fails with the reason. The package holds one FixedDocument, its relationships,\n"
    "content types and core properties. Each page is read, written and released before the next,\n"
    "and a line per page tells how it went.\n"
    "\n"
    "Options:\n"
    "  -o, --output FILE     the package to write\n"
    "      --sign KEY.p12    sign the package (OPC digital signature) with the PKCS#12 key\n"
    "      --password P      the password of KEY.p12\n"
    "      --title TEXT      the title of the core properties\n"
    "      --test            fixed dates, so that runs give identical files\n"
    "      --text PAGE.xml   the text-layer XML of a page (repeatable: the first --text goes with\n"
    "                        the first page, the second with the second ..., counting pages\n"
    "                        across the page files in order, every page of a multi-page file\n"
    "                        included; pages beyond the last --text have none): its words become\n"
    "                        invisible Glyphs over the page image, so that the package can be\n"
    "                        searched and copied from (monodoc help text tells the XML form);\n"
    "                        characters beyond the Latin-1 and Latin-2 sets of the text fonts\n"
    "                        are written as \"?\", and a note on the page counts them\n"
    "  -h, --help            this text\n"
    "\n"
    "Text is set in one font the package carries (NimbusSans from fonts-urw-base35, obfuscated as\n"
    "XPS asks for fonts embedded for preview and print). A page that cannot be read or written\n"
    "ends the run; no output file stays then.\n"
    "\n"
    "Exit status: 0 when every page was written, 1 otherwise, 2 for wrong usage.\n";

namespace {

struct XpsOptions {
  std::string output;
  std::string key;
  std::string password;
  bool hasPassword = false;
  std::string title;
  bool test = false;
  std::vector<std::string> texts;
  std::vector<std::string> files;
};

int parse(const std::vector<std::string>& args, XpsOptions* o) {
  static const std::vector<OptionSpec> specs = {
      {'o', "output", true}, {0, "sign", true}, {0, "password", true}, {0, "title", true}, {0, "test", false},
      {0, "text", true}};
  ParsedOptions parsed;
  std::string error;
  if (!parse_options(args, specs, &parsed, &error)) {
    complain("xps", error);
    return exit_usage;
  }
  for (const auto& [spec, value] : parsed.options) {
    const std::string name = spec->long_name;
    if (name == "output") {
      o->output = value;
    } else if (name == "sign") {
      o->key = value;
    } else if (name == "password") {
      o->password = value;
      o->hasPassword = true;
    } else if (name == "title") {
      o->title = value;
    } else if (name == "test") {
      o->test = true;
    } else if (name == "text") {
      o->texts.push_back(value);
    }
  }
  o->files = parsed.operands;
  if (o->output.empty() || o->files.empty()) {
    complain("xps", "needs -o OUTPUT and at least one PAGEFILE (monodoc help xps)");
    return exit_usage;
  }
  if (o->hasPassword && o->key.empty()) {
    complain("xps", "--password belongs to --sign KEY.p12");
    return exit_usage;
  }
  return exit_ok;
}

bool set_attributes(elf_state* state, elf_object* writer, const XpsOptions& o, std::string* error) {
  bool ok = set_writer_attr(state, writer, "_XPScreator", "s", "monodoc xps", error);
  if (ok && !o.title.empty()) ok = set_writer_attr(state, writer, "_XPStitle", "s", o.title.c_str(), error);
  if (ok && !o.key.empty()) ok = set_writer_attr(state, writer, "_XPScertFile", "s", o.key.c_str(), error);
  if (ok && o.hasPassword) ok = set_writer_attr(state, writer, "_XPScertPassword", "s", o.password.c_str(), error);
  return ok;
}

}  // namespace

int run_xps(const std::vector<std::string>& args) {
  XpsOptions o;
  if (const int usage = parse(args, &o); usage != exit_ok) return usage;
  // The key is read only when the package is signed, at its end: refused before anything else.
  std::string refused;
  if (!o.key.empty() && !refuse_same_file(o.output, {o.key}, &refused)) {
    complain("xps", refused);
    return exit_failed;
  }
  Interpreter interp("pagefiler.ucm");
  if (!interp.state) {
    complain("xps", "cannot make the interpreter state from pagefiler.ucm");
    return exit_failed;
  }
  DocumentJob job{"xps", o.output, o.output, o.files, o.key.empty() ? "" : ", signed",
                  [&](elf_object* list) {
                    return lstAppendArgs(list, "format:s", "xps", 0, "testfile:b", o.test ? 1 : 0, 0, LST_END) == 1;
                  },
                  [&](elf_state* state, elf_object* writer, std::string* error) {
                    return set_attributes(state, writer, o, error);
                  },
                  o.texts,
                  nullptr};
  return write_document(interp.state, job);
}

}  // namespace monodoc
