#!/usr/bin/env python3
"""Writes a random Zot program, the same for the same seed: gen.py SEED [CASES]."""

import random
import sys

sys.dont_write_bytecode = True  # nothing written into the source tree
from program import Program
from scenarios import some_case


def generate(seed, cases=None):
    rnd = random.Random(seed)
    p = Program(rnd)
    p.base_functions()
    for _ in range(cases or rnd.randrange(25, 45)):
        some_case(p)
    return p.text()


if __name__ == '__main__':
    seed = int(sys.argv[1])
    cases = int(sys.argv[2]) if len(sys.argv) > 2 else None
    sys.stdout.write(generate(seed, cases))
