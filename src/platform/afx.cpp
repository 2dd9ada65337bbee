// The application object and its start-up, the message box and the local
// time stamp of the framework.
#include <cstdio>
#include <cstring>

#include "platform/afx.h"

namespace {

CWinApp* g_app = nullptr;

// The executable's file name without its extension: what a program without
// a title string of its own is called in its message boxes.
std::string ExecutableTitle(HMODULE module) {
  char path[MAX_PATH + 1] = {};
  DWORD length = GetModuleFileNameA(module, path, MAX_PATH);
  if (length > MAX_PATH) length = MAX_PATH;
  path[length] = '\0';
  const char* name = path;
  for (const char* p = path; *p != '\0'; ++p)
    if (*p == '\\' || *p == '/' || *p == ':') name = p + 1;
  std::string title = name;
  size_t dot = title.rfind('.');
  if (dot != std::string::npos) title.erase(dot);
  return title;
}

void AppendTwoDigits(std::string& out, unsigned value) {
  char digits[16];
  snprintf(digits, sizeof(digits), "%02u", value % 100);
  out += digits;
}

}  // namespace

CWinApp::CWinApp(LPCSTR app_name) {
  if (app_name != nullptr) {
    app_name_ = app_name;
    m_pszAppName = app_name_.c_str();
  }
  g_app = this;
}

CWinApp::~CWinApp() {
  if (g_app == this) g_app = nullptr;
}

BOOL CWinApp::InitInstance() { return TRUE; }

int CWinApp::ExitInstance() { return 0; }

CWinApp* AfxGetApp() { return g_app; }

int AfxMessageBox(LPCSTR text, UINT type, UINT help_context) {
  (void)help_context;  // the program has no help file
  CWinApp* app = AfxGetApp();
  if (app != nullptr && app->m_pszAppName != nullptr) return MessageBoxA(nullptr, text, app->m_pszAppName, type);
  std::string caption = ExecutableTitle(GetModuleHandleA(nullptr));
  return MessageBoxA(nullptr, text, caption.c_str(), type);
}

int AfxWinMain(HINSTANCE instance, HINSTANCE previous, LPSTR command_line, int show) {
  (void)previous;  // always NULL on Win32
  CWinApp* app = AfxGetApp();
  if (app == nullptr) return -1;

  app->m_hInstance = instance;
  app->m_lpCmdLine = command_line;
  app->m_nCmdShow = show;
  if (app->m_pszAppName == nullptr) {
    app->app_name_ = ExecutableTitle(instance);
    app->m_pszAppName = app->app_name_.c_str();
  }

  // There is no message loop: whatever InitInstance returns, the
  // application ends and ExitInstance gives the exit code.
  app->InitInstance();
  return app->ExitInstance();
}

LPSTR SkipProgramName(LPSTR command_line) {
  static char empty[1] = {'\0'};
  if (command_line == nullptr) return empty;
  // Compared as unsigned bytes: characters of the upper half belong to names.
  unsigned char* p = reinterpret_cast<unsigned char*>(command_line);
  if (*p == '"') {
    // A quoted name runs to the next quote, which is skipped too.
    while (*++p != '\0' && *p != '"') {
    }
    if (*p == '"') ++p;
  } else {
    while (*p > ' ') ++p;
  }
  while (*p != '\0' && *p <= ' ') ++p;
  return reinterpret_cast<LPSTR>(p);
}

int SetupProcessEntry() {
  LPSTR arguments = SkipProgramName(GetCommandLineA());
  STARTUPINFOA startup;
  memset(&startup, 0, sizeof(startup));
  startup.cb = sizeof(startup);
  GetStartupInfoA(&startup);
  int show = (startup.dwFlags & STARTF_USESHOWWINDOW) ? startup.wShowWindow : SW_SHOWDEFAULT;
  return AfxWinMain(GetModuleHandleA(nullptr), nullptr, arguments, show);
}

std::string FormatLocalTime(const char* format) {
  SYSTEMTIME now;
  memset(&now, 0, sizeof(now));
  GetLocalTime(&now);
  std::string out;
  for (const char* p = format; *p != '\0'; ++p) {
    if (*p != '%' || p[1] == '\0') {
      out += *p;
      continue;
    }
    switch (*++p) {
      case 'm':
        AppendTwoDigits(out, now.wMonth);
        break;
      case 'd':
        AppendTwoDigits(out, now.wDay);
        break;
      case 'y':
        AppendTwoDigits(out, now.wYear % 100);
        break;
      case 'Y': {
        char year[16];
        snprintf(year, sizeof(year), "%04u", static_cast<unsigned>(now.wYear));
        out += year;
        break;
      }
      case 'H':
        AppendTwoDigits(out, now.wHour);
        break;
      case 'M':
        AppendTwoDigits(out, now.wMinute);
        break;
      case 'S':
        AppendTwoDigits(out, now.wSecond);
        break;
      case '%':
        out += '%';
        break;
      default:  // not known here: kept as written
        out += '%';
        out += *p;
        break;
    }
  }
  return out;
}
