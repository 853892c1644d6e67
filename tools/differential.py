"""The differential runner behind tools/differential, whose header says what it does, how to
run it and what it normalises.

The parts, in order: building a side's programs; trees (a board state on disk and back); one
program run; the bytes a case is made of (characters in each code, form encoding); template
mutation; board states; requests; cases; comparison; the report.

Everything random comes from random.Random(f"{seed}/{name}"), so that a case, and each base
board, depends on the seed and its own name alone: case K replays without the cases before it.
"""
import argparse
import dataclasses
import difflib
import fcntl
import os
import random
import re
import shutil
import stat
import subprocess
import sys
import time
from collections import Counter
from pathlib import Path

REPO = Path(__file__).resolve().parent.parent
CACHE = REPO / 'build-differential'
WORK = CACHE / 'work'
BOARD = WORK / 'board'  # every case's tree lives here, on both sides
KEPT = CACHE / 'kept'

PROGRAMS = ('zt-write', 'zt-view', 'zt-read', 'zt-admin')
RUN_SECONDS = 20
TZ = b'JST-9'
TZ_OFFSET_SECONDS = 9 * 3600
LOCK_TIMES = (981140706, 4102444800)  # 2001-02-03 04:05:06 and 2100-01-01 09:00:00, in JST

UNIT = 8
PAGE = 2048
MAX_BODY = 1024  # the intake's limit on CONTENT_LENGTH (32768 before the form was bounded)

TEXT = 'zt/zt-text.txt'
THEME = 'zt/zt-theme.txt'
LAST_POSTER = 'zt/zt-jti.txt'
LOCK_PARENT = 'lock'
LOCK = 'lock/zt.lck'
LOGS = [f'zt/zt-com{d}.txt' for d in range(1, 9)]
RECORD_TEMPLATES = [f'zt/zt-com{d}.htm' for d in range(1, 9)]
WRITE_TEMPLATE = 'zt/zt-write.htm'
VIEW_TEMPLATE = 'zt/zt-view.htm'
READ_TEMPLATE = 'zt/zt-read.htm'
PAGE_TEMPLATES = [WRITE_TEMPLATE, VIEW_TEMPLATE, READ_TEMPLATE]
TEMPLATES = PAGE_TEMPLATES + RECORD_TEMPLATES
BOARD_FILES = TEMPLATES + [TEXT, THEME, LAST_POSTER] + LOGS

DIR = 'dir'  # a directory in a tree; any other value is a file's bytes


def fail(message):
    print(f'tools/differential: {message}', file=sys.stderr)
    sys.exit(2)


# ---------------------------------------------------------------------------------------
# Building a side

@dataclasses.dataclass
class Side:
    name: str      # 'old' or 'new'
    label: str     # what the report calls it
    commit: str    # the resolved commit, or '' for the working tree
    bin: Path


def git(*args):
    return subprocess.run(['git', '-C', str(REPO), *args], check=True, capture_output=True).stdout


def build_side(name, ref):
    """Builds the four release programs of a revision (or of the working tree when ref is
    empty) and returns where they are."""
    if ref:
        try:
            commit = git('rev-parse', '--verify', '--quiet', f'{ref}^{{commit}}').decode().strip()
        except subprocess.CalledProcessError:
            fail(f'{ref}: no such revision')
        source = CACHE / 'src' / commit
        build = CACHE / 'build' / commit
        if not (source / '.differential-complete').exists():
            shutil.rmtree(source, ignore_errors=True)
            source.mkdir(parents=True)
            archive = subprocess.run(['git', '-C', str(REPO), 'archive', commit],
                                     check=True, capture_output=True).stdout
            subprocess.run(['tar', '-x', '-C', str(source)], input=archive, check=True)
            (source / '.differential-complete').touch()
        label = f'{ref} ({commit[:12]})'
    else:
        commit = ''
        source = REPO
        build = CACHE / 'worktree'
        label = 'the working tree'
    build.mkdir(parents=True, exist_ok=True)
    log = build / 'differential-build.log'
    jobs = str(min(2, os.cpu_count() or 1))
    with open(log, 'wb') as out:
        for command in (['cmake', '-S', str(source), '-B', str(build), '-DCMAKE_BUILD_TYPE=Release',
                         '-DZT_TESTS=OFF', '-DZT_BASE_DIR=', '-DZT_SANITIZE=OFF'],
                        ['cmake', '--build', str(build), '-j', jobs, '--target', *PROGRAMS]):
            if subprocess.run(command, stdout=out, stderr=subprocess.STDOUT).returncode != 0:
                sys.stderr.write(log.read_text(errors='replace')[-4000:])
                fail(f'building {label} failed (the whole log: {log})')
    return Side(name, label, commit, build / 'bin')


# ---------------------------------------------------------------------------------------
# Trees: a board state as the runner writes it, and what a run left, as it reads it back

def materialise(tree, mtimes, root):
    """Writes tree (relative path -> DIR or bytes) at root, which is emptied first. Parents sort
    before their children, so one pass in path order creates every directory in time."""
    if os.path.lexists(root):
        shutil.rmtree(root)
    os.mkdir(root)
    for path in sorted(tree):
        value = tree[path]
        full = os.path.join(root, path)
        if value == DIR:
            os.mkdir(full)
        else:
            with open(full, 'wb') as f:
                f.write(value)
    # Every entry gets a fixed time (a lock the time it was given), so that what zt-admin
    # prints of a time is the same on both sides.
    for path in sorted(tree, reverse=True):
        when = mtimes.get(path, LOCK_TIMES[0])
        os.utime(os.path.join(root, path), (when, when), follow_symlinks=False)


def capture(root):
    """Everything under root: relative path -> (type, permission bits, content). The content
    is a file's bytes, a link's target, nothing for a directory."""
    state = {}

    def walk(directory, prefix):
        with os.scandir(directory) as entries:
            for entry in entries:
                path = prefix + entry.name
                st = entry.stat(follow_symlinks=False)
                mode = stat.S_IMODE(st.st_mode)
                if stat.S_ISDIR(st.st_mode):
                    state[path] = ('directory', mode, b'')
                    walk(entry.path, path + '/')
                elif stat.S_ISREG(st.st_mode):
                    with open(entry.path, 'rb') as f:
                        state[path] = ('file', mode, f.read())
                elif stat.S_ISLNK(st.st_mode):
                    state[path] = ('link', mode, os.fsencode(os.readlink(entry.path)))
                else:
                    state[path] = (f'special {stat.S_IFMT(st.st_mode):o}', mode, b'')

    if os.path.isdir(root):
        walk(root, '')
    return state


STAMP = re.compile(rb'[0-9]{2}/[0-9]{1,2}/[0-9]{1,2} [0-9]{1,2}:[0-9]{2}:[0-9]{2}')
AGE = re.compile(rb'-?[0-9]+ s ago')
STAGING = re.compile(rb'\.zt-init-[0-9]+')
DIGITS = bytes.maketrans(b'0123456789', b'##########')


def normalise(data):
    data = STAMP.sub(lambda m: m.group(0).translate(DIGITS), data)
    data = AGE.sub(b'# s ago', data)
    return STAGING.sub(b'.zt-init-PID', data)


LOG_NAME = re.compile(r'(.*/)?zt-com[^/]*\.txt')


def stamp_spans(path, states):
    """Where the file path held a time stamp in any of states (a comment log that a later
    record overwrote in part keeps the rest of a stamp): a set of (start, end). A content
    that several states share is searched once."""
    contents = {state[path][2] for state in states if state.get(path, ('',))[0] == 'file'}
    spans = set()
    for content in contents:
        spans.update(m.span() for m in STAMP.finditer(content))
    return spans


def mask_spans(data, spans):
    if not spans:
        return data
    data = bytearray(data)
    for start, end in spans:
        data[start:end] = bytes(data[start:end]).translate(DIGITS)
    return bytes(data)


def comparable(old_state, new_state, earlier):
    """The two states with everything normalised that must be: entries that differ get their
    content normalised (and a comment log its earlier stamps masked, from the states in
    earlier), every name its staging directory. Equal entries stay as they are."""
    out = []
    for state, other in ((old_state, new_state), (new_state, old_state)):
        normal = {}
        for path, entry in state.items():
            if other.get(path) != entry:
                kind, mode, content = entry
                if LOG_NAME.fullmatch(path):
                    content = mask_spans(content, stamp_spans(path, earlier))
                entry = (kind, mode, normalise(content))
            name = STAGING.sub(b'.zt-init-PID', path.encode('utf-8', 'surrogateescape'))
            normal[name.decode('utf-8', 'surrogateescape')] = entry
        out.append(normal)
    return out


# ---------------------------------------------------------------------------------------
# One program run

@dataclasses.dataclass
class Step:
    program: str                  # one of PROGRAMS
    kind: str                     # what the report groups by: the program, or zt-admin's command
    describe: str                 # one line for the report
    args: list = dataclasses.field(default_factory=list)   # bytes, after the program
    env: dict = dataclasses.field(default_factory=dict)    # bytes -> bytes, the whole of it
    stdin: bytes = b''


@dataclasses.dataclass
class Result:
    status: str
    stdout: bytes
    stderr: bytes


def run_step(side, step):
    env = dict(step.env)
    env[b'TZ'] = TZ
    cwd = BOARD if step.program != 'zt-admin' else WORK
    try:
        done = subprocess.run([str(side.bin / step.program), *step.args], input=step.stdin,
                              capture_output=True, env=env, cwd=cwd, timeout=RUN_SECONDS)
    except subprocess.TimeoutExpired as expired:
        return Result(f'timed out after {RUN_SECONDS} s', expired.stdout or b'', expired.stderr or b'')
    status = (f'exit {done.returncode}' if done.returncode >= 0
              else f'killed by signal {-done.returncode}')
    return Result(status, done.stdout, done.stderr)


# ---------------------------------------------------------------------------------------
# Bytes: characters in each code, and form encoding

def sjis_pair(lead, trail):
    return bytes([lead, trail])


# Shift_JIS double-byte characters: hiragana, katakana, kanji, full-width signs, and the
# characters whose second byte is a delimiter of the template format ([ \ ] { | }).
SJIS_CHARS = (
    [sjis_pair(0x82, t) for t in range(0x9F, 0xF2)] +
    [sjis_pair(0x83, t) for t in range(0x40, 0x97) if t != 0x7F] +
    [sjis_pair(0x88, t) for t in range(0x9F, 0xFD)] +
    [sjis_pair(0x8A, t) for t in (0xBF, 0xC0, 0xC1)] +
    [sjis_pair(0x81, t) for t in (0x41, 0x42, 0x5B, 0x83, 0x84, 0x95, 0x96, 0x97)] +
    [b'\x83\x5c', b'\x95\x5c', b'\x94\x5c', b'\x89\x5b', b'\x8d\x5d', b'\x8a\x7b', b'\x8b\x7c',
     b'\x8c\x7d', b'\xe0\x40', b'\xea\xa4', b'\xfa\x40', b'\xfc\x4b'])
# EUC-JP: hiragana, katakana, kanji rows.
EUC_CHARS = ([bytes([0xA4, t]) for t in range(0xA1, 0xF4)] +
             [bytes([0xA5, t]) for t in range(0xA1, 0xF7)] +
             [bytes([r, t]) for r in (0xB0, 0xB4, 0xBB, 0xC6, 0xCF) for t in (0xA1, 0xC1, 0xFA, 0xFE)])
HALF_KANA = list(range(0xA1, 0xE0))
HOSTILE = [b'<', b'>', b'"', b'&', b"'", b'\n', b'\r', b'\x00', b'\x01', b'\x02', b'\x1a',
           b'\xff', b'\x1b', b'%', b'+', b'=', b'\\', b'\t', b' ', b'\x7f', b'\x80', b'\xa0']
ASCII_TEXT = b'abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789'


def sjis_text(rng, chars):
    return b''.join(rng.choice(SJIS_CHARS) for _ in range(chars))


def euc_text(rng, chars):
    return b''.join(rng.choice(EUC_CHARS) for _ in range(chars))


def jis_text(rng, chars, clean=False):
    """ISO-2022-JP: two-byte characters between ESC $ B and ESC ( J, or (unless clean) the
    escapes that the board does not take for these: ESC $ @, ESC ( B, none."""
    pairs = b''.join(bytes([c[0] - 0x80, c[1] - 0x80]) for c in (rng.choice(EUC_CHARS) for _ in range(chars)))
    if clean:
        return b'\x1b$B' + pairs + b'\x1b(J'
    opening = rng.choice([b'\x1b$B'] * 4 + [b'\x1b$@'])
    closing = rng.choice([b'\x1b(B', b'\x1b(J', b'\x1b(J', b''])
    return opening + pairs + closing


def hostile_text(rng, length):
    return b''.join(rng.choice(HOSTILE + [bytes([rng.randrange(256)]), ASCII_TEXT[rng.randrange(62):][:1]])
                    for _ in range(length))


URL_SAFE = frozenset(ASCII_TEXT + b'-_.*')


def url_encode(rng, data, style):
    """A form value as a browser or a hostile client might send it: 'pct' escapes what a
    browser escapes (either case of hex digits, '+' for a space); 'all' escapes every byte;
    'raw' sends the bytes as they are (8-bit bytes, '&' and '=' included)."""
    if style == 'raw':
        return data
    upper = rng.random() < 0.8
    out = bytearray()
    for b in data:
        if style == 'pct' and b in URL_SAFE:
            out.append(b)
        elif style == 'pct' and b == 0x20 and rng.random() < 0.7:
            out += b'+'
        else:
            out += (b'%%%02X' if upper else b'%%%02x') % b
    return bytes(out)


def pick(rng, weighted):
    """One item of a list of (weight, item)."""
    total = sum(w for w, _ in weighted)
    x = rng.random() * total
    for w, item in weighted:
        x -= w
        if x < 0:
            return item
    return weighted[-1][1]


# ---------------------------------------------------------------------------------------
# Templates

FIELD_NAMES = [b'four', b'namae', b'prev', b'confirm', b'wa', b'x', b'a', b'', b'four ',
               b'n\xe4', b'\x82\xa0', b'a' * 19, b'b' * 20, b'c' * 21, b'd' * 40, b'na\nmae']
ENV_NAMES = [b'REMOTE_ADDR', b'HTTP_USER_AGENT', b'QUERY_STRING', b'CONTENT_LENGTH', b'TZ',
             b'REQUEST_METHOD', b'NOPE', b'', b'E' * 19, b'E' * 20, b'PATH']
NUMBERS = [b'0', b'1', b'2', b'3', b'4', b'5', b'-1', b'+2', b' 3', b'\n1', b'\t4', b'00',
           b'99999999999999999999', b'-99999999999999999999', b'9223372036854775807',
           b'9223372036854775808', b'2147483648', b'', b'x', b'-', b'+', b'1x']
SECTION_CHARS = [b'#', b'#', b'@', b'!', b'\n', b'/', b' ', b'\x02', b'\x01', b'\xff', b'\x80',
                 b'%', b'(', b'}']


def directive(rng, depth=0):
    """One directive of the template format after its 0x01, in a good or a broken form."""
    selector = pick(rng, [(3, b'%'), (3, b'{'), (2, b'['), (4, b'('), (3, b'/'), (2, b'|'),
                          (1, b'other')])
    broken = rng.random() < 0.3
    if selector in (b'%', b'{', b'['):
        closing = {b'%': b'%', b'{': b'}', b'[': b']'}[selector]
        name = rng.choice(ENV_NAMES if selector == b'[' else FIELD_NAMES)
        end = closing if not broken else rng.choice([b'', b'\n', b'\x02', b'%', b'}', b']', b'\x01'])
        return b'\x01' + selector + name + end
    if selector == b'(':
        number = rng.choice(NUMBERS) if broken or rng.random() < 0.3 else str(rng.randrange(6)).encode()
        close = b')' if not broken or rng.random() < 0.5 else b''
        argument = b''
        if rng.random() < 0.5:  # the argument that callbacks 1 (view: a log digit; read: an offset) read
            argument = b'(' + rng.choice([b'1', b'2', b'3', b'8', b'9', b'0', b'a', b'/', b'\n', b')',
                                          b'-1', b'99999999999999999999', b'']) + rng.choice([b')', b')', b''])
        return b'\x01(' + number + close + argument
    if selector == b'/':
        name = rng.choice(FIELD_NAMES)
        flag = rng.choice([b'0', b'1', b'1', b'0', b'2', b'-1', b'', b'x', b' 1'])
        c = rng.choice(SECTION_CHARS)
        head = b'\x01/' + name + b'/' + flag + b'/' + c + rng.choice([b'/', b'/', b'/', b''])
        body = b'body ' + (directive(rng, depth + 1) if depth < 3 and rng.random() < 0.5 else b'') + b' text'
        end = c if rng.random() < 0.8 else b''
        return head + body + end
    if selector == b'|':
        names = [rng.choice(FIELD_NAMES) for _ in range(rng.randrange(1, 4))]
        return b'\x01|' + b','.join(names) + rng.choice([b'|', b'|', b'|', b'', b','])
    return b'\x01' + rng.choice([b'\x01', b'\x02', b'\xff', b'\n', b'a', b'\x1a', b']', b'#'])


ODD_BYTES = [b'\x02', b'\r', b'\x1a', b'\xff', b'\x00', b'\x01', b'\n', b'\r\n', b'\x02\x02']


def mutate_template(rng, data, name):
    """data with one to four mutations; returns (bytes, tag)."""
    ops = []
    for _ in range(rng.randrange(1, 5)):
        op = pick(rng, [(6, 'directive'), (3, 'odd-byte'), (1, 'cut'), (1, 'delete'),
                        (1, 'duplicate'), (2, 'number'), (3, 'special'), (1, 'random')])
        ops.append(op)
        pos = rng.randrange(len(data) + 1)
        if op == 'directive':
            data = data[:pos] + directive(rng) + data[pos:]
        elif op == 'odd-byte':
            data = data[:pos] + rng.choice(ODD_BYTES) + data[pos:]
        elif op == 'cut':
            data = data[:pos]
        elif op == 'delete':
            data = data[:pos] + data[pos + rng.randrange(1, 200):]
        elif op == 'duplicate':
            data = data[:pos] + data[pos:pos + rng.randrange(1, 400)] * rng.randrange(2, 4) + data[pos:]
        elif op == 'number':
            # Another number, or argument, for an existing callback directive.
            places = [m.start() for m in re.finditer(rb'\x01\(', data)]
            if places:
                at = rng.choice(places) + 2
                end = at
                while end < len(data) and data[end:end + 1] in b'-+0123456789':
                    end += 1
                data = data[:at] + rng.choice(NUMBERS) + data[end:]
        elif op == 'special':
            data = special_mutation(rng, data, name)
        else:
            data = bytes(rng.randrange(256) for _ in range(rng.randrange(0, 300)))
    return data, 'template:' + name.split('/')[-1] + ':' + '+'.join(sorted(set(ops)))


def special_mutation(rng, data, name):
    """Mutations that only make sense for one kind of template."""
    if name == WRITE_TEMPLATE:
        # The directive line, the twelve error lines, 0x02, the completion part.
        at = data.find(b'\x01(0)')
        end = data.find(b'\x02', at if at >= 0 else 0)
        if at < 0 or end < 0:
            return data + directive(rng)
        lines = data[at:end].split(b'\n')
        what = rng.choice(['fewer', 'more', 'no-02', 'callback-in-line', 'directive-in-line',
                           'no-directive', 'two-02', 'no-lf'])
        if what == 'fewer':
            lines = lines[:rng.randrange(1, len(lines))]
        elif what == 'more':
            for _ in range(rng.randrange(1, 6)):
                lines.insert(rng.randrange(1, len(lines) + 1), b'<p>extra ' + directive(rng) + b'</p>')
        elif what == 'no-02':
            return data[:end] + data[end + 1:]
        elif what == 'callback-in-line':
            k = rng.randrange(1, len(lines))
            lines[k] = lines[k] + b'\x01(' + rng.choice([b'0', b'1', b'2']) + b')'
        elif what == 'directive-in-line':
            k = rng.randrange(1, len(lines))
            lines[k] = directive(rng) + lines[k]
        elif what == 'no-directive':
            return data[:at] + data[at + 4:]
        elif what == 'two-02':
            k = rng.randrange(1, len(lines))
            lines[k] = lines[k][:5] + b'\x02' + lines[k][5:]
        else:
            return data[:at] + b'\n'.join(lines).replace(b'\n', b' ', 3) + data[end:]
        return data[:at] + b'\n'.join(lines) + data[end:]
    if name in RECORD_TEMPLATES:
        first, _, rest = data.partition(b'\n')
        what = rng.choice(['empty', 'long', 'huge', 'no-lf', 'section-over-lines', 'only-directive',
                           'env-lf', 'colour-time', 'lf-first'])
        if what == 'empty':
            return b'\n' + rest
        if what == 'long':
            return first + b'\x01{namae}' * rng.randrange(10, 120) + b'x' * rng.randrange(0, 3000) + b'\n' + rest
        if what == 'huge':
            return first + b'y' * rng.choice([16000, 65524, 65525, 65530, 70000]) + b'\n' + rest
        if what == 'no-lf':
            return first
        if what == 'section-over-lines':
            return first + b'\x01/namae/1/#/' + rest + b'#\nafter\n'
        if what == 'only-directive':
            return directive(rng) + b'\n' + rest
        if what == 'env-lf':
            return b'\x01[HTTP_USER_AGENT]' + first + b'\n' + rest
        if what == 'colour-time':
            return b'\x01(1)\x01(0)\x01(2)\x01(1' + first + b'\n' + rest
        return b'\n' + first + b'\n' + rest
    if name == VIEW_TEMPLATE:
        what = rng.choice(['theme-no-02', 'theme-twice', 'log-arg', 'callbacks', 'theme-at-end'])
        if what == 'theme-no-02':
            return data.replace(b'\x02', b'', 1)
        if what == 'theme-twice':
            return data.replace(b'\x01(4)', b'\x01(4)default one\x02\x01(4)', 1)
        if what == 'log-arg':
            return data.replace(b'\x01(1)(1)', b'\x01(1)(' + rng.choice([b'0', b'9', b'a', b'\n', b')', b'', b'\x01',
                                                                      b'/', b'12']), 1)
        if what == 'theme-at-end':
            return data + b'\x01(4)'
        return data + b''.join(b'\x01(%d)' % rng.randrange(6) for _ in range(rng.randrange(1, 8)))
    if name == READ_TEMPLATE:
        what = rng.choice(['offsets', 'no-paren', 'page-twice'])
        if what == 'offsets':
            return data + b''.join(b'\x01(1)(' + rng.choice(NUMBERS) + b')' for _ in range(rng.randrange(1, 6)))
        if what == 'no-paren':
            return data.replace(b'\x01(1)(-1)', b'\x01(1)-1', 1)
        return data + b'\x01(0)\x01(0)'
    return data


# ---------------------------------------------------------------------------------------
# Board states

@dataclasses.dataclass
class Identity:
    """A poster: the name as the board stores it (the value before encoding) and the address."""
    name: bytes
    address: bytes


def fresh_log(size):
    return (b'%08x\n%08x\n' % (size, size)) + b'\0' * (size - 18)


def make_text(rng, size):
    """A text of size bytes: whole Shift_JIS units, now and then odd bytes among them."""
    unit_count = size // UNIT + 1
    if size > 64 * 1024:
        pattern = sjis_text(rng, 4 * rng.randrange(1, 40))
        data = (pattern * (size // len(pattern) + 1))[:size]
    else:
        data = sjis_text(rng, 4 * unit_count)[:size]
    if rng.random() < 0.3 and size:
        data = bytearray(data)
        for _ in range(rng.randrange(1, 6)):
            data[rng.randrange(size)] = rng.choice(b'\r\x1a\xff\x00<&\n\x01\x02')
        data = bytes(data)
    return data


def text_size_choice(rng):
    kind = pick(rng, [(2, 'empty'), (5, 'boundary'), (3, 'odd'), (1, 'large'), (3, 'any')])
    pages = rng.choice([0, 1, 1, 2, 3, 10, 100])
    if kind == 'empty':
        return kind, 0
    if kind == 'boundary':
        return kind, max(0, pages * PAGE + rng.choice([-8, 0, 8]))
    if kind == 'odd':
        return kind, max(1, pages * PAGE + rng.choice([-7, -5, -1, 1, 3, 4, 7, 1003]))
    if kind == 'large':
        return kind, rng.randrange(150, 260) * PAGE + rng.choice([0, 8, 1024, 2040])
    return kind, UNIT * rng.randrange(0, 1200)


def mutate_board(rng, tree, mtimes, identities, templates_used):
    """One mutation of the board's tree; returns its tag."""
    what = pick(rng, [(4, 'text'), (3, 'theme'), (3, 'last-poster'), (8, 'log'), (2, 'lock'),
                      (4, 'dir-for'), (7, 'template'), (1, 'missing'), (1, 'stray')])
    if what == 'text':
        kind, size = text_size_choice(rng)
        tree[TEXT] = make_text(rng, size)
        return f'text:{kind}'
    if what == 'theme':
        kind = rng.choice(['absent', 'empty', 'short', 'sixty', 'long', 'odd', 'split'])
        if kind == 'absent':
            tree.pop(THEME, None)
        elif kind == 'empty':
            tree[THEME] = b''
        elif kind == 'short':
            tree[THEME] = sjis_text(rng, rng.randrange(1, 12)) + rng.choice([b'', b'<b>x</b>', b'&amp;'])
        elif kind == 'sixty':
            tree[THEME] = sjis_text(rng, 30)[:rng.choice([59, 60, 61])]
        elif kind == 'long':
            tree[THEME] = sjis_text(rng, rng.randrange(31, 150))
        elif kind == 'odd':
            tree[THEME] = hostile_text(rng, rng.randrange(1, 90))
        else:
            tree[THEME] = b'a' + sjis_text(rng, 40)  # a character cut in two at byte 60
        return f'theme:{kind}'
    if what == 'last-poster':
        who = rng.choice(identities)
        other = Identity(b'someone', b'192.0.2.9')
        kind = rng.choice(['missing', 'empty', 'one-line', 'one-line-lf', 'no-final-lf', 'cr',
                           'nobody', 'same-name', 'same-address', 'both', 'three-lines', 'odd', 'long'])
        tree[LAST_POSTER] = {
            'missing': None, 'empty': b'', 'one-line': other.name, 'one-line-lf': other.name + b'\n',
            'no-final-lf': other.name + b'\n' + other.address, 'cr': b'some\r\none\r\n',
            'nobody': b'\r\n\r\n', 'same-name': who.name + b'\n' + other.address + b'\n',
            'same-address': other.name + b'\n' + who.address + b'\n',
            'both': who.name + b'\n' + who.address + b'\n',
            'three-lines': other.name + b'\n' + other.address + b'\n' + who.name + b'\n',
            'odd': hostile_text(rng, rng.randrange(0, 40)),
            'long': b'n' * 5000 + b'\n' + who.address + b'\n'}[kind]
        if tree[LAST_POSTER] is None:
            del tree[LAST_POSTER]
        return f'last-poster:{kind}'
    if what == 'log':
        digit = rng.choice([0, 0, 1, 1, 2, 2, 3, 4, 5, 6, 7])  # the default board page shows 1 to 3
        path = LOGS[digit]
        log = tree.get(path)
        size = len(log) if isinstance(log, bytes) and len(log) >= 18 else rng.choice([256, 1024, 16384])
        log = bytearray(log if isinstance(log, bytes) and len(log) == size else fresh_log(size))
        kind = rng.choice(['fresh', 'nul-header', 'random-header', 'out-of-range', 'ff', 'ff', 'ff', 'odd-bytes',
                           'odd-bytes',
                           'short', 'missing', 'cut', 'random', 'garbled-records', 'head-anywhere',
                           'grown', 'empty-file'])
        if kind == 'fresh':
            log = fresh_log(size)
        elif kind == 'nul-header':
            log[0:18] = b'\0' * 18
        elif kind == 'random-header':
            log[0:18] = bytes(rng.choice(b'0123456789abcdefABCDEF \n\t\xffxg') for _ in range(18))
        elif kind == 'out-of-range':
            values = [0, 5, 17, 18, size - 1, size, size + 1, 0xFFFFFFFF, 0x7FFFFFFF, 0x10000]
            head, old = rng.choice(values), rng.choice(values)
            form = rng.choice([b'%08x\n%08x\n', b'%08X\n%08X\n', b'%x\n%x\n', b' %7x\n%08x\n', b'%09x\n%09x\n'])
            header = form % (head, old)
            log[0:len(header)] = header
        elif kind in ('ff', 'odd-bytes'):
            # Mostly in the records that the current lap holds, where a walk reads them.
            try:
                head = int(log[0:8], 16)
            except ValueError:
                head = size
            low = head if 18 <= head < size and rng.random() < 0.7 else 18
            for _ in range(rng.randrange(1, 8)):
                at = rng.randrange(low, size)
                log[at] = 0xFF if kind == 'ff' else rng.choice(b'\x00\r\x1a\n\t\x01\x02\xff ')
        elif kind == 'short':
            log = log[:rng.randrange(0, 40)]
        elif kind == 'missing':
            tree.pop(path, None)
            return f'log:{kind}'
        elif kind == 'cut':
            log = log[:rng.randrange(18, size)]
        elif kind == 'random':
            log = bytearray(rng.randrange(256) for _ in range(size))
        elif kind == 'garbled-records':
            at = rng.randrange(18, size)
            while at < size - 10:
                content = b'r' * rng.randrange(0, 40)
                record = b'%04x\t' % (len(content) + rng.choice([6, 6, 6, 0, 1, 100])) + content + b'\n'
                log[at:at + len(record)] = record[:size - at]
                at += len(record)
        elif kind == 'head-anywhere':
            log[0:18] = b'%08x\n%08x\n' % (rng.randrange(18, size + 1), rng.randrange(18, size + 1))
        elif kind == 'grown':
            log += bytes(rng.randrange(1, 100))
        else:
            log = bytearray()
        tree[path] = bytes(log)
        return f'log:{kind}'
    if what == 'lock':
        kind = rng.choice(['left-behind', 'left-behind', 'future', 'parent-missing', 'file', 'parent-file',
                           'with-content'])
        for path in [p for p in tree if p.startswith(LOCK + '/')] + [LOCK]:
            tree.pop(path, None)
        if kind in ('left-behind', 'future', 'with-content', 'file'):
            tree[LOCK_PARENT] = DIR  # a plain file there before is replaced
        if kind in ('left-behind', 'future', 'with-content'):
            tree[LOCK] = DIR
            mtimes[LOCK] = LOCK_TIMES[kind == 'future']
            if kind == 'with-content':
                tree[LOCK + '/x'] = b'x'
        elif kind == 'parent-missing':
            for path in [p for p in tree if p == LOCK_PARENT or p.startswith(LOCK_PARENT + '/')]:
                del tree[path]
        elif kind == 'file':
            tree[LOCK] = b''
        else:
            for path in [p for p in tree if p.startswith(LOCK_PARENT + '/')]:
                del tree[path]
            tree[LOCK_PARENT] = b'not a directory\n'
        return f'lock:{kind}'
    if what == 'dir-for':
        path = rng.choice(BOARD_FILES)
        tree[path] = DIR
        return f'dir-for:{path}'
    if what == 'template':
        name = rng.choice(templates_used) if templates_used and rng.random() < 0.8 else rng.choice(TEMPLATES)
        base = tree.get(name)
        if not isinstance(base, bytes):
            base = b''
        tree[name], tag = mutate_template(rng, base, name)
        return tag
    if what == 'missing':
        path = rng.choice(BOARD_FILES)
        tree.pop(path, None)
        return f'missing:{path}'
    kind = rng.choice(['jti-new-file', 'jti-new-dir', 'log-9', 'log-0', 'extra'])
    if kind == 'jti-new-file':
        tree[LAST_POSTER + '.new'] = b'stale\n'
    elif kind == 'jti-new-dir':
        tree[LAST_POSTER + '.new'] = DIR
    elif kind in ('log-9', 'log-0'):
        tree[f'zt/zt-com{kind[-1]}.txt'] = fresh_log(256)[:18] + b'\0' + b'0006\trec\n' * 20
    else:
        tree['zt/extra.txt'] = b'extra'
    return f'stray:{kind}'


# ---------------------------------------------------------------------------------------
# Requests

def poster(rng, odd=True):
    """A poster whose name and address stay as they are through the intake. An odd one's
    name may hold a byte 0xFF, which its records then carry into every comment log."""
    name = pick(rng, [(3, sjis_text(rng, rng.randrange(1, 6))),
                      (2, bytes(rng.choice(ASCII_TEXT) for _ in range(rng.randrange(1, 12)))),
                      (1, b'<b>"x"&' + sjis_text(rng, 1)), (1, b''),
                      (1 if odd else 0, sjis_text(rng, 1) + b'\xff' + sjis_text(rng, 1))])
    address = rng.choice([b'127.0.0.%d' % rng.randrange(2, 250), b'192.0.2.%d' % rng.randrange(1, 250),
                          b'2001:db8::%x' % rng.randrange(1, 0xffff)])
    return Identity(name, address)


CLEAN_FOURS = ['sjis', 'sjis', 'sjis', 'euc', 'jis', 'ascii', 'half-kana']
ODD_FOURS = ['half-kana-euc', 'hostile', 'hostile', 'wrong-length', 'wrong-length', 'lone-lead',
             'markup', 'empty', 'raw', 'absent']


def four_value(rng, kind):
    """The four characters of a post, in one of the ways they arrive: (bytes or None, style)."""
    style = 'all' if rng.random() < 0.1 else 'pct'
    if kind == 'sjis':
        value = sjis_text(rng, 4)
    elif kind == 'euc':
        value = euc_text(rng, 4)
    elif kind in ('jis', 'clean-jis'):
        value = jis_text(rng, 4, clean=kind == 'clean-jis')
    elif kind == 'ascii':
        value = bytes(rng.choice(ASCII_TEXT + b' -_.!*\'()') for _ in range(8))
    elif kind == 'half-kana':
        value = bytes(rng.choice(HALF_KANA) for _ in range(4))
    elif kind == 'half-kana-euc':
        value = b''.join(bytes([0x8E, rng.choice(HALF_KANA)]) for _ in range(4))
    elif kind == 'hostile':
        value = hostile_text(rng, rng.choice([8, 8, 8, rng.randrange(0, 14)]))
    elif kind == 'wrong-length':
        value = rng.choice([sjis_text(rng, 3), sjis_text(rng, 5), sjis_text(rng, 3) + b'a',
                            b'abcdefg', b'abcdefghi', sjis_text(rng, 3) + b'<', sjis_text(rng, 4) + b'>'])
    elif kind == 'lone-lead':
        value = sjis_text(rng, 3) + b'a' + bytes([rng.choice([0x82, 0x88, 0xE0, 0xFC])])
    elif kind == 'markup':
        value = rng.choice([b'<b>abcde', b'ab>cdefg', b'a"b&c\'de', b'\x01{namae}', b'&#12316;',
                            b'&#12316;\x82\xa0'])
    elif kind == 'empty':
        value = b''
    elif kind == 'raw':
        value, style = sjis_text(rng, 4), 'raw'  # 8-bit bytes unescaped: the intake drops them
    else:
        value = None
    return value, style


ODD_NAMES = ['absent', 'empty', 'line-ends', 'ff', 'markup', 'long', 'half-kana', 'euc', 'lone-lead',
             'control']


def name_value(rng, who, kind):
    return {
        'poster': who.name,
        'absent': None,
        'empty': b'',
        'line-ends': who.name + rng.choice([b'\r\n', b'\n', b'\r', b'\r\r\n']) + rng.choice([b'', b'x', b'\r\n']),
        'ff': who.name + b'\xff',
        'markup': b'<script>"&\'',
        'long': b'n' * rng.choice([19, 20, 200, 3000]),
        'half-kana': bytes(rng.choice(HALF_KANA) for _ in range(3)),
        'euc': euc_text(rng, 2),
        'lone-lead': b'a\x82',
        'control': b'\x01(0)\x02\x1a\x7f',
    }[kind]


def post_env(length, address):
    env = {b'REQUEST_METHOD': b'POST', b'GATEWAY_INTERFACE': b'CGI/1.1', b'SERVER_PROTOCOL': b'HTTP/1.1',
           b'CONTENT_TYPE': b'application/x-www-form-urlencoded'}
    if length is not None:
        env[b'CONTENT_LENGTH'] = length
    if address is not None:
        env[b'REMOTE_ADDR'] = address
    return env


def post_step(body, env):
    length = env.get(b'CONTENT_LENGTH')
    address = env.get(b'REMOTE_ADDR')
    describe = (f'POST {shown(body, 140)} CONTENT_LENGTH={shown(length, 30) if length is not None else "(unset)"}'
                f' REMOTE_ADDR={shown(address, 40) if address is not None else "(unset)"}')
    return Step('zt-write', 'zt-write', describe, env=env, stdin=body)


def clean_post(rng, size, who, confirm=False):
    """A post that a browser sends from the board page: it is taken when the board is sound,
    prev is size and who is not the last poster."""
    kinds = ['sjis', 'sjis', 'sjis', 'clean-jis', 'ascii', 'half-kana']
    if who.name.isascii():
        kinds.append('euc')  # the whole form in EUC-JP, as a browser would send it
    four, _ = four_value(rng, rng.choice(kinds))
    fields = [(b'four', url_encode(rng, four, 'pct')), (b'prev', b'%d' % size),
              (b'namae', url_encode(rng, who.name, 'pct'))]
    if confirm:
        fields.append((b'confirm', b'1'))
    body = b'&'.join(n + b'=' + v for n, v in fields)
    return post_step(body, post_env(b'%d' % len(body), who.address))


def write_request(rng, size, who):
    """A POST to zt-write against a text of size bytes, from who. Each part of the request
    (four, prev, namae, the other fields, the body, CONTENT_LENGTH, REMOTE_ADDR) is odd with a
    chance that the request draws first: most requests are odd in none or one part, so that
    they reach the posting transaction, some in many. Returns (step, tags)."""
    hostility = pick(rng, [(3, 0.0), (8, 0.12), (3, 0.35), (1, 0.8)])
    tags = []

    def odd(part):  # part only names what the draw is for
        return rng.random() < hostility

    kind = rng.choice(ODD_FOURS) if odd('four') else rng.choice(CLEAN_FOURS)
    tags.append(f'four:{kind}')
    four, style = four_value(rng, kind)
    fields = []
    if four is not None:
        fields.append((b'four', url_encode(rng, four, style)))
    prev_kind = rng.choice(['stale', 'empty', 'absent', 'huge', 'trailing', 'signed', 'hex']) if odd('prev') else 'right'
    tags.append(f'prev:{prev_kind}')
    prev = {'right': b'%d' % size, 'stale': b'%d' % max(0, size + rng.choice([-8, 8, -16, 2048])),
            'empty': b'', 'absent': None, 'huge': b'99999999999999999999',
            'trailing': b'%dabc' % size, 'signed': b' +%d' % size, 'hex': b'0x%x' % size}[prev_kind]
    if prev is not None:
        fields.append((b'prev', url_encode(rng, prev, 'pct')))
    name_kind = rng.choice(ODD_NAMES) if odd('namae') else 'poster'
    tags.append(f'namae:{name_kind}')
    name = name_value(rng, who, name_kind)
    if name is not None:
        fields.append((b'namae', url_encode(rng, name, rng.choice(['pct', 'pct', 'all', 'raw']) if name_kind != 'poster' else 'pct')))
    if rng.random() < 0.12:
        fields.append((b'confirm', rng.choice([b'1', b''])))
        tags.append('confirm')
    rng.shuffle(fields)
    parts = [n + b'=' + v for n, v in fields]
    if odd('fields'):
        extra = rng.choice([b'x=1', b'', b'four=' + url_encode(rng, sjis_text(rng, 4), 'pct'), b'=x', b'confirm',
                            b'a=%00b', b'&&&', b'namae=second', b'four', b'prev=0&prev=1'])
        parts.insert(rng.randrange(len(parts) + 1), extra)
        tags.append('extra-field')
    body = b'&'.join(parts)
    if odd('body') and rng.random() < 0.25:
        body = bytes(rng.randrange(256) for _ in range(rng.randrange(0, 300)))
        tags.append('body:random')
    length_kind = rng.choice(['absent', 'negative', 'too-large', 'shorter', 'longer', 'zero', 'odd-spelling',
                              'limit']) if odd('length') else 'exact'
    if length_kind == 'limit':
        body = body + b'&pad=' + b'p' * max(0, MAX_BODY - len(body) - 5 + rng.choice([0, 1]))
        length = b'%d' % len(body)
    else:
        length = {'exact': b'%d' % len(body), 'absent': None,
                  'negative': rng.choice([b'-1', b'-100', b'-99999999999999999999']),
                  'too-large': rng.choice([b'32769', b'2147483648', b'4294967296', b'99999999999999999999']),
                  'shorter': b'%d' % max(0, len(body) - rng.randrange(1, 20)),
                  'longer': b'%d' % (len(body) + rng.randrange(1, 100)), 'zero': b'0',
                  'odd-spelling': rng.choice([b' %d' % len(body), b'+%d' % len(body), b'%dabc' % len(body),
                                              b'0x10', b'', b'abc', b'0%d' % len(body)])}[length_kind]
    if length_kind != 'exact':
        tags.append(f'content-length:{length_kind}')
    address_kind = rng.choice(['unset', 'empty', 'odd']) if odd('address') else 'poster'
    address = {'poster': who.address, 'unset': None, 'empty': b'',
               'odd': rng.choice([b'<x>"', b'1.2.3.4\n5', b'a' * 300, b'\xff\xfe'])}[address_kind]
    if address_kind != 'poster':
        tags.append(f'remote-addr:{address_kind}')
    env = post_env(length, address)
    env[b'HTTP_USER_AGENT'] = rng.choice([b'Mozilla/5.0', b'<ua>"&\'', b'line\nend', b'\x82\xa0\xff'])
    return post_step(body, env), tags


WA_VALUES = [b'0', b'1', b'2', b'-1', b'+1', b'01', b'1.5', b'1e3', b'0x10', b' 1', b'1abc', b'',
             b'9223372036854775808', b'99999999999999999999', b'-9223372036854775809', b'2147483647',
             b'2147483648', b'-2147483648', b'-2147483649', b'%33', b'\x82\x58', b'\xef\xbc\x99',
             b'"><script>', b'%22%3E%3Cscript%3E']
QUERY_VALUES = [b'', b'abc', b'%3Cb%3E', b'<b>', b'"', b'%22', b'\'', b'%zz', b'%', b'%4', b'%41%42',
                b'a+b', b'%82%a0%82%a2', b'\x82\xa0', b'\xff', b'%00x', b'%26', b'&', b'x' * 300,
                b'javascript:alert(1)', b'%0d%0a', b'\x01']


def query_string(rng, page_count):
    """A QUERY_STRING for zt-view or zt-read, or None for none at all."""
    if rng.random() < 0.08:
        return None
    segments = []
    for _ in range(pick(rng, [(3, 0), (6, 1), (3, 2), (2, 3), (1, 6)])):
        what = pick(rng, [(4, 'wa'), (4, 'field'), (1, 'odd')])
        if what == 'wa':
            value = rng.choice(WA_VALUES) if rng.random() < 0.5 else b'%d' % rng.randrange(-3, page_count + 4)
            segments.append(b'wa=' + value)
        elif what == 'field':
            segments.append(rng.choice(FIELD_NAMES[:7]) + b'=' + rng.choice(QUERY_VALUES))
        else:
            segments.append(rng.choice([b'', b'wa', b'xwa=3', b'=', b'&', b'wa=1&wa=2', b'four', b'%77a=2']))
    query = b'&'.join(segments)
    if rng.random() < 0.05:
        query = b'&' + query
    return query


def page_request(rng, program, text_size):
    pages = max(1, (text_size - 1) // PAGE + 1) if text_size > 0 else 1
    query = query_string(rng, pages)
    env = {b'REQUEST_METHOD': b'GET', b'GATEWAY_INTERFACE': b'CGI/1.1', b'SERVER_PROTOCOL': b'HTTP/1.1',
           b'REMOTE_ADDR': b'127.0.0.1'}
    if query is not None:
        env[b'QUERY_STRING'] = query
    describe = f'GET QUERY_STRING={shown(query, 160) if query is not None else "(unset)"}'
    return Step(program, program, describe, env=env)


def admin(args, kind=None):
    words = [a if isinstance(a, bytes) else str(a).encode() for a in args]
    kind = kind or 'zt-admin ' + (words[0].decode('latin-1') if words else '(no command)')
    describe = 'zt-admin ' + ' '.join(shown(w, 80) for w in words)
    return Step('zt-admin', kind, describe, args=words)


def read_only_admin_steps():
    """zt-admin's read-only commands on the board as it stands."""
    board = bytes(BOARD)
    return ([admin(['status', board]), admin(['check', board]), admin(['export', board])] +
            [admin(['log', board, str(d)]) for d in range(1, 9)])


# ---------------------------------------------------------------------------------------
# Cases

@dataclasses.dataclass
class Case:
    number: int
    tree: dict
    mtimes: dict
    steps: list
    tags: list


@dataclasses.dataclass
class Base:
    """A board that zt-admin init of the OLD tree prepared, perhaps filled by real posts."""
    name: str
    tree: dict


def text_size_of(tree):
    text = tree.get(TEXT)
    return len(text) if isinstance(text, bytes) else 0


def board_case(rng, number, bases, kind):
    tags = [f'case:{kind}']
    identities = [poster(rng) for _ in range(4)]
    if any(b'\xff' in who.name for who in identities):
        tags.append('posters:ff-name')
    templates_used = {'write': [WRITE_TEMPLATE] * 5 + RECORD_TEMPLATES, 'view': [VIEW_TEMPLATE],
                      'read': [READ_TEMPLATE], 'posts': RECORD_TEMPLATES + [WRITE_TEMPLATE, VIEW_TEMPLATE],
                      'mixed': TEMPLATES}[kind]
    base = rng.choice(bases)
    tags.append(f'base:{base.name}')
    tree = dict(base.tree)
    mtimes = {}
    if kind == 'posts':
        # Near the end of a page, with a theme, so that the posts complete it.
        pages = rng.choice([0, 1, 2, 5])
        tree[TEXT] = make_text(rng, max(0, (pages + 1) * PAGE - UNIT * rng.randrange(1, 6)))
        tree[THEME] = sjis_text(rng, rng.randrange(1, 40))
        mutations = pick(rng, [(6, 0), (3, 1), (1, 2)])
    else:
        mutations = pick(rng, [(2, 0), (4, 1), (3, 2), (2, 3), (1, 5)])
    for _ in range(mutations):
        tags.append(mutate_board(rng, tree, mtimes, identities, templates_used))
    steps = read_only_admin_steps()
    size = text_size_of(tree)
    if kind == 'write':
        for _ in range(pick(rng, [(4, 1), (3, 2), (2, 3), (1, 4)])):
            step, step_tags = write_request(rng, size, rng.choice(identities))
            steps.append(step)
            tags += step_tags
    elif kind in ('view', 'read'):
        program = 'zt-' + kind
        steps += [page_request(rng, program, size) for _ in range(rng.randrange(2, 7))]
    elif kind == 'posts':
        posters = [Identity(p.name + b'%d' % i, b'198.51.100.%d' % i) for i, p in enumerate(identities)]
        for i in range(rng.randrange(2, 9)):
            if rng.random() < 0.2:
                steps.append(page_request(rng, rng.choice(['zt-view', 'zt-read']), size))
            who = posters[i % len(posters)]
            what = pick(rng, [(16, 'clean'), (1, 'confirm'), (1, 'same-poster'), (2, 'odd')])
            if what == 'odd':
                step, step_tags = write_request(rng, size, who)
                tags += step_tags
            else:
                if what == 'same-poster':
                    who = posters[(i - 1) % len(posters)]
                    tags.append('posts:same-poster')
                elif what == 'confirm':
                    tags.append('posts:confirm')
                step = clean_post(rng, size, who, confirm=what == 'confirm')
            steps.append(step)
            if what == 'clean':
                size += UNIT  # the next post's prev: this one is taken on a sound board
        steps.append(page_request(rng, 'zt-view', size))
    else:
        for _ in range(rng.randrange(3, 9)):
            program = rng.choice(['zt-write', 'zt-write', 'zt-view', 'zt-read'])
            if program == 'zt-write':
                step, step_tags = write_request(rng, size, rng.choice(identities))
                steps.append(step)
                tags += step_tags
                size += UNIT
            else:
                steps.append(page_request(rng, program, size))
    return Case(number, tree, mtimes, steps, sorted(set(tags)))


def admin_case(rng, number, bases):
    """zt-admin init into a fresh path, theme, unlock, and wrong usage."""
    board = bytes(BOARD)
    tree = {}
    tags = ['case:admin']
    kind = pick(rng, [(6, 'init'), (2, 'theme'), (2, 'unlock'), (2, 'usage')])
    tags.append(f'admin:{kind}')
    mtimes = {}
    if kind == 'init':
        scene = rng.choice(['nothing', 'nothing', 'empty-dir', 'file', 'board', 'only-zt', 'only-lock',
                            'parent-file', 'deep'])
        tags.append(f'init:{scene}')
        target = board + b'/new'
        if scene == 'empty-dir':
            tree['new'] = DIR
        elif scene == 'file':
            tree['new'] = b'a file'
        elif scene == 'board':
            base = rng.choice(bases)
            tree.update({'new/' + p if p else 'new': v for p, v in base.tree.items()})
            tree['new'] = DIR
        elif scene == 'only-zt':
            tree['new'] = DIR
            tree['new/zt'] = DIR
        elif scene == 'only-lock':
            tree['new'] = DIR
            tree['new/lock'] = DIR
        elif scene == 'parent-file':
            tree['new'] = b'file'
            target = board + b'/new/sub'
        elif scene == 'deep':
            target = board + b'/a/b/c'
        options = pick(rng, [(4, []), (6, ['--log-bytes', rng.choice(
            ['256', '255', '16777216', '16777217', '1000', '300', '65536', '', 'abc', '-1', '1e3', '0100',
             '999999999999', '9999999999999', ' 512', '512 '])]), (2, ['--log-bytes=' + rng.choice(['256', '4096', '', 'x'])]),
            (1, ['--log-bytes']), (1, ['--other']), (1, ['--'])])
        args = ['init']
        order = rng.random()
        if order < 0.7:
            args += [target] + options
        else:
            args += options + [target]
        if rng.random() < 0.05:
            args.append(target + b'2')
        steps = [admin(args)]
        if rng.random() < 0.5:
            steps.append(admin(['status', target]))
            steps.append(admin(['check', target]))
        return Case(number, tree, mtimes, steps, tags)
    base = rng.choice(bases)
    tree = dict(base.tree)
    tags.append(f'base:{base.name}')
    if rng.random() < 0.5:
        tags.append(mutate_board(rng, tree, mtimes, [poster(rng)], []))
    if kind == 'theme':
        text = rng.choice(['お題です', 'a' * 61, 'かな' * 20, '<b>太字</b>', '', '\u2603 snow', '①②',
                           'ｶﾀｶﾅ', 'x\ny', '\udcff'])
        args = ['theme', board, text.encode('utf-8', 'surrogateescape')] if rng.random() < 0.7 else ['theme', board, '--clear']
        steps = [admin(args), admin(['status', board])]
    elif kind == 'unlock':
        if rng.random() < 0.7:
            tree[LOCK_PARENT] = DIR
            tree[LOCK] = DIR
            mtimes[LOCK] = rng.choice(LOCK_TIMES)
        steps = [admin(['unlock', board] + (['--force'] if rng.random() < 0.4 else [])), admin(['status', board])]
    else:
        steps = [admin(rng.choice([[], ['nope', board], ['status'], ['status', board, 'more'],
                                   ['log', board, rng.choice(['0', '9', '01', 'x', '', '-1', '99999999999999'])],
                                   ['log', board], ['export', b'/nonexistent'], ['status', board + b'/zt'],
                                   ['check', board + b'/lock'], ['help'], ['--help'], ['status', '--x', board],
                                   ['theme', board], ['unlock', board, '--force', '--force'],
                                   ['check'], ['export', board, '--', 'x']]), kind='zt-admin usage')]
    return Case(number, tree, mtimes, steps, sorted(set(tags)))


def make_case(seed, number, bases):
    rng = random.Random(f'{seed}/case/{number}')
    kind = pick(rng, [(30, 'write'), (14, 'view'), (10, 'read'), (18, 'posts'), (16, 'mixed'), (12, 'admin')])
    if kind == 'admin':
        return admin_case(rng, number, bases)
    return board_case(rng, number, bases, kind)


def fill_post(rng, who, size):
    four = sjis_text(rng, 4) if rng.random() < 0.9 else bytes(rng.choice(HALF_KANA) for _ in range(4))
    body = b'four=' + url_encode(rng, four, 'pct') + b'&prev=%d' % size + b'&namae=' + url_encode(rng, who.name, 'pct')
    return post_step(body, post_env(b'%d' % len(body), who.address))


def make_bases(seed, old):
    """The boards that cases start from, made by the OLD tree's zt-admin init and zt-write.
    Filled logs get their records from real posts, with the record templates' time callback
    replaced by a fixed time while they are made, so that the same seed gives the same bytes."""
    bases = []
    for log_bytes, posts in ((None, 0), (256, 0), (4096, 0), (16384, 12), (256, 40), (1000, 60),
                             (4096, 160), (16384, 700)):
        name = f'{"default" if log_bytes is None else log_bytes}-{"fresh" if not posts else f"{posts}-posts"}'
        rng = random.Random(f'{seed}/base/{name}')
        if os.path.lexists(BOARD):
            shutil.rmtree(BOARD)
        args = [b'init', bytes(BOARD)]
        result = run_step(old, Step('zt-admin', 'init', 'init', args=args))
        if result.status != 'exit 0':
            fail(f'zt-admin init of the OLD tree failed: {result.stderr.decode(errors="replace")}')
        # No rate file: the fill posts come faster than any rate takes them, and its slots hold
        # the wall clock's seconds, which differ between the sides. A board without it takes
        # posts as one made before the rate did.
        if os.path.lexists(BOARD / 'zt/zt-rate.txt'):
            os.unlink(BOARD / 'zt/zt-rate.txt')
        # Logs smaller than init takes (it refuses logs that cannot hold eight of the largest
        # records), put in place as empty logs, so that they wrap after a few posts.
        for digit in range(1, 9) if log_bytes else ():
            with open(BOARD / f'zt/zt-com{digit}.txt', 'wb') as f:
                f.write((b'%08x\n%08x\n' % (log_bytes, log_bytes)).ljust(log_bytes, b'\0'))
        state = capture(BOARD)
        tree = {p: (DIR if kind == 'directory' else content) for p, (kind, _, content) in state.items()}
        if posts:
            originals = {p: tree[p] for p in RECORD_TEMPLATES}
            for p in RECORD_TEMPLATES:
                with open(BOARD / p, 'wb') as f:
                    f.write(originals[p].replace(b'\x01(0)', b'25/1/2 12:34:56'))
            posters = [poster(rng, odd=False) for _ in range(5)]
            posters = [Identity(p.name + b'%d' % i, b'198.51.100.%d' % i) for i, p in enumerate(posters)]
            for i in range(posts):
                who = posters[i % len(posters)]
                size = os.path.getsize(BOARD / TEXT)
                result = run_step(old, fill_post(rng, who, size))
                if result.status != 'exit 0':
                    fail(f'a post that fills a base board was refused: {result.stdout[-300:]!r}')
            state = capture(BOARD)
            tree = {p: (DIR if kind == 'directory' else content) for p, (kind, _, content) in state.items()}
            tree.update(originals)
        bases.append(Base(name, tree))
    return bases


# ---------------------------------------------------------------------------------------
# Running a case on both sides and comparing

@dataclasses.dataclass
class Difference:
    step: int          # index into the case's steps
    kind: str          # e.g. "zt-view: standard output"
    detail: str        # what differed, for the report
    follows: bool      # the boards had already diverged before this step


def wait_clear_of_width_change():
    """Waits when the local hour or date is about to gain or lose a digit (0:00, 10:00)."""
    while True:
        now = (time.time() + TZ_OFFSET_SECONDS) % 86400
        ahead = min((b - now) for b in (10 * 3600, 86400) if b - now > 0)
        if ahead > 60:
            return
        time.sleep(ahead + 1)


def run_side(side, case, keep_dir=None):
    materialise(case.tree, case.mtimes, BOARD)
    if keep_dir:
        shutil.copytree(BOARD, keep_dir / 'start', symlinks=True, dirs_exist_ok=True)
    results = []
    for step in case.steps:
        result = run_step(side, step)
        results.append((result, capture(BOARD)))
    if keep_dir:
        shutil.copytree(BOARD, keep_dir / side.name, symlinks=True)
    return results


def compare(case, old_results, new_results):
    """The differences between the two sides' runs of a case. Tree differences are reported at
    the first step whose trees differ; later steps' outputs are still compared."""
    differences = []
    diverged = False
    for i, (step, (old, old_state), (new, new_state)) in enumerate(zip(case.steps, old_results, new_results)):
        codec = 'utf-8' if step.program == 'zt-admin' else 'cp932'
        if old.status != new.status:
            differences.append(Difference(i, f'{step.kind}: exit status', f'old: {old.status}\nnew: {new.status}', diverged))
        for label, a, b in (('standard output', old.stdout, new.stdout), ('standard error', old.stderr, new.stderr)):
            if a != b:
                a, b = normalise(a), normalise(b)
                if a != b:
                    differences.append(Difference(i, f'{step.kind}: {label}', bytes_difference(a, b, codec), diverged))
        if old_state != new_state:
            earlier = [state for _, state in old_results[:i + 1] + new_results[:i + 1]]
            a, b = comparable(old_state, new_state, earlier)
            if a != b:
                if not diverged:
                    for kind, detail in tree_differences(a, b):
                        differences.append(Difference(i, f'{step.kind}: {kind}', detail, False))
                diverged = True
    return differences


def tree_differences(a, b):
    """(kind, detail) for every entry in which two trees differ."""
    out = []
    for path in sorted(set(a) | set(b)):
        name = shown_path(path)
        if path not in b:
            out.append((f'board {path} missing in new', f'{name}: {a[path][0]} in old only'))
        elif path not in a:
            out.append((f'board {path} extra in new', f'{name}: {b[path][0]} in new only'))
        elif a[path][0] != b[path][0]:
            out.append((f'board {path} type', f'{name}: {a[path][0]} in old, {b[path][0]} in new'))
        elif a[path][1] != b[path][1]:
            out.append((f'board {path} mode', f'{name}: mode {a[path][1]:o} in old, {b[path][1]:o} in new'))
        elif a[path][2] != b[path][2]:
            out.append((f'board {path} content',
                        f'{name}:\n' + bytes_difference(a[path][2], b[path][2], 'cp932')))
    return out


# ---------------------------------------------------------------------------------------
# Showing bytes

def shown(data, limit):
    """Bytes as a short printable string: ASCII as it is, everything else as \\xNN."""
    if data is None:
        return '(none)'
    text = ''.join(chr(b) if 0x20 <= b < 0x7F and b != 0x5C else f'\\x{b:02x}' for b in data[:limit])
    return text + (f'...({len(data)} bytes)' if len(data) > limit else '')


def shown_path(path):
    return shown(path.encode('utf-8', 'surrogateescape'), 200)


def readable_line(line, codec, column, width=200):
    """A line for the diff: decoded for reading, control bytes as \\xNN; a long one only
    around column, where the first difference lies."""
    cut_left = cut_right = ''
    if len(line) > width:
        start = max(0, min(column - width // 3, len(line) - width))
        cut_left = f'[{start} bytes]...' if start else ''
        cut_right = f'...[{len(line) - start - width} bytes]' if start + width < len(line) else ''
        line = line[start:start + width]
    text = line.decode(codec, errors='backslashreplace')
    return cut_left + ''.join(c if c.isprintable() or c == '\t' else f'\\x{ord(c):02x}' for c in text) + cut_right


def bytes_difference(a, b, codec, context_lines=2, max_lines=30):
    """The first differing byte with hex on both sides, then a short unified diff by lines."""
    at = next((i for i, (x, y) in enumerate(zip(a, b)) if x != y), min(len(a), len(b)))
    column = at - (a.rfind(b'\n', 0, at) + 1)
    lines = [f'{len(a)} bytes in old, {len(b)} in new; first difference at byte {at}:',
             f'  old: {a[max(0, at - 8):at + 24].hex(" ")}',
             f'  new: {b[max(0, at - 8):at + 24].hex(" ")}   (from byte {max(0, at - 8)})']
    diff = list(difflib.unified_diff([readable_line(x, codec, column) for x in a.split(b'\n')],
                                     [readable_line(x, codec, column) for x in b.split(b'\n')],
                                     'old', 'new', n=context_lines, lineterm=''))
    lines += ['  ' + line for line in diff[2:max_lines + 2]]
    if len(diff) > max_lines + 2:
        lines.append(f'  ... {len(diff) - max_lines - 2} more diff lines')
    return '\n'.join(lines)


# ---------------------------------------------------------------------------------------
# The report

def replay_command(args, old, new, number):
    command = f'tools/differential --seed {args.seed} --case {number} {old.commit}'
    return command + (f' {new.commit}' if new.commit else '')


def write_steps(path, case):
    with open(path, 'w') as f:
        for i, step in enumerate(case.steps):
            f.write(f'step {i + 1}: {step.program} {" ".join(shown(a, 400) for a in step.args)}\n')
            for name, value in sorted(step.env.items()):
                f.write(f'  {shown(name, 100)}={shown(value, 2000)}\n')
            if step.stdin:
                f.write(f'  standard input: {shown(step.stdin, 40000)}\n')


@dataclasses.dataclass
class Differing:
    case: Case
    differences: list
    checked: bool = False     # run again, and run with OLD on both sides
    came_back: bool = True    # OLD against NEW differed again
    runner_fault: bool = False  # OLD against OLD differed too

    def verdict(self):
        if not self.checked:
            return ''
        if self.runner_fault:
            return 'RUNNER FAULT: the OLD programs on both sides differ too (normalisation or isolation)'
        if not self.came_back:
            return 'FLAKY: the difference did not come back when the case ran again'
        return ''


def check_again(old, new, entry, keep_dir):
    """Runs a differing case once more, OLD against NEW, and once with OLD on both sides a
    second apart, so that a record's time stamp differs between them: a difference there is
    the runner's own. Returns the program runs it took."""
    case = entry.case
    wait_clear_of_width_change()
    entry.came_back = bool(compare(case, run_side(old, case, keep_dir), run_side(new, case, keep_dir)))
    wait_clear_of_width_change()
    first = run_side(old, case)
    time.sleep(1.1)
    entry.runner_fault = bool(compare(case, first, run_side(old, case)))
    entry.checked = True
    return 4 * len(case.steps)


def print_case(entry, old, new, args):
    case, differences = entry.case, entry.differences
    print(f'\n== case {case.number}')
    if entry.verdict():
        print(f'          {entry.verdict()}')
    print(f'replay:   {replay_command(args, old, new, case.number)}')
    print(f'tags:     {" ".join(case.tags)}')
    for i in sorted({d.step for d in differences}):
        print(f'step {i + 1} of {len(case.steps)}: {case.steps[i].describe}')
        for d in (d for d in differences if d.step == i):
            print(f'  -- {d.kind}{" (the boards had already diverged)" if d.follows else ""}')
            for line in d.detail.split('\n'):
                print('     ' + line)


def summary(cases_run, all_tags, runs, check_runs, differing, elapsed, build_seconds):
    print('\n== summary')
    print(f'cases        {cases_run} ({len(differing)} with differences)')
    print(f'program runs {runs} ({runs // 2} per side)' +
          (f', and {check_runs} running differing cases again' if check_runs else ''))
    print(f'time         {elapsed:.0f} s, of which {build_seconds:.0f} s building and preparing')
    if not differing:
        print('differences  none')
        return
    kinds = Counter()
    tags_by_kind = {}
    for entry in differing:
        for kind in sorted({d.kind for d in entry.differences}):
            kinds[kind] += 1
            tags_by_kind.setdefault(kind, Counter()).update(entry.case.tags)
    print('differences by kind: the number of cases, and the tags that mark them most, each with')
    print('the number of these cases that carry it and its share of all cases')
    for kind, count in sorted(kinds.items(), key=lambda kv: (-kv[1], kv[0])):
        print(f'  {count:>5}  {kind}')
        # A tag marks a kind when it is much more common among its cases than among all.
        lift = {tag: (n / count) / (all_tags[tag] / cases_run) for tag, n in tags_by_kind[kind].items()}
        marking = sorted(((tag, n) for tag, n in tags_by_kind[kind].items()
                          if lift[tag] >= 2 and (n >= 2 or count == 1)),
                         key=lambda item: (-item[1] * lift[item[0]], item[0]))
        if marking:
            print('         ' + ', '.join(f'{tag} {n} ({100 * all_tags[tag] / cases_run:.0f}%)'
                                       for tag, n in marking[:5]))
    checked = [e for e in differing if e.checked]
    print(f'checked      {len(checked)} differing case{"s" if len(checked) != 1 else ""} ran again: '
          f'{sum(not e.came_back for e in checked)} did not differ again, '
          f'{sum(e.runner_fault for e in checked)} differed with OLD on both sides (a runner fault)')


CHECKED_CASES = 30  # differing cases run again to tell flaky and runner-made differences


def main():
    parser = argparse.ArgumentParser(prog='tools/differential', description='Runs two trees\' programs over '
                                     'the same generated cases and reports every difference.')
    parser.add_argument('--cases', type=int, default=700, help='cases 0 to N-1 (default 700)')
    parser.add_argument('--seed', type=int, default=1, help='the seed every case comes from (default 1)')
    parser.add_argument('--case', type=int, action='append', help='run only case K (repeatable)')
    parser.add_argument('--show', type=int, default=10, help='differing cases printed in full (default 10)')
    parser.add_argument('--keep', action='store_true', help='keep the trees of differing cases in '
                        'build-differential/kept/')
    parser.add_argument('old', metavar='OLD_REF')
    parser.add_argument('new', metavar='NEW_REF', nargs='?', default='')
    args = parser.parse_args()
    if args.cases < 0:
        fail('--cases takes a number of cases, 0 or more')

    os.umask(0o022)
    CACHE.mkdir(exist_ok=True)
    lock = open(CACHE / 'differential.lock', 'w')
    try:
        fcntl.flock(lock, fcntl.LOCK_EX | fcntl.LOCK_NB)
    except BlockingIOError:
        fail('another tools/differential is running in this tree (build-differential/differential.lock)')

    started = time.monotonic()
    print(f'== building OLD {args.old}', file=sys.stderr)
    old = build_side('old', args.old)
    print(f'== building NEW {args.new or "(the working tree)"}', file=sys.stderr)
    new = build_side('new', args.new)
    if os.path.lexists(WORK):
        shutil.rmtree(WORK)
    WORK.mkdir(parents=True)
    if args.keep and KEPT.exists():
        shutil.rmtree(KEPT)
    print('== preparing the base boards', file=sys.stderr)
    bases = make_bases(args.seed, old)
    build_seconds = time.monotonic() - started

    numbers = args.case if args.case else range(args.cases)
    print(f'== OLD {old.label} against NEW {new.label}; seed {args.seed}, '
          f'{len(numbers)} case{"s" if len(numbers) != 1 else ""}')
    sys.stdout.flush()
    runs = check_runs = 0
    differing = []
    all_tags = Counter()
    for done, number in enumerate(numbers):
        case = make_case(args.seed, number, bases)
        all_tags.update(case.tags)
        wait_clear_of_width_change()
        old_results = run_side(old, case)
        new_results = run_side(new, case)
        runs += 2 * len(case.steps)
        differences = compare(case, old_results, new_results)
        if differences:
            entry = Differing(case, differences)
            differing.append(entry)
            if len(differing) <= CHECKED_CASES:
                keep_dir = KEPT / f'case-{number}' if args.keep else None
                if keep_dir:
                    keep_dir.mkdir(parents=True)
                    write_steps(keep_dir / 'steps.txt', case)
                check_runs += check_again(old, new, entry, keep_dir)
            if len(differing) <= args.show:
                print_case(entry, old, new, args)
            else:
                kinds = sorted({d.kind for d in differences})
                verdict = f'\n          {entry.verdict()}' if entry.verdict() else ''
                print(f'\n== case {case.number}: {"; ".join(kinds)}{verdict}\n'
                      f'replay:   {replay_command(args, old, new, case.number)}')
            sys.stdout.flush()
        if (done + 1) % 50 == 0:
            print(f'   {done + 1} of {len(numbers)} cases, {runs} runs, {len(differing)} differing, '
                  f'{time.monotonic() - started:.0f} s', file=sys.stderr)
    summary(len(numbers), all_tags, runs, check_runs, differing, time.monotonic() - started, build_seconds)
    if args.keep and differing:
        print(f'kept         the trees of the first {CHECKED_CASES} differing cases in {KEPT}/case-K/')
    sys.exit(1 if differing else 0)


if __name__ == '__main__':
    main()
