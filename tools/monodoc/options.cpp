// What every command shares: its options, its complaints and the interpreter's reasons.

#include <cstddef>
#include <cstdio>
#include <string>
#include <vector>

#include "commands.h"
#include "image_io.h"
#include "messages.h"

namespace monodoc {

bool parse_options(const std::vector<std::string>& args, const std::vector<OptionSpec>& specs, ParsedOptions* out,
                   std::string* error) {
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--") {
      out->operands.insert(out->operands.end(), args.begin() + static_cast<std::ptrdiff_t>(i) + 1, args.end());
      return true;
    }
    if (a.size() < 2 || a[0] != '-') {
      out->operands.push_back(a);
      continue;
    }
    const bool is_long = a[1] == '-';
    const size_t eq = is_long ? a.find('=') : std::string::npos;
    const std::string name = is_long ? a.substr(2, eq == std::string::npos ? std::string::npos : eq - 2) : a.substr(1, 1);
    const OptionSpec* spec = nullptr;
    for (const OptionSpec& s : specs) {
      if (is_long ? name == s.long_name : name[0] == s.short_name) spec = &s;
    }
    if (!spec) {
      *error = "unknown option " + (is_long ? "--" + name : "-" + name);
      return false;
    }
    std::string value;
    const std::string attached = is_long ? (eq == std::string::npos ? "" : a.substr(eq + 1)) : a.substr(2);
    const bool has_attached = is_long ? eq != std::string::npos : a.size() > 2;
    if (spec->takes_value) {
      if (has_attached) {
        value = attached;
      } else if (i + 1 < args.size()) {
        value = args[++i];
      } else {
        *error = "option --" + std::string(spec->long_name) + " needs a value";
        return false;
      }
    } else if (has_attached) {
      *error = "option --" + std::string(spec->long_name) + " takes no value";
      return false;
    }
    out->options.emplace_back(spec, value);
  }
  return true;
}

void complain(const char* command, const std::string& message) {
  std::fprintf(stderr, "monodoc: %s: %s\n", command, message.c_str());
}

std::string status_text(elf_state* state, int status) {
  std::string message = getStatusMessage(state);
  message.erase(message.find_last_not_of('\n') + 1);
  if (!debug_messages()) message = plain_words(message);
  return message.empty() ? "failed with status " + std::to_string(status) : message;
}

}  // namespace monodoc
