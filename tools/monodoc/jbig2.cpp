// monodoc encode: page files to embedded JBIG2 streams through jBig2Encode of libmonocodec, called
// as the interpreter calls it, or to a standalone JBIG2 file through its engine API.

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <cstdio>
#include <string>
#include <vector>

#include "commands.h"
#include "jb2_filemode.h"
#include "methods.h"
#include "kvng.h"
#include "vlt_api.h"
#include "vlt_api_deskew.h"
#include "vlt_pagebuf.h"
#include "image_io.h"
#include "page_files.h"
#include "pbm.h"
#include "session.h"

namespace monodoc {

const char encode_help[] =
    "usage: monodoc encode [options] PAGEFILE...\n"
    "\n"
    "Compresses every page of the files (PBM, TIFF, PNG and the engine's other formats; grey and\n"
    "colour pixels darker than half are black) as one JBIG2 section: the pages become layers of one\n"
    "page image, libmonocodec's jBig2Encode codes them against one shared symbol dictionary, and\n"
    "the result is written as embedded streams (no file header), as PDF carries them:\n"
    "  PREFIX-dict.jb2   the shared dictionary (the PDF's JBIG2Globals)\n"
    "  PREFIX-<n>.jb2    page n, counting from 1\n"
    "\"jbig2dec -e PREFIX-dict.jb2 PREFIX-1.jb2\" decodes page 1; \"monodoc decode\" decodes them all.\n"
    "With --file the pages go instead through libmonocodec's engine API into one standalone JBIG2\n"
    "file (file header, every segment header, then every data part; each page keeps its number and\n"
    "resolution), which \"jbig2dec FILE.jb2\" reads whole.\n"
    "\n"
    "Options:\n"
    "  -o, --output PREFIX    where the streams go (default \"out\")\n"
    "  -f, --file FILE.jb2    write one standalone JBIG2 file of every page instead\n"
    "      --comment TEXT     with --file: a comment for the whole file (repeatable)\n"
    "      --lossless         every pixel kept (the default): the classifier's three differences\n"
    "                         are 0, and every component is coded by exact match\n"
    "      --lossy            similar symbols share one class (widthDiff 1, heightDiff 1,\n"
    "                         maxDense 3 unless given)\n"
    "  -p, --profile N        1: MMR and fixed standard Huffman tables; 3: MQ arithmetic coding;\n"
    "                         2 (default) or any other: MMR with standard or tuned Huffman tables\n"
    "      --width-diff N     widest difference in width of symbols of one class (implies --lossy)\n"
    "      --height-diff N    the same for height (implies --lossy)\n"
    "      --max-dense N      the classifier's density tolerance (implies --lossy)\n"
    "      --deskew           with --file: measure each page's skew and straighten the page by\n"
    "                         it: every symbol's place turns about the page centre, and symbols\n"
    "                         long enough to show the skew are turned themselves (implies --lossy)\n"
    "  -q, --quiet            no progress line per page\n"
    "  -h, --help             this text\n"
    "\n"
    "A progress line per page goes to the standard error stream as pages are read and written;\n"
    "the standard output gets one line per page with its size and the totals.\n";

namespace {

// ---- encode ----

struct EncodeOptions {
  std::string prefix = "out";
  std::string file;                   // a standalone file instead of embedded streams
  std::vector<std::string> comments;  // for the standalone file
  bool lossy = false;
  int32_t profile = 2;
  std::vector<std::pair<const char*, int32_t>> classifier;  // given differences, in order
  bool quiet = false;
  bool deskew = false;
  std::vector<std::string> files;
};

bool parse_number(const std::string& text, int32_t* value) {
  try {
    size_t used = 0;
    const long v = std::stol(text, &used);
    if (used != text.size() || v < INT32_MIN || v > INT32_MAX) return false;
    *value = static_cast<int32_t>(v);
    return true;
  } catch (const std::exception&) {
    return false;
  }
}

bool parse_encode(const std::vector<std::string>& argv, EncodeOptions* o, std::string* error) {
  static const std::vector<OptionSpec> specs = {{'o', "output", true},      {'\0', "lossless", false},
                                                {'\0', "lossy", false},     {'p', "profile", true},
                                                {'\0', "width-diff", true}, {'\0', "height-diff", true},
                                                {'\0', "max-dense", true},  {'q', "quiet", false},
                                                {'f', "file", true},        {'\0', "comment", true},
                                                {'\0', "deskew", false}};
  ParsedOptions parsed;
  if (!parse_options(argv, specs, &parsed, error)) return false;
  bool lossless = false;
  for (const auto& [spec, value] : parsed.options) {
    const std::string name = spec->long_name;
    int32_t number = 0;
    const bool text = name == "output" || name == "file" || name == "comment";
    if (spec->takes_value && !text && !parse_number(value, &number)) {
      *error = "--" + name + " needs a whole number, not \"" + value + "\"";
      return false;
    }
    if (name == "output") o->prefix = value;
    if (name == "file") o->file = value;
    if (name == "comment") o->comments.push_back(value);
    if (name == "lossless") lossless = true;
    if (name == "lossy") o->lossy = true;
    if (name == "profile") o->profile = number;
    if (name == "quiet") o->quiet = true;
    if (name == "deskew") o->deskew = o->lossy = true;
    if (name == "width-diff") o->classifier.emplace_back("widthDiff:i", number);
    if (name == "height-diff") o->classifier.emplace_back("heightDiff:i", number);
    if (name == "max-dense") o->classifier.emplace_back("maxDense:i", number);
  }
  if (!o->classifier.empty()) o->lossy = true;
  if (lossless && o->lossy) {
    *error = "--lossless cannot go with --lossy, --deskew or the classifier's differences";
    return false;
  }
  // The method codes as its interpreter callers expect; straightening goes through the engine API.
  if (o->deskew && o->file.empty()) {
    *error = "--deskew goes with --file";
    return false;
  }
  if (!o->comments.empty() && o->file.empty()) {
    *error = "--comment goes with --file (embedded streams carry no comments)";
    return false;
  }
  if (parsed.operands.empty()) {
    *error = "needs at least one PAGEFILE (monodoc help encode)";
    return false;
  }
  o->files = parsed.operands;
  return true;
}

elf_object* encode_arguments(elf_state* state, const EncodeOptions& o) {
  elf_object* args = lstBuildArgs(state, "profile:i", o.profile, 0, LST_END);
  if (args == nullptr) return nullptr;
  bool ok = true;
  if (!o.lossy) {
    for (const char* name : {"widthDiff:i", "heightDiff:i", "maxDense:i"}) ok = ok && lstAppendArgs(args, name, 0, 0, LST_END);
  }
  for (const auto& [name, value] : o.classifier) ok = ok && lstAppendArgs(args, name, value, 0, LST_END);
  if (!ok) {
    elfDiscard(args);
    return nullptr;
  }
  return args;
}

// ---- encode --file ----

size_t write_to(const void* data, size_t size, size_t count, void* stream) {
  return std::fwrite(data, size, count, static_cast<FILE*>(stream));
}

std::string vlt_failure(const char* call, VltStatus st) {
  return std::string(call) + " failed (" + std::to_string(st) + ": " + Vlt_getErrStr(st) + ")";
}

// The classifier the method would use for the same options.
TokParams classifier_params(const EncodeOptions& o) {
  TokParams params{};
  tokSetDefaults(&params);
  if (!o.lossy) {
    params.widthDiff = params.heightDiff = params.maxDense = 0;
    params.minLossySize = 100000;  // every component by exact match
  }
  for (const auto& [name, value] : o.classifier) {
    const std::string n = name;
    if (n == "widthDiff:i") params.widthDiff = value;
    if (n == "heightDiff:i") params.heightDiff = value;
    if (n == "maxDense:i") params.maxDense = value;
  }
  return params;
}

// Every page through the engine API into one file; sections follow each other when the engine's
// memory bound ends one. False with the reason; a file left half written is removed.
bool encode_file(const std::vector<Bilevel>& pages, const EncodeOptions& o, size_t* bytes, std::string* error) {
  VltApiOptions options{};
  options.minSize = 1;
  options.outputWord = 10;
  options.reserved1 = 3;
  options.resolution = static_cast<uint32_t>(-1);  // each page keeps its own
  options.profile = static_cast<uint32_t>(o.profile);
  options.tenthSize = 1;
  options.memoryLimit = -1;
  const TokParams params = classifier_params(o);
  FILE* out = std::fopen(o.file.c_str(), "wb");
  if (out == nullptr) {
    *error = o.file + ": cannot open for writing";
    return false;
  }
  Jb2FileTarget target{out, write_to};
  VltApiHandle* h = nullptr;
  VltStatus st = VltApi_init(&h, nullptr, nullptr, &options, &params, nullptr);
  const char* call = "VltApi_init";
  // Each call runs only while everything before it succeeded.
  const auto step = [&](const char* name, const auto& run) {
    if (st != VLT_OK) return;
    call = name;
    st = run();
  };
  if (o.deskew) step("VltApi_setDeskew", [&] { return VltApi_setDeskew(h, 5, 0); });
  step("VltApi_openFile", [&] { return VltApi_openFile(h, &target, static_cast<uint32_t>(pages.size())); });
  std::vector<std::string> texts;
  std::vector<Jb2ExtensionRecord> notes;
  for (const std::string& c : o.comments) texts.push_back(std::string("Comment") + '\0' + c + '\0' + '\0');
  for (const std::string& t : texts)
    notes.push_back({0x20000000u, reinterpret_cast<const uint8_t*>(t.data()), static_cast<uint32_t>(t.size())});
  if (!notes.empty()) step("VltApi_annotateFile", [&] { return VltApi_annotateFile(h, static_cast<int32_t>(notes.size()), notes.data()); });
  size_t next = 0;
  while (st == VLT_OK && next < pages.size()) {
    step("VltApi_startSection", [&] { return VltApi_startSection(h); });
    const size_t first = next;
    uint8_t full = 0;
    while (st == VLT_OK && next < pages.size() && !full) {
      const Bilevel& p = pages[next];
      VltPageDesc desc{};
      if (convertBuffToVltPageDesc(&desc, static_cast<uint32_t>(p.width), static_cast<uint32_t>(p.height),
                                   static_cast<uint32_t>(p.stride), p.bits.data()) != 1) {
        st = VLT_ERR_NOMEM;
        call = "convertBuffToVltPageDesc";
        break;
      }
      desc.xRes = static_cast<uint32_t>(p.xres + 0.5);
      desc.yRes = static_cast<uint32_t>(p.yres + 0.5);
      step("VltApi_addMonoPage", [&] { return VltApi_addMonoPage(h, &desc, &full); });
      kvng_internal_free(desc.buffer);
      // A full section has not taken the page: it opens the next one.
      if (st == VLT_OK && !full) ++next;
    }
    if (st == VLT_OK && next == first) {
      *error = "page " + std::to_string(next + 1) + " does not fit in a section of its own";
      st = VLT_ERR_INTERNAL;
      call = nullptr;
    }
    VltApiDict dict{};
    step("VltApi_endSectionGetDict", [&] { return VltApi_endSectionGetDict(h, 0, &dict); });
    std::free(dict.bytes);
    for (size_t p = first; p < next && st == VLT_OK; ++p) {
      VltApiPosBlock block{};
      step("VltApi_getNextPosBlock", [&] { return VltApi_getNextPosBlock(h, &block); });
      std::free(block.bytes);
      if (st == VLT_OK && !o.quiet) std::fprintf(stderr, "monodoc: encode: coded page %zu of %zu\n", p + 1, pages.size());
    }
  }
  // The file is written at the close.
  if (h != nullptr) {
    const VltStatus closed = VltApi_close(h);
    if (st == VLT_OK && closed != VLT_OK) {
      st = closed;
      call = "VltApi_close (writing the file)";
    }
  }
  const long size = std::ftell(out);
  const bool flushed = std::fclose(out) == 0;
  if (st == VLT_OK && !flushed) {
    st = VLT_ERR_WRITE;
    call = "closing the file";
  }
  if (st != VLT_OK) {
    if (call != nullptr) *error = vlt_failure(call, st);
    // Only a file of our own is taken away, never a device or pipe it was written to.
    std::error_code ec;
    if (std::filesystem::is_regular_file(o.file, ec)) std::filesystem::remove(o.file, ec);
    return false;
  }
  *bytes = size > 0 ? static_cast<size_t>(size) : 0;
  return true;
}

}  // namespace

int run_encode(const std::vector<std::string>& argv) {
  constexpr const char* name = "encode";
  EncodeOptions o;
  std::string error;
  if (!parse_encode(argv, &o, &error)) {
    complain(name, error);
    return exit_usage;
  }
  std::vector<Bilevel> pages;
  for (const std::string& file : o.files) {
    const size_t before = pages.size();
    if (!read_pages(file, &pages, &error)) {
      complain(name, file + ": " + error);
      return exit_failed;
    }
    if (!o.quiet)
      for (size_t i = before; i < pages.size(); ++i)
        std::fprintf(stderr, "monodoc: encode: read page %zu (%dx%d) from %s\n", i + 1, pages[i].width,
                     pages[i].height, file.c_str());
  }
  if (!o.file.empty()) {
    size_t bytes = 0, raw = 0;
    if (!encode_file(pages, o, &bytes, &error)) {
      complain(name, error);
      return exit_failed;
    }
    for (const Bilevel& p : pages) raw += p.bits.size();
    std::printf("%s: %zu pages, %zu bytes, raw %zu bytes (%.2f%%)\n", o.file.c_str(), pages.size(), bytes, raw,
                raw != 0 ? 100.0 * static_cast<double>(bytes) / static_cast<double>(raw) : 0.0);
    return exit_ok;
  }
  Interpreter interp("monodoc");
  if (!interp.state) {
    complain(name, "cannot make the interpreter state");
    return exit_failed;
  }
  const Method encode = bind_method("jBig2Encode", &error);
  if (encode == nullptr) {
    complain(name, error);
    return exit_failed;
  }
  std::vector<const Bilevel*> all;
  for (const Bilevel& p : pages) all.push_back(&p);
  const Held image(image_from_pages(interp.state, all, &error));
  const Held args(image.get() ? encode_arguments(interp.state, o) : nullptr);
  if (!image.get() || !args.get()) {
    complain(name, image.get() ? "cannot make the argument list" : error);
    return exit_failed;
  }
  if (!call_method(interp.state, encode, name, image.get(), args.get(), &error)) {
    complain(name, error);
    return exit_failed;
  }

  // The coded layers keep their places; the dictionary layer comes last.
  const elf_QELIMAGE* im = qelImage(image.get());
  size_t page = 0, total = 0, raw = 0;
  std::string bytes;
  for (int32_t i = 0; i < elflistLength(im->layers); ++i) {
    const elf_QELLAYER* layer = qelLayer(elfIdentValue(elflistItem(im->layers, i)));
    const elf_QELHDR* h = layer ? qelHdr(layer->description) : nullptr;
    const bool dict = layer && layer->kind == QEL_KIND_JBIG2_DICT;
    if (!dict && !(h && h->compression == QEL_COMPRESSION_JBIG2)) continue;
    const std::string path = dict ? o.prefix + "-dict.jb2" : o.prefix + "-" + std::to_string(++page) + ".jb2";
    if (!layer_data(layer, &bytes) || !write_file_bytes(path, bytes.data(), bytes.size(), &error)) {
      complain(name, error.empty() ? path + ": the layer holds no data" : error);
      return exit_failed;
    }
    total += bytes.size();
    if (dict) {
      std::printf("%s: dictionary, %zu bytes\n", path.c_str(), bytes.size());
      continue;
    }
    const Bilevel& p = pages[page - 1];
    raw += p.bits.size();
    std::printf("%s: page %zu, %dx%d, %zu bytes (raw %zu)\n", path.c_str(), page, p.width, p.height, bytes.size(),
                p.bits.size());
    if (!o.quiet) std::fprintf(stderr, "monodoc: encode: wrote page %zu of %zu\n", page, pages.size());
  }
  if (page != pages.size()) {
    complain(name, "jBig2Encode coded " + std::to_string(page) + " of " + std::to_string(pages.size()) + " pages");
    return exit_failed;
  }
  std::printf("%zu pages: %zu bytes, raw %zu bytes (%.2f%%)\n", page, total, raw,
              raw != 0 ? 100.0 * static_cast<double>(total) / static_cast<double>(raw) : 0.0);
  return exit_ok;
}

}  // namespace monodoc
