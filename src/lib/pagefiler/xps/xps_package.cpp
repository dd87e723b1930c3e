// Reading an XPS package into its document sequence, documents and pages.

#include "xps_package.h"

#include <libxml/xmlmemory.h>

#include <cmath>
#include <cstdlib>
#include <cstring>

#include "kvng.h"
#include "kvng_print.h"
#include "qellibxml.h"
#include "xps_image.h"
#include "xps_names.h"
#include "xps_util.h"

struct ELFDeque {
  void** items;
  int32_t count;
  int32_t capacity;
};

namespace {

using xps::text;

// ---- Records ----

void copy_element(void* element) { ++static_cast<XPSElementHeader*>(element)->references; }

void free_page(void* element);
void free_document(void* element);
void free_sequence(void* element);

XPSFixedPage* new_page() {
  auto* page = static_cast<XPSFixedPage*>(kvng_internal_calloc(1, sizeof(XPSFixedPage)));
  if (!page) {
    KVngError("%s: Cannot create XPSFixedPage object\n", "XPSAllocFixedPage");
    return nullptr;
  }
  page->header = XPSElementHeader{copy_element, nullptr, free_page, 1};
  QELLibXmlInit();
  return page;
}

void free_page(void* element) {
  auto* page = static_cast<XPSFixedPage*>(element);
  if (!page || --page->header.references > 0) return;
  XPSFreeImage(page->thumbnail);
  kvng_internal_free(page->thumbnailPartName);
  kvng_internal_free(page->partName);
  if (page->canvasDoc) xmlFreeDoc(page->canvasDoc);
  XPSArchiveClose(page->archive);
  kvng_internal_free(page);
  QELLibXmlEnd();
}

XPSFixedDoc* new_document() {
  auto* document = static_cast<XPSFixedDoc*>(kvng_internal_calloc(1, sizeof(XPSFixedDoc)));
  if (!document) {
    KVngError("%s: Cannot create XPSFixedDoc object\n", "XPSAllocFixedDoc");
    return nullptr;
  }
  document->header = XPSElementHeader{copy_element, nullptr, free_document, 1};
  if (!(document->pages = KVngAllocDeque())) {
    KVngError("%s: Cannot create ELFDeque object for pages\n", "XPSAllocFixedDoc");
    kvng_internal_free(document);
    return nullptr;
  }
  QELLibXmlInit();
  return document;
}

void free_document(void* element) {
  auto* document = static_cast<XPSFixedDoc*>(element);
  if (!document || --document->header.references > 0) return;
  ELFFreeDeque(document->pages);
  XPSArchiveClose(document->archive);
  kvng_internal_free(document->partName);
  kvng_internal_free(document);
  QELLibXmlEnd();
}

XPSFixedDocSequence* new_sequence() {
  auto* sequence = static_cast<XPSFixedDocSequence*>(kvng_internal_calloc(1, sizeof(XPSFixedDocSequence)));
  if (!sequence) {
    KVngError("%s: Cannot create XPSFixedDocSequence object\n", "XPSAllocFixedDocSequence");
    return nullptr;
  }
  sequence->header = XPSElementHeader{nullptr, nullptr, free_sequence, 1};
  if (!(sequence->documents = KVngAllocDeque())) {
    KVngError("%s: Cannot create ELFDeque object for documents\n", "XPSAllocFixedDocSequence");
    kvng_internal_free(sequence);
    return nullptr;
  }
  QELLibXmlInit();
  return sequence;
}

void free_sequence(void* element) {
  auto* sequence = static_cast<XPSFixedDocSequence*>(element);
  if (!sequence || --sequence->header.references > 0) return;
  ELFFreeDeque(sequence->documents);
  kvng_internal_free(sequence->partName);
  kvng_internal_free(sequence);
  QELLibXmlEnd();
}

// ---- Reading parts ----

// Moves to the root element (past comments and processing instructions) and checks its name.
int read_root(QELXmlReader* reader, const char* expected, const char* prefix, const char* unreadable) {
  int step;
  while ((step = QELXmlReaderRead(reader)) == 1 && !QELXmlReaderIsStartElement(reader)) {
  }
  if (step != 1) {
    KVngError(unreadable, prefix);
    return -1;
  }
  xmlChar* name = QELXmlReaderName(reader);
  const bool right = xps::is_name(name, expected);
  xmlFree(name);
  if (!right) {
    KVngError("%s: Root element name must be '%s'\n", prefix, expected);
    return -1;
  }
  return 1;
}

// Walks the Relationship elements of a relationship part, handing each Target and Type on.
template <typename Handler>
int walk_relationships(QELXmlReader* reader, const char* prefix, const char* unreadable, Handler handle) {
  int status = read_root(reader, "Relationships", prefix, unreadable);
  int step = 1;
  while (status == 1 && (step = QELXmlReaderRead(reader)) == 1) {
    if (!QELXmlReaderIsStartElement(reader)) continue;
    xmlChar* name = QELXmlReaderName(reader);
    if (!xps::is_name(name, "Relationship")) {
      KVngError("%s: Skipping illegal element <%s>\n", prefix, text(name));
      xmlFree(name);
      continue;
    }
    xmlFree(name);
    xmlChar* target = QELXmlReaderGetAttribute(reader, "Target");
    xmlChar* type = QELXmlReaderGetAttribute(reader, "Type");
    status = handle(target, type);
    xmlFree(target);
    xmlFree(type);
  }
  if (status == 1 && step < 0) {
    KVngError(unreadable, prefix);
    status = -1;
  }
  return status;
}

// A relationship's target as an absolute part name (a relative one is relative to the source
// part's folder); -1 for one without Target.
int relationship_target(const char* source, const xmlChar* target, const char* prefix, char** part) {
  if (!target) {
    KVngError("%s: Relationship without Target\n", prefix);
    return -1;
  }
  return XPSResolvePartName(source, text(target), prefix, part);
}

// Walks the reference elements of a document part (DocumentReference, PageContent), handing
// each Source, resolved against the referring part, to read_one; other elements are reported.
template <typename ReadOne>
int walk_references(QELXmlReader* reader, const char* element, const char* referring, const char* prefix,
                    const char* unreadable, ReadOne read_one) {
  int status = 1, step = 1;
  while (status == 1 && (step = QELXmlReaderRead(reader)) == 1) {
    if (!QELXmlReaderIsStartElement(reader)) continue;
    xmlChar* name = QELXmlReaderName(reader);
    if (!xps::is_name(name, element)) {
      KVngError("%s: Skipping illegal element <%s>\n", prefix, text(name));
      xmlFree(name);
      continue;
    }
    xmlFree(name);
    // A reference without Source names nothing to read: the part is malformed.
    xmlChar* source = QELXmlReaderGetAttribute(reader, "Source");
    char* part = nullptr;
    if (!source) {
      KVngError("%s: %s without Source\n", prefix, element);
      status = -1;
    } else {
      status = XPSResolvePartName(referring, text(source), prefix, &part);
    }
    xmlFree(source);
    if (status == 1) status = read_one(part);
    kvng_internal_free(part);
  }
  if (status == 1 && step < 0) {
    KVngError(unreadable, prefix);
    status = -1;
  }
  return status;
}

int read_box(QELXmlReader* reader, const char* attribute, double width, double height, double box[4],
             const char* prefix) {
  box[0] = box[1] = 0;
  box[2] = width;
  box[3] = height;
  xmlChar* value = QELXmlReaderGetAttribute(reader, attribute);
  if (!value) return 0;
  double parsed[4];
  const int status = xps::parse_numbers(text(value), parsed, 4);
  if (status != 1) KVngError("%s: Cannot parse %s '%s'\n", prefix, attribute, text(value));
  xmlFree(value);
  if (status != 1) return -1;
  std::memcpy(box, parsed, sizeof parsed);
  return 1;
}

void check_content_box(double box[4], double width, double height) {
  constexpr char kName[] = "__XPSCheckContentBox";
  bool bad = false;
  if (box[0] < 0 || box[0] >= width) {
    KVngPrintf("%s: ContentOriginX MUST be >= 0 and < fixed page width [M3.11]\n", kName);
    bad = true;
  }
  if (box[1] < 0 || box[1] >= height) {
    KVngPrintf("%s: ContentOriginY MUST be >= 0 and < fixed page height [M3.12]\n", kName);
    bad = true;
  }
  if (box[2] > width - box[0]) {
    KVngPrintf("%s: ContentWidth MUST be <= 0 the difference between the fixed page width and ContentOriginX [M3.13]\n",
               kName);
    bad = true;
  }
  if (box[3] > height - box[1]) {
    KVngPrintf(
        "%s: ContentHeight MUST be <= 0 the difference between the fixed page height and ContentOriginY [M3.14]\n",
        kName);
    bad = true;
  }
  if (bad) {
    KVngPrintf("%s: Ignoring input content box, using default\n", kName);
    box[0] = box[1] = 0;
    box[2] = width;
    box[3] = height;
  }
}

void check_bleed_box(double box[4], double width, double height) {
  constexpr char kName[] = "__XPSCheckBleedBox";
  bool bad = false;
  if (box[0] > 0) {
    KVngPrintf("%s: BleedOriginX MUST be <= 0 [M3.7]\n", kName);
    bad = true;
  }
  if (box[1] > 0) {
    KVngPrintf("%s: BleedOriginY MUST be <= 0 [M3.8]\n", kName);
    bad = true;
  }
  if (box[2] < width + std::fabs(box[0])) {
    KVngPrintf("%s: BleedWidth MUST be >= the fixed page width + the absolute value of BleedOriginX [M3.9]\n", kName);
    bad = true;
  }
  if (box[3] < height + std::fabs(box[1])) {
    KVngPrintf("%s: BleedHeight MUST be >= the fixed height + the absolute value of BleedOriginY [M3.10]\n", kName);
    bad = true;
  }
  if (bad) {
    KVngPrintf("%s: Ignoring input bleed box, using default\n", kName);
    box[0] = box[1] = 0;
    box[2] = width;
    box[3] = height;
  }
}

// Copies a drawing element into the page's canvas document, made with the first one.
int keep_drawing_element(XPSFixedPage* page, xmlNodePtr node, const char* prefix) {
  if (!page->canvasDoc) {
    page->canvasDoc = xmlNewDoc(reinterpret_cast<const xmlChar*>("1.0"));
    xmlNodePtr root = page->canvasDoc ? xmlNewNode(nullptr, reinterpret_cast<const xmlChar*>("Canvas")) : nullptr;
    if (!root) {
      KVngError("%s: Cannot create canvas document\n", prefix);
      return 0;
    }
    xmlDocSetRootElement(page->canvasDoc, root);
    page->canvasRoot = root;
  }
  xmlNodePtr copy = xmlDocCopyNode(node, page->canvasDoc, 1);
  if (!copy || !xmlAddChild(page->canvasRoot, copy)) {
    if (copy) xmlFreeNode(copy);
    KVngError("%s: Cannot copy drawing element\n", prefix);
    return 0;
  }
  return 1;
}

int read_page_content(XPSFixedPage* page, QELXmlReader* reader, const char* prefix) {
  // Width and Height are required: a page without them has no size to render at.
  double size[2];
  const char* names[2] = {"Width", "Height"};
  for (int i = 0; i < 2; ++i) {
    xmlChar* value = QELXmlReaderGetAttribute(reader, names[i]);
    const int parsed = value ? xps::parse_numbers(text(value), &size[i], 1) : -1;
    if (parsed != 1 || !(size[i] > 0) || size[i] > xps::kMaxPageUnits) {
      KVngError("%s: %s attribute of FixedPage missing or invalid: '%s'\n", prefix, names[i],
                value ? text(value) : "");
      xmlFree(value);
      return -1;
    }
    xmlFree(value);
  }
  page->width = size[0];
  page->height = size[1];
  int status = read_box(reader, "ContentBox", page->width, page->height, page->contentBox, prefix);
  if (status < 0) return -1;
  if (status == 1) check_content_box(page->contentBox, page->width, page->height);
  status = read_box(reader, "BleedBox", page->width, page->height, page->bleedBox, prefix);
  if (status < 0) return -1;
  if (status == 1) check_bleed_box(page->bleedBox, page->width, page->height);

  int step = QELXmlReaderRead(reader);
  if (step < 0) {
    KVngError("%s: Cannot read first element of FixedPage\n", prefix);
    return -1;
  }
  // Only the page's own children are seen: Next passes over whole subtrees.
  while (step == 1) {
    if (QELXmlReaderIsStartElement(reader)) {
      xmlChar* name = QELXmlReaderName(reader);
      if (xps::is_name(name, "FixedPage.Resources")) {
        KVngPrintf("%s: Skipping element <%s>\n", prefix, text(name));
      } else if (xps::is_name(name, "Path") || xps::is_name(name, "Canvas") || xps::is_name(name, "Glyphs")) {
        xmlNodePtr node = QELXmlReaderExpand(reader);
        if (!node) {
          KVngError("%s: Cannot read children of current node\n", prefix);
          xmlFree(name);
          return -1;
        }
        if ((status = keep_drawing_element(page, QELXmlReaderGetCurrentNode(reader), prefix)) != 1) {
          xmlFree(name);
          return status;
        }
      } else {
        KVngPrintf("%s: Skipping illegal element <%s>\n", prefix, text(name));
      }
      xmlFree(name);
    }
    step = QELXmlReaderNext(reader);
  }
  if (step < 0) {
    KVngError("%s: Cannot parse FixedPage part\n", prefix);
    return -1;
  }
  return 1;
}

int read_page(XPSArchive* archive, const char* partName, XPSFixedPage** out) {
  constexpr char kName[] = "__XPSReadFixedPage";
  *out = nullptr;
  XPSFixedPage* page = new_page();
  if (!page) {
    KVngError("%s: Cannot create XPSFixedPage object\n", kName);
    return 0;
  }
  int status = (page->partName = xps::copy_string(partName)) ? 1 : 0;
  page->loaded = 1;
  if (status == 1) status = XPSArchiveGetPartSize(archive, partName, &page->markupBytes);
  if (status == 1) status = XPSFixedPageCharge(page, 1, page->markupBytes, "its markup");
  QELXmlReader* reader = nullptr;
  if (status == 1) status = XPSArchiveMakeXMLReader(archive, partName, 1, &reader);
  if (status == 1) status = read_root(reader, "FixedPage", kName, "%s: Cannot parse FixedPage part\n");
  if (status == 1) status = read_page_content(page, reader, kName);
  QELXmlReaderFree(reader);
  reader = nullptr;
  if (status == 1) status = XPSArchiveMakeXMLRelsReader(archive, partName, 0, &reader);
  if (status == 1 && reader) {
    status = walk_relationships(
        reader, kName, "%s: Cannot parse FixedPage relationships\n", [&](const xmlChar* target, const xmlChar* type) {
          if (XPSRelTypeIs(type, XPS_REL_PRINT_TICKET)) {
            KVngDebug("%s: Skipping Print Ticket part\n", kName);
          } else if (XPSRelTypeIs(type, XPS_REL_REQUIRED_RESOURCE)) {
            KVngDebug("%s: Skipping Required Resource part\n", kName);
          } else if (XPSRelTypeIs(type, XPS_REL_STORY_FRAGMENTS)) {
            KVngDebug("%s: Skipping Story Fragments part\n", kName);
          } else if (XPSRelTypeIs(type, XPS_REL_THUMBNAIL)) {
            char* name = nullptr;
            const int resolved = relationship_target(partName, target, kName, &name);
            if (resolved != 1) return resolved;
            kvng_internal_free(page->thumbnailPartName);
            page->thumbnailPartName = name;
          } else {
            KVngError("%s: Skipping invalid Relationship type %s\n", kName, text(type));
          }
          return 1;
        });
  }
  QELXmlReaderFree(reader);
  if (status != 1) {
    // The reasons above name what was wrong; the page is named once here.
    KVngError("%s: Cannot read page part %s\n", kName, partName);
    free_page(page);
    return status;
  }
  XPSArchiveRetain(archive);
  page->archive = archive;
  *out = page;
  return 1;
}

int read_document(XPSArchive* archive, const char* partName, XPSFixedDoc** out) {
  constexpr char kName[] = "__XPSReadFixedDoc";
  *out = nullptr;
  XPSFixedDoc* document = new_document();
  if (!document) {
    KVngError("%s: Cannot create XPSFixedDoc object\n", kName);
    return 0;
  }
  int status = (document->partName = xps::copy_string(partName)) ? 1 : 0;
  QELXmlReader* reader = nullptr;
  if (status == 1) status = XPSArchiveMakeXMLReader(archive, partName, 1, &reader);
  if (status == 1) status = read_root(reader, "FixedDocument", kName, "%s: Cannot parse FixedDocument part\n");
  // Pages are only named here; each is read when it is asked for.
  if (status == 1) {
    status = walk_references(reader, "PageContent", partName, kName, "%s: Cannot parse FixedDocument part\n",
                             [&](const char* pageName) {
                               if (ELFDequeGetCount(document->pages) >= XPS_MAX_DOCUMENT_PAGES) {
                                 KVngError("%s: %s refers to more than %d pages (XPS_MAX_DOCUMENT_PAGES)\n", kName,
                                           partName, XPS_MAX_DOCUMENT_PAGES);
                                 return -1;
                               }
                               XPSFixedPage* page = new_page();
                               int named = page && (page->partName = xps::copy_string(pageName)) ? 1 : 0;
                               if (named == 1 && !ELFDequePush(document->pages, page)) named = 0;
                               free_page(page);
                               return named;
                             });
  }
  QELXmlReaderFree(reader);
  reader = nullptr;
  if (status == 1) status = XPSArchiveMakeXMLRelsReader(archive, partName, 0, &reader);
  if (status == 1 && reader) {
    status = walk_relationships(reader, kName, "%s: Cannot parse FixedDocument relationships\n",
                                [&](const xmlChar*, const xmlChar* type) {
                                  if (XPSRelTypeIs(type, XPS_REL_PRINT_TICKET)) {
                                    KVngDebug("%s: Skipping Print Ticket part\n", kName);
                                  } else if (XPSRelTypeIs(type, XPS_REL_SIGNATURE_DEFINITIONS)) {
                                    KVngDebug("%s: Skipping Signature Definitions part\n", kName);
                                  } else if (XPSRelTypeIs(type, XPS_REL_DOCUMENT_STRUCTURE)) {
                                    KVngDebug("%s: Skipping Document Structure part\n", kName);
                                  } else {
                                    KVngError("%s: Skipping invalid Relationship type %s\n", kName, text(type));
                                  }
                                  return 1;
                                });
  }
  QELXmlReaderFree(reader);
  if (status != 1) {
    free_document(document);
    return status;
  }
  XPSArchiveRetain(archive);
  document->archive = archive;
  *out = document;
  return 1;
}

}  // namespace

extern "C" {

// ---- Deques ----

ELFDeque* KVngAllocDeque(void) { return static_cast<ELFDeque*>(kvng_internal_calloc(1, sizeof(ELFDeque))); }

int ELFDequePush(ELFDeque* deque, void* element) {
  if (!deque || !element) return 0;
  if (deque->count == deque->capacity) {
    const int32_t capacity = deque->capacity ? deque->capacity * 2 : 8;
    auto* grown = static_cast<void**>(kvng_internal_calloc(static_cast<size_t>(capacity), sizeof(void*)));
    if (!grown) return 0;
    if (deque->count) std::memcpy(grown, deque->items, sizeof(void*) * deque->count);
    kvng_internal_free(deque->items);
    deque->items = grown;
    deque->capacity = capacity;
  }
  auto* header = static_cast<XPSElementHeader*>(element);
  if (header->copy) header->copy(element);
  deque->items[deque->count++] = element;
  return 1;
}

int32_t ELFDequeGetCount(const ELFDeque* deque) { return deque ? deque->count : 0; }

void* ELFDequeGet(ELFDeque* deque, int32_t index) {
  if (!deque || index < 0 || index >= deque->count) return nullptr;
  auto* header = static_cast<XPSElementHeader*>(deque->items[index]);
  if (header->copy) header->copy(header);
  return header;
}

void ELFFreeDeque(ELFDeque* deque) {
  if (!deque) return;
  for (int32_t i = 0; i < deque->count; ++i) {
    auto* header = static_cast<XPSElementHeader*>(deque->items[i]);
    if (header->free) header->free(header);
  }
  kvng_internal_free(deque->items);
  kvng_internal_free(deque);
}

void XPSElementRelease(void* element) {
  auto* header = static_cast<XPSElementHeader*>(element);
  if (header && header->free) header->free(header);
}

// ---- The sequence ----

int __XPSReadFixedDocSequence(XPSArchive* archive, const char* partName, XPSFixedDocSequence** out) {
  constexpr char kName[] = "__XPSReadFixedDocSequence";
  *out = nullptr;
  XPSFixedDocSequence* sequence = new_sequence();
  if (!sequence) {
    KVngError("%s: Cannot create XPSFixedDocSequence object\n", kName);
    return 0;
  }
  int status = (sequence->partName = xps::copy_string(partName)) ? 1 : 0;
  QELXmlReader* reader = nullptr;
  if (status == 1) status = XPSArchiveMakeXMLReader(archive, partName, 1, &reader);
  if (status == 1)
    status = read_root(reader, "FixedDocumentSequence", kName, "%s: Cannot parse FixedDocumentSequence part\n");
  if (status == 1) {
    status = walk_references(reader, "DocumentReference", partName, kName,
                             "%s: Cannot parse FixedDocumentSequence part\n", [&](const char* documentName) {
                               XPSFixedDoc* document = nullptr;
                               int read = read_document(archive, documentName, &document);
                               if (read == 1 && !ELFDequePush(sequence->documents, document)) read = 0;
                               free_document(document);
                               return read;
                             });
  }
  QELXmlReaderFree(reader);
  reader = nullptr;
  if (status == 1) status = XPSArchiveMakeXMLRelsReader(archive, partName, 0, &reader);
  if (status == 1 && reader) {
    status = walk_relationships(reader, kName, "%s: Cannot parse FixedDocumentSequence relationships\n",
                                [&](const xmlChar*, const xmlChar* type) {
                                  if (XPSRelTypeIs(type, XPS_REL_PRINT_TICKET)) {
                                    KVngDebug("%s: Skipping Print Ticket part\n", kName);
                                  } else if (XPSRelTypeIs(type, XPS_REL_DISCARD_CONTROL)) {
                                    KVngDebug("%s: Skipping Discard Control part\n", kName);
                                  } else {
                                    KVngError("%s: Skipping invalid Relationship type %s\n", kName, text(type));
                                  }
                                  return 1;
                                });
  }
  QELXmlReaderFree(reader);
  if (status != 1) {
    free_sequence(sequence);
    return status;
  }
  *out = sequence;
  return 1;
}

// ---- The package ----

int XPSPackageOpenDefault(const char* fileName, XPSPackage** out) {
  constexpr char kName[] = "XPSPackageOpenDefault";
  if (out) *out = nullptr;
  if (!fileName || !fileName[0]) {
    KVngError("%s: Missing XPS filename\n", kName);
    return -1;
  }
  if (!out) return -1;
  auto* package = static_cast<XPSPackage*>(kvng_internal_calloc(1, sizeof(XPSPackage)));
  if (!package) {
    KVngError("%s: Cannot create XPSPackage object\n", kName);
    return 0;
  }
  QELLibXmlInit();
  int status = XPSArchiveOpenFile(fileName, "r", 0, &package->archive);
  QELXmlReader* reader = nullptr;
  if (status == 1) status = XPSArchiveMakeXMLRelsReader(package->archive, "", 1, &reader);
  if (status == 1) {
    status = walk_relationships(
        reader, kName, "%s: Cannot parse package relationships\n", [&](const xmlChar* target, const xmlChar* type) {
          if (XPSRelTypeIs(type, XPS_REL_CORE_PROPERTIES)) {
            KVngDebug("%s: Skipping Core Properties part\n", kName);
            return 1;
          }
          const bool fixed = XPSRelTypeIs(type, XPS_REL_FIXED_REPRESENTATION);
          const bool thumbnail = XPSRelTypeIs(type, XPS_REL_THUMBNAIL);
          const bool origin = XPSRelTypeIs(type, XPS_REL_DIGITAL_SIGNATURE_ORIGIN);
          if (!fixed && !thumbnail && !origin) {
            KVngError("%s: Skipping unknown Relationship type %s\n", kName, text(type));
            return 1;
          }
          // A second start part or origin would replace the first and lose it.
          if ((fixed && package->sequence) || (origin && package->signatureOriginPartName)) {
            KVngError("%s: Skipping extra Relationship of type %s\n", kName, text(type));
            return 1;
          }
          char* part = nullptr;
          int resolved = relationship_target("/", target, kName, &part);
          if (resolved != 1) return resolved;
          if (fixed) {
            resolved = __XPSReadFixedDocSequence(package->archive, part, &package->sequence);
            kvng_internal_free(part);
          } else if (thumbnail) {
            kvng_internal_free(package->thumbnailPartName);
            package->thumbnailPartName = part;
          } else {
            package->signatureOriginPartName = part;
            resolved = XPSArchiveLoadDigitalSignatures(package->archive, part, &package->signatures);
          }
          return resolved;
        });
  }
  QELXmlReaderFree(reader);
  if (status != 1) {
    XPSPackageClose(package);
    return status;
  }
  *out = package;
  return 1;
}

void XPSPackageClose(XPSPackage* package) {
  if (!package) return;
  if (package->signatures) {
    for (xmlDocPtr* doc = package->signatures; *doc; ++doc) xmlFreeDoc(*doc);
    kvng_internal_free(package->signatures);
  }
  kvng_internal_free(package->signatureOriginPartName);
  kvng_internal_free(package->thumbnailPartName);
  XPSFreeImage(package->thumbnail);
  if (package->sequence && package->sequence->header.free) package->sequence->header.free(package->sequence);
  package->sequence = nullptr;
  XPSArchiveClose(package->archive);
  kvng_internal_free(package);
  QELLibXmlEnd();
}

int32_t XPSPackageGetDocumentCount(const XPSPackage* package) {
  if (!package) return -1;
  return package->sequence ? ELFDequeGetCount(package->sequence->documents) : 0;
}

XPSFixedDoc* XPSPackageGetDocument(XPSPackage* package, int32_t n) {
  if (!package || !package->sequence || n < 1 || n > XPSPackageGetDocumentCount(package)) return nullptr;
  return static_cast<XPSFixedDoc*>(ELFDequeGet(package->sequence->documents, n - 1));
}

const char* XPSPackageGetFileName(const XPSPackage* package) {
  return package ? XPSArchiveGetFileName(package->archive) : nullptr;
}

int XPSPackageGetThumbnail(XPSPackage* package, QELImage** image) {
  if (!package || !image) return 0;
  *image = nullptr;
  if (!package->thumbnailPartName) return 1;
  if (!package->thumbnail) {
    const int status = XPSArchiveLoadImage(package->archive, package->thumbnailPartName, 1, &package->thumbnail);
    if (status != 1) return status;
  }
  *image = package->thumbnail;
  return 1;
}

int32_t XPSFixedDocGetPageCount(const XPSFixedDoc* document) {
  return document ? ELFDequeGetCount(document->pages) : -1;
}

int XPSFixedDocLoadPage(XPSFixedDoc* document, int32_t n, XPSFixedPage** page) {
  if (!page) return -1;
  *page = nullptr;
  if (!document || n < 1 || n > XPSFixedDocGetPageCount(document)) return -1;
  auto* named = static_cast<XPSFixedPage*>(document->pages->items[n - 1]);
  return read_page(document->archive, named->partName, page);
}

XPSFixedPage* XPSFixedDocGetPage(XPSFixedDoc* document, int32_t n) {
  XPSFixedPage* page = nullptr;
  XPSFixedDocLoadPage(document, n, &page);
  return page;
}

int XPSFixedPageCharge(XPSFixedPage* page, int64_t parts, int64_t bytes, const char* what) {
  if (!page) return -1;
  const bool too_many = parts > XPS_MAX_PAGE_PARTS - page->pulledParts;
  const bool too_big = bytes > XPS_MAX_PAGE_BYTES - page->pulledBytes;
  if (too_many || too_big) {
    if (too_many) {
      KVngError("%s: Page %s pulls in more than %d parts with %s (XPS_MAX_PAGE_PARTS)\n", "XPSFixedPageCharge",
                page->partName, XPS_MAX_PAGE_PARTS, what);
    } else {
      KVngError("%s: Page %s pulls in more than %lld bytes with %s (XPS_MAX_PAGE_BYTES)\n", "XPSFixedPageCharge",
                page->partName, static_cast<long long>(XPS_MAX_PAGE_BYTES), what);
    }
    return -1;
  }
  page->pulledParts += parts;
  page->pulledBytes += bytes;
  return 1;
}

int XPSFixedPageGetThumbnail(XPSFixedPage* page, QELImage** image) {
  if (!page || !image) return 0;
  *image = nullptr;
  if (!page->thumbnailPartName) return 1;
  if (!page->thumbnail) {
    const int status = XPSArchiveLoadImage(page->archive, page->thumbnailPartName, 1, &page->thumbnail);
    if (status != 1) return status;
  }
  *image = page->thumbnail;
  return 1;
}

}  // extern "C"
