// XPSDSigMakeSignature: signs an unpacked XPS package with the key of a PKCS#12 file and writes
// the signature's parts: the origin and its relationships, the certificate, the signature
// definitions, the signature and its relationships (ECMA-376 Part 2, Digital Signatures).

#include "xps_sign.h"

// xmlsec1 headers need its base header first.
#include <xmlsec/xmlsec.h>

#include <libxml/parser.h>
#include <libxml/xmlIO.h>
#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/provider.h>
#include <openssl/x509.h>
#include <xmlsec/app.h>
#include <xmlsec/errors.h>
#include <xmlsec/io.h>
#include <xmlsec/openssl/app.h>
#include <xmlsec/openssl/crypto.h>
#include <xmlsec/openssl/x509.h>
#include <xmlsec/parser.h>
#include <xmlsec/xmltree.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include <sys/stat.h>

#include "kvng.h"
#include "kvng_dir.h"
#include "kvng_print.h"
#include "qel_uuid.h"
#include "xps_names.h"
#include "xps_opcrel.h"
#include "xps_sign_internal.h"

namespace {

constexpr char method[] = "XPSDSigMakeSignature";

constexpr char dir_package[] = "/package";
constexpr char dir_services[] = "/package/services";
constexpr char dir_signature[] = "/package/services/digital-signature";
constexpr char dir_signature_rels[] = "/package/services/digital-signature/_rels";
constexpr char dir_xml_signature[] = "/package/services/digital-signature/xml-signature";
constexpr char dir_xml_signature_rels[] = "/package/services/digital-signature/xml-signature/_rels";
constexpr char dir_certificate[] = "/package/services/digital-signature/certificate";
constexpr char dir_xmls[] = "/xmls";

const xmlChar* X(const char* text) { return reinterpret_cast<const xmlChar*>(text); }

int fail_arguments(elf_state* state, const char* format) {
  return setStatus(state, QEL_STATUS_FAILED, QEL_SEVERITY_ERROR, format, method);
}

// What the libraries were set to before a run, given back at its end.
struct LibraryDefaults {
  int substitute_entities;
  int load_ext_dtd;
  int xmlsec_parser_options;
};

// A plain part: a regular file. libxml2's own file callbacks would take any name, a folder of
// pieces (read as empty) or a device among them.
// A part whose real path leaves the package (a link to a system file) is not read: its digest
// would sign what the package does not hold.
int part_file_match(const char* name) {
  if (KVngIdentifyFile(name) != KVNG_PATH_FILE) return 0;
  if (xpssign::inside_package(name)) return 1;
  KVngError("refusing %s: its real path lies outside the package\n", name);
  return 0;
}

// xmlsec1's reports trace a failure through its layers; the signing step reports the failure
// itself in words. The traces go to the engine's debug printer, which a program shows on request.
void trace_xmlsec(const char* file, int line, const char* func, const char* object, const char* subject, int reason,
                  const char* msg) {
  KVngDebug("xmlsec1: %s (%s:%d): %s: %s: reason %d: %s\n", func ? func : "", file ? file : "", line,
            object ? object : "", subject ? subject : "", reason, msg ? msg : "");
}

// Library setup for one run. Unlike a default setup, nothing is fetched from the network and
// no entity is substituted: the package is untrusted input. Only folders of pieces and local
// files can be opened as references.
bool setup_libraries(LibraryDefaults* saved) {
  constexpr const char* who = "__XPSDSigInit";
  xmlInitParser();
  saved->substitute_entities = xmlSubstituteEntitiesDefault(0);
  saved->load_ext_dtd = xmlLoadExtDtdDefaultValue;
  xmlLoadExtDtdDefaultValue = 0;
  const char* failed = nullptr;
  int stage = 0;
  xmlSecErrorsSetCallback(trace_xmlsec);
  if (xmlSecInit() < 0) {
    failed = "%s: XmlSec library initialization failed\n";
  } else if (++stage, xmlSecCheckVersionExt(1, 2, 11, xmlSecCheckVersionABICompatible) != 1) {
    failed = "%s: Loaded XmlSec library version is not compatible.\n";
  } else if (xmlSecOpenSSLAppInit(nullptr) < 0) {
    failed = "%s: Crypto initialization failed\n";
  } else if (++stage, xmlSecOpenSSLInit() < 0) {
    failed = "%s: Cannot initialize xmlsec-crypto\n";
  } else if (++stage, (xmlSecIOCleanupCallbacks(),
                       xmlSecIORegisterCallbacks(__xmlDirMatch, __xmlDirOpen, __xmlDirRead, __xmlDirClose) < 0 ||
                           xmlSecIORegisterCallbacks(part_file_match, xmlFileOpen, xmlFileRead, xmlFileClose) < 0)) {
    failed = "%s: Cannot register interleaved part callbacks\n";
  } else if (xmlSecTransformIdsRegister(qelTransformRelsGetKlass()) < 0) {
    failed = "%s: Cannot register relationship transform\n";
  }
  if (!failed) {
    // xmlsec1 has a relationship transform of its own under the same href, and looks a href up
    // from the front of its list: ours goes first.
    xmlSecPtrListPtr ids = xmlSecTransformIdsGet();
    const xmlSecSize size = xmlSecPtrListGetSize(ids);
    for (xmlSecSize i = size - 1; i > 0; --i) {
      if (xmlSecPtrListSet(ids, xmlSecPtrListGetItem(ids, i - 1), i) < 0) {
        failed = "%s: Cannot register relationship transform\n";
      }
    }
    if (!failed &&
        xmlSecPtrListSet(ids, const_cast<void*>(static_cast<const void*>(qelTransformRelsGetKlass())), 0) < 0) {
      failed = "%s: Cannot register relationship transform\n";
    }
  }
  // The crypto back end installs a reporter of its own while it starts.
  if (!failed) xmlSecErrorsSetCallback(trace_xmlsec);
  saved->xmlsec_parser_options = xmlSecParserGetDefaultOptions();
  xmlSecParserSetDefaultOptions(XML_PARSE_NONET | XML_PARSE_NODICT);
  if (!failed) return true;
  KVngError(failed, who);
  if (stage >= 3) xmlSecOpenSSLShutdown();
  if (stage >= 2) xmlSecOpenSSLAppShutdown();
  xmlSecErrorsSetCallback(xmlSecErrorsDefaultCallback);
  if (stage >= 1) xmlSecShutdown();
  xmlSecParserSetDefaultOptions(saved->xmlsec_parser_options);
  xmlSubstituteEntitiesDefault(saved->substitute_entities);
  xmlLoadExtDtdDefaultValue = saved->load_ext_dtd;
  return false;
}

void shutdown_libraries(const LibraryDefaults& saved) {
  xmlSecOpenSSLShutdown();
  xmlSecOpenSSLAppShutdown();
  xmlSecParserSetDefaultOptions(saved.xmlsec_parser_options);
  xmlSecErrorsSetCallback(xmlSecErrorsDefaultCallback);
  xmlSecShutdown();
  xmlSubstituteEntitiesDefault(saved.substitute_entities);
  xmlLoadExtDtdDefaultValue = saved.load_ext_dtd;
}

// A UUID as the text of an XML identifier: a leading digit d becomes 'a' + d mod 6, so the text
// starts with a letter (xml:id-like Ids may not start with a digit).
char* identifier_text(const QELUuid& uuid) {
  char* text = nullptr;
  if (!QELUuidToString(&uuid, QEL_UUID_FORM_LOWER, &text)) return nullptr;
  if (text[0] >= '0' && text[0] <= '9') text[0] = static_cast<char>('a' + (text[0] - '0') % 6);
  return text;
}

// The nil UUID plus n in its last eight bytes, taken as one big-endian number: the fixed,
// distinct ids of a run without timestamps.
QELUuid nil_plus(uint64_t n) {
  QELUuid uuid{};
  QELUuidCreateNil(&uuid);
  for (int i = 15; i >= 8; --i) {
    uuid.bytes[i] = static_cast<uint8_t>(n & 0xff);
    n >>= 8;
  }
  return uuid;
}

// Files written in this run, removed again when the run fails, so that a failed signing leaves
// no signature parts that look complete.
struct Written {
  char* paths[8] = {};
  int count = 0;
  std::vector<std::string> folders;

  bool add(char* path) {
    if (count == static_cast<int>(sizeof paths / sizeof paths[0])) return false;
    paths[count++] = path;
    return true;
  }
  void remove_all() {
    for (int i = 0; i < count; ++i) std::remove(paths[i]);
    for (auto folder = folders.rbegin(); folder != folders.rend(); ++folder) std::remove(folder->c_str());
  }
  ~Written() {
    for (int i = 0; i < count; ++i) xmlFree(paths[i]);
  }
};

char* path_of(const char* root, const char* folder, const char* name, const char* suffix) {
  const size_t size = std::strlen(root) + std::strlen(folder) + std::strlen(name) + std::strlen(suffix) + 3;
  auto* out = static_cast<char*>(xmlMalloc(size));
  if (out) std::snprintf(out, size, "%s%s/%s%s", root, folder, name, suffix);
  return out;
}

// A Relationships part with one Relationship (attributes in the order Target, Id, Type).
bool write_relationship(const char* path, const char* target, const char* id, const char* type, const char* who) {
  xmlDocPtr doc = xmlSecCreateTree(X("Relationships"), X(xpssign::rels_ns));
  bool ok = doc != nullptr;
  if (ok) {
    xmlFree(const_cast<xmlChar*>(doc->encoding));
    doc->encoding = xmlStrdup(X("utf-8"));
    xmlNodePtr rel = xmlSecAddChild(xmlDocGetRootElement(doc), X("Relationship"), nullptr);
    ok = rel && xmlSetProp(rel, X("Target"), X(target)) && xmlSetProp(rel, X("Id"), X(id)) &&
         xmlSetProp(rel, X("Type"), X(type));
  }
  if (!ok) KVngError("%s: Cannot create relationships document\n", who);
  ok = ok && xpssign::write_document(doc, path, who);
  xmlFreeDoc(doc);
  return ok;
}



// ---- The signer's key ----

// What xmlsec1 reported while a key was loaded: its trace stays out of the user's sight and
// only decides the one-line reason.
std::string key_trace;

void collect_key_trace(const char*, int, const char* func, const char*, const char* subject, int, const char* msg) {
  key_trace += std::string(func ? func : "") + " " + (subject ? subject : "") + " " + (msg ? msg : "") + "\n";
}

xmlSecKeyPtr try_key(const char* file, const char* password) {
  xmlSecErrorsSetCallback(collect_key_trace);
  xmlSecKeyPtr key = xmlSecOpenSSLAppKeyLoad(file, xmlSecKeyDataFormatPkcs12, password, nullptr, nullptr);
  // The rest of the run keeps its traces on the debug printer too.
  xmlSecErrorsSetCallback(trace_xmlsec);
  ERR_clear_error();
  return key;
}

// The signer's key and certificate from a PKCS#12 file. A file without a password is read
// without one being given; one protected with the legacy ciphers of older tools (RC2, 3DES)
// through OpenSSL's legacy provider when the plain read finds them unsupported. Null after one
// line naming the file and the reason.
xmlSecKeyPtr load_key(const char* file, const char* password, const char* who) {
  if (FILE* f = std::fopen(file, "rb")) {
    std::fclose(f);
  } else {
    KVngError("%s: Cannot load certificate/private key from \"%s\": %s\n", who, file, std::strerror(errno));
    return nullptr;
  }
  key_trace.clear();
  xmlSecKeyPtr key = try_key(file, password ? password : "");
  if (!key && key_trace.find("unsupported") != std::string::npos) {
    OSSL_PROVIDER* legacy = OSSL_PROVIDER_load(nullptr, "legacy");
    OSSL_PROVIDER* standard = legacy ? OSSL_PROVIDER_load(nullptr, "default") : nullptr;
    if (standard) {
      key_trace.clear();
      key = try_key(file, password ? password : "");
    }
    if (standard) OSSL_PROVIDER_unload(standard);
    if (legacy) OSSL_PROVIDER_unload(legacy);
  }
  if (key) return key;
  const char* reason = "not a PKCS#12 file holding a private key and its certificate";
  if (key_trace.find("PKCS12_verify_mac") != std::string::npos) {
    reason = password ? "the password is wrong" : "the file needs a password (--password)";
  } else if (key_trace.find("unsupported") != std::string::npos) {
    reason = "its encryption is not supported by this OpenSSL";
  }
  KVngError("%s: Cannot load certificate/private key from \"%s\": %s\n", who, file, reason);
  return nullptr;
}

// ---- Announcing the signature in the package ----
//
// Readers find signatures through the package relationships: a digital-signature origin
// relationship names the origin part, whose relationships name every signature (ECMA-376 Part
// 2, Digital Signatures). A signature also needs content types for its parts. Both are added to
// what the package holds as text, before the closing tag of its root, so the rest of the part
// keeps its bytes; the package relationships stay covered by every signature, because the
// relationship transform signs only the relationships of its chosen types, and the origin
// relationship is none of them.

constexpr char rel_origin[] =
    "http://schemas.openxmlformats.org/package/2006/relationships/digital-signature/origin";
constexpr char default_origin_part[] = "/package/services/digital-signature/origin.psdsor";

bool read_bytes(const std::string& path, std::string* bytes) {
  FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return false;
  bytes->clear();
  char buffer[8192];
  size_t got;
  while ((got = std::fread(buffer, 1, sizeof buffer, f)) > 0) bytes->append(buffer, got);
  const bool ok = !std::ferror(f);
  std::fclose(f);
  return ok;
}

// The file that holds a part's closing tag: the part's file, or the last piece of a part stored
// as pieces. Empty when the part is not there.
std::string closing_file(const std::string& path) {
  const int kind = KVngIdentifyFile(path.c_str());
  if (kind == KVNG_PATH_FILE) return path;
  if (kind != KVNG_PATH_DIRECTORY) return "";
  char** names = nullptr;
  int32_t count = 0;
  if (!KVngListDir(path.c_str(), &names, &count)) return "";
  std::string last;
  for (int32_t i = 0; i < count; ++i) {
    const char* name = names[i];
    const size_t n = std::strlen(name);
    if (n > 11 && std::strcmp(name + n - 11, ".last.piece") == 0) last = path + "/" + name;
  }
  KVngFreeDirList(names, count);
  return last;
}

// Parts changed in this run, with their bytes before, put back when the run fails.
struct Changed {
  std::vector<std::pair<std::string, std::string>> files;

  void restore() {
    for (const auto& [path, bytes] : files) xpssign::write_text(path.c_str(), bytes.data(), bytes.size());
  }
};

// Inserts text before the closing tag of the root named root_name in the part at path (a file
// or pieces). A part stored as pieces whose pieces leave the closing tag out (the content types
// of some writers) takes the text at its end. False after a report.
bool insert_before_close(const std::string& path, const char* root_name, const std::string& text, Changed* changed,
                         const char* who) {
  const std::string file = closing_file(path);
  std::string bytes;
  if (file.empty() || !read_bytes(file, &bytes)) {
    KVngError("%s: Cannot read %s\n", who, path.c_str());
    return false;
  }
  const std::string close = std::string("</") + root_name + ">";
  size_t at = bytes.rfind(close);
  if (at == std::string::npos) {
    if (file == path) {
      KVngError("%s: %s has no closing </%s> to add to\n", who, path.c_str(), root_name);
      return false;
    }
    at = bytes.size();
  }
  std::string edited = bytes;
  edited.insert(at, text);
  changed->files.emplace_back(file, std::move(bytes));
  if (!xpssign::write_text(file.c_str(), edited.data(), edited.size())) {
    KVngError("%s: Cannot write %s\n", who, file.c_str());
    return false;
  }
  return true;
}

// An Id of the form prefix + n not yet used by any element of doc.
std::string unused_id(xmlDocPtr doc, const char* prefix) {
  xmlNodePtr root = doc ? xmlDocGetRootElement(doc) : nullptr;
  for (int n = 0;; ++n) {
    const std::string id = prefix + std::to_string(n);
    bool used = false;
    for (xmlNodePtr node = root ? root->children : nullptr; node && !used; node = node->next) {
      if (node->type != XML_ELEMENT_NODE) continue;
      xmlChar* value = xmlGetProp(node, X("Id"));
      used = value && id == reinterpret_cast<const char*>(value);
      xmlFree(value);
    }
    if (!used) return id;
  }
}

std::string relationship_text(const std::string& target, const std::string& id, const char* type) {
  return "<Relationship Target=\"" + target + "\" Id=\"" + id + "\" Type=\"" + type + "\"/>";
}

xmlDocPtr parse_reported(const std::string& path, const char* who) {
  xmlDocPtr doc = xpssign::parse_part(path.c_str());
  if (!doc) KVngError("%s: Cannot parse %s\n", who, path.c_str());
  return doc;
}

// The origin part the package relationships name, added with the default name when they name
// none. A new absolute part name (xmlFree), or null after a report.
char* announce_origin(const char* root, Changed* changed) {
  constexpr const char* who = "__XPSDSigAnnounceOrigin";
  const std::string rels = std::string(root) + "/_rels/.rels";
  xmlDocPtr doc = parse_reported(rels, who);
  if (!doc) return nullptr;
  char* origin = nullptr;
  bool named = false;
  xmlNodePtr top = xmlDocGetRootElement(doc);
  for (xmlNodePtr node = top ? top->children : nullptr; node && !named; node = node->next) {
    if (node->type != XML_ELEMENT_NODE || !xmlStrEqual(node->name, X("Relationship"))) continue;
    xmlChar* type = xmlGetProp(node, X("Type"));
    if (type && xmlStrEqual(type, X(rel_origin))) {
      named = true;
      xmlChar* target = xmlGetProp(node, X("Target"));
      origin = xpssign::resolve_part_name("/", target ? reinterpret_cast<const char*>(target) : "", who);
      xmlFree(target);
    }
    xmlFree(type);
  }
  if (!named) {
    const std::string text = relationship_text(default_origin_part, unused_id(doc, "RelsDigitalSignatureOrigin"),
                                               rel_origin);
    if (insert_before_close(rels, "Relationships", text, changed, who)) {
      origin = static_cast<char*>(xmlMalloc(sizeof default_origin_part));
      if (origin) std::memcpy(origin, default_origin_part, sizeof default_origin_part);
    }
  }
  xmlFreeDoc(doc);
  return origin;
}

// Content types for the signature's parts, where the package has none for them yet.
bool add_content_types(const char* root, Changed* changed) {
  constexpr const char* who = "__XPSDSigAddContentTypes";
  const std::string path = std::string(root) + "/[Content_Types].xml";
  xmlDocPtr doc = parse_reported(path, who);
  if (!doc) return false;
  static const struct {
    bool by_extension;
    const char* key;
    const char* type;
  } wanted[] = {
      {true, "psdsor", "application/vnd.openxmlformats-package.digital-signature-origin"},
      {true, "psdsxs", "application/vnd.openxmlformats-package.digital-signature-xmlsignature+xml"},
      {true, "cer", "application/vnd.openxmlformats-package.digital-signature-certificate"},
      {false, xpssign::sigdefs_part, "application/xml"},
  };
  std::string text;
  xmlNodePtr top = xmlDocGetRootElement(doc);
  for (const auto& w : wanted) {
    bool present = false;
    for (xmlNodePtr node = top ? top->children : nullptr; node && !present; node = node->next) {
      if (node->type != XML_ELEMENT_NODE) continue;
      const bool by_default = xmlStrEqual(node->name, X("Default"));
      if (!by_default && !xmlStrEqual(node->name, X("Override"))) continue;
      xmlChar* key = xmlGetProp(node, X(by_default ? "Extension" : "PartName"));
      // A part named by an Override keeps its type; an extension's Default covers the others.
      present = key && by_default == w.by_extension && XPSPartNamesEqual(reinterpret_cast<const char*>(key), w.key);
      xmlFree(key);
    }
    if (present) continue;
    text += w.by_extension ? std::string("<Default Extension=\"") + w.key + "\""
                           : std::string("<Override PartName=\"") + w.key + "\"";
    text += std::string(" ContentType=\"") + w.type + "\"/>";
  }
  xmlFreeDoc(doc);
  return text.empty() || insert_before_close(path, "Types", text, changed, who);
}

// Lists the signature part in the origin's relationships, made when the origin has none yet.
// The origin part itself is made when missing. New files go to written.
bool list_signature(const char* root, const char* origin, const char* signature_part, Changed* changed,
                    Written* written) {
  constexpr const char* who = "__XPSDSigWriteOriginRels";
  const std::string origin_path = std::string(root) + origin;
  if (KVngIdentifyFile(origin_path.c_str()) == KVNG_PATH_NONE) {
    char* path = static_cast<char*>(xmlMalloc(origin_path.size() + 1));
    if (path) std::memcpy(path, origin_path.c_str(), origin_path.size() + 1);
    if (!path || !written->add(path)) {
      xmlFree(path);
      return false;
    }
    if (!xpssign::write_text(path, "", 0)) {
      KVngError("%s: Cannot write the signature origin part\n", who);
      return false;
    }
  }
  char* rels_name = xpssign::rels_part_name(origin);
  if (!rels_name) return false;
  const std::string rels = std::string(root) + rels_name;
  xmlFree(rels_name);
  if (KVngIdentifyFile(rels.c_str()) != KVNG_PATH_NONE) {
    xmlDocPtr doc = parse_reported(rels, who);
    if (!doc) return false;
    const std::string id = unused_id(doc, "RelsOrigin");
    xmlFreeDoc(doc);
    return insert_before_close(rels, "Relationships", relationship_text(signature_part, id, xpssign::rel_signature),
                               changed, who);
  }
  const std::string folder = rels.substr(0, rels.rfind('/'));
  char* path = static_cast<char*>(xmlMalloc(rels.size() + 1));
  if (path) std::memcpy(path, rels.c_str(), rels.size() + 1);
  if (!path || !written->add(path)) {
    xmlFree(path);
    return false;
  }
  return KVngMkDir(folder.c_str(), 1) == 1 &&
         write_relationship(path, signature_part, "RelsOrigin0", xpssign::rel_signature, who);
}

bool write_certificate(xmlSecKeyPtr key, const char* path) {
  xmlSecKeyDataPtr data = xmlSecKeyGetData(key, xmlSecOpenSSLKeyDataX509GetKlass());
  X509* certificate = data ? xmlSecOpenSSLKeyDataX509GetKeyCert(data) : nullptr;
  if (!certificate) {
    KVngError("The key has no certificate\n");
    return false;
  }
  if (!xpssign::may_write(path)) {
    KVngError("refusing to write %s: it leads outside the package\n", path);
    return false;
  }
  BIO* out = BIO_new_file(path, "wb");
  if (!out) {
    KVngError("Cannot create output file stream for certificate\n");
    KVngError("Cannot open %s for writing\n", path);
    return false;
  }
  bool ok = i2d_X509_bio(out, certificate) == 1;
  if (!ok) KVngError("Cannot write certificate to output file stream\n");
  ok = BIO_flush(out) == 1 && ok;
  BIO_free(out);
  return ok;
}

// Writes the signature definitions; with changed, the part holds those of earlier signatures,
// which stay, and ours join them (its bytes before go to changed).
bool write_signature_definitions(const char* path, const char* signatureId, const XpsSigDefinition& own,
                                 const XpsSigDefinition* requests, int32_t count, bool noTimestamp,
                                 Changed* changed) {
  constexpr const char* who = "__XPSDSigMakeSigDefinitions";
  xmlDocPtr doc = nullptr;
  if (changed) {
    std::string before;
    doc = read_bytes(path, &before) ? xpssign::parse_part(path) : nullptr;
    xmlNodePtr top = doc ? xmlDocGetRootElement(doc) : nullptr;
    if (!top || !xmlStrEqual(top->name, X("SignatureDefinitions"))) {
      KVngError("%s: %s holds no SignatureDefinitions to add to\n", who, path);
      xmlFreeDoc(doc);
      return false;
    }
    changed->files.emplace_back(path, std::move(before));
  } else {
    doc = xmlSecCreateTree(X("SignatureDefinitions"), X(xpssign::sigdefs_ns));
    if (!doc) {
      KVngError("%s: Cannot create SignatureDefinitions document\n", who);
      return false;
    }
    xmlFree(const_cast<xmlChar*>(doc->encoding));
    doc->encoding = xmlStrdup(X("utf-8"));
  }
  xmlNodePtr root = xmlDocGetRootElement(doc);
  bool ok = __XPSDSigAddSigDefinition(root, signatureId, &own) == 1;
  for (int32_t i = 0; ok && i < count; ++i) {
    QELUuid uuid{};
    if (noTimestamp) {
      uuid = nil_plus(static_cast<uint64_t>(i) + 1);
    } else {
      ok = QELUuidCreate(&uuid) == 1;
    }
    char* spot = ok ? identifier_text(uuid) : nullptr;
    if (!spot) {
      KVngError("%s: Cannot create UUID for SignatureDefinition\n", who);
      ok = false;
    } else {
      ok = __XPSDSigAddSigDefinition(root, spot, &requests[i]) == 1;
    }
    std::free(spot);
  }
  ok = ok && xpssign::write_document(doc, path, who);
  xmlFreeDoc(doc);
  return ok;
}

bool scan_spot(elf_object* spot, XpsSigDefinition* definition) {
  return !spot || lstScanArgs(spot, "pageUri:s", LST_REQUIRED, &definition->pageUri, "xpos:d", LST_REQUIRED,
                              &definition->xpos, "ypos:d", LST_REQUIRED, &definition->ypos, LST_END);
}

// The requests of "requests": one definition per element, LIST elements read and other ones
// left empty. An empty list asks for no requests. 0, or a status set on state.
int scan_requests(elf_state* state, elf_object* list, XpsSigDefinition** out, int32_t* count) {
  *out = nullptr;
  *count = list ? elflistLength(list) : 0;
  if (*count <= 0) {
    *count = 0;
    return 0;
  }
  auto* requests = static_cast<XpsSigDefinition*>(kvng_internal_calloc(static_cast<size_t>(*count), sizeof **out));
  if (!requests) return fail_arguments(state, "%s: Cannot create digital signature requests array\n");
  for (int32_t i = 0; i < *count; ++i) {
    elf_object* item = elflistItem(list, i);
    if (!item || item->typeId != ELF_TYPE_LIST) continue;
    elf_object* spot = nullptr;
    XpsSigDefinition* r = &requests[i];
    if (!lstScanArgs(item, "signerName:s", LST_OPTIONAL, &r->signerName, "intent:s", LST_OPTIONAL, &r->intent,
                     "signingLocale:s", LST_OPTIONAL, &r->signingLocale, "signBy:s", LST_OPTIONAL, &r->signBy,
                     "spotLocation:LIST", LST_OPTIONAL, &spot, LST_END)) {
      kvng_internal_free(requests);
      return fail_arguments(state, "%s: Cannot parse digital signature options\n");
    }
    if (!scan_spot(spot, r)) {
      kvng_internal_free(requests);
      return fail_arguments(state, "%s: Cannot parse spot location attributes\n");
    }
  }
  *out = requests;
  return 0;
}

// Everything of one signing run after the libraries are set up; false after a report.
bool sign_package(const char* root, const XpsSignOptions& options, const XpsSigDefinition* requests, int32_t count,
                  Written* written, Changed* changed) {
  constexpr const char* who = "__XPSDSigWriteSignature";
  if (KVngIdentifyFile(root) != KVNG_PATH_DIRECTORY || !xpssign::set_package(root)) {
    KVngError("%s: %s is not a folder\n", who, root);
    return false;
  }
  struct Confined {
    ~Confined() { xpssign::clear_package(); }
  } confined;
  xmlSecDSigCtxPtr dsigCtx = xmlSecDSigCtxCreate(nullptr);
  if (!dsigCtx) {
    KVngError("%s: Cannot create signature context\n", who);
    return false;
  }
  dsigCtx->operation = xmlSecTransformOperationSign;
  dsigCtx->status = xmlSecDSigStatusUnknown;
  dsigCtx->signKey = load_key(options.certFile, options.certPassword, who);
  bool ok = dsigCtx->signKey != nullptr;

  // Parents before their children, so that each folder this run makes is listed and a failed
  // run can take it away again.
  for (const char* folder : {dir_package, dir_services, dir_signature, dir_signature_rels, dir_xml_signature,
                             dir_xml_signature_rels, dir_certificate, dir_xmls}) {
    if (!ok) break;
    const std::string path = std::string(root) + folder;
    // A folder that was there stays when a run fails; the link check applies to it all the same.
    struct stat st {};
    const bool existed = lstat(path.c_str(), &st) == 0;
    ok = xpssign::make_folder(path.c_str());
    if (ok && !existed) written->folders.push_back(path);
  }

  // U names the signature and certificate parts, S is the signature's Id.
  QELUuid part_uuid{};
  QELUuid id_uuid{};
  char* u = nullptr;
  char* s = nullptr;
  // Without timestamps the names are fixed: the nil UUID, or plus k for the k-th signature of
  // the package, so that signing again adds a signature instead of replacing one.
  char* signature_part = nullptr;
  char* certificate_part = nullptr;
  for (uint64_t k = 0; ok && !signature_part; ++k) {
    const bool made = options.noTimestamp ? (part_uuid = id_uuid = nil_plus(k), true)
                                          : QELUuidCreate(&part_uuid) && QELUuidCreate(&id_uuid);
    std::free(s);
    s = nullptr;
    ok = made && QELUuidToString(&part_uuid, QEL_UUID_FORM_UPPER, &u) && (s = identifier_text(id_uuid));
    if (!ok) {
      KVngError("%s: Cannot create UUID\n", who);
      break;
    }
    signature_part = path_of("", dir_xml_signature, u, ".psdsxs");
    certificate_part = path_of("", dir_certificate, u, ".cer");
    std::free(u);
    u = nullptr;
    ok = signature_part && certificate_part;
    if (ok && KVngIdentifyFile((std::string(root) + signature_part).c_str()) != KVNG_PATH_NONE) {
      xmlFree(signature_part);
      xmlFree(certificate_part);
      signature_part = certificate_part = nullptr;
    }
  }
  char* origin = nullptr;
  if (ok) ok = (origin = announce_origin(root, changed)) != nullptr;
  if (ok) ok = add_content_types(root, changed);

  const auto file = [&](const char* folder, const char* name, const char* suffix) -> char* {
    char* path = path_of(root, folder, name, suffix);
    if (path && !written->add(path)) {
      xmlFree(path);
      path = nullptr;
    }
    return path;
  };
  if (ok) ok = list_signature(root, origin, signature_part, changed, written);
  xmlFree(origin);
  if (ok) {
    char* certificate = file("", certificate_part + 1, "");
    ok = certificate && write_certificate(dsigCtx->signKey, certificate);
  }
  if (ok) {
    const std::string definitions = std::string(root) + xpssign::sigdefs_part;
    const bool earlier = KVngIdentifyFile(definitions.c_str()) == KVNG_PATH_FILE;
    ok = (earlier || file("", xpssign::sigdefs_part + 1, "")) &&
         write_signature_definitions(definitions.c_str(), s, options.definition, requests, count,
                                     options.noTimestamp != 0, earlier ? changed : nullptr);
  }
  if (ok) {
    char* signature = file("", signature_part + 1, "");
    ok = signature && __XPSDSigWriteXmlSignature(signature, dsigCtx, root, s, options.noTimestamp) == 1;
  }
  if (ok) {
    const char* name = std::strrchr(signature_part, '/') + 1;
    char* rels = file(dir_xml_signature_rels, name, ".rels");
    ok = rels && write_relationship(rels, certificate_part, "RelsXmlSignature0", xpssign::rel_certificate,
                                    "__XPSDSigWriteXmlSignatureRels");
  }
  xmlFree(signature_part);
  xmlFree(certificate_part);
  std::free(s);
  xmlSecDSigCtxDestroy(dsigCtx);
  return ok;
}

}  // namespace

int __XPSDSigAddSigDefinition(xmlNodePtr parent, const char* spotId, const XpsSigDefinition* definition) {
  constexpr const char* who = "__XPSDSigAddSigDefinition";
  if (!parent || !spotId || !definition) {
    KVngError("%s: Missing argument\n", who);
    return -1;
  }
  xmlNodePtr node = xmlSecAddChild(parent, X("SignatureDefinition"), nullptr);
  if (!node || !xmlSetProp(node, X("SpotID"), X(spotId))) {
    KVngError("%s: Cannot add SignatureDefinition node\n", who);
    return -1;
  }
  if (definition->signerName && !xmlSetProp(node, X("SignerName"), X(definition->signerName))) {
    KVngError("%s: Cannot add SignatureDefinition node\n", who);
    return -1;
  }
  const struct {
    const char* value;
    const char* name;
  } children[] = {
      {definition->intent, "Intent"}, {definition->signBy, "SignBy"}, {definition->signingLocale, "SigningLocation"}};
  for (const auto& child : children) {
    if (!child.value) continue;
    xmlNodePtr added = xmlSecAddChild(node, X(child.name), nullptr);
    if (!added) {
      KVngError("%s: Cannot add %s node\n", who, child.name);
      return -1;
    }
    // As text: xmlNodeSetContent would take '&' as the start of an entity reference.
    xmlNodeAddContent(added, X(child.value));
  }
  if (definition->pageUri) {
    char x[64];
    char y[64];
    std::snprintf(x, sizeof x, "%f", definition->xpos);
    std::snprintf(y, sizeof y, "%f", definition->ypos);
    xmlNodePtr spot = xmlSecAddChild(node, X("SpotLocation"), nullptr);
    if (!spot || !xmlSetProp(spot, X("PageURI"), X(definition->pageUri)) || !xmlSetProp(spot, X("StartX"), X(x)) ||
        !xmlSetProp(spot, X("StartY"), X(y))) {
      KVngError("%s: Cannot add SpotLocation node\n", who);
      return -1;
    }
  }
  return 1;
}

int XPSDSigMakeSignature(void* context, elf_object* args, elf_object** result) {
  auto* state = static_cast<elf_state*>(context);
  if (result) *result = nullptr;
  const char* root = nullptr;
  elf_object* options_list = nullptr;
  if (!lstScanArgs(args, "rootPath:s", LST_REQUIRED, &root, "options:LIST", LST_OPTIONAL, &options_list, LST_END)) {
    return fail_arguments(state, "%s: Cannot parse input arguments\n");
  }
  XpsSignOptions options{};
  elf_object* spot = nullptr;
  elf_object* requests_list = nullptr;
  if (!lstScanArgs(options_list, "certFile:s", LST_REQUIRED, &options.certFile, "certPassword:s", LST_OPTIONAL,
                   &options.certPassword, "intent:s", LST_OPTIONAL, &options.definition.intent, "signingLocale:s",
                   LST_OPTIONAL, &options.definition.signingLocale, "spotLocation:LIST", LST_OPTIONAL, &spot,
                   "requests:LIST", LST_OPTIONAL, &requests_list, "noTimestamp:b", LST_OPTIONAL, &options.noTimestamp,
                   LST_END)) {
    return fail_arguments(state, "%s: Cannot parse digital signature options\n");
  }
  if (!scan_spot(spot, &options.definition))
    return fail_arguments(state, "%s: Cannot parse spot location attributes\n");
  XpsSigDefinition* requests = nullptr;
  int32_t count = 0;
  if (const int status = scan_requests(state, requests_list, &requests, &count); status != 0) return status;

  bool ok = false;
  LibraryDefaults saved{};
  if (setup_libraries(&saved)) {
    Written written;
    Changed changed;
    ok = sign_package(root, options, requests, count, &written, &changed);
    if (!ok) {
      written.remove_all();
      changed.restore();
    }
    shutdown_libraries(saved);
  }
  kvng_internal_free(requests);
  if (ok) return QEL_STATUS_OK;
  return setStatus(state, QEL_STATUS_FAILED, QEL_SEVERITY_ERROR, "%s: Cannot create digital signature\n", method);
}
