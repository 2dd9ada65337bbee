"""The harness's view programs (programs/spoolview.cpp, programs/callview.cpp)
run after a step on either side: over the simulated machine, or under Wine
in the prefix once setup has ended, before the prefix's Wine has wound down
(its wineserver then serves the program too, without a new start). Each
returns the program's output, saved as stepN.NAME in the side's folder, and
a line saying how it failed, or None."""
import os
import shutil
import subprocess

import winelib


def save(work, name, number, data):
    with open(os.path.join(work, f'step{number}.{name}'), 'wb') as f:
        f.write(data)
    return data


def close_standard_input():
    os.close(0)


def run_sim(name, program, machine, work, number, limit):
    # Started as setup is, without a standard input (see sides.run_sim).
    run = subprocess.run([program], env=dict(os.environ, WINSIM_ROOT=machine), stdin=subprocess.DEVNULL,
                         capture_output=True, timeout=limit, preexec_fn=close_standard_input)
    failed = f'{name} exit code {run.returncode}: {run.stderr.decode(errors="replace")}' if run.returncode else None
    return save(work, name, number, run.stdout), failed


def run_wine(name, wine, prefix, helpers, work, number, limit):
    target = winelib.host_path(prefix, f'c:\\{name}.exe')
    if not os.path.exists(target):
        shutil.copyfile(os.path.join(helpers, f'{name}.exe'), target)
    # Wine's err channel on: a start that fails says why (see winelib.FIXED_LAYOUT).
    code, out, err = wine.run([f'c:\\{name}.exe'], wine.env(prefix, debug='-all,err+all'), limit, prefix=prefix)
    failed = f'{name} exit code {code}: {err.decode(errors="replace")[-500:]}' if code else None
    return save(work, name, number, out), failed
