#ifndef TOK_CLASS_H
#define TOK_CLASS_H

// Token classes: making a class from a box, trying boxes and classes against a class exemplar
// and joining them, re-checking, rejecting and re-aligning members, committing, and releasing.
// Every operation returns 0, 1 (memory, reported) or 10003 (inconsistent records).

#include "tok_types.h"

void FreeBox(TokBox* box, TokState* state);
// Frees an exemplar the class owns and clears flags 4 and 8; a member exemplar stays.
void FreeExemplar(TokClass* cls, TokState* state);
// Frees the class record, its list nodes, its pixel sum and an owned exemplar (not the members).
void ClassFree(TokClass* cls, TokState* state);

// A one-member class: the box is its exemplar.
VltStatus tokCBoxToClass(TokBox* box, TokClass** cls, TokState* state);
VltStatus tokCNewClass(TokState* state, TokBox* box, TokClass** cls);

// Joins the box to the class at (x, y) in the class frame.
VltStatus mergeBox(TokClass* cls, TokBox* box, int32_t x, int32_t y, TokState* state);
// Tries the box against the class exemplar and joins it on a match (*merged = 1).
VltStatus tokCMaybeMergeBox(TokState* state, TokClassTable* table, TokClass* cls, TokBox* box, uint8_t* merged);

// Tries b's exemplar against a's and merges b into a on a match; b is then freed (*merged = 1).
VltStatus tokCMaybeMergeClasses(TokState* state, TokClassTable* table, TokClass* a, TokClass* b, uint8_t* merged);
// Merges b into a, b's frame placed at (x, y) in a's; b is freed once *merged is 1.
VltStatus mergeClasses(TokState* state, TokClassTable* table, TokClass* a, TokClass* b, int32_t x, int32_t y,
                       uint8_t* merged);
VltStatus tokCMergeClasses(TokState* state, TokClass* a, TokClass* b, int32_t x, int32_t y, uint8_t* merged);

VltStatus commitClass(TokState* state, TokClassTable* table, TokClass* cls, int force);
VltStatus tokCGenerateExemplar(TokState* state, TokClass* cls);
// Re-tests every member against the exemplar; members that fail found classes of their own.
VltStatus tokCCheckMembers(TokClassTable* table, TokClass* cls, TokState* state);
// Takes a failing member out (*removed = 1; the caller unlinks its node), or, in a one-member
// class, makes it the exemplar (*removed = 0).
VltStatus rejectMember(TokClassTable* table, TokClass* cls, TokBox* box, uint8_t* removed, TokState* state);
// Moves every member to its placement of least difference against the exemplar.
VltStatus tokCAlignClass(TokClass* cls, TokState* state);
// Installs a caller's exemplar; members move by (x, y) when that is not (0, 0).
VltStatus tokCSetExemplar(TokState* state, TokClass* cls, TokBox* box, int32_t x, int32_t y, int owned);
VltStatus tokCFreeClass(TokState* state, TokClass* cls);

#endif
