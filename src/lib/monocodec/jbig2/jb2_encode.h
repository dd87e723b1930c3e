#ifndef JB2_ENCODE_H
#define JB2_ENCODE_H

// Segment writers. Each takes the next segment number of the context, writes the header into the
// header sink with the data length reserved, writes the data part into the data sink and fills
// the length in. The caller owns the SegmentInfo; a writer sets its header fields (number, type
// where fixed, retain flags, data length). A failed segment stays partly written in the sinks:
// the caller abandons the stream.

#include <stdint.h>

#include "jb2_segment.h"
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

#endif
