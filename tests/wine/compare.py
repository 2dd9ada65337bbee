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

from differences import (StepContext, norm_driver_directory, norm_driver_key, norm_driver_values,
                         norm_driver_version, norm_exit, norm_kept, norm_log, norm_printer, norm_traces)
from registry import REG_BINARY, REG_DWORD, REG_SZ
from sides import (DRIVER_NAME, INIFILEMAPPING_KEY, MONITOR_KEY, PORT_KEY, PRINT, PRINTER_DATA_KEY, PRINTER_KEY,
                   UNINSTALL_KEY)

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


class Comparison:
    def __init__(self, log):
        self.log = log
        self.failures = []
        self.used = set()
        self.where = ''

    def field(self, name, wine, sim, normalise=None):
        """Equal, or equal after `normalise(wine, sim)` -> (wine, sim, names
        of the differences it absorbed), or a failure."""
        label = f'{self.where}{name}'
        if wine == sim:
            self.log(f'  equal      {label}: {show(wine)}')
            return
        if normalise:
            nwine, nsim, used = normalise(wine, sim)
            if used and nwine == nsim:
                self.used.update(used)
                self.log(f'  known      {label} [{", ".join(sorted(set(used)))}]\n      wine: {show(wine)}\n'
                         f'      sim:  {show(sim)}')
                return
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


def check_state(c, side, module_dir, r, step, product, nt, bits=32, printer_kept=None):
    """The outright checks of a step's state. `printer_kept`: the difference
    that explains a printer key an uninstall left (Wine's side)."""
    state = r.state
    if step.state == 'installed':
        c.check(f'{side}: port record holds exactly the twelve values',
                state.registry.values(PORT_KEY) == expected_port_record(module_dir),
                show(state.registry.values(PORT_KEY)))
        c.check(f'{side}: Add/Remove Programs entry',
                state.registry.values(UNINSTALL_KEY) == {
                    'DisplayName': (REG_SZ, b'Zentaq\0'),
                    'UninstallString': (REG_SZ, b'c:\\zentaq\\setup.exe uninstall\0')},
                show(state.registry.values(UNINSTALL_KEY)))
        data = state.registry.values(PRINTER_DATA_KEY) or {}
        fontsub = product_bytes(product, 'fontsub.tbl')
        devmode = product_bytes(product, 'dfdevmdnt.dat' if nt else 'dfdevmd.dat')
        c.check(f'{side}: printer data are the product files\' bytes',
                data.get('TTFontSubTable') == (REG_BINARY, fontsub)
                and data.get('TTFontSubTableSize') == (REG_DWORD, len(fontsub).to_bytes(4, 'little'))
                and data.get('PrinterData') == (REG_BINARY, product_bytes(product, 'printerdata.dat'))
                and (state.registry.values(PRINTER_KEY) or {}).get('Default DevMode') == (REG_BINARY, devmode))
        c.check(f'{side}: Quiet set back to 0', state.ini.get('Parameters', {}).get('Quiet') == '0', f'{state.ini}')
        return
    c.check(f'{side}: printer removed', not state.registry.has_key(PRINTER_KEY), known=printer_kept)
    c.check(f'{side}: monitor removed', not state.registry.has_key(MONITOR_KEY))
    c.check(f'{side}: driver record removed', driver_record(state, nt, bits)[0] is None)
    kept = step.state == 'removed-entry-kept'
    c.check(f'{side}: Add/Remove Programs entry {"kept" if kept else "removed"}',
            state.registry.has_key(UNINSTALL_KEY) == kept)
    if not nt:
        # The 9x uninstall's runs tell each other apart by this key.
        c.check(f'{side}: Uninstall=1 in the configuration file',
                state.ini.get('Parameters', {}).get('Uninstall') == '1', f'{state.ini}')


# --- the comparison ------------------------------------------------------------------

def compare(sc, wine, sim, product, bits, log):
    c = Comparison(log)
    ctx = StepContext(sc, sc.steps[0], wine.steps[0], bits, False, False, False)
    c.field('driver directory', wine.driver_dir.lower(), sim.driver_dir.lower(), norm_driver_directory(ctx))
    if not sc.nt:
        c.field('system directory', wine.system_dir.lower(), sim.system_dir.lower(),
                lambda w, s: (s, s, ['system-directory-98']))
    fault_so_far, printer_before, driver_before = False, False, False
    for number, (step, w, s) in enumerate(zip(sc.steps, wine.steps, sim.steps), 1):
        c.where = f'step {number} ({" ".join(step.args) or "install"}): '
        ctx = StepContext(sc, step, w, bits, fault_so_far, printer_before, driver_before)
        fault_so_far = ctx.fault_so_far
        printer_before = w.state.registry.has_key(PRINTER_KEY)
        driver_before = driver_record(w.state, sc.nt, bits)[0] is not None
        # An uninstall on NT after Wine left the printer without a Datatype.
        kept = sc.nt and not step.install and ctx.fault_so_far

        for side, r in (('wine', w), ('sim', s)):
            c.check(f'{side}: setup log time stamps are "%m-%d-%y: %H:%M"', r.stamps_ok)
            if step.install:
                first = ['is_winnt = TRUE' if sc.nt else 'is_winnt = FALSE', 'is_win4 = TRUE']
                c.check(f'{side}: setup log begins with the platform flags', r.log[:2] == first, f'{r.log[:2]}')
            for note in r.notes:
                c.check(f'{side}: {note}', False)
        c.check('sim: exit status', s.exit_code == step.exit & 0xFF, f'{s.exit_code}, {step.exit & 0xFF} expected')
        check_state(c, 'sim', sim.module_dir, s, step, product, sc.nt)
        check_state(c, 'wine', wine.module_dir, w, step, product, sc.nt, bits, 'printer-datatype' if kept else None)

        c.field('exit status', w.exit_code, s.exit_code, norm_exit(ctx))
        c.field('setup log', [paths_to_symbols(line, wine) for line in w.log],
                [paths_to_symbols(line, sim) for line in s.log], norm_log(ctx))
        c.field('progress traces', paths_to_symbols(w.stdout, wine), paths_to_symbols(s.stdout, sim),
                norm_traces(ctx))
        if any(text is None for _, text, _ in w.boxes):
            # Wine's trace did not name the texts: captions and answers only.
            c.field('message boxes (caption, answer)', [(b[0], b[2]) for b in w.boxes],
                    [(b[0], b[2]) for b in s.boxes])
        else:
            c.field('message boxes', w.boxes, s.boxes)
        c.field('spooler service requests', w.services, s.services)
        compare_state(c, ctx, w.state, s.state, kept)
    return c


def compare_state(c, ctx, wine, sim, kept):
    reg_w, reg_s = wine.registry, sim.registry
    c.field('port record', reg_w.values(PORT_KEY), reg_s.values(PORT_KEY))
    c.field('monitor record', reg_w.values(MONITOR_KEY), reg_s.values(MONITOR_KEY))
    wpath, wdriver = driver_record(wine, ctx.nt, ctx.bits)
    spath, sdriver = driver_record(sim, ctx.nt)
    c.field('driver record key', wpath, spath, norm_driver_key(ctx))
    c.field('driver record', wdriver, sdriver, norm_driver_values)
    c.field('driver record Version', (wdriver or {}).get('Version'), (sdriver or {}).get('Version'),
            norm_driver_version(ctx))
    c.field('printer record', reg_w.values(PRINTER_KEY), reg_s.values(PRINTER_KEY), norm_printer(ctx, kept))
    c.field('printer data', reg_w.values(PRINTER_DATA_KEY), reg_s.values(PRINTER_DATA_KEY), norm_kept(kept))
    c.field('Add/Remove Programs entry', reg_w.values(UNINSTALL_KEY), reg_s.values(UNINSTALL_KEY))
    c.field('IniFileMapping of zentaq.ini', reg_w.has_key(INIFILEMAPPING_KEY), reg_s.has_key(INIFILEMAPPING_KEY))
    c.field('configuration file', wine.ini, sim.ini)
    c.field('libraries in the system directory', {k: data_hash(v) for k, v in wine.system_files.items()},
            {k: data_hash(v) for k, v in sim.system_files.items()})
    c.field('files in the driver directory', {k: data_hash(v) for k, v in wine.driver_files.items()},
            {k: data_hash(v) for k, v in sim.driver_files.items()})
