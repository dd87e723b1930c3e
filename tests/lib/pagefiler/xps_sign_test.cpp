// Signing unpacked XPS packages with XPSDSigMakeSignature: xmlsec1 verifies every signature,
// the lxml oracle recomputes every manifest digest, and what the package names from outside it
// is refused.

#include "xps_sign.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cstring>
#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include "interp_fixture.h"
#include "kvng_print.h"
#include "xps_package.h"
#include "xps_sign_support.h"

namespace {

namespace fs = std::filesystem;
using monotest::read_file;
using xpstest::Package;
using xpstest::Relationship;

constexpr char signature_dir[] = "package/services/digital-signature/";

class XpsSignTest : public monotest::InterpTest {
 protected:
  void SetUp() override {
    InterpTest::SetUp();
    KVngSetPrinter(keep_engine_message, &engine_messages);
  }
  void TearDown() override {
    KVngSetPrinter(nullptr, nullptr);
    InterpTest::TearDown();
  }
  static void keep_engine_message(void* data, int, const char* text) { *static_cast<std::string*>(data) += text; }

  // Calls the method on root with the test key and the options given as further triples.
  int sign(const std::string& root, bool no_timestamp, elf_object* requests = nullptr,
           const std::string& password = xpstest::test_key().password) {
    const xpstest::Key& key = xpstest::test_key();
    elf_object* options = lstBuildArgs(state, "certFile:s", key.p12.c_str(), 0, "certPassword:s", password.c_str(), 0,
                                       "noTimestamp:b", no_timestamp ? 1 : 0, 0, "intent:s", "approve", 0, LST_END);
    EXPECT_NE(options, nullptr);
    if (requests) {
      EXPECT_EQ(lstAppendArgs(options, "requests:LIST", requests, 0, LST_END), 1);
    }
    elf_object* args = lstBuildArgs(state, "rootPath:s", root.c_str(), 0, "options:LIST", options, 0, LST_END);
    EXPECT_NE(args, nullptr);
    const int status = XPSDSigMakeSignature(state, args, nullptr);
    elfDiscard(args);
    return status;
  }

  // A "requests" LIST of count request LISTs, each with a signer and a spot.
  elf_object* requests(int count) {
    elf_object* list = new_elf_object(state, "LIST", nullptr);
    for (int i = 0; i < count; ++i) {
      elf_object* spot = lstBuildArgs(state, "pageUri:s", "/Documents/1/Pages/1.fpage", 0, "xpos:d", 10.5 * i, 0,
                                      "ypos:d", 20.0, 0, LST_END);
      const std::string signer = "Signer " + std::to_string(i);
      elf_object* request = lstBuildArgs(state, "signerName:s", signer.c_str(), 0, "signBy:s", "2030-01-01", 0,
                                         "spotLocation:LIST", spot, 0, LST_END);
      elflistInsert(list, request, -1, 0);
    }
    return list;
  }

  std::string engine_messages;
};

// Every file the signing writes, relative to the package root.
std::vector<std::string> signature_files(const std::string& root) {
  std::vector<std::string> names;
  for (const auto& [name, bytes] : xpstest::files_below(root)) {
    if (name.rfind(signature_dir, 0) == 0 || name == "xmls/xml_1.xaml") names.push_back(name);
  }
  return names;
}

TEST_F(XpsSignTest, SignatureVerifiesAndEveryDigestMatches) {
  const monotest::TempDir dir;
  xpstest::write_package(dir.path(), xpstest::small_package());
  ASSERT_EQ(sign(dir.path(), false, requests(2)), 0) << engine_messages << getStatusMessage(state);

  const std::string signature = xpstest::signature_part(dir.path());
  ASSERT_FALSE(signature.empty());
  const monotest::ToolResult verified = xpstest::xmlsec_verify(dir.path(), signature);
  EXPECT_EQ(verified.exit_code, 0) << verified.output;
  EXPECT_NE(verified.output.find("SignedInfo References (ok/all): 1/1"), std::string::npos) << verified.output;
  // xmlsec1 digests the parts again with its own relationship transform, which selects by Id
  // only: the package and page relationships, whose unsigned relationships our transform drops,
  // come out different there. The oracle below confirms our digests, so ours is the one that ran.
  EXPECT_NE(verified.output.find("Manifests References (ok/all): 7/9"), std::string::npos) << verified.output;

  const monotest::ToolResult digests = xpstest::oracle_digests(dir.path(), signature);
  EXPECT_EQ(digests.exit_code, 0) << digests.output;
  // Package, sequence, document and page relationships; sequence, document, page, and the image
  // once for each of the two relationships that name it.
  EXPECT_NE(digests.output.find("9 references"), std::string::npos) << digests.output;
  EXPECT_NE(digests.output.find("ok /Documents/1/Resources/Images/1.png?ContentType=image/png"), std::string::npos)
      << "the first matching content-type entry wins:\n"
      << digests.output;

  const std::string text = read_file(signature);
  EXPECT_EQ(text.find('\n'), std::string::npos);
  const std::string name = fs::path(signature).stem().string();
  const std::string root = dir.path() + "/" + signature_dir;
  EXPECT_EQ(read_file(root + "certificate/" + name + ".cer"), xpstest::test_key().certificate);
  EXPECT_EQ(read_file(root + "origin.psdsor"), "");
  EXPECT_NE(
      read_file(root + "_rels/origin.psdsor.rels")
          .find("Target=\"/" + std::string(signature_dir) + "xml-signature/" + name + ".psdsxs\" Id=\"RelsOrigin0\""),
      std::string::npos);
  EXPECT_NE(
      read_file(root + "xml-signature/_rels/" + name + ".psdsxs.rels")
          .find("Target=\"/" + std::string(signature_dir) + "certificate/" + name + ".cer\" Id=\"RelsXmlSignature0\""),
      std::string::npos);

  // The signature definitions: the signature's own first, then one per request, each spot its own.
  const std::string definitions = read_file(dir.file("xmls/xml_1.xaml"));
  std::smatch id;
  ASSERT_TRUE(std::regex_search(text, id, std::regex("<Signature [^>]*Id=\"([^\"]+)\"")));
  EXPECT_TRUE(std::isalpha(static_cast<unsigned char>(id[1].str()[0])));
  std::vector<std::string> spots;
  const std::regex spot("SpotID=\"([^\"]+)\"");
  for (auto it = std::sregex_iterator(definitions.begin(), definitions.end(), spot); it != std::sregex_iterator();
       ++it) {
    spots.push_back((*it)[1]);
  }
  ASSERT_EQ(spots.size(), 3u) << definitions;
  EXPECT_EQ(spots[0], id[1].str());
  EXPECT_NE(spots[1], spots[2]);
  EXPECT_NE(definitions.find("<Intent>approve</Intent>"), std::string::npos) << definitions;
  EXPECT_NE(definitions.find("SignerName=\"Signer 1\"><SignBy>2030-01-01</SignBy><SpotLocation "
                             "PageURI=\"/Documents/1/Pages/1.fpage\" StartX=\"10.500000\" StartY=\"20.000000\"/>"),
            std::string::npos)
      << definitions;
}

TEST_F(XpsSignTest, NoTimestampGivesTheSameBytesEveryRun) {
  const monotest::TempDir first, second;
  for (const monotest::TempDir* dir : {&first, &second}) {
    xpstest::write_package(dir->path(), xpstest::small_package());
    ASSERT_EQ(sign(dir->path(), true, requests(2)), 0) << engine_messages;
  }
  const auto a = xpstest::files_below(first.path());
  EXPECT_EQ(a, xpstest::files_below(second.path()));
  const std::string signature = xpstest::signature_part(first.path());
  EXPECT_EQ(fs::path(signature).filename(), "00000000-0000-0000-0000-000000000000.psdsxs");
  const std::string text = read_file(signature);
  EXPECT_NE(text.find("Id=\"a0000000-0000-0000-0000-000000000000\""), std::string::npos);
  EXPECT_NE(text.find("<Value>2007-01-01T00:00:00Z</Value>"), std::string::npos);
  EXPECT_EQ(xpstest::xmlsec_verify(first.path(), signature).exit_code, 0);
  const std::string definitions = a.at("xmls/xml_1.xaml");
  EXPECT_NE(definitions.find("SpotID=\"a0000000-0000-0000-0000-000000000001\""), std::string::npos) << definitions;
  EXPECT_NE(definitions.find("SpotID=\"a0000000-0000-0000-0000-000000000002\""), std::string::npos) << definitions;
}

TEST_F(XpsSignTest, AChangedPackageFailsVerification) {
  const monotest::TempDir dir;
  xpstest::write_package(dir.path(), xpstest::small_package());
  ASSERT_EQ(sign(dir.path(), true), 0) << engine_messages;
  const std::string signature = xpstest::signature_part(dir.path());
  ASSERT_EQ(xpstest::oracle_digests(dir.path(), signature).exit_code, 0);

  struct Change {
    const char* part;
    std::string bytes;
    const char* bad;
  } changes[] = {
      {"Documents/1/Pages/1.fpage",
       "<FixedPage xmlns=\"http://schemas.microsoft.com/xps/2005/06\" Width=\"1\" Height=\"1\"/>",
       "BAD /Documents/1/Pages/1.fpage"},
      {"Documents/1/Resources/Images/1.png", "not the image", "BAD /Documents/1/Resources/Images/1.png"},
      {"Documents/1/Pages/_rels/1.fpage.rels",
       xpstest::relationships({{"rB", xpstest::rel_required_resource, "/Documents/1/Resources/Images/2.png", ""},
                               {"ra", xpstest::rel_required_resource, "/Documents/1/Resources/Images/1.png", ""}}),
       "BAD /Documents/1/Pages/_rels/1.fpage.rels"},
  };
  for (const Change& change : changes) {
    SCOPED_TRACE(change.part);
    const std::string path = dir.file(change.part);
    const std::string kept = read_file(path);
    monotest::write_file(path, change.bytes);
    const monotest::ToolResult digests = xpstest::oracle_digests(dir.path(), signature);
    EXPECT_EQ(digests.exit_code, 1);
    EXPECT_NE(digests.output.find(change.bad), std::string::npos) << digests.output;
    // xmlsec1 reads the changed part through its URI and finds the reference invalid too.
    const monotest::ToolResult verified = xpstest::xmlsec_verify(dir.path(), signature);
    EXPECT_EQ(verified.output.find("Manifests References (ok/all): 9/9"), std::string::npos) << verified.output;
    monotest::write_file(path, kept);
  }

  // A relationship that is not signed may change; the signature's own parts may not.
  monotest::write_file(
      dir.file("_rels/.rels"),
      xpstest::relationships({{"rA", xpstest::rel_fixed_representation, "/FixedDocumentSequence.fdseq", ""}}));
  EXPECT_EQ(xpstest::oracle_digests(dir.path(), signature).exit_code, 0);
  std::string text = read_file(signature);
  text.replace(text.find("<Value>2007"), 11, "<Value>2008");
  monotest::write_file(signature, text);
  EXPECT_NE(xpstest::xmlsec_verify(dir.path(), signature).exit_code, 0);
}

TEST_F(XpsSignTest, PartsStoredAsPiecesAreJoined) {
  const monotest::TempDir dir;
  Package package = xpstest::small_package();
  xpstest::split_into_pieces(&package, "/Documents/1/Pages/1.fpage", 3);
  xpstest::split_into_pieces(&package, "/Documents/1/Pages/_rels/1.fpage.rels", 2);
  // Stored as pieces, the content types are read with "</Types>" after the pieces.
  std::string& types = package["/[Content_Types].xml"];
  types.resize(types.size() - std::string("</Types>").size());
  xpstest::split_into_pieces(&package, "/[Content_Types].xml", 2);
  xpstest::write_package(dir.path(), package);
  ASSERT_EQ(sign(dir.path(), true), 0) << engine_messages;
  const std::string signature = xpstest::signature_part(dir.path());
  EXPECT_EQ(xpstest::xmlsec_verify(dir.path(), signature).exit_code, 0);
  // The oracle joins the pieces itself; its content types need their end tag back.
  monotest::write_file(dir.file("[Content_Types].xml/[1].last.piece"),
                       read_file(dir.file("[Content_Types].xml/[1].last.piece")) + "</Types>");
  const monotest::ToolResult digests = xpstest::oracle_digests(dir.path(), signature);
  EXPECT_EQ(digests.exit_code, 0) << digests.output;
}

// What the package names must stay inside it and be a known part: otherwise the signature
// fails, and none of its parts is left behind.
TEST_F(XpsSignTest, RefusesWhatLeavesThePackageOrCannotBeSigned) {
  const std::string fpage_rels = "/Documents/1/Pages/_rels/1.fpage.rels";
  const auto page_target = [&](const std::string& target) {
    Package p = xpstest::small_package();
    p[fpage_rels] = xpstest::relationships({{"r1", xpstest::rel_required_resource, target, ""}});
    return p;
  };
  constexpr char refused[] = "is refused";
  struct Case {
    const char* what;
    Package package;
    const char* message;
  } cases[] = {
      {"parent folder", page_target("../../../../etc/passwd"), refused},
      {"parent folder inside", page_target("/Documents/../Documents/1/Resources/Images/1.png"), refused},
      {"escaped parent folder", page_target("/Documents/%2e%2e/1/Resources/Images/1.png"), refused},
      {"scheme", page_target("file:///etc/passwd"), refused},
      {"network", page_target("http://example.com/1.png"), refused},
      {"network path", page_target("//host/share/1.png"), refused},
      {"drive", page_target("C:/Windows/1.png"), refused},
      {"backslash drive", page_target("C:\\Windows\\1.png"), refused},
      {"no content type", page_target("/Documents/1/Resources/Images/1.unknown"), "has no content type"},
      {"missing target", page_target("/Documents/1/Resources/Images/missing.png"),
       "Part /Documents/1/Resources/Images/missing.png is not in the package"},
      {"entity",
       [] {
         Package p = xpstest::small_package();
         p["/Documents/1/FixedDocument.fdoc"] =
             "<?xml version=\"1.0\"?><!DOCTYPE FixedDocument [<!ENTITY e \"/Documents/1/Pages/1.fpage\">]>"
             "<FixedDocument xmlns=\"http://schemas.microsoft.com/xps/2005/06\"><PageContent Source=\"&e;\"/>"
             "</FixedDocument>";
         return p;
       }(),
       "Cannot parse"},
      {"document reference outside",
       [] {
         Package p = xpstest::small_package();
         p["/FixedDocumentSequence.fdseq"] =
             "<FixedDocumentSequence xmlns=\"http://schemas.microsoft.com/xps/2005/06\">"
             "<DocumentReference Source=\"../other/FixedDocument.fdoc\"/></FixedDocumentSequence>";
         return p;
       }(),
       refused},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const monotest::TempDir dir;
    xpstest::write_package(dir.path(), c.package);
    engine_messages.clear();
    EXPECT_EQ(sign(dir.path(), false), QEL_STATUS_FAILED);
    EXPECT_STREQ(getStatusMessage(state), "XPSDSigMakeSignature: Cannot create digital signature\n");
    EXPECT_NE(engine_messages.find(c.message), std::string::npos) << engine_messages;
    EXPECT_EQ(signature_files(dir.path()), std::vector<std::string>{}) << engine_messages;
    EXPECT_FALSE(fs::exists(dir.file("package")));
    EXPECT_FALSE(fs::exists(dir.file("xmls")));
    clearStatus(state);
  }
}

// A link that leaves the package is never followed: a part that links to a file outside is not
// read (its digest would sign what the package does not hold), and a signature folder that
// links outside gets nothing written through it.
TEST_F(XpsSignTest, LinksOutOfThePackageAreNeitherReadNorWrittenThrough) {
  struct Case {
    const char* what;
    const char* link;     // relative to the package root
    bool folder;          // the link leads to a folder outside (else to a file)
    const char* message;
  } cases[] = {
      {"a part that links to a file outside", "Documents/1/Resources/Images/1.png", false, "lies outside the package"},
      {"the signature folders", "package", true, "leads outside the package"},
      {"the signature definitions folder", "xmls", true, "leads outside the package"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const monotest::TempDir dir;
    const std::string root = dir.file("pkg");
    xpstest::write_package(root, xpstest::small_package());
    const std::string outside = dir.file("outside");
    fs::create_directories(outside);
    const std::string secret = outside + "/secret.png";
    monotest::write_file(secret, read_file(root + "/Documents/1/Resources/Images/1.png"));
    const std::string link = root + "/" + c.link;
    fs::remove_all(link);
    fs::create_symlink(c.folder ? outside : secret, link);
    engine_messages.clear();
    EXPECT_EQ(sign(root, false), QEL_STATUS_FAILED);
    EXPECT_NE(engine_messages.find(c.message), std::string::npos) << engine_messages;
    EXPECT_EQ(xpstest::files_below(outside), (std::map<std::string, std::string>{{"secret.png", read_file(secret)}}));
    EXPECT_EQ(xpstest::signature_part(root), "");
    clearStatus(state);
  }
}

// Writers leave out the relationships part of a part that names nothing (Ghostscript's pages
// without images, its sequence and documents): such parts are signed without one, and a page
// relationships part that is there is still signed.
TEST_F(XpsSignTest, PartsWithoutRelationshipsAreSigned) {
  const monotest::TempDir dir;
  Package package = xpstest::small_package();
  for (const char* rels : {"/_rels/FixedDocumentSequence.fdseq.rels", "/Documents/1/_rels/FixedDocument.fdoc.rels"})
    package.erase(rels);
  package["/Documents/1/FixedDocument.fdoc"] =
      "<FixedDocument xmlns=\"http://schemas.microsoft.com/xps/2005/06\">"
      "<PageContent Source=\"Pages/1.fpage\"/><PageContent Source=\"Pages/2.fpage\"/></FixedDocument>";
  package["/Documents/1/Pages/2.fpage"] =
      "<FixedPage xmlns=\"http://schemas.microsoft.com/xps/2005/06\" Width=\"96\" Height=\"48\">"
      "<Path Data=\"M 0,0 L 96,0 96,48 0,48 Z\" Fill=\"#FF000000\"/></FixedPage>";
  xpstest::write_package(dir.path(), package);
  ASSERT_EQ(sign(dir.path(), true), 0) << engine_messages;
  EXPECT_EQ(engine_messages, "");

  const std::string signature = xpstest::signature_part(dir.path());
  const monotest::ToolResult verified = xpstest::xmlsec_verify(dir.path(), signature);
  EXPECT_EQ(verified.exit_code, 0) << verified.output;
  const monotest::ToolResult digests = xpstest::oracle_digests(dir.path(), signature);
  EXPECT_EQ(digests.exit_code, 0) << digests.output;
  for (const char* part : {"ok /Documents/1/Pages/2.fpage", "ok /Documents/1/Pages/_rels/1.fpage.rels"})
    EXPECT_NE(digests.output.find(part), std::string::npos) << part << "\n" << digests.output;
  EXPECT_EQ(digests.output.find("FixedDocument.fdoc.rels"), std::string::npos) << digests.output;
}

TEST_F(XpsSignTest, WrongPasswordWritesNothing) {
  const monotest::TempDir dir;
  xpstest::write_package(dir.path(), xpstest::small_package());
  const auto before = xpstest::files_below(dir.path());
  EXPECT_EQ(sign(dir.path(), false, nullptr, "wrong"), QEL_STATUS_FAILED);
  EXPECT_NE(engine_messages.find("__XPSDSigWriteSignature: Cannot load certificate/private key from \"" +
                                 xpstest::test_key().p12 + "\": the password is wrong\n"),
            std::string::npos)
      << engine_messages;
  EXPECT_FALSE(fs::exists(dir.file("package")));
  EXPECT_EQ(xpstest::files_below(dir.path()), before);
}

// Signing a package that announces no signature yet, twice: the package relationships gain one
// origin relationship, the content types the signature's parts, and the origin lists both
// signatures, each of which xmlsec1 verifies and our package reader finds.
TEST_F(XpsSignTest, SigningAgainAddsASignatureTheOriginLists) {
  const monotest::TempDir dir;
  const std::string root = dir.file("package");
  Package package = xpstest::small_package();
  package["/_rels/.rels"] =
      xpstest::relationships({{"rA", xpstest::rel_fixed_representation, "/FixedDocumentSequence.fdseq", ""}});
  xpstest::write_package(root, package);

  // A signature that fails part-way leaves the package as it was, its own edits included.
  Package refused = package;
  refused["/Documents/1/Pages/_rels/1.fpage.rels"] =
      xpstest::relationships({{"r1", xpstest::rel_required_resource, "../../../../x.png", ""}});
  const std::string refused_root = dir.file("refused");
  xpstest::write_package(refused_root, refused);
  const auto before = xpstest::files_below(refused_root);
  EXPECT_EQ(sign(refused_root, true), QEL_STATUS_FAILED);
  auto after = xpstest::files_below(refused_root);
  EXPECT_EQ(after, before);

  ASSERT_EQ(sign(root, true), 0) << engine_messages;
  ASSERT_EQ(sign(root, true), 0) << engine_messages;
  const std::string rels = read_file(root + "/_rels/.rels");
  EXPECT_EQ(rels.find(xpstest::rel_origin), rels.rfind(xpstest::rel_origin)) << rels;
  EXPECT_NE(rels.find("Target=\"/package/services/digital-signature/origin.psdsor\""), std::string::npos) << rels;
  const std::string types = read_file(root + "/[Content_Types].xml");
  for (const char* extension : {"\"psdsor\"", "\"psdsxs\"", "\"cer\""})
    EXPECT_NE(types.find(std::string("Extension=") + extension), std::string::npos) << extension << "\n" << types;
  const std::string origin = read_file(root + "/" + signature_dir + "_rels/origin.psdsor.rels");
  const std::vector<std::string> names = {"00000000-0000-0000-0000-000000000000",
                                          "00000000-0000-0000-0000-000000000001"};
  for (size_t i = 0; i < names.size(); ++i) {
    const std::string part = std::string(signature_dir) + "xml-signature/" + names[i] + ".psdsxs";
    EXPECT_NE(origin.find("Target=\"/" + part + "\" Id=\"RelsOrigin" + std::to_string(i) + "\""), std::string::npos)
        << origin;
    const monotest::ToolResult verified = xpstest::xmlsec_verify(root, root + "/" + part);
    EXPECT_EQ(verified.exit_code, 0) << names[i] << "\n" << verified.output;
    const monotest::ToolResult digests = xpstest::oracle_digests(root, root + "/" + part);
    EXPECT_EQ(digests.exit_code, 0) << digests.output;
  }

  // The signature definitions of both signatures, each spot its signature's Id.
  const std::string definitions = read_file(root + "/xmls/xml_1.xaml");
  for (const std::string& name : names) {
    std::smatch id;
    const std::string text = read_file(root + "/" + signature_dir + "xml-signature/" + name + ".psdsxs");
    ASSERT_TRUE(std::regex_search(text, id, std::regex("<Signature [^>]*Id=\"([^\"]+)\"")));
    EXPECT_NE(definitions.find("SpotID=\"" + id[1].str() + "\""), std::string::npos) << definitions;
  }
  // A third signature that fails leaves the two as they were.
  const auto signed_twice = xpstest::files_below(root);
  const std::string page_rels = root + "/Documents/1/Pages/_rels/1.fpage.rels";
  const std::string kept_rels = read_file(page_rels);
  monotest::write_file(page_rels, xpstest::relationships({{"r1", xpstest::rel_required_resource, "/missing.png", ""}}));
  EXPECT_EQ(sign(root, true), QEL_STATUS_FAILED);
  monotest::write_file(page_rels, kept_rels);
  after = xpstest::files_below(root);
  EXPECT_EQ(after, signed_twice);

  if (monotest::run_tool("command -v zip").exit_code != 0) GTEST_SKIP() << "zip is not installed";
  const std::string zipped = dir.file("signed.xps");
  ASSERT_EQ(monotest::run_tool("cd " + monotest::shell_quote(root) + " && zip -qrX " + monotest::shell_quote(zipped) + " . 2>&1")
                .exit_code,
            0);
  XPSPackage* opened = nullptr;
  ASSERT_EQ(XPSPackageOpenDefault(zipped.c_str(), &opened), 1) << engine_messages;
  EXPECT_STREQ(opened->signatureOriginPartName, "/package/services/digital-signature/origin.psdsor");
  ASSERT_NE(opened->signatures, nullptr);
  EXPECT_NE(opened->signatures[0], nullptr);
  EXPECT_NE(opened->signatures[1], nullptr);
  EXPECT_EQ(opened->signatures[2], nullptr);
  XPSPackageClose(opened);
}

// Part names on disk that differ in ASCII case from the names the package uses are the same
// parts: the signature covers them under the package's names, so the same package written with
// those names verifies.
TEST_F(XpsSignTest, PartsRenamedInCaseAreSigned) {
  const monotest::TempDir dir;
  const Package package = xpstest::small_package();
  Package renamed;
  for (const auto& [name, bytes] : package) {
    std::string stored = name;
    for (const char* from : {"/Resources/Images/", "/1.fpage", "/_rels/FixedDocument.fdoc.rels"}) {
      const size_t at = stored.find(from);
      if (at == std::string::npos) continue;
      for (size_t i = at; i < at + std::strlen(from); ++i) stored[i] = static_cast<char>(std::toupper(stored[i]));
    }
    renamed[stored] = bytes;
  }
  ASSERT_EQ(renamed.count("/Documents/1/RESOURCES/IMAGES/1.png"), 1u);
  const std::string root = dir.file("renamed");
  xpstest::write_package(root, renamed);
  ASSERT_EQ(sign(root, true), 0) << engine_messages;

  const std::string canonical = dir.file("canonical");
  xpstest::write_package(canonical, package);
  for (const auto& [name, bytes] : xpstest::files_below(root)) {
    if (name.rfind("package/", 0) == 0 || name.rfind("xmls/", 0) == 0 || name == "_rels/.rels" ||
        name == "[Content_Types].xml") {
      fs::create_directories(fs::path(canonical + "/" + name).parent_path());
      monotest::write_file(canonical + "/" + name, bytes);
    }
  }
  const std::string signature = xpstest::signature_part(canonical);
  const monotest::ToolResult verified = xpstest::xmlsec_verify(canonical, signature);
  EXPECT_EQ(verified.exit_code, 0) << verified.output;
  const monotest::ToolResult digests = xpstest::oracle_digests(canonical, signature);
  EXPECT_EQ(digests.exit_code, 0) << digests.output;
}

// Keys: a PKCS#12 file without a password needs none given, one made with the legacy ciphers of
// older tools is read, and any key that cannot be read fails in one line naming the file and
// the reason, without the libraries' trace.
TEST(MonodocSign, KeysLoadOrFailInOneLine) {
  const monotest::TempDir dir;
  const xpstest::Key& key = xpstest::test_key();
  const std::string pem_key = dir.file("key.pem"), pem_cert = dir.file("cert.pem");
  const std::string q_key = monotest::shell_quote(pem_key), q_cert = monotest::shell_quote(pem_cert);
  ASSERT_EQ(monotest::run_tool("openssl req -x509 -newkey rsa:2048 -nodes -days 30 -subj /CN=k -keyout " + q_key +
                               " -out " + q_cert + " 2>/dev/null && openssl pkcs12 -export -inkey " + q_key + " -in " +
                               q_cert + " -out " + monotest::shell_quote(dir.file("open.p12")) + " -passout pass:")
                .exit_code,
            0);
  const bool legacy = monotest::run_tool("openssl pkcs12 -export -legacy -inkey " + q_key + " -in " + q_cert +
                                         " -out " + monotest::shell_quote(dir.file("legacy.p12")) +
                                         " -passout pass:old 2>/dev/null")
                          .exit_code == 0;
  struct Case {
    std::string label, file, password;  // password "-": none given
    bool signs;
    std::string reason;
  } cases[] = {
      {"no password on an open file", dir.file("open.p12"), "-", true, ""},
      {"legacy ciphers", legacy ? dir.file("legacy.p12") : "", "old", true, ""},
      {"wrong password", key.p12, "wrong", false, "the password is wrong"},
      {"password needed", key.p12, "-", false, "the file needs a password"},
      {"missing file", dir.file("absent.p12"), "-", false, "No such file or directory"},
      {"not PKCS#12", pem_cert, "-", false, "not a PKCS#12 file"},
  };
  for (const Case& c : cases) {
    if (c.file.empty()) continue;  // this OpenSSL makes no legacy files
    const std::string root = dir.file("package " + c.label);
    xpstest::write_package(root, xpstest::small_package());
    const monotest::ToolResult run = monotest::run_tool(
        std::string(MONODOC_BIN) + " sign " + (c.password == "-" ? "" : "-p " + monotest::shell_quote(c.password)) +
        " " + monotest::shell_quote(c.file) + " " + monotest::shell_quote(root) + " 2>&1");
    EXPECT_EQ(run.exit_code, c.signs ? 0 : 1) << c.label << "\n" << run.output;
    EXPECT_EQ(run.output.find("func="), std::string::npos) << c.label << ": no library trace\n" << run.output;
    if (c.signs) {
      EXPECT_EQ(xpstest::xmlsec_verify(root, xpstest::signature_part(root)).exit_code, 0) << c.label;
    } else {
      EXPECT_NE(run.output.find("from \"" + c.file + "\": " + c.reason), std::string::npos) << c.label << "\n"
                                                                                            << run.output;
      EXPECT_FALSE(fs::exists(root + "/package/services/digital-signature/xml-signature")) << c.label;
    }
  }
}

// The definitions keep the words as given, markup characters and entity-like text included.
TEST_F(XpsSignTest, DefinitionsKeepTheirText) {
  const monotest::TempDir dir;
  xpstest::write_package(dir.path(), xpstest::small_package());
  const xpstest::Key& key = xpstest::test_key();
  elf_object* options =
      lstBuildArgs(state, "certFile:s", key.p12.c_str(), 0, "certPassword:s", key.password.c_str(), 0, "intent:s",
                   "Tom &amp; Jerry <ok>", 0, "signingLocale:s", "A&B \"C\"", 0, LST_END);
  elf_object* args = lstBuildArgs(state, "rootPath:s", dir.path().c_str(), 0, "options:LIST", options, 0, LST_END);
  ASSERT_EQ(XPSDSigMakeSignature(state, args, nullptr), 0) << engine_messages;
  elfDiscard(args);
  const std::string definitions = read_file(dir.file("xmls/xml_1.xaml"));
  EXPECT_NE(definitions.find("<Intent>Tom &amp;amp; Jerry &lt;ok&gt;</Intent>"), std::string::npos) << definitions;
  EXPECT_NE(definitions.find("<SigningLocation>A&amp;B \"C\"</SigningLocation>"), std::string::npos) << definitions;
}

TEST_F(XpsSignTest, FailedSignatureDefinitionsFailTheSignature) {
  const monotest::TempDir dir;
  xpstest::write_package(dir.path(), xpstest::small_package());
  fs::create_directories(dir.file("xmls/xml_1.xaml"));  // cannot be written as a file
  EXPECT_EQ(sign(dir.path(), false), QEL_STATUS_FAILED);
  EXPECT_NE(engine_messages.find("__XPSDSigMakeSigDefinitions: Cannot write"), std::string::npos) << engine_messages;
  EXPECT_EQ(signature_files(dir.path()), std::vector<std::string>{});
}

TEST_F(XpsSignTest, ArgumentsAndEmptyRequests) {
  const monotest::TempDir dir;
  xpstest::write_package(dir.path(), xpstest::small_package());
  // An empty "requests" asks for no requests.
  ASSERT_EQ(sign(dir.path(), true, new_elf_object(state, "LIST", nullptr)), 0) << engine_messages;
  const std::string definitions = read_file(dir.file("xmls/xml_1.xaml"));
  EXPECT_EQ(definitions.find("SpotID", definitions.find("SpotID") + 1), std::string::npos) << definitions;

  elf_object* no_cert = lstBuildArgs(state, "rootPath:s", dir.path().c_str(), 0, "options:LIST",
                                     lstBuildArgs(state, "intent:s", "x", 0, LST_END), 0, LST_END);
  EXPECT_EQ(XPSDSigMakeSignature(state, no_cert, nullptr), QEL_STATUS_FAILED);
  EXPECT_STREQ(getStatusMessage(state), "XPSDSigMakeSignature: Cannot parse digital signature options\n");
  elfDiscard(no_cert);
  elf_object* no_root = lstBuildArgs(state, "options:LIST", new_elf_object(state, "LIST", nullptr), 0, LST_END);
  EXPECT_EQ(XPSDSigMakeSignature(state, no_root, nullptr), QEL_STATUS_FAILED);
  EXPECT_STREQ(getStatusMessage(state), "XPSDSigMakeSignature: Cannot parse input arguments\n");
  elfDiscard(no_root);
  messages.clear();
}

TEST(XpsSignPieces, StripNewlinesAndPieceCallbacks) {
  xmlChar* text = xmlStrdup(BAD_CAST "a\nb\r\n\nc");
  int length = 0;
  ASSERT_EQ(__XPSDSigStripNewlinesStr(&text, &length), 0);
  EXPECT_STREQ(reinterpret_cast<const char*>(text), "ab\rc");
  EXPECT_EQ(length, 4);
  xmlFree(text);
  xmlChar* empty = xmlStrdup(BAD_CAST "");
  EXPECT_EQ(__XPSDSigStripNewlinesStr(&empty, nullptr), -1);
  xmlFree(empty);

  const monotest::TempDir dir;
  const std::string part = dir.file("part");
  fs::create_directories(part);
  monotest::write_file(part + "/[1].piece", "<b/>");
  monotest::write_file(part + "/[0].piece", "<a>");
  monotest::write_file(part + "/[2].last.piece", "</a>");
  EXPECT_EQ(__xmlDirMatch(part.c_str()), 1);
  EXPECT_EQ(__xmlDirMatch((part + "/[1].piece").c_str()), 0);
  void* stream = __xmlDirOpen(part.c_str());
  ASSERT_NE(stream, nullptr);
  char buffer[64] = {};
  EXPECT_EQ(__xmlDirRead(stream, buffer, 5), 5);
  EXPECT_EQ(__xmlDirRead(stream, buffer + 5, 50), 6);
  EXPECT_STREQ(buffer, "<a><b/></a>");
  EXPECT_EQ(__xmlDirClose(stream), 0);
  EXPECT_EQ(__xmlDirRead(nullptr, buffer, 1), -1);
  // A missing piece, or anything else in the folder, fails the part.
  fs::remove(part + "/[1].piece");
  EXPECT_EQ(__xmlDirOpen(part.c_str()), nullptr);
  monotest::write_file(part + "/[1].piece", "<b/>");
  monotest::write_file(part + "/notes.txt", "x");
  EXPECT_EQ(__xmlDirOpen(part.c_str()), nullptr);
}

TEST(MonodocSign, SignsAnUnpackedPackage) {
  const monotest::TempDir dir;
  const std::string root = dir.file("scans #3 100%");
  xpstest::write_package(root, xpstest::small_package());
  const xpstest::Key& key = xpstest::test_key();
  const monotest::ToolResult signed_ok = monotest::run_tool(
      std::string(MONODOC_BIN) + " sign --no-timestamp --password " + monotest::shell_quote(key.password) + " " +
      monotest::shell_quote(key.p12) + " " + monotest::shell_quote(root + "/") + " 2>&1");
  ASSERT_EQ(signed_ok.exit_code, 0) << signed_ok.output;
  EXPECT_NE(signed_ok.output.find("signed"), std::string::npos);
  EXPECT_EQ(xpstest::xmlsec_verify(root, xpstest::signature_part(root)).exit_code, 0);

  // A failure is told in plain words: no library trace, no function names.
  const struct {
    const char* target;
    const char* message;
  } refusals[] = {{"../../../x.png", "../../../x.png is refused"},
                  {"/Documents/1/Resources/Images/missing.png",
                   "Part /Documents/1/Resources/Images/missing.png is not in the package"}};
  for (const auto& r : refusals) {
    monotest::write_file(root + "/Documents/1/Pages/_rels/1.fpage.rels",
                         xpstest::relationships({{"r", xpstest::rel_required_resource, r.target, ""}}));
    const monotest::ToolResult refused =
        monotest::run_tool(std::string(MONODOC_BIN) + " sign -p " + monotest::shell_quote(key.password) + " " +
                           monotest::shell_quote(key.p12) + " " + monotest::shell_quote(root) + " 2>&1");
    EXPECT_EQ(refused.exit_code, 1) << r.target;
    EXPECT_NE(refused.output.find(r.message), std::string::npos) << refused.output;
    for (const char* internal : {"func=", "xmlSec", "XPSDSig"})
      EXPECT_EQ(refused.output.find(internal), std::string::npos) << internal << "\n" << refused.output;
  }
  EXPECT_EQ(monotest::run_tool(std::string(MONODOC_BIN) + " sign only-one 2>/dev/null").exit_code, 2);
}

}  // namespace
