// capstamp on the configuration store stand-in: the row it installs holds exactly its values,
// any number of old rows leave exactly one, a removal alone still saves, and a store it cannot
// attach to is never saved over.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tools.h"

namespace {

using monotest::read_file;
using monotest::shell_quote;
using monotest::write_file;

constexpr char schema[] =
    "cfgkeep 1\n"
    "xid 1 OID_OC_VKD_HR_DEV_DETAIL\n"
    "xid 2 OID_ATT_VKD_HR_DEV_DETAIL_IDENTIFIER\n"
    "xid 3 OID_OC_HR_DEVICE\n"
    "xid 4 OID_ATT_HR_DEVICE_IDENTIFIER\n"
    "xid 10 OID_ATT_VKD_HR_DEV_DETAIL_TYPE\n"
    "xid 11 OID_ATT_VKD_HR_DEV_DETAIL_INDEX\n"
    "xid 12 OID_ATT_VKD_HR_DEV_DETAIL_ROW_STATUS\n"
    "xid 13 OID_ATT_VKD_HR_DEV_DETAIL_UNIT_CLASS\n"
    "xid 14 OID_ATT_VKD_HR_DEV_DETAIL_UNIT\n"
    "xid 15 OID_ATT_VKD_HR_DEV_DETAIL_VALUE_INTEGER\n"
    "xid 16 OID_ATT_VKD_HR_DEV_DETAIL_HR_DEVICE\n"
    "xid 17 OID_ATT_VKD_HR_DEV_DETAIL_VALUE_STRING\n"
    "xid 18 OID_ATT_VKD_HR_DEV_DETAIL_VALUE_OID\n";

// "jbig-lossy-compression" with its NUL, as the row's identifier holds it.
constexpr char lossy[] = "6a6269672d6c6f7373792d636f6d7072657373696f6e00";

// The devices: the printer is the one whose identifier is "1".
constexpr char devices[] =
    "object 3 3 2\navp 4 3200\nend\n"
    "object 7 3 2\navp 4 3100\nend\n";
// Another row of the same class, which stays.
constexpr char lossless[] = "object 12 1 2\navp 2 6a6269672d6c6f73736c65737300\navp 15 00000001\nend\n";

std::string old_row(int handle, const char* type) {
  return "object " + std::to_string(handle) + " 1 2\navp 2 " + lossy + "\navp 10 " + type + "\nend\n";
}

// The row as installed: every value 32 bits, most significant byte first, and the two texts
// with their NUL.
std::string new_row(int handle, const char* device) {
  return "object " + std::to_string(handle) + " 1 2\navp 2 " + lossy +
         "\navp 10 000000b4\navp 11 00000026\navp 12 00000001\navp 13 00000003\navp 14 00000008\n"
         "avp 15 00000001\navp 16 " + device + "\navp 17 00\navp 18 302e302e3000\nend\n";
}

class CapstampTest : public ::testing::Test {
 protected:
  struct Run {
    int exit_code;
    std::string errors;
  };

  // Runs capstamp in the temporary folder with the environment given ("NAME=value ...").
  Run capstamp(const std::string& args, const std::string& environment) {
    const std::string errors = dir.file("errors.txt");
    const monotest::ToolResult r =
        monotest::run_tool("cd " + shell_quote(dir.path()) + " && env -u CFGKEEP -u DS_CURRENT_CONFIG " + environment +
                           " timeout 20 " + shell_quote(CAPSTAMP_BIN) + " " + args + " 2> " + shell_quote(errors));
    return {r.exit_code, read_file(errors)};
  }

  std::string store() const { return dir.file("store.cfg"); }

  monotest::TempDir dir;
};

TEST_F(CapstampTest, InstallsOneRowWithItsValuesOrOnlyRemoves) {
  // Three old rows among the others, and a comment that only a save drops.
  const std::string before = std::string(schema) + "# as the device left it\n" + devices + old_row(9, "00000001") +
                             old_row(11, "000000b4") + lossless + old_row(20, "00000002");
  const std::string kept = std::string(schema) + devices + lossless;
  struct Case {
    const char* args;
    bool installs;
  };
  for (const Case& c : {Case{"I", true}, Case{"Install", true}, Case{"I-anything", true}, Case{"i", false},
                        Case{"install", false}, Case{"x", false}, Case{"", false}, Case{"''", false},
                        Case{"I x", false}, Case{"I I", false}}) {
    SCOPED_TRACE(c.args);
    write_file(store(), before);
    const Run run = capstamp(c.args, "CFGKEEP=" + shell_quote(store()));
    EXPECT_EQ(run.exit_code, 0);
    EXPECT_EQ(run.errors, "");
    EXPECT_EQ(read_file(store()), c.installs ? kept + new_row(13, "00000007") : kept);
  }
  // Installing again replaces the row by one alike.
  write_file(store(), std::string(schema) + devices + new_row(8, "00000007"));
  EXPECT_EQ(capstamp("I", "CFGKEEP=" + shell_quote(store())).exit_code, 0);
  EXPECT_EQ(read_file(store()), std::string(schema) + devices + new_row(8, "00000007"));
}

TEST_F(CapstampTest, WhatTheStoreLacksLeavesItsMarkAndIsTold) {
  struct Case {
    const char* what;
    std::string store;
    std::string environment;
    std::string saved;  // the store file afterwards
    std::string says;   // on the standard error stream; "" for nothing
  };
  const std::string elsewhere = dir.file("elsewhere.cfg");
  std::string no_oid = std::string(schema);
  no_oid.erase(no_oid.find("xid 18"));
  std::string partial_row = new_row(1, "00000000");
  partial_row.erase(partial_row.find("avp 18"), std::string("avp 18 302e302e3000\n").size());
  const Case cases[] = {
      {"no printer: the device handle is 0", std::string(schema), "", std::string(schema) + new_row(1, "00000000"), ""},
      {"an attribute missing from the schema", no_oid, "", no_oid + partial_row,
       "capstamp: cannot append OID_ATT_VKD_HR_DEV_DETAIL_VALUE_OID: attribute 0 is not in the schema\n"},
      {"a row of another class that the store will not delete",
       std::string(schema) + "object 5 3 2\navp 2 " + lossy + "\nend\n", "",
       std::string(schema) + "object 5 3 2\navp 2 " + lossy + "\nend\n" + new_row(6, "00000000"),
       "capstamp: cannot remove object 5 named jbig-lossy-compression: no object 5 of class 1\n"},
      {"a configuration saved elsewhere", std::string(schema), "DS_CURRENT_CONFIG=" + shell_quote(elsewhere),
       std::string(schema), ""},
      {"a configuration that cannot be saved", std::string(schema),
       "DS_CURRENT_CONFIG=" + shell_quote(dir.file("missing/store.cfg")), std::string(schema),
       "capstamp: cannot save the configuration to " + dir.file("missing/store.cfg") + ": " +
           dir.file("missing/store.cfg") + ": No such file or directory\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    write_file(store(), c.store);
    const Run run = capstamp("I", "CFGKEEP=" + shell_quote(store()) + " " + c.environment);
    EXPECT_EQ(run.exit_code, 0);
    EXPECT_EQ(run.errors, c.says);
    EXPECT_EQ(read_file(store()), c.saved);
  }
  EXPECT_EQ(read_file(elsewhere), std::string(schema) + new_row(1, "00000000"));
}

// The store is saved whole or not at all: through a link the file it leads to is replaced and the
// link kept; a save the disk refuses (here: writes past a file size limit of 0 fail as on a full
// disk) leaves the store as it was, and no temporary file is left beside either.
TEST_F(CapstampTest, TheStoreIsSavedWholeOrNotAtAll) {
  const std::string before = std::string(schema) + devices;
  const std::string saved = before + new_row(8, "00000007");
  struct Case {
    const char* what;
    const char* shell;  // before capstamp
    bool saves;
    const char* says;
  } cases[] = {
      {"through a link", "", true, ""},
      {"on a full disk", "trap '' XFSZ; ulimit -f 0; ", false, "File too large"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::filesystem::remove_all(dir.file("real"));
    std::filesystem::remove(store());
    std::filesystem::create_directory(dir.file("real"));
    write_file(dir.file("real/store.cfg"), before);
    std::filesystem::create_symlink("real/store.cfg", store());
    const monotest::ToolResult r = monotest::run_tool("cd " + shell_quote(dir.path()) + " && " + c.shell +
                                                      "env -u DS_CURRENT_CONFIG CFGKEEP=store.cfg " +
                                                      shell_quote(CAPSTAMP_BIN) + " I 2>&1");
    EXPECT_EQ(r.exit_code, 0) << r.output;
    EXPECT_NE(r.output.find(c.says), std::string::npos) << r.output;
    EXPECT_TRUE(std::filesystem::is_symlink(store()));
    EXPECT_EQ(read_file(dir.file("real/store.cfg")), c.saves ? saved : before);
    for (const std::string& folder : {dir.path(), dir.file("real")}) {
      for (const auto& e : std::filesystem::directory_iterator(folder)) {
        EXPECT_EQ(e.path().filename().string().find(".tmp"), std::string::npos) << e.path();
      }
    }
  }
}

TEST_F(CapstampTest, AStoreItCannotAttachToIsNeverSavedOver) {
  const std::string broken = std::string(schema) + devices + "object 9 1 2\navp 2 " + lossy + "\n";
  const std::string current = dir.file("current.cfg");
  struct Case {
    const char* what;
    std::string environment;
    std::string says;
  };
  const Case cases[] = {
      {"a store that cannot be read whole", "CFGKEEP=" + shell_quote(store()),
       "capstamp: cannot attach to the configuration store " + store() + " (" + store() +
           ":22: the last object has no end); nothing is saved\n"},
      {"a store that is not there", "CFGKEEP=" + shell_quote(dir.file("absent.cfg")),
       "capstamp: cannot attach to the configuration store " + dir.file("absent.cfg") + " (" +
           dir.file("absent.cfg") + ": No such file or directory); nothing is saved\n"},
      {"no store named", "",
       "capstamp: cannot attach to the configuration store named by CFGKEEP (no store named); nothing is saved\n"},
  };
  for (const Case& c : cases) {
    for (const char* args : {"I", ""}) {
      SCOPED_TRACE(std::string(c.what) + ", arguments \"" + args + "\"");
      write_file(store(), broken);
      write_file(current, "the current configuration\n");
      const Run run = capstamp(args, c.environment + " DS_CURRENT_CONFIG=" + shell_quote(current));
      EXPECT_EQ(run.exit_code, 0);
      EXPECT_EQ(run.errors, c.says);
      EXPECT_EQ(read_file(store()), broken);
      EXPECT_EQ(read_file(current), "the current configuration\n");
      EXPECT_FALSE(std::filesystem::exists(dir.file("absent.cfg")));
    }
  }
}

}  // namespace
