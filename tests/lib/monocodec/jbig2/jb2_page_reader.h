#ifndef JB2_PAGE_READER_H
#define JB2_PAGE_READER_H

// The segment loop a reader of JBIG2 pages runs over the codec's segment decoders: header,
// referred segments, data, then region segments composed into the page that the page
// information made (growing it stripe by stripe when its height is not known up front). It reads
// the first page of a T.88 file (sequential or random-access organisation) or an embedded stream
// as PDF and our own layers carry it (no file header; the page ends with the data or an
// end-of-page segment). Shared by the tests, the fuzz target and the benchmarks; depends on the
// library only.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "jb2_decode.h"

namespace jb2test {

enum class StreamForm { kFile, kEmbedded };

/* Decodes a page (page 1 unless told) from the source into *page, a new Packed image owned by
   the caller (null on failure); the segments of the pages before it are decoded on the way, as
   they may be referred to. Every failure is reported through the state's reporter and returned;
   a stream that ends before the page is complete is a failure. Pages, and every region bitmap
   the segment decoders make, beyond maxPixels are refused. */
VltStatus read_page(VltState* state, DataSource* source, StreamForm form, VltImage** page,
                    uint64_t maxPixels = JB2_MAX_REGION_PIXELS, uint32_t pageNumber = 1);

/* The same over bytes in memory. */
VltStatus read_page(VltState* state, const uint8_t* data, size_t size, StreamForm form,
                    VltImage** page, uint64_t maxPixels = JB2_MAX_REGION_PIXELS,
                    uint32_t pageNumber = 1);

/* Decodes every page of a file in sequential organisation in one pass, the segments of page 0
   (shared dictionaries) once for all of them: *pages gets one new Packed image per page, in
   stream order, owned by the caller (and freed here on failure). */
VltStatus read_pages(VltState* state, const uint8_t* data, size_t size, std::vector<VltImage*>* pages,
                     uint64_t maxPixels = JB2_MAX_REGION_PIXELS);

/* A T.88 file taken apart by a small parser of its own (not the codec's). */
struct SplitFile {
  std::vector<uint8_t> embedded;   /* page-0 and page-1 segments in sequential order, without
                                      file header, end-of-page and end-of-file segments */
  std::vector<size_t> boundaries;  /* where each segment of `embedded` starts, and its end */
  std::vector<uint8_t> types;      /* the type of every segment of the file */
};
/* False for bytes it cannot split. */
bool split_file(const uint8_t* file, size_t size, SplitFile* out);

/* A source over bytes in memory whose end reads as the end of the data. */
void memory_source(DataSource* source, VltState* state, const uint8_t* data, size_t size);

}  // namespace jb2test

#endif
