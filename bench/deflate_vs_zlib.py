#!/usr/bin/env python3
"""Deflate and inflate throughput of Zot's codec beside python3's zlib at the
same level (1: Zot's encoder is a fast greedy one and writes the zlib header of
the fastest level).

    python3 bench/deflate_vs_zlib.py [build/release]

The corpus is the project's own C++ source (text) and a megabyte of random
bytes. Each stream made by one codec is checked with the other."""
import glob
import json
import os
import random
import subprocess
import sys
import tempfile
import time
import zlib

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..")


def corpora():
    text = b"".join(open(p, "rb").read() for p in sorted(glob.glob(os.path.join(ROOT, "*", "*.[ch]*"))))
    rnd = random.Random(7)
    return {"source text": text, "random bytes": bytes(rnd.getrandbits(8) for _ in range(1 << 20))}


def best_rate(fn, size, seconds=1.0):
    best = 0.0
    end = time.perf_counter() + seconds
    while time.perf_counter() < end or best == 0.0:
        t = time.perf_counter()
        fn()
        best = max(best, size / (time.perf_counter() - t))
    return best / 1e6


def zot_rates(build, corpus_path, foreign_path, out_path):
    env = dict(os.environ, ZOT_DEFLATE_CORPUS=corpus_path, ZOT_DEFLATE_FOREIGN=foreign_path,
               ZOT_DEFLATE_OUT=out_path)
    out = subprocess.run([os.path.join(build, "bench", "zot_bench"), "--benchmark_filter=BM_(Compress|Decompress)",
                          "--benchmark_format=json", "--benchmark_min_time=1"],
                         env=env, check=True, capture_output=True, text=True).stdout
    rates = {}
    for b in json.loads(out)["benchmarks"]:
        rates[b["name"]] = b.get("bytes_per_second", 0) / 1e6
        if "ratio" in b:
            rates[b["name"] + "_ratio"] = b["ratio"]
    return rates


def main():
    build = sys.argv[1] if len(sys.argv) > 1 else os.path.join(ROOT, "build", "release")
    print(f"{'corpus':14} {'size':>9} | {'zot ratio':>9} {'zlib-1 ratio':>12} | "
          f"{'zot deflate':>11} {'zlib deflate':>12} | {'zot inflate':>11} {'zlib inflate':>12} "
          f"{'zot inflate(zlib stream)':>24}  (MB/s)")
    for name, data in corpora().items():
        with tempfile.TemporaryDirectory() as d:
            path = os.path.join(d, "corpus")
            foreign = os.path.join(d, "foreign")
            ours = os.path.join(d, "ours")
            open(path, "wb").write(data)
            open(foreign, "wb").write(zlib.compress(data, 1))
            rates = zot_rates(build, path, foreign, ours)
            # Zot's stream must inflate in zlib to the same bytes.
            if zlib.decompress(open(ours, "rb").read()) != data:
                sys.exit(f"{name}: zlib inflates Zot's stream to other bytes")
        packed = zlib.compress(data, 1)
        zc = best_rate(lambda: zlib.compress(data, 1), len(data))
        zd = best_rate(lambda: zlib.decompress(packed), len(data))
        print(f"{name:14} {len(data):>9} | {rates.get('BM_Compress_ratio', 0):>9.3f} {len(packed)/len(data):>12.3f} | "
              f"{rates['BM_Compress']:>11.0f} {zc:>12.0f} | {rates['BM_Decompress']:>11.0f} {zd:>12.0f} "
              f"{rates['BM_DecompressForeign']:>24.0f}")


if __name__ == "__main__":
    main()
