// The hive's text form in system.reg, and how a process keeps it current.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "common/test_machine.h"
#include "platform/sim/registry/hive.h"
#include "platform/sim/machine.h"

using winsim::Hive;
using winsim::MachineError;
using winsim::RegKey;
using winsim::RegValue;

namespace {

std::vector<uint8_t> Bytes(const std::string& s) { return std::vector<uint8_t>(s.begin(), s.end()); }

void Set(RegKey* key, const std::string& name, DWORD type, const std::string& data) {
  key->SetValue(name, type, reinterpret_cast<const uint8_t*>(data.data()), data.size());
}

Hive RoundTrip(const Hive& hive) { return Hive::Parse(hive.Serialize(), "system.reg"); }

std::string ParseError(const std::string& text) {
  try {
    Hive::Parse(text, "system.reg");
  } catch (const MachineError& e) {
    return e.what();
  }
  return "parsed";
}

}  // namespace

TEST(HiveText, ValuesKeepTheirExactBytesTypesAndLengths) {
  Hive hive;
  RegKey* key = hive.Create("SOFTWARE\\Vendor");
  Set(key, "WithNul", REG_SZ, std::string("Zentaq\0", 7));
  Set(key, "WithoutNul", REG_SZ, "Zentaq");
  Set(key, "NulInside", REG_SZ, std::string("a\0b\0", 4));
  Set(key, "Empty", REG_SZ, "");
  Set(key, "Escapes", REG_SZ, std::string("c:\\zentaq\\\"q\"\0", 14));
  Set(key, "Dword", REG_DWORD, std::string("\x01\x02\x03\xff", 4));
  Set(key, "ShortDword", REG_DWORD, std::string("\x01\x02", 2));
  Set(key, "Binary", REG_BINARY, std::string(300, '\x5a'));
  Set(key, "Multi", REG_MULTI_SZ, std::string("a\0b\0\0", 5));
  Set(key, "Odd", 0x1234, "x");
  Set(key, "", REG_SZ, std::string("default\0", 8));
  Set(key, "Line\nBreak \"name\"", REG_SZ, std::string("x\r\ny\0", 5));

  std::string text = hive.Serialize();
  EXPECT_NE(text.find("\"WithNul\"=\"Zentaq\"\n"), std::string::npos) << text;
  EXPECT_NE(text.find("\"Escapes\"=\"c:\\\\zentaq\\\\\\\"q\\\"\"\n"), std::string::npos) << text;
  EXPECT_NE(text.find("\"Dword\"=dword:ff030201\n"), std::string::npos) << text;
  EXPECT_NE(text.find("@=\"default\"\n"), std::string::npos) << text;
  EXPECT_NE(text.find("\"WithoutNul\"=hex(1):5a,65,6e,74,61,71\n"), std::string::npos) << text;
  EXPECT_NE(text.find("\"ShortDword\"=hex(4):01,02\n"), std::string::npos) << text;

  Hive back = RoundTrip(hive);
  const RegKey* copy = back.Find("SOFTWARE\\Vendor");
  ASSERT_NE(copy, nullptr);
  ASSERT_EQ(copy->values.size(), key->values.size());
  for (size_t i = 0; i < key->values.size(); ++i) {
    EXPECT_EQ(copy->values[i].name, key->values[i].name);
    EXPECT_EQ(copy->values[i].type, key->values[i].type) << key->values[i].name;
    EXPECT_EQ(copy->values[i].data, key->values[i].data) << key->values[i].name;
  }
  EXPECT_EQ(back.Serialize(), text);
}

TEST(HiveText, KeysKeepCaseOrderAndEmptyKeysAndAreFoundInAnyCase) {
  Hive hive;
  hive.Create("SYSTEM\\Zeta");
  hive.Create("SOFTWARE\\Microsoft\\Windows");
  hive.Create("SYSTEM\\alpha\\Empty");
  RegKey* key = hive.Create("SOFTWARE\\Caf\xe9 \xc4");  // single-byte non-ASCII
  Set(key, "N\xe4me", REG_SZ, std::string("\xe9t\xe9\0", 4));

  std::string text = hive.Serialize();
  EXPECT_EQ(text.rfind("REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\SYSTEM]\n", 0), 0u) << text;
  EXPECT_LT(text.find("[HKEY_LOCAL_MACHINE\\SYSTEM\\Zeta]"), text.find("[HKEY_LOCAL_MACHINE\\SYSTEM\\alpha]"));
  EXPECT_LT(text.find("[HKEY_LOCAL_MACHINE\\SYSTEM\\alpha\\Empty]"), text.find("[HKEY_LOCAL_MACHINE\\SOFTWARE]"));
  EXPECT_NE(text.find("\"N\xe4me\"=\"\xe9t\xe9\"\n"), std::string::npos) << text;

  Hive back = RoundTrip(hive);
  EXPECT_EQ(back.Serialize(), text);
  ASSERT_NE(back.Find("system\\ALPHA\\empty"), nullptr);
  EXPECT_EQ(back.Find("system\\ALPHA\\empty")->Path(), "SYSTEM\\alpha\\Empty");
  EXPECT_EQ(back.Find("SOFTWARE\\Microsoft\\Windows\\Missing"), nullptr);
  ASSERT_NE(back.Find("software\\CAF\xe9 \xc4"), nullptr);
  EXPECT_NE(back.Find("software\\CAF\xe9 \xc4")->Value("n\xe4" "ME"), nullptr);
  EXPECT_EQ(back.Find("software\\CAF\xe9 \xc4")->Value("N\xc4me"), nullptr) << "only letters A-Z fold";
}

TEST(HiveText, ValuesAreOverwrittenInPlaceAndKeysRemovedWithTheirTree) {
  Hive hive;
  RegKey* key = hive.Create("A\\B");
  Set(key, "First", REG_SZ, "1");
  Set(key, "Second", REG_SZ, "2");
  Set(key, "FIRST", REG_DWORD, "\x07\0\0\0");
  ASSERT_EQ(key->values.size(), 2u);
  EXPECT_EQ(key->values[0].name, "First");
  EXPECT_EQ(key->values[0].type, static_cast<DWORD>(REG_DWORD));
  EXPECT_EQ(hive.Create("a\\b"), key);

  hive.Create("A\\B\\C\\D");
  EXPECT_TRUE(hive.Remove("a\\b"));
  EXPECT_EQ(hive.Find("A\\B\\C"), nullptr);
  EXPECT_NE(hive.Find("A"), nullptr);
  EXPECT_FALSE(hive.Remove("A\\B"));
  hive.Create("A\\b");
  EXPECT_EQ(hive.Find("A\\B")->name, "b") << "a key made again takes its new spelling";
}

TEST(HiveText, ReadsWhatRegeditWrites) {
  Hive hive = Hive::Parse(
      "REGEDIT4\r\n\r\n; a comment\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\V]\r\n"
      "\"Bin\"=hex:01,02,\\\r\n  03,04\r\n\"D\"=dword:1f\r\n\"T\"=hex(7):61,00,00\r\n\"Short\"=hex:1,a, F\r\n"
      "[hkey_local_machine\\software\\v\\Sub]\r\n",
      "system.reg");
  const RegKey* key = hive.Find("SOFTWARE\\V");
  ASSERT_NE(key, nullptr);
  EXPECT_EQ(key->Value("Bin")->data, Bytes("\x01\x02\x03\x04"));
  EXPECT_EQ(key->Value("D")->data, Bytes(std::string("\x1f\0\0\0", 4)));
  EXPECT_EQ(key->Value("T")->type, static_cast<DWORD>(REG_MULTI_SZ));
  EXPECT_EQ(key->Value("Short")->data, Bytes("\x01\x0a\x0f")) << "regedit reads a byte of one digit";
  EXPECT_NE(hive.Find("SOFTWARE\\V\\Sub"), nullptr);
}

TEST(HiveText, ParseErrorsNameTheFileAndTheLine) {
  EXPECT_EQ(ParseError(""), "system.reg:0: expected REGEDIT4");
  EXPECT_EQ(ParseError("REGEDIT5\n"), "system.reg:1: expected REGEDIT4");
  EXPECT_EQ(ParseError("REGEDIT4\n\n\"x\"=\"y\"\n"), "system.reg:3: value outside a key");
  EXPECT_EQ(ParseError("REGEDIT4\n\n[HKEY_CURRENT_USER\\X]\n"),
            "system.reg:3: key outside HKEY_LOCAL_MACHINE: HKEY_CURRENT_USER\\X");
  EXPECT_EQ(ParseError("REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\X\n"), "system.reg:3: missing ] after the key name");
  EXPECT_EQ(ParseError("REGEDIT4\n[HKEY_LOCAL_MACHINE\\X]\n\"a\"=dword:123456789\n"), "system.reg:3: bad dword");
  EXPECT_EQ(ParseError("REGEDIT4\n[HKEY_LOCAL_MACHINE\\X]\n\"a\"=hex:01,0g\n"), "system.reg:3: bad hex byte");
  EXPECT_EQ(ParseError("REGEDIT4\n[HKEY_LOCAL_MACHINE\\X]\n\"a\"=hex:01,\\\n"),
            "system.reg:3: missing continuation line");
  EXPECT_EQ(ParseError("REGEDIT4\n[HKEY_LOCAL_MACHINE\\X]\n\"a=\"b\"\n"), "system.reg:3: expected = after the value name");
  EXPECT_EQ(ParseError("REGEDIT4\n[HKEY_LOCAL_MACHINE\\X]\n\"a\"=\"b\n"), "system.reg:3: unterminated string");
  EXPECT_EQ(ParseError("REGEDIT4\n[HKEY_LOCAL_MACHINE\\X]\n\"a\"=wrong\n"), "system.reg:3: unknown value data");
  EXPECT_EQ(ParseError("REGEDIT4\n[HKEY_LOCAL_MACHINE\\X]\na=\"b\"\n"), "system.reg:3: expected a value name");
  EXPECT_EQ(ParseError("REGEDIT4\n[HKEY_LOCAL_MACHINE\\X]\n\"a\"=\"b\"c\n"), "system.reg:3: text after the string");
  EXPECT_EQ(ParseError("REGEDIT4\n[HKEY_LOCAL_MACHINE\\X]\n\"a\"=hex:123\n"), "system.reg:3: bad hex byte");
  EXPECT_EQ(ParseError("REGEDIT4\n[HKEY_LOCAL_MACHINE\\X]\n\"a\"=hex:,01\n"), "system.reg:3: bad hex byte");
}

TEST(HiveFile, ChangesAreSavedAndOutsideChangesSeen) {
  TestMachine machine("xp");
  machine.Use();
  winsim::ChangeHive([](Hive& hive) {
    Set(hive.Create("SOFTWARE\\Probe"), "V", REG_SZ, std::string("one\0", 4));
    return true;
  });
  EXPECT_NE(machine.HiveText().find("[HKEY_LOCAL_MACHINE\\SOFTWARE\\Probe]\n\"V\"=\"one\"\n"), std::string::npos);

  // Another process rewrites the file: the next read sees it.
  std::string text = machine.HiveText();
  text.replace(text.find("\"one\""), 5, "\"two\"");
  winsim::WriteFileAtomic(machine.root() + "/system.reg", text);
  EXPECT_EQ(winsim::ReadHive().Find("SOFTWARE\\Probe")->Value("V")->data, Bytes(std::string("two\0", 4)));

  // A change that reports no change leaves the file as it is.
  winsim::ChangeHive([](Hive& hive) {
    hive.Create("SOFTWARE\\NotSaved");
    return false;
  });
  EXPECT_EQ(machine.HiveText(), text);
}

TEST(HiveFile, AFileThatCannotBeReplacedIsAnErrorNotASilentLoss) {
  TestMachine machine("xp");
  machine.Use();
  // A folder where the file should be: the rename into place fails.
  std::string target = machine.root() + "/blocked";
  ASSERT_EQ(mkdir(target.c_str(), 0755), 0);
  ASSERT_EQ(mkdir((target + "/inside").c_str(), 0755), 0);
  EXPECT_THROW(winsim::WriteFileAtomic(target, "text"), MachineError);
  std::string text;
  EXPECT_FALSE(winsim::ReadWholeFile(target + ".tmp-" + std::to_string(getpid()), &text)) << "no temporary left";
}

TEST(HiveFile, AFileThatDoesNotParseIsReportedAndNeverRewritten) {
  TestMachine machine("xp");
  machine.Use();
  std::string broken = "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE]\n\"a\"=nonsense\n";
  winsim::WriteFileAtomic(machine.root() + "/system.reg", broken);
  EXPECT_THROW(winsim::ReadHive(), MachineError);
  try {
    winsim::ChangeHive([](Hive& hive) {
      hive.Create("SOFTWARE\\X");
      return true;
    });
    ADD_FAILURE() << "the change ran on a hive that does not parse";
  } catch (const MachineError& e) {
    EXPECT_STREQ(e.what(), "system.reg:4: unknown value data");
  }
  EXPECT_EQ(machine.HiveText(), broken);
}
