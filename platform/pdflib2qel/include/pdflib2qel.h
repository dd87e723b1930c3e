#ifndef PDFLIB2QEL_H
#define PDFLIB2QEL_H

// The outside post-format plug-in of the PDF writer: it rewrites a finished PDF file in place.
// The writer binds its entries by name in the plug-in "pdflib2qel" (libpdflib2qel.so).
//
// PDFLIB_PostFormatLinearize(state (may be null), args): "filename:s" (required), "creator:s",
//   "tmpLocation:s" (a folder for the file being written; default beside the file),
//   "compatibility:s" (least PDF version, "1.4" or "1.6"), "PDF_A:b" with "metadata:s" (XMP
//   without packet header, which becomes the one /Metadata stream of the catalog) and "date:s"
//   (the PDF date of the change). The file comes out linearized.
// PDFLIB_PostFormatEncrypt(state, args): "passwd:s" (user password), "masterpasswd:s" (owner
//   password; the user password when absent), "tmpLocation:s", "permissions:LIST" of STRINGs naming
//   what is denied ("print", "printhq", "modify", "copy", "annotate", "forms",
//   "accessibility", "assemble"), "creator:s", "compatibility:s" ("1.6": AES-128, revision 4; otherwise RC4-128,
//   revision 3), "filename:s" (required), "linearize:b".
// Both return 0, or a status (20 for a bad argument, 21 for a file that cannot be read or written),
// reported on the state when there is one and printed through the engine otherwise; the file is
// then as it was. With the environment variable PDFTESTMODE set to "TRUE" the output is
// deterministic (fixed ID and, for AES, fixed initialisation vectors).
// PDFLIB_GetProducer(): the plug-in's producer text (engine allocator, kvng_internal_free).

#include "elf_object.h"
#include "mono_export.h"

#ifdef __cplusplus
extern "C" {
#endif

MONO_API int PDFLIB_PostFormatLinearize(elf_state* state, elf_object* args);
MONO_API int PDFLIB_PostFormatEncrypt(elf_state* state, elf_object* args);
MONO_API char* PDFLIB_GetProducer(void);

#ifdef __cplusplus
}
#endif

#endif
