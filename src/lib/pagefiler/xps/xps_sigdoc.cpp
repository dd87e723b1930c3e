// The XML-DSig signature document of an unpacked XPS package (ECMA-376 Part 2, Digital
// Signatures): SignedInfo signs one package Object whose Manifest holds a Reference per signed
// part and whose SignatureProperties hold the signing time. Also the input callbacks that read a
// part stored as interleaved pieces as one stream.

// xmlsec1 headers need its base header first.
#include <xmlsec/xmlsec.h>

#include <libxml/parser.h>
#include <libxml/xmlreader.h>
#include <xmlsec/errors.h>
#include <xmlsec/openssl/crypto.h>
#include <xmlsec/templates.h>
#include <xmlsec/xmltree.h>

#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include "kvng.h"
#include "kvng_dir.h"
#include "kvng_hdr.h"
#include "kvng_io.h"
#include "kvng_print.h"
#include "kvng_sb.h"
#include "xps_names.h"
#include "xps_opcrel.h"
#include "xps_sign.h"
#include "xps_sign_internal.h"

namespace {

constexpr char fixed_document_type[] = "application/vnd.ms-package.xps-fixeddocument+xml";
constexpr char fixed_page_type[] = "application/vnd.ms-package.xps-fixedpage+xml";
constexpr char sequence_part[] = "/FixedDocumentSequence.fdseq";
constexpr char object_type[] = "http://www.w3.org/2000/09/xmldsig#Object";

// Relationship types whose relationships, and whose targets, are signed, per kind of source
// part (the XPS 1.0 specification's signing policy).
constexpr char rel_fixed_representation[] = "http://schemas.microsoft.com/xps/2005/06/fixedrepresentation";
constexpr char rel_core_properties[] =
    "http://schemas.openxmlformats.org/package/2006/relationships/metadata/core-properties";
constexpr char rel_thumbnail[] = "http://schemas.openxmlformats.org/package/2006/relationships/metadata/thumbnail";
constexpr char rel_signature_definitions[] = "http://schemas.microsoft.com/xps/2005/06/signature-definitions";
constexpr char rel_restricted_font[] = "http://schemas.microsoft.com/xps/2005/06/restricted-font";
constexpr char rel_document_structure[] = "http://schemas.microsoft.com/xps/2005/06/documentstructure";
constexpr char rel_required_resource[] = "http://schemas.microsoft.com/xps/2005/06/required-resource";
constexpr char rel_story_fragments[] = "http://schemas.microsoft.com/xps/2005/06/storyfragments";

constexpr const char* pkg_rel_types[] = {rel_fixed_representation, rel_core_properties, rel_thumbnail, nullptr};
constexpr const char* fdseq_rel_types[] = {rel_thumbnail, nullptr};
constexpr const char* fdoc_rel_types[] = {rel_signature_definitions, rel_restricted_font, rel_document_structure,
                                          rel_thumbnail, nullptr};
constexpr const char* fpage_rel_types[] = {rel_required_resource, rel_story_fragments, rel_thumbnail, nullptr};

// A part stored as pieces is joined in memory; beyond this it is refused rather than letting a
// folder of pieces take all memory. Far above any XML part of a page document.
constexpr size_t max_joined_part = size_t{256} << 20;
constexpr int piece_read = 2048;

const xmlChar* X(const char* text) { return reinterpret_cast<const xmlChar*>(text); }
const char* C(const xmlChar* text) { return reinterpret_cast<const char*>(text); }

// a + b on the libxml2 heap, or null.
char* concat(const char* a, const char* b, const char* c = "", const char* d = "") {
  const size_t la = std::strlen(a), lb = std::strlen(b), lc = std::strlen(c), ld = std::strlen(d);
  auto* out = static_cast<char*>(xmlMalloc(la + lb + lc + ld + 1));
  if (!out) return nullptr;
  std::memcpy(out, a, la);
  std::memcpy(out + la, b, lb);
  std::memcpy(out + la + lb, c, lc);
  std::memcpy(out + la + lb + lc, d, ld);
  out[la + lb + lc + ld] = 0;
  return out;
}

// The file of a part below root: root + part when that exists, else, segment by segment, the
// entry of each folder whose name is the segment without regard to ASCII case, as OPC compares
// part names; a segment that matches nothing is kept as written (the read then fails naming
// it). New text on the libxml2 heap, or null.
char* part_file(const char* root, const char* part) {
  std::string path = std::string(root) + part;
  if (KVngIdentifyFile(path.c_str()) != KVNG_PATH_NONE) return concat(path.c_str(), "");
  path = root;
  for (const char* at = part; *at;) {
    if (*at == '/') {
      ++at;
      continue;
    }
    const char* end = std::strchr(at, '/');
    const std::string segment(at, end ? static_cast<size_t>(end - at) : std::strlen(at));
    std::string next = path + "/" + segment;
    char** names = nullptr;
    int32_t count = 0;
    // A folder that is not there holds no name to match, and is no failure to report yet.
    if (KVngIdentifyFile(next.c_str()) == KVNG_PATH_NONE && KVngIdentifyFile(path.c_str()) == KVNG_PATH_DIRECTORY &&
        KVngListDir(path.c_str(), &names, &count)) {
      for (int32_t i = 0; i < count; ++i) {
        if (XPSPartNamesEqual(names[i], segment.c_str())) {
          next = path + "/" + names[i];
          break;
        }
      }
      KVngFreeDirList(names, count);
    }
    path = next;
    at += segment.size();
  }
  return concat(path.c_str(), "");
}

// The URI under which xmlsec1 reads the file root + part. xmlsec1 takes what follows a '#' as
// an XPointer and unescapes a URI before it opens it: '%', '#' and '?' are escaped, so a folder
// such as "scans #3" is read as named. New text on the libxml2 heap, or null.
char* reference_uri(const char* root, const char* part) {
  const size_t length = std::strlen(root) + std::strlen(part);
  auto* out = static_cast<char*>(xmlMalloc(3 * length + 1));
  if (!out) return nullptr;
  char* at = out;
  for (const char* text : {root, part}) {
    for (const char* p = text; *p; ++p) {
      if (*p == '%' || *p == '#' || *p == '?') {
        at += std::snprintf(at, 4, "%%%02X", static_cast<unsigned char>(*p));
      } else {
        *at++ = *p;
      }
    }
  }
  *at = 0;
  return out;
}

}  // namespace

char* xpssign::rels_part_name(const char* part) {
  const char* slash = std::strrchr(part, '/');
  if (!slash) return concat("/_rels/", part, ".rels");
  const size_t folder = static_cast<size_t>(slash - part);
  auto* out = static_cast<char*>(xmlMalloc(std::strlen(part) + 16));
  if (!out) return nullptr;
  std::snprintf(out, std::strlen(part) + 16, "%.*s/_rels/%s.rels", static_cast<int>(folder), part, slash + 1);
  return out;
}

namespace {

bool is_percent_escape_of(const char* p, const char* hex) {
  return p[0] == '%' && p[1] && p[2] && (p[1] | 0x20) == hex[0] && (p[2] | 0x20) == hex[1];
}

}  // namespace

char* xpssign::resolve_part_name(const char* base, const char* name, const char* who) {
  const char* why = nullptr;
  const char* first_slash = std::strchr(name, '/');
  const char* colon = std::strchr(name, ':');
  if (!*name) {
    why = "empty";
  } else if (std::strchr(name, '\\')) {
    why = "a backslash";
  } else if (colon && (!first_slash || colon < first_slash)) {
    why = "a scheme or drive";
  } else if (name[0] == '/' && name[1] == '/') {
    why = "a network path";
  } else if (std::strpbrk(name, "?#")) {
    why = "a query or fragment";
  }
  for (const char* p = name; !why && *p; ++p) {
    if (is_percent_escape_of(p, "2e") || is_percent_escape_of(p, "2f") || is_percent_escape_of(p, "5c")) {
      why = "an escaped dot, slash or backslash";
    }
  }
  for (const char* segment = name[0] == '/' ? name + 1 : name; !why; ++segment) {
    const char* end = std::strchr(segment, '/');
    const size_t length = end ? static_cast<size_t>(end - segment) : std::strlen(segment);
    if (length == 0 || (length == 1 && segment[0] == '.') || (length == 2 && !std::strncmp(segment, "..", 2))) {
      why = "an empty, \".\" or \"..\" segment";
    }
    if (!end) break;
    segment = end;
  }
  if (why) {
    KVngError("%s: Part name %s is refused (%s)\n", who, name, why);
    return nullptr;
  }
  char* out = nullptr;
  if (name[0] == '/') {
    out = concat(name, "");
  } else {
    const char* slash = std::strrchr(base, '/');
    const size_t folder = slash ? static_cast<size_t>(slash - base) + 1 : 0;
    out = static_cast<char*>(xmlMalloc(folder + std::strlen(name) + 2));
    if (out) {
      std::snprintf(out, folder + std::strlen(name) + 2, "%s%.*s%s", folder ? "" : "/", static_cast<int>(folder), base,
                    name);
    }
  }
  if (!out) KVngError("%s: Cannot create buffer for part name %s\n", who, name);
  return out;
}

namespace {

// The content type of a part: the first Override whose PartName is the part, or Default whose
// Extension is the part's, in document order. New text (xmlFree) or null.
xmlChar* content_type_of(xmlDocPtr types, const char* part) {
  const char* dot = std::strrchr(part, '.');
  const char* slash = std::strrchr(part, '/');
  const char* extension = dot && (!slash || dot > slash) ? dot + 1 : nullptr;
  xmlNodePtr root = xmlDocGetRootElement(types);
  for (xmlNodePtr node = root ? xmlSecGetNextElementNode(root->children) : nullptr; node;
       node = xmlSecGetNextElementNode(node->next)) {
    const bool override = xmlStrEqual(node->name, X("Override"));
    const bool by_default = xmlStrEqual(node->name, X("Default"));
    if (!override && !by_default) continue;
    xmlChar* key = xmlGetProp(node, X(override ? "PartName" : "Extension"));
    const bool match =
        key && (override ? XPSPartNamesEqual(C(key), part) : extension && XPSPartNamesEqual(C(key), extension));
    xmlFree(key);
    if (match) return xmlGetProp(node, X("ContentType"));
  }
  return nullptr;
}

const char* const* rel_types_of(const char* part) {
  if (!*part) return pkg_rel_types;
  const char* dot = std::strrchr(part, '.');
  if (!dot) return nullptr;
  if (XPSPartNamesEqual(dot + 1, "fdseq")) return fdseq_rel_types;
  if (XPSPartNamesEqual(dot + 1, "fdoc")) return fdoc_rel_types;
  if (XPSPartNamesEqual(dot + 1, "fpage")) return fpage_rel_types;
  return nullptr;
}

// Appends the bytes of file path to sb; false when it cannot be read or the part grows too big.
bool append_file(KVngSB* sb, const char* path) {
  KVngIO* io = KVngIO_FileName(path, "r");
  if (!io) return false;
  char buffer[piece_read];
  bool ok = true;
  for (;;) {
    const int64_t got = io->read(io, buffer, sizeof buffer);
    if (got <= 0) {
      ok = got == 0;
      break;
    }
    if (KVngSBBytesAvailable(sb) + static_cast<size_t>(got) > max_joined_part ||
        !KVngSBAppend(sb, buffer, static_cast<size_t>(got))) {
      ok = false;
      break;
    }
  }
  io->release(io);
  return ok;
}

int compare_names(const void* key, const void* entry) {
  return std::strcmp(static_cast<const char*>(key), *static_cast<char* const*>(entry));
}

// The pieces of the part in folder path, joined in piece order: "[0].piece", "[1].piece" ...
// the last one named "[n].last.piece". The folder holds nothing else. Null on failure.
KVngSB* join_pieces(const char* path) {
  char** names = nullptr;
  int32_t count = 0;
  if (!KVngListDir(path, &names, &count)) return nullptr;
  KVngSB* sb = KVngSBNew();
  const size_t name_size = std::strlen(path) + 64;
  auto* name = static_cast<char*>(xmlMalloc(name_size));
  bool ok = sb && name;
  for (int32_t i = 0; ok && i < count; ++i) {
    char piece[48];
    std::snprintf(piece, sizeof piece, "[%d].piece", static_cast<int>(i));
    if (!std::bsearch(piece, names, static_cast<size_t>(count), sizeof(char*), compare_names)) {
      std::snprintf(piece, sizeof piece, "[%d].last.piece", static_cast<int>(i));
      ok = std::bsearch(piece, names, static_cast<size_t>(count), sizeof(char*), compare_names) != nullptr;
    }
    if (ok) {
      std::snprintf(name, name_size, "%s/%s", path, piece);
      ok = append_file(sb, name);
    }
  }
  xmlFree(name);
  KVngFreeDirList(names, count);
  if (!ok) {
    KVngSBFree(sb);
    return nullptr;
  }
  return sb;
}

bool has_dtd(xmlDocPtr doc) { return doc->intSubset || doc->extSubset; }

}  // namespace

namespace xpssign {

namespace {

std::string g_package;

// The real path of an existing name; empty when it cannot be resolved.
std::string real_path(const char* path) {
  char* resolved = realpath(path, nullptr);
  std::string out = resolved ? resolved : "";
  std::free(resolved);
  return out;
}

bool under_package(const std::string& real) {
  return !real.empty() && (real == g_package || real.compare(0, g_package.size() + 1, g_package + "/") == 0);
}

}  // namespace

bool set_package(const char* root) {
  g_package = real_path(root);
  return !g_package.empty();
}

void clear_package() { g_package.clear(); }

bool inside_package(const char* path) { return g_package.empty() || under_package(real_path(path)); }

bool may_write(const char* path) {
  if (g_package.empty()) return true;
  std::string folder = path;
  const size_t slash = folder.rfind('/');
  folder = slash == std::string::npos ? "." : folder.substr(0, slash == 0 ? 1 : slash);
  struct stat st {};
  return under_package(real_path(folder.c_str())) && !(lstat(path, &st) == 0 && S_ISLNK(st.st_mode));
}

bool make_folder(const char* path) {
  const std::string whole = path;
  for (size_t at = whole.find('/', 1);; at = whole.find('/', at + 1)) {
    const std::string prefix = at == std::string::npos ? whole : whole.substr(0, at);
    struct stat st {};
    if (lstat(prefix.c_str(), &st) != 0) break;
    // Only what lies below the package's own folder is checked: the folders above it are the
    // caller's.
    const std::string real = real_path(prefix.c_str());
    if (!g_package.empty() && g_package.compare(0, real.size(), real) != 0 && !under_package(real)) {
      KVngError("__XPSDSigWriteSignature: refusing %s: it leads outside the package %s\n", prefix.c_str(),
                g_package.c_str());
      return false;
    }
    if (at == std::string::npos) break;
  }
  return KVngMkDir(path, 1) == 1 && inside_package(path);
}

xmlDocPtr parse_part(const char* path) {
  if (!inside_package(path)) {
    KVngError("refusing %s: its real path lies outside the package %s\n", path, g_package.c_str());
    return nullptr;
  }
  if (KVngIdentifyFile(path) == KVNG_PATH_DIRECTORY) return __xmlParseDir(path);
  xmlDocPtr doc = xmlReadFile(path, nullptr, XML_PARSE_NONET | XML_PARSE_NOWARNING | XML_PARSE_NOERROR);
  if (doc && has_dtd(doc)) {
    xmlFreeDoc(doc);
    return nullptr;
  }
  return doc;
}

bool write_text(const char* path, const void* text, size_t length) {
  if (!may_write(path)) {
    KVngError("refusing to write %s: it leads outside the package %s\n", path, g_package.c_str());
    return false;
  }
  KVngIO* io = KVngIO_FileName(path, "w");
  if (!io) return false;
  const bool written = io->write(io, text, static_cast<int64_t>(length)) == static_cast<int64_t>(length);
  const bool closed = io->close(io) == 0;
  io->release(io);
  return written && closed;
}

bool write_document(xmlDocPtr doc, const char* path, const char* who) {
  xmlChar* text = nullptr;
  int length = 0;
  xmlDocDumpMemory(doc, &text, &length);
  if (!text || __XPSDSigStripNewlinesStr(&text, &length) != 0) {
    KVngError("%s: Cannot strip newlines from XML document string\n", who);
    xmlFree(text);
    return false;
  }
  const bool ok = write_text(path, text, static_cast<size_t>(length));
  xmlFree(text);
  if (!ok) KVngError("%s: Cannot write %s\n", who, path);
  return ok;
}

}  // namespace xpssign

int __XPSDSigStripNewlinesStr(xmlChar** text, int* length) {
  if (!text || !*text || !**text) return -1;
  const size_t size = std::strlen(C(*text));
  auto* copy = static_cast<xmlChar*>(xmlMalloc(size + 1));
  if (!copy) return -1;
  size_t kept = 0;
  for (size_t i = 0; i < size; ++i) {
    if ((*text)[i] != '\n') copy[kept++] = (*text)[i];
  }
  std::memset(copy + kept, 0, size + 1 - kept);
  xmlFree(*text);
  *text = copy;
  if (length) *length = static_cast<int>(kept);
  return 0;
}

int __xmlDirMatch(const char* name) {
  return name && KVngIdentifyFile(name) == KVNG_PATH_DIRECTORY && xpssign::inside_package(name) ? 1 : 0;
}

void* __xmlDirOpen(const char* name) { return name ? join_pieces(name) : nullptr; }

int __xmlDirRead(void* context, char* buffer, int length) {
  if (!context || !buffer || length < 0) return -1;
  return static_cast<int>(KVngSBRead(static_cast<KVngSB*>(context), buffer, static_cast<size_t>(length)));
}

int __xmlDirClose(void* context) {
  if (!context) return -1;
  KVngSBFree(static_cast<KVngSB*>(context));
  return 0;
}

// Reads the first node and its subtree, as a pull reader does: a content-types part stored as
// pieces is read with "</Types>" after its pieces, and whatever follows the root is not read.
xmlDocPtr __xmlParseDir(const char* path) {
  if (!path) return nullptr;
  KVngSB* sb = join_pieces(path);
  if (!sb) return nullptr;
  if (std::strstr(path, "/[Content_Types].xml") && !KVngSBAppend(sb, "</Types>", 8)) {
    KVngSBFree(sb);
    return nullptr;
  }
  size_t size = 0;
  const unsigned char* data = KVngSBData(sb, &size);
  xmlDocPtr doc = nullptr;
  if (size <= static_cast<size_t>(INT32_MAX)) {
    xmlTextReaderPtr reader = xmlReaderForMemory(reinterpret_cast<const char*>(data), static_cast<int>(size), path,
                                                 nullptr, XML_PARSE_NONET | XML_PARSE_NOWARNING | XML_PARSE_NOERROR);
    if (reader && xmlTextReaderRead(reader) == 1 && xmlTextReaderNodeType(reader) == XML_READER_TYPE_ELEMENT &&
        xmlTextReaderExpand(reader)) {
      doc = xmlTextReaderCurrentDoc(reader);
    }
    xmlFreeTextReader(reader);
  }
  KVngSBFree(sb);
  if (doc && has_dtd(doc)) {
    xmlFreeDoc(doc);
    return nullptr;
  }
  return doc;
}

namespace {

// Registers a Reference processed just now with the signature context, which keeps its result.
int process_reference(xmlSecDSigCtxPtr dsigCtx, xmlNodePtr reference, const char* who, const char* create_message) {
  xmlSecDSigReferenceCtxPtr refCtx = xmlSecDSigReferenceCtxCreate(dsigCtx, xmlSecDSigReferenceOriginManifest);
  if (!refCtx) {
    KVngError(create_message, who);
    return -1;
  }
  if (xmlSecPtrListAdd(&dsigCtx->manifestReferences, refCtx) < 0) {
    xmlSecDSigReferenceCtxDestroy(refCtx);
    KVngError("%s: Cannot add reference context to manifest refs\n", who);
    return -1;
  }
  if (xmlSecDSigReferenceCtxProcessNode(refCtx, reference) < 0) {
    KVngError("%s: Cannot process Reference node\n", who);
    return -1;
  }
  return 0;
}

// The URI that stays in the signature: part name and content type.
int set_uri(xmlNodePtr reference, const char* part, const char* content_type, const char* who) {
  char* uri = concat(part, "?ContentType=", content_type);
  if (!uri) {
    KVngError("%s: Cannot create buffer for relative uri\n", who);
    return -1;
  }
  const bool ok = xmlSetProp(reference, X("URI"), X(uri)) != nullptr;
  xmlFree(uri);
  if (!ok) KVngError("%s: Cannot set the URI of a reference\n", who);
  return ok ? 0 : -1;
}

// Adds every target of a signed relationship type in the relationships part at rels_path.
// Relationships to outside the package (TargetMode External) name no part and are signed only
// as relationships.
int add_rels_target_refs(xmlSecDSigCtxPtr dsigCtx, xmlNodePtr manifest, const char* rootPath, const char* part,
                         const char* rels_path, const char* const* types, xmlDocPtr contentTypes) {
  constexpr const char* who = "__XPSDSigAddRelsTargetRefs";
  xmlDocPtr rels = xpssign::parse_part(rels_path);
  if (!rels) {
    KVngError("%s: Cannot parse %s\n", who, rels_path);
    return -1;
  }
  int status = 0;
  xmlNodePtr root = xmlDocGetRootElement(rels);
  for (xmlNodePtr node = root ? xmlSecGetNextElementNode(root->children) : nullptr; node && status == 0;
       node = xmlSecGetNextElementNode(node->next)) {
    if (!xmlStrEqual(node->name, X("Relationship"))) continue;
    xmlChar* type = xmlGetProp(node, X("Type"));
    bool wanted = false;
    for (const char* const* t = types; type && *t && !wanted; ++t) wanted = !std::strcmp(C(type), *t);
    xmlFree(type);
    if (!wanted) continue;
    xmlChar* mode = xmlGetProp(node, X("TargetMode"));
    const bool external = mode && xmlStrEqual(mode, X("External"));
    xmlFree(mode);
    if (external) continue;
    xmlChar* target = xmlGetProp(node, X("Target"));
    char* name = target ? xpssign::resolve_part_name(*part ? part : "/", C(target), who) : nullptr;
    xmlChar* content_type = name ? content_type_of(contentTypes, name) : nullptr;
    if (!target) {
      KVngError("%s: A relationship in %s has no Target\n", who, rels_path);
    } else if (name && !content_type) {
      KVngError("%s: Part %s has no content type\n", who, name);
    }
    if (!content_type || __XPSDSigAddPartRef(dsigCtx, manifest, rootPath, name, C(content_type)) != 0) {
      KVngError("%s: Cannot add rel target reference to manifest\n", who);
      status = -1;
    }
    xmlFree(content_type);
    xmlFree(name);
    xmlFree(target);
  }
  xmlFreeDoc(rels);
  return status;
}

// Calls add with the Source of every child element named element of the part's root, resolved
// against the part, until one fails. 0, or -1 after a report.
template <typename Add>
int for_each_source(const char* rootPath, const char* part, const char* element, const char* who,
                    const char* buffer_message, Add add) {
  char* path = part_file(rootPath, part);
  if (!path) {
    KVngError(buffer_message, who);
    return -1;
  }
  xmlDocPtr doc = xpssign::parse_part(path);
  if (!doc) KVngError("%s: Cannot parse %s\n", who, path);
  xmlFree(path);
  if (!doc) return -1;
  int status = 0;
  xmlNodePtr root = xmlDocGetRootElement(doc);
  for (xmlNodePtr node = root ? xmlSecGetNextElementNode(root->children) : nullptr; node && status == 0;
       node = xmlSecGetNextElementNode(node->next)) {
    if (!xmlStrEqual(node->name, X(element))) continue;
    xmlChar* source = xmlGetProp(node, X("Source"));
    if (!source) KVngError("%s: A %s has no Source\n", who, element);
    char* name = source ? xpssign::resolve_part_name(part, C(source), who) : nullptr;
    status = name ? add(name) : -1;
    xmlFree(name);
    xmlFree(source);
  }
  xmlFreeDoc(doc);
  return status;
}

// Adds the pages of the FixedDocument part fdoc, each followed by its relationships.
int add_page_refs(xmlSecDSigCtxPtr dsigCtx, xmlNodePtr manifest, const char* rootPath, const char* fdoc,
                  xmlDocPtr contentTypes) {
  constexpr const char* who = "__XPSDSigAddPageRefs";
  return for_each_source(rootPath, fdoc, "PageContent", who, "%s: Cannot create buffer for full fdoc uri\n",
                         [&](const char* page) {
                           if (__XPSDSigAddPartRef(dsigCtx, manifest, rootPath, page, fixed_page_type) != 0) {
                             KVngError("%s: Cannot add fpage reference to manifest\n", who);
                             return -1;
                           }
                           if (__XPSDSigAddPartRelRef(dsigCtx, manifest, rootPath, page, contentTypes) != 0) {
                             KVngError("%s: Cannot add fpage.rels reference to manifest\n", who);
                             return -1;
                           }
                           return 0;
                         });
}

// Adds every FixedDocument of the sequence: the document, its pages, its relationships.
int add_document_refs(xmlSecDSigCtxPtr dsigCtx, xmlNodePtr manifest, const char* rootPath, xmlDocPtr contentTypes) {
  constexpr const char* who = "__XPSDSigAddDocumentRefs";
  return for_each_source(rootPath, sequence_part, "DocumentReference", who,
                         "%s: Cannot create buffer for full fdseq uri\n", [&](const char* fdoc) {
                           if (__XPSDSigAddPartRef(dsigCtx, manifest, rootPath, fdoc, fixed_document_type) != 0) {
                             KVngError("%s: Cannot add fdoc reference to manifest\n", who);
                             return -1;
                           }
                           if (add_page_refs(dsigCtx, manifest, rootPath, fdoc, contentTypes) != 0) {
                             KVngError("%s: Cannot add fpage references to manifest\n", who);
                             return -1;
                           }
                           if (__XPSDSigAddPartRelRef(dsigCtx, manifest, rootPath, fdoc, contentTypes) != 0) {
                             KVngError("%s: Cannot add fdoc.rels reference to manifest\n", who);
                             return -1;
                           }
                           return 0;
                         });
}

// "[Content_Types].xml" with an Override that gives the SignatureDefinitions part its content
// type; the override lives in memory only.
xmlDocPtr load_content_types(const char* rootPath) {
  constexpr const char* who = "__XPSDSigLoadContentTypes";
  char* path = part_file(rootPath, "/[Content_Types].xml");
  if (!path) {
    KVngError("%s: Cannot create buffer for content types path\n", who);
    return nullptr;
  }
  xmlDocPtr doc = xpssign::parse_part(path);
  xmlFree(path);
  xmlNodePtr root = doc ? xmlDocGetRootElement(doc) : nullptr;
  xmlNodePtr added = root ? xmlSecAddChild(root, X("Override"), nullptr) : nullptr;
  if (!added || !xmlSetProp(added, X("PartName"), X(xpssign::sigdefs_part)) ||
      !xmlSetProp(added, X("ContentType"), X("application/xml"))) {
    if (doc) KVngError("%s: Cannot add node to content type document\n", who);
    xmlFreeDoc(doc);
    return nullptr;
  }
  return doc;
}

xmlNodePtr add_text_child(xmlNodePtr parent, const char* name, const char* ns, const char* content) {
  xmlNodePtr node = xmlSecAddChild(parent, X(name), ns ? X(ns) : nullptr);
  if (node && content) xmlNodeAddContent(node, X(content));
  return node;
}

int add_signature_properties(xmlNodePtr object, const char* signatureId, int noTimestamp) {
  constexpr const char* who = "__XPSDSigAddSignatureProperties";
  char value[256];
  if (noTimestamp) {
    std::snprintf(value, sizeof value, "%s", "2007-01-01T00:00:00Z");
  } else {
    const std::time_t now = std::time(nullptr);
    std::tm utc{};
    if (now == static_cast<std::time_t>(-1) || !gmtime_r(&now, &utc) ||
        !std::strftime(value, sizeof value, "%Y-%m-%dT%H:%M:%SZ", &utc)) {
      KVngError("%s: Cannot get current datetime\n", who);
      KVngError("%s: Cannot add signature properties to object\n", who);
      return -1;
    }
  }
  const char* failed = nullptr;
  char target[512];
  std::snprintf(target, sizeof target, "#%s", signatureId);
  xmlNodePtr properties = xmlSecAddChild(object, X("SignatureProperties"), xmlSecDSigNs);
  xmlNodePtr property = properties ? xmlSecAddChild(properties, X("SignatureProperty"), xmlSecDSigNs) : nullptr;
  xmlNodePtr time = nullptr;
  if (!properties) {
    failed = "%s: Cannot add SignatureProperties node\n";
  } else if (!property || !xmlSetProp(property, X("Id"), X("idSignatureTime")) ||
             !xmlSetProp(property, X("Target"), X(target))) {
    failed = "%s: Cannot add SignatureProperty node\n";
  } else if (!(time = xmlSecAddChild(property, X("SignatureTime"), qelOpcDSigNs))) {
    failed = "%s: Cannot add SignatureTime node\n";
  } else if (!add_text_child(time, "Format", nullptr, "YYYY-MM-DDThh:mm:ssTZD")) {
    failed = "%s: Cannot add Format node\n";
  } else if (!add_text_child(time, "Value", nullptr, value)) {
    failed = "%s: Cannot add Value node\n";
  }
  if (failed) {
    KVngError(failed, who);
    KVngError("%s: Cannot add signature properties to object\n", who);
    return -1;
  }
  return 0;
}

// The template without its references: Signature, SignedInfo with the one Reference to the
// package Object, the Object with its Manifest. Null after a report.
xmlDocPtr create_template(const char* signatureId, xmlNodePtr* manifest_out, xmlNodePtr* object_out) {
  constexpr const char* who = "__XPSDSigWriteXmlSignature";
  xmlDocPtr doc = xmlNewDoc(X("1.0"));
  if (!doc) {
    KVngError("%s: Cannot create XML document for signature template\n", who);
    return nullptr;
  }
  doc->standalone = 1;
  doc->encoding = xmlStrdup(X("utf-8"));
  xmlNodePtr signature =
      xmlSecTmplSignatureCreate(doc, xmlSecTransformInclC14NId, xmlSecOpenSSLTransformRsaSha1Id, X(signatureId));
  if (!signature) {
    KVngError("%s: Cannot create signature template\n", who);
    xmlFreeDoc(doc);
    return nullptr;
  }
  xmlDocSetRootElement(doc, signature);
  if (!xmlSecTmplSignatureAddReference(signature, xmlSecOpenSSLTransformSha1Id, nullptr, X("#idPackageObject"),
                                       X(object_type))) {
    KVngError("%s: Cannot add reference to signature template\n", who);
    xmlFreeDoc(doc);
    return nullptr;
  }
  xmlNodePtr object = xmlSecTmplSignatureAddObject(signature, X("idPackageObject"), nullptr, nullptr);
  xmlNodePtr manifest = object ? xmlSecTmplObjectAddManifest(object, nullptr) : nullptr;
  if (!manifest || !xmlSetProp(manifest, X("xmlns:opc"), qelOpcDSigNs)) {
    KVngError("%s: Cannot add object node to signature template\n", who);
    xmlFreeDoc(doc);
    return nullptr;
  }
  *manifest_out = manifest;
  *object_out = object;
  return doc;
}

// Serialises doc without line feeds (xmlsec1 indents with them) and parses it again, so that the
// prefixed names of the template become namespaced elements before anything is signed.
xmlDocPtr reparse(xmlDocPtr doc) {
  xmlChar* text = nullptr;
  int length = 0;
  xmlDocDumpMemory(doc, &text, &length);
  xmlDocPtr again = nullptr;
  if (text && __XPSDSigStripNewlinesStr(&text, &length) == 0) {
    again = xmlReadMemory(C(text), length, nullptr, nullptr, XML_PARSE_NONET);
  }
  xmlFree(text);
  return again;
}

}  // namespace

int __XPSDSigAddPartRef(xmlSecDSigCtxPtr dsigCtx, xmlNodePtr manifest, const char* rootPath, const char* partName,
                        const char* contentType) {
  constexpr const char* who = "__XPSDSigAddPartRef";
  if (!dsigCtx || !manifest || !rootPath || !partName || !contentType) {
    KVngError("%s: Missing argument\n", who);
    return -1;
  }
  char* file = part_file(rootPath, partName);
  if (file && KVngIdentifyFile(file) == KVNG_PATH_NONE) {
    KVngError("%s: Part %s is not in the package\n", who, partName);
    xmlFree(file);
    return -1;
  }
  char* path = file ? reference_uri(file, "") : nullptr;
  xmlFree(file);
  if (!path) {
    KVngError("%s: Cannot create buffer for full uri\n", who);
    return -1;
  }
  xmlNodePtr reference =
      xmlSecTmplManifestAddReference(manifest, xmlSecOpenSSLTransformSha1Id, nullptr, X(path), nullptr);
  xmlFree(path);
  if (!reference) {
    KVngError("%s: Cannot add reference to manifest\n", who);
    return -1;
  }
  if (process_reference(dsigCtx, reference, who, "%s: Cannot create reference context for manifest\n") != 0) {
    return -1;
  }
  return set_uri(reference, partName, contentType, who);
}

int __XPSDSigAddPartRelRef(xmlSecDSigCtxPtr dsigCtx, xmlNodePtr manifest, const char* rootPath, const char* partName,
                           xmlDocPtr contentTypes) {
  constexpr const char* who = "__XPSDSigAddPartRelRef";
  if (!dsigCtx || !manifest || !rootPath || !partName || !contentTypes) {
    KVngError("%s: Missing argument\n", who);
    return -1;
  }
  const char* const* types = rel_types_of(partName);
  if (!types) {
    KVngError("%s: Invalid part name %s\n", who, partName);
    return -1;
  }
  char* rels = xpssign::rels_part_name(partName);
  char* path = rels ? part_file(rootPath, rels) : nullptr;
  char* uri = path ? reference_uri(path, "") : nullptr;
  if (!path || !uri) {
    xmlFree(path);
    xmlFree(uri);
    KVngError("%s: Cannot create rels uri for %s\n", who, partName);
    xmlFree(rels);
    return -1;
  }
  // A part that names nothing has no relationships part (other writers leave it out for pages
  // without resources): there are no relationships to sign. The package's own are required.
  if (*partName && KVngIdentifyFile(path) == KVNG_PATH_NONE) {
    xmlFree(uri);
    xmlFree(path);
    xmlFree(rels);
    return 0;
  }
  int status = -1;
  xmlNodePtr reference =
      xmlSecTmplManifestAddReference(manifest, xmlSecOpenSSLTransformSha1Id, nullptr, X(uri), nullptr);
  xmlNodePtr transform = reference ? xmlSecTmplReferenceAddTransform(reference, qelTransformRelsGetKlass()) : nullptr;
  bool grouped = transform != nullptr;
  for (const char* const* t = types; grouped && *t; ++t) {
    grouped = qelTmplRelsTransformAddGroupReference(transform, X(*t)) != nullptr;
  }
  if (!reference) {
    KVngError("%s: Cannot add reference to manifest\n", who);
  } else if (!grouped) {
    KVngError("%s: Cannot add Relationship transform to reference\n", who);
  } else if (!xmlSecTmplReferenceAddTransform(reference, xmlSecTransformInclC14NId)) {
    KVngError("%s: Cannot add C14N transform to reference\n", who);
  } else if (process_reference(dsigCtx, reference, who, "%s: Cannot create reference context\n") == 0 &&
             set_uri(reference, rels, xpssign::rels_content_type, who) == 0) {
    // A target that cannot be signed fails the signature: a signature that leaves out a part
    // the document needs would prove less than it claims.
    status = add_rels_target_refs(dsigCtx, manifest, rootPath, partName, path, types, contentTypes);
    if (status != 0) KVngError("%s: Cannot add rels target references to manifest\n", who);
  }
  xmlFree(uri);
  xmlFree(path);
  xmlFree(rels);
  return status;
}

int __XPSDSigWriteXmlSignature(const char* path, xmlSecDSigCtxPtr dsigCtx, const char* rootPath,
                               const char* signatureId, int noTimestamp) {
  constexpr const char* who = "__XPSDSigWriteXmlSignature";
  if (!path || !dsigCtx || !rootPath || !signatureId) {
    KVngError("%s: Missing argument\n", who);
    return -1;
  }
  xmlDocPtr types = load_content_types(rootPath);
  if (!types) {
    KVngError("%s: Cannot load content types\n", who);
    return 0;
  }
  xmlNodePtr manifest = nullptr;
  xmlNodePtr object = nullptr;
  xmlDocPtr doc = create_template(signatureId, &manifest, &object);
  int status = doc ? 0 : -1;
  if (status == 0 && __XPSDSigAddPartRelRef(dsigCtx, manifest, rootPath, "", types) != 0) {
    KVngError("%s: Cannot add package rels reference to manifest\n", who);
    status = -1;
  }
  if (status == 0 && __XPSDSigAddPartRelRef(dsigCtx, manifest, rootPath, sequence_part, types) != 0) {
    KVngError("%s: Cannot add fdseq rels reference to manifest\n", who);
    status = -1;
  }
  if (status == 0 && add_document_refs(dsigCtx, manifest, rootPath, types) != 0) {
    KVngError("%s: Cannot add document/page references to manifest\n", who);
    status = -1;
  }
  xmlFreeDoc(types);
  if (status == 0 && add_signature_properties(object, signatureId, noTimestamp) != 0) status = -1;
  xmlDocPtr signed_doc = nullptr;
  if (status == 0) {
    signed_doc = reparse(doc);
    if (!signed_doc) {
      KVngError("%s: Cannot strip newlines from signature template\n", who);
      status = -1;
    }
  }
  xmlFreeDoc(doc);
  if (status == 0) {
    // The manifest's references were digested as they were added.
    dsigCtx->flags |= XMLSEC_DSIG_FLAGS_IGNORE_MANIFESTS;
    if (xmlSecDSigCtxSign(dsigCtx, xmlDocGetRootElement(signed_doc)) < 0) {
      KVngError("%s: Cannot sign template\n", who);
      status = -1;
    }
  }
  xmlChar* text = nullptr;
  int length = 0;
  if (status == 0) {
    xmlDocDumpMemory(signed_doc, &text, &length);
    if (!text || __XPSDSigStripNewlinesStr(&text, &length) != 0) {
      KVngError("%s: Cannot strip newlines from signature string\n", who);
      status = -1;
    }
  }
  xmlFreeDoc(signed_doc);
  if (status != 0) {
    xmlFree(text);
    return -1;
  }
  const bool written = xpssign::write_text(path, text, static_cast<size_t>(length));
  xmlFree(text);
  if (!written) KVngError("%s: Cannot write %s\n", who, path);
  return written ? 1 : 0;
}
