/* Starts a program, waits for it and writes its whole exit status: what
 * GetExitCodeProcess gives, a 32-bit value (1602, 1603, 3010), where Wine's
 * own exit status on the host keeps only its low 8 bits.
 *
 *     launcher.exe RESULT-FILE COMMAND-LINE...
 *
 * The command line is the rest of the launcher's own, as it was given. The
 * program gets the launcher's standard output and error (its progress traces
 * go where the launcher's go), no STARTF_USESHOWWINDOW and the launcher's
 * current directory. RESULT-FILE receives "pid=N" (the started process's id,
 * which Wine's debug output shows with +pid) and "exit=N", each in decimal on
 * a line of its own. Exit code: 0 once the program has ended, 2 when it
 * could not be started. Built with mingw-w64 by tests/wine. */
#include <stdio.h>
#include <windows.h>

/* The command line after the first two words (the launcher and the result
 * file); neither may hold blanks. */
static const char* rest_of_command_line(void) {
  const char* p = GetCommandLineA();
  for (int word = 0; word < 2; word++) {
    while (*p == ' ' || *p == '\t') p++;
    while (*p && *p != ' ' && *p != '\t') p++;
  }
  while (*p == ' ' || *p == '\t') p++;
  return p;
}

static HANDLE inheritable(DWORD which) {
  HANDLE own = GetStdHandle(which), copy = NULL;
  if (own == NULL || own == INVALID_HANDLE_VALUE) return NULL;
  if (!DuplicateHandle(GetCurrentProcess(), own, GetCurrentProcess(), &copy, 0, TRUE, DUPLICATE_SAME_ACCESS))
    return NULL;
  return copy;
}

int main(int argc, char** argv) {
  if (argc < 3) {
    fprintf(stderr, "usage: launcher.exe RESULT-FILE COMMAND-LINE...\n");
    return 2;
  }
  char command[4096];
  lstrcpynA(command, rest_of_command_line(), sizeof command);
  STARTUPINFOA startup = {0};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = NULL;
  startup.hStdOutput = inheritable(STD_OUTPUT_HANDLE);
  startup.hStdError = inheritable(STD_ERROR_HANDLE);
  PROCESS_INFORMATION process = {0};
  FILE* result = fopen(argv[1], "w");
  if (!result) return 2;
  if (!CreateProcessA(NULL, command, NULL, NULL, TRUE, 0, NULL, NULL, &startup, &process)) {
    fprintf(result, "error=%lu\n", GetLastError());
    fclose(result);
    return 2;
  }
  fprintf(result, "pid=%lu\n", process.dwProcessId);
  fflush(result);
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD code = 0;
  GetExitCodeProcess(process.hProcess, &code);
  fprintf(result, "exit=%lu\n", code);
  fclose(result);
  return 0;
}
