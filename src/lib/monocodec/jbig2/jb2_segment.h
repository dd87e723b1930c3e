#ifndef JB2_SEGMENT_H
#define JB2_SEGMENT_H

// One JBIG2 segment as the writers take it and the readers fill it: header fields, the region
// information of region segments, the region bitmap, and the body of its type. Also the segment
// header writer and the small shared routines of both halves of the codec.

#include <stdint.h>

#include "jb2_file.h"
#include "jb2_huffman.h"
#include "vlt_image.h"
#include "vlt_status.h"

enum : uint8_t {
  JB2_SEG_SYMBOL_DICT = 0,
  JB2_SEG_TEXT_INTERMEDIATE = 4,
  JB2_SEG_TEXT_IMMEDIATE = 6,
  JB2_SEG_TEXT_LOSSLESS = 7,
  JB2_SEG_PATTERN_DICT = 16,
  JB2_SEG_HALFTONE_INTERMEDIATE = 20,
  JB2_SEG_HALFTONE_IMMEDIATE = 22,
  JB2_SEG_HALFTONE_LOSSLESS = 23,
  JB2_SEG_GENERIC_INTERMEDIATE = 36,
  JB2_SEG_GENERIC_IMMEDIATE = 38,
  JB2_SEG_GENERIC_LOSSLESS = 39,
  JB2_SEG_REFINE_INTERMEDIATE = 40,
  JB2_SEG_REFINE_IMMEDIATE = 42,
  JB2_SEG_REFINE_LOSSLESS = 43,
  JB2_SEG_PAGE_INFO = 48,
  JB2_SEG_END_OF_PAGE = 49,
  JB2_SEG_END_OF_STRIPE = 50,
  JB2_SEG_END_OF_FILE = 51,
  JB2_SEG_PROFILES = 52,
  JB2_SEG_TABLES = 53,
  JB2_SEG_EXTENSION = 62,
};

/* External combination operators of regions. */
enum : uint8_t {
  JB2_COMBOP_OR = 0,
  JB2_COMBOP_AND = 1,
  JB2_COMBOP_XOR = 2,
  JB2_COMBOP_XNOR = 3,
  JB2_COMBOP_REPLACE = 4
};

struct Jb2RegionInfo {
  uint32_t width;
  uint32_t height;
  uint32_t x;
  uint32_t y;
  uint8_t combOp; /* JB2_COMBOP_* */
};

struct Jb2PageInfo {
  uint32_t width;
  uint32_t height;      /* 0xFFFFFFFF: not known yet (striped pages) */
  uint32_t xResolution; /* pixels per metre, 0 when unknown */
  uint32_t yResolution;
  uint8_t eventuallyLossless;
  uint8_t mightRefine;
  uint8_t defaultPixel;
  uint8_t defaultCombOp; /* 0-3 */
  uint8_t auxBuffers;
  uint8_t combOpOverridden;
  uint8_t striped;
  uint16_t maxStripe;
};

struct Jb2EndOfStripe {
  uint32_t endRow;
};

/* One symbol: a packed bitmap of rows of 32-bit words, most significant bit leftmost. */
struct Jb2Symbol {
  int32_t width;
  int32_t height;
  uint8_t* bits;
  int32_t wordsPerRow;
  uint32_t spare;
  void* owner; /* the caller's record for this symbol */
  uint32_t spare2;
};

/* A bitmap refined from a symbol; its first four fields match Jb2Symbol's. */
struct Jb2RefinedBitmap {
  int32_t width;
  int32_t height;
  uint8_t* bits;
  int32_t wordsPerRow;
};

/* One placed symbol of a text region. */
struct Jb2Instance {
  int32_t x; /* left column in region coordinates */
  int32_t y; /* top row */
  Jb2Symbol* symbol;
  Jb2RefinedBitmap* refined; /* null when placed unrefined */
  void* user;                /* the caller's record for this placement */
};

struct Jb2SymbolDict {
  int32_t count;
  Jb2Symbol* symbols;
  uint8_t* genericContexts; /* retained MQ contexts, or null */
  uint8_t* refineContexts;
  uint32_t genericContextCount; /* bytes of the retained arrays */
  uint32_t refineContextCount;
};

struct Jb2TextRegion {
  int32_t count;
  Jb2Instance* instances;
  uint8_t combOp;
  uint8_t defaultPixel;
};

struct Jb2GenericRegion {
  uint8_t mmr;
  Jb2GenericParams params;
  uint8_t* data; /* coded bitmap: the writer copies it as it is when set */
  uint32_t dataLength;
};

/* One pattern of a pattern dictionary: rows of wordsPerRow 32-bit words, one after the other. */
struct HalftonePattern {
  uint8_t* bits;
  uint16_t wordsPerRow;
  uint16_t spare;
};

struct Jb2PatternDict {
  int32_t count;   /* GRAYMAX + 1 */
  uint16_t width;  /* HDPW */
  uint16_t height; /* HDPH */
  HalftonePattern* patterns;
};

struct SegmentInfo;

struct Jb2HalftoneRegion {
  VltImage* gray;           /* Short image, HGW x HGH cells, one pattern index per cell */
  int32_t gridX;            /* HGX, 1/256 pixel */
  int32_t gridY;            /* HGY */
  int32_t vectorX;          /* HRX, written as 16 bits */
  int32_t vectorY;          /* HRY */
  uint8_t combOp;           /* HCOMBOP */
  uint8_t defaultPixel;     /* HDEFPIXEL */
  SegmentInfo* patternDict; /* the referred pattern dictionary, not owned */
};

/* Refinement template and adaptive pixels: A1 lies in the bitmap being coded, A2 in the
   reference. Template 1 has no adaptive pixels and keeps all four coordinates 0. */
struct RefinementParams {
  uint8_t grTemplate; /* 0 or 1 */
  int8_t atx1;
  int8_t atx2;
  int8_t aty1;
  int8_t aty2;
  uint8_t tpgron;     /* non-zero: rows predicted from the reference are skipped */
};
static_assert(sizeof(RefinementParams) == 6, "six bytes in this order");

struct Jb2RefineRegion {
  RefinementParams params;
  uint8_t* data;               /* coded bitmap, owned */
  int32_t dataLength;
  SegmentInfo* reference;      /* the one referred region, not owned; null refines the page */
};

/* An ASCII comment: name/value pairs in stream order, every string owned. */
struct Jb2Comment {
  int32_t count;
  char** names;
  char** values;
};

struct Jb2Extension {
  uint32_t type;
  uint8_t* payload;            /* binary comment, owned */
  uint32_t length;
  Jb2Comment* comment;         /* ASCII comment, owned */
};

struct SegmentInfo {
  uint32_t number;
  uint32_t dataLength;
  uint32_t page; /* page association */
  int32_t referredCount;
  uint32_t* referred;      /* owned, one per referred segment */
  uint8_t* referredRetain; /* owned, one per referred segment */
  uint8_t type;
  uint8_t retain;   /* retain-this flag */
  uint8_t deferred; /* deferred non-retain flag */
  Jb2RegionInfo region;
  uint8_t hasBitmap;
  VltImage* bitmap; /* Packed region bitmap */
  union {
    Jb2PageInfo pageInfo;
    Jb2EndOfStripe endOfStripe;
    Jb2SymbolDict symbolDict;
    Jb2TextRegion textRegion;
    Jb2GenericRegion generic;
    Jb2RefineRegion refinement;
    JhtTable codeTable;
    Jb2PatternDict patternDict;
    Jb2HalftoneRegion halftone;
    Jb2Extension extension;
  } body;
};

/* Writes the segment header into the context's header sink and reserves its 4-byte data length.
   10003 (unreported) for a referred number not below the segment's own; sink failures pass on;
   a failed header stays partly written. */
VltStatus jb2EncodeSegmentHeader(Jb2File* file, const SegmentInfo* segment);
/* Fills the reserved data length with segment->dataLength. */
VltStatus jb2EncodeSegmentHeaderDataLength(Jb2File* file, const SegmentInfo* segment);
/* The frame of every writer: the header with the data length reserved and the data sink's count
   started, then, once the data part is written, the length filled in from that count. */
VltStatus jb2BeginSegment(Jb2File* file, const SegmentInfo* segment);
VltStatus jb2EndSegment(Jb2File* file, SegmentInfo* segment);
/* Writes the 17-byte region segment information field into the sink; 10003 (unreported) for an
   operator above 4, after the four words. */
VltStatus jb2EncodeRegSegment(Jb2File* file, DataSink* sink, const Jb2RegionInfo* region);
/* Appends the numbers of n segments to the referred-to list with retain flags 0. 1 (reported)
   without memory, 10003 for a count without a list; the record is unchanged on failure. */
VltStatus jb2AddReferencedSegments(Jb2File* file, SegmentInfo* segment,
                                   SegmentInfo* const* referred, int32_t n);

/* Writes bytes into a sink: 2001 (reported) when the sink stores fewer. */
VltStatus jb2WriteBytes(Jb2File* file, DataSink* sink, const uint8_t* bytes, uint32_t n);
VltStatus jb2WriteU8(Jb2File* file, DataSink* sink, uint8_t value);
VltStatus jb2WriteU16(Jb2File* file, DataSink* sink, uint16_t value);
VltStatus jb2WriteU32(Jb2File* file, DataSink* sink, uint32_t value);

/* 0 for 0 and 1, else the smallest k with 2^k >= n. */
uint32_t ceillog2(uint32_t n);
/* MQ context bytes of a generic template (the parameter block's first byte): 65536, 8192, 1024,
   1024, and 1 for any other value. */
uint32_t jb2ABContextsNeeded(const Jb2GenericParams* params);

#endif
