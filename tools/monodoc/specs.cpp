// monodoc spec: pages described as transform specifications, matched against targets, and what
// each step of the chosen target asks of them.

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "commands.h"
#include "output.h"
#include "dio.h"
#include "image_io.h"
#include "page_files.h"
#include "session.h"

namespace monodoc {

const char spec_help[] =
    "usage: monodoc spec [options] PAGEFILE...\n"
    "\n"
    "Describes every page as the interpreter's scripts do before a page is written: the method\n"
    "getTransformSpec of libpagefiler makes the page's TRANSFORMSPEC, its member initByImage fills\n"
    "it from the page's layers, and the spec is printed:\n"
    "  page 1: orientation portrait, page mode flat, rotate 0, affine 0, MRC no\n"
    "    binary: depth 1, compression none, 300x300 dpi, 2550x3300, photometry 21\n"
    "    contone: none\n"
    "With --targets, matchList chooses the target closest to each page, and the tests of that\n"
    "target (testFlat, testAffine, testSegment, testSize, testDepth, testOrient, testCompress,\n"
    "testPhotom) tell which steps the page needs:\n"
    "  page 1 matches target 2 (not exact)\n"
    "    testSize: needed, sfact = 0.666667, xsize = 1700, ysize = 2200, xres = 200, yres = 200\n"
    "\n"
    "Options:\n"
    "  -t, --targets FILE     target specs: a LIST of TRANSFORMSPEC in the interpreter's text form,\n"
    "                         as --write or a writer's spec list writes it\n"
    "  -w, --write FILE       write the pages' specs to FILE as such a LIST\n"
    "  -a, --arg NAME=VALUE   an argument for every test (repeatable), as for monodoc call:\n"
    "                         pulling:b, reduce:b, degrees:i, jpRot:b, decode:b\n"
    "  -h, --help             this text\n"
    "\n"
    "Example: describe a scan, keep its spec, and match a second scan against it:\n"
    "  monodoc spec -w first.spec scan1.tif && monodoc spec -t first.spec scan2.tif\n"
    "\n"
    "Exit status: 0 when every page was described (and matched), 1 otherwise, 2 for wrong usage.\n";

namespace {

constexpr const char* name = "spec";

struct SpecOptions {
  std::string targets, write;
  std::vector<std::string> args;
  std::vector<std::string> files;
};

bool parse_spec(const std::vector<std::string>& argv, SpecOptions* o, std::string* error) {
  static const std::vector<OptionSpec> specs = {{'t', "targets", true}, {'w', "write", true}, {'a', "arg", true}};
  ParsedOptions parsed;
  if (!parse_options(argv, specs, &parsed, error)) return false;
  for (const auto& [spec, value] : parsed.options) {
    switch (spec->short_name) {
      case 't': o->targets = value; break;
      case 'w': o->write = value; break;
      case 'a': o->args.push_back(value); break;
    }
  }
  if (parsed.operands.empty()) {
    *error = "needs at least one PAGEFILE (monodoc help spec)";
    return false;
  }
  o->files = parsed.operands;
  return true;
}

// What the run binds from libpagefiler by name, as the interpreter does.
struct Library {
  elf_method_proc make = nullptr;
  DIOCoreSpec* (*core)(elf_object*) = nullptr;
  void (*compression_name)(int32_t, char*) = nullptr;

  bool bind(std::string* error) {
    char why[4200];
    void* places[3] = {};
    const char* symbols[3] = {"getTransformSpec", "dioCoreSpec", "__qelcompressToString"};
    for (int i = 0; i < 3; ++i) {
      if (!elfBindSharedProc("pagefiler", symbols[i], &places[i], why, sizeof why)) {
        *error = why;
        return false;
      }
    }
    make = reinterpret_cast<elf_method_proc>(places[0]);
    core = reinterpret_cast<DIOCoreSpec* (*)(elf_object*)>(places[1]);
    compression_name = reinterpret_cast<void (*)(int32_t, char*)>(places[2]);
    return true;
  }
};

std::string compression(const Library& lib, int32_t code) {
  if (code == 0) return "none";
  if (code == -1) return "any";
  char text[DIO_COMPRESSION_NAME_MAX];
  lib.compression_name(code, text);
  std::string s = text;
  if (s.size() > 1 && s.front() == '"') return s.substr(1, s.size() - 2);
  return std::to_string(code);
}

std::string block_line(const Library& lib, const char* kind, const DIORasterSpec& b) {
  std::string line = std::string("    ") + kind + ": ";
  if (b.depth == 0) return line + "none";
  char text[160];
  std::snprintf(text, sizeof text, "depth %d, compression %s, %gx%g dpi, %dx%d, photometry ", b.depth,
                compression(lib, b.compression).c_str(), b.maxXRes, b.maxYRes, b.width, b.height);
  line += text;
  if (!b.photometries) return line + "any";
  for (int32_t i = 0; i < b.photometries->count; ++i) {
    line += (i ? "," : "") + std::to_string(b.photometries->entries[i]);
  }
  return line;
}

void print_spec(const Library& lib, const std::string& label, elf_object* spec) {
  const DIOCoreSpec* c = lib.core(spec);
  if (!c) {
    std::printf("%s: no core record\n", label.c_str());
    return;
  }
  static const char* const orientations[] = {"any", "portrait", "landscape"};
  static const char* const modes[] = {"any", "flat", "MRC", "colour mask"};
  auto pick = [](const char* const* names, int n, int32_t v) {
    return v >= 0 && v < n ? std::string(names[v]) : std::to_string(v);
  };
  std::printf("%s: orientation %s, page mode %s, rotate %d, affine %d, MRC %s\n", label.c_str(),
              pick(orientations, 3, c->orientation).c_str(), pick(modes, 4, c->pageMode).c_str(), c->rotate, c->affine,
              c->pageMode == DIO_PAGE_MRC ? "yes" : "no");
  std::printf("%s\n%s\n", block_line(lib, "binary", c->binary).c_str(), block_line(lib, "contone", c->contone).c_str());
}

// The test lines of the target chosen for a page.
bool print_tests(elf_state* state, elf_object* target, elf_object* page, const DIOCoreSpec* page_core,
                 elf_object* extra, std::string* error) {
  static const char* const tests[] = {"testFlat",  "testAffine", "testSegment", "testSize",
                                      "testDepth", "testOrient", "testCompress"};
  for (const char* test : tests) {
    const Held args(new_LIST(state, nullptr, nullptr));
    for (int32_t i = 0; i < elflistLength(extra); ++i) elflistInsert(args.get(), elflistItem(extra, i), -1, 0);
    if (!args.get() || !lstAppendArgs(args.get(), "inSpec:TRANSFORMSPEC", page, 0, LST_END)) {
      *error = "no memory";
      return false;
    }
    const Held result = call_member(state, target, test, args.get(), error);
    if (!result.get()) return false;
    int32_t needed = 0;
    lstScanArgs(result.get(), "needed:b", LST_OPTIONAL, &needed, LST_END);
    std::string line = std::string("    ") + test + ": " + (needed ? "needed" : "not needed");
    for (const std::string& entry : describe_list(result.get())) {
      if (entry.rfind("needed = ", 0) != 0 && entry.rfind("result = ", 0) != 0) line += ", " + entry;
    }
    std::printf("%s\n", line.c_str());
  }
  const DIORasterSpec& raster = page_core->contone.depth ? page_core->contone : page_core->binary;
  if (raster.photometries) {
    const int32_t code = raster.photometries->entries[0];
    const Held args(lstBuildArgs(state, "photometry:INTEGER", code, 0, LST_END));
    const Held result = args.get() ? call_member(state, target, "testPhotom", args.get(), error) : Held();
    int32_t match = 0;
    if (!result.get() || !lstScanArgs(result.get(), "isMatch:b", LST_REQUIRED, &match, LST_END)) {
      if (error->empty()) *error = "testPhotom gave no answer";
      return false;
    }
    std::printf("    testPhotom: photometry %d %s\n", code, match ? "listed" : "not listed");
  }
  return true;
}

// Reads the targets' LIST from a text-form file.
Held read_targets(elf_state* state, const std::string& path, std::string* error) {
  const int fd = open(path.c_str(), O_RDONLY);
  if (fd < 0) {
    *error = "cannot open " + path;
    return Held();
  }
  Held list(read_LIST(state, fd));
  close(fd);
  if (!list.get() || elflistLength(list.get()) < 1) {
    *error = path + " holds no LIST of TRANSFORMSPEC";
    return Held();
  }
  return list;
}

// Every file the run reads, which the written file may not be.
std::vector<std::string> inputs_of(const SpecOptions& o) {
  std::vector<std::string> inputs = o.files;
  if (!o.targets.empty()) inputs.push_back(o.targets);
  return inputs;
}

bool write_specs(elf_object* list, const std::string& path, const std::vector<std::string>& inputs,
                 std::string* error) {
  OutputFile out;
  if (!refuse_same_file(path, inputs, error) || !out.open(path, error)) return false;
  if (write_LIST(list, out.descriptor(), "") != 0) {
    *error = "cannot write " + path + ": " + std::strerror(errno != 0 ? errno : EIO);
    return false;
  }
  return out.commit(error);
}

}  // namespace

int run_spec(const std::vector<std::string>& argv) {
  SpecOptions o;
  std::string error;
  if (!parse_spec(argv, &o, &error)) {
    complain(name, error);
    return exit_usage;
  }
  std::vector<Bilevel> pages;
  if (!read_all_pages(o.files, &pages, &error)) {
    complain(name, error);
    return exit_failed;
  }
  Interpreter interp("pagefiler.ucm");
  elf_state* state = interp.state;
  Library lib;
  if (!state || !lib.bind(&error)) {
    complain(name, state ? error : "cannot make the interpreter state from pagefiler.ucm");
    return exit_failed;
  }
  const Held extra(arguments_from_text(state, o.args, &error));
  if (!extra.get()) {
    complain(name, error);
    return exit_usage;
  }
  const Held targets(o.targets.empty() ? Held() : read_targets(state, o.targets, &error));
  if (!o.targets.empty() && !targets.get()) {
    complain(name, error);
    return exit_failed;
  }
  const Held written(new_LIST(state, nullptr, nullptr));

  for (size_t i = 0; i < pages.size(); ++i) {
    const std::string label = "page " + std::to_string(i + 1);
    const Held image(image_from_pages(state, {&pages[i]}, &error));
    const Held no_args(new_LIST(state, nullptr, nullptr));
    elf_object* made = nullptr;
    clearStatus(state);
    const int status = image.get() ? lib.make(image.get(), no_args.get(), &made) : QEL_STATUS_FAILED;
    const Held made_list(made);
    elf_object* spec = nullptr;
    if (status != QEL_STATUS_OK || !lstScanArgs(made, "transSpec:TRANSFORMSPEC", LST_REQUIRED, &spec, LST_END)) {
      complain(name, label + ": " + (image.get() ? status_text(state, status) : error));
      return exit_failed;
    }
    const Held init_args(lstBuildArgs(state, "image:QELIMAGE", image.get(), 0, LST_END));
    if (!call_member(state, spec, "initByImage", init_args.get(), &error).get()) {
      complain(name, label + ": " + error);
      return exit_failed;
    }
    print_spec(lib, label, spec);
    elflistInsert(written.get(), spec, -1, 0);
    if (!targets.get()) continue;

    const Held match_args(lstBuildArgs(state, "speclist:LIST", targets.get(), 0, LST_END));
    const Held match = call_member(state, spec, "matchList", match_args.get(), &error);
    int32_t exact = 0;
    elf_object* chosen = nullptr;
    if (!match.get() || !lstScanArgs(match.get(), "exact:b", LST_REQUIRED, &exact, "nearmatch:", LST_OPTIONAL,
                                     &chosen, LST_END)) {
      complain(name, label + ": " + (error.empty() ? "matchList gave no answer" : error));
      return exit_failed;
    }
    if (!chosen) {
      std::printf("  %s matches no target\n", label.c_str());
      continue;
    }
    int32_t index = 0;
    while (elfIdentValue(elflistItem(targets.get(), index)) != chosen) ++index;
    std::printf("  %s matches target %d (%s)\n", label.c_str(), index + 1, exact ? "exact" : "not exact");
    if (!print_tests(state, chosen, spec, lib.core(spec), extra.get(), &error)) {
      complain(name, label + ": " + error);
      return exit_failed;
    }
  }
  if (!o.write.empty() && !write_specs(written.get(), o.write, inputs_of(o), &error)) {
    complain(name, error);
    return exit_failed;
  }
  return exit_ok;
}

}  // namespace monodoc
