# The split of bench_parse.cpp in Python: the same 100,000 CSV-like lines,
# split into their 600,000 fields (str.split, and a regular expression), and
# the fields counted. Prints the best of five runs.
import re
import time

text = "".join("row%d,alpha beta,%d,3.%d,\"quoted text\",last field\n" % (i, i * 7 % 1000, i % 97)
               for i in range(100000))


def split_fields():
    out = []
    for line in text.split("\n")[:-1]:
        out.extend(line.split(","))
    return len(out)


field = re.compile(r"([^,\n]*)[,\n]")


def regex_fields():
    return len(field.findall(text))


def count_fields():
    return sum(1 for _ in re.finditer(r"[^,\n]+", text))


for fn in (split_fields, regex_fields, count_fields):
    best = float("inf")
    for _ in range(5):
        t0 = time.perf_counter()
        n = fn()
        best = min(best, time.perf_counter() - t0)
    print("%-13s %d fields  %.1f ms  (%.1f MB)" % (fn.__name__, n, best * 1000, len(text) / 1e6))
