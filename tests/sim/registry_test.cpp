// The registry functions on the machine's HKLM hive: results, codes, the
// last error they leave alone, and what each system family does on delete.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "common/test_machine.h"
#include "platform/sim/registry/hive.h"
#include "platform/sim/machine.h"

namespace {

const char kUninstall[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall";

LONG Open(const std::string& path, HKEY* key, REGSAM access = KEY_ALL_ACCESS) {
  return RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, access, key);
}

LONG SetSz(HKEY key, const char* name, const std::string& bytes) {
  return RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(bytes.data()),
                        static_cast<DWORD>(bytes.size()));
}

std::string Query(HKEY key, const char* name, LONG* status, DWORD* type = nullptr) {
  BYTE data[256];
  DWORD size = sizeof data;
  *status = RegQueryValueExA(key, name, nullptr, type, data, &size);
  return *status == ERROR_SUCCESS ? std::string(reinterpret_cast<char*>(data), size) : "";
}

bool Exists(const std::string& path) { return winsim::ReadHive().Find(path) != nullptr; }

}  // namespace

TEST(Registry, OpenCreateSetAndQueryKeepExactBytesAndLeaveTheLastError) {
  TestMachine machine("xp");
  machine.Use();
  HKEY key = reinterpret_cast<HKEY>(0x1234);
  for (int attempt = 0; attempt < 2; ++attempt) {
    SetLastError(0xdeadbeef);
    EXPECT_EQ(Open(std::string(kUninstall) + "\\Zentaq", &key), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(key, nullptr) << "a failed open gives no key";
    EXPECT_EQ(GetLastError(), 0xdeadbeefu);
  }

  HKEY created;
  ASSERT_EQ(RegCreateKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Vendor\\Deep\\Zentaq", &created), ERROR_SUCCESS);
  EXPECT_TRUE(Exists("software\\vendor\\deep"));
  EXPECT_EQ(SetSz(created, "DisplayName", std::string("Zentaq\0", 7)), ERROR_SUCCESS);
  EXPECT_EQ(SetSz(created, "NoNul", "abc"), ERROR_SUCCESS);
  EXPECT_EQ(GetLastError(), 0xdeadbeefu);
  ASSERT_EQ(RegCloseKey(created), ERROR_SUCCESS);

  // Another handle, another spelling: the same key, and values saved to disk.
  ASSERT_EQ(Open("software\\VENDOR\\deep\\zentaq", &key), ERROR_SUCCESS);
  LONG status;
  DWORD type = 0;
  EXPECT_EQ(Query(key, "displayname", &status, &type), std::string("Zentaq\0", 7));
  EXPECT_EQ(status, ERROR_SUCCESS);
  EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
  EXPECT_EQ(Query(key, "NoNul", &status), "abc");
  EXPECT_EQ(Query(key, "Missing", &status), "");
  EXPECT_EQ(status, ERROR_FILE_NOT_FOUND);
  EXPECT_NE(machine.HiveText().find("\"DisplayName\"=\"Zentaq\"\n\"NoNul\"=hex(1):61,62,63\n"), std::string::npos);

  // Too small a buffer: ERROR_MORE_DATA and the size needed; no buffer: the size.
  BYTE small[2];
  DWORD size = sizeof small;
  EXPECT_EQ(RegQueryValueExA(key, "DisplayName", nullptr, nullptr, small, &size), ERROR_MORE_DATA);
  EXPECT_EQ(size, 7u);
  size = 0;
  EXPECT_EQ(RegQueryValueExA(key, "DisplayName", nullptr, nullptr, nullptr, &size), ERROR_SUCCESS);
  EXPECT_EQ(size, 7u);
  EXPECT_EQ(RegQueryValueExA(key, "DisplayName", nullptr, nullptr, small, nullptr), ERROR_INVALID_PARAMETER);
  BYTE exact[7];
  size = sizeof exact;
  EXPECT_EQ(RegQueryValueExA(key, "DisplayName", nullptr, nullptr, exact, &size), ERROR_SUCCESS);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(exact), size), std::string("Zentaq\0", 7));

  // Creating an existing key opens it and changes nothing.
  std::string before = machine.HiveText();
  ASSERT_EQ(RegCreateKeyA(key, nullptr, &created), ERROR_SUCCESS);
  EXPECT_EQ(Query(created, "NoNul", &status), "abc");
  EXPECT_EQ(machine.HiveText(), before);
  EXPECT_EQ(RegCloseKey(created), ERROR_SUCCESS);
  EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
  EXPECT_EQ(RegCloseKey(key), ERROR_INVALID_HANDLE);
  EXPECT_EQ(RegCloseKey(HKEY_LOCAL_MACHINE), ERROR_SUCCESS);
  EXPECT_EQ(GetLastError(), 0xdeadbeefu);
}

TEST(Registry, RootsAndHandlesTheMachineDoesNotHave) {
  TestMachine machine("xp");
  machine.Use();
  HKEY key;
  EXPECT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software", 0, KEY_READ, &key), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegCreateKeyA(HKEY_USERS, "X", &key), ERROR_FILE_NOT_FOUND);
  // The first and the last of the predefined roots are roots too, not handles.
  EXPECT_EQ(RegOpenKeyExA(HKEY_CLASSES_ROOT, "CLSID", 0, KEY_READ, &key), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegOpenKeyExA(reinterpret_cast<HKEY>(0x80000006u), "X", 0, KEY_READ, &key), ERROR_FILE_NOT_FOUND);
  HKEY bogus = reinterpret_cast<HKEY>(0x4242);
  EXPECT_EQ(RegOpenKeyExA(bogus, "X", 0, KEY_READ, &key), ERROR_INVALID_HANDLE);
  EXPECT_EQ(SetSz(bogus, "v", "x"), ERROR_INVALID_HANDLE);
  EXPECT_EQ(RegDeleteKeyA(bogus, "X"), ERROR_INVALID_HANDLE);
  EXPECT_EQ(RegCloseKey(bogus), ERROR_INVALID_HANDLE);
  // system.reg keeps one key per line: a name with a line break is refused.
  EXPECT_EQ(RegCreateKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Bad\nName", &key), ERROR_INVALID_PARAMETER);
  EXPECT_FALSE(Exists("SOFTWARE\\Bad\nName"));
}

TEST(Registry, NtRefusesToDeleteAKeyWithSubkeys) {
  TestMachine machine("xp");
  machine.Use();
  HKEY leaf, parent;
  ASSERT_EQ(RegCreateKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Zentaq\\Sub\\Leaf", &leaf), ERROR_SUCCESS);
  ASSERT_EQ(Open("SOFTWARE", &parent), ERROR_SUCCESS);
  for (int attempt = 0; attempt < 2; ++attempt) {
    SetLastError(0xdeadbeef);
    EXPECT_EQ(RegDeleteKeyA(parent, "Zentaq"), ERROR_ACCESS_DENIED);
    EXPECT_EQ(GetLastError(), 0xdeadbeefu);
    EXPECT_TRUE(Exists("SOFTWARE\\Zentaq\\Sub\\Leaf"));
  }
  EXPECT_EQ(RegDeleteKeyA(parent, "zentaq\\sub\\leaf"), ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteKeyA(parent, "Zentaq\\Sub\\Leaf"), ERROR_FILE_NOT_FOUND);
  EXPECT_FALSE(Exists("SOFTWARE\\Zentaq\\Sub\\Leaf"));
  EXPECT_TRUE(Exists("SOFTWARE\\Zentaq\\Sub"));

  // SHDeleteKeyA takes the whole tree on every system.
  ASSERT_EQ(RegCreateKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Zentaq\\Sub\\Leaf", &leaf), ERROR_SUCCESS);
  EXPECT_EQ(SHDeleteKeyA(parent, "ZENTAQ"), static_cast<DWORD>(ERROR_SUCCESS));
  EXPECT_FALSE(Exists("SOFTWARE\\Zentaq"));
  EXPECT_TRUE(Exists("SOFTWARE"));
  EXPECT_EQ(SHDeleteKeyA(parent, "Zentaq"), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(machine.HiveText().find("Zentaq"), std::string::npos);
  EXPECT_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, ""), ERROR_ACCESS_DENIED) << "HKLM itself stays";
}

TEST(Registry, The9xFamilyDeletesTheWholeTree) {
  TestMachine machine("98");
  machine.Use();
  HKEY key, parent;
  ASSERT_EQ(RegCreateKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Zentaq\\Sub\\Leaf", &key), ERROR_SUCCESS);
  ASSERT_EQ(Open("SOFTWARE", &parent), ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteKeyA(parent, "Zentaq"), ERROR_SUCCESS);
  EXPECT_FALSE(Exists("SOFTWARE\\Zentaq"));
  EXPECT_EQ(RegDeleteKeyA(parent, "Zentaq"), ERROR_FILE_NOT_FOUND);
}

TEST(Registry, AHandleOfADeletedKeyFailsWithKeyDeleted) {
  for (const char* os : {"xp", "95"}) {
    SCOPED_TRACE(os);
    TestMachine machine(os);
    machine.Use();
    HKEY key, other;
    ASSERT_EQ(RegCreateKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Gone", &key), ERROR_SUCCESS);
    ASSERT_EQ(SHDeleteKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Gone"), static_cast<DWORD>(ERROR_SUCCESS));
    LONG status;
    for (int attempt = 0; attempt < 2; ++attempt) {
      EXPECT_EQ(SetSz(key, "v", "x"), ERROR_KEY_DELETED);
      Query(key, "v", &status);
      EXPECT_EQ(status, ERROR_KEY_DELETED);
      EXPECT_EQ(RegCreateKeyA(key, "Child", &other), ERROR_KEY_DELETED);
      EXPECT_EQ(RegOpenKeyExA(key, "", 0, KEY_READ, &other), ERROR_KEY_DELETED);
      char name[16];
      EXPECT_EQ(RegEnumKeyA(key, 0, name, sizeof name), ERROR_KEY_DELETED);
      EXPECT_EQ(RegDeleteKeyA(key, "Child"), ERROR_KEY_DELETED);
    }
    EXPECT_FALSE(Exists("SOFTWARE\\Gone")) << "a write through a stale handle must not bring the key back";
    EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
  }
}

TEST(Registry, WithoutAdministrativeRightsHklmIsReadOnly) {
  TestMachine machine("xp", "admin = no");
  machine.Use();
  std::string before = machine.HiveText();
  ASSERT_TRUE(Exists("SOFTWARE"));
  HKEY key;
  for (int attempt = 0; attempt < 2; ++attempt) {
    EXPECT_EQ(Open("SOFTWARE", &key), ERROR_ACCESS_DENIED);
    EXPECT_EQ(key, nullptr);
    EXPECT_EQ(RegCreateKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Zentaq", &key), ERROR_ACCESS_DENIED);
  }
  ASSERT_EQ(Open("SOFTWARE", &key, KEY_READ), ERROR_SUCCESS);
  EXPECT_EQ(SetSz(key, "v", "x"), ERROR_ACCESS_DENIED);
  EXPECT_EQ(RegDeleteKeyA(key, "Missing"), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
  // An existing key opens for reading, as RegCreateKey asks for what is allowed.
  ASSERT_EQ(RegCreateKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE", &key), ERROR_SUCCESS);
  EXPECT_EQ(SetSz(key, "v", "x"), ERROR_ACCESS_DENIED);
  EXPECT_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft"), ERROR_ACCESS_DENIED);
  EXPECT_EQ(SHDeleteKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE"), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_EQ(machine.HiveText(), before);
}

TEST(Registry, NtChecksTheAccessAHandleWasOpenedWith) {
  TestMachine machine("2000");
  machine.Use();
  HKEY key, sub;
  ASSERT_EQ(Open("SOFTWARE", &key, KEY_READ), ERROR_SUCCESS);
  EXPECT_EQ(SetSz(key, "v", "x"), ERROR_ACCESS_DENIED);
  EXPECT_EQ(RegCreateKeyA(key, "New", &sub), ERROR_ACCESS_DENIED);
  RegCloseKey(key);
  ASSERT_EQ(Open("SOFTWARE", &key, KEY_WRITE), ERROR_SUCCESS);
  LONG status;
  Query(key, "v", &status);
  EXPECT_EQ(status, ERROR_ACCESS_DENIED);
  RegCloseKey(key);

  TestMachine me("me");  // the 9x registry has no security
  me.Use();
  ASSERT_EQ(Open("SOFTWARE", &key, KEY_READ), ERROR_SUCCESS);
  EXPECT_EQ(SetSz(key, "v", std::string("x\0", 2)), ERROR_SUCCESS);
}

TEST(Registry, SubkeysAreEnumeratedSortedOnNtAndInCreationOrderOn9x) {
  for (const char* os : {"xp", "98"}) {
    SCOPED_TRACE(os);
    TestMachine machine(os);
    machine.Use();
    HKEY key, sub;
    ASSERT_EQ(RegCreateKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Enum", &key), ERROR_SUCCESS);
    for (const char* name : {"zeta", "Alpha", "beta"}) ASSERT_EQ(RegCreateKeyA(key, name, &sub), ERROR_SUCCESS);
    std::string order;
    char name[16];
    DWORD i = 0;
    LONG status;
    while ((status = RegEnumKeyA(key, i++, name, sizeof name)) == ERROR_SUCCESS) order += std::string(name) + ",";
    EXPECT_EQ(status, ERROR_NO_MORE_ITEMS);
    EXPECT_EQ(order, std::string(os) == "xp" ? "Alpha,beta,zeta," : "zeta,Alpha,beta,");
    EXPECT_EQ(RegEnumKeyA(key, 0, name, 3), ERROR_MORE_DATA);
    // The name needs room for its terminating NUL too.
    std::string second = std::string(os) == "xp" ? "beta" : "Alpha";
    EXPECT_EQ(RegEnumKeyA(key, 1, name, static_cast<DWORD>(second.size())), ERROR_MORE_DATA);
    EXPECT_EQ(RegEnumKeyA(key, 1, name, static_cast<DWORD>(second.size() + 1)), ERROR_SUCCESS);
    EXPECT_EQ(name, second);
  }
}

TEST(Registry, FaultsFailTheNamedCallWithItsCode) {
  TestMachine machine("xp", "[faults]\nRegOpenKeyExA = 1009@2\nRegSetValueExA = 1016\nSHDeleteKeyA = 5\n");
  machine.Use();
  HKEY key;
  SetLastError(0xdeadbeef);
  ASSERT_EQ(Open("SOFTWARE", &key), ERROR_SUCCESS);
  EXPECT_EQ(Open("SOFTWARE", &key), 1009);
  EXPECT_EQ(key, nullptr);
  EXPECT_EQ(Open("SOFTWARE", &key), ERROR_SUCCESS);
  EXPECT_EQ(SetSz(key, "v", "x"), 1016);
  EXPECT_EQ(SHDeleteKeyA(key, "Microsoft"), 5u);
  EXPECT_TRUE(Exists("SOFTWARE\\Microsoft"));
  EXPECT_EQ(winsim::ReadHive().Find("SOFTWARE")->Value("v"), nullptr);
  EXPECT_EQ(GetLastError(), 0xdeadbeefu);
}

TEST(Shell, ChangeNotificationsGoToTheJournal) {
  TestMachine machine("xp");
  machine.Use();
  SHChangeNotify(0x1A, 0, nullptr, nullptr);
  SHChangeNotify(0x8000000, 0x1000, nullptr, nullptr);
  std::vector<std::string> lines = machine.JournalLines("SHChangeNotify");
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0], "SHChangeNotify\t0x1A\t0x0");
  EXPECT_EQ(lines[1], "SHChangeNotify\t0x8000000\t0x1000");
}
