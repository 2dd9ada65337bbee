/* Prints the folders that a prefix's Windows reports, one "name=value" line
 * each, so that the tests know where to put files before setup.exe runs:
 * the system directory, the printer-driver directory of the running system's
 * environment, the Windows directory, its own path and the version. */
#include <windows.h>
#include <winspool.h>
#include <stdio.h>

int main(void) {
  char buf[MAX_PATH];
  DWORD needed = 0;
  DWORD v = GetVersion();
  printf("version=0x%08lX\n", v);
  if (GetSystemDirectoryA(buf, sizeof buf)) printf("system=%s\n", buf);
  if (GetWindowsDirectoryA(buf, sizeof buf)) printf("windows=%s\n", buf);
  /* Started as c:\dirs.exe: how the system spells a program's path. */
  if (GetModuleFileNameA(NULL, buf, sizeof buf)) printf("module=%s\n", buf);
  if (GetPrinterDriverDirectoryA(NULL, NULL, 1, (LPBYTE)buf, sizeof buf, &needed)) printf("drivers=%s\n", buf);
  else printf("drivers_error=%lu\n", GetLastError());
  fflush(stdout);
  return 0;
}
