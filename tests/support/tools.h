#ifndef MONOTEST_TOOLS_H
#define MONOTEST_TOOLS_H

// Running the independent tools (oracles and page sources) on temporary files.

#include <string>
#include <vector>

namespace monotest {

struct ToolResult {
  int exit_code = -1;
  std::string output;  // standard output; standard error goes to the test log
};

// A fresh directory removed with everything in it when the object goes.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  std::string file(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// Throws std::runtime_error naming the Debian package when the program is not installed.
void require_tool(const std::string& program, const std::string& package);

// Runs a shell command line and captures its standard output.
ToolResult run_tool(const std::string& command_line);

std::string read_file(const std::string& path);
void write_file(const std::string& path, const std::string& bytes);

// Quotes a path for the shell.
std::string shell_quote(const std::string& s);

// A PDF file of the objects, numbered from 1 with object 1 the catalog: header, objects, the
// cross-reference table and the trailer.
std::string pdf_of_objects(const std::vector<std::string>& objects, const std::string& header = "%PDF-1.4\n");

}  // namespace monotest

#endif
