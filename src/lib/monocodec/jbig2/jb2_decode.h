#ifndef JB2_DECODE_H
#define JB2_DECODE_H

// Segment readers. A stream is read one segment at a time: the header into a SegmentInfo, the
// referred segments looked up among those read before, then the data handed to the decoder of
// the segment's type, which parses it into the record's body. Region bitmaps are made later, on
// demand, by the renderers (refinement needs the region it refines rendered first), and the
// into-renderers compose a region into a page bitmap. Everything is reached through four tables
// indexed by the segment type.
//
// Every byte read is untrusted: each decoder reads from a source bounded to its segment's data,
// lengths and counts are checked against what is there before anything is sized from them, and
// a stream that ends early is an error, never a partial result.

#include <stdint.h>

#include <array>

#include "jb2_bitfile.h"
#include "jb2_segment.h"
#include "jb2_symid.h"
#include "vlt_adt.h"
#include "vlt_mq.h"

/* The data length of a generic region whose end is found by its end sequence. */
inline constexpr uint32_t JB2_UNKNOWN_LENGTH = 0xFFFFFFFFu;
/* The largest region bitmap a decoder makes, in pixels (128 MiB of bitmap). */
inline constexpr uint64_t JB2_MAX_REGION_PIXELS = uint64_t{1} << 30;
/* The most symbols one dictionary may define or a region may choose from, and the most symbol
   instances one region (or all aggregate symbols of one dictionary) may place. An arithmetic-coded
   count costs next to no data, so these bound the work a short stream can ask for. */
inline constexpr uint32_t JB2_MAX_SYMBOLS = uint32_t{1} << 20;
inline constexpr uint32_t JB2_MAX_INSTANCES = uint32_t{1} << 20;
/* The most pixels n bytes of MQ-coded data can decide one by one (without typical prediction):
   a decision costs at least 2^-15 of a bit, so a byte carries at most 2^18 of them; a few bytes
   more allow for the decoder's look-ahead. Past its data the decoder would go on inventing
   pixels, so a bitmap larger than this is refused before it is decoded. */
constexpr uint64_t jb2MaxCodedPixels(uint32_t dataLength) { return (uint64_t{dataLength} + 4) << 18; }
/* The decoding work of symbol dictionaries, text regions, pattern dictionaries and halftone grey
   planes, in pixels decided one by one by the generic procedure. Real dictionaries and regions code a few hundred pixels a byte, but white
   bitmaps in trained contexts cost next to nothing, so a stream of a few kilobytes could ask for
   hundreds of millions of decisions. A segment may do 4096 a byte of its data, and beyond that
   take from a floor of 2^24 that its stream's segments share (so that many small segments cannot
   each take a floor), never more than its data can code at all. */
inline constexpr uint64_t JB2_WORK_FLOOR = uint64_t{1} << 24;
inline constexpr uint32_t JB2_WORK_PER_BYTE_LOG2 = 12;
/* A refined pixel reads a reference as well as its own bitmap: it costs as much work as this
   many generic ones (measured), and is charged so. */
inline constexpr uint64_t JB2_REFINED_PIXEL_COST = 16;
/* The symbol instances of text regions (and aggregate symbols of dictionaries): an MQ-coded
   instance of one symbol at a steady spacing costs a few thousandths of a byte, real text some
   bytes. A segment may place 64 a byte, and beyond that take from a floor of 2^16 its stream's
   segments share. */
inline constexpr uint32_t JB2_INSTANCES_FLOOR = uint32_t{1} << 16;
inline constexpr uint32_t JB2_INSTANCES_PER_BYTE_LOG2 = 6;

/* The work a segment of dataLength bytes may do (see above). */
uint64_t jb2WorkBudget(const Jb2File* file, uint32_t dataLength);
/* Takes cost from the segment's budget and counts it as done: 0, or 107 with the message when
   the budget does not hold it. */
VltStatus jb2TakeWork(Jb2File* file, uint64_t* budget, uint64_t cost, const char* message);
/* Once a segment is decoded (or has failed): what it did since the stream had done doneBefore,
   beyond what its bytes pay for, leaves the shared floor. */
void jb2SettleWork(Jb2File* file, uint32_t dataLength, uint64_t doneBefore);
/* The symbol instances a segment of dataLength bytes may place, at most JB2_MAX_INSTANCES. */
uint32_t jb2InstanceBudget(const Jb2File* file, uint32_t dataLength);
/* What count instances took beyond what the segment's bytes pay for leaves the shared floor. */
void jb2SettleInstances(Jb2File* file, uint32_t dataLength, uint32_t count);
// Placements may overlap, but a few coded bytes can ask for a million placements of a huge
// bitmap, hours of drawing for one page. Text covers its region about once and halftone cells
// tile theirs, so a region drawn over more than 64 times (or 2^26 pixels, whichever is more) is
// refused rather than drawn.
constexpr uint64_t jb2DrawBudget(uint64_t area) {
  return area > (uint64_t{1} << 57) ? UINT64_MAX : area > (uint64_t{1} << 20) ? area * 64 : uint64_t{1} << 26;
}
/* Once an MQ decoder has met the end of its data, a conforming stream has only the decisions of
   the last few code bytes left (at most 2^15 per bit); beyond these many pixels, or instances,
   what the decoder yields is invention, and the segment is refused. */
inline constexpr uint64_t JB2_MQ_PIXELS_PAST_END = uint64_t{1} << 20;
inline constexpr uint32_t JB2_MQ_INSTANCES_PAST_END = uint32_t{1} << 18;
/* 1 once the decoder has met the end of its data (end marker or no more bytes). */
inline int jb2MqPastEnd(const MqDecoder* mq) { return mq->mode != MQD_MODE_DATA ? 1 : 0; }

typedef VltStatus (*Jb2DecodeFn)(Jb2File* file, DataSource* source, SegmentInfo* segment,
                                 SegmentInfo** referred);
typedef VltStatus (*Jb2RenderFn)(Jb2File* file, SegmentInfo* segment);
typedef VltStatus (*Jb2RenderIntoFn)(Jb2File* file, SegmentInfo* segment, VltImage* page);
typedef void (*Jb2FreeFn)(SegmentInfo* segment, VltState* state);

using Jb2DecodeTable = std::array<Jb2DecodeFn, 64>;
using Jb2RenderTable = std::array<Jb2RenderFn, 64>;
using Jb2RenderIntoTable = std::array<Jb2RenderIntoFn, 64>;
using Jb2FreeTable = std::array<Jb2FreeFn, 64>;

/* Indexed by the six-bit segment type; null where the type has no such step. */
extern const Jb2DecodeTable decoders;
extern const Jb2RenderTable renderers;
extern const Jb2RenderIntoTable intorenderers;
extern const Jb2FreeTable freeers;

/* Blit operations of the combination operators OR, AND, XOR, XNOR, REPLACE. */
extern const uint32_t jb2Minterms[5];

// ---- Segments, dispatch and shared pieces ------------------------------------------------

/* Reads one segment header into the caller's record (whose body, region and bitmap fields are
   cleared). 2003 when the header is cut short, 1 without memory, 107 for a referred number not
   below the segment's own or a short-form count of 5 or 6; on failure the record holds no
   arrays. Referred-to lists are grown as their bytes arrive, so a huge count in a short stream
   costs nothing. */
VltStatus jb2DecodeSegmentHeader(Jb2File* file, DataSource* source, SegmentInfo* segment);

/* *records = a new array (the caller frees it with the state's free) of the records, taken from
   the list of SegmentInfo records decoded so far, that the segment refers to, in the header's
   order; null when it refers to nothing. 118 when a referred segment is not in the list. */
VltStatus jb2MarshalSegments(Jb2File* file, const SegmentInfo* segment, const VltAdtList* decoded,
                             SegmentInfo*** records);

/* Decodes the segment's data through decoders[type]. The decoder reads from a source bounded to
   the data length; what it leaves of that data is skipped, so the source ends just after the
   segment. Only generic regions may have an unknown length. 107 "bad segment type" for a type
   without decoder; else the decoder's status. On failure the body holds nothing to free. */
VltStatus jb2DecodeSegment(Jb2File* file, DataSource* source, SegmentInfo* segment,
                           SegmentInfo** referred);
/* Makes the region's bitmap (renderers[type]); 107 "bad segment type" without a renderer. */
VltStatus jb2RenderRegion(Jb2File* file, SegmentInfo* segment);
/* Composes the region into a Packed page bitmap (intorenderers[type]). */
VltStatus jb2RenderRegionIntoPage(Jb2File* file, SegmentInfo* segment, VltImage* page);
/* Frees what the record owns (referred arrays, a region's bitmap, the body); not the record. */
void jb2FreeSegmentInfo(SegmentInfo* segment, VltState* state);

/* Reports the code with the message through the context's engine state and returns the code. */
VltStatus jb2Fail(const Jb2File* file, VltStatus code, const char* message);
/* Reports the message as a warning; the caller goes on. */
void jb2Warn(const Jb2File* file, const char* message);

/* 1 for the region segment types (bit 2 or 3 set, below 48). */
int jb2IsRegionSegment(uint8_t type);

/* Reads the 17-byte region segment information field. 107 "bad combination operator" above 4,
   107 "bad region flags" for bits 3-7, 2003 when short. */
VltStatus jb2DecodeRegSegment(Jb2File* file, DataSource* source, Jb2RegionInfo* region);
/* 0 when a width x height bitmap is within the context's maxPixels (at most
   JB2_MAX_REGION_PIXELS), else 107 "region too large". */
VltStatus jb2CheckRegionSize(Jb2File* file, uint32_t width, uint32_t height);
/* A packed bitmap of the region's size, checked as above first. */
VltStatus jb2NewRegionBitmap(Jb2File* file, const Jb2RegionInfo& region, VltImage** bitmap);

/* Stores the body of each code-table segment among the referred ones in the next slot, in
   order; a count of code tables other than slotCount gives 2. */
VltStatus findUserTables(JhtTable** slots, int32_t slotCount, SegmentInfo** referred,
                         int32_t referredCount, VltState* state);

/* Copies a width x rows rectangle from bit x of each source row (rows ceil(srcWidth / 32) words
   apart) into packed destination rows (ceil(width / 32) words apart), clearing the bits beyond
   width. Words are big-endian bytes. */
void jb2ReadoutBits(const uint8_t* src, uint32_t x, uint32_t srcWidth, uint32_t rows, uint8_t* dst,
                    uint32_t width);

/* Reads n bytes of segment data into a new block from the state's allocator (null for 0). The
   block grows with the bytes that actually arrive, so a length nobody can deliver allocates no
   more than twice the bytes present. 2003 when the data ends early, 1 without memory. */
VltStatus jb2ReadBlock(Jb2File* file, DataSource* source, uint32_t n, uint8_t** block);

/* The profiles decoder: reads nothing (its data is skipped as leftover). */
VltStatus jb2DecodeProfiles(Jb2File* file, DataSource* source, SegmentInfo* segment,
                            SegmentInfo** referred);

// ---- A source bounded to one segment's data ----------------------------------------------

struct Jb2BoundedSource {
  DataSource source;  /* what the decoder reads; its context is this record */
  DataSource* parent;
  uint32_t left;      /* bytes of the segment not yet taken from the parent */
};

/* Starts a bounded view of the next length bytes of the parent. */
void jb2BoundSource(Jb2BoundedSource* bounded, DataSource* parent, uint32_t length);
/* Skips what the view has not read, leaving the parent just after the segment: 0, or 2003 when
   the parent ends first. */
VltStatus jb2EndBoundedSource(Jb2BoundedSource* bounded);

// ---- Integers and code tables --------------------------------------------------------------

enum : uint8_t { DI_HUFFMAN = 0, DI_MQ = 1 };
inline constexpr int32_t DI_MQ_CONTEXTS = 512;

/* One integer decoder: a Huffman table read through a bit file, or the MQ integer procedure over
   512 contexts of the caller. */
struct DiDecoder {
  uint8_t kind;               /* DI_HUFFMAN or DI_MQ */
  const JhtTable* table;
  const JhtLine* lower;       /* the table's special lines, or null */
  const JhtLine* upper;
  const JhtLine* oob;
  int32_t ordinaryCount;
  JbfFile* bits;
  MqDecoder* mq;
  uint8_t* contexts;
  VltState* state;
};

/* A Huffman integer decoder over a compiled table whose values are pointers to its lines. */
VltStatus diNewDecoder(const JhtTable* table, JbfFile* bits, VltState* state, DiDecoder** decoder);
/* An MQ integer decoder over the caller's 512 contexts (cleared by the caller). */
VltStatus diNewDecoderMQ(MqDecoder* mq, uint8_t* contexts, VltState* state, DiDecoder** decoder);
/* Huffman when huffman is non-zero, else MQ with the contexts cleared here. */
VltStatus diNewDecoderEither(int huffman, const JhtTable* table, JbfFile* bits, MqDecoder* mq,
                             uint8_t* contexts, VltState* state, DiDecoder** decoder);
/* Decodes one integer; *oob = 1 for the out-of-band value. 107 for a value outside 32 bits. */
VltStatus diDecode(DiDecoder* decoder, int* oob, int32_t* value);
/* Decodes one integer that may not be out-of-band: 107 "bad OOB" where it is. */
VltStatus diDecodeInBand(Jb2File* file, DiDecoder* decoder, int32_t* value);
void diFreeDecoder(DiDecoder* decoder);

/* Code-table segments (type 53). */
VltStatus jb2DecodeHuffTable(Jb2File* file, DataSource* source, SegmentInfo* segment,
                             SegmentInfo** referred);
void jb2FreeHuffTableSegment(SegmentInfo* segment, VltState* state);

// ---- Page information, end markers and extensions ----------------------------------------

VltStatus jb2DecodePageInfo(Jb2File* file, DataSource* source, SegmentInfo* segment,
                            SegmentInfo** referred);
VltStatus jb2DecodeEOPage(Jb2File* file, DataSource* source, SegmentInfo* segment,
                          SegmentInfo** referred);
VltStatus jb2DecodeEOStripe(Jb2File* file, DataSource* source, SegmentInfo* segment,
                            SegmentInfo** referred);
VltStatus jb2DecodeEOFile(Jb2File* file, DataSource* source, SegmentInfo* segment,
                          SegmentInfo** referred);
/* Known extension kinds are decoded; an unknown kind is skipped unless its "necessary" bit (31)
   is set, which gives 107 "unrecognised segment type". */
VltStatus jb2DecodeExtension(Jb2File* file, DataSource* source, SegmentInfo* segment,
                             SegmentInfo** referred);
void jb2FreeExtensionSegment(SegmentInfo* segment, VltState* state);

/* Reads a NUL-terminated string of any length into a new allocation (NUL included). */
VltStatus getString(Jb2File* file, DataSource* source, char** string);
VltStatus decASCIIComment(Jb2File* file, DataSource* source, SegmentInfo* segment,
                          SegmentInfo** referred);
VltStatus decBinComment(Jb2File* file, DataSource* source, SegmentInfo* segment,
                        SegmentInfo** referred);
void freeASCIIComment(SegmentInfo* segment, VltState* state);
void freeBinComment(SegmentInfo* segment, VltState* state);

// ---- Generic regions -----------------------------------------------------------------------

VltStatus jb2DecodeGenReg(Jb2File* file, DataSource* source, SegmentInfo* segment,
                          SegmentInfo** referred);
/* Reads the AT pairs of the template in params->gbTemplate (four for template 0, one else),
   clears the unused ones, adds 2 to *consumed per pair; 2 "bad AT params" for a pixel not
   before the current one. */
VltStatus jb2DecodeABParams(Jb2File* file, DataSource* source, Jb2GenericParams* params,
                            uint32_t* consumed);
VltStatus jb2RenderGenReg(Jb2File* file, SegmentInfo* segment);
VltStatus jb2RenderGenRegIntoPage(Jb2File* file, SegmentInfo* segment, VltImage* page);
void jb2FreeGenRegSegment(SegmentInfo* segment, VltState* state);

/* Decodes a cleared Packed image with the generic template procedure; pixels whose skip bit is
   set stay 0 and take nothing from the data. contexts holds jb2ABContextsNeeded(params) bytes.
   Past the end of its data the decoder reads 1-bits for as long as the image needs. */
VltStatus jb2ArithDecodeImagePacked(VltImage* image, const Jb2GenericParams* params, uint8_t* contexts,
                                    MqDecoder* mq, const VltImage* skip);
/* The template 3 branch of jb2ArithDecodeImagePacked. */
VltStatus arithDecodeImageT10L2(VltImage* image, const Jb2GenericParams* params, uint8_t* contexts,
                                MqDecoder* mq, const VltImage* skip);
/* The same over a caller's cleared buffer of height rows of wordsPerRow words; with null
   contexts a cleared set is made for the call. 1 without memory, 10003 for a bad buffer, 107 as
   above. */
VltStatus jb2ArithDecodeImage(uint8_t* buffer, int32_t width, int32_t height, int32_t wordsPerRow,
                              const Jb2GenericParams* params, uint8_t* contexts, Jb2File* file,
                              MqDecoder* mq);

/* ORs MMR-coded lines into a window of rows (bit offset, last column and last line as for
   g4Decode), consuming the end-of-block code too; *length is reduced by the bytes used. */
VltStatus jb2MMRDecodeImageMemory(uint8_t* firstRow, int32_t width, int32_t lines,
                                  int32_t wordsPerRow, int32_t bitOffset, int32_t lastCol,
                                  int32_t lastLine, const uint8_t* data, uint32_t* length,
                                  VltState* state);
/* The same over length bytes read from the source, which must all be used (107 "not all
   MMR-encoded data consumed" otherwise; zero bytes after the code count as padding). */
VltStatus jb2MMRDecodeImage(uint8_t* firstRow, int32_t width, int32_t lines, int32_t wordsPerRow,
                            int32_t bitOffset, int32_t lastCol, int32_t lastLine, Jb2File* file,
                            DataSource* source, uint32_t length);

// ---- Generic refinement regions ------------------------------------------------------------

/* 8192 contexts for template 0, 1024 for template 1, 1 otherwise. */
uint32_t jb2RABContextsNeeded(const RefinementParams* params);
/* Reads the adaptive pixels of template 0 (x1, y1, x2, y2) or clears them for template 1;
   2 "bad RAT params" for A1 not before the current pixel or a template above 1. */
VltStatus jb2DecodeRABParams(Jb2File* file, DataSource* source, RefinementParams* params,
                             uint32_t* consumed);
/* Decodes a bitmap relative to a reference; reference pixel (x - dx, y - dy) lies under
   destination pixel (x, y), and pixels outside the reference read 0. The destination is cleared
   by the caller. With null contexts a cleared set is made for the call (1 without memory);
   10003 for a buffer that cannot be wrapped; 107 "arithmetic-coded data ends early" as for
   jb2ArithDecodeImagePacked. */
VltStatus jb2ArithDecodeRefinement(uint8_t* dst, int32_t width, int32_t height, int32_t wordsPerRow,
                                   const uint8_t* ref, int32_t refWidth, int32_t refHeight,
                                   int32_t refWordsPerRow, int32_t dx, int32_t dy,
                                   const RefinementParams* params, uint8_t* contexts, Jb2File* file,
                                   MqDecoder* mq);
VltStatus refineImageT13(VltImage* dst, const VltImage* ref, int32_t dx, int32_t dy,
                         const RefinementParams* params, uint8_t* contexts, MqDecoder* mq);
VltStatus refineImageT10(VltImage* dst, const VltImage* ref, int32_t dx, int32_t dy,
                         const RefinementParams* params, uint8_t* contexts, MqDecoder* mq);

VltStatus jb2DecodeGenRefReg(Jb2File* file, DataSource* source, SegmentInfo* segment,
                             SegmentInfo** referred);
VltStatus jb2RenderGenRefReg(Jb2File* file, SegmentInfo* segment);
VltStatus jb2RenderGenRefRegIntoPage(Jb2File* file, SegmentInfo* segment, VltImage* page);
void jb2FreeGenRefRegSegment(SegmentInfo* segment, VltState* state);

// ---- Symbol instances ----------------------------------------------------------------------

/* Maps what the symbol-ID decoder gave (ID + 1; 0 for an ID beyond the list) to a symbol, or
   null when there is none. A symbol not decoded yet comes back with null bits. */
typedef Jb2Symbol* (*Jb2SymbolLookupFn)(void* context, uint32_t value);

/* How the instances of a text region (or of an aggregate symbol) are coded, and the coders that
   read them. Integers come from the decoders (Huffman over bits, or MQ over mq); symbol IDs from
   ids, or, when ids is null, as idBits-bit fields of the bit reader. it and ri are MQ only,
   rsize Huffman only; the refinement decoders are needed only when refine is set. */
struct Jb2InstanceCoding {
  uint8_t huffman;
  uint8_t refine;
  uint8_t transposed;
  uint8_t refCorner;  /* 0 bottom left, 1 top left, 2 bottom right, 3 top right */
  uint8_t logStrips;  /* 0-3 */
  int32_t dsOffset;   /* -16..15 */
  SymDecoder* ids;
  int32_t idBits;
  Jb2SymbolLookupFn lookup;
  void* lookupContext;
  DiDecoder* fs;
  DiDecoder* ds;
  DiDecoder* dt;
  DiDecoder* it;
  DiDecoder* ri;
  DiDecoder* rdw;
  DiDecoder* rdh;
  DiDecoder* rdx;
  DiDecoder* rdy;
  DiDecoder* rsize;
  JbfFile* bits;
  DataSource* source;  /* where Huffman-mode refinement blocks are read */
  MqDecoder* mq;
  const RefinementParams* refineParams;
  uint8_t* refineContexts; /* shared by every refined instance */
  uint64_t* pixelBudget;   /* work still allowed (jb2WorkBudget); each refinement takes its share */
};

/* Decodes count instances (0 to JB2_MAX_INSTANCES, the caller bounds it) into a new array that
   grows as they arrive: *instances (state's allocator) and *decoded, set on failure too, so the
   caller frees what was made with jb2FreeInstances. 0 once a strip ends with count instances. */
VltStatus jb2DecodeInstances(Jb2File* file, const Jb2InstanceCoding* coding, uint32_t count,
                             Jb2Instance** instances, uint32_t* decoded);
/* Refuses (107) instances whose clipped areas add up to more than jb2DrawBudget of the
   width x height they are drawn into. */
VltStatus jb2CheckCoverage(const Jb2File* file, const Jb2Instance* instances, uint32_t count, int64_t width,
                           int64_t height);
/* Combines each instance's bitmap (refined or its symbol's) into the destination at its place,
   clipped to the destination, in array order. */
void jb2DrawInstances(uint8_t* bits, int32_t width, int32_t height, int32_t wordsPerRow,
                      const Jb2Instance* instances, uint32_t count, uint8_t combOp, VltState* state);
/* Frees the refinement records and the array. */
void jb2FreeInstances(Jb2Instance* instances, uint32_t count, VltState* state);

// ---- Symbol dictionaries and text regions --------------------------------------------------

VltStatus jb2DecodeSymDict(Jb2File* file, DataSource* source, SegmentInfo* segment,
                           SegmentInfo** referred);
void jb2FreeSymDictSegment(SegmentInfo* segment, VltState* state);

VltStatus jb2DecodeSymReg(Jb2File* file, DataSource* source, SegmentInfo* segment,
                          SegmentInfo** referred);
VltStatus jb2RenderSymReg(Jb2File* file, SegmentInfo* segment);
VltStatus jb2RenderSymRegIntoPage(Jb2File* file, SegmentInfo* segment, VltImage* page);
void jb2FreeSymRegSegment(SegmentInfo* segment, VltState* state);

// ---- Pattern dictionaries and halftone regions ---------------------------------------------

VltStatus jb2DecodeHTDict(Jb2File* file, DataSource* source, SegmentInfo* segment,
                          SegmentInfo** referred);
void jb2FreeHTDictSegment(SegmentInfo* segment, VltState* state);
VltStatus jb2DecodeHTReg(Jb2File* file, DataSource* source, SegmentInfo* segment,
                         SegmentInfo** referred);
VltStatus jb2RenderHTReg(Jb2File* file, SegmentInfo* segment);
VltStatus jb2RenderHTRegIntoPage(Jb2File* file, SegmentInfo* segment, VltImage* page);
void jb2FreeHTRegSegment(SegmentInfo* segment, VltState* state);

#endif
