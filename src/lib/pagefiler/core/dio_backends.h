#ifndef DIO_BACKENDS_H
#define DIO_BACKENDS_H

// The format back ends that reader and writer creation starts and whose functions fill the
// objects' slots. A start function gives the back end's state, or null when it cannot start.

#include "dio.h"

extern "C" {

// PDF.
void* PDFInit(const char* filename, int mode, const char* password, int* error);
void PDFRelease(elf_object* obj);
int PDFReadGetPage(elf_state* state, void* backend, int32_t page, elf_object** image);
int PDFReadGetChecksum(elf_state* state, void* backend, int32_t* sum);
int PDFReadGetPageCount(elf_state* state, void* backend, int32_t* count);
int PDFInsertPage(void* backend, elf_object* image, int32_t* count);
int PDFAppendPage(void* backend, elf_object* image, int32_t* count);
int PDFSetAttributes(void* backend, elf_object* attributes);
int PDFInitTransforms(void* backend, elf_object* specs);
int dioPDFSetVersion(void* backend, int32_t subtype, elf_state* context);
int PDFEndJbig2(void* backend, elf_state* context);
int32_t PDFObjsToTextFile(const char* filename, const char* destname, const char* password);

// XPS.
void* __XPSInit(elf_state* context, const char* filename, int mode);
void __XPSRelease(elf_object* obj);
int __XPSReadGetPage(elf_state* state, void* backend, int32_t page, elf_object** image);
int __XPSGetChecksum(elf_state* state, void* backend, int32_t* sum);
int __XPSReadGetPageCount(elf_state* state, void* backend, int32_t* count);
int __XPSInsertPage(void* backend, elf_object* image, int32_t* count);
int __XPSAppendPage(void* backend, elf_object* image, int32_t* count);
int __XPSSetAttributes(void* backend, elf_object* attributes);
int XPSInitTransforms(void* backend, elf_object* specs);

// The engine's standard raster formats (exported: the slots are tested on their own).
MONO_API void* StdKVInit(elf_state* context, const char* filename, int32_t format, int32_t read, int32_t* subtype);
MONO_API void __StdKVRelease(elf_object* obj);
MONO_API int __StdKVReadGetPage(elf_state* state, void* backend, int32_t page, elf_object** image);
MONO_API int StdKVReadGetChecksum(elf_state* state, void* backend, int32_t* sum);
MONO_API int __StdKVReadGetPageCount(elf_state* state, void* backend, int32_t* count);
MONO_API int __StdKVInsertPage(void* backend, elf_object* image, int32_t* count);
MONO_API int __StdKVAppendPage(void* backend, elf_object* image, int32_t* count);
MONO_API int StdKVSetAttributes(void* backend, elf_object* attributes);
MONO_API int StdKVInitTransforms(void* backend, elf_object* specs);

// TIFF and TIFF-FX writing; exported, as the reader's entry points are (tio.h).
MONO_API void* TIFFWriteInit(elf_state* context, const char* filename, int32_t format, int32_t subtype);
MONO_API void TIFFRelease(elf_object* obj);
MONO_API int TIFFInsertPage(void* backend, elf_object* image, int32_t* count);
MONO_API int TIFFAppendPage(void* backend, elf_object* image, int32_t* count);
MONO_API int TIFFSetAttributes(void* backend, elf_object* attributes);
MONO_API int TIFFInitTransforms(void* backend, elf_object* specs);

}  // extern "C"

#endif
