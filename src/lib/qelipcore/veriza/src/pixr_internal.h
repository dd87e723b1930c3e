#ifndef PIXR_INTERNAL_H
#define PIXR_INTERNAL_H

// Helpers shared by the wrapper layer's image operations: failure propagation, channel walking,
// geometry with overflow checks, and a guard that destroys a record made by a failing call.

#include "iprect.h"
#include "pixr.h"

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

// A new rectangle: rect itself when it lies inside the image, else rect clipped to it.
VltStatus rect_on_image(IPWState* s, const PIXR* image, const IPRect* rect, IPRect** out);

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
