#ifndef XPS_WRITE_H
#define XPS_WRITE_H

// The interpreter's XPS writing side, which the XPS back end of libpagefiler runs by name:
//   type "XpsPackage"            one package being written: a temporary folder that holds the
//                                parts written so far, and the count of pages in it
//   script "xps/XpsPackage.elf"  makes the type known; the back end runs it before creating one
//   script "docio/docioXPSWrite.elf"
//                                "oper:s" open, add or close, "outfile:s", "package:XpsPackage",
//                                "compLevel:i" and, by operation:
//                                add: "page:QELIMAGE", "pgNum:i", "doCoalesce:i", "isJPEGXR:i",
//                                  "isTIFF:i", "page_x:d", "page_y:d", "unit:i"
//                                close: "dateTime:s" and, when set, "creator:s", "title:s",
//                                  "keyword:s", "certFile:s", "certPassword:s", "intent:s",
//                                  "signingLocale:s", "spotLocation:", "requests:", "security:i",
//                                  "interleaveOrder:s"
// "add" writes the page's FixedPage with one ImageBrush per image layer (G4 TIFF for raw bilevel
// layers, PNG for raw grey and colour ones, the JPEG bytes of JPEG layers as they are) and the
// Glyphs of its text layers (text-layer XML or XPS glyph text, converted by libpagefiler's
// QELXML2XPSXML; plain and PDF operator text is left out with a warning), set in one font part
// the package carries obfuscated. "close" writes the document parts, signs the
// folder with XPSDSigMakeSignature of libpagefiler when a certificate is given, and zips it to
// outfile (through a temporary name, so a failed close leaves no file). Scripts return 0, or the
// status they set (20 for wrong arguments, 21 for a failed resource).

#include "mono_export.h"
#include "qelinterp.h"

#ifdef __cplusplus
extern "C" {
#endif

MONO_API elf_object* new_XpsPackage(elf_state* state, void* unused, elf_object* args);
MONO_API int XpsPackageScript(void* context, elf_object* args, elf_object** result);
MONO_API int XpsWriteScript(void* context, elf_object* args, elf_object** result);

#ifdef __cplusplus
}
#endif

#endif
