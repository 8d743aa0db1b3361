"""Random Zot code kept as a model: blocks and parens of tokens, rendered to text.

The model lets a program change a body it generated (poke, insert, remove at
an index) knowing what sits there, so that changed code still mostly runs.
"""


class Blk(list):
    """A block: its items are tokens (str) or nested Blk/Par."""
    open, close = '[', ']'


class Ctl(Blk):
    """A block that counts a loop: no edit takes it, or the loop might not end."""


class Fixed(str):
    """A loop's count or start value: an edit puts only another small one there."""


class Par(list):
    """A paren."""
    open, close = '(', ')'


def render(item):
    if isinstance(item, (Blk, Par)):
        return item.open + ' '.join(render(x) for x in item) + item.close
    return item


def inner(block):
    """A block's items as text, without its brackets."""
    return ' '.join(render(x) for x in block)


def tokens(text):
    """A flat run of tokens as a list (no nesting)."""
    return text.split()


INTS = ['0', '1', '2', '3', '5', '7', '10', '-1', '-3', '100',
        '2147483647', '-2147483648', '2147483646', '65536', '46341']
ODD_VALUES = ['1.5', '0.5', '"s"', 'none', '[1 2]', 'true', '#"a"']
ARITH = ['+', '-', '*']
COMPARE = ['<', '>', '<=', '>=', '=', '<>']


def left(expr):
    """expr as the left operand of an infix operator: one ending in a block
    (a conditional's branch) goes in a paren, or the operator would take the block."""
    if expr and isinstance(expr[-1], Blk):
        return [Par(expr)]
    return expr


class Coder:
    """Makes random expressions over a scope of integer words.

    callables: (name, number of arguments) pairs the code may call.
    mostly_int: expressions aim at integer results (other values rarely).
    """

    def __init__(self, rnd, scope, callables, depth=3, loops=True, recycle=0.0):
        self.r = rnd
        self.scope = list(scope)
        self.callables = list(callables)
        self.depth = depth
        self.loops = loops
        self.recycle = recycle
        self.loop_words = []  # words a loop may count with (locals or fresh globals)

    def chance(self, p):
        return self.r.random() < p

    def lit(self):
        if self.chance(0.04):
            return self.r.choice(ODD_VALUES)
        if self.chance(0.7):
            return self.r.choice(INTS[:10])
        return self.r.choice(INTS)

    def word(self):
        return self.r.choice(self.scope) if self.scope else self.lit()

    def atom(self):
        return self.word() if self.chance(0.6) else self.lit()

    def call(self, d):
        name, n = self.r.choice(self.callables)
        out = [name]
        for _ in range(n):
            out += self.expr(d - 1)
        return out

    def expr(self, d=None):
        """An expression as a list of items (tokens and nested blocks)."""
        if d is None:
            d = self.depth
        if d <= 0:
            return [self.atom()]
        k = self.r.randrange(100)
        if k < 18:
            return [self.atom()]
        if k < 42:
            return left(self.expr(d - 1)) + [self.r.choice(ARITH)] + self.expr(d - 1)
        if k < 50:
            return [Par(self.expr(d - 1))]
        if k < 64 and self.callables:
            return self.call(d)
        if k < 72:
            return ['either'] + self.cond(d - 1) + [Blk(self.expr(d - 1)), Blk(self.expr(d - 1))]
        if k < 76:
            return [self.r.choice(['remainder', 'add', 'subtract', 'multiply'])] + \
                self.expr(d - 1) + self.expr(d - 1)
        if k < 80 and self.scope:
            return [self.word() + ':'] + self.expr(d - 1)
        if k < 83:
            return ['if'] + self.cond(d - 1) + [Blk(self.expr(d - 1))]
        if k < 85:
            return ['unless'] + self.cond(d - 1) + [Blk(self.expr(d - 1))]
        if k < 88:
            return [Par(self.stmt(d - 1) + self.expr(d - 1))]
        if k < 91:
            return ['either'] + self.cond(d - 1) + [Blk(self.body(d - 1)), Blk(self.body(d - 1))]
        if k < 93:
            return ['negate'] + self.expr(d - 1)
        if k < 95:
            return [self.r.choice(['min', 'max'])] + self.expr(d - 1) + self.expr(d - 1)
        if k < 97:
            return [self.r.choice(['o/x', 'bb/2'])]
        return [self.atom()]

    def cond(self, d):
        k = self.r.randrange(100)
        if d <= 0 or k < 55:
            return left(self.expr(max(d - 1, 0))) + [self.r.choice(COMPARE)] + self.expr(max(d - 1, 0))
        if k < 65:
            return [self.r.choice(['odd?', 'even?', 'zero?', 'positive?'])] + self.expr(d - 1)
        if k < 72:
            return [self.r.choice(['true', 'false', 'none', '0', '"s"'])]
        if k < 80:
            return ['bump'] + [self.r.choice(COMPARE)] + [self.r.choice(['2', '3', '5'])]
        if k < 88:
            return [Par(self.stmt(d - 1) + self.cond(d - 1))]
        return [Par(self.cond(d - 1)), self.r.choice(['and', 'or']), Par(self.cond(d - 1))]

    def stmt(self, d):
        """A statement: its value is dropped."""
        k = self.r.randrange(100)
        if k < 40 and self.scope:
            return [self.word() + ':'] + self.expr(d)
        if k < 52:
            return ['append', 'tr'] + self.expr(d)
        if k < 55:
            return [self.r.choice(['o/x:', 'bb/2:'])] + self.expr(d)
        if k < 65:
            return ['if'] + self.cond(d) + [Blk(self.body(d - 1))]
        if k < 72 and self.loops and self.loop_words:
            return self.loop(d)
        if k < 75 and self.recycle and self.chance(self.recycle):
            return ['recycle']
        if k < 80:
            return ['either'] + self.cond(d) + [Blk(self.body(d - 1)), Blk(self.body(d - 1))]
        return self.expr(d)

    def body(self, d=None, n=None):
        """A block's items: a few statements, then the expression giving its value."""
        if d is None:
            d = self.depth
        if n is None:
            n = self.r.choice([0, 0, 1, 1, 2, 3])
        out = []
        for _ in range(n):
            out += self.stmt(max(d - 1, 0))
        return out + self.expr(d)

    def loop(self, d):
        """A bounded loop over a counter word and an accumulator word."""
        w = self.r.choice(self.loop_words)
        acc = self.r.choice([x for x in self.scope if x != w] or [w])
        n = self.r.choice(['2', '3', '4', '1', '0'])
        saved, saved_loops = self.scope, self.loop_words
        # The counter is neither set nor counted again inside: every loop ends.
        self.scope = [x for x in saved if x != w]
        self.loop_words = [x for x in saved_loops if x != w]
        inner_body = [acc + ':', acc, self.r.choice(ARITH)] + self.expr(max(d - 1, 0))
        if self.chance(0.3):
            inner_body += self.stmt(max(d - 1, 0))
        self.scope, self.loop_words = saved, saved_loops
        k = self.r.randrange(8)
        exit_ = []
        if self.chance(0.2):
            exit_ = ['if'] + self.cond(0) + [Blk([self.r.choice(['break', 'continue'])])]
        if self.chance(0.1):
            exit_ = ['if'] + self.cond(0) + [Blk(['break/return'] + self.expr(0))]
        n = Fixed(n)
        # Counting is done by words no case rebinds, in blocks no edit takes.
        step = [w + ':', 'subtract', w, '-1']
        if k == 0:
            return ['repeat', w, n, Blk(exit_ + inner_body)]
        if k == 1:
            return ['loop', n, Blk(inner_body + exit_)]
        if k == 2:
            return [w + ':', Fixed('0'), 'while', Ctl(step + ['not', 'greater?', w, n]), Blk(exit_ + inner_body)]
        if k == 3:
            # continue would skip the condition at the end of the block: no end
            if 'if' in exit_ and exit_[-1] == ['continue']:
                exit_[-1] = Blk(['break'])
            return [w + ':', Fixed('0'), 'until', Ctl(step + ['if', 'true', Blk(inner_body + exit_),
                                                       'not', 'lesser?', w, n])]
        if k == 4:
            return ['foreach', w, Blk(self.r.sample(INTS[:10], int(n))), Blk(inner_body + exit_)]
        if k == 5:
            return [w + ':', Fixed('0'), 'forever', Ctl(step + ['keep-if', 'greater?', w, n, Ctl(['break']),
                                                        'if', 'true', Blk(inner_body)])]
        if k == 6:
            return ['loop', n, Blk([acc + ':', acc, '+', '1'])]
        return ['repeat', w, Fixed(self.r.choice(['3', '10', '40'])),
                Blk([acc + ':', acc, self.r.choice(['+', '*', '-']), w])]
