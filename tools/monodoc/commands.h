#ifndef MONODOC_COMMANDS_H
#define MONODOC_COMMANDS_H

// The runner's commands. Each command parses its own arguments and returns the process exit
// status: 0 success (warnings included), 1 failure, 2 a usage error.

#include <cstddef>
#include <string>
#include <vector>

namespace monodoc {

enum ExitStatus { exit_ok = 0, exit_failed = 1, exit_usage = 2 };

struct Command {
  const char* name;
  const char* summary;  // one line for the command list
  const char* help;     // the full help text, usage first
  int (*run)(const std::vector<std::string>& args);
};

// A command-line option of a command: "-o X", "-oX", "--output X" and "--output=X" all work;
// "--" ends the options.
struct OptionSpec {
  char short_name;
  const char* long_name;
  bool takes_value;
};

struct ParsedOptions {
  std::vector<std::pair<const OptionSpec*, std::string>> options;  // in command-line order
  std::vector<std::string> operands;
};

// False with the reason for an unknown option or a missing value.
bool parse_options(const std::vector<std::string>& args, const std::vector<OptionSpec>& specs, ParsedOptions* out,
                   std::string* error);

// Prints "monodoc: <command>: <message>" to the standard error stream.
void complain(const char* command, const std::string& message);

// A library of commands (a module of commands.def) hands the runner its table through this
// function, by this name: its commands and their number.
#define MONODOC_MODULE_ENTRY "monodoc_module_commands"
using ModuleEntry = const Command* (*)(size_t* count);

int run_call(const std::vector<std::string>& args);
extern const char call_help[];
int run_identify(const std::vector<std::string>& args);
extern const char identify_help[];
int run_info(const std::vector<std::string>& args);
extern const char info_help[];
int run_zip(const std::vector<std::string>& args);
extern const char zip_help[];
int run_encode(const std::vector<std::string>& args);
extern const char encode_help[];
int run_decode(const std::vector<std::string>& args);
extern const char decode_help[];
int run_spec(const std::vector<std::string>& args);
extern const char spec_help[];
int run_pdf(const std::vector<std::string>& args);
extern const char pdf_help[];
int run_tiff(const std::vector<std::string>& args);
extern const char tiff_help[];
int run_sign(const std::vector<std::string>& args);
extern const char sign_help[];
int run_text(const std::vector<std::string>& args);
extern const char text_help[];
int run_xps(const std::vector<std::string>& args);
extern const char xps_help[];

}  // namespace monodoc

#endif
