// Phase G: the printer's settings from the product's data files, byte for
// byte, and the silent end of setup when one of them can't be read.
#include <sys/stat.h>
#include <unistd.h>

#include "install/install_checks.h"

using namespace checks;

namespace {

// Phase G: a data file that can't be read, or whose buffer can't be had (2 GB
// or more: beyond any buffer of the 32-bit program), ends setup silently
// right there.
struct DataFile {
  const char* name;
  bool too_large;       // grown to 2 GB instead of removed
  const char* written;  // the values written before the end
};

class MissingDataFile : public ::testing::TestWithParam<DataFile> {};

TEST_P(MissingDataFile, EndsSetupWithoutCompletion) {
  TestMachine m("xp");
  m.StageProduct();
  const std::string file = std::string(kStaging) + GetParam().name;
  if (GetParam().too_large)
    ASSERT_EQ(truncate(m.Host(file).c_str(), 0x80000000LL), 0);  // sparse: no disk space taken
  else
    m.Remove(file);
  m.Write(kIni, "[Parameters]\r\nQuiet=7\r\n");
  RunResult run = m.Setup();
  EXPECT_EQ(run.status, kFailed);
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(run.out.substr(run.out.find("Closing")), "Closing printer\n\nConfiguring printer\n\n");
  EXPECT_EQ(Summary(m), (std::vector<std::string>{"Sleep 3000", "Sleep 1000"}));
  winsim::Hive hive = HiveOf(m);
  std::string written;
  for (const char* name : {"TTFontSubTableSize", "TTFontSubTable", "PrinterData"})
    if (Bytes(hive, kDataKey, name) != "<absent>") written += std::string(name) + " ";
  if (Bytes(hive, kPrinterKey, "Default DevMode") != "<absent>") written += "DevMode";
  EXPECT_EQ(written, GetParam().written);
  EXPECT_TRUE(hive.Find(kDataKey) != nullptr);
  EXPECT_TRUE(hive.Find(kEntryKey) == nullptr);
  EXPECT_EQ(Config(m, "Quiet"), "7") << "left for the next install that completes";
}

INSTANTIATE_TEST_SUITE_P(Files, MissingDataFile,
                         ::testing::Values(DataFile{"fontsub.tbl", false, ""},
                                           DataFile{"printerdata.dat", false, "TTFontSubTableSize TTFontSubTable "},
                                           DataFile{"dfdevmdnt.dat", false,
                                                    "TTFontSubTableSize TTFontSubTable PrinterData "},
                                           DataFile{"printerdata.dat", true, "TTFontSubTableSize TTFontSubTable "},
                                           DataFile{"dfdevmdnt.dat", true,
                                                    "TTFontSubTableSize TTFontSubTable PrinterData "}),
                         [](const auto& param) {
                           std::string name = param.param.name;
                           return name.substr(0, name.find('.')) + (param.param.too_large ? "_2GB" : "_missing");
                         });

// Each value holds its file whole, however short.
TEST(DataFiles, AnEmptyOrOneByteFileIsWrittenWhole) {
  TestMachine m("xp");
  m.StageProduct();
  m.Write(std::string(kStaging) + "fontsub.tbl", "");
  m.Write(std::string(kStaging) + "printerdata.dat", "P");
  m.Write(std::string(kStaging) + "dfdevmdnt.dat", std::string(1, '\0'));
  ASSERT_EQ(m.Setup().status, 0);
  winsim::Hive hive = HiveOf(m);
  EXPECT_EQ(Bytes(hive, kDataKey, "TTFontSubTableSize"), Dw(0));
  EXPECT_EQ(Bytes(hive, kDataKey, "TTFontSubTable"), "");
  EXPECT_EQ(Bytes(hive, kDataKey, "PrinterData"), "P");
  EXPECT_EQ(Bytes(hive, kPrinterKey, "Default DevMode"), std::string(1, '\0'));
}

// A file that delivers fewer bytes than its length (it shrank meanwhile) is
// one that can't be read: setup ends there, as without the file.
TEST(DataFiles, AShortReadEndsSetupLikeAMissingFile) {
  const char* pseudo = "/sys/devices/system/cpu/online";  // states a page, delivers a few bytes
  struct stat st;
  if (stat(pseudo, &st) != 0 || st.st_size <= 16) GTEST_SKIP() << "no pseudo-file with an overstated length";
  TestMachine m("xp");
  m.StageProduct();
  m.Remove(std::string(kStaging) + "printerdata.dat");
  ASSERT_EQ(symlink(pseudo, m.Host(std::string(kStaging) + "printerdata.dat").c_str()), 0);
  EXPECT_EQ(m.Setup().status, kFailed);
  EXPECT_EQ(Bytes(HiveOf(m), kDataKey, "PrinterData"), "<absent>");
  EXPECT_FALSE(HasKey(m, kEntryKey));
}

}  // namespace
