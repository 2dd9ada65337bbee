#!/usr/bin/env python3
"""Mutation run over a target: the program's own routines (src/app,
src/support, src/install, src/uninstall; the default) or the simulated
machine (src/platform/sim), or the winsim command (tools/winsim).

Each mutant is one small fault put into one source file: a comparison or
logical operator changed, an integer constant changed, TRUE/FALSE swapped, a
call statement removed, two adjacent statements swapped, a string literal
altered. The sources are copied into the work folder, so an interrupted run
never leaves the project's own tree mutated; each mutant is built there
incrementally and the target's judges (a set of test commands) run against
it, the quickest first, stopping at the first failure. A mutant that no test
notices survives. The score is killed / (compiling - equivalent), where the
equivalent ones are the mutants listed in scripts/mutate-equivalent.txt:
changes that can't alter anything a caller, a user or the machine sees.

    scripts/mutate.py [--target NAME] [--judges NAME] [--seed N] [--count N] [--work DIR] [--list] [--only TEXT]
    scripts/mutate.py --judges wine [--target sim --lines FILE | --faults]

--judges wine judges each mutant by the Wine scenarios of the 64-bit
flavour alone (tests/wine/scenarios.py judge), with the Windows test build
built from the mutated sources; --faults takes the hand-made faults of
tests/wine/product_faults.py instead of a sample; --lines FILE samples only
the mutants of the lines FILE names ("path:line" a line; tests/wine/sim_lines.py
lists those the scenarios execute). Not part of the test command
(tests/wine/README.md has the figures).

The same seed on the same sources gives the same mutants.
"""
import argparse
import fnmatch
import os
import random
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from mutants import all_sites, apply, norm  # noqa: E402

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
EQUIVALENT_FILE = os.path.join(ROOT, 'scripts', 'mutate-equivalent.txt')
BUILD_LIMIT = 600
# A judge's time limit: the Wine judge runs every 64-bit scenario of a mutant
# that survives (about 3 minutes, two at a time), each Wine run limited itself.
TEST_LIMIT = 600


class Target:
    """What a run mutates: the folders (their files, but the excluded ones),
    the build targets that take the mutated code into their own process
    (built again for each mutant) and the judges run by default. Every other
    build target is built once, from the unmutated sources: a test binary
    that drives the built programs then meets a mutant with its own sound
    copy of the code (the texts it compares, the machine it reads)."""

    def __init__(self, folders, excluded, rebuilt, judges):
        self.folders, self.excluded, self.rebuilt, self.judges = folders, set(excluded), rebuilt, judges


class Check:
    """One test command of a set of judges: a test binary of the build with
    its arguments, run in `shards` processes side by side, with `env` added
    to the environment. `files`: the mutants it judges (wildcards over their
    paths); None for all. The unmutated sources meet every check."""

    def __init__(self, name, binary, arguments=(), shards=1, env=None, files=None):
        self.name, self.binary, self.arguments = name, binary, list(arguments)
        self.shards, self.env, self.files = shards, dict(env or {}), files

    def judges(self, path):
        return path is None or self.files is None or any(fnmatch.fnmatch(path, f) for f in self.files)


GTEST = ['--gtest_fail_fast', '--gtest_brief=1']
RELIABILITY = 'tests/reliability/test_reliability'

# The sets of judges, each a list of checks run in this order.
JUDGES = {
    # The program's own routines: the fast tests, quickest first, then the
    # fault matrix in two halves.
    'program': [Check(name, 'tests/' + name, GTEST) for name in
                ('test_app', 'test_support', 'test_uninstall', 'test_install')] + [
        Check('test_winsim', 'tools/winsim/tests/test_winsim', GTEST),
        Check('fault matrix', RELIABILITY, ['--gtest_filter=*FaultMatrix*'] + GTEST, shards=2)],
    # The simulated machine: its unit tests first, then the program's tests
    # and the whole runs over it, the fault matrix, and for the lock, the
    # hive's store and its change log the kills and the concurrent runs, with
    # the small counts of the sanitizer build.
    'sim': [Check(name, 'tests/' + name, GTEST) for name in
            ('test_sim', 'test_platform', 'test_app', 'test_support', 'test_uninstall', 'test_install')] + [
        Check('test_winsim', 'tools/winsim/tests/test_winsim', GTEST),
        Check('fault matrix', RELIABILITY, ['--gtest_filter=*FaultMatrix*:*OddInputs*:*FuzzRegressions*'] + GTEST,
              shards=2),
        Check('crash safety and concurrency', RELIABILITY, ['--gtest_filter=*CrashSafety*:*Concurren*'] + GTEST,
              shards=2, env={'RELIABILITY_KILLS': '20', 'RELIABILITY_ROUNDS': '4'},
              files=['src/platform/sim/core/lock.cpp', 'src/platform/sim/registry/hive_store.cpp',
                     'src/platform/sim/registry/hive_record.cpp', 'src/platform/sim/registry/hive.h'])],
    # The 64-bit Wine scenarios alone, run with the build's programs.
    'wine': [Check('wine scenarios (64-bit)', sys.executable,
                   [os.path.join(ROOT, 'tests', 'wine', 'scenarios.py'), 'judge', '--build', '@BUILD@'])],
}
# What the Wine judges need built: the Windows test build (again for each
# mutant of the program's sources) and the Windows helpers.
WINE_BUILT = ['setup_windows64', 'wine_helpers_64']
# The harness's programs over the simulated machine, built with its sources.
WINE_SIM_PROGRAMS = ['spoolview', 'callview', 'trouble']

# The simulated machine's folders, one per Windows area.
SIM_AREAS = ['core', 'registry', 'files', 'profile', 'processes', 'spooler', 'services', 'shell']

TARGETS = {
    'program': Target(['src/app', 'src/support', 'src/install', 'src/uninstall'],
                      ['src/app/main.cpp'],  # the Windows build's entry only
                      ['setup', 'test_support'], 'program'),
    'sim': Target(['src/platform/sim'] + ['src/platform/sim/' + area for area in SIM_AREAS], [], ['setup', 'winsim', 'test_sim', 'test_platform', 'test_support'], 'sim'),
    # The winsim command (its own files; the machine is the target above).
    'winsim': Target(['tools/winsim'], [], ['winsim'], 'sim'),
}

# Built once before the mutants, from the unmutated sources.
BUILT = ['setup', 'winsim', 'test_app', 'test_support', 'test_install', 'test_uninstall', 'test_winsim',
         'test_reliability', 'test_sim', 'test_platform']


def wildcard(text):
    """A pattern of the equivalents file: '*' stands for any text, nothing else is special."""
    return re.compile('^' + '.*'.join(re.escape(part) for part in text.split('*')) + '$')


def target_of(path):
    """The target an entry of the equivalents file is about: the one whose
    folder holds the path's fixed beginning; the program's when none does
    (entries such as 'src/*.cpp' were written for it)."""
    prefix = path.split('*')[0]
    for name, target in TARGETS.items():
        if any(prefix.startswith(folder + '/') for folder in target.folders):
            return name
    return 'program'


def read_equivalent(target):
    """The mutants of the target listed as unable to change behaviour, with
    their reasons: [(path, op, before, after, occurrence), reason]. An entry
    is a mutant as the run prints it (its line number is not compared);
    without '#N' it stands for every mutant of that text in the file; '*' in
    the path or the texts stands for any text."""
    listed = {}
    if not os.path.exists(EQUIVALENT_FILE):
        return listed
    pattern = re.compile(r"^([^\s:]+)(?::\d+)? \[([\w-]+)\] '(.*)' -> '(.*?)'(?: #(\d+))?$")
    group = []  # the entries that the next reason is for
    reason_read = False
    with open(EQUIVALENT_FILE, encoding='latin-1') as f:
        for number, text in enumerate(f, 1):
            text = text.rstrip('\n')
            if not text.strip() or text.startswith('#'):
                continue
            if text[0].isspace():
                for key in group:
                    listed[key] = (listed[key] + ' ' + text.strip()).strip()
                reason_read = True
                continue
            m = pattern.match(text)
            if not m:
                sys.exit('mutate: %s:%d: not a mutant line: %s' % (EQUIVALENT_FILE, number, text))
            if reason_read:
                group, reason_read = [], False
            key = (m.group(1), m.group(2), norm(m.group(3)), norm(m.group(4)), int(m.group(5) or 0))
            listed[key] = ''
            group.append(key)
    missing = [key for key, reason in listed.items() if not reason]
    if missing:
        sys.exit('mutate: %s: no reason given for %s' % (EQUIVALENT_FILE, missing[0]))
    return {key: reason for key, reason in listed.items() if target_of(key[0]) == target}


def equivalence(listed, mutant):
    """The reason the mutant is listed as equivalent, or None."""
    path, op, before, after = mutant.text_key()
    for (entry_path, entry_op, entry_before, entry_after, occurrence), reason in listed.items():
        if entry_op == op and occurrence in (0, mutant.occurrence) and wildcard(entry_path).match(path) and \
                wildcard(entry_before).match(before) and wildcard(entry_after).match(after):
            return reason
    return None


# --- building and testing ---------------------------------------------------------

def copy_tree(tree):
    """The project's sources into the work folder. A file whose bytes are
    unchanged is not written again, so it keeps its time and the build there
    stays incremental; files the project no longer has are removed."""
    names = subprocess.run(['git', 'ls-files', '--cached', '--others', '--exclude-standard'], cwd=ROOT,
                           check=True, capture_output=True, text=True).stdout.split('\n')
    keep = {n for n in names if n and os.path.isfile(os.path.join(ROOT, n))}
    for name in keep:
        source, target = os.path.join(ROOT, name), os.path.join(tree, name)
        with open(source, 'rb') as f:
            data = f.read()
        if os.path.exists(target):
            with open(target, 'rb') as f:
                if f.read() == data:
                    continue
        os.makedirs(os.path.dirname(target), exist_ok=True)
        shutil.copy2(source, target)
    for folder, _, files in os.walk(tree):
        for name in files:
            if os.path.relpath(os.path.join(folder, name), tree) not in keep:
                os.remove(os.path.join(folder, name))


def configure(tree, build, windows=False):
    subprocess.run(['cmake', '-S', tree, '-B', build, '-DCMAKE_BUILD_TYPE=None', '-DCMAKE_CXX_FLAGS=-O0']
                   + ([] if windows else ['-DSETUP_MINGW_CC=OFF']), check=True, stdout=subprocess.DEVNULL)


def build_targets(build, targets=BUILT):
    try:
        done = subprocess.run(['cmake', '--build', build, '-j2', '--target'] + targets, stdout=subprocess.DEVNULL,
                              stderr=subprocess.DEVNULL, timeout=BUILD_LIMIT)
        return done.returncode == 0
    except subprocess.TimeoutExpired:
        return False


def start(command, env=None, stdout=subprocess.DEVNULL):
    """A test command in a process group of its own, so that the programs it
    starts go with it (a mutant may loop for ever in a run of setup)."""
    return subprocess.Popen(command, env=env, stdin=subprocess.DEVNULL, stdout=stdout,
                            stderr=subprocess.DEVNULL, start_new_session=True)


def finish(processes, deadline):
    """Waits for the processes until the deadline; ends their groups then.
    True when every one exited with 0 in time; None when one ran out of time."""
    ok = True
    for process in processes:
        try:
            ok = process.wait(timeout=max(1, deadline - time.time())) == 0 and ok
        except subprocess.TimeoutExpired:
            ok = None
    for process in processes:
        try:
            os.killpg(process.pid, signal.SIGKILL)
        except ProcessLookupError:
            pass
        process.wait()
    return ok


def run_tests(build, checks, path=None):
    """'killed' with the failing check, or 'survived'. `path`: the mutated
    file, which picks the checks that judge it (None: all of them)."""
    for check in checks:
        if not check.judges(path):
            continue
        command = [os.path.join(build, check.binary)] + [a.replace('@BUILD@', build) for a in check.arguments]
        env = dict(os.environ, **check.env)
        if check.shards > 1:
            processes = [start(command, dict(env, GTEST_TOTAL_SHARDS=str(check.shards), GTEST_SHARD_INDEX=str(i)))
                         for i in range(check.shards)]
        else:
            output = tempfile.TemporaryFile()
            processes = [start(command, env, output)]
        ok = finish(processes, time.time() + TEST_LIMIT)
        if not ok:
            # The Wine judge names the scenario that failed, so that a kill
            # can be told from a run that failed for another reason.
            said = ''
            if check.shards <= 1:
                output.seek(0)
                said = [line for line in output.read().decode(errors='replace').splitlines()
                        if line.startswith('judge:')]
                said = ', ' + said[-1][len('judge: '):] if said else ''
            return 'killed', check.name + (' (time limit)' if ok is None else '') + said
    return 'survived', ''


def main():
    parser = argparse.ArgumentParser(description='Mutation run over the program\'s own routines or the simulated '
                                                 'machine.')
    parser.add_argument('--target', choices=sorted(TARGETS), default='program',
                        help='what is mutated: the program\'s own routines (default), the simulated machine, the '
                             'winsim command')
    parser.add_argument('--judges', choices=sorted(JUDGES),
                        help='the set of tests that judges the mutants (default: the target\'s own)')
    parser.add_argument('--seed', type=int, default=1)
    parser.add_argument('--count', type=int, default=150, help='mutants in the sample (0: all)')
    parser.add_argument('--work', help='the work folder (default build-mutate, build-mutate-TARGET for the others)')
    parser.add_argument('--list', action='store_true', help='print the sample and stop')
    parser.add_argument('--check-equivalent', action='store_true',
                        help='run every mutant the equivalents file lists, whatever the sample, to see that none '
                             'is killed')
    parser.add_argument('--run-equivalent', action='store_true',
                        help='build and test the mutants listed as equivalent too (they still count as equivalent '
                             'when they survive)')
    parser.add_argument('--faults', action='store_true',
                        help='the hand-made product faults of tests/wine/product_faults.py instead of a sample')
    parser.add_argument('--lines', help='a file of "path:line" lines: only their mutants are sampled')
    parser.add_argument('--only', action='append', default=[],
                        help='only the mutants whose description contains this text (repeatable: any of them)')
    args = parser.parse_args()
    target = TARGETS[args.target]
    checks = JUDGES[args.judges or target.judges]
    wine = args.judges == 'wine'
    built, rebuilt = BUILT, target.rebuilt
    if wine:
        # The scenarios run setup, winsim, the harness's programs and the
        # Windows build: nothing else.
        built = ['setup', 'winsim'] + WINE_SIM_PROGRAMS + WINE_BUILT
        rebuilt = [t for t in rebuilt if t in built] + (['setup_windows64'] if args.target == 'program' else
                                                        WINE_SIM_PROGRAMS)
    if not args.work:
        args.work = os.path.join(ROOT, 'build-mutate' + ('' if args.target == 'program' else '-' + args.target))

    tree = os.path.join(args.work, 'tree')
    build = os.path.join(args.work, 'build')
    # A listing reads the project's own files and leaves the work folder alone.
    if not args.list:
        copy_tree(tree)
    found = every_site = all_sites(ROOT if args.list else tree, target.folders, target.excluded)
    if args.lines:
        with open(args.lines) as f:
            lines = set(f.read().split())
        found = [m for m in found if f'{m.path}:{m.line}' in lines]
    sample = list(found) if args.count <= 0 or args.count >= len(found) else \
        random.Random(args.seed).sample(found, args.count)
    if args.faults:
        sys.path.insert(0, os.path.join(ROOT, 'tests', 'wine'))
        import product_faults
        sample = product_faults.mutants(ROOT if args.list else tree)
    if args.check_equivalent:
        listed = read_equivalent(args.target)
        sample = [m for m in found if equivalence(listed, m) is not None]
        args.run_equivalent = True
    if args.only:
        sample = [m for m in sample if any(text in m.describe() for text in args.only)]
    sample.sort(key=lambda m: (m.path, m.line, m.op, m.after))
    print('%s: %d mutation sites; sample of %d with seed %d' % (args.target, len(found), len(sample), args.seed),
          flush=True)
    if args.list:
        for m in sample:
            print(m.describe())
        return 0

    equivalent = read_equivalent(args.target)
    for entry in equivalent:
        # Every site, not only the lines sampled: an entry for a line the
        # lines file leaves out still matches its mutant.
        if not any(equivalence({entry: ''}, m) is not None for m in every_site):
            print('mutate: %s: an entry that matches no mutant any more: %s %s' %
                  (os.path.basename(EQUIVALENT_FILE), entry[0], entry[2]), flush=True)
    configure(tree, build, windows=wine)
    if not build_targets(build, built) or run_tests(build, checks)[0] != 'survived':
        sys.exit('mutate: the unmutated sources do not build or do not pass the tests')

    started = time.time()
    results = []
    originals = {}
    for number, mutant in enumerate(sample, 1):
        full = os.path.join(tree, mutant.path)
        if mutant.path not in originals:
            # The previous file goes back before this one is changed.
            for path, text in originals.items():
                with open(os.path.join(tree, path), 'w', encoding='latin-1') as f:
                    f.write(text)
            originals = {mutant.path: open(full, encoding='latin-1').read()}
        else:
            with open(full, 'w', encoding='latin-1') as f:
                f.write(originals[mutant.path])
        if not args.run_equivalent and equivalence(equivalent, mutant) is not None:
            results.append((mutant, 'equivalent', 'listed, not run'))
            print('%3d/%d %-10s %s  (listed, not run)' % (number, len(sample), 'equivalent', mutant.describe()),
                  flush=True)
            continue
        apply(tree, mutant)
        began = time.time()
        if not build_targets(build, rebuilt):
            outcome, by = 'no-compile', ''
        else:
            built = time.time()
            outcome, by = run_tests(build, checks, mutant.path)
            by = (by + ', ' if by else '') + 'built in %.0f s, tested in %.0f s' % (built - began, time.time() - built)
            if outcome == 'survived' and equivalence(equivalent, mutant) is not None:
                outcome = 'equivalent'
        results.append((mutant, outcome, by))
        print('%3d/%d %-10s %s%s' % (number, len(sample), outcome, mutant.describe(), '  (' + by + ')' if by else ''),
              flush=True)
    for path, text in originals.items():
        with open(os.path.join(tree, path), 'w', encoding='latin-1') as f:
            f.write(text)

    if args.check_equivalent:
        wrong = [m for m, outcome, _ in results if outcome == 'killed']
        print('\n%d listed mutants run, %d killed: %s' % (len(results), len(wrong),
                                                         'the list is right' if not wrong else 'listed wrongly:'))
        for mutant in wrong:
            print('  ' + mutant.describe())
        return 1 if wrong else 0
    count = {k: sum(1 for r in results if r[1] == k) for k in ('killed', 'survived', 'no-compile', 'equivalent')}
    counted = count['killed'] + count['survived']
    print('\nsurvivors:')
    for mutant, outcome, _ in results:
        if outcome == 'survived':
            print('  ' + mutant.describe())
    if count['equivalent']:
        print('equivalent (scripts/mutate-equivalent.txt):')
        for mutant, outcome, _ in results:
            if outcome == 'equivalent':
                print('  %s\n      %s' % (mutant.describe(), equivalence(equivalent, mutant)))
    score = 100.0 * count['killed'] / counted if counted else 100.0
    print('\n%s, seed %d: %d mutants, %d did not compile, %d equivalent; %d of %d killed: score %.1f %% (%.0f s)'
          % (args.target, args.seed, len(sample), count['no-compile'], count['equivalent'], count['killed'], counted,
             score, time.time() - started))
    return 0


if __name__ == '__main__':
    sys.exit(main())
