"""Running Windows programs under Wine for the tests, and reading back what
they left: prefixes, the Windows version setting, time-limited runs, message
boxes answered under Xvfb, and the registry files of Wine and of the
simulated machine.

Every external command here runs with a time limit; a run that overstays it
is ended together with the prefix's wineserver, so no test hangs.
"""
import os
import re
import shutil
import signal
import subprocess
import tempfile
import threading
import time

WINE = os.environ.get('WINE', 'wine')


def _beside_wine(name):
    """A program of the same Wine build as WINE: beside it when WINE names a
    path (a Wine built by hand, say /opt/wine/bin/wine), else by name from
    PATH. A wineserver of another build would not serve this Wine's
    processes, and waiting on it would not wait for the prefix."""
    if os.sep in WINE:
        path = os.path.join(os.path.dirname(WINE), name)
        if os.path.exists(path):
            return path
    return name


WINESERVER = os.environ.get('WINESERVER') or _beside_wine('wineserver')

# Where Debian's qemu-user-static puts the i386 emulator.
QEMU_I386 = '/usr/bin/qemu-i386-static'
BINFMT_DIR = '/proc/sys/fs/binfmt_misc'
# ELF 32-bit little-endian, i386, executable or shared object (PIE).
BINFMT_I386 = (r':qemu-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
               r':\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'
               ':' + QEMU_I386 + ':POCF')


class WineUnavailable(Exception):
    """Wine cannot run 32-bit programs on this machine."""


class RunTimeout(Exception):
    def __init__(self, message, stdout=b'', stderr=b''):
        super().__init__(message)
        self.stdout, self.stderr = stdout or b'', stderr or b''


def _try_wine_version():
    try:
        r = subprocess.run([WINE, '--version'], capture_output=True, text=True, timeout=120)
    except FileNotFoundError:
        return None, 'wine is not installed'
    except subprocess.TimeoutExpired:
        return None, 'wine --version did not answer within 120 s'
    if r.returncode == 0:
        return r.stdout.strip(), None
    return None, (r.stderr or r.stdout).strip()


def _emulated():
    """True when 32-bit programs go to qemu's i386 emulator (binfmt_misc)."""
    try:
        with open(os.path.join(BINFMT_DIR, 'qemu-i386')) as f:
            return f.readline().strip() == 'enabled'
    except OSError:
        return False


def ensure_wine(allow_emulation=None):
    """Returns Wine's version text, or raises WineUnavailable.

    Wine for 32-bit programs is itself a 32-bit Linux program. Where the kernel
    runs no 32-bit programs (its IA-32 emulation switched off, as on some
    virtual machines), Linux's binfmt_misc can hand them to qemu's i386 user
    emulator instead. Wine works there only just: every Wine process spends
    about a minute of processor time reserving its address space through the
    emulator, and runs now and then crash. So that route is taken only when
    SETUP_WINE_QEMU=1 asks for it; it is then set up here when possible (as
    root, with qemu-user-static installed)."""
    if allow_emulation is None:
        allow_emulation = os.environ.get('SETUP_WINE_QEMU') == '1'
    version, error = _try_wine_version()
    if version and not _emulated():
        return version
    if version:
        if allow_emulation:
            return version + ' (through qemu-i386)'
        raise WineUnavailable('32-bit programs run here only through qemu-i386: too slow and unreliable for '
                              'Wine; set SETUP_WINE_QEMU=1 to try anyway')
    if 'format error' not in error.lower():
        raise WineUnavailable(error)
    if not allow_emulation:
        raise WineUnavailable('this kernel runs no 32-bit programs, so neither does Wine (set SETUP_WINE_QEMU=1 '
                              'to try it through qemu-i386): ' + error)
    if not os.path.exists(QEMU_I386):
        raise WineUnavailable('this kernel runs no 32-bit programs and qemu-user-static is not installed: ' + error)
    if not os.path.exists(os.path.join(BINFMT_DIR, 'register')):
        subprocess.run(['mount', '-t', 'binfmt_misc', 'binfmt_misc', BINFMT_DIR], capture_output=True, timeout=30)
    entry = os.path.join(BINFMT_DIR, 'qemu-i386')
    if not os.path.exists(entry):
        try:
            with open(os.path.join(BINFMT_DIR, 'register'), 'w') as f:
                f.write(BINFMT_I386)
        except OSError as e:
            raise WineUnavailable(f'cannot register qemu-i386 with binfmt_misc: {e}')
    version, error = _try_wine_version()
    if not version:
        raise WineUnavailable('wine does not run even through qemu-i386: ' + error)
    return version + ' (through qemu-i386)'


def wine_env(prefix, display=None, debug='-all'):
    env = dict(os.environ)
    env['WINEPREFIX'] = prefix
    env['WINEDEBUG'] = debug
    # No Mono or Gecko installers, no desktop menu entries on the host.
    env['WINEDLLOVERRIDES'] = 'mscoree,mshtml=;winemenubuilder.exe=d'
    env.pop('DISPLAY', None)
    if display:
        env['DISPLAY'] = display
    return env


def _wineserver(prefix, flag, timeout):
    try:
        subprocess.run([WINESERVER, flag], env=wine_env(prefix), stdin=subprocess.DEVNULL,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=timeout)
        return True
    except subprocess.TimeoutExpired:
        return False


def kill_prefix(prefix):
    """Ends every Wine process of the prefix (through its wineserver)."""
    _wineserver(prefix, '-k', 60)


def wait_prefix(prefix, timeout):
    """Waits until the prefix's wineserver has ended, which is when Wine has
    written the registry files; ends it after `timeout` seconds."""
    if not _wineserver(prefix, '-w', timeout):
        kill_prefix(prefix)
        _wineserver(prefix, '-w', 60)


def run(cmd, env, timeout, cwd=None, stdout=None, prefix=None):
    """Runs a command in its own process group, its output in files rather
    than pipes (Wine's helper processes inherit them and may outlive the
    command). On timeout ends the group and the prefix's Wine processes and
    raises RunTimeout. Returns (exit code, standard output, standard error);
    the output is b'' when `stdout` (an open file) took it."""
    with tempfile.TemporaryFile() as out_file, tempfile.TemporaryFile() as err_file:
        proc = subprocess.Popen(cmd, env=env, cwd=cwd, stdout=stdout or out_file, stderr=err_file,
                                stdin=subprocess.DEVNULL, start_new_session=True)

        def output():
            out_file.seek(0)
            err_file.seek(0)
            return out_file.read(), err_file.read()

        try:
            code = proc.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            try:
                os.killpg(proc.pid, signal.SIGKILL)
            except ProcessLookupError:
                pass
            if prefix:
                kill_prefix(prefix)
            proc.wait()
            out, err = output()
            raise RunTimeout(f'{" ".join(cmd)} still running after {timeout} s', out, err)
        out, err = output()
        return code, out, err


# --- prefixes -------------------------------------------------------------------

def make_prefix(prefix, timeout):
    """A new prefix, as Wine's first start makes it."""
    if os.path.exists(prefix):
        shutil.rmtree(prefix)
    # Wine makes the prefix's own folder but not its parents ("wine: chdir to
    # ...: No such file or directory").
    os.makedirs(os.path.dirname(os.path.abspath(prefix)), exist_ok=True)
    # Through WINE, so that the prefix is made by the Wine under test and not
    # by whichever wineboot PATH finds first.
    code, _, err = run([WINE, 'wineboot', '-i'], wine_env(prefix), timeout, prefix=prefix)
    wait_prefix(prefix, timeout)
    if not os.path.exists(os.path.join(prefix, 'drive_c', 'windows', 'system32', 'kernel32.dll')):
        raise RuntimeError(f'wineboot (exit code {code}) left no system32 in {prefix}: '
                           + err.decode(errors='replace')[-2000:])


def _reg_escape(text):
    return text.replace('\\', '\\\\').replace('"', '\\"')


def set_reg_string(reg_file, key, name, value):
    """Sets a REG_SZ value in one of Wine's registry files (user.reg,
    system.reg) while no wineserver has the prefix open."""
    with open(reg_file, encoding='utf-8', errors='surrogateescape') as f:
        lines = f.read().split('\n')
    header = '[' + key.replace('\\', '\\\\') + ']'
    line = f'"{_reg_escape(name)}"="{_reg_escape(value)}"'
    start = next((i for i, l in enumerate(lines) if l == header or l.startswith(header + ' ')), None)
    if start is None:
        lines += [header + f' {int(time.time())}', line, '']
    else:
        end = start + 1
        while end < len(lines) and lines[end].strip() and not lines[end].startswith('['):
            end += 1
        quoted = f'"{_reg_escape(name)}"='
        existing = [i for i in range(start + 1, end) if lines[i].startswith(quoted)]
        if existing:
            lines[existing[0]] = line
        else:
            lines.insert(end, line)
    with open(reg_file, 'w', encoding='utf-8', errors='surrogateescape') as f:
        f.write('\n'.join(lines))


def set_windows_version(prefix, version):
    """Wine's own setting of the Windows version that it reports (winecfg's
    "Windows Version"): HKEY_CURRENT_USER\\Software\\Wine, value Version."""
    set_reg_string(os.path.join(prefix, 'user.reg'), 'Software\\Wine', 'Version', version)


def copy_prefix(template, prefix):
    if os.path.exists(prefix):
        shutil.rmtree(prefix)
    shutil.copytree(template, prefix, symlinks=True)


def host_path(prefix, windows_path):
    """The host path of a C: path in the prefix, matching each component
    without regard to case as Windows does (the component keeps the case
    found on disk; missing ones keep the case given)."""
    m = re.match(r'^([a-zA-Z]):[\\/]?(.*)$', windows_path)
    if not m or m.group(1).lower() != 'c':
        raise ValueError(f'not a C: path: {windows_path}')
    path = os.path.join(prefix, 'drive_c')
    for part in [p for p in re.split(r'[\\/]', m.group(2)) if p]:
        found = part
        if os.path.isdir(path):
            for name in os.listdir(path):
                if name.lower() == part.lower():
                    found = name
                    break
        path = os.path.join(path, found)
    return path


# --- message boxes under Xvfb ---------------------------------------------------

class Display:
    """An Xvfb server on a free display number, for Wine's message boxes."""

    def __init__(self, log):
        self.log = log
        self.proc = None
        self.name = None

    def __enter__(self):
        for number in range(90, 140):
            if os.path.exists(f'/tmp/.X{number}-lock') or os.path.exists(f'/tmp/.X11-unix/X{number}'):
                continue
            proc = subprocess.Popen(['Xvfb', f':{number}', '-screen', '0', '1024x768x24', '-nolisten', 'tcp'],
                                    stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, start_new_session=True)
            for _ in range(100):
                if os.path.exists(f'/tmp/.X11-unix/X{number}'):
                    break
                if proc.poll() is not None:
                    break
                time.sleep(0.1)
            if proc.poll() is None and os.path.exists(f'/tmp/.X11-unix/X{number}'):
                self.proc, self.name = proc, f':{number}'
                return self
            if proc.poll() is None:
                proc.kill()
                proc.wait()
        raise RuntimeError('no Xvfb display could be started')

    def __exit__(self, *exc):
        if self.proc:
            self.proc.terminate()
            try:
                self.proc.wait(timeout=10)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()


class BoxAnswerer(threading.Thread):
    """Watches a display for windows titled `caption` and answers each new
    one with the next key of `keys` (xdotool key names: "Return" presses the
    default button, "y"/"n" Yes/No, "Escape" cancels). Records what it saw."""

    def __init__(self, display, caption, keys, log):
        super().__init__(daemon=True)
        self.display, self.caption, self.keys, self.log = display, caption, list(keys), log
        self.answered = []
        self.unanswered = []
        self._stop = threading.Event()

    def stop(self):
        self._stop.set()
        self.join(timeout=30)

    def _xdotool(self, *args):
        env = dict(os.environ, DISPLAY=self.display)
        try:
            r = subprocess.run(['xdotool', *args], env=env, capture_output=True, text=True, timeout=20)
        except subprocess.TimeoutExpired:
            return ''
        return r.stdout

    def run(self):
        seen = set()
        while not self._stop.is_set():
            windows = self._xdotool('search', '--onlyvisible', '--name', f'^{re.escape(self.caption)}$').split()
            for window in windows:
                if window in seen:
                    continue
                # Give the box a moment to take the keyboard focus.
                time.sleep(1.0)
                if self.keys:
                    key = self.keys.pop(0)
                    self._xdotool('windowactivate', '--sync', window)
                    self._xdotool('key', '--window', window, key)
                    self.answered.append(key)
                    self.log(f'message box {window} "{self.caption}" answered with {key}')
                    seen.add(window)
                else:
                    self.unanswered.append(window)
                    self.log(f'message box {window} "{self.caption}" and no answer left: Escape')
                    self._xdotool('key', '--window', window, 'Escape')
                    seen.add(window)
            self._stop.wait(0.5)


# --- registry files ---------------------------------------------------------------

REG_SZ, REG_EXPAND_SZ, REG_BINARY, REG_DWORD, REG_MULTI_SZ = 1, 2, 3, 4, 7


class Registry:
    """Keys (paths relative to HKEY_LOCAL_MACHINE, compared without regard to
    case) with their values {name: (type, bytes)}. String data is kept as
    the system's single-byte text (Wine's UTF-16 is converted), so that both
    sources compare byte for byte."""

    def __init__(self):
        self.keys = {}   # lower-case path -> (path as written, {lower name: (name, type, bytes)})

    def add_key(self, path):
        path = '\\'.join(p for p in path.split('\\') if p)
        return self.keys.setdefault(path.lower(), (path, {}))[1]

    def has_key(self, path):
        return path.lower() in self.keys

    def values(self, path):
        """{name: (type, bytes)} of the key, or None when it is absent."""
        entry = self.keys.get(path.lower())
        if entry is None:
            return None
        return {name: (t, data) for name, t, data in entry[1].values()}

    def subkeys(self, path):
        lower = path.lower() + '\\'
        names = set()
        for key, (written, _) in self.keys.items():
            if key.startswith(lower):
                names.add(written[len(lower):].split('\\')[0])
        return sorted(names, key=str.lower)


def _unescape(text, i, wine):
    """Reads a quoted string starting at text[i] == '"'; returns (string, index after)."""
    assert text[i] == '"'
    out = []
    i += 1
    while i < len(text):
        c = text[i]
        if c == '"':
            return ''.join(out), i + 1
        if c == '\\' and i + 1 < len(text):
            n = text[i + 1]
            if wine and n == 'x':
                m = re.match(r'[0-9a-fA-F]{1,4}', text[i + 2:])
                out.append(chr(int(m.group(0), 16)))
                i += 2 + len(m.group(0))
                continue
            if wine and n in '01234567':
                m = re.match(r'[0-7]{1,3}', text[i + 1:])
                out.append(chr(int(m.group(0), 8)))
                i += 1 + len(m.group(0))
                continue
            out.append({'n': '\n', 'r': '\r', 't': '\t', '0': '\0'}.get(n, n))
            i += 2
            continue
        out.append(c)
        i += 1
    raise ValueError('unterminated string')


def _logical_lines(text):
    """Lines with their backslash continuations joined."""
    pending = ''
    for line in text.split('\n'):
        line = line.rstrip('\r')
        if pending:
            line = pending + line.lstrip()
            pending = ''
        # Only hex lists are wrapped, each continued line ending in a backslash.
        if line.endswith('\\') and not line.endswith('"'):
            pending = line[:-1]
            continue
        yield line
    if pending:
        yield pending


def _hex_bytes(text):
    text = text.strip().rstrip(',')
    return bytes(int(b, 16) for b in text.split(',') if b.strip()) if text else b''


def _parse_value(data, wine):
    """(type, bytes) of a value's text after the '='."""
    if data.startswith('"'):
        s, _ = _unescape(data, 0, wine)
        return REG_SZ, _text_bytes(s, wine) + b'\0'
    m = re.match(r'^str\((\d+)\):', data)
    if m:
        s, _ = _unescape(data, m.end(), wine)
        return int(m.group(1)), _text_bytes(s, wine) + b'\0'
    if data.lower().startswith('dword:'):
        return REG_DWORD, int(data[6:], 16).to_bytes(4, 'little')
    m = re.match(r'^hex(?:\(([0-9a-fA-F]+)\))?:(.*)$', data, re.S)
    if m:
        kind = int(m.group(1), 16) if m.group(1) else REG_BINARY
        raw = _hex_bytes(m.group(2))
        if wine and kind in (REG_SZ, REG_EXPAND_SZ, REG_MULTI_SZ):
            # Wine keeps strings as UTF-16; hex form means an odd shape
            # (no terminating NUL, say): convert the characters, keep the shape.
            raw = raw.decode('utf-16-le', errors='surrogatepass').encode('cp1252', errors='replace')
        return kind, raw
    raise ValueError(f'value data not understood: {data[:40]}')


def _text_bytes(s, wine):
    return s.encode('cp1252', errors='replace') if wine else s.encode('latin-1', errors='replace')


def _parse_reg(text, header, key_path, wine):
    """The keys and values of a registry file: `header` tells the lines to
    pass over besides comments, `key_path` makes a key line's text into the
    path kept, `wine` chooses Wine's escapes over regedit's."""
    reg = Registry()
    current = None
    for line in _logical_lines(text):
        if not line or line.startswith(';') or header(line):
            continue
        if line.startswith('['):
            current = reg.add_key(key_path(line[1:line.rindex(']')]))
            continue
        if current is None:
            continue
        if line.startswith('@='):
            name, rest = '', line[2:]
        else:
            name, after = _unescape(line, 0, wine)
            rest = line[after + 1:]
        kind, data = _parse_value(rest, wine)
        current[name.lower()] = (name, kind, data)
    return reg


def parse_wine_reg(text):
    """A Wine registry file (system.reg: keys relative to HKLM)."""
    return _parse_reg(text, lambda line: line.startswith('#') or line.startswith('WINE REGISTRY'),
                      lambda path: path.replace('\\\\', '\\'), True)


def parse_regedit4(text):
    """A REGEDIT4 file as the simulated machine keeps its hive (system.reg).
    Key paths may carry the HKEY_LOCAL_MACHINE root or be relative to it."""
    return _parse_reg(text, lambda line: line == 'REGEDIT4',
                      lambda path: re.sub(r'^HKEY_LOCAL_MACHINE\\?', '', path, flags=re.I), False)


def read_wine_registry(prefix):
    with open(os.path.join(prefix, 'system.reg'), encoding='utf-8', errors='surrogateescape') as f:
        reg = parse_wine_reg(f.read())
    # Wine keeps CurrentControlSet as a link to ControlSet001, where the
    # data lies; present it under the name programs use.
    for key in list(reg.keys):
        if key.startswith('system\\controlset001\\') or key == 'system\\controlset001':
            written, values = reg.keys[key]
            alias = 'System\\CurrentControlSet' + written[len('System\\ControlSet001'):]
            reg.keys[alias.lower()] = (alias, values)
    return reg


def read_sim_registry(machine):
    path = os.path.join(machine, 'system.reg')
    # Changes may wait in system.reg.log while a program runs; when none runs,
    # system.reg alone is the whole hive. A log here means a run still going.
    if os.path.exists(path + '.log'):
        raise RuntimeError(f'{path}.log present: the simulated machine is still in use')
    if not os.path.exists(path):
        return Registry()
    with open(path, encoding='latin-1') as f:
        return parse_regedit4(f.read())
