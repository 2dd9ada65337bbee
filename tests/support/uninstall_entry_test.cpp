// The Add/Remove Programs entry: its two values with their stored byte
// counts, and a deletion that touches only the product's subkey.
#include <gtest/gtest.h>

#include <string>

#include "common/test_machine.h"
#include "platform/win32.h"
#include "support/uninstall_entry.h"

namespace {

constexpr char kEntry[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Zentaq";
const std::string kNotify = "SHChangeNotify\t0x1A\t0x0";

struct Value {
  LONG result = -1;
  DWORD type = 0;
  std::string data;  // exactly the stored bytes
};

Value Query(const char* key_path, const char* name) {
  Value value;
  HKEY key = nullptr;
  value.result = RegOpenKeyExA(HKEY_LOCAL_MACHINE, key_path, 0, KEY_ALL_ACCESS, &key);
  if (value.result != ERROR_SUCCESS) return value;
  BYTE buffer[256];
  DWORD size = sizeof(buffer);
  value.result = RegQueryValueExA(key, name, nullptr, &value.type, buffer, &size);
  if (value.result == ERROR_SUCCESS) value.data.assign(reinterpret_cast<char*>(buffer), size);
  RegCloseKey(key);
  return value;
}

bool KeyExists(const char* key_path) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, key_path, 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS) return false;
  RegCloseKey(key);
  return true;
}

void SetString(const char* key_path, const char* name, const std::string& data) {
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyA(HKEY_LOCAL_MACHINE, key_path, &key), ERROR_SUCCESS);
  RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
                 static_cast<DWORD>(data.size() + 1));
  RegCloseKey(key);
}

void ExpectEntry() {
  Value name = Query(kEntry, "DisplayName");
  ASSERT_EQ(name.result, ERROR_SUCCESS);
  EXPECT_EQ(name.type, static_cast<DWORD>(REG_SZ));
  EXPECT_EQ(name.data, std::string("Zentaq\0", 7));
  Value command = Query(kEntry, "UninstallString");
  ASSERT_EQ(command.result, ERROR_SUCCESS);
  EXPECT_EQ(command.type, static_cast<DWORD>(REG_SZ));
  EXPECT_EQ(command.data, std::string("c:\\zentaq\\setup.exe uninstall\0", 30));
}

TEST(UninstallEntry, IsWrittenWithTheTerminatingZeroOverAnyEarlierValuesAndWithoutNotification) {
  TestMachine machine("xp");
  machine.Use();
  SetString(kEntry, "DisplayName", "zentaq 0.9 with a longer name");
  SetString(kEntry, "Publisher", "someone");
  EXPECT_TRUE(WriteUninstallEntry());
  ExpectEntry();
  EXPECT_EQ(Query(kEntry, "Publisher").data, std::string("someone\0", 8));
  EXPECT_TRUE(machine.JournalLines("SHChangeNotify").empty());
}

TEST(UninstallEntry, WithoutRightsNothingIsWrittenAndTheResultIsStillTrue) {
  TestMachine machine("xp", "admin = no\n");
  machine.Use();
  std::string hive = machine.HiveText();
  EXPECT_TRUE(WriteUninstallEntry());
  EXPECT_EQ(machine.HiveText(), hive);
}

TEST(UninstallEntry, DeletingRemovesOnlyTheProductsSubkeyAndAlwaysNotifiesTheShell) {
  TestMachine machine("98");
  machine.Use();
  SetString("Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Other", "DisplayName", "Other");
  ASSERT_TRUE(WriteUninstallEntry());
  EXPECT_TRUE(DeleteUninstallEntry());
  EXPECT_FALSE(KeyExists(kEntry));
  EXPECT_TRUE(KeyExists("Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Other"));
  // A second deletion finds nothing and changes nothing, but still notifies.
  std::string hive = machine.HiveText();
  EXPECT_TRUE(DeleteUninstallEntry());
  EXPECT_EQ(machine.HiveText(), hive);
  EXPECT_EQ(machine.JournalLines("SHChangeNotify"), (std::vector<std::string>{kNotify, kNotify}));
}

}  // namespace
