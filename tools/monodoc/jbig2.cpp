// monodoc encode: page files to embedded JBIG2 streams through jBig2Encode of libmonocodec, called
// as the interpreter calls it, or to a standalone JBIG2 file through its engine API.

#include <algorithm>
#include <cstdlib>
#include <malloc.h>
#include <cerrno>
#include <cstring>
#include <map>
#include <new>
#include <cstdio>
#include <string>
#include <vector>

#include "commands.h"
#include "output.h"
#include "jb2_filemode.h"
#include "methods.h"
#include "kvng.h"
#include "vlt_api.h"
#include "vlt_api_deskew.h"
#include "vlt_pagebuf.h"
#include "vlt_state.h"
#include "image_io.h"
#include "page_files.h"
#include "page_stream.h"
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
    "jBig2Encode codes the page image in one call, so this form holds every raw page (read one at a\n"
    "time into the image) and the section's symbols at once: memory grows with the page count.\n"
    "With --file the pages go instead through libmonocodec's engine API into one standalone JBIG2\n"
    "file (file header, every segment header, then every data part; each page keeps its number and\n"
    "resolution), which \"jbig2dec FILE.jb2\" reads whole. Pages are then read, coded and dropped\n"
    "one at a time in sections of their own dictionary: a section ends once what the engine holds\n"
    "for it reaches the memory bound, or once its new symbols do by the engine's own measure (the\n"
    "page that crossed that goes on to the next section), so memory stays flat however many pages\n"
    "there are; only the coded file grows until it is written at the end.\n"
    "\n"
    "Options:\n"
    "  -o, --output PREFIX    where the streams go (default \"out\")\n"
    "  -f, --file FILE.jb2    write one standalone JBIG2 file of every page instead\n"
    "      --memory MB        with --file: the bound on a section's symbols and positions in MB\n"
    "                         (default 8; 0: none, every page in one section, memory growing with\n"
    "                         the page count); a larger bound shares a dictionary among more pages\n"
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

// The default bound on a section of a file run. A section's symbols and positions are held
// until its dictionary is written; the bound keeps that, and so the whole run, to a size that
// does not grow with the page count.
constexpr int32_t default_memory_mb = 8;
// The engine counts a section's bytes in 32 bits.
constexpr int32_t max_memory_mb = 2047;

struct EncodeOptions {
  std::string prefix = "out";
  std::string file;                   // a standalone file instead of embedded streams
  std::vector<std::string> comments;  // for the standalone file
  bool lossy = false;
  int32_t profile = 2;
  std::vector<std::pair<const char*, int32_t>> classifier;  // given differences, in order
  bool quiet = false;
  bool deskew = false;
  int32_t memoryMb = default_memory_mb;  // the engine's bound on a section, with --file
  std::vector<std::string> files;
};

struct EncodeTotals {
  size_t pages = 0, sections = 0, bytes = 0, raw = 0;
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
                                                {'\0', "deskew", false},   {'\0', "memory", true}};
  ParsedOptions parsed;
  if (!parse_options(argv, specs, &parsed, error)) return false;
  bool lossless = false, given_memory = false;
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
    if (name == "memory") {
      if (number < 0 || number > max_memory_mb) {
        *error = "--memory takes 0 (no bound) to " + std::to_string(max_memory_mb) + " MB";
        return false;
      }
      o->memoryMb = number;
      given_memory = true;
    }
  }
  if (given_memory && o->file.empty()) {
    *error = "--memory goes with --file (the embedded streams are one section)";
    return false;
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

// What the engine holds, counted through the memory and small-block functions a file run gives
// it. The engine's own bound weighs a section's new symbols, which stay few when pages repeat
// their glyphs while every page's instances are kept until the section's dictionary is written;
// this count is what ends such a section.
struct EngineMemory {
  static inline size_t held = 0;

  static void* take(void* block) {
    if (block != nullptr) held += malloc_usable_size(block);
    return block;
  }
  static void* malloc_fn(size_t size) { return take(std::malloc(size)); }
  static void* calloc_fn(size_t count, size_t size) { return take(std::calloc(count, size)); }
  static void free_fn(void* block) {
    if (block != nullptr) held -= malloc_usable_size(block);
    std::free(block);
  }
  static void* realloc_fn(void* block, size_t size) {
    const size_t before = block != nullptr ? malloc_usable_size(block) : 0;
    void* grown = std::realloc(block, size);
    if (grown == nullptr) return nullptr;
    held -= before;
    return take(grown);
  }
  // Small blocks come from chunks of many, as the engine's own pools give them, and count as
  // held while they are in use; a chunk stays for the run, so a section reuses what the one
  // before it gave back.
  struct FreeBlock {
    FreeBlock* next;
  };
  static inline FreeBlock* freeBlocks = nullptr;
  static inline std::vector<void*> chunks;
  static constexpr size_t blocks_per_chunk = 1024;

  static VltStatus small_take(void*, uint32_t, void** place) {
    if (freeBlocks == nullptr) {
      auto* chunk = static_cast<uint8_t*>(std::malloc(VLT_POOL_BLOCK_SIZE * blocks_per_chunk));
      if (chunk == nullptr) return VLT_ERR_NOMEM;
      try {
        chunks.push_back(chunk);
      } catch (const std::bad_alloc&) {
        std::free(chunk);
        return VLT_ERR_NOMEM;
      }
      for (size_t i = blocks_per_chunk; i-- > 0;)
        freeBlocks = new (chunk + i * VLT_POOL_BLOCK_SIZE) FreeBlock{freeBlocks};
    }
    FreeBlock* b = freeBlocks;
    freeBlocks = b->next;
    held += VLT_POOL_BLOCK_SIZE;
    *place = b;
    return VLT_OK;
  }
  static void small_give(void*, uint32_t, void* block) {
    held -= VLT_POOL_BLOCK_SIZE;
    freeBlocks = new (block) FreeBlock{freeBlocks};
  }
  // Gives the chunks back once the engine is closed.
  static void release_pools() {
    for (void* c : chunks) std::free(c);
    chunks.clear();
    freeBlocks = nullptr;
  }

  static constexpr VltMemFuncs memory{malloc_fn, free_fn, calloc_fn, realloc_fn};
  static constexpr VltSmallPoolFuncs pools{nullptr, small_take, small_give};
};

// Pages through the engine API into one file, read, added and dropped one at a time; sections
// follow each other where the engine's memory bound ends one, each with its own dictionary.
// What this holds is the page being added (a page that took a section over its bound is kept
// and added again to the next section), the open section and the file's written bytes. False
// with the reason; a file left half written is removed.
bool encode_file(PageStream* stream, const EncodeOptions& o, EncodeTotals* totals, std::string* error) {
  size_t pageCount = 0;
  if (!stream->count(&pageCount, error)) return false;
  VltApiOptions options{};
  options.minSize = 1;
  options.outputWord = 10;
  options.reserved1 = 3;
  options.resolution = static_cast<uint32_t>(-1);  // each page keeps its own
  options.profile = static_cast<uint32_t>(o.profile);
  options.tenthSize = 1;
  options.memoryLimit = o.memoryMb > 0 ? o.memoryMb * 1024 * 1024 : -1;
  const TokParams params = classifier_params(o);
  OutputFile file;
  if (!refuse_same_file(o.file, o.files, error) || !file.open(o.file, error)) return false;
  FILE* out = file.stream();
  if (out == nullptr) {
    *error = "cannot write " + o.file + ": " + std::strerror(errno);
    return false;
  }
  Jb2FileTarget target{out, write_to};
  VltApiHandle* h = nullptr;
  VltStatus st = VltApi_init(&h, &EngineMemory::memory, &EngineMemory::pools, &options, &params, nullptr);
  const size_t bound = o.memoryMb > 0 ? size_t(o.memoryMb) << 20 : SIZE_MAX;
  const char* call = "VltApi_init";
  // Each call runs only while everything before it succeeded.
  const auto step = [&](const char* name, const auto& run) {
    if (st != VLT_OK) return;
    call = name;
    st = run();
  };
  if (o.deskew) step("VltApi_setDeskew", [&] { return VltApi_setDeskew(h, 5, 0); });
  step("VltApi_openFile", [&] { return VltApi_openFile(h, &target, static_cast<uint32_t>(pageCount)); });
  std::vector<std::string> texts;
  std::vector<Jb2ExtensionRecord> notes;
  for (const std::string& c : o.comments) texts.push_back(std::string("Comment") + '\0' + c + '\0' + '\0');
  for (const std::string& t : texts)
    notes.push_back({0x20000000u, reinterpret_cast<const uint8_t*>(t.data()), static_cast<uint32_t>(t.size())});
  if (!notes.empty()) step("VltApi_annotateFile", [&] { return VltApi_annotateFile(h, static_cast<int32_t>(notes.size()), notes.data()); });
  Bilevel page;
  bool pending = false;  // page is read but in no section yet
  bool ended = false;    // every page has been read
  size_t coded = 0, sections = 0;
  while (st == VLT_OK && !ended) {
    step("VltApi_startSection", [&] { return VltApi_startSection(h); });
    size_t taken = 0;  // pages the section keeps
    uint8_t full = 0;
    const size_t start = EngineMemory::held;
    while (st == VLT_OK && !full) {
      if (!pending) {
        if (!stream->next(&page, error)) {
          ended = true;
          if (!error->empty()) {
            st = VLT_ERR_PARAM;
            call = nullptr;
          }
          break;
        }
        pending = true;
        totals->raw += page.bits.size();
        if (!o.quiet)
          std::fprintf(stderr, "monodoc: encode: read page %zu (%dx%d) from %s\n", stream->pages_read(), page.width,
                       page.height, stream->file().c_str());
      }
      VltPageDesc desc{};
      if (convertBuffToVltPageDesc(&desc, static_cast<uint32_t>(page.width), static_cast<uint32_t>(page.height),
                                   static_cast<uint32_t>(page.stride), page.bits.data()) != 1) {
        st = VLT_ERR_NOMEM;
        call = "convertBuffToVltPageDesc";
        break;
      }
      desc.xRes = static_cast<uint32_t>(page.xres + 0.5);
      desc.yRes = static_cast<uint32_t>(page.yres + 0.5);
      step("VltApi_addMonoPage", [&] { return VltApi_addMonoPage(h, &desc, &full); });
      kvng_internal_free(desc.buffer);
      // A full section has either refused the page or will roll it back at its end: it stays
      // pending and opens the next section.
      if (st == VLT_OK && !full) {
        pending = false;
        ++taken;
        full = EngineMemory::held > start && EngineMemory::held - start >= bound;
      } else if (st == VLT_OK && !o.quiet) {
        std::fprintf(stderr, "monodoc: encode: page %zu goes to the next section: the engine's bound is reached\n",
                     coded + taken + 1);
      }
    }
    if (st == VLT_OK && taken == 0 && pending) {
      *error = "page " + std::to_string(coded + 1) + " does not fit in a section of its own under --memory " +
               std::to_string(o.memoryMb);
      st = VLT_ERR_INTERNAL;
      call = nullptr;
    }
    if (st != VLT_OK || taken == 0) break;
    ++sections;
    VltApiDict dict{};
    step("VltApi_endSectionGetDict", [&] { return VltApi_endSectionGetDict(h, 0, &dict); });
    std::free(dict.bytes);
    for (size_t p = 0; p < taken && st == VLT_OK; ++p) {
      VltApiPosBlock block{};
      step("VltApi_getNextPosBlock", [&] { return VltApi_getNextPosBlock(h, &block); });
      std::free(block.bytes);
      if (st != VLT_OK) break;
      ++coded;
      if (!o.quiet) std::fprintf(stderr, "monodoc: encode: coded page %zu of %zu (section %zu)\n", coded, pageCount, sections);
    }
  }
  if (st == VLT_OK && coded != pageCount) {
    *error = "the files held " + std::to_string(coded) + " pages where " + std::to_string(pageCount) +
             " were counted (did they change?)";
    st = VLT_ERR_PARAM;
    call = nullptr;
  }
  // The file is written at the close.
  if (h != nullptr) {
    const VltStatus closed = VltApi_close(h);
    if (st == VLT_OK && closed != VLT_OK) {
      st = closed;
      call = "VltApi_close (writing the file)";
    }
  EngineMemory::release_pools();
  }
  const long size = std::ftell(out);
  if (st != VLT_OK) {
    // The engine tells only that a write failed; the system tells why.
    const int why = errno;
    if (call != nullptr) *error = vlt_failure(call, st);
    if (std::ferror(out)) *error = "cannot write " + o.file + ": " + std::strerror(why) + " (" + *error + ")";
    return false;
  }
  // The file replaces what had its name only now, whole.
  if (!file.commit(error)) return false;
  totals->pages = coded;
  totals->sections = sections;
  totals->bytes = size > 0 ? static_cast<size_t>(size) : 0;
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
  PageStream stream(o.files);
  if (!o.file.empty()) {
    EncodeTotals t;
    if (!encode_file(&stream, o, &t, &error)) {
      complain(name, error);
      return exit_failed;
    }
    std::printf("%s: %zu pages in %zu sections, %zu bytes, raw %zu bytes (%.2f%%)\n", o.file.c_str(), t.pages,
                t.sections, t.bytes, t.raw, t.raw != 0 ? 100.0 * static_cast<double>(t.bytes) / static_cast<double>(t.raw) : 0.0);
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
  // jBig2Encode codes the layers of one image in one call: each page read becomes a layer at
  // once, so the raw pages are held once, as layers, not a second time as read.
  const Held image(new_elf_object(interp.state, "QELIMAGE", nullptr));
  if (!image.get()) {
    complain(name, "cannot make an image object");
    return exit_failed;
  }
  struct Read {
    int32_t width, height;
    size_t raw;
  };
  std::vector<Read> read;
  Bilevel p;
  while (stream.next(&p, &error)) {
    if (!add_page_layer(interp.state, image.get(), p, read.size(), &error)) {
      complain(name, error);
      return exit_failed;
    }
    read.push_back({p.width, p.height, p.bits.size()});
    if (!o.quiet)
      std::fprintf(stderr, "monodoc: encode: read page %zu (%dx%d) from %s\n", read.size(), p.width, p.height,
                   stream.file().c_str());
  }
  p = Bilevel{};
  if (!error.empty()) {
    complain(name, error);
    return exit_failed;
  }
  const Held args(encode_arguments(interp.state, o));
  if (!args.get()) {
    complain(name, "cannot make the argument list");
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
  std::vector<std::string> outputs;
  for (size_t n = 1; n <= read.size(); ++n) outputs.push_back(o.prefix + "-" + std::to_string(n) + ".jb2");
  outputs.push_back(o.prefix + "-dict.jb2");
  for (const std::string& path : outputs) {
    if (!refuse_same_file(path, o.files, &error)) {
      complain(name, error);
      return exit_failed;
    }
  }
  // Every file appears at the end, when all are written, or none does.
  OutputSet files;
  for (int32_t i = 0; i < elflistLength(im->layers); ++i) {
    const elf_QELLAYER* layer = qelLayer(elfIdentValue(elflistItem(im->layers, i)));
    const elf_QELHDR* h = layer ? qelHdr(layer->description) : nullptr;
    const bool dict = layer && layer->kind == QEL_KIND_JBIG2_DICT;
    if (!dict && !(h && h->compression == QEL_COMPRESSION_JBIG2)) continue;
    if (!dict && page == read.size()) break;
    const std::string path = dict ? o.prefix + "-dict.jb2" : o.prefix + "-" + std::to_string(++page) + ".jb2";
    OutputFile* file = nullptr;
    if (!layer_data(layer, &bytes) || !(file = files.open(path, &error)) ||
        !file->write(bytes.data(), bytes.size(), &error)) {
      complain(name, error.empty() ? path + ": the layer holds no data" : error);
      return exit_failed;
    }
    total += bytes.size();
    if (dict) {
      std::printf("%s: dictionary, %zu bytes\n", path.c_str(), bytes.size());
      continue;
    }
    const Read& r = read[page - 1];
    raw += r.raw;
    std::printf("%s: page %zu, %dx%d, %zu bytes (raw %zu)\n", path.c_str(), page, r.width, r.height, bytes.size(),
                r.raw);
    if (!o.quiet) std::fprintf(stderr, "monodoc: encode: wrote page %zu of %zu\n", page, read.size());
  }
  if (page != read.size()) {
    complain(name, "jBig2Encode coded " + std::to_string(page) + " of " + std::to_string(read.size()) + " pages");
    return exit_failed;
  }
  if (!files.commit(&error)) {
    complain(name, error);
    return exit_failed;
  }
  std::printf("%zu pages: %zu bytes, raw %zu bytes (%.2f%%)\n", page, total, raw,
              raw != 0 ? 100.0 * static_cast<double>(total) / static_cast<double>(raw) : 0.0);
  return exit_ok;
}

}  // namespace monodoc
