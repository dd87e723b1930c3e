// Binding plug-in functions by name, and calling a plug-in method as the interpreter does.

#include <cstdlib>
#include <cstring>
#include <string>

#include "interp_fixture.h"
#include "kvng.h"

namespace {

using monotest::InterpTest;

class PluginTest : public InterpTest {
 protected:
  void SetUp() override {
    InterpTest::SetUp();
    setenv(ELF_PLUGIN_PATH_ENV, ("/nonexistent-plugins:" + std::string(MONOTEST_PLUGIN_DIR)).c_str(), 1);
  }
  void TearDown() override {
    elfUnloadSharedLibraries();
    unsetenv(ELF_PLUGIN_PATH_ENV);
    InterpTest::TearDown();
  }

  elf_method_proc bind(const char* method) {
    void* address = nullptr;
    EXPECT_EQ(KVngRetrieveFunc(method, "monotestplug", &address), 1) << KVngRetrieveError();
    return reinterpret_cast<elf_method_proc>(address);
  }

  // An image of two raw layers, 10 x 2, rows of 2 bytes: 0x0F 0xC0 and 0x00 0x00.
  elf_object* two_layer_image() {
    elf_object* image = new_QELIMAGE(state, nullptr, nullptr);
    for (int i = 0; i < 2; ++i) {
      auto* rows = static_cast<uint8_t*>(elfCalloc(1, 4));
      rows[0] = 0x0F;
      rows[1] = 0xC0;
      EXPECT_EQ(QELAppendLayer(image, i ? "layer1" : "layer0", QELNewBilevelLayer(state, 10, 2, 2, rows, 4, 300, 300)),
                QEL_STATUS_OK);
    }
    return image;
  }
};

TEST_F(PluginTest, NamesMapToLibrariesOnThePluginPath) {
  void* by_name = nullptr;
  void* by_path = nullptr;
  ASSERT_EQ(KVngRetrieveFunc("invertLayers", "monotestplug", &by_name), 1) << KVngRetrieveError();
  EXPECT_STREQ(KVngRetrieveError(), "");
  const std::string path = std::string(MONOTEST_PLUGIN_DIR) + "/libmonotestplug.so";
  ASSERT_EQ(KVngRetrieveFunc("invertLayers", path.c_str(), &by_path), 1) << KVngRetrieveError();
  EXPECT_EQ(by_name, by_path);
  void* via_state = ELFFindSharedProc(state, "libmonotestplug.so", "failWith");
  EXPECT_NE(via_state, nullptr) << messages;
}

TEST_F(PluginTest, MissingLibrariesAndSymbolsAreRefusedWithTheReason) {
  struct Case {
    const char* function;
    const char* library;
    const char* reason;
  };
  const Case cases[] = {
      {"tokSetDefaults", "monocodec-absent", "libmonocodec-absent.so"},
      {"noSuchMethod", "monotestplug", "symbol noSuchMethod not found in plug-in library monotestplug"},
      {"brokenMethod", "monobrokenplug", "monotest_function_defined_nowhere"},
      {"invertLayers", "/nonexistent-plugins/libmonotestplug.so", "cannot load /nonexistent-plugins/libmonotestplug.so"},
      {"", "monotestplug", "no symbol"},
      {"invertLayers", "", "no library"},
  };
  for (const Case& c : cases) {
    void* place = &messages;
    EXPECT_EQ(KVngRetrieveFunc(c.function, c.library, &place), 0) << c.library;
    EXPECT_EQ(place, &messages) << c.library;
    EXPECT_NE(std::string(KVngRetrieveError()).find(c.reason), std::string::npos) << KVngRetrieveError();
  }
  EXPECT_EQ(ELFFindSharedProc(state, "monotestplug", "noSuchMethod"), nullptr);
  EXPECT_NE(messages.find("ELFFindSharedProc: symbol noSuchMethod not found"), std::string::npos) << messages;
}

TEST_F(PluginTest, WithoutThePluginPathOnlyTheLoaderSearches) {
  unsetenv(ELF_PLUGIN_PATH_ENV);
  void* place = nullptr;
  EXPECT_EQ(KVngRetrieveFunc("invertLayers", "monotestplug", &place), 0);
  EXPECT_NE(std::string(KVngRetrieveError()).find(ELF_PLUGIN_PATH_ENV), std::string::npos) << KVngRetrieveError();
}

TEST_F(PluginTest, AMethodChangesLayersInPlaceAndReturnsTheImage) {
  elf_method_proc invert = bind("invertLayers");
  ASSERT_NE(invert, nullptr);
  elf_object* image = two_layer_image();
  elfRefUp(image);
  elf_object* args = lstBuildArgs(state, "times:i", 3, 0, LST_END);
  elfRefUp(args);
  elf_object* result = nullptr;
  ASSERT_EQ(invert(image, args, &result), QEL_STATUS_OK) << getStatusMessage(state);
  elfRefUp(result);
  elf_object* img = nullptr;
  int32_t inverted = 0;
  ASSERT_EQ(lstScanArgs(result, "img:QELIMAGE", LST_REQUIRED, &img, "inverted:i", LST_REQUIRED, &inverted, LST_END), 1);
  EXPECT_EQ(img, image);
  EXPECT_EQ(inverted, 2);
  for (int i = 0; i < 2; ++i) {
    const auto* rows = static_cast<const uint8_t*>(reinterpret_cast<elf_POINTER*>(qelLayer(QELGetLayer(image, i))->data)->data);
    EXPECT_EQ(rows[0], 0xF0);
    EXPECT_EQ(rows[1], 0x00);  // pixels 8, 9 flip; the padding stays clear
    EXPECT_EQ(rows[2], 0xFF);
    EXPECT_EQ(rows[3], 0xC0);
  }
  elfRefDown(result);
  elfRefDown(args);
  elfRefDown(image);
}

TEST_F(PluginTest, AMethodReportsThroughTheStatusOfItsArguments) {
  elf_method_proc invert = bind("invertLayers");
  elf_method_proc fail = bind("failWith");
  ASSERT_TRUE(invert && fail);

  // No raw layer: a warning, and still the image as result.
  elf_object* image = new_QELIMAGE(state, nullptr, nullptr);
  elfRefUp(image);
  elf_object* result = nullptr;
  EXPECT_EQ(invert(image, nullptr, &result), QEL_STATUS_INVALID);
  EXPECT_EQ(getStatusSeverity(state), QEL_SEVERITY_WARNING);
  EXPECT_STREQ(getStatusMessage(state), "invertLayers: No valid layers to invert\n");
  ASSERT_NE(result, nullptr);
  elfDiscard(result);

  elf_object* args = lstBuildArgs(state, "code:i", 20, 0, "message:s", "Unable to open file", 0, LST_END);
  EXPECT_EQ(fail(image, args, nullptr), 20);
  EXPECT_STREQ(getStatusMessage(state), "failWith: Unable to open file\n");
  EXPECT_EQ(getStatusSeverity(state), QEL_SEVERITY_ERROR);
  elfDiscard(args);
  args = lstBuildArgs(state, "code:i", 20, 0, LST_END);
  EXPECT_EQ(fail(image, args, nullptr), QEL_STATUS_FAILED);  // "message:s" is required
  EXPECT_STREQ(getStatusMessage(state), "failWith: lstScanArgs error\n");
  EXPECT_NE(messages.find("message is required"), std::string::npos);
  elfDiscard(args);
  elfRefDown(image);
}

}  // namespace
