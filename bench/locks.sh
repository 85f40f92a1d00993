#!/usr/bin/env bash
# Lock and atomic profile of the per-file path of `varnel convert --jobs 2`: how many mutex and
# condition-variable operations and atomic read-modify-write instructions a run executes per
# file, and where. Each batch runs twice under callgrind, over N1 and N2 files; the difference
# divided by N2 - N1 is the cost of one file, free of start-up and report writing. Contended
# waits are counted separately with strace (futex calls per file).
#   empty - empty rules on small files (about 50 KB: Type-2 text, a Type-9, a Type-14 image)
#   wsq   - WSQ recompression of four 500x500 prints per file
#   card  - a tenprint card per file (cairo, fontconfig, libtiff); over CARD_N1 and CARD_N2 files
#           (default 1 and 3: a card takes about a minute under callgrind)
# Usage: bench/locks.sh [BUILD_DIR] [N1] [N2] [SCENARIO...]
#   (BUILD_DIR holds cli/varnel and samples/varnel-gen; needs valgrind, strace, objdump, python3)
set -euo pipefail

build=${1:-build}
n1=${2:-4}
n2=${3:-12}
shift $(($# > 3 ? 3 : $#))
scenarios=${*:-empty wsq card}
varnel="$build/cli/varnel"
gen="$build/samples/varnel-gen"
[ -x "$varnel" ] && [ -x "$gen" ] || { echo "build the varnel and varnel-gen targets in $build first" >&2; exit 2; }
for tool in valgrind strace objdump python3; do
  command -v "$tool" > /dev/null || { echo "$tool is needed" >&2; exit 2; }
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
: > "$work/empty.ntx"
echo "Compress Records To WSQ|2.25||||" > "$work/wsq.ntx"
echo "Export To Tenprint|card_%FILENAME%|||" > "$work/card.ntx"

make_folder() {  # scenario, count, folder
  case $1 in
    empty) "$gen" --out "$3" --count "$2" --type2-fields 20 --type9 1 --type14 1 --type14-size 220x220 > /dev/null ;;
    wsq) "$gen" --out "$3" --count "$2" --type14 4 --type14-size 500x500 > /dev/null ;;
    card) "$gen" --out "$3" --count "$2" --type2-fields 5 --type14 2 --type14-size 300x300 > /dev/null ;;
    *) echo "unknown scenario $1" >&2; exit 2 ;;
  esac
}

rules_of() { echo "$work/$1.ntx"; }

# Per-function counts of one callgrind profile: lock calls and atomic instructions executed.
cat > "$work/count.py" << 'EOF'
import collections, re, subprocess, sys

LOCKS = re.compile(r'^(pthread_mutex_(lock|trylock|timedlock)|pthread_rwlock_(rd|wr|tryrd|trywr)lock|'
                   r'pthread_cond_(wait|timedwait|clockwait|signal|broadcast)|'
                   r'__pthread_mutex_(lock|trylock)|___pthread_mutex_lock|__lll_lock_wait(_private)?|'
                   r'__pthread_once|pthread_once|__cxa_guard_acquire)(@.*)?$')
ATOMIC = re.compile(r'\block\b|\bxchg\w*\s+[^,]*\(|\bxchg\w*\s+%\w+,[^,]*\(')

def atomic_addresses(obj, cache={}):
    if obj not in cache:
        found = set()
        try:
            out = subprocess.run(['objdump', '-d', '--no-show-raw-insn', obj], capture_output=True,
                                 text=True, check=False).stdout
        except OSError:
            out = ''
        for line in out.splitlines():
            m = re.match(r'\s*([0-9a-f]+):\s+(.*)', line)
            if m and ATOMIC.search(m.group(2)):
                found.add(int(m.group(1), 16))
        cache[obj] = found
    return cache[obj]

names = {'ob': {}, 'fn': {}, 'fl': {}}
def name(kind, text):
    m = re.match(r'\((\d+)\)(?: (.*))?', text)
    if not m:
        return text
    if m.group(2) is not None:
        names[kind][m.group(1)] = m.group(2)
    return names[kind].get(m.group(1), '?')

locks = collections.Counter()    # (callee, caller, caller object) -> calls
atomics = collections.Counter()  # (function, object) -> atomic instructions executed
ob = fn = cob = cfn = None
after_calls = False
for line in open(sys.argv[1], errors='replace'):
    line = line.rstrip('\n')
    if after_calls:
        after_calls = False
        continue
    if line.startswith('ob='):
        ob = name('ob', line[3:])
    elif line.startswith('fn='):
        fn = name('fn', line[3:])
        cob = None
    elif line.startswith('cob='):
        cob = name('ob', line[4:])
    elif line.startswith('cfn='):
        cfn = name('fn', line[4:])
    elif line.startswith('calls='):
        count = int(line[6:].split()[0])
        if LOCKS.match(cfn or ''):
            locks[(re.sub(r'@.*', '', cfn), fn, ob)] += count
        after_calls = True
    elif line[:1] in '0123456789' or line.startswith('0x'):
        parts = line.split()
        if len(parts) >= 2 and ob:
            addr = int(parts[0], 16)
            if addr in atomic_addresses(ob):
                atomics[(fn, ob)] += int(parts[-1])
def short(f):
    # Function names without template and parameter lists, which make up most of their length.
    f = f.replace('(anonymous namespace)', '{anon}')
    out, depth = [], 0
    for ch in f:
        if ch in '<(':
            depth += 1
        elif ch in '>)' and depth:
            depth -= 1
        elif depth == 0:
            out.append(ch)
    return ''.join(out).replace('{anon}', '(anon)').strip() or f

shortLocks, shortAtomics = collections.Counter(), collections.Counter()
for (callee, caller, obj), n in locks.items():
    shortLocks[(callee, short(caller), obj)] += n
for (f, obj), n in atomics.items():
    shortAtomics[(short(f), obj)] += n
locks, atomics = shortLocks, shortAtomics
for (callee, caller, obj), n in locks.items():
    print('lock\t%s\t%s\t%s\t%d' % (callee, caller, obj.rsplit('/', 1)[-1], n))
for (f, obj), n in atomics.items():
    print('atomic\t%s\t%s\t%d' % (f, obj.rsplit('/', 1)[-1], n))
EOF

# Differences of two count tables, per file, largest first.
cat > "$work/diff.py" << 'EOF'
import collections, sys
n1, n2 = int(sys.argv[3]), int(sys.argv[4])
def load(path):
    c = collections.Counter()
    for line in open(path):
        parts = line.rstrip('\n').split('\t')
        c[tuple(parts[:-1])] += int(parts[-1])
    return c
a, b = load(sys.argv[1]), load(sys.argv[2])
rows = []
for key in set(a) | set(b):
    per = (b[key] - a[key]) / (n2 - n1)
    if abs(per) >= 0.5:
        rows.append((per, key))
rows.sort(key=lambda r: -r[0])
for kind in ('lock', 'atomic'):
    total = sum(p for p, k in rows if k[0] == kind)
    print('  %s per file: %.1f' % ('lock/condvar calls' if kind == 'lock' else 'atomic RMW instructions', total))
    for per, key in rows:
        if key[0] == kind:
            what = '  '.join(k[:90] for k in key[1:])
            print('    %10.1f  %s' % (per, what))
EOF

for s in $scenarios; do
  a=$n1 b=$n2
  [ "$s" = card ] && a=${CARD_N1:-1} b=${CARD_N2:-3}
  for n in "$a" "$b"; do
    make_folder "$s" "$n" "$work/src-$s-$n"
    rm -rf "$work/out" && mkdir -p "$work/out"
    valgrind --tool=callgrind --dump-instr=yes --compress-pos=no --compress-strings=no \
      --callgrind-out-file="$work/cg-$s-$n" "$varnel" convert --quiet --jobs 2 \
      --source "$work/src-$s-$n" --dest "$work/out" --rules "$(rules_of "$s")" > /dev/null 2>&1 || true
    python3 "$work/count.py" "$work/cg-$s-$n" > "$work/counts-$s-$n"
    rm -rf "$work/out" && mkdir -p "$work/out"
    strace -f -qq -c -e trace=futex -o "$work/futex-$s-$n" "$varnel" convert --quiet --jobs 2 \
      --source "$work/src-$s-$n" --dest "$work/out" --rules "$(rules_of "$s")" > /dev/null || true
  done
  echo "== $s: --jobs 2, per file (runs over $a and $b files)"
  python3 "$work/diff.py" "$work/counts-$s-$a" "$work/counts-$s-$b" "$a" "$b"
  f1=$(awk '$NF == "futex" { print $4 }' "$work/futex-$s-$a")
  f2=$(awk '$NF == "futex" { print $4 }' "$work/futex-$s-$b")
  echo "  futex system calls (waits and wake-ups): ${f1:-0} over $a files, ${f2:-0} over $b files"
done
