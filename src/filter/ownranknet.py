#!/usr/bin/env python3
# Writes ownranknet.h: the compare-exchange networks of the k x k medians of
# 8-bit samples (k = 5, 7, 9), 32 samples per AVX2 register, pruned to the
# operations the results depend on, each checked here on random data. Run
# from this directory: python3 ownranknet.py > ownranknet.h
import random

# Random test data for the checks, the same on every run.
RNG = random.Random(7)


class Net:
    """A network of min/max operations; values are indices into ops."""

    def __init__(self):
        self.ops = []

    def inp(self, expr):
        self.ops.append(('in', expr))
        return len(self.ops) - 1

    def op(self, kind, a, b):
        self.ops.append((kind, a, b))
        return len(self.ops) - 1

    def ce(self, a, b):
        return self.op('min', a, b), self.op('max', a, b)

    def live(self, outs):
        live = set(outs)
        for i in range(len(self.ops) - 1, -1, -1):
            if i in live and self.ops[i][0] != 'in':
                live.update(self.ops[i][1:])
        return live

    def run(self, env, outs):
        val = []
        for o in self.ops:
            if o[0] == 'in':
                val.append(env[o[1]])
            else:
                val.append((min if o[0] == 'min' else max)(val[o[1]], val[o[2]]))
        return [val[o] for o in outs]


def insert(net, s, x):
    """x merged into the sorted list s."""
    out = []
    for v in s:
        lo, x = net.ce(v, x)
        out.append(lo)
    return out + [x]


def merge(net, a, b):
    """Odd-even merge of the sorted lists a and b."""
    if not a or not b:
        return list(a or b)
    if len(a) == 1 and len(b) == 1:
        return list(net.ce(a[0], b[0]))
    e, o = merge(net, a[0::2], b[0::2]), merge(net, a[1::2], b[1::2])
    r = [e[0]]
    for j in range(max(len(o), len(e) - 1)):
        if j < len(o) and j + 1 < len(e):
            r += net.ce(o[j], e[j + 1])
        else:
            r.append(o[j] if j < len(o) else e[j + 1])
    return r


def select(net, a, b, k):
    """The k-th smallest (from 0) of the sorted lists a and b:
    min over i of max(a[i - 1], b[k - i])."""
    terms = []
    for i in range(k + 2):
        ai, bi = i - 1, k - i
        if ai >= len(a) or bi >= len(b):
            continue
        terms.append(b[bi] if ai < 0 else a[ai] if bi < 0 else net.op('max', a[ai], b[bi]))
    r = terms[0]
    for t in terms[1:]:
        r = net.op('min', r, t)
    return r


def body(net, outs):
    live = net.live(outs)
    lines, count = [], 0
    for i, o in enumerate(net.ops):
        if i not in live:
            continue
        if o[0] == 'in':
            lines.append(f'    const __m256i v{i} = {o[1]};')
        else:
            fn = 'ownMin8' if o[0] == 'min' else 'ownMax8'
            lines.append(f'    const __m256i v{i} = {fn}(v{o[1]}, v{o[2]});')
            count += 1
    return lines, count


def store(plane, names):
    return [f'    _mm256_storeu_si256(reinterpret_cast<__m256i*>({plane} + {k} * stride), v{v});'
            for k, v in enumerate(names)]


def sort(net, v):
    """Odd-even merge sort."""
    if len(v) <= 1:
        return list(v)
    h = len(v) // 2
    return merge(net, sort(net, v[:h]), sort(net, v[h:]))


def emit(k, tree):
    """The three routines of the k x k median; `tree` is the order in which
    the window's column pairs are merged (nested pairs of pair indices)."""
    out = [f'template <>', f'struct OwnRankNet<{k}> {{']
    # Columns of two output rows: rows 1 .. k-1 sorted once, row 0 merged in
    # for the upper output row and row k for the lower one.
    net = Net()
    r = [net.inp(f'ownLoadX(rows[{i}] + s, flip)') for i in range(k + 1)]
    shared = sort(net, r[1:k])
    up, down = insert(net, shared, r[0]), insert(net, shared, r[k])
    for _ in range(3000):
        v = [RNG.randrange(6) for _ in range(k + 1)]
        got = net.run({f'ownLoadX(rows[{i}] + s, flip)': v[i] for i in range(k + 1)}, up + down)
        assert got == sorted(v[:k]) + sorted(v[1:])
    lines, n = body(net, up + down)
    out += [f'    // The sorted columns (rank j in plane j) of rows 0 .. {k - 1} into `a` and',
            f'    // of rows 1 .. {k} into `b`, from sample s of the rows ({n} operations).',
            '    OWN_AVX2 static void sortColumns(uint8_t* a, uint8_t* b, const uint8_t* const* rows, int64_t s,',
            '                                     int64_t stride, __m256i flip) {']
    out += ['    ' + x for x in lines + store('a', up) + store('b', down)] + ['    }']

    # Two neighbouring sorted columns merged into 2k planes.
    net = Net()
    a = [net.inp(f'ownLoad(c + {j} * stride)') for j in range(k)]
    b = [net.inp(f'ownLoad(c + {j} * stride + L)') for j in range(k)]
    m = merge(net, a, b)
    for _ in range(3000):
        x, y = sorted(RNG.randrange(6) for _ in range(k)), sorted(RNG.randrange(6) for _ in range(k))
        env = {f'ownLoad(c + {j} * stride)': x[j] for j in range(k)}
        env.update({f'ownLoad(c + {j} * stride + L)': y[j] for j in range(k)})
        assert net.run(env, m) == sorted(x + y)
    lines, n = body(net, m)
    out += [f'    // The sorted columns of `c` at 0 and L merged into {2 * k} planes of `p`',
            f'    // ({n} operations).',
            '    OWN_AVX2 static void mergeColumns(uint8_t* p, const uint8_t* c, int64_t stride, int64_t L) {']
    out += ['    ' + x for x in lines + store('p', m)] + ['    }']

    # The median: rank k*k/2 (from 0) of the merged pairs at 0, 2L, 4L, ...
    # and the last column at (k - 1)L: the pairs merged, then the rank
    # selected against the column.
    pairs = k // 2
    net = Net()
    p = [[net.inp(f'ownLoad(p + {j} * stride + {2 * i} * L)') for j in range(2 * k)] for i in range(pairs)]
    c = [net.inp(f'ownLoad(c + {j} * stride + {k - 1} * L)') for j in range(k)]

    def merged(t):
        return p[t] if isinstance(t, int) else merge(net, merged(t[0]), merged(t[1]))

    med = select(net, merged(tree), c, k * k // 2)
    for _ in range(3000):
        v = [RNG.randrange(8) for _ in range(k * k)]
        cols = [sorted(v[k * i:k * i + k]) for i in range(k)]
        env = {f'ownLoad(c + {j} * stride + {k - 1} * L)': cols[k - 1][j] for j in range(k)}
        for i in range(pairs):
            pair = sorted(cols[2 * i] + cols[2 * i + 1])
            env.update({f'ownLoad(p + {j} * stride + {2 * i} * L)': pair[j] for j in range(2 * k)})
        assert net.run(env, [med]) == [sorted(v)[k * k // 2]]
    lines, n = body(net, [med])
    out += [f'    // The median of the window whose merged column pairs start at `p` + 0,',
            f'    // 2L, ... and whose last column is at `c` + {k - 1}L ({n} operations).',
            '    OWN_AVX2 static __m256i median(const uint8_t* p, const uint8_t* c, int64_t stride, int64_t L) {']
    out += ['    ' + x for x in lines] + [f'        return v{med};', '    }', '};', '']
    return out


def main():
    out = ['// Generated by ownranknet.py (python3 ownranknet.py > ownranknet.h); do not edit.',
           '// The k x k medians of 8-bit samples as compare-exchange networks, 32',
           '// samples per register, each pruned to the operations its results',
           '// depend on. Planes are `stride` bytes apart; neighbouring columns of a',
           '// window lie L samples apart.', '',
           'template <int K>', 'struct OwnRankNet;', '']
    out += emit(5, (0, 1))
    out += emit(7, (0, (1, 2)))
    out += emit(9, ((0, 1), (2, 3)))
    print('\n'.join(out).rstrip())


if __name__ == '__main__':
    main()
