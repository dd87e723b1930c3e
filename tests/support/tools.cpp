#include "tools.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <sys/wait.h>

#include "sanitizer_size.h"

namespace monotest {

TempDir::TempDir() {
  std::string tmpl = (std::filesystem::temp_directory_path() / "monotest-XXXXXX").string();
  if (!mkdtemp(tmpl.data())) throw std::runtime_error("cannot create a temporary directory");
  path_ = tmpl;
}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

std::string shell_quote(const std::string& s) {
  std::string q = "'";
  for (char c : s) {
    if (c == '\'') q += "'\\''"; else q += c;
  }
  return q + "'";
}

void require_tool(const std::string& program, const std::string& package) {
  const std::string cmd = "command -v " + shell_quote(program) + " >/dev/null 2>&1";
  if (std::system(cmd.c_str()) != 0)
    throw std::runtime_error(program + " is not installed: apt-get install " + package);
}

namespace {

// The leak checker of clang 14's runtime misreads the dynamic TLS blocks that glibc 2.36 gives
// libraries loaded with dlopen, and crashes at exit ("Tracer caught signal 11") in a child that
// ran clean; the children the tests start leave those blocks unscanned.
void calm_child_leak_checker() {
  if (!kSanitized) return;
  const char* given = std::getenv("ASAN_OPTIONS");
  std::string options = given ? given : "";
  if (options.find("intercept_tls_get_addr") != std::string::npos) return;
  options += options.empty() ? "intercept_tls_get_addr=0" : ":intercept_tls_get_addr=0";
  setenv("ASAN_OPTIONS", options.c_str(), 1);
}

}  // namespace

ToolResult run_tool(const std::string& command_line) {
  static const bool calmed = (calm_child_leak_checker(), true);
  (void)calmed;
  ToolResult r;
  FILE* p = popen(command_line.c_str(), "r");
  if (!p) throw std::runtime_error("cannot run: " + command_line);
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) r.output.append(buf, n);
  const int st = pclose(p);
  r.exit_code = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
  return r;
}

std::string read_file(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  if (!f) throw std::runtime_error("cannot open " + path);
  std::ostringstream s;
  s << f.rdbuf();
  return s.str();
}

void write_file(const std::string& path, const std::string& bytes) {
  std::ofstream f(path, std::ios::binary);
  f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!f) throw std::runtime_error("cannot write " + path);
}

std::string pdf_of_objects(const std::vector<std::string>& objects, const std::string& header) {
  std::string pdf = header;
  std::vector<size_t> offsets;
  for (size_t i = 0; i < objects.size(); ++i) {
    offsets.push_back(pdf.size());
    pdf += std::to_string(i + 1) + " 0 obj\n" + objects[i] + "\nendobj\n";
  }
  const size_t xref = pdf.size();
  pdf += "xref\n0 " + std::to_string(objects.size() + 1) + "\n0000000000 65535 f \n";
  for (size_t offset : offsets) {
    char line[24];
    std::snprintf(line, sizeof line, "%010zu 00000 n \n", offset);
    pdf += line;
  }
  return pdf + "trailer\n<< /Size " + std::to_string(objects.size() + 1) + " /Root 1 0 R >>\nstartxref\n" +
         std::to_string(xref) + "\n%%EOF\n";
}

}  // namespace monotest
