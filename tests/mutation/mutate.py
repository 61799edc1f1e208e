#!/usr/bin/env python3
# Mutation runner: plants one small fault at a time in the tool's own code, rebuilds the test
# suites, runs them and reports the faults that no test noticed. See README.md in this folder.
import argparse, fnmatch, random, re, shutil, signal, subprocess, sys, time
from collections import Counter
from pathlib import Path

ROOT = Path(__file__).resolve().parents[2]
DIRS = ['app', 'access', 'archive', 'config', 'controls', 'link', 'logbook', 'platform', 'records', 'res']
SKIP = {'app/main.cpp', 'logbook/main.cpp'}  # main() is in no test executable
SIGNALS = {signal.SIGINT, signal.SIGTERM}
FLIP = {'<': '>=', '>=': '<', '>': '<=', '<=': '>', '==': '!=', '!=': '==', '&&': '||', '||': '&&'}
OP_RE = re.compile(r'(?<= )(<=|>=|==|!=|&&|\|\||<|>)(?= )')  # binary operators stand between blanks
INT_RE = re.compile(r'(?<![\w.])(0[xX][0-9a-fA-F]+|[1-9]\d*|0)(?=[uUlL]*(?![\w.]))')
# The condition of an if or while, with up to two levels of parentheses inside.
COND_RE = re.compile(r'\b(?:if|while) \(((?:[^()]|\((?:[^()]|\([^()]*\))*\))*)\)')
# A call, an assignment or a return alone on its line.
STMT_RE = re.compile(r'return\b.*;|[\w.:>\[\]*-]+(\(.*\)| [-+*/|&]?= .*);')
TOKEN_RE = re.compile(r'//[^\n]*|/\*.*?\*/|"(?:\\.|[^"\\\n])*"|\'(?:\\.|[^\'\\\n])*\'', re.S)


# A comment blanked, or a literal with its interior blanked; line breaks stay.
def blank(m):
    text = re.sub(r'[^\n]', ' ', m.group())
    return m.group()[0] + text[1:-1] + m.group()[-1] if m.group()[0] in '"\'' else text


# The constant one up, one down, or another byte value (0x00, 0xFF).
def int_variant(rng, tok):
    n = int(tok, 0)
    m = rng.choice(sorted({n + 1, n - 1, 0x00, 0xFF} - {n, -1}))
    return '0x%02X' % m if tok[:2] in ('0x', '0X') else str(m)


# Every site of one file as (line, start, end, replacement, kind).
def sites_of(path, rng):
    text, prev = path.read_text(encoding='utf-8'), ';'
    for no, (line, code) in enumerate(zip(text.split('\n'), TOKEN_RE.sub(blank, text).split('\n'))):
        stmt = code.strip()
        if not stmt or stmt.startswith('#'):
            continue
        for m in OP_RE.finditer(code):
            yield no, m.start(), m.end(), FLIP[m.group()], 'operator'
        for m in INT_RE.finditer(code):
            yield no, m.start(), m.end(), int_variant(rng, m.group()), 'constant'
        for m in COND_RE.finditer(code):
            yield no, m.start(1), m.end(1), '!(%s)' % line[m.start(1):m.end(1)], 'condition'
        if STMT_RE.fullmatch(stmt) and (prev[-1] in ';{}:)' or prev in ('else', 'do')):
            yield no, len(line) - len(line.lstrip()), len(code.rstrip()), '{}', 'statement'
        for s in re.finditer(r'"( +)"', code):  # escape sequences stay as they are
            chars = [j for j in range(*s.span(1)) if '\\' not in (line[j - 1], line[j])]
            if chars:
                j = rng.choice(chars)
                yield no, j, j + 1, 'Y' if line[j] == 'X' else 'X', 'string'
        prev = stmt


# Runs cmd in a process group of its own; returns its output and exit status (None on timeout).
def run(cmd, timeout=None):
    with subprocess.Popen(cmd, cwd=ROOT, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True,
                          errors='replace', start_new_session=True) as p:
        try:
            return p.communicate(timeout=timeout)[0], p.returncode
        except subprocess.TimeoutExpired:
            return '', None
        finally:
            subprocess.run(['kill', '-KILL', '--', '-%d' % p.pid], stderr=subprocess.DEVNULL)


# 'not compiling', 'killed' (naming the failed suites) or 'survived'.
def build_and_test(args):
    # Every suite's executable: the Qt Test suites and the one run against a PostgreSQL server.
    targets = sorted(t.stem for t in [*(ROOT / 'tests').glob('tst_*.cpp'), *(ROOT / 'tests/pg').glob('pg_*.cpp')])
    chosen = ['-E', 'install_check|package_check']
    if args.tests:  # only the named suites: a quick first pass, its survivors run again with all
        targets = [t for t in targets if re.search(args.tests, t)]
        chosen = ['-R', args.tests]
    if run(['cmake', '--build', args.build_dir, '--target'] + targets)[1] != 0:
        return 'not compiling'
    out, status = run(['ctest', '--test-dir', args.build_dir, *chosen, '-j2', '--stop-on-failure'], args.timeout)
    if status is None:
        return 'killed (timed out)'
    if 'No tests were found' in out:  # a half-written build tree: no verdict can come from it
        sys.exit('no suites in %s: configure it again (cmake -S . -B %s)' % (args.build_dir, args.build_dir))
    return 'killed (%s)' % ' '.join(re.findall(r'\d+ - (\w+) \(', out)) if status else 'survived'


def mutant(site):
    # The file's original bytes, its bytes with the mutant, and the mutant's one-line diff.
    path, no, start, end, new, kind = site
    original = (ROOT / path).read_bytes()
    lines = original.decode('utf-8').split('\n')
    before, lines[no] = lines[no], lines[no][:start] + new + lines[no][end:]
    diff = '%s:%d [%s]\n  - %s\n  + %s\n' % (path, no + 1, kind, before.strip(), lines[no].strip())
    return original, '\n'.join(lines).encode('utf-8'), diff


# The mutants of a survivors file again, each found by its line's text (the line may have moved).
def again(path):
    sites = []
    entries = re.findall(r'^(\S+):(\d+) \[(\w+)\]\n  - (.*)\n  \+ (.*)$', Path(path).read_text(encoding='utf-8'), re.M)
    for f, no, kind, before, after in entries:
        lines = (ROOT / f).read_text(encoding='utf-8').split('\n')
        found = [i for i, line in enumerate(lines) if line.strip() == before]
        if not found:
            print('gone: %s:%s no longer has "%s"' % (f, no, before))
            continue
        i = min(found, key=lambda i: abs(i - int(no) + 1))
        sites.append((f, i, len(lines[i]) - len(lines[i].lstrip()), len(lines[i].rstrip()), after, kind))
    return sites


def main():
    ap = argparse.ArgumentParser(description='Plants one fault at a time in the tool and runs the suites.')
    ap.add_argument('-n', '--mutants', type=int, default=20, help='mutants that compile (default 20)')
    ap.add_argument('--seed', type=int, help='default: a random one, printed')
    ap.add_argument('--files', action='append', default=[], help='substring or glob of paths to mutate')
    ap.add_argument('--build-dir', default=str(ROOT / 'build-mutation'))
    ap.add_argument('--timeout', type=float, default=120, help='seconds for the suites of one mutant')
    ap.add_argument('--survivors', help='default: <build-dir>/survivors.txt')
    ap.add_argument('--tests', metavar='REGEX', help='build and run only the suites whose names match')
    ap.add_argument('--list', action='store_true', help='print the sampled mutants and stop')
    ap.add_argument('--again', metavar='SURVIVORS', help='run the mutants of a survivors file again, all of them')
    args = ap.parse_args()
    seed = random.randrange(10000) if args.seed is None else args.seed
    rng = random.Random(seed)
    files = [p.relative_to(ROOT).as_posix() for d in DIRS for p in sorted((ROOT / d).glob('*.[ch]*'))]
    files = [f for f in files if f not in SKIP and (not args.files or any(
        pattern in f or fnmatch.fnmatch(f, pattern) for pattern in args.files))]
    sites = [(f, *site) for f in files for site in sites_of(ROOT / f, rng)]
    rng.shuffle(sites)
    if args.again:
        sites = again(args.again)
        args.mutants = len(sites)
    print('%d sites in %d files, seed %d' % (len(sites), len(files), seed), flush=True)
    if args.list:
        for site in sites[:args.mutants]:
            print(mutant(site)[2], end='')
        return
    ccache = ['-DCMAKE_CXX_COMPILER_LAUNCHER=ccache'] if shutil.which('ccache') else []
    run(['cmake', '-S', '.', '-B', args.build_dir, '-G', 'Ninja', '-DCMAKE_BUILD_TYPE=',
         '-DLMX207_SHARED_CORE=ON'] + ccache)
    if build_and_test(args) != 'survived':
        sys.exit('the unchanged tree does not build or its suites fail in ' + args.build_dir)
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(143))
    tally, survivors = Counter(), []
    for site in sites:
        (original, mutated, diff), t0 = mutant(site), time.monotonic()
        try:
            (ROOT / site[0]).write_bytes(mutated)
            result = build_and_test(args)
        finally:  # the original bytes, with a fresh mtime so that ninja rebuilds them (from ccache)
            signal.pthread_sigmask(signal.SIG_BLOCK, SIGNALS)
            (ROOT / site[0]).write_bytes(original)
            signal.pthread_sigmask(signal.SIG_UNBLOCK, SIGNALS)
        tally[result.split(' (')[0]] += 1
        print('%-28s %3.0f s  %s' % (result, time.monotonic() - t0, diff), end='', flush=True)
        survivors += [diff] if result == 'survived' else []
        if tally['killed'] + tally['survived'] == args.mutants:
            break
    compiled = tally['killed'] + tally['survived']
    out = Path(args.survivors or Path(args.build_dir) / 'survivors.txt')
    out.write_text(''.join(survivors), encoding='utf-8')
    print('score: %d killed of %d compiled (%.1f %%), %d not compiling, seed %d' % (
        tally['killed'], compiled, 100.0 * tally['killed'] / max(compiled, 1), tally['not compiling'], seed))


if __name__ == '__main__':
    main()
