#include "xps_sign_support.h"

#include <filesystem>
#include <memory>
#include <regex>
#include <stdexcept>

namespace xpstest {

namespace fs = std::filesystem;
using monotest::run_tool;
using monotest::shell_quote;

const Key& test_key() {
  static const monotest::TempDir dir;
  static const Key key = [] {
    monotest::require_tool("openssl", "openssl");
    Key k{dir.file("signer.p12"), "s3cret pass", ""};
    const std::string pem_key = dir.file("key.pem");
    const std::string pem_cert = dir.file("cert.pem");
    const std::string der = dir.file("cert.der");
    const std::string commands = "openssl req -x509 -newkey rsa:2048 -nodes -days 30 -subj /CN=monodoc-test -keyout " +
                                 shell_quote(pem_key) + " -out " + shell_quote(pem_cert) +
                                 " 2>/dev/null && openssl pkcs12 -export -inkey " + shell_quote(pem_key) + " -in " +
                                 shell_quote(pem_cert) + " -out " + shell_quote(k.p12) + " -passout " +
                                 shell_quote("pass:" + k.password) + " && openssl x509 -in " + shell_quote(pem_cert) +
                                 " -outform der -out " + shell_quote(der);
    if (run_tool(commands).exit_code != 0) throw std::runtime_error("openssl could not make the test key");
    k.certificate = monotest::read_file(der);
    return k;
  }();
  return key;
}

std::string relationships(const std::vector<Relationship>& items) {
  std::string text = std::string("<?xml version=\"1.0\" encoding=\"utf-8\"?><Relationships xmlns=\"") + rels_ns + "\">";
  for (const Relationship& r : items) {
    text += "<Relationship Id=\"" + r.id + "\" Type=\"" + r.type + "\" Target=\"" + r.target + "\"" + r.extra + "/>";
  }
  return text + "</Relationships>";
}

namespace {

// A 2 by 1 grey PNG.
const unsigned char png[] = {0x89, 0x50, 0x4e, 0x47, 0x0d, 0x0a, 0x1a, 0x0a, 0x00, 0x00, 0x00, 0x0d, 0x49, 0x48,
                             0x44, 0x52, 0x00, 0x00, 0x00, 0x02, 0x00, 0x00, 0x00, 0x01, 0x08, 0x00, 0x00, 0x00,
                             0x00, 0xd1, 0x49, 0x20, 0x56, 0x00, 0x00, 0x00, 0x0b, 0x49, 0x44, 0x41, 0x54, 0x78,
                             0x9c, 0x63, 0x50, 0x78, 0x00, 0x00, 0x01, 0x23, 0x01, 0x01, 0xf0, 0xbb, 0xab, 0x73,
                             0x00, 0x00, 0x00, 0x00, 0x49, 0x45, 0x4e, 0x44, 0xae, 0x42, 0x60, 0x82};

}  // namespace

Package small_package() {
  Package p;
  p["/[Content_Types].xml"] =
      "<?xml version=\"1.0\" encoding=\"utf-8\"?>"
      "<Types xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\">"
      "<Default Extension=\"rels\" ContentType=\"application/vnd.openxmlformats-package.relationships+xml\"/>"
      "<Default Extension=\"fdseq\" ContentType=\"application/vnd.ms-package.xps-fixeddocumentsequence+xml\"/>"
      "<Default Extension=\"fdoc\" ContentType=\"application/vnd.ms-package.xps-fixeddocument+xml\"/>"
      "<Default Extension=\"fpage\" ContentType=\"application/vnd.ms-package.xps-fixedpage+xml\"/>"
      "<Default Extension=\"png\" ContentType=\"image/png\"/>"
      "<Override PartName=\"/Documents/1/Resources/Images/1.png\" ContentType=\"image/x-overridden\"/>"
      "</Types>";
  p["/_rels/.rels"] = relationships({{"rZ", rel_origin, "/package/services/digital-signature/origin.psdsor", ""},
                                     {"rA", rel_fixed_representation, "/FixedDocumentSequence.fdseq", ""}});
  p["/FixedDocumentSequence.fdseq"] =
      "<FixedDocumentSequence xmlns=\"http://schemas.microsoft.com/xps/2005/06\">"
      "<DocumentReference Source=\"/Documents/1/FixedDocument.fdoc\"/></FixedDocumentSequence>";
  p["/_rels/FixedDocumentSequence.fdseq.rels"] = relationships({});
  p["/Documents/1/FixedDocument.fdoc"] =
      "<FixedDocument xmlns=\"http://schemas.microsoft.com/xps/2005/06\">"
      "<PageContent Source=\"Pages/1.fpage\"/></FixedDocument>";
  p["/Documents/1/_rels/FixedDocument.fdoc.rels"] = relationships({});
  p["/Documents/1/Pages/1.fpage"] =
      "<FixedPage xmlns=\"http://schemas.microsoft.com/xps/2005/06\" Width=\"96\" Height=\"48\">"
      "<Path Data=\"M 0,0 L 96,0 96,48 0,48 Z\"><Path.Fill><ImageBrush ImageSource=\"../Resources/Images/1.png\" "
      "Viewbox=\"0,0,2,1\" ViewboxUnits=\"Absolute\" Viewport=\"0,0,96,48\" ViewportUnits=\"Absolute\"/>"
      "</Path.Fill></Path></FixedPage>";
  // Out of Id order, with a relationship of a type that is not signed and an external one.
  p["/Documents/1/Pages/_rels/1.fpage.rels"] =
      relationships({{"rB", rel_required_resource, "/Documents/1/Resources/Images/1.png", ""},
                     {"R1", rel_hyperlink, "http://example.com/", " TargetMode=\"External\""},
                     {"ra", rel_required_resource, "/Documents/1/Resources/Images/1.png", ""}});
  p["/Documents/1/Resources/Images/1.png"] = std::string(reinterpret_cast<const char*>(png), sizeof png);
  return p;
}

void write_package(const std::string& root, const Package& package) {
  for (const auto& [name, bytes] : package) {
    const fs::path path = fs::path(root) / name.substr(1);
    fs::create_directories(path.parent_path());
    monotest::write_file(path.string(), bytes);
  }
}

void split_into_pieces(Package* package, const std::string& part, int count) {
  const std::string bytes = package->at(part);
  package->erase(part);
  const size_t step = bytes.size() / static_cast<size_t>(count) + 1;
  for (int i = 0; i < count; ++i) {
    const std::string name = part + "/[" + std::to_string(i) + "]" + (i + 1 == count ? ".last.piece" : ".piece");
    (*package)[name] = bytes.substr(std::min(bytes.size(), static_cast<size_t>(i) * step), step);
  }
}

std::map<std::string, std::string> files_below(const std::string& root) {
  std::map<std::string, std::string> files;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    if (entry.is_regular_file()) {
      files[fs::relative(entry.path(), root).string()] = monotest::read_file(entry.path().string());
    }
  }
  return files;
}

std::string signature_part(const std::string& root) {
  const fs::path folder = fs::path(root) / "package/services/digital-signature/xml-signature";
  if (!fs::is_directory(folder)) return "";
  for (const auto& entry : fs::directory_iterator(folder)) {
    if (entry.path().extension() == ".psdsxs") return entry.path().string();
  }
  return "";
}

namespace {

// A part as xmlsec1 can read it: the file, or its pieces joined into a file of joined.
std::string readable_part(const std::string& path, const monotest::TempDir& joined, int n) {
  if (!fs::is_directory(path)) return path;
  std::string bytes;
  for (int i = 0;; ++i) {
    const std::string piece = path + "/[" + std::to_string(i) + "]";
    if (fs::exists(piece + ".piece")) {
      bytes += monotest::read_file(piece + ".piece");
    } else {
      bytes += monotest::read_file(piece + ".last.piece");
      break;
    }
  }
  const std::string file = joined.file(std::to_string(n));
  monotest::write_file(file, bytes);
  return file;
}

}  // namespace

monotest::ToolResult xmlsec_verify(const std::string& root, const std::string& signature) {
  monotest::require_tool("xmlsec1", "xmlsec1");
  const std::string text = monotest::read_file(signature);
  const monotest::TempDir joined;
  std::string maps;
  int n = 0;
  const std::regex uri("URI=\"(/[^\"?]*)(\\?[^\"]*)?\"");
  for (auto it = std::sregex_iterator(text.begin(), text.end(), uri); it != std::sregex_iterator(); ++it) {
    maps += " --url-map:" + shell_quote((*it)[0].str().substr(5, (*it)[0].length() - 6)) + " " +
            shell_quote(readable_part(root + (*it)[1].str(), joined, n++));
  }
  std::string certificate;
  for (const auto& entry : fs::directory_iterator(fs::path(root) / "package/services/digital-signature/certificate")) {
    certificate = entry.path().string();
  }
  return run_tool("xmlsec1 --verify --print-debug --pubkey-cert-der " + shell_quote(certificate) + maps + " " +
                  shell_quote(signature) + " 2>&1");
}

namespace {

std::string oracle_command() {
  monotest::require_tool("/usr/bin/python3", "python3-lxml");
  return std::string("/usr/bin/python3 ") + shell_quote(XPS_SIGN_ORACLE);
}

}  // namespace

monotest::ToolResult oracle_digests(const std::string& root, const std::string& signature) {
  return run_tool(oracle_command() + " digests " + shell_quote(root) + " " + shell_quote(signature) + " 2>&1");
}

std::string oracle_transform(const std::string& rels_file, const std::vector<std::string>& selection) {
  std::string command = oracle_command() + " transform " + shell_quote(rels_file);
  for (const std::string& s : selection) command += " " + shell_quote(s);
  const monotest::ToolResult r = run_tool(command);
  if (r.exit_code != 0) throw std::runtime_error("the lxml oracle failed on " + rels_file);
  return r.output;
}

}  // namespace xpstest
