#ifndef XPS_SIGN_H
#define XPS_SIGN_H

// Signing XPS packages that lie unpacked in a folder: every part is a file under the folder, or
// a folder of interleaved pieces ("[0].piece" ... "[n].last.piece"). The signature follows the
// OPC digital-signature framework (ECMA-376 Part 2, Digital Signatures) with XML-DSig through
// xmlsec1.
//
// Status conventions of these functions: 1 success, 0 a failed resource, -1 malformed input or
// a missing argument, except where stated. Messages go to KVngError with the reporting
// function's name first.

#include <libxml/tree.h>
#include <stdint.h>
#include <xmlsec/xmldsig.h>

#include "mono_export.h"
#include "qelinterp.h"

/* One signature definition of the SignatureDefinitions part. Texts are borrowed. */
typedef struct XpsSigDefinition {
  const char* signerName;
  const char* intent;
  const char* signingLocale;
  const char* signBy;
  const char* pageUri;
  double xpos;
  double ypos;
} XpsSigDefinition;

/* What XPSDSigMakeSignature reads from its "options" LIST. */
typedef struct XpsSignOptions {
  int32_t noTimestamp;
  const char* certFile;
  const char* certPassword;
  XpsSigDefinition definition; /* the options' own: intent, signingLocale, spotLocation */
} XpsSignOptions;

/* Interpreter method: signs the package in "rootPath" (no trailing '/') with the PKCS#12 key of
   options.certFile. Arguments: rootPath:s, options:LIST (certFile:s required, certPassword:s,
   intent:s, signingLocale:s, spotLocation:LIST, requests:LIST, noTimestamp:b). Returns 0, or 21
   with the status set; on failure no file it wrote is left behind. */
MONO_API int XPSDSigMakeSignature(void* context, elf_object* args, elf_object** result);

/* Adds a SignatureDefinition with SpotID = spotId under parent; 1, or -1 after a report. */
MONO_API int __XPSDSigAddSigDefinition(xmlNodePtr parent, const char* spotId, const XpsSigDefinition* definition);

/* Builds, signs and writes the signature part at path. 1 when written completely; 0 when the
   content types cannot be loaded or the write falls short; -1 on other failures (nothing is
   written then). */
MONO_API int __XPSDSigWriteXmlSignature(const char* path, xmlSecDSigCtxPtr dsigCtx, const char* rootPath,
                                        const char* signatureId, int noTimestamp);

/* Adds a Reference to partName (an absolute part name) to the Manifest and computes its digest.
   0, or -1 after a report. */
MONO_API int __XPSDSigAddPartRef(xmlSecDSigCtxPtr dsigCtx, xmlNodePtr manifest, const char* rootPath,
                                 const char* partName, const char* contentType);

/* Adds the Reference to the relationships part of partName ("" for the package), through the
   relationship transform and C14N, then a Reference to every target of the kind's signed
   relationship types. 0, or -1 after a report. */
MONO_API int __XPSDSigAddPartRelRef(xmlSecDSigCtxPtr dsigCtx, xmlNodePtr manifest, const char* rootPath,
                                    const char* partName, xmlDocPtr contentTypes);

/* Replaces *text (libxml2 heap) by a copy without line feeds; stores the new length when length
   is not null. 0, or -1 for an empty text or no memory. */
MONO_API int __XPSDSigStripNewlinesStr(xmlChar** text, int* length);

/* libxml2 input callbacks that read a folder of interleaved pieces as one stream. */
MONO_API int __xmlDirMatch(const char* name);
MONO_API void* __xmlDirOpen(const char* name);
MONO_API int __xmlDirRead(void* context, char* buffer, int length);
MONO_API int __xmlDirClose(void* context);
/* Parses a part stored as pieces; null on failure. */
MONO_API xmlDocPtr __xmlParseDir(const char* path);

#endif
