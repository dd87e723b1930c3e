// monodoc: plays the imaging interpreter so that the plug-in methods can be driven on page files.

#include <cstdio>
#include <cstring>
#include <exception>
#include <iterator>
#include <string>
#include <vector>

#include "commands.h"

namespace monodoc {
namespace {

constexpr Command commands[] = {
    {"call", "call an interpreter method of a plug-in library on pages", call_help, run_call},
    {"encode", "compress pages to embedded JBIG2 through jBig2Encode", encode_help, run_encode},
    {"decode", "decode embedded JBIG2 pages to PBM through jBig2Decode", decode_help, run_decode},
    {"identify", "tell what the imaging engine takes files for", identify_help, run_identify},
    {"info", "open documents with libpagefiler and print format, pages, checksum", info_help, run_info},
    {"zip", "list, dump or extract zip archives", zip_help, run_zip},
    {"spec", "describe pages as transform specifications and match them to targets", spec_help, run_spec},
    {"pdf", "scanned pages to one PDF: JBIG2 with shared dictionaries, JPEG or Flate", pdf_help, run_pdf},
    {"tiff", "write and read TIFF-FX fax documents, pages kept in their coding", tiff_help, run_tiff},
};

constexpr char overview[] =
    "usage: monodoc <command> [options] [arguments]\n"
    "       monodoc help [<command>]\n"
    "\n"
    "Plays the imaging interpreter: loads plug-in libraries, reads pages into page images and\n"
    "calls the libraries' methods on them; opens documents and zip archives through\n"
    "libpagefiler.\n"
    "\n"
    "Commands:\n";

constexpr char trailer[] =
    "\n"
    "Pages are read from PBM (P1, P4, several images per file) and, through the imaging engine's\n"
    "readers, TIFF (every directory), PNG, JPEG, GIF, BMP and PNM files; grey and colour pixels\n"
    "darker than half are black, transparent ones white. PDF files give their pages through\n"
    "libpagefiler's PDF reader when each page is one scanned image (JBIG2, CCITT, Flate or\n"
    "uncompressed).\n"
    "Plug-in libraries are named as the interpreter names them: \"monocodec\" is libmonocodec.so,\n"
    "looked for in the directories of MONODOC_PLUGIN_PATH (colon-separated), then beside the\n"
    "interpreter library, then on the loader's path; a name with a '/' is a file path.\n"
    "\n"
    "Exit status: 0 success (warnings included), 1 failure, 2 wrong usage.\n";

void print_overview(FILE* out) {
  std::fputs(overview, out);
  for (const Command& c : commands) std::fprintf(out, "  %-9s %s\n", c.name, c.summary);
  std::fputs(trailer, out);
}

const Command* find_command(const std::string& name) {
  for (const Command& c : commands) {
    if (name == c.name) return &c;
  }
  return nullptr;
}

int run(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  if (args.empty()) {
    print_overview(stderr);
    return exit_usage;
  }
  const std::string& first = args.front();
  if (first == "help" || first == "--help" || first == "-h") {
    if (args.size() < 2) {
      print_overview(stdout);
      return exit_ok;
    }
    const Command* c = find_command(args[1]);
    if (!c) {
      std::fprintf(stderr, "monodoc: no command \"%s\" (monodoc help lists them)\n", args[1].c_str());
      return exit_usage;
    }
    std::fputs(c->help, stdout);
    return exit_ok;
  }
  const Command* c = find_command(first);
  if (!c) {
    std::fprintf(stderr, "monodoc: no command \"%s\" (monodoc help lists them)\n", first.c_str());
    return exit_usage;
  }
  args.erase(args.begin());
  for (const std::string& a : args) {
    if (a == "--") break;
    if (a == "--help" || a == "-h") {
      std::fputs(c->help, stdout);
      return exit_ok;
    }
  }
  return c->run(args);
}

}  // namespace

bool parse_options(const std::vector<std::string>& args, const std::vector<OptionSpec>& specs, ParsedOptions* out,
                   std::string* error) {
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--") {
      out->operands.insert(out->operands.end(), args.begin() + static_cast<std::ptrdiff_t>(i) + 1, args.end());
      return true;
    }
    if (a.size() < 2 || a[0] != '-') {
      out->operands.push_back(a);
      continue;
    }
    const bool is_long = a[1] == '-';
    const size_t eq = is_long ? a.find('=') : std::string::npos;
    const std::string name = is_long ? a.substr(2, eq == std::string::npos ? std::string::npos : eq - 2) : a.substr(1, 1);
    const OptionSpec* spec = nullptr;
    for (const OptionSpec& s : specs) {
      if (is_long ? name == s.long_name : name[0] == s.short_name) spec = &s;
    }
    if (!spec) {
      *error = "unknown option " + (is_long ? "--" + name : "-" + name);
      return false;
    }
    std::string value;
    const std::string attached = is_long ? (eq == std::string::npos ? "" : a.substr(eq + 1)) : a.substr(2);
    const bool has_attached = is_long ? eq != std::string::npos : a.size() > 2;
    if (spec->takes_value) {
      if (has_attached) {
        value = attached;
      } else if (i + 1 < args.size()) {
        value = args[++i];
      } else {
        *error = "option --" + std::string(spec->long_name) + " needs a value";
        return false;
      }
    } else if (has_attached) {
      *error = "option --" + std::string(spec->long_name) + " takes no value";
      return false;
    }
    out->options.emplace_back(spec, value);
  }
  return true;
}

void complain(const char* command, const std::string& message) {
  std::fprintf(stderr, "monodoc: %s: %s\n", command, message.c_str());
}

}  // namespace monodoc

int main(int argc, char** argv) {
  try {
    return monodoc::run(argc, argv);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "monodoc: %s\n", e.what());
    return monodoc::exit_failed;
  }
}
