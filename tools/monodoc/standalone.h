#ifndef MONODOC_STANDALONE_H
#define MONODOC_STANDALONE_H

// Standalone JBIG2 files (T.88's file format) taken apart into the embedded page streams that
// layers carry, by a walk over their segment headers.

#include <cstdint>
#include <string>
#include <vector>

namespace monodoc {

// True for bytes that start with the JBIG2 file header's identifier.
bool is_standalone(const std::string& bytes);

// A page of a standalone file as an embedded stream.
struct PageStream {
  std::string bytes;
  // Its end of page was read, or the file's end of file: a file cut short at a segment boundary
  // still holds whole segments, and only this tells that the page goes on.
  bool complete;
};

// A standalone file (either organisation) as embedded streams, one per page that has a page
// information segment, in page order: each holds the segments of no page that it refers to,
// directly or through others (its dictionaries and tables), then its own. Decoding pages apart
// repeats the shared dictionaries but needs no global stream. *claimed (when asked) gets the
// page count the header gives, 0 when it gives none: a file that holds fewer pages is cut short,
// which the caller tells once it has the pages there are. False with the reason.
bool split_standalone(const std::string& file, std::vector<PageStream>* pages, std::string* error,
                      uint32_t* claimed = nullptr);

// The page size a stream's page information segment gives; a page of unknown height is as tall
// as its last end of stripe says. False when the segments cannot be walked to a page size.
bool stream_page_size(const std::string& s, int32_t* width, int32_t* height);

}  // namespace monodoc

#endif
