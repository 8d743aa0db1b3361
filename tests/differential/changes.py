"""Changes to code that a program makes while it runs: which block, which edit.

A target is a block or paren reached from a function's body (`pick pick
body-of :f 3 2`); an edit is poke, append, insert, remove, clear or change at
an index of it. The model of the body is edited alongside, so that later
edits in the same program still know what they hit.
"""

from model import Blk, Par, Ctl, Fixed, INTS, ARITH, COMPARE, render


def nested(block, path=()):
    """Every block and paren inside block, with the 1-based index path to it."""
    out = [] if isinstance(block, Ctl) else [(path, block)]
    for n, item in enumerate(block, 1):
        if isinstance(item, (Blk, Par)):
            out += nested(item, path + (n,))
    return out


LOOP_WORDS = ('repeat', 'loop', 'while', 'until', 'forever', 'foreach')


def touches_loop(block, i, kind):
    """Whether an edit of kind at index i could make a loop of block endless:
    one that replaces or removes a counting block, moves a count or start
    value (a poke puts only another small one there), or puts code between a
    loop word and its arguments."""
    if i >= len(block):
        return False
    item = block[i]
    if isinstance(item, Ctl):
        return True
    if isinstance(item, Fixed):
        return kind != 'poke'
    return kind == 'insert-at' and i > 0 and block[i - 1] in LOOP_WORDS


def safe_insertion(block, at):
    """An index at or before at where an insertion leaves every loop bounded."""
    while at > 0 and touches_loop(block, at, 'insert-at'):
        at -= 1
    return at


def reach(fn, path):
    """Zot text that gives the series at path in fn's body."""
    text = 'pick ' * len(path) + f'body-of :{fn}'
    return text + ''.join(f' {n}' for n in path)


def replacement(r, item, coder):
    """A value to poke in place of item (as Zot text) and its model."""
    if isinstance(item, Blk):
        new = Blk(coder.expr(1))
        return render(new), new
    if isinstance(item, Par):
        new = Par(coder.expr(1))
        return f'first [{render(new)}]', new
    if item in ARITH or item in COMPARE:
        new = r.choice(ARITH + COMPARE)
        return f'first [{new}]', new
    if isinstance(item, Fixed):
        new = Fixed(r.choice(['0', '1', '2', '5']))
        return new, new
    if item.lstrip('-').isdigit():
        new = r.choice(INTS)
        return new, new
    if r.random() < 0.5 and coder.scope:
        new = r.choice(coder.scope)
        return f"'{new}", new
    new = r.choice(INTS[:8] + ['1.5', 'none'])
    return new, new


def edit(r, coder, target, block):
    """One edit of block (reached by the Zot text target).

    Returns the Zot statement and applies it to the model."""
    n = len(block)
    at = r.randrange(n) if n else 0
    kind = r.choice(['poke', 'poke', 'poke', 'append', 'append', 'insert', 'insert-at',
                     'remove', 'clear', 'clear-at', 'change', 'change-only']) if n else 'append'
    # A loop stays bounded (its count, start and counting block are left as
    # they are): an edit that would touch them becomes an insert at the head.
    hit = range(at, at + 3) if kind == 'change' else [at]
    if kind in ('poke', 'remove', 'insert-at', 'change', 'change-only') and \
            any(touches_loop(block, i, kind) for i in hit):
        kind = 'insert'
    if kind == 'poke':
        text, new = replacement(r, block[at], coder)
        block[at] = new
        return f'poke {target} {at + 1} {text}'
    if kind == 'append':
        add = r.choice([['+', '1'], ['*', '2'], ['-', 'i'], ['append', 'tr', '9', '0'],
                        coder.expr(1), ['+', Par(coder.expr(1))]])
        block.extend(add)
        return f'append {target} [{" ".join(render(x) for x in add)}]'
    if kind in ('insert', 'insert-at'):
        add = r.choice([['append', 'tr', '8'], ['i:', 'i', '+', '1'], ['bump'], coder.stmt(1)])
        pos = 0 if kind == 'insert' else at
        block[pos:pos] = add
        text = ' '.join(render(x) for x in add)
        return f'insert {target} [{text}]' if pos == 0 else f'insert at {target} {pos + 1} [{text}]'
    if kind == 'remove':
        del block[at]
        return f'remove at {target} {at + 1}'
    if kind == 'clear':
        del block[:]
        return f'clear {target}'
    if kind == 'clear-at':
        del block[at:]
        return f'clear at {target} {at + 1}'
    if kind == 'change':
        add = [r.choice(INTS[:6]), r.choice(ARITH), r.choice(coder.scope or INTS)]
        block[at:at + len(add)] = add
        return f'change at {target} {at + 1} [{" ".join(add)}]'
    new = Blk(coder.expr(1))
    block[at] = new
    return f'change/only at {target} {at + 1} {render(new)}'


def random_edit(r, coder, fn, body):
    """An edit of fn's body or of a block or paren inside it."""
    path, block = r.choice(nested(body))
    return edit(r, coder, reach(fn, path), block)
