/* A printer driver's user-interface library (its "configuration file") that
 * does nothing but answer for a default DEVMODE: Wine's AddPrinterW asks
 * DocumentPropertiesW for the new printer's default settings, and that loads
 * the driver's configuration file from the driver directory and calls it.
 * The product's Zentaqui.dll is a placeholder that is no library, so the Wine
 * runs of setup.exe stage this one under that name (and, on 98, under the
 * PostScript driver's name, which the 9x driver record names as its
 * configuration file). Built with mingw-w64 by tests/wine.
 *
 * Exported as a driver UI library exports them: DrvDocumentPropertySheets
 * and DrvDeviceCapabilities. No property sheet is ever shown.
 *
 * It also supplies what Wine 8.0's AddPrinterW leaves out: a printer added
 * with a NULL pDatatype gets no "Datatype" value, and Wine's spooler opens no
 * printer whose key lacks one, so AddPrinterW's own closing OpenPrinterW
 * fails. Windows takes the print processor's default datatype, RAW for
 * WinPrint. AddPrinterW asks for the default DEVMODE (this library) after it
 * has written the printer's key and before that OpenPrinterW, so the value
 * is written here then, as Windows would have written it. */
#include <windows.h>
#include <winspool.h>

/* What DrvDocumentPropertySheets receives in its LPARAM when it is called
 * without a property sheet (PPROPSHEETUI_INFO NULL). mingw-w64's winddiui.h
 * lacks it; the layout is Windows' own. */
typedef struct {
  WORD cbSize;
  WORD Reserved;
  HANDLE hPrinter;
  LPWSTR pszPrinterName;
  PDEVMODEW pdmIn;
  PDEVMODEW pdmOut;
  DWORD cbOut;
  DWORD fMode;
} DOCUMENTPROPERTYHEADER;

/* Where every spooler, Windows' and Wine's, keeps its printers. */
static const WCHAR kPrintersKey[] = L"System\\CurrentControlSet\\Control\\Print\\Printers\\";

/* The printer's "Datatype" as Windows writes it for a NULL pDatatype (the
 * default datatype of WinPrint), when its key has none. A printer that
 * has one keeps it. */
static void supply_default_datatype(LPCWSTR printer) {
  WCHAR path[MAX_PATH];
  HKEY key;
  DWORD type, size = 0;
  if (!printer || lstrlenW(kPrintersKey) + lstrlenW(printer) >= MAX_PATH) return;
  lstrcpyW(path, kPrintersKey);
  lstrcatW(path, printer);
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path, 0, KEY_READ | KEY_SET_VALUE, &key) != ERROR_SUCCESS) return;
  if (RegQueryValueExW(key, L"Datatype", NULL, &type, NULL, &size) == ERROR_FILE_NOT_FOUND)
    RegSetValueExW(key, L"Datatype", 0, REG_SZ, (const BYTE*)L"RAW", sizeof L"RAW");
  RegCloseKey(key);
}

#define FIELDS (DM_ORIENTATION | DM_PAPERSIZE | DM_COPIES | DM_DEFAULTSOURCE | DM_PRINTQUALITY)

/* The library's default settings: portrait A4, one copy, 600 dpi, no
 * private part. */
static void default_devmode(DEVMODEW* dm, LPCWSTR printer) {
  ZeroMemory(dm, sizeof *dm);
  if (printer) lstrcpynW(dm->dmDeviceName, printer, CCHDEVICENAME);
  dm->dmSpecVersion = DM_SPECVERSION;
  dm->dmDriverVersion = 0x0100;
  dm->dmSize = sizeof *dm;
  dm->dmDriverExtra = 0;
  dm->dmFields = FIELDS;
  dm->dmOrientation = DMORIENT_PORTRAIT;
  dm->dmPaperSize = DMPAPER_A4;
  dm->dmCopies = 1;
  dm->dmDefaultSource = DMBIN_AUTO;
  dm->dmPrintQuality = 600;
}

/* Without a property sheet: the DEVMODE's size when no output is asked for,
 * else the defaults in pdmOut (an input DEVMODE is not merged: the spooler
 * passes none when it asks for a new printer's defaults). The return value
 * is the size, or IDOK once the output is written; -1 on a header that isn't
 * one. */
__declspec(dllexport) LONG WINAPI DrvDocumentPropertySheets(void* sheet_info, LPARAM lparam) {
  DOCUMENTPROPERTYHEADER* header = (DOCUMENTPROPERTYHEADER*)lparam;
  if (sheet_info) return -1; /* a property sheet: none to offer */
  if (!header || header->cbSize < sizeof *header) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return -1;
  }
  supply_default_datatype(header->pszPrinterName);
  if (header->fMode == 0 || !header->pdmOut) return sizeof(DEVMODEW);
  if (header->fMode & DM_OUT_BUFFER) {
    if (header->cbOut < sizeof(DEVMODEW)) {
      SetLastError(ERROR_INSUFFICIENT_BUFFER);
      return -1;
    }
    default_devmode(header->pdmOut, header->pszPrinterName);
  }
  return IDOK;
}

/* Only the capabilities that describe the DEVMODE itself; every other one
 * is not supported (0 items). */
__declspec(dllexport) DWORD WINAPI DrvDeviceCapabilities(HANDLE printer, LPWSTR device, WORD capability, void* output,
                                                         DEVMODEW* devmode) {
  (void)printer;
  (void)device;
  (void)output;
  (void)devmode;
  switch (capability) {
    case DC_FIELDS:
      return FIELDS;
    case DC_SIZE:
      return sizeof(DEVMODEW);
    case DC_EXTRA:
      return 0;
    case DC_VERSION:
      return DM_SPECVERSION;
    case DC_DRIVER:
      return 0x0100;
    case DC_COPIES:
      return 1;
    default:
      return 0;
  }
}

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
  (void)reserved;
  if (reason == DLL_PROCESS_ATTACH) DisableThreadLibraryCalls(instance);
  return TRUE;
}
