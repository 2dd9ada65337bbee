// What the fuzz targets found, as plain cases. Their inputs are also kept
// in fuzz/regressions/<target>/, which the replay tests run.
#include <gtest/gtest.h>

#include <string>

#include "harness.h"
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

}  // namespace
