#ifndef XPS_SIGN_INTERNAL_H
#define XPS_SIGN_INTERNAL_H

// What the signature document and the signing method share.

#include <libxml/tree.h>

#include <cstddef>

namespace xpssign {

// Published OPC and XPS identifiers (ECMA-376 Part 2; the XPS 1.0 specification).
inline constexpr char rels_ns[] = "http://schemas.openxmlformats.org/package/2006/relationships";
inline constexpr char rels_content_type[] = "application/vnd.openxmlformats-package.relationships+xml";
inline constexpr char rel_signature[] =
    "http://schemas.openxmlformats.org/package/2006/relationships/digital-signature/signature";
inline constexpr char rel_certificate[] =
    "http://schemas.openxmlformats.org/package/2006/relationships/digital-signature/certificate";
inline constexpr char sigdefs_ns[] = "http://schemas.microsoft.com/xps/2005/06/signature-definitions";
inline constexpr char sigdefs_part[] = "/xmls/xml_1.xaml";

// The relationships part of a part: "/Documents/1/FixedDocument.fdoc" gives
// "/Documents/1/_rels/FixedDocument.fdoc.rels", the package ("") gives "/_rels/.rels". New text
// on the libxml2 heap, or null.
char* rels_part_name(const char* part);

// A name taken from the package (a relationship Target, a Source) as an absolute part name
// inside the package root. A relative name is resolved against the folder of the part that
// names it (ECMA-376 Part 2, resolving relative references). Refused, so that nothing outside
// the package is ever read: a scheme, drive or network form, backslashes, empty, "." and ".."
// segments (plain or percent-encoded), queries and fragments. New text on the libxml2 heap, or
// null after a report.
char* resolve_part_name(const char* base, const char* name, const char* who);

// Parses a part of the package: a folder of pieces or a file. Nothing is fetched from the
// network, no entity is substituted, and a part that carries a DTD is refused (OPC allows none
// in its XML parts, ECMA-376 Part 2). Null on failure.
xmlDocPtr parse_part(const char* path);

// Writes length bytes to path; true when all of them reached the file.
bool write_text(const char* path, const void* text, size_t length);

// The package folder of a signing run (its real path); while it is set, parts are read and
// written only where their real path lies inside it, never through a link that leaves it.
bool set_package(const char* root);
void clear_package();
// Whether an existing file or folder lies inside the package (always, outside a signing run).
bool inside_package(const char* path);
// Whether path may be written: its folder lies inside the package and path is no link.
bool may_write(const char* path);
// Makes a folder and those above it, none of the existing ones a link out of the package.
bool make_folder(const char* path);

// Dumps doc, strips its line feeds and writes it to path; false after a report (under who).
bool write_document(xmlDocPtr doc, const char* path, const char* who);

}  // namespace xpssign

#endif
