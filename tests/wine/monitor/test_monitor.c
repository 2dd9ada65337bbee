/* A port monitor library that does nothing but exist: Wine's spooler loads it
 * when AddMonitorA registers "ZENTAQ Monitor", so that the Wine runs of
 * setup.exe get past the monitor registration as a real installation does
 * (the product's placeholder libraries are no programs, and the spooler
 * refuses them).
 *
 * Its ports are the subkeys of its registry key's "Ports" key, which is where
 * setup writes the port record of ZENTAQPORT; a port's description is its
 * record's "Description" text, REG_SZ or REG_EXPAND_SZ, left unexpanded (the
 * monitor's name where it has none, or a value of another type), as a
 * monitor that keeps its configuration in the registry describes its ports,
 * and as the simulated spooler lists them. Nothing can be printed: opening a
 * port succeeds, writing to it fails.
 *
 * Both entry points that a spooler looks for are exported: the newer
 * InitializePrintMonitor2 (Windows 2000 on, and Wine) and InitializePrintMonitor
 * (NT 4.0). Built with mingw-w64 by tests/wine. */
#include <windows.h>
#include <winspool.h>
#include <winsplp.h>

/* The monitor's registry key: a handle of our own for InitializePrintMonitor2,
 * a path below HKEY_LOCAL_MACHINE for InitializePrintMonitor. */
static HKEY g_root;
static WCHAR g_root_path[MAX_PATH];

static HKEY open_ports_key(void) {
  HKEY ports = NULL;
  if (g_root) {
    if (RegOpenKeyExW(g_root, L"Ports", 0, KEY_READ, &ports) == ERROR_SUCCESS) return ports;
  } else if (g_root_path[0]) {
    HKEY root;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, g_root_path, 0, KEY_READ, &root) == ERROR_SUCCESS) {
      if (RegOpenKeyExW(root, L"Ports", 0, KEY_READ, &ports) != ERROR_SUCCESS) ports = NULL;
      RegCloseKey(root);
    }
  }
  return ports;
}

/* The name under which setup registers this monitor. */
static const WCHAR kMonitorName[] = L"ZENTAQ Monitor";

/* Fills PORT_INFO_1W or PORT_INFO_2W records at the start of the buffer and
 * their strings from its end, the layout that the spooler hands on. */
static BOOL enum_ports(DWORD level, LPBYTE buf, DWORD size, LPDWORD needed, LPDWORD returned) {
  if (level != 1 && level != 2) {
    SetLastError(ERROR_INVALID_LEVEL);
    return FALSE;
  }
  WCHAR names[16][MAX_PATH], descriptions[16][MAX_PATH];
  DWORD count = 0;
  HKEY ports = open_ports_key();
  if (ports) {
    DWORD len = MAX_PATH;
    while (count < 16 && RegEnumKeyExW(ports, count, names[count], &len, NULL, NULL, NULL, NULL) == ERROR_SUCCESS) {
      HKEY port;
      DWORD type = 0, bytes = sizeof descriptions[count] - sizeof(WCHAR);
      descriptions[count][0] = 0;
      if (RegOpenKeyExW(ports, names[count], 0, KEY_READ, &port) == ERROR_SUCCESS) {
        if (RegQueryValueExW(port, L"Description", NULL, &type, (LPBYTE)descriptions[count], &bytes) != ERROR_SUCCESS
            || (type != REG_SZ && type != REG_EXPAND_SZ))
          bytes = 0;
        descriptions[count][bytes / sizeof(WCHAR)] = 0;
        RegCloseKey(port);
      }
      if (!descriptions[count][0]) lstrcpyW(descriptions[count], kMonitorName);
      count++;
      len = MAX_PATH;
    }
    RegCloseKey(ports);
  }
  DWORD record = level == 1 ? sizeof(PORT_INFO_1W) : sizeof(PORT_INFO_2W);
  DWORD total = 0;
  for (DWORD i = 0; i < count; i++) {
    total += record + (lstrlenW(names[i]) + 1) * sizeof(WCHAR);
    if (level == 2) total += (lstrlenW(descriptions[i]) + 1) * sizeof(WCHAR) + sizeof kMonitorName;
  }
  *needed = total;
  *returned = 0;
  if (size < total || (total && !buf)) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  LPBYTE strings = buf + total;
  for (DWORD i = 0; i < count; i++) {
    DWORD bytes = (lstrlenW(names[i]) + 1) * sizeof(WCHAR);
    strings -= bytes;
    CopyMemory(strings, names[i], bytes);
    if (level == 1) {
      ((PORT_INFO_1W*)buf)[i].pName = (LPWSTR)strings;
    } else {
      PORT_INFO_2W* info = &((PORT_INFO_2W*)buf)[i];
      info->pPortName = (LPWSTR)strings;
      bytes = (lstrlenW(descriptions[i]) + 1) * sizeof(WCHAR);
      strings -= bytes;
      CopyMemory(strings, descriptions[i], bytes);
      info->pDescription = (LPWSTR)strings;
      /* Every string of a level 2 record is read: Wine's spooler copies
       * the monitor name too, and a NULL one makes it fault. */
      strings -= sizeof kMonitorName;
      CopyMemory(strings, kMonitorName, sizeof kMonitorName);
      info->pMonitorName = (LPWSTR)strings;
      info->fPortType = PORT_TYPE_WRITE;
      info->Reserved = 0;
    }
  }
  *returned = count;
  return TRUE;
}

static BOOL WINAPI EnumPorts2(HANDLE monitor, LPWSTR name, DWORD level, LPBYTE buf, DWORD size, LPDWORD needed,
                              LPDWORD returned) {
  (void)monitor;
  (void)name;
  return enum_ports(level, buf, size, needed, returned);
}

static BOOL WINAPI EnumPorts1(LPWSTR name, DWORD level, LPBYTE buf, DWORD size, LPDWORD needed, LPDWORD returned) {
  (void)name;
  return enum_ports(level, buf, size, needed, returned);
}

static BOOL WINAPI OpenPort2(HANDLE monitor, LPWSTR name, PHANDLE port) {
  (void)monitor;
  (void)name;
  *port = (HANDLE)&g_root;
  return TRUE;
}

static BOOL WINAPI OpenPort1(LPWSTR name, PHANDLE port) { return OpenPort2(NULL, name, port); }

static BOOL WINAPI MonStartDocPort(HANDLE port, LPWSTR printer, DWORD job, DWORD level, LPBYTE info) {
  (void)port;
  (void)printer;
  (void)job;
  (void)level;
  (void)info;
  SetLastError(ERROR_NOT_SUPPORTED);
  return FALSE;
}

static BOOL WINAPI MonWritePort(HANDLE port, LPBYTE buf, DWORD size, LPDWORD written) {
  (void)port;
  (void)buf;
  (void)size;
  *written = 0;
  SetLastError(ERROR_NOT_SUPPORTED);
  return FALSE;
}

static BOOL WINAPI MonReadPort(HANDLE port, LPBYTE buf, DWORD size, LPDWORD read) {
  (void)port;
  (void)buf;
  (void)size;
  *read = 0;
  SetLastError(ERROR_NOT_SUPPORTED);
  return FALSE;
}

static BOOL WINAPI MonEndDocPort(HANDLE port) {
  (void)port;
  return TRUE;
}

static BOOL WINAPI MonClosePort(HANDLE port) {
  (void)port;
  return TRUE;
}

static VOID WINAPI MonShutdown(HANDLE monitor) {
  (void)monitor;
  if (g_root) RegCloseKey(g_root);
  g_root = NULL;
}

static MONITOR2 g_monitor2;
static MONITOREX g_monitorex;

__declspec(dllexport) LPMONITOR2 WINAPI InitializePrintMonitor2(PMONITORINIT init, PHANDLE monitor) {
  if (!init || !monitor) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return NULL;
  }
  /* A handle of our own: the spooler may close the one it passes. */
  if (RegOpenKeyExW((HKEY)init->hckRegistryRoot, L"", 0, KEY_READ, &g_root) != ERROR_SUCCESS) g_root = NULL;
  g_monitor2.cbSize = sizeof g_monitor2;
  g_monitor2.pfnEnumPorts = EnumPorts2;
  g_monitor2.pfnOpenPort = OpenPort2;
  g_monitor2.pfnStartDocPort = MonStartDocPort;
  g_monitor2.pfnWritePort = MonWritePort;
  g_monitor2.pfnReadPort = MonReadPort;
  g_monitor2.pfnEndDocPort = MonEndDocPort;
  g_monitor2.pfnClosePort = MonClosePort;
  g_monitor2.pfnShutdown = MonShutdown;
  *monitor = (HANDLE)&g_monitor2;
  return &g_monitor2;
}

__declspec(dllexport) LPMONITOREX WINAPI InitializePrintMonitor(LPWSTR registry_root) {
  if (!registry_root) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return NULL;
  }
  lstrcpynW(g_root_path, registry_root, MAX_PATH);
  g_monitorex.dwMonitorSize = sizeof g_monitorex.Monitor;
  g_monitorex.Monitor.pfnEnumPorts = EnumPorts1;
  g_monitorex.Monitor.pfnOpenPort = OpenPort1;
  g_monitorex.Monitor.pfnStartDocPort = MonStartDocPort;
  g_monitorex.Monitor.pfnWritePort = MonWritePort;
  g_monitorex.Monitor.pfnReadPort = MonReadPort;
  g_monitorex.Monitor.pfnEndDocPort = MonEndDocPort;
  g_monitorex.Monitor.pfnClosePort = MonClosePort;
  return &g_monitorex;
}

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
  (void)reserved;
  if (reason == DLL_PROCESS_ATTACH) DisableThreadLibraryCalls(instance);
  return TRUE;
}
