#!/usr/bin/env python3
"""setup.exe under Wine against the POSIX setup on the simulated machine.

Each scenario runs twice from the same product files: setup.exe in a copy of
a Wine prefix template whose Windows version is set with Wine's own setting,
and the POSIX build of the same sources on a fresh simulated machine of that
system. After every step both sides are compared (compare.py): exit status,
setup log, progress traces, message boxes, spooler restarts, and the records
and files left; only the differences of differences.py may remain. Two
flavours: 32, the product (a 32-bit setup.exe in a 32-bit prefix, where the
kernel runs 32-bit programs), and 64, a test build of the same sources for
x86_64 in a 64-bit prefix (every machine).

    scenarios.py templates --bits 32|64 --work DIR --dirs-exe dirs.exe
    scenarios.py run SCENARIO --bits 32|64 --work DIR --setup-exe setup.exe --sim-setup setup
                     --winsim winsim --product DIR --monitor-dll ztqmon.dll --ui-dll ztqui.dll
    scenarios.py judge --build BUILD [--work DIR] [--jobs N]
    scenarios.py list

`judge` is the mutation run's judge (scripts/mutate.py --judges wine): every
scenario of the 64-bit flavour with the programs of a build folder, N at a
time (2), the quickest first, until one fails; the template is made once.

Exit codes: 0 equal, 1 a difference or a failed check, 77 this Wine can't
run here (the reason is printed).
"""
import argparse
import json
import os
import shutil
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import compare  # noqa: E402
import differences  # noqa: E402
import sides  # noqa: E402
import wine_side  # noqa: E402
import winelib  # noqa: E402
from sides import Scenario, Step, Trouble  # noqa: E402

SKIP = 77

FAILURE = 1603          # an install that ends early
INSTALLED_NO = 1602     # the uninstall question answered No
REBOOT = 3010           # the first uninstall run on 9x asks for a reboot
SETUP_LOG = sides.SETUP_LOG
# The first lines of an NT install's log, and the driver refused for want of its files.
FIRST_LINES = ['is_winnt = TRUE', 'is_win4 = TRUE', 'Printer Driver Directory: <DRIVERS>']
REFUSED_DRIVER = ['AddPrinterDriver: 2', 'AddPrinter: 1797']

SCENARIOS = {s.name: s for s in [
    Scenario('install_xp', 'xp', [Step()]),
    # Quiet=0: the install opens the readme page (a stand-in records how).
    Scenario('install_readme_xp', 'xp', [Step(quiet=0)]),
    # Any other argument is a command line that setup starts, hidden.
    Scenario('command_line_xp', 'xp', [Step(['c:\\started.exe', 'hidden'], state='untouched')]),
    Scenario('install_98', '98', [Step()]),
    # The configuration file as an administrator's deployment left it: a
    # comment, a section before the product's, Quiet = "1" with blanks and
    # quotes. Quiet reads 1 (no readme page) and the install writes 0 back
    # in the product's section, the rest of the file kept.
    Scenario('install_edited_xp', 'xp', [Step(config=sides.EDITED_CONFIG)]),
    # The product as shipped, without a configuration file: the 9x install
    # writes it (the section's header, then Uninstall), Quiet reads its
    # default and the readme page is opened.
    Scenario('install_shipped_98', '98', [Step(quiet=None)]),
    # The product's files read-only, as copied from a CD, and hidden: setup
    # opens them for reading as any other file, and its copies are plain.
    Scenario('install_marked_xp', 'xp', [Step()], marked=True),
    # Without the 9x PostScript driver: the user is guided to it (a box, its
    # download page, the Add Printer wizard) and the install ends with 1603.
    Scenario('install_98_no_pscript', '98', [Step(answers=['ok'], exit=FAILURE, state='no-driver')], pscript=False),
    Scenario('uninstall_xp', 'xp', [Step(), Step(['uninstall'], ['yes', 'ok'], state='removed')]),
    # The uninstall on a machine whose spooler takes 2 s to stop, as Windows'
    # does with monitors and printers loaded: setup waits for the stop before
    # it starts the spooler again, and ends as where the stop is at once
    # (Wine's, which the simulated side is compared with).
    Scenario('uninstall_slow_xp', 'xp', [Step(), Step(['uninstall'], ['yes', 'ok'], state='removed')], stop_ms=2000),
    Scenario('uninstall_no_xp', 'xp', [Step(), Step(['uninstall'], ['no'], exit=INSTALLED_NO)]),
    # Install over an existing installation whose monitor library nothing
    # holds. Wine's spooler runs inside the calling process, so once the
    # first run has ended nothing holds the library there, and the reinstall
    # takes the path of a library nobody holds; on Windows (and on the
    # simulated machine as it runs) the spooler service holds it and the
    # reinstall takes the quiet-uninstall path, which Wine can't show (the
    # simulated machine's own tests cover it). So the simulated spooler lets
    # go of the library first ('release'), and both take the same path.
    Scenario('reinstall_xp', 'xp', [Step(), Step(before='release')]),
    # On 9x the spooler keeps the monitor library until the next boot: the
    # first uninstall run asks for a reboot, the next one finishes.
    Scenario('uninstall_98', '98', [Step(), Step(['uninstall'], ['yes', 'ok'], exit=REBOOT, state='removed-entry-kept'),
                                    Step(['uninstall'], ['yes', 'ok'], before='reboot', state='removed')]),
    # Trouble on the way, made for real on both sides. A staged file missing:
    # the driver file, the printer description (the data file), the help file.
    *[Scenario(f'install_missing_{label}_xp', 'xp', [Step(exit=exit, state='trouble', log=[
        *FIRST_LINES, f'CopyFile InFile.Open Failed: <MODULE>\\res\\drivedir\\{name}', *refused])],
               trouble=[Trouble('missing', name)])
      for label, name, exit, refused in (('pscript', 'Pscript.dll', FAILURE, REFUSED_DRIVER),
                                         ('ppd', 'gs.PPD', FAILURE, REFUSED_DRIVER), ('help', 'Pscript.hlp', 0, []))],
    # The monitor library of an earlier install in the system directory,
    # read-only: the upgrade guard can't delete it, takes it for one the
    # spooler holds, uninstalls quietly (nothing there to remove) and, the
    # library still there, ends with the reboot message.
    Scenario('install_readonly_library_xp', 'xp', [Step(answers=['ok'], exit=REBOOT, state='trouble', log=[
        'is_winnt = TRUE', 'is_win4 = TRUE', 'DeletePrinterDriver: 1797', 'DeleteMonitor: 3000'])],
             trouble=[Trouble('earlier', 'ztqmon.dll'), Trouble('readonly', '<SYSTEM>\\ztqmon.dll')]),
    # The setup log read-only, or held open by another program that shares
    # nothing: the install goes on and its lines are dropped.
    Scenario('install_readonly_log_xp', 'xp', [Step(state='trouble', log=['earlier run'])],
             trouble=[Trouble('file', SETUP_LOG, b'01-02-05: 08:00earlier run\r\n'), Trouble('readonly', SETUP_LOG)]),
    Scenario('install_held_log_xp', 'xp', [Step(state='trouble', log=[])], hold=SETUP_LOG),
    # A printer "ZENTAQ" on another driver and port before the install: the
    # guard clears its key and the install adds the product's.
    Scenario('install_printer_elsewhere_xp', 'xp', [Step(log=FIRST_LINES)], trouble=[Trouble('run', 'printer')]),
    # An IniFileMapping of zentaq.ini that an earlier version left: removed.
    Scenario('install_stale_mapping_xp', 'xp', [Step(log=FIRST_LINES)], trouble=[Trouble('run', 'mapping')]),
    # A half-done earlier install (monitor and port record, no driver, no
    # printer), uninstalled: only the missing driver is refused.
    Scenario('uninstall_half_done_xp', 'xp', [Step(['uninstall'], ['yes', 'ok'], state='removed',
                                                   log=['DeletePrinterDriver: 1797'])],
             trouble=[Trouble('run', 'monitor')]),
    # The other target systems: the NT branch on NT 4.0 and 2000 (whose
    # Windows folder is C:\WINNT), the 9x branch on 95 and Me.
    *[Scenario(f'uninstall_{system}', system, [Step(), Step(['uninstall'], ['yes', 'ok'], state='removed')])
      for system in ('nt4', '2000')],
    *[Scenario(f'uninstall_{system}', system,
               [Step(), Step(['uninstall'], ['yes', 'ok'], exit=REBOOT, state='removed-entry-kept'),
                Step(['uninstall'], ['yes', 'ok'], before='reboot', state='removed')]) for system in ('95', 'me')],
]}


def log_to(path):
    def write(message):
        line = time.strftime('%H:%M:%S ') + message
        print(line, flush=True)
        with open(path, 'a') as f:
            f.write(line + '\n')
    return write


def cmd_templates(args):
    """The prefix of this flavour for the whole test run (Wine's first start
    is the slow part), and the folders that each Windows version reports."""
    folder = os.path.join(args.work, 'templates', str(args.bits))
    os.makedirs(folder, exist_ok=True)
    log = log_to(os.path.join(folder, 'templates.log'))
    wine = winelib.Wine(args.bits)
    try:
        log(f'Wine ({args.bits}-bit, {wine.loader}): ' + wine.ensure())
    except winelib.WineUnavailable as e:
        log(f'SKIPPED: {e}')
        return SKIP
    prefix = os.path.join(folder, 'prefix')
    started = time.time()
    log(f'making the {wine.arch} prefix (Wine\'s first start)')
    wine.make_prefix(prefix, sides.BOOT_LIMIT)
    log(f'prefix made in {time.time() - started:.0f} s')
    dirs = os.path.join(prefix, 'drive_c', 'dirs.exe')
    shutil.copyfile(args.dirs_exe, dirs)
    infos = {}
    for version in sorted({v for (_, bits), v in sides.WINE_VERSIONS.items() if bits == args.bits}):
        winelib.set_windows_version(prefix, version)
        started = time.time()
        code, out, err = wine.run(['c:\\dirs.exe'], wine.env(prefix), sides.RUN_LIMIT, prefix=prefix)
        wine.wait_prefix(prefix, sides.SETTLE_LIMIT)
        info = dict(line.split('=', 1) for line in out.decode('latin-1').splitlines() if '=' in line)
        log(f'{version}: {info} ({time.time() - started:.0f} s)')
        if 'drivers' not in info or 'system' not in info:
            log(f'{version}: the prefix did not report its folders (exit code {code}): '
                f'{err.decode(errors="replace")[-2000:]}')
            return 1
        infos[version] = info
    os.remove(dirs)
    with open(os.path.join(folder, 'info.json'), 'w') as f:
        json.dump(infos, f, indent=1)
    return 0


def cmd_run(args):
    sc = SCENARIOS[args.scenario]
    work = os.path.join(args.work, f'{sc.name}_{args.bits}')
    if os.path.exists(work):
        shutil.rmtree(work)
    os.makedirs(os.path.join(work, 'wine'))
    os.makedirs(os.path.join(work, 'sim'))
    log = log_to(os.path.join(work, 'report.txt'))
    wine = winelib.Wine(args.bits)
    try:
        log(f'Wine ({args.bits}-bit, {wine.loader}): ' + wine.ensure())
    except winelib.WineUnavailable as e:
        log(f'SKIPPED: {e}')
        return SKIP
    if not os.path.exists(os.path.join(args.work, 'templates', str(args.bits), 'info.json')):
        log(f'FAILED: no {args.bits}-bit prefix template (run "templates --bits {args.bits}" first)')
        return 1
    started = time.time()
    try:
        wine_result = wine_side.run_wine(sc, args, wine, os.path.join(work, 'wine'), log)
    except winelib.RunTimeout as e:
        log(f'FAILED: {e}')
        return 1
    # The simulated program appears under the path Wine gave setup.exe.
    sim_result = sides.run_sim(sc, args, os.path.join(work, 'sim'), log, wine_result.module_dir + '\\setup.exe')
    log(f'{sc.name} ({args.bits}-bit): Wine against the simulated machine')
    c = compare.compare(sc, wine_result, sim_result, args.product, args.bits, log)
    for name in sorted(c.used):
        fields, reason = differences.DIFFERENCES[name]
        log(f'  [{name}] ({fields}) {reason}')
    if c.failures:
        # The prefix stays for a look (its own files are a few MB; Wine's are
        # the template's, linked).
        log(f'{sc.name} ({args.bits}-bit): {len(c.failures)} differences or failed checks: {"; ".join(c.failures)}')
        return 1
    shutil.rmtree(os.path.join(work, 'wine', 'prefix'), ignore_errors=True)
    log(f'{sc.name} ({args.bits}-bit): equal but for the known differences ({time.time() - started:.0f} s)')
    return 0


# The scenarios in the order the judge runs them: the quickest first.
JUDGE_ORDER = ['install_xp', 'install_shipped_98', 'install_edited_xp', 'install_marked_xp', 'command_line_xp',
               'install_98', 'install_readme_xp', 'install_98_no_pscript',
               'uninstall_no_xp', 'reinstall_xp', 'uninstall_xp', 'uninstall_nt4', 'uninstall_2000',
               'install_missing_help_xp', 'install_missing_ppd_xp', 'install_missing_pscript_xp',
               'install_held_log_xp', 'install_readonly_log_xp', 'install_readonly_library_xp',
               'install_printer_elsewhere_xp', 'install_stale_mapping_xp', 'uninstall_half_done_xp',
               'uninstall_slow_xp', 'uninstall_98', 'uninstall_95', 'uninstall_me']


def cmd_judge(args):
    """Exit 0 when every 64-bit scenario passes with the build's programs, 1
    at the first that fails (its name printed), 77 when Wine can't run."""
    import subprocess
    here = os.path.abspath(__file__)
    root = os.path.dirname(os.path.dirname(os.path.dirname(here)))
    build, helpers = os.path.abspath(args.build), os.path.join(os.path.abspath(args.build), 'tests', 'wine', '64')
    work = args.work or os.path.join(build, 'wine-runs')
    if not os.path.exists(os.path.join(work, 'templates', '64', 'info.json')):
        made = subprocess.run([sys.executable, here, 'templates', '--bits', '64', '--work', work,
                               '--dirs-exe', os.path.join(helpers, 'dirs.exe')], stdout=subprocess.DEVNULL)
        if made.returncode:
            print('judge: no 64-bit template', flush=True)
            return made.returncode
    common = ['--bits', '64', '--work', work, '--setup-exe', os.path.join(build, 'windows64', 'setup.exe'),
              '--sim-setup', os.path.join(build, 'setup'),
              '--sim-spoolview', os.path.join(build, 'tests', 'spoolview'),
              '--sim-callview', os.path.join(build, 'tests', 'callview'),
              '--sim-trouble', os.path.join(build, 'tests', 'trouble'),
              '--winsim', os.path.join(build, 'tools', 'winsim', 'winsim'),
              '--product', os.path.join(root, 'product'), '--monitor-dll', os.path.join(helpers, 'ztqmon.dll'),
              '--ui-dll', os.path.join(helpers, 'ztqui.dll')]
    # The quickest first; a scenario the order doesn't name yet comes last.
    waiting = [n for n in JUDGE_ORDER if n in SCENARIOS] + [n for n in SCENARIOS if n not in JUDGE_ORDER]
    running, failed = [], None
    while (waiting and not failed) or running:
        while waiting and not failed and len(running) < args.jobs:
            name = waiting.pop(0)
            # A mutant that hangs meets a short time limit per Wine run.
            env = dict(os.environ, SETUP_WINE_RUN_LIMIT=os.environ.get('SETUP_WINE_RUN_LIMIT', '90'))
            running.append((name, subprocess.Popen([sys.executable, here, 'run', name, *common], env=env,
                                                   stdout=subprocess.DEVNULL)))
        time.sleep(0.5)
        for name, process in list(running):
            code = process.poll()
            if code is not None:
                running.remove((name, process))
                if code != 0 and not failed:
                    failed = (name, code)
    if failed:
        print(f'judge: {failed[0]} failed ({failed[1]})', flush=True)
        return 1
    return 0


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    sub = parser.add_subparsers(dest='command', required=True)
    t = sub.add_parser('templates')
    t.add_argument('--bits', type=int, choices=[32, 64], required=True)
    t.add_argument('--work', required=True)
    t.add_argument('--dirs-exe', required=True)
    r = sub.add_parser('run')
    r.add_argument('scenario', choices=sorted(SCENARIOS))
    r.add_argument('--bits', type=int, choices=[32, 64], required=True)
    r.add_argument('--work', required=True)
    r.add_argument('--setup-exe', required=True)
    r.add_argument('--sim-setup', required=True)
    r.add_argument('--sim-spoolview', required=True)
    r.add_argument('--sim-callview', required=True)
    r.add_argument('--sim-trouble', required=True)
    r.add_argument('--winsim', required=True)
    r.add_argument('--product', required=True)
    r.add_argument('--monitor-dll', required=True)
    r.add_argument('--ui-dll', required=True)
    j = sub.add_parser('judge')
    j.add_argument('--build', required=True)
    j.add_argument('--work')
    j.add_argument('--jobs', type=int, default=2)
    sub.add_parser('list', help='the scenarios\' names, one a line (for wine.cmake)')
    args = parser.parse_args()
    if args.command == 'list':
        print('\n'.join(SCENARIOS))
        return 0
    if args.command == 'judge':
        return cmd_judge(args)
    # Wine takes only an absolute WINEPREFIX.
    args.work = os.path.abspath(args.work)
    os.makedirs(args.work, exist_ok=True)
    return cmd_templates(args) if args.command == 'templates' else cmd_run(args)


if __name__ == '__main__':
    sys.exit(main())
