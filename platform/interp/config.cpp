// Type descriptions: the ".ucm" files a state is made from (their form is told in elf_member.h).

#include <fcntl.h>
#include <limits.h>
#include <unistd.h>

#include <cstring>
#include <initializer_list>

#include "elf_plugin.h"
#include "interp_internal.h"

namespace {

enum class Section { None, Type, Procedure, Script };

struct MemberLine {
  char* member;
  char* symbol;
};

// One bracketed entry as it is read; applied at its end line.
struct Entry {
  Section section = Section::None;
  char* name = nullptr;
  char* library = nullptr;
  char* symbol = nullptr;
  interp::HeapArray<MemberLine> members{};

  void clear() {
    _elfFree(name);
    _elfFree(library);
    _elfFree(symbol);
    for (MemberLine& m : members) {
      _elfFree(m.member);
      _elfFree(m.symbol);
    }
    members.release();
    *this = Entry{};
  }
};

const char* section_name(Section s) {
  switch (s) {
    case Section::Type: return "TYPE";
    case Section::Procedure: return "PROCEDURE";
    case Section::Script: return "SCRIPT";
    case Section::None: break;
  }
  return "";
}

bool replace_text(char** slot, const char* text) {
  char* copy = elfStrDup(text);
  if (!copy) return false;
  _elfFree(*slot);
  *slot = copy;
  return true;
}

// "member symbol": the member name, blanks, the symbol.
bool add_member(Entry& e, const char* text) {
  const char* blank = std::strpbrk(text, " \t");
  const char* symbol = blank;
  while (symbol && (*symbol == ' ' || *symbol == '\t')) ++symbol;
  if (!blank || blank == text || !symbol || !*symbol) return false;
  MemberLine m{static_cast<char*>(elfMalloc(static_cast<size_t>(blank - text) + 1)), elfStrDup(symbol)};
  if (m.member) {
    std::memcpy(m.member, text, static_cast<size_t>(blank - text));
    m.member[blank - text] = '\0';
  }
  if (!m.member || !m.symbol || !e.members.push(m)) {
    _elfFree(m.member);
    _elfFree(m.symbol);
    return false;
  }
  return true;
}

// Registers what the entry describes; the problem, or null.
const char* apply(elf_state* state, const Entry& e) {
  if (!e.name) return "an entry without a name";
  if (e.section == Section::Type) {
    const int32_t id = e.library ? elfRegisterTypeLibrary(state, e.name, e.library) : find_elf_type(state, e.name);
    if (id < 1) return "a new type needs a library";
    for (const MemberLine& m : e.members) {
      if (elfBindMember(state, id, m.member, m.symbol) != 0) return "a member cannot be bound";
    }
    return nullptr;
  }
  if (!e.library || !e.symbol) return "a procedure or script needs a library and a symbol";
  const int kind = e.section == Section::Script ? ELF_SCRIPT : ELF_PROCEDURE;
  return elfBindProcedure(state, kind, e.name, e.library, e.symbol) == 0 ? nullptr : "it cannot be registered";
}

// Reads every entry of fd; the problem, or null.
const char* read_entries(elf_state* state, int fd, char* buffer) {
  Entry e;
  char key[16] = "";
  const char* problem = nullptr;
  for (int code; !problem && (code = readusercm_fd(fd, buffer)) != ELF_TOKEN_END;) {
    switch (code) {
      case ELF_TOKEN_NAME:
        if (e.section == Section::None) {
          for (Section s : {Section::Type, Section::Procedure, Section::Script}) {
            if (std::strcmp(buffer, section_name(s)) == 0) e.section = s;
          }
          if (e.section == Section::None) problem = "an entry of unknown kind";
        } else if (std::strncmp(buffer, "END", 3) == 0 && std::strcmp(buffer + 3, section_name(e.section)) == 0) {
          problem = apply(state, e);
          e.clear();
        } else {
          problem = "an entry inside another";
        }
        key[0] = '\0';
        break;
      case ELF_TOKEN_LABEL:
        if (e.section == Section::None) problem = "a field outside an entry";
        if (std::strlen(buffer) >= sizeof key) buffer[0] = '\0';
        std::strcpy(key, buffer);
        break;
      case ELF_TOKEN_PLAIN:
      case ELF_TOKEN_STRING: {
        bool ok = true;
        if (std::strcmp(key, "name") == 0) {
          ok = replace_text(&e.name, buffer);
        } else if (std::strcmp(key, "library") == 0) {
          ok = replace_text(&e.library, buffer);
        } else if (std::strcmp(key, "symbol") == 0) {
          ok = replace_text(&e.symbol, buffer);
        } else if (std::strcmp(key, "member") == 0 && e.section == Section::Type) {
          ok = add_member(e, buffer);
          if (!ok) problem = "a member line is not \"member: NAME SYMBOL\"";
        } else {
          problem = "an unknown field";
        }
        if (!ok && !problem) problem = "no memory";
        break;
      }
      default: problem = "a line too long"; break;
    }
  }
  if (!problem && e.section != Section::None) problem = "an entry without its end line";
  e.clear();
  return problem;
}

}  // namespace

namespace interp {

bool is_type_description(const char* config) {
  const size_t n = config ? std::strlen(config) : 0;
  return n > 4 && std::strcmp(config + n - 4, ".ucm") == 0;
}

int load_type_description(elf_state* state, const char* config) {
  char path[PATH_MAX];
  if (!elfFindPlatformFile(config, path, sizeof path)) {
    elfMessage(state, "initState: type description %s not found in " ELF_PLUGIN_PATH_ENV
                      " nor beside the interpreter library\n", config);
    return -1;
  }
  const int fd = open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    elfMessage(state, "initState: cannot open the type description %s\n", path);
    return -1;
  }
  auto* buffer = static_cast<char*>(elfMalloc(ELF_TOKEN_MAX));
  const char* problem = buffer ? read_entries(state, fd, buffer) : "no memory";
  _elfFree(buffer);
  interp::drop_pending(fd);
  close(fd);
  if (problem) {
    elfMessage(state, "initState: type description %s: %s\n", path, problem);
    return -1;
  }
  return 0;
}

}  // namespace interp
