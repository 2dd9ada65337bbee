#!/usr/bin/env python3
"""Checks of the Wine test harness itself: the readers of Wine's and the
simulated machine's registry files, of objdump's import list and of Wine's
traces, the normalisations that the comparison relies on, and the parts
that decide whether a flavour runs at all. A fault in any of these would let
the Wine comparison pass on wrong data, fail on right data, or skip where it
could run."""
import os
import shutil
import struct
import sys
import tempfile
import threading
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import call_view  # noqa: E402
import check_exe  # noqa: E402
import compare  # noqa: E402
import differences  # noqa: E402
import registry  # noqa: E402
import sides  # noqa: E402
import spooler_listing  # noqa: E402
import wine_traces  # noqa: E402
import winelib  # noqa: E402
from registry import REG_DWORD, REG_EXPAND_SZ, REG_MULTI_SZ, REG_SZ, dword, sz  # noqa: E402

WINE_REG = r'''WINE REGISTRY Version 2
;; All keys relative to \\Machine

#arch=win32

[System\\ControlSet001\\Control\\Print\\Monitors\\ZENTAQ Monitor\\Ports\\ZENTAQPORT] 1733561234
#time=1db48a0c0f5e6a2
"Arguments"="@c:\\zentaq\\res\\pdfwrite.rsp -sOutputFile=\"%1\" -c save pop -f -"
"Delay"=dword:0000012c
"LogFileName"=""
"NoTerminator"=hex(1):5a,00,54,00
"Path"=str(2):"%SystemRoot%\\x"
"List"=str(7):"a\0b\0"
@="default"

[System\\ControlSet001\\Control\\Print\\Printers\\ZENTAQ\\PrinterDriverData] 1733561234
"TTFontSubTable"=hex:5a,54,51,46,00,01,ff,fe,00,00,41,72,69,61,6c,00,ff,48,65,6c,\
  76,00,0d,0a,00
"Accent"="caf\x00e9"
'''

SIM_REG = '''REGEDIT4

[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\Print\\Monitors\\ZENTAQ Monitor]
"Driver"="ztqmon.dll"

[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\Print\\Environments\\Windows 4.0\\Drivers\\ZENTAQ Printer Driver]
"Dependent Files"=hex(7):6d,73,70,72,69,6e,74,2e,63,61,74,00,4c,57,4e,54,5f,34,37,30,2e,53,50,44,00,\\
  00
"Version"=dword:00000002
"Raw"=hex(1):41,42
'''

OBJDUMP = '''
The Import Tables (interpreted .idata section contents)
 vma:            Hint    Time      Forward  DLL       First
                 Table   Stamp     Chain    Name      Thunk
 00048000       00048200 00000000 00000000 00048a00 00048300

\tDLL Name: ADVAPI32.dll
\tvma:  Hint/Ord Member-Name Bound-To
\t48498\t 1088  CloseServiceHandle
\t484ae\t 1093  ControlService

\tDLL Name: SHLWAPI.dll
\tvma:  Hint/Ord Member-Name Bound-To
\t48aea\t  179  SHDeleteKeyA

The Export Tables (interpreted .edata section contents)
\t[   0] +base[   1] 1ad0 Export RVA
'''


class WineRegistryFile(unittest.TestCase):
    def setUp(self):
        self.folder = tempfile.mkdtemp()
        with open(os.path.join(self.folder, 'system.reg'), 'w') as f:
            f.write(WINE_REG)
        self.reg = registry.read_wine_registry(self.folder)

    def test_values_keep_type_and_exact_bytes(self):
        port = self.reg.values(sides.PORT_KEY)
        self.assertEqual(port['Arguments'],
                         (REG_SZ, b'@c:\\zentaq\\res\\pdfwrite.rsp -sOutputFile="%1" -c save pop -f -\0'))
        self.assertEqual(port['Delay'], (REG_DWORD, (300).to_bytes(4, 'little')))
        self.assertEqual(port['LogFileName'], (REG_SZ, b'\0'))
        # A string written without its terminating NUL shows as hex(1) and keeps that shape.
        self.assertEqual(port['NoTerminator'], (REG_SZ, b'ZT'))
        self.assertEqual(port['Path'], (REG_EXPAND_SZ, b'%SystemRoot%\\x\0'))
        self.assertEqual(port['List'], (REG_MULTI_SZ, b'a\0b\0\0'))
        self.assertEqual(port[''], (REG_SZ, b'default\0'))

    def test_wrapped_hex_and_escaped_characters(self):
        data = self.reg.values(sides.PRINTER_DATA_KEY)
        self.assertEqual(len(data['TTFontSubTable'][1]), 25)
        self.assertEqual(data['TTFontSubTable'][1][-3:], b'\r\n\0')
        self.assertEqual(data['Accent'], (REG_SZ, 'café'.encode('cp1252') + b'\0'))

    def test_current_control_set_and_case(self):
        self.assertTrue(self.reg.has_key(sides.PORT_KEY.upper()))
        self.assertEqual(self.reg.subkeys('system\\currentcontrolset\\control\\print\\monitors'), ['ZENTAQ Monitor'])
        self.assertIsNone(self.reg.values(sides.UNINSTALL_KEY))


class SimulatedRegistryFile(unittest.TestCase):
    def test_regedit4_with_root_and_continuations(self):
        reg = registry.parse_regedit4(SIM_REG)
        self.assertEqual(reg.values(sides.MONITOR_KEY), {'Driver': (REG_SZ, b'ztqmon.dll\0')})
        driver = reg.values(sides.PRINT + '\\Environments\\Windows 4.0\\Drivers\\ZENTAQ Printer Driver')
        self.assertEqual(driver['Dependent Files'], (REG_MULTI_SZ, b'msprint.cat\0LWNT_470.SPD\0\0'))
        self.assertEqual(driver['Raw'], (REG_SZ, b'AB'))
        self.assertEqual(driver['Version'], (REG_DWORD, b'\2\0\0\0'))

    def test_wine_version_setting_is_written_once(self):
        with tempfile.NamedTemporaryFile('w', suffix='.reg', delete=False) as f:
            f.write('WINE REGISTRY Version 2\n\n[Software\\\\Wine] 1700000000\n#time=1\n"Other"="x"\n\n[Zzz] 1\n')
        registry.set_reg_string(f.name, 'Software\\Wine', 'Version', 'win98')
        registry.set_reg_string(f.name, 'Software\\Wine', 'Version', 'winxp')
        with open(f.name) as g:
            text = g.read()
        os.unlink(f.name)
        self.assertEqual(text.count('"Version"='), 1)
        self.assertIn('"Version"="winxp"', text)
        self.assertEqual(registry.parse_wine_reg(text).values('Software\\Wine')['Version'], (REG_SZ, b'winxp\0'))


class ImportList(unittest.TestCase):
    def test_objdump_import_table(self):
        with tempfile.NamedTemporaryFile('w', suffix='.sh', delete=False) as f:
            f.write('#!/bin/sh\ncat <<"EOF"\n' + OBJDUMP + 'EOF\n')
        os.chmod(f.name, 0o755)
        imports = check_exe.read_imports(f.name, 'unused')
        os.unlink(f.name)
        self.assertEqual(imports, {'advapi32': ['CloseServiceHandle', 'ControlService'], 'shlwapi': ['SHDeleteKeyA']})

    def test_every_listed_line_has_a_source(self):
        allowed = check_exe.load_export_list(os.path.join(os.path.dirname(check_exe.__file__),
                                                          'win9x_nt4_exports.txt'))
        self.assertIn('Internet Explorer 4', allowed[('shlwapi', 'SHDeleteKeyA')])
        with tempfile.NamedTemporaryFile('w', suffix='.txt', delete=False) as f:
            f.write('kernel32 GetVersion\n')
        with self.assertRaises(SystemExit):
            check_exe.load_export_list(f.name)
        os.unlink(f.name)


class Normalisation(unittest.TestCase):
    def test_folders_become_names_longest_first(self):
        r = sides.Result('C:\\windows\\system32', 'C:\\windows\\system32\\spool\\drivers\\w32x86', 'c:\\zentaq')
        self.assertEqual(compare.paths_to_symbols('Printer Driver Directory: c:\\WINDOWS\\system32\\spool\\drivers\\w32x86', r),
                         'Printer Driver Directory: <DRIVERS>')
        self.assertEqual(compare.paths_to_symbols('C:\\Windows\\System32\\ztqmon.dll C:\\ZENTAQ\\res', r),
                         '<SYSTEM>\\ztqmon.dll <MODULE>\\res')

    def test_port_record_lengths_follow_the_module_folder(self):
        record = compare.expected_port_record('c:\\zentaq')
        self.assertEqual(len(record['Command'][1]), len('c:\\zentaq') + 26)
        self.assertEqual(len(record['Arguments'][1]), len('c:\\zentaq') + 54)
        self.assertEqual(len(record), 12)

    def test_journal_fields(self):
        self.assertEqual(sides.unescape_journal(r'c:\\zentaq\tx\n'), 'c:\\zentaq\tx\n')
        # What setup slept between each stop and the next start; not before a stop nor after a start.
        s = sides.StepResult()
        sides.read_journal(['Sleep\t3000', 'ControlService\tSpooler\t1\t0', 'Sleep\t500', 'Sleep\t250',
                            'StartService\tSpooler\t0', 'Sleep\t500', 'ControlService\tSpooler\t1\t0',
                            'Sleep\t250', 'StartService\tSpooler\t0'], s)
        self.assertEqual(s.stop_waits, [750, 250])



# Wine's +pid output: setup's process 00d0 and another (0038, services.exe).
# A 64-bit relay shows a DWORD argument as the whole register.
WINE_STDERR = r"""0038:003c:trace:service:StartServiceW 00000000010A8B20 0 0000000000000000
00d0:00d4:Call user32.MessageBoxA(00000000,0040a000 "Are your sure you want to uninstall zentaq?",0040a100 "setup",00000004) ret=140001234
00d0:00d4:trace:msgbox:MSGBOX_OnInit L"Are your sure you want to uninstall zentaq?"
00d0:00d4:Ret  user32.MessageBoxA() retval=00000006 ret=140001234
00d0:00d4:Call sechost.OpenServiceA(010a1e40,0040a200 "Spooler",00000034) ret=140001300
00d0:00d4:Ret  sechost.OpenServiceA() retval=010a1f50 ret=140001300
00d0:00d4:Call sechost.ControlService(010a1f50,100000001,0021f7a0) ret=140001310
00d0:00d4:Ret  sechost.ControlService() retval=00000000 ret=140001310
0038:003c:Call sechost.ControlService(010a1f50,00000002,0021f7a0) ret=140001310
00d0:00d4:Call sechost.StartServiceA(010a1f50,00000000,00000000) ret=140001320
00d0:00d4:Ret  sechost.StartServiceA() retval=00000001 ret=140001320
00d0:00d4:Call KERNEL32.CreateProcessA(00000000,00c806f0 "c:\\started.exe hidden",00000000,00000000,00000000,ffffffff00000200,003a6b90,00000000,0021fba0,0021fb60) ret=1400017a3
00d0:00d4:Ret  KERNEL32.CreateProcessA() retval=00000001 ret=1400017a3
00d0:00d4:trace:localspl:myAddPrinterDriverEx 000000000021F200: .cVersion    : 0x2/2
00d0:00d4:trace:localspl:myAddPrinterDriverEx 00000000010A08B0: .pDriverPath : L"C:\\windows\\system32\\spool\\drivers\\x64\\pscript.dll"
00d0:00d4:trace:localspl:myAddPrinterDriverEx 0000000000000000: .pDependentFiles: (null)
00d0:00d4:err:winspool:AddPrinterW OpenPrinter failing
0038:003c:err:service:other process
00d0:00d4:Call user32.MessageBoxA(00000000,0040a300 "delete c:\\zentaq and \"its\" contents",0040a100 "setup",ffffffff00000000) ret=140001234
00d0:00d4:trace:msgbox:MSGBOX_OnInit L"delete c:\\zentaq and \"its\" contents"
00d0:00d4:Ret  user32.MessageBoxA() retval=00000001 ret=140001234
"""


class WineTraces(unittest.TestCase):
    def setUp(self):
        self.lines = wine_traces.process_lines(WINE_STDERR, 0xd0)
        self.calls = wine_traces.relay_calls(self.lines)

    def test_setup_process_only(self):
        self.assertTrue(self.lines and all(line.startswith('00d0:') for line in self.lines))
        self.assertEqual(wine_traces.errors(self.lines), ['err:winspool:AddPrinterW OpenPrinter failing'])
        # The functions called from inside setup.exe's image, each once; a
        # call returning elsewhere (into one of Wine's libraries) is not setup's.
        self.assertEqual(wine_traces.called_from(self.lines, (0x140001234, 0x140001320)),
                         ['ControlService', 'MessageBoxA', 'OpenServiceA'])

    def test_image_range_of_both_pe_kinds(self):
        # PE32 keeps a 4-byte ImageBase at offset 28 of the optional header,
        # PE32+ an 8-byte one at 24; SizeOfImage is at 56 in both.
        for magic, base, size in ((0x10B, 0x400000, 0x5000), (0x20B, 0x140000000, 0x65000)):
            header = bytearray(512)
            struct.pack_into('<I', header, 0x3C, 0x80)
            struct.pack_into('<H', header, 0x80 + 24, magic)
            if magic == 0x20B:
                struct.pack_into('<Q', header, 0x80 + 24 + 24, base)
            else:
                struct.pack_into('<I', header, 0x80 + 24 + 28, base)
            struct.pack_into('<I', header, 0x80 + 24 + 56, size)
            with tempfile.NamedTemporaryFile(suffix='.exe') as f:
                f.write(header)
                f.flush()
                self.assertEqual(wine_traces.image_range(f.name), (base, base + size))

    def test_boxes_with_type_answer_and_whole_text(self):
        self.assertEqual(wine_traces.message_boxes(self.calls, wine_traces.box_texts(self.lines)),
                         [('setup', 'Are your sure you want to uninstall zentaq?', sides.MB_YESNO, 'yes'),
                          ('setup', 'delete c:\\zentaq and "its" contents', sides.MB_OK, 'ok')])

    def test_service_requests_by_name_and_code(self):
        # Wine's first stop fails: its spooler service isn't running yet.
        self.assertEqual(wine_traces.services(self.calls),
                         [('control', 'Spooler', 1, False), ('start', 'Spooler', True)])

    def test_processes_with_the_stand_ins_record(self):
        started = wine_traces.read_started('c:\\started.exe hidden\t0x1\t0\r\nother\t0x0\t1\r\n')
        self.assertEqual(wine_traces.processes(self.calls, started),
                         [('c:\\started.exe hidden', sides.CREATE_NEW_PROCESS_GROUP, 1, 0)])
        # No record: the start's STARTUPINFO is unknown, never taken as right.
        self.assertEqual(wine_traces.processes(self.calls, []),
                         [('c:\\started.exe hidden', sides.CREATE_NEW_PROCESS_GROUP, None, None)])

    def test_driver_info_and_launcher(self):
        self.assertEqual(wine_traces.driver_info(self.lines),
                         {'cVersion': 2, 'pDriverPath': 'C:\\windows\\system32\\spool\\drivers\\x64\\pscript.dll',
                          'pDependentFiles': None})
        self.assertEqual(wine_traces.read_launcher('pid=208\nexit=3010\n'), {'pid': 208, 'exit': 3010})


class FakeStep:
    def __init__(self, log=(), errors='', image_calls=()):
        self.log, self.wine_errors, self.image_calls = list(log), errors, list(image_calls)


# What Wine's relay trace shows setup.exe's image calling in an uninstall:
# the last error cleared before DeletePrinter and DeletePrinterDriverA.
UNINSTALL_CALLS = [('OpenPrinterA', ['ZENTAQ'], 1), ('SetLastError', [0], 0), ('DeletePrinter', [4], 1),
                   ('DeletePrinterDriverA', [0, 0, 'ZENTAQ Printer Driver'], 0), ('CloseHandle', [0x8c], 1)]


def context(install=True, printer_before=False, driver_before=True, wine_log=(), nt=True, bits=32, args=None,
            printer_after=True, image_calls=UNINSTALL_CALLS, system=None, trouble=()):
    sc = sides.Scenario('x', system or ('xp' if nt else '98'), [], trouble=trouble)
    step = sides.Step(args if args is not None else [] if install else ['uninstall'])
    return differences.StepContext(sc, step, FakeStep(wine_log, image_calls=image_calls), bits, printer_before,
                                   driver_before, printer_after)


class Differences(unittest.TestCase):
    """Each difference is absorbed only where its cause shows, and no wider."""

    def absorbed(self, normalise, wine, sim):
        nwine, nsim, used = normalise(wine, sim)
        return sorted(set(used)) if used and nwine == nsim else None

    def test_existing_printer_unseen_only_when_its_key_was_there(self):
        wine, sim = ['AddMonitor: 3006'], ['AddMonitor: 3006', 'AddPrinter: 1802']
        self.assertEqual(self.absorbed(differences.norm_log(context(printer_before=True)), wine, sim),
                         ['printer-exists-unseen'])
        self.assertIsNone(self.absorbed(differences.norm_log(context(printer_before=False)), wine, sim))

    def test_delete_printer_last_error_only_when_wine_deleted_it(self):
        wine, sim = ['startrpc: 2', 'RegDeleteKey Windows 4.0 return: 2'], ['RegDeleteKey Windows 4.0 return: 2']
        deleted = context(install=False, printer_before=True, printer_after=False)
        self.assertEqual(self.absorbed(differences.norm_log(deleted), wine, sim), ['delete-printer-last-error'])
        kept = context(install=False, printer_before=True, printer_after=True)
        self.assertIsNone(self.absorbed(differences.norm_log(kept), wine, sim))
        self.assertIsNone(self.absorbed(differences.norm_log(deleted), ['startrpc: 5'] + sim[:1], sim))
        # Where the cause shows, Wine's form is required: equal to the simulated machine is a failure.
        self.assertNotEqual(*differences.norm_log(deleted)(sim, sim)[:2])

    def test_unknown_driver_code_only_when_wine_had_no_driver(self):
        wine, sim = ['DeleteMonitor: 3000'], ['DeletePrinterDriver: 1797', 'DeleteMonitor: 3000']
        self.assertEqual(self.absorbed(differences.norm_log(context(install=False, driver_before=False,
                                                                    printer_after=False)), wine, sim),
                         ['delete-driver-unknown'])
        self.assertIsNone(self.absorbed(differences.norm_log(context(install=False, printer_after=False)), wine, sim))

    def test_traces(self):
        sim = 'Enumerating ports\n\nAdding printer\n\nConfiguring printer\n\n'
        wine = 'Enumerating ports\r\n\r\nPort found\r\n\r\nAdding printer\r\n\r\nClosing printer\r\n\r\nConfiguring printer\r\n\r\n'
        self.assertEqual(self.absorbed(differences.norm_traces(context(printer_before=True)), wine, sim),
                         ['port-order', 'printer-exists-unseen', 'stdout-line-ends'])
        # A run that found the monitor registered did not add it: its port comes in the registry's order.
        self.assertIsNone(self.absorbed(differences.norm_traces(context(wine_log=['AddMonitor: 3006'],
                                                                        printer_before=True)), wine, sim))
        self.assertIsNone(self.absorbed(differences.norm_traces(context()), wine, sim))

    def test_printer_record_values_wine_leaves_out(self):
        wine = {'Port': sz('ZENTAQPORT'), 'txTimeout': dword(0)}
        sim = {'Port': sz('ZENTAQPORT'), **{name: sz('') for name in differences.NULL_STRINGS}}
        self.assertEqual(self.absorbed(differences.norm_printer, wine, sim),
                         ['printer-record-extras', 'printer-record-null-strings'])
        self.assertIsNone(self.absorbed(differences.norm_printer, wine, dict(sim, Location=sz('x'))))
        # A Datatype is written on both sides now: one missing is a difference.
        self.assertIsNone(self.absorbed(differences.norm_printer, wine, dict(sim, Datatype=sz('RAW'))))

    def test_simulated_side_in_wines_form_differs(self):
        """Where a difference's cause shows, a simulated side that answers as
        Wine does (or a Wine side that the cause doesn't explain) differs."""
        reinstall = context(printer_before=True)
        deleted = context(install=False, printer_before=True, printer_after=False)
        no_driver = context(install=False, driver_before=False, printer_after=False)
        not_cleared = context(install=False, printer_before=True, printer_after=False,
                              image_calls=[c for c in UNINSTALL_CALLS if c[0] != 'SetLastError'])
        own_close = context(image_calls=[('CloseHandle', [0x90], 1), ('RegCloseKey', [0x94], 0),
                                         ('CloseHandle', [0x8c], 1)])
        monitor = {'pName': 'ZENTAQ Monitor', 'pEnvironment': 'Windows NT x86', 'pDLLName': 'ztqmon.dll'}
        traces = 'Enumerating ports\n\nPort found\n\nAdding printer\n\nClosing printer\n\n'
        never_started = ['service status\t1\t-\t1\t1077']
        x64_key = sides.PRINT + '\\Environments\\Windows x64\\Drivers\\Version-2\\' + sides.DRIVER_NAME
        x64_dir = 'c:\\windows\\system32\\spool\\drivers\\x64'
        x64_passed = {'cVersion': 2, 'pEnvironment': 'Windows x64'}
        version_3_key = sides.PRINT + '\\Environments\\Windows NT x86\\Drivers\\Version-3\\' + sides.DRIVER_NAME
        bare_driver = {'Driver': sz('pscript.dll')}
        with_names = {'Driver': sz('pscript.dll'), 'Previous Names': (7, b'\0')}
        timeouts = {'Port': sz('ZENTAQPORT'), 'dnsTimeout': dword(15000), 'txTimeout': dword(45000)}
        empty_strings = {name: sz('') for name in differences.NULL_STRINGS}
        by_hand_in_wines_form = [call_view.AS_WRITTEN + '\tK = 1\\r\\n',
                                 call_view.BY_HAND + '\tK=1\\r\\n' + call_view.ADDED_FIRST]
        rows = [
            ('printer-exists-unseen', differences.norm_log(reinstall), ['AddMonitor: 3006'], ['AddMonitor: 3006']),
            ('printer-exists-unseen', differences.norm_traces(context(wine_log=['AddMonitor: 3006'],
                                                                      printer_before=True)), traces, traces),
            ('printer-exists-unseen', differences.norm_called(reinstall), ['ClosePrinter'], ['ClosePrinter']),
            ('delete-driver-unknown', differences.norm_log(no_driver), ['DeleteMonitor: 3000'],
             ['DeleteMonitor: 3000']),
            ('delete-printer-last-error', differences.norm_log(deleted), ['startrpc: 2'], ['startrpc: 2']),
            ('delete-printer-last-error', differences.norm_log(not_cleared), ['startrpc: 2'], []),
            ('enum-needed-ansi', differences.norm_spooler_width(context()), 1, 1),
            ('monitor-environment-nt-x86', differences.norm_spooler_entry(context(nt=False)), monitor, monitor),
            ('port-order', differences.norm_traces(context()), traces, traces),
            ('spooler-service-not-started', differences.norm_services, [('control', 'Spooler', 1, False)],
             [('control', 'Spooler', 1, False)]),
            ('spooler-service-not-started', call_view.norm_calls(False, True), never_started, never_started),
            ('stdout-line-ends', differences.norm_traces(context()), 'Adding printer\r\n\r\n',
             'Adding printer\r\n\r\n'),
            # A LF that reached Wine's file without the text mode's CR.
            ('stdout-line-ends', differences.norm_traces(context()), 'Adding printer\r\n\n', 'Adding printer\n\n'),
            # A CloseHandle of setup's own before the runtime's at exit.
            ('runtime-close-at-exit', differences.norm_called(own_close), ['CloseHandle'], []),
            ('environment-64', differences.norm_driver_key(context(bits=64)), x64_key, x64_key),
            ('environment-64', differences.norm_driver_directory(context(bits=64)), x64_dir, x64_dir),
            ('environment-64', differences.norm_driver_passed(context(bits=64)), x64_passed, x64_passed),
            ('driver-version-key', differences.norm_driver_key(context()), version_3_key, version_3_key),
            ('driver-version-key', differences.norm_driver_version(context()), dword(3), dword(3)),
            ('driver-file-names', differences.norm_driver_values(context()), bare_driver, bare_driver),
            ('driver-record-extras', differences.norm_driver_values(context()), with_names,
             dict(with_names, Driver=sz('C:\\WINDOWS\\system32\\spool\\drivers\\w32x86\\pscript.dll'))),
            ('printer-record-extras', differences.norm_printer, timeouts, dict(timeouts, **empty_strings)),
            ('printer-record-null-strings', differences.norm_printer, {'Port': sz('ZENTAQPORT')},
             {'Port': sz('ZENTAQPORT')}),
            ('profile-rewritten-whole', call_view.norm_calls(True, True), by_hand_in_wines_form,
             by_hand_in_wines_form),
            ('runtime-module-lookup', call_view.norm_called([]), [call_view.RUNTIME_MARK], ['GetModuleHandleA']),
            # Wine's DeletePrinter of a printer that it added where the simulated side added none too.
            ('printer-add-unchecked', call_view.norm_called([]), ['DeletePrinter'], []),
        ] + [(name, call_view.norm_calls(True, True), [label + '\t' + '\t'.join(wine_form)],
              [label + '\t' + '\t'.join(wine_form)])
             for label, (_, wine_form, name, _) in call_view.LET_THROUGH.items()]
        for name, normalise, wine, sim in rows:
            with self.subTest(name, wine=wine, sim=sim):
                nwine, nsim, _ = normalise(wine, list(sim) if isinstance(sim, list) else sim)
                self.assertNotEqual(nwine, nsim)
        # Every entry has its case, here or in the tests of folders and trouble below.
        elsewhere = {'system-directory-98', 'driver-directory-98', 'windows-folder-winnt', 'profile-no-section-nt4',
                     'driver-files-unchecked', 'readonly-written-as-root'}
        self.assertEqual({row[0] for row in rows} | elsewhere, set(differences.DIFFERENCES))

    def test_driver_key_by_flavour(self):
        base = sides.PRINT + '\\Environments\\'
        sim = base + 'Windows NT x86\\Drivers\\Version-2\\' + sides.DRIVER_NAME
        wine = base + 'Windows x64\\Drivers\\Version-3\\' + sides.DRIVER_NAME
        self.assertEqual(self.absorbed(differences.norm_driver_key(context(bits=64)), wine, sim),
                         ['driver-version-key', 'environment-64'])
        self.assertIsNone(self.absorbed(differences.norm_driver_key(context(bits=32)), wine, sim))

    def test_folders_of_the_other_systems_hold_both_ways(self):
        # (system, bits, field, Wine's, the simulated side's, what absorbs them, or None: a difference)
        winnt, xp_drivers = 'c:\\winnt\\system32', 'c:\\windows\\system32\\spool\\drivers\\'
        rows = [('nt4', 32, 'system', 'c:\\windows\\system32', winnt, ['windows-folder-winnt']),
                ('2000', 64, 'driver', xp_drivers + 'x64', winnt + '\\spool\\drivers\\w32x86',
                 ['environment-64', 'windows-folder-winnt']),
                ('xp', 32, 'system', 'c:\\windows\\system32', winnt, None),
                ('me', 32, 'system', 'c:\\windows\\system32', 'c:\\windows\\system', ['system-directory-98']),
                ('95', 32, 'driver', xp_drivers + 'win40', 'c:\\windows\\system', ['driver-directory-98']),
                # The simulated 9x or NT 4.0 in Wine's layout: a difference.
                ('98', 32, 'system', 'c:\\windows\\system32', 'c:\\windows\\system32', None),
                ('98', 32, 'driver', xp_drivers + 'win40', xp_drivers + 'win40', None),
                ('nt4', 32, 'system', 'c:\\windows\\system32', 'c:\\windows\\system32', None),
                ('98', 32, 'system', 'c:\\windows\\system32', 'c:\\windows', None)]
        for system, bits, field, wine, sim, expected in rows:
            ctx = context(system=system, nt=system not in sides.NINE_X, bits=bits)
            normalise = (differences.norm_system_directory if field == 'system' else differences.norm_driver_directory)
            nwine, nsim, used = normalise(ctx)(wine, sim)
            self.assertEqual(sorted(used) if nwine == nsim else None, expected, (system, field, wine, sim))

    def test_trouble_that_wine_cannot_show_holds_both_ways(self):
        readonly = [sides.Trouble('file', sides.SETUP_LOG, b'01-02-05: 08:00earlier\r\n'),
                    sides.Trouble('readonly', sides.SETUP_LOG)]
        missing = [sides.Trouble('missing', 'gs.PPD')]
        copied = ['is_winnt = TRUE', 'CopyFile InFile.Open Failed: <MODULE>\\res\\drivedir\\gs.PPD']
        # (trouble, Wine's log, the simulated side's, what absorbs them, or None: a difference)
        rows = [(readonly, ['earlier', 'is_winnt = TRUE'], ['earlier'], ['readonly-written-as-root']),
                (readonly, ['earlier', 'is_winnt = TRUE'], ['earlier', 'is_winnt = TRUE'], None),
                (readonly, ['earlier', 'is_winnt = TRUE'], [], None),
                ((), ['earlier', 'is_winnt = TRUE'], ['earlier'], None),
                (missing, copied, copied + differences.REFUSED_DRIVER, ['driver-files-unchecked']),
                # The simulated spooler taking the driver as Wine does: a difference.
                (missing, copied, copied, None),
                (missing, copied, copied + ['AddPrinterDriver: 2'], None),
                ((), copied, copied + differences.REFUSED_DRIVER, None)]
        for trouble, wine, sim, expected in rows:
            nwine, nsim, used = differences.norm_log(context(trouble=trouble, image_calls=[]))(wine, sim)
            self.assertEqual(sorted(used) if nwine == nsim else None, expected, (trouble, sim))
        # A simulated side that took the driver ends with 0, where 1603 is required.
        ctx = context(trouble=missing)
        self.assertTrue(ctx.driver_files_missing)
        self.assertFalse(context(trouble=[sides.Trouble('missing', 'Pscript.hlp')]).driver_files_missing)

    def test_configuration_file_edited_by_hand(self):
        before = b'; note\r\n[A]\r\nK = 1\r\n\r\n[Parameters]\r\nQuiet = "1"\r\n'
        kept = b'; note\r\n[A]\r\nK = 1\r\n\r\n[Parameters]\r\nQuiet=0\r\n'
        wine = b'; note\r\n[A]\r\nK=1\r\n[Parameters]\r\nQuiet=0\r\n'
        ctx = context()
        ctx.step.config = before
        normalise = differences.norm_config_bytes(ctx)
        self.assertEqual(self.absorbed(normalise, wine, kept), ['profile-rewritten-whole'])
        # The simulated side in Wine's form, or with a line more changed: a difference.
        self.assertIsNone(self.absorbed(normalise, wine, wine))
        self.assertIsNone(self.absorbed(normalise, wine, kept.replace(b'K = 1', b'K=1')))

    def test_functions_that_callview_called(self):
        lookup, own = ('GetModuleHandleA', ['libgcc_s_dw2-1.dll'], 0), ('GetModuleHandleA', [0], 0x400000)
        boundary = ['GetModuleHandleA', 'RegCloseKey']
        rows = [([lookup, ('RegCloseKey', [1], 0)], [call_view.RUNTIME_MARK, 'RegCloseKey']),
                ([lookup, own], ['GetModuleHandleA']), ([('printf', [], 0)], [])]
        for calls, names in rows:
            self.assertEqual(call_view.names_called(calls, boundary), names, calls)
        added = ['add printer with a comma\t1\t-']
        self.assertEqual(self.absorbed(call_view.norm_called(added), ['DeletePrinter', call_view.RUNTIME_MARK], []),
                         ['printer-add-unchecked', 'runtime-module-lookup'])

    def test_answers_of_one_system_hold_both_ways(self):
        wine = ['write profile without a section\t0\t2']
        for system, sim, absorbed in (('nt4', ['write profile without a section\t0\t87'], True),
                                      ('nt4', wine, False), ('2000', ['write profile without a section\t0\t87'], False),
                                      ('2000', wine, True)):
            nwine, nsim, used = call_view.norm_calls(True, True, system)(list(wine), list(sim))
            self.assertEqual(nwine == nsim, absorbed, (system, sim, used))


SPOOLVIEW = (
    'call\tEnumPortsA\t2\tprobe\t0\t0x7a\t88\t0\t0\t0\n'
    'call\tEnumPortsA\t2\tfill\t1\t0x7a\t88\t2\t88\t32\n'
    'record\tEnumPortsA\t2\t0\tpPortName=C:\\\\a\\tb\tpMonitorName=\\N\tpDescription=x=y\tfPortType=0x1\tReserved=0x0\n'
    'record\tEnumPortsA\t2\t1\tpPortName=zentaqport\tpMonitorName=M\tpDescription=\\?\tfPortType=0x1\tReserved=0x0\n'
    'misplaced\tEnumPortsA\t2\t1\tpDescription\t-8\n'
    'unavailable\tEnumPrintersA\n'
    'open\tZENTAQ\t0\t0x709\n'
    'garbage\n')


class SpoolerListing(unittest.TestCase):
    def test_spoolview_output(self):
        listing = spooler_listing.parse(SPOOLVIEW)
        first, second = listing.records[('EnumPortsA', 2)]
        # Escapes undone, NULL and unreadable kept as markers, '=' in a value kept.
        self.assertEqual(first, {'pPortName': 'C:\\a\tb', 'pMonitorName': '\\N', 'pDescription': 'x=y',
                                 'fPortType': '0x1', 'Reserved': '0x0'})
        self.assertIs(listing.entry('EnumPortsA', 2, 'pPortName', 'ZENTAQPORT'), second)
        self.assertIsNone(listing.entry('EnumPortsA', 1, 'pName', 'ZENTAQPORT'))
        self.assertIs(listing.entry('EnumPrintersA', 2, 'pPrinterName', 'ZENTAQ'), Ellipsis)
        self.assertEqual(listing.misplaced, [('EnumPortsA', 2, 1, 'pDescription', -8)])
        self.assertEqual((listing.opened, listing.malformed), ((0, 0x709), ['garbage']))
        # 2 records of 32 bytes and 24 characters with their NULs: one byte each.
        self.assertEqual(spooler_listing.char_width(listing, ('EnumPortsA', 2)), 1)
        listing.calls[('EnumPortsA', 2)]['fill'] = (1, 0, 112, 2, 112, 32)
        self.assertEqual(spooler_listing.char_width(listing, ('EnumPortsA', 2)), 2)
        listing.calls[('EnumPortsA', 2)]['fill'] = (1, 0, 111, 2, 111, 32)
        self.assertIsNone(spooler_listing.char_width(listing, ('EnumPortsA', 2)))


class Prefixes(unittest.TestCase):
    def test_copy_links_wines_programs_and_copies_the_rest(self):
        root = tempfile.mkdtemp()
        template, copy = os.path.join(root, 't'), os.path.join(root, 'c')
        os.makedirs(os.path.join(template, 'drive_c', 'windows', 'system32'))
        for name, text in (('user.reg', 'WINE REGISTRY Version 2\n'), ('drive_c/windows/system32/a.dll', 'MZ'),
                           ('drive_c/windows/win.ini', '[windows]\n')):
            with open(os.path.join(template, name), 'w') as f:
                f.write(text)
        os.symlink('../drive_c', os.path.join(template, 'c:'))
        winelib.copy_prefix(template, copy)
        same = {name: os.path.samefile(os.path.join(template, name), os.path.join(copy, name))
                for name in ('user.reg', 'drive_c/windows/system32/a.dll', 'drive_c/windows/win.ini')}
        self.assertEqual(same, {'user.reg': False, 'drive_c/windows/system32/a.dll': True,
                                'drive_c/windows/win.ini': False})
        self.assertTrue(os.path.islink(os.path.join(copy, 'c:')))
        winelib.set_windows_version(copy, 'win98')
        with open(os.path.join(template, 'user.reg')) as f:
            self.assertNotIn('win98', f.read())

    def test_released_libraries(self):
        folder = tempfile.mkdtemp()
        with open(os.path.join(folder, 'state.ini'), 'w') as f:
            f.write('[loaded]\nc:\\windows\\system32\\ztqmon.dll\n[spooler]\nrunning = yes\n')
        sides.release_libraries(folder)
        with open(os.path.join(folder, 'state.ini')) as f:
            self.assertEqual(f.read(), '[spooler]\nrunning = yes\n')


    def test_configuration_file_before_an_install(self):
        root = tempfile.mkdtemp()
        path = os.path.join(root, 'res', 'zentaq.ini')
        os.makedirs(os.path.dirname(path))
        sides.set_quiet(root, 0)
        with open(path, 'rb') as f:
            self.assertEqual(f.read(), b'[Parameters]\r\nQuiet=0\r\n')
        sides.set_quiet(root, 1, sides.EDITED_CONFIG)
        self.assertEqual(sides.read_ini(path), {'Deployment': {'Source': '\\\\server\\setup\\zentaq'},
                                                'Parameters': {'Quiet': '"1"'}})
        sides.set_quiet(root, None)  # as shipped: no file
        self.assertFalse(os.path.exists(path))
        sides.set_quiet(root, None)


class FlavourAvailable(unittest.TestCase):
    """Whether a flavour runs is decided from what its loader answers."""

    def loader(self, script):
        with tempfile.NamedTemporaryFile('w', suffix='.sh', delete=False) as f:
            f.write('#!/bin/sh\n' + script + '\n')
        os.chmod(f.name, 0o755)
        self.addCleanup(os.unlink, f.name)
        return f.name

    def ensure(self, bits, script):
        wine = winelib.Wine(bits)
        wine.loader = self.loader(script)
        emulated = winelib._emulated
        winelib._emulated = lambda: False
        try:
            return wine.ensure(allow_emulation=False)
        finally:
            winelib._emulated = emulated

    def test_32_bit(self):
        self.assertEqual(self.ensure(32, 'echo wine-8.0'), 'wine-8.0')
        with self.assertRaisesRegex(winelib.WineUnavailable, 'runs no 32-bit programs'):
            self.ensure(32, 'echo "exec: /usr/lib/wine/wine: Exec format error" >&2; exit 2')
        # Debian's wrapper falls back to wine64 when wine32 is missing.
        with self.assertRaisesRegex(winelib.WineUnavailable, 'wine32'):
            self.ensure(32, 'echo "it looks like wine32 is missing, you should install it." >&2; echo wine-8.0')

    def test_64_bit(self):
        self.assertEqual(self.ensure(64, 'echo wine-8.0'), 'wine-8.0')
        wine = winelib.Wine(64)
        wine.loader = '/nonexistent/wine64'
        with self.assertRaisesRegex(winelib.WineUnavailable, 'not installed'):
            wine.ensure()


class MessageBoxDisplay(unittest.TestCase):
    def test_displays_started_together_are_distinct(self):
        # Two Wine tests run at once; sharing a server, each one's answerer
        # would press keys in the other's boxes.
        if not shutil.which('Xvfb'):
            self.skipTest('Xvfb is not installed')
        displays = [winelib.Display(lambda message: None) for _ in range(2)]
        threads = [threading.Thread(target=d.__enter__) for d in displays]
        for t in threads:
            t.start()
        for t in threads:
            t.join()
        try:
            self.assertTrue(all(d.proc and d.proc.poll() is None for d in displays))
            self.assertNotEqual(displays[0].name, displays[1].name)
        finally:
            for d in displays:
                d.__exit__(None, None, None)

    def test_box_answerer_stops(self):
        # Thread.join() calls the thread's own _stop(); an attribute of that
        # name would break it.
        answerer = winelib.BoxAnswerer(':65000', 'setup', [], lambda message: None)
        answerer.start()
        answerer.stop()
        self.assertFalse(answerer.is_alive())


if __name__ == '__main__':
    unittest.main()
