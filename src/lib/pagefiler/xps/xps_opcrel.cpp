// The OPC relationship transform (ECMA-376 Part 2, Relationships Transform Algorithm) as an
// xmlsec1 transform class, carried out by a built-in XSLT stylesheet.

#include "xps_opcrel.h"

// xmlsec1 headers need its base header first.
#include <xmlsec/xmlsec.h>

#include <libxml/parser.h>
#include <libxslt/transform.h>
#include <libxslt/xsltInternals.h>
#include <libxslt/xsltutils.h>
#include <xmlsec/buffer.h>
#include <xmlsec/errors.h>
#include <xmlsec/list.h>
#include <xmlsec/xmltree.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>

// One template copies every node; the variable's select is replaced by a filter when the
// Transform element names SourceIds or SourceTypes. TargetMode is added before the element's own
// attributes are copied, so an existing TargetMode wins.
const char qelXsltTemplate[] =
    "<?xml version=\"1.0\" encoding=\"utf-8\"?>"
    "<xsl:stylesheet version=\"1.0\" xmlns:xsl=\"http://www.w3.org/1999/XSL/Transform\">"
    "<xsl:template match=\"@*|node()\">"
    "<xsl:variable name=\"selection\" select=\"@*|node()\"/>"
    "<xsl:copy>"
    "<xsl:if test=\"name()='Relationship'\"><xsl:attribute name=\"TargetMode\">Internal</xsl:attribute></xsl:if>"
    "<xsl:apply-templates select=\"$selection\"><xsl:sort select=\"@Id\" data-type=\"text\" order=\"ascending\"/>"
    "</xsl:apply-templates>"
    "</xsl:copy>"
    "</xsl:template>"
    "</xsl:stylesheet>";

const xmlChar qelNameRels[] = "rels";
const xmlChar qelHrefRels[] = "http://schemas.openxmlformats.org/package/2006/RelationshipTransform";
const xmlChar qelOpcDSigNs[] = "http://schemas.openxmlformats.org/package/2006/digital-signature";
const xmlChar qelAttrSourceType[] = "SourceType";
const xmlChar qelAttrSourceId[] = "SourceId";
const xmlChar qelAttrSelect[] = "select";
const xmlChar qelNodeVariable[] = "variable";
const xmlChar qelNodeRelationshipsGroupReference[] = "opc:RelationshipsGroupReference";
const xmlChar qelNodeRelationshipReference[] = "RelationshipReference";

namespace {

constexpr xmlChar xslt_ns[] = "http://www.w3.org/1999/XSL/Transform";
constexpr char module[] = "xpsrels";

struct RelsContext {
  xsltStylesheetPtr stylesheet;
  xmlSecPtrListPtr sourceIds;
  xmlSecPtrListPtr sourceTypes;
};

constexpr xmlSecSize qelTransformRelsSize = sizeof(xmlSecTransform) + sizeof(RelsContext);

RelsContext* context_of(xmlSecTransformPtr transform) {
  return reinterpret_cast<RelsContext*>(reinterpret_cast<xmlSecByte*>(transform) + sizeof(xmlSecTransform));
}

void report(const char* subject, int reason, const char* format, ...) __attribute__((format(printf, 3, 4)));
void report(const char* subject, int reason, const char* format, ...) {
  char detail[512];
  va_list args;
  va_start(args, format);
  std::vsnprintf(detail, sizeof detail, format, args);
  va_end(args);
  xmlSecError(module, 0, "", nullptr, subject, reason, "%s", detail);
}

bool check(xmlSecTransformPtr transform) {
  if (!xmlSecTransformCheckId(transform, qelTransformRelsGetKlass())) {
    report("xmlSecTransformCheckId (transform, qelTransformRelsId)", XMLSEC_ERRORS_R_ASSERTION, " ");
    return false;
  }
  if (!xmlSecTransformCheckSize(transform, qelTransformRelsSize)) {
    report("xmlSecTransformCheckSize (transform, qelTransformRelsSize)", XMLSEC_ERRORS_R_ASSERTION, " ");
    return false;
  }
  return true;
}

int qelTransformRelsInitialize(xmlSecTransformPtr transform) {
  if (!check(transform)) return -1;
  RelsContext* ctx = context_of(transform);
  ctx->stylesheet = nullptr;
  ctx->sourceIds = xmlSecPtrListCreate(xmlSecStringListId);
  ctx->sourceTypes = xmlSecPtrListCreate(xmlSecStringListId);
  if (!ctx->sourceIds || !ctx->sourceTypes) {
    report("xmlSecPtrListCreate", XMLSEC_ERRORS_R_XMLSEC_FAILED, " ");
    return -1;
  }
  return 0;
}

void qelTransformRelsFinalize(xmlSecTransformPtr transform) {
  if (!check(transform)) return;
  RelsContext* ctx = context_of(transform);
  if (ctx->stylesheet) xsltFreeStylesheet(ctx->stylesheet);
  if (ctx->sourceIds) xmlSecPtrListDestroy(ctx->sourceIds);
  if (ctx->sourceTypes) xmlSecPtrListDestroy(ctx->sourceTypes);
  std::memset(ctx, 0, sizeof *ctx);
}

// The template stores the group reference under its prefixed name with no namespace of its own;
// once the signature is parsed again it is a namespaced element. Both forms are the reference.
bool is_reference(xmlNodePtr node, const xmlChar* local) {
  if (xmlStrEqual(node->name, local)) return !node->ns || xmlStrEqual(node->ns->href, qelOpcDSigNs);
  return !xmlStrncmp(node->name, BAD_CAST "opc:", 4) && xmlStrEqual(node->name + 4, local);
}

bool list_has(xmlSecPtrListPtr list, const xmlChar* value) {
  for (xmlSecSize i = 0; i < xmlSecPtrListGetSize(list); ++i) {
    if (xmlStrEqual(static_cast<const xmlChar*>(xmlSecPtrListGetItem(list, i)), value)) return true;
  }
  return false;
}

// Reads one SourceId or SourceType into its list. The value is pasted into an XPath string
// literal, which has no escape: a value with a quote could end the literal and change the
// filter, so it is refused.
int read_source(xmlNodePtr node, const xmlChar* attribute, xmlSecPtrListPtr list) {
  xmlChar* value = xmlGetProp(node, attribute);
  if (!value) {
    report(reinterpret_cast<const char*>(attribute), XMLSEC_ERRORS_R_INVALID_NODE_ATTRIBUTE, "node=%s",
           reinterpret_cast<const char*>(node->name));
    return -1;
  }
  if (xmlStrchr(value, '\'') || xmlStrchr(value, '"')) {
    report(reinterpret_cast<const char*>(attribute), XMLSEC_ERRORS_R_INVALID_NODE_ATTRIBUTE,
           "node=%s: a quote in the value", reinterpret_cast<const char*>(node->name));
    xmlFree(value);
    return -1;
  }
  if (list_has(list, value)) {
    xmlFree(value);
    return 0;
  }
  if (xmlSecPtrListAdd(list, value) < 0) {  // on success the list owns value
    report("xmlSecPtrListAdd", XMLSEC_ERRORS_R_XMLSEC_FAILED, " ");
    xmlFree(value);
    return -1;
  }
  return 0;
}

// A growing text on the libxml2 heap.
struct Text {
  xmlChar* data = nullptr;
  int length = 0;

  ~Text() { xmlFree(data); }
  bool add(const xmlChar* more) {
    const int extra = xmlStrlen(more);
    if (extra > INT32_MAX - 1 - length) return false;
    auto* grown = static_cast<xmlChar*>(xmlRealloc(data, static_cast<size_t>(length + extra + 1)));
    if (!grown) return false;
    std::memcpy(grown + length, more, static_cast<size_t>(extra));
    length += extra;
    grown[length] = 0;
    data = grown;
    return true;
  }
  bool add(const char* more) { return add(BAD_CAST more); }
};

// "@*|node()[@Id='a'or @Id='b'or @Type='T']": every attribute of a node, and those children
// whose Id or Type was asked for.
bool build_selection(const RelsContext* ctx, Text* selection) {
  bool first = true;
  bool ok = true;
  const struct {
    xmlSecPtrListPtr list;
    const char* test;
  } parts[] = {{ctx->sourceIds, "@Id='"}, {ctx->sourceTypes, "@Type='"}};
  for (const auto& part : parts) {
    for (xmlSecSize i = 0; i < xmlSecPtrListGetSize(part.list) && ok; ++i) {
      ok = selection->add(first ? "@*|node()[" : "or ") && selection->add(part.test) &&
           selection->add(static_cast<const xmlChar*>(xmlSecPtrListGetItem(part.list, i))) && selection->add("'");
      first = false;
    }
  }
  return ok && (first || selection->add("]"));
}

int qelTransformRelsNodeRead(xmlSecTransformPtr transform, xmlNodePtr node, xmlSecTransformCtxPtr) {
  if (!check(transform)) return -1;
  if (!node) {
    report("node != NULL", XMLSEC_ERRORS_R_ASSERTION, " ");
    return -1;
  }
  RelsContext* ctx = context_of(transform);
  for (xmlNodePtr child = xmlSecGetNextElementNode(node->children); child;
       child = xmlSecGetNextElementNode(child->next)) {
    if (is_reference(child, qelNodeRelationshipReference)) {
      if (read_source(child, qelAttrSourceId, ctx->sourceIds) < 0) return -1;
    } else if (is_reference(child, qelNodeRelationshipsGroupReference + 4)) {
      if (read_source(child, qelAttrSourceType, ctx->sourceTypes) < 0) return -1;
    }
  }

  Text selection;
  if (!build_selection(ctx, &selection)) {
    report("qelTransformRelsCreateStylesheet", XMLSEC_ERRORS_R_MALLOC_FAILED, "size=%d", selection.length);
    return -1;
  }
  xmlDocPtr doc =
      xmlReadMemory(qelXsltTemplate, static_cast<int>(sizeof qelXsltTemplate - 1), nullptr, nullptr, XML_PARSE_NONET);
  if (!doc) {
    report("xmlReadMemory", XMLSEC_ERRORS_R_XML_FAILED, " ");
    return -1;
  }
  xmlNodePtr root = xmlDocGetRootElement(doc);
  if (!root) {
    report("xmlDocGetRootElement", XMLSEC_ERRORS_R_XML_FAILED, " ");
    xmlFreeDoc(doc);
    return -1;
  }
  if (selection.data) {
    xmlNodePtr variable = xmlSecFindNode(root, qelNodeVariable, xslt_ns);
    if (!variable) {
      report(reinterpret_cast<const char*>(qelNodeVariable), XMLSEC_ERRORS_R_NODE_NOT_FOUND, " ");
      xmlFreeDoc(doc);
      return -1;
    }
    if (!xmlSetProp(variable, qelAttrSelect, selection.data)) {
      report("xmlSetProp", XMLSEC_ERRORS_R_XML_FAILED, " ");
      xmlFreeDoc(doc);
      return -1;
    }
  }
  xsltStylesheetPtr stylesheet = xsltParseStylesheetDoc(doc);  // owns doc from here on success
  if (!stylesheet) {
    report("xsltParseStylesheetDoc", XMLSEC_ERRORS_R_XSLT_FAILED, " ");
    xmlFreeDoc(doc);
    return -1;
  }
  if (ctx->stylesheet) xsltFreeStylesheet(ctx->stylesheet);
  ctx->stylesheet = stylesheet;
  return 0;
}

// A relationships part never needs a DTD (OPC forbids one in every XML part, ECMA-376 Part 2):
// one is refused, so no entity of the part is ever declared, let alone substituted.
xmlDocPtr parse_input(const xmlSecByte* data, xmlSecSize size) {
  if (size > static_cast<xmlSecSize>(INT32_MAX)) return nullptr;
  xmlDocPtr doc = xmlReadMemory(reinterpret_cast<const char*>(data), static_cast<int>(size), nullptr, nullptr,
                                XML_PARSE_NONET | XML_PARSE_RECOVER | XML_PARSE_NOWARNING | XML_PARSE_NOERROR);
  if (doc && (doc->intSubset || doc->extSubset)) {
    xmlFreeDoc(doc);
    return nullptr;
  }
  return doc;
}

int transform_all(xmlSecTransformPtr transform, RelsContext* ctx) {
  xmlSecBufferPtr in = &transform->inBuf;
  const xmlSecSize size = xmlSecBufferGetSize(in);
  xmlDocPtr doc = parse_input(xmlSecBufferGetData(in), size);
  if (!doc) {
    report("xmlSecParseMemory", XMLSEC_ERRORS_R_XML_FAILED, " ");
    report("xmlSecXslProcess", XMLSEC_ERRORS_R_XMLSEC_FAILED, " ");
    return -1;
  }
  xmlDocPtr result = xsltApplyStylesheet(ctx->stylesheet, doc, nullptr);
  xmlFreeDoc(doc);
  if (!result) {
    report("xsltApplyStylesheet", XMLSEC_ERRORS_R_XSLT_FAILED, " ");
    report("xmlSecXslProcess", XMLSEC_ERRORS_R_XMLSEC_FAILED, " ");
    return -1;
  }
  xmlOutputBufferPtr out = xmlSecBufferCreateOutputBuffer(&transform->outBuf);
  if (!out) {
    report("xmlSecBufferCreateOutputBuffer", XMLSEC_ERRORS_R_XMLSEC_FAILED, " ");
    report("xmlSecXslProcess", XMLSEC_ERRORS_R_XMLSEC_FAILED, " ");
    xmlFreeDoc(result);
    return -1;
  }
  const int written = xsltSaveResultTo(out, result, ctx->stylesheet);
  const int closed = xmlOutputBufferClose(out);
  xmlFreeDoc(result);
  if (written < 0 || closed < 0) {
    report("xsltSaveResultTo", XMLSEC_ERRORS_R_XSLT_FAILED, " ");
    report("xmlSecXslProcess", XMLSEC_ERRORS_R_XMLSEC_FAILED, " ");
    return -1;
  }
  if (xmlSecBufferRemoveHead(in, size) < 0) {
    report("xmlSecBufferRemoveHead", XMLSEC_ERRORS_R_XMLSEC_FAILED, "size=%u", static_cast<unsigned>(size));
    return -1;
  }
  return 0;
}

// Bytes accumulate until the last push; the whole part is then transformed as one document.
int qelTransformRelsExecute(xmlSecTransformPtr transform, int last, xmlSecTransformCtxPtr transformCtx) {
  if (!check(transform)) return -1;
  if (!transformCtx) {
    report("transformCtx != NULL", XMLSEC_ERRORS_R_ASSERTION, " ");
    return -1;
  }
  RelsContext* ctx = context_of(transform);
  if (!ctx->stylesheet) {
    report("ctx->stylesheet != NULL", XMLSEC_ERRORS_R_ASSERTION, " ");
    return -1;
  }
  if (transform->status == xmlSecTransformStatusNone) transform->status = xmlSecTransformStatusWorking;
  if (transform->status == xmlSecTransformStatusWorking) {
    if (xmlSecBufferGetSize(&transform->outBuf) != 0) {
      report("outSize == 0", XMLSEC_ERRORS_R_ASSERTION, " ");
      return -1;
    }
    if (!last) return 0;
    if (transform_all(transform, ctx) < 0) return -1;
    transform->status = xmlSecTransformStatusFinished;
    return 0;
  }
  if (transform->status == xmlSecTransformStatusFinished) {
    if (xmlSecBufferGetSize(&transform->inBuf) != 0) {
      report("inSize == 0", XMLSEC_ERRORS_R_ASSERTION, " ");
      return -1;
    }
    return 0;
  }
  report("xmlSecTransformStatus", XMLSEC_ERRORS_R_INVALID_STATUS, "status=%d", static_cast<int>(transform->status));
  return -1;
}

const xmlSecTransformKlass relsKlass = {
    sizeof(xmlSecTransformKlass),
    qelTransformRelsSize,
    qelNameRels,
    qelHrefRels,
    xmlSecTransformUsageDSigTransform,
    qelTransformRelsInitialize,
    qelTransformRelsFinalize,
    qelTransformRelsNodeRead,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
    xmlSecTransformDefaultGetDataType,
    xmlSecTransformDefaultPushBin,
    xmlSecTransformDefaultPopBin,
    nullptr,
    nullptr,
    qelTransformRelsExecute,
    nullptr,
    nullptr,
};

}  // namespace

xmlSecTransformId qelTransformRelsGetKlass(void) { return &relsKlass; }

xmlNodePtr qelTmplRelsTransformAddGroupReference(xmlNodePtr transformNode, const xmlChar* sourceType) {
  if (!transformNode) {
    report("transformNode != NULL", XMLSEC_ERRORS_R_ASSERTION, " ");
    return nullptr;
  }
  if (!sourceType) {
    report("sourceType != NULL", XMLSEC_ERRORS_R_ASSERTION, " ");
    return nullptr;
  }
  xmlNodePtr child = xmlSecAddChild(transformNode, qelNodeRelationshipsGroupReference, nullptr);
  if (!child) {
    report("xmlSecAddChild", XMLSEC_ERRORS_R_XMLSEC_FAILED, "node=%s",
           reinterpret_cast<const char*>(qelNodeRelationshipsGroupReference));
    return nullptr;
  }
  child->ns = nullptr;  // libxml2 gives a new child its parent's namespace; the prefix names it
  if (!xmlSetProp(child, qelAttrSourceType, sourceType)) {
    report("xmlSetProp", XMLSEC_ERRORS_R_XML_FAILED, "node=%s",
           reinterpret_cast<const char*>(qelNodeRelationshipsGroupReference));
    xmlUnlinkNode(child);
    xmlFreeNode(child);
    return nullptr;
  }
  return child;
}
