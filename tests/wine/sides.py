"""The two sides of a scenario: setup.exe under Wine in a copy of a prefix
template, and the POSIX setup on a fresh simulated machine, each given the
same product files and the same steps. After every step both are read into
one form (StepResult): exit status, the setup log lines it added, its
progress traces, message boxes and spooler service requests, and the state
it left (registry records, configuration file, copied files).
"""
import os
import re
import shutil
import subprocess
import time

import call_view
import registry
import spooler_listing
import views
import winelib

# Time limits, in seconds. Generous: under qemu's i386 emulation every Wine
# process takes about a minute of processor time to start.
BOOT_LIMIT = 2400
RUN_LIMIT = int(os.environ.get('SETUP_WINE_RUN_LIMIT', '1200'))
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
# with bit 31 set, as a 32-bit one does. Wine 8.0 gives NT 4.0 and 2000 the
# GetVersion of those systems (0x05650004, 0x08930005) in either flavour,
# Me its own (0xC0005A04), 95 4.0 with bit 31 and the build left 0
# (0xC0000004, where Windows 95 says 0xC3B60004: setup reads bit 31 and the
# low byte only).
WINE_VERSIONS = {('xp', 32): 'winxp', ('xp', 64): 'winxp64', ('98', 32): 'win98', ('98', 64): 'win98',
                 ('nt4', 32): 'nt40', ('nt4', 64): 'nt40', ('2000', 32): 'win2k', ('2000', 64): 'win2k',
                 ('95', 32): 'win95', ('95', 64): 'win95', ('me', 32): 'winme', ('me', 64): 'winme'}
NINE_X = ('95', '98', 'me')


# Message box types (MB_OK, MB_YESNO), creation and STARTUPINFO flags, and
# show states as setup passes them.
MB_OK, MB_YESNO = 0x0, 0x4
CREATE_NEW_PROCESS_GROUP = 0x200
STARTF_USESHOWWINDOW = 0x1
SW_HIDE, SW_SHOWNORMAL = 0, 1
SERVICE_CONTROL_STOP = 1
README_COMMAND = 'rundll32.exe url.dll,FileProtocolHandler c:\\zentaq\\readme.html'
# Where the 9x PostScript driver is missing: its download page, then the Add
# Printer wizard.
GUIDE_COMMANDS = ['rundll32.exe url.dll,FileProtocolHandler c:\\zentaq\\res\\drivedir\\download.htm',
                  'rundll32.exe shell32.dll,SHHelpShortcuts_RunDLL AddPrinter']


class Step:
    """One run of setup. `before`: what happens to the machine first
    ('reboot', or 'release': the spooler lets go of the monitor library);
    `state`: what the outright checks expect afterwards ('installed',
    'removed', 'removed-entry-kept': the first uninstall run on 9x,
    'no-driver': an install that ended for want of the 9x PostScript driver,
    or 'untouched': a command line started, nothing installed); `quiet`: the
    Quiet value an install finds in the configuration file (1: no readme
    page; None: no configuration file, as the product ships); `config`: the
    configuration file's bytes where they aren't the plain section with
    Quiet alone (a file edited by hand); `log`: the setup log lines that the
    step must add on the simulated side, as Windows answers (the run's
    folders as <MODULE>, <DRIVERS>, <SYSTEM>), where the step meets trouble."""

    def __init__(self, args=(), answers=(), exit=0, state='installed', before=None, quiet=1, config=None, log=None):
        self.args, self.answers, self.exit, self.state, self.before = list(args), list(answers), exit, state, before
        self.quiet, self.config, self.log = quiet, config, log

    @property
    def install(self):
        return not self.args

    @property
    def uninstall(self):
        return self.args == ['uninstall']

    def expected_box_types(self, count):
        """The uninstall asks first (Yes/No); every other box only informs."""
        return [MB_YESNO if i == 0 and self.uninstall else MB_OK for i in range(count)]

    def expected_processes(self):
        """What the run starts: an install the readme page unless Quiet is
        set, any other command line itself, hidden; each in a new process
        group. The install's STARTUPINFO carries SW_SHOWNORMAL without
        STARTF_USESHOWWINDOW (so the system ignores it)."""
        if self.install and self.state == 'no-driver':
            return [(command, CREATE_NEW_PROCESS_GROUP, 0, SW_SHOWNORMAL) for command in GUIDE_COMMANDS]
        if self.install:
            return [] if self.quiet else [(README_COMMAND, CREATE_NEW_PROCESS_GROUP, 0, SW_SHOWNORMAL)]
        if self.uninstall:
            return []
        return [(' '.join(self.args), CREATE_NEW_PROCESS_GROUP, STARTF_USESHOWWINDOW, SW_HIDE)]


class Scenario:
    """`pscript`: on 9x, the system's PostScript driver is in the driver
    directory (as setup requires); `marked`: the product's files in
    res\\drivedir are read-only and hidden; `stop_ms`: how long the
    simulated spooler takes to stop (Wine's stops at once); `trouble`: what
    is made on both sides before the first step (see Trouble); `hold`: a
    file that another program holds open without sharing during the first
    step (programs/trouble.cpp)."""

    def __init__(self, name, system, steps, pscript=True, marked=False, stop_ms=0, trouble=(), hold=None):
        self.name, self.system, self.steps, self.pscript, self.marked = name, system, steps, pscript, marked
        self.stop_ms, self.trouble, self.hold = stop_ms, list(trouble), hold

    @property
    def nt(self):
        return self.system not in NINE_X

    @property
    def log_blocked(self):
        """The setup log can't be written: held by another program, or read-only."""
        return self.hold == SETUP_LOG or any(t.kind == 'readonly' and t.what == SETUP_LOG for t in self.trouble)

    def lines_before(self, path):
        """The lines of a file that the trouble wrote before the first step."""
        return sum(t.data.count(b'\r\n') for t in self.trouble if t.kind == 'file' and t.what == path)

    def wine_version(self, bits):
        return WINE_VERSIONS[(self.system, bits)]


SETUP_LOG = 'c:\\zentaq\\res\\drivedir\\setup.log'


class Trouble:
    """One piece of trouble, made alike on both sides before the first step:
    'missing' a staged file removed from res\\drivedir; 'earlier' a staged
    file copied into the system directory, as an earlier install left it;
    'file' a file written with the given bytes; 'readonly' a file made
    read-only (the simulated machine's [attributes], Wine's own attrib +r);
    'run' programs/trouble.cpp run with the given action (a printer on
    another driver, a stale IniFileMapping, a half-done install)."""

    def __init__(self, kind, what, data=b''):
        self.kind, self.what, self.data = kind, what, data


class State:
    """The records and files a step left."""

    def __init__(self):
        self.registry = registry.Registry()
        self.ini = {}
        self.ini_bytes = None  # the configuration file as it lies on the disk (None: no file)
        self.system_files = {}  # name -> bytes, product libraries found in the system directory
        self.driver_files = {}  # name -> bytes, product files found in the driver directory


class StepResult:
    def __init__(self):
        self.exit_code = None   # the low 8 bits, as both a POSIX status and Wine's show it
        self.exit_status = None  # the whole 32-bit exit status (Wine's side: the launcher's report)
        self.log = []           # setup log lines this step added, time stamps removed
        self.stamps_ok = True
        self.stdout = ''
        self.boxes = []         # (caption, text, type, answer) in order
        self.services = []      # ('control', service, code, succeeded) | ('start', service, succeeded) in order
        self.notifications = []  # (event mask, flags, both items NULL) of each SHChangeNotify, in order
        self.processes = []     # (command line, creation flags, STARTUPINFO dwFlags, wShowWindow) in order
        self.process_contexts = []  # Wine's side: (inherit flag, environment given, current folder) of each
        self.driver = None      # the DRIVER_INFO that AddPrinterDriver got: {'cVersion': N, 'pDriverPath': ...}
        self.spooler = None     # what the spooler answers afterwards (spooler_listing.Listing)
        self.calls = []         # what the calls outside the spooler answer afterwards (call_view)
        self.errors = []        # Wine's err channel, setup's own process
        self.called = []        # the simulated machine's functions that setup called, by name, each once
        self.calls_called = []  # the same for callview
        self.held = None        # the holder's answer, where another program held a file during the step
        self.stop_waits = []    # the simulated side: ms that setup slept between each stop and the next start
        self.image_calls = []   # Wine's side: the relayed calls that setup.exe's image made, in order
        self.wine_errors = ''   # Wine's err channel, every process, for the differences that show there
        self.notes = []
        self.state = State()


class Result:
    """One side of a scenario."""

    def __init__(self, system_dir, driver_dir, module_dir):
        self.system_dir, self.driver_dir, self.module_dir = system_dir, driver_dir, module_dir
        self.steps = []
        self.trouble = []  # what programs/trouble.cpp printed before the first step


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


def staged_driver_files(zentaq_root):
    """The product's files in res\\drivedir, as Windows paths."""
    drivedir = os.path.join(zentaq_root, 'res', 'drivedir')
    return sorted('c:\\zentaq\\res\\drivedir\\' + name for name in os.listdir(drivedir)
                  if os.path.isfile(os.path.join(drivedir, name)))


# The configuration file as an administrator's deployment may leave it for a
# quiet install: a comment, a section of its own before the product's, blanks
# around '=' and the value in quotes (the profile routines drop matching
# quotes, so Quiet reads 1).
EDITED_CONFIG = (b'; deployment: no readme page on this install\r\n'
                 b'[Deployment]\r\nSource=\\\\server\\setup\\zentaq\r\n\r\n'
                 b'[Parameters]\r\nQuiet = "1"\r\n')


def set_quiet(zentaq_root, quiet, config=None):
    """Quiet=1 keeps an install from opening the readme page. Both sides get
    the step's value before each install, and the install sets it back to 0.
    Where the page is opened, Wine starts a stand-in for rundll32.exe that
    records how it was started (see wine_side.py). None: no configuration
    file, as the product ships (Quiet reads its default, 0, and the install
    writes the file, its section's header first). `config`: the file's
    bytes, where the step gives them."""
    path = os.path.join(zentaq_root, 'res', 'zentaq.ini')
    if quiet is None:
        if os.path.exists(path):
            os.remove(path)
        return
    with open(path, 'wb') as f:
        f.write(config if config is not None else b'[Parameters]\r\nQuiet=%d\r\n' % quiet)


def make_trouble(sc, root, system_dir, make_readonly, run_trouble):
    """The scenario's trouble on one side (the prefix or the machine folder
    `root`): files through the host, read-only files and programs/trouble.cpp
    through the side's own means. Returns what trouble.cpp printed."""
    printed = []
    for t in sc.trouble:
        path = t.what.replace('<SYSTEM>', system_dir)
        staged = winelib.host_path(root, 'c:\\zentaq\\res\\drivedir\\' + t.what)
        if t.kind == 'missing':
            os.remove(staged)
        elif t.kind == 'earlier':
            shutil.copyfile(staged, winelib.host_path(root, system_dir + '\\' + t.what))
        elif t.kind == 'file':
            os.makedirs(os.path.dirname(winelib.host_path(root, path)), exist_ok=True)
            with open(winelib.host_path(root, path), 'wb') as f:
                f.write(t.data)
        elif t.kind == 'readonly':
            make_readonly(path)
        elif t.kind == 'run':
            printed += run_trouble(t.what)
    return printed


class Holder:
    """programs/trouble.cpp holding a file open without sharing while a step
    runs: started with `command`, it answers one line once it holds the file
    and lets go when its standard input ends."""

    def __init__(self, command, env, limit):
        self.process = subprocess.Popen(command, env=env, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                        stderr=subprocess.DEVNULL)
        self.answer = self.process.stdout.readline().decode('latin-1').rstrip('\r\n')
        self.limit = limit

    def release(self):
        self.process.stdin.close()
        try:
            self.process.wait(self.limit)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()
        return self.answer


def read_state(root, result):
    state = State()
    ini = winelib.host_path(root, 'c:\\zentaq\\res\\zentaq.ini')
    state.ini = read_ini(ini)
    if os.path.exists(ini):
        with open(ini, 'rb') as f:
            state.ini_bytes = f.read()
    state.system_files = collect_files(winelib.host_path(root, result.system_dir), SYSTEM_LIBRARIES)
    state.driver_files = collect_files(winelib.host_path(root, result.driver_dir), DRIVER_FILES)
    return state


# --- the simulated machine ------------------------------------------------------------

def sim_directories(system):
    """System and driver directory of the simulated system, as the
    documentation of the simulated machine gives them (and Windows has them)."""
    if system in NINE_X:
        return 'C:\\WINDOWS\\SYSTEM', 'C:\\WINDOWS\\SYSTEM'
    windows = 'C:\\WINNT' if system in ('nt4', '2000') else 'C:\\WINDOWS'
    return windows + '\\system32', windows + '\\system32\\spool\\drivers\\w32x86'


def unescape_journal(field):
    """A journal field: \\t, \\n and \\\\ stand for a tab, a line feed and a backslash."""
    return re.sub(r'\\(.)', lambda m: {'t': '\t', 'n': '\n'}.get(m.group(1), m.group(1)), field)


ANSWERS = {1: 'ok', 2: 'cancel', 3: 'abort', 4: 'retry', 5: 'ignore', 6: 'yes', 7: 'no'}


def read_journal(lines, s):
    """The message boxes, service requests and processes of the simulated
    machine's journal lines into the step's result, in the form of Wine's side."""
    stop = None  # the stop request whose wait the pauses below belong to
    for line in lines:
        fields = [unescape_journal(f) for f in line.split('\t')]
        if fields[0] == 'MessageBox' and len(fields) >= 5:
            s.boxes.append((fields[1], fields[3], int(fields[2], 16), ANSWERS.get(int(fields[4]), int(fields[4]))))
        elif fields[0] == 'ControlService' and len(fields) >= 4:
            s.services.append(('control', fields[1], int(fields[2]), fields[3] == '0'))
        elif fields[0] == 'SHChangeNotify' and len(fields) >= 3:
            # The simulated shell journals calls whose items are NULL (setup names none).
            s.notifications.append((int(fields[1], 16), int(fields[2], 16), True))
        elif fields[0] == 'StartService' and len(fields) >= 3:
            s.services.append(('start', fields[1], fields[2] == '0'))
        elif fields[0] == 'CreateProcess' and len(fields) >= 5:
            s.processes.append((fields[1], int(fields[2], 16), int(fields[3], 16), int(fields[4])))
        elif fields[0] == 'Sleep' and len(fields) >= 2 and s.services and s.services[-1][0] == 'control':
            # The machine's clock moves only by Sleep: what setup slept
            # after asking the spooler to stop, until it starts it again.
            if s.services[-1] is not stop:
                stop = s.services[-1]
                s.stop_waits.append(0)
            s.stop_waits[-1] += int(fields[1])


# The DRIVER_INFO fields that Wine's trace dumps, and the value of the
# driver's record where the simulated spooler keeps each as it was passed.
DRIVER_FIELDS = {'pDriverPath': 'Driver', 'pDataFile': 'Data File', 'pConfigFile': 'Configuration File',
                 'pHelpFile': 'Help File', 'pDependentFiles': 'Dependent Files'}


def sim_driver_passed(state):
    """What setup passed to AddPrinterDriverA, from the simulated spooler's
    record (it keeps cVersion as Version and the names as passed)."""
    for env, sub in (('Windows NT x86', '\\Version-2'), ('Windows 4.0', '')):
        values = state.registry.values(f'{PRINT}\\Environments\\{env}\\Drivers{sub}\\{DRIVER_NAME}')
        if values is None:
            continue
        info = {'cVersion': int.from_bytes(values['Version'][1], 'little') if 'Version' in values else None,
                'pEnvironment': env}
        for field, name in DRIVER_FIELDS.items():
            data = values.get(name, (None, None))[1]
            if data is None:
                info[field] = None
            elif name == 'Dependent Files':
                names = [n.decode('latin-1') for n in data.split(b'\0') if n]
                info[field] = ' '.join(names) if names else None
            else:
                info[field] = data.rstrip(b'\0').decode('latin-1')
        return info
    return None


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
        if sc.stop_ms:
            f.write(f'[spooler]\nstop_ms = {sc.stop_ms}\n')
    zentaq = winelib.host_path(machine, 'c:\\zentaq')
    stage_product(args, zentaq)
    if not sc.nt and not sc.pscript:
        os.remove(winelib.host_path(machine, 'C:\\WINDOWS\\SYSTEM\\Pscript.drv'))
    attributes = [f'{path} = readonly hidden\n' for path in staged_driver_files(zentaq)] if sc.marked else []

    system_dir, driver_dir = sim_directories(sc.system)
    result = Result(system_dir, driver_dir, module_path.rsplit('\\', 1)[0])

    def run_trouble(action):
        run = subprocess.run([args.sim_trouble, action], env=dict(os.environ, WINSIM_ROOT=machine),
                             stdin=subprocess.DEVNULL, capture_output=True, timeout=SIM_LIMIT)
        return run.stdout.decode('latin-1').splitlines() + ([f'exit code {run.returncode}'] if run.returncode else [])
    result.trouble = make_trouble(sc, machine, system_dir, lambda path: attributes.append(f'{path} = readonly\n'),
                                  run_trouble)
    if attributes:
        with open(os.path.join(machine, 'machine.ini'), 'a') as f:
            f.write('[attributes]\n' + ''.join(attributes))
    journal_path = os.path.join(machine, 'journal.log')
    journal_seen = 0
    for number, step in enumerate(sc.steps, 1):
        if step.before == 'reboot':
            subprocess.run([args.winsim, 'reboot', machine], capture_output=True, timeout=SIM_LIMIT, check=True)
        elif step.before == 'release':
            release_libraries(machine)
        if step.install:
            set_quiet(zentaq, step.quiet, step.config)
        with open(os.path.join(machine, 'answers'), 'w') as f:
            f.write(''.join(a + '\n' for a in step.answers))
        log(f'simulated {sc.system}: setup {" ".join(step.args)}')
        # setup.exe is a windowed program: Windows starts it without a
        # standard input. The simulated side runs without one too (file
        # descriptor 0 closed), so the machine's first open gets descriptor 0.
        called_path = os.path.join(work, f'step{number}.called')
        if os.path.exists(called_path):
            os.remove(called_path)
        holder = Holder([args.sim_trouble, 'hold', sc.hold], dict(os.environ, WINSIM_ROOT=machine), SIM_LIMIT) \
            if sc.hold and number == 1 else None
        run = subprocess.run([args.sim_setup, *step.args],
                             env=dict(os.environ, WINSIM_ROOT=machine, WINSIM_CALL_LOG=called_path),
                             stdin=subprocess.DEVNULL, capture_output=True, timeout=SIM_LIMIT,
                             preexec_fn=views.close_standard_input)
        for kind, data in (('stdout', run.stdout), ('stderr', run.stderr)):
            with open(os.path.join(work, f'step{number}.{kind}'), 'wb') as f:
                f.write(data)
        s = StepResult()
        if holder:
            s.held = holder.release()
        # A POSIX exit status keeps the low 8 bits of the program's.
        s.exit_code = run.returncode & 0xFF
        s.stdout = run.stdout.decode('latin-1')
        if os.path.exists(called_path):
            with open(called_path, encoding='latin-1') as f:
                s.called = sorted(set(f.read().split()))
        journal = []
        if os.path.exists(journal_path):
            with open(journal_path, encoding='latin-1') as f:
                journal = f.read().splitlines()
        read_journal(journal[journal_seen:], s)
        journal_seen = len(journal)
        lines, s.stamps_ok = read_setup_log(winelib.host_path(machine, 'c:\\zentaq\\res\\drivedir\\setup.log'))
        s.log = lines[sum(len(p.log) for p in result.steps):]
        s.state = read_state(machine, result)
        s.state.registry = registry.read_sim_registry(machine)
        if step.install:
            s.driver = sim_driver_passed(s.state)
        s.spooler = spooler_listing.run_sim(args.sim_spoolview, machine, work, number, SIM_LIMIT)
        s.calls, s.calls_called = call_view.run_sim(args.sim_callview, machine, work, number, SIM_LIMIT)
        # What the views did is not the next step's: its journal starts after them.
        with open(journal_path, encoding='latin-1') as f:
            journal_seen = len(f.read().splitlines())
        result.steps.append(s)
    return result
