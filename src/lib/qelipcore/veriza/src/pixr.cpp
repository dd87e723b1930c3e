// The image record: validation, creation over own or caller buffers, rings of records sharing one
// buffer, composites, colour maps, copies, resizing and destruction.

#include "pixr.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "checked_size.h"
#include "ipcore.h"
#include "pixr_internal.h"
#include "pixr_ops.h"

using namespace veriza;

namespace veriza {

bool valid_frame(int32_t frame) { return frame == 0 || frame == PIXR_FRAME; }

bool valid_create_depth(int32_t depth) {
  switch (depth) {
    case 1: case 2: case 4: case 8: case 16: case 32: return true;
    default: return false;
  }
}

VltStatus geometry(IPWState* s, int32_t width, int32_t height, int32_t depth, int32_t frame,
                   int32_t* bpl, size_t* size) {
  if (!valid_frame(frame) || !valid_create_depth(depth) || width < 0 || height < 0)
    return W_FAIL(s, VLT_ERR_PARAM);
  // The core computes in 32 bits; refuse anything whose buffer (in either orientation, with the
  // widest access padding) would not fit, so its arithmetic cannot wrap.
  const uint64_t fw = static_cast<uint64_t>(width) + 2u * static_cast<uint64_t>(frame);
  const uint64_t fh = static_cast<uint64_t>(height) + 2u * static_cast<uint64_t>(frame);
  const uint64_t longest = std::max(fw, fh);
  const uint64_t worstBpl = (longest * static_cast<uint64_t>(depth) + 255u) / 256u * 32u;
  if (worstBpl * longest + 64u > 0x7FFFFFFFu) return W_FAIL(s, VLT_ERR_PARAM);
  uint32_t b = 0, z = 0;
  W_TRY(s, i_calcImageProperties(s, width, height, depth, frame, &b, &z));
  *bpl = static_cast<int32_t>(b);
  *size = z;
  return VLT_OK;
}

VltStatus check_channels_alike(IPWState* s, const PIXR* p) {
  const PIXR* primary = primary_of(p);
  for (int i = 0; i < channel_count(p); ++i) {
    const PIXR* c = channel_at(p, i);
    if (c->width != primary->width || c->height != primary->height || c->depth != primary->depth ||
        c->frame != primary->frame)
      return W_FAIL(s, VLT_ERR_DIMENSIONS);
  }
  return VLT_OK;
}

}  // namespace veriza

namespace {

constexpr uint32_t depth_bit(int32_t depth) {
  switch (depth) {
    case 1: return PIXR_DEPTH_1;
    case 2: return PIXR_DEPTH_2;
    case 4: return PIXR_DEPTH_4;
    case 8: return PIXR_DEPTH_8;
    case 10: return PIXR_DEPTH_10;
    case 12: return PIXR_DEPTH_12;
    case 16: return PIXR_DEPTH_16;
    default: return 0;
  }
}

void* alloc_pixels(IPWState* s, size_t size, bool zeroed) {
  return zeroed ? s->callocProc[1](1, size, s->allocData[1]) : s->mallocProc[1](size, s->allocData[1]);
}
void release_pixels(IPWState* s, void* p) {
  if (p != nullptr) s->freeProc[1](p, s->allocData[1]);
}

bool purify_running(IPWState* s) { return s->purifyIsRunning != 0; }

void ring_leave(PIXR* r) {
  r->next->prev = r->prev;
  r->prev->next = r->next;
  r->next = r->prev = r;
}

// Joins r to the ring of member, just before it.
void ring_insert_before(PIXR* r, PIXR* member) {
  r->next = member;
  r->prev = member->prev;
  member->prev->next = r;
  member->prev = r;
}

VltStatus copy_color_map(IPWState* s, const PIXRColorMap* src, PIXRColorMap** out) {
  *out = nullptr;
  if (src == nullptr) return VLT_OK;
  auto* m = static_cast<PIXRColorMap*>(wp_allocZeroed(s, 1, sizeof(PIXRColorMap)));
  if (m == nullptr) return W_FAIL(s, VLT_ERR_NOMEM);
  m->count = src->count;
  m->origin = src->origin;
  if (src->count != 0) {
    m->entries = static_cast<uint32_t*>(wp_alloc(s, sizeof(uint32_t) * src->count));
    if (m->entries == nullptr) {
      wp_release(s, m);
      return W_FAIL(s, VLT_ERR_NOMEM);
    }
    std::memcpy(m->entries, src->entries, sizeof(uint32_t) * src->count);
  }
  *out = m;
  return VLT_OK;
}

// Fills a zeroed plain record over a buffer: the layout the core expects for this geometry.
VltStatus init_plain(IPWState* s, PIXR* r, int32_t width, int32_t height, int32_t depth,
                     int32_t xRes, int32_t yRes, int32_t frame, uint8_t* buffer) {
  int32_t bpl = 0;
  size_t size = 0;
  W_TRY(s, geometry(s, width, height, depth, frame, &bpl, &size));
  uint32_t offset = 0;
  W_TRY(s, i_calcFrameOffset(s, buffer, static_cast<uint32_t>(bpl), depth, frame, &offset));
  r->channelCount = 1;
  r->width = width;
  r->height = height;
  r->depth = depth;
  r->bytesPerLine = bpl;
  r->frame = frame;
  r->byteOrder = 0;
  r->xRes = xRes;
  r->yRes = yRes;
  r->type = 5;
  r->colorMap = nullptr;
  r->imageBuffer = buffer;
  r->imageAll = buffer + offset;
  r->next = r->prev = r;
  return VLT_OK;
}

// What a NoInit creation owes its record: blank frames, and under purify no uninitialised word
// inside the image rows.
VltStatus finish_uninitialised(IPWState* s, PIXR* c) {
  if (c->frame == PIXR_FRAME)
    W_TRY(s, i_clearAllFrames(s, c->imageAll, framed_width(c), framed_height(c),
                              static_cast<uint32_t>(c->bytesPerLine), c->depth));
  if (purify_running(s) && c->width > 0) {
    const size_t lastWord =
        (static_cast<size_t>(c->width) * static_cast<size_t>(c->depth) - 1) / 32 * 4;
    uint8_t* line = image_of(c);
    for (int32_t y = 0; y < c->height; ++y, line += c->bytesPerLine) std::memset(line + lastWord, 0, 4);
  }
  return VLT_OK;
}

// Makes a fresh plain record sharing src's buffer (src plain).
VltStatus clone_plain_into(IPWState* s, PIXR* dst, const PIXR* src) {
  PIXRColorMap* map = nullptr;
  W_TRY(s, copy_color_map(s, src->colorMap, &map));
  dst->channelCount = 1;
  dst->width = src->width;
  dst->height = src->height;
  dst->depth = src->depth;
  dst->bytesPerLine = src->bytesPerLine;
  dst->frame = src->frame;
  dst->byteOrder = src->byteOrder;
  dst->xRes = src->xRes;
  dst->yRes = src->yRes;
  dst->type = src->type;
  dst->colorMap = map;
  dst->reserved[0] = dst->reserved[1] = 0;
  dst->imageBuffer = src->imageBuffer;
  dst->imageAll = src->imageAll;
  ring_insert_before(dst, const_cast<PIXR*>(src));
  return VLT_OK;
}

// Prepares a record the caller handed back for refilling: out of its ring, without its map.
void reset_plain(IPWState* s, PIXR* r) {
  if (r->next != nullptr && r->prev != nullptr) ring_leave(r);
  w_destroyColorMap(s, &r->colorMap);
  std::memset(static_cast<void*>(r), 0, sizeof(PIXR));
  r->next = r->prev = r;
}

// Channels of a composite may share one map; clear the later references so it is freed once.
void unshare_color_maps(PIXR* p) {
  const int n = std::min<int>(p->channelCount, PIXR_MAX_CHANNELS);
  for (int i = 1; i < n; ++i) {
    PIXR* c = p->channels[i];
    if (c == nullptr || c->colorMap == nullptr) continue;
    for (int j = 0; j < i; ++j)
      if (p->channels[j] != nullptr && p->channels[j]->colorMap == c->colorMap) {
        c->colorMap = nullptr;
        break;
      }
  }
}

bool valid_type(int32_t type) { return type >= 1 && type <= 7; }

}  // namespace

VltStatus wp_pixrCheckFlags(IPWState* s, const PIXR* p, uint32_t orderMask, uint32_t depthMask,
                            uint32_t channelMask, uint32_t frameMask) {
  if (p == nullptr) return W_FAIL(s, VLT_ERR_PIXR_NULL);
  const uint32_t channelBit =
      p->channelCount == 1 ? PIXR_CHANNELS_1 : p->channelCount == 3 ? PIXR_CHANNELS_3 : 0;
  if ((channelBit & channelMask) == 0) return W_FAIL(s, VLT_ERR_PIXR_CHANNELS);
  if (!is_plain(p)) {
    // Every operation walks all channels, so each must be a plain record.
    for (int i = 0; i < p->channelCount; ++i) {
      if (p->channels[i] == nullptr) return W_FAIL(s, VLT_ERR_PIXR_NULL);
      if (!is_plain(p->channels[i])) return W_FAIL(s, VLT_ERR_PIXR_CHANNELS);
    }
  }
  const PIXR* c = primary_of(p);
  if ((depth_bit(c->depth) & depthMask) == 0) return W_FAIL(s, VLT_ERR_PIXR_DEPTH);
  const uint32_t frameBit = c->frame == 0 ? PIXR_FRAME_0 : c->frame == PIXR_FRAME ? PIXR_FRAME_32 : 0;
  if ((frameBit & frameMask) == 0) return W_FAIL(s, VLT_ERR_PIXR_FRAME);
  const uint32_t orderBit = c->byteOrder == 0 ? PIXR_ORDER_0 : c->byteOrder == 1 ? PIXR_ORDER_1 : 0;
  if ((orderBit & orderMask) == 0) return W_FAIL(s, VLT_ERR_PIXR_BYTE_ORDER);
  return VLT_OK;
}

VltStatus w_allocateImageData(IPWState* s, int32_t width, int32_t height, int32_t depth,
                              int32_t frame, int32_t mode, uint8_t** place) {
  if (place == nullptr) return W_FAIL(s, VLT_ERR_NULL);
  if (mode < 0 || mode > 2) return W_FAIL(s, VLT_ERR_PARAM);
  int32_t bpl = 0;
  size_t size = 0;
  W_TRY(s, geometry(s, width, height, depth, frame, &bpl, &size));
  if (mode == 2) {
    if (*place == nullptr) return W_FAIL(s, VLT_ERR_NULL);
    void* moved = s->reallocProc[1](*place, size, s->allocData[1]);
    if (moved == nullptr) return W_FAIL(s, VLT_ERR_NOMEM);
    *place = static_cast<uint8_t*>(moved);
    return VLT_OK;
  }
  if (*place != nullptr) return W_FAIL(s, VLT_ERR_NOT_NULL);
  void* b = alloc_pixels(s, size, mode == 1 || purify_running(s));
  if (b == nullptr) return W_FAIL(s, VLT_ERR_NOMEM);
  *place = static_cast<uint8_t*>(b);
  return VLT_OK;
}

VltStatus w_createPixrStructOnly(IPWState* s, int32_t width, int32_t height, int32_t depth,
                                 int32_t xRes, int32_t yRes, int32_t frame, uint8_t* buffer,
                                 PIXR** place) {
  if (place == nullptr || buffer == nullptr) return W_FAIL(s, VLT_ERR_NULL);
  int32_t bpl = 0;
  size_t size = 0;
  W_TRY(s, geometry(s, width, height, depth, frame, &bpl, &size));
  PIXR* r = *place;
  const bool fresh = r == nullptr;
  if (fresh) {
    r = static_cast<PIXR*>(wp_allocZeroed(s, 1, sizeof(PIXR)));
    if (r == nullptr) return W_FAIL(s, VLT_ERR_NOMEM);
  } else {
    // A composite would lose its channels if refilled as a plain record.
    if (!is_plain(r)) return W_FAIL(s, VLT_ERR_PARAM);
    reset_plain(s, r);
  }
  const VltStatus st = init_plain(s, r, width, height, depth, xRes, yRes, frame, buffer);
  if (st != VLT_OK) {
    if (fresh) wp_release(s, r);
    return W_FAIL(s, st);
  }
  *place = r;
  return VLT_OK;
}

VltStatus w_createPixr(IPWState* s, int32_t width, int32_t height, int32_t depth, int32_t xRes,
                       int32_t yRes, int32_t frame, PIXR** place) {
  if (place == nullptr) return W_FAIL(s, VLT_ERR_NULL);
  PIXR* r = nullptr;
  W_TRY(s, w_createPixrExtended(s, width, height, depth, xRes, yRes, frame, 1, 5, nullptr, &r));
  *place = r;
  return VLT_OK;
}

VltStatus w_createPixrNoInit(IPWState* s, int32_t width, int32_t height, int32_t depth,
                             int32_t xRes, int32_t yRes, int32_t frame, PIXR** place) {
  if (place == nullptr) return W_FAIL(s, VLT_ERR_NULL);
  PIXR* r = nullptr;
  W_TRY(s, w_createPixrExtendedNoInit(s, width, height, depth, xRes, yRes, frame, 1, 5, nullptr, &r));
  *place = r;
  return VLT_OK;
}

VltStatus w_createPixrComposite(IPWState* s, PIXR* const* channels, int32_t count, int32_t type,
                                PIXR** place) {
  if (place == nullptr) return W_FAIL(s, VLT_ERR_NULL);
  if (*place != nullptr) return W_FAIL(s, VLT_ERR_NOT_NULL);
  // A count of 1 would read as a plain record; above 16 the channel array would overflow.
  if (count < 2 || count > PIXR_MAX_CHANNELS || !valid_type(type)) return W_FAIL(s, VLT_ERR_PARAM);
  if (channels == nullptr) return W_FAIL(s, VLT_ERR_NULL);
  for (int32_t i = 0; i < count; ++i) {
    if (channels[i] == nullptr) return W_FAIL(s, VLT_ERR_PIXR_NULL);
    if (!is_plain(channels[i])) return W_FAIL(s, VLT_ERR_PIXR_CHANNELS);
  }
  auto* comp = static_cast<PIXR*>(wp_allocZeroed(s, 1, sizeof(PIXR)));
  if (comp == nullptr) return W_FAIL(s, VLT_ERR_NOMEM);
  comp->channelCount = static_cast<uint16_t>(count);
  comp->next = comp->prev = comp;
  for (int32_t i = 0; i < count; ++i) {
    comp->channels[i] = channels[i];
    channels[i]->type = type;
    channels[i]->xRes = channels[0]->xRes;
    channels[i]->yRes = channels[0]->yRes;
  }
  *place = comp;
  return VLT_OK;
}

VltStatus w_createPixrExtendedStructOnly(IPWState* s, int32_t width, int32_t height, int32_t depth,
                                         int32_t xRes, int32_t yRes, int32_t frame,
                                         int32_t channelCount, int32_t type,
                                         const PIXRColorMap* colorMap, uint8_t* const* buffers,
                                         PIXR** place) {
  if (place == nullptr || buffers == nullptr) return W_FAIL(s, VLT_ERR_NULL);
  if (!valid_type(type) || channelCount < 1 || channelCount > PIXR_MAX_EXTENDED_CHANNELS)
    return W_FAIL(s, VLT_ERR_PARAM);
  if (channelCount == 1) {
    const bool fresh = *place == nullptr;
    W_TRY(s, w_createPixrStructOnly(s, width, height, depth, xRes, yRes, frame, buffers[0], place));
    (*place)->type = type;
    const VltStatus st = copy_color_map(s, colorMap, &(*place)->colorMap);
    if (st != VLT_OK) {
      if (fresh) w_destroyPixrStructOnly(s, place);
      return W_FAIL(s, st);
    }
    return VLT_OK;
  }
  if (*place != nullptr) return W_FAIL(s, VLT_ERR_NOT_NULL);
  // The buffers stay with the caller on failure; only the records made here go.
  PIXR* made[PIXR_MAX_EXTENDED_CHANNELS] = {};
  auto fail = [&](VltStatus st) {
    for (PIXR*& m : made) w_destroyPixrStructOnly(s, &m);
    return W_FAIL(s, st);
  };
  for (int32_t i = 0; i < channelCount; ++i) {
    VltStatus st = w_createPixrStructOnly(s, width, height, depth, xRes, yRes, frame, buffers[i], &made[i]);
    if (st != VLT_OK) return fail(st);
    made[i]->type = type;
    st = copy_color_map(s, colorMap, &made[i]->colorMap);
    if (st != VLT_OK) return fail(st);
  }
  const VltStatus st = w_createPixrComposite(s, made, channelCount, type, place);
  if (st != VLT_OK) return fail(st);
  return VLT_OK;
}

namespace {

VltStatus create_extended(IPWState* s, int32_t width, int32_t height, int32_t depth, int32_t xRes,
                          int32_t yRes, int32_t frame, int32_t channelCount, int32_t type,
                          const PIXRColorMap* colorMap, PIXR** place, bool zeroed) {
  if (place == nullptr) return W_FAIL(s, VLT_ERR_NULL);
  if (!valid_type(type) || channelCount < 1 || channelCount > PIXR_MAX_EXTENDED_CHANNELS)
    return W_FAIL(s, VLT_ERR_PARAM);
  uint8_t* buffers[PIXR_MAX_EXTENDED_CHANNELS] = {};
  auto release_all = [&] {
    for (uint8_t*& b : buffers) {
      release_pixels(s, b);
      b = nullptr;
    }
  };
  for (int32_t i = 0; i < channelCount; ++i) {
    const VltStatus st = w_allocateImageData(s, width, height, depth, frame, zeroed ? 1 : 0, &buffers[i]);
    if (st != VLT_OK) {
      release_all();
      return W_FAIL(s, st);
    }
  }
  PIXR* r = nullptr;
  VltStatus st = w_createPixrExtendedStructOnly(s, width, height, depth, xRes, yRes, frame,
                                                channelCount, type, colorMap, buffers, &r);
  if (st != VLT_OK) {
    release_all();
    return W_FAIL(s, st);
  }
  if (!zeroed) {
    for (int i = 0; i < channel_count(r) && st == VLT_OK; ++i) st = finish_uninitialised(s, channel_at(r, i));
    if (st != VLT_OK) {
      w_destroyPixr(s, &r);
      return W_FAIL(s, st);
    }
  }
  *place = r;
  return VLT_OK;
}

}  // namespace

VltStatus w_createPixrExtended(IPWState* s, int32_t width, int32_t height, int32_t depth,
                               int32_t xRes, int32_t yRes, int32_t frame, int32_t channelCount,
                               int32_t type, const PIXRColorMap* colorMap, PIXR** place) {
  W_TRY(s, create_extended(s, width, height, depth, xRes, yRes, frame, channelCount, type, colorMap,
                           place, true));
  return VLT_OK;
}

VltStatus w_createPixrExtendedNoInit(IPWState* s, int32_t width, int32_t height, int32_t depth,
                                     int32_t xRes, int32_t yRes, int32_t frame,
                                     int32_t channelCount, int32_t type,
                                     const PIXRColorMap* colorMap, PIXR** place) {
  W_TRY(s, create_extended(s, width, height, depth, xRes, yRes, frame, channelCount, type, colorMap,
                           place, false));
  return VLT_OK;
}

VltStatus w_pixrGetUnifiedBufferSize(IPWState* s, int32_t width, int32_t height, int32_t depth,
                                     int32_t frame, size_t* size) {
  if (size == nullptr) return W_FAIL(s, VLT_ERR_NULL);
  int32_t bpl = 0;
  size_t image = 0;
  W_TRY(s, geometry(s, width, height, depth, frame, &bpl, &image));
  // The record, room to align the pixels behind it, then the image with its own access slack.
  *size = sizeof(PIXR) + alignof(PIXR) + image;
  return VLT_OK;
}

VltStatus w_createPixrInUnifiedBuffer(IPWState* s, int32_t width, int32_t height, int32_t depth,
                                      int32_t xRes, int32_t yRes, int32_t frame, size_t bufferSize,
                                      int32_t zero, void** place) {
  if (place == nullptr) return W_FAIL(s, VLT_ERR_NULL);
  size_t need = 0;
  W_TRY(s, w_pixrGetUnifiedBufferSize(s, width, height, depth, frame, &need));
  const bool clear = zero != 0 || purify_running(s);
  void* block = *place;
  const bool own = block == nullptr;
  if (own) {
    block = alloc_pixels(s, need, clear);
    if (block == nullptr) return W_FAIL(s, VLT_ERR_NOMEM);
  } else {
    if (bufferSize < need) return W_FAIL(s, VLT_ERR_OVERFLOW);
    if (reinterpret_cast<uintptr_t>(block) % alignof(PIXR) != 0) return W_FAIL(s, VLT_ERR_PARAM);
    if (clear) std::memset(block, 0, need);
  }
  PIXR* r = new (block) PIXR{};
  uint8_t* pixels = static_cast<uint8_t*>(block) + sizeof(PIXR);
  VltStatus st = init_plain(s, r, width, height, depth, xRes, yRes, frame, pixels);
  if (st == VLT_OK) st = finish_uninitialised(s, r);
  if (st != VLT_OK) {
    if (own) release_pixels(s, block);
    return W_FAIL(s, st);
  }
  *place = block;
  return VLT_OK;
}

VltStatus w_createColorMap(IPWState* s, int32_t count, PIXRColorMap** place) {
  if (place == nullptr) return W_FAIL(s, VLT_ERR_NULL);
  if (*place != nullptr) return W_FAIL(s, VLT_ERR_NOT_NULL);
  if (count < 0 || count > 0xFFFF) return W_FAIL(s, VLT_ERR_PARAM);
  auto* m = static_cast<PIXRColorMap*>(wp_allocZeroed(s, 1, sizeof(PIXRColorMap)));
  if (m == nullptr) return W_FAIL(s, VLT_ERR_NOMEM);
  m->count = static_cast<uint16_t>(count);
  m->origin = 1;
  if (count > 0) {
    m->entries = static_cast<uint32_t*>(wp_allocZeroed(s, static_cast<size_t>(count), sizeof(uint32_t)));
    if (m->entries == nullptr) {
      wp_release(s, m);
      return W_FAIL(s, VLT_ERR_NOMEM);
    }
  }
  *place = m;
  return VLT_OK;
}

VltStatus w_destroyColorMap(IPWState* s, PIXRColorMap** place) {
  if (place == nullptr) return W_FAIL(s, VLT_ERR_NULL);
  if (*place != nullptr) {
    wp_release(s, (*place)->entries);
    wp_release(s, *place);
    *place = nullptr;
  }
  return VLT_OK;
}

VltStatus w_clonePixrStructOnly(IPWState* s, const PIXR* src, PIXR** place) {
  if (place == nullptr) return W_FAIL(s, VLT_ERR_NULL);
  W_TRY(s, wp_pixrCheckFlags(s, src, kAnyOrder, kAnyDepth, kAnyChannels, kAnyFrame));
  PIXR* dst = *place;
  const bool fresh = dst == nullptr;
  if (!fresh) {
    // A record handed back is refilled in its own shape only.
    if (dst->channelCount != src->channelCount) return W_FAIL(s, VLT_ERR_PARAM);
    for (int i = 0; !is_plain(dst) && i < dst->channelCount; ++i)
      if (dst->channels[i] == nullptr || !is_plain(dst->channels[i])) return W_FAIL(s, VLT_ERR_PARAM);
  }
  if (is_plain(src)) {
    if (fresh) {
      dst = static_cast<PIXR*>(wp_allocZeroed(s, 1, sizeof(PIXR)));
      if (dst == nullptr) return W_FAIL(s, VLT_ERR_NOMEM);
      dst->next = dst->prev = dst;
    } else {
      reset_plain(s, dst);
    }
    const VltStatus st = clone_plain_into(s, dst, src);
    if (st != VLT_OK) {
      if (fresh) wp_release(s, dst);
      return W_FAIL(s, st);
    }
    *place = dst;
    return VLT_OK;
  }
  if (fresh) {
    dst = static_cast<PIXR*>(wp_allocZeroed(s, 1, sizeof(PIXR)));
    if (dst == nullptr) return W_FAIL(s, VLT_ERR_NOMEM);
    dst->channelCount = src->channelCount;
    dst->next = dst->prev = dst;
  }
  for (int i = 0; i < src->channelCount; ++i) {
    PIXR* c = dst->channels[i];
    const bool newChannel = c == nullptr;
    if (newChannel) {
      c = static_cast<PIXR*>(wp_allocZeroed(s, 1, sizeof(PIXR)));
      if (c == nullptr) {
        if (fresh) w_destroyPixrStructOnly(s, &dst);
        return W_FAIL(s, VLT_ERR_NOMEM);
      }
    } else {
      reset_plain(s, c);
    }
    const VltStatus st = clone_plain_into(s, c, src->channels[i]);
    if (st != VLT_OK) {
      if (newChannel) wp_release(s, c);
      if (fresh) w_destroyPixrStructOnly(s, &dst);
      return W_FAIL(s, st);
    }
    dst->channels[i] = c;
  }
  *place = dst;
  return VLT_OK;
}

namespace {

VltStatus clone_new(IPWState* s, const PIXR* src, PIXR** place, bool zeroed) {
  if (place == nullptr) return W_FAIL(s, VLT_ERR_NULL);
  if (*place != nullptr) return W_FAIL(s, VLT_ERR_NOT_NULL);
  W_TRY(s, wp_pixrCheckFlags(s, src, kAnyOrder, kAnyDepth, kAnyChannels, kAnyFrame));
  const PIXR* c = primary_of(src);
  if (zeroed)
    W_TRY(s, w_createPixrExtended(s, c->width, c->height, c->depth, c->xRes, c->yRes, c->frame,
                                  channel_count(src), c->type, c->colorMap, place));
  else
    W_TRY(s, w_createPixrExtendedNoInit(s, c->width, c->height, c->depth, c->xRes, c->yRes, c->frame,
                                        channel_count(src), c->type, c->colorMap, place));
  return VLT_OK;
}

}  // namespace

VltStatus w_clonePixrNoInit(IPWState* s, const PIXR* src, PIXR** place) {
  W_TRY(s, clone_new(s, src, place, false));
  return VLT_OK;
}

VltStatus w_clonePixr(IPWState* s, const PIXR* src, PIXR** place) {
  W_TRY(s, clone_new(s, src, place, true));
  return VLT_OK;
}

namespace {

// A frameless source has its own stride and no margin: copy each row into the destination's
// interior and keep the destination's frame bits beside the last pixel.
void copy_frameless(const PIXR* src, PIXR* dst) {
  const size_t bits = static_cast<size_t>(src->width) * static_cast<size_t>(src->depth);
  const size_t whole = bits / 8;
  const unsigned tail = static_cast<unsigned>(bits % 8);
  const uint8_t keep = static_cast<uint8_t>(0xFFu >> tail);
  const uint8_t* from = image_of(src);
  uint8_t* to = image_of(dst);
  for (int32_t y = 0; y < src->height; ++y, from += src->bytesPerLine, to += dst->bytesPerLine) {
    std::memcpy(to, from, whole);
    if (tail != 0) to[whole] = static_cast<uint8_t>((from[whole] & ~keep) | (to[whole] & keep));
  }
}

}  // namespace

VltStatus w_copy(IPWState* s, const PIXR* src, PIXR** place) {
  if (place == nullptr) return W_FAIL(s, VLT_ERR_NULL);
  W_TRY(s, wp_pixrCheckFlags(s, src, PIXR_ORDER_0, PIXR_DEPTH_1TO8, kAnyChannels, kAnyFrame));
  const PIXR* p = primary_of(src);
  int32_t dx = 0, dy = 0;
  int32_t created = 0;
  W_TRY(s, wp_createPixrExtendedConditionalNoInit(s, p->width, p->height, p->depth, p->xRes, p->yRes,
                                                  PIXR_FRAME, channel_count(src), p->type,
                                                  p->colorMap, place, &dx, &dy, &created));
  CreatedGuard guard(s, place, created != 0);
  PIXR* dst = *place;
  for (int i = 0; i < channel_count(src); ++i) {
    const PIXR* sc = channel_at(src, i);
    PIXR* dc = channel_at(dst, i);
    if (sc->frame == PIXR_FRAME) {
      W_TRY(s, i_copyImage(s, sc->imageAll, framed_width(sc), framed_height(sc), sc->depth,
                           static_cast<uint32_t>(sc->bytesPerLine), dc->imageAll,
                           static_cast<uint32_t>(dc->bytesPerLine)));
    } else {
      copy_frameless(sc, dc);
    }
  }
  W_TRY(s, wp_clearRightBottomFrames(s, dst, dx, dy));
  guard.keep();
  return VLT_OK;
}

VltStatus w_reallocPixrData(IPWState* s, PIXR* p) {
  W_TRY(s, wp_pixrCheckFlags(s, p, kAnyOrder, kAnyDepth, kAnyChannels, kAnyFrame));
  for (int i = 0; i < channel_count(p); ++i) {
    PIXR* c = channel_at(p, i);
    int32_t bpl = 0;
    size_t size = 0;
    W_TRY(s, geometry(s, c->width, c->height, c->depth, c->frame, &bpl, &size));
    const size_t rows = static_cast<size_t>(framed_height(c));
    const size_t stride = static_cast<size_t>(c->bytesPerLine);
    if (c->bytesPerLine <= 0) return W_FAIL(s, VLT_ERR_PARAM);
    // The rows hold what their stored stride holds, even when the width grew past it.
    const size_t rowBytes = std::min(
        stride, (static_cast<size_t>(framed_width(c)) * static_cast<size_t>(c->depth) + 7) / 8);
    size = std::max(size, stride * rows + 32);
    const size_t oldOffset = static_cast<size_t>(c->imageAll - c->imageBuffer);
    void* moved = s->reallocProc[1](c->imageBuffer, size, s->allocData[1]);
    if (moved == nullptr) return W_FAIL(s, VLT_ERR_NOMEM);
    uint8_t* buffer = static_cast<uint8_t*>(moved);
    uint32_t newOffset = 0;
    const VltStatus st = i_calcFrameOffset(s, buffer, static_cast<uint32_t>(c->bytesPerLine), c->depth,
                                           c->frame, &newOffset);
    uint8_t* imageAll = buffer + (st == VLT_OK ? newOffset : oldOffset);
    if (st == VLT_OK && newOffset != oldOffset && rows > 0) {
      uint8_t* from = buffer + oldOffset;
      if (newOffset < oldOffset) {
        for (size_t y = 0; y < rows; ++y) std::memmove(imageAll + y * stride, from + y * stride, rowBytes);
      } else {
        for (size_t y = rows; y-- > 0;) std::memmove(imageAll + y * stride, from + y * stride, rowBytes);
      }
    }
    // Every member of the ring sees the moved buffer, even when the offset could not be had.
    PIXR* m = c;
    do {
      m->imageBuffer = buffer;
      m->imageAll = imageAll;
      m = m->next;
    } while (m != c);
    if (st != VLT_OK) return W_FAIL(s, st);
  }
  return VLT_OK;
}

VltStatus wp_destroyPixrComponents(IPWState* s, int32_t structure, int32_t image, PIXR** place) {
  if (place == nullptr) return W_FAIL(s, VLT_ERR_NULL);
  PIXR* p = *place;
  if (p == nullptr) return VLT_OK;
  if (!is_plain(p)) {
    if (structure) unshare_color_maps(p);
    const int n = std::min<int>(p->channelCount, PIXR_MAX_CHANNELS);
    for (int i = 0; i < n; ++i) {
      PIXR* c = p->channels[i];
      if (c == nullptr) continue;
      W_TRY(s, wp_destroyPixrComponents(s, structure, image, &c));
      if (structure) p->channels[i] = nullptr;
    }
    if (structure) {
      wp_release(s, p);
      *place = nullptr;
    }
    return VLT_OK;
  }
  if (p->next == p) {
    if (image) release_pixels(s, p->imageBuffer);
  } else {
    ring_leave(p);
  }
  if (!structure) {
    p->imageBuffer = nullptr;
    p->imageAll = nullptr;
    return VLT_OK;
  }
  w_destroyColorMap(s, &p->colorMap);
  wp_release(s, p);
  *place = nullptr;
  return VLT_OK;
}

VltStatus w_destroyPixr(IPWState* s, PIXR** place) {
  W_TRY(s, wp_destroyPixrComponents(s, 1, 1, place));
  return VLT_OK;
}

VltStatus w_destroyPixrStructOnly(IPWState* s, PIXR** place) {
  W_TRY(s, wp_destroyPixrComponents(s, 1, 0, place));
  return VLT_OK;
}

VltStatus w_destroyPixrImageOnly(IPWState* s, PIXR* p) {
  PIXR* copy = p;
  W_TRY(s, wp_destroyPixrComponents(s, 0, 1, &copy));
  return VLT_OK;
}

// ---- accessors

namespace {

template <class Read>
VltStatus get_value(IPWState* s, const PIXR* p, int32_t* out, Read read) {
  W_TRY(s, wp_pixrCheckFlags(s, p, kAnyOrder, kAnyDepth, kAnyChannels, kAnyFrame));
  if (out == nullptr) return W_FAIL(s, VLT_ERR_NULL);
  *out = read(primary_of(p));
  return VLT_OK;
}

template <class Write>
VltStatus set_each(IPWState* s, PIXR* p, Write write) {
  W_TRY(s, wp_pixrCheckFlags(s, p, kAnyOrder, kAnyDepth, kAnyChannels, kAnyFrame));
  for (int i = 0; i < channel_count(p); ++i) write(channel_at(p, i));
  return VLT_OK;
}

template <class Read>
VltStatus get_pointer(IPWState* s, const PIXR* p, uint8_t** out, Read read) {
  W_TRY(s, wp_pixrCheckFlags(s, p, kAnyOrder, kAnyDepth, kAnyChannels, kAnyFrame));
  if (out == nullptr) return W_FAIL(s, VLT_ERR_NULL);
  *out = read(primary_of(p));
  return VLT_OK;
}

}  // namespace

VltStatus w_pixrGetWidth(IPWState* s, const PIXR* p, int32_t* out) {
  W_TRY(s, get_value(s, p, out, [](const PIXR* c) { return c->width; }));
  return VLT_OK;
}
VltStatus w_pixrSetWidth(IPWState* s, PIXR* p, int32_t v) {
  if (v < 0) return W_FAIL(s, VLT_ERR_PARAM);
  W_TRY(s, set_each(s, p, [v](PIXR* c) { c->width = v; }));
  return VLT_OK;
}
VltStatus w_pixrGetHeight(IPWState* s, const PIXR* p, int32_t* out) {
  W_TRY(s, get_value(s, p, out, [](const PIXR* c) { return c->height; }));
  return VLT_OK;
}
VltStatus w_pixrSetHeight(IPWState* s, PIXR* p, int32_t v) {
  if (v < 0) return W_FAIL(s, VLT_ERR_PARAM);
  W_TRY(s, set_each(s, p, [v](PIXR* c) { c->height = v; }));
  return VLT_OK;
}
VltStatus w_pixrGetDepth(IPWState* s, const PIXR* p, int32_t* out) {
  W_TRY(s, get_value(s, p, out, [](const PIXR* c) { return c->depth; }));
  return VLT_OK;
}
VltStatus w_pixrSetDepth(IPWState* s, PIXR* p, int32_t v) {
  if (v < 1) return W_FAIL(s, VLT_ERR_PARAM);
  W_TRY(s, set_each(s, p, [v](PIXR* c) { c->depth = v; }));
  return VLT_OK;
}
VltStatus w_pixrGetBpl(IPWState* s, const PIXR* p, int32_t* out) {
  W_TRY(s, get_value(s, p, out, [](const PIXR* c) { return c->bytesPerLine; }));
  return VLT_OK;
}
VltStatus w_pixrSetBpl(IPWState* s, PIXR* p, int32_t v) {
  W_TRY(s, set_each(s, p, [v](PIXR* c) { c->bytesPerLine = v; }));
  return VLT_OK;
}
VltStatus w_pixrGetFrame(IPWState* s, const PIXR* p, int32_t* out) {
  W_TRY(s, get_value(s, p, out, [](const PIXR* c) { return c->frame; }));
  return VLT_OK;
}
VltStatus w_pixrSetFrame(IPWState* s, PIXR* p, int32_t v) {
  if (v < 0) return W_FAIL(s, VLT_ERR_PARAM);
  W_TRY(s, set_each(s, p, [v](PIXR* c) { c->frame = v; }));
  return VLT_OK;
}
VltStatus w_pixrGetByteOrder(IPWState* s, const PIXR* p, int32_t* out) {
  W_TRY(s, get_value(s, p, out, [](const PIXR* c) { return c->byteOrder; }));
  return VLT_OK;
}
VltStatus w_pixrSetByteOrder(IPWState* s, PIXR* p, int32_t v) {
  if (v < 0 || v > 1) return W_FAIL(s, VLT_ERR_PARAM);
  W_TRY(s, set_each(s, p, [v](PIXR* c) { c->byteOrder = v; }));
  return VLT_OK;
}
VltStatus w_pixrGetType(IPWState* s, const PIXR* p, int32_t* out) {
  W_TRY(s, get_value(s, p, out, [](const PIXR* c) { return c->type; }));
  return VLT_OK;
}
VltStatus w_pixrSetType(IPWState* s, PIXR* p, int32_t v) {
  W_TRY(s, set_each(s, p, [v](PIXR* c) { c->type = v; }));
  return VLT_OK;
}
VltStatus w_pixrGetResolutionDPI(IPWState* s, const PIXR* p, int32_t* xRes, int32_t* yRes) {
  W_TRY(s, wp_pixrCheckFlags(s, p, kAnyOrder, kAnyDepth, kAnyChannels, kAnyFrame));
  if (xRes == nullptr || yRes == nullptr) return W_FAIL(s, VLT_ERR_NULL);
  *xRes = primary_of(p)->xRes;
  *yRes = primary_of(p)->yRes;
  return VLT_OK;
}
VltStatus w_pixrSetResolutionDPI(IPWState* s, PIXR* p, int32_t xRes, int32_t yRes) {
  W_TRY(s, set_each(s, p, [=](PIXR* c) {
          c->xRes = xRes;
          c->yRes = yRes;
        }));
  return VLT_OK;
}
VltStatus w_pixrGetColorMap(IPWState* s, const PIXR* p, PIXRColorMap** out) {
  W_TRY(s, wp_pixrCheckFlags(s, p, kAnyOrder, kAnyDepth, kAnyChannels, kAnyFrame));
  if (out == nullptr) return W_FAIL(s, VLT_ERR_NULL);
  *out = primary_of(p)->colorMap;
  return VLT_OK;
}
VltStatus w_pixrSetColorMap(IPWState* s, PIXR* p, PIXRColorMap* map) {
  W_TRY(s, wp_pixrCheckFlags(s, p, kAnyOrder, kAnyDepth, kAnyChannels, kAnyFrame));
  for (int i = 0; i < channel_count(p); ++i)
    if (channel_at(p, i)->colorMap != nullptr) return W_FAIL(s, VLT_ERR_PIXR_COLORMAP);
  for (int i = 0; i < channel_count(p); ++i) channel_at(p, i)->colorMap = map;
  return VLT_OK;
}
VltStatus w_pixrDiscardColorMap(IPWState* s, PIXR* p) {
  W_TRY(s, wp_pixrCheckFlags(s, p, kAnyOrder, kAnyDepth, kAnyChannels, kAnyFrame));
  if (!is_plain(p)) unshare_color_maps(p);
  for (int i = 0; i < channel_count(p); ++i) w_destroyColorMap(s, &channel_at(p, i)->colorMap);
  return VLT_OK;
}
VltStatus w_pixrGetImageBuffer(IPWState* s, const PIXR* p, uint8_t** out) {
  W_TRY(s, get_pointer(s, p, out, [](const PIXR* c) { return c->imageBuffer; }));
  return VLT_OK;
}
VltStatus w_pixrGetImageAll(IPWState* s, const PIXR* p, uint8_t** out) {
  W_TRY(s, get_pointer(s, p, out, [](const PIXR* c) { return c->imageAll; }));
  return VLT_OK;
}
VltStatus w_pixrSetImageBuffer(IPWState* s, PIXR* p, uint8_t* buffer) {
  W_TRY(s, wp_pixrCheckFlags(s, p, kAnyOrder, kAnyDepth, PIXR_CHANNELS_1, kAnyFrame));
  p->imageBuffer = buffer;
  return VLT_OK;
}
VltStatus w_pixrSetImageAll(IPWState* s, PIXR* p, uint8_t* imageAll) {
  W_TRY(s, wp_pixrCheckFlags(s, p, kAnyOrder, kAnyDepth, PIXR_CHANNELS_1, kAnyFrame));
  p->imageAll = imageAll;
  return VLT_OK;
}
VltStatus w_pixrGetImage(IPWState* s, const PIXR* p, uint8_t** out) {
  W_TRY(s, get_pointer(s, p, out, [](const PIXR* c) {
          return c->imageAll == nullptr ? nullptr : image_of(c);
        }));
  return VLT_OK;
}
VltStatus w_pixrGetLine(IPWState* s, const PIXR* p, int32_t y, uint8_t** out) {
  if (p == nullptr || out == nullptr) return W_FAIL(s, VLT_ERR_NULL);
  W_TRY(s, wp_pixrCheckFlags(s, p, kAnyOrder, kAnyDepth, kAnyChannels, kAnyFrame));
  const PIXR* c = primary_of(p);
  if (y < 0 || y >= c->height) return W_FAIL(s, VLT_ERR_IPC_BOUNDS);
  if (c->imageAll == nullptr) return W_FAIL(s, VLT_ERR_IPC_NO_IMAGE);
  *out = image_of(c) + static_cast<size_t>(y) * static_cast<size_t>(c->bytesPerLine);
  return VLT_OK;
}
VltStatus w_pixrFramedWidth(IPWState* s, const PIXR* p, int32_t* out) {
  W_TRY(s, get_value(s, p, out, [](const PIXR* c) { return framed_width(c); }));
  return VLT_OK;
}
VltStatus w_pixrFramedHeight(IPWState* s, const PIXR* p, int32_t* out) {
  W_TRY(s, get_value(s, p, out, [](const PIXR* c) { return framed_height(c); }));
  return VLT_OK;
}
VltStatus w_pixrBpl(IPWState* s, const PIXR* p, int32_t* out) {
  W_TRY(s, wp_pixrCheckFlags(s, p, kAnyOrder, kAnyDepth, kAnyChannels, kAnyFrame));
  if (out == nullptr) return W_FAIL(s, VLT_ERR_NULL);
  const PIXR* c = primary_of(p);
  size_t size = 0;
  W_TRY(s, geometry(s, c->width, c->height, c->depth, c->frame, out, &size));
  return VLT_OK;
}
VltStatus w_pixrImageBytes(IPWState* s, const PIXR* p, size_t* out) {
  W_TRY(s, wp_pixrCheckFlags(s, p, kAnyOrder, kAnyDepth, kAnyChannels, kAnyFrame));
  if (out == nullptr) return W_FAIL(s, VLT_ERR_NULL);
  const PIXR* c = primary_of(p);
  int32_t bpl = 0;
  size_t size = 0;
  W_TRY(s, geometry(s, c->width, c->height, c->depth, c->frame, &bpl, &size));
  *out = static_cast<size_t>(bpl) * static_cast<size_t>(framed_height(c));
  return VLT_OK;
}
VltStatus w_pixrGetChannelCount(IPWState* s, const PIXR* p, int32_t* out) {
  if (p == nullptr) return W_FAIL(s, VLT_ERR_PIXR_NULL);
  if (out == nullptr) return W_FAIL(s, VLT_ERR_NULL);
  *out = p->channelCount;
  return VLT_OK;
}
VltStatus w_pixrSetChannelCount(IPWState* s, PIXR* p, int32_t v) {
  if (p == nullptr) return W_FAIL(s, VLT_ERR_PIXR_NULL);
  // Counts the channel array cannot hold would send every channel walk past it.
  if (v < 1 || v > PIXR_MAX_CHANNELS) return W_FAIL(s, VLT_ERR_PARAM);
  p->channelCount = static_cast<uint16_t>(v);
  return VLT_OK;
}
VltStatus w_pixrGetChannel(IPWState* s, const PIXR* p, int32_t index, PIXR** out) {
  if (p == nullptr) return W_FAIL(s, VLT_ERR_PIXR_NULL);
  if (out == nullptr) return W_FAIL(s, VLT_ERR_NULL);
  if (index < 0 || index >= channel_count(p) || index >= PIXR_MAX_CHANNELS) return W_FAIL(s, VLT_ERR_PARAM);
  *out = channel_at(p, index);
  return VLT_OK;
}
VltStatus w_pixrSetChannel(IPWState* s, PIXR* p, int32_t index, PIXR* channel) {
  if (p == nullptr) return W_FAIL(s, VLT_ERR_PIXR_NULL);
  if (is_plain(p) || index < 0 || index >= p->channelCount || index >= PIXR_MAX_CHANNELS)
    return W_FAIL(s, VLT_ERR_PARAM);
  p->channels[index] = channel;
  return VLT_OK;
}
VltStatus w_pixrGetPrimaryChannel(IPWState* s, const PIXR* p, PIXR** out) {
  W_TRY(s, wp_pixrCheckFlags(s, p, kAnyOrder, kAnyDepth, kAnyChannels, kAnyFrame));
  if (out == nullptr) return W_FAIL(s, VLT_ERR_NULL);
  *out = primary_of(p);
  return VLT_OK;
}

VltStatus w_pixrImageProperties(IPWState* s, int32_t width, int32_t height, int32_t depth,
                                int32_t frame, int32_t* bpl, size_t* size) {
  if (bpl == nullptr || size == nullptr) return W_FAIL(s, VLT_ERR_NULL);
  W_TRY(s, geometry(s, width, height, depth, frame, bpl, size));
  return VLT_OK;
}

VltStatus w_pixrImageOffset(IPWState* s, const uint8_t* buffer, int32_t bpl, int32_t depth,
                            int32_t frame, size_t* out) {
  if (out == nullptr) return W_FAIL(s, VLT_ERR_NULL);
  uint32_t v = 0;
  W_TRY(s, i_calcImageOffset(s, buffer, static_cast<uint32_t>(bpl), depth, frame, &v));
  *out = v;
  return VLT_OK;
}

VltStatus w_pixrFrameOffset(IPWState* s, const uint8_t* buffer, int32_t bpl, int32_t depth,
                            int32_t frame, size_t* out) {
  if (out == nullptr) return W_FAIL(s, VLT_ERR_NULL);
  uint32_t v = 0;
  W_TRY(s, i_calcFrameOffset(s, buffer, static_cast<uint32_t>(bpl), depth, frame, &v));
  *out = v;
  return VLT_OK;
}
