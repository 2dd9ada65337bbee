/* Stands in for a program that setup starts (the readme page's rundll32, a
 * command line given to setup): it appends what it was started with to
 * C:\started.log and ends. One record a line, tab-separated: the command
 * line as GetCommandLineA gives it, then the STARTUPINFO that the starter
 * passed, dwFlags in hex and wShowWindow in decimal. Built with mingw-w64 by
 * tests/wine. */
#include <stdio.h>
#include <windows.h>

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR arguments, int show) {
  (void)instance;
  (void)previous;
  (void)arguments;
  (void)show;
  STARTUPINFOA startup = {0};
  startup.cb = sizeof startup;
  GetStartupInfoA(&startup);
  FILE* log = fopen("C:\\started.log", "ab");
  if (!log) return 1;
  fprintf(log, "%s\t0x%lX\t%u\n", GetCommandLineA(), startup.dwFlags, startup.wShowWindow);
  fclose(log);
  return 0;
}
