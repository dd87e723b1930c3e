#ifndef JB2_ENCODE_H
#define JB2_ENCODE_H

// Segment writers. Each takes the next segment number of the context, writes the header into the
// header sink with the data length reserved, writes the data part into the data sink and fills
// the length in. The caller owns the SegmentInfo; a writer sets its header fields (number, type
// where fixed, retain flags, data length). A failed segment stays partly written in the sinks:
// the caller abandons the stream.

#include <stdint.h>

#include "jb2_intcode.h"
#include "jb2_segment.h"
#include "vlt_adt.h"
#include "vlt_mq.h"

/* Page information (type 48) from the record's page body: 19 data bytes. 10003 (unreported) for
   page association 0, after the segment number is taken; 2 (reported) for a maximum stripe size
   that does not fit in 15 bits. */
VltStatus jb2EncodePageInfo(Jb2File* file, SegmentInfo* segment);
/* End of page (type 49) and end of file (type 51): headers with data length 0. */
VltStatus jb2EncodeEOPage(Jb2File* file, SegmentInfo* segment);
VltStatus jb2EncodeEOFile(Jb2File* file, SegmentInfo* segment);
/* End of stripe (type 50) with the record's end row. 10003 (unreported) for page 0. */
VltStatus jb2EncodeEOStripe(Jb2File* file, SegmentInfo* segment);

/* Generic region (type 36, 38 or 39; else 10003, nothing written): MMR when the record's MMR flag
   is set, else MQ with its generic parameters; pre-coded data, when the record carries it, is
   written as the coded bitmap instead. The data length is always the exact count. */
VltStatus jb2EncodeGenRegion(Jb2File* file, SegmentInfo* segment);
/* The AT bytes of a template: four (x, y) pairs for template 0, one pair for the others. */
VltStatus jb2EncodeABParams(Jb2File* file, DataSink* sink, const Jb2GenericParams* params);

/* One G4 coding attempt of packed rows into out (capacity *length; receives the bytes written).
   endFlag appends the end-of-block code. 7 (unreported) when out is too small; other coder
   failures are reported. */
VltStatus jb2MMREncode(const uint8_t* firstRow, int32_t width, int32_t height, int32_t wordsPerRow,
                       uint8_t* out, size_t* length, int32_t endFlag, VltState* state);
/* G4 coding into a buffer that grows until the code fits, then written to the sink. */
VltStatus jb2MMREncodeDS(Jb2File* file, DataSink* sink, const uint8_t* firstRow, int32_t width,
                         int32_t height, int32_t wordsPerRow, int32_t endFlag);

/* MQ coding of a bitmap with the generic template procedure. contexts holds
   jb2ABContextsNeeded(params) bytes, cleared by the caller before the first bitmap of a
   statistics; jb2ArithEncodeImage makes its own when given none. 2001 (reported) when the
   encoder's output fails; 2 (reported) for a template above 3. */
VltStatus jb2ArithEncodeImage(const uint8_t* buffer, int32_t width, int32_t height,
                              int32_t wordsPerRow, const Jb2GenericParams* params,
                              uint8_t* contexts, Jb2File* file, MqEncoder* encoder);
VltStatus jb2ArithEncodeImagePacked(const VltImage* image, const Jb2GenericParams* params,
                                    uint8_t* contexts, MqEncoder* encoder, VltState* state);
/* The template 3 branch (ten pixels over two rows). */
VltStatus arithEncodeImageT10L2(const VltImage* image, const Jb2GenericParams* params,
                                uint8_t* contexts, MqEncoder* encoder, VltState* state);

/* Pattern dictionary (type 16, retained): the patterns side by side as one collective bitmap,
   MMR or MQ as the context's pattern parameters say. */
VltStatus jb2EncodeHTDict(Jb2File* file, SegmentInfo* segment);
/* Halftone region (type 20, 22 or 23) over the one pattern dictionary it refers to (referred[0]):
   the grey image as Gray-coded bit planes, most significant first. 10003 (nothing written) when
   the record does not refer to exactly one pattern dictionary or has another type. */
VltStatus jb2EncodeHTRegion(Jb2File* file, SegmentInfo* segment, SegmentInfo* const* referred);

/* One halftone area of a page, as the picture path records it. */
struct HalftoneBox {
  int32_t x;      /* left edge on the page, pixels */
  int32_t y;      /* top edge */
  int32_t width;  /* region size, pixels */
  int32_t height;
  int32_t word4;  /* not read here */
  int32_t word5;
  int32_t cellSize; /* width and height of a cell and of every pattern */
  int32_t levels;   /* number of patterns */
  int32_t kind;     /* which of the writer's calls takes the box */
};

/* Writes, for every box of the given kind (boxes and greys are parallel lists of HalftoneBox and
   PIXR), a pattern dictionary of spiral dot patterns and an immediate lossless halftone region
   whose cells take the grey image's values as pattern indices (0 the full dot), on a straight
   grid of cellSize pixels. Boxes of another kind or without a cell size are passed over with
   their grey image. 10003 for an absent list or grey image; otherwise the first failing status,
   the boxes after it unwritten. Whatever it makes for a box is freed before the next one, on
   failure too. */
VltStatus encodeHalftoneJBig2(VltAdtList* boxes, VltAdtList* greys, Jb2File* file, int32_t kind,
                              uint32_t page, VltState* state);
/* Fills count pattern records with size x size dot patterns that grow from the cell's centre in
   square rings, one pattern per step with evenly spread steps left out: pattern 0 blank, the last
   one full (the other way round when reverse is set). Each pattern gets size / 32 + 1 words per
   row from the state's allocator, owned by the caller. 10003 (unreported) for size 0, count
   below 2 or above size * size + 1, or no array; 1 (reported) without memory, nothing kept. */
VltStatus makeSpiralHalftonePattern(VltState* state, uint32_t size, uint32_t count, int reverse,
                                    HalftonePattern* patterns);

/* Code table segment (type 53, retained, referring to nothing) of the table in the record's body,
   on the page association the caller set. */
VltStatus jb2EncodeHuffTable(Jb2File* file, SegmentInfo* segment);
/* Sends a tuned table as a code table segment on the page of the segment that uses it, and
   adds it to that segment's referred-to list. */
VltStatus jb2SendTunedTable(Jb2File* file, SegmentInfo* user, const JhtTable* table);

/* Called once with the dictionary's symbols in coding order; non-zero ends the writer with it. */
typedef VltStatus (*Jb2SymbolOrderFn)(Jb2Symbol* const* order, int32_t n, void* context);

/* Symbol dictionary (type 0, retained): every symbol of the record new and exported, sorted into
   height classes by height, then width, then position in the record. Huffman coding with MMR
   collective bitmaps, or MQ throughout, as the context's parameters say; tuned height and width
   tables go first as code table segments, which the record then refers to. referred holds the
   records already on the record's referred-to list (their symbols are the dictionary's input
   symbols, none re-exported); it may be null only when that list is empty. reorder != 0 leaves
   the record's symbols in coding order, so that a symbol's index is its ID. */
VltStatus jb2EncodeSymDict(Jb2File* file, SegmentInfo* segment, SegmentInfo* const* referred,
                           Jb2SymbolOrderFn hook, void* hookContext, int reorder);
/* One height class of a Huffman dictionary as an MMR collective bitmap after its byte size
   (through the bmsize encoder), or uncompressed with size 0 when MMR would not be smaller. */
VltStatus writeMMRCollectiveBitmap(Jb2File* file, DataSink* sink, JbfFile* bits, EiEncoder* bmsize,
                                   Jb2Symbol* const* symbols, int32_t m);

/* Called once with the instances in coding order; non-zero ends the writer with it. */
typedef VltStatus (*Jb2InstanceOrderFn)(Jb2Instance* const* order, int32_t n, void* context);

/* Text region (type 4, 6 or 7) placing the record's instances, each a symbol of one of the
   referred symbol dictionaries (referred holds the records of the record's referred-to list;
   other segment types among them are skipped). A symbol's ID is its running index over those
   dictionaries in list order. Tuned tables go first as code table segments, which the record
   then refers to. keepOrder != 0 codes the instances in their given order (top-left corner,
   one-row strips). The symbols' owner links are borrowed during the call and always restored. */
VltStatus jb2EncodeSymRegion(Jb2File* file, SegmentInfo* segment, SegmentInfo* const* referred,
                             Jb2InstanceOrderFn hook, void* hookContext, int keepOrder);

enum : int { JB2_TEXT_DT = 0, JB2_TEXT_DS = 1, JB2_TEXT_FS = 2 };
enum : uint8_t { JB2_CORNER_BOTTOMLEFT = 0, JB2_CORNER_TOPLEFT = 1 };

/* Everything a text region's coding leaves to the encoder. */
struct Jb2TextChoice {
  Jb2Instance** order;        /* coding order (allocated; jb2FreeTextChoice releases it) */
  const JhtTable* tables[3];  /* Huffman: the DT, DS and FS tables */
  uint8_t tuned[3];           /* 1 where that table is a tuned copy, owned by the choice */
  uint8_t selector[3];        /* the table selectors of the region's Huffman flags */
  uint64_t countedBits[3];    /* Huffman: bits the DT, DS and FS values take with those tables */
  int32_t sbStrips;           /* 1, 2, 4 or 8 */
  int32_t logSbStrips;
  uint8_t refCorner;          /* JB2_CORNER_* */
  uint8_t transposed;
  int32_t dsOffset;           /* -16..15 */
  int32_t firstStrip;         /* the writer codes its negative as the first DT value */
};

/* Chooses transposition, corner, SBDSOFFSET, strip size, instance order and (Huffman) tables for
   the record's instances. 10003 (unreported) when the parameters forbid the corner the region
   needs; 2 (reported) for keepOrder with the top-left corner forbidden, for strips that step
   backwards with fixed tables, and for instances outside the coordinate range the codec
   handles; 1 (reported) without memory. On failure nothing stays allocated. */
VltStatus decideSREncoding(const Jb2FileParams* params, const SegmentInfo* segment, int keepOrder,
                           Jb2TextChoice* choice, VltState* state);
void jb2FreeTextChoice(Jb2TextChoice* choice, VltState* state);

#endif
