"""The kinds of case a generated program is made of.

Each takes the Program and writes one or more cases (and the functions they
need). The ones that matter most change code and words between calls and
while calls run, after the same code has run often enough for a loop plan to stand.
"""

from model import Blk, Par, inner, tokens, INTS
from changes import random_edit, nested, reach, edit, safe_insertion
from program import LOCALS, LOCAL_START

SMALL = ['0', '1', '2', '3', '5', '-1', '7', '10']


def call_text(p, name, n):
    return ' '.join([name] + [p.r.choice(SMALL) for _ in range(n)])


def some_call(p):
    name, n = p.r.choice(p.callables)
    return call_text(p, name, n)


def warm(p, call):
    """Run a call several times, so that loop plans get built and serve."""
    n = p.r.choice(['2', '3', '5'])
    p.report(f'v1: 0 loop {n} [v1: {call}] v1')


def plain(p):
    p.report(p.top_coder().body())


def calls_in_loop(p):
    call = some_call(p)
    form = p.r.randrange(4)
    if form == 0:
        p.report(f'v1: 0 repeat w1 {p.r.choice(["3", "6"])} [v1: v1 + {call}] v1')
    elif form == 1:
        p.report(f'v2: 0 foreach w1 [1 2 3] [v2: {call} + w1] v2')
    elif form == 2:
        p.report(f'w1: 0 v1: 0 while [w1 < 4] [w1: w1 + 1 v1: v1 + {call}] v1')
    else:
        p.report(f'w1: 0 until [w1: w1 + 1 v3: {call} w1 >= 3] v3')


def edited_function(p, params=('x',)):
    """A fresh function with a random body: (name, body model, call text)."""
    fn = p.name('m')
    c = p.coder(list(params) + ['t', 'u', 'i', 'j'], loop_words=['w', 'z'])
    body = Blk(tokens(LOCAL_START) + c.body())
    p.line(f'{fn}: func [{" ".join(params)} {LOCALS}] [{inner(body)}]')
    return fn, body, c


def edit_between_calls(p):
    fn, body, c = edited_function(p)
    call = call_text(p, fn, 1)
    warm(p, call)
    for _ in range(p.r.choice([1, 1, 2, 3])):
        p.report(random_edit(p.r, c, fn, body))
        if p.chance(0.3):
            p.line('recycle')
        p.report(call)
        if p.chance(0.5):
            warm(p, call)


def edit_during_call(p):
    """The function edits its own body (or a block in it) as it runs, or a
    helper it calls does, from the second call on."""
    fn, body, c = edited_function(p)
    counter = p.name('n')
    helper = p.name('h')
    # The call to the helper goes into a random block or paren of the body,
    # at a random place: before or after what it edits.
    path, block = p.r.choice(nested(body))
    at = safe_insertion(block, p.r.randrange(len(block) + 1))
    block[at:at] = [helper]
    p.line(f'{fn}: func [x {LOCALS}] [{inner(body)}]')
    edits = ' '.join(random_edit(p.r, c, fn, body) for _ in range(p.r.choice([1, 1, 2])))
    p.line(f'{counter}: 0')
    # Once only: an edit before the call's own place brings the call back.
    p.line(f'{helper}: func [] [{counter}: {counter} + 1 if {counter} = 2 [{edits}]]')
    call = call_text(p, fn, 1)
    for _ in range(p.r.choice([2, 3, 4])):
        p.report(call)
    if p.chance(0.5):
        warm(p, call)


def edit_loop_body(p):
    """A loop whose body block is changed while the loop runs."""
    blk = p.name('lb')
    c = p.coder(['v1', 'v2', 'i'], loop_words=[])
    model = Blk(['v1:', 'v1', '+'] + c.expr(1))
    if p.chance(0.5):
        model += ['v2:', 'v2', '*', '2']
    p.line(f'{blk}: [{inner(model)}]')
    # Edits happen from inside the body at the third round.
    edits = ' '.join(edit(p.r, c, blk, model) for _ in range(p.r.choice([1, 2])))
    loop = p.r.choice([f'loop 6 {blk}', f'repeat w1 6 {blk}', f'w1: 0 while [w1 < 6] [w1: w1 + 1 do {blk}]'])
    p.line(f'{blk}-edit: func [] [{edits}]')
    counter = p.name('n')
    p.line(f'{counter}: 0')
    p.line(f'insert {blk} [if ({counter}: {counter} + 1) = 3 [{blk}-edit] v3: v3 + 1]')
    p.report(f'v1: 0 v2: 1 v3: 0 {loop} reduce [v1 v2 v3]')
    p.report(f'v1: 0 v2: 1 v3: 0 {loop} reduce [v1 v2 v3]')


def edit_loop_in_function(p):
    """A loop in a function body whose body is reached through body-of."""
    fn = p.name('ml')
    c = p.coder(['x', 't', 'u', 'i'], loop_words=[])
    inner_model = Blk(['t:', 't', p.r.choice(['+', '*', '-'])] + c.expr(1))
    over = p.r.choice([['repeat', 'w', 'x'], ['foreach', 'w', Blk(['1', '2', '3', '4'])]])
    body = Blk(tokens(LOCAL_START) + over + [inner_model, 't'])
    target = reach(fn, (8,))
    holder = Blk()
    counter = p.name('n')
    p.line(f'{counter}: 0')
    once = p.r.choice(['2', '3', '5'])
    inner_model[0:0] = ['if', Par([counter + ':', counter, '+', '1']), '=', once, holder]
    edits = ' '.join(edit(p.r, c, target, inner_model) for _ in range(p.r.choice([1, 2])))
    holder.extend(tokens(edits))
    p.line(f'{fn}: func [x {LOCALS}] [{inner(body)}]')
    for arg in p.r.sample(['1', '2', '4', '5', '7'], 3):
        p.report(f'{fn} {arg}')


REBIND = [
    ('+', 'make op! :subtract'),
    ('+', 'make op! func [a b] [a * b]'),
    ('-', 'make op! :add'),
    ('*', 'make op! :add'),
    ('<', 'make op! :greater?'),
    ('>', 'make op! func [a b] [true]'),
    ('=', 'make op! :not-equal?'),
    ('either', 'func [c a b] [keep-either c [do b] [do a]]'),
    ('either', 'func [c a b] [100]'),
    ('if', 'func [c b] [keep-if not c [do b]]'),
    ('unless', 'func [c b] [42]'),
    ('remainder', 'func [a b] [a keep-plus b]'),
    ('add', ':multiply'),
    ('loop', 'func [n b] [do b do b]'),
    ('repeat', 'func [w n b] [n]'),
]


def rebinding(p):
    word, value = p.r.choice(REBIND)
    return f'set first [{word}] {value}'


def rebind_between_calls(p):
    call = some_call(p)
    warm(p, call)
    p.line(rebinding(p))
    p.report(call)
    p.report(call)
    p.line('restore')
    p.report(call)


def rebind_during_call(p):
    """A helper called from a body rebinds a word the body uses next."""
    fn, body, c = edited_function(p)
    helper = p.name('rb')
    p.line(f'{helper}: func [] [if cnt > 1 [{rebinding(p)}]]')
    path, block = p.r.choice(nested(body))
    at = safe_insertion(block, p.r.randrange(len(block) + 1))
    block[at:at] = ['bump', helper]
    p.line(f'{fn}: func [x {LOCALS}] [{inner(body)}]')
    call = call_text(p, fn, 1)
    p.line('cnt: 0')
    for _ in range(3):
        p.report(call)
        p.line('restore')


def own_word_rebound(p):
    """A function's own word set to something else by its body, between or
    during calls, also in recursion."""
    fn = p.name('ow')
    other = p.r.choice(['func [x] [x * 1000]', ':f1', '7', '"str"', 'none', 'func [x] [x + 1]'])
    k = p.r.randrange(3)
    if k == 0:
        p.line(f'{fn}: func [x] [{fn}: {other} x + 1]')
        call = f'{fn} 2'
    elif k == 1:
        p.line(f'{fn}: func [n] [if n = 3 [{fn}: {other}] either n < 1 [0] [1 + {fn} n - 1]]')
        call = f'{fn} 5'
    else:
        p.line(f'{fn}: func [x] [x + 1]')
        call = f'{fn} 2'
        warm(p, f'({fn} 1) + {fn} 2')
        p.line(f'{fn}: {other}')
    for _ in range(3):
        p.report(call)


def type_change(p):
    """A global a function reads changes type between calls."""
    call = some_call(p)
    warm(p, call)
    word = p.r.choice(['i', 'j', 'k'])
    value = p.r.choice(['1.5', '"s"', 'none', '[1 2]', '2147483647', '-2147483648', '0', 'true'])
    old = {'i': '3', 'j': '-2', 'k': '10'}[word]
    p.line(f'{word}: {value}')
    p.report(call)
    p.report(call)
    p.line(f'{word}: {old}')
    p.report(call)


def argument_types(p):
    """One function called with arguments of changing types, in a loop."""
    name, n = p.r.choice([c for c in p.callables if c[1] >= 1])
    vals = p.r.sample(['1', '1.5', '"s"', 'none', '[1]', '2147483647', '-7', '0', 'true'], 4)
    args = ' '.join(['v3'] + [p.r.choice(SMALL) for _ in range(n - 1)])
    p.report(f'v1: copy [] foreach v3 [{" ".join(vals)}] [append v1 try [{name} {args}]] '
             f'collect [foreach e v1 [keep either error? :e [e/id] [:e]]]')


def recursion(p):
    r = p.r
    k = r.randrange(7)
    fn = p.name('rec')
    if k == 0:
        p.line(r.choice([
            f'{fn}: func [n] [either n < 2 [n] [({fn} n - 1) + ({fn} n - 2)]]',
            f'{fn}: func [n] [if n < 2 [return n] ({fn} n - 2) + {fn} n - 1]',
            f'{fn}: func [n] [either n <= 1 [n] [add {fn} n - 1 {fn} n - 2]]',
        ]))
        p.report(f'{fn} {r.choice(["10", "12", "15"])}')
    elif k == 1:
        p.line(r.choice([
            f'{fn}: func [n] [if n < 2 [return 1] n * {fn} n - 1]',
            f'{fn}: func [n] [either n < 2 [1] [n * {fn} n - 1]]',
        ]))
        p.report(f'{fn} {r.choice(["5", "12", "13", "20", "25"])}')
    elif k == 2:
        a, b = fn + 'a', fn + 'b'
        p.line(f'{a}: func [n] [either n = 0 [true] [{b} n - 1]]')
        p.line(f'{b}: func [n] [either n = 0 [false] [{a} n - 1]]')
        p.report(f'reduce [{a} {r.choice(["10", "101", "2000"])} {b} 7]')
    elif k == 3:
        p.line(f'{fn}: func [n] [either n = 0 [0] [1 + {fn} n - 1]]')
        p.report(f'{fn} {r.choice(["1000", "2500", "3000"])}')
    elif k == 4:
        # Runaway recursion; many locals fill the argument stack soon.
        locs = ' '.join(f'l{n}' for n in range(r.choice([150, 200])))
        p.line(f'{fn}: func [n /local {locs}] [1 + {fn} n + 1]')
        p.report(f'{fn} 1')
        p.report('1 + 1')
    elif k == 5:
        # Recursion whose body is changed at some depth.
        body = Blk(tokens(f'if n = 3 [poke body-of :{fn} 9 {r.choice(["100", "0", "-1"])}] '
                          f'either n < 1 [0] [n + {fn} n - 1]'))
        p.line(f'{fn}: func [n] [{inner(body)}]')
        p.report(f'{fn} 6')
        p.report(f'{fn} 6')
    else:
        # Recursion through a loop body and a paren.
        p.line(f'{fn}: func [n /local t w] [t: 1 if n > 0 [repeat w 2 [t: t + ({fn} n - 1)]] t]')
        p.report(f'{fn} {r.choice(["3", "5", "7"])}')


def exits(p):
    r = p.r
    fn = p.name('ex')
    c = p.coder(['x', 't', 'i'], loop_words=[])
    value = inner(Blk(c.expr(1)))
    k = r.randrange(8)
    if k == 0:
        p.line(f'{fn}: func [x /local t w] [t: 0 repeat w 5 [t: t + w if w = x [return {value}]] t]')
    elif k == 1:
        p.line(f'{fn}: func [x /local t] [t: 0 either x > 2 [if x > 3 [return x * 2] exit] [t: {value}] t]')
    elif k == 2:
        p.line(f'{fn}: func [x /local t] [t: 0 loop 5 [t: t + 1 if t > x [break/return {value}]] t]')
    elif k == 3:
        p.line(f'{fn}: func [x /local t] [t: x if x > 1 [throw {value}] t + 1]')
        p.report(f'catch [loop 3 [{fn} 1 {fn} 2]]')
    elif k == 4:
        p.line(f'{fn}: func [x /local t w] [t: 0 foreach w [1 2 3 4] [if w = x [continue] t: t + w] t]')
    elif k == 5:
        p.line(f'{fn}: func [x /local t] [t: 0 while [t < 10] [t: t + 1 (if t = x [break])] t]')
    elif k == 6:
        p.line(f'{fn}: func [x] [catch [either x > 1 [throw/name x * 3 \'{r.choice(["a", "b"])}] [x]]]')
        p.report(f'catch/name [{fn} 2] \'{r.choice(["a", "b"])}')
    else:
        p.line(f'{fn}: func [x] [do [if x > 2 [exit]] x + 1]')
    for arg in r.sample(['0', '1', '2', '3', '4', '9'], 3):
        p.report(f'catch [{fn} {arg}]')
    p.report(f'v1: 0 catch [repeat w1 4 [v1: v1 + any [{fn} w1 0]]] v1')


def tracing(p):
    r = p.r
    call = some_call(p)
    k = r.randrange(3)
    if k == 0:
        p.report(f'clear tlog do/trace [{call}] :tracer length? tlog')
        p.line('print mold/flat/part tlog 2000')
    elif k == 1:
        p.report(f'trace [v1: {call} trace false v2: {call} trace true v3: {call}]')
    else:
        p.report(f'trace [v1: 1 + 2 trace false v2: {call}] trace true v3: {call}')
        p.line('trace false')


def paren_and_branch_edits(p):
    """A function of parens and branches; a paren or branch changed between
    calls, and its branch changed by the branch itself."""
    fn = p.name('pb')
    c = p.coder(['x', 'i', 'j'], loop_words=[])
    a, b = Blk(c.expr(1)), Blk(c.expr(1))
    par = Par(c.expr(1))
    body = Blk(['either'] + c.cond(1) + [a, b, '+', par])
    p.line(f'{fn}: func [x] [{inner(body)}]')
    call = f'{fn} {p.r.choice(SMALL)}'
    warm(p, call)
    for _ in range(2):
        path, target = p.r.choice([x for x in nested(body) if x[0]])
        p.report(edit(p.r, c, reach(fn, path), target))
        p.report(call)
    sub = p.name('pb')
    p.line(f'{sub}: func [x] [either x > 1 [append pick body-of :{sub} 3 [+ 1] x] [x]]')
    p.report(f'reduce [{sub} 2 {sub} 2 {sub} 0 {sub} 3]')


KINDS = [
    (plain, 6), (calls_in_loop, 4), (edit_between_calls, 8), (edit_during_call, 8),
    (edit_loop_body, 3), (edit_loop_in_function, 3), (rebind_between_calls, 4),
    (rebind_during_call, 4), (own_word_rebound, 2), (type_change, 3), (argument_types, 2),
    (recursion, 3), (exits, 3), (tracing, 2), (paren_and_branch_edits, 3),
]


def some_case(p):
    total = sum(w for _, w in KINDS)
    pick = p.r.randrange(total)
    for kind, w in KINDS:
        if pick < w:
            return kind(p)
        pick -= w
