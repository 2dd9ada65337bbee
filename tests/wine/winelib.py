"""Running Windows programs under Wine for the tests: the two Wine loaders
(32-bit and 64-bit), whether this machine runs them, prefixes, the Windows
version setting, time-limited runs, and message boxes answered under Xvfb.

Every external command here runs with a time limit; a run that overstays it
is ended together with the prefix's wineserver, so no test hangs.
"""
import os
import re
import select
import shutil
import signal
import subprocess
import tempfile
import threading
import time

from registry import set_reg_string

# Where Debian's qemu-user-static puts the i386 emulator.
QEMU_I386 = '/usr/bin/qemu-i386-static'
BINFMT_DIR = '/proc/sys/fs/binfmt_misc'
# ELF 32-bit little-endian, i386, executable or shared object (PIE).
BINFMT_I386 = (r':qemu-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
               r':\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'
               ':' + QEMU_I386 + ':POCF')
# Debian's wine64 package keeps its loader here, off PATH.
DEBIAN_WINE64 = '/usr/lib/wine/wine64'
# Every Wine process runs without address space randomisation (the
# ADDR_NO_RANDOMIZE personality, which its children and the wineserver it
# starts inherit). As a process starts, Wine maps the Windows shared user
# data at the fixed address 0x7ffe0000 (virtual_alloc_first_teb in ntdll); a
# start that finds it taken logs "err:virtual:virtual_alloc_first_teb wine:
# failed to map the shared user data: c0000018" and calls exit(1). With
# randomisation the kernel lays each process out afresh around that address
# (its brk heap lands anywhere in the gigabyte above Wine's preloader), and
# now and then a process of a run ended so at its start: a view program
# under WINEDEBUG=-all, with exit code 1 and no output at all; setup.exe,
# whose CreateProcess from the launcher failed with 1359. Without it every
# process has the same layout (the heap right after the loader, 0x7d005000).
FIXED_LAYOUT = ['setarch', '-R']


class WineUnavailable(Exception):
    """This Wine cannot run here; the message says why."""


class RunTimeout(Exception):
    def __init__(self, message, stdout=b'', stderr=b''):
        super().__init__(message)
        self.stdout, self.stderr = stdout or b'', stderr or b''


def _beside(program, name):
    """`name` from the folder of `program` when that names a path (a Wine
    built by hand, say /opt/wine/bin/wine), else None."""
    if os.sep in program:
        path = os.path.join(os.path.dirname(program), name)
        if os.path.exists(path):
            return path
    return None


class Wine:
    """One of Wine's two loaders with its wineserver and prefix type.

    32: `wine` (WINE names another), a 32-bit Linux program, with prefixes of
    WINEARCH win32: 32-bit Windows, as the product's systems are. 64: `wine64`
    (WINE64, else beside WINE, else PATH, else Debian's place), a 64-bit Linux
    program, with prefixes of WINEARCH win64; it needs no 32-bit code from the
    kernel. A wineserver of another build would not serve the loader's
    processes, and waiting on it would not wait for the prefix: WINESERVER,
    else the one beside the loader, else PATH's."""

    def __init__(self, bits):
        self.bits = bits
        wine = os.environ.get('WINE', 'wine')
        if bits == 32:
            self.loader = wine
        else:
            self.loader = (os.environ.get('WINE64') or _beside(wine, 'wine64') or shutil.which('wine64')
                           or DEBIAN_WINE64)
        self.arch = 'win32' if bits == 32 else 'win64'
        self.server = os.environ.get('WINESERVER') or _beside(self.loader, 'wineserver') or 'wineserver'

    def env(self, prefix, display=None, debug='-all'):
        env = dict(os.environ)
        env['WINEPREFIX'] = prefix
        env['WINEARCH'] = self.arch
        env['WINEDEBUG'] = debug
        # No Mono or Gecko installers, no desktop menu entries on the host.
        env['WINEDLLOVERRIDES'] = 'mscoree,mshtml=;winemenubuilder.exe=d'
        env.pop('DISPLAY', None)
        if display:
            env['DISPLAY'] = display
        return env

    def version(self):
        """(version text, None), or (None, why the loader did not answer)."""
        # WINEDEBUG unset: Debian's wrapper then says when it fell back to
        # wine64 because wine32 is missing.
        env = dict(os.environ)
        env.pop('WINEDEBUG', None)
        try:
            r = subprocess.run([self.loader, '--version'], capture_output=True, text=True, timeout=120, env=env)
        except FileNotFoundError:
            return None, f'{self.loader} is not installed'
        except subprocess.TimeoutExpired:
            return None, f'{self.loader} --version did not answer within 120 s'
        except OSError as e:
            return None, f'{self.loader}: {e}'
        if r.returncode == 0:
            if self.bits == 32 and 'wine32 is missing' in r.stderr:
                return None, 'Wine\'s 32-bit loader (Debian package wine32:i386) is not installed'
            return r.stdout.strip(), None
        return None, (r.stderr or r.stdout).strip()

    def ensure(self, allow_emulation=None):
        """Returns Wine's version text, or raises WineUnavailable."""
        version, error = self.version()
        if self.bits == 64:
            if not version:
                raise WineUnavailable(f'64-bit Wine does not run: {error}')
            return version
        return _ensure_32(self, version, error, allow_emulation)

    def _server(self, prefix, flag, timeout):
        try:
            subprocess.run([self.server, flag], env=self.env(prefix), stdin=subprocess.DEVNULL,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=timeout)
            return True
        except subprocess.TimeoutExpired:
            return False

    def kill_prefix(self, prefix):
        """Ends every Wine process of the prefix (through its wineserver)."""
        self._server(prefix, '-k', 60)

    def wait_prefix(self, prefix, timeout):
        """Waits until the prefix's wineserver has ended, which is when Wine
        has written the registry files; ends it after `timeout` seconds."""
        if not self._server(prefix, '-w', timeout):
            self.kill_prefix(prefix)
            self._server(prefix, '-w', 60)

    def run(self, args, env, timeout, cwd=None, stdout=None, prefix=None):
        """A Windows program (or one of Wine's own, like wineboot) under this
        loader, as run() runs commands; a timeout ends the prefix's processes."""
        return run([*FIXED_LAYOUT, self.loader, *args], env, timeout, cwd=cwd, stdout=stdout,
                   on_timeout=(lambda: self.kill_prefix(prefix)) if prefix else None)

    def make_prefix(self, prefix, timeout):
        """A new prefix of this loader's type, as Wine's first start makes it."""
        if os.path.exists(prefix):
            shutil.rmtree(prefix)
        # Wine makes the prefix's own folder but not its parents ("wine: chdir
        # to ...: No such file or directory").
        os.makedirs(os.path.dirname(os.path.abspath(prefix)), exist_ok=True)
        # Through the loader, so that the prefix is made by the Wine under
        # test and not by whichever wineboot PATH finds first.
        code, _, err = self.run(['wineboot', '-i'], self.env(prefix), timeout, prefix=prefix)
        self.wait_prefix(prefix, timeout)
        if not os.path.exists(os.path.join(prefix, 'drive_c', 'windows', 'system32', 'kernel32.dll')):
            raise RuntimeError(f'wineboot (exit code {code}) left no system32 in {prefix}: '
                               + err.decode(errors='replace')[-2000:])


def _emulated():
    """True when 32-bit programs go to qemu's i386 emulator (binfmt_misc)."""
    try:
        with open(os.path.join(BINFMT_DIR, 'qemu-i386')) as f:
            return f.readline().strip() == 'enabled'
    except OSError:
        return False


def _ensure_32(wine, version, error, allow_emulation):
    """Wine for 32-bit programs is itself a 32-bit Linux program. Where the
    kernel runs no 32-bit programs (its IA-32 emulation switched off, as on
    some virtual machines), Linux's binfmt_misc can hand them to qemu's i386
    user emulator instead. Wine works there only just: every Wine process
    spends about a minute of processor time reserving its address space
    through the emulator, and runs now and then crash. So that route is taken
    only when SETUP_WINE_QEMU=1 asks for it; it is then set up here when
    possible (as root, with qemu-user-static installed)."""
    if allow_emulation is None:
        allow_emulation = os.environ.get('SETUP_WINE_QEMU') == '1'
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
        raise WineUnavailable('this kernel runs no 32-bit programs, so neither does 32-bit Wine, and the '
                              '32-bit setup.exe is not run here (the 64-bit test build is, in the wine_*_64 '
                              'tests; SETUP_WINE_QEMU=1 tries the 32-bit one through qemu-i386): ' + error)
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
    version, error = wine.version()
    if not version:
        raise WineUnavailable('wine does not run even through qemu-i386: ' + error)
    return version + ' (through qemu-i386)'


def run(cmd, env, timeout, cwd=None, stdout=None, on_timeout=None):
    """Runs a command in its own process group, its output in files rather
    than pipes (Wine's helper processes inherit them and may outlive the
    command). On timeout ends the group, calls `on_timeout` (which ends the
    prefix's Wine processes) and raises RunTimeout. Returns (exit code,
    standard output, standard error); the output is b'' when `stdout` (an
    open file) took it."""
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
            if on_timeout:
                on_timeout()
            proc.wait()
            out, err = output()
            raise RunTimeout(f'{" ".join(cmd)} still running after {timeout} s', out, err)
        out, err = output()
        return code, out, err


# --- prefixes -------------------------------------------------------------------

def set_windows_version(prefix, version):
    """Wine's own setting of the Windows version that it reports (winecfg's
    "Windows Version"): HKEY_CURRENT_USER\\Software\\Wine, value Version."""
    set_reg_string(os.path.join(prefix, 'user.reg'), 'Software\\Wine', 'Version', version)


# Wine's programs, libraries and tables: most of a prefix's size (600 MB for
# win32, 1.3 GB for win64), and written by no run of the tests.
SHARED_SUFFIXES = ('.dll', '.exe', '.nls', '.drv', '.sys', '.vxd', '.ocx', '.cpl', '.acm', '.tlb', '.ax',
                   '.com', '.ds', '.msstyles', '.icm', '.mod')


def copy_prefix(template, prefix):
    """A copy of the template to run one scenario in. Wine's own program
    files are hard links to the template's: nothing writes into them (a
    program that replaces a library writes a new file, and the product's
    files are new names); everything else, the registry files first, is
    copied."""
    if os.path.exists(prefix):
        shutil.rmtree(prefix)

    def link_or_copy(src, dst):
        if src.lower().endswith(SHARED_SUFFIXES):
            try:
                os.link(src, dst)
                return dst
            except OSError:
                pass
        return shutil.copy2(src, dst)

    shutil.copytree(template, prefix, symlinks=True, copy_function=link_or_copy)


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
    """An Xvfb server on a display number of its own, for Wine's message boxes.

    Xvfb picks the number itself (-displayfd): it takes the first number
    whose lock file it can create, which is atomic, and writes the number
    once it accepts clients. Two tests that start a display at the same
    moment would otherwise both see a number free and share one server, and
    each one's answerer would see the other's boxes."""

    def __init__(self, log):
        self.log = log
        self.proc = None
        self.name = None

    def __enter__(self):
        read_end, write_end = os.pipe()
        try:
            proc = subprocess.Popen(['Xvfb', '-displayfd', str(write_end), '-screen', '0', '1024x768x24',
                                     '-nolisten', 'tcp'], pass_fds=(write_end,),
                                    stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, start_new_session=True)
        finally:
            os.close(write_end)
        text = b''
        try:
            deadline = time.time() + 30
            while not text.endswith(b'\n') and time.time() < deadline:
                ready, _, _ = select.select([read_end], [], [], 0.5)
                if ready:
                    chunk = os.read(read_end, 64)
                    if not chunk:
                        break
                    text += chunk
        finally:
            os.close(read_end)
        if text.strip().isdigit() and proc.poll() is None:
            self.proc, self.name = proc, f':{int(text)}'
            return self
        if proc.poll() is None:
            proc.kill()
        proc.wait()
        raise RuntimeError(f'no Xvfb display could be started (Xvfb wrote {text!r}, exit code {proc.returncode})')

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
        # Not "_stop": threading.Thread has a method of that name, which
        # join() calls.
        self._halt = threading.Event()

    def stop(self):
        self._halt.set()
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
        while not self._halt.is_set():
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
            self._halt.wait(0.5)
