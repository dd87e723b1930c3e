// The interpreter's XML pull reader over libxml2's xmlTextReader.

#include "qellibxml.h"

#include <libxml/parser.h>
#include <libxml/xmlreader.h>

#include <atomic>

#include "kvng.h"
#include "kvng_print.h"

struct QELXmlReader {
  xmlTextReaderPtr reader;
  KVngSB* bytes;
};

namespace {

std::atomic<int> uses{0};

// No NOENT (entities stay references), no DTDLOAD/DTDATTR/DTDVALID (nothing external is read),
// NONET (no fetch even if something asked); libxml2's own limits on depth and sizes stay on.
constexpr int kParseOptions = XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING;

void report(void*, xmlErrorPtr error) {
  if (!error || error->level < XML_ERR_ERROR) return;
  KVngError("%s: XML error at line %d: %s", "QELXmlReader", error->line, error->message ? error->message : "\n");
}

// A step of the reader: a DTD fails it, because an internal subset is where entity expansion
// attacks live and no package part may carry one.
int step(QELXmlReader* r, int result) {
  if (result == 1 && xmlTextReaderNodeType(r->reader) == XML_READER_TYPE_DOCUMENT_TYPE) {
    KVngError("%s: Document type declarations are not allowed in package parts\n", "QELXmlReaderRead");
    return -1;
  }
  return result < 0 ? -1 : result;
}

}  // namespace

extern "C" {

int QELLibXmlInit(void) {
  if (uses.fetch_add(1) == 0) xmlInitParser();
  return 1;
}

void QELLibXmlEnd(void) {
  if (uses.load() > 0) uses.fetch_sub(1);
}

int QELLibXmlUses(void) { return uses.load(); }

QELXmlReader* QELXmlReaderAlloc(KVngSB* sb) {
  if (!sb) return nullptr;
  size_t length = 0;
  const unsigned char* data = KVngSBData(sb, &length);
  if (length > static_cast<size_t>(INT32_MAX)) return nullptr;
  auto* r = static_cast<QELXmlReader*>(kvng_internal_calloc(1, sizeof(QELXmlReader)));
  if (!r) return nullptr;
  static const char empty[] = "";
  r->reader = xmlReaderForMemory(data ? reinterpret_cast<const char*>(data) : empty, static_cast<int>(length),
                                 nullptr, nullptr, kParseOptions);
  if (!r->reader) {
    kvng_internal_free(r);
    return nullptr;
  }
  xmlTextReaderSetStructuredErrorHandler(r->reader, report, nullptr);
  r->bytes = sb;
  return r;
}

int QELXmlReaderRead(QELXmlReader* reader) { return reader ? step(reader, xmlTextReaderRead(reader->reader)) : -1; }

int QELXmlReaderNext(QELXmlReader* reader) { return reader ? step(reader, xmlTextReaderNext(reader->reader)) : -1; }

int QELXmlReaderIsStartElement(QELXmlReader* reader) {
  return reader && xmlTextReaderNodeType(reader->reader) == XML_READER_TYPE_ELEMENT ? 1 : 0;
}

xmlChar* QELXmlReaderName(QELXmlReader* reader) { return reader ? xmlTextReaderLocalName(reader->reader) : nullptr; }

xmlChar* QELXmlReaderGetAttribute(QELXmlReader* reader, const char* name) {
  if (!reader || !name) return nullptr;
  return xmlTextReaderGetAttribute(reader->reader, reinterpret_cast<const xmlChar*>(name));
}

xmlNodePtr QELXmlReaderExpand(QELXmlReader* reader) { return reader ? xmlTextReaderExpand(reader->reader) : nullptr; }

xmlNodePtr QELXmlReaderGetCurrentNode(QELXmlReader* reader) {
  return reader ? xmlTextReaderCurrentNode(reader->reader) : nullptr;
}

xmlDocPtr QELXmlReaderGetDoc(QELXmlReader* reader) { return reader ? xmlTextReaderCurrentDoc(reader->reader) : nullptr; }

void QELXmlReaderFree(QELXmlReader* reader) {
  if (!reader) return;
  xmlFreeTextReader(reader->reader);
  KVngSBFree(reader->bytes);
  kvng_internal_free(reader);
}

}  // extern "C"
