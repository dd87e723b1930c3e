// Document format and subtype codes and their names; the engine's format table kept in the
// interpreter context, and the formats it detects.

#include <strings.h>

#include <cstring>

#include "dio_internal.h"

namespace {

struct Name {
  const char* name;
  int32_t code;
};

// In the order the names are tried.
constexpr Name format_names[] = {
    {"jfif", DIO_FORMAT_JFIF}, {"jpg", DIO_FORMAT_JFIF}, {"pdf", DIO_FORMAT_PDF},    {"tif", DIO_FORMAT_TIFF},
    {"tiff", DIO_FORMAT_TIFF}, {"xps", DIO_FORMAT_XPS},  {"bmp", DIO_FORMAT_BMP},    {"gif", DIO_FORMAT_GIF},
    {"png", DIO_FORMAT_PNG},   {"pnm", DIO_FORMAT_PNM},  {"tfx", DIO_FORMAT_TIFFFX}, {"tifffx", DIO_FORMAT_TIFFFX},
};

// Printed names by code 0 to 9.
constexpr const char* format_printed[] = {"DEFAULT", "JFIF", "TIFF", "PDF", "TIFFFX", "BMP", "XPS", "GIF", "PNG", "PNM"};

constexpr Name subformat_names[] = {
    {"v6", DIO_SUBFORMAT_TIFF_V6},        {"tn2", DIO_SUBFORMAT_TIFF_TN2},      {"profileS", DIO_SUBFORMAT_PROFILE_S},
    {"s", DIO_SUBFORMAT_PROFILE_S},       {"tfxs", DIO_SUBFORMAT_PROFILE_S},    {"profileF", DIO_SUBFORMAT_PROFILE_F},
    {"f", DIO_SUBFORMAT_PROFILE_F},       {"tfxf", DIO_SUBFORMAT_PROFILE_F},    {"profileC", DIO_SUBFORMAT_PROFILE_C},
    {"c", DIO_SUBFORMAT_PROFILE_C},       {"tfxc", DIO_SUBFORMAT_PROFILE_C},    {"1.3", DIO_SUBFORMAT_PDF_13},
    {"v1.3", DIO_SUBFORMAT_PDF_13},       {"v13", DIO_SUBFORMAT_PDF_13},        {"1.4", DIO_SUBFORMAT_PDF_14},
    {"v1.4", DIO_SUBFORMAT_PDF_14},       {"v14", DIO_SUBFORMAT_PDF_14},        {"linear", DIO_SUBFORMAT_PDF_14},
    {"archive", DIO_SUBFORMAT_PDF_14},    {"1.7", DIO_SUBFORMAT_PDF_17},        {"v1.7", DIO_SUBFORMAT_PDF_17},
    {"v17", DIO_SUBFORMAT_PDF_17},
};

// Printed names by code 0 to 9.
constexpr const char* subformat_printed[] = {"none",     "none",     "v6",   "tn2",  "profileS",
                                             "profileF", "profileC", "v1.3", "v1.4", "v1.7"};

template <size_t N>
int32_t lookup(const Name (&names)[N], const char* name, int32_t otherwise) {
  for (const Name& n : names) {
    if (name && strcasecmp(n.name, name) == 0) return n.code;
  }
  return otherwise;
}

// A procedure name without its prefix ("read", "write"), or null when the name is not longer
// than the prefix.
const char* after_prefix(const char* procedure, size_t prefix) {
  return std::strlen(procedure) > prefix ? procedure + prefix : nullptr;
}

}  // namespace

int32_t StringToFormatType(const char* name) { return lookup(format_names, name, DIO_FORMAT_DEFAULT); }

void FormatTypeToString(int32_t format, char* buffer) {
  const char* text = format >= 0 && format <= DIO_FORMAT_PNM ? format_printed[format] : "unknown";
  std::memcpy(buffer, text, std::strlen(text) + 1);
}

int32_t StringToSubFormatType(const char* name) { return lookup(subformat_names, name, DIO_SUBFORMAT_NONE); }

namespace dio {

void subformat_to_string(int32_t subtype, char* buffer) {
  const char* text = subtype >= 1 && subtype <= DIO_SUBFORMAT_PDF_17 ? subformat_printed[subtype] : "none";
  std::memcpy(buffer, text, std::strlen(text) + 1);
}

KVngFileFormats* file_formats(elf_state* context, const char* method) {
  elf_object* entry = nullptr;
  if (context->variables && !lstScanArgs(context->variables, "FileFormats:", LST_OPTIONAL, &entry, LST_END)) {
    entry = nullptr;
  }
  if (entry && !elfIsType(entry, "POINTER")) {
    setStatus(context, QEL_STATUS_FAILED, QEL_SEVERITY_ERROR, "%s: Not able to get file format signatures\n", method);
    return nullptr;
  }
  auto* cached = reinterpret_cast<elf_POINTER*>(entry);
  if (cached && cached->data) return static_cast<KVngFileFormats*>(cached->data);

  KVngFileFormats* table = nullptr;
  if (KVngReadFileFormats(&table) != 1) {
    setStatus(context, QEL_STATUS_FAILED, QEL_SEVERITY_ERROR, "%s: Not able to get file format signatures\n", method);
    return nullptr;
  }
  if (cached) {
    cached->data = table;
    return table;
  }
  elf_object* pointer = new_elf_object(context, "POINTER", nullptr);
  auto* p = reinterpret_cast<elf_POINTER*>(pointer);
  bool ok = pointer && (p->description = elfStrDup("Supported File Formats")) != nullptr;
  if (ok) {
    p->length = 40;
    p->data = table;
    p->release = __DIO_releaseFileFormats;
    if (!context->variables) {
      context->variables = lstBuildArgs(context, "FileFormats:POINTER", pointer, 0, LST_END);
      elfRefUp(context->variables);
      ok = context->variables != nullptr;
    } else {
      ok = lstAppendArgs(context->variables, "FileFormats:POINTER", pointer, 0, LST_END) == 1;
    }
  }
  if (!ok) {
    // The table goes with the POINTER when it holds it, else on its own.
    if (!p || p->data != table) table->release(table);
    elfDiscard(pointer);
    setStatus(context, QEL_STATUS_FAILED, QEL_SEVERITY_ERROR, "%s: Not able to get file format signatures\n", method);
    return nullptr;
  }
  return table;
}

int32_t reader_format(const char* filename, const KVngFileFormats* table) {
  KVngFileFormatInfo* info = KVngGetFileFormatInfo(filename, table);
  if (!info) return DIO_FORMAT_DEFAULT;
  int32_t format = DIO_FORMAT_DEFAULT;
  const char* reader = info->reader;
  if (reader && strcasecmp(reader, "none") != 0) {
    if (std::strcmp(reader, "readpdf") == 0) {
      format = DIO_FORMAT_PDF;
    } else if (std::strcmp(reader, "readxps") == 0) {
      format = DIO_FORMAT_XPS;
    } else if (const char* kind = after_prefix(reader, 4)) {
      format = StringToFormatType(kind);
    }
  }
  if (info->release) info->release(info);
  return format;
}

int32_t writer_format(const char* filename, const KVngFileFormats* table) {
  char* writer = nullptr;
  KVngGetFileFormatWriter(table, filename, &writer);
  int32_t format = DIO_FORMAT_DEFAULT;
  if (writer && strcasecmp(writer, "none") != 0) {
    if (const char* kind = after_prefix(writer, 5)) format = StringToFormatType(kind);
  }
  _elfFree(writer);
  return format;
}

}  // namespace dio

void __DIO_releaseFileFormats(elf_object* pointer) {
  if (!elfIsType(pointer, "POINTER")) return;
  auto* p = reinterpret_cast<elf_POINTER*>(pointer);
  auto* table = static_cast<KVngFileFormats*>(p->data);
  if (table && table->release) table->release(table);
  p->data = nullptr;
}
