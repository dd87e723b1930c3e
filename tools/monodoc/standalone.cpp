// Standalone JBIG2 files taken apart into embedded page streams.

#include "standalone.h"

#include <algorithm>
#include <map>
#include <unordered_map>
#include <unordered_set>

#include "bilevel.h"
#include "byteorder.h"

namespace monodoc {
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

constexpr uint8_t kFileId[8] = {0x97, 0x4A, 0x42, 0x32, 0x0D, 0x0A, 0x1A, 0x0A};

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

}  // namespace

bool is_standalone(const std::string& bytes) {
  return bytes.size() >= 9 && std::equal(kFileId, kFileId + 8, reinterpret_cast<const uint8_t*>(bytes.data()));
}

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

bool split_standalone(const std::string& file, std::vector<PageStream>* pages, std::string* error, uint32_t* claimed) {
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
  if (claimed != nullptr) *claimed = (b[8] & 2) == 0 ? mono::load_be32(b + 9) : 0;
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

}  // namespace monodoc
