"""The two sides of a scenario: setup.exe under Wine in a copy of a prefix
template, and the POSIX setup on a fresh simulated machine, each given the
same product files and the same steps. After every step both are read into
one form (StepResult): exit status, the setup log lines it added, its
progress traces, message boxes and spooler service requests, and the state
it left (registry records, configuration file, copied files).
"""
import json
import os
import re
import shutil
import subprocess
import time

import registry
import winelib

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

# Wine's own setting for each simulated system, by flavour: a 64-bit
# Windows XP is "winxp64" (5.2); a 64-bit program under "win98" sees 4.10
# with bit 31 set, as a 32-bit one does.
WINE_VERSIONS = {('xp', 32): 'winxp', ('xp', 64): 'winxp64', ('98', 32): 'win98', ('98', 64): 'win98'}


class Step:
    """One run of setup. `before`: what happens to the machine first
    ('reboot', or 'release': the spooler lets go of the monitor library);
    `state`: what the outright checks expect afterwards ('installed',
    'removed', or 'removed-entry-kept': the first uninstall run on 9x)."""

    def __init__(self, args=(), answers=(), exit=0, state='installed', before=None):
        self.args, self.answers, self.exit, self.state, self.before = list(args), list(answers), exit, state, before

    @property
    def install(self):
        return not self.args


class Scenario:
    def __init__(self, name, system, steps):
        self.name, self.system, self.steps = name, system, steps

    @property
    def nt(self):
        return self.system != '98'

    def wine_version(self, bits):
        return WINE_VERSIONS[(self.system, bits)]


class State:
    """The records and files a step left."""

    def __init__(self):
        self.registry = registry.Registry()
        self.ini = {}
        self.system_files = {}  # name -> bytes, product libraries found in the system directory
        self.driver_files = {}  # name -> bytes, product files found in the driver directory


class StepResult:
    def __init__(self):
        self.exit_code = None   # the low 8 bits, as both a POSIX status and Wine's show it
        self.log = []           # setup log lines this step added, time stamps removed
        self.stamps_ok = True
        self.stdout = ''
        self.boxes = []         # (caption, text or None, answer) in order
        self.services = []      # ('stop' | 'start', service name) in order
        self.wine_errors = ''   # Wine's err channel, for the differences that show there
        self.notes = []
        self.state = State()


class Result:
    """One side of a scenario."""

    def __init__(self, system_dir, driver_dir, module_dir):
        self.system_dir, self.driver_dir, self.module_dir = system_dir, driver_dir, module_dir
        self.steps = []


def read_setup_log(path):
    """(texts, whether every line began with a time stamp) of the setup log."""
    if not os.path.exists(path):
        return [], True
    with open(path, 'rb') as f:
        lines = f.read().split(b'\r\n')
    if lines and lines[-1] == b'':
        lines.pop()
    texts, stamps_ok = [], True
    for line in lines:
        text = line.decode('latin-1')
        stamps_ok = stamps_ok and bool(re.match(r'^\d\d-\d\d-\d\d: \d\d:\d\d', text))
        texts.append(text[15:])
    return texts, stamps_ok


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


def stage_product(args, zentaq_root):
    """The product under c:\\zentaq, with the test libraries in place of the
    placeholders that Wine's spooler would load: the test monitor for both
    monitor libraries (Wine's AddMonitorA refuses a file that is no library,
    126), the test UI module for the driver's configuration file (Wine's
    AddPrinterW loads it for the new printer's default DEVMODE). The
    simulated side gets the same bytes."""
    shutil.copytree(os.path.join(args.product, 'zentaq'), zentaq_root, dirs_exist_ok=True)
    drivedir = os.path.join(zentaq_root, 'res', 'drivedir')
    for name in ('ztqmon.dll', 'ztqmon95.dll'):
        shutil.copyfile(args.monitor_dll, os.path.join(drivedir, name))
    shutil.copyfile(args.ui_dll, os.path.join(drivedir, 'Zentaqui.dll'))


def set_quiet(zentaq_root):
    """Quiet=1 keeps an install from opening the readme page: under Wine that
    starts Wine's browser bridge, processes that only cost time here. Both
    sides get it before each install, and the install sets it back to 0."""
    with open(os.path.join(zentaq_root, 'res', 'zentaq.ini'), 'wb') as f:
        f.write(b'[Parameters]\r\nQuiet=1\r\n')


def read_state(root, result):
    state = State()
    state.ini = read_ini(winelib.host_path(root, 'c:\\zentaq\\res\\zentaq.ini'))
    state.system_files = collect_files(winelib.host_path(root, result.system_dir), SYSTEM_LIBRARIES)
    state.driver_files = collect_files(winelib.host_path(root, result.driver_dir), DRIVER_FILES)
    return state


# --- Wine -------------------------------------------------------------------------------

def _debugstr(text):
    """The text of one of Wine's debug strings (L"..." with C escapes)."""
    return re.sub(r'\\(x[0-9a-fA-F]{1,4}|.)', lambda m: chr(int(m.group(1)[1:], 16)) if m.group(1)[0] == 'x'
                  else {'n': '\n', 'r': '\r', 't': '\t'}.get(m.group(1), m.group(1)), text)


def wine_box_texts(stderr):
    """The text of each message box, in order, from Wine's msgbox trace."""
    return [_debugstr(m.group(1)) for m in re.finditer(r':msgbox:MSGBOX_OnInit L?"((?:[^"\\]|\\.)*)"', stderr)]


def wine_services(stderr):
    """The service stop and start requests of setup.exe in Wine's service
    trace: those of the threads that opened the spooler's service by its
    ANSI name (setup's; Wine's own processes start services too)."""
    threads = set(re.findall(r'^(\w+):trace:service:OpenServiceA \S+ "Spooler"', stderr, re.M))
    calls = []
    for m in re.finditer(r'^(\w+):trace:service:(ControlService|StartServiceW) \S+ (\d+)', stderr, re.M):
        if m.group(1) not in threads:
            continue
        if m.group(2) == 'StartServiceW':
            calls.append('start')
        elif m.group(3) == '1':   # SERVICE_CONTROL_STOP
            calls.append('stop')
    return calls


def run_wine(sc, args, wine, work, log):
    with open(os.path.join(args.work, 'templates', str(wine.bits), 'info.json')) as f:
        info = json.load(f)[sc.wine_version(wine.bits)]
    prefix = os.path.join(work, 'prefix')
    winelib.copy_prefix(os.path.join(args.work, 'templates', str(wine.bits), 'prefix'), prefix)
    winelib.set_windows_version(prefix, sc.wine_version(wine.bits))

    zentaq = winelib.host_path(prefix, 'c:\\zentaq')
    stage_product(args, zentaq)
    shutil.copyfile(args.setup_exe, os.path.join(zentaq, 'setup.exe'))
    if not sc.nt:
        drivers = winelib.host_path(prefix, info['drivers'])
        os.makedirs(drivers, exist_ok=True)
        for name in os.listdir(os.path.join(args.product, 'pscript9x')):
            shutil.copyfile(os.path.join(args.product, 'pscript9x', name), os.path.join(drivers, name))

    # setup.exe is started as c:\zentaq\setup.exe; Wine spells the drive as
    # it spelled dirs.exe's (C:).
    result = Result(info['system'], info['drivers'], info['module'][:2] + '\\zentaq')
    log_path = winelib.host_path(prefix, 'c:\\zentaq\\res\\drivedir\\setup.log')
    for number, step in enumerate(sc.steps, 1):
        # 'reboot' and 'release' need nothing: every Wine process of the
        # prefix has ended after the previous step, Wine's spooler with them.
        if step.install:
            set_quiet(zentaq)
        stdout_path = os.path.join(work, f'step{number}.stdout')
        # The dialog channel names each message box's text, the service
        # channel the spooler's restarts, the err channel Wine's refusals.
        env = wine.env(prefix, debug='-all,err+all,trace+msgbox,trace+dialog,trace+service')
        log(f'wine{wine.bits} {sc.wine_version(wine.bits)}: setup.exe {" ".join(step.args)}')
        started = time.time()
        answerer = display = None
        r = StepResult()
        try:
            if step.answers:
                display = winelib.Display(log).__enter__()
                env['DISPLAY'] = display.name
                answerer = winelib.BoxAnswerer(display.name, 'setup', [BOX_KEYS[a] for a in step.answers], log)
                answerer.start()
            err = b''
            try:
                with open(stdout_path, 'wb') as out:
                    code, _, err = wine.run(['c:\\zentaq\\setup.exe', *step.args], env, RUN_LIMIT, cwd=zentaq,
                                            stdout=out, prefix=prefix)
            except winelib.RunTimeout as e:
                err = e.stderr
                raise
            finally:
                with open(os.path.join(work, f'step{number}.stderr'), 'wb') as f:
                    f.write(err)
            wine.wait_prefix(prefix, SETTLE_LIMIT)
        finally:
            if answerer:
                answerer.stop()
            if display:
                display.__exit__(None, None, None)
        log(f'wine{wine.bits} {sc.wine_version(wine.bits)}: exit code {code} after {time.time() - started:.0f} s')
        r.exit_code = code & 0xFF
        with open(stdout_path, 'rb') as f:
            r.stdout = f.read().decode('latin-1')
        stderr = err.decode('utf-8', errors='replace')
        r.services = wine_services(stderr)
        r.wine_errors = '\n'.join(line for line in stderr.splitlines() if ':err:' in line)
        # The boxes that the answerer found by their caption, with the texts
        # that Wine's trace gives in the same order; a box shown where none
        # was expected has no display to appear on, and its text alone counts.
        texts = wine_box_texts(stderr)
        if answerer:
            for i, _ in enumerate(answerer.answered):
                r.boxes.append(('setup', texts[i] if i < len(texts) else None, step.answers[i]))
            if len(answerer.answered) != len(step.answers) or answerer.unanswered:
                r.notes.append(f'{len(answerer.answered)} message boxes answered, {len(step.answers)} expected, '
                               f'{len(answerer.unanswered)} more shown')
        else:
            r.boxes = [(None, text, 'none') for text in texts]
        lines, r.stamps_ok = read_setup_log(log_path)
        r.log = lines[sum(len(s.log) for s in result.steps):]
        r.state = read_state(prefix, result)
        r.state.registry = registry.read_wine_registry(prefix)
        result.steps.append(r)
    return result


# Keys that answer a message box under Xvfb: the default button of MB_YESNO
# is Yes, of MB_OK OK.
BOX_KEYS = {'yes': 'Return', 'ok': 'Return', 'no': 'n'}


# --- the simulated machine ------------------------------------------------------------

def sim_directories(system):
    """System and driver directory of the simulated system, as the
    documentation of the simulated machine gives them (and Windows has them)."""
    if system in ('95', '98', 'me'):
        return 'C:\\WINDOWS\\SYSTEM', 'C:\\WINDOWS\\SYSTEM'
    return 'C:\\WINDOWS\\system32', 'C:\\WINDOWS\\system32\\spool\\drivers\\w32x86'


def unescape_journal(field):
    """A journal field: \\t, \\n and \\\\ stand for a tab, a line feed and a backslash."""
    return re.sub(r'\\(.)', lambda m: {'t': '\t', 'n': '\n'}.get(m.group(1), m.group(1)), field)


def release_libraries(machine):
    """The simulated spooler lets go of every monitor library: state.ini
    without its [loaded] section, the state in which nothing holds one."""
    path = os.path.join(machine, 'state.ini')
    if not os.path.exists(path):
        return
    with open(path, encoding='latin-1') as f:
        text = f.read()
    with open(path, 'w', encoding='latin-1') as f:
        f.write(re.sub(r'(?ms)^\[loaded\]\n.*?(?=^\[|\Z)', '', text))


def run_sim(sc, args, work, log, module_path):
    machine = os.path.join(work, 'machine')
    if os.path.exists(machine):
        shutil.rmtree(machine)
    env = dict(os.environ, WINSIM_PRODUCT_DIR=args.product)
    r = subprocess.run([args.winsim, 'init', '--os', sc.system, '--product', machine], env=env,
                       capture_output=True, text=True, timeout=SIM_LIMIT)
    if r.returncode != 0:
        raise RuntimeError(f'winsim init failed: {r.stderr.strip()}')
    with open(os.path.join(machine, 'machine.ini'), 'a') as f:
        f.write(f'clock = virtual\nmodule = {module_path}\n')
    zentaq = winelib.host_path(machine, 'c:\\zentaq')
    stage_product(args, zentaq)

    system_dir, driver_dir = sim_directories(sc.system)
    result = Result(system_dir, driver_dir, module_path.rsplit('\\', 1)[0])
    journal_path = os.path.join(machine, 'journal.log')
    journal_seen = 0
    for number, step in enumerate(sc.steps, 1):
        if step.before == 'reboot':
            subprocess.run([args.winsim, 'reboot', machine], capture_output=True, timeout=SIM_LIMIT, check=True)
        elif step.before == 'release':
            release_libraries(machine)
        if step.install:
            set_quiet(zentaq)
        with open(os.path.join(machine, 'answers'), 'w') as f:
            f.write(''.join(a + '\n' for a in step.answers))
        log(f'simulated {sc.system}: setup {" ".join(step.args)}')
        run = subprocess.run([args.sim_setup, *step.args], env=dict(os.environ, WINSIM_ROOT=machine),
                             stdin=subprocess.DEVNULL, capture_output=True, timeout=SIM_LIMIT)
        for kind, data in (('stdout', run.stdout), ('stderr', run.stderr)):
            with open(os.path.join(work, f'step{number}.{kind}'), 'wb') as f:
                f.write(data)
        s = StepResult()
        s.exit_code = run.returncode & 0xFF
        s.stdout = run.stdout.decode('latin-1')
        journal = []
        if os.path.exists(journal_path):
            with open(journal_path, encoding='latin-1') as f:
                journal = f.read().splitlines()
        for line in journal[journal_seen:]:
            fields = line.split('\t')
            if fields[0] == 'MessageBox' and len(fields) >= 5:
                answer = {'1': 'ok', '2': 'cancel', '6': 'yes', '7': 'no'}.get(fields[4], fields[4])
                s.boxes.append((fields[1], unescape_journal(fields[3]), answer))
            elif fields[0] == 'ControlService' and len(fields) >= 3 and fields[2] == '1':
                s.services.append('stop')
            elif fields[0] == 'StartService':
                s.services.append('start')
        journal_seen = len(journal)
        lines, s.stamps_ok = read_setup_log(winelib.host_path(machine, 'c:\\zentaq\\res\\drivedir\\setup.log'))
        s.log = lines[sum(len(p.log) for p in result.steps):]
        s.state = read_state(machine, result)
        s.state.registry = registry.read_sim_registry(machine)
        result.steps.append(s)
    return result
