#!/usr/bin/env python3
"""Checks the built setup.exe without running it.

- PE32, GUI subsystem (2), subsystem and OS version 4.0;
- imports only from the system DLLs, and only functions on the list of
  functions that Windows 95/98 and NT 4.0 export (win9x_nt4_exports.txt);
- resources: icon group 128 (32x32 and 16x16, 16 colours), the version block
  with its exact strings, all in US English; no dialog, menu or string table.

    check_exe.py SETUP_EXE [--objdump PROG] [--exports LIST]

Exits 1 and names every finding when something is off.
"""
import argparse
import os
import re
import struct
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))

RT_ICON, RT_MENU, RT_DIALOG, RT_STRING, RT_GROUP_ICON, RT_VERSION = 3, 4, 5, 6, 14, 16
LANG_EN_US = 0x409

VERSION_STRINGS = {
    'Comments': '',
    'CompanyName': '',
    'FileDescription': 'zentaq Setup',
    'FileVersion': '1, 0, 0, 1',
    'InternalName': 'setup',
    'LegalTrademarks': '',
    'OriginalFilename': 'setup.EXE',
    'PrivateBuild': '',
    'ProductName': 'setup Application',
    'ProductVersion': '1, 0, 0, 1',
    'SpecialBuild': '',
}
SYSTEM_DLLS = {'kernel32', 'advapi32', 'winspool', 'shlwapi', 'shell32', 'user32', 'msvcrt'}


def load_export_list(path):
    allowed = {}
    with open(path, encoding='utf-8') as f:
        for number, line in enumerate(f, 1):
            line = line.strip()
            if not line or line.startswith('#'):
                continue
            m = re.match(r'^(\w+)\s+(\w+)\s+—\s+(\S.*)$', line)
            if not m:
                raise SystemExit(f'{path}:{number}: expected "dll function — source": {line}')
            allowed[(m.group(1).lower(), m.group(2))] = m.group(3)
    return allowed


def read_imports(objdump, exe):
    """{(dll without extension, lower case): [function, ...]} from objdump -p."""
    text = subprocess.run([objdump, '-p', exe], check=True, capture_output=True, text=True).stdout
    imports = {}
    current = None
    for line in text.splitlines():
        m = re.match(r'^\s*DLL Name:\s*(\S+)', line)
        if m:
            current = os.path.splitext(m.group(1))[0].lower()
            imports.setdefault(current, [])
        elif line[:1].strip():  # a heading at the margin ends the import table
            current = None
        elif current is not None:
            m = re.match(r'^\s+[0-9a-fA-F]+\s+\d+\s+(\S+)\s*$', line)
            if m:
                imports[current].append(m.group(1))
    return imports


class Pe:
    def __init__(self, data):
        self.data = data
        if data[:2] != b'MZ':
            raise ValueError('not an MZ executable')
        pe = struct.unpack_from('<I', data, 0x3C)[0]
        if data[pe:pe + 4] != b'PE\0\0':
            raise ValueError('no PE signature')
        self.machine, nsections, _, _, _, opt_size, self.characteristics = struct.unpack_from('<HHIIIHH', data, pe + 4)
        opt = pe + 24
        self.magic = struct.unpack_from('<H', data, opt)[0]
        (self.os_major, self.os_minor, _, _, self.subsys_major, self.subsys_minor) = struct.unpack_from('<6H', data, opt + 40)
        self.subsystem = struct.unpack_from('<H', data, opt + 68)[0]
        ndirs = struct.unpack_from('<I', data, opt + 92)[0]
        self.dirs = [struct.unpack_from('<II', data, opt + 96 + 8 * i) for i in range(ndirs)]
        self.sections = []
        base = opt + opt_size
        for i in range(nsections):
            name, vsize, va, rawsize, rawptr = struct.unpack_from('<8sIIII', data, base + 40 * i)
            self.sections.append((va, max(vsize, rawsize), rawptr))

    def offset(self, rva):
        for va, size, raw in self.sections:
            if va <= rva < va + size:
                return raw + rva - va
        raise ValueError(f'RVA {rva:#x} outside every section')

    def resources(self):
        """[(type, name, language, bytes)] with numeric or string type and name."""
        rva, _ = self.dirs[2]
        if not rva:
            return []
        root = self.offset(rva)
        out = []

        def entries(table):
            named, ids = struct.unpack_from('<HH', self.data, table + 12)
            for i in range(named + ids):
                name, target = struct.unpack_from('<II', self.data, table + 16 + 8 * i)
                if name & 0x80000000:
                    at = root + (name & 0x7FFFFFFF)
                    length = struct.unpack_from('<H', self.data, at)[0]
                    name = self.data[at + 2:at + 2 + 2 * length].decode('utf-16-le')
                yield name, target

        for rtype, t in entries(root):
            for rname, n in entries(root + (t & 0x7FFFFFFF)):
                for lang, leaf in entries(root + (n & 0x7FFFFFFF)):
                    data_rva, size = struct.unpack_from('<II', self.data, root + leaf)[:2]
                    at = self.offset(data_rva)
                    out.append((rtype, rname, lang, self.data[at:at + size]))
        return out


def parse_version(block):
    """The fixed file info and {string table: {name: value}} of a VS_VERSIONINFO."""

    def node(at):
        length, value_length, is_text = struct.unpack_from('<HHH', block, at)
        end = at + length
        key_at = at + 6
        key_end = key_at
        while block[key_end:key_end + 2] != b'\0\0':
            key_end += 2
        key = block[key_at:key_end].decode('utf-16-le')
        value_at = (key_end + 2 + 3) & ~3
        size = value_length * 2 if is_text else value_length
        value = block[value_at:value_at + size]
        children_at = (value_at + size + 3) & ~3
        children = []
        while children_at < end:
            child, child_end = node(children_at)
            children.append(child)
            children_at = (child_end + 3) & ~3
        return (key, value, is_text, children), end

    (key, fixed, _, children), _ = node(0)
    if key != 'VS_VERSION_INFO':
        raise ValueError(f'version block named {key!r}')
    tables = {}
    translations = []
    for ckey, _, _, grand in children:
        if ckey == 'StringFileInfo':
            for tkey, _, _, strings in grand:
                table = tables.setdefault(tkey, {})
                for skey, svalue, is_text, _ in strings:
                    table[skey] = svalue.decode('utf-16-le').rstrip('\0') if is_text else svalue
        elif ckey == 'VarFileInfo':
            for vkey, vvalue, _, _ in grand:
                if vkey == 'Translation':
                    translations += [struct.unpack_from('<HH', vvalue, i) for i in range(0, len(vvalue), 4)]
    return fixed, tables, translations


def check_resources(pe, problems):
    res = pe.resources()
    for rtype, rname, lang, _ in res:
        if rtype in (RT_MENU, RT_DIALOG, RT_STRING):
            problems.append(f'resource of type {rtype} ({rname}) present: the program has no menu, dialog or string table')
        if lang != LANG_EN_US:
            problems.append(f'resource {rtype}/{rname} in language {lang:#x}, not US English')
    kinds = {rtype for rtype, *_ in res}
    if kinds - {RT_ICON, RT_GROUP_ICON, RT_VERSION, 24}:  # 24: a manifest is tolerated
        problems.append(f'unexpected resource types {sorted(kinds - {RT_ICON, RT_GROUP_ICON, RT_VERSION})}')

    groups = [(rname, data) for rtype, rname, _, data in res if rtype == RT_GROUP_ICON]
    if [name for name, _ in groups] != [128]:
        problems.append(f'icon groups {[name for name, _ in groups]}, expected exactly 128')
    icons = {rname: data for rtype, rname, _, data in res if rtype == RT_ICON}
    for _, data in groups:
        _, kind, count = struct.unpack_from('<HHH', data, 0)
        sizes = []
        for i in range(count):
            w, h, colours, _, planes, bits, size, ident = struct.unpack_from('<BBBBHHIH', data, 6 + 14 * i)
            sizes.append((w, h))
            if colours != 16 or bits != 4:
                problems.append(f'icon {w}x{h}: {colours} colours, {bits} bits, expected 16 colours, 4 bits')
            image = icons.get(ident)
            if image is None:
                problems.append(f'icon group names image {ident}, which is missing')
                continue
            _, bw, bh, _, bbits = struct.unpack_from('<IiiHH', image, 0)
            if (bw, bh // 2, bbits) != (w, h, 4):
                problems.append(f'icon image {ident}: {bw}x{bh // 2} at {bbits} bits, group says {w}x{h} at 4')
        if kind != 1 or sorted(sizes) != [(16, 16), (32, 32)]:
            problems.append(f'icon group 128 has images {sizes}, expected 32x32 and 16x16')

    versions = [data for rtype, _, _, data in res if rtype == RT_VERSION]
    if len(versions) != 1:
        problems.append(f'{len(versions)} version blocks, expected 1')
        return
    fixed, tables, translations = parse_version(versions[0])
    signature, _, ms, ls, pms, pls = struct.unpack_from('<6I', fixed, 0)
    if signature != 0xFEEF04BD or (ms, ls, pms, pls) != (0x10000, 1, 0x10000, 1):
        problems.append('fixed file info is not version 1.0.0.1')
    if list(tables) != ['040904b0']:
        problems.append(f'string tables {list(tables)}, expected only 040904b0')
    for name, table in tables.items():
        if table != VERSION_STRINGS:
            for key in sorted(set(table) | set(VERSION_STRINGS)):
                if table.get(key) != VERSION_STRINGS.get(key):
                    problems.append(f'version string {key}: {table.get(key)!r}, expected {VERSION_STRINGS.get(key)!r}')
    if translations != [(LANG_EN_US, 1200)]:
        problems.append(f'translations {translations}, expected [(0x409, 1200)]')


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument('exe')
    parser.add_argument('--objdump', default='i686-w64-mingw32-objdump')
    parser.add_argument('--exports', default=os.path.join(HERE, 'win9x_nt4_exports.txt'))
    args = parser.parse_args()

    problems = []
    with open(args.exe, 'rb') as f:
        pe = Pe(f.read())
    if pe.magic != 0x10B or pe.machine != 0x14C:
        problems.append(f'not PE32 for i386 (magic {pe.magic:#x}, machine {pe.machine:#x})')
    if pe.subsystem != 2:
        problems.append(f'subsystem {pe.subsystem}, expected 2 (Windows GUI)')
    if (pe.subsys_major, pe.subsys_minor) != (4, 0):
        problems.append(f'subsystem version {pe.subsys_major}.{pe.subsys_minor}, expected 4.0')
    if (pe.os_major, pe.os_minor) != (4, 0):
        problems.append(f'OS version {pe.os_major}.{pe.os_minor}, expected 4.0')

    allowed = load_export_list(args.exports)
    imports = read_imports(args.objdump, args.exe)
    if not imports:
        problems.append('no imports read: objdump output not understood')
    for dll, functions in sorted(imports.items()):
        if dll not in SYSTEM_DLLS:
            problems.append(f'imports from {dll}.dll, which is not a system DLL (is the runtime linked statically?)')
            continue
        for function in functions:
            if (dll, function) not in allowed:
                problems.append(f'imports {dll} {function}, which is not on {os.path.basename(args.exports)}')

    check_resources(pe, problems)
    for p in problems:
        print(f'FAIL: {p}')
    count = sum(len(f) for f in imports.values())
    print(f'{args.exe}: {count} imports from {len(imports)} DLLs checked, '
          f'{"no problems" if not problems else f"{len(problems)} problems"}')
    return 1 if problems else 0


if __name__ == '__main__':
    sys.exit(main())
