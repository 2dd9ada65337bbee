#!/usr/bin/env python3
"""The comparison fed faulty results: each fault that setup could have and
that the comparison must catch, on Wine's side alone (where only Wine shows
it) or on both sides (a fault of the shared sources, which both builds
share, caught by the outright checks). A correct pair of results passes
first, so every failure below is the fault's own."""
import os
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import compare  # noqa: E402
import sides  # noqa: E402
import spooler_listing  # noqa: E402
from registry import REG_BINARY, REG_MULTI_SZ, dword, sz  # noqa: E402

PRODUCT = os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', '..', 'product')
SYSTEM = 'C:\\WINDOWS\\system32'
DRIVERS = SYSTEM + '\\spool\\drivers\\w32x86'
MODULE = 'C:\\zentaq'
DRIVER_KEY = f'{sides.PRINT}\\Environments\\Windows NT x86\\Drivers\\Version-2\\{sides.DRIVER_NAME}'
TRACES = ('Initializing Spooler\n\nAdding printer driver\n\nEnumerating ports\n\nAdding printer\n\n'
          'Closing printer\n\nConfiguring printer\n\nCompleting printer setup...\n\n')


def put(registry, path, values):
    key = registry.add_key(path)
    for name, value in values.items():
        key[name.lower()] = (name, *value)


def listing(width=2, port=True, monitor_name='ZENTAQ Monitor', extra=()):
    """spoolview's output after an install: the local monitor and port and
    the product's; `needed` with `width` bytes a character (2: the NT
    spooler's, 1: Wine's)."""
    monitors = [('Local Port', 'Windows NT x86', 'localspl.dll'), (monitor_name, 'Windows NT x86', 'ztqmon.dll')]
    ports = [('LPT1:', 'Local Port', 'Local Port', '0x1', '0x0')]
    if port:
        ports.append(('ZENTAQPORT', 'ZENTAQ Monitor', 'ZENTAQ Redirected Port', '0x1', '0x0'))
    lines = []
    for api, level, size, fields, rows in (
            ('EnumMonitorsA', 1, 8, ['pName'], [m[:1] for m in monitors]),
            ('EnumMonitorsA', 2, 24, ['pName', 'pEnvironment', 'pDLLName'], monitors),
            ('EnumPortsA', 1, 8, ['pName'], [p[:1] for p in ports]),
            ('EnumPortsA', 2, 32, ['pPortName', 'pMonitorName', 'pDescription', 'fPortType', 'Reserved'], ports)):
        needed = len(rows) * size + width * sum(len(v) + 1 for row in rows for v in row if not v.startswith('0x'))
        lines += [f'call\t{api}\t{level}\tprobe\t0\t0x7a\t{needed}\t0\t0\t0',
                  f'call\t{api}\t{level}\tshort\t0\t0x7a\t{needed}\t0\t{needed - 1}\t0',
                  f'call\t{api}\t{level}\tfill\t1\t0xdeadbeef\t{needed}\t{len(rows)}\t{needed}\t{size}']
        lines += [f'record\t{api}\t{level}\t{i}\t' + '\t'.join(f'{f}={v}' for f, v in zip(fields, row))
                  for i, row in enumerate(rows)]
    lines += ['unavailable\tEnumPrinterDriversA', 'unavailable\tEnumPrintersA',
              'call\tGetPrinterDriverDirectoryA\t1\tprobe\t0\t0x7a\t41\t0\t0\t0',
              'call\tGetPrinterDriverDirectoryA\t1\tshort\t0\t0x7a\t41\t0\t40\t0',
              'call\tGetPrinterDriverDirectoryA\t1\tfill\t1\t0xdeadbeef\t41\t0\t41\t0',
              'record\tGetPrinterDriverDirectoryA\t1\t0\tpath=' + DRIVERS.replace('\\', '\\\\'),
              'open\tZENTAQ\t1\t0xdeadbeef', 'unavailable\tGetPrinterA', 'close\tZENTAQ\t1', *extra]
    return spooler_listing.parse('\n'.join(lines) + '\n')


# Some of the functions that an install calls, as the simulated machine names them.
INSTALL_CALLS = ['AddMonitorA', 'AddPrinterA', 'AddPrinterDriverA', 'CloseHandle', 'ClosePrinter', 'CreateFileA',
                 'RegOpenKeyExA', 'WriteFile']


def installed(log_tail=(), traces=TRACES):
    """A step result of an NT install that left everything as it should."""
    r = sides.StepResult()
    r.exit_code = r.exit_status = 0
    r.called = list(INSTALL_CALLS)
    # Wine's relay trace: the runtime's CloseHandle is the image's last call.
    r.image_calls = [(n, [], 1) for n in INSTALL_CALLS if n != 'CloseHandle'] + [('CloseHandle', [0x8c], 1)]
    r.log = ['is_winnt = TRUE', 'is_win4 = TRUE', 'Printer Driver Directory: ' + DRIVERS, *log_tail]
    r.stdout = traces
    r.driver = {'cVersion': 2, 'pEnvironment': 'Windows NT x86', 'pDriverPath': DRIVERS + '\\pscript.dll',
                'pDataFile': DRIVERS + '\\gs.PPD',
                'pConfigFile': DRIVERS + '\\Zentaqui.dll', 'pHelpFile': DRIVERS + '\\Pscript.hlp',
                'pDependentFiles': None}
    r.state.ini = {'Parameters': {'Quiet': '0'}}
    r.spooler = listing()
    reg = r.state.registry
    put(reg, sides.PORT_KEY, compare.expected_port_record(MODULE))
    put(reg, sides.MONITOR_KEY, {'Driver': sz('ztqmon.dll')})
    put(reg, sides.UNINSTALL_KEY, {'DisplayName': sz('Zentaq'), 'UninstallString': sz('c:\\zentaq\\setup.exe uninstall')})
    put(reg, DRIVER_KEY, {'Configuration File': sz(DRIVERS + '\\Zentaqui.dll'), 'Data File': sz(DRIVERS + '\\gs.PPD'),
                          'Datatype': sz('RAW'), 'Dependent Files': (REG_MULTI_SZ, b'\0'),
                          'Driver': sz(DRIVERS + '\\pscript.dll'), 'Help File': sz(DRIVERS + '\\Pscript.hlp'),
                          'Monitor': sz(''), 'Version': dword(2)})
    printer = {name: sz('') for name in compare.PRINTER_VALUES}
    printer.update({name: dword(0) for name in ('Attributes', 'Default Priority', 'Priority', 'StartTime', 'Status',
                                                 'UntilTime')})
    printer.update({'Datatype': sz('RAW'), 'Name': sz('ZENTAQ'), 'Port': sz('ZENTAQPORT'),
                    'Default DevMode': (REG_BINARY, compare.product_bytes(PRODUCT, 'dfdevmdnt.dat'))})
    put(reg, sides.PRINTER_KEY, printer)
    fontsub = compare.product_bytes(PRODUCT, 'fontsub.tbl')
    put(reg, sides.PRINTER_DATA_KEY, {'TTFontSubTable': (REG_BINARY, fontsub), 'TTFontSubTableSize': dword(len(fontsub)),
                                      'PrinterData': (REG_BINARY, compare.product_bytes(PRODUCT, 'printerdata.dat'))})
    return r


def as_wine(r):
    """Wine's form of a right result: the printer's NULL strings unwritten."""
    values = r.state.registry.add_key(sides.PRINTER_KEY)
    for name in compare.NULL_STRINGS:
        values.pop(name.lower(), None)
    r.stdout = r.stdout.replace('Enumerating ports\n\n', 'Enumerating ports\n\nPort found\n\n')
    r.spooler = listing(width=1)
    return r


class Faults(unittest.TestCase):
    def run_compare(self, steps, wine_steps, sim_steps):
        sc = sides.Scenario('fake', 'xp', steps)
        wine, sim = sides.Result(SYSTEM, DRIVERS, MODULE), sides.Result(SYSTEM, DRIVERS, MODULE)
        wine.steps, sim.steps = wine_steps, sim_steps
        return compare.compare(sc, wine, sim, PRODUCT, 32, lambda message: None).failures

    def install(self, fault=None, on_both=False, step=None):
        """Failures of a one-step install whose results `fault` changed (Wine's, or both)."""
        wine, sim = as_wine(installed()), installed()
        for r in ([wine, sim] if on_both else [wine]) if fault else []:
            fault(r)
        return self.run_compare([step or sides.Step()], [wine], [sim])

    def assertCaught(self, failures, label):
        self.assertTrue(any(label in f for f in failures), f'{label!r} not among {failures}')

    def test_right_results_pass(self):
        self.assertEqual(self.install(), [])

    def test_unexplained_error_of_setups_process(self):
        def swallowed(r):
            r.errors = ['err:winspool:AddPrinterW OpenPrinter failing']
        self.assertCaught(self.install(swallowed), 'no err line')

    def test_absorbed_form_required_where_its_cause_shows(self):
        # The reinstall over a printer Wine had: Wine must not refuse it.
        sim_second = installed(['AddMonitor: 3006', 'AddPrinter: 1802'], TRACES.replace('Closing printer\n\n', ''))
        # A refused AddPrinter leaves no printer to close.
        not_closed = [n for n in INSTALL_CALLS if n != 'ClosePrinter']
        sim_second.called = not_closed
        # Its monitor found registered, the port comes in the registry's order.
        wine_second = as_wine(installed(['AddMonitor: 3006']))
        wine_second.stdout = TRACES
        steps = [sides.Step(), sides.Step()]
        self.assertEqual(self.run_compare(steps, [as_wine(installed()), wine_second], [installed(), sim_second]), [])
        refusing = as_wine(installed(['AddMonitor: 3006', 'AddPrinter: 1802']))
        refusing.stdout = sim_second.stdout
        refusing.called = not_closed
        failures = self.run_compare(steps, [as_wine(installed()), refusing], [installed(), sim_second])
        self.assertCaught(failures, 'step 2 (install): setup log')
        self.assertCaught(failures, 'step 2 (install): progress traces')
        self.assertCaught(failures, 'step 2 (install): the simulated machine\'s functions that setup called')

    def test_functions_setup_called(self):
        label = 'functions that setup called'

        def run(wine_called, sim_called):
            wine, sim = as_wine(installed()), installed()
            wine.called, sim.called = wine_called, sim_called
            return self.run_compare([sides.Step()], [wine], [sim])

        def without(name):
            return [n for n in INSTALL_CALLS if n != name]
        # A function recorded under a name that is none of Windows' (the name
        # [faults] would have to use), or not recorded at all.
        self.assertCaught(run(INSTALL_CALLS, ['~' + n if n == 'RegOpenKeyExA' else n for n in INSTALL_CALLS]), label)
        for name in ('AddMonitorA', 'CreateFileA', 'ClosePrinter'):
            self.assertCaught(run(INSTALL_CALLS, without(name)), label)
        self.assertCaught(run(without('WriteFile'), INSTALL_CALLS), label)
        # The runtime's CloseHandle at exit is Wine's alone where setup closed
        # no handle of its own.
        self.assertEqual(run(INSTALL_CALLS, without('CloseHandle')), [])
        self.assertCaught(run(without('CloseHandle'), INSTALL_CALLS), label)

    def test_driver_version_and_paths(self):
        def version_3(r):
            r.driver['cVersion'] = 3
        def staged(r):
            r.driver['pDriverPath'] = MODULE + '\\res\\drivedir\\pscript.dll'
        def foreign(r):
            r.driver['pEnvironment'] = 'Windows 4.0'
        for fault in (version_3, staged, foreign):
            self.assertCaught(self.install(fault, on_both=True), 'wine: AddPrinterDriver got cVersion 2')
            self.assertCaught(self.install(fault, on_both=True), 'sim: AddPrinterDriver got cVersion 2')
            self.assertCaught(self.install(fault), 'AddPrinterDriver\'s DRIVER_INFO')

    def test_service_requests(self):
        def restart(r, stopped=True, started=True):
            r.services = [('control', 'Spooler', 1, stopped), ('start', 'Spooler', started)]
        def pause(r):
            r.services = [('control', 'Spooler', 2, True), ('start', 'Spooler', True)]
        def other_service(r):
            r.services = [('control', 'Spooler ', 1, False), ('start', 'Spooler', True)]

        def run(wine_fault, sim_fault):
            wine, sim = as_wine(installed()), installed()
            wine_fault(wine)
            sim_fault(sim)
            return self.run_compare([sides.Step()], [wine], [sim])
        # Wine's first stop finds its spooler service not started.
        self.assertEqual(run(lambda r: restart(r, stopped=False), restart), [])
        self.assertCaught(self.install(pause, on_both=True), 'every service request a stop or start')
        self.assertCaught(run(other_service, restart), 'spooler service requests')
        # Wine's first stop succeeding is no longer Wine's form; a start that
        # failed on one side only is a difference.
        self.assertCaught(run(restart, restart), 'spooler service requests')
        self.assertCaught(run(lambda r: restart(r, stopped=False), lambda r: restart(r, started=False)),
                          'spooler service requests')

    def test_message_box_types(self):
        def yes_no(r):
            r.boxes = [('setup', 'the last words', sides.MB_YESNO, 'yes')]
        self.assertCaught(self.install(yes_no, on_both=True), 'message box types')
        def other_icon(r):
            r.boxes = [('setup', 'the last words', sides.MB_OK | 0x40, 'ok')]
        self.assertCaught(self.install(other_icon, on_both=True), 'message box types')

    def test_shell_notifications(self):
        def notified(r):
            r.notifications = [(0x1A, 0, True)]
        # An install notifies nothing: on both sides alike, or on one.
        self.assertCaught(self.install(notified, on_both=True), 'shell notified once')
        self.assertCaught(self.install(notified), 'shell notifications')

    def test_processes(self):
        def readme(r):
            r.processes = [(sides.README_COMMAND, sides.CREATE_NEW_PROCESS_GROUP, 0, sides.SW_SHOWNORMAL)]
        # Quiet ignored: the page opened although Quiet was 1, or not opened at Quiet 0.
        self.assertCaught(self.install(readme, on_both=True), 'processes started')
        self.assertCaught(self.install(step=sides.Step(quiet=0)), 'processes started')
        self.assertEqual(self.install(readme, on_both=True, step=sides.Step(quiet=0)), [])
        def shown(r):
            r.processes = [(sides.README_COMMAND, sides.CREATE_NEW_PROCESS_GROUP, 0, sides.SW_HIDE)]
        self.assertCaught(self.install(shown, step=sides.Step(quiet=0)), 'processes started (')
        # No configuration file (the product as shipped): Quiet reads 0.
        self.assertCaught(self.install(step=sides.Step(quiet=None)), 'processes started')
        self.assertEqual(self.install(readme, on_both=True, step=sides.Step(quiet=None)), [])

    def test_configuration_file_edited_by_hand(self):
        # Quiet written back into the first section instead of the product's
        # one, or the other section lost.
        def first_section(r):
            r.state.ini = {'Deployment': {'Source': 'x', 'Quiet': '0'}, 'Parameters': {'Quiet': '"1"'}}
        def section_lost(r):
            r.state.ini = {'Parameters': {'Quiet': '0'}}
        def right(r):
            r.state.ini = {'Deployment': {'Source': 'x'}, 'Parameters': {'Quiet': '0'}}
        step = sides.Step(config=sides.EDITED_CONFIG)
        wine, sim = as_wine(installed()), installed()
        right(sim)
        for fault in (first_section, section_lost):
            fault(wine)
            self.assertCaught(self.run_compare([step], [wine], [sim]), 'configuration file')
        self.assertCaught(self.install(first_section, on_both=True, step=step), 'Quiet set back to 0')

    def test_whole_exit_status(self):
        def exit_67(r):
            r.exit_status = r.exit_code = 1603 & 0xFF
        step = sides.Step(exit=1603)
        failures = self.install(exit_67, on_both=True, step=step)
        self.assertCaught(failures, 'wine: exit status')
        self.assertFalse(any('sim: exit status' in f for f in failures))

    def test_stray_values_in_the_records(self):
        def stray(r):
            r.state.registry.add_key(sides.PRINTER_KEY)['stray'] = ('Stray', *sz('x'))
            r.state.registry.add_key(DRIVER_KEY)['stray'] = ('Stray', *sz('x'))
        self.assertCaught(self.install(stray), 'printer record')
        self.assertCaught(self.install(stray), 'driver record')
        self.assertCaught(self.install(stray, on_both=True), 'sim: printer record holds the values of a printer')
        self.assertCaught(self.install(stray, on_both=True), 'sim: driver record holds the values of a driver')

    def test_what_the_spooler_answers(self):
        def port_missing(r):
            r.spooler = listing(port=False)
        def monitor_unnamed(r):
            r.spooler = listing(monitor_name='')
        def string_outside(r):
            r.spooler = listing(extra=['misplaced\tEnumPortsA\t2\t1\tpDescription\t-24'])
        # The product's entries on one side only, and each side's own form.
        self.assertCaught(self.install(port_missing), 'spooler: EnumPortsA level 2 entry ZENTAQPORT')
        self.assertCaught(self.install(port_missing, on_both=True), 'sim: EnumPortsA level 1 lists ZENTAQPORT')
        self.assertCaught(self.install(monitor_unnamed), 'spooler: EnumMonitorsA level 1 entry ZENTAQ Monitor')
        self.assertCaught(self.install(monitor_unnamed, on_both=True), 'sim: EnumMonitorsA level 2 lists ZENTAQ')
        self.assertCaught(self.install(string_outside, on_both=True), 'sim: every string inside its buffer')
        self.assertCaught(self.install(string_outside), 'wine: every string inside its buffer')
        # A buffer one byte short filled (written past its end) or asking for another size.
        for api, short in (('EnumPortsA', (1, 0, 0, 2)), ('EnumPortsA', (0, 0x7a, 1, 0)),
                           ('GetPrinterDriverDirectoryA', (1, 0, 41, 0))):
            def filled_short(r, api=api, short=short):
                r.spooler = listing()
                r.spooler.calls[(api, 1)]['short'] = short
            self.assertCaught(self.install(filled_short, on_both=True), f'sim: {api} level 1')
        # Records spaced as level-2 ones (24 bytes) in a level-1 answer: needed no longer adds up.
        def spaced(r):
            r.spooler = listing(width=1)
            calls = r.spooler.calls[('EnumMonitorsA', 1)]
            wider = 2 * (24 - 8)
            calls['probe'] = calls['probe'][:2] + (calls['probe'][2] + wider,) + calls['probe'][3:]
            fill = calls['fill']
            calls['fill'] = fill[:2] + (fill[2] + wider, fill[3], fill[4] + wider, fill[5])
        self.assertCaught(self.install(spaced), 'wine: EnumMonitorsA level 1: needed is the records')
        # Where the NT spooler asks for two bytes a character, Wine must ask for one.
        def wide(r):
            r.spooler = listing(width=2)
        self.assertCaught(self.install(wide), 'EnumPortsA level 2 bytes of a character')
        # The product's port listed twice.
        def twice(r):
            r.spooler = listing()
            r.spooler.records[('EnumPortsA', 1)].append({'pName': 'ZENTAQPORT'})
        self.assertCaught(self.install(twice, on_both=True), 'sim: EnumPortsA level 1 lists ZENTAQPORT')
        # A listing that ended early (the program failed), after an uninstall as well.
        def cut(r):
            r.spooler = spooler_listing.parse('')
        self.assertCaught(self.install(cut, on_both=True, step=sides.Step(['uninstall'], state='removed')),
                          'sim: spooler listing complete')
        # After an uninstall the product's entries are gone on both sides.
        def removed(r):
            r.spooler = listing(port=False)
        self.assertCaught(self.install(removed, on_both=True, step=sides.Step(['uninstall'], state='removed')),
                          'sim: EnumMonitorsA level 1 does not list ZENTAQ Monitor')

    def test_what_the_calls_outside_the_spooler_answer(self):
        as_written = '; by hand\\n[Probe]\\nName = one\\n\\n[Second]\\nName=two'
        by_hand = '; by hand\\n[Probe]\\nName = one\\nAdded=three\\r\\n\\n[Second]\\nName=two'
        last = by_hand + '\\r\\nAdded=four\\r\\n'
        in_wine_form = '; by hand\\r\\n[Probe]\\r\\nName=one\\r\\nAdded=three\\r\\n[Second]\\r\\nName=two\\r\\n'
        status = {'stopped': 'service status\t1\t-\t1\t1077', 'running': 'service status\t1\t-\t4\t0'}

        def run(wine_calls, sim_calls, services=()):
            wine, sim = as_wine(installed()), installed()
            wine.calls, sim.calls = wine_calls, sim_calls
            wine.services = sim.services = list(services)
            return self.run_compare([sides.Step()], [wine], [sim])

        def calls(first, then, service, read='read from a handle without read access\t0\t5\t0',
                  printer='0\t1801', subkey='5', seek='4294967295\t87'):
            return [read, 'profile file as written\t' + as_written, 'profile file by hand bytes\t' + first,
                    'profile file by hand, last section bytes\t' + then, service,
                    'add printer with a comma\t' + printer, 'reg create sub through it\t' + subkey,
                    'seek to 4 GiB without a high part\t1\t-\t' + seek]
        right_sim = calls(by_hand, last, status['running'])
        right_wine = calls(in_wine_form, in_wine_form + 'Added=four\\r\\n', status['stopped'], printer='1\t-',
                           subkey='0', seek='0\t3735928559')
        label = 'what the calls outside the spooler answer'
        self.assertEqual(run(right_wine, right_sim), [])
        # A count left set after a failed read; the file by hand not kept as
        # written on the simulated side: rewritten whole, its last line given
        # a line end, the added line left out or written twice.
        wrong = [calls(by_hand, last, status['running'], read='read from a handle without read access\t0\t5\t1'),
                 calls(in_wine_form, last, status['running']),
                 calls(by_hand, in_wine_form + 'Added=four\\r\\n', status['running']),
                 calls(by_hand + '\\r\\n', last, status['running']),
                 calls(as_written, last, status['running']),
                 calls(by_hand.replace('Added', 'Added=three\\r\\nAdded'), last, status['running']),
                 # What Wine lets through let through on the simulated side
                 # too, or refused with another code.
                 calls(by_hand, last, status['running'], printer='1\t-'),
                 calls(by_hand, last, status['running'], printer='0\t1796'),
                 calls(by_hand, last, status['running'], subkey='0'),
                 calls(by_hand, last, status['running'], seek='0\t3735928559')]
        for sim_calls in wrong:
            self.assertCaught(run(right_wine, sim_calls), label)
        # Wine's spooler service runs only where the step started it.
        self.assertCaught(run([*right_wine[:4], status['running'], *right_wine[5:]], right_sim), label)
        started = [('control', 'Spooler', 1, True), ('start', 'Spooler', True)]
        self.assertEqual(run([*right_wine[:4], status['running'], *right_wine[5:]], right_sim, started)[1:], [])


if __name__ == '__main__':
    unittest.main()
