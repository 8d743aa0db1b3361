#!/usr/bin/env python3
"""Runs generated programs through `zot` with and without its loop plans.

    run.py ZOT FIRST-SEED COUNT [--timeout S] [--jobs N] [--keep DIR]

Each program runs twice: as it is, and with ZOT_NO_PLANS set (every loop
round then runs in full). Their output and exit status must be the same; any
difference is a fault of a plan. A failure names the seed
and shows the program and both outputs (the program is also written to DIR
with --keep). Both runs timing out, or ending by a signal or with a
sanitizer's report, fails as well: a generated program always ends.
"""

import argparse
import concurrent.futures
import difflib
import os
import subprocess
import sys
import tempfile

sys.dont_write_bytecode = True  # nothing written into the source tree
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from gen import generate  # noqa: E402


def run(zot, path, timeout, plans):
    env = dict(os.environ)
    env.pop('ZOT_NO_PLANS', None)
    if not plans:
        env['ZOT_NO_PLANS'] = '1'
    try:
        done = subprocess.run([zot, path], stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                              stdin=subprocess.DEVNULL, env=env, timeout=timeout)
        return done.returncode, done.stdout.decode('utf-8', 'replace')
    except subprocess.TimeoutExpired as e:
        return 'timeout', (e.stdout or b'').decode('utf-8', 'replace')


def sound(status, output):
    """A run that ended by itself, without a signal or a sanitizer's report."""
    if status == 'timeout' or status < 0:
        return False
    return not any(mark in output for mark in SANITIZER_MARKS)


SANITIZER_MARKS = ('ERROR: AddressSanitizer', 'runtime error:', 'ERROR: LeakSanitizer')


def check(zot, seed, timeout, workdir):
    """None when both runs agree and end, else the failure report."""
    program = generate(seed)
    path = os.path.join(workdir, f'diff-{seed}.zot')
    with open(path, 'w') as f:
        f.write(program)
    with_plans = run(zot, path, timeout, True)
    without = run(zot, path, timeout, False)
    os.unlink(path)
    if with_plans == without and sound(*with_plans):
        return None
    diff = ''.join(difflib.unified_diff(
        without[1].splitlines(True), with_plans[1].splitlines(True),
        'without plans', 'with plans'))
    return (f'=== seed {seed}: status {with_plans[0]} with plans, '
            f'{without[0]} without\n--- program\n{program}--- difference\n{diff}'
            f'--- output with plans\n{with_plans[1]}'), program


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument('zot')
    ap.add_argument('first', type=int)
    ap.add_argument('count', type=int)
    ap.add_argument('--timeout', type=float, default=60)
    ap.add_argument('--jobs', type=int, default=1)
    ap.add_argument('--keep', help='write each failing program here')
    a = ap.parse_args()
    seeds = range(a.first, a.first + a.count)
    failed = []
    with tempfile.TemporaryDirectory() as workdir, \
            concurrent.futures.ThreadPoolExecutor(a.jobs) as pool:
        for seed, result in zip(seeds, pool.map(lambda s: check(a.zot, s, a.timeout, workdir), seeds)):
            if result is None:
                continue
            report, program = result
            failed.append(seed)
            print(report, flush=True)
            if a.keep:
                os.makedirs(a.keep, exist_ok=True)
                with open(os.path.join(a.keep, f'diff-{seed}.zot'), 'w') as f:
                    f.write(program)
    print(f'{a.count - len(failed)} of {a.count} programs (seeds {a.first}..{a.first + a.count - 1}) '
          f'agree with and without loop plans'
          + (f'; differ: {" ".join(map(str, failed))}' if failed else ''))
    return 1 if failed else 0


if __name__ == '__main__':
    sys.exit(main())
