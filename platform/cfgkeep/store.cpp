// The configuration data store's object space, kept in a text file (the form is in cfgkeep.h):
// attaching reads it whole, the object calls work on the space in memory, saving writes it back.

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "cfgkeep.h"
#include "machctl.h"
#include "objax.h"
#include "safe_output.h"

namespace {

struct Row {
  xid_t attribute;
  std::string value;
};

struct Object {
  xid_t objectClass = 0;
  long flags = 0;
  std::vector<Row> rows;
};

// The one object space of the process; the device runs one store client per process.
struct Space {
  std::string file;  // the store last attached to, or tried
  std::map<std::string, xid_t> xids;
  std::map<xid_t, std::string> names;
  std::map<Ds_handle, Object> objects;
};

Space space;
std::string last_error;

int fail(const std::string& why) {
  last_error = why;
  return -1;
}

bool known(xid_t id) { return id != 0 && space.names.count(id) != 0; }

// A decimal number from 1 (or 0 when zero is allowed) to most, digits only.
bool number(const std::string& word, unsigned long most, bool zero, unsigned long* out) {
  if (word.empty() || word.size() > 10 || word.find_first_not_of("0123456789") != std::string::npos) return false;
  const unsigned long v = std::strtoul(word.c_str(), nullptr, 10);
  if (v > most || (v == 0 && !zero)) return false;
  *out = v;
  return true;
}

bool hex_value(const std::string& word, std::string* out) {
  if (word == "-") return true;
  if (word.size() % 2 || word.size() / 2 > UINT16_MAX) return false;
  for (size_t i = 0; i < word.size(); i += 2) {
    unsigned v = 0;
    for (size_t k = i; k < i + 2; ++k) {
      const char c = word[k];
      const int d = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
      if (d < 0) return false;
      v = v * 16 + static_cast<unsigned>(d);
    }
    out->push_back(static_cast<char>(v));
  }
  return true;
}

// Reads a whole object space into space; an error names the line and what is wrong with it.
bool parse(const std::string& text, Space* into, std::string* error) {
  std::istringstream lines(text);
  std::string line;
  int at = 0;
  bool header = false;
  Object* open = nullptr;
  auto bad = [&](const std::string& what) {
    *error = into->file + ":" + std::to_string(at ? at : 1) + ": " + what;
    return false;
  };
  while (std::getline(lines, line)) {
    ++at;
    std::istringstream fields(line);
    std::vector<std::string> w;
    for (std::string word; fields >> word;) w.push_back(word);
    if (w.empty() || w[0][0] == '#') continue;
    unsigned long a = 0, b = 0, c = 0;
    if (!header) {
      if (w.size() != 2 || w[0] != "cfgkeep" || w[1] != "1") return bad("not a cfgkeep object space (\"cfgkeep 1\" first)");
      header = true;
    } else if (w[0] == "xid") {
      if (open) return bad("xid inside an object");
      if (w.size() != 3 || !number(w[1], UINT16_MAX, false, &a)) return bad("xid takes a number from 1 to 65535 and a name");
      if (into->names.count(static_cast<xid_t>(a)) || into->xids.count(w[2])) return bad("xid " + w[1] + " " + w[2] + " given twice");
      into->names[static_cast<xid_t>(a)] = w[2];
      into->xids[w[2]] = static_cast<xid_t>(a);
    } else if (w[0] == "object") {
      if (open) return bad("object inside an object");
      if (w.size() != 4 || !number(w[1], UINT32_MAX, false, &a) || !number(w[2], UINT16_MAX, false, &b) ||
          !number(w[3], INT32_MAX, true, &c)) {
        return bad("object takes a handle, a class identifier and flags");
      }
      if (!into->names.count(static_cast<xid_t>(b))) return bad("class " + w[2] + " is not in the schema");
      if (into->objects.count(static_cast<Ds_handle>(a))) return bad("object " + w[1] + " given twice");
      open = &into->objects[static_cast<Ds_handle>(a)];
      open->objectClass = static_cast<xid_t>(b);
      open->flags = static_cast<long>(c);
    } else if (w[0] == "avp") {
      if (!open) return bad("avp outside an object");
      Row row{};
      if (w.size() != 3 || !number(w[1], UINT16_MAX, false, &a) || !hex_value(w[2], &row.value)) {
        return bad("avp takes an attribute identifier and up to 65535 bytes in hexadecimal (or -)");
      }
      if (!into->names.count(static_cast<xid_t>(a))) return bad("attribute " + w[1] + " is not in the schema");
      row.attribute = static_cast<xid_t>(a);
      open->rows.push_back(std::move(row));
    } else if (w[0] == "end" && w.size() == 1) {
      if (!open) return bad("end outside an object");
      open = nullptr;
    } else {
      return bad("unknown line \"" + w[0] + "\"");
    }
  }
  if (!header) return bad("not a cfgkeep object space (\"cfgkeep 1\" first)");
  if (open) return bad("the last object has no end");
  return true;
}

std::string text_of(const Space& s) {
  static const char digits[] = "0123456789abcdef";
  std::string out = "cfgkeep 1\n";
  for (const auto& [id, name] : s.names) out += "xid " + std::to_string(id) + " " + name + "\n";
  for (const auto& [handle, object] : s.objects) {
    out += "object " + std::to_string(handle) + " " + std::to_string(object.objectClass) + " " +
           std::to_string(object.flags) + "\n";
    for (const Row& row : object.rows) {
      out += "avp " + std::to_string(row.attribute) + " ";
      if (row.value.empty()) out += "-";
      for (unsigned char byte : row.value) {
        out += digits[byte >> 4];
        out += digits[byte & 15];
      }
      out += "\n";
    }
    out += "end\n";
  }
  return out;
}

bool read_whole(const std::string& path, std::string* text, std::string* error) {
  FILE* f = std::fopen(path.c_str(), "rb");
  struct stat st;
  if (!f || fstat(fileno(f), &st) != 0 || !S_ISREG(st.st_mode)) {
    *error = path + ": " + (f ? "not a file" : std::strerror(errno));
    if (f) std::fclose(f);
    return false;
  }
  char buffer[4096];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) text->append(buffer, n);
  const bool ok = !std::ferror(f);
  std::fclose(f);
  if (!ok) *error = path + ": cannot be read";
  return ok;
}

// Runs a call of the store, turning a lack of memory into its failure.
template <typename Call, typename Result>
Result guarded(Result failed, Call call) {
  try {
    last_error.clear();
    return call();
  } catch (const std::exception& e) {
    last_error = std::string("no memory: ") + e.what();
    return failed;
  }
}

}  // namespace

int ds_attach(const char* store, int flags) {
  return guarded(-1, [&] {
    space = Space{};
    if (!store) return fail("no store named");
    space.file = store;
    if (flags != 0) return fail("flags other than 0");
    std::string text, error;
    Space read;
    read.file = store;
    if (!read_whole(store, &text, &error) || !parse(text, &read, &error)) return fail(error);
    space = std::move(read);
    return 0;
  });
}

void ds_detach(void) {
  space = Space{};
  last_error.clear();
}

int ds_append_avp2(Ds_handle object, int count, xid_t attribute, int options, const void* value, uint16_t length) {
  return guarded(-1, [&] {
    const auto it = space.objects.find(object);
    if (it == space.objects.end()) return fail("no object " + std::to_string(object));
    if (!known(attribute)) return fail("attribute " + std::to_string(attribute) + " is not in the schema");
    if (count != 1 || options != 0) return fail("only one value and no options are taken");
    if (!value && length) return fail("no value");
    it->second.rows.push_back({attribute, std::string(static_cast<const char*>(value), length)});
    return 0;
  });
}

const char* ds_last_error(void) { return last_error.c_str(); }

xid_t oa_xid_of(const char* name) {
  return guarded(xid_t{0}, [&] {
    const auto it = name ? space.xids.find(name) : space.xids.end();
    return it == space.xids.end() ? xid_t{0} : it->second;
  });
}

Ds_handle oa_find_object_from_name(xid_t attribute, const void* name, int length) {
  return guarded(Ds_handle{0}, [&] {
    if (!name || length < 0) return Ds_handle{0};
    const std::string wanted(static_cast<const char*>(name), static_cast<size_t>(length));
    for (const auto& [handle, object] : space.objects) {
      for (const Row& row : object.rows) {
        if (row.attribute == attribute && row.value == wanted) return handle;
      }
    }
    return Ds_handle{0};
  });
}

Ds_handle oa_create_object(xid_t objectClass, xid_t attribute, const char* name, int flags) {
  return guarded(Ds_handle{0}, [&] {
    if (!known(objectClass) || !known(attribute) || !name || flags < 0) {
      fail("an object needs a class and an identifier attribute of the schema, a name and flags from 0");
      return Ds_handle{0};
    }
    const Ds_handle handle = space.objects.empty() ? 1 : space.objects.rbegin()->first + 1;
    if (handle == 0) {
      fail("no handle left");
      return Ds_handle{0};
    }
    Object& object = space.objects[handle];
    object.objectClass = objectClass;
    object.flags = flags;
    object.rows.push_back({attribute, std::string(name, std::strlen(name) + 1)});
    return handle;
  });
}

int oa_delete_object(xid_t objectClass, Ds_handle object) {
  return guarded(-1, [&] {
    const auto it = space.objects.find(object);
    if (it == space.objects.end() || it->second.objectClass != objectClass) {
      return fail("no object " + std::to_string(object) + " of class " + std::to_string(objectClass));
    }
    space.objects.erase(it);
    return 0;
  });
}

const char* oa_access_config_filename(const char* config) {
  if (!config) return nullptr;
  const char* set = sc_get_env_var(config);
  if (set && *set) return set;
  if (std::strcmp(config, "DS_CURRENT_CONFIG") == 0 && !space.file.empty()) return space.file.c_str();
  return nullptr;
}

int oa_save_obj_space(const char* path) {
  return guarded(-1, [&] {
    if (!path || !*path) return fail("no file to save to");
    const std::string text = text_of(space);
    // Written whole beside the file (a link keeps its link, the file it leads to is replaced;
    // a replaced file keeps its permissions) and moved over it.
    SafeOut out;
    if (SafeOut_Open(&out, path) != 0 || SafeOut_Write(&out, text.data(), text.size()) != 0 ||
        SafeOut_Commit(&out) != 0) {
      const std::string why = std::string(path) + ": " + std::strerror(out.error);
      SafeOut_Abort(&out);
      return fail(why);
    }
    return 0;
  });
}

const char* sc_get_env_var(const char* name) { return name ? std::getenv(name) : nullptr; }
