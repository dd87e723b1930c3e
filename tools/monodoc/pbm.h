#ifndef MONODOC_PBM_H
#define MONODOC_PBM_H

// PBM, plain (P1) and raw (P4), several images one after another in one file.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "bilevel.h"

namespace monodoc {

// Appends every image of the bytes to pages; false with the reason when the data is not a
// complete PBM file (pages then holds nothing new).
bool parse_pbm(const uint8_t* data, size_t size, std::vector<Bilevel>* pages, std::string* error);

// Reads the next image of a PBM stream into *page (null: checks and skips it): 1 when an image
// was read, 0 at the end of the data, -1 with the reason. first says that no image came before,
// so that an empty or foreign stream is an error rather than the end.
int read_pbm_image(std::FILE* in, bool first, Bilevel* page, std::string* error);

// The page as a raw PBM file.
std::string format_pbm(const Bilevel& page);

}  // namespace monodoc

#endif
