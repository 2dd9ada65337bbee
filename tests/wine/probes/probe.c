/* Asks the Windows API the questions whose answers the setup program and the
 * simulated machine depend on, and prints one "name: answer" line each.
 * Built with mingw-w64 and run under Wine with the Windows version set to
 * winxp and to win98; the answers are kept in README.md beside this file.
 *
 *   probe.exe [MONITOR_DLL]
 *
 * MONITOR_DLL: the file name, in the system directory, of a library that
 * Wine's spooler accepts as a port monitor (the test monitor); without it the
 * questions that need one are skipped. */
#include <windows.h>
#include <winspool.h>
#include <shlwapi.h>
#include <stdio.h>
#include <string.h>

static const char kProbeKey[] = "Software\\ZentaqProbe";

static void show_version(void) {
  DWORD v = GetVersion();
  printf("GetVersion: 0x%08lX (bit31=%lu major=%lu minor=%lu build=%lu)\n", v, v >> 31, v & 0xFF,
         (v >> 8) & 0xFF, (v >> 16) & 0x7FFF);
}

static void show_directories(void) {
  char buf[512];
  UINT n = GetSystemDirectoryA(buf, sizeof buf);
  printf("GetSystemDirectoryA: %u \"%s\"\n", n, buf);
  n = GetWindowsDirectoryA(buf, sizeof buf);
  printf("GetWindowsDirectoryA: %u \"%s\"\n", n, buf);
  n = GetModuleFileNameA(NULL, buf, sizeof buf);
  printf("GetModuleFileNameA(NULL): %u \"%s\"\n", n, buf);

  static const char* const envs[] = {NULL, "Windows 4.0", "Windows NT x86", "Windows IA64"};
  for (int i = 0; i < 4; i++) {
    DWORD needed = 0xDEADBEEF;
    memset(buf, 0, sizeof buf);
    SetLastError(0);
    BOOL ok = GetPrinterDriverDirectoryA(NULL, (LPSTR)envs[i], 1, (LPBYTE)buf, 256, &needed);
    DWORD err = GetLastError();
    printf("GetPrinterDriverDirectoryA(env=%s, 256): ret=%d err=%lu needed=%lu \"%s\"\n",
           envs[i] ? envs[i] : "NULL", ok, err, needed, buf);
  }
  DWORD needed = 0;
  SetLastError(0);
  BOOL ok = GetPrinterDriverDirectoryA(NULL, NULL, 1, (LPBYTE)buf, 4, &needed);
  printf("GetPrinterDriverDirectoryA(env=NULL, 4): ret=%d err=%lu needed=%lu\n", ok, GetLastError(), needed);
}

static void show_registry(void) {
  HKEY key;
  HKEY child;
  RegCreateKeyA(HKEY_LOCAL_MACHINE, "Software\\ZentaqProbe\\Parent\\Child", &child);
  RegSetValueExA(child, "Value", 0, REG_SZ, (const BYTE*)"x", 2);
  RegCloseKey(child);
  LONG r = RegOpenKeyExA(HKEY_LOCAL_MACHINE, kProbeKey, 0, KEY_ALL_ACCESS, &key);
  printf("RegOpenKeyExA(probe key): %ld\n", r);
  r = RegDeleteKeyA(key, "Parent");
  LONG still = RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\ZentaqProbe\\Parent", 0, KEY_READ, &child);
  if (still == ERROR_SUCCESS) RegCloseKey(child);
  printf("RegDeleteKeyA(key with a subkey): %ld, key afterwards: %s\n", r, still == ERROR_SUCCESS ? "present" : "gone");
  r = RegDeleteKeyA(key, "NoSuchKey");
  printf("RegDeleteKeyA(missing key): %ld\n", r);
  r = SHDeleteKeyA(key, "Parent");
  printf("SHDeleteKeyA(key with a subkey): %ld\n", r);
  r = SHDeleteKeyA(key, "NoSuchKey");
  printf("SHDeleteKeyA(missing key): %ld\n", r);
  RegCloseKey(key);
  r = RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\NoSuchKey\\Below", 0, KEY_ALL_ACCESS, &key);
  printf("RegOpenKeyExA(missing key): %ld\n", r);
  SHDeleteKeyA(HKEY_LOCAL_MACHINE, kProbeKey);
}

static void show_monitors(void) {
  static BYTE buf[4096];
  DWORD needed = 0, count = 0;
  SetLastError(0);
  BOOL ok = EnumMonitorsA(NULL, 1, NULL, 0, &needed, &count);
  printf("EnumMonitorsA(level 1, no buffer): ret=%d err=%lu needed=%lu count=%lu\n", ok, GetLastError(), needed,
         count);
  DWORD full = needed;
  if (full > 1 && full <= sizeof buf) {
    memset(buf, 0xAB, sizeof buf);
    DWORD small_needed = 0;
    count = 0xDEAD;
    SetLastError(0);
    ok = EnumMonitorsA(NULL, 1, buf, full - 1, &small_needed, &count);
    int touched = 0;
    for (DWORD i = 0; i < full - 1; i++) touched |= buf[i] != 0xAB;
    printf("EnumMonitorsA(level 1, needed-1 bytes): ret=%d err=%lu needed=%lu count=%lu buffer %s\n", ok,
           GetLastError(), small_needed, count, touched ? "written" : "untouched");
  }
  memset(buf, 0xAB, sizeof buf);
  SetLastError(0);
  ok = EnumMonitorsA(NULL, 1, buf, sizeof buf, &needed, &count);
  printf("EnumMonitorsA(level 1, 4096 bytes): ret=%d err=%lu needed=%lu count=%lu\n", ok, GetLastError(), needed,
         count);
  if (ok) {
    MONITOR_INFO_1A* info = (MONITOR_INFO_1A*)buf;
    for (DWORD i = 0; i < count; i++)
      printf("  monitor %lu: \"%s\" at offset %ld\n", i, info[i].pName, (long)((BYTE*)info[i].pName - buf));
  }
  static BYTE ports[8192];
  SetLastError(0);
  ok = EnumPortsA(NULL, 2, ports, sizeof ports, &needed, &count);
  printf("EnumPortsA(level 2, 8192 bytes): ret=%d err=%lu needed=%lu count=%lu\n", ok, GetLastError(), needed, count);
  if (ok) {
    PORT_INFO_2A* info = (PORT_INFO_2A*)ports;
    for (DWORD i = 0; i < count; i++)
      printf("  port %lu: \"%s\" monitor \"%s\" type 0x%lX\n", i, info[i].pPortName,
             info[i].pMonitorName ? info[i].pMonitorName : "(null)", info[i].fPortType);
  }
}

static void add_monitor(const char* what, const char* name, const char* env, const char* dll) {
  MONITOR_INFO_2A mi;
  mi.pName = (LPSTR)name;
  mi.pEnvironment = (LPSTR)env;
  mi.pDLLName = (LPSTR)dll;
  SetLastError(0);
  BOOL ok = AddMonitorA(NULL, 2, (LPBYTE)&mi);
  printf("AddMonitorA(%s): ret=%d err=%lu\n", what, ok, GetLastError());
}

static void delete_monitor(const char* what, const char* env, const char* name) {
  SetLastError(0);
  BOOL ok = DeleteMonitorA(NULL, (LPSTR)env, (LPSTR)name);
  printf("DeleteMonitorA(%s): ret=%d err=%lu\n", what, ok, GetLastError());
}

static void show_monitor_calls(const char* monitor_dll) {
  char sys[MAX_PATH];
  char path[MAX_PATH];
  GetSystemDirectoryA(sys, sizeof sys);
  /* A file with the name of a library that is no program at all, as the
   * placeholder monitor libraries of the product are. */
  snprintf(path, sizeof path, "%s\\ztqprobe_text.dll", sys);
  HANDLE h = CreateFileA(path, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
  DWORD written;
  WriteFile(h, "not a library\r\n", 15, &written, NULL);
  CloseHandle(h);

  add_monitor("library missing, env NULL", "Probe Monitor", NULL, "ztqprobe_missing.dll");
  add_monitor("library missing, env Windows NT x86", "Probe Monitor", "Windows NT x86", "ztqprobe_missing.dll");
  add_monitor("library missing, env Windows 4.0", "Probe Monitor", "Windows 4.0", "ztqprobe_missing.dll");
  add_monitor("text file as library, env Windows NT x86", "Probe Monitor", "Windows NT x86", "ztqprobe_text.dll");
  add_monitor("text file as library, env Windows 4.0", "Probe Monitor", "Windows 4.0", "ztqprobe_text.dll");
  add_monitor("kernel32.dll as library", "Probe Monitor", "Windows NT x86", "kernel32.dll");
  DeleteFileA(path);
  if (monitor_dll) {
    add_monitor("test monitor, env Windows NT x86", "Probe Monitor", "Windows NT x86", monitor_dll);
    add_monitor("test monitor again", "Probe Monitor", "Windows NT x86", monitor_dll);
    add_monitor("test monitor, env Windows 4.0", "Probe Monitor 4", "Windows 4.0", monitor_dll);
    snprintf(path, sizeof path, "%s\\%s", sys, monitor_dll);
    BOOL deleted = DeleteFileA(path);
    printf("DeleteFileA(loaded monitor library): ret=%d err=%lu\n", deleted, deleted ? 0 : GetLastError());
    delete_monitor("test monitor, env Windows NT x86", "Windows NT x86", "Probe Monitor");
    delete_monitor("test monitor again", "Windows NT x86", "Probe Monitor");
  }
  delete_monitor("unknown, env NULL", NULL, "No Such Monitor");
  delete_monitor("unknown, env Windows 4.0", "Windows 4.0", "No Such Monitor");
}

static void show_printer_calls(void) {
  HANDLE h = NULL;
  SetLastError(0);
  BOOL ok = OpenPrinterA("No Such Printer", &h, NULL);
  printf("OpenPrinterA(unknown): ret=%d err=%lu\n", ok, GetLastError());
  static const char* const envs[] = {NULL, "Windows 4.0", "Windows NT x86"};
  for (int i = 0; i < 3; i++) {
    SetLastError(0);
    ok = DeletePrinterDriverA(NULL, (LPSTR)envs[i], "No Such Driver");
    printf("DeletePrinterDriverA(unknown, env=%s): ret=%d err=%lu\n", envs[i] ? envs[i] : "NULL", ok, GetLastError());
  }
  DRIVER_INFO_3A di;
  memset(&di, 0, sizeof di);
  di.cVersion = 2;
  di.pName = "Probe Driver";
  di.pEnvironment = "Windows NT x86";
  di.pDriverPath = "c:\\nosuch\\pscript.dll";
  di.pDataFile = "c:\\nosuch\\gs.PPD";
  di.pConfigFile = "c:\\nosuch\\ui.dll";
  di.pDefaultDataType = "RAW";
  SetLastError(0);
  ok = AddPrinterDriverA(NULL, 3, (LPBYTE)&di);
  printf("AddPrinterDriverA(files missing): ret=%d err=%lu\n", ok, GetLastError());

  PRINTER_INFO_2A pi;
  memset(&pi, 0, sizeof pi);
  pi.pPrinterName = "Probe Printer";
  pi.pPortName = "PROBEPORT";
  pi.pDriverName = "No Such Driver";
  pi.pPrintProcessor = "winprint";
  SetLastError(0);
  h = AddPrinterA(NULL, 2, (LPBYTE)&pi);
  printf("AddPrinterA(unknown driver, unknown port): ret=%s err=%lu\n", h ? "handle" : "NULL", GetLastError());
  if (h) {
    DeletePrinter(h);
    ClosePrinter(h);
  }
}

static void show_profile_calls(void) {
  char path[MAX_PATH];
  char buf[64];
  GetWindowsDirectoryA(path, sizeof path);
  strcat(path, "\\ztqprobe.ini");
  DeleteFileA(path);
  BOOL ok = WritePrivateProfileStringA("Parameters", "Key", "0123456789", path);
  printf("WritePrivateProfileStringA(new file): ret=%d\n", ok);
  memset(buf, 'x', sizeof buf);
  DWORD n = GetPrivateProfileStringA("Parameters", "Key", "", buf, 5, path);
  printf("GetPrivateProfileStringA(10 chars into 5): ret=%lu text=\"%s\"\n", n, buf);
  memset(buf, 'x', sizeof buf);
  n = GetPrivateProfileStringA("Parameters", "Missing", "abcdefgh", buf, 5, path);
  printf("GetPrivateProfileStringA(missing key, default of 8 chars into 5): ret=%lu text=\"%s\"\n", n, buf);
  memset(buf, 'x', sizeof buf);
  n = GetPrivateProfileStringA("Parameters", "Missing", "", buf, sizeof buf, path);
  printf("GetPrivateProfileStringA(missing key, empty default): ret=%lu text=\"%s\"\n", n, buf);
  WritePrivateProfileStringA("Parameters", "Empty", "", path);
  memset(buf, 'x', sizeof buf);
  n = GetPrivateProfileStringA("Parameters", "Empty", "dflt", buf, sizeof buf, path);
  printf("GetPrivateProfileStringA(key with empty value, default dflt): ret=%lu text=\"%s\"\n", n, buf);

  WCHAR wide[MAX_PATH];
  MultiByteToWideChar(CP_ACP, 0, path, -1, wide, MAX_PATH);
  SetLastError(0);
  ok = WritePrivateProfileStringW(NULL, NULL, NULL, wide);
  printf("WritePrivateProfileStringW(NULL, NULL, NULL, existing file): ret=%d err=%lu\n", ok, GetLastError());
  DeleteFileA(path);
  SetLastError(0);
  ok = WritePrivateProfileStringW(NULL, NULL, NULL, L"c:\\nosuchdir\\nosuch.ini");
  printf("WritePrivateProfileStringW(NULL, NULL, NULL, missing file): ret=%d err=%lu\n", ok, GetLastError());
}

int main(int argc, char** argv) {
  const char* monitor_dll = argc > 1 ? argv[1] : NULL;
  show_version();
  show_directories();
  show_registry();
  show_monitors();
  show_monitor_calls(monitor_dll);
  show_printer_calls();
  show_profile_calls();
  fflush(stdout);
  return 0;
}
