#ifndef TOK_CLASSIFIER_H
#define TOK_CLASSIFIER_H

// The lossy token classifier: bitmaps of connected components go in, token classes with their
// exemplars and members come out at the end of a section. Calling order: tokSetDefaults, adjust
// the words, tokInit, tokAddBitmap per component, one output call (which empties the
// classifier), optionally tokResume with the kept records to carry their classes into the next
// section, and tokFreeState. Every call returns 0 or a status: 1 memory (reported), 2 a bad
// parameter (reported), 10003 inconsistent records or input.

#include "tok_params.h"
#include "tok_types.h"

VltStatus tokInit(const TokParams* params, TokState** state);

// Classifies one bitmap. The classifier takes the bits over (in place when the rows have room
// for the margin, else by copy, releasing the caller's buffer through the engine allocator)
// unless TOK_FLAG_COPY_BITS is set; whenever the bits stop being the caller's, bitmap->bits is
// cleared. An all-white bitmap gives 10003.
VltStatus tokAddBitmap(TokState* state, TokBitmap* bitmap);
// Joins the bitmap to the first class that matches it without founding a class: *isNew = 1 and
// nothing kept when none matches, else *members is the class's member list.
VltStatus tokAddBitmapVerify(TokState* state, TokBitmap* bitmap, uint8_t* isNew, VltAdtList** members);

// Makes the model, edge image and box of a bitmap (see tokAddBitmap for the bits).
VltStatus tokBitmapToBox(TokState* state, TokBitmap* bitmap, TokBox** box);

VltStatus tokGetCount(TokState* state, uint32_t* count);
VltStatus tokMerge(TokState* state);

// Hand every class out as a list of TokOutput records (with or without the final merge) and
// leave the classifier empty.
VltStatus tokPartial(TokState* state, VltAdtList** output);
VltStatus tokFinal(TokState* state, VltAdtList** output);
VltStatus tokPartialNoMerge(TokState* state, VltAdtList** output);
VltStatus tokFinalNoMerge(TokState* state, VltAdtList** output);
VltStatus generateOutput(TokState* state, VltAdtList** output, int merge);

// Consume a list of output records, making a committed, resumed class of each (with its members
// too for tokResumeKeepMember). A record that fails is released as well.
VltStatus tokResume(TokState* state, VltAdtList* records);
VltStatus tokResumeKeepMember(TokState* state, VltAdtList* records);

// Release output records; freeMembers releases TokMemberPos entries.
VltStatus tokFreeOutput(TokState* state, VltAdtList* records, int freeMembers);
VltStatus tokFreeClass(TokState* state, TokOutput* record);

// Releases a record and whatever it holds by now (bits, histogram, member list), without the
// checks of tokFreeClass: the clean-up of a failed output or resume.
void tok_dropRecord(TokState* state, TokOutput* record);

VltStatus tokFreeState(TokState* state);
VltStatus tokAbort(TokState* state);

#endif
