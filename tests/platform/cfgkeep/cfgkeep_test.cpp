// The configuration store stand-in: its text form read and saved, malformed spaces refused with
// the line and the reason, objects found, created, deleted and given rows, and where the
// configuration is saved.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "cfgkeep.h"
#include "machctl.h"
#include "objax.h"
#include "tools.h"

namespace {

using monotest::read_file;
using monotest::write_file;

constexpr char schema[] =
    "cfgkeep 1\n"
    "xid 1 CLASS_A\n"
    "xid 2 CLASS_B\n"
    "xid 7 NAME\n"
    "xid 9 VALUE\n";

class StoreTest : public ::testing::Test {
 protected:
  void SetUp() override { unsetenv("DS_CURRENT_CONFIG"); }
  void TearDown() override {
    ds_detach();
    unsetenv("DS_CURRENT_CONFIG");
  }

  // Attaches to a store holding text.
  int attach(const std::string& text, const std::string& name = "store.cfg") {
    write_file(dir.file(name), text);
    return ds_attach(dir.file(name).c_str(), 0);
  }

  std::string saved() {
    EXPECT_EQ(oa_save_obj_space(dir.file("saved.cfg").c_str()), 0) << ds_last_error();
    return read_file(dir.file("saved.cfg"));
  }

  monotest::TempDir dir;
};

TEST_F(StoreTest, TheTextFormIsReadAndSavedInOrder) {
  const std::string text = std::string(schema) +
                           "\n# objects in any order, hexadecimal in either case\n"
                           "object 12 2 0\n  avp 7 4E616d6500\n  avp 9 -\nend\n"
                           "object 3 1 2\n\tavp 9 00ff\t\nend\n"
                           "xid 4 LATE\n";
  ASSERT_EQ(attach(text), 0) << ds_last_error();
  const std::string canonical =
      "cfgkeep 1\nxid 1 CLASS_A\nxid 2 CLASS_B\nxid 4 LATE\nxid 7 NAME\nxid 9 VALUE\n"
      "object 3 1 2\navp 9 00ff\nend\n"
      "object 12 2 0\navp 7 4e616d6500\navp 9 -\nend\n";
  EXPECT_EQ(saved(), canonical);
  ASSERT_EQ(ds_attach(dir.file("saved.cfg").c_str(), 0), 0);
  EXPECT_EQ(saved(), canonical) << "read back as written";
  EXPECT_EQ(oa_xid_of("LATE"), 4);
  EXPECT_EQ(oa_xid_of("ABSENT"), 0);
  EXPECT_EQ(oa_xid_of(nullptr), 0);
}

TEST_F(StoreTest, MalformedSpacesAreRefusedWithTheirLine) {
  struct Case {
    std::string text;
    std::string error;  // after "<file>:"
  };
  const Case cases[] = {
      {"", "1: not a cfgkeep object space (\"cfgkeep 1\" first)"},
      {"cfgkeep 2\n", "1: not a cfgkeep object space (\"cfgkeep 1\" first)"},
      {std::string(schema) + "xid 0 ZERO\n", "6: xid takes a number from 1 to 65535 and a name"},
      {std::string(schema) + "xid 65536 BIG\n", "6: xid takes a number from 1 to 65535 and a name"},
      {std::string(schema) + "xid 3 NAME\n", "6: xid 3 NAME given twice"},
      {std::string(schema) + "object 1 5 0\nend\n", "6: class 5 is not in the schema"},
      {std::string(schema) + "object 0 1 0\nend\n", "6: object takes a handle, a class identifier and flags"},
      {std::string(schema) + "object 1 1 -2\nend\n", "6: object takes a handle, a class identifier and flags"},
      {std::string(schema) + "object 1 1 0\nend\nobject 1 2 0\nend\n", "8: object 1 given twice"},
      {std::string(schema) + "object 1 1 0\nobject 2 1 0\n", "7: object inside an object"},
      {std::string(schema) + "object 1 1 0\navp 8 00\nend\n", "7: attribute 8 is not in the schema"},
      {std::string(schema) + "object 1 1 0\navp 9 0\nend\n", "7: avp takes an attribute identifier and up to 65535 "
                                                            "bytes in hexadecimal (or -)"},
      {std::string(schema) + "object 1 1 0\navp 9 zz\nend\n", "7: avp takes an attribute identifier and up to 65535 "
                                                             "bytes in hexadecimal (or -)"},
      {std::string(schema) + "avp 9 00\n", "6: avp outside an object"},
      {std::string(schema) + "end\n", "6: end outside an object"},
      {std::string(schema) + "object 1 1 0\navp 9 00\n", "7: the last object has no end"},
      {std::string(schema) + "row 1\n", "6: unknown line \"row\""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(attach(c.text), -1) << c.text;
    EXPECT_EQ(ds_last_error(), dir.file("store.cfg") + ":" + c.error) << c.text;
    EXPECT_EQ(oa_xid_of("CLASS_A"), 0) << "nothing of a refused store is kept";
  }
  EXPECT_EQ(ds_attach(dir.file("absent.cfg").c_str(), 0), -1);
  EXPECT_EQ(ds_last_error(), dir.file("absent.cfg") + ": No such file or directory");
  EXPECT_EQ(ds_attach(dir.path().c_str(), 0), -1);
  EXPECT_EQ(ds_attach(nullptr, 0), -1);
  // The process holds an empty space, which saves as such.
  EXPECT_EQ(saved(), "cfgkeep 1\n");
}

TEST_F(StoreTest, ObjectsAreFoundCreatedDeletedAndGivenRows) {
  ASSERT_EQ(attach(std::string(schema) + "object 4 2 0\navp 7 6f6e6500\nend\nobject 2 1 0\navp 9 6f6e6500\nend\n"), 0);
  const xid_t a = oa_xid_of("CLASS_A"), b = oa_xid_of("CLASS_B"), name = oa_xid_of("NAME"), value = oa_xid_of("VALUE");
  EXPECT_EQ(oa_find_object_from_name(name, "one", 4), 4u);
  EXPECT_EQ(oa_find_object_from_name(value, "one", 4), 2u) << "by the attribute asked for";
  EXPECT_EQ(oa_find_object_from_name(name, "one", 3), 0u) << "the bytes whole, NUL included";
  EXPECT_EQ(oa_find_object_from_name(name, nullptr, 0), 0u);

  const Ds_handle made = oa_create_object(a, name, "one", 2);
  EXPECT_EQ(made, 5u) << "one above the highest handle";
  EXPECT_EQ(oa_find_object_from_name(name, "one", 4), 4u) << "the first by handle";
  EXPECT_EQ(oa_create_object(a, 3, "x", 0), 0u);
  EXPECT_EQ(oa_create_object(99, name, "x", 0), 0u);
  EXPECT_EQ(oa_create_object(a, name, nullptr, 0), 0u);
  EXPECT_NE(std::string(ds_last_error()), "");

  EXPECT_EQ(ds_append_avp2(made, 1, value, 0, "\x00\x01", 2), 0);
  EXPECT_STREQ(ds_last_error(), "");
  EXPECT_EQ(ds_append_avp2(made, 1, value, 0, nullptr, 0), 0) << "an empty value";
  EXPECT_EQ(ds_append_avp2(77, 1, value, 0, "x", 1), -1);
  EXPECT_EQ(ds_append_avp2(made, 1, 3, 0, "x", 1), -1);
  EXPECT_EQ(ds_append_avp2(made, 2, value, 0, "x", 1), -1);
  EXPECT_EQ(ds_append_avp2(made, 1, value, 1, "x", 1), -1);
  EXPECT_EQ(ds_append_avp2(made, 1, value, 0, nullptr, 1), -1);

  EXPECT_EQ(oa_delete_object(a, 4), -1) << "object 4 is of another class";
  EXPECT_EQ(oa_delete_object(b, 4), 0);
  EXPECT_EQ(oa_delete_object(b, 4), -1);
  EXPECT_EQ(oa_find_object_from_name(name, "one", 4), made);
  EXPECT_EQ(saved(), std::string(schema) +
                         "object 2 1 0\navp 9 6f6e6500\nend\n"
                         "object 5 1 2\navp 7 6f6e6500\navp 9 0001\navp 9 -\nend\n");
}

TEST_F(StoreTest, TheConfigurationIsSavedWhereTheEnvironmentOrTheStoreSays) {
  ASSERT_EQ(attach(schema), 0);
  EXPECT_EQ(oa_access_config_filename("DS_CURRENT_CONFIG"), dir.file("store.cfg"));
  EXPECT_EQ(oa_access_config_filename("DS_FACTORY_CONFIG"), nullptr);
  setenv("DS_CURRENT_CONFIG", dir.file("elsewhere.cfg").c_str(), 1);
  setenv("DS_FACTORY_CONFIG", dir.file("factory.cfg").c_str(), 1);
  EXPECT_EQ(oa_access_config_filename("DS_CURRENT_CONFIG"), dir.file("elsewhere.cfg"));
  EXPECT_EQ(oa_access_config_filename("DS_FACTORY_CONFIG"), dir.file("factory.cfg"));
  EXPECT_STREQ(sc_get_env_var("DS_FACTORY_CONFIG"), dir.file("factory.cfg").c_str());
  unsetenv("DS_FACTORY_CONFIG");
  EXPECT_EQ(sc_get_env_var("DS_FACTORY_CONFIG"), nullptr);

  // A save replaces the file whole, keeping its permissions, or leaves it as it was.
  chmod(dir.file("store.cfg").c_str(), 0640);
  EXPECT_EQ(oa_save_obj_space(dir.file("store.cfg").c_str()), 0);
  struct stat st;
  ASSERT_EQ(stat(dir.file("store.cfg").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);
  EXPECT_EQ(read_file(dir.file("store.cfg")), schema);
  EXPECT_EQ(oa_save_obj_space(dir.file("missing/store.cfg").c_str()), -1);
  EXPECT_NE(std::string(ds_last_error()).find("No such file or directory"), std::string::npos) << ds_last_error();
  EXPECT_EQ(oa_save_obj_space(nullptr), -1);
  size_t files = 0;
  for (const auto& e : std::filesystem::directory_iterator(dir.path())) files += e.is_regular_file();
  EXPECT_EQ(files, 1u) << "no temporary file is left";

  ds_detach();
  unsetenv("DS_CURRENT_CONFIG");
  EXPECT_EQ(oa_access_config_filename("DS_CURRENT_CONFIG"), nullptr);
}

}  // namespace
