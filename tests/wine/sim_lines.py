#!/usr/bin/env python3
"""The lines of the simulated machine that the Wine scenarios pass through:
the simulated side of every scenario run with a POSIX build made with
--coverage, then gcov over the simulated machine's objects. Writes one
"path:line" a line (paths relative to the project), for the mutation run's
--lines (scripts/mutate.py --target sim --judges wine --lines FILE): a
mutant of a line that no scenario executes can't be caught by them.

    sim_lines.py --build BUILD-WITH-COVERAGE --helpers DIR --out FILE

DIR: the Windows helpers of the flavour (build/tests/wine/64), staged as on
the scenarios' simulated side."""
import argparse
import glob
import os
import re
import shutil
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import scenarios  # noqa: E402
import sides  # noqa: E402

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
SIM = 'src/platform/sim'


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument('--build', required=True)
    parser.add_argument('--helpers', required=True)
    parser.add_argument('--out', required=True)
    args = parser.parse_args()
    build = os.path.abspath(args.build)
    for old in glob.glob(os.path.join(build, '**', '*.gcda'), recursive=True):
        os.remove(old)
    work = tempfile.mkdtemp()
    run_args = argparse.Namespace(winsim=os.path.join(build, 'tools', 'winsim', 'winsim'),
                                  sim_setup=os.path.join(build, 'setup'), product=os.path.join(ROOT, 'product'),
                                  sim_spoolview=os.path.join(build, 'tests', 'spoolview'),
                                  sim_callview=os.path.join(build, 'tests', 'callview'),
                                  sim_trouble=os.path.join(build, 'tests', 'trouble'),
                                  monitor_dll=os.path.join(args.helpers, 'ztqmon.dll'),
                                  ui_dll=os.path.join(args.helpers, 'ztqui.dll'))
    for sc in scenarios.SCENARIOS.values():
        sides.run_sim(sc, run_args, os.path.join(work, sc.name), lambda message: None, 'C:\\zentaq\\setup.exe')
    shutil.rmtree(work, ignore_errors=True)

    covered = set()
    objects = glob.glob(os.path.join(build, 'CMakeFiles', '*', SIM, '**', '*.gcda'), recursive=True)
    out = tempfile.mkdtemp()
    for gcda in objects:
        subprocess.run(['gcov', '-o', os.path.dirname(gcda), gcda], cwd=out, capture_output=True)
    for report in glob.glob(os.path.join(out, '*.gcov')):
        source = None
        with open(report, encoding='latin-1') as f:
            for line in f:
                # "count:line:text"; other lines (functions, branches, the
                # separators of template instances) are left alone.
                m = re.match(r'^\s*([^:]+):\s*(\d+):(.*)$', line)
                if not m:
                    continue
                count, number, text = m.group(1).strip(), int(m.group(2)), m.group(3)
                if number == 0 and text.startswith('Source:'):
                    source = os.path.relpath(os.path.realpath(text[len('Source:'):].strip()), ROOT)
                elif source and source.startswith(SIM + '/') and count not in ('-', '#####', '====='):
                    covered.add(f'{source}:{number}')
    shutil.rmtree(out, ignore_errors=True)
    with open(args.out, 'w') as f:
        f.write(''.join(line + '\n' for line in sorted(covered)))
    print(f'{len(covered)} lines of {SIM} executed by the scenarios\' simulated side')
    return 0


if __name__ == '__main__':
    sys.exit(main())
