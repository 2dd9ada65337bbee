// Long and odd inputs: a deep module folder, one with blanks, one with bytes
// of the upper half; product files of 0 bytes; a hive of 100 000 keys.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "harness.h"
#include "platform/sim/registry/hive.h"

namespace {

const char kPortKey[] = "SYSTEM\\CurrentControlSet\\Control\\Print\\Monitors\\ZENTAQ Monitor\\Ports\\ZENTAQPORT";
const char kDataKey[] = "SYSTEM\\CurrentControlSet\\Control\\Print\\Printers\\ZENTAQ\\PrinterDriverData";
const char kPrinterKey[] = "SYSTEM\\CurrentControlSet\\Control\\Print\\Printers\\ZENTAQ";
const char kArgumentsTail[] = "\\res\\pdfwrite.rsp -sOutputFile=\"%1\" -c save pop -f -";

std::string HostOf(const std::string& root, const std::string& windows_folder) {
  std::string host = root + "/drive_c";
  for (char c : windows_folder.substr(2)) host += c == '\\' ? '/' : c;
  return host;
}

// A machine whose setup program lies in `folder` (a Windows path on c:),
// with the product staged there too.
std::string MachineRunningFrom(const std::string& os, const std::string& folder) {
  std::string root = rel::FreshMachine(os, "module = " + folder + "\\setup.exe\n");
  std::string host = HostOf(root, folder);
  std::string command = "mkdir -p '" + host + "' && cp -R '" + root + "/drive_c/zentaq/.' '" + host + "/'";
  EXPECT_EQ(system(command.c_str()), 0) << command;
  return root;
}

std::string Text(const winsim::RegValue* value) {
  if (!value) return "(missing)";
  std::string text(value->data.begin(), value->data.end());
  return text.substr(0, text.find('\0'));
}

winsim::Hive HiveOf(const std::string& root) {
  return winsim::Hive::Parse(rel::ReadFile(root + "/system.reg"), "system.reg");
}

void ExpectPortRecordFor(const std::string& root, const std::string& folder) {
  winsim::Hive hive = HiveOf(root);
  const winsim::RegKey* port = hive.Find(kPortKey);
  ASSERT_NE(port, nullptr);
  EXPECT_EQ(Text(port->Value("Command")), folder + "\\res\\convert\\gswin32c.exe");
  EXPECT_EQ(Text(port->Value("Arguments")), "@" + folder + kArgumentsTail);
  EXPECT_EQ(port->Value("Command")->data.size(), folder.size() + 26);
  EXPECT_EQ(port->Value("Arguments")->data.size(), folder.size() + 54);
}

void ExpectWholeLog(const std::string& root) {
  std::string bad;
  for (const std::string& text : rel::LogTexts(rel::ReadFile(rel::LogPath(root)), &bad))
    EXPECT_TRUE(rel::IsKnownLogText(text)) << text;
  EXPECT_EQ(bad, "");
}

TEST(OddInputs, ModuleFolderOf300CharactersAndOneWithBlanks) {
  std::string deep = "c:";
  while (deep.size() < 300) deep += "\\" + std::string(std::min<size_t>(40, 300 - deep.size() - 1), 'd');
  ASSERT_EQ(deep.size(), 300u);
  for (const std::string& folder : {deep, std::string("c:\\Program Files\\zentaq  setup")}) {
    SCOPED_TRACE(folder);
    std::string root = MachineRunningFrom("xp", folder);
    rel::Outcome install = rel::RunSetup(root);
    EXPECT_EQ(install.status, 0) << install.err;
    EXPECT_FALSE(rel::HasSanitizerReport(install.err)) << install.err;
    ExpectPortRecordFor(root, folder);
    ExpectWholeLog(root);
    EXPECT_TRUE(rel::FileExists(root + "/drive_c/WINDOWS/system32/ztqmon.dll"));

    // The quoted program name doesn't reach the argument text: it is the
    // uninstall command.
    rel::WriteFile(root + "/answers", "yes\n");
    rel::Outcome uninstall = rel::RunSetup(root, {"uninstall"});
    EXPECT_EQ(uninstall.status, 0) << uninstall.err;
    EXPECT_EQ(HiveOf(root).Find(kPortKey), nullptr);
    rel::RemoveTree(root);
  }
}

// A module name longer than setup's 512-byte buffer arrives cut to the
// buffer and, as XP and earlier give it, unterminated: setup reads no byte
// past the buffer, and its module folder is the folder of the part it got.
TEST(OddInputs, ModuleNameThatFillsItsBuffer) {
  std::string deep = "c:";
  while (deep.size() < 560) deep += "\\" + std::string(39, 'd');
  std::string root = MachineRunningFrom("xp", deep);
  rel::Outcome install = rel::RunSetup(root);
  EXPECT_FALSE(rel::HasSanitizerReport(install.err)) << install.err;
  std::string cut = deep.substr(0, deep.rfind('\\', 511));
  ASSERT_LT(cut.size(), 512u);
  winsim::Hive hive = HiveOf(root);
  const winsim::RegKey* port = hive.Find(kPortKey);
  ASSERT_NE(port, nullptr);
  EXPECT_EQ(Text(port->Value("Command")), cut + "\\res\\convert\\gswin32c.exe");
  ExpectWholeLog(root);
  rel::RemoveTree(root);
}

TEST(OddInputs, BytesOfTheUpperHalfInPathsReachLogAndRegistryUnchanged) {
  const std::string folder = "c:\\Zentaq \xe9t\xe9 \xa4\xff";
  std::string root = MachineRunningFrom("xp", folder);
  unlink((HostOf(root, folder) + "/res/drivedir/ztqmona.dll").c_str());
  rel::Outcome install = rel::RunSetup(root);
  EXPECT_EQ(install.status, 0) << install.err;
  ExpectPortRecordFor(root, folder);
  // Single-byte text, as the program holds it: no conversion, no escaping.
  std::string line = "CopyFile InFile.Open Failed: " + folder + "\\res\\drivedir\\ztqmona.dll\r\n";
  EXPECT_NE(rel::ReadFile(rel::LogPath(root)).find(line), std::string::npos) << rel::ReadFile(rel::LogPath(root));
  ExpectWholeLog(root);
  rel::RemoveTree(root);
}

TEST(OddInputs, ProductFilesOfZeroBytes) {
  for (const char* os : {"xp", "98"}) {
    SCOPED_TRACE(os);
    std::string root = rel::FreshMachine(os);
    std::string staging = root + "/drive_c/zentaq/res/drivedir/";
    for (const char* name : {"fontsub.tbl", "printerdata.dat", "dfdevmdnt.dat", "dfdevmd.dat", "gs.PPD",
                             "ztqmona.dll", "ztqmona95.dll"})
      rel::WriteFile(staging + name, "");
    rel::Outcome install = rel::RunSetup(root);
    EXPECT_EQ(install.status, 0) << install.err;
    EXPECT_FALSE(rel::HasSanitizerReport(install.err)) << install.err;
    std::string log = rel::ReadFile(rel::LogPath(root));
    EXPECT_EQ(log.find("CopyFile"), std::string::npos) << log;

    winsim::Hive hive = HiveOf(root);
    const winsim::RegKey* data = hive.Find(kDataKey);
    ASSERT_NE(data, nullptr);
    ASSERT_NE(data->Value("TTFontSubTableSize"), nullptr);
    EXPECT_EQ(data->Value("TTFontSubTableSize")->data, std::vector<uint8_t>(4, 0));
    for (const char* name : {"TTFontSubTable", "PrinterData"}) {
      ASSERT_NE(data->Value(name), nullptr) << name;
      EXPECT_TRUE(data->Value(name)->data.empty()) << name;
    }
    ASSERT_NE(hive.Find(kPrinterKey)->Value("Default DevMode"), nullptr);
    EXPECT_TRUE(hive.Find(kPrinterKey)->Value("Default DevMode")->data.empty());
    std::string system = std::string(os) == "xp" ? "/drive_c/WINDOWS/system32/" : "/drive_c/WINDOWS/SYSTEM/";
    std::string companion = std::string(os) == "xp" ? "ztqmona.dll" : "ztqmona95.dll";
    EXPECT_TRUE(rel::FileExists(root + system + companion));
    EXPECT_EQ(rel::ReadFile(root + system + companion), "");
    rel::RemoveTree(root);
  }
}

TEST(OddInputs, HiveOf100000Keys) {
  std::string root = rel::FreshMachine("xp");
  std::string text = rel::ReadFile(root + "/system.reg");
  text.reserve(text.size() + 100000 * 60);
  char line[128];
  for (int i = 0; i < 100000; ++i) {
    snprintf(line, sizeof line, "\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Bulk\\Group%03d\\Key%05d]\n\"Value\"=dword:%08x\n",
             i / 1000, i, i);
    text += line;
  }
  rel::WriteFile(root + "/system.reg", text);

  rel::Outcome install = rel::RunSetup(root, {}, {}, 600000);
  EXPECT_EQ(install.status, 0) << install.err;
  EXPECT_FALSE(install.timed_out);
  winsim::Hive hive = HiveOf(root);
  EXPECT_NE(hive.Find(kPortKey), nullptr);
  const winsim::RegKey* bulk = hive.Find("SOFTWARE\\Bulk");
  ASSERT_NE(bulk, nullptr);
  size_t keys = 0;
  for (const auto& group : bulk->subkeys) keys += group->subkeys.size();
  EXPECT_EQ(keys, 100000u);
  const winsim::RegKey* last = hive.Find("SOFTWARE\\Bulk\\Group099\\Key99999");
  ASSERT_NE(last, nullptr);
  EXPECT_EQ(last->Value("Value")->data, (std::vector<uint8_t>{0x9f, 0x86, 0x01, 0x00}));
  rel::RemoveTree(root);
}

}  // namespace
