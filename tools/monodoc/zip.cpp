// monodoc zip: lists, dumps and extracts zip archives with libpagefiler's zip utility.

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "commands.h"
#include "output.h"
#include "zzip.h"

namespace monodoc {

const char zip_help[] =
    "usage: monodoc zip list ARCHIVE...\n"
    "       monodoc zip dump ARCHIVE...\n"
    "       monodoc zip extract [-o FILE] ARCHIVE [ENTRY]\n"
    "\n"
    "Reads zip archives with libpagefiler's zip utility.\n"
    "  list     a line per entry: where its data starts, its stored size and its name\n"
    "  dump     every field of every record in the archive\n"
    "  extract  every entry into the folder named like the archive without its extension\n"
    "           (scans/pack.zip gives scans/pack/; a name without extension is refused),\n"
    "           folders made as needed; or, with ENTRY\n"
    "           (letter case aside), that entry's bytes to standard output or to FILE\n"
    "An archive whose entries all carry their sizes is read as it lies in the file; one with\n"
    "data descriptors is read through its central directory, and then holds only its entries.\n"
    "Entries are inflated a piece at a time and checked against their size and CRC as they go;\n"
    "an entry that would inflate to more than 1 GiB, or an archive to more than 4 GiB, is\n"
    "refused. An entry that would land outside the folder (\"../\", an absolute or drive\n"
    "name) or go through a symbolic link is refused. Files take their names only when the whole\n"
    "extraction has succeeded; a failed one leaves no file or folder of its own behind.\n"
    "\n"
    "Options:\n"
    "  -o, --output FILE   where extract writes the ENTRY's bytes\n"
    "  -v, --verbose       also print the reader's walk through the file\n"
    "  -h, --help          this text\n"
    "\n"
    "Exit status: 0 success, 1 failure (also an ENTRY the archive lacks), 2 wrong usage.\n";

namespace {

struct ZipCloser {
  void operator()(ZZipArchive* zip) const { ZZip_Free(zip); }
};
struct StateCloser {
  void operator()(SState* state) const { SState_FreeState(state); }
};

void print_message(void*, int kind, const char* text) {
  std::fprintf(kind == SSTATE_ERR ? stderr : stdout, "%s", text);
}

int to_output(void* context, const void* data, size_t size) {
  std::string error;
  return static_cast<OutputFile*>(context)->write(data, size, &error) ? 0 : errno != 0 ? errno : EIO;
}

int to_stdout(void*, const void* data, size_t size) {
  return std::fwrite(data, 1, size, stdout) == size ? 0 : errno != 0 ? errno : EIO;
}

// Streams one entry's bytes to the standard output or to output, which takes its name only once
// the entry is whole; false (reported) when it is missing or cannot be written.
// Whether the file's own name (after its folder) has an extension, which extraction cuts off to
// name the folder it extracts into.
bool has_extension(const std::string& path) {
  const size_t slash = path.rfind('/');
  const std::string last = slash == std::string::npos ? path : path.substr(slash + 1);
  const size_t dot = last.rfind('.');
  return dot != std::string::npos && dot > 0;
}

bool extract_entry(ZZipArchive* zip, const std::string& entry, const std::string& output) {
  OutputFile file;
  std::string error;
  if (!output.empty() && (!refuse_same_file(output, {zip->fileName}, &error) || !file.open(output, &error))) {
    complain("zip", error);
    return false;
  }
  const int found = output.empty() ? ZZip_ExtractTo(zip, entry.c_str(), to_stdout, nullptr, "the standard output")
                                   : ZZip_ExtractTo(zip, entry.c_str(), to_output, &file, output.c_str());
  if (found == 1) {
    complain("zip", std::string(zip->fileName) + ": no entry " + entry);
    return false;
  }
  if (found != 0) return false;
  if (output.empty()) {
    if (std::fflush(stdout) != 0) {
      complain("zip", std::string("cannot write the standard output: ") + std::strerror(errno));
      return false;
    }
    return true;
  }
  if (!file.commit(&error)) {
    complain("zip", error);
    return false;
  }
  return true;
}

}  // namespace

int run_zip(const std::vector<std::string>& args) {
  static const std::vector<OptionSpec> specs = {{'o', "output", true}, {'v', "verbose", false}};
  ParsedOptions parsed;
  std::string error;
  if (!parse_options(args, specs, &parsed, &error)) {
    complain("zip", error);
    return exit_usage;
  }
  std::string output;
  bool verbose = false;
  for (const auto& [spec, value] : parsed.options) {
    if (spec->short_name == 'o') output = value;
    if (spec->short_name == 'v') verbose = true;
  }
  const std::vector<std::string>& ops = parsed.operands;
  const std::string action = ops.empty() ? "" : ops[0];
  const bool shows = action == "list" || action == "dump";
  if ((!shows && action != "extract") || ops.size() < 2 || (action == "extract" && ops.size() > 3) ||
      (!output.empty() && (action != "extract" || ops.size() != 3))) {
    complain("zip", "needs list, dump or extract and an ARCHIVE (monodoc help zip)");
    return exit_usage;
  }
  const std::unique_ptr<SState, StateCloser> state(SState_NewStateDefault());
  if (!state) {
    complain("zip", "no memory");
    return exit_failed;
  }
  state->print = print_message;
  state->level = verbose ? SSTATE_VER : SSTATE_ERR;
  int exit = exit_ok;
  const size_t archives = action == "extract" ? 2 : ops.size();
  for (size_t i = 1; i < archives; ++i) {
    const int failures = state->failed;
    const std::unique_ptr<ZZipArchive, ZipCloser> zip(ZZip_Read(state.get(), ops[i].c_str()));
    bool ok = zip != nullptr;
    if (ok && shows) {
      ZZip_Show(zip.get(), stdout, action == "list" ? 1 : 2);
    } else if (ok && ops.size() == 3) {
      ok = extract_entry(zip.get(), ops[2], output);
    } else if (ok && !has_extension(ops[i])) {
      // The utility would write the entries beside the archive, among the user's own files.
      complain("zip", ops[i] + ": the name has no extension, so no folder is named like it to extract into "
                               "(rename it, as " + ops[i] + ".zip)");
      ok = false;
    } else if (ok) {
      ZZip_Extract(zip.get(), nullptr);
      ok = state->failed == failures;
    }
    if (!ok) {
      if (state->failed != failures) complain("zip", ops[i] + ": failed");
      exit = exit_failed;
    }
  }
  return exit;
}

}  // namespace monodoc
