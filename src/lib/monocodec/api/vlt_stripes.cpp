// A page's regions in two stripes.

#include "vlt_stripes.h"

#include <algorithm>
#include <vector>

#include "byteorder.h"
#include "checked_size.h"
#include "tok_pagecc.h"

namespace {

int32_t top_of(const VltPosRecord& r) { return r.bottom - static_cast<int32_t>(r.token->height) + 1; }

int32_t top_of(const TokComponent* c) { return c->y - static_cast<int32_t>(c->bitmap.height) + 1; }

// A component as a packed image: its own bits wrapped, or its runs painted into a new one.
VltStatus component_image(VltState* es, TokComponent* c, VltImage** image) {
  if (c->runs == nullptr) {
    if (c->bitmap.bits == nullptr) return VLT_ERR_ASSERT;
    return VltImage_wrap(es, c->bitmap.bits, c->bitmap.width, c->bitmap.height, c->bitmap.wordsPerLine, image);
  }
  if (const VltStatus st = VltImage_new(es, VLT_IMAGE_PACKED, c->bitmap.width, c->bitmap.height, image); st != VLT_OK)
    return st;
  if ((*image)->rows != nullptr)
    fillruns((*image)->rows[0], static_cast<uint32_t>((*image)->hdr.bytesPerLine / 4), c->runs, c->runCount, 0, 0);
  return VLT_OK;
}

void release_image(TokComponent* c, VltImage* image) {
  if (c->runs == nullptr) {
    uint8_t* back = nullptr;
    VltImage_unwrap(image, &back);
  } else {
    VltImage_free(image);
  }
}

// Writes, frees and unlinks every component whose bottom row lies in [from, to].
VltStatus write_components(Jb2StreamState* stream, VltAdtList* list, int32_t from, int32_t to) {
  if (list == nullptr) return VLT_OK;
  VltState* es = jb2GetFileVlt_State(stream->file);
  for (VltAdtListNode* node = list->first; node != nullptr;) {
    auto* c = static_cast<TokComponent*>(node->data);
    if (c->y < from || c->y > to) {
      node = node->next;
      continue;
    }
    VltImage* image = nullptr;
    if (const VltStatus st = component_image(es, c, &image); st != VLT_OK) return st;
    const VltStatus st = writeJb2BinaryCC(image, 0, c->x, top_of(c), stream, nullptr);
    release_image(c, image);
    if (st != VLT_OK) return st;
    tok_freeComponent(es, c, TOK_POOL_COMPONENT);
    VltAdtListNode* next = nullptr;
    VltAdt_liRemAndNext(node, &next);
    node = next;
  }
  return VLT_OK;
}

}  // namespace

int sortByY(const void* a, const void* b) {
  const auto ya = static_cast<const VltPosRecord*>(a)->bottom;
  const auto yb = static_cast<const VltPosRecord*>(b)->bottom;
  return ya > yb ? 1 : ya < yb ? -1 : 0;
}

void vlt_sortPositions(VltPosRecord* records, int32_t n) {
  if (n > 1)
    std::stable_sort(records, records + n,
                     [](const VltPosRecord& a, const VltPosRecord& b) { return sortByY(&a, &b) < 0; });
}

void fillruns(uint8_t* bitmap, uint32_t wordsPerLine, const uint16_t* runs, int32_t runCount, int32_t xOffset,
              int32_t yOffset) {
  int32_t row = 0;
  for (int32_t i = 0; i < runCount; ++i) {
    const int32_t first = runs[2 * i] + xOffset;
    const int32_t last = runs[2 * i + 1] + xOffset;
    if (i > 0 && runs[2 * i] <= runs[2 * i - 1] + 1) ++row;
    uint8_t* line = bitmap + static_cast<size_t>(row + yOffset) * wordsPerLine * 4;
    const int32_t w0 = first / 32, w1 = last / 32;
    const uint32_t head = 0xFFFFFFFFu >> (first % 32);
    const uint32_t tail = ~(0x7FFFFFFFu >> (last % 32));
    if (w0 == w1) {
      mono::store_be32(line + 4 * w0, mono::load_be32(line + 4 * w0) | (head & tail));
      continue;
    }
    mono::store_be32(line + 4 * w0, mono::load_be32(line + 4 * w0) | head);
    for (int32_t w = w0 + 1; w < w1; ++w) mono::store_be32(line + 4 * w, 0xFFFFFFFFu);
    mono::store_be32(line + 4 * w1, mono::load_be32(line + 4 * w1) | tail);
  }
}

VltStatus vlt_splitStripes(const VltPosRecord* sorted, int32_t n, const VltAdtList* components, int32_t height,
                           int32_t splitRow, VltStripeSplit* split, VltState* state) {
  int32_t end = std::max(0, std::min(splitRow, height - 1));
  // Suffix minimum of the records' top rows, with the record that has it.
  std::vector<int32_t> minTop, minAt;
  if (n > 0) {
    try {
      minTop.resize(static_cast<size_t>(n));
      minAt.resize(static_cast<size_t>(n));
    } catch (...) {
      return Vlt_report(state, VLT_ERR_NOMEM);
    }
    for (int32_t i = n - 1; i >= 0; --i) {
      const int32_t t = top_of(sorted[i]);
      if (i == n - 1 || t < minTop[i + 1]) {
        minTop[i] = t;
        minAt[i] = i;
      } else {
        minTop[i] = minTop[i + 1];
        minAt[i] = minAt[i + 1];
      }
    }
  }
  // Stripe 1 takes everything that ends by its end row, and grows over whatever starts in it.
  int32_t m = 0;
  for (bool grew = true; grew;) {
    grew = false;
    while (m < n && sorted[m].bottom <= end) ++m;
    if (m < n && minTop[m] <= end) {
      end = sorted[minAt[m]].bottom;
      grew = true;
    }
    if (components != nullptr)
      for (const VltAdtListNode* node = components->first; node != nullptr; node = node->next) {
        const auto* c = static_cast<const TokComponent*>(node->data);
        if (c->y > end && top_of(c) <= end) {
          end = c->y;
          grew = true;
        }
      }
  }
  *split = VltStripeSplit{end, m};
  return VLT_OK;
}

VltStatus vlt_writeStripes(const Jb2OutputCallbacks* cb, Jb2StreamState* stream, VltPosRecord* records, int32_t n,
                           VltAdtList* components, int32_t width, int32_t height, int32_t splitRow, int32_t xRes,
                           int32_t yRes, int32_t pageNumber, void* dictBlock) {
  VltState* es = jb2GetFileVlt_State(stream->file);
  VltStripeSplit split{};
  if (const VltStatus st = vlt_splitStripes(records, n, components, height, splitRow, &split, es); st != VLT_OK)
    return st;
  const int32_t end = split.endRow, m = split.firstCount;
  const int32_t zero = 0;
  if (const VltStatus st = cb->writePosBlock(records, m, width, end + 1, xRes, yRes, nullptr, pageNumber, dictBlock,
                                             0, stream, &zero);
      st != VLT_OK)
    return st;
  if (const VltStatus st = write_components(stream, components, INT32_MIN, end); st != VLT_OK) return st;
  if (const VltStatus st = writeJb2EOStripe(std::min(end, height - 1), pageNumber, stream); st != VLT_OK) return st;
  const int32_t second = end + 1;
  for (int32_t i = m; i < n; ++i) records[i].bottom = static_cast<int16_t>(records[i].bottom - second);
  if (const VltStatus st = cb->writePosBlock(records + m, n - m, width, std::max(height - second, 0), xRes, yRes,
                                             nullptr, pageNumber, dictBlock, 1, stream, &second);
      st != VLT_OK)
    return st;
  return write_components(stream, components, second, INT32_MAX);
}
