#ifndef MONOTEST_REPORT_COLLECTOR_H
#define MONOTEST_REPORT_COLLECTOR_H

// A printer for the engine's error reporter that keeps what it is given, so tests can check
// which codes were reported and with which text.

#include <cstdint>
#include <string>
#include <vector>

namespace monotest {

struct CollectedReports {
  std::vector<int32_t> codes;
  std::string text;  // each report's formatted text followed by a newline
};

// Printer procedure: (context = CollectedReports*, code, format, arguments).
int collect_report(void* context, int32_t code, const char* format, ...);

}  // namespace monotest

#endif
