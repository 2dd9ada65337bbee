// The profile routines on files of the machine's drives, and the NT
// IniFileMapping that sends them into the registry.
#include <gtest/gtest.h>

#include <string>

#include "common/test_machine.h"
#include "platform/sim/registry/hive.h"
#include "platform/sim/machine.h"

namespace {

const char kIni[] = "c:\\zentaq\\res\\zentaq.ini";
const char16_t kIniW[] = u"c:\\zentaq\\res\\zentaq.ini";

std::string Get(const char* section, const char* key, const char* fallback, DWORD size = 512,
                DWORD* count = nullptr, const char* file = kIni) {
  char buffer[512];
  DWORD n = GetPrivateProfileStringA(section, key, fallback, buffer, size, file);
  if (count) *count = n;
  return std::string(buffer, n);
}

void MapIni(const std::string& section, const std::string& target) {
  winsim::ChangeHive([&](winsim::Hive& hive) {
    winsim::RegKey* key =
        hive.Create("SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\IniFileMapping\\ZENTAQ.INI");
    key->SetValue(section, REG_SZ, reinterpret_cast<const uint8_t*>(target.c_str()), target.size() + 1);
    return true;
  });
}

}  // namespace

TEST(Profile, WritesCreateFileSectionAndKeyAndKeepTheRestOfTheFile) {
  TestMachine machine("98");
  machine.Use();
  machine.Write("c:\\zentaq\\res\\readme.txt", "");  // the folder exists, the file not
  SetLastError(0xdeadbeef);
  EXPECT_TRUE(WritePrivateProfileStringA("Parameters", "Uninstall", "", kIni));
  EXPECT_EQ(machine.Read(kIni), "[Parameters]\r\nUninstall=\r\n");
  EXPECT_TRUE(WritePrivateProfileStringA("Parameters", "Quiet", "0", kIni));
  EXPECT_TRUE(WritePrivateProfileStringA("Other", "Key", "v", kIni));
  for (int attempt = 0; attempt < 2; ++attempt) {
    EXPECT_TRUE(WritePrivateProfileStringA("PARAMETERS", "uninstall", "1", kIni));
    EXPECT_EQ(machine.Read(kIni), "[Parameters]\r\nUninstall=1\r\nQuiet=0\r\n[Other]\r\nKey=v\r\n");
  }
  EXPECT_EQ(GetLastError(), 0xdeadbeefu);

  // Comments, blank lines and the other lines stay as they were; a new key
  // goes after the last key of its section.
  machine.Write(kIni, "; settings\n[Parameters]\nQuiet = 1\n\n[Next]\nA=b");
  EXPECT_TRUE(WritePrivateProfileStringA("parameters", "Uninstall", "", kIni));
  EXPECT_EQ(machine.Read(kIni), "; settings\n[Parameters]\nQuiet = 1\nUninstall=\r\n\n[Next]\nA=b")
      << "a last line without a line end is left so";
  EXPECT_TRUE(WritePrivateProfileStringA("Next", "C", "d", kIni));
  EXPECT_EQ(machine.Read(kIni), "; settings\n[Parameters]\nQuiet = 1\nUninstall=\r\n\n[Next]\nA=b\r\nC=d\r\n");
  EXPECT_EQ(Get("Parameters", "Uninstall", "unset"), "") << "an empty value is a value";
}

TEST(Profile, ReadsTrimmedUnquotedValuesOrTheDefault) {
  TestMachine machine("xp");
  machine.Use();
  machine.Write(kIni, "[ Parameters ]\r\n  Quiet  =  \"7 \" \r\nUninstall=1\r\nSingle='x'\r\nOdd=\"x'\r\nBare\r\n"
                     "Same=abba\r\nTab=\tv\t\r\nTilde=~v~\r\n");
  for (int attempt = 0; attempt < 2; ++attempt) {
    EXPECT_EQ(Get("parameters", "QUIET", "0"), "7 ");
    EXPECT_EQ(Get("Parameters", "Uninstall", ""), "1");
    EXPECT_EQ(Get("Parameters", "Single", ""), "x");
    EXPECT_EQ(Get("Parameters", "Odd", ""), "\"x'");
    EXPECT_EQ(Get("Parameters", "Same", ""), "abba") << "only quotes are taken off";
    EXPECT_EQ(Get("Parameters", "Tab", ""), "v") << "tabs are blanks";
    EXPECT_EQ(Get("Parameters", "Tilde", ""), "~v~");
    EXPECT_EQ(Get("Parameters", "Bare", "dflt"), "dflt") << "a line without = holds no value";
    EXPECT_EQ(Get("Parameters", "Missing", "dflt  "), "dflt") << "the default loses trailing blanks";
    EXPECT_EQ(Get("Missing", "Quiet", "0"), "0");
    EXPECT_EQ(Get("Parameters", "Quiet", nullptr), "7 ");
  }
  SetLastError(0xdeadbeef);
  EXPECT_EQ(Get("Parameters", "Uninstall", "", 512, nullptr, "c:\\zentaq\\none.ini"), "");
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(Get("Parameters", "Uninstall", "dflt", 512, nullptr, "c:\\no\\folder.ini"), "dflt");

  // A bare file name is a file in the Windows directory.
  machine.Write("C:\\WINDOWS\\win.ini", "[windows]\r\nload=x\r\n");
  EXPECT_EQ(Get("windows", "load", "", 512, nullptr, "WIN.INI"), "x");
}

TEST(Profile, LongValuesAreCutToTheBuffer) {
  TestMachine machine("xp");
  machine.Use();
  machine.Write(kIni, "[Parameters]\r\nUninstall=abcdefghij\r\n[Second]\r\n");
  char buffer[16];
  memset(buffer, '#', sizeof buffer);
  EXPECT_EQ(GetPrivateProfileStringA("Parameters", "Uninstall", "", buffer, 5, kIni), 4u);
  EXPECT_STREQ(buffer, "abcd");
  EXPECT_EQ(buffer[5], '#') << "nothing is written past the buffer";
  memset(buffer, '#', sizeof buffer);
  EXPECT_EQ(GetPrivateProfileStringA("Parameters", "Missing", "long default", buffer, 5, kIni), 4u);
  EXPECT_STREQ(buffer, "long");
  EXPECT_EQ(GetPrivateProfileStringA("Parameters", "Uninstall", "", buffer, 1, kIni), 0u);
  EXPECT_EQ(buffer[0], '\0');
  memset(buffer, '#', sizeof buffer);
  EXPECT_EQ(GetPrivateProfileStringA("Parameters", "Uninstall", "", buffer, 0, kIni), 0u);
  EXPECT_EQ(buffer[0], '#');

  // Lists of names end with two NULs; a cut list returns size - 2.
  DWORD n;
  EXPECT_EQ(Get(nullptr, nullptr, "", 512, &n), std::string("Parameters\0Second\0", 18));
  EXPECT_EQ(Get("Parameters", nullptr, "", 512, &n), std::string("Uninstall\0", 10));
  memset(buffer, '#', sizeof buffer);
  EXPECT_EQ(GetPrivateProfileStringA(nullptr, nullptr, "", buffer, 8, kIni), 6u);
  EXPECT_EQ(std::string(buffer, 8), std::string("Parame\0\0", 8));
  memset(buffer, '#', sizeof buffer);
  EXPECT_EQ(GetPrivateProfileStringA(nullptr, nullptr, "", buffer, 2, kIni), 0u);
  EXPECT_EQ(std::string(buffer, 3), std::string("\0\0#", 3));
  memset(buffer, '#', sizeof buffer);
  EXPECT_EQ(GetPrivateProfileStringA(nullptr, nullptr, "", buffer, 1, kIni), 0u);
  EXPECT_EQ(std::string(buffer, 2), std::string("\0#", 2));
}

TEST(Profile, NullValueDeletesTheKeyAndNullKeyTheSection) {
  TestMachine machine("xp");
  machine.Use();
  machine.Write(kIni, "[Parameters]\r\nUninstall=1\r\nQuiet=0\r\n[Other]\r\nA=b\r\n");
  EXPECT_TRUE(WritePrivateProfileStringA("Parameters", "UNINSTALL", nullptr, kIni));
  EXPECT_EQ(machine.Read(kIni), "[Parameters]\r\nQuiet=0\r\n[Other]\r\nA=b\r\n");
  EXPECT_TRUE(WritePrivateProfileStringA("parameters", nullptr, nullptr, kIni));
  EXPECT_EQ(machine.Read(kIni), "[Other]\r\nA=b\r\n");
  for (int attempt = 0; attempt < 2; ++attempt) {
    EXPECT_TRUE(WritePrivateProfileStringA("Parameters", nullptr, nullptr, kIni));
    EXPECT_TRUE(WritePrivateProfileStringA("Other", "Missing", nullptr, kIni));
    EXPECT_EQ(machine.Read(kIni), "[Other]\r\nA=b\r\n");
  }
  EXPECT_TRUE(WritePrivateProfileStringA("Parameters", "Quiet", nullptr, "c:\\zentaq\\res\\none.ini"));
  EXPECT_FALSE(machine.Exists("c:\\zentaq\\res\\none.ini"));
}

TEST(Profile, FailedWritesReturnFalseWithTheLastError) {
  TestMachine machine("xp", "[attributes]\nc:\\zentaq\\res\\zentaq.ini = readonly\n");
  machine.Use();
  for (int attempt = 0; attempt < 2; ++attempt) {
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(WritePrivateProfileStringA("Parameters", "Uninstall", "1", kIni));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
  }
  machine.Write(kIni, "[Parameters]\r\nUninstall=\r\n");
  SetLastError(0xdeadbeef);
  EXPECT_FALSE(WritePrivateProfileStringA("Parameters", "Uninstall", "1", kIni));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_EQ(machine.Read(kIni), "[Parameters]\r\nUninstall=\r\n");
  EXPECT_EQ(Get("Parameters", "Uninstall", "x"), "") << "a read-only file still reads";
}

TEST(Profile, AWriteWithoutASectionFailsWithTheSystemsCode) {
  const struct {
    const char* os;
    DWORD error;
  } rows[] = {{"xp", ERROR_FILE_NOT_FOUND}, {"2000", ERROR_FILE_NOT_FOUND}, {"nt4", ERROR_INVALID_PARAMETER},
              {"nt351", ERROR_INVALID_PARAMETER}, {"98", 0xdeadbeef}};
  for (const auto& row : rows) {
    TestMachine machine(row.os);
    machine.Use();
    machine.Write(kIni, "[Parameters]\r\nQuiet=1\r\n");
    for (int attempt = 0; attempt < 2; ++attempt) {
      SetLastError(0xdeadbeef);
      EXPECT_FALSE(WritePrivateProfileStringA(nullptr, "Quiet", "0", kIni)) << row.os;
      EXPECT_EQ(GetLastError(), row.error) << row.os;
    }
    EXPECT_EQ(machine.Read(kIni), "[Parameters]\r\nQuiet=1\r\n") << row.os;
  }
}

TEST(Profile, FaultsFailTheProfileCalls) {
  TestMachine machine("xp", "[faults]\nWritePrivateProfileStringA = 112\nGetPrivateProfileStringA = 30@2\n");
  machine.Use();
  machine.Write(kIni, "[Parameters]\r\nQuiet=1\r\n");
  SetLastError(0xdeadbeef);
  EXPECT_FALSE(WritePrivateProfileStringA("Parameters", "Quiet", "0", kIni));
  EXPECT_EQ(GetLastError(), 112u);
  EXPECT_EQ(machine.Read(kIni), "[Parameters]\r\nQuiet=1\r\n");
  EXPECT_EQ(Get("Parameters", "Quiet", "0"), "1");
  EXPECT_EQ(Get("Parameters", "Quiet", "0"), "0") << "a failed read gives the default";
  EXPECT_EQ(GetLastError(), 30u);
}

TEST(Profile, TheWideFormFlushesOnNtAndIsAStubOn9x) {
  TestMachine xp("xp");
  xp.Use();
  xp.Write(kIni, "[Parameters]\r\nQuiet=0\r\n");
  for (int attempt = 0; attempt < 2; ++attempt) {
    EXPECT_FALSE(WritePrivateProfileStringW(nullptr, nullptr, nullptr, kIniW)) << "the flush form returns FALSE";
    EXPECT_EQ(xp.Read(kIni), "[Parameters]\r\nQuiet=0\r\n");
  }
  EXPECT_TRUE(WritePrivateProfileStringW(u"Parameters", u"Uninstall", u"\u00e9\u4e00", kIniW));
  EXPECT_EQ(xp.Read(kIni), "[Parameters]\r\nQuiet=0\r\nUninstall=\xe9?\r\n");
  // The wide text lands in code page 1252: its own characters, accented
  // letters by best fit, '?' for the rest (the C1 controls too, but for the
  // five bytes that 1252 leaves unassigned).
  const struct {
    const char16_t* wide;
    const char* ansi;
  } rows[] = {{u"x\u0100y\u00e9\u0152", "xAy\xe9\x8c"},
              {u"\u0080\u0081\u009f\u00a0\u00ff", "?\x81?\xa0\xff"},
              {u"\u0110\u0132\u017e\u017f", "\xd0?\x9e?"},
              {u"\u0180\u01c3\u01ff\u0200", "b!??"},
              {u"\u20ac\u2019\u2122\u0192", "\x80\x92\x99\x83"}};
  for (const auto& row : rows) {
    EXPECT_TRUE(WritePrivateProfileStringW(u"Parameters", u"Uninstall", row.wide, kIniW));
    EXPECT_EQ(Get("Parameters", "Uninstall", ""), row.ansi);
  }

  TestMachine w95("95");
  w95.Use();
  w95.Write(kIni, "[Parameters]\r\n");
  for (int attempt = 0; attempt < 2; ++attempt) {
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(WritePrivateProfileStringW(nullptr, nullptr, nullptr, kIniW));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_CALL_NOT_IMPLEMENTED));
    EXPECT_FALSE(WritePrivateProfileStringW(u"Parameters", u"Quiet", u"1", kIniW));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_CALL_NOT_IMPLEMENTED));
  }
  EXPECT_EQ(w95.Read(kIni), "[Parameters]\r\n");
}

TEST(Profile, IniFileMappingSendsTheFileIntoTheRegistryOnNt) {
  TestMachine machine("xp");
  machine.Use();
  machine.Write(kIni, "[Parameters]\r\nQuiet=5\r\n");
  MapIni("Parameters", "#SYS:Zentaq\\Parameters");
  EXPECT_EQ(Get("Parameters", "Quiet", "0"), "0") << "the file is no longer read";
  for (int attempt = 0; attempt < 2; ++attempt) {
    EXPECT_TRUE(WritePrivateProfileStringA("Parameters", "Quiet", "3", kIni));
    EXPECT_EQ(Get("PARAMETERS", "quiet", "0"), "3");
  }
  const winsim::RegKey* target = winsim::ReadHive().Find("SOFTWARE\\Zentaq\\Parameters");
  ASSERT_NE(target, nullptr);
  ASSERT_NE(target->Value("Quiet"), nullptr);
  EXPECT_EQ(target->Value("Quiet")->type, static_cast<DWORD>(REG_SZ));
  EXPECT_EQ(target->Value("Quiet")->data, std::vector<uint8_t>({'3', 0}));
  EXPECT_TRUE(WritePrivateProfileStringA("Parameters", "Quiet", nullptr, kIni));
  EXPECT_EQ(target->Value("Quiet"), nullptr);
  // Only a REG_SZ value reads as a profile string; any other type gives the default.
  for (DWORD type : {REG_DWORD, REG_EXPAND_SZ, REG_MULTI_SZ}) {
    winsim::ChangeHive([type](winsim::Hive& hive) {
      hive.Create("SOFTWARE\\Zentaq\\Parameters")->SetValue("Quiet", type, reinterpret_cast<const uint8_t*>("7\0"), 3);
      return true;
    });
    EXPECT_EQ(Get("Parameters", "Quiet", "0"), "0") << type;
  }
  EXPECT_TRUE(WritePrivateProfileStringA("Parameters", "Quiet", nullptr, kIni));

  // A section that neither a value of its name nor the unnamed value maps
  // (a value that holds no text maps nothing) is the file's own.
  winsim::ChangeHive([](winsim::Hive& hive) {
    hive.Create("SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\IniFileMapping\\ZENTAQ.INI")
        ->SetValue("Other", REG_DWORD, reinterpret_cast<const uint8_t*>("\1\0\0\0"), 4);
    return true;
  });
  EXPECT_FALSE(WritePrivateProfileStringA(nullptr, nullptr, nullptr, kIni));
  for (const char* section : {"Other", "Third"}) {
    EXPECT_TRUE(WritePrivateProfileStringA(section, "Key", "v", kIni));
    EXPECT_EQ(Get(section, "Key", "d"), "v");
    EXPECT_TRUE(WritePrivateProfileStringA(section, nullptr, nullptr, kIni));
  }
  EXPECT_EQ(machine.Read(kIni), "[Parameters]\r\nQuiet=5\r\n");
  // USR: is a hive the machine does not have: the default, and writes fail.
  // A changed mapping reaches the process through the flush.
  MapIni("Other", "USR:Software\\Zentaq");
  EXPECT_FALSE(WritePrivateProfileStringA(nullptr, nullptr, nullptr, kIni));
  SetLastError(0xdeadbeef);
  EXPECT_FALSE(WritePrivateProfileStringA("Other", "Key", "v", kIni));
  EXPECT_NE(GetLastError(), 0xdeadbeefu);
  EXPECT_EQ(Get("Other", "Key", "d"), "d");
  EXPECT_EQ(machine.Read(kIni), "[Parameters]\r\nQuiet=5\r\n");

  // Without the mapping key the file is used again.
  HKEY map;
  ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\IniFileMapping", 0,
                          KEY_ALL_ACCESS, &map),
            ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteKeyA(map, "zentaq.ini"), ERROR_SUCCESS);
  RegCloseKey(map);
  EXPECT_EQ(Get("Parameters", "Quiet", "0"), "0") << "the process keeps the mapping it read";
  EXPECT_FALSE(WritePrivateProfileStringW(nullptr, nullptr, nullptr, kIniW));
  EXPECT_EQ(Get("Parameters", "Quiet", "0"), "5");
  // Mapped again: the flush without a file reads every mapping anew.
  MapIni("Parameters", "#SYS:Zentaq\\Parameters");
  EXPECT_EQ(Get("Parameters", "Quiet", "0"), "5");
  EXPECT_FALSE(WritePrivateProfileStringA(nullptr, nullptr, nullptr, nullptr));
  EXPECT_EQ(Get("Parameters", "Quiet", "0"), "0");
}

TEST(Profile, The9xFamilyHasNoIniFileMapping) {
  TestMachine machine("98");
  machine.Use();
  machine.Write(kIni, "[Parameters]\r\nQuiet=5\r\n");
  MapIni("Parameters", "SYS:Zentaq\\Parameters");
  EXPECT_EQ(Get("Parameters", "Quiet", "0"), "5");
  EXPECT_TRUE(WritePrivateProfileStringA("Parameters", "Quiet", "0", kIni));
  EXPECT_EQ(machine.Read(kIni), "[Parameters]\r\nQuiet=0\r\n");
}
