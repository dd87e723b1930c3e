// The relationship transform on its own: its output after C14N against the lxml oracle, and
// against xmlsec1's own relationship transform where that one is defined (selection by Id).

#include "xps_opcrel.h"

// xmlsec1 headers need its base header first.
#include <xmlsec/xmlsec.h>

#include <gtest/gtest.h>
#include <libxml/parser.h>
#include <xmlsec/errors.h>
#include <xmlsec/membuf.h>
#include <xmlsec/openssl/app.h>
#include <xmlsec/openssl/crypto.h>
#include <xmlsec/transforms.h>

#include <string>
#include <vector>

#include "xps_sign_support.h"

namespace {

using xpstest::rel_hyperlink;
using xpstest::rel_required_resource;
using xpstest::relationships;

// xmlsec1 set up for one test and shut down after it, as the signing method does per call.
class XmlSecLibrary {
 public:
  XmlSecLibrary() {
    xmlInitParser();
    ok_ = xmlSecInit() == 0 && xmlSecOpenSSLAppInit(nullptr) == 0 && xmlSecOpenSSLInit() == 0;
  }
  ~XmlSecLibrary() {
    xmlSecOpenSSLShutdown();
    xmlSecOpenSSLAppShutdown();
    xmlSecShutdown();
  }
  bool ok() const { return ok_; }

 private:
  bool ok_ = false;
};

struct RunResult {
  int status = -1;
  std::string output;
};

// Runs klass on the bytes, pushed in chunks of chunk bytes, followed by inclusive C14N; the
// transform reads its settings from a Transform element with the given children.
RunResult run_transform(xmlSecTransformId klass, const std::string& children, const std::string& input, size_t chunk) {
  const std::string element = std::string("<Transform xmlns=\"http://www.w3.org/2000/09/xmldsig#\" xmlns:opc=\"") +
                              reinterpret_cast<const char*>(qelOpcDSigNs) + "\" Algorithm=\"" +
                              reinterpret_cast<const char*>(qelHrefRels) + "\">" + children + "</Transform>";
  RunResult result;
  xmlDocPtr doc = xmlReadMemory(element.data(), static_cast<int>(element.size()), nullptr, nullptr, 0);
  xmlSecTransformCtxPtr ctx = xmlSecTransformCtxCreate();
  xmlSecTransformPtr transform = xmlSecTransformCreate(klass);
  bool ok = doc && ctx && transform && klass->readNode(transform, xmlDocGetRootElement(doc), ctx) == 0 &&
            xmlSecTransformCtxAppend(ctx, transform) == 0;
  if (!ok && transform) xmlSecTransformDestroy(transform);
  ok = ok && xmlSecTransformCtxCreateAndAppend(ctx, xmlSecTransformInclC14NId) &&
       xmlSecTransformCtxCreateAndAppend(ctx, xmlSecTransformMemBufId) &&
       xmlSecTransformCtxPrepare(ctx, xmlSecTransformDataTypeBin) == 0;
  for (size_t at = 0; ok && at < input.size(); at += chunk) {
    const std::string piece = input.substr(at, chunk);
    ok = xmlSecTransformPushBin(ctx->first, reinterpret_cast<const xmlSecByte*>(piece.data()),
                                static_cast<xmlSecSize>(piece.size()), 0, ctx) == 0;
  }
  ok = ok && xmlSecTransformPushBin(ctx->first, nullptr, 0, 1, ctx) == 0;
  if (ok) {
    xmlSecBufferPtr buffer = xmlSecTransformMemBufGetBuffer(ctx->last);
    result.output.assign(reinterpret_cast<const char*>(xmlSecBufferGetData(buffer)), xmlSecBufferGetSize(buffer));
    result.status = 0;
  }
  if (ctx) xmlSecTransformCtxDestroy(ctx);
  xmlFreeDoc(doc);
  return result;
}

std::string group(const std::string& type) { return "<opc:RelationshipsGroupReference SourceType=\"" + type + "\"/>"; }
std::string by_id(const std::string& id) { return "<opc:RelationshipReference SourceId=\"" + id + "\"/>"; }

const std::string mixed = relationships({{"rB", rel_required_resource, "/b.png", ""},
                                         {"R1", rel_hyperlink, "http://example.com/", " TargetMode=\"External\""},
                                         {"ra", rel_required_resource, "/a.png", " TargetMode=\"Internal\""},
                                         {"r0", rel_hyperlink, "/c.xml", ""}});

TEST(RelationshipTransform, MatchesTheOracleForEverySelection) {
  const XmlSecLibrary library;
  ASSERT_TRUE(library.ok());
  const monotest::TempDir dir;
  const std::string spaced = std::string("<?xml version=\"1.0\"?>\n<Relationships xmlns=\"") + xpstest::rels_ns +
                             "\">\n  <Relationship Id=\"rB\" Type=\"" + rel_required_resource +
                             "\" Target=\"/b.png\"/>\n  <Relationship Id=\"x\" Type=\"" + rel_hyperlink +
                             "\" Target=\"/x\"/>\n</Relationships>\n";
  struct Case {
    const char* what;
    std::string rels;
    std::string children;
    std::vector<std::string> selection;
  } cases[] = {
      {"by type, others and whitespace dropped",
       spaced,
       group(rel_required_resource),
       {std::string("type:") + rel_required_resource}},
      {"by type, sorted by Id in byte order",
       mixed,
       group(rel_required_resource),
       {std::string("type:") + rel_required_resource}},
      {"external kept as external", mixed, group(rel_hyperlink), {std::string("type:") + rel_hyperlink}},
      {"duplicate type stored once",
       mixed,
       group(rel_hyperlink) + group(rel_hyperlink),
       {std::string("type:") + rel_hyperlink}},
      {"by id and type",
       mixed,
       by_id("r0") + group(rel_required_resource),
       {"id:r0", std::string("type:") + rel_required_resource}},
      {"no selection keeps all", mixed, "", {}},
      {"nothing matches", mixed, by_id("nope"), {"id:nope"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string file = dir.file("case.rels");
    monotest::write_file(file, c.rels);
    const RunResult ours = run_transform(qelTransformRelsGetKlass(), c.children, c.rels, 4096);
    ASSERT_EQ(ours.status, 0);
    EXPECT_EQ(ours.output, xpstest::oracle_transform(file, c.selection));
  }
}

// xmlsec1's own transform selects by Id only; there the two must give the same bytes.
TEST(RelationshipTransform, AgreesWithXmlSecOwnTransform) {
  const XmlSecLibrary library;
  ASSERT_TRUE(library.ok());
  ASSERT_NE(qelTransformRelsGetKlass(), xmlSecTransformRelationshipGetKlass());
  for (const std::string& children : {by_id("ra"), by_id("rB") + by_id("R1") + by_id("rB"), by_id("none")}) {
    SCOPED_TRACE(children);
    const RunResult ours = run_transform(qelTransformRelsGetKlass(), children, mixed, 4096);
    const RunResult theirs = run_transform(xmlSecTransformRelationshipGetKlass(), children, mixed, 4096);
    ASSERT_EQ(ours.status, 0);
    ASSERT_EQ(theirs.status, 0);
    EXPECT_EQ(ours.output, theirs.output);
  }
}

TEST(RelationshipTransform, TransformsOnlyAtTheLastPush) {
  const XmlSecLibrary library;
  ASSERT_TRUE(library.ok());
  const RunResult whole = run_transform(qelTransformRelsGetKlass(), group(rel_required_resource), mixed, 1 << 20);
  for (const size_t chunk : {1, 7, 100}) {
    EXPECT_EQ(run_transform(qelTransformRelsGetKlass(), group(rel_required_resource), mixed, chunk).output,
              whole.output)
        << chunk;
  }
}

// A value is pasted into an XPath string literal, which has no escape: quotes are refused, as
// are references without their attribute.
TEST(RelationshipTransform, RefusesQuotesAndMissingAttributes) {
  const XmlSecLibrary library;
  ASSERT_TRUE(library.ok());
  xmlSecErrorsDefaultCallbackEnableOutput(0);
  for (const std::string& children :
       {group("T' or @Type!='"), group("T&quot; or &quot;1&quot;=&quot;1"), by_id("a'b"),
        std::string("<opc:RelationshipReference/>"), std::string("<opc:RelationshipsGroupReference/>")}) {
    EXPECT_EQ(run_transform(qelTransformRelsGetKlass(), children, mixed, 4096).status, -1) << children;
  }
  xmlSecErrorsDefaultCallbackEnableOutput(1);
}

TEST(RelationshipTransform, RefusesADocumentTypeDeclaration) {
  const XmlSecLibrary library;
  ASSERT_TRUE(library.ok());
  xmlSecErrorsDefaultCallbackEnableOutput(0);
  const std::string with_entity = std::string("<?xml version=\"1.0\"?><!DOCTYPE Relationships [<!ENTITY e \"/x\">]>") +
                                  "<Relationships xmlns=\"" + xpstest::rels_ns +
                                  "\"><Relationship Id=\"r\" Type=\"T\" Target=\"&e;\"/></Relationships>";
  EXPECT_EQ(run_transform(qelTransformRelsGetKlass(), "", with_entity, 4096).status, -1);
  xmlSecErrorsDefaultCallbackEnableOutput(1);
}

TEST(RelationshipTransform, TemplateGroupReference) {
  xmlDocPtr doc = xmlNewDoc(BAD_CAST "1.0");
  xmlNodePtr transform = xmlNewDocNode(doc, nullptr, BAD_CAST "Transform", nullptr);
  xmlDocSetRootElement(doc, transform);
  xmlSetNs(transform, xmlNewNs(transform, BAD_CAST "http://www.w3.org/2000/09/xmldsig#", nullptr));
  xmlNodePtr child = qelTmplRelsTransformAddGroupReference(transform, BAD_CAST "urn:t");
  ASSERT_NE(child, nullptr);
  EXPECT_STREQ(reinterpret_cast<const char*>(child->name), "opc:RelationshipsGroupReference");
  EXPECT_EQ(child->ns, nullptr);
  xmlChar* type = xmlGetProp(child, BAD_CAST "SourceType");
  EXPECT_STREQ(reinterpret_cast<const char*>(type), "urn:t");
  xmlFree(type);
  xmlSecErrorsDefaultCallbackEnableOutput(0);
  EXPECT_EQ(qelTmplRelsTransformAddGroupReference(nullptr, BAD_CAST "urn:t"), nullptr);
  EXPECT_EQ(qelTmplRelsTransformAddGroupReference(transform, nullptr), nullptr);
  xmlSecErrorsDefaultCallbackEnableOutput(1);
  xmlFreeDoc(doc);
}

}  // namespace
