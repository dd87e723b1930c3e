// monodoc decode: embedded JBIG2 page streams, or the pages of a standalone JBIG2 file, through
// jBig2Decode of libmonocodec (called as the interpreter calls it) to PBM files, a page at a time.
// It runs in the runner itself, which loads nothing but the interpreter and libmonocodec.

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "commands.h"
#include "output.h"
#include "image_io.h"
#include "methods.h"
#include "page_files.h"
#include "session.h"
#include "standalone.h"

namespace monodoc {

const char decode_help[] =
    "usage: monodoc decode [options] DICT PAGE.jb2...\n"
    "       monodoc decode [options] FILE.jb2\n"
    "\n"
    "Decodes embedded JBIG2 page streams (no file header) against the dictionary stream DICT, as\n"
    "\"monodoc encode\" and PDF's JBIG2Globals give them, through libmonocodec's jBig2Decode, and\n"
    "writes each page as a PBM file PREFIX-<n>.pbm (n counting from 1). DICT \"-\" means pages that\n"
    "need no dictionary. A page's size comes from its page information segment. A standalone\n"
    "JBIG2 file (\"monodoc encode --file\" writes them) is decoded whole: every page it holds is\n"
    "written, in page order, each decoded with the dictionaries it refers to. Pages are decoded and\n"
    "written one at a time. A file that ends before its last page does (no end of page, no end of\n"
    "file) or before the page count its header gives is cut short: the command fails, and no page\n"
    "file is written, as with any failure.\n"
    "\n"
    "Options:\n"
    "  -o, --output PREFIX    where the pages go (default \"out\")\n"
    "  -q, --quiet            no progress line per page\n"
    "  -h, --help             this text\n";

namespace {

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
  // A page may be as wide as an int32_t allows (jBig2Decode refuses what it cannot hold).
  h->bytesPerRow[0] = static_cast<int32_t>((int64_t{width} + 7) / 8);
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

// Writes a decoded layer's rows (1 = black) as a PBM file straight from the layer's memory;
// false with the reason when the layer holds no raw page of its size or the file cannot be
// written.
bool write_layer_pbm(const elf_QELLAYER* layer, OutputFile* file, int32_t* width, int32_t* height,
                     std::string* error) {
  const elf_QELHDR* h = qelHdr(layer->description);
  const auto* data = elfIsType(layer->data, "POINTER") ? reinterpret_cast<const elf_POINTER*>(layer->data) : nullptr;
  if (!h || h->compression != QEL_COMPRESSION_NONE || h->photometric != QEL_PHOTO_BILEVEL || !h->bytesPerRow ||
      h->width <= 0 || h->height <= 0 || !data || !data->data || data->next != nullptr) {
    *error = "jBig2Decode left no raw page";
    return false;
  }
  const size_t stride = (static_cast<size_t>(h->width) + 7) / 8, rowBytes = static_cast<size_t>(h->bytesPerRow[0]);
  if (rowBytes < stride || data->length / rowBytes < static_cast<size_t>(h->height)) {
    *error = "jBig2Decode left no raw page";
    return false;
  }
  FILE* out = file->stream();
  if (out == nullptr) {
    *error = "cannot write " + file->path() + ": " + std::strerror(errno);
    return false;
  }
  const auto* rows = static_cast<const char*>(data->data);
  bool ok = std::fprintf(out, "P4\n%d %d\n", h->width, h->height) > 0;
  // The layer's rows are the PBM's rows when they are whole bytes apart, as jBig2Decode leaves them.
  if (rowBytes == stride) {
    ok = ok && std::fwrite(rows, stride, static_cast<size_t>(h->height), out) == static_cast<size_t>(h->height);
  } else {
    for (int32_t y = 0; ok && y < h->height; ++y)
      ok = std::fwrite(rows + rowBytes * static_cast<size_t>(y), 1, stride, out) == stride;
  }
  if (!ok) {
    *error = "cannot write " + file->path() + ": " + std::strerror(errno);
    return false;
  }
  *width = h->width;
  *height = h->height;
  return true;
}

// One page through jBig2Decode: a page image holding the page's layer (and the dictionary's,
// when there is one) is made, decoded and written, then let go before the next page.
bool decode_page(elf_state* state, Method decode, const std::string& stream, const std::string* globals,
                 const std::string& name, OutputFile* file, std::string* error) {
  int32_t width = 0, height = 0;
  if (!stream_page_size(stream, &width, &height)) {
    *error = name + ": no page information segment tells the page size";
    return false;
  }
  const Held image(new_QELIMAGE(state, nullptr, nullptr));
  elf_object* layer = image.get() ? jbig2_layer(state, stream, width, height) : nullptr;
  if (!layer || QELAppendLayer(image.get(), "layer0", layer) != QEL_STATUS_OK) {
    *error = "cannot make the layer of " + name;
    return false;
  }
  if (globals != nullptr) {
    elf_object* dict = dictionary_layer(state, *globals);
    if (!dict || QELAppendLayer(image.get(), "jbig2Dict:", dict) != QEL_STATUS_OK) {
      *error = "cannot make the dictionary layer";
      return false;
    }
  }
  const Held args(new_LIST(state, nullptr, nullptr));
  if (!call_method(state, decode, "decode", image.get(), args.get(), error)) return false;
  const elf_QELLAYER* decoded = qelLayer(elfIdentValue(elflistItem(qelImage(image.get())->layers, 0)));
  if (!decoded) {
    *error = name + ": jBig2Decode left no raw page";
    return false;
  }
  if (!write_layer_pbm(decoded, file, &width, &height, error)) return false;
  std::printf("wrote %s (%dx%d)\n", file->path().c_str(), width, height);
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
  // The pages to decode: a standalone file split into its pages (each with the shared segments
  // it needs), or the embedded streams as given with the dictionary stream.
  std::string globals;
  bool hasGlobals = false;
  std::vector<PageStream> streams;
  std::vector<std::string> names;
  uint32_t claimed = 0;  // the pages a standalone file's header gives
  if (parsed.operands.size() == 1) {
    const std::string& path = parsed.operands[0];
    std::string bytes;
    if (!read_file_bytes(path, &bytes, &error)) {
      complain(name, error);
      return exit_failed;
    }
    if (!is_standalone(bytes)) {
      complain(name, path + " is no standalone JBIG2 file; embedded pages need DICT (monodoc help decode)");
      return exit_usage;
    }
    if (!split_standalone(bytes, &streams, &error, &claimed)) {
      complain(name, path + ": " + error);
      return exit_failed;
    }
    for (size_t i = 0; i < streams.size(); ++i) names.push_back(path + " page " + std::to_string(i + 1));
  } else {
    for (size_t i = 1; i < parsed.operands.size(); ++i) {
      std::string bytes;
      if (!read_file_bytes(parsed.operands[i], &bytes, &error)) {
        complain(name, error);
        return exit_failed;
      }
      streams.push_back(PageStream{std::move(bytes), true});
      names.push_back(parsed.operands[i]);
    }
    hasGlobals = parsed.operands[0] != "-";
    if (hasGlobals && !read_file_bytes(parsed.operands[0], &globals, &error)) {
      complain(name, error);
      return exit_failed;
    }
  }
  for (size_t i = 0; i < streams.size(); ++i) {
    if (!refuse_same_file(prefix + "-" + std::to_string(i + 1) + ".pbm", parsed.operands, &error)) {
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
  const size_t pages = streams.size();
  // Every page file appears at the end, when all pages have decoded, or none does.
  OutputSet outputs;
  for (size_t i = 0; i < pages; ++i) {
    if (!streams[i].complete) {
      complain(name, names[i] + ": the file ends before the page does (no end of page, no end of file): it is cut short");
      return exit_failed;
    }
    const std::string path = prefix + "-" + std::to_string(i + 1) + ".pbm";
    OutputFile* file = outputs.open(path, &error);
    if (!file ||
        !decode_page(interp.state, decode, streams[i].bytes, hasGlobals ? &globals : nullptr, names[i], file, &error)) {
      complain(name, error);
      return exit_failed;
    }
    if (!quiet) std::fprintf(stderr, "monodoc: decode: page %zu of %zu\n", i + 1, pages);
  }
  // Only a standalone file gives a page count; a file short of it is cut short, and a failed
  // run writes no page.
  if (claimed > pages) {
    complain(name, parsed.operands[0] + ": the file ends after " + std::to_string(pages) + " of its " +
                       std::to_string(claimed) + " pages: it is cut short");
    return exit_failed;
  }
  if (!outputs.commit(&error)) {
    complain(name, error);
    return exit_failed;
  }
  return exit_ok;
}

}  // namespace monodoc
