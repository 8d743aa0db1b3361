# Writes the JSON text that json_codec.sh times: 16,000 records of strings (some
# non-ASCII, some with escapes), integers, floats, logic values, nulls,
# arrays and nested objects, about 3.4 MB.
#   python3 bench/json_data.py OUT.json
import json
import random
import sys

random.seed(7)
words = ["alpha", "beta", "gamma", "delta", "épsilon", "zeta", "eta€", "theta", "iota", "kappa"]


def record(i):
    return {
        "id": i,
        "name": random.choice(words) + " " + str(random.randint(0, 10**6)),
        "score": random.random() * 1000,
        "active": random.random() < 0.5,
        "tags": [random.choice(words) for _ in range(random.randint(0, 5))],
        "pos": {"x": random.randint(-10**6, 10**6), "y": round(random.uniform(-90, 90), 6), "z": None},
        "note": "line one\nline two\t\"quoted\" \\ slash",
    }


with open(sys.argv[1], "w", encoding="utf-8") as out:
    out.write(json.dumps([record(i) for i in range(16000)], ensure_ascii=False))
