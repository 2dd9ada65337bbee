"""What setup.exe left under Wine against what the POSIX setup left on the
simulated machine, step by step and field by field.

A field may differ only where differences.DIFFERENCES says why, through the
normalisation that absorbs exactly that difference; every other difference
fails the scenario. Some facts are also checked outright on
both sides (the port record's exact data, the Add/Remove Programs entry, the
printer data bytes, what an uninstall removed), so that the two cannot agree
on a wrong value.
"""
import hashlib
import os
import re

import call_view
import spooler_listing
import wine_traces
from differences import (DRIVER_EXTRAS, NULL_STRINGS, PRINTER_EXTRAS, StepContext, explain_errors, norm_called,
                         norm_config_bytes, norm_driver_passed, norm_driver_directory, norm_system_directory,
                         norm_driver_key, norm_driver_values, norm_driver_version, norm_log,
                         norm_printer, norm_services, norm_spooler_entry, norm_spooler_width, norm_traces)
from registry import REG_BINARY, REG_DWORD, dword, sz
from sides import (DRIVER_NAME, INIFILEMAPPING_KEY, MONITOR_KEY, PORT_KEY, PRINT, PRINTER_DATA_KEY, PRINTER_KEY,
                   SERVICE_CONTROL_STOP, UNINSTALL_KEY)

def data_hash(data):
    return hashlib.sha1(data).hexdigest()[:12]


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
    return repr(value)


def paths_to_symbols(text, result):
    """Replaces the run's folders by names, longest first, without regard to case."""
    for folder, symbol in sorted([(result.driver_dir, '<DRIVERS>'), (result.system_dir, '<SYSTEM>'),
                                  (result.module_dir, '<MODULE>')], key=lambda p: -len(p[0])):
        if folder:
            text = re.sub(re.escape(folder.rstrip('\\')), symbol, text, flags=re.I)
    return text


def environment(nt, bits):
    if not nt:
        return 'Windows 4.0'
    return 'Windows x64' if bits == 64 else 'Windows NT x86'


def driver_record(state, nt, bits=32):
    """The driver's key: where it is found, and its values by name."""
    base = f'{PRINT}\\Environments\\{environment(nt, bits)}\\Drivers'
    for sub in (['Version-2', 'Version-3'] if nt else ['', 'Version-0']):
        path = base + ('\\' + sub if sub else '') + '\\' + DRIVER_NAME
        values = state.registry.values(path)
        if values is not None:
            return path, values
    return None, None


def expected_port_record(module_dir):
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


class Comparison:
    def __init__(self, log):
        self.log = log
        self.failures = []
        self.used = set()
        self.where = ''

    def field(self, name, wine, sim, normalise=None):
        """Equal after `normalise(wine, sim)` -> (wine, sim, names of the
        differences it absorbed), or a failure. The normalisation is applied
        whether or not the two are equal as they stand: where a difference's
        cause shows, it turns the simulated side into the form Wine must
        have, and Wine equal to the simulated machine there is a failure."""
        label = f'{self.where}{name}'
        nwine, nsim, used = normalise(wine, sim) if normalise else (wine, sim, [])
        if nwine == nsim and not used:
            self.log(f'  equal      {label}: {show(wine)}')
            return
        if nwine == nsim:
            self.used.update(used)
            self.log(f'  known      {label} [{", ".join(sorted(set(used)))}]\n      wine: {show(wine)}\n'
                     f'      sim:  {show(sim)}')
            return
        if used:
            self.log(f'  (expected after [{", ".join(sorted(set(used)))}]: wine {show(nwine)}, sim {show(nsim)})')
        self.failures.append(label)
        self.log(f'  DIFFERENT  {label}\n      wine: {show(wine)}\n      sim:  {show(sim)}')

    def check(self, name, ok, detail='', known=None):
        label = f'{self.where}{name}'
        if ok:
            self.log(f'  ok         {label}')
        elif known:
            self.used.add(known)
            self.log(f'  known      {label} [{known}] {detail}')
        else:
            self.failures.append(label)
            self.log(f'  FAILED     {label} {detail}')


def product_bytes(product, name):
    with open(os.path.join(product, 'zentaq', 'res', 'drivedir', name), 'rb') as f:
        return f.read()


# The values a spooler keeps for a printer (Wine leaves out the NULL strings)
# and for a driver added at level 3.
PRINTER_VALUES = {'Attributes', 'Datatype', 'Default DevMode', 'Default Priority', 'Description', 'Location', 'Name',
                  'Parameters', 'Port', 'Print Processor', 'Printer Driver', 'Priority', 'Separator File',
                  'Share Name', 'StartTime', 'Status', 'UntilTime'}
DRIVER_VALUES = {'Configuration File', 'Data File', 'Datatype', 'Dependent Files', 'Driver', 'Help File', 'Monitor',
                 'Version'}


def check_state(c, side, module_dir, r, step, product, nt, bits=32):
    """The outright checks of a step's state."""
    state = r.state
    if step.state == 'installed':
        c.check(f'{side}: port record holds exactly the twelve values',
                state.registry.values(PORT_KEY) == expected_port_record(module_dir),
                show(state.registry.values(PORT_KEY)))
        c.check(f'{side}: Add/Remove Programs entry',
                state.registry.values(UNINSTALL_KEY) == {
                    'DisplayName': sz('Zentaq'),
                    'UninstallString': sz('c:\\zentaq\\setup.exe uninstall')},
                show(state.registry.values(UNINSTALL_KEY)))
        data = state.registry.values(PRINTER_DATA_KEY) or {}
        fontsub = product_bytes(product, 'fontsub.tbl')
        devmode = product_bytes(product, 'dfdevmdnt.dat' if nt else 'dfdevmd.dat')
        c.check(f'{side}: printer data are the product files\' bytes',
                data.get('TTFontSubTable') == (REG_BINARY, fontsub)
                and data.get('TTFontSubTableSize') == dword(len(fontsub))
                and data.get('PrinterData') == (REG_BINARY, product_bytes(product, 'printerdata.dat'))
                and (state.registry.values(PRINTER_KEY) or {}).get('Default DevMode') == (REG_BINARY, devmode))
        c.check(f'{side}: Quiet set back to 0', state.ini.get('Parameters', {}).get('Quiet') == '0', f'{state.ini}')
        c.check(f'{side}: no IniFileMapping of zentaq.ini', not state.registry.has_key(INIFILEMAPPING_KEY))
        # PRINTER_ATTRIBUTE_LOCAL on the 9x branch, none on NT: the spooler keeps what setup passed.
        c.check(f'{side}: printer Attributes as setup passes them',
                (state.registry.values(PRINTER_KEY) or {}).get('Attributes') ==
                dword(0 if nt else 0x40),
                show((state.registry.values(PRINTER_KEY) or {}).get('Attributes')))
        # No value more or less than a spooler keeps: a stray value that setup
        # wrote into the printer's or the driver's key would be on both sides.
        extras = set(PRINTER_EXTRAS) if side == 'wine' else set()
        nulls = set(NULL_STRINGS) if side == 'wine' else set()
        names = set((state.registry.values(PRINTER_KEY) or {}).keys())
        c.check(f'{side}: printer record holds the values of a printer',
                names - nulls - extras == PRINTER_VALUES - nulls, f'{sorted(names)}')
        record = driver_record(state, nt, bits)[1] or {}
        # pDefaultDataType "RAW", pMonitorName NULL: kept as "RAW" and "".
        c.check(f'{side}: driver record holds the datatype RAW and no monitor',
                record.get('Datatype') == sz('RAW') and record.get('Monitor') == sz(''),
                show(record.get('Datatype')) + ' ' + show(record.get('Monitor')))
        names = set(record.keys())
        extras = set(DRIVER_EXTRAS) if side == 'wine' else set()
        c.check(f'{side}: driver record holds the values of a driver', names - extras == DRIVER_VALUES,
                f'{sorted(names)}')
        return
    if step.state == 'no-driver':
        c.check(f'{side}: monitor and port registered, no driver, printer or entry',
                state.registry.values(PORT_KEY) == expected_port_record(module_dir)
                and driver_record(state, nt, bits)[0] is None and not state.registry.has_key(PRINTER_KEY)
                and not state.registry.has_key(UNINSTALL_KEY))
        return
    if step.state == 'trouble':
        return  # a run that meets trouble: judged against Wine's alone, field by field
    if step.state == 'untouched':
        c.check(f'{side}: nothing installed', not state.registry.has_key(PRINTER_KEY)
                and not state.registry.has_key(MONITOR_KEY) and not state.registry.has_key(UNINSTALL_KEY))
        return
    c.check(f'{side}: printer removed', not state.registry.has_key(PRINTER_KEY))
    c.check(f'{side}: monitor removed', not state.registry.has_key(MONITOR_KEY))
    c.check(f'{side}: driver record removed', driver_record(state, nt, bits)[0] is None)
    kept = step.state == 'removed-entry-kept'
    c.check(f'{side}: Add/Remove Programs entry {"kept" if kept else "removed"}',
            state.registry.has_key(UNINSTALL_KEY) == kept)
    if not nt:
        # The 9x uninstall's runs tell each other apart by this key.
        c.check(f'{side}: Uninstall=1 in the configuration file',
                state.ini.get('Parameters', {}).get('Uninstall') == '1', f'{state.ini}')


# --- what setup passed and started --------------------------------------------------

DEPENDENT_FILES_9X = ('msprint.cat LWNT_470.SPD PSCRIPT.DRV PSCRIPT.HLP PSCRIPT.INI TESTPS.TXT APPLE380.SPD '
                      'FONTS.MFM ICONLIB.DLL PSMON.DLL ZTQDRIVER.SPD')


def expected_driver(nt, bits=32):
    """The DRIVER_INFO_3 that setup passes: cVersion 2 and the environment of
    its branch (the 64-bit test build's own on NT); on NT the full paths of
    the files in the driver directory, on 9x bare names with the PostScript
    driver's dependent files."""
    if nt:
        return {'cVersion': 2, 'pEnvironment': environment(nt, bits), 'pDriverPath': '<DRIVERS>\\pscript.dll',
                'pDataFile': '<DRIVERS>\\gs.PPD', 'pConfigFile': '<DRIVERS>\\Zentaqui.dll',
                'pHelpFile': '<DRIVERS>\\Pscript.hlp', 'pDependentFiles': None}
    return {'cVersion': 2, 'pEnvironment': environment(nt, bits), 'pDriverPath': 'Pscript.drv',
            'pDataFile': 'ztqdriver.SPD', 'pConfigFile': 'Pscript.drv', 'pHelpFile': 'Pscript.hlp',
            'pDependentFiles': DEPENDENT_FILES_9X}


def driver_passed(r, result):
    """The step's DRIVER_INFO with the run's folders as names."""
    if r.driver is None:
        return None
    return {k: paths_to_symbols(v, result) if isinstance(v, str) else v for k, v in r.driver.items()
            if k in ('cVersion', 'pEnvironment', 'pDriverPath', 'pDataFile', 'pConfigFile', 'pHelpFile',
                     'pDependentFiles')}


def first_name(names):
    """Wine's localspl trace shows a multi-string as a string, up to its
    first NUL: of the dependent files only the first can be compared there
    (the whole list is, in the driver record that Wine writes from it)."""
    return names.split(' ')[0] if names else names


def dependent_files_as_traced(passed):
    return dict(passed, pDependentFiles=first_name(passed['pDependentFiles'])) if passed else passed


def check_calls(c, side, r, step, nt, result, bits=32):
    """The outright checks of what a step passed and started, on one side."""
    c.check(f'{side}: message box types', [b[2] for b in r.boxes] == step.expected_box_types(len(r.boxes)),
            f'{[hex(b[2]) if isinstance(b[2], int) else b[2] for b in r.boxes]}')
    c.check(f'{side}: processes started', r.processes == step.expected_processes(),
            f'{r.processes}, {step.expected_processes()} expected')
    if side == 'wine':
        # Setup's own environment block (GetEnvironmentStrings), no handles
        # inherited, no current folder: the relay trace shows them.
        c.check('wine: processes started with setup\'s environment, inheriting nothing, in no given folder',
                all(p == (False, True, None) for p in r.process_contexts), f'{r.process_contexts}')
    # After the Add/Remove Programs entry is deleted, and only then:
    # SHCNE_CREATE | SHCNE_MKDIR | SHCNE_RMDIR, SHCNF_IDLIST, no item.
    if step.state != 'trouble':
        expected = [(0x1A, 0, True)] if step.state == 'removed' else []
        c.check(f'{side}: shell notified once where the entry was deleted, with 0x1A, flags 0, no item',
                r.notifications == expected, f'{r.notifications}')
    c.check(f'{side}: every service request a stop or start of "Spooler"',
            all(s[1] == 'Spooler' and (s[0] == 'start' or s[2] == SERVICE_CONTROL_STOP) for s in r.services),
            f'{r.services}')
    if step.install and step.state == 'installed':
        passed, expected = driver_passed(r, result), expected_driver(nt, bits if side == 'wine' else 32)
        if side == 'wine' and passed and expected['pDependentFiles']:
            expected['pDependentFiles'] = first_name(expected['pDependentFiles'])
        c.check(f'{side}: AddPrinterDriver got cVersion 2 and the driver\'s files', passed == expected, f'{passed}')


# --- the comparison ------------------------------------------------------------------

def compare(sc, wine, sim, product, bits, log):
    c = Comparison(log)
    boundary = wine_traces.boundary_names()
    ctx = StepContext(sc, sc.steps[0], wine.steps[0], bits, False, False)
    c.field('driver directory', wine.driver_dir.lower(), sim.driver_dir.lower(), norm_driver_directory(ctx))
    c.field('system directory', wine.system_dir.lower(), sim.system_dir.lower(), norm_system_directory(ctx))
    c.field('the trouble made before the first step (programs/trouble.cpp)', wine.trouble, sim.trouble)
    printer_before, driver_before = False, False
    for number, (step, w, s) in enumerate(zip(sc.steps, wine.steps, sim.steps), 1):
        c.where = f'step {number} ({" ".join(step.args) or "install"}): '
        printer_after = w.state.registry.has_key(PRINTER_KEY)
        ctx = StepContext(sc, step, w, bits, printer_before, driver_before, printer_after)
        printer_before = printer_after
        driver_before = driver_record(w.state, sc.nt, bits)[0] is not None

        for side, r in (('wine', w), ('sim', s)):
            c.check(f'{side}: setup log time stamps are "%m-%d-%y: %H:%M"', r.stamps_ok)
            if step.install and not sc.log_blocked:
                first = ['is_winnt = TRUE' if sc.nt else 'is_winnt = FALSE', 'is_win4 = TRUE']
                c.check(f'{side}: setup log begins with the platform flags', r.log[:2] == first, f'{r.log[:2]}')
            for note in r.notes:
                c.check(f'{side}: {note}', False)
        # The whole exit status from the launcher; a POSIX status has 8 bits.
        # Where Wine takes a driver whose files are missing, its run goes on
        # to the end (driver-files-unchecked).
        wine_exit = 0 if ctx.driver_files_missing else step.exit
        c.check('wine: exit status', w.exit_status == wine_exit, f'{w.exit_status}, {wine_exit} expected')
        c.check('sim: exit status', s.exit_code == step.exit & 0xFF, f'{s.exit_code}, {step.exit & 0xFF} expected')
        for side, r, result in (('wine', w, wine), ('sim', s, sim)):
            check_calls(c, side, r, step, sc.nt, result, bits)
        if sc.stop_ms and step.uninstall:
            # A spooler slow to stop, which Wine's (stopping at once) can't
            # show: setup must have waited each stop out before the start.
            c.check(f'sim: setup waited {sc.stop_ms} ms for each stop of the spooler',
                    s.stop_waits and all(wait >= sc.stop_ms for wait in s.stop_waits), f'{s.stop_waits}')
        if step.log is not None:
            added = [paths_to_symbols(line, sim) for line in s.log]
            c.check('sim: setup log as Windows leaves it', added == step.log, f'{added}')
        check_state(c, 'sim', sim.module_dir, s, step, product, sc.nt)
        check_state(c, 'wine', wine.module_dir, w, step, product, sc.nt, bits)
        unexplained, used = explain_errors(ctx, w.errors)
        c.used.update(used)
        c.check('wine: no err line of setup\'s process that DIFFERENCES does not explain', not unexplained,
                '\n      ' + '\n      '.join(unexplained))

        c.field('setup log', [paths_to_symbols(line, wine) for line in w.log],
                [paths_to_symbols(line, sim) for line in s.log], norm_log(ctx))
        if ctx.driver_files_missing:
            # The runs part at the driver's registration: Wine's goes on with
            # the driver it took, the simulated one ends as Windows' does.
            c.field('message boxes (caption, text, type, answer)', w.boxes, s.boxes)
            c.field('processes started (command line, creation flags, STARTUPINFO dwFlags, wShowWindow)',
                    w.processes, s.processes)
            c.used.add('driver-files-unchecked')
            continue
        c.field('exit status', w.exit_code, s.exit_code)
        c.field('progress traces', paths_to_symbols(w.stdout, wine), paths_to_symbols(s.stdout, sim),
                norm_traces(ctx))
        c.field('message boxes (caption, text, type, answer)', w.boxes, s.boxes)
        c.field('the file held by another program during the step (programs/trouble.cpp)', w.held, s.held)
        c.field('shell notifications (event mask, flags, both items NULL)', w.notifications, s.notifications)
        c.field('spooler service requests (and whether each succeeded)', w.services, s.services, norm_services)
        c.field('processes started (command line, creation flags, STARTUPINFO dwFlags, wShowWindow)',
                w.processes, s.processes)
        # Wine's relay trace shows every call of those functions from setup.exe.
        c.field('the simulated machine\'s functions that setup called (by the names it records them under)',
                sorted(set(w.called) & set(boundary)), s.called, norm_called(ctx))
        c.field('AddPrinterDriver\'s DRIVER_INFO', dependent_files_as_traced(driver_passed(w, wine)),
                dependent_files_as_traced(driver_passed(s, sim)), norm_driver_passed(ctx))
        compare_state(c, ctx, w.state, s.state)
        if w.spooler is None or s.spooler is None:
            c.check('spooler listing on both sides', False, f'wine {w.spooler}, sim {s.spooler}')
        else:
            spooler_listing.compare_step(c, ctx, w.spooler, s.spooler, norm_spooler_entry, norm_spooler_width)
        # Wine's spooler service runs after a step only where the step started it.
        started = any(r[0] == 'start' and r[2] for r in w.services)
        c.field('what the calls outside the spooler answer (callview)', w.calls, s.calls,
                call_view.norm_calls(started, ctx.nt, ctx.system))
        # The names under which the simulated machine records callview's
        # calls are the ones [faults] must use, as for setup's above.
        c.field('the simulated machine\'s functions that callview called', w.calls_called, s.calls_called,
                call_view.norm_called(w.calls))
    return c


def compare_state(c, ctx, wine, sim):
    reg_w, reg_s = wine.registry, sim.registry
    c.field('port record', reg_w.values(PORT_KEY), reg_s.values(PORT_KEY))
    c.field('monitor record', reg_w.values(MONITOR_KEY), reg_s.values(MONITOR_KEY))
    wpath, wdriver = driver_record(wine, ctx.nt, ctx.bits)
    spath, sdriver = driver_record(sim, ctx.nt)
    c.field('driver record key', wpath, spath, norm_driver_key(ctx))
    c.field('driver record', wdriver, sdriver, norm_driver_values(ctx))
    c.field('driver record Version', (wdriver or {}).get('Version'), (sdriver or {}).get('Version'),
            norm_driver_version(ctx))
    c.field('printer record', reg_w.values(PRINTER_KEY), reg_s.values(PRINTER_KEY), norm_printer)
    c.field('printer data', reg_w.values(PRINTER_DATA_KEY), reg_s.values(PRINTER_DATA_KEY))
    c.field('Add/Remove Programs entry', reg_w.values(UNINSTALL_KEY), reg_s.values(UNINSTALL_KEY))
    c.field('IniFileMapping of zentaq.ini (its values)', reg_w.values(INIFILEMAPPING_KEY),
            reg_s.values(INIFILEMAPPING_KEY))
    c.field('configuration file', wine.ini, sim.ini)
    c.field('configuration file, byte for byte', wine.ini_bytes, sim.ini_bytes, norm_config_bytes(ctx))
    c.field('libraries in the system directory', {k: data_hash(v) for k, v in wine.system_files.items()},
            {k: data_hash(v) for k, v in sim.system_files.items()})
    c.field('files in the driver directory', {k: data_hash(v) for k, v in wine.driver_files.items()},
            {k: data_hash(v) for k, v in sim.driver_files.items()})
