// monodoc call: one interpreter method of a plug-in library, called on page images.

#include <cstdio>
#include <string>
#include <vector>

#include "commands.h"
#include "image_io.h"
#include "page_files.h"
#include "session.h"

namespace monodoc {

const char call_help[] =
    "usage: monodoc call [options] LIBRARY METHOD PAGEFILE...\n"
    "\n"
    "Reads the pages of the files into page images, each holding raw 1-bit layers (photometric\n"
    "0x15, 1 = black), calls METHOD of the plug-in library LIBRARY on every image as the\n"
    "interpreter would (target image, argument list, result list) and writes the layers of the\n"
    "resulting image:\n"
    "  PREFIX-<image>-<layer>.pbm   raw 1-bit layers\n"
    "  PREFIX-<image>-<layer>.jb2   JBIG2 page layers (embedded stream, no file header)\n"
    "  PREFIX-<image>-dict.jb2      the JBIG2 dictionary layer (embedded stream)\n"
    "Images and layers count from 1. \"jbig2dec -e PREFIX-1-dict.jb2 PREFIX-1-1.jb2\" decodes a\n"
    "JBIG2 page layer against its dictionary.\n"
    "\n"
    "Options:\n"
    "  -a, --arg NAME=VALUE   an argument for the method (repeatable). NAME:T=VALUE gives the type:\n"
    "                         i integer, d double, b boolean, s text; without it a whole number\n"
    "                         is an integer, another number a double, true/false a boolean,\n"
    "                         anything else text\n"
    "  -o, --output PREFIX    where the results go (default \"out\")\n"
    "  -1, --one-image        all pages as layers of one image, one call (default: one image and\n"
    "                         one call per page)\n"
    "  -n, --no-output        call the method but write no files\n"
    "  -h, --help             this text\n"
    "\n"
    "A library that brings object types has a type description beside it (\"pagefiler.ucm\"); the\n"
    "call's interpreter state is made from it, so its methods can make those types:\n"
    "  monodoc call -n pagefiler getTransformSpec page.tif\n"
    "\n"
    "A method that fails makes monodoc report the interpreter status and exit with 1; a warning\n"
    "(severity 0) is reported and the results are still written.\n";

namespace {

constexpr const char* name = "call";

struct CallOptions {
  std::vector<std::string> args;
  std::string prefix = "out";
  bool one_image = false;
  bool write = true;
  std::string library, method;
  std::vector<std::string> files;
};

bool parse_call(const std::vector<std::string>& argv, CallOptions* o, std::string* error) {
  static const std::vector<OptionSpec> specs = {
      {'a', "arg", true}, {'o', "output", true}, {'1', "one-image", false}, {'n', "no-output", false}};
  ParsedOptions parsed;
  if (!parse_options(argv, specs, &parsed, error)) return false;
  for (const auto& [spec, value] : parsed.options) {
    switch (spec->short_name) {
      case 'a': o->args.push_back(value); break;
      case 'o': o->prefix = value; break;
      case '1': o->one_image = true; break;
      case 'n': o->write = false; break;
    }
  }
  if (parsed.operands.size() < 3) {
    *error = "needs LIBRARY, METHOD and at least one PAGEFILE (monodoc help call)";
    return false;
  }
  o->library = parsed.operands[0];
  o->method = parsed.operands[1];
  o->files.assign(parsed.operands.begin() + 2, parsed.operands.end());
  return true;
}

// Calls the method on one image and writes its results; returns the exit status.
int call_on_image(elf_state* state, elf_method_proc method, const CallOptions& o, elf_object* args, Held image,
                  int number, OutputSet* files) {
  clearStatus(state);
  elf_object* result = nullptr;
  const int status = method(image.get(), args, &result);
  const Held held_result(result);
  const std::string label = o.method + " on image " + std::to_string(number);
  if (status != QEL_STATUS_OK) {
    const std::string message = getStatus(state) ? getStatusMessage(state) : "";
    const bool warning = getStatus(state) == status && getStatusSeverity(state) == QEL_SEVERITY_WARNING;
    std::string text = label + (warning ? ": warning " : ": failed with status ") + std::to_string(status);
    if (!message.empty()) text += ": " + message.substr(0, message.find_last_not_of('\n') + 1);
    complain(name, text);
    if (!warning) return exit_failed;
  }
  for (const std::string& line : describe_list(result)) std::printf("%s: %s\n", label.c_str(), line.c_str());
  if (!o.write) return exit_ok;

  elf_object* out = nullptr;
  if (!result || lstScanArgs(result, "img:", LST_OPTIONAL, &out, LST_END) != 1 || !qelImage(out)) out = image.get();
  std::vector<std::string> written, skipped;
  std::string error;
  const bool ok = write_image_layers(out, o.prefix, number, files, &written, &skipped, &error);
  for (const std::string& path : written) std::printf("wrote %s\n", path.c_str());
  for (const std::string& what : skipped) complain(name, what);
  if (!ok) {
    complain(name, error);
    return exit_failed;
  }
  return exit_ok;
}

}  // namespace

int run_call(const std::vector<std::string>& argv) {
  CallOptions o;
  std::string error;
  if (!parse_call(argv, &o, &error)) {
    complain(name, error);
    return exit_usage;
  }

  std::vector<Bilevel> pages;
  if (!read_all_pages(o.files, &pages, &error)) {
    complain(name, error);
    return exit_failed;
  }

  // A library that brings object types has a type description beside it; its methods make and
  // use those types, so the state knows them.
  const std::string types = o.library + ".ucm";
  char found[4096];
  const bool has_types = o.library.find('/') == std::string::npos &&
                         elfFindPlatformFile(types.c_str(), found, sizeof found);
  Interpreter interp(has_types ? types.c_str() : "monodoc");
  if (!interp.state) {
    complain(name, "cannot make the interpreter state");
    return exit_failed;
  }
  void* address = nullptr;
  char why[4200];
  if (!elfBindSharedProc(o.library.c_str(), o.method.c_str(), &address, why, sizeof why)) {
    complain(name, why);
    return exit_failed;
  }
  auto* method = reinterpret_cast<elf_method_proc>(address);

  const Held args(arguments_from_text(interp.state, o.args, &error));
  if (!args.get()) {
    complain(name, error);
    return exit_usage;
  }

  std::vector<std::vector<const Bilevel*>> groups;
  for (const Bilevel& page : pages) {
    if (o.one_image && !groups.empty()) {
      groups.back().push_back(&page);
    } else {
      groups.push_back({&page});
    }
  }
  // Every file appears at the end, when all images are written, or none does.
  OutputSet files(o.files);
  for (size_t i = 0; i < groups.size(); ++i) {
    Held image(image_from_pages(interp.state, groups[i], &error));
    if (!image.get()) {
      complain(name, error);
      return exit_failed;
    }
    const int status =
        call_on_image(interp.state, method, o, args.get(), std::move(image), static_cast<int>(i) + 1, &files);
    if (status != exit_ok) return status;
  }
  if (!files.commit(&error)) {
    complain(name, error);
    return exit_failed;
  }
  return exit_ok;
}

}  // namespace monodoc
