// The machine itself: machine.ini, a fresh machine's folders and hive, the
// system calls that depend on the named system, faults, the journal.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <utility>

#include "common/test_machine.h"
#include "platform/sim/registry/hive.h"
#include "platform/sim/machine.h"
#include "platform/win32.h"

namespace {

std::string Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

// Opens a machine whose machine.ini is `ini`; returns the error text, or "".
std::string OpenError(const std::string& ini, std::string* left = nullptr) {
  char pattern[] = "/tmp/winsim-ini-XXXXXX";
  std::string root = mkdtemp(pattern);
  { std::ofstream(root + "/machine.ini") << ini; }
  std::string error;
  try {
    winsim::Machine::Open(root);
  } catch (const winsim::MachineError& e) {
    error = e.what();
  }
  if (left) *left = Slurp(root + "/machine.ini");
  std::string cmd = "rm -rf '" + root + "'";
  EXPECT_EQ(system(cmd.c_str()), 0);
  return error;
}

// A file where the system's folder goes: the machine can't be used, and the
// message names the folder it could not make.
TEST(MachineFolders, AFileInTheWayOfTheSystemFolderIsNamed) {
  char pattern[] = "/tmp/winsim-dirs-XXXXXX";
  std::string root = mkdtemp(pattern);
  { std::ofstream(root + "/machine.ini") << "[machine]\nos = xp\n"; }
  ASSERT_EQ(mkdir((root + "/drive_c").c_str(), 0755), 0);
  { std::ofstream(root + "/drive_c/windows") << "not a folder"; }
  std::string error;
  try {
    winsim::Machine::Open(root);
  } catch (const winsim::MachineError& e) {
    error = e.what();
  }
  EXPECT_EQ(error, root + "/drive_c/windows/system32: cannot create the folder: Not a directory");
  std::string cmd = "rm -rf '" + root + "'";
  EXPECT_EQ(system(cmd.c_str()), 0);
}

TEST(MachineIni, AnUnusableLineNamesFileAndLineAndLeavesTheFileAlone) {
  struct Case {
    std::string ini;
    std::string error;
  } cases[] = {
      {"[machine]\nos = xp\nthis line has no equals sign\n",
       "machine.ini:3: not a 'key = value' line: 'this line has no equals sign'"},
      {"; comment\n[machine]\nos = vista\n", "machine.ini:3: unknown os 'vista'"},
      {"[machine]\nadmin = maybe\n", "machine.ini:2: unknown admin value 'maybe'"},
      {"[machine]\nspooler = paused\n", "machine.ini:2: unknown spooler value 'paused'"},
      {"[machine]\nclock = fast\n", "machine.ini:2: unknown clock value 'fast'"},
      {"[machine]\ntime = 2005-02-30 08:00:00\n", "machine.ini:2: bad time '2005-02-30 08:00:00'"},
      {"[machine]\ntime = 2005-01-03 8:05:00\n", "machine.ini:2: bad time"},
      {"[machine]\ntime = 2005-01-03 08:05:60\n", "machine.ini:2: bad time"},
      {"[machine]\ntime = 2005-01-03 24:00:00\n", "machine.ini:2: bad time"},
      {"[machine]\ntime = 1900-02-29 08:05:00\n", "machine.ini:2: bad time"},
      {"[machine]\ntime = 2005-05-32 08:05:00\n", "machine.ini:2: bad time"},
      {"[spooler]\nstop = 5\n", "machine.ini:2: unknown key 'stop' in [spooler]"},
      {"[machine]\n\n[faults]\nCreateFileA = 5@0\n", "machine.ini:4: bad fault '5@0'"},
      {"[faults]\nCreateFileA = five\n", "machine.ini:2: bad fault 'five'"},
      {"[machine]\nadmin = no\nos = 98\n", "machine.ini:2: admin = no on os = 98: the 9x systems"},
      {"[machine]\nos = me\nadmin = No\n", "machine.ini:3: admin = no on os = me"},
      {"[machine]\nadmin = no\n[faults]\n[machine]\nos = WIN32S\n", "machine.ini:2: admin = no on os = win32s"},
      {"[spooler]\nstop_ms = 2s\n", "machine.ini:2: bad stop_ms '2s'"},
      {"[spooler]\nstop_ms = -1\n", "machine.ini:2: bad stop_ms '-1'"},
      {"[spooler]\nstop_ms = 4294967296\n", "machine.ini:2: bad stop_ms '4294967296'"},
      {"[spooler]\nstop_ms =\n", "machine.ini:2: bad stop_ms ''"},
      {"[attributes]\nc:\\a.txt = archive\n", "machine.ini:2: unknown attribute 'archive'"},
      {"[attributes]\nc:\\a.txt = hidden, temporary\n", "machine.ini:2: unknown attribute 'hidden, temporary'"},
      {"[attributes]\nc:\\a.txt =\n", "machine.ini:2: unknown attribute ''"},
      {"os = xp\n", "machine.ini:1: key 'os' outside a section"},
      {"[machine\nos = xp\n", "machine.ini:1: bad section line"},
  };
  for (const Case& c : cases) {
    std::string left;
    std::string error = OpenError(c.ini, &left);
    EXPECT_EQ(error.compare(0, c.error.size(), c.error), 0) << "got: " << error << "\nfor: " << c.ini;
    EXPECT_EQ(error.find('\n'), std::string::npos);
    EXPECT_EQ(left, c.ini);
  }
}

TEST(MachineIni, ValidSettingsAreRead) {
  winsim::Settings s = winsim::ParseSettings(
      "[Machine]\r\nOS = nt4\r\nadmin = no\nspooler = stopped\nclock = virtual\n"
      "time = 2004-02-29 23:59:59\nmodule = c:\\program files\\z\\setup~ \t\n"
      "[spooler]\nlocal_ports = LPT1:\nSTOP_MS = 4294967295\n[faults]\nCreateFileA = 0x20@3\n"
      "[attributes]\nC:\\Zentaq\\a.ini = readonly\nc:\\b.sys = Hidden,SYSTEM\n[elsewhere]\nanything = goes\n",
      "machine.ini");
  EXPECT_EQ(s.os, winsim::Os::NT4);
  EXPECT_FALSE(s.admin);
  // On 9x only the last word counts: rights given back are no rights denied.
  EXPECT_TRUE(winsim::ParseSettings("[machine]\nos = 95\nadmin = no\nadmin = yes\n", "machine.ini").admin);
  EXPECT_FALSE(s.spooler_running);
  EXPECT_TRUE(s.virtual_clock);
  EXPECT_EQ(s.time, "2004-02-29 23:59:59");
  EXPECT_EQ(s.module, "c:\\program files\\z\\setup~");  // the blanks around trimmed, a tilde kept
  EXPECT_EQ(s.local_ports, "LPT1:");
  EXPECT_EQ(s.spooler_stop_ms, 0xFFFFFFFFu);
  EXPECT_EQ(winsim::ParseSettings("[spooler]\n", "machine.ini").spooler_stop_ms, 0u);
  EXPECT_EQ(s.faults.at("CreateFileA"), "0x20@3");
  EXPECT_EQ(s.attributes, (std::vector<std::pair<std::string, DWORD>>{
                              {"C:\\Zentaq\\a.ini", FILE_ATTRIBUTE_READONLY},
                              {"c:\\b.sys", FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM}}));
}

TEST(Machine, AMissingDirectoryBecomesADefaultMachine) {
  char pattern[] = "/tmp/winsim-new-XXXXXX";
  std::string root = std::string(mkdtemp(pattern)) + "/machine";
  winsim::Machine::Open(root);
  EXPECT_EQ(winsim::Machine::Get().settings().os, winsim::Os::XP);
  EXPECT_TRUE(winsim::Machine::Get().settings().admin);
  EXPECT_FALSE(winsim::Machine::Get().settings().virtual_clock);
  struct stat st;
  EXPECT_EQ(stat((root + "/drive_c/WINDOWS/system32/spool/drivers/w32x86").c_str(), &st), 0);
  EXPECT_EQ(stat((root + "/answers").c_str(), &st), 0);
  std::string cmd = "rm -rf '" + std::string(pattern) + "'";
  EXPECT_EQ(system(cmd.c_str()), 0);
}

TEST(Machine, EachSystemHasItsVersionFoldersAndPrintKeys) {
  struct Case {
    const char* os;
    DWORD version;
    int major, minor;  // the system's version number, as GetVersion's low and next byte hold it
    const char* system_dir;
    const char* monitor_driver;
    const char* drivers_key;
  } cases[] = {
      {"95", 0xC3B60004u, 4, 0, "C:\\WINDOWS\\SYSTEM", "localmon.dll", "Windows 4.0\\Drivers"},
      {"98", 0xC0000A04u, 4, 10, "C:\\WINDOWS\\SYSTEM", "localmon.dll", "Windows 4.0\\Drivers"},
      {"me", 0xC0005A04u, 4, 90, "C:\\WINDOWS\\SYSTEM", "localmon.dll", "Windows 4.0\\Drivers"},
      {"win32s", 0x80000A03u, 3, 10, "C:\\WINDOWS\\SYSTEM", "localmon.dll", "Windows 4.0\\Drivers"},
      {"nt351", 0x04213303u, 3, 51, "C:\\WINNT\\system32", "localmon.dll", "Windows NT x86\\Drivers\\Version-2"},
      {"nt4", 0x05650004u, 4, 0, "C:\\WINNT\\system32", "localmon.dll", "Windows NT x86\\Drivers\\Version-2"},
      {"2000", 0x08930005u, 5, 0, "C:\\WINNT\\system32", "localspl.dll", "Windows NT x86\\Drivers\\Version-2"},
      {"xp", 0x0A280105u, 5, 1, "C:\\WINDOWS\\system32", "localspl.dll", "Windows NT x86\\Drivers\\Version-2"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.os);
    TestMachine machine(c.os);
    machine.Use();
    EXPECT_EQ(GetVersion(), c.version);
    EXPECT_EQ(GetVersion() & 0xFF, static_cast<DWORD>(c.major));
    EXPECT_EQ((GetVersion() >> 8) & 0xFF, static_cast<DWORD>(c.minor));
    EXPECT_EQ((GetVersion() >> 31) != 0, !winsim::Machine::Get().os().nt_family);
    char buffer[64];
    SetLastError(0xdeadbeef);
    UINT length = GetSystemDirectoryA(buffer, sizeof buffer);
    EXPECT_EQ(length, strlen(c.system_dir));
    EXPECT_STREQ(buffer, c.system_dir);
    EXPECT_EQ(GetLastError(), 0xdeadbeefu);
    // Too small: the size needed, terminator included; the buffer untouched.
    strcpy(buffer, "untouched");
    EXPECT_EQ(GetSystemDirectoryA(buffer, length), length + 1);
    EXPECT_STREQ(buffer, "untouched");
    EXPECT_TRUE(machine.Exists(c.system_dir));
    // A profile named without a folder lives in the Windows directory, the
    // system directory's parent, which GetWindowsDirectoryA names alike.
    std::string windows(c.system_dir, strrchr(c.system_dir, '\\') - c.system_dir);
    SetLastError(0xdeadbeef);
    EXPECT_EQ(GetWindowsDirectoryA(buffer, sizeof buffer), windows.size());
    EXPECT_EQ(buffer, windows);
    EXPECT_EQ(GetWindowsDirectoryA(buffer, static_cast<UINT>(windows.size())), windows.size() + 1);
    EXPECT_EQ(GetLastError(), 0xdeadbeefu);
    machine.Write(windows + "\\win.ini", "[windows]\r\nload=here\r\n");
    EXPECT_EQ(GetPrivateProfileStringA("windows", "load", "", buffer, sizeof buffer, "win.ini"), 4u);
    EXPECT_TRUE(machine.Exists(winsim::Machine::Get().os().driver_dir));

    const winsim::Hive& hive = winsim::ReadHive();
    const std::string print = "SYSTEM\\CurrentControlSet\\Control\\Print\\";
    const winsim::RegKey* local = hive.Find(print + "Monitors\\Local Port");
    ASSERT_NE(local, nullptr);
    const winsim::RegValue* driver = local->Value("Driver");
    ASSERT_NE(driver, nullptr);
    EXPECT_EQ(std::string(driver->data.begin(), driver->data.end()).c_str(), std::string(c.monitor_driver));
    EXPECT_NE(hive.Find(print + "Environments\\" + c.drivers_key), nullptr);
    EXPECT_NE(hive.Find(print + "Printers"), nullptr);
    EXPECT_NE(hive.Find("SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall"), nullptr);
    bool nt = (c.version & 0x80000000u) == 0;
    EXPECT_EQ(hive.Find("SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\IniFileMapping") != nullptr, nt);
  }
}

TEST(Machine, ModuleNameAndHandle) {
  TestMachine machine("xp", "module = c:\\Program Files\\Zentaq\\SETUP.EXE\n");
  machine.Use();
  HMODULE self = GetModuleHandleA(nullptr);
  ASSERT_NE(self, nullptr);
  EXPECT_EQ(GetModuleHandleA("setup.exe"), self);
  EXPECT_EQ(GetModuleHandleA("SETUP"), self);
  SetLastError(0xdeadbeef);
  EXPECT_EQ(GetModuleHandleA("other.dll"), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));

  char buffer[512];
  EXPECT_EQ(GetModuleFileNameA(self, buffer, sizeof buffer), 33u);
  EXPECT_STREQ(buffer, "c:\\Program Files\\Zentaq\\SETUP.EXE");
  // Cut to the buffer as XP and earlier cut it: the size filled, no
  // terminator, the last error left alone; with the name's length (33) the
  // terminator no longer fits; a size of 0 gives 0. Every system of the
  // machine answers so.
  for (const char* os : {"xp", "2000", "nt4", "98", "95"}) {
    TestMachine other(os, "module = c:\\Program Files\\Zentaq\\SETUP.EXE\n");
    other.Use();
    for (DWORD size : {8u, 33u, 0u}) {
      SCOPED_TRACE(std::string(os) + " " + std::to_string(size));
      memset(buffer, '#', sizeof buffer);
      SetLastError(0xdeadbeef);
      EXPECT_EQ(GetModuleFileNameA(nullptr, buffer, size), size);
      EXPECT_EQ(std::string(buffer, size + 1), std::string("c:\\Program Files\\Zentaq\\SETUP.EXE").substr(0, size) + "#");
      EXPECT_EQ(GetLastError(), 0xdeadbeefu);
    }
  }
}

TEST(Faults, EveryCallOrOnlyTheNthCallFails) {
  TestMachine machine("xp", "\n[faults]\nGetSystemDirectoryA = 8\nGetFileAttributesA = 0x20@2\nCloseHandle = 31\n");
  machine.Use();
  char buffer[MAX_PATH];
  for (int i = 0; i < 2; ++i) {
    SetLastError(0xdeadbeef);
    EXPECT_EQ(GetSystemDirectoryA(buffer, sizeof buffer), 0u);
    EXPECT_EQ(GetLastError(), 8u);
    EXPECT_FALSE(CloseHandle(nullptr));
    EXPECT_EQ(GetLastError(), 31u);
  }
  DWORD results[3];
  DWORD errors[3];
  for (int i = 0; i < 3; ++i) {
    SetLastError(0xdeadbeef);
    results[i] = GetFileAttributesA("c:\\WINDOWS");
    errors[i] = GetLastError();
  }
  EXPECT_EQ(results[0], static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY));
  EXPECT_EQ(results[1], INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(errors[1], 32u);
  EXPECT_EQ(results[2], static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY));
  EXPECT_EQ(errors[2], 0xdeadbeefu);

  // A new machine is a new run: the count starts again.
  TestMachine again("xp", "\n[faults]\nGetFileAttributesA = 2@1\n");
  again.Use();
  SetLastError(0xdeadbeef);
  EXPECT_EQ(GetFileAttributesA("c:\\WINDOWS"), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(GetLastError(), 2u);
  EXPECT_EQ(GetFileAttributesA("c:\\WINDOWS"), static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY));

  // The call log gets each api once, on its first call in the process.
  std::string log = again.root() + "/calls.log";
  setenv("WINSIM_CALL_LOG", log.c_str(), 1);
  DWORD code = 0;
  EXPECT_FALSE(winsim::Fault("ProbeOnlyApi", &code));
  EXPECT_FALSE(winsim::Fault("ProbeOnlyApi", &code));
  unsetenv("WINSIM_CALL_LOG");
  EXPECT_EQ(Slurp(log), "ProbeOnlyApi\n");

  std::vector<std::string> called = winsim::CalledApis();
  EXPECT_NE(std::find(called.begin(), called.end(), "GetFileAttributesA"), called.end());
  EXPECT_EQ(std::count(called.begin(), called.end(), "GetFileAttributesA"), 1);
}

TEST(Journal, FieldsAreEscapedAndLinesStayWholeAcrossProcesses) {
  TestMachine machine;
  machine.Use();
  winsim::Journal({"Event", "a\tb", "c\nd", "e\\f", ""});
  ASSERT_EQ(machine.JournalLines("Event").size(), 1u);
  EXPECT_EQ(machine.JournalLines("Event")[0], "Event\ta\\tb\tc\\nd\te\\\\f\t");
  // Read back, each field is what was written.
  EXPECT_EQ(winsim::JournalFields(machine.JournalLines("Event")[0]),
            (std::vector<std::string>{"Event", "a\tb", "c\nd", "e\\f", ""}));

  const std::string filler(3000, 'x');
  pid_t children[2];
  for (int c = 0; c < 2; ++c) {
    children[c] = fork();
    if (children[c] == 0) {
      for (int i = 0; i < 100; ++i) winsim::Journal({"Child" + std::to_string(c), filler});
      _exit(0);
    }
  }
  for (pid_t child : children) {
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_EQ(status, 0);
  }
  EXPECT_EQ(machine.JournalLines("Child0").size(), 100u);
  EXPECT_EQ(machine.JournalLines("Child1").size(), 100u);
  for (const std::string& line : machine.JournalLines())
    if (line.compare(0, 5, "Child") == 0) {
      EXPECT_EQ(line.size(), 7 + filler.size());
    }
}

TEST(Clock, SleepIsJournalledAndLocalTimeIsTheMachines) {
  TestMachine machine("xp", "time = 2004-02-29 23:59:58\n");
  machine.Use();
  Sleep(3000);  // virtual clock: returns at once
  Sleep(500);
  EXPECT_EQ(machine.JournalLines("Sleep"), (std::vector<std::string>{"Sleep\t3000", "Sleep\t500"}));
  SYSTEMTIME t;
  GetLocalTime(&t);
  EXPECT_EQ(t.wYear, 2004);
  EXPECT_EQ(t.wMonth, 2);
  EXPECT_EQ(t.wDay, 29);
  EXPECT_EQ(t.wDayOfWeek, 0);  // a Sunday
  EXPECT_EQ(t.wHour, 23);
  EXPECT_EQ(t.wMinute, 59);
  EXPECT_EQ(t.wSecond, 58);

  // The day of the week (0 = Sunday) in every month, across century years.
  const std::pair<const char*, WORD> days[] = {
      {"2004-01-01", 4}, {"2000-02-29", 2}, {"2005-03-31", 4}, {"2005-04-15", 5}, {"1999-05-31", 1},
      {"2000-06-30", 5}, {"2001-07-04", 3}, {"2002-08-15", 4}, {"2003-09-10", 3}, {"2006-10-31", 2},
      {"2007-11-30", 5}, {"2008-12-31", 3}, {"2100-03-01", 1}};
  for (const auto& day : days) {
    TestMachine dated("xp", std::string("time = ") + day.first + " 12:00:00\n");
    dated.Use();
    GetLocalTime(&t);
    EXPECT_EQ(t.wDayOfWeek, day.second) << day.first;
  }
}

TEST(Strings, CompareAsWindowsDoes) {
  EXPECT_EQ(lstrcmpA("ZENTAQ Monitor", "ZENTAQ Monitor"), 0);
  EXPECT_NE(lstrcmpA("ZENTAQ Monitor", "zentaq monitor"), 0);
  EXPECT_LT(lstrcmpA("a", "B"), 0);   // alphabet first, unlike a byte comparison
  EXPECT_LT(lstrcmpA("abc", "ABC"), 0);  // then lower case before upper case
  EXPECT_GT(lstrcmpA("Local Port", "Local"), 0);
  EXPECT_LT(lstrcmpA("Local", "Local Port"), 0);
  EXPECT_EQ(lstrcmpA(nullptr, nullptr), 0);  // NULL sorts before any string
  EXPECT_LT(lstrcmpA(nullptr, ""), 0);
  EXPECT_GT(lstrcmpA("", nullptr), 0);
  EXPECT_EQ(MbsCmp("uninstall", "uninstall"), 0);
  EXPECT_NE(MbsCmp("uninstall", "Uninstall"), 0);
  EXPECT_NE(MbsCmp("uninstall ", "uninstall"), 0);
  EXPECT_LT(MbsCmp("Uninstall", "uninstall"), 0);  // bytes: upper case first
  EXPECT_GT(MbsCmp("uninstall ", "uninstall"), 0);
  char buffer[16] = "C:\\WINDOWS";
  EXPECT_EQ(lstrcatA(buffer, "\\"), buffer);
  EXPECT_STREQ(buffer, "C:\\WINDOWS\\");
  EXPECT_EQ(lstrlenA(buffer), 11);
  EXPECT_EQ(lstrlenA(nullptr), 0);
}

}  // namespace
