// monodoc: plays the imaging interpreter so that the plug-in methods can be driven on page files.

#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <iterator>
#include <string>
#include <vector>

#include "commands.h"
#include "elf_plugin.h"

namespace monodoc {
namespace {

// Every command as commands.def lists it: the core ones with their code, the others with the
// module that holds it, loaded only when one of them runs (or its help is asked for).
struct Entry {
  const char* name;
  const char* summary;
  const char* module;     // null for a core command
  const Command* command;  // a core command's code
};

#define MONODOC_COMMAND(name, module, summary) MONODOC_CODE_##module(name)
#define MONODOC_CODE_core(name) constexpr Command core_##name{#name, "", name##_help, run_##name};
#define MONODOC_CODE_engine(name)
#define MONODOC_CODE_documents(name)
#include "commands.def"
#undef MONODOC_COMMAND

#define MONODOC_COMMAND(name, module, summary) MONODOC_ENTRY_##module(name, summary)
#define MONODOC_ENTRY_core(name, summary) {#name, summary, nullptr, &core_##name},
#define MONODOC_ENTRY_engine(name, summary) {#name, summary, "engine", nullptr},
#define MONODOC_ENTRY_documents(name, summary) {#name, summary, "documents", nullptr},
constexpr Entry commands[] = {
#include "commands.def"
};

// The command of a module: libmonodoc_<module>.so, found as the interpreter finds plug-in
// libraries, stays loaded for the rest of the process. Null with the reason.
const Command* module_command(const Entry& e, std::string* error) {
  const std::string file = std::string("libmonodoc_") + e.module + ".so";
  char path[4096];
  void* library = elfFindPlatformFile(file.c_str(), path, sizeof path) ? dlopen(path, RTLD_NOW | RTLD_LOCAL) : nullptr;
  if (library == nullptr) {
    const char* why = dlerror();
    *error = "the library of the " + std::string(e.module) + " commands, " + file + ", cannot be loaded" +
             (why != nullptr ? std::string(": ") + why : std::string(" (not found)"));
    return nullptr;
  }
  const auto entry = reinterpret_cast<ModuleEntry>(dlsym(library, MONODOC_MODULE_ENTRY));
  size_t count = 0;
  const Command* table = entry != nullptr ? entry(&count) : nullptr;
  for (size_t i = 0; table != nullptr && i < count; ++i)
    if (std::strcmp(table[i].name, e.name) == 0) return &table[i];
  *error = file + " has no command \"" + e.name + "\"";
  return nullptr;
}

const Command* command_of(const Entry& e, std::string* error) {
  return e.module == nullptr ? e.command : module_command(e, error);
}

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
    "darker than half are black, transparent ones white. monodoc pdf also takes PDF files, whose\n"
    "pages come through libpagefiler's PDF reader.\n"
    "Plug-in libraries are named as the interpreter names them: \"monocodec\" is libmonocodec.so,\n"
    "looked for in the directories of MONODOC_PLUGIN_PATH (colon-separated), then beside the\n"
    "interpreter library, then on the loader's path; a name with a '/' is a file path.\n"
    "\n"
    "Messages name the file, the page and the cause; --debug (before or after the command, or\n"
    "MONODOC_DEBUG=1) shows the libraries' own messages as they come, with their function names\n"
    "and every detail line.\n"
    "\n"
    "Exit status: 0 success (warnings included), 1 failure, 2 wrong usage.\n";

void print_overview(FILE* out) {
  std::fputs(overview, out);
  for (const Entry& c : commands) std::fprintf(out, "  %-9s %s\n", c.name, c.summary);
  std::fputs(trailer, out);
}

const Entry* find_command(const std::string& name) {
  for (const Entry& c : commands) {
    if (name == c.name) return &c;
  }
  return nullptr;
}

int run(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  // --debug, before or after the command, holds for the whole run: the command modules read it
  // from the environment.
  for (auto it = args.begin(); it != args.end() && *it != "--";) {
    if (*it == "--debug") {
      setenv("MONODOC_DEBUG", "1", 1);
      it = args.erase(it);
    } else {
      ++it;
    }
  }
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
    const Entry* e = find_command(args[1]);
    if (!e) {
      std::fprintf(stderr, "monodoc: no command \"%s\" (monodoc help lists them)\n", args[1].c_str());
      return exit_usage;
    }
    std::string error;
    const Command* c = command_of(*e, &error);
    if (!c) {
      std::fprintf(stderr, "monodoc: %s\n", error.c_str());
      return exit_failed;
    }
    std::fputs(c->help, stdout);
    return exit_ok;
  }
  const Entry* e = find_command(first);
  if (!e) {
    std::fprintf(stderr, "monodoc: no command \"%s\" (monodoc help lists them)\n", first.c_str());
    return exit_usage;
  }
  std::string error;
  const Command* c = command_of(*e, &error);
  if (!c) {
    std::fprintf(stderr, "monodoc: %s\n", error.c_str());
    return exit_failed;
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

}  // namespace monodoc

int main(int argc, char** argv) {
  try {
    return monodoc::run(argc, argv);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "monodoc: %s\n", e.what());
    return monodoc::exit_failed;
  }
}
