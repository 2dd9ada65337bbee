// Printer drivers of the simulated spooler: GetPrinterDriverDirectoryA,
// AddPrinterDriverA, DeletePrinterDriverA.
//
// A driver is a key under the native environment's Drivers key (NT:
// Environments\Windows NT x86\Drivers\Version-2\<name>; 9x:
// Environments\Windows 4.0\Drivers\<name>) with the values Windows keeps
// there. Windows copies the driver's files into a version folder of the
// driver directory and records bare file names; the simulated spooler copies
// nothing and records the names as the caller passed them.
#include <cstddef>
#include <cstring>

#include "platform/sim/spooler/spooler.h"
#include "platform/sim/files/files.h"

namespace winsim {
namespace spool {
namespace {

DWORD GetDriverDirectory(const char* environment, DWORD level, LPBYTE buffer, DWORD size, LPDWORD needed) {
  if (level != 1) return ERROR_INVALID_LEVEL;
  if (!IsNativeEnvironment(environment)) return ERROR_INVALID_ENVIRONMENT;
  if (!needed) return NullPointerError();
  std::string directory = Machine::Get().os().driver_dir;
  *needed = static_cast<DWORD>(directory.size() + 1);
  if (!buffer || size < directory.size() + 1) return ERROR_INSUFFICIENT_BUFFER;
  memcpy(buffer, directory.c_str(), directory.size() + 1);
  return ERROR_SUCCESS;
}

// Where the spooler looks for a driver file: a bare name in the driver
// directory, a path where it points. Names are matched without regard to case.
bool DriverFileExists(const char* file) {
  std::string path = file;
  if (path.find_first_of("\\/:") == std::string::npos)
    path = std::string(Machine::Get().os().driver_dir) + "\\" + path;
  ResolvedPath resolved = Resolve(path);
  return resolved.exists && !resolved.is_dir;
}

// The bytes of a multi-string: each name with its NUL, and one more NUL; an
// empty or absent list is the closing NUL alone.
std::vector<uint8_t> MultiString(const char* list) {
  if (!list) return {0};
  const char* end = list;
  while (*end) end += strlen(end) + 1;
  return std::vector<uint8_t>(list, end + 1);
}

DWORD AddDriver(DWORD level, LPBYTE info) {
  if (level != 2 && level != 3) return ERROR_INVALID_LEVEL;
  if (!info) return ERROR_INVALID_PARAMETER;
  // DRIVER_INFO_2 is the first six fields of DRIVER_INFO_3.
  DRIVER_INFO_3A driver{};
  memcpy(&driver, info, level == 3 ? sizeof driver : offsetof(DRIVER_INFO_3A, pHelpFile));
  DWORD error = NeedAdmin();
  if (error) return error;
  // Only drivers for the machine's own environment are taken.
  if (!IsNativeEnvironment(driver.pEnvironment)) return ERROR_INVALID_ENVIRONMENT;
  if (!IsKeyName(driver.pName) || !driver.pDriverPath || !driver.pDataFile || !driver.pConfigFile)
    return ERROR_INVALID_PARAMETER;
  // The driver, data and configuration files must be there; the help file
  // and the dependent files are not checked. What Windows answers for a
  // missing help or dependent file is not settled by any source: the
  // AddPrinterDriverEx documentation only says that every file the driver
  // needs must be in the driver directory first, the protocol's processing
  // rules (MS-RPRN RpcAddPrinterDriverEx, DRIVER_CONTAINER parameters) check
  // no file's presence, and Wine's and ReactOS's local spoolers take the
  // driver whatever is missing (apd_copyfile's result is ignored), with no
  // conformance test of the case. So the call keeps to the three files that
  // the spooler loads to print.
  if (!DriverFileExists(driver.pDriverPath) || !DriverFileExists(driver.pDataFile) ||
      !DriverFileExists(driver.pConfigFile))
    return ERROR_FILE_NOT_FOUND;

  std::vector<uint8_t> dependent = MultiString(driver.pDependentFiles);
  ChangeHive([&](Hive& hive) {
    // Adding a driver that exists replaces its files: Windows updates it.
    RegKey* key = hive.Create(DriversKey() + "\\" + driver.pName);
    SetText(key, "Configuration File", driver.pConfigFile);
    SetText(key, "Data File", driver.pDataFile);
    SetText(key, "Driver", driver.pDriverPath);
    SetTextOrEmpty(key, "Help File", driver.pHelpFile);
    SetTextOrEmpty(key, "Monitor", driver.pMonitorName);
    SetTextOrEmpty(key, "Datatype", driver.pDefaultDataType);
    key->SetValue("Dependent Files", REG_MULTI_SZ, dependent.data(), dependent.size());
    SetDword(key, "Version", driver.cVersion);
    return true;
  });
  return ERROR_SUCCESS;
}

DWORD DeleteDriver(const char* environment, const char* name) {
  DWORD error = NeedAdmin();
  if (error) return error;
  if (!IsNativeEnvironment(environment)) return ERROR_INVALID_ENVIRONMENT;
  if (!name) return ERROR_INVALID_PARAMETER;
  ChangeHive([&](Hive& hive) {
    RegKey* drivers = hive.Find(DriversKey());
    RegKey* driver = drivers ? drivers->Child(name) : nullptr;
    if (!driver) {
      error = ERROR_UNKNOWN_PRINTER_DRIVER;
      return false;
    }
    if (const RegKey* printers = hive.Find(kPrintersKey)) {
      for (const auto& printer : printers->subkeys)
        if (EqualNoCase(Text(*printer, "Printer Driver"), name)) error = ERROR_PRINTER_DRIVER_IN_USE;
    }
    if (error) return false;
    drivers->RemoveChild(driver->name);
    return true;
  });
  return error;
}

}  // namespace
}  // namespace spool
}  // namespace winsim

BOOL GetPrinterDriverDirectoryA(LPSTR server, LPSTR environment, DWORD level, LPBYTE buffer, DWORD size,
                                LPDWORD needed) {
  using namespace winsim::spool;
  DWORD error = Enter("GetPrinterDriverDirectoryA", server);
  if (!error) error = GetDriverDirectory(environment, level, buffer, size, needed);
  return Leave(error);
}

BOOL AddPrinterDriverA(LPSTR server, DWORD level, LPBYTE info) {
  using namespace winsim::spool;
  DWORD error = Enter("AddPrinterDriverA", server);
  if (!error) error = AddDriver(level, info);
  return Leave(error);
}

BOOL DeletePrinterDriverA(LPSTR server, LPSTR environment, LPSTR name) {
  using namespace winsim::spool;
  DWORD error = Enter("DeletePrinterDriverA", server);
  if (!error) error = DeleteDriver(environment, name);
  return Leave(error);
}
