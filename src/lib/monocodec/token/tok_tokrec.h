#ifndef TOK_TOKREC_H
#define TOK_TOKREC_H

// The token record: one symbol as the section output hands it to the dictionary writers, and the
// position record that places one instance of it on a page. Bitmaps are rows of big-endian
// 32-bit words, first pixel in the most significant bit, 1 = black.

#include <stdint.h>

#include "tok_pagecc.h"

struct VltTokenRecord {
  uint8_t* bitmap;      // owned by the record; dictionaries only borrow it
  void* link;           // 0; a page copy's token link; the symbol while a text region is written
  uint32_t uses;        // instances that use the symbol
  uint16_t width;
  uint16_t height;
  uint16_t lineWords;   // 32-bit words per bitmap row
  uint8_t inDictionary; // 1 once a written dictionary holds the symbol
};

// A page's position records are its residual positions, extended by the lossy instances.
using VltPosRecord = ResidualPos;

#endif
