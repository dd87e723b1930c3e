#ifndef TOK_COLORCC_H
#define TOK_COLORCC_H

// Colour components: a colour page, read line by line as segments of one colour (or of per-pixel
// samples) through a caller's callback, is partitioned into 8-connected regions of one colour.
// Touching regions of near colours can be merged into one multi-colour region ("washed"); white
// regions are background and never delivered. Every other finished region comes out as a ColorCC
// on one of two lists: flat (one colour) or image (sampled or washed, with an RGB image).
//
// Ownership: every record comes from the finder's engine state; sample buffers handed in by the
// callback (3 bytes R, G, B per pixel, engine allocator) belong to the finder from the moment the
// callback returns them, and to the delivered ColorCC's image in the end.

#include <stddef.h>
#include <stdint.h>

#include "vlt_adt.h"
#include "vlt_image.h"
#include "vlt_state.h"

// Small pools of the colour components.
inline constexpr uint32_t COLORCC_POOL_FLAT = 2;     // flat run records and ColorCC
inline constexpr uint32_t COLORCC_POOL_SAMPLED = 4;  // sampled-form run records

// Squared RGB distances are kept in 16 bits; this value also means "not comparable" (a background,
// washed or sampled component), and as wash threshold it turns wash merging off.
inline constexpr uint16_t COLORCC_FAR = 65535;
inline constexpr uint32_t COLORCC_WHITE = 0xFFFFFF;
// Finished components beyond this many are merged and delivered before a new one is made.
inline constexpr uint32_t COLORCC_FINISHED_BOUND = 80;

inline constexpr int32_t COLORCC_MAP_INITIAL = 64;
inline constexpr int32_t COLORCC_MAP_STEP = 32;
inline constexpr uint32_t COLORCC_RIM_INITIAL = 32;
inline constexpr uint32_t COLORCC_RIM_STEP = 16;
inline constexpr uint32_t COLORCC_RUNS_PER_RECORD = 4;

struct ColorCCState;

// One segment of a line. The line's segments tile it from x 0.
struct ColorSegment {
  uintptr_t colour;           // 0x00RRGGBB, or the address of the sample buffer when sampled
  uint16_t length;            // pixels
  uint8_t sampled;            // non-zero: per-pixel samples
  ColorCCState* component;
  uint16_t x;                 // first pixel
};

// Set in the low byte of the flags word by a callback whose line has ended; the segment of that
// call is ignored.
inline constexpr uint32_t COLORCC_END_OF_LINE = 1;

// Fills colour, length and sampled of the segment (everything else is cleared before the call),
// or reports the end of the line. A non-zero status aborts the strip with that status.
typedef VltStatus (*ColorCCReadLineFn)(ColorSegment* segment, uint32_t* flags, void* readData, VltState* engine);

// One link of a line's chain of runs, up to four runs in x order. Plain components use the flat
// form (without the sample words, pool 2); sampled and washed components the sampled form (pool
// 4), whose sample word per run is its sample buffer (sampled) or its 0x00RRGGBB colour (washed).
struct ColorRunRecord {
  ColorRunRecord* next;
  uint32_t count;             // 1 to 4
  struct {
    uint16_t x;
    uint16_t length;
  } runs[COLORCC_RUNS_PER_RECORD];
  uintptr_t samples[COLORCC_RUNS_PER_RECORD];
};
inline constexpr size_t COLORCC_FLAT_RECORD_SIZE = offsetof(ColorRunRecord, samples);
static_assert(sizeof(ColorRunRecord) <= VLT_POOL_BLOCK_SIZE, "run records are pool blocks");

// Component flags.
enum : uint32_t {
  COLORCC_SAMPLED = 0x80000000u,
  COLORCC_WASHED = 0x40000000u,
  COLORCC_BACKGROUND = 0x20000000u,
  COLORCC_STATUS_SHIFT = 27,
  COLORCC_STATUS_MASK = 3u << COLORCC_STATUS_SHIFT,
};
enum : uint32_t { COLORCC_ACTIVE = 0, COLORCC_FINISHED = 1, COLORCC_PENDING = 2 };

// A live component from its first segment until it is delivered (engine calloc).
struct ColorCCState {
  int32_t id;                 // slot in the map; -1 while not entered
  int32_t adjacent;           // components marked adjacent in the map
  uint32_t similar;           // of those, the ones marked similar
  uint16_t xMin;
  uint16_t top;
  uint16_t xMax;
  uint16_t bottom;            // last line with a pixel
  VltAdtList* lines;          // one chain (ColorRunRecord*) per completed line from top down
  VltAdtList* prevSegs;       // indices of its segments in the previous-line buffer, x order
  VltAdtList* curSegs;        // the same in the current-line buffer
  uint32_t colour;            // 0x00RRGGBB of a plain component, 0 when sampled or washed
  uint32_t pixels;
  uint32_t flags;             // COLORCC_SAMPLED, _WASHED, _BACKGROUND and the status
};

inline uint32_t ccstate_status(const ColorCCState* s) {
  return (s->flags & COLORCC_STATUS_MASK) >> COLORCC_STATUS_SHIFT;
}
inline void ccstate_setStatus(ColorCCState* s, uint32_t status) {
  s->flags = (s->flags & ~COLORCC_STATUS_MASK) | (status << COLORCC_STATUS_SHIFT);
}

// A delivered component (pool 2). Runs are pairs (x - xMin, length), lines top to bottom, left to
// right within a line; a run that does not start past the end of the run before it begins the
// next line (runs of one line never touch).
struct ColorCC {
  uint16_t* runs;             // engine allocator
  uint32_t count;
  uint16_t xMin;
  uint16_t top;
  uint16_t xMax;
  uint16_t bottom;
  union {
    uint8_t rgb[3];           // flat
    VltImage* image;          // sampled or washed: RGB, (xMax - xMin + 1) x (bottom - top + 1)
  } colour;
  uint32_t flags;             // COLORCC_SAMPLED, COLORCC_WASHED
};
static_assert(sizeof(ColorCC) <= VLT_POOL_BLOCK_SIZE, "delivered components are pool blocks");

// Adjacency of the components of two slots: flags and the squared colour distance.
enum : uint16_t { COLORCC_ADJACENT = 0x8000, COLORCC_SIMILAR = 0x4000 };
struct ColorCCAdj {
  uint16_t flags;
  uint16_t distance;
};

struct ColorCCSlot {
  ColorCCAdj* row;            // cells with every lower slot (slot i has i)
  ColorCCState* state;        // null: free
};

struct ColorCCMap {
  ColorCCSlot* slots;
  int32_t live;
  int32_t capacity;           // a multiple of 32, at least 64
  int32_t firstFree;          // no free slot lies below it
};

// The one cell that describes the pair of slots a and b (a != b).
inline ColorCCAdj* cccmap_cell(ColorCCMap* map, int32_t a, int32_t b) {
  return a > b ? &map->slots[a].row[b] : &map->slots[b].row[a];
}

struct ColorCCLineBuf {
  ColorSegment* segs;
  uint32_t count;
  uint32_t capacity;
};

// The previous-line and current-line segment buffers.
struct ColorCCRim {
  ColorCCLineBuf prev;
  ColorCCLineBuf cur;
};

// One per document (engine calloc).
struct ColorCCFinder {
  VltState* engine;
  int32_t width;
  int32_t height;
  ColorCCReadLineFn readLine;
  void* readData;
  ColorCCRim* rim;
  ColorCCMap* map;
  uint32_t finished;          // components marked finished and not yet delivered
  int32_t line;               // index of the line being read
  uint16_t washThreshold;     // squared distance below which neighbours are similar
  VltAdtList* flatList;
  VltAdtList* imageList;
};

// ---- Finder

// 10003 when pools 2 and 4 cannot hold the records, 118 without place, 2 without engine state.
VltStatus VltCC_init(VltState* engine, ColorCCFinder** place);
// Frees the finder and every component still in it; always 0.
VltStatus VltCC_cleanup(ColorCCFinder** place);
// A new page of width x height (each at most 65535, else 2) and its wash threshold (65535: no
// wash merging). Components still pending from a page given up are freed.
VltStatus VltCC_initPage(ColorCCFinder* finder, int32_t width, int32_t height, uint16_t washThreshold);
// Reads `lines` lines and delivers every component they make onto the two lists (the caller's
// from then on). Lines beyond the page height, and lines longer than the page width, are refused
// with 2. On any failure the components of the page not yet delivered are freed.
VltStatus VltCC_doStrip(ColorCCFinder* finder, ColorCCReadLineFn readLine, void* readData, int32_t lines,
                        VltAdtList* flatList, VltAdtList* imageList);
// Releases a delivered component (its runs, image and record).
void VltCC_freeColorCC(VltState* engine, ColorCC* cc);

VltStatus vltcc_readLine(ColorCCFinder* finder);
// After a line is read: every active component moves on a line, those that got no pixel on it are
// finished, white ones become background; the line buffers swap and the line index grows.
VltStatus vltcc_endLine(ColorCCFinder* finder);
VltStatus vltcc_updateStatus(ColorCCFinder* finder);
VltStatus vltcc_washMerge(ColorCCFinder* finder);
// The squared RGB distance of two plain components, saturated at 65535; 65535 when either is
// background, washed or sampled.
uint16_t vltcc_colourDistance(const ColorCCState* a, const ColorCCState* b);

// ---- Component states

// A component from segment `index` of the current line (not yet entered in the map).
VltStatus ccstate_init(ColorCCFinder* finder, uint32_t index, ColorCCState** place);
VltStatus ccstate_movetoNextLine(ColorCCFinder* finder, ColorCCState* state);
VltStatus ccstate_makeBackground(ColorCCFinder* finder, ColorCCState* state);
// A absorbs *b, which is freed and cleared. On failure both are as they were.
VltStatus ccstate_merge(ColorCCFinder* finder, ColorCCState* a, ColorCCState** b);
VltStatus ccstate_makeWash(ColorCCFinder* finder, ColorCCState* state);
// Takes the component's lines over into a new ColorCC; the state keeps its box and flags.
VltStatus ccstate_convertToColorCC(VltState* engine, ColorCCState* state, ColorCC** place);
// Cuts a finished sampled or washed component into flat components of one colour each, handed out
// in a new list of ColorCC. On success the state's lines (and sample buffers) are released.
VltStatus ccstate_disassembleSampledCC(VltState* engine, ColorCCState* state, VltAdtList** place);
VltStatus ccstate_cleanup(VltState* engine, ColorCCState** place);

// ---- Map, line buffers, run chains

VltStatus cccmap_init(VltState* engine, ColorCCMap** place);
VltStatus cccmap_expand(VltState* engine, ColorCCMap* map);
// Enters the component in the first free slot at or above firstFree, growing the map when full.
VltStatus cccmap_add(VltState* engine, ColorCCMap* map, ColorCCState* state);
VltStatus cccmap_rem(ColorCCMap* map, int32_t id);
VltStatus cccmap_combine(ColorCCMap* map, int32_t a, int32_t b);
VltStatus cccmap_collapse(VltState* engine, ColorCCMap* map);
VltStatus cccmap_cleanup(VltState* engine, ColorCCMap** place);

VltStatus rim_init(VltState* engine, ColorCCRim** place);
VltStatus rim_endPage(VltState* engine, ColorCCRim* rim);
VltStatus rim_cleanup(VltState* engine, ColorCCRim** place);

// Frees a chain; sampled-form records free their non-null sample words as buffers when
// freeSamples is set.
void scrs_cleanup(ColorRunRecord** place, int sampledForm, int freeSamples, VltState* engine);

#endif
