#ifndef KVRASTER_H
#define KVRASTER_H

// The imaging engine's raster procedures and page-image members, which the interpreter binds by
// name in this library (elf_member.h): files of the standard raster formats read into page
// images and page images written as TIFF (libtiff), JPEG (libjpeg-turbo), PNG (libpng), GIF
// (giflib), BMP and PNM.
//
// Pixels of a raw layer (compression 0), by samples and photometric value:
//   - one sample of one bit: 1 is black for QEL_PHOTO_BILEVEL (0x15), 0 for any other value;
//   - one sample of 8 or 16 bits: grey, 0 is white for 118, else 0 is black;
//   - three samples: red, green, blue; 11 (palette) must be unmapped first and CMYK (four
//     samples) is not written;
//   - 16-bit samples are big-endian; writers that take 8 bits keep the high byte.
// Data is the layer's POINTER with the strips chained behind it. Pixel-interleaved rows unless
// the description's interleave field is 2 (planar: each row holds the rows of the sample planes,
// plane 0 first).
// Readers give one layer: 1-bit pages as kind 7 with QEL_PHOTO_BILEVEL, grey as photometric 22,
// colour as 111 (red, green, blue), 8 bits a sample; pixels with alpha are laid on white.
//
// Procedures (target: the interpreter state):
//   "readtif"  "filename:s" (required), "dirnum:i" (page, from 1; default 1), "info:b" (an image
//              without layers that answers findField, getFieldInt and getFieldStr: the fields
//              "pages" (i) and "tiff_profile" (c: "none", "s", "f", "c", "j", "l", "m")),
//              "compressed:b" (accepted; pages are always decoded). Result "img:QELIMAGE".
//   "Execute"  carries out deferred work; the writers finish their files before they return, so
//              it has nothing left to do and succeeds.
// Members of QELIMAGE (all served by KVImageMethods):
//   "exec"        checks the image is complete (QELUpdateQELIMAGE); no result.
//   "modheader"   "modify:LIST" of STRINGs "Section:key:value"; "Photometry:name:srgb" relabels
//                 three-sample layers as sRGB (15). Result "img:" a new image.
//   "unmap"       palette layers (11) through their layer attribute "ColorMap" (POINTER of red,
//                 green, blue bytes per entry) into RGB. Result "img:".
//   "interleave"  "scanline:b": planar layers made pixel-interleaved. Result "img:".
//   "writetif"    "filename:s", "append:b" (add a directory to an existing file),
//                 "unsupportedtt:b" (TIFF 6.0 fields only; nothing else is written anyway),
//                 "compression:i" (engine code: 0 none, 1 JPEG, 3 G4, 6 deflate, 10 LZW; default
//                 G4 for 1-bit pages, LZW otherwise), "quality:i" (JPEG, default 80).
//   "writejpg"    "filename:s", "quality:i" (default 80); 1-bit pages become grey.
//   "writepng", "writegif", "writebmp"  "filename:s".
//   "writeimage"  "filename:s": PNM (PBM, PGM or PPM by the page).
//   "findField", "getFieldInt", "getFieldStr"  the info fields of readtif.
// Every failure sets a status on the interpreter state and returns it; nothing is written then
// beyond what the format's library had started (the file is removed).

#include "elf_object.h"
#include "mono_export.h"

#ifdef __cplusplus
extern "C" {
#endif

MONO_API int KVReadTif(void* target, elf_object* args, elf_object** result);
MONO_API int KVExecute(void* target, elf_object* args, elf_object** result);
MONO_API int KVImageMethods(void* target, elf_object* args, elf_object** result);

/* Reads a file of any raster format the engine identifies (TIFF: its first page) into a new
   image (count 0) in *image. Returns 0, or a status set on state (*image null). */
MONO_API int QELReadFile2QELIMAGE(elf_state* state, const char* filename, elf_object* unused, elf_object** image);

#ifdef __cplusplus
}
#endif

#endif
