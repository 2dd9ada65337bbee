"""What setup.exe did under Wine, read from the debug output of its own
process and from the helpers that run with it.

Wine's debug output (+pid) begins each line with the process and thread id
(`0100:0104:`). Setup's process id comes from the launcher that starts it
(programs/launcher.c), so the lines of Wine's other processes (services.exe,
explorer.exe, wineboot, the spooler service) are left out. From setup's
lines:

- the relay trace of the calls named in RELAY_INCLUDE: each call's
  arguments (strings where the function's spec declares them) and its
  return value: message box types and answers, the service handles opened
  and the control requests sent through them, and the command lines started;
- Wine's msgbox trace, with each message box's whole text (a relay string
  may be cut short);
- the localspl trace of the DRIVER_INFO that AddPrinterDriverExW passed on
  (cVersion and the paths as setup gave them);
- the err channel.
"""
import os
import re
import struct

# The functions whose calls the relay trace shows (Wine's own setting
# HKCU\Software\Wine\Debug, RelayInclude), with the boundary functions
# below. Only calls into Wine's built-in libraries are relayed, which these
# are.
# SetLastError shows setup clearing the last error before a call whose
# error it logs.
RELAY_INCLUDE = ['MessageBoxA', 'OpenServiceA', 'ControlService', 'StartServiceA', 'CreateProcessA',
                 'SHChangeNotify', 'SetLastError']
# Wine's own RelayExclude (the functions called too often to trace), which a
# value of the setting replaces, without kernel32.SetLastError.
RELAY_EXCLUDE = ['ntdll.RtlEnterCriticalSection', 'ntdll.RtlTryEnterCriticalSection',
                 'ntdll.RtlLeaveCriticalSection', 'kernel32.48', 'kernel32.49', 'kernel32.94', 'kernel32.95',
                 'kernel32.96', 'kernel32.97', 'kernel32.98', 'kernel32.TlsGetValue', 'kernel32.TlsSetValue',
                 'kernel32.FlsGetValue', 'kernel32.FlsSetValue']

# The simulated machine records the first call of each of its faultable
# functions under the name that its sources give it (Fault, Enter and
# EnterScm in src/platform/sim); WINSIM_CALL_LOG gets those names, and
# [faults] fails a call by that name.
SIM_SOURCES = os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', '..', 'src', 'platform', 'sim')
_NAMED = re.compile(r'\b(?:Fault|Enter|EnterScm)\("(\w+)"')


def boundary_names(folder=SIM_SOURCES):
    """The names under which the simulated machine records its functions
    (its sources in the folder and its area folders)."""
    names = set()
    for where, _, files in sorted(os.walk(folder)):
        for name in sorted(files):
            if name.endswith('.cpp'):
                with open(os.path.join(where, name), encoding='latin-1') as f:
                    names.update(_NAMED.findall(f.read()))
    return sorted(names)


def image_range(exe):
    """[start, end) of a PE file's image where it loads at its preferred
    base (ImageBase and SizeOfImage of its optional header)."""
    with open(exe, 'rb') as f:
        data = f.read(4096)
    pe = struct.unpack_from('<I', data, 0x3C)[0]
    optional = pe + 24
    magic = struct.unpack_from('<H', data, optional)[0]
    base = struct.unpack_from('<Q', data, optional + 24)[0] if magic == 0x20B else \
        struct.unpack_from('<I', data, optional + 28)[0]
    size = struct.unpack_from('<I', data, optional + 56)[0]
    return base, base + size

# The channels: the relay and the traces read here, the err channel, and the
# dialog trace that the box answerer's log is checked against.
DEBUG = '-all,+pid,err+all,+relay,trace+msgbox,trace+localspl,trace+service'

ANSWERS = {1: 'ok', 2: 'cancel', 3: 'abort', 4: 'retry', 5: 'ignore', 6: 'yes', 7: 'no'}


def debugstr(text):
    """The text of one of Wine's debug strings (the inside of "..." with C escapes)."""
    return re.sub(r'\\(x[0-9a-fA-F]{1,4}|.)', lambda m: chr(int(m.group(1)[1:], 16)) if m.group(1)[0] == 'x'
                  else {'n': '\n', 'r': '\r', 't': '\t'}.get(m.group(1), m.group(1)), text)


def process_lines(stderr, pid):
    """The lines of process `pid` (a number) in Wine's +pid output."""
    prefix = f'{pid:04x}:'
    return [line for line in stderr.splitlines() if line.startswith(prefix)]


_CALL = re.compile(r'^[0-9a-f]+:([0-9a-f]+):Call [\w.]+\.(\w+)\((.*)\) ret=([0-9a-f]+)$')
_RET = re.compile(r'^[0-9a-f]+:([0-9a-f]+):Ret  [\w.]+\.(\w+)\(\) retval=([0-9a-f]+) ret=[0-9a-f]+$')
_ARG = re.compile(r'\s*([0-9a-fA-F]+)(?: (L?"(?:[^"\\]|\\.)*"))?\s*(?:,|$)')


def _arguments(text):
    """Relay arguments: a number each, or the string shown beside it."""
    args, pos = [], 0
    while pos < len(text):
        m = _ARG.match(text, pos)
        if not m or m.end() == pos:
            break
        string = m.group(2)
        args.append(debugstr(string[string.index('"') + 1:-1]) if string else int(m.group(1), 16))
        pos = m.end()
    return args


def _relayed(lines):
    """[function, arguments, return value or None, return address] in the
    order called."""
    calls, pending = [], {}
    for line in lines:
        m = _CALL.match(line)
        if m:
            call = [m.group(2), _arguments(m.group(3)), None, int(m.group(4), 16)]
            calls.append(call)
            pending.setdefault(m.group(1), []).append(call)
            continue
        m = _RET.match(line)
        if m and pending.get(m.group(1)):
            pending[m.group(1)].pop()[2] = int(m.group(3), 16)
    return calls


def relay_calls(lines):
    """[(function, arguments, return value or None)] in the order called."""
    return [tuple(c[:3]) for c in _relayed(lines)]


def image_calls(lines, image):
    """[(function, arguments, return value or None)] of the relayed calls
    that code inside `image` (a range of addresses: setup.exe's) made, in
    the order made."""
    return [tuple(c[:3]) for c in _relayed(lines) if image[0] <= c[3] < image[1]]


def called_from(lines, image):
    """The names of the relayed functions that code inside `image` called,
    each once."""
    return sorted({c[0] for c in image_calls(lines, image)})


def _low32(value):
    # A DWORD argument of a 64-bit call is half a register: the relay shows
    # the whole register, whose upper half is left over from earlier work.
    # Handles that Wine gives out fit in 32 bits too.
    return value & 0xFFFFFFFF if isinstance(value, int) else value


def notifications(calls):
    """The shell notifications: (event mask, flags, whether both items were NULL)."""
    return [(_low32(args[0]), _low32(args[1]), _low32(args[2]) == 0 and _low32(args[3]) == 0)
            for function, args, _ in calls if function == 'SHChangeNotify' and len(args) >= 4]


def services(calls):
    """Service requests: ('control', service, code, succeeded) and ('start',
    service, succeeded), the service named as setup opened it."""
    names, out = {}, []
    for function, args, result in calls:
        if function == 'OpenServiceA' and len(args) >= 2 and result:
            names[_low32(result)] = args[1]
        elif function == 'ControlService' and len(args) >= 2:
            out.append(('control', names.get(_low32(args[0])), _low32(args[1]), bool(_low32(result))))
        elif function == 'StartServiceA' and args:
            out.append(('start', names.get(_low32(args[0])), bool(_low32(result))))
    return out


def message_boxes(calls, texts):
    """(caption, text, type, answer) of each MessageBoxA call; the texts
    from Wine's msgbox trace in the same order where it has them."""
    boxes = []
    for function, args, result in calls:
        if function != 'MessageBoxA' or len(args) < 4:
            continue
        text = texts[len(boxes)] if len(boxes) < len(texts) else args[1]
        boxes.append((args[2], text, _low32(args[3]), ANSWERS.get(_low32(result), result)))
    return boxes


def box_texts(lines):
    """The text of each message box, in order, from Wine's msgbox trace."""
    return [debugstr(m.group(1)) for line in lines
            for m in [re.search(r':msgbox:MSGBOX_OnInit L?"((?:[^"\\]|\\.)*)"', line)] if m]


def processes(calls, started):
    """(command line, creation flags, STARTUPINFO dwFlags, wShowWindow) of
    each CreateProcessA call; the last two from the stand-in's record of
    what it was started with (None where no stand-in ran)."""
    out = []
    launched = list(started)
    for function, args, result in calls:
        if function != 'CreateProcessA' or len(args) < 6:
            continue
        command = args[1]
        record = next((r for r in launched if r[0] == command), None) if result else None
        if record:
            launched.remove(record)
        out.append((command, _low32(args[5]), record[1] if record else None, record[2] if record else None))
    return out


def process_contexts(calls):
    """What each CreateProcessA call passed besides the command line: (the
    inherit flag, whether an environment block was given, the current folder
    or None)."""
    return [(bool(_low32(args[4])), bool(_low32(args[6])), args[7] if isinstance(args[7], str) else None)
            for function, args, _ in calls if function == 'CreateProcessA' and len(args) >= 8]


def read_started(text):
    """The stand-in's records: (command line, dwFlags, wShowWindow)."""
    records = []
    for line in text.splitlines():
        fields = line.rstrip('\r').split('\t')
        if len(fields) == 3:
            records.append((fields[0], int(fields[1], 16), int(fields[2])))
    return records


def read_launcher(text):
    """The launcher's result: {'pid': N, 'exit': N} (or 'error')."""
    return {k: int(v) for k, v in (line.split('=', 1) for line in text.splitlines() if '=' in line)}


_DRIVER_FIELD = re.compile(r':trace:localspl:myAddPrinterDriverEx [0-9A-Fa-f]+: \.(\w+)\s*: (.*)$')


def driver_info(lines):
    """The DRIVER_INFO of setup's last AddPrinterDriver call as Wine's
    localspl trace dumps it: {'cVersion': N, 'pDriverPath': text, ...}
    (None for a NULL string). A multi-string shows up to its first NUL."""
    info = {}
    for line in lines:
        m = _DRIVER_FIELD.search(line)
        if not m:
            continue
        name, value = m.group(1), m.group(2).strip()
        if name == 'cVersion':
            info = {}
            value = int(value.split('/')[-1])
        elif value == '(null)':
            value = None
        elif value.startswith('L"') and value.endswith('"'):
            value = debugstr(value[2:-1])
        info[name] = value
    return info or None


def errors(lines):
    """The err channel's lines of setup's process, without the ids."""
    return [line.split(':', 2)[2] for line in lines if ':err:' in line]
