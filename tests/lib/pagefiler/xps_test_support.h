#ifndef XPS_TEST_SUPPORT_H
#define XPS_TEST_SUPPORT_H

// A test over the XPS reader: a counting heap under everything (nothing left, nothing foreign),
// the engine's messages kept, a temporary folder for packages.

#include <gtest/gtest.h>

#include <string>

#include "counting_alloc.h"
#include "elf_memory.h"
#include "kvng_print.h"
#include "qellibxml.h"
#include "tools.h"
#include "xps_fixture.h"
#include "xps_package.h"

class XpsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const elf_heap_procs procs{monotest::CountingAllocator::c_malloc, monotest::CountingAllocator::c_calloc,
                               monotest::CountingAllocator::c_free, &heap};
    elfSetHeap(&procs);
    KVngSetPrinter(keep, &messages);
    uses_before = QELLibXmlUses();
  }
  void TearDown() override {
    KVngSetPrinter(nullptr, nullptr);
    elfSetHeap(nullptr);
    EXPECT_EQ(heap.live_blocks(), 0u) << "blocks left on the engine heap";
    EXPECT_EQ(heap.foreign(), 0u) << "blocks freed that the heap never handed out";
    EXPECT_EQ(QELLibXmlUses(), uses_before) << "XML library uses not given back";
  }
  static void keep(void* data, int, const char* text) { *static_cast<std::string*>(data) += text; }

  // Writes the parts as a package and returns its path.
  std::string package(const std::vector<xpstest::Part>& parts, const std::string& name = "test.xps") {
    const std::string path = dir.file(name);
    xpstest::write_zip(path, parts);
    return path;
  }
  std::string package(const xpstest::PackageSpec& spec) { return package(xpstest::package_parts(spec)); }

  monotest::CountingAllocator heap;
  std::string messages;
  monotest::TempDir dir;
  int uses_before = 0;
};

#endif
