"""A generated program being written: its lines, its cases and its base functions."""

from model import Blk, Par, Coder, inner
from prelude import PRELUDE

LOCALS = '/local t u w z'
LOCAL_START = 't: 0 u: 1 '


class Program:
    def __init__(self, rnd):
        self.r = rnd
        self.lines = [PRELUDE]
        self.cases = 0
        self.fresh = 0
        self.recycle = rnd.choice([0.0, 0.0, 0.05, 0.3])
        self.callables = []     # (name or path, argument count) for top-level code

    def chance(self, p):
        return self.r.random() < p

    def name(self, base):
        self.fresh += 1
        return f'{base}{self.fresh}'

    def line(self, text):
        self.lines.append(text)

    def report(self, code):
        """One case: code is text or a list of items."""
        if not isinstance(code, str):
            code = inner(code)
        self.cases += 1
        self.lines.append(f'report "c{self.cases}" [{code}]')

    def text(self):
        return '\n'.join(self.lines) + '\n'

    def coder(self, scope, callables=None, depth=3, loop_words=(), loops=True):
        c = Coder(self.r, scope, self.callables if callables is None else callables,
                  depth=depth, loops=loops, recycle=self.recycle)
        c.loop_words = list(loop_words)
        return c

    def top_coder(self, depth=3):
        return self.coder(['i', 'j', 'k', 'v1', 'v2', 'v3'], depth=depth,
                          loop_words=['w1', 'w2', 'w3'])

    def function(self, name, params, callables, depth=3, refinements=''):
        """A function over integer parameters and locals, with a random body.

        Returns (its spec text, its body model) and defines it."""
        c = self.coder(params + ['t', 'u', 'i', 'j'], callables, depth=depth,
                       loop_words=['w', 'z'])
        body = Blk(c.body())
        spec = ' '.join(params) + refinements + ' ' + LOCALS
        self.line(f'{name}: func [{spec}] [{LOCAL_START}{inner(body)}]')
        return body

    def base_functions(self):
        """f0, f1, f2, fr (refinements), f3: each may call those before it."""
        c = self.coder(['i', 'j', 'k'], [], depth=2, loops=False)
        self.line(f'f0: func [] [{inner(c.body(2))}]')
        calls = [('f0', 0)]
        self.function('f1', ['x'], calls)
        calls.append(('f1', 1))
        self.function('f2', ['x', 'y'], calls)
        calls.append(('f2', 2))
        c = self.coder(['x', 't', 'u', 'i'], calls, loop_words=['w', 'z'])
        start = self.r.choice([
            'if scale [x: x * m] if shift [x: x + d]',
            'x: either scale [x * m] [x] if shift [x: x + d]',
            'if shift [x: x + d] unless not scale [x: (x) * m]',
        ])
        self.line(f'fr: func [x /scale m /shift d {LOCALS}] [{LOCAL_START}{start} {inner(c.body())}]')
        calls += [('fr', 1), ('fr/scale', 2), ('fr/shift', 2), ('fr/scale/shift', 3),
                  ('fr/shift/scale', 3), ('fr/SCALE', 2), ('fr/Shift/scale', 3),
                  ('fr/:scale', 2), ('fr/:shift/:scale', 3), ('fr/scale/scale', 3)]
        self.function('f3', ['x'], calls)
        calls.append(('f3', 1))
        self.callables = calls + [('bump', 0)]
