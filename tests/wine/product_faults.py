"""Faults of setup's own sources that the Wine comparison must catch: each a
line of a source file changed, as a mutant of the mutation run
(scripts/mutate.py --faults wine --judges wine). Each would pass a
comparison that only looked at what Wine and the simulated machine hold in
common, since both builds share it; the outright checks and the fields
compared in full catch them."""
import os
import sys

# (file, text of the line as it is, the line's text with the fault, what it is)
FAULTS = [
    ('src/install/printer_creation.cpp', '  if (printer == nullptr) {', '  if (printer == nullptr && false) {',
     'a failed AddPrinter swallowed: "Closing printer" traced, nothing logged'),
    ('src/install/printer_driver.cpp', '  info.cVersion = 2;', '  info.cVersion = 3;', 'the driver registered with cVersion 3'),
    ('src/install/printer_driver.cpp', '  info.cVersion = 2;', '  info.cVersion = 0;', 'the driver registered with cVersion 0'),
    ('src/install/printer_driver.cpp', '    driver_path = directory + names::kDriverPathNt;',
     '    driver_path = context.module_folder + "\\\\res\\\\drivedir" + names::kDriverPathNt;',
     'the driver file taken from the staging folder'),
    ('src/install/printer_driver.cpp', '    config_file = directory + names::kConfigFileNt;',
     '    config_file = context.module_folder + "\\\\res\\\\drivedir" + names::kConfigFileNt;',
     'the configuration file taken from the staging folder'),
    # Numbers where the simulated machine's headers lack the name.
    ('src/support/spooler_restart.cpp', 'SERVICE_CONTROL_STOP', '2 /* SERVICE_CONTROL_PAUSE */',
     'the spooler paused instead of stopped'),
    ('src/support/spooler_restart.cpp', '"Spooler"', '"spooler"', 'the service opened by another spelling'),
    ('src/uninstall/uninstall.cpp', '  if (!is_upgrade) AfxMessageBox(texts::kUninstallFinal, MB_OK, 0);',
     '  if (!is_upgrade) AfxMessageBox(texts::kUninstallFinal, MB_YESNO, 0);', 'the final message asked Yes/No'),
    ('src/uninstall/uninstall.cpp', '  if (!is_upgrade) AfxMessageBox(texts::kUninstallFinal, MB_OK, 0);',
     '  if (!is_upgrade) AfxMessageBox(texts::kUninstallFinal, MB_OK | 0x30 /* MB_ICONWARNING */, 0);',
     'the final message with a warning icon'),
    ('src/install/completion.cpp', '  if (ReadQuiet() == 0) {', '  if (ReadQuiet() == 0 || true) {',
     'Quiet ignored: the readme page always opened'),
    ('src/install/completion.cpp', '  if (ReadQuiet() == 0) {', '  if (ReadQuiet() == 0 && false) {',
     'the readme page never opened'),
    ('src/install/completion.cpp', '  startup.wShowWindow = SW_SHOWNORMAL;', '  startup.wShowWindow = SW_HIDE;',
     'the readme page started with another show state'),
    ('src/app/setup_app.cpp', '  startup.wShowWindow = SW_HIDE;', '  startup.wShowWindow = SW_SHOWNORMAL;',
     'the hidden command line shown'),
    ('src/app/outcome.h', '  kFailure = 1603,', '  kFailure = 67,', 'exit status 67 for 1603 (the same low 8 bits)'),
    ('src/install/printer_data.cpp', '    if (read) SetBinary(printer, names::kDefaultDevModeValue, content);',
     '    if (read) { SetBinary(printer, names::kDefaultDevModeValue, content); SetBinary(printer, "DevMode", content); }',
     'a stray value written into the printer\'s key'),
    # One for each scenario where setup meets trouble or runs on another system.
    ('src/support/file_copy.cpp', '  WriteSetupLog(text);', '  (void)text;', 'a failed copy not logged'),
    ('src/app/texts.h', '"CopyFile InFile.Open Failed: %s"', '"CopyFile InFile Failed: %s"',
     'a missing source logged in other words'),
    ('src/install/upgrade_guard.cpp', '    UninstallPrinter(TRUE);', '    (void)0;',
     'a library that can\'t be deleted taken for a reboot at once, without the quiet uninstall'),
    ('src/install/upgrade_guard.cpp', '    RegDeleteKeyA(printers, names::kPrinter);', '    (void)printers;',
     'the key of an earlier printer "ZENTAQ" left: the printer on another driver stays'),
    ('src/install/file_staging.cpp', '    RegDeleteKeyA(mapping, names::kIniFileMappingSubkey);', '    (void)mapping;',
     'a stale IniFileMapping of zentaq.ini left in place'),
    ('src/uninstall/uninstall.cpp', '  LogCode(texts::kLogDeletePrinterDriver, GetLastError());', '  (void)0;',
     'the refused driver deletion not logged'),
    ('src/install/environment.cpp', 'static_cast<BYTE>(version & 0xFF) >= 4', 'static_cast<BYTE>(version & 0xFF) >= 5',
     'is_win4 cleared on version 4 (NT 4.0, 95, 98, Me)'),
    ('src/install/environment.cpp', '(version & 0x80000000u) == 0 ?', '(version & 0x80000000u) == 0 && (version & 0xFF00u) ?',
     'is_winnt cleared on a minor version 0 (NT 4.0, 2000)'),
    ('src/install/environment.cpp', 'static_cast<BYTE>(version & 0xFF) >= 4', '(version & 0xFFFFu) >= 0x0A04u',
     'is_win4 read from the whole version word (cleared on 95, NT 4.0, 2000)'),
    ('src/install/environment.cpp', 'static_cast<BYTE>(version & 0xFF) >= 4',
     '(static_cast<BYTE>(version & 0xFF) == 4 || (version & 0xFF00u) != 0)',
     'is_win4 cleared on 5.0 (2000): a major version above 4 taken only with a minor one'),
    ('src/install/file_staging.cpp', '    CopyToDriverDirectory(context, names::kPscriptHelp);', '    (void)0;',
     'the help file not copied on NT'),
    ('src/support/setup_log.cpp', 'CFile::typeBinary))',
     'CFile::typeBinary) && AfxMessageBox(text.c_str(), MB_OK, 0))',
     'a line that can\'t be logged shown in a message box'),
    ('src/support/setup_log.cpp', 'CFile::typeBinary))',
     'CFile::typeBinary) && (throw CFileException(CFileException::accessDenied, 5), true))',
     'a log that can\'t be opened raises the file error out of the logger: the run ends'),
]


def mutants(root):
    """The faults as the mutation run's mutants (the first line holding the text)."""
    sys.path.insert(0, os.path.join(root, 'scripts'))
    from mutants import Mutant
    out = []
    for path, before, after, what in FAULTS:
        with open(os.path.join(root, path), encoding='latin-1') as f:
            lines = f.read().split('\n')
        number = next(i for i, line in enumerate(lines, 1) if before in line)
        out.append(Mutant(path, number, 'fault: ' + what, lines[number - 1],
                          lines[number - 1].replace(before, after, 1)))
    return out
