"""The harness's view programs (programs/spoolview.cpp, programs/callview.cpp)
run after a step on either side: over the simulated machine, or under Wine
in the prefix once setup has ended, before the prefix's Wine has wound down
(its wineserver then serves the program too, without a new start). Each
returns the program's output, saved as stepN.NAME in the side's folder, and
a line saying how it failed, or None."""
import os
import re
import shutil
import subprocess

import wine_traces
import winelib


def save(work, name, number, data):
    with open(os.path.join(work, f'step{number}.{name}'), 'wb') as f:
        f.write(data)
    return data


def close_standard_input():
    os.close(0)


def run_sim(name, program, machine, work, number, limit, called=None):
    """`called`: a list that gets the names of the simulated machine's
    functions that the program called (its WINSIM_CALL_LOG)."""
    log = os.path.join(work, f'step{number}.{name}.called')
    if os.path.exists(log):
        os.remove(log)
    env = dict(os.environ, WINSIM_ROOT=machine, **({'WINSIM_CALL_LOG': log} if called is not None else {}))
    # Started as setup is, without a standard input (see sides.run_sim).
    run = subprocess.run([program], env=env, stdin=subprocess.DEVNULL, capture_output=True, timeout=limit,
                         preexec_fn=close_standard_input)
    failed = f'{name} exit code {run.returncode}: {run.stderr.decode(errors="replace")}' if run.returncode else None
    if called is not None and os.path.exists(log):
        with open(log, encoding='latin-1') as f:
            called.extend(sorted(set(f.read().split())))
    return save(work, name, number, run.stdout), failed


# A view program under Wine's relay: the trace of its own process tells the
# functions it called (it prints "NAME pid N" on its standard error).
RELAY = '-all,+pid,err+all,+relay'


def run_wine(name, wine, prefix, helpers, work, number, limit, called=None):
    """`called`: a list that gets the relayed calls (function, arguments,
    return value) that the program's own image made, from Wine's relay trace."""
    target = winelib.host_path(prefix, f'c:\\{name}.exe')
    if not os.path.exists(target):
        shutil.copyfile(os.path.join(helpers, f'{name}.exe'), target)
    # Wine's err channel on: a start that fails says why (see winelib.FIXED_LAYOUT).
    debug = RELAY if called is not None else '-all,err+all'
    code, out, err = wine.run([f'c:\\{name}.exe'], wine.env(prefix, debug=debug), limit, prefix=prefix)
    errors = b'\n'.join(line for line in err.splitlines() if b':Call ' not in line and b':Ret  ' not in line)
    failed = f'{name} exit code {code}: {errors.decode(errors="replace")[-500:]}' if code else None
    if called is not None:
        pid = re.search(rb'^\S*' + name.encode() + rb' pid (\d+)\r?$', err, re.M)
        if pid:
            lines = wine_traces.process_lines(err.decode('utf-8', errors='replace'), int(pid.group(1)))
            called.extend(wine_traces.image_calls(lines, wine_traces.image_range(os.path.join(helpers, f'{name}.exe'))))
        else:
            failed = failed or f'{name} printed no process id'
    return save(work, name, number, out), failed
