"""Wine's side of a scenario: setup.exe in a copy of the flavour's prefix
template, each step started by the launcher (programs/launcher.c), which
reports setup's process id and its whole exit status; setup's own lines of
Wine's debug output read by wine_traces; its state read as the simulated
machine's is (sides.read_state)."""
import json
import os
import shutil
import time

import call_view
import registry
import spooler_listing
import winelib
import wine_traces
from sides import (RUN_LIMIT, SETTLE_LIMIT, Holder, Result, StepResult, make_trouble, read_setup_log, read_state,
                   set_quiet, stage_product, staged_driver_files)

LAUNCHER = 'c:\\launcher.exe'
TROUBLE = 'c:\\trouble.exe'
LAUNCH_RESULT = 'c:\\launch.txt'
STARTED_LOG = 'c:\\started.log'
# Where the stand-in for programs that setup starts is put: the folder of
# setup.exe, which CreateProcess searches first for a name without a path
# (so the readme page's rundll32.exe is found there), and c:\ for the hidden
# command line's program.
STAND_INS = ['c:\\zentaq\\rundll32.exe', 'c:\\started.exe']

# Keys that answer a message box under Xvfb: the default button of MB_YESNO
# is Yes, of MB_OK OK.
BOX_KEYS = {'yes': 'Return', 'ok': 'Return', 'no': 'n'}


def mark(prefix, wine, paths, log):
    """The product's files read-only and hidden, as Wine keeps the two
    attributes: read-only in the file's Unix write bits, set by Wine's own
    attrib command; hidden in the user.DOSATTRIB extended attribute, in
    Samba's text form (written here: Wine's attrib doesn't take +R and +H
    at once). Where either can't be kept the scenario's log says so, and
    only the simulated side sees that attribute."""
    for path in paths:
        try:
            os.setxattr(winelib.host_path(prefix, path), 'user.DOSATTRIB', b'0x2')
        except OSError as e:
            log(f'NOTE: {path} not hidden on Wine\'s side ({e.strerror}): only the simulated side sees the '
                f'files hidden')
            break
    wine.run(['attrib', '+r', 'c:\\zentaq\\res\\drivedir\\*'], wine.env(prefix), RUN_LIMIT, prefix=prefix)
    wine.wait_prefix(prefix, SETTLE_LIMIT)
    writable = [p for p in paths if os.stat(winelib.host_path(prefix, p)).st_mode & 0o222]
    if writable:
        log(f'NOTE: Wine\'s attrib left {len(writable)} files writable: only the simulated side sees them read-only')


def stage(sc, args, prefix, info):
    zentaq = winelib.host_path(prefix, 'c:\\zentaq')
    stage_product(args, zentaq)
    shutil.copyfile(args.setup_exe, os.path.join(zentaq, 'setup.exe'))
    helpers = os.path.dirname(args.ui_dll)
    shutil.copyfile(os.path.join(helpers, 'launcher.exe'), winelib.host_path(prefix, LAUNCHER))
    for path in STAND_INS:
        shutil.copyfile(os.path.join(helpers, 'started.exe'), winelib.host_path(prefix, path))
    if not sc.nt:
        # The system's PostScript driver files (without Pscript.drv itself
        # where the scenario has it missing), as on the simulated 98.
        drivers = winelib.host_path(prefix, info['drivers'])
        os.makedirs(drivers, exist_ok=True)
        for name in os.listdir(os.path.join(args.product, 'pscript9x')):
            if sc.pscript or name.lower() != 'pscript.drv':
                shutil.copyfile(os.path.join(args.product, 'pscript9x', name), os.path.join(drivers, name))
        # Wine's DocumentPropertiesW loads a printer's configuration file from
        # the version-3 folder of the driver directory whatever the
        # environment (get_config_module), where Windows 98 would load the 9x
        # driver's own Pscript.drv. The test UI module stands in for it there,
        # so that AddPrinterW can ask it for the default DEVMODE (and it can
        # supply the Datatype) as on NT.
        os.makedirs(os.path.join(drivers, '3'), exist_ok=True)
        shutil.copyfile(args.ui_dll, os.path.join(drivers, '3', 'Pscript.drv'))
    # The relay trace shows the calls named there, with their arguments.
    registry.set_reg_string(os.path.join(prefix, 'user.reg'), 'Software\\Wine\\Debug', 'RelayInclude',
                            ';'.join(wine_traces.RELAY_INCLUDE + wine_traces.boundary_names()))
    registry.set_reg_string(os.path.join(prefix, 'user.reg'), 'Software\\Wine\\Debug', 'RelayExclude',
                            ';'.join(wine_traces.RELAY_EXCLUDE))
    return zentaq


def read_text(prefix, path):
    host = winelib.host_path(prefix, path)
    if not os.path.exists(host):
        return ''
    with open(host, 'rb') as f:
        text = f.read().decode('latin-1')
    os.remove(host)
    return text


def read_step(r, stderr, launch, started, answerer, step, image):
    """The step's result from Wine's output, the launcher's report and the
    stand-in's records."""
    r.wine_errors = '\n'.join(line for line in stderr.splitlines() if ':err:' in line)
    if 'pid' not in launch or 'exit' not in launch:
        r.notes.append(f'the launcher reported no exit status of setup.exe: {launch}')
        return
    r.exit_status = launch['exit']
    r.exit_code = launch['exit'] & 0xFF
    lines = wine_traces.process_lines(stderr, launch['pid'])
    calls = wine_traces.relay_calls(lines)
    r.services = wine_traces.services(calls)
    r.notifications = wine_traces.notifications(calls)
    r.boxes = wine_traces.message_boxes(calls, wine_traces.box_texts(lines))
    r.processes = wine_traces.processes(calls, wine_traces.read_started(started))
    r.process_contexts = wine_traces.process_contexts(calls)
    r.driver = wine_traces.driver_info(lines)
    r.errors = wine_traces.errors(lines)
    r.image_calls = wine_traces.image_calls(lines, image)
    r.called = sorted({c[0] for c in r.image_calls})
    if answerer and (len(answerer.answered) != len(step.answers) or answerer.unanswered):
        r.notes.append(f'{len(answerer.answered)} message boxes answered, {len(step.answers)} expected, '
                       f'{len(answerer.unanswered)} more shown')


def run_wine(sc, args, wine, work, log):
    with open(os.path.join(args.work, 'templates', str(wine.bits), 'info.json')) as f:
        info = json.load(f)[sc.wine_version(wine.bits)]
    prefix = os.path.join(work, 'prefix')
    winelib.copy_prefix(os.path.join(args.work, 'templates', str(wine.bits), 'prefix'), prefix)
    winelib.set_windows_version(prefix, sc.wine_version(wine.bits))
    zentaq = stage(sc, args, prefix, info)
    if sc.marked:
        mark(prefix, wine, staged_driver_files(zentaq), log)
    helpers = os.path.dirname(args.ui_dll)
    if sc.trouble or sc.hold:
        shutil.copyfile(os.path.join(helpers, 'trouble.exe'), winelib.host_path(prefix, TROUBLE))

    def make_readonly(path):
        wine.run(['attrib', '+r', path], wine.env(prefix), RUN_LIMIT, prefix=prefix)
        wine.wait_prefix(prefix, SETTLE_LIMIT)
        if os.stat(winelib.host_path(prefix, path)).st_mode & 0o222:
            log(f'NOTE: Wine\'s attrib left {path} writable: only the simulated side sees it read-only')

    def run_trouble(action):
        code, out, _ = wine.run([TROUBLE, action], wine.env(prefix), RUN_LIMIT, prefix=prefix)
        wine.wait_prefix(prefix, SETTLE_LIMIT)
        return [line.rstrip('\r') for line in out.decode('latin-1').splitlines()] + \
            ([f'exit code {code}'] if code else [])

    # setup.exe is started as C:\zentaq\setup.exe, the drive spelled as Wine
    # spelled dirs.exe's (C:): Windows and Wine give a program the path it
    # was started by as its module's.
    result = Result(info['system'], info['drivers'], info['module'][:2] + '\\zentaq')
    result.trouble = make_trouble(sc, prefix, info['system'], make_readonly, run_trouble)
    log_path = winelib.host_path(prefix, 'c:\\zentaq\\res\\drivedir\\setup.log')
    for number, step in enumerate(sc.steps, 1):
        # 'reboot' and 'release' need nothing: every Wine process of the
        # prefix has ended after the previous step, Wine's spooler with them.
        if step.install:
            set_quiet(zentaq, step.quiet, step.config)
        stdout_path = os.path.join(work, f'step{number}.stdout')
        # SETUP_WINE_DEBUG adds channels for a look by hand (+winspool,+localspl
        # show the spooler's order of work).
        extra = os.environ.get('SETUP_WINE_DEBUG')
        env = wine.env(prefix, debug=wine_traces.DEBUG + (',' + extra if extra else ''))
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
            holder = None
            if sc.hold and number == 1:
                holder = Holder([*winelib.FIXED_LAYOUT, wine.loader, TROUBLE, 'hold', sc.hold], wine.env(prefix),
                                RUN_LIMIT)
            try:
                with open(stdout_path, 'wb') as out:
                    code, _, err = wine.run([LAUNCHER, LAUNCH_RESULT, result.module_dir + '\\setup.exe', *step.args], env,
                                            RUN_LIMIT, cwd=zentaq, stdout=out, prefix=prefix)
            except winelib.RunTimeout as e:
                err = e.stderr
                raise
            finally:
                if holder:
                    r.held = holder.release()
                with open(os.path.join(work, f'step{number}.stderr'), 'wb') as f:
                    f.write(err)
            # What the spooler answers now, while the prefix's Wine is still up.
            r.spooler = spooler_listing.run_wine(wine, prefix, os.path.dirname(args.ui_dll), work, number, RUN_LIMIT)
            r.calls, r.calls_called = call_view.run_wine(wine, prefix, os.path.dirname(args.ui_dll), work, number,
                                                         RUN_LIMIT)
            wine.wait_prefix(prefix, SETTLE_LIMIT)
        finally:
            if answerer:
                answerer.stop()
            if display:
                display.__exit__(None, None, None)
        launch = wine_traces.read_launcher(read_text(prefix, LAUNCH_RESULT))
        log(f'wine{wine.bits} {sc.wine_version(wine.bits)}: launcher exit code {code}, setup.exe {launch} '
            f'after {time.time() - started:.0f} s')
        with open(stdout_path, 'rb') as f:
            r.stdout = f.read().decode('latin-1')
        read_step(r, err.decode('utf-8', errors='replace'), launch, read_text(prefix, STARTED_LOG), answerer, step,
                  wine_traces.image_range(args.setup_exe))
        lines, r.stamps_ok = read_setup_log(log_path)
        r.log = lines[sum(len(s.log) for s in result.steps):]
        r.state = read_state(prefix, result)
        r.state.registry = registry.read_wine_registry(prefix)
        result.steps.append(r)
    return result
