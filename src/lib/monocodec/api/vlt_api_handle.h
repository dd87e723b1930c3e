#ifndef VLT_API_HANDLE_H
#define VLT_API_HANDLE_H

// The engine handle and the internal steps of the section calls.

#include <stdint.h>

#include "vlt_adt.h"
#include "vlt_api.h"
#include "vlt_output.h"

struct VltApiHandle {
  uint8_t sectionOpen;
  TclyOutState* output;
  TclyDoc* lossyDoc;
  VltTdcDoc* tokenDoc;
  uint32_t pagesAdded;          // pages in the engine, less those rolled back
  uint8_t sectionMode;
  VltApiHandle* self;           // the handle's own address
  VltAdtList* residualBlocks;   // made with the section's dictionary; empty again at its last page
  VltAdtList* pageBlocks;
  uint16_t posBlockIndex;       // pages of the section already output
  uint8_t overLimit;            // the last page added took the section over its bound
  VltState* state;
  TokParams* params;            // the classifier's copy, owned here
  Jb2OutputCallbacks* callbacks;
  uint8_t tdcSectionMode;       // the token document's sectionMode
  uint8_t halftones;
  uint8_t fileMode;             // the output goes to a standalone file (VltApi_openFile)
  // Section straightening (VltApi_setDeskew), which lies above this part: the first runs before
  // the section's records are made, the second once the instances hold their class bitmaps.
  VltStatus (*deskewCount)(VltApiHandle* handle);
  VltStatus (*deskewApply)(VltApiHandle* handle);
};

VltStatus api_checkHandle(const VltApiHandle* handle);
VltStatus VltApi_checkTokMemoryBond(VltApiHandle* handle, uint8_t* full);
VltStatus VltApi_endSection(VltApiHandle* handle, int32_t mode);
VltStatus VltApi_getDict(VltApiHandle* handle, uint8_t flag, VltApiDict* dict);

#endif
