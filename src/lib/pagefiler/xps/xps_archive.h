#ifndef XPS_ARCHIVE_H
#define XPS_ARCHIVE_H

// XPS archive access: an OPC package (a zip archive whose entries are parts) opened on a file
// or a stream; parts found by name, loaded into memory, decoded as images or read as XML,
// including parts stored as interleaved pieces ("P/[0].piece" ... "P/[n].last.piece");
// relationship part names; the digital-signature parts named by the signature origin.
//
// Results: 1 success; 0 a failed resource or engine call; -1 a missing argument, a part that
// is not there, a name that would leave the package, or malformed content. Messages go through
// KVngError with the reporting function's name first.
//
// Part names are OPC part names ("/Documents/1/FixedDocument.fdoc"): a leading '/' is dropped
// and "." and ".." segments are resolved inside the package before lookup; a name that climbs
// above the package root, or has a drive, scheme or backslash, is refused.

#include <libxml/tree.h>
#include <stdint.h>

#include "kvng_io.h"
#include "kvzip.h"
#include "qellibxml.h"

#include "mono_export.h"

#ifdef __cplusplus
extern "C" {
#endif

struct QELImage;
struct KVngFileFormats;

typedef struct XPSArchive {
  int32_t references;               /* 1 after opening */
  KVngZip* zip;
  KVngIO* stream;
  int32_t ownsStream;               /* the archive opened the stream from a file name */
  int32_t writing;                  /* the access mode begins with 'w' */
  struct KVngFileFormats* formats;  /* loaded on the first image load */
  char* fileName;                   /* owned copy, or null for a stream archive */
} XPSArchive;

/* The most bytes a part joined from pieces may hold: as much as one entry may inflate to. */
#define XPS_MAX_PART_BYTES KVNG_ZIP_MAX_INFLATED

MONO_API int XPSArchiveOpenFile(const char* fileName, const char* mode, int skipDirectory, XPSArchive** archive);
MONO_API int XPSArchiveOpen(KVngIO* stream, const char* mode, int skipDirectory, XPSArchive** archive);
/* Drops one reference; the last closes the zip reader, an owned stream and frees the record. */
MONO_API void XPSArchiveClose(XPSArchive* archive);
/* Takes one more reference (for a holder that may outlive the opener). */
MONO_API void XPSArchiveRetain(XPSArchive* archive);
MONO_API const char* XPSArchiveGetFileName(const XPSArchive* archive);

/* A whole part in a new buffer (kvng_internal_free) followed by one zero byte, and its size.
   -1 for a part that is not in the archive or is larger than XPS_MAX_PART_BYTES. */
MONO_API int XPSArchiveLoadResource(XPSArchive* archive, const char* partName, unsigned char** buffer, int64_t* size);
/* The inflated size of a part, joined from its pieces when it is interleaved; -1 for a part
   that is not in the archive. */
MONO_API int XPSArchiveGetPartSize(XPSArchive* archive, const char* partName, int64_t* size);
/* An image part decoded into a new image (XPSFreeImage); thumbnail set: a thumbnail image. */
MONO_API int XPSArchiveLoadImage(XPSArchive* archive, const char* partName, int thumbnail, struct QELImage** image);
/* The relationship part name of a part ("" for the package): a new string (kvng_internal_free),
   or null when memory runs out. */
MONO_API char* __XPSMakeRelsPartName(const char* partName);
/* An XML reader over the part, joined from its pieces when it is interleaved. A missing part is
   -1 when required, else success with a null reader. */
MONO_API int XPSArchiveMakeXMLReader(XPSArchive* archive, const char* partName, int required, QELXmlReader** reader);
MONO_API int XPSArchiveMakeXMLRelsReader(XPSArchive* archive, const char* partName, int required, QELXmlReader** reader);
/* The part parsed into a document the caller owns (xmlFreeDoc); null for a missing optional part. */
MONO_API int XPSArchiveReadPart(XPSArchive* archive, const char* partName, int required, xmlDocPtr* doc);
/* The signature documents named by the origin's relationships: a null-terminated array
   (kvng_internal_free) of documents (xmlFreeDoc). */
MONO_API int XPSArchiveLoadDigitalSignatures(XPSArchive* archive, const char* origin, xmlDocPtr** parts);

/* The entry of exactly that zip entry name, or null; 1, or 0/-1 when the directory fails. */
MONO_API int __XPSGetEntryForFile(KVngZip* zip, const char* entryName, KVngZipEntry** entry);

/* The part name as a zip entry name: leading '/' dropped, "." and ".." resolved. A new string
   (kvng_internal_free) in *entryName; -1 (reported with caller's name) for a name that leaves
   the package or is not a part name, 0 when memory runs out. */
MONO_API int XPSPartNameToEntryName(const char* partName, const char* caller, char** entryName);
/* Resolves a reference taken from referringPart (a relative one against the referring part's
   folder) into a new absolute part name (kvng_internal_free); same results as above. */
MONO_API int XPSResolvePartName(const char* referringPart, const char* reference, const char* caller, char** partName);

#ifdef __cplusplus
}
#endif

#endif
