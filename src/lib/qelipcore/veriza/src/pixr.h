#ifndef PIXR_H
#define PIXR_H

// The image record of the image core and its validated creation, cloning, destruction and
// accessors. Records come from allocator set 0 of the wrapper state, pixel buffers from set 1.

#include <stddef.h>
#include <stdint.h>

#include "ipw_state.h"
#include "vlt_status.h"

struct PIXRColorMap {
  uint16_t count;
  uint32_t origin;    // 1 when made by w_createColorMap; carried along by copies
  uint32_t* entries;  // count entries, set 0
};

enum { PIXR_MAX_CHANNELS = 16, PIXR_MAX_EXTENDED_CHANNELS = 4, PIXR_FRAME = 32 };

// One record type serves plain images and composites; channelCount tells them apart (1 plain,
// 2 or more composite). A composite uses only channelCount and channels[]; a plain record leaves
// channels[] empty.
struct PIXR {
  uint16_t channelCount;
  int32_t width;   // pixels, frame not included
  int32_t height;  // lines, frame not included
  int32_t depth;
  int32_t bytesPerLine;  // stride, both frame sides and padding included
  int32_t frame;         // 0 or 32
  int32_t byteOrder;     // 0 or 1
  int32_t xRes;          // dots per inch, 16.16 fixed point
  int32_t yRes;
  int32_t type;  // 1..7; 1 and 2 mark a composite's first channel whose primary is the second
  PIXRColorMap* colorMap;
  uint32_t reserved[2];
  uint8_t* imageBuffer;  // start of the pixel allocation
  uint8_t* imageAll;     // first byte of the framed area, aligned for the core
  PIXR* next;            // ring of records sharing imageBuffer; alone links to itself
  PIXR* prev;
  PIXR* channels[PIXR_MAX_CHANNELS];
};

// Check masks of wp_pixrCheckFlags: a property passes when its bit is set.
inline constexpr uint32_t PIXR_DEPTH_1 = 0x01;
inline constexpr uint32_t PIXR_DEPTH_2 = 0x02;
inline constexpr uint32_t PIXR_DEPTH_4 = 0x04;
inline constexpr uint32_t PIXR_DEPTH_8 = 0x08;
inline constexpr uint32_t PIXR_DEPTH_10 = 0x10;
inline constexpr uint32_t PIXR_DEPTH_12 = 0x20;
inline constexpr uint32_t PIXR_DEPTH_16 = 0x40;
inline constexpr uint32_t PIXR_DEPTH_1TO8 = 0x0F;
inline constexpr uint32_t PIXR_DEPTH_ANY = 0x7F;
inline constexpr uint32_t PIXR_CHANNELS_1 = 0x80;
inline constexpr uint32_t PIXR_CHANNELS_3 = 0x100;
inline constexpr uint32_t PIXR_CHANNELS_ANY = 0x180;
inline constexpr uint32_t PIXR_ORDER_0 = 0x200;
inline constexpr uint32_t PIXR_ORDER_1 = 0x400;
inline constexpr uint32_t PIXR_ORDER_ANY = 0x600;
inline constexpr uint32_t PIXR_FRAME_0 = 0x800;
inline constexpr uint32_t PIXR_FRAME_32 = 0x1000;
inline constexpr uint32_t PIXR_FRAME_ANY = 0x1800;

/* Validates a record against the masks; reports and returns 1003 null, 1002 channels, 1001 depth,
   1004 frame, 1000 byte order (in that order). */
VltStatus wp_pixrCheckFlags(IPWState* s, const PIXR* p, uint32_t orderMask, uint32_t depthMask,
                            uint32_t channelMask, uint32_t frameMask);

/* Mode 0 uninitialised (zeroed when purify is running), 1 zeroed, 2 resize the buffer in *place. */
VltStatus w_allocateImageData(IPWState* s, int32_t width, int32_t height, int32_t depth,
                              int32_t frame, int32_t mode, uint8_t** place);

/* A plain record over a caller's buffer; a filled place is refilled. */
VltStatus w_createPixrStructOnly(IPWState* s, int32_t width, int32_t height, int32_t depth,
                                 int32_t xRes, int32_t yRes, int32_t frame, uint8_t* buffer,
                                 PIXR** place);
/* A new plain record with a zeroed buffer. */
VltStatus w_createPixr(IPWState* s, int32_t width, int32_t height, int32_t depth, int32_t xRes,
                       int32_t yRes, int32_t frame, PIXR** place);
/* A new plain record whose image is left uninitialised; the frame is cleared. */
VltStatus w_createPixrNoInit(IPWState* s, int32_t width, int32_t height, int32_t depth,
                             int32_t xRes, int32_t yRes, int32_t frame, PIXR** place);
/* Groups 2..16 plain records as the channels of one image; they take its type and channel 0's
   resolution. The composite owns them from then on. */
VltStatus w_createPixrComposite(IPWState* s, PIXR* const* channels, int32_t count, int32_t type,
                                PIXR** place);
/* One plain record (count 1) or a composite of count channels, over buffers[i]. */
VltStatus w_createPixrExtendedStructOnly(IPWState* s, int32_t width, int32_t height, int32_t depth,
                                         int32_t xRes, int32_t yRes, int32_t frame,
                                         int32_t channelCount, int32_t type,
                                         const PIXRColorMap* colorMap, uint8_t* const* buffers,
                                         PIXR** place);
VltStatus w_createPixrExtended(IPWState* s, int32_t width, int32_t height, int32_t depth,
                               int32_t xRes, int32_t yRes, int32_t frame, int32_t channelCount,
                               int32_t type, const PIXRColorMap* colorMap, PIXR** place);
VltStatus w_createPixrExtendedNoInit(IPWState* s, int32_t width, int32_t height, int32_t depth,
                                     int32_t xRes, int32_t yRes, int32_t frame,
                                     int32_t channelCount, int32_t type,
                                     const PIXRColorMap* colorMap, PIXR** place);
/* Record and pixels in one block: *place either holds a caller block of bufferSize bytes or is
   null and receives a block from set 1. Released by freeing the block. */
VltStatus w_createPixrInUnifiedBuffer(IPWState* s, int32_t width, int32_t height, int32_t depth,
                                      int32_t xRes, int32_t yRes, int32_t frame, size_t bufferSize,
                                      int32_t zero, void** place);
VltStatus w_pixrGetUnifiedBufferSize(IPWState* s, int32_t width, int32_t height, int32_t depth,
                                     int32_t frame, size_t* size);

VltStatus w_createColorMap(IPWState* s, int32_t count, PIXRColorMap** place);
VltStatus w_destroyColorMap(IPWState* s, PIXRColorMap** place);

/* A record of the source's shape sharing its pixel buffers (joins each channel's ring). */
VltStatus w_clonePixrStructOnly(IPWState* s, const PIXR* src, PIXR** place);
/* A record of the source's shape with new uninitialised / zeroed buffers. */
VltStatus w_clonePixrNoInit(IPWState* s, const PIXR* src, PIXR** place);
VltStatus w_clonePixr(IPWState* s, const PIXR* src, PIXR** place);
/* A framed copy of the source's pixels; an empty place receives a new record. */
VltStatus w_copy(IPWState* s, const PIXR* src, PIXR** place);

/* Resizes the pixel buffer to the record's current geometry, for the whole ring. */
VltStatus w_reallocPixrData(IPWState* s, PIXR* p);

VltStatus w_destroyPixr(IPWState* s, PIXR** place);
VltStatus w_destroyPixrStructOnly(IPWState* s, PIXR** place);
VltStatus w_destroyPixrImageOnly(IPWState* s, PIXR* p);
VltStatus wp_destroyPixrComponents(IPWState* s, int32_t structure, int32_t image, PIXR** place);

// Accessors. Getters of a composite answer for its primary channel, setters change every channel.
VltStatus w_pixrGetWidth(IPWState* s, const PIXR* p, int32_t* out);
VltStatus w_pixrSetWidth(IPWState* s, PIXR* p, int32_t v);
VltStatus w_pixrGetHeight(IPWState* s, const PIXR* p, int32_t* out);
VltStatus w_pixrSetHeight(IPWState* s, PIXR* p, int32_t v);
VltStatus w_pixrGetDepth(IPWState* s, const PIXR* p, int32_t* out);
VltStatus w_pixrSetDepth(IPWState* s, PIXR* p, int32_t v);
VltStatus w_pixrGetBpl(IPWState* s, const PIXR* p, int32_t* out);
VltStatus w_pixrSetBpl(IPWState* s, PIXR* p, int32_t v);
VltStatus w_pixrGetFrame(IPWState* s, const PIXR* p, int32_t* out);
VltStatus w_pixrSetFrame(IPWState* s, PIXR* p, int32_t v);
VltStatus w_pixrGetByteOrder(IPWState* s, const PIXR* p, int32_t* out);
VltStatus w_pixrSetByteOrder(IPWState* s, PIXR* p, int32_t v);
VltStatus w_pixrGetType(IPWState* s, const PIXR* p, int32_t* out);
VltStatus w_pixrSetType(IPWState* s, PIXR* p, int32_t v);
VltStatus w_pixrGetResolutionDPI(IPWState* s, const PIXR* p, int32_t* xRes, int32_t* yRes);
VltStatus w_pixrSetResolutionDPI(IPWState* s, PIXR* p, int32_t xRes, int32_t yRes);
VltStatus w_pixrGetColorMap(IPWState* s, const PIXR* p, PIXRColorMap** out);
/* The record takes the map; a composite's channels share it and release it once. */
VltStatus w_pixrSetColorMap(IPWState* s, PIXR* p, PIXRColorMap* map);
VltStatus w_pixrDiscardColorMap(IPWState* s, PIXR* p);
VltStatus w_pixrGetImageBuffer(IPWState* s, const PIXR* p, uint8_t** out);
VltStatus w_pixrSetImageBuffer(IPWState* s, PIXR* p, uint8_t* buffer);
VltStatus w_pixrGetImageAll(IPWState* s, const PIXR* p, uint8_t** out);
VltStatus w_pixrSetImageAll(IPWState* s, PIXR* p, uint8_t* imageAll);
VltStatus w_pixrGetImage(IPWState* s, const PIXR* p, uint8_t** out);
VltStatus w_pixrGetLine(IPWState* s, const PIXR* p, int32_t y, uint8_t** out);
VltStatus w_pixrFramedWidth(IPWState* s, const PIXR* p, int32_t* out);
VltStatus w_pixrFramedHeight(IPWState* s, const PIXR* p, int32_t* out);
/* Bytes per line computed from the geometry, not the stored field. */
VltStatus w_pixrBpl(IPWState* s, const PIXR* p, int32_t* out);
VltStatus w_pixrImageBytes(IPWState* s, const PIXR* p, size_t* out);
VltStatus w_pixrGetChannelCount(IPWState* s, const PIXR* p, int32_t* out);
VltStatus w_pixrSetChannelCount(IPWState* s, PIXR* p, int32_t v);
VltStatus w_pixrGetChannel(IPWState* s, const PIXR* p, int32_t index, PIXR** out);
VltStatus w_pixrSetChannel(IPWState* s, PIXR* p, int32_t index, PIXR* channel);
VltStatus w_pixrGetPrimaryChannel(IPWState* s, const PIXR* p, PIXR** out);

// Geometry without a record.
VltStatus w_pixrImageProperties(IPWState* s, int32_t width, int32_t height, int32_t depth,
                                int32_t frame, int32_t* bpl, size_t* size);
VltStatus w_pixrImageOffset(IPWState* s, const uint8_t* buffer, int32_t bpl, int32_t depth,
                            int32_t frame, size_t* out);
VltStatus w_pixrFrameOffset(IPWState* s, const uint8_t* buffer, int32_t bpl, int32_t depth,
                            int32_t frame, size_t* out);

#endif
