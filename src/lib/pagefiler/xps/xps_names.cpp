// Relationship types of the XPS 2005/06 specification, of OpenXPS (ECMA-388) and of OPC.

#include "xps_names.h"

#include <cstring>

namespace {

constexpr const char* kXps2005 = "http://schemas.microsoft.com/xps/2005/06/";
constexpr const char* kOpenXps = "http://schemas.openxps.org/oxps/v1.0/";
constexpr const char* kOpc = "http://schemas.openxmlformats.org/package/2006/relationships/";

struct RelName {
  XPSRelKind kind;
  bool xps;            // under both XPS namespaces, else under the OPC one
  const char* suffix;
};

constexpr RelName kNames[] = {
    {XPS_REL_FIXED_REPRESENTATION, true, "fixedrepresentation"},
    {XPS_REL_PRINT_TICKET, true, "printticket"},
    {XPS_REL_DISCARD_CONTROL, true, "discard-control"},
    {XPS_REL_SIGNATURE_DEFINITIONS, true, "signature-definitions"},
    {XPS_REL_DOCUMENT_STRUCTURE, true, "documentstructure"},
    {XPS_REL_REQUIRED_RESOURCE, true, "required-resource"},
    {XPS_REL_STORY_FRAGMENTS, true, "storyfragments"},
    {XPS_REL_CORE_PROPERTIES, false, "metadata/core-properties"},
    {XPS_REL_THUMBNAIL, false, "metadata/thumbnail"},
    {XPS_REL_DIGITAL_SIGNATURE_ORIGIN, false, "digital-signature/origin"},
    {XPS_REL_DIGITAL_SIGNATURE, false, "digital-signature/signature"},
};

bool is(const char* type, const char* prefix, const char* suffix) {
  const size_t n = std::strlen(prefix);
  return std::strncmp(type, prefix, n) == 0 && std::strcmp(type + n, suffix) == 0;
}

}  // namespace

extern "C" int XPSRelTypeIs(const xmlChar* type, XPSRelKind kind) {
  if (!type) return 0;
  const auto* text = reinterpret_cast<const char*>(type);
  for (const RelName& name : kNames) {
    if (name.kind != kind) continue;
    if (name.xps) return is(text, kXps2005, name.suffix) || is(text, kOpenXps, name.suffix);
    return is(text, kOpc, name.suffix);
  }
  return 0;
}

namespace {

char ascii_lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

}  // namespace

extern "C" int XPSPartNamesEqual(const char* a, const char* b) {
  if (!a || !b) return 0;
  for (; *a && *b; ++a, ++b)
    if (ascii_lower(*a) != ascii_lower(*b)) return 0;
  return *a == *b;
}

extern "C" int XPSPartNameHasPrefix(const char* name, const char* prefix) {
  if (!name || !prefix) return 0;
  for (; *prefix; ++name, ++prefix)
    if (!*name || ascii_lower(*name) != ascii_lower(*prefix)) return 0;
  return 1;
}
