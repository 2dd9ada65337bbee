// Fixed names and paths shared by the install and uninstall sequences.
#pragma once

namespace names {

inline constexpr char kPrinter[] = "ZENTAQ";
inline constexpr char kPrinterSecondKey[] = "ZENTAQ,0";
inline constexpr char kPort[] = "ZENTAQPORT";
inline constexpr char kMonitor[] = "ZENTAQ Monitor";
inline constexpr char kDriver[] = "ZENTAQ Printer Driver";
// The NT spooler environment of the running program: a process asks for
// drivers of its own processor, and a 64-bit process on 64-bit Windows is
// "Windows x64". Only the x86_64 test build (run under 64-bit Wine) is one;
// the product is 32-bit.
#ifdef _WIN64
#define SETUP_ENVIRONMENT_NT "Windows x64"
#else
#define SETUP_ENVIRONMENT_NT "Windows NT x86"
#endif
inline constexpr char kEnvironmentNt[] = SETUP_ENVIRONMENT_NT;
inline constexpr char kEnvironment9x[] = "Windows 4.0";
inline constexpr char kPrintProcessor[] = "winprint";
inline constexpr char kMonitorLibraryNt[] = "ztqmon.dll";
inline constexpr char kMonitorLibrary9x[] = "ztqmon95.dll";

inline constexpr char kPrintersKey[] = "SYSTEM\\CurrentControlSet\\Control\\Print\\Printers";
inline constexpr char kMonitorsKey[] = "SYSTEM\\CurrentControlSet\\Control\\Print\\Monitors";
inline constexpr char kDrivers9xKey[] = "SYSTEM\\CurrentControlSet\\Control\\Print\\Environments\\Windows 4.0\\Drivers";
inline constexpr char kDriversNtKey[] =
    "SYSTEM\\CurrentControlSet\\Control\\Print\\Environments\\" SETUP_ENVIRONMENT_NT "\\Drivers\\Version-2";
inline constexpr char kIniFileMappingKey[] = "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\IniFileMapping";

inline constexpr char kSetupLog[] = "c:\\zentaq\\res\\drivedir\\setup.log";
inline constexpr char kConfigFile[] = "c:\\zentaq\\res\\zentaq.ini";
inline constexpr char kConfigSection[] = "Parameters";
inline constexpr char kEditorReadme[] = "c:\\zentaq\\res\\utilities\\readme.html";

// The product's entry in Add/Remove Programs.
inline constexpr char kUninstallParentKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
inline constexpr char kUninstallEntryName[] = "Zentaq";
inline constexpr char kUninstallEntryKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Zentaq";
inline constexpr char kUninstallDisplayName[] = "Zentaq";
inline constexpr char kUninstallCommand[] = "c:\\zentaq\\setup.exe uninstall";

// Install and uninstall sequences.
inline constexpr char kConfigKeyUninstall[] = "Uninstall";
inline constexpr char kConfigKeyQuiet[] = "Quiet";
inline constexpr char kQuietDefault[] = "0";
inline constexpr char kUninstallDone[] = "1";
inline constexpr char kIniFileMappingSubkey[] = "zentaq.ini";
inline constexpr char kPrinterDriverDataKey[] =
    "SYSTEM\\CurrentControlSet\\Control\\Print\\Printers\\ZENTAQ\\PrinterDriverData";
inline constexpr char kPrinterKey[] = "SYSTEM\\CurrentControlSet\\Control\\Print\\Printers\\ZENTAQ";
inline constexpr char kMonitorKey[] = "SYSTEM\\CurrentControlSet\\Control\\Print\\Monitors\\ZENTAQ Monitor";
inline constexpr char kPortsSubkey[] = "Ports";

// Files the install stages, registers and reads.
inline constexpr char kCompanionLibraryNt[] = "ztqmona.dll";
inline constexpr char kCompanionLibrary9x[] = "ztqmona95.dll";
inline constexpr char kDriverDataFile9x[] = "ztqdriver.SPD";
inline constexpr char kPscriptDll[] = "Pscript.dll";
inline constexpr char kDriverUi[] = "Zentaqui.dll";
inline constexpr char kPscriptHelp[] = "Pscript.hlp";
inline constexpr char kPpd[] = "gs.PPD";
inline constexpr char kFontTable[] = "fontsub.tbl";
inline constexpr char kPrinterDataFile[] = "printerdata.dat";
inline constexpr char kPscriptDrv[] = "Pscript.drv";
inline constexpr char kDevMode9x[] = "c:\\zentaq\\res\\drivedir\\dfdevmd.dat";
inline constexpr char kDevModeNt[] = "c:\\zentaq\\res\\drivedir\\dfdevmdnt.dat";
inline constexpr char kRpcPageShipped[] = "c:\\zentaq\\res\\drivedir\\rpcinaccessible.tmp";
inline constexpr char kRpcPageOpened[] = "c:\\zentaq\\res\\drivedir\\rpcinaccessible.html";

// The driver record: NT paths are the driver directory + these; 9x names are bare.
inline constexpr char kDriverPathNt[] = "\\pscript.dll";
inline constexpr char kConfigFileNt[] = "\\Zentaqui.dll";
inline constexpr char kDataFileNt[] = "\\gs.PPD";
inline constexpr char kHelpFileNt[] = "\\Pscript.hlp";
inline constexpr char kDefaultDataType[] = "RAW";
// The 9x dependent files, one NUL after each name and one more at the end.
inline constexpr char kDependentFiles9x[] =
    "msprint.cat\0LWNT_470.SPD\0PSCRIPT.DRV\0PSCRIPT.HLP\0PSCRIPT.INI\0TESTPS.TXT\0APPLE380.SPD\0FONTS.MFM\0"
    "ICONLIB.DLL\0PSMON.DLL\0ZTQDRIVER.SPD\0";  // the literal's own NUL ends the list

// The port record under the monitor's key.
inline constexpr char kCommandSuffix[] = "\\res\\convert\\gswin32c.exe";
inline constexpr char kArgumentsTail[] = "\\res\\pdfwrite.rsp -sOutputFile=\"%1\" -c save pop -f -";
inline constexpr char kPortDescription[] = "ZENTAQ Redirected Port";
inline constexpr char kPortArguments[] = "Arguments";
inline constexpr char kPortCommand[] = "Command";
inline constexpr char kPortDelay[] = "Delay";
inline constexpr char kPortDescriptionValue[] = "Description";
inline constexpr char kPortLogFileDebug[] = "LogFileDebug";
inline constexpr char kPortLogFileName[] = "LogFileName";
inline constexpr char kPortLogFileUse[] = "LogFileUse";
inline constexpr char kPortOutput[] = "Output";
inline constexpr char kPortPrinter[] = "Printer";
inline constexpr char kPortPrintError[] = "PrintError";
inline constexpr char kPortRunUser[] = "RunUser";
inline constexpr char kPortShowWindow[] = "ShowWindow";

// The printer's configuration values.
inline constexpr char kFontTableSizeValue[] = "TTFontSubTableSize";
inline constexpr char kFontTableValue[] = "TTFontSubTable";
inline constexpr char kPrinterDataValue[] = "PrinterData";
inline constexpr char kDefaultDevModeValue[] = "Default DevMode";

// Command lines started by the install.
inline constexpr char kDownloadCommand[] =
    "rundll32.exe url.dll,FileProtocolHandler c:\\zentaq\\res\\drivedir\\download.htm";
inline constexpr char kAddPrinterWizardCommand[] = "rundll32.exe shell32.dll,SHHelpShortcuts_RunDLL AddPrinter";
inline constexpr char kReadmeCommand[] = "rundll32.exe url.dll,FileProtocolHandler c:\\zentaq\\readme.html";
inline constexpr char kRpcInstructionsCommand[] =
    "rundll32.exe url.dll,FileProtocolHandler c:\\zentaq\\res\\drivedir\\rpcinaccessible.html";

}  // namespace names
