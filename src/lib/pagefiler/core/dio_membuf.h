#ifndef DIO_MEMBUF_H
#define DIO_MEMBUF_H

// TIFF and PNG files held in memory read into the interpreter's C-level page images, without
// the file system. A page with alpha gives two layers, the alpha layer (number 2) first; a
// description of the file goes to the engine state's verbose printer. Data that cannot be read
// whole (damaged, cut short, a colour model or layout the readers do not take) gives null with
// the reason printed and recorded on the buffer's state.

#include <png.h>

#include "mono_export.h"
#include "qel_struct.h"
#include "sstate.h"

#ifdef __cplusplus
extern "C" {
#endif

MONO_API QELImage* TIFQEL_BufUChar2QEL(BufUChar* buffer);
MONO_API QELImage* PNGQEL_BufUChar2QEL(BufUChar* buffer);

/* The readers' callbacks over a read cursor. Reads never pass the end of the data; seeks
   outside it are refused (the position stays, UINT64_MAX is returned). */
MONO_API int64_t TIFQEL_Read(void* cursor, void* destination, int64_t count);
MONO_API int64_t TIFQEL_Write(void* cursor, void* source, int64_t count);
MONO_API uint64_t TIFQEL_Seek(void* cursor, uint64_t offset, int whence);
MONO_API int TIFQEL_Close(void* cursor);
MONO_API uint64_t TIFQEL_Size(void* cursor);
MONO_API int TIFQEL_MapFile(void* cursor, void** base, uint64_t* size);
MONO_API void TIFQEL_UnmapFile(void* cursor, void* base, uint64_t size);
MONO_API void PNGQEL_MyPNGReader(png_structp png, png_bytep destination, png_size_t count);

#ifdef __cplusplus
}
#endif

#endif
