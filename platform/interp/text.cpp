// The object text form: the token reader and what every type's writer and reader share.

#include <strings.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "interp_internal.h"

namespace {

// A label's value waits for the next call: the first byte of the value has been read (to see
// whether there is one) and is kept here with its descriptor. Per thread; an entry goes when its
// value is read.
struct Pending {
  int fd;
  int first;
};
thread_local std::vector<Pending> pending_values;

bool take_pending(int fd, int* first) {
  for (size_t i = 0; i < pending_values.size(); ++i) {
    if (pending_values[i].fd == fd) {
      *first = pending_values[i].first;
      pending_values.erase(pending_values.begin() + static_cast<std::ptrdiff_t>(i));
      return true;
    }
  }
  return false;
}

// One byte, or -1 at the end of input or on a read error.
int next_byte(int fd) {
  unsigned char c;
  for (;;) {
    const ssize_t n = read(fd, &c, 1);
    if (n == 1) return c;
    if (n < 0 && errno == EINTR) continue;
    return -1;
  }
}

bool is_blank(int c) { return c == ' ' || c == '\t'; }

bool is_label_char(int c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '.' ||
         c == '-' || c == '@' || c == '$';
}

int hex_digit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Walks a quoted value; with out, writes the unescaped text there (never ahead of the walk, so
// it may be the text itself). False when text is not one whole quoted string.
bool walk_quoted(const char* text, size_t length, char* out) {
  if (length < 2 || text[0] != '"' || text[length - 1] != '"') return false;
  size_t o = 0;
  for (size_t i = 1; i + 1 < length; ++i) {
    char c = text[i];
    if (c == '"') return false;
    if (c == '\\') {
      if (i + 2 >= length) return false;
      switch (text[++i]) {
        case '\\': c = '\\'; break;
        case '"': c = '"'; break;
        case 'n': c = '\n'; break;
        case 'r': c = '\r'; break;
        case 't': c = '\t'; break;
        case 'x': {
          if (i + 3 >= length) return false;
          const int hi = hex_digit(text[i + 1]), lo = hex_digit(text[i + 2]);
          if (hi < 0 || lo < 0) return false;
          c = static_cast<char>(hi * 16 + lo);
          i += 2;
          break;
        }
        default: return false;
      }
    }
    if (out) out[o] = c;
    ++o;
  }
  if (out) out[o] = '\0';
  return true;
}

void skip_line(int fd, int c) {
  while (c >= 0 && c != '\n') c = next_byte(fd);
}

// Reads the rest of a value line into buffer after the n bytes already there, c being the next
// byte (or -1); the line's end is consumed. Gives the value's code.
int finish_value(int fd, int c, char* buffer, size_t n) {
  bool overlong = false;
  for (; c >= 0 && c != '\n'; c = next_byte(fd)) {
    if (n + 1 < ELF_TOKEN_MAX) {
      buffer[n++] = static_cast<char>(c);
    } else {
      overlong = true;
    }
  }
  buffer[n] = '\0';
  if (overlong) return ELF_TOKEN_OVERLONG;
  if (walk_quoted(buffer, n, nullptr)) {
    walk_quoted(buffer, n, buffer);
    return ELF_TOKEN_STRING;
  }
  return ELF_TOKEN_PLAIN;
}

bool needs_quotes(const char* text) {
  if (!*text || *text == '"') return true;
  return std::strchr(text, '\n') != nullptr;
}

int write_all(int fd, const char* data, size_t n) {
  while (n > 0) {
    const ssize_t w = write(fd, data, n);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) return -1;
    data += w;
    n -= static_cast<size_t>(w);
  }
  return 0;
}

}  // namespace

namespace interp {

void drop_pending(int fd) {
  int first;
  while (take_pending(fd, &first)) {
  }
}

}  // namespace interp

int readusercm_fd(int fd, char* buffer) {
  buffer[0] = '\0';
  int first;
  if (take_pending(fd, &first)) return finish_value(fd, first, buffer, 0);
  for (;;) {
    int c = next_byte(fd);
    while (is_blank(c)) c = next_byte(fd);
    if (c < 0) return ELF_TOKEN_END;
    if (c == '\n') continue;
    if (c == '#') {
      skip_line(fd, c);
      continue;
    }
    size_t n = 0;
    if (c == '[') {
      // A name up to ']' on the same line; without one the line is a value.
      buffer[n++] = '[';
      bool overlong = false;
      for (c = next_byte(fd); c >= 0 && c != '\n' && c != ']'; c = next_byte(fd)) {
        if (n + 1 < ELF_TOKEN_MAX) {
          buffer[n++] = static_cast<char>(c);
        } else {
          overlong = true;
        }
      }
      if (c == ']') {
        skip_line(fd, next_byte(fd));
        std::memmove(buffer, buffer + 1, n - 1);
        buffer[n - 1] = '\0';
        return overlong ? ELF_TOKEN_OVERLONG : ELF_TOKEN_NAME;
      }
      if (overlong) {
        buffer[n] = '\0';
        return ELF_TOKEN_OVERLONG;
      }
      return finish_value(fd, c, buffer, n);
    }
    while (is_label_char(c) && n + 1 < ELF_TOKEN_MAX) {
      buffer[n++] = static_cast<char>(c);
      c = next_byte(fd);
    }
    if (n > 0 && c == ':') {
      buffer[n] = '\0';
      c = next_byte(fd);
      if (c == ' ') c = next_byte(fd);
      if (c >= 0 && c != '\n') pending_values.push_back(Pending{fd, c});
      return ELF_TOKEN_LABEL;
    }
    return finish_value(fd, c, buffer, n);
  }
}

const char* elfChildIndent(const char* indent, char* child) {
  if (!indent) indent = "";
  const size_t n = std::strlen(indent);
  if (n > ELF_INDENT_MAX - 2) return indent;
  std::memcpy(child, indent, n);
  child[n] = ' ';
  child[n + 1] = ' ';
  child[n + 2] = '\0';
  return child;
}

int elfWriteValue(int fd, const char* text) {
  if (!text) text = "";
  if (!needs_quotes(text)) return write_all(fd, text, std::strlen(text));
  char buf[256];
  size_t n = 0;
  auto put = [&](const char* s, size_t k) {
    if (n + k > sizeof buf) {
      if (write_all(fd, buf, n) != 0) return false;
      n = 0;
    }
    std::memcpy(buf + n, s, k);
    n += k;
    return true;
  };
  bool ok = put("\"", 1);
  for (const char* p = text; ok && *p; ++p) {
    const auto c = static_cast<unsigned char>(*p);
    switch (c) {
      case '\\': ok = put("\\\\", 2); break;
      case '"': ok = put("\\\"", 2); break;
      case '\n': ok = put("\\n", 2); break;
      case '\r': ok = put("\\r", 2); break;
      case '\t': ok = put("\\t", 2); break;
      default:
        if (c < 0x20 || c == 0x7F) {
          char esc[5];
          std::snprintf(esc, sizeof esc, "\\x%02X", c);
          ok = put(esc, 4);
        } else {
          ok = put(p, 1);
        }
    }
  }
  if (ok) ok = put("\"", 1);
  return ok && write_all(fd, buf, n) == 0 ? 0 : -1;
}

int elfWriteObject(elf_object* obj, int fd, const char* indent) {
  if (!obj) return -1;
  if (obj->ops.write) return obj->ops.write(obj, fd, indent);
  elfMessage(obj->state, "elfWriteObject: a %s has no text form\n", obj->typeName);
  if (!indent) indent = "";
  return dprintf(fd, "%s[%s]\n%s[END%s%d]\n", indent, obj->typeName, indent, obj->typeName, obj->instance) < 0 ? -1
                                                                                                                 : 0;
}

void elfRefsObject(elf_object* obj, int fd, const char* indent) {
  if (obj && obj->ops.refs) obj->ops.refs(obj, fd, indent);
}

int elfIsEndToken(const char* token, const char* marker, int32_t* instance) {
  if (!token || !marker) return 0;
  const size_t n = std::strlen(marker);
  if (strncasecmp(token, marker, n) != 0) return 0;
  int value;
  if (instance && std::sscanf(token + n, "%d", &value) == 1) *instance = value;
  return 1;
}

elf_object* elfReadObject(elf_state* state, int fd, const char* typeName) {
  // Readers call each other for nested frames; the depth is bounded so that no text can exhaust
  // the stack.
  static thread_local int depth = 0;
  if (depth >= ELF_NESTING_MAX) {
    elfMessage(state, "elfReadObject: %s nested deeper than %d frames, skipped\n", typeName ? typeName : "(none)",
               ELF_NESTING_MAX);
  } else {
    const int32_t id = find_elf_type(state, typeName);
    if (elf_read_proc reader = id > 0 ? elfTypeReader(state, id) : nullptr) {
      ++depth;
      elf_object* obj = reader(state, fd);
      --depth;
      return obj;
    }
    elfMessage(state, "elfReadObject: no reader for %s, skipped\n", typeName ? typeName : "(none)");
  }
  // Skip to the frame's end line, counting frames of the same type nested in it.
  char marker[ELF_TOKEN_MAX + 3];
  std::snprintf(marker, sizeof marker, "END%s", typeName ? typeName : "");
  auto* buffer = static_cast<char*>(elfMalloc(ELF_TOKEN_MAX));
  if (!buffer) return nullptr;
  for (int depth = 0;;) {
    const int code = readusercm_fd(fd, buffer);
    if (code == ELF_TOKEN_END) break;
    if (code != ELF_TOKEN_NAME) continue;
    if (typeName && strcasecmp(buffer, typeName) == 0) {
      ++depth;
    } else if (elfIsEndToken(buffer, marker, nullptr) && depth-- == 0) {
      break;
    }
  }
  _elfFree(buffer);
  return nullptr;
}

int elfReadFrame(elf_state* state, int fd, elf_object* obj, elf_frame_value_proc value, elf_frame_nested_proc nested,
                 void* data) {
  if (!obj || !obj->typeName) return -1;
  auto* buffer = static_cast<char*>(elfMalloc(ELF_TOKEN_MAX));
  if (!buffer) return -1;
  char marker[ELF_TOKEN_MAX + 3], key[64];
  std::snprintf(marker, sizeof marker, "END%s", obj->typeName);
  std::snprintf(key, sizeof key, "%s", obj->typeName);
  int nth = 0;
  bool header = true;
  for (;;) {
    const int code = readusercm_fd(fd, buffer);
    if (code == ELF_TOKEN_END) break;
    header = header && code == ELF_TOKEN_NAME;
    if (code == ELF_TOKEN_LABEL) {
      if (std::snprintf(key, sizeof key, "%s", buffer) >= static_cast<int>(sizeof key)) key[0] = '\0';
      nth = 0;
    } else if (code == ELF_TOKEN_NAME) {
      if (elfIsEndToken(buffer, marker, &obj->instance)) break;
      // A reader started before the header line skips it.
      if (header && strcasecmp(buffer, obj->typeName) == 0) {
        header = false;
        continue;
      }
      // Every nested frame is read to its end, so that its lines are never taken for this
      // object's; what the type does not keep is dropped.
      elf_object* object = elfReadObject(state, fd, buffer);
      if (!object) continue;
      if (strcasecmp(key, "peer") == 0) {
        ELF_ASSIGN(state, &obj->peer, object);
      } else if (!nested || !nested(data, key, object)) {
        elfDiscard(object);
      }
    } else if (code == ELF_TOKEN_PLAIN || code == ELF_TOKEN_STRING) {
      if (value) value(data, key, buffer, nth);
      ++nth;
    } else {
      elfMessage(state, "read_%s: a token longer than %d bytes under %s was skipped\n", obj->typeName,
                 ELF_TOKEN_MAX - 1, key);
    }
  }
  _elfFree(buffer);
  return 0;
}
