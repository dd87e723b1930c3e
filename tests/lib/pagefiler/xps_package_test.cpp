// The XPS archive access and package reader on hand-built packages: part naming, interleaved
// pieces, the inflate cap, both namespaces, and damaged or hostile packages failing cleanly.

#include <cstring>

#include "kvng.h"
#include "xps_archive.h"
#include "xps_image.h"
#include "xps_test_support.h"

using xpstest::Namespace;
using xpstest::Part;

namespace {

std::string simple_page() { return "<Path Data=\"M 10,20 L 110,220 Z\" Fill=\"#FF0000\"/>"; }

// The bytes of a part through the archive, or the status when it cannot be loaded.
int load(XPSArchive* archive, const char* name, std::string* bytes) {
  unsigned char* buffer = nullptr;
  int64_t size = 0;
  const int status = XPSArchiveLoadResource(archive, name, &buffer, &size);
  if (status == 1) {
    EXPECT_EQ(buffer[size], 0) << "a loaded part is followed by a zero byte";
    bytes->assign(reinterpret_cast<char*>(buffer), static_cast<size_t>(size));
    kvng_internal_free(buffer);
  }
  return status;
}

// The whole text of a part read through the XML reader path (pieces joined).
std::string read_joined(XPSArchive* archive, const char* name, int* status) {
  xmlDocPtr doc = nullptr;
  *status = XPSArchiveReadPart(archive, name, 1, &doc);
  std::string text;
  if (doc) {
    xmlChar* dump = nullptr;
    int length = 0;
    xmlDocDumpMemory(doc, &dump, &length);
    text.assign(reinterpret_cast<char*>(dump), static_cast<size_t>(length));
    xmlFree(dump);
    xmlFreeDoc(doc);
  }
  return text;
}

// Sets the uncompressed size of the one entry of a zip, in its local header and in the
// central directory alike.
void set_declared_size(std::string* zip, uint32_t size) {
  auto put = [&](size_t at) {
    for (int i = 0; i < 4; ++i) (*zip)[at + i] = static_cast<char>(size >> (8 * i));
  };
  ASSERT_EQ(zip->compare(0, 4, "PK\x03\x04"), 0);
  put(22);
  const size_t central = zip->find("PK\x01\x02");
  ASSERT_NE(central, std::string::npos);
  put(central + 24);
}

}  // namespace

TEST_F(XpsTest, PartNamesStayInsideThePackage) {
  struct Case {
    const char* name;
    int status;
    const char* entry;
  } cases[] = {
      {"/Documents/1/Pages/1.fpage", 1, "Documents/1/Pages/1.fpage"},
      {"Documents/1/Pages/1.fpage", 1, "Documents/1/Pages/1.fpage"},
      {"/Documents/1/Pages/../Resources/a.png", 1, "Documents/1/Resources/a.png"},
      {"/a/./b", 1, "a/b"},
      {"/../etc/passwd", -1, nullptr},
      {"/Documents/../../x", -1, nullptr},
      {"C:/Windows/win.ini", -1, nullptr},
      {"file:///etc/passwd", -1, nullptr},
      {"\\\\host\\share", -1, nullptr},
      {"//host/share", -1, nullptr},
      {"/a//b", -1, nullptr},
  };
  for (const Case& c : cases) {
    char* entry = nullptr;
    EXPECT_EQ(XPSPartNameToEntryName(c.name, "test", &entry), c.status) << c.name;
    if (c.entry) {
      EXPECT_STREQ(entry, c.entry) << c.name;
    }
    kvng_internal_free(entry);
  }
  char* resolved = nullptr;
  ASSERT_EQ(XPSResolvePartName("/FixedDocumentSequence.fdseq", "Documents/1/FixedDocument.fdoc", "t", &resolved), 1);
  EXPECT_STREQ(resolved, "/Documents/1/FixedDocument.fdoc");
  kvng_internal_free(resolved);
  ASSERT_EQ(XPSResolvePartName("/Documents/1/Pages/1.fpage", "/Resources/x.png", "t", &resolved), 1);
  EXPECT_STREQ(resolved, "/Resources/x.png");
  kvng_internal_free(resolved);
  EXPECT_EQ(XPSResolvePartName("NoSlash.fdseq", "Documents/1/FixedDocument.fdoc", "t", &resolved), -1);
  EXPECT_EQ(XPSResolvePartName("/Doc/1.fpage", "../../../etc/passwd", "t", &resolved), -1);
  EXPECT_EQ(resolved, nullptr);
}

TEST_F(XpsTest, RelationshipPartNames) {
  struct Case {
    const char* part;
    const char* rels;
  } cases[] = {{"", "/_rels/.rels"},
               {"/Documents/1/FixedDocument.fdoc", "/Documents/1/_rels/FixedDocument.fdoc.rels"},
               {"FixedDocumentSequence.fdseq", "/_rels/FixedDocumentSequence.fdseq.rels"}};
  for (const Case& c : cases) {
    char* rels = __XPSMakeRelsPartName(c.part);
    EXPECT_STREQ(rels, c.rels);
    kvng_internal_free(rels);
  }
}

TEST_F(XpsTest, PartsAreFoundAndPiecesJoinedInOrder) {
  const std::string text = "<Part>" + std::string(3000, 'x') + "</Part>";
  std::vector<Part> parts = xpstest::interleave({"Doc/P.xml", text}, 3);
  std::swap(parts[0], parts[2]);  // directory order is not piece order
  parts.push_back({"Whole.xml", "<w/>"});
  // A part whose name contains the interleaved part's name is not one of its pieces.
  parts.push_back({"Other/Doc/P.xml/[0].piece", "<stray/>"});
  XPSArchive* archive = nullptr;
  ASSERT_EQ(XPSArchiveOpenFile(package(parts).c_str(), "r", 0, &archive), 1);
  int status = 0;
  EXPECT_NE(read_joined(archive, "/Doc/P.xml", &status).find(text), std::string::npos);
  EXPECT_EQ(status, 1);
  std::string bytes;
  EXPECT_EQ(load(archive, "/Whole.xml", &bytes), 1);
  EXPECT_EQ(bytes, "<w/>");
  EXPECT_EQ(load(archive, "Whole.xml", &bytes), 1) << "with or without the leading slash";
  EXPECT_EQ(load(archive, "/Missing.xml", &bytes), -1);
  EXPECT_STRNE(XPSArchiveGetFileName(archive), nullptr);
  QELXmlReader* reader = nullptr;
  EXPECT_EQ(XPSArchiveMakeXMLReader(archive, "/Missing.xml", 0, &reader), 1);
  EXPECT_EQ(reader, nullptr) << "a missing optional part gives no reader";
  EXPECT_EQ(XPSArchiveMakeXMLReader(archive, "/Missing.xml", 1, &reader), -1);
  XPSArchiveClose(archive);

  // The same archive read from memory through a stream.
  const std::string zip = monotest::read_file(dir.file("test.xps"));
  KVngIO* stream = KVngIO_Str(zip.data(), static_cast<int64_t>(zip.size()));
  ASSERT_EQ(XPSArchiveOpen(stream, "r", 0, &archive), 1);
  EXPECT_EQ(XPSArchiveGetFileName(archive), nullptr);
  EXPECT_NE(read_joined(archive, "/Doc/P.xml", &status).find(text), std::string::npos);
  XPSArchiveClose(archive);
  stream->release(stream);

  // The same part with its middle piece gone.
  std::vector<Part> broken = xpstest::interleave({"Doc/P.xml", text}, 3);
  broken.erase(broken.begin() + 1);
  ASSERT_EQ(XPSArchiveOpenFile(package(broken, "broken.xps").c_str(), "r", 0, &archive), 1);
  read_joined(archive, "/Doc/P.xml", &status);
  EXPECT_EQ(status, -1);
  EXPECT_NE(messages.find("Missing piece #1 for part 'Doc/P.xml'"), std::string::npos) << messages;
  XPSArchiveClose(archive);
}

TEST_F(XpsTest, InflatingIsBoundedByTheDeclaredSizeAndTheCap) {
  std::string bytes;
  XPSArchive* archive = nullptr;
  // One entry of a megabyte of zeros, deflated to about a kilobyte.
  const std::string zeros(1 << 20, '\0');
  xpstest::write_zip(dir.file("plain.zip"), {{"z.bin", zeros}});
  const std::string zip = monotest::read_file(dir.file("plain.zip"));

  struct Case {
    const char* label;
    uint32_t declared;
  } cases[] = {{"smaller than it inflates to", 4096}, {"beyond the cap", 0xFFFFFFF0u}};
  for (const Case& c : cases) {
    std::string lying = zip;
    set_declared_size(&lying, c.declared);
    monotest::write_file(dir.file("lying.zip"), lying);
    messages.clear();
    ASSERT_EQ(XPSArchiveOpenFile(dir.file("lying.zip").c_str(), "r", 0, &archive), 1) << c.label;
    EXPECT_NE(load(archive, "z.bin", &bytes), 1) << c.label;
    EXPECT_FALSE(messages.empty()) << c.label;
    XPSArchiveClose(archive);
  }
}

TEST_F(XpsTest, PackagesOpenInBothNamespaces) {
  for (Namespace ns : {Namespace::Xps2005, Namespace::OpenXps}) {
    xpstest::PackageSpec spec;
    spec.ns = ns;
    spec.page_bodies = {simple_page(), simple_page(), "<FixedPage.Resources/>"};
    spec.interleave_pages = ns == Namespace::OpenXps ? 3 : 0;
    XPSPackage* pkg = nullptr;
    ASSERT_EQ(XPSPackageOpenDefault(package(spec).c_str(), &pkg), 1) << messages;
    EXPECT_EQ(XPSPackageGetDocumentCount(pkg), 1);
    XPSFixedDoc* doc = XPSPackageGetDocument(pkg, 1);
    ASSERT_NE(doc, nullptr);
    EXPECT_EQ(XPSPackageGetDocument(pkg, 2), nullptr);
    EXPECT_EQ(XPSFixedDocGetPageCount(doc), 3);
    EXPECT_EQ(XPSFixedDocGetPage(doc, 0), nullptr);
    EXPECT_EQ(XPSFixedDocGetPage(doc, 4), nullptr);
    XPSFixedPage* page = XPSFixedDocGetPage(doc, 1);
    ASSERT_NE(page, nullptr);
    EXPECT_EQ(page->width, 816);
    EXPECT_EQ(page->height, 1056);
    EXPECT_STREQ(page->partName, "/Documents/1/Pages/1.fpage");
    ASSERT_NE(page->canvasRoot, nullptr);
    EXPECT_STREQ(reinterpret_cast<const char*>(page->canvasRoot->children->name), "Path");
    XPSFixedPage* resources_only = XPSFixedDocGetPage(doc, 3);
    EXPECT_EQ(resources_only->canvasDoc, nullptr) << "no drawing element, no canvas";
    XPSElementRelease(resources_only);
    XPSElementRelease(doc);
    XPSPackageClose(pkg);
    // The page outlives the package and keeps its archive.
    QELImage* image = nullptr;
    EXPECT_EQ(XPSFixedPageRender(page, &image), 1);
    XPSFreeImage(image);
    XPSElementRelease(page);
  }
}

TEST_F(XpsTest, ThumbnailOnlyPackageHasNoDocuments) {
  std::vector<Part> parts{
      {"_rels/.rels", xpstest::relationships({{xpstest::opc_rel("metadata/core-properties"), "/docProps/core.xml"},
                                              {xpstest::opc_rel("metadata/thumbnail"), "/thumb.png"}})},
      {"thumb.png", xpstest::png_rgb(8, 8, 0, 0, 255)}};
  XPSPackage* pkg = nullptr;
  ASSERT_EQ(XPSPackageOpenDefault(package(parts).c_str(), &pkg), 1) << messages;
  EXPECT_EQ(XPSPackageGetDocumentCount(pkg), 0);
  EXPECT_EQ(XPSPackageGetDocument(pkg, 1), nullptr);
  EXPECT_STREQ(pkg->thumbnailPartName, "/thumb.png");
  QELImage* thumbnail = nullptr;
  ASSERT_EQ(XPSPackageGetThumbnail(pkg, &thumbnail), 1);
  ASSERT_NE(thumbnail, nullptr);
  EXPECT_EQ(thumbnail->layers->kind, 6);
  XPSPackageClose(pkg);
}

TEST_F(XpsTest, PageBoxesAreCheckedAndReplaced) {
  struct Case {
    const char* attributes;
    double content[4];
    double bleed[4];
    const char* report;
  } cases[] = {
      {"ContentBox=\"10,10,2000,50\"", {0, 0, 816, 1056}, {0, 0, 816, 1056}, "[M3.13]"},
      {"ContentBox=\"10, 20, 100, 50\" BleedBox=\"-10,0,826,1056\"", {10, 20, 100, 50}, {-10, 0, 826, 1056}, nullptr},
      {"BleedBox=\"0,0,800,1056\"", {0, 0, 816, 1056}, {0, 0, 816, 1056}, "[M3.9]"},
  };
  for (const Case& c : cases) {
    const std::string page = "<FixedPage xmlns=\"" + xpstest::page_ns(Namespace::Xps2005) +
                             "\" Width=\"816\" Height=\"1056\" " + c.attributes + ">" + simple_page() + "</FixedPage>";
    xpstest::PackageSpec spec;
    spec.page_bodies = {""};
    std::vector<Part> parts = xpstest::package_parts(spec);
    for (Part& p : parts)
      if (p.name == "Documents/1/Pages/1.fpage") p.bytes = page;
    messages.clear();
    XPSPackage* pkg = nullptr;
    ASSERT_EQ(XPSPackageOpenDefault(package(parts).c_str(), &pkg), 1) << messages;
    XPSFixedDoc* doc = XPSPackageGetDocument(pkg, 1);
    XPSFixedPage* fp = XPSFixedDocGetPage(doc, 1);
    for (int i = 0; i < 4; ++i) {
      EXPECT_EQ(fp->contentBox[i], c.content[i]) << c.attributes;
      EXPECT_EQ(fp->bleedBox[i], c.bleed[i]) << c.attributes;
    }
    if (c.report) {
      EXPECT_NE(messages.find(c.report), std::string::npos) << messages;
    }
    XPSElementRelease(fp);
    XPSElementRelease(doc);
    XPSPackageClose(pkg);
  }
}

TEST_F(XpsTest, DamagedAndHostilePackagesFailCleanly) {
  const std::string ns = xpstest::page_ns(Namespace::Xps2005);
  auto with = [&](const std::string& name, const std::string& bytes) {
    xpstest::PackageSpec spec;
    spec.page_bodies = {simple_page()};
    std::vector<Part> parts = xpstest::package_parts(spec);
    bool replaced = false;
    for (auto it = parts.begin(); it != parts.end(); ++it) {
      if (it->name != name) continue;
      replaced = true;
      if (bytes.empty()) {
        parts.erase(it);
      } else {
        it->bytes = bytes;
      }
      break;
    }
    if (!replaced) parts.push_back({name, bytes});
    return parts;
  };
  // Pages are read when asked for: a package opens whatever its pages hold, and a damaged page
  // fails alone, when it is loaded.
  struct Case {
    const char* label;
    std::vector<Part> parts;
    bool page = true;
  } cases[] = {
      {"no package relationships", with("_rels/.rels", ""), false},
      {"missing page part", with("Documents/1/Pages/1.fpage", "")},
      {"damaged page XML", with("Documents/1/Pages/1.fpage", "<FixedPage xmlns=\"" + ns + "\" Width=\"8\"><Path")},
      {"page without Width", with("Documents/1/Pages/1.fpage", "<FixedPage xmlns=\"" + ns + "\" Height=\"10\"/>")},
      {"page with a word for Height",
       with("Documents/1/Pages/1.fpage", "<FixedPage xmlns=\"" + ns + "\" Width=\"10\" Height=\"tall\"/>")},
      {"wrong page root", with("Documents/1/Pages/1.fpage", "<Canvas xmlns=\"" + ns + "\"/>")},
      {"PageContent without Source",
       with("Documents/1/FixedDocument.fdoc", "<FixedDocument xmlns=\"" + ns + "\"><PageContent/></FixedDocument>"),
       false},
      {"page outside the package",
       with("Documents/1/FixedDocument.fdoc",
            "<FixedDocument xmlns=\"" + ns + "\"><PageContent Source=\"../../../../etc/passwd\"/></FixedDocument>"),
       false},
      {"document with a drive name",
       with("FixedDocumentSequence.fdseq", "<FixedDocumentSequence xmlns=\"" + ns +
                                               "\"><DocumentReference Source=\"C:/x.fdoc\"/></FixedDocumentSequence>"),
       false},
      {"entity expansion",
       with("Documents/1/Pages/1.fpage",
            "<!DOCTYPE FixedPage [<!ENTITY a \"aaaaaaaaaa\"><!ENTITY b \"&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;\">]>"
            "<FixedPage xmlns=\"" +
                ns + "\" Width=\"8\" Height=\"8\"><Path Fill=\"&b;\" Data=\"M0,0 L1,1\"/></FixedPage>")},
      {"external entity",
       with("Documents/1/Pages/1.fpage", "<!DOCTYPE FixedPage [<!ENTITY x SYSTEM \"file:///etc/passwd\">]>"
                                         "<FixedPage xmlns=\"" +
                                             ns + "\" Width=\"8\" Height=\"8\">&x;</FixedPage>")},
  };
  for (const Case& c : cases) {
    messages.clear();
    XPSPackage* pkg = reinterpret_cast<XPSPackage*>(&messages);
    const int opened = XPSPackageOpenDefault(package(c.parts).c_str(), &pkg);
    if (c.page) {
      ASSERT_EQ(opened, 1) << c.label << "\n" << messages;
      XPSFixedDoc* doc = XPSPackageGetDocument(pkg, 1);
      XPSFixedPage* page = reinterpret_cast<XPSFixedPage*>(&messages);
      EXPECT_EQ(XPSFixedDocLoadPage(doc, 1, &page), -1) << c.label << "\n" << messages;
      EXPECT_EQ(page, nullptr) << c.label;
      EXPECT_NE(messages.find("1.fpage"), std::string::npos) << c.label << ": the page part is named\n" << messages;
      XPSElementRelease(doc);
      XPSPackageClose(pkg);
    } else {
      EXPECT_EQ(opened, -1) << c.label << "\n" << messages;
      EXPECT_EQ(pkg, nullptr) << c.label;
    }
    EXPECT_FALSE(messages.empty()) << c.label;
  }
  monotest::write_file(dir.file("not-a-zip.xps"), "PK\x03\x04 this is not a zip archive at all");
  XPSPackage* pkg = nullptr;
  EXPECT_NE(XPSPackageOpenDefault(dir.file("not-a-zip.xps").c_str(), &pkg), 1);
  EXPECT_NE(XPSPackageOpenDefault(dir.file("absent.xps").c_str(), &pkg), 1);
  EXPECT_EQ(XPSPackageOpenDefault("", &pkg), -1);
  EXPECT_EQ(pkg, nullptr);
}

TEST_F(XpsTest, OpeningUnderFailingAllocationsLeavesNothing) {
  xpstest::PackageSpec spec;
  spec.page_bodies = {simple_page(), "<Canvas><Path Data=\"M0,0 L5,5\" Fill=\"#00FF00\"/></Canvas>"};
  spec.interleave_pages = 2;
  const std::string path = package(spec);
  bool opened = false;
  for (size_t k = 1; !opened && k < 2000; ++k) {
    heap.fail_at(k);
    XPSPackage* pkg = nullptr;
    const int status = XPSPackageOpenDefault(path.c_str(), &pkg);
    heap.fail_at(0);
    if (status == 1) {
      opened = true;
      XPSPackageClose(pkg);
    } else {
      EXPECT_EQ(pkg, nullptr);
    }
    ASSERT_EQ(heap.live_blocks(), 0u) << "after failing allocation " << k;
  }
  EXPECT_TRUE(opened);

  // Pages are read after the open: loading and rendering them under a failing allocation gives
  // back everything they took.
  XPSPackage* pkg = nullptr;
  ASSERT_EQ(XPSPackageOpenDefault(path.c_str(), &pkg), 1);
  XPSFixedDoc* doc = XPSPackageGetDocument(pkg, 1);
  const size_t open_blocks = heap.live_blocks();
  bool rendered = false;
  for (size_t k = 1; !rendered && k < 2000; ++k) {
    heap.fail_at(k);
    rendered = true;
    for (int32_t n = 1; n <= 2; ++n) {
      XPSFixedPage* page = nullptr;
      QELImage* image = nullptr;
      rendered = XPSFixedDocLoadPage(doc, n, &page) == 1 && XPSFixedPageRender(page, &image) == 1 && rendered;
      XPSFreeImage(image);
      XPSElementRelease(page);
    }
    heap.fail_at(0);
    ASSERT_EQ(heap.live_blocks(), open_blocks) << "after failing allocation " << k;
  }
  EXPECT_TRUE(rendered);
  XPSElementRelease(doc);
  XPSPackageClose(pkg);
}

TEST_F(XpsTest, SignaturePartsAreCollectedFromTheOrigin) {
  xpstest::PackageSpec spec;
  spec.page_bodies = {simple_page()};
  std::vector<Part> parts = xpstest::package_parts(spec);
  for (Part& p : parts) {
    if (p.name != "_rels/.rels") continue;
    p.bytes = xpstest::relationships(
        {{xpstest::xps_rel(Namespace::Xps2005, "fixedrepresentation"), "/FixedDocumentSequence.fdseq"},
         {xpstest::opc_rel("digital-signature/origin"), "/package/services/digital-signature/origin.psdor"}});
  }
  parts.push_back({"package/services/digital-signature/origin.psdor", ""});
  parts.push_back({"package/services/digital-signature/_rels/origin.psdor.rels",
                   xpstest::relationships({{xpstest::opc_rel("digital-signature/signature"), "xml-signature/1.psdsxs"},
                                           {xpstest::opc_rel("metadata/thumbnail"), "/x.png"}})});
  parts.push_back({"package/services/digital-signature/xml-signature/1.psdsxs",
                   "<Signature xmlns=\"http://www.w3.org/2000/09/xmldsig#\"><SignedInfo/></Signature>"});
  XPSPackage* pkg = nullptr;
  ASSERT_EQ(XPSPackageOpenDefault(package(parts).c_str(), &pkg), 1) << messages;
  EXPECT_STREQ(pkg->signatureOriginPartName, "/package/services/digital-signature/origin.psdor");
  ASSERT_NE(pkg->signatures, nullptr);
  ASSERT_NE(pkg->signatures[0], nullptr);
  EXPECT_STREQ(reinterpret_cast<const char*>(xmlDocGetRootElement(pkg->signatures[0])->name), "Signature");
  EXPECT_EQ(pkg->signatures[1], nullptr);
  EXPECT_NE(messages.find("Skipping invalid Relationship type"), std::string::npos) << messages;
  XPSPackageClose(pkg);

  // A signature relationship whose part is missing fails the open.
  parts.pop_back();
  EXPECT_EQ(XPSPackageOpenDefault(package(parts, "unsigned.xps").c_str(), &pkg), -1);
  EXPECT_EQ(pkg, nullptr);
}

// OPC part names are the same whatever their ASCII case: packages whose zip entries were renamed
// in case (a folder, a page, the relationships, pieces) read as the original, and an image named
// through a ColorConvertedBitmap markup extension, as Ghostscript writes them, is the image it
// names.
TEST_F(XpsTest, PartNamesMatchWithoutRegardToCase) {
  const std::string image_brush =
      "<Path Data=\"M 0,0 L 96,0 96,96 0,96 Z\"><Path.Fill><ImageBrush ImageSource=\"%s\" Viewbox=\"0,0,8,8\" "
      "ViewboxUnits=\"Absolute\" Viewport=\"0,0,96,96\" ViewportUnits=\"Absolute\"/></Path.Fill></Path>";
  const auto brush = [&](const std::string& source) {
    std::string body = image_brush;
    body.replace(body.find("%s"), 2, source);
    return body;
  };
  struct Case {
    const char* label;
    std::string source;
    std::vector<std::pair<std::string, std::string>> renames;  // entry name -> stored name
    int status;
  } cases[] = {
      {"as written", "/Images/blue.png", {}, 1},
      {"image folder renamed", "/Images/blue.png", {{"Images/blue.png", "IMAGES/blue.png"}}, 1},
      {"page and its relationships renamed",
       "/Images/blue.png",
       {{"Documents/1/Pages/1.fpage", "documents/1/pages/1.FPAGE"},
        {"Documents/1/Pages/_rels/1.fpage.rels", "Documents/1/Pages/_RELS/1.fpage.rels"}},
       1},
      {"pieces renamed", "/Images/blue.png", {{"Documents/1/Pages/1.fpage/[0].last.piece", "DOCUMENTS/1/Pages/1.fpage/[0].LAST.PIECE"}}, 1},
      {"colour converted bitmap", "{ColorConvertedBitmap /Images/blue.png /Profiles/p.icc}", {}, 1},
      {"escaped brace", "{}/Images/blue.png", {}, 1},
      {"other markup extension", "{StaticResource blue}", {}, -1},
      {"extension naming nothing", "{ColorConvertedBitmap }", {}, -1},
  };
  for (const Case& c : cases) {
    xpstest::PackageSpec spec;
    spec.page_bodies = {brush(c.source)};
    spec.extra = {{"Images/blue.png", xpstest::png_rgb(8, 8, 0, 0, 255)},
                  {"Documents/1/Pages/_rels/1.fpage.rels",
                   xpstest::relationships({{xpstest::opc_rel("metadata/thumbnail"), "/Images/blue.png"}})}};
    spec.interleave_pages = std::string(c.label) == "pieces renamed" ? 1 : 0;
    std::vector<Part> parts = xpstest::package_parts(spec);
    for (const auto& [from, to] : c.renames) {
      bool found = false;
      for (Part& p : parts) {
        if (p.name != from) continue;
        p.name = to;
        found = true;
      }
      ASSERT_TRUE(found) << c.label << ": " << from;
    }
    messages.clear();
    XPSPackage* pkg = nullptr;
    ASSERT_EQ(XPSPackageOpenDefault(package(parts).c_str(), &pkg), 1) << c.label << "\n" << messages;
    XPSFixedDoc* doc = XPSPackageGetDocument(pkg, 1);
    XPSFixedPage* page = nullptr;
    ASSERT_EQ(XPSFixedDocLoadPage(doc, 1, &page), 1) << c.label << "\n" << messages;
    EXPECT_STREQ(page->thumbnailPartName, "/Images/blue.png") << c.label;
    QELImage* image = nullptr;
    EXPECT_EQ(XPSFixedPageRender(page, &image), c.status) << c.label << "\n" << messages;
    if (c.status == 1) {
      // The image, then the page thumbnail drawn from the same part.
      ASSERT_NE(image->layers, nullptr) << c.label;
      EXPECT_EQ(image->layers->kind, 1) << c.label;
      EXPECT_EQ(image->layers->header->width, 8u) << c.label;
      ASSERT_EQ(image->layers->dataLength, 8u * 8 * 3) << c.label;
      const auto* rgb = static_cast<const unsigned char*>(image->layers->data);
      EXPECT_EQ(rgb[0] * 65536 + rgb[1] * 256 + rgb[2], 0x0000FF) << c.label;
      ASSERT_NE(image->layers->next, nullptr) << c.label;
      EXPECT_EQ(image->layers->next->kind, 6) << c.label;
    } else {
      EXPECT_NE(messages.find(c.source), std::string::npos) << c.label << ": the source is named\n" << messages;
    }
    XPSFreeImage(image);
    XPSElementRelease(page);
    XPSElementRelease(doc);
    XPSPackageClose(pkg);
  }
}

// What one page pulls in is bounded: parts and bytes past the page budget fail the page with a
// message naming it and the budget, and the pages are read one at a time, so a document that
// refers to one page many times holds one page's markup at a time.
TEST_F(XpsTest, PagesAreReadWhenAskedAndBounded) {
  std::string many;
  for (int i = 0; i < 3; ++i) many += "<Canvas><Path Data=\"M 0,0 L 1,1\" Fill=\"#FF0000\"/></Canvas>";
  xpstest::PackageSpec spec;
  spec.page_bodies = {many};
  std::vector<Part> parts = xpstest::package_parts(spec);
  for (Part& p : parts) {
    if (p.name != "Documents/1/FixedDocument.fdoc") continue;
    std::string refs;
    for (int i = 0; i < 40; ++i) refs += "<PageContent Source=\"Pages/1.fpage\"/>";
    p.bytes = "<FixedDocument xmlns=\"" + xpstest::page_ns(Namespace::Xps2005) + "\">" + refs + "</FixedDocument>";
  }
  XPSPackage* pkg = nullptr;
  ASSERT_EQ(XPSPackageOpenDefault(package(parts).c_str(), &pkg), 1) << messages;
  const size_t open_blocks = heap.live_blocks();
  XPSFixedDoc* doc = XPSPackageGetDocument(pkg, 1);
  ASSERT_EQ(XPSFixedDocGetPageCount(doc), 40);
  for (int32_t n = 1; n <= 40; ++n) {
    XPSFixedPage* page = nullptr;
    ASSERT_EQ(XPSFixedDocLoadPage(doc, n, &page), 1) << messages;
    QELImage* image = nullptr;
    ASSERT_EQ(XPSFixedPageRender(page, &image), 1) << messages;
    EXPECT_EQ(image->layerCount, 3);
    XPSFreeImage(image);
    XPSElementRelease(page);
    EXPECT_EQ(heap.live_blocks(), open_blocks) << "page " << n << " left behind what it read";
  }

  XPSFixedPage* page = nullptr;
  ASSERT_EQ(XPSFixedDocLoadPage(doc, 1, &page), 1);
  struct Case {
    int64_t parts, bytes;
    int status;
    const char* report;
  } cases[] = {
      {XPS_MAX_PAGE_PARTS - 1, 0, 1, nullptr},
      {1, 0, -1, "more than 10000 parts with test (XPS_MAX_PAGE_PARTS)"},
      {0, XPS_MAX_PAGE_BYTES - page->markupBytes, 1, nullptr},
      {0, 1, -1, "more than 1073741824 bytes with test (XPS_MAX_PAGE_BYTES)"},
  };
  page->pulledParts = 1;
  page->pulledBytes = page->markupBytes;
  for (const Case& c : cases) {
    messages.clear();
    EXPECT_EQ(XPSFixedPageCharge(page, c.parts, c.bytes, "test"), c.status);
    if (c.report) {
      EXPECT_NE(messages.find(std::string("Page /Documents/1/Pages/1.fpage pulls in ") + c.report), std::string::npos)
          << messages;
    }
  }
  XPSElementRelease(page);
  XPSElementRelease(doc);
  XPSPackageClose(pkg);
}
