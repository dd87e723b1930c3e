// Text forms of the built-in types LIST, IDENT, POINTER, STRING, INTEGER, DOUBLE and BOOLEAN.

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <strings.h>

#include "interp_internal.h"

namespace {

// Bytes of POINTER data per line of hexadecimal digits.
constexpr size_t hex_bytes_per_line = 32;

const char* or_empty(const char* indent) { return indent ? indent : ""; }

int write_nested(elf_object* obj, int fd, const char* indent, const char* label) {
  char child[ELF_INDENT_MAX + 1];
  if (dprintf(fd, "%s%s: \n", or_empty(indent), label) < 0) return -1;
  return obj ? elfWriteObject(obj, fd, elfChildIndent(indent, child)) : 0;
}

int write_value_line(int fd, const char* indent, const char* label, const char* text) {
  if (dprintf(fd, "%s%s: ", or_empty(indent), label) < 0 || elfWriteValue(fd, text) != 0) return -1;
  return dprintf(fd, "\n") < 0 ? -1 : 0;
}

int write_hex(int fd, const char* indent, const uint8_t* data, size_t length) {
  static constexpr char digits[] = "0123456789abcdef";
  char line[2 * hex_bytes_per_line + 1];
  for (size_t at = 0; at < length; at += hex_bytes_per_line) {
    const size_t n = length - at < hex_bytes_per_line ? length - at : hex_bytes_per_line;
    for (size_t i = 0; i < n; ++i) {
      line[2 * i] = digits[data[at + i] >> 4];
      line[2 * i + 1] = digits[data[at + i] & 15];
    }
    line[2 * n] = '\0';
    if (dprintf(fd, "%sdata: %s\n", or_empty(indent), line) < 0) return -1;
  }
  return 0;
}

int write_fields(elf_object* obj, int fd, const char* indent) {
  switch (obj->typeId) {
    case ELF_TYPE_LIST: {
      auto* list = reinterpret_cast<elf_LIST*>(obj);
      for (int32_t i = 0; i < list->count; ++i) {
        if (write_nested(list->items[i], fd, indent, "item") != 0) return -1;
      }
      return 0;
    }
    case ELF_TYPE_IDENT: {
      auto* ident = reinterpret_cast<elf_IDENT*>(obj);
      if (write_value_line(fd, indent, "name", ident->name) != 0) return -1;
      return write_nested(ident->value, fd, indent, "value");
    }
    case ELF_TYPE_POINTER: {
      auto* p = reinterpret_cast<elf_POINTER*>(obj);
      if (p->description && write_value_line(fd, indent, "description", p->description) != 0) return -1;
      if (dprintf(fd, "%slength: %zu\n", or_empty(indent), p->length) < 0) return -1;
      // Data that belongs to a release procedure is not this object's to write.
      if (p->data && !p->release && write_hex(fd, indent, static_cast<const uint8_t*>(p->data), p->length) != 0) {
        return -1;
      }
      return write_nested(p->next, fd, indent, "next");
    }
    case ELF_TYPE_STRING: return write_value_line(fd, indent, "value", reinterpret_cast<elf_STRING*>(obj)->value);
    case ELF_TYPE_INTEGER:
      return dprintf(fd, "%svalue: %d\n", or_empty(indent), reinterpret_cast<elf_INTEGER*>(obj)->value) < 0 ? -1 : 0;
    case ELF_TYPE_DOUBLE:
      return dprintf(fd, "%svalue: %.17g\n", or_empty(indent), reinterpret_cast<elf_DOUBLE*>(obj)->value) < 0 ? -1 : 0;
    case ELF_TYPE_BOOLEAN:
      return dprintf(fd, "%svalue: %d\n", or_empty(indent), reinterpret_cast<elf_BOOLEAN*>(obj)->value) < 0 ? -1 : 0;
    default: return 0;
  }
}

// Reads a frame with lambdas: values go to on_value(key, text), nested objects other than the
// peer to on_nested(key, object), which answers whether it kept the object. Returns obj, or null
// when obj is null or the frame cannot be read (obj released then).
template <class OnValue, class OnNested>
elf_object* read_frame(elf_state* state, int fd, elf_object* obj, OnValue&& on_value, OnNested&& on_nested) {
  if (!obj) return nullptr;
  struct Calls {
    OnValue& value;
    OnNested& nested;
  } calls{on_value, on_nested};
  const int read = elfReadFrame(
      state, fd, obj,
      [](void* data, const char* key, const char* text, int) { static_cast<Calls*>(data)->value(key, text); },
      [](void* data, const char* key, elf_object* nested) {
        return static_cast<Calls*>(data)->nested(key, nested) ? 1 : 0;
      },
      &calls);
  if (read != 0) {
    elfDiscard(obj);
    return nullptr;
  }
  return obj;
}

auto no_values = [](const char*, const char*) {};
auto no_nested = [](const char*, elf_object*) { return false; };

// Reads a number written by the writer; false for anything else.
bool parse_int(const char* text, int32_t* out) {
  char* end;
  errno = 0;
  const long v = std::strtol(text, &end, 10);
  if (end == text || *end || errno || v < INT32_MIN || v > INT32_MAX) return false;
  *out = static_cast<int32_t>(v);
  return true;
}

int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// POINTER data read line by line, the buffer growing as lines come.
struct HexData {
  uint8_t* bytes = nullptr;
  size_t length = 0, capacity = 0;
  bool bad = false;

  void add(const char* hex) {
    const size_t n = std::strlen(hex);
    if (n % 2) bad = true;
    if (bad) return;
    if (length + n / 2 > capacity) {
      size_t grown = capacity ? capacity * 2 : 256;
      while (grown < length + n / 2) grown *= 2;
      auto* more = static_cast<uint8_t*>(elfMalloc(grown));
      if (!more) {
        bad = true;
        return;
      }
      if (length) std::memcpy(more, bytes, length);
      _elfFree(bytes);
      bytes = more;
      capacity = grown;
    }
    for (size_t i = 0; i < n; i += 2) {
      const int hi = hex_value(hex[i]), lo = hex_value(hex[i + 1]);
      if (hi < 0 || lo < 0) {
        bad = true;
        return;
      }
      bytes[length++] = static_cast<uint8_t>(hi * 16 + lo);
    }
  }
};

template <class Record>
Record* as(elf_object* obj) {
  return reinterpret_cast<Record*>(obj);
}

// An owned text takes a copy of text; short of memory it keeps what it had.
void replace_text(char** slot, const char* text) {
  if (char* copy = elfStrDup(text)) {
    _elfFree(*slot);
    *slot = copy;
  }
}

}  // namespace

namespace interp {

int write_builtin(elf_object* obj, int fd, const char* indent) {
  if (!obj) return -1;
  if (dprintf(fd, "%s[%s]\n", or_empty(indent), obj->typeName) < 0 || write_nested(obj->peer, fd, indent, "peer") != 0 ||
      write_fields(obj, fd, indent) != 0) {
    return -1;
  }
  return dprintf(fd, "%s[END%s%d]\n", or_empty(indent), obj->typeName, obj->instance) < 0 ? -1 : 0;
}

void refs_builtin(elf_object* obj, int fd, const char* indent) {
  if (!obj) return;
  indent = or_empty(indent);
  char child_buf[ELF_INDENT_MAX + 1];
  const char* child = elfChildIndent(indent, child_buf);
  dprintf(fd, "%s[%s] : refCount=%d, elf=%" PRIxPTR "\n%speer: \n", indent, obj->typeName, obj->refCount,
          reinterpret_cast<uintptr_t>(obj->state), indent);
  elfRefsObject(obj->peer, fd, child);
  switch (obj->typeId) {
    case ELF_TYPE_LIST: {
      auto* list = as<elf_LIST>(obj);
      for (int32_t i = 0; i < list->count; ++i) {
        dprintf(fd, "%sitem: \n", indent);
        elfRefsObject(list->items[i], fd, child);
      }
      break;
    }
    case ELF_TYPE_IDENT:
      dprintf(fd, "%svalue: \n", indent);
      elfRefsObject(as<elf_IDENT>(obj)->value, fd, child);
      break;
    case ELF_TYPE_POINTER:
      dprintf(fd, "%snext: \n", indent);
      elfRefsObject(as<elf_POINTER>(obj)->next, fd, child);
      break;
    default: break;
  }
}

elf_object* read_ident(elf_state* state, int fd) {
  elf_object* obj = new_IDENT(state, nullptr, nullptr);
  return read_frame(
      state, fd, obj,
      [&](const char* key, const char* text) {
        if (std::strcmp(key, "name") == 0) replace_text(&as<elf_IDENT>(obj)->name, text);
      },
      [&](const char* key, elf_object* nested) {
        if (std::strcmp(key, "value") != 0) return false;
        ELF_ASSIGN(state, &as<elf_IDENT>(obj)->value, nested);
        return true;
      });
}

elf_object* read_pointer(elf_state* state, int fd) {
  elf_object* obj = new_POINTER(state, nullptr, nullptr);
  HexData data;
  size_t declared = 0;
  obj = read_frame(
      state, fd, obj,
      [&](const char* key, const char* text) {
        if (std::strcmp(key, "description") == 0) {
          replace_text(&as<elf_POINTER>(obj)->description, text);
        } else if (std::strcmp(key, "length") == 0) {
          declared = std::strtoull(text, nullptr, 10);
        } else if (std::strcmp(key, "data") == 0) {
          data.add(text);
        }
      },
      [&](const char* key, elf_object* nested) {
        if (std::strcmp(key, "next") != 0 || !elfIsType(nested, "POINTER")) return false;
        ELF_ASSIGN(state, &as<elf_POINTER>(obj)->next, nested);
        return true;
      });
  if (!obj) {
    _elfFree(data.bytes);
    return nullptr;
  }
  auto* p = as<elf_POINTER>(obj);
  if (data.bad) {
    elfMessage(state, "read_POINTER: data that is not hexadecimal was dropped\n");
    _elfFree(data.bytes);
    data = HexData{};
  } else if (data.bytes && data.length != declared) {
    elfMessage(state, "read_POINTER: data of %zu bytes does not match its length %zu\n", data.length, declared);
  }
  // Without its data a length would promise bytes that are not there.
  p->data = data.bytes;
  p->length = data.length;
  return obj;
}

elf_object* read_string(elf_state* state, int fd) {
  elf_object* obj = new_STRING(state, nullptr, nullptr);
  return read_frame(
      state, fd, obj,
      [&](const char* key, const char* text) {
        if (std::strcmp(key, "value") == 0) replace_text(&as<elf_STRING>(obj)->value, text);
      },
      no_nested);
}

template <class Record, class Parse>
elf_object* read_number(elf_state* state, int fd, elf_object* obj, Parse&& parse) {
  return read_frame(
      state, fd, obj,
      [&](const char* key, const char* text) {
        if (std::strcmp(key, "value") != 0 || !parse(text, &as<Record>(obj)->value)) return;
      },
      no_nested);
}

elf_object* read_integer(elf_state* state, int fd) {
  return read_number<elf_INTEGER>(state, fd, new_INTEGER(state, nullptr, nullptr), parse_int);
}

elf_object* read_boolean(elf_state* state, int fd) {
  return read_number<elf_BOOLEAN>(state, fd, new_BOOLEAN(state, nullptr, nullptr), [](const char* text, int32_t* v) {
    int32_t n;
    if (!parse_int(text, &n)) return false;
    *v = n != 0;
    return true;
  });
}

elf_object* read_double(elf_state* state, int fd) {
  return read_number<elf_DOUBLE>(state, fd, new_DOUBLE(state, nullptr, nullptr), [](const char* text, double* v) {
    char* end;
    const double d = std::strtod(text, &end);
    if (end == text || *end) return false;
    *v = d;
    return true;
  });
}

}  // namespace interp

int write_LIST(elf_object* obj, int fd, const char* indent) {
  return elfIsType(obj, "LIST") ? interp::write_builtin(obj, fd, indent) : -1;
}

void refs_LIST(elf_object* obj, int fd, const char* indent) {
  if (elfIsType(obj, "LIST")) interp::refs_builtin(obj, fd, indent);
}

elf_object* read_LIST(elf_state* state, int fd) {
  elf_object* obj = new_LIST(state, nullptr, nullptr);
  return read_frame(state, fd, obj, no_values, [&](const char* key, elf_object* nested) {
    return std::strcmp(key, "item") == 0 && elflistInsert(obj, nested, -1, 0) == 0;
  });
}
