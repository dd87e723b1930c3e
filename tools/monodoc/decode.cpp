// monodoc decode: embedded JBIG2 page streams, or the pages of a standalone JBIG2 file, through
// jBig2Decode of libmonocodec (called as the interpreter calls it) to PBM files, a page at a time.
// It runs in the runner itself, which loads nothing but the interpreter and libmonocodec.

#include <algorithm>
#include <cstdio>
#include <map>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "byteorder.h"
#include "commands.h"
#include "image_io.h"
#include "methods.h"
#include "page_files.h"
#include "session.h"

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
    "file) or before the page count its header gives is cut short: the pages before are written,\n"
    "and the command fails.\n"
    "\n"
    "Options:\n"
    "  -o, --output PREFIX    where the pages go (default \"out\")\n"
    "  -q, --quiet            no progress line per page\n"
    "  -h, --help             this text\n";

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

// A page of a standalone file as an embedded stream.
struct PageStream {
  std::string bytes;
  // Its end of page was read, or the file's end of file: a file cut short at a segment boundary
  // still holds whole segments, and only this tells that the page goes on.
  bool complete;
};

// A standalone file (either organisation) as embedded streams, one per page that has a page
// information segment, in page order: each holds the segments of no page that it refers to,
// directly or through others (its dictionaries and tables), then its own. Decoding pages apart
// repeats the shared dictionaries but needs no global stream. A file that tells its page count
// and holds fewer pages is cut short. False with the reason.
bool split_standalone(const std::string& file, std::vector<PageStream>* pages, std::string* error) {
  const auto* b = reinterpret_cast<const uint8_t*>(file.data());
  const size_t size = file.size();
  const bool sequential = (b[8] & 1) != 0;
  size_t at = (b[8] & 2) != 0 ? 9 : 13;
  if (at > size) {
    *error = "the file header is cut short";
    return false;
  }
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
  std::unordered_set<uint32_t> pageEnded;           // pages with their end of page
  for (size_t i = 0; i < segments.size(); ++i) {
    const SegmentHeader& h = segments[i];
    if (h.page == 0 && h.type != 51) shared.emplace(h.number, i);
    if (h.type == 48 && h.page != 0) byPage[h.page];
    if (h.type == 49) pageEnded.insert(h.page);
  }
  const bool counted = (b[8] & 2) == 0;
  if (counted && !ended && byPage.size() < mono::load_be32(b + 9)) {
    *error = "the file ends after " + std::to_string(byPage.size()) + " of its " + std::to_string(mono::load_be32(b + 9)) +
             " pages: it is cut short";
    return false;
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
    pages->push_back(PageStream{std::move(stream), ended || pageEnded.count(page) != 0});
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

// Writes a decoded layer's rows (1 = black) as a PBM file straight from the layer's memory;
// false with the reason when the layer holds no raw page of its size or the file cannot be
// written.
bool write_layer_pbm(const elf_QELLAYER* layer, const std::string& path, int32_t* width, int32_t* height,
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
  FILE* out = std::fopen(path.c_str(), "wb");
  if (out == nullptr) {
    *error = "cannot write " + path;
    return false;
  }
  const auto* rows = static_cast<const char*>(data->data);
  bool ok = std::fprintf(out, "P4\n%d %d\n", h->width, h->height) > 0;
  // The layer's rows are the PBM's rows when they are whole bytes apart, as jBig2Decode leaves them.
  if (rowBytes == stride) {
    ok = ok && std::fwrite(rows, stride, static_cast<size_t>(h->height), out) == static_cast<size_t>(h->height);
  } else {
    for (int32_t y = 0; ok && y < h->height; ++y) ok = std::fwrite(rows + rowBytes * static_cast<size_t>(y), 1, stride, out) == stride;
  }
  ok = std::fclose(out) == 0 && ok;
  if (!ok) *error = "cannot write " + path;
  *width = h->width;
  *height = h->height;
  return ok;
}

// One page through jBig2Decode: a page image holding the page's layer (and the dictionary's,
// when there is one) is made, decoded and written, then let go before the next page.
bool decode_page(elf_state* state, Method decode, const std::string& stream, const std::string* globals,
                 const std::string& name, const std::string& path, std::string* error) {
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
  if (!write_layer_pbm(decoded, path, &width, &height, error)) return false;
  std::printf("wrote %s (%dx%d)\n", path.c_str(), width, height);
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
    if (!split_standalone(bytes, &streams, &error)) {
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
  for (size_t i = 0; i < pages; ++i) {
    if (!streams[i].complete) {
      complain(name, names[i] + ": the file ends before the page does (no end of page, no end of file): it is cut short");
      return exit_failed;
    }
    const std::string path = prefix + "-" + std::to_string(i + 1) + ".pbm";
    if (!decode_page(interp.state, decode, streams[i].bytes, hasGlobals ? &globals : nullptr, names[i], path, &error)) {
      complain(name, error);
      return exit_failed;
    }
    if (!quiet) std::fprintf(stderr, "monodoc: decode: page %zu of %zu\n", i + 1, pages);
  }
  return exit_ok;
}

}  // namespace monodoc
