// Every text the setup program shows, logs or traces, in one place.
// Message-box texts are the product's own wording, typing slips included:
// users and support staff search for them as they stand.
#pragma once

namespace texts {

// Message boxes.
inline constexpr char kAskUninstall[] = "Are your sure you want to uninstall zentaq?";
inline constexpr char kUpgradeReboot9x[] = "In order to upgrade zentaq you must reboot and then re-run setup.";
inline constexpr char kUpgradeRebootNt[] = "In order to upgrade zentaq you must reboot and re-run setup.";
inline constexpr char kUpgradeDeletePrinter[] =
    "In order to upgrade zentaq you must delete the existing ZENTAQ printer from Windows Printer Settings and "
    "re-run setup.";
inline constexpr char kNoAdminRights[] =
    "Your user account does not have administrative rights and cannot add a printer to this computer. Please "
    "obtain administrative rights and run install again.";
inline constexpr char kInstallPostScriptDriver[] =
    "Please install the Apple Laserwriter II NT printer driver and re-run setup. Step-by-step help will appear to "
    "assist you.";
inline constexpr char kRpcInaccessible[] =
    "Setup has determined that you need to manually configure ZENTAQ due to the settings of your Remote "
    "Procedure Call service. Instructions will follow.";
inline constexpr char kEditorOutdatedBefore[] =
    "Setup has detected you have an old version of Markalon that is incompatible with the latest version of "
    "zentaq. The latest version of Markalon is available free at ";
inline constexpr char kProductWebAddress[] = "http://www.zentaq.com";
inline constexpr char kEditorOutdatedAfter[] = ". Please upgrade.";
inline constexpr char kUninstallReboot[] =
    "Please reboot and re-run uninstall to fully remove the ZENTAQ Printer Driver";
inline constexpr char kUninstallFinal[] =
    "Please uninstall Markalon if it is on your system and then delete c:\\zentaq and its contents from your "
    "computer to fully uninstall zentaq.";

// Setup-log lines (formats take an unsigned long code or a path).
inline constexpr char kLogCopyInOpen[] = "CopyFile InFile.Open Failed: %s";
inline constexpr char kLogCopyOutOpen[] = "CopyFile OutFile.Open Failed: %s";
inline constexpr char kLogCopyNew[] = "CopyFile new Failed: %s";
inline constexpr char kLogCopyRead[] = "CopyFile Read Failed: %s";
inline constexpr char kLogCopyWrite[] = "CopyFile Write Failed: %s";
inline constexpr char kLogWinNtTrue[] = "is_winnt = TRUE";
inline constexpr char kLogWinNtFalse[] = "is_winnt = FALSE";
inline constexpr char kLogWin4True[] = "is_win4 = TRUE";
inline constexpr char kLogWin4False[] = "is_win4 = FALSE";
inline constexpr char kLogRegDeleteWin40[] = "RegDeleteKey Windows 4.0 return: %lu";
inline constexpr char kLogDriverDirectory[] = "Printer Driver Directory: %s";
inline constexpr char kLogAddMonitor[] = "AddMonitor: %lu";
inline constexpr char kLogAddPrinterDriver[] = "AddPrinterDriver: %lu";
inline constexpr char kLogAddPrinter[] = "AddPrinter: %lu";
inline constexpr char kLogStartRpc[] = "startrpc: %lu";
inline constexpr char kLogDeletePrinterDriver[] = "DeletePrinterDriver: %lu";
inline constexpr char kLogDeleteMonitor[] = "DeleteMonitor: %lu";
inline constexpr char kLogRegDelete40Driver[] = "RegDeleteKey 4.0 Driver: %lu";

// Progress traces on standard output.
inline constexpr char kTraceMonitorFound[] = "Monitor found\n\n";
inline constexpr char kTraceEnumMonitorsFailed[] = "EnumMonitors failed\n\n";
inline constexpr char kTraceInitializingSpooler[] = "Initializing Spooler\n\n";
inline constexpr char kTraceAddingDriver[] = "Adding printer driver\n\n";
inline constexpr char kTraceDriverDirectory[] = "Driver directory: %s\n\n";
inline constexpr char kTraceEnumeratingPorts[] = "Enumerating ports\n\n";
inline constexpr char kTraceEnumPortsFailed[] = "EnumPorts failed\n\n";
inline constexpr char kTracePortFound[] = "Port found\n\n";
inline constexpr char kTraceAddingPrinter[] = "Adding printer\n\n";
inline constexpr char kTraceClosingPrinter[] = "Closing printer\n\n";
inline constexpr char kTraceClosePrinterFailed[] = "ClosePrinter: %lu\n\n";
inline constexpr char kTraceConfiguringPrinter[] = "Configuring printer\n\n";
inline constexpr char kTraceCompleting[] = "Completing printer setup...\n\n";

}  // namespace texts
