#ifndef JB2_BRIDGE_H
#define JB2_BRIDGE_H

// The bridge from the token engine to the JBIG2 writers: the embedded stream (one memory sink
// that is emptied into a block after the section dictionary and after every page, segment
// numbering running on), the dictionary and page writers, and the text-region writer that places
// a stripe's tokens. The engine reaches the writers only through the callback table.

#include <stdint.h>

#include "jb2_encode.h"
#include "jb2_file.h"
#include "tok_tokrec.h"
#include "vlt_adt.h"
#include "vlt_image.h"
#include "vlt_state.h"

struct Jb2StreamState {
  uint32_t* block;              // the six-word block given at creation (never read)
  Jb2File* file;                // current context; its header and data sink are one memory sink
  uint32_t profile;
  VltAdtList* dictSegments;     // SegmentInfo of the section dictionaries, in writing order
  VltAdtList* pageDictSegments; // the same for the current page's dictionaries
  VltAdtList* dictSymbolCounts; // uint32_t cells, one per dictionary
  VltAdtList* pageDictSymbolCounts;
  uint32_t sectionSymbolCount;  // symbols of every section dictionary written
  uint32_t pageDictSymbolCount; // symbols of the page dictionary written last
  uint32_t pageNumber;          // page information segments written
  uint8_t singlePage;           // every page segment on page 1, no end of page
  uint8_t fileMode;             // a standalone file: everything stays gathered until the close
};

// Hook told the order in which a text region coded its position records.
typedef VltStatus (*Jb2InstanceOrderHookFn)(void** records, int32_t n, void* third, void* first, void** second,
                                           VltState* state);
struct Jb2InstanceOrderHook {
  Jb2InstanceOrderHookFn function;
  void* first;
  void* second;
  void* third;
};

typedef VltStatus (*Jb2CreateStateFn)(uint32_t* block, VltState* state, uint32_t profile, uint32_t one,
                                      uint8_t singlePage, Jb2StreamState** place, uintptr_t* context);
typedef VltStatus (*Jb2CloseStateFn)(Jb2StreamState* stream, uintptr_t context);
typedef VltStatus (*Jb2FinishPageFn)(Jb2StreamState* stream, uintptr_t context);
typedef VltStatus (*Jb2PosBlockFn)(VltPosRecord* records, int32_t n, int32_t regionWidth, int32_t regionHeight,
                                   int32_t xDpi, int32_t yDpi, Jb2InstanceOrderHook* hook, int32_t pageNumber,
                                   void* dictBlock, uint8_t lastStripe, Jb2StreamState* stream,
                                   const int32_t* yOffset);
typedef VltStatus (*Jb2DictionaryFn)(VltTokenRecord* records, int32_t n, void* dictBlock, void** newBlock,
                                     uint32_t word1, uint32_t word2, Jb2StreamState* stream, uintptr_t context);
typedef VltStatus (*Jb2PageDictionaryFn)(VltTokenRecord* records, int32_t n, int32_t width, int32_t height,
                                         int32_t xDpi, int32_t yDpi, uint32_t word, void* dictBlock,
                                         void** newBlock, uint32_t word1, uint32_t word2, Jb2StreamState* stream,
                                         uintptr_t context);
typedef VltStatus (*Jb2BinaryPixrFn)(VltAdtList* boxes, int32_t group, VltAdtList* pixrs, Jb2StreamState* stream);
typedef VltStatus (*Jb2FreeDictBlockFn)(void* dictBlock, Jb2StreamState* stream, uintptr_t context);

struct Jb2OutputCallbacks {
  Jb2CreateStateFn createState;          // 0
  Jb2CloseStateFn closeState;            // 1
  Jb2FinishPageFn finishPage;            // 2
  void* unused3;                         // 3
  Jb2PosBlockFn writePosBlock;           // 4
  Jb2DictionaryFn writeDictionary;       // 5
  Jb2PageDictionaryFn writePageDictionary; // 6
  Jb2BinaryPixrFn writeBinaryPixr;       // 7
  Jb2FreeDictBlockFn freeDictBlock;      // 8
  uintptr_t context;                     // 9: the striping byte's address during page information
};

// The table the engine uses.
void vlt_fillOutputCallbacks(Jb2OutputCallbacks* table);

// The embedded stream. Profile 1: MMR and fixed standard tables; 3: MQ throughout; other: MMR with
// standard or tuned tables.
VltStatus createJb2StateAPICB(uint32_t* block, VltState* state, uint32_t profile, uint32_t one, uint8_t singlePage,
                              Jb2StreamState** place, uintptr_t* context);
// Everything written since the last collection as one block from the engine allocator (null for
// none); the numbering of the next block continues.
VltStatus getJb2CompressedData(Jb2StreamState* stream, uint8_t** bytes, uint32_t* length);
// Ends the stream; uncollected bytes are dropped.
VltStatus closeJb2StateAPICB(Jb2StreamState* stream, uintptr_t context);
void jb2ApplyProfile(Jb2FileParams* params, uint32_t profile);

VltStatus writeJb2DictionaryCB(VltTokenRecord* records, int32_t n, void* dictBlock, void** newBlock, uint32_t word1,
                               uint32_t word2, Jb2StreamState* stream, uintptr_t context);
VltStatus writeJb2PageDictionaryCB(VltTokenRecord* records, int32_t n, int32_t width, int32_t height, int32_t xDpi,
                                   int32_t yDpi, uint32_t word, void* dictBlock, void** newBlock, uint32_t word1,
                                   uint32_t word2, Jb2StreamState* stream, uintptr_t context);
VltStatus writeJb2PageInfo(int32_t width, int32_t height, int32_t xDpi, int32_t yDpi, Jb2StreamState* stream,
                           const uint8_t* unstriped);
VltStatus writeJb2EOStripe(int32_t endRow, int32_t pageNumber, Jb2StreamState* stream);
VltStatus finishJb2PageCB(Jb2StreamState* stream, uintptr_t context);
VltStatus freeJb2DictblockCB(void* dictBlock, Jb2StreamState* stream, uintptr_t context);
// A generic region of the image at (x, y); the image stays the caller's.
VltStatus writeJb2BinaryCC(VltImage* image, uint32_t word, int32_t x, int32_t y, Jb2StreamState* stream,
                           void* unused);
// A box of the picture path: position and size, two words, the halftone period (above 0: the
// first adaptive pixel moves to (-2 x period, 0) for this and later regions), one word and the
// group the box belongs to. Slot 7 writes the boxes of one group, each with its PIXR (no frame),
// as generic regions, and removes them and their PIXRs from the lists.
struct Jb2PixrBox {
  int32_t x, y, width, height;
  int32_t word4, word5;
  int32_t period;
  int32_t word7;
  int32_t group;
};

VltStatus writeJb2BinaryPixrCB(VltAdtList* boxes, int32_t group, VltAdtList* pixrs, Jb2StreamState* stream);
VltStatus freeSegVltAdt_List(VltAdtList* list, VltState* state);
VltStatus freeNsymVltAdt_List(VltAdtList* list, VltState* state);

// One immediate text region placing the records (rows relative to the region) with every
// dictionary the stream holds; nothing is written for n = 0. The region grows to hold every
// instance, so that no decoder clips one. lastStripe releases the page dictionaries.
VltStatus writeJb2PosBlockCB(VltPosRecord* records, int32_t n, int32_t regionWidth, int32_t regionHeight,
                             int32_t xDpi, int32_t yDpi, Jb2InstanceOrderHook* hook, int32_t pageNumber,
                             void* dictBlock, uint8_t lastStripe, Jb2StreamState* stream, const int32_t* yOffset);

// The order hook's context: where the copy goes, and whose allocator makes it.
struct Jb2OrderContext {
  void*** copy;
  VltState* state;
};
VltStatus my_instextbuilder(Jb2Instance* const* order, int32_t n, void* context);

#endif
