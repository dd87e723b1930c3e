#ifndef VLT_OUTPUT_H
#define VLT_OUTPUT_H

// The section output: a finished section turned into what the JBIG2 writers take. The section's
// token records (lossless tokens used more than once, then every class of two or more members)
// make the section dictionary; per page, the symbols only that page uses (one-member classes,
// large components, pictures and lossless tokens used once) make its residual dictionary, and
// every component of the page becomes a position record. The output state owns the embedded
// stream and reaches the writers only through the callback table.
//
// Once the section is output, a component's bitmap owner word names the token record that places
// it (null, or the component itself, for none yet); a component whose owner word is not itself
// holds bits that are not its own (its class's).

#include <stdint.h>

#include "jb2_bridge.h"
#include "tok_tcly.h"
#include "tok_tdoc.h"

struct TclyOutState {
  VltState* state;
  Jb2StreamState* stream;
  void* dictBlock;              // the writers hand back none, so this stays null on our road
  uint32_t one;
  uint32_t outputByte;
  uint32_t outputWord;
  uint8_t resDictMode;          // 0: a residual symbol counts one use
  uint32_t block[6];
  int32_t pageCursor;           // the lossy section's page whose position block comes next
  uint8_t freeAfterSection;     // the section dictionaries go with the section's last page
  uint8_t sectionMode;
  Jb2OutputCallbacks* callbacks;
};

VltStatus tcly_out_init(VltState* state, TclyOutState** place, uint32_t one, uint8_t singlePage,
                        const uint32_t block[6], uint32_t outputWord, uint32_t outputByte, uint8_t resDictMode,
                        uint32_t profile, uint8_t sectionMode, Jb2OutputCallbacks* callbacks);
// Closes the stream; the state stays when that fails.
VltStatus tcly_out_end(TclyOutState* out);
VltStatus emptyOutputState(TclyOutState* out);

// Builds the section's token records and writes the section dictionary (none for no records).
// *records is the array of *count records (null for none), *losslessCount the leading records
// that own their bitmaps; the array is handed out even when the writer fails. final releases the
// lossless tokens; otherwise those used more than once stay for the next section.
VltStatus writeTokOutput(TclyOutState* out, TclySection* lossy, VltTdcSection* tokens, uint8_t unusable,
                         VltTokenRecord** records, uint32_t* count, uint32_t* losslessCount, uint8_t final);
VltStatus makeTokens(TclySection* lossy, VltTdcSection* tokens, uint8_t unusable, VltTokenRecord** records,
                     uint32_t* classCount, uint32_t* losslessCount, uint8_t final, VltState* state);
// Every class member takes its class's bitmap and token record, and its bottom row.
void adjustCoords(VltAdtList* classes);
// The page's residual dictionary: its one-use symbols after the token page's own records.
VltStatus writeResDict(TclyOutState* out, TclyPage* page, VltTdcPage* tokenPage, uint8_t resDictMode);
// One position record per component of the page after the token page's own.
VltStatus makePosArray(TclyPage* page, VltTdcPage* tokenPage, VltState* state);

#endif
