// Wrapper state: creation and end, environment file, accessors and the error report.

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "counting_alloc.h"
#include "ipw_state.h"
#include "strel.h"
#include "tools.h"

namespace {

using monotest::CountingAllocator;
using C = CountingAllocator;

void collect_line(void* data, const char* text) { static_cast<std::vector<std::string>*>(data)->push_back(text); }

VltStatus init_counting(CountingAllocator* a, const char* env, IPWState** place,
                        std::vector<std::string>* lines = nullptr) {
  return w_IPWStateInit(C::c_malloc, C::c_calloc, C::c_realloc, C::c_free, a, C::c_malloc, C::c_calloc,
                        C::c_realloc, C::c_free, a, lines ? collect_line : nullptr, lines, nullptr, nullptr,
                        nullptr, env, place);
}

TEST(IPWState, AllNullArgumentsGiveAWorkingSilentState) {
  IPWState* s = nullptr;
  ASSERT_EQ(w_IPWStateInit(nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                           nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &s),
            VLT_OK);
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(s->envList, nullptr);
  EXPECT_NE(s->strelInfo, nullptr);
  uint32_t flag = 7;
  EXPECT_EQ(wp_IPWStateGetLongAccessFlag(s, &flag), VLT_OK);
  EXPECT_EQ(flag, 1u);
  EXPECT_EQ(wp_IPWStateGetPurifyIsRunning(s, &flag), VLT_OK);
  EXPECT_EQ(flag, 0u);
  EXPECT_EQ(w_printErrorInfo(s, "x.cpp", 1, 2), VLT_OK);
  void* block = s->mallocProc[1](32, s->allocData[1]);
  s->freeProc[1](block, s->allocData[1]);
  EXPECT_EQ(w_IPWStateTerm(&s), VLT_OK);
  EXPECT_EQ(s, nullptr);
  EXPECT_EQ(w_IPWStateTerm(&s), VLT_ERR_NULL);
}

TEST(IPWState, OccupiedPlaceIsRefusedBeforeAnyAllocation) {
  CountingAllocator a;
  auto* const marker = reinterpret_cast<IPWState*>(uintptr_t{0x40});
  IPWState* s = marker;
  EXPECT_EQ(init_counting(&a, nullptr, &s), VLT_ERR_PARAM);
  EXPECT_EQ(s, marker);
  EXPECT_EQ(a.allocations(), 0u);
  EXPECT_EQ(init_counting(&a, nullptr, nullptr), VLT_ERR_NULL);
}

TEST(IPWState, EndReturnsEverySetZeroBlockAlsoAfterAFailureAtEachStep) {
  monotest::TempDir dir;
  const std::string env = dir.file("env");
  monotest::write_file(env, std::string("A=1\nB='x y'\nC=") + std::string(200, 'v') + "\n");
  size_t steps = 0;
  {
    CountingAllocator a;
    IPWState* s = nullptr;
    ASSERT_EQ(init_counting(&a, env.c_str(), &s), VLT_OK);
    steps = a.allocations();
    EXPECT_STREQ(w_getenv(s, "C"), std::string(200, 'v').c_str());
    ASSERT_EQ(w_initStrelByName(s, 40), VLT_OK);
    ASSERT_EQ(w_IPWStateTerm(&s), VLT_OK);
    EXPECT_EQ(s, nullptr);
    EXPECT_EQ(a.live_blocks(), 0u);
    EXPECT_EQ(a.foreign(), 0u);
  }
  for (size_t k = 1; k <= steps; ++k) {
    CountingAllocator a;
    std::vector<std::string> lines;
    IPWState* s = nullptr;
    a.fail_at(k);
    EXPECT_EQ(init_counting(&a, env.c_str(), &s, &lines), VLT_ERR_NOMEM) << "step " << k;
    EXPECT_EQ(s, nullptr) << "step " << k;
    EXPECT_EQ(a.live_blocks(), 0u) << "step " << k;
    EXPECT_EQ(a.foreign(), 0u) << "step " << k;
  }
}

// What a parsed environment list holds: a name and a value, each possibly absent.
struct Node {
  std::optional<std::string> name, value;
  bool operator==(const Node&) const = default;
};

std::vector<Node> nodes_of(IPWState* s) {
  std::vector<Node> v;
  for (auto* n = static_cast<const IPWEnvNode*>(s->envList); n != nullptr; n = n->next) {
    Node node;
    if (n->name) node.name = n->name;
    if (n->value) node.value = n->value;
    v.push_back(node);
  }
  return v;
}

TEST(IPWStateEnv, FileFormsAsOneTable) {
  const std::optional<std::string> none;
  const struct {
    const char* what;
    std::string bytes;
    VltStatus status;
    std::vector<Node> nodes;
  } cases[] = {
      {"plain, quoted and a last line without equals sign", "A=1\nB='x y'\nC",
       VLT_ERR_IO_EARLY_END, {{"A", "1"}, {"B", "x y"}, {none, none}}},
      {"leading empty line joins the next name", "\nA=1\n", VLT_OK, {{"\nA", "1"}}},
      {"carriage return and line feed end a value", "A=1\r\nB=2\r\n", VLT_OK, {{"A", "1"}, {"B", "2"}}},
      {"equals sign at the very end", "A=", VLT_OK, {{"A", none}}},
      {"unclosed quote runs to the end", "A=\"x\ny", VLT_OK, {{"A", "x\ny"}}},
      {"text after a closing quote is skipped", "A=\"v\" junk\nB=2", VLT_OK, {{"A", "v"}, {"B", "2"}}},
      {"closing quote at the end of the file", "A='v'", VLT_OK, {{"A", "v"}}},
      {"empty value and empty name", "A=\n=5\n", VLT_OK, {{"A", ""}, {"", "5"}}},
      {"spaces are kept", " A = b \n", VLT_OK, {{" A ", " b "}}},
      {"empty file", "", VLT_OK, {}},
      {"long name and value grow their buffers", std::string(130, 'n') + "=" + std::string(64, 'v'), VLT_OK,
       {{std::string(130, 'n'), std::string(64, 'v')}}},
  };
  monotest::TempDir dir;
  for (const auto& c : cases) {
    const std::string path = dir.file("env");
    monotest::write_file(path, c.bytes);
    CountingAllocator a;
    IPWState* s = nullptr;
    ASSERT_EQ(init_counting(&a, nullptr, &s), VLT_OK);
    EXPECT_EQ(w_IPWStateInitEnvVars(s, path.c_str()), c.status) << c.what;
    EXPECT_EQ(nodes_of(s), c.nodes) << c.what;
    ASSERT_EQ(w_IPWStateTerm(&s), VLT_OK);
    EXPECT_EQ(a.live_blocks(), 0u) << c.what;
  }
}

TEST(IPWStateEnv, LookupMissingFileAndFailedCreation) {
  monotest::TempDir dir;
  const std::string path = dir.file("env");
  monotest::write_file(path, "A=first\nB=b\nA=second\n");
  IPWState* s = nullptr;
  CountingAllocator a;
  ASSERT_EQ(init_counting(&a, path.c_str(), &s), VLT_OK);
  EXPECT_STREQ(w_getenv(s, "A"), "first");
  EXPECT_STREQ(w_getenv(s, "B"), "b");
  EXPECT_EQ(w_getenv(s, "C"), nullptr);
  EXPECT_EQ(w_getenv(s, "A\n"), nullptr);
  EXPECT_EQ(w_getenv(nullptr, "A"), nullptr);
  ASSERT_EQ(w_IPWStateTerm(&s), VLT_OK);

  std::vector<std::string> lines;
  EXPECT_EQ(init_counting(&a, dir.file("missing").c_str(), &s, &lines), VLT_ERR_IO_READ);
  EXPECT_EQ(s, nullptr);
  EXPECT_EQ(a.live_blocks(), 0u);
  ASSERT_EQ(lines.size(), 2u);  // where the open failed, and again by the creation
  EXPECT_NE(lines[0].find("Error: 2000\n"), std::string::npos);
}

TEST(IPWState, AccessorsCheckAndReport) {
  std::vector<std::string> lines;
  CountingAllocator a;
  IPWState* s = nullptr;
  ASSERT_EQ(init_counting(&a, nullptr, &s, &lines), VLT_OK);

  EXPECT_EQ(w_IPWStateSetAllocator(s, 3, nullptr, nullptr, nullptr, nullptr, nullptr), VLT_ERR_PARAM);
  EXPECT_EQ(lines.size(), 1u);
  EXPECT_EQ(w_IPWStateSetAllocator(s, 2, C::c_malloc, C::c_calloc, C::c_realloc, C::c_free, &a), VLT_OK);
  EXPECT_EQ(s->allocData[2], &a);

  const std::string name256(256, 'd');
  EXPECT_EQ(wp_IPWStateSetPrivateDirName(s, name256.c_str()), VLT_OK);
  EXPECT_EQ(wp_IPWStateSetPrivateDirName(s, std::string(257, 'e').c_str()), VLT_ERR_OVERFLOW);
  EXPECT_EQ(wp_IPWStateSetPrivateDirName(s, nullptr), VLT_ERR_NULL);
  const char* name = nullptr;
  EXPECT_EQ(wp_IPWStateGetPrivateDirName(s, &name), VLT_OK);
  EXPECT_EQ(name, name256);

  IPErrorProc proc = nullptr;
  void* data = nullptr;
  EXPECT_EQ(w_IPWStateGetErrorProc(s, &proc, &data), VLT_OK);
  EXPECT_EQ(proc, collect_line);
  EXPECT_EQ(data, &lines);
  EXPECT_EQ(w_IPWStateGetErrorProc(s, nullptr, &data), VLT_ERR_NULL);
  IPYieldProc yield = nullptr;
  void *y1 = nullptr, *y2 = nullptr;
  EXPECT_EQ(w_IPWStateSetYieldProc(s, nullptr, &a, &lines), VLT_OK);
  EXPECT_EQ(w_IPWStateGetYieldProc(s, &yield, &y1, &y2), VLT_OK);
  EXPECT_EQ(y1, &a);
  EXPECT_EQ(y2, &lines);
  EXPECT_EQ(wp_IPWStateSetUseHighResTime(s, 1), VLT_OK);
  uint32_t flag = 0;
  EXPECT_EQ(wp_IPWStateGetUseHighResTime(s, &flag), VLT_OK);
  EXPECT_EQ(flag, 1u);
  EXPECT_EQ(wp_IPWStateGetLongAccessFlag(s, nullptr), VLT_ERR_NULL);
  EXPECT_EQ(w_IPWStateGetStrelInfo(s, nullptr), VLT_ERR_NULL);
  const size_t reported = lines.size();
  EXPECT_EQ(reported, 6u);  // every refusal above was reported once

  // A null state answers 121 and prints nothing.
  EXPECT_EQ(w_IPWStateSetErrorProc(nullptr, nullptr, nullptr), VLT_ERR_NULL_IPWSTATE);
  EXPECT_EQ(wp_IPWStateSetPurifyIsRunning(nullptr, 1), VLT_ERR_NULL_IPWSTATE);
  EXPECT_EQ(w_IPWStateSetStrelInfo(nullptr, nullptr), VLT_ERR_NULL_IPWSTATE);
  EXPECT_EQ(lines.size(), reported);

  EXPECT_EQ(w_IPWStateSetErrorProc(s, nullptr, nullptr), VLT_OK);
  EXPECT_EQ(w_IPWStateSetAllocator(s, 9, nullptr, nullptr, nullptr, nullptr, nullptr), VLT_ERR_PARAM);
  EXPECT_EQ(lines.size(), reported);
  ASSERT_EQ(w_IPWStateTerm(&s), VLT_OK);
  EXPECT_EQ(a.live_blocks(), 0u);
}

TEST(IPWState, ReportLineFormatAndLongPathsNeverOverflow) {
  std::vector<std::string> lines;
  IPWState* s = nullptr;
  CountingAllocator a;
  ASSERT_EQ(init_counting(&a, nullptr, &s, &lines), VLT_OK);
  w_printErrorInfo(s, "src/ipw.cpp", 120, 118);
  const std::string long_path = std::string(600, 'p') + "/tail.cpp";
  w_printErrorInfo(s, long_path.c_str(), 2147483647L, -2147483647 - 1);
  w_printErrorInfo(s, nullptr, 1, 1);
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0], "--VERiza Error-- File:src/ipw.cpp Line:120 Error: 118\n");
  EXPECT_LT(lines[1].size(), 256u);
  const std::string tail = "/tail.cpp Line:2147483647 Error: -2147483648\n";
  ASSERT_GE(lines[1].size(), tail.size());
  EXPECT_EQ(lines[1].substr(lines[1].size() - tail.size()), tail);
  EXPECT_EQ(lines[1].rfind("--VERiza Error-- File:", 0), 0u);
  EXPECT_EQ(lines[2], "--VERiza Error-- File: Line:1 Error: 1\n");
  EXPECT_EQ(w_printErrorInfo(nullptr, "x", 1, 1), VLT_OK);
  ASSERT_EQ(w_IPWStateTerm(&s), VLT_OK);
}

}  // namespace
