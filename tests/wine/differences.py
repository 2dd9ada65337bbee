"""The differences between Wine and the simulated machine that are not
faults of setup: each entry of DIFFERENCES is a behaviour of Wine that
Windows does not share, a simplification of the simulated machine that its
owners chose, or what the 64-bit test build does as a 64-bit program. Each
is absorbed by a normalisation below that removes exactly that difference,
and only where the condition that causes it shows (Wine's err channel, the
state Wine was in before the step); a normalisation returns both sides and
the names of the differences it used.
"""
import re

from call_view import profile_rewritten
from registry import REG_SZ, dword, sz
from sides import SETUP_LOG

# Each: the fields it concerns, and why Wine and the simulated machine may
# differ there.
DIFFERENCES = {
    'system-directory-98': (
        'all paths',
        'Wine keeps the NT folder layout whatever version it reports: on win95, win98 and winme '
        'GetSystemDirectoryA is C:\\windows\\system32, where Windows 95, 98 and Me (and the simulated ones) say '
        'C:\\WINDOWS\\SYSTEM. There the simulated side must say C:\\WINDOWS\\SYSTEM.'),
    'driver-directory-98': (
        'all paths',
        'Wine\'s spooler names its own folder for the "Windows 4.0" environment '
        '(...\\spool\\drivers\\win40); Windows 95, 98 and Me keep printer drivers in C:\\WINDOWS\\SYSTEM, '
        'which the simulated side must say there.'),
    'windows-folder-winnt': (
        'system and driver directory',
        'Wine keeps its Windows folder C:\\windows whatever version it reports; NT 4.0 and 2000 install to '
        'C:\\WINNT (their %SystemRoot%), as the simulated ones do. Where Wine reports nt40 or win2k, its '
        'C:\\windows is read as C:\\WINNT, and the simulated side must say C:\\WINNT.'),
    'profile-no-section-nt4': (
        'callview',
        'WritePrivateProfileStringA without a section: Windows 2000 and later answer ERROR_FILE_NOT_FOUND, '
        'NT 4.0 ERROR_INVALID_PARAMETER (Wine\'s kernel32 profile tests, which mark the NT 4.0 answer broken()); '
        'Wine 8.0 answers 2 whatever version it reports. On NT 4.0 the simulated side must answer 87.'),
    'stdout-line-ends': (
        'progress traces',
        'The Windows C runtime writes standard output in text mode, so each "\\n" of a trace reaches a file as CR '
        'LF (text mode, "carriage return-line feed combinations are translated into a single line feed on input, '
        'and line feed characters are translated to carriage return-line feed combinations on output": _setmode '
        'in the C runtime\'s documentation); the POSIX build writes LF. Compared with each LF of the simulated '
        'side\'s output taken as CR LF: a LF that reached Wine\'s file without its CR is a difference.'),
    'environment-64': (
        'driver record key, driver directory',
        'The x86_64 test build is a 64-bit process: Windows (and Wine) give it the driver directory and '
        'spooler environment of its processor, ...\\spool\\drivers\\x64 and "Windows x64", and it registers '
        'its driver there. The simulated machine is 32-bit Windows, where the program is the 32-bit product '
        'with "Windows NT x86" and ...\\w32x86. Compared with Wine\'s environment read as the 32-bit one; the '
        'simulated side must say the 32-bit one there.'),
    'driver-version-key': (
        'driver record key and Version',
        'Wine files every NT driver under Drivers\\Version-3 and 9x drivers under Drivers\\Version-0, with '
        'Version 3 or 0, whatever cVersion the caller gave; Windows XP keeps a cVersion 2 driver under '
        'Version-2 and Windows 98 directly under Drivers, where the simulated side must keep it, with Version 2.'),
    'driver-file-names': (
        'driver record',
        'Windows and Wine copy the driver files into a version folder and record bare file names; the '
        'simulated spooler copies nothing and records the names as passed (full paths on NT). Compared by '
        'file name; on NT a bare name on the simulated side is Wine\'s form, not what setup passed.'),
    'driver-record-extras': (
        'driver record',
        'Wine writes "Previous Names" (an empty multi-string) into the driver\'s key, as Windows 2000 and XP do '
        'for drivers added at level 6; the simulated spooler keeps the values of level 3 only. That one is left '
        'out of Wine\'s record, no other; a simulated record that holds it differs.'),
    'printer-record-extras': (
        'printer record',
        'Wine\'s AddPrinterW writes dnsTimeout and txTimeout into the printer\'s key (as Windows 2000 and XP '
        'do); the simulated spooler does not keep them. Those two are left out of Wine\'s record, no other; a '
        'simulated record that holds them differs.'),
    'printer-record-null-strings': (
        'printer record',
        'Wine\'s AddPrinterW writes no value for a string the caller left NULL (Description, Location, '
        'Parameters, Separator File, Share Name); Windows writes them all, empty, as the simulated spooler '
        'must.'),
    'printer-exists-unseen': (
        'the reinstall\'s setup log, progress traces and the functions that setup called',
        'Wine\'s AddPrinterW looks for an existing printer by querying a subkey named "Attributes" of its key '
        '(RegQueryValueW) instead of the value, so it never sees one: it writes the printer\'s values again, opens '
        'the printer and returns its handle, and setup traces "Closing printer" and calls ClosePrinter. Windows '
        'and the simulated spooler refuse with 1802 (ERROR_PRINTER_ALREADY_EXISTS: MS-RPRN 3.1.4.2.3 '
        'RpcAddPrinter), which setup logs as "AddPrinter: 1802", and setup has no printer to close. Only where '
        'Wine\'s printer key was there before the run; there Wine\'s form is required, and the simulated side\'s '
        'refusal.'),
    'delete-printer-last-error': (
        'the uninstall\'s setup log',
        'Wine\'s DeletePrinter, having deleted the printer, looks for the default printer (GetDefaultPrinterW, the '
        '"device" key of win.ini\'s [windows] section) to clear it if it was this one; with no default printer '
        'that lookup fails with ERROR_FILE_NOT_FOUND, and DeletePrinter returns TRUE with the thread\'s last error '
        '2. Setup clears the last error before the call and logs what it holds after it, so it logs "startrpc: 2" '
        'where Windows and the simulated spooler delete the printer without an error (MS-RPRN 3.1.4.2.4 '
        'RpcDeletePrinter returns ERROR_SUCCESS) and setup logs nothing. Only where Wine\'s printer key was there '
        'before the uninstall and gone after it, and Wine\'s relay trace shows setup clearing the last error '
        '(SetLastError(0), traced once Wine\'s RelayExclude lets it through) as its last call before DeletePrinter, '
        'so that the 2 is DeletePrinter\'s; there Wine\'s form is required, and the simulated side must log nothing.'),
    'delete-driver-unknown': (
        'the setup log of an uninstall that finds no driver',
        'Wine\'s DeletePrinterDriverA of a driver it doesn\'t know fails without setting a last error (0), so setup '
        'logs nothing; Windows and the simulated spooler set 1797 (ERROR_UNKNOWN_PRINTER_DRIVER: MS-RPRN '
        '3.1.4.4.5 RpcDeletePrinterDriver), which setup logs as "DeletePrinterDriver: 1797" (the second uninstall '
        'run on 9x, after the first removed the driver). Only where Wine had no driver record before the run and '
        'setup called DeletePrinterDriverA; there the simulated side must log the 1797.'),
    'driver-files-unchecked': (
        'the rest of an install whose driver, data or configuration file is missing',
        'Wine\'s AddPrinterDriverA takes a driver whose files are not in the driver directory (localspl\'s '
        'myAddPrinterDriverEx ignores what apd_copyfile answers), so Wine\'s install goes on to the end. Windows '
        'needs every file of the driver in the driver directory first (AddPrinterDriverEx\'s documentation) and '
        'refuses with ERROR_FILE_NOT_FOUND, as the simulated spooler does: setup logs "AddPrinterDriver: 2", '
        'the printer on the unknown driver is refused ("AddPrinter: 1797") and the install ends with 1603. Where a '
        'staged driver, data or configuration file is missing, the simulated side must show those two lines where '
        'Wine shows none, and end with 1603; the runs are compared up to there (log, boxes, processes), not after.'),
    'readonly-written-as-root': (
        'the setup log, the functions that setup called',
        'The harness runs Wine as root, and Wine keeps a file\'s read-only attribute in its Unix write bits '
        '(attrib +r clears them), which the kernel does not hold against root: Wine\'s CreateFileA opens the '
        'read-only setup log for writing and setup appends its lines. Windows refuses such an open with '
        'ERROR_ACCESS_DENIED (CreateFile\'s documentation: a file with FILE_ATTRIBUTE_READONLY can\'t be opened '
        'for writing), so setup drops its lines. Where the log was made read-only, the simulated side must hold '
        'the lines that were there before and no more, and Wine\'s appended lines (and the calls that wrote '
        'them) are left out.'),
    'runtime-close-at-exit': (
        'the functions that setup called',
        'setup.exe carries the C++ runtime of mingw-w64 (libstdc++, linked in), which destroys a mutex of its own '
        'at exit (__gthr_win32_mutex_destroy: CloseHandle) from inside setup.exe\'s image, so Wine\'s relay trace '
        'shows CloseHandle called from setup.exe in every run, as the last call that setup.exe\'s image makes; the '
        'POSIX build\'s runtime is the host\'s. Only where the simulated side recorded no CloseHandle of setup\'s '
        'own (a run that opened no file and started no program there) and each CloseHandle of setup.exe\'s image '
        'under Wine is that last call, or one of the two right after a CreateProcessA that succeeded under Wine '
        '(the handles of a process that the simulated machine, which starts host programs only, could not start): '
        'those are left out of Wine\'s side, and any other CloseHandle of setup\'s is a difference.'),
    'runtime-module-lookup': (
        'the functions that callview called',
        'The 32-bit callview.exe carries mingw-w64\'s crtbegin, whose frame registration at start asks for libgcc\'s '
        'library (GetModuleHandleA("libgcc_s_dw2-1.dll"), __gcc_register_frame) from inside the program\'s image, '
        'so Wine\'s relay trace shows that call; the POSIX build\'s runtime is the host\'s. Only that call with '
        'that argument is left out of Wine\'s side; a GetModuleHandleA of the program\'s own still counts.'),
    'spooler-service-not-started': (
        'spooler service requests; callview\'s status of the spooler service',
        'Wine\'s Spooler service (spoolsv.exe) is started on demand: Wine\'s spooler works inside the calling '
        'process, and every Wine process of the prefix has ended before a step begins, so the step\'s first stop '
        'request finds the service stopped and fails (ERROR_SERVICE_NOT_ACTIVE), and after a step that started '
        'none, QueryServiceStatus finds it never started (SERVICE_STOPPED, exit code 1077). Windows starts its '
        'spooler at boot (the Spooler service is SERVICE_AUTO_START; ControlService fails with '
        'ERROR_SERVICE_NOT_ACTIVE only for a service that is not running, Win32 documentation), and the simulated '
        'one runs: the stop succeeds (its journal\'s result 0), and the service reports SERVICE_RUNNING with exit '
        'code 0. Only for the first request of a step, a stop, and for callview\'s status after a step that '
        'started no service; there Wine\'s form is required and the simulated side\'s success (Wine\'s relay shows '
        'that its stop failed, not the code), and every later request must succeed or fail alike.'),
    'printer-add-unchecked': (
        'the calls outside the spooler: printers that callview adds beside the product\'s, and the '
        'DeletePrinter of each that it added',
        'Wine 8.0\'s AddPrinterW (winspool.drv info.c) checks neither the printer name\'s characters nor its port: '
        'it adds a printer whose name has a comma, whose port no monitor has, or whose port name is empty. Windows '
        'refuses the first with 1801 (ERROR_INVALID_PRINTER_NAME: the spooler lists printer names '
        'comma-separated) and the others with 1796 (ERROR_UNKNOWN_PORT), as the simulated spooler does. Only '
        'where Wine added the printer; there the simulated side must have refused it so.'),
    'subkey-without-create-right': (
        'the calls outside the spooler: a subkey made through a key opened for reading',
        'Wine\'s server asks no access of the parent handle to create a key ("no access rights are required '
        'from the parent handle to create a key", create_key in server/registry.c); NT asks KEY_CREATE_SUB_KEY '
        '(ZwCreateKey) and refuses with 5 (ERROR_ACCESS_DENIED), as the simulated machine does on NT. Only on NT '
        'where Wine made the key; there the simulated side must have refused.'),
    'key-name-line-break': (
        'the calls outside the spooler: a registry key made with a line break in its name',
        'A simplification of the simulated machine: its system.reg holds a key a line, so it refuses a key name '
        'with a line break (ERROR_INVALID_PARAMETER), where Windows and Wine make the key. Only where Wine made '
        'it; there the simulated side must have refused, since a machine that took the name would write a hive '
        'it can\'t read back.'),
    'seek-past-32-bits': (
        'the calls outside the spooler: a seek past 0xFFFFFFFF without a high part',
        'Windows\' SetFilePointer fails where lpDistanceToMoveHigh is NULL and the new position does not fit in '
        '32 bits (INVALID_SET_FILE_POINTER, ERROR_INVALID_PARAMETER), as the simulated machine does; Wine\'s '
        '(kernelbase file.c) moves the pointer and returns the low part, the last error left alone. Only where '
        'Wine answers so; there the simulated side must have failed.'),
    'profile-rewritten-whole': (
        'the calls outside the spooler: a profile file that another program wrote',
        'Wine\'s WritePrivateProfileStringA loads the whole file and writes every line back in its own form '
        '(kernel32 profile.c, PROFILE_Load and PROFILE_Save): CR LF line ends, blank lines dropped, blanks around '
        '"=" removed. Windows changes only the line of the key it writes and keeps the others as they were, as '
        'the simulated machine does. Only for the file that callview writes by hand, and for a configuration '
        'file edited by hand before an install; there the simulated side must have kept every line but the one '
        'setup writes, and Wine\'s form of them is required from Wine.'),
    'port-order': (
        'the install\'s progress traces',
        'Wine\'s spooler lists the ports of a monitor that AddMonitor registered in the running process ahead of '
        'the others, so ZENTAQPORT heads EnumPortsA\'s list and setup traces "Port found"; monitors loaded at the '
        'spooler\'s start come in the registry\'s order. Windows lists the ports of its built-in Local Port monitor '
        '(LPT1:, COM1:, FILE:) first, as the simulated spooler always does (its [spooler] local_ports), so setup '
        'traces the enumeration without "Port found" (setup only traces which port is first). Only where this '
        'install registered the monitor; there Wine\'s form is required, and the simulated side\'s local ports '
        'first. (No Win32 or MS-RPRN text states the order: RpcEnumPorts leaves it to the server; this rests on '
        'the simulated spooler\'s documented order.)'),
    'enum-needed-ansi': (
        'what EnumMonitorsA and EnumPortsA ask for',
        'Wine\'s EnumMonitorsA and EnumPortsA (winspool.drv info.c) call the W function, then work out the size of '
        'the ANSI records and report that as needed ("W2k require the buffersize from EnumPortsW also for '
        'EnumPortsA. We use the smaller Ansi-Size to avoid conflicts with fixed Buffers of old Apps.": Wine\'s '
        'record of Windows 2000\'s answer): one byte a character. The NT spooler reports the size of the Unicode '
        'answer, two bytes a character, as the simulated spooler does on NT; Windows 9x\'s spooler is ANSI and '
        'asks for one, as both sides do there. Only on NT; there Wine\'s size must be the one-byte form and the '
        'simulated one the two-byte form.'),
    'monitor-environment-nt-x86': (
        'the monitor\'s pEnvironment in EnumMonitorsA level 2',
        'Wine\'s localspl fills pEnvironment of every monitor with "Windows NT x86" whatever version it reports '
        '(get_local_monitors: "we install and return only monitors for Windows NT x86"); Windows 98, and the '
        'simulated 98, give "Windows 4.0", the environment of the 9x systems (MONITOR_INFO_2, and the '
        'environments that AddPrinterDriverEx lists, in the Win32 documentation). Only on 98: there Wine\'s value '
        'must be "Windows NT x86" and the simulated one "Windows 4.0".'),
}

NULL_STRINGS = ['Description', 'Location', 'Parameters', 'Separator File', 'Share Name']
# The only values of Wine's records that the simulated spooler doesn't keep.
PRINTER_EXTRAS = ['dnsTimeout', 'txTimeout']
DRIVER_EXTRAS = ['Previous Names']


# --- the normalisations ----------------------------------------------------------------

def not_windows(shown, answer):
    """The simulated side's `shown` where a difference's cause shows and
    Windows answers `answer`: marked, so that it is equal to neither side's
    form and the field differs."""
    return f'{shown} (Windows: {answer})'


# The names under which Wine's relay trace shows SetLastError (kernel32's,
# or ntdll's that it forwards to).
SET_LAST_ERROR = ('SetLastError', 'RtlSetLastWin32Error')


def cleared_before(calls, function):
    """Whether setup's last call before `function` (in the relayed calls of
    its image) set the last error to 0."""
    for i, (name, args, _) in enumerate(calls):
        if name == function:
            return i > 0 and calls[i - 1][0] in SET_LAST_ERROR and calls[i - 1][1][:1] == [0]
    return False


def runtime_closes_only(calls):
    """Whether each CloseHandle of setup.exe's image is the runtime's at
    exit (the image's last call, the last error setters aside) or one of the
    two right after a CreateProcessA that succeeded (runtime-close-at-exit)."""
    calls = [c for c in calls if c[0] not in SET_LAST_ERROR]
    if not calls or calls[-1][0] != 'CloseHandle':
        return False
    for i, (name, _, _) in enumerate(calls[:-1]):
        if name != 'CloseHandle':
            continue
        start = i - 1 if calls[i - 1][0] != 'CloseHandle' else i - 2
        if start < 0 or calls[start][0] != 'CreateProcessA' or not calls[start][2]:
            return False
    return True


class StepContext:
    """What decides which differences a step may show."""

    def __init__(self, sc, step, wine_step, bits, printer_before, driver_before, printer_after=False):
        self.nt, self.bits, self.step, self.system = sc.nt, bits, step, sc.system
        # A staged driver, data or configuration file missing (driver-files-unchecked).
        self.driver_files_missing = step.install and any(t.kind == 'missing' and t.what in DRIVER_CORE_FILES
                                                         for t in sc.trouble)
        # The setup log made read-only before the first step, and the lines it held then.
        self.log_readonly = any(t.kind == 'readonly' and t.what == SETUP_LOG for t in sc.trouble)
        self.log_before = sc.lines_before(SETUP_LOG)
        # Wine's printer key was there before this run, and after it.
        self.printer_before, self.printer_after = printer_before, printer_after
        # Wine's driver record was there before this run.
        self.driver_before = driver_before
        # This run's AddMonitorA registered the monitor (it logged no failure).
        self.added_monitor = not any(line.startswith('AddMonitor:') for line in wine_step.log)
        # What Wine's relay trace shows setup.exe's image calling.
        calls = wine_step.image_calls
        self.deleted_driver = any(c[0] == 'DeletePrinterDriverA' for c in calls)
        self.cleared_before_delete = cleared_before(calls, 'DeletePrinter')
        self.runtime_closes_only = runtime_closes_only(calls)

    # The causes that several fields show, each named once.
    @property
    def printer_added_again(self):
        """An install over the printer that Wine had (printer-exists-unseen)."""
        return self.step.install and self.printer_before

    @property
    def printer_deleted(self):
        """An uninstall that deleted Wine's printer (delete-printer-last-error)."""
        return self.step.uninstall and self.printer_before and not self.printer_after

    @property
    def no_driver_to_delete(self):
        """A run that found no driver record and asked to delete it: an
        uninstall, or an install whose upgrade guard uninstalled quietly
        (delete-driver-unknown)."""
        return not self.driver_before and self.deleted_driver


# The files that AddPrinterDriverA needs in the driver directory.
DRIVER_CORE_FILES = ('Pscript.dll', 'gs.PPD', 'Zentaqui.dll')
REFUSED_DRIVER = ['AddPrinterDriver: 2', 'AddPrinter: 1797']


def norm_log(ctx):
    def normalise(wine, sim):
        wine, sim, used = list(wine), list(sim), []
        # Where the cause shows, Windows' form is required of the simulated side.
        if ctx.driver_files_missing:
            if sim[-2:] != REFUSED_DRIVER:
                sim.append('(no refused driver, as Windows refuses it)')
            elif wine == sim[:-2]:
                sim = sim[:-2]
                used.append('driver-files-unchecked')
        if ctx.log_readonly:
            if len(sim) != ctx.log_before:
                sim.append('(lines written to a read-only log, which Windows refuses to open for writing)')
            elif wine[:len(sim)] == sim and len(wine) > len(sim):
                wine = sim[:]
                used.append('readonly-written-as-root')
        # Each line that Windows' refusal logs on the simulated side, and that
        # Wine's acceptance leaves out.
        for cause, line, name in ((ctx.no_driver_to_delete, 'DeletePrinterDriver: 1797', 'delete-driver-unknown'),
                                  (ctx.printer_added_again, 'AddPrinter: 1802', 'printer-exists-unseen')):
            if cause:
                if line in sim:
                    sim.remove(line)
                else:
                    sim.append(not_windows('no such line', line))
                used.append(name)
        if ctx.printer_deleted:
            # DeletePrinter is the uninstall's first call; its 2 is taken for
            # DeletePrinter's own only where setup cleared the error first.
            sim.insert(0, 'startrpc: 2' if ctx.cleared_before_delete else
                       not_windows('startrpc: 2', 'no line, and setup clearing the last error before DeletePrinter'))
            used.append('delete-printer-last-error')
        return wine, sim, used
    return normalise


# The calls with which setup writes a line of its log (CFile: open, seek to
# the end, write, close).
LOG_WRITER = ['CloseHandle', 'CreateFileA', 'SetFilePointer', 'WriteFile']


def norm_config_bytes(ctx):
    """The configuration file edited by hand before an install: the simulated
    side must keep every line of it but the one setup writes (one line
    changed), and Wine's whole-file form is read as that (profile-rewritten-whole)."""
    def normalise(wine, sim):
        before = ctx.step.config
        if not (ctx.step.install and before and wine and sim) or wine == sim:
            return wine, sim, []
        kept, written = before.split(b'\r\n'), sim.split(b'\r\n')
        one_line_changed = len(kept) == len(written) and sum(a != b for a, b in zip(kept, written)) == 1
        if not one_line_changed:
            return wine, sim + b' (lines not kept as the file had them)', []
        if wine != profile_rewritten(sim):
            return wine, sim, []
        return sim, sim, ['profile-rewritten-whole']
    return normalise


def norm_called(ctx):
    """The functions that setup called, as each side's differences shape
    them: the calls that wrote a log line that only one side wrote
    (delete-printer-last-error: Wine's form required; delete-driver-unknown:
    the simulated side's alone), the ClosePrinter of the printer that Wine
    added again (printer-exists-unseen: required), and the C runtime's
    CloseHandle at exit (runtime-close-at-exit)."""
    def normalise(wine, sim):
        wine, sim, used = set(wine), set(sim), []
        if ctx.log_readonly and set(LOG_WRITER) & (wine - sim):
            wine -= set(LOG_WRITER) - sim
            used.append('readonly-written-as-root')
        if ctx.printer_deleted:
            sim |= set(LOG_WRITER)
            used.append('delete-printer-last-error')
        if ctx.no_driver_to_delete and set(LOG_WRITER) & (sim - wine):
            sim -= set(LOG_WRITER) - wine
            used.append('delete-driver-unknown')
        if ctx.printer_added_again:
            # Windows refused the printer: setup had none to close.
            sim.add(not_windows('ClosePrinter', 'AddPrinterA refused') if 'ClosePrinter' in sim else 'ClosePrinter')
            used.append('printer-exists-unseen')
        if 'CloseHandle' in wine - sim and ctx.runtime_closes_only:
            wine.discard('CloseHandle')
            used.append('runtime-close-at-exit')
        return sorted(wine), sorted(sim), used
    return normalise


def norm_services(wine, sim):
    """The step's first request, a stop: Wine's fails, the simulated one
    must have succeeded."""
    if sim and sim[0][0] == 'control' and sim[0][2] == 1:
        first = sim[0][:3] + ((False,) if sim[0][3] else (not_windows('failed', 'the running spooler stopped'),))
        return wine, [first, *sim[1:]], ['spooler-service-not-started']
    return wine, sim, []


def norm_traces(ctx):
    def normalise(wine, sim):
        used = []
        # The text mode's CR before each LF, where every LF has one.
        if '\r\n' in wine and '\n' not in wine.replace('\r\n', ''):
            wine = wine.replace('\r\n', '\n')
            used.append('stdout-line-ends')
        adding, closing = 'Adding printer\n\n', 'Adding printer\n\nClosing printer\n\n'
        if ctx.printer_added_again and closing in sim:
            sim = sim.replace(closing, not_windows(closing, 'AddPrinterA refused, nothing to close'), 1)
            used.append('printer-exists-unseen')
        elif ctx.printer_added_again and adding in sim:
            sim = sim.replace(adding, closing, 1)
            used.append('printer-exists-unseen')
        found = 'Enumerating ports\n\nPort found\n\n'
        if ctx.step.install and ctx.added_monitor and found in sim:
            sim = sim.replace(found, not_windows(found, 'the local ports first'), 1)
            used.append('port-order')
        elif ctx.step.install and ctx.added_monitor and found in wine:
            sim = sim.replace('Enumerating ports\n\n', found, 1)
            used.append('port-order')
        return wine, sim, used
    return normalise


def without_extras(wine, sim, extras, difference):
    """The values of `extras` left out of Wine's record (in place); one that
    the simulated record holds, which its spooler doesn't keep, is marked."""
    used = []
    for name in extras:
        if name in sim:
            sim[name] = not_windows(sim[name], 'not kept by the simulated spooler')
        elif name in wine:
            del wine[name]
            used.append(difference)
    return used


def norm_printer(wine, sim):
    """The printer record: the two values Wine writes that the simulated
    spooler doesn't keep left out, and the NULL strings Wine doesn't write
    left out of the simulated side's where they hold what Windows writes."""
    if wine is None or sim is None:
        return wine, sim, []
    wine, sim = dict(wine), dict(sim)
    used = without_extras(wine, sim, PRINTER_EXTRAS, 'printer-record-extras')
    for name in [n for n in NULL_STRINGS if n not in wine]:
        if sim.get(name) == sz(''):
            del sim[name]
            used.append('printer-record-null-strings')
        elif name not in sim:
            sim[name] = not_windows('absent', 'an empty string')
    return wine, sim, used


def norm_driver_key(ctx):
    def normalise(wine, sim):
        if wine is None or sim is None:
            return wine, sim, []
        used = []
        if ctx.bits == 64 and ctx.nt:
            wine = wine.replace('\\Windows x64\\', '\\Windows NT x86\\')
            used.append('environment-64')
        version = '\\Version-3\\' if ctx.nt else '\\Version-0\\'
        if version in wine:
            wine = wine.replace(version, '\\Version-2\\' if ctx.nt else '\\')
            used.append('driver-version-key')
        return wine, sim, used
    return normalise


FILE_VALUES = ('Driver', 'Data File', 'Configuration File', 'Help File')


def norm_driver_values(ctx):
    """The driver record by file names, without Version (compared on its
    own) and without the values the simulated spooler doesn't keep. On NT
    setup passes each file by its path in the driver directory, which the
    simulated spooler records as passed: a bare name there is Wine's form."""
    def normalise(wine, sim):
        if wine is None or sim is None:
            return wine, sim, []
        bare = [n for n in FILE_VALUES if ctx.nt and n in sim and b'\\' not in sim[n][1]]
        wine, sim, used = by_file_name(wine, sim)
        for name in bare:
            sim[name] = not_windows(sim[name], 'the path passed')
        return wine, sim, used + without_extras(wine, sim, DRIVER_EXTRAS, 'driver-record-extras')
    return normalise


def by_file_name(wine, sim):
    """Both records with each file by its name, lower-case."""
    used = []

    def by_name(values):
        out = {}
        for name, (kind, data) in values.items():
            if name == 'Version':
                continue
            if name in FILE_VALUES and kind == REG_SZ:
                data = data.rstrip(b'\0').split(b'\\')[-1].lower() + b'\0'
            elif name == 'Dependent Files':
                data = b'\0'.join(n.lower() for n in data.split(b'\0'))
            if data != values[name][1]:
                used.append('driver-file-names')
            out[name] = (kind, data)
        return out

    return by_name(wine), by_name(sim), used


def norm_driver_version(ctx):
    """Wine's Version 3 (NT) or 0 (9x) for the cVersion 2 that setup passes
    (checked on its own, from Wine's trace of what it received)."""
    def normalise(wine, sim):
        wine_version = dword(3 if ctx.nt else 0)
        if wine != wine_version:
            return wine, sim, []
        if sim == dword(2):
            return sim, sim, ['driver-version-key']
        return wine, not_windows(sim, 'Version 2, the cVersion passed'), []
    return normalise


# The system directory of Windows 95, 98 and Me, and the Windows folder of NT
# 4.0 and 2000, where Wine keeps the NT layout of C:\\windows.
SYSTEM_9X = 'c:\\windows\\system'
WINNT_SYSTEMS = ('nt4', '2000')


def windows_folders(ctx, wine, sim, nine_x_name):
    """A folder in Wine's layout where the system has its own: on 95, 98
    and Me the simulated side must say C:\\WINDOWS\\SYSTEM, on NT 4.0 and
    2000 C:\\WINNT\\..., and Wine's folder is read as that one; a simulated
    side in Wine's layout differs."""
    if not ctx.nt and wine.startswith('c:\\windows\\system32'):
        if sim != SYSTEM_9X:
            return wine, sim + ' (Windows 95, 98 and Me say ' + SYSTEM_9X + ')', []
        return sim, sim, [nine_x_name]
    if ctx.system in WINNT_SYSTEMS and wine.startswith('c:\\windows\\'):
        if not sim.startswith('c:\\winnt\\'):
            return wine, sim + ' (NT 4.0 and 2000 say c:\\winnt)', []
        return 'c:\\winnt\\' + wine[len('c:\\windows\\'):], sim, ['windows-folder-winnt']
    return wine, sim, []


def norm_driver_directory(ctx):
    def normalise(wine, sim):
        used = []
        if ctx.nt and ctx.bits == 64 and wine.endswith('\\x64'):
            wine, used = wine[:-4] + '\\w32x86', ['environment-64']
        wine, sim, more = windows_folders(ctx, wine, sim, 'driver-directory-98')
        return wine, sim, used + more
    return normalise


def norm_driver_passed(ctx):
    """The environment the 64-bit test build passes for its driver, read as
    the product's (environment-64)."""
    def normalise(wine, sim):
        if not (ctx.nt and ctx.bits == 64 and wine and sim and wine.get('pEnvironment') == 'Windows x64'):
            return wine, sim, []
        if sim.get('pEnvironment') == 'Windows NT x86':
            return dict(wine, pEnvironment='Windows NT x86'), sim, ['environment-64']
        return wine, dict(sim, pEnvironment=not_windows(sim.get('pEnvironment'), 'Windows NT x86')), []
    return normalise


def norm_system_directory(ctx):
    def normalise(wine, sim):
        return windows_folders(ctx, wine, sim, 'system-directory-98')
    return normalise


def norm_spooler_entry(ctx):
    """A product's entry in what the spooler lists: a monitor's environment
    in Wine's fixed form."""
    def normalise(wine, sim):
        if not wine or not sim or 'pEnvironment' not in sim or 'pDLLName' not in sim:
            return wine, sim, []
        if ctx.nt:
            return wine, sim, []
        if sim['pEnvironment'] != 'Windows 4.0':
            return wine, dict(sim, pEnvironment=not_windows(sim['pEnvironment'], 'Windows 4.0')), \
                ['monitor-environment-nt-x86']
        if wine.get('pEnvironment') == 'Windows NT x86':
            return wine, dict(sim, pEnvironment='Windows NT x86'), ['monitor-environment-nt-x86']
        return wine, sim, []
    return normalise


def norm_spooler_width(ctx):
    """The bytes a character takes in the `needed` of EnumMonitorsA and EnumPortsA."""
    def normalise(wine, sim):
        if ctx.nt:
            return wine, 1 if sim == 2 else not_windows(sim, 2), ['enum-needed-ansi']
        return wine, sim, []
    return normalise


# err lines of setup's own process that a difference explains: (pattern,
# name of the difference, whether the step's context shows its cause).
ERRORS_EXPLAINED = []


def explain_errors(ctx, lines):
    """(the lines no entry explains, the names of the entries used)."""
    unexplained, used = [], []
    for line in lines:
        entry = next((e for e in ERRORS_EXPLAINED if re.search(e[0], line) and e[2](ctx)), None)
        if entry:
            used.append(entry[1])
        else:
            unexplained.append(line)
    return unexplained, used
