#!/usr/bin/env python3
"""setup.exe under Wine against the POSIX setup on the simulated machine.

Each scenario runs twice from the same product files: the real setup.exe in
a fresh Wine prefix whose Windows version is set with Wine's own setting, and
the POSIX build of the same sources on a fresh simulated machine of that
system. What both runs leave (setup log, progress traces, port record,
monitor, driver and printer records, printer data, Add/Remove Programs
entry, configuration file, copied files, message boxes) is compared field by
field. A field may differ only where DIFFERENCES below says why: each entry
there is a behaviour of Wine that real Windows does not share, or a
simplification of the simulated machine that its owners chose. Every other
difference fails the scenario. Some facts are also checked outright on both
sides (the port record's exact data, the Add/Remove Programs entry, the
printer data bytes), so that the two cannot agree on a wrong value.

    scenarios.py templates --work DIR --dirs-exe dirs.exe
    scenarios.py run SCENARIO --work DIR --setup-exe setup.exe --sim-setup setup
                     --winsim winsim --product DIR [--monitor-dll ztqmon.dll]

Exit codes: 0 equal, 1 a difference or a failed check, 77 Wine can't run here.
"""
import argparse
import json
import os
import re
import shutil
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import winelib  # noqa: E402
from winelib import REG_BINARY, REG_DWORD, REG_SZ  # noqa: E402

SKIP = 77

# Time limits, in seconds. Generous: under qemu's i386 emulation every Wine
# process takes about a minute of processor time to start.
BOOT_LIMIT = 2400
RUN_LIMIT = 1200
SETTLE_LIMIT = 600
SIM_LIMIT = 120

PRINT = 'SYSTEM\\CurrentControlSet\\Control\\Print'
MONITOR_KEY = PRINT + '\\Monitors\\ZENTAQ Monitor'
PORT_KEY = MONITOR_KEY + '\\Ports\\ZENTAQPORT'
PRINTER_KEY = PRINT + '\\Printers\\ZENTAQ'
PRINTER_DATA_KEY = PRINTER_KEY + '\\PrinterDriverData'
UNINSTALL_KEY = 'Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Zentaq'
INIFILEMAPPING_KEY = 'SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\IniFileMapping\\zentaq.ini'
DRIVER_NAME = 'ZENTAQ Printer Driver'

SYSTEM_LIBRARIES = ['ztqmon.dll', 'ztqmona.dll', 'ztqmon95.dll', 'ztqmona95.dll']
DRIVER_FILES = ['Pscript.dll', 'Zentaqui.dll', 'Pscript.hlp', 'gs.PPD', 'fontsub.tbl', 'ztqdriver.SPD']


class Step:
    def __init__(self, args, answers=()):
        self.args = list(args)
        self.answers = list(answers)  # message box answers in order: yes, no, ok


class Scenario:
    def __init__(self, name, wine_version, sim_os, steps):
        self.name, self.wine_version, self.sim_os, self.steps = name, wine_version, sim_os, steps

    @property
    def nt(self):
        return self.sim_os != '98'


SCENARIOS = {s.name: s for s in [
    Scenario('install_xp', 'winxp', 'xp', [Step([])]),
    Scenario('install_98', 'win98', '98', [Step([])]),
    Scenario('uninstall_xp', 'winxp', 'xp', [Step([]), Step(['uninstall'], ['yes', 'ok'])]),
]}

# Keys that answer a message box under Xvfb: the default button of MB_YESNO
# is Yes, of MB_OK OK.
BOX_KEYS = {'yes': 'Return', 'ok': 'Return', 'no': 'n'}


# --- the differences that are not ours ---------------------------------------------

# Each: the fields it concerns, the scenarios, and why Wine and the simulated
# machine may differ there. The normalisation that absorbs it is in normalise().
DIFFERENCES = {
    'system-directory-98': (
        'all paths', ['install_98'],
        'Wine keeps the NT folder layout whatever version it reports: on win98 GetSystemDirectoryA is '
        'C:\\windows\\system32, where Windows 98 (and the simulated 98) say C:\\WINDOWS\\SYSTEM.'),
    'driver-directory-98': (
        'all paths', ['install_98'],
        'Wine\'s spooler names its own folder for the "Windows 4.0" environment '
        '(...\\spool\\drivers\\win40); Windows 98 keeps printer drivers in C:\\WINDOWS\\SYSTEM.'),
    'stdout-line-ends': (
        'progress traces', ['install_xp', 'install_98', 'uninstall_xp'],
        'The Windows C runtime writes standard output in text mode, so each "\\n" of a trace reaches a file as '
        'CR LF; the POSIX build writes LF. Compared with CR LF read as LF.'),
    'driver-version-key': (
        'driver record', ['install_xp', 'install_98', 'uninstall_xp'],
        'Wine files every NT driver under Drivers\\Version-3 and 9x drivers under Drivers\\Version-0, with '
        'Version 3 or 0, whatever cVersion the caller gave; Windows XP keeps a cVersion 2 driver under '
        'Version-2 and Windows 98 directly under Drivers.'),
    'driver-file-names': (
        'driver record', ['install_xp', 'install_98', 'uninstall_xp'],
        'Windows and Wine copy the driver files into a version folder and record bare file names; the '
        'simulated spooler copies nothing and records the names as passed (full paths on NT). Compared by '
        'file name.'),
    'driver-record-extras': (
        'driver record', ['install_xp', 'install_98', 'uninstall_xp'],
        'Wine writes "Previous Names" (an empty multi-string) into the driver\'s key, as Windows 2000 and XP do '
        'for drivers added at level 6; the simulated spooler keeps the values of level 3 only.'),
    'printer-record-extras': (
        'printer record', ['install_xp', 'install_98', 'uninstall_xp'],
        'Wine\'s AddPrinterA writes more values into the printer\'s key (Name, Datatype, Description, '
        'Priority, ...) than the simulated spooler keeps; only the values the simulated spooler keeps are '
        'compared.'),
}


# --- running the two sides ---------------------------------------------------------

class Result:
    """What one run left behind, in a form both sides share."""

    def __init__(self):
        self.log = []          # setup log texts, time stamps removed
        self.stamps_ok = True
        self.stdout = ''
        self.registry = winelib.Registry()
        self.ini = {}
        self.system_files = {}  # name -> bytes, product libraries found in the system directory
        self.driver_files = {}  # name -> bytes, product files found in the driver directory
        self.boxes = []         # (caption, text or None, answer) in order
        self.system_dir = ''
        self.driver_dir = ''
        self.module_dir = ''
        self.notes = []


def log_to(path):
    def write(message):
        line = time.strftime('%H:%M:%S ') + message
        print(line, flush=True)
        with open(path, 'a') as f:
            f.write(line + '\n')
    return write


def read_setup_log(path, result):
    if not os.path.exists(path):
        return
    with open(path, 'rb') as f:
        data = f.read()
    lines = data.split(b'\r\n')
    if lines and lines[-1] == b'':
        lines.pop()
    for line in lines:
        text = line.decode('latin-1')
        if not re.match(r'^\d\d-\d\d-\d\d: \d\d:\d\d', text):
            result.stamps_ok = False
        result.log.append(text[15:])


def read_ini(path):
    sections = {}
    if not os.path.exists(path):
        return sections
    current = None
    with open(path, 'rb') as f:
        for raw in f.read().decode('latin-1').splitlines():
            line = raw.strip()
            if line.startswith('[') and line.endswith(']'):
                current = sections.setdefault(line[1:-1], {})
            elif current is not None and '=' in line:
                key, value = line.split('=', 1)
                current[key.strip()] = value.strip()
    return sections


def collect_files(folder, names):
    found = {}
    if not os.path.isdir(folder):
        return found
    by_lower = {n.lower(): n for n in os.listdir(folder)}
    for name in names:
        actual = by_lower.get(name.lower())
        if actual and os.path.isfile(os.path.join(folder, actual)):
            with open(os.path.join(folder, actual), 'rb') as f:
                found[name] = f.read()
    return found


def stage_product(product, zentaq_root, monitor_dll):
    shutil.copytree(os.path.join(product, 'zentaq'), zentaq_root, dirs_exist_ok=True)
    # Quiet=1 keeps the install from opening the readme page: under Wine that
    # starts Wine's browser bridge, processes that only cost time here. Both
    # sides get it, and the install sets it back to 0.
    with open(os.path.join(zentaq_root, 'res', 'zentaq.ini'), 'wb') as f:
        f.write(b'[Parameters]\r\nQuiet=1\r\n')
    if monitor_dll:
        # The test monitor stands in for both monitor libraries: Wine's
        # spooler loads what AddMonitorA names, and refuses the placeholders
        # (126, ERROR_MOD_NOT_FOUND), where the simulated spooler takes any
        # file that is there.
        for name in ('ztqmon.dll', 'ztqmon95.dll'):
            shutil.copyfile(monitor_dll, os.path.join(zentaq_root, 'res', 'drivedir', name))


def run_wine(sc, args, work, log):
    info_path = os.path.join(args.work, 'templates', sc.wine_version, 'info.json')
    if not os.path.exists(info_path):
        raise RuntimeError(f'no prefix template for {sc.wine_version} (run "templates" first)')
    with open(info_path) as f:
        info = json.load(f)
    prefix = os.path.join(work, 'prefix')
    winelib.copy_prefix(os.path.join(args.work, 'templates', sc.wine_version, 'prefix'), prefix)

    zentaq = winelib.host_path(prefix, 'c:\\zentaq')
    stage_product(args.product, zentaq, args.monitor_dll)
    shutil.copyfile(args.setup_exe, os.path.join(zentaq, 'setup.exe'))
    if not sc.nt:
        drivers = winelib.host_path(prefix, info['drivers'])
        os.makedirs(drivers, exist_ok=True)
        for name in os.listdir(os.path.join(args.product, 'pscript9x')):
            shutil.copyfile(os.path.join(args.product, 'pscript9x', name), os.path.join(drivers, name))

    result = Result()
    for number, step in enumerate(sc.steps, 1):
        stdout_path = os.path.join(work, f'step{number}.stdout')
        stderr_path = os.path.join(work, f'step{number}.stderr')
        # The dialog channel names each message box's text.
        env = winelib.wine_env(prefix, debug='-all,err+all,trace+msgbox,trace+dialog')
        cmd = [winelib.WINE, 'c:\\zentaq\\setup.exe', *step.args]
        log(f'wine {sc.wine_version}: setup.exe {" ".join(step.args)}')
        started = time.time()
        answerer = None
        display = None
        try:
            if step.answers:
                display = winelib.Display(log).__enter__()
                env['DISPLAY'] = display.name
                answerer = winelib.BoxAnswerer(display.name, 'setup', [BOX_KEYS[a] for a in step.answers], log)
                answerer.start()
            try:
                with open(stdout_path, 'wb') as out:
                    code, _, err = winelib.run(cmd, env, RUN_LIMIT, cwd=zentaq, stdout=out, prefix=prefix)
            except winelib.RunTimeout as e:
                with open(stderr_path, 'wb') as f:
                    f.write(e.stderr)
                raise
            with open(stderr_path, 'wb') as f:
                f.write(err)
            winelib.wait_prefix(prefix, SETTLE_LIMIT)
        finally:
            if answerer:
                answerer.stop()
            if display:
                display.__exit__(None, None, None)
        log(f'wine {sc.wine_version}: exit code {code} after {time.time() - started:.0f} s')
        with open(stdout_path, 'rb') as f:
            result.stdout += f.read().decode('latin-1')
        # The boxes: those answered under Xvfb, with their text where Wine's
        # trace names it; without a display, those that the trace names.
        texts = wine_boxes(err.decode('utf-8', errors='replace'))
        if answerer:
            for i, _ in enumerate(answerer.answered):
                text = texts[i][1] if i < len(texts) else None
                result.boxes.append(('setup', text, step.answers[i]))
            if len(answerer.answered) != len(step.answers) or answerer.unanswered:
                result.notes.append(f'step {number}: {len(answerer.answered)} message boxes answered, '
                                    f'{len(step.answers)} expected, {len(answerer.unanswered)} more shown')
        else:
            result.boxes += [(caption, text, 'none') for caption, text in texts]

    result.system_dir = info['system']
    result.driver_dir = info['drivers']
    # setup.exe is started as c:\\zentaq\\setup.exe; Wine spells the drive as
    # it spelled dirs.exe's (C:).
    result.module_dir = info['module'][:2] + '\\zentaq'
    read_setup_log(winelib.host_path(prefix, 'c:\\zentaq\\res\\drivedir\\setup.log'), result)
    result.registry = winelib.read_wine_registry(prefix)
    result.ini = read_ini(winelib.host_path(prefix, 'c:\\zentaq\\res\\zentaq.ini'))
    result.system_files = collect_files(winelib.host_path(prefix, info['system']), SYSTEM_LIBRARIES)
    result.driver_files = collect_files(winelib.host_path(prefix, info['drivers']), DRIVER_FILES)
    return result


def wine_boxes(stderr):
    """(caption, text) of each message box from Wine's dialog trace."""
    boxes = []
    for line in stderr.splitlines():
        m = re.search(r'MessageBox\w*\s*\(.*?L?"((?:[^"\\]|\\.)*)"\s*,\s*L?"((?:[^"\\]|\\.)*)"', line)
        if m:
            boxes.append((m.group(2), m.group(1)))
    return boxes


def run_sim(sc, args, work, log, module_path):
    machine = os.path.join(work, 'machine')
    if os.path.exists(machine):
        shutil.rmtree(machine)
    env = dict(os.environ, WINSIM_PRODUCT_DIR=args.product)
    r = subprocess.run([args.winsim, 'init', '--os', sc.sim_os, '--product', machine], env=env,
                       capture_output=True, text=True, timeout=SIM_LIMIT)
    if r.returncode != 0:
        raise RuntimeError(f'winsim init failed: {r.stderr.strip()}')
    with open(os.path.join(machine, 'machine.ini'), 'a') as f:
        f.write(f'clock = virtual\nmodule = {module_path}\n')
    zentaq = winelib.host_path(machine, 'c:\\zentaq')
    stage_product(args.product, zentaq, args.monitor_dll)

    result = Result()
    for number, step in enumerate(sc.steps, 1):
        with open(os.path.join(machine, 'answers'), 'w') as f:
            f.write(''.join(a + '\n' for a in step.answers))
        log(f'simulated {sc.sim_os}: setup {" ".join(step.args)}')
        r = subprocess.run([args.sim_setup, *step.args], env=dict(os.environ, WINSIM_ROOT=machine),
                           stdin=subprocess.DEVNULL, capture_output=True, timeout=SIM_LIMIT)
        with open(os.path.join(work, f'step{number}.stdout'), 'wb') as f:
            f.write(r.stdout)
        with open(os.path.join(work, f'step{number}.stderr'), 'wb') as f:
            f.write(r.stderr)
        result.stdout += r.stdout.decode('latin-1')

    journal = os.path.join(machine, 'journal.log')
    if os.path.exists(journal):
        with open(journal, encoding='latin-1') as f:
            for line in f:
                fields = line.rstrip('\n').split('\t')
                if fields[0] == 'MessageBox' and len(fields) >= 5:
                    text = unescape_journal(fields[3])
                    answer = {'1': 'ok', '2': 'cancel', '6': 'yes', '7': 'no'}.get(fields[4], fields[4])
                    result.boxes.append((fields[1], text, answer))
    info = sim_directories(sc.sim_os)
    result.system_dir, result.driver_dir = info
    result.module_dir = module_path.rsplit('\\', 1)[0]
    read_setup_log(winelib.host_path(machine, 'c:\\zentaq\\res\\drivedir\\setup.log'), result)
    result.registry = winelib.read_sim_registry(machine)
    result.ini = read_ini(winelib.host_path(machine, 'c:\\zentaq\\res\\zentaq.ini'))
    result.system_files = collect_files(winelib.host_path(machine, result.system_dir), SYSTEM_LIBRARIES)
    result.driver_files = collect_files(winelib.host_path(machine, result.driver_dir), DRIVER_FILES)
    return result


def unescape_journal(field):
    """A journal field: \\t, \\n and \\\\ stand for a tab, a line feed and a backslash."""
    return re.sub(r'\\(.)', lambda m: {'t': '\t', 'n': '\n'}.get(m.group(1), m.group(1)), field)


def sim_directories(os_name):
    """System and driver directory of the simulated system, as the
    documentation of the simulated machine gives them (and Windows has them)."""
    if os_name in ('95', '98', 'me'):
        return 'C:\\WINDOWS\\SYSTEM', 'C:\\WINDOWS\\SYSTEM'
    return 'C:\\WINDOWS\\system32', 'C:\\WINDOWS\\system32\\spool\\drivers\\w32x86'


# --- comparing ----------------------------------------------------------------------

def paths_to_symbols(text, result):
    """Replaces the run's folders by names, longest first, without regard to case."""
    for folder, symbol in sorted([(result.driver_dir, '<DRIVERS>'), (result.system_dir, '<SYSTEM>'),
                                  (result.module_dir, '<MODULE>')], key=lambda p: -len(p[0])):
        if folder:
            text = re.sub(re.escape(folder.rstrip('\\')), symbol, text, flags=re.I)
    return text


def driver_record(result, nt):
    """The driver's key: where it is found, and its values by name."""
    env = 'Windows NT x86' if nt else 'Windows 4.0'
    base = f'{PRINT}\\Environments\\{env}\\Drivers'
    for sub in (['Version-2', 'Version-3'] if nt else ['', 'Version-0']):
        path = base + ('\\' + sub if sub else '') + '\\' + DRIVER_NAME
        values = result.registry.values(path)
        if values is not None:
            return path, values
    return None, None


def text_of(value):
    kind, data = value
    return data.rstrip(b'\0').decode('latin-1') if kind in (1, 2) else None


def show(value):
    if value is None:
        return 'absent'
    if isinstance(value, dict):
        return '{' + ', '.join(f'{k}: {show(v)}' for k, v in sorted(value.items())) + '}'
    if isinstance(value, tuple) and len(value) == 2 and isinstance(value[1], bytes):
        kind, data = value
        if kind == REG_DWORD and len(data) == 4:
            return f'dword {int.from_bytes(data, "little")}'
        if kind in (1, 2, 7) and data.endswith(b'\0') and all(32 <= b < 127 or b == 0 for b in data):
            return f'sz{"" if kind == 1 else kind} "{data[:-1].decode()}"'.replace('\0', '\\0')
        return f'type {kind} {len(data)} bytes {data[:24].hex()}{"..." if len(data) > 24 else ""}'
    if isinstance(value, bytes):
        return f'{len(data_hash(value))} {data_hash(value)}'
    return repr(value)


def data_hash(data):
    import hashlib
    return hashlib.sha1(data).hexdigest()[:12]


class Comparison:
    def __init__(self, scenario, log):
        self.scenario, self.log = scenario, log
        self.failures = []
        self.used = set()

    def field(self, name, wine, sim, difference=None):
        if wine == sim:
            self.log(f'  equal      {name}: {show(wine)}')
        elif difference:
            self.used.add(difference)
            self.log(f'  known      {name} [{difference}]\n      wine: {show(wine)}\n      sim:  {show(sim)}')
        else:
            self.failures.append(name)
            self.log(f'  DIFFERENT  {name}\n      wine: {show(wine)}\n      sim:  {show(sim)}')

    def check(self, name, ok, detail=''):
        if ok:
            self.log(f'  ok         {name}')
        else:
            self.failures.append(name)
            self.log(f'  FAILED     {name} {detail}')


def expected_port_record(module_dir):
    def sz(text):
        return (REG_SZ, text.encode('latin-1') + b'\0')

    def dword(n):
        return (REG_DWORD, n.to_bytes(4, 'little'))

    return {
        'Arguments': sz('@' + module_dir + '\\res\\pdfwrite.rsp -sOutputFile="%1" -c save pop -f -'),
        'Command': sz(module_dir + '\\res\\convert\\gswin32c.exe'),
        'Delay': dword(300),
        'Description': sz('ZENTAQ Redirected Port'),
        'LogFileDebug': dword(0),
        'LogFileName': sz(''),
        'LogFileUse': dword(0),
        'Output': dword(1),
        'Printer': sz('ZENTAQ'),
        'PrintError': dword(0),
        'RunUser': dword(0),
        'ShowWindow': dword(2),
    }


def compare(sc, wine, sim, product, log):
    c = Comparison(sc.name, log)
    is98 = not sc.nt
    installed = sc.steps[-1].args != ['uninstall']

    # Outright checks on both sides.
    for side, r in (('wine', wine), ('sim', sim)):
        c.check(f'{side}: setup log time stamps are "%m-%d-%y: %H:%M"', r.stamps_ok)
        first = ['is_winnt = TRUE', 'is_win4 = TRUE'] if sc.nt else ['is_winnt = FALSE', 'is_win4 = TRUE']
        c.check(f'{side}: setup log begins with the platform flags', r.log[:2] == first, f'{r.log[:2]}')
        for note in r.notes:
            c.check(f'{side}: {note}', False)
        if installed:
            c.check(f'{side}: port record holds exactly the twelve values',
                    r.registry.values(PORT_KEY) == expected_port_record(r.module_dir),
                    show(r.registry.values(PORT_KEY)))
            c.check(f'{side}: Add/Remove Programs entry',
                    r.registry.values(UNINSTALL_KEY) == {
                        'DisplayName': (REG_SZ, b'Zentaq\0'),
                        'UninstallString': (REG_SZ, b'c:\\zentaq\\setup.exe uninstall\0')},
                    show(r.registry.values(UNINSTALL_KEY)))
            data = r.registry.values(PRINTER_DATA_KEY) or {}
            drivedir = os.path.join(product, 'zentaq', 'res', 'drivedir')
            with open(os.path.join(drivedir, 'fontsub.tbl'), 'rb') as f:
                fontsub = f.read()
            with open(os.path.join(drivedir, 'printerdata.dat'), 'rb') as f:
                printerdata = f.read()
            with open(os.path.join(drivedir, 'dfdevmd.dat' if is98 else 'dfdevmdnt.dat'), 'rb') as f:
                devmode = f.read()
            c.check(f'{side}: printer data are the product files\' bytes',
                    data.get('TTFontSubTable') == (REG_BINARY, fontsub)
                    and data.get('TTFontSubTableSize') == (REG_DWORD, len(fontsub).to_bytes(4, 'little'))
                    and data.get('PrinterData') == (REG_BINARY, printerdata)
                    and (r.registry.values(PRINTER_KEY) or {}).get('Default DevMode') == (REG_BINARY, devmode))
            c.check(f'{side}: Quiet set back to 0', r.ini.get('Parameters', {}).get('Quiet') == '0', f'{r.ini}')
        else:
            for key in (PRINTER_KEY, MONITOR_KEY, UNINSTALL_KEY):
                c.check(f'{side}: {key} removed', not r.registry.has_key(key))
            c.check(f'{side}: driver record removed', driver_record(r, sc.nt)[0] is None)

    # Field by field.
    def norm_log(r):
        return [paths_to_symbols(line, r) for line in r.log]

    path_difference = 'system-directory-98' if is98 else None
    c.field('setup log', norm_log(wine), norm_log(sim))
    if is98:
        c.field('driver directory', wine.driver_dir, sim.driver_dir, 'driver-directory-98')
        c.field('system directory', wine.system_dir, sim.system_dir, path_difference)
    wine_traces = paths_to_symbols(wine.stdout, wine)
    if '\r\n' in wine_traces:
        c.used.add('stdout-line-ends')
        wine_traces = wine_traces.replace('\r\n', '\n')
    c.field('progress traces', wine_traces, paths_to_symbols(sim.stdout, sim))
    if any(text is None for _, text, _ in wine.boxes):
        # Wine's trace did not name the texts: captions and answers only.
        c.field('message boxes (caption, answer)', [(b[0], b[2]) for b in wine.boxes], [(b[0], b[2]) for b in sim.boxes])
    else:
        c.field('message boxes', wine.boxes, sim.boxes)
    c.field('port record', wine.registry.values(PORT_KEY), sim.registry.values(PORT_KEY))
    c.field('monitor record', wine.registry.values(MONITOR_KEY), sim.registry.values(MONITOR_KEY))

    wpath, wdriver = driver_record(wine, sc.nt)
    spath, sdriver = driver_record(sim, sc.nt)
    c.field('driver record key', wpath, spath, 'driver-version-key')

    def norm_driver(values, kept=None):
        if values is None:
            return None
        out = {}
        for name, value in values.items():
            if name == 'Version' or (kept is not None and name not in kept):
                continue
            kind, data = value
            if name in ('Driver', 'Data File', 'Configuration File', 'Help File') and kind == REG_SZ:
                data = data.rstrip(b'\0').split(b'\\')[-1].lower() + b'\0'
            if name == 'Dependent Files':
                data = b'\0'.join(n.lower() for n in data.split(b'\0'))
            out[name] = (kind, data)
        return out

    c.field('driver record', norm_driver(wdriver, sdriver), norm_driver(sdriver),
            'driver-file-names' if wdriver != sdriver else None)
    if wdriver is not None and sdriver is not None:
        c.field('driver record (all values)', sorted(wdriver), sorted(sdriver), 'driver-record-extras')
    c.field('driver record Version', (wdriver or {}).get('Version'), (sdriver or {}).get('Version'),
            'driver-version-key')

    sim_printer = sim.registry.values(PRINTER_KEY)
    wine_printer = wine.registry.values(PRINTER_KEY)
    if sim_printer is not None and wine_printer is not None:
        kept = {n: v for n, v in wine_printer.items() if n in sim_printer}
        c.field('printer record', kept, sim_printer)
        c.field('printer record (all values)', sorted(wine_printer), sorted(sim_printer), 'printer-record-extras')
    else:
        c.field('printer record', wine_printer, sim_printer)
    c.field('printer data', wine.registry.values(PRINTER_DATA_KEY), sim.registry.values(PRINTER_DATA_KEY))
    c.field('Add/Remove Programs entry', wine.registry.values(UNINSTALL_KEY), sim.registry.values(UNINSTALL_KEY))
    c.field('IniFileMapping of zentaq.ini', wine.registry.has_key(INIFILEMAPPING_KEY),
            sim.registry.has_key(INIFILEMAPPING_KEY))
    c.field('configuration file', wine.ini, sim.ini)
    c.field('libraries in the system directory', {k: data_hash(v) for k, v in wine.system_files.items()},
            {k: data_hash(v) for k, v in sim.system_files.items()})
    c.field('files in the driver directory', {k: data_hash(v) for k, v in wine.driver_files.items()},
            {k: data_hash(v) for k, v in sim.driver_files.items()})
    return c


# --- commands ------------------------------------------------------------------------

def cmd_templates(args):
    log = log_to(os.path.join(args.work, 'templates.log'))
    try:
        log('Wine: ' + winelib.ensure_wine())
    except winelib.WineUnavailable as e:
        log(f'SKIPPED: {e}')
        return SKIP
    base = os.path.join(args.work, 'templates', 'base')
    started = time.time()
    log('making the base prefix (Wine\'s first start)')
    winelib.make_prefix(base, BOOT_LIMIT)
    log(f'base prefix made in {time.time() - started:.0f} s')
    for version in args.versions.split(','):
        folder = os.path.join(args.work, 'templates', version)
        prefix = os.path.join(folder, 'prefix')
        winelib.copy_prefix(base, prefix)
        winelib.set_windows_version(prefix, version)
        shutil.copyfile(args.dirs_exe, os.path.join(prefix, 'drive_c', 'dirs.exe'))
        started = time.time()
        code, out, err = winelib.run([winelib.WINE, 'c:\\dirs.exe'], winelib.wine_env(prefix), RUN_LIMIT,
                                     prefix=prefix)
        winelib.wait_prefix(prefix, SETTLE_LIMIT)
        os.remove(os.path.join(prefix, 'drive_c', 'dirs.exe'))
        info = dict(line.split('=', 1) for line in out.decode('latin-1').splitlines() if '=' in line)
        log(f'{version}: {info} ({time.time() - started:.0f} s)')
        if 'drivers' not in info or 'system' not in info:
            log(f'{version}: the prefix did not report its folders: {err.decode(errors="replace")[-2000:]}')
            return 1
        with open(os.path.join(folder, 'info.json'), 'w') as f:
            json.dump(info, f, indent=1)
    shutil.rmtree(base)
    return 0


def cmd_run(args):
    sc = SCENARIOS[args.scenario]
    work = os.path.join(args.work, sc.name)
    if os.path.exists(work):
        shutil.rmtree(work)
    os.makedirs(os.path.join(work, 'wine'))
    os.makedirs(os.path.join(work, 'sim'))
    log = log_to(os.path.join(work, 'report.txt'))
    if args.sim_only:
        # Only the simulated side, with the outright checks: for working on
        # the comparison without waiting for Wine.
        sim = run_sim(sc, args, os.path.join(work, 'sim'), log, 'c:\\zentaq\\setup.exe')
        c = compare(sc, sim, sim, args.product, log)
        return 1 if c.failures else 0
    try:
        log('Wine: ' + winelib.ensure_wine())
    except winelib.WineUnavailable as e:
        log(f'SKIPPED: {e}')
        return SKIP
    try:
        wine = run_wine(sc, args, os.path.join(work, 'wine'), log)
    except winelib.RunTimeout as e:
        log(f'FAILED: {e}')
        return 1
    # The simulated program appears under the path Wine gave setup.exe.
    module_path = wine.module_dir + '\\setup.exe'
    sim = run_sim(sc, args, os.path.join(work, 'sim'), log, module_path)
    log(f'{sc.name}: Wine against the simulated machine')
    c = compare(sc, wine, sim, args.product, log)
    for name in sorted(c.used):
        fields, _, reason = DIFFERENCES[name]
        log(f'  [{name}] {reason}')
    if c.failures:
        log(f'{sc.name}: {len(c.failures)} differences or failed checks: {"; ".join(c.failures)}')
        return 1
    log(f'{sc.name}: equal but for the known differences')
    return 0


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    sub = parser.add_subparsers(dest='command', required=True)
    t = sub.add_parser('templates')
    t.add_argument('--work', required=True)
    t.add_argument('--dirs-exe', required=True)
    t.add_argument('--versions', default='winxp,win98')
    r = sub.add_parser('run')
    r.add_argument('scenario', choices=sorted(SCENARIOS))
    r.add_argument('--work', required=True)
    r.add_argument('--setup-exe', required=True)
    r.add_argument('--sim-setup', required=True)
    r.add_argument('--winsim', required=True)
    r.add_argument('--product', required=True)
    r.add_argument('--monitor-dll')
    r.add_argument('--sim-only', action='store_true')
    args = parser.parse_args()
    os.makedirs(args.work, exist_ok=True)
    return cmd_templates(args) if args.command == 'templates' else cmd_run(args)


if __name__ == '__main__':
    sys.exit(main())
