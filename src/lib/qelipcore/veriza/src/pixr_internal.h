#ifndef PIXR_INTERNAL_H
#define PIXR_INTERNAL_H

// Helpers shared by the wrapper layer's image operations: failure propagation, channel walking,
// geometry with overflow checks, and a guard that destroys a record made by a failing call.

#include "iprect.h"
#include "pixr.h"
#include "pixr_ops.h"

/* Reports a non-zero status from a callee again with this level's file and line and returns it. */
#define W_TRY(state, expr)                       \
  do {                                           \
    const VltStatus w_try_status_ = (expr);      \
    if (w_try_status_ != VLT_OK) return W_FAIL((state), w_try_status_); \
  } while (0)

namespace veriza {

// Byte order 0 and the usual depth and channel sets of the operations.
inline constexpr uint32_t kAnyOrder = PIXR_ORDER_ANY;
inline constexpr uint32_t kAnyDepth = PIXR_DEPTH_ANY;
inline constexpr uint32_t kAnyChannels = PIXR_CHANNELS_ANY;
inline constexpr uint32_t kAnyFrame = PIXR_FRAME_ANY;

inline bool is_plain(const PIXR* p) { return p->channelCount == 1; }

// Number of channel records: a plain record is its own single channel.
inline int channel_count(const PIXR* p) { return is_plain(p) ? 1 : p->channelCount; }
inline PIXR* channel_at(const PIXR* p, int i) {
  return is_plain(p) ? const_cast<PIXR*>(p) : p->channels[i];
}
// Channel 1 leads a composite whose channel 0 has type 1 or 2. Only for records that passed the
// checks (channel 0 present).
inline PIXR* primary_of(const PIXR* p) {
  if (is_plain(p)) return const_cast<PIXR*>(p);
  const int32_t t0 = p->channels[0]->type;
  return p->channels[(t0 == 1 || t0 == 2) ? 1 : 0];
}

inline uint8_t* image_of(const PIXR* c) {
  return c->imageAll + static_cast<size_t>(c->frame) * static_cast<size_t>(c->bytesPerLine) +
         static_cast<size_t>(c->frame) * static_cast<size_t>(c->depth) / 8;
}
inline int32_t framed_width(const PIXR* c) { return c->width + 2 * c->frame; }
inline int32_t framed_height(const PIXR* c) { return c->height + 2 * c->frame; }

bool valid_frame(int32_t frame);
bool valid_create_depth(int32_t depth);

// Bytes per line and buffer size of a geometry, refused (2) when negative or too large to
// address; wraps the core's computation.
VltStatus geometry(IPWState* s, int32_t width, int32_t height, int32_t depth, int32_t frame,
                   int32_t* bpl, size_t* size);

// Every channel of a composite has the primary's width, height, depth and frame (112 if not), so
// a destination checked through its primary can take a result in each channel.
VltStatus check_channels_alike(IPWState* s, const PIXR* p);

// A 16.16 resolution rounded to whole dots per inch.
inline int32_t whole_dpi(int32_t res) { return static_cast<int32_t>((int64_t{res} + 32768) >> 16); }

// Runs op(target) for a plain destination d that should be wantW x wantH. When d's size differs
// (within the frame, as the destination check allows), op runs into a temporary of the wanted
// size whose image is then copied into d over d's own size, the temporary's blank frame filling
// any excess: kernels that write whole framed layouts never write past d's buffer, and d ends
// with the result and nothing else.
template <class Op>
VltStatus into_wanted_size(IPWState* s, PIXR* d, int32_t wantW, int32_t wantH, Op op) {
  if (d->width == wantW && d->height == wantH) return op(d);
  PIXR* tmp = nullptr;
  VltStatus st = w_createPixrNoInit(s, wantW, wantH, d->depth, d->xRes, d->yRes, PIXR_FRAME, &tmp);
  if (st != VLT_OK) return st;
  st = op(tmp);
  if (st == VLT_OK) st = w_rasterop(s, 0, 0, tmp, W_ROP_COPY, 0, 0, d->width, d->height, d);
  w_destroyPixr(s, &tmp);
  return st;
}

// A new rectangle: rect itself when it lies inside the image, else rect clipped to it.
VltStatus rect_on_image(IPWState* s, const PIXR* image, const IPRect* rect, IPRect** out);

// A block from allocator set 0 that lives as long as the object.
class Set0Block {
 public:
  explicit Set0Block(IPWState* s) : s_(s) {}
  ~Set0Block() { wp_release(s_, block_); }
  Set0Block(const Set0Block&) = delete;
  Set0Block& operator=(const Set0Block&) = delete;
  bool allocate(size_t bytes) {
    block_ = wp_alloc(s_, bytes == 0 ? 1 : bytes);
    return block_ != nullptr;
  }
  int32_t* words() const { return static_cast<int32_t*>(block_); }

 private:
  IPWState* s_;
  void* block_ = nullptr;
};

// Destroys the record in *place when the call that made it fails.
class CreatedGuard {
 public:
  CreatedGuard(IPWState* s, PIXR** place, bool created) : s_(s), place_(place), armed_(created) {}
  ~CreatedGuard() {
    if (armed_ && *place_ != nullptr) w_destroyPixr(s_, place_);
  }
  CreatedGuard(const CreatedGuard&) = delete;
  CreatedGuard& operator=(const CreatedGuard&) = delete;
  void keep() { armed_ = false; }

 private:
  IPWState* s_;
  PIXR** place_;
  bool armed_;
};

}  // namespace veriza

#endif
