#!/usr/bin/env python3
"""Checks of the Wine test harness itself: the readers of Wine's and the
simulated machine's registry files, of objdump's import list, and the
normalisations that the comparison relies on. A fault in any of these would
let the Wine comparison pass on wrong data, or fail on right data."""
import os
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import check_exe  # noqa: E402
import scenarios  # noqa: E402
import winelib  # noqa: E402
from winelib import REG_BINARY, REG_DWORD, REG_EXPAND_SZ, REG_MULTI_SZ, REG_SZ  # noqa: E402

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
        self.reg = winelib.read_wine_registry(self.folder)

    def test_values_keep_type_and_exact_bytes(self):
        port = self.reg.values(scenarios.PORT_KEY)
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
        data = self.reg.values(scenarios.PRINTER_DATA_KEY)
        self.assertEqual(len(data['TTFontSubTable'][1]), 25)
        self.assertEqual(data['TTFontSubTable'][1][-3:], b'\r\n\0')
        self.assertEqual(data['Accent'], (REG_SZ, 'café'.encode('cp1252') + b'\0'))

    def test_current_control_set_and_case(self):
        self.assertTrue(self.reg.has_key(scenarios.PORT_KEY.upper()))
        self.assertEqual(self.reg.subkeys('system\\currentcontrolset\\control\\print\\monitors'), ['ZENTAQ Monitor'])
        self.assertIsNone(self.reg.values(scenarios.UNINSTALL_KEY))


class SimulatedRegistryFile(unittest.TestCase):
    def test_regedit4_with_root_and_continuations(self):
        reg = winelib.parse_regedit4(SIM_REG)
        self.assertEqual(reg.values(scenarios.MONITOR_KEY), {'Driver': (REG_SZ, b'ztqmon.dll\0')})
        driver = reg.values(scenarios.PRINT + '\\Environments\\Windows 4.0\\Drivers\\ZENTAQ Printer Driver')
        self.assertEqual(driver['Dependent Files'], (REG_MULTI_SZ, b'msprint.cat\0LWNT_470.SPD\0\0'))
        self.assertEqual(driver['Raw'], (REG_SZ, b'AB'))
        self.assertEqual(driver['Version'], (REG_DWORD, b'\2\0\0\0'))

    def test_wine_version_setting_is_written_once(self):
        with tempfile.NamedTemporaryFile('w', suffix='.reg', delete=False) as f:
            f.write('WINE REGISTRY Version 2\n\n[Software\\\\Wine] 1700000000\n#time=1\n"Other"="x"\n\n[Zzz] 1\n')
        winelib.set_reg_string(f.name, 'Software\\Wine', 'Version', 'win98')
        winelib.set_reg_string(f.name, 'Software\\Wine', 'Version', 'winxp')
        with open(f.name) as g:
            text = g.read()
        os.unlink(f.name)
        self.assertEqual(text.count('"Version"='), 1)
        self.assertIn('"Version"="winxp"', text)
        self.assertEqual(winelib.parse_wine_reg(text).values('Software\\Wine')['Version'], (REG_SZ, b'winxp\0'))


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
        r = scenarios.Result()
        r.system_dir, r.driver_dir, r.module_dir = 'C:\\windows\\system32', 'C:\\windows\\system32\\spool\\drivers\\w32x86', 'c:\\zentaq'
        self.assertEqual(scenarios.paths_to_symbols('Printer Driver Directory: c:\\WINDOWS\\system32\\spool\\drivers\\w32x86', r),
                         'Printer Driver Directory: <DRIVERS>')
        self.assertEqual(scenarios.paths_to_symbols('C:\\Windows\\System32\\ztqmon.dll C:\\ZENTAQ\\res', r),
                         '<SYSTEM>\\ztqmon.dll <MODULE>\\res')

    def test_port_record_lengths_follow_the_module_folder(self):
        record = scenarios.expected_port_record('c:\\zentaq')
        self.assertEqual(len(record['Command'][1]), len('c:\\zentaq') + 26)
        self.assertEqual(len(record['Arguments'][1]), len('c:\\zentaq') + 54)
        self.assertEqual(len(record), 12)

    def test_journal_fields(self):
        self.assertEqual(scenarios.unescape_journal(r'c:\\zentaq\tx\n'), 'c:\\zentaq\tx\n')


if __name__ == '__main__':
    unittest.main()
