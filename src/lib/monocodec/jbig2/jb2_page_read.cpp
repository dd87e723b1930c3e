// Decoders of the segments without a bitmap: page information, the end markers and extensions.

#include <cstring>

#include "byteorder.h"
#include "jb2_decode.h"
#include "vlt_state.h"

namespace {

VltStatus read_exact(DataSource* source, uint32_t n, uint8_t* dest) {
  uint32_t got = 0;
  return dsRead(source, n, dest, &got);
}

constexpr uint32_t kAsciiComment = 0x20000000u;
constexpr uint32_t kBinaryComment = 0x00524156u;
// An extension a reader may not ignore.
constexpr uint32_t kNecessary = 0x80000000u;

struct Handler {
  uint32_t type;
  Jb2DecodeFn decode;
  Jb2FreeFn free;
};

constexpr Handler kHandlers[] = {
    {kAsciiComment, decASCIIComment, freeASCIIComment},
    {kBinaryComment, decBinComment, freeBinComment},
};

const Handler* handler_of(uint32_t type) {
  for (const Handler& h : kHandlers)
    if (h.type == type) return &h;
  return nullptr;
}

void free_strings(char** strings, int32_t n, VltState* state) {
  if (strings == nullptr) return;
  for (int32_t i = 0; i < n; ++i) state->free(strings[i]);
  state->free(strings);
}

}  // namespace

VltStatus jb2DecodePageInfo(Jb2File* file, DataSource* source, SegmentInfo* seg, SegmentInfo**) {
  if (seg->referredCount != 0) return jb2Fail(file, VLT_ERR_CODEC, "page info segment referencing another segment");
  uint8_t b[19];
  if (const VltStatus st = read_exact(source, sizeof b, b); st != VLT_OK) return st;
  const uint8_t flags = b[16];
  if ((flags & 0x80) != 0) return jb2Fail(file, VLT_ERR_CODEC, "reserved flag is 1 in page info segment");
  Jb2PageInfo& p = seg->body.pageInfo;
  p.width = mono::load_be32(b);
  p.height = mono::load_be32(b + 4);
  p.xResolution = mono::load_be32(b + 8);
  p.yResolution = mono::load_be32(b + 12);
  p.eventuallyLossless = flags & 1;
  p.mightRefine = (flags >> 1) & 1;
  p.defaultPixel = (flags >> 2) & 1;
  p.defaultCombOp = (flags >> 3) & 3;
  p.auxBuffers = (flags >> 5) & 1;
  p.combOpOverridden = (flags >> 6) & 1;
  const uint16_t striping = mono::load_be16(b + 17);
  p.striped = static_cast<uint8_t>(striping >> 15);
  p.maxStripe = p.striped ? static_cast<uint16_t>(striping & 0x7FFF) : 0;
  return VLT_OK;
}

VltStatus jb2DecodeEOPage(Jb2File* file, DataSource*, SegmentInfo* seg, SegmentInfo**) {
  if (seg->referredCount != 0) return jb2Fail(file, VLT_ERR_CODEC, "end of page segment referencing another segment");
  if (seg->dataLength != 0) return jb2Fail(file, VLT_ERR_CODEC, "end of page segment has data!");
  return VLT_OK;
}

VltStatus jb2DecodeEOStripe(Jb2File* file, DataSource* source, SegmentInfo* seg, SegmentInfo**) {
  if (seg->referredCount != 0) return jb2Fail(file, VLT_ERR_CODEC, "end of stripe segment referencing another segment");
  uint8_t b[4];
  if (const VltStatus st = read_exact(source, 4, b); st != VLT_OK) return st;
  seg->body.endOfStripe.endRow = mono::load_be32(b);
  return VLT_OK;
}

VltStatus jb2DecodeEOFile(Jb2File* file, DataSource*, SegmentInfo* seg, SegmentInfo**) {
  if (seg->referredCount != 0) return jb2Fail(file, VLT_ERR_CODEC, "end of file segment referencing another segment");
  if (seg->dataLength != 0) return jb2Fail(file, VLT_ERR_CODEC, "end of file segment has data!");
  return VLT_OK;
}

VltStatus jb2DecodeExtension(Jb2File* file, DataSource* source, SegmentInfo* seg,
                             SegmentInfo** referred) {
  uint8_t b[4];
  if (const VltStatus st = read_exact(source, 4, b); st != VLT_OK) return st;
  const uint32_t type = mono::load_be32(b);
  seg->body.extension.type = type;
  if (const Handler* h = handler_of(type); h != nullptr) return h->decode(file, source, seg, referred);
  // Extensions a reader may ignore (other comment kinds, for one) are skipped with their data.
  if ((type & kNecessary) == 0) return VLT_OK;
  return jb2Fail(file, VLT_ERR_CODEC, "unrecognised segment type");
}

void jb2FreeExtensionSegment(SegmentInfo* seg, VltState* state) {
  if (const Handler* h = handler_of(seg->body.extension.type); h != nullptr) h->free(seg, state);
}

VltStatus getString(Jb2File* file, DataSource* source, char** string) {
  VltState* state = jb2GetFileVlt_State(file);
  *string = nullptr;
  size_t capacity = 32, n = 0;
  auto* buf = static_cast<char*>(state->malloc(capacity));
  if (buf == nullptr) return Vlt_report(state, VLT_ERR_NOMEM);
  for (;;) {
    uint8_t c;
    VltStatus st = VLT_OK;
    if (source->pos < source->size)
      c = source->data[source->pos++];
    else if ((st = _dsGetc(source, &c)) != VLT_OK) {
      state->free(buf);
      return st;
    }
    if (n == capacity) {
      auto* bigger = static_cast<char*>(state->realloc(buf, capacity * 2));
      if (bigger == nullptr) {
        state->free(buf);
        return Vlt_report(state, VLT_ERR_NOMEM);
      }
      buf = bigger;
      capacity *= 2;
    }
    buf[n++] = static_cast<char>(c);
    if (c == 0) break;
  }
  *string = buf;
  return VLT_OK;
}

VltStatus decASCIIComment(Jb2File* file, DataSource* source, SegmentInfo* seg, SegmentInfo**) {
  VltState* state = jb2GetFileVlt_State(file);
  auto* comment = static_cast<Jb2Comment*>(state->malloc(sizeof(Jb2Comment)));
  if (comment == nullptr) return Vlt_report(state, VLT_ERR_NOMEM);
  *comment = Jb2Comment{};
  // The pairs go straight into arrays that double as they fill.
  int32_t capacity = 0;
  VltStatus st = VLT_OK;
  for (;;) {
    char* name = nullptr;
    if ((st = getString(file, source, &name)) != VLT_OK) break;
    if (name[0] == '\0') {
      state->free(name);
      break;
    }
    char* value = nullptr;
    if ((st = getString(file, source, &value)) != VLT_OK) {
      state->free(name);
      break;
    }
    if (comment->count == capacity) {
      const int32_t bigger = capacity == 0 ? 4 : capacity * 2;
      auto* names = static_cast<char**>(state->realloc(comment->names, static_cast<size_t>(bigger) * sizeof(char*)));
      if (names != nullptr) comment->names = names;
      auto* values = names == nullptr ? nullptr
                                      : static_cast<char**>(state->realloc(comment->values,
                                                                           static_cast<size_t>(bigger) * sizeof(char*)));
      if (values == nullptr) {
        state->free(name);
        state->free(value);
        st = Vlt_report(state, VLT_ERR_NOMEM);
        break;
      }
      comment->values = values;
      capacity = bigger;
    }
    comment->names[comment->count] = name;
    comment->values[comment->count] = value;
    ++comment->count;
  }
  seg->body.extension.comment = comment;
  if (st != VLT_OK) {
    freeASCIIComment(seg, state);
    return st;
  }
  return VLT_OK;
}

VltStatus decBinComment(Jb2File* file, DataSource* source, SegmentInfo* seg, SegmentInfo**) {
  const uint32_t n = seg->dataLength - 4;
  uint8_t* block = nullptr;
  if (const VltStatus st = jb2ReadBlock(file, source, n, &block); st != VLT_OK) return st;
  seg->body.extension.payload = block;
  seg->body.extension.length = n;
  return VLT_OK;
}

void freeASCIIComment(SegmentInfo* seg, VltState* state) {
  Jb2Comment* c = seg->body.extension.comment;
  if (c == nullptr) return;
  free_strings(c->names, c->count, state);
  free_strings(c->values, c->count, state);
  state->free(c);
  seg->body.extension.comment = nullptr;
}

void freeBinComment(SegmentInfo* seg, VltState* state) {
  state->free(seg->body.extension.payload);
  seg->body.extension.payload = nullptr;
  seg->body.extension.length = 0;
}
