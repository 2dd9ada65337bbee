"""The registry files of Wine's prefixes and of the simulated machine, read
into one form so that both compare value by value: keys relative to
HKEY_LOCAL_MACHINE, compared without regard to case, each value with its
type and exact bytes. Also the one write the tests make into a Wine registry
file (Wine's own settings, while no wineserver has the prefix open).
"""
import os
import re
import time

REG_SZ, REG_EXPAND_SZ, REG_BINARY, REG_DWORD, REG_MULTI_SZ = 1, 2, 3, 4, 7


def sz(text):
    """A REG_SZ value as both sides read it: the text and its NUL."""
    return (REG_SZ, text.encode('latin-1') + b'\0')


def dword(n):
    return (REG_DWORD, n.to_bytes(4, 'little'))


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
