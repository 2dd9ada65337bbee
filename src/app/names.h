// Fixed names and paths shared by the install and uninstall sequences.
#pragma once

namespace names {

inline constexpr char kPrinter[] = "ZENTAQ";
inline constexpr char kPrinterSecondKey[] = "ZENTAQ,0";
inline constexpr char kPort[] = "ZENTAQPORT";
inline constexpr char kMonitor[] = "ZENTAQ Monitor";
inline constexpr char kDriver[] = "ZENTAQ Printer Driver";
inline constexpr char kEnvironmentNt[] = "Windows NT x86";
inline constexpr char kEnvironment9x[] = "Windows 4.0";
inline constexpr char kPrintProcessor[] = "winprint";
inline constexpr char kMonitorLibraryNt[] = "ztqmon.dll";
inline constexpr char kMonitorLibrary9x[] = "ztqmon95.dll";

inline constexpr char kPrintersKey[] = "SYSTEM\\CurrentControlSet\\Control\\Print\\Printers";
inline constexpr char kMonitorsKey[] = "SYSTEM\\CurrentControlSet\\Control\\Print\\Monitors";
inline constexpr char kDrivers9xKey[] = "SYSTEM\\CurrentControlSet\\Control\\Print\\Environments\\Windows 4.0\\Drivers";
inline constexpr char kDriversNtKey[] =
    "SYSTEM\\CurrentControlSet\\Control\\Print\\Environments\\Windows NT x86\\Drivers\\Version-2";
inline constexpr char kIniFileMappingKey[] = "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\IniFileMapping";

inline constexpr char kInstallRoot[] = "c:\\zentaq";
inline constexpr char kStagingSuffix[] = "\\res\\drivedir\\";
inline constexpr char kSetupLog[] = "c:\\zentaq\\res\\drivedir\\setup.log";
inline constexpr char kConfigFile[] = "c:\\zentaq\\res\\zentaq.ini";
inline constexpr char kConfigSection[] = "Parameters";
inline constexpr char kEditorReadme[] = "c:\\zentaq\\res\\utilities\\readme.html";

}  // namespace names
