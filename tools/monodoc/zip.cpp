// monodoc zip: lists, dumps and extracts zip archives with libpagefiler's zip utility.

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "commands.h"
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
    "           (scans/pack.zip gives scans/pack/), folders made as needed; or, with ENTRY\n"
    "           (letter case aside), that entry's bytes to standard output or to FILE\n"
    "An archive whose entries all carry their sizes is read as it lies in the file; one with\n"
    "data descriptors is read through its central directory, and then holds only its entries.\n"
    "Entries are checked against their size and CRC; an entry that would land outside the\n"
    "folder (\"../\", an absolute or drive name) is refused.\n"
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

// Writes one entry's bytes; false (reported) when it is missing or cannot be written.
bool extract_entry(ZZipArchive* zip, const std::string& entry, const std::string& output) {
  BufUChar* data = ZZip_Extract(zip, entry.c_str());
  if (!data) {
    if (!SState_Failed(zip->state)) complain("zip", std::string(zip->fileName) + ": no entry " + entry);
    return false;
  }
  FILE* out = output.empty() ? stdout : std::fopen(output.c_str(), "wb");
  bool ok = out && BufUChar_WriteStm(data, out) == 0;
  if (out && out != stdout) ok = std::fclose(out) == 0 && ok;
  if (out == stdout) ok = std::fflush(stdout) == 0 && ok;
  BufUChar_Free(data);
  if (!ok) complain("zip", "cannot write " + (output.empty() ? std::string("the standard output") : output));
  return ok;
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
