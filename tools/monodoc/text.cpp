// monodoc text: text-layer XML pages turned into plain text, coalesced into words, or converted to
// XPS Glyphs markup through libpagefiler's methods.

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "commands.h"
#include "image_io.h"
#include "session.h"

namespace monodoc {

const char text_help[] =
    "usage: monodoc text [options] PAGE.xml...\n"
    "\n"
    "Works on text-layer XML, one document per page: a root element whose \"Glyphs\" children are\n"
    "the page's glyph runs, each with x0, xw (left edge and width), yb, yh (baseline and height,\n"
    "y downwards), all in page pixels, famStyle (font family * 4 + style: family 0 sans, 1 serif,\n"
    "2 monospaced; style 1 bold, 2 italic, 3 both) and str (the UTF-8 text):\n"
    "  <Page><Glyphs x0=\"300\" xw=\"420\" yb=\"600\" yh=\"60\" famStyle=\"0\" str=\"Hello\"/></Page>\n"
    "Each page's result is written to the standard output, a progress line per page to the\n"
    "standard error stream.\n"
    "\n"
    "Modes (one of them; --plain when none is given):\n"
    "  --plain                the page laid out as plain text lines (QELXML2Text)\n"
    "  --coalesce             runs of one line that are one space width apart joined into one run,\n"
    "                         the rewritten document (QELXML_CoalesceWords)\n"
    "  --xps                  XPS Glyphs markup of the runs (QELXML2XPSXML)\n"
    "Options:\n"
    "  --sw N                 space width in pixels for --coalesce (default 20)\n"
    "  --xtol N               horizontal tolerance for --coalesce (default 5)\n"
    "  --ytol N               baseline tolerance for --coalesce (default 5)\n"
    "  -r, --resolution DPI   page resolution for --xps (default 300)\n"
    "  -h, --help             this text\n"
    "\n"
    "Example: the text of two recognised pages, and the first with its words joined:\n"
    "  monodoc text page1.xml page2.xml > pages.txt\n"
    "  monodoc text --coalesce --sw 18 page1.xml > page1-words.xml\n"
    "\n"
    "Exit status: 0 when every page was converted, 1 otherwise, 2 for wrong usage.\n";

namespace {

constexpr const char* name = "text";

struct TextOptions {
  enum Mode { PLAIN, COALESCE, XPS } mode = PLAIN;
  int sw = 20, xtol = 5, ytol = 5;
  double resolution = 300.0;
  std::vector<std::string> files;
};

bool number(const std::string& text, long lo, long hi, long* out) {
  char* end = nullptr;
  const long v = std::strtol(text.c_str(), &end, 10);
  if (text.empty() || *end || v < lo || v > hi) return false;
  *out = v;
  return true;
}

bool parse_text(const std::vector<std::string>& argv, TextOptions* o, std::string* error) {
  static const std::vector<OptionSpec> specs = {{0, "plain", false}, {0, "coalesce", false}, {0, "xps", false},
                                                {0, "sw", true},     {0, "xtol", true},      {0, "ytol", true},
                                                {'r', "resolution", true}};
  ParsedOptions parsed;
  if (!parse_options(argv, specs, &parsed, error)) return false;
  int modes = 0;
  for (const auto& [spec, value] : parsed.options) {
    const std::string option = spec->long_name;
    long v = 0;
    if (option == "plain" || option == "coalesce" || option == "xps") {
      ++modes;
      o->mode = option == "plain" ? TextOptions::PLAIN : option == "coalesce" ? TextOptions::COALESCE : TextOptions::XPS;
    } else if (option == "resolution") {
      if (!number(value, 1, 10000, &v)) {
        *error = "--resolution takes a whole number of dots per inch from 1 to 10000";
        return false;
      }
      o->resolution = static_cast<double>(v);
    } else {
      if (!number(value, 0, 100000, &v)) {
        *error = "--" + option + " takes a whole number of pixels from 0 to 100000";
        return false;
      }
      (option == "sw" ? o->sw : option == "xtol" ? o->xtol : o->ytol) = static_cast<int>(v);
    }
  }
  if (modes > 1) {
    *error = "give one of --plain, --coalesce and --xps";
    return false;
  }
  if (parsed.operands.empty()) {
    *error = "needs at least one PAGE.xml (monodoc help text)";
    return false;
  }
  o->files = parsed.operands;
  return true;
}

bool read_whole(const std::string& path, std::string* out) {
  FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return false;
  char buffer[65536];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) out->append(buffer, n);
  const bool ok = !std::ferror(f);
  std::fclose(f);
  return ok;
}

}  // namespace

int run_text(const std::vector<std::string>& argv) {
  TextOptions o;
  std::string error;
  if (!parse_text(argv, &o, &error)) {
    complain(name, error);
    return exit_usage;
  }
  static const char* const symbols[] = {"QELXML2Text", "QELXML_CoalesceWords", "QELXML2XPSXML"};
  void* place = nullptr;
  char why[4200];
  if (!elfBindSharedProc("pagefiler", symbols[o.mode], &place, why, sizeof why)) {
    complain(name, why);
    return exit_failed;
  }
  const auto method = reinterpret_cast<elf_method_proc>(place);
  Interpreter interp("pagefiler.ucm");
  elf_state* state = interp.state;
  if (!state) {
    complain(name, "cannot make an interpreter state from pagefiler.ucm");
    return exit_failed;
  }
  int failed = 0;
  for (size_t i = 0; i < o.files.size(); ++i) {
    const std::string& file = o.files[i];
    std::string xml;
    if (!read_whole(file, &xml)) {
      complain(name, "cannot read " + file);
      ++failed;
      continue;
    }
    Held members;
    Held args;
    const char* key = "text:s";
    if (o.mode == TextOptions::PLAIN) {
      args = Held(lstBuildArgs(state, "qelxml:s", xml.c_str(), 0, LST_END));
    } else if (o.mode == TextOptions::COALESCE) {
      key = "result:s";
      members = Held(lstBuildArgs(state, "xtol:i", o.xtol, 0, "ytol:i", o.ytol, 0, "sw:i", o.sw, 0, LST_END));
      args = Held(lstBuildArgs(state, "CALL_NAME:s", "format", 0, "qelxml:s", xml.c_str(), 0, LST_END));
    } else {
      key = "xpsxml:s";
      const double r = o.resolution;
      Held matrix(lstBuildArgs(state, "a:d", 1.0, 0, "b:d", 0.0, 0, "c:d", 0.0, 0, "d:d", 1.0, 0, "e:d", 0.0, 0, "f:d",
                               0.0, 0, LST_END));
      args = Held(lstBuildArgs(state, "@qelxml:s", xml.c_str(), 0, "@width:i", 0, 0, "@height:i", 0, 0, "@xres:d", r,
                               0, "@yres:d", r, 0, "@matrix:", matrix.get(), 0, LST_END));
    }
    elf_object* result = nullptr;
    clearStatus(state);
    const int status = args.get() ? method(members.get(), args.get(), &result) : QEL_STATUS_FAILED;
    const Held kept(result);
    const char* text = nullptr;
    if (status != 0 || !lstScanArgs(result, key, LST_REQUIRED, &text, LST_END)) {
      complain(name, file + ": " + (status ? getStatusMessage(state) : "no result\n"));
      ++failed;
      continue;
    }
    std::fputs(text, stdout);
    std::fprintf(stderr, "monodoc: text: page %zu of %zu: %s\n", i + 1, o.files.size(), file.c_str());
  }
  return failed ? exit_failed : exit_ok;
}

}  // namespace monodoc
