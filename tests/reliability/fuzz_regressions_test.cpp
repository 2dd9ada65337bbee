// What the fuzz targets found, as plain cases. Their inputs are also kept
// in fuzz/regressions/<target>/, which the replay tests run.
#include <gtest/gtest.h>

#include <string>

#include "harness.h"
#include "platform/sim/registry/hive.h"
#include "platform/sim/machine.h"
#include "platform/win32.h"

namespace {

std::string Get(const char* section, const char* key, const char* file) {
  char buffer[80] = {};
  GetPrivateProfileStringA(section, key, "default", buffer, sizeof buffer, file);
  return buffer;
}

// A profile whose last line ended in a lone CR: the section written behind
// it ran into that line, and the key written was never read back.
TEST(FuzzRegressions, ProfileKeyWrittenBehindALastLineEndingInCarriageReturnReadsBack) {
  std::string root = rel::FreshMachine("xp");
  winsim::Machine::Open(root);
  const char kFile[] = "c:\\zentaq\\res\\zentaq.ini";
  for (const std::string& text : {std::string("[Paraem\r\r"), std::string("[Other]\r\nA=1\r")}) {
    rel::WriteFile(root + "/drive_c/zentaq/res/zentaq.ini", text);
    ASSERT_TRUE(WritePrivateProfileStringA("Parameters", "Quiet", "v4lue", kFile));
    EXPECT_EQ(Get("Parameters", "Quiet", kFile), "v4lue");
    EXPECT_EQ(rel::ReadFile(root + "/drive_c/zentaq/res/zentaq.ini"), text + "\n[Parameters]\r\nQuiet=v4lue\r\n");
  }
  EXPECT_EQ(Get("Other", "A", kFile), "1");
  rel::RemoveTree(root);
}

// Values removed by their own names, as the profile routines remove a
// mapped section's values: the change log wrote down the name of the value
// that had moved into the removed one's place (or read a freed name).
TEST(FuzzRegressions, ChangeLogOfValuesRemovedByTheirOwnNames) {
  const char kBase[] =
      "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\A]\n\"first value with a long name\"=\"1\"\n"
      "\"second value with a long name\"=\"2\"\n\"third\"=\"3\"\n";
  winsim::Hive hive = winsim::Hive::Parse(kBase, "system.reg");
  winsim::RegKey* key = hive.Find("A");
  std::string record;
  {
    winsim::ChangeRecording recording(hive);
    key->RemoveValue(key->values.front().name);
    while (!key->values.empty()) key->RemoveValue(key->values.back().name);
    record = recording.text();
  }
  EXPECT_TRUE(key->values.empty());
  winsim::Hive replayed = winsim::Hive::Parse(kBase, "system.reg");
  winsim::ApplyChanges(&replayed, record + ";end\n", "system.reg.log", 1);
  EXPECT_EQ(replayed.Serialize(), hive.Serialize()) << record;
}

}  // namespace
