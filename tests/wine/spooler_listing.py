"""What the spooler answers an application after a step, on each side: the
output of programs/spoolview.cpp (run under Wine, and over the simulated
machine) read into a Listing, checked on its own side for the form of an
Enum answer, and compared with the other side for the product's entries and
the layout of the records."""
import re

import views

ERROR_INSUFFICIENT_BUFFER = 0x7a

# The product's entries, by the call that lists them and the field that
# names them.
PRODUCT_ENTRIES = [
    ('EnumMonitorsA', 1, 'pName', 'ZENTAQ Monitor'),
    ('EnumMonitorsA', 2, 'pName', 'ZENTAQ Monitor'),
    ('EnumPortsA', 1, 'pName', 'ZENTAQPORT'),
    ('EnumPortsA', 2, 'pPortName', 'ZENTAQPORT'),
    ('EnumPrinterDriversA', 1, 'pName', 'ZENTAQ Printer Driver'),
    ('EnumPrinterDriversA', 2, 'pName', 'ZENTAQ Printer Driver'),
    ('EnumPrinterDriversA', 3, 'pName', 'ZENTAQ Printer Driver'),
    ('EnumPrintersA', 2, 'pPrinterName', 'ZENTAQ'),
]
# Every call the listing makes (where the side has it).
EVERY_CALL = [('EnumMonitorsA', 1), ('EnumMonitorsA', 2), ('EnumPortsA', 1), ('EnumPortsA', 2),
              ('EnumPrinterDriversA', 1), ('EnumPrinterDriversA', 2), ('EnumPrinterDriversA', 3),
              ('EnumPrintersA', 2), ('GetPrinterDriverDirectoryA', 1)]
# The calls whose `needed` is the records and their strings alone (no
# DEVMODE or security descriptor): exactly count * record size + the
# strings' characters, one or two bytes each.
PACKED_CALLS = ('EnumMonitorsA', 'EnumPortsA')
NULL, UNREADABLE = '\\N', '\\?'


class Listing:
    def __init__(self):
        self.calls = {}        # (api, level) -> {'probe': (ok, error, needed, returned), 'fill': (..., size, record size)}
        self.records = {}      # (api, level) -> [{field: text}] in order
        self.misplaced = []    # (api, level, index, field, offset)
        self.unavailable = set()
        self.opened = None     # (ok, error) of OpenPrinterA of the product's printer
        self.closed = None
        self.malformed = []

    def available(self, api):
        return api not in self.unavailable

    def entries(self, api, level, field, name):
        """The records that name `name` (a spooler names each thing once)."""
        return [r for r in self.records.get((api, level), []) if r.get(field, '').lower() == name.lower()]

    def entry(self, api, level, field, name):
        """The record that names `name`, or None; Ellipsis where the call is unavailable."""
        if not self.available(api):
            return Ellipsis
        found = self.entries(api, level, field, name)
        return found[0] if found else None


def unescape(text):
    return re.sub(r'\\([tn\\])', lambda m: {'t': '\t', 'n': '\n', '\\': '\\'}[m.group(1)], text)


def parse(text):
    listing = Listing()
    for line in text.splitlines():
        f = line.split('\t')
        try:
            if f[0] == 'call':
                key, values = (f[1], int(f[2])), [int(f[4]), int(f[5], 16), int(f[6]), int(f[7])]
                if f[3] == 'fill':
                    values += [int(f[8]), int(f[9])]
                listing.calls.setdefault(key, {})[f[3]] = tuple(values)
            elif f[0] == 'record':
                record = {}
                for item in f[4:]:
                    name, value = item.split('=', 1)
                    record[name] = value if value in (NULL, UNREADABLE) else unescape(value)
                listing.records.setdefault((f[1], int(f[2])), []).append(record)
            elif f[0] == 'misplaced':
                listing.misplaced.append((f[1], int(f[2]), int(f[3]), f[4], int(f[5])))
            elif f[0] == 'unavailable':
                listing.unavailable.add(f[1])
            elif f[0] == 'open':
                listing.opened = (int(f[2]), int(f[3], 16))
            elif f[0] == 'close':
                listing.closed = int(f[2])
            else:
                listing.malformed.append(line)
        except (IndexError, ValueError):
            listing.malformed.append(line)
    return listing


# --- running it -----------------------------------------------------------------------

def listing_of(data, failed):
    listing = parse(data.decode('latin-1'))
    if failed:
        listing.malformed.append(failed)
    return listing


def run_sim(program, machine, work, number, limit):
    """The listing of the simulated machine after step `number`."""
    return listing_of(*views.run_sim('spoolview', program, machine, work, number, limit))


def run_wine(wine, prefix, helpers, work, number, limit):
    """The listing under Wine after step `number`: one more Wine process in the
    prefix, which loads the spooler's monitors itself, as any application's
    does."""
    return listing_of(*views.run_wine('spoolview', wine, prefix, helpers, work, number, limit))


# --- checks on one side -----------------------------------------------------------------

def string_room(records):
    """Characters of the records' strings with their NULs (a multi-string's
    names each with one, and one more)."""
    total = 0
    for record in records:
        for name, value in record.items():
            if value in (NULL, UNREADABLE) or value.startswith('0x') or name == 'pDevMode':
                continue
            total += (sum(len(n) + 1 for n in value.split(' ')) + 1) if name == 'pDependentFiles' else len(value) + 1
    return total


def char_width(listing, key):
    """1 or 2: the bytes a character of the strings takes in `needed`; None
    where `needed` is neither."""
    fill = listing.calls.get(key, {}).get('fill')
    if not fill or not fill[0]:
        return None
    needed, returned, record_size = fill[2], fill[3], fill[5]
    strings = string_room(listing.records.get(key, []))
    for width in (1, 2):
        if needed == returned * record_size + width * strings:
            return width
    return None


def check_side(c, side, listing):
    """The form of every answer: an empty probe fails with 122 and asks for
    the size that the second call, given exactly that, fills with as many
    records as it says; every string inside the buffer, past the records;
    `needed` of the packed calls the records and their strings alone."""
    c.check(f'{side}: spooler listing readable', not listing.malformed, '; '.join(listing.malformed)[:500])
    missing = [key for key in EVERY_CALL if key not in listing.calls and not (key[0] in listing.unavailable)]
    c.check(f'{side}: spooler listing complete', not missing and listing.opened is not None, f'{missing} missing')
    for (api, level), calls in sorted(listing.calls.items()):
        probe, fill = calls.get('probe'), calls.get('fill')
        name = f'{side}: {api} level {level}'
        if probe is None:
            c.check(f'{name} probed', False)
            continue
        ok, error, needed, returned = probe
        short = calls.get('short')
        c.check(f'{name}: a buffer one byte short fails with 122 and asks for the same size',
                needed == 0 or (short is not None and not short[0] and short[1] == ERROR_INSUFFICIENT_BUFFER
                                and short[2] == needed and short[3] == 0), f'{short}')
        if api == 'GetPrinterDriverDirectoryA':
            c.check(f'{name}: the probe fails with 122, the exact size succeeds',
                    not ok and error == ERROR_INSUFFICIENT_BUFFER and fill is not None and fill[0] == 1
                    and fill[2] == needed, f'{probe} {fill}')
            continue
        c.check(f'{name}: the probe without a buffer fails with 122 where there is something to list',
                (not ok and error == ERROR_INSUFFICIENT_BUFFER and needed > 0 and returned == 0)
                or (ok and needed == 0), f'{probe}')
        records = listing.records.get((api, level), [])
        # A Get function returns one record and no count.
        count = 1 if api == 'GetPrinterA' else fill[3] if fill else None
        c.check(f'{name}: the exact size succeeds with the records of the size asked for',
                fill is not None and fill[0] == 1 and fill[2] == needed and count == len(records)
                and (needed == 0 or len(records) > 0), f'{probe} {fill} {len(records)} records')
        if api in PACKED_CALLS and records:
            c.check(f'{name}: needed is the records and their strings', char_width(listing, (api, level)) is not None,
                    f'{fill}, {string_room(records)} characters')
    c.check(f'{side}: every string inside its buffer, past the records', not listing.misplaced,
            f'{listing.misplaced}')
    if listing.opened and listing.opened[0]:
        c.check(f'{side}: ClosePrinter of the opened printer', listing.closed == 1)


PRINTER_AS_ADDED = {'pPortName': 'ZENTAQPORT', 'pDriverName': 'ZENTAQ Printer Driver', 'pPrintProcessor': 'winprint',
                    'pDatatype': 'RAW'}
# What a step leaves the spooler listing: (monitor and port, driver, printer).
PRESENCE = {'installed': (True, True, True), 'no-driver': (True, False, False), 'untouched': (False, False, False),
            'removed': (False, False, False), 'removed-entry-kept': (False, False, False)}


def check_presence(c, side, listing, state):
    if state not in PRESENCE:
        return  # a run that met trouble: its listing is compared side against side only
    monitor, driver, printer = PRESENCE[state]
    for api, level, field, name in PRODUCT_ENTRIES:
        entry = listing.entry(api, level, field, name)
        if entry is Ellipsis:
            continue
        expected = driver if api == 'EnumPrinterDriversA' else printer if api == 'EnumPrintersA' else monitor
        verb = 'lists' if expected else 'does not list'
        c.check(f'{side}: {api} level {level} {verb} {name}',
                len(listing.entries(api, level, field, name)) == (1 if expected else 0))
    c.check(f'{side}: OpenPrinterA of the product\'s printer {"succeeds" if printer else "fails"}',
            listing.opened is not None and bool(listing.opened[0]) == printer, f'{listing.opened}')
    listed = listing.entry('EnumPrintersA', 2, 'pPrinterName', 'ZENTAQ')
    if printer and listed not in (None, Ellipsis):
        # Where the side lists printers (Wine): the printer as setup added it,
        # with the print processor's default datatype, and GetPrinterA of it
        # the same record.
        got = {k: listed.get(k) for k in ('pPortName', 'pDriverName', 'pPrintProcessor', 'pDatatype')}
        got['pPrintProcessor'] = (got['pPrintProcessor'] or '').lower()
        c.check(f'{side}: EnumPrintersA lists the printer on its port, driver, print processor and datatype',
                got == PRINTER_AS_ADDED, f'{got}')
        c.check(f'{side}: GetPrinterA level 2 gives the record EnumPrintersA lists',
                listing.records.get(('GetPrinterA', 2)) == [listed], f'{listing.records.get(("GetPrinterA", 2))}')


# --- the two sides --------------------------------------------------------------------

def compare_step(c, ctx, wine, sim, normalise_entry, normalise_width):
    """The product's entries field by field, and the layout facts of every
    call both sides make; Wine's own entries are not looked for."""
    for side, listing in (('wine', wine), ('sim', sim)):
        check_side(c, side, listing)
        check_presence(c, side, listing, ctx.step.state)
    for api, level, field, name in PRODUCT_ENTRIES:
        w, s = wine.entry(api, level, field, name), sim.entry(api, level, field, name)
        if w is Ellipsis or s is Ellipsis:
            continue
        c.field(f'spooler: {api} level {level} entry {name}', w, s, normalise_entry(ctx))
    c.field('spooler: OpenPrinterA of the product\'s printer (result, last error if it failed)',
            wine.opened and (wine.opened[0], 0 if wine.opened[0] else wine.opened[1]),
            sim.opened and (sim.opened[0], 0 if sim.opened[0] else sim.opened[1]))
    for key in sorted(set(wine.calls) & set(sim.calls)):
        wp, sp = wine.calls[key].get('probe'), sim.calls[key].get('probe')
        if wp and sp and wp[2] and sp[2]:
            c.field(f'spooler: {key[0]} level {key[1]} probe (result, last error)', wp[:2], sp[:2])
        if key[0] in PACKED_CALLS and wine.records.get(key) and sim.records.get(key):
            c.field(f'spooler: {key[0]} level {key[1]} bytes of a character in needed', char_width(wine, key),
                    char_width(sim, key), normalise_width(ctx))
