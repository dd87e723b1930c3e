#ifndef KVIMGDEC_INTERNAL_H
#define KVIMGDEC_INTERNAL_H

#include <cstddef>
#include <cstdint>

#include "kvimgdec.h"

namespace kvimg {

// Makes the part's header and a zeroed pixel block for width x height pixels of channels
// samples of bits each, interleaved; false when the size is over the limit (reported, -1 in
// *status) or memory runs out (0).
bool part_new(KVImgPart* part, const char* reader, uint32_t width, uint32_t height, int32_t channels, int32_t bits,
              int32_t photometry, int* status);
// Bytes of one row of a part.
int64_t part_row_bytes(const KVImgPart* part);
// Records the resolution in the header's user data; false when memory runs out. A resolution of
// 0 records nothing.
bool set_origin(KVHdr* header, double xres, double yres, const char* units);
void part_free(KVImgPart* part);

int decode_png(const void* data, int64_t size, KVImgDecoded* out);
int decode_jpeg(const void* data, int64_t size, KVImgDecoded* out);
int decode_tiff(const void* data, int64_t size, KVImgDecoded* out);

}  // namespace kvimg

#endif
