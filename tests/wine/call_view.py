"""What the calls that setup makes outside the spooler answer after a step,
on each side: the output of programs/callview.cpp (files, profile strings,
the registry, the service control manager), one call a line, compared line
by line. Wine's side runs it once setup has ended, as the spooler listing."""
import views
import wine_traces

# Wine's answer for the spooler service where the step started none: it is
# started on demand, so it has never run (SERVICE_STOPPED, and
# ERROR_SERVICE_NEVER_STARTED as its exit code); Windows' spooler runs from
# boot (SERVICE_RUNNING, exit code 0).
SPOOLER_STATUS = 'service status'
NEVER_STARTED = ['1', '-', '1', '1077']
RUNNING = ['1', '-', '4', '0']


def lines_of(data, failed):
    lines = [line.rstrip('\r') for line in data.decode('latin-1').splitlines()]
    return lines + [failed] if failed else lines


def run_sim(program, machine, work, number, limit):
    """(callview's lines, the simulated machine's functions it called)."""
    called = []
    return lines_of(*views.run_sim('callview', program, machine, work, number, limit, called)), called


def run_wine(wine, prefix, helpers, work, number, limit):
    """(callview's lines, the simulated machine's functions that its image
    called under Wine's relay, by name)."""
    calls = []
    lines = lines_of(*views.run_wine('callview', wine, prefix, helpers, work, number, limit, calls))
    return lines, names_called(calls, wine_traces.boundary_names())


# The 32-bit runtime's lookup at start (crtbegin's frame registration asks
# for libgcc's library), made from inside the program's image.
RUNTIME_LOOKUP = ('GetModuleHandleA', ['libgcc_s_dw2-1.dll'])
RUNTIME_MARK = 'GetModuleHandleA (the runtime\'s lookup of libgcc at start)'


def names_called(calls, boundary):
    """The boundary functions among `calls`, each once; a function that only
    the runtime's lookup called is marked as that."""
    names = {c[0] for c in calls if (c[0], c[1]) != RUNTIME_LOOKUP} & set(boundary)
    if any((c[0], c[1]) == RUNTIME_LOOKUP for c in calls) and RUNTIME_LOOKUP[0] not in names:
        names.add(RUNTIME_MARK)
    return sorted(names)


# Calls that Windows refuses and Wine 8.0 lets through (and one that the
# simulated machine refuses by design): the label, the fields of the
# simulated side's required answer, Wine's, the difference (DIFFERENCES), and
# whether Windows refuses on NT only (the 9x registry has no security; on 9x
# callview adds no printers).
LET_THROUGH = {
    'add printer with a comma': (['0', '1801'], ['1', '-'], 'printer-add-unchecked', True),
    'add printer on an unknown port': (['0', '1796'], ['1', '-'], 'printer-add-unchecked', True),
    'add printer with an empty port name': (['0', '1796'], ['1', '-'], 'printer-add-unchecked', True),
    'reg create sub through it': (['5'], ['0'], 'subkey-without-create-right', True),
    # Not Windows' answer but the simulated machine's by design (see
    # DIFFERENCES): Windows and Wine take a line break in a key name.
    'reg create with a line break': (['87'], ['0'], 'key-name-line-break', False),
    # The position 4 GiB without a high part: Windows fails with
    # INVALID_SET_FILE_POINTER and ERROR_INVALID_PARAMETER; Wine returns the
    # low part (0) and leaves the last error alone.
    'seek to 4 GiB without a high part': (['1', '-', '4294967295', '87'], ['1', '-', '0', '3735928559'],
                                          'seek-past-32-bits', False),
}


def norm_called(wine_lines):
    """The functions that callview called: the DeletePrinter of each printer
    that Wine added where Windows refuses it (printer-add-unchecked) is
    Wine's alone, and so is the 32-bit runtime's lookup at start
    (runtime-module-lookup)."""
    added = any(line.split('\t')[:2] == [label, '1'] for line in wine_lines
                for label, entry in LET_THROUGH.items() if entry[2] == 'printer-add-unchecked')

    def normalise(wine, sim):
        wine, used = list(wine), []
        if added and 'DeletePrinter' in wine and 'DeletePrinter' not in sim:
            wine.remove('DeletePrinter')
            used.append('printer-add-unchecked')
        if RUNTIME_MARK in wine:
            wine.remove(RUNTIME_MARK)
            used.append('runtime-module-lookup')
        return wine, sim, used
    return normalise


# Calls that one target system answers in its own way, which Wine, emulating
# only the version that system reports, answers as the others do: the label,
# the system, the simulated side's required answer, Wine's, the difference.
SYSTEM_ANSWERS = {
    'write profile without a section': ('nt4', ['0', '87'], ['0', '2'], 'profile-no-section-nt4'),
}


def norm_system_answers(wine, sim, system):
    """On the system that answers one of SYSTEM_ANSWERS's calls its own way,
    the simulated side must give that answer where Wine gives the others'."""
    used = []
    for i, line in enumerate(sim):
        label, *fields = line.split('\t')
        entry = SYSTEM_ANSWERS.get(label)
        if not entry or entry[0] != system or i >= len(wine) or wine[i].split('\t') != [label, *entry[2]]:
            continue
        if fields == entry[1]:
            sim[i] = wine[i]
            used.append(entry[3])
        else:
            sim[i] = line + f' ({system} answers ' + ' '.join(entry[1]) + ')'
    return wine, sim, used


def norm_let_through(wine, sim, nt):
    """Where Wine answers one of LET_THROUGH's calls in its own form, the
    simulated side must answer with the refusal listed there, and the two are taken
    as equal; a simulated side that let the call through too differs."""
    used = []
    for i, line in enumerate(sim):
        label, *fields = line.split('\t')
        if label not in LET_THROUGH or i >= len(wine):
            continue
        windows, wine_form, name, nt_only = LET_THROUGH[label]
        if nt_only and not nt:
            continue
        if wine[i].split('\t') != [label, *wine_form]:
            continue
        if fields == windows:
            sim[i] = wine[i]
            used.append(name)
        else:
            sim[i] = line + ' (Windows answers ' + ' '.join(windows) + ')'
    return wine, sim, used


def norm_calls(started_on_wine, nt, system=None):
    """Where the step started no spooler service on Wine's side, Wine's
    spooler service has never run: that form is required there (see
    DIFFERENCES, spooler-service-not-started); the file another program
    wrote is in Wine's form (profile-rewritten-whole); the calls Wine lets
    through must be refused on the simulated side (LET_THROUGH); everything
    else must be equal."""
    def normalise(wine, sim):
        wine, sim, used = norm_profile_rewrite(wine, sim)
        wine, sim, more = norm_let_through(wine, sim, nt)
        used += more
        wine, sim, more = norm_system_answers(wine, sim, system)
        used += more
        if started_on_wine:
            return wine, sim, used
        for i, line in enumerate(sim):
            label, *fields = line.split('\t')
            if label == SPOOLER_STATUS:
                sim[i] = '\t'.join([SPOOLER_STATUS, *NEVER_STARTED]) if fields == RUNNING else \
                    line + ' (Windows: ' + ' '.join(RUNNING) + ')'
                used.append('spooler-service-not-started')
        return wine, sim, used
    return normalise


# callview's file written by hand: as written, then after a key added to
# its first section, then after one added to its last.
AS_WRITTEN = 'profile file as written'
BY_HAND = 'profile file by hand bytes'
BY_HAND_LAST = 'profile file by hand, last section bytes'
ADDED_FIRST = 'Added=three\\r\\n'


def profile_rewritten(data):
    """A profile file's bytes as Wine's kernel32 writes the whole file back
    after any change: lines trimmed, blank ones dropped, blanks around '='
    removed, each line ended with CR LF."""
    out = []
    for line in data.decode('latin-1').replace('\r', '').split('\n'):
        line = line.strip()
        if not line:
            continue
        if '=' in line and not line.startswith((';', '[')):
            name, value = line.split('=', 1)
            line = name.strip() + '=' + value.strip()
        out.append(line + '\r\n')
    return ''.join(out).encode('latin-1')


def wine_profile_form(text):
    """profile_rewritten of a file as callview prints it (the escapes \\r
    and \\n for its line ends)."""
    real = text.replace('\\r', '\r').replace('\\n', '\n').encode('latin-1')
    return profile_rewritten(real).decode('latin-1').replace('\r', '\\r').replace('\n', '\\n')


def kept_as_written(label, text, as_written):
    """Windows changes only the line of the key it writes: after the key
    added to the first section the file is as written but for that line
    (the last line still without a line end); after the one added to the
    last section, at least not in the form Wine writes back whole."""
    if label == BY_HAND:
        return ADDED_FIRST in text and text.replace(ADDED_FIRST, '', 1) == as_written
    return wine_profile_form(text) != text


def norm_profile_rewrite(wine, sim):
    """Wine's form of the file that another program wrote, which the
    simulated machine must have kept but for the lines it added."""
    wine, sim, used = list(wine), list(sim), []
    as_written = next((line.partition('\t')[2] for line in sim if line.startswith(AS_WRITTEN + '\t')), None)
    for i, line in enumerate(sim):
        label, _, text = line.partition('\t')
        if label not in (BY_HAND, BY_HAND_LAST):
            continue
        # Where the simulated side didn't keep the file as written, Wine's
        # form is no answer of Windows, and the line is left to differ.
        if kept_as_written(label, text, as_written):
            sim[i] = label + '\t' + wine_profile_form(text)
        else:
            sim[i] = label + '\t' + text + ' (not kept as written, as Windows keeps the lines it does not change)'
        used.append('profile-rewritten-whole')
    return wine, sim, used
