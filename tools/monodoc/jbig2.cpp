// monodoc encode and decode: page files to embedded JBIG2 and back, through the JBIG2 methods of
// libmonocodec, called as the interpreter calls them.

#include <algorithm>
#include <cstdlib>
#include <malloc.h>
#include <filesystem>
#include <map>
#include <new>
#include <cstdio>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "byteorder.h"
#include "commands.h"
#include "jb2_filemode.h"
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

const char decode_help[] =
    "usage: monodoc decode [options] DICT PAGE.jb2...\n"
    "       monodoc decode [options] FILE.jb2\n"
    "\n"
    "Decodes embedded JBIG2 page streams (no file header) against the dictionary stream DICT, as\n"
    "\"monodoc encode\" and PDF's JBIG2Globals give them, through libmonocodec's jBig2Decode, and\n"
    "writes each page as a PBM file PREFIX-<n>.pbm (n counting from 1). DICT \"-\" means pages that\n"
    "need no dictionary. A page's size comes from its page information segment. A standalone\n"
    "JBIG2 file (\"monodoc encode --file\" writes them) is decoded whole: every page it holds is\n"
    "written, in page order, each decoded with the dictionaries it refers to.\n"
    "\n"
    "Options:\n"
    "  -o, --output PREFIX    where the pages go (default \"out\")\n"
    "  -q, --quiet            no progress line per page\n"
    "  -h, --help             this text\n";

namespace {

using Method = int (*)(void*, elf_object*, elf_object**);

// Binds a method of libmonocodec as the interpreter does; null with the reason.
Method bind_method(const char* name, std::string* error) {
  void* address = nullptr;
  char why[4200];
  if (!elfBindSharedProc("monocodec", name, &address, why, sizeof why)) {
    *error = why;
    return nullptr;
  }
  return reinterpret_cast<Method>(address);
}

// Calls the method on the image; false with the interpreter's message. A warning is reported
// and the call counts as done.
bool call_method(elf_state* state, Method method, const char* command, elf_object* image, elf_object* args,
                 std::string* error) {
  clearStatus(state);
  elf_object* result = nullptr;
  const int status = method(image, args, &result);
  const Held held(result);
  if (status == QEL_STATUS_OK) return true;
  const bool warning = getStatus(state) == status && getStatusSeverity(state) == QEL_SEVERITY_WARNING;
  if (warning) {
    complain(command, "warning: " + status_text(state, status));
    return true;
  }
  *error = status_text(state, status);
  return false;
}

bool layer_data(const elf_QELLAYER* layer, std::string* bytes) {
  bytes->clear();
  for (elf_object* p = layer->data; elfIsType(p, "POINTER"); p = reinterpret_cast<elf_POINTER*>(p)->next) {
    const auto* ptr = reinterpret_cast<const elf_POINTER*>(p);
    if (ptr->length != 0 && ptr->data == nullptr) return false;
    bytes->append(static_cast<const char*>(ptr->data), ptr->length);
  }
  return true;
}

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
  FILE* out = std::fopen(o.file.c_str(), "wb");
  if (out == nullptr) {
    *error = o.file + ": cannot open for writing";
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
  for (int32_t i = 0; i < elflistLength(im->layers); ++i) {
    const elf_QELLAYER* layer = qelLayer(elfIdentValue(elflistItem(im->layers, i)));
    const elf_QELHDR* h = layer ? qelHdr(layer->description) : nullptr;
    const bool dict = layer && layer->kind == QEL_KIND_JBIG2_DICT;
    if (!dict && !(h && h->compression == QEL_COMPRESSION_JBIG2)) continue;
    if (!dict && page == read.size()) break;
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
  std::printf("%zu pages: %zu bytes, raw %zu bytes (%.2f%%)\n", page, total, raw,
              raw != 0 ? 100.0 * static_cast<double>(total) / static_cast<double>(raw) : 0.0);
  return exit_ok;
}

// ---- decode ----

namespace {

struct SegmentHeader {
  uint32_t number = 0;
  std::vector<uint32_t> referred;
  uint8_t type = 0;
  uint32_t page = 0;
  uint32_t length = 0;  // of the data part
  size_t at = 0;        // where the header starts
  size_t size = 0;      // header bytes
};

// The segment header at `at`; false when the bytes end inside it.
bool read_segment_header(const uint8_t* b, size_t size, size_t at, SegmentHeader* h) {
  if (at > size || size - at < 11) return false;
  h->at = at;
  const uint32_t number = mono::load_be32(b + at);
  const uint8_t flags = b[at + 4];
  at += 5;
  uint32_t count = b[at] >> 5;
  size_t retainBytes = 1;
  if (count == 7) {
    if (size - at < 4) return false;
    count = mono::load_be32(b + at) & 0x1FFFFFFF;
    retainBytes = 4 + (size_t{count} + 8) / 8;
  }
  const size_t numberBytes = number <= 256 ? 1 : number <= 65536 ? 2 : 4;
  const size_t pageBytes = (flags & 0x40) ? 4 : 1;
  if (count > size) return false;
  const size_t rest = retainBytes + size_t{count} * numberBytes + pageBytes + 4;
  if (size - at < rest) return false;
  h->number = number;
  h->referred.clear();
  for (uint32_t i = 0; i < count; ++i) {
    const uint8_t* r = b + at + retainBytes + size_t{i} * numberBytes;
    h->referred.push_back(numberBytes == 1 ? r[0] : numberBytes == 2 ? mono::load_be16(r) : mono::load_be32(r));
  }
  const uint8_t* page = b + at + rest - 4 - pageBytes;
  h->page = pageBytes == 4 ? mono::load_be32(page) : page[0];
  h->type = flags & 0x3F;
  h->length = mono::load_be32(b + at + rest - 4);
  h->size = at + rest - h->at;
  return true;
}

// The page size a stream's page information segment gives; a page of unknown height is as tall
// as its last end of stripe says. False when the segments cannot be walked to a page size.
bool stream_page_size(const std::string& s, int32_t* width, int32_t* height) {
  const auto* b = reinterpret_cast<const uint8_t*>(s.data());
  size_t at = 0;
  bool found = false, unknownHeight = false;
  uint32_t w = 0, h = 0;
  SegmentHeader seg;
  while (read_segment_header(b, s.size(), at, &seg)) {
    at += seg.size;
    const uint32_t length = seg.length;
    if (length > s.size() - at) break;
    if (seg.type == 48 && length >= 8) {
      w = mono::load_be32(b + at);
      h = mono::load_be32(b + at + 4);
      found = true;
      unknownHeight = h == 0xFFFFFFFFu;
      if (unknownHeight) h = 0;
    }
    if (seg.type == 50 && length >= 4 && unknownHeight) h = std::max(h, mono::load_be32(b + at) + 1);
    if (seg.type == 49) break;
    at += length;
  }
  if (!found || w == 0 || h == 0 || w > INT32_MAX || h > INT32_MAX) return false;
  *width = static_cast<int32_t>(w);
  *height = static_cast<int32_t>(h);
  return true;
}

constexpr uint8_t kFileId[8] = {0x97, 0x4A, 0x42, 0x32, 0x0D, 0x0A, 0x1A, 0x0A};

bool is_standalone(const std::string& bytes) {
  return bytes.size() >= 9 && std::equal(kFileId, kFileId + 8, reinterpret_cast<const uint8_t*>(bytes.data()));
}

// The data length of an immediate generic region written before its size was known: its coded
// data ends with a marker no coded data holds (0xFF 0xAC for arithmetic coding, 0x00 0x00 for
// MMR), followed by the row count. False when it is no such region or no marker is found.
bool unknown_length(const uint8_t* b, size_t size, size_t at, uint8_t type, uint32_t* length) {
  constexpr size_t kRegionInfo = 17;
  if ((type != 38 && type != 39) || size - at < kRegionInfo + 1) return false;
  const uint8_t flags = b[at + kRegionInfo];
  const bool mmr = (flags & 1) != 0;
  const size_t atPixels = mmr ? 0 : ((flags >> 1) & 3) == 0 ? 8 : 2;
  const uint8_t marker[2] = {static_cast<uint8_t>(mmr ? 0x00 : 0xFF), static_cast<uint8_t>(mmr ? 0x00 : 0xAC)};
  const uint8_t* end = b + size;
  const uint8_t* found = std::search(b + std::min(size, at + kRegionInfo + 1 + atPixels), end, marker, marker + 2);
  if (found == end || end - found < 6 || static_cast<size_t>(found + 6 - (b + at)) > UINT32_MAX - 1) return false;
  *length = static_cast<uint32_t>(found + 6 - (b + at));
  return true;
}

// A standalone file (either organisation) as embedded streams, one per page that has a page
// information segment, in page order: each holds the segments of no page that it refers to,
// directly or through others (its dictionaries and tables), then its own. Decoding pages apart
// repeats the shared dictionaries but needs no global stream. False with the reason.
bool split_standalone(const std::string& file, std::vector<std::string>* pages, std::string* error) {
  const auto* b = reinterpret_cast<const uint8_t*>(file.data());
  const size_t size = file.size();
  const bool sequential = (b[8] & 1) != 0;
  size_t at = (b[8] & 2) != 0 ? 9 : 13;
  std::vector<SegmentHeader> segments;
  std::vector<size_t> dataAt;
  bool ended = false;
  while (at < size && !ended) {
    SegmentHeader h;
    if (!read_segment_header(b, size, at, &h)) {
      *error = "a segment header is cut off at byte " + std::to_string(at);
      return false;
    }
    at += h.size;
    if (h.length == 0xFFFFFFFFu && !(sequential && unknown_length(b, size, at, h.type, &h.length))) {
      *error = "a segment of unknown length whose end cannot be found";
      return false;
    }
    if (sequential) {
      if (h.length > size - at) {
        *error = "a segment's data runs past the end of the file";
        return false;
      }
      dataAt.push_back(at);
      at += h.length;
    }
    ended = h.type == 51;
    segments.push_back(h);
  }
  // The random-access organisation: every data part after the last header, in the same order.
  if (!sequential)
    for (const SegmentHeader& h : segments) {
      if (h.length > size - at) {
        *error = "a segment's data runs past the end of the file";
        return false;
      }
      dataAt.push_back(at);
      at += h.length;
    }
  std::map<uint32_t, std::vector<size_t>> byPage;  // the segments of each page with page information
  std::unordered_map<uint32_t, size_t> shared;      // segments of no page, by number
  for (size_t i = 0; i < segments.size(); ++i) {
    const SegmentHeader& h = segments[i];
    if (h.page == 0 && h.type != 51) shared.emplace(h.number, i);
    if (h.type == 48 && h.page != 0) byPage[h.page];
  }
  for (size_t i = 0; i < segments.size(); ++i)
    if (auto it = byPage.find(segments[i].page); it != byPage.end()) it->second.push_back(i);
  size_t total = 0;
  for (const auto& [page, own] : byPage) {
    // The segments of no page this page needs, followed through their own references.
    std::vector<size_t> pick = own;
    std::unordered_set<size_t> seen;
    std::vector<uint32_t> todo;
    for (const size_t i : own) todo.insert(todo.end(), segments[i].referred.begin(), segments[i].referred.end());
    while (!todo.empty()) {
      const auto it = shared.find(todo.back());
      todo.pop_back();
      if (it == shared.end() || !seen.insert(it->second).second) continue;
      pick.push_back(it->second);
      todo.insert(todo.end(), segments[it->second].referred.begin(), segments[it->second].referred.end());
    }
    std::sort(pick.begin(), pick.end());  // file order
    std::string stream;
    for (const size_t i : pick) {
      const SegmentHeader& h = segments[i];
      total += h.size + h.length;
      // Each page repeats what it shares: a file whose pages share much could ask for a lot.
      if (total > max_page_bytes) {
        *error = "its pages share more data than this command decodes page by page";
        return false;
      }
      stream.append(file, h.at, h.size);
      stream.append(file, dataAt[i], h.length);
    }
    pages->push_back(std::move(stream));
  }
  if (pages->empty()) {
    *error = "the file holds no page";
    return false;
  }
  return true;
}

elf_object* pointer_over(elf_state* state, const std::string& bytes) {
  void* copy = elfMalloc(bytes.size());
  if (copy == nullptr) return nullptr;
  std::copy(bytes.begin(), bytes.end(), static_cast<char*>(copy));
  elf_object* p = elfNewPointer(state, copy, bytes.size());
  if (p == nullptr) _elfFree(copy);
  return p;
}

// A JBIG2 page layer (compression 7) of the stream, sized as its page information says.
elf_object* jbig2_layer(elf_state* state, const std::string& bytes, int32_t width, int32_t height) {
  elf_object* layer = new_QELLAYER(state, nullptr, nullptr);
  elf_object* desc = layer ? new_QELHDR(state, nullptr, nullptr) : nullptr;
  elf_object* data = desc ? pointer_over(state, bytes) : nullptr;
  elf_QELHDR* h = qelHdr(desc);
  if (h) {
    h->bitsPerSample = static_cast<int32_t*>(elfCalloc(1, sizeof(int32_t)));
    h->bytesPerRow = static_cast<int32_t*>(elfCalloc(1, sizeof(int32_t)));
  }
  if (!data || !h->bitsPerSample || !h->bytesPerRow) {
    elfDiscard(data);
    elfDiscard(desc);
    elfDiscard(layer);
    return nullptr;
  }
  elf_QELLAYER* l = qelLayer(layer);
  ELF_ASSIGN(state, &l->description, desc);
  ELF_ASSIGN(state, &l->data, data);
  l->kind = QEL_KIND_BILEVEL;
  h->width = width;
  h->height = height;
  h->samplesPerPixel = 1;
  h->bitsPerSampleCount = 1;
  h->bitsPerSample[0] = 1;
  h->bytesPerRowCount = 1;
  h->bytesPerRow[0] = (width + 7) / 8;
  h->photometric = QEL_PHOTO_BILEVEL;
  h->compression = QEL_COMPRESSION_JBIG2;
  return layer;
}

elf_object* dictionary_layer(elf_state* state, const std::string& bytes) {
  elf_object* layer = new_QELLAYER(state, nullptr, nullptr);
  elf_object* data = layer ? pointer_over(state, bytes) : nullptr;
  if (!data) {
    elfDiscard(layer);
    return nullptr;
  }
  qelLayer(layer)->kind = QEL_KIND_JBIG2_DICT;
  ELF_ASSIGN(state, &qelLayer(layer)->data, data);
  return layer;
}

// The raw rows of a decoded layer as a page (1 = black).
bool layer_page(const elf_QELLAYER* layer, Bilevel* page) {
  const elf_QELHDR* h = qelHdr(layer->description);
  std::string bytes;
  if (!h || h->compression != QEL_COMPRESSION_NONE || h->photometric != QEL_PHOTO_BILEVEL || !h->bytesPerRow ||
      !page_size_ok(h->width, h->height, &page->stride) || !layer_data(layer, &bytes))
    return false;
  const size_t rowBytes = static_cast<size_t>(h->bytesPerRow[0]);
  if (rowBytes < page->stride || bytes.size() / rowBytes < static_cast<size_t>(h->height)) return false;
  page->width = h->width;
  page->height = h->height;
  page->bits.resize(page->stride * static_cast<size_t>(h->height));
  for (int32_t y = 0; y < h->height; ++y)
    std::copy_n(bytes.data() + rowBytes * static_cast<size_t>(y), page->stride, reinterpret_cast<char*>(page->row(y)));
  clear_padding(page);
  return true;
}

}  // namespace

int run_decode(const std::vector<std::string>& argv) {
  constexpr const char* name = "decode";
  static const std::vector<OptionSpec> specs = {{'o', "output", true}, {'q', "quiet", false}};
  ParsedOptions parsed;
  std::string error;
  if (!parse_options(argv, specs, &parsed, &error) || parsed.operands.empty()) {
    complain(name, error.empty() ? "needs DICT and at least one PAGE.jb2, or FILE.jb2 (monodoc help decode)" : error);
    return exit_usage;
  }
  std::string prefix = "out";
  bool quiet = false;
  for (const auto& [spec, value] : parsed.options) {
    if (spec->short_name == 'o') prefix = value;
    if (spec->short_name == 'q') quiet = true;
  }
  // The streams to decode: a standalone file split into its dictionaries and pages, or the
  // embedded streams as given.
  std::string globals, bytes;
  bool hasGlobals = false;
  std::vector<std::string> streams, names;
  if (parsed.operands.size() == 1) {
    const std::string& path = parsed.operands[0];
    if (!read_file_bytes(path, &bytes, &error)) {
      complain(name, error);
      return exit_failed;
    }
    if (!is_standalone(bytes)) {
      complain(name, path + " is no standalone JBIG2 file; embedded pages need DICT (monodoc help decode)");
      return exit_usage;
    }
    if (!split_standalone(bytes, &streams, &error)) {
      complain(name, path + ": " + error);
      return exit_failed;
    }
    for (size_t i = 0; i < streams.size(); ++i) names.push_back(path + " page " + std::to_string(i + 1));
  } else {
    for (size_t i = 1; i < parsed.operands.size(); ++i) {
      if (!read_file_bytes(parsed.operands[i], &bytes, &error)) {
        complain(name, error);
        return exit_failed;
      }
      streams.push_back(bytes);
      names.push_back(parsed.operands[i]);
    }
    hasGlobals = parsed.operands[0] != "-";
    if (hasGlobals && !read_file_bytes(parsed.operands[0], &globals, &error)) {
      complain(name, error);
      return exit_failed;
    }
  }
  Interpreter interp("monodoc");
  if (!interp.state) {
    complain(name, "cannot make the interpreter state");
    return exit_failed;
  }
  const Method decode = bind_method("jBig2Decode", &error);
  if (decode == nullptr) {
    complain(name, error);
    return exit_failed;
  }
  const Held image(new_QELIMAGE(interp.state, nullptr, nullptr));
  if (!image.get()) {
    complain(name, "cannot make an image object");
    return exit_failed;
  }
  const size_t pages = streams.size();
  for (size_t i = 0; i < pages; ++i) {
    int32_t width = 0, height = 0;
    if (!stream_page_size(streams[i], &width, &height)) {
      complain(name, names[i] + ": no page information segment tells the page size");
      return exit_failed;
    }
    elf_object* layer = jbig2_layer(interp.state, streams[i], width, height);
    if (!layer || QELAppendLayer(image.get(), ("layer" + std::to_string(i)).c_str(), layer) != QEL_STATUS_OK) {
      if (!layer) complain(name, "cannot make the layer of " + names[i]);
      return exit_failed;
    }
  }
  if (hasGlobals) {
    elf_object* dict = dictionary_layer(interp.state, globals);
    if (!dict || QELAppendLayer(image.get(), "jbig2Dict:", dict) != QEL_STATUS_OK) {
      if (!dict) complain(name, "cannot make the dictionary layer");
      return exit_failed;
    }
  }
  const Held args(new_LIST(interp.state, nullptr, nullptr));
  if (!call_method(interp.state, decode, name, image.get(), args.get(), &error)) {
    complain(name, error);
    return exit_failed;
  }
  const elf_QELIMAGE* im = qelImage(image.get());
  for (size_t i = 0; i < pages; ++i) {
    const elf_QELLAYER* layer = qelLayer(elfIdentValue(elflistItem(im->layers, static_cast<int32_t>(i))));
    Bilevel page;
    if (!layer || !layer_page(layer, &page)) {
      complain(name, names[i] + ": jBig2Decode left no raw page");
      return exit_failed;
    }
    const std::string path = prefix + "-" + std::to_string(i + 1) + ".pbm";
    const std::string pbm = format_pbm(page);
    if (!write_file_bytes(path, pbm.data(), pbm.size(), &error)) {
      complain(name, error);
      return exit_failed;
    }
    std::printf("wrote %s (%dx%d)\n", path.c_str(), page.width, page.height);
    if (!quiet) std::fprintf(stderr, "monodoc: decode: page %zu of %zu\n", i + 1, pages);
  }
  return exit_ok;
}

}  // namespace monodoc
