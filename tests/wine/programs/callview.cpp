// Makes the kinds of call that setup makes outside the spooler (files,
// profile strings, the registry, the service control manager) on scratch
// objects of its own and on what the step left, and prints what each call
// answered, one call a line, tab-separated:
//   NAME RESULT LAST-ERROR [OUTPUT...]
// The last error is set to 0xdeadbeef before each call and printed after a
// failure; after a success only where Windows sets it (CreateFileA: 0, or
// ERROR_ALREADY_EXISTS where OPEN_ALWAYS or CREATE_ALWAYS found the file),
// else "-". Every scratch object is removed again, but a monitor library
// that the spooler holds (callview_files.cpp).
//
// Built with mingw-w64 (under Wine) and over the simulated machine (its
// WINSIM_ROOT), from the same source.
#include <cstdio>
#include <string>

#include "callview.h"
#include "platform/win32.h"
#include "view_main.h"

namespace callview {
namespace {

// A "~" in its name, as in a short name: the file name is everything after
// the last separator.
const char kScratchIni[] = "c:\\zentaq\\ztq~scratch.ini";
const char kConfig[] = "c:\\zentaq\\res\\zentaq.ini";
const char kScratchKey[] = "SOFTWARE\\ZentaqProbe";

// Text with its line ends as the escapes \r and \n, on one line.
std::string Escaped(const char* text, size_t length) {
  std::string out;
  for (size_t i = 0; i < length; ++i) {
    if (text[i] == '\r') out += "\\r";
    else if (text[i] == '\n') out += "\\n";
    else out += text[i];
  }
  return out;
}

// A file's bytes, as setup's reads get them.
void Bytes(const std::string& label, const char* name) {
  HANDLE file = Open(label, name, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
  char buffer[512];
  DWORD count = 0;
  if (file != INVALID_HANDLE_VALUE && ReadFile(file, buffer, sizeof buffer, &count, nullptr))
    printf("%s bytes\t%s\n", label.c_str(), Escaped(buffer, count).c_str());
  Close(file);
}

std::string Profile(const char* section, const char* key, DWORD size, const char* file,
                    const char* fallback = "default") {
  char buffer[1024] = {};
  SetLastError(kUntouched);
  DWORD n = GetPrivateProfileStringA(section, key, fallback, buffer, size, file);
  std::string out = Field(n) + Text(buffer, n < sizeof buffer ? n : 0);
  printf("profile %s/%s (%lu)\t%s\n", section ? section : "*", key ? key : "*", static_cast<unsigned long>(size),
         out.c_str() + 1);
  return std::string(buffer, n < sizeof buffer ? n : 0);
}

void Profiles() {
  // The configuration file as the step left it: its sections, their keys
  // and values, as setup's reads see them.
  std::string sections = Profile(nullptr, nullptr, 1024, kConfig);
  for (size_t at = 0; at < sections.size(); at = sections.find('\0', at) + 1) {
    std::string section = sections.c_str() + at;
    std::string keys = Profile(section.c_str(), nullptr, 1024, kConfig);
    for (size_t k = 0; k < keys.size(); k = keys.find('\0', k) + 1)
      Profile(section.c_str(), keys.c_str() + k, 1024, kConfig);
  }
  Profile("Parameters", "Quiet", 1, kConfig);
  Profile("Parameters", "Missing", 4, kConfig);
  // A file that isn't there gives the default, with ERROR_FILE_NOT_FOUND.
  {
    char buffer[16] = {};
    SetLastError(kUntouched);
    DWORD n = GetPrivateProfileStringA("Probe", "Name", "none", buffer, sizeof buffer, "c:\\zentaq\\missing.ini");
    Line("profile of a missing file", n == 4, Field(GetLastError()) + Text(buffer, n < sizeof buffer ? n : 0));
  }
  // The default loses its trailing blanks.
  Profile("Parameters", "Missing", 1024, kConfig, "default  ");

  // A file of its own: written, read back in small and large buffers.
  Try("write profile", [&] { return WritePrivateProfileStringA("Probe", "Name", "  a value  ", kScratchIni); });
  Try("write profile", [&] { return WritePrivateProfileStringA("Probe", "Other", "\"quoted\"", kScratchIni); });
  Try("write profile", [&] { return WritePrivateProfileStringA("Second", "Name", "second", kScratchIni); });
  Try("write profile", [&] { return WritePrivateProfileStringA("Probe", "name", "replaced", kScratchIni); });
  Profile(nullptr, nullptr, 1024, kScratchIni);
  Profile("Probe", nullptr, 1024, kScratchIni);
  Profile("Probe", "Name", 1024, kScratchIni);
  Profile("probe", "OTHER", 1024, kScratchIni);
  Profile("Probe", "Name", 4, kScratchIni);
  Profile("Second", "Name", 1024, kScratchIni);
  // Only blanks and tabs are trimmed: a "~" at either end stays.
  Try("write profile", [&] { return WritePrivateProfileStringA("Second", "~Tilde~", "~ends~", kScratchIni); });
  Profile("Second", "~Tilde~", 1024, kScratchIni);
  Try("delete profile key", [&] { return WritePrivateProfileStringA("Probe", "Other", nullptr, kScratchIni); });
  // Deleting what is not there succeeds.
  Try("delete profile key again", [&] { return WritePrivateProfileStringA("Probe", "Other", nullptr, kScratchIni); });
  Try("delete profile key of a missing section",
      [&] { return WritePrivateProfileStringA("NoSuchSection", "Other", nullptr, kScratchIni); });
  // No section: 2 from Windows 2000 on (9x leaves the last error alone;
  // Wine answers as NT whatever version it reports).
  if (Nt()) {
    Try("write profile without a section",
        [&] { return WritePrivateProfileStringA(nullptr, "Other", "x", kScratchIni); });
  }
  // An empty file name is the Windows folder itself.
  Try("write profile to an empty file name", [&] { return WritePrivateProfileStringA("Probe", "Other", "x", ""); });
  Profile("Probe", nullptr, 1024, kScratchIni);
  Bytes("profile file", kScratchIni);
  // A file that another program wrote: line feeds alone, a comment, blanks,
  // values in quotes of either kind, a last line without a line end.
  HANDLE file = Open("profile by hand", kScratchIni, GENERIC_WRITE, 0, CREATE_ALWAYS);
  const char kByHand[] =
      "; by hand\n[Probe]\nName = one\nSingle = ' two ' \nDouble=\"three\"\nMixed='four\"\nLone='\nEmpty=''\n"
      "\n[Second]\nName=two";
  DWORD count = 0;
  WriteFile(file, kByHand, sizeof kByHand - 1, &count, nullptr);
  Close(file);
  printf("profile file as written\t%s\n", Escaped(kByHand, sizeof kByHand - 1).c_str());
  for (const char* key : {"Name", "Single", "Double", "Mixed", "Lone", "Empty"}) Profile("Probe", key, 1024, kScratchIni);
  Profile("Second", nullptr, 1024, kScratchIni);
  // A key added to the first section: the last line stays without a line
  // end; then one added to the last section, after that line.
  Try("write profile", [&] { return WritePrivateProfileStringA("Probe", "Added", "three", kScratchIni); });
  Bytes("profile file by hand", kScratchIni);
  Try("write profile", [&] { return WritePrivateProfileStringA("Second", "Added", "four", kScratchIni); });
  Bytes("profile file by hand, last section", kScratchIni);
  // The wide call writes its text in the ANSI code page (1252): an accented
  // letter by its best fit, one that 1252 has as itself, a C1 control and
  // what nothing fits as '?'. (The 9x family only has a stub of it.)
  if (Nt()) {
    const WCHAR section[] = {'P', 'r', 'o', 'b', 'e', 0};
    const WCHAR key[] = {'W', 'i', 'd', 'e', 0};
    const WCHAR value[] = {'x', 0x100, 'y', 0xe9, 0x152, 0x20ac, 0x80, 0x17f, 0x180,
                           0x1ff, 0x200, 0x9f, 0xa0, 0xff, 0x81, 0x2122, 0x2123, 0};
    WCHAR file[sizeof kScratchIni] = {};
    for (size_t i = 0; i < sizeof kScratchIni; ++i) file[i] = static_cast<unsigned char>(kScratchIni[i]);
    Try("write profile, wide", [&] { return WritePrivateProfileStringW(section, key, value, file); });
    Profile("Probe", "Wide", 1024, kScratchIni);
  }
  Try("delete profile", [&] { return DeleteFileA(kScratchIni); });
  // A bare name is a file of the Windows folder (a "~" in it is part of a
  // long name).
  const char kBare[] = "ztq~probe.ini";
  char kInWindows[MAX_PATH] = {};
  GetWindowsDirectoryA(kInWindows, MAX_PATH - sizeof kBare - 1);
  lstrcatA(kInWindows, "\\");
  lstrcatA(kInWindows, kBare);
  Try("write profile by a bare name", [&] { return WritePrivateProfileStringA("Probe", "Name", "bare", kBare); });
  Profile("Probe", "Name", 1024, kInWindows);
  Try("delete profile by its path", [&] { return DeleteFileA(kInWindows); });
}

// A profile file mapped to the registry (NT's IniFileMapping): its section
// Probe read from the scratch key once the mapping is there, from the file
// again once it is gone. NT reads the mappings when a process first uses
// them; the call with all three strings NULL flushes them, for one file or,
// without a file, all of them.
void Mapped() {
  if (!Nt()) return;
  const char kMapping[] = "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\IniFileMapping\\ztq~scratch.ini";
  auto set_mapping = [&kMapping]() {
    HKEY map = nullptr;
    LONG status = RegCreateKeyA(HKEY_LOCAL_MACHINE, kMapping, &map);
    if (status == ERROR_SUCCESS) {
      status = RegSetValueExA(map, "Probe", 0, REG_SZ, reinterpret_cast<const BYTE*>("SYS:ZentaqProbe"), 16);
      // The section User goes to the user's hive, where the key is not.
      if (status == ERROR_SUCCESS)
        status = RegSetValueExA(map, "User", 0, REG_SZ, reinterpret_cast<const BYTE*>("USR:ZentaqProbe"), 16);
      // The section Whole goes to HKLM\SOFTWARE itself.
      if (status == ERROR_SUCCESS)
        status = RegSetValueExA(map, "Whole", 0, REG_SZ, reinterpret_cast<const BYTE*>("SYS:"), 5);
      // Flags before the root change nothing for a read; a root that is
      // neither SYS: nor USR: maps the section nowhere.
      if (status == ERROR_SUCCESS)
        status = RegSetValueExA(map, "Flagged", 0, REG_SZ, reinterpret_cast<const BYTE*>("!#@SYS:ZentaqProbe"), 19);
      if (status == ERROR_SUCCESS)
        status = RegSetValueExA(map, "Tilde", 0, REG_SZ, reinterpret_cast<const BYTE*>("~SYS:ZentaqProbe"), 17);
      // A value that holds no text maps nothing.
      const DWORD one = 1;
      if (status == ERROR_SUCCESS)
        status = RegSetValueExA(map, "Numbered", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&one), sizeof one);
      RegCloseKey(map);
    }
    return status;
  };
  LONG status = set_mapping();
  printf("mapping set\t%ld\n", static_cast<long>(status));
  printf("profile flush all\t%d\n", WritePrivateProfileStringA(nullptr, nullptr, nullptr, nullptr));
  Profile("Probe", "Text", 1024, kScratchIni);
  // A REG_DWORD value is no profile string.
  Profile("Probe", "Number", 1024, kScratchIni);
  Profile("User", "Text", 1024, kScratchIni);
  Profile("Flagged", "Text", 1024, kScratchIni);
  Profile("Tilde", "Text", 1024, kScratchIni);
  // A section that no value maps (and no unnamed one) is the file's own.
  for (const char* section : {"Unmapped", "Numbered"}) {
    Try(std::string("write profile, section ") + section,
        [&] { return WritePrivateProfileStringA(section, "Name", "in the file", kScratchIni); });
    Profile(section, "Name", 1024, kScratchIni);
  }
  // A key written through the mapping lands in the registry.
  Try("write mapped profile", [&] { return WritePrivateProfileStringA("Probe", "Written", "through", kScratchIni); });
  char text[16] = {};
  DWORD room = sizeof text;
  HKEY key = nullptr;
  status = RegOpenKeyExA(HKEY_LOCAL_MACHINE, kScratchKey, 0, KEY_READ, &key);
  if (status == ERROR_SUCCESS) {
    status = RegQueryValueExA(key, "Written", nullptr, nullptr, reinterpret_cast<BYTE*>(text), &room);
    RegCloseKey(key);
  }
  printf("reg query written through the mapping\t%ld\t%s\n", static_cast<long>(status),
         status == ERROR_SUCCESS ? text : "");
  Try("write profile mapped to SOFTWARE",
      [&] { return WritePrivateProfileStringA("Whole", "ZentaqProbe", "whole", kScratchIni); });
  Profile("Whole", "ZentaqProbe", 1024, kScratchIni);
  Try("delete profile key mapped to SOFTWARE",
      [&] { return WritePrivateProfileStringA("Whole", "ZentaqProbe", nullptr, kScratchIni); });
  Profile("Whole", "ZentaqProbe", 1024, kScratchIni);
  status = RegDeleteKeyA(HKEY_LOCAL_MACHINE, kMapping);
  printf("mapping deleted\t%ld\n", static_cast<long>(status));
  printf("profile flush\t%d\n", WritePrivateProfileStringA(nullptr, nullptr, nullptr, kScratchIni));
  Profile("Probe", "Text", 1024, kScratchIni);
  // Mapped again, then gone again: the flush of every mapping forgets it too.
  printf("mapping set again\t%ld\n", static_cast<long>(set_mapping()));
  printf("profile flush all\t%d\n", WritePrivateProfileStringA(nullptr, nullptr, nullptr, nullptr));
  Profile("Probe", "Text", 1024, kScratchIni);
  printf("mapping deleted again\t%ld\n", static_cast<long>(RegDeleteKeyA(HKEY_LOCAL_MACHINE, kMapping)));
  printf("profile flush all\t%d\n", WritePrivateProfileStringA(nullptr, nullptr, nullptr, nullptr));
  Profile("Probe", "Text", 1024, kScratchIni);
  Try("delete the mapped file", [&] { return DeleteFileA(kScratchIni); });
}

void Registry() {
  HKEY key = nullptr;
  HKEY sub = nullptr;
  LONG status = RegOpenKeyExA(HKEY_LOCAL_MACHINE, kScratchKey, 0, KEY_READ, &key);
  printf("reg open missing\t%ld\n", static_cast<long>(status));
  status = RegCreateKeyA(HKEY_LOCAL_MACHINE, kScratchKey, &key);
  printf("reg create\t%ld\n", static_cast<long>(status));
  status = RegCreateKeyA(key, "Sub", &sub);
  printf("reg create sub\t%ld\n", static_cast<long>(status));
  if (sub) RegCloseKey(sub);
  // No subkey name: a new handle to the key itself.
  sub = nullptr;
  status = RegCreateKeyA(key, nullptr, &sub);
  printf("reg create without a name\t%ld\t%d\n", static_cast<long>(status), sub != nullptr && sub != key);
  if (status == ERROR_SUCCESS) RegCloseKey(sub);
  DWORD dword = 0x12345678;
  status = RegSetValueExA(key, "Text", 0, REG_SZ, reinterpret_cast<const BYTE*>("value"), 6);
  printf("reg set sz\t%ld\n", static_cast<long>(status));
  status = RegSetValueExA(key, "Number", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&dword), sizeof dword);
  printf("reg set dword\t%ld\n", static_cast<long>(status));
  for (DWORD room : {0u, 3u, 6u, 64u}) {
    BYTE data[64] = {};
    DWORD type = kUntouched;
    DWORD size = room;
    status = RegQueryValueExA(key, "Text", nullptr, &type, room ? data : nullptr, &size);
    printf("reg query sz (%lu)\t%ld\t%lu\t%lu%s\n", static_cast<unsigned long>(room), static_cast<long>(status),
           static_cast<unsigned long>(type), static_cast<unsigned long>(size),
           status == ERROR_SUCCESS && room ? Text(reinterpret_cast<char*>(data), size).c_str() : "");
  }
  // The key's default value, set and read under a NULL name and under "".
  status = RegSetValueExA(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>("default"), 8);
  printf("reg set default\t%ld\n", static_cast<long>(status));
  for (const char* value_name : {static_cast<const char*>(nullptr), ""}) {
    char text[16] = {};
    DWORD room = sizeof text;
    status = RegQueryValueExA(key, value_name, nullptr, nullptr, reinterpret_cast<BYTE*>(text), &room);
    printf("reg query default (%s)\t%ld\t%lu%s\n", value_name ? "empty name" : "NULL", static_cast<long>(status),
           static_cast<unsigned long>(room), status == ERROR_SUCCESS ? Text(text, room).c_str() : "");
  }
  DWORD read = 0;
  DWORD size = sizeof read;
  status = RegQueryValueExA(key, "Number", nullptr, nullptr, reinterpret_cast<BYTE*>(&read), &size);
  printf("reg query dword\t%ld\t%lx\t%lu\n", static_cast<long>(status), static_cast<unsigned long>(read), static_cast<unsigned long>(size));
  size = 4;
  status = RegQueryValueExA(key, "Missing", nullptr, nullptr, reinterpret_cast<BYTE*>(&read), &size);
  printf("reg query missing\t%ld\n", static_cast<long>(status));
  char name[64];
  for (DWORD i = 0; i < 2; ++i) {
    status = RegEnumKeyA(key, i, name, sizeof name);
    printf("reg enum %lu\t%ld\t%s\n", static_cast<unsigned long>(i), static_cast<long>(status), status == ERROR_SUCCESS ? name : "");
  }
  status = RegEnumKeyA(key, 0, name, 2);
  printf("reg enum, small buffer\t%ld\n", static_cast<long>(status));
  // Room for "Sub" but not its NUL.
  status = RegEnumKeyA(key, 0, name, 3);
  printf("reg enum, no room for the NUL\t%ld\n", static_cast<long>(status));
  // A line break in a key name: Windows and Wine take it; the simulated
  // machine, whose system.reg holds a key a line, refuses it (call_view.py).
  sub = nullptr;
  status = RegCreateKeyA(key, "Line\nBreak", &sub);
  printf("reg create with a line break\t%ld\n", static_cast<long>(status));
  if (status == ERROR_SUCCESS) RegCloseKey(sub);
  printf("reg close\t%ld\n", static_cast<long>(RegCloseKey(key)));
  printf("reg close again\t%ld\n", static_cast<long>(RegCloseKey(key)));
  // A predefined key "closes" and stays usable.
  printf("reg close predefined\t%ld\t%ld\n", static_cast<long>(RegCloseKey(HKEY_CLASSES_ROOT)),
         static_cast<long>(RegCloseKey(HKEY_LOCAL_MACHINE)));
  // A key that nobody made, under two more of the roots that every system
  // has (setup reads only HKEY_LOCAL_MACHINE): not found.
  for (HKEY root : {HKEY_CLASSES_ROOT, HKEY_CURRENT_USER}) {
    HKEY missing = nullptr;
    status = RegOpenKeyExA(root, "ZentaqProbe\\Missing", 0, KEY_READ, &missing);
    printf("reg open missing under a root\t%ld\n", static_cast<long>(status));
    if (status == ERROR_SUCCESS) RegCloseKey(missing);
  }
  // A handle opened for reading only sets no values, and on NT makes no
  // subkeys (ZwCreateKey asks KEY_CREATE_SUB_KEY of the parent; Wine's server
  // asks nothing of it and makes the key: call_view.py). The 9x registry has
  // no security.
  status = RegOpenKeyExA(HKEY_LOCAL_MACHINE, kScratchKey, 0, KEY_READ, &key);
  printf("reg open for reading\t%ld\n", static_cast<long>(status));
  status = RegSetValueExA(key, "Text", 0, REG_SZ, reinterpret_cast<const BYTE*>("other"), 6);
  printf("reg set through it\t%ld\n", static_cast<long>(status));
  sub = nullptr;
  status = RegCreateKeyA(key, "Made", &sub);
  printf("reg create sub through it\t%ld\n", static_cast<long>(status));
  if (status == ERROR_SUCCESS) RegCloseKey(sub);
  RegCloseKey(key);
  Mapped();
  // Windows NT refuses to delete a key with subkeys; 9x deletes the tree.
  if (Nt()) {
    status = RegDeleteKeyA(HKEY_LOCAL_MACHINE, kScratchKey);
    printf("reg delete with a subkey\t%ld\n", static_cast<long>(status));
  }
  printf("reg delete tree\t%lu\n", static_cast<unsigned long>(SHDeleteKeyA(HKEY_LOCAL_MACHINE, kScratchKey)));
  status = RegDeleteKeyA(HKEY_LOCAL_MACHINE, kScratchKey);
  printf("reg delete missing\t%ld\n", static_cast<long>(status));
}

void Services() {
  // Windows 9x has no service control manager.
  if (!Nt()) return;
  SetLastError(kUntouched);
  SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
  Line("scm open", manager != nullptr);
  // The databases by name: the active one, the failed one, none of that name.
  for (const char* database : {"ServicesActive", "ServicesFailed", "DoesNotExist"}) {
    SetLastError(kUntouched);
    SC_HANDLE other = OpenSCManagerA(nullptr, database, 0x0001);  // SC_MANAGER_CONNECT
    Line(std::string("scm open ") + database, other != nullptr);
    if (other) CloseServiceHandle(other);
  }
  SetLastError(kUntouched);
  SC_HANDLE missing = OpenServiceA(manager, "NoSuchService", SERVICE_QUERY_STATUS);
  Line("service open missing", missing != nullptr);
  if (missing) CloseServiceHandle(missing);
  SetLastError(kUntouched);
  SC_HANDLE service = OpenServiceA(manager, "Spooler", SERVICE_QUERY_STATUS);
  Line("service open", service != nullptr);
  SERVICE_STATUS status = {};
  status.dwServiceType = status.dwCurrentState = status.dwWin32ExitCode = kUntouched;
  SetLastError(kUntouched);
  BOOL ok = QueryServiceStatus(service, &status);
  Line("service status", ok, Field(status.dwCurrentState) + Field(status.dwWin32ExitCode));
  SetLastError(kUntouched);
  ok = QueryServiceStatus(nullptr, &status);
  Line("service status without a handle", ok);
  // Control codes outside 1 to 255 are refused before anything else.
  for (DWORD control : {0ul, 256ul}) {
    SetLastError(kUntouched);
    ok = ControlService(service, control, &status);
    Line("service control " + std::to_string(control), ok);
  }
  if (service) CloseServiceHandle(service);
  if (manager) CloseServiceHandle(manager);
}

int View() {
  setvbuf(stdout, nullptr, _IOFBF, 1 << 16);
  Files();
  Profiles();
  Registry();
  Services();
  Spooler();
  fflush(stdout);
  return 0;
}

}  // namespace
}  // namespace callview

int main() {
#ifdef _WIN32
  // The harness reads Wine's relay trace of this process by its id.
  fprintf(stderr, "callview pid %lu\n", GetCurrentProcessId());
#endif
  return RunView("callview", callview::View);
}
