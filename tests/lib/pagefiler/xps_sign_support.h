#ifndef XPS_SIGN_SUPPORT_H
#define XPS_SIGN_SUPPORT_H

// Fixtures of the signing tests: a key made with openssl, small unpacked XPS packages, and the
// independent checks (xmlsec1, the lxml oracle).

#include <map>
#include <string>
#include <vector>

#include "tools.h"

namespace xpstest {

constexpr char rels_ns[] = "http://schemas.openxmlformats.org/package/2006/relationships";
constexpr char rel_required_resource[] = "http://schemas.microsoft.com/xps/2005/06/required-resource";
constexpr char rel_fixed_representation[] = "http://schemas.microsoft.com/xps/2005/06/fixedrepresentation";
constexpr char rel_hyperlink[] = "http://schemas.openxmlformats.org/package/2006/relationships/hyperlink";
constexpr char rel_origin[] = "http://schemas.openxmlformats.org/package/2006/relationships/digital-signature/origin";

struct Key {
  std::string p12;  // PKCS#12 file, made with openssl's current defaults
  std::string password;
  std::string certificate;  // the certificate, DER
};

// A key and self-signed certificate made once per test program.
const Key& test_key();

struct Relationship {
  std::string id, type, target, extra;  // extra: further attributes, with a leading blank
};
std::string relationships(const std::vector<Relationship>& items);

// A package: part name -> bytes. A name ending in "/" + piece names is stored as written.
using Package = std::map<std::string, std::string>;

// One FixedDocument with one FixedPage that draws a PNG image through its relationships.
Package small_package();
void write_package(const std::string& root, const Package& package);

// A part stored as pieces: the bytes split into count pieces under the part's folder.
void split_into_pieces(Package* package, const std::string& part, int count);

// The files below root, relative names with their bytes.
std::map<std::string, std::string> files_below(const std::string& root);

// The signature part of a signed package (the one ".psdsxs" file), or "".
std::string signature_part(const std::string& root);

// xmlsec1 --verify with the package's certificate part; each Manifest Reference's URI mapped
// to its file so that xmlsec1 reads the parts. The tool's report.
monotest::ToolResult xmlsec_verify(const std::string& root, const std::string& signature);

// The lxml oracle over every Manifest Reference.
monotest::ToolResult oracle_digests(const std::string& root, const std::string& signature);
// The oracle's relationship transform and C14N of a relationships file; selections are
// "id:X" or "type:T".
std::string oracle_transform(const std::string& rels_file, const std::vector<std::string>& selection);

}  // namespace xpstest

#endif
