"""The mutants of a set of source folders: where the sources can take a
small fault (an operator, a constant, TRUE/FALSE, a call removed, two
statements swapped, a string literal altered), read from the text with a
little knowledge of C++: comments and literals are masked, statements are
those of function bodies. Used by scripts/mutate.py."""
import os
import re


class Mutant:
    def __init__(self, path, line, op, before, after, span=1):
        self.path, self.line, self.op, self.before, self.after, self.span = path, line, op, before, after, span
        self.occurrence, self.occurrences = 1, 1  # among the file's mutants of the same text

    def text_key(self):
        return (self.path, self.op, norm(self.before), norm(self.after))

    def describe(self):
        text = "%s:%d [%s] '%s' -> '%s'" % (self.path, self.line, self.op, norm(self.before), norm(self.after))
        return text + (' #%d' % self.occurrence if self.occurrences > 1 else '')


def norm(text):
    return ' '.join(text.split())


# --- reading the sources ----------------------------------------------------------

def mask(lines):
    """Each line with comments blanked and the insides of string and character
    literals replaced by '_', so that operator patterns see code only."""
    out = []
    in_block = False
    for text in lines:
        chars = list(text)
        i = 0
        while i < len(chars):
            c = chars[i]
            if in_block:
                if text.startswith('*/', i):
                    chars[i] = chars[i + 1] = ' '
                    in_block = False
                    i += 2
                    continue
                chars[i] = ' '
                i += 1
            elif text.startswith('//', i):
                for j in range(i, len(chars)):
                    chars[j] = ' '
                break
            elif text.startswith('/*', i):
                in_block = True
                chars[i] = chars[i + 1] = ' '
                i += 2
            elif c in '"\'':
                j = i + 1
                while j < len(chars) and chars[j] != c:
                    if chars[j] == '\\':
                        chars[j] = '_'
                        j += 1
                    if j < len(chars):
                        chars[j] = '_'
                    j += 1
                i = j + 1
            else:
                i += 1
        out.append(''.join(chars))
    return out


def literals(text, masked):
    """(start, end) of each string literal on the line, quotes included."""
    spans = []
    i = 0
    while i < len(masked):
        if masked[i] == '"' and (i == 0 or masked[i - 1] not in "'"):
            j = masked.index('"', i + 1) if '"' in masked[i + 1:] else len(masked) - 1
            spans.append((i, j + 1))
            i = j + 1
        else:
            i += 1
    return spans


CALL = re.compile(r'^(\s*)(?:[A-Za-z_]\w*(?:::|\.|->))*[A-Za-z_]\w*\s*\(')
KEYWORDS = ('return', 'if', 'while', 'for', 'switch', 'delete', 'throw', 'case', 'sizeof', 'else', 'do', 'alignas')
STATEMENT_START = re.compile(r'^\s*[A-Za-z_(*&]')
INTEGER = re.compile(r'(?<![\w.])(0[xX][0-9A-Fa-f]+|\d+)([uUlL]*)(?![\w.])')
RELATIONAL = [(' == ', ' != '), (' != ', ' == '), (' <= ', ' < '), (' >= ', ' > '), (' < ', ' <= '),
              (' > ', ' >= ')]


def balanced_end(masked, start):
    """Index of the line that closes the statement begun at `start`: parentheses
    balanced and the line ending in ';'. None when it isn't a plain statement."""
    depth = 0
    for k in range(start, min(start + 8, len(masked))):
        code = masked[k]
        if '{' in code or '}' in code:
            return None
        depth += code.count('(') - code.count(')')
        if depth == 0 and code.rstrip().endswith(';'):
            return k
    return None


def sites(path, lines):
    masked = mask(lines)
    found = []

    def add(index, op, after, span=1):
        before = '\n'.join(lines[index:index + span])
        if after != before:
            found.append(Mutant(path, index + 1, op, before, after, span))

    statements = {}  # first line -> last line of single statements that are not blocks
    for i, (text, code) in enumerate(zip(lines, masked)):
        stripped = code.strip()
        if not stripped or stripped.startswith('#') or 'static_assert' in stripped:
            continue

        for old, new in RELATIONAL:
            for m in re.finditer(re.escape(old), code):
                add(i, 'compare', text[:m.start()] + new + text[m.end():])
        for old, new in ((' && ', ' || '), (' || ', ' && ')):
            for m in re.finditer(re.escape(old), code):
                add(i, 'logic', text[:m.start()] + new + text[m.end():])
        for m in re.finditer(r'!(?!=)(?=[\w(])', code):
            add(i, 'logic', text[:m.start()] + text[m.end():])
        for m in re.finditer(r'\b(TRUE|FALSE|true|false)\b', code):
            swap = {'TRUE': 'FALSE', 'FALSE': 'TRUE', 'true': 'false', 'false': 'true'}[m.group(1)]
            add(i, 'bool', text[:m.start()] + swap + text[m.end():])
        for m in INTEGER.finditer(code):
            digits, suffix = m.group(1), m.group(2)
            octal = len(digits) > 1 and digits[0] == '0' and digits[1] not in 'xX'  # 0644: a file mode
            value = int(digits, 8) if octal else int(digits, 0)
            new = 1 if value == 0 else (0 if value == 1 else value + 1)
            literal = ('0%o' % new if octal else hex(new) if digits.lower().startswith('0x') else str(new)) + suffix
            add(i, 'integer', text[:m.start()] + literal + text[m.end():])
        for start, end in literals(text, code):
            inner = text[start + 1:end - 1]
            changed = '~' + inner  # in front, where it splits no escape and no format
            add(i, 'string', text[:start] + '"' + changed + '"' + text[end:])

        # Statements are those of function bodies: indented, while names and
        # declarations at namespace level stand at the margin.
        if indent_of(code) >= 2 and STATEMENT_START.match(code) and \
                not stripped.startswith(KEYWORDS + ('}', '{', 'public', 'private', 'namespace', 'using', 'template')):
            end = balanced_end(masked, i)
            if end is not None:
                statements[i] = end
                call = CALL.match(code)
                if call and not call.group(0).strip().startswith(KEYWORDS):
                    span = end - i + 1
                    indent = call.group(1)
                    add(i, 'remove-call', '\n'.join([indent + ';'] + [''] * (span - 1)), span)

    # Two adjacent single statements at the same indentation, swapped. Two
    # declarations that call nothing can trade places without any effect.
    swappable = {i: end for i, end in statements.items() if not plain_declaration(masked[i:end + 1])}
    for first, last in sorted(swappable.items()):
        second = last + 1
        if second in swappable and indent_of(lines[first]) == indent_of(lines[second]):
            end = swappable[second]
            if independent_assignments(' '.join(masked[first:last + 1]), ' '.join(masked[second:end + 1])):
                continue
            block_a = lines[first:last + 1]
            block_b = lines[second:end + 1]
            add(first, 'swap', '\n'.join(block_b + block_a), end - first + 1)
    return found


def plain_declaration(code_lines):
    """A declaration (a type and a name) whose initialiser, if any, calls nothing."""
    code = re.sub(r'alignas\([^)]*\)', '', ' '.join(code_lines)).strip()
    if '(' in code:
        return False
    head = re.split(r'[=;{]', code, 1)[0]
    words = re.findall(r'[A-Za-z_][\w:<>,]*', head)
    return len(words) >= 2 and words[0] not in KEYWORDS


def independent_assignments(a, b):
    """Two assignments that call nothing and don't read each other's target."""
    if '(' in a or '(' in b or '=' not in a or '=' not in b:
        return False
    target_a, target_b = a.split('=', 1)[0].strip(), b.split('=', 1)[0].strip()
    return target_a not in b and target_b not in a


def indent_of(text):
    return len(text) - len(text.lstrip())


def all_sites(tree, folders, excluded=()):
    """Every mutant of the .cpp and .h files directly in the folders (paths
    relative to tree), but for the files excluded."""
    found = []
    for folder in folders:
        for name in sorted(os.listdir(os.path.join(tree, folder))):
            path = folder + '/' + name
            if not name.endswith(('.cpp', '.h')) or path in excluded:
                continue
            with open(os.path.join(tree, path), encoding='latin-1') as f:
                lines = f.read().split('\n')
            mutants = sites(path, lines)
            # Mutants of the same text in one file are told apart by their
            # place among them, which edits elsewhere in the file don't change.
            seen = {}
            for m in mutants:
                seen[m.text_key()] = seen.get(m.text_key(), 0) + 1
                m.occurrence = seen[m.text_key()]
            for m in mutants:
                m.occurrences = seen[m.text_key()]
            found.extend(mutants)
    return found


def apply(tree, mutant):
    full = os.path.join(tree, mutant.path)
    with open(full, encoding='latin-1') as f:
        lines = f.read().split('\n')
    lines[mutant.line - 1:mutant.line - 1 + mutant.span] = mutant.after.split('\n')
    with open(full, 'w', encoding='latin-1') as f:
        f.write('\n'.join(lines))
