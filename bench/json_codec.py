# The work of json_codec.zot in Python: decode the file's text and encode the value
# again (compact, non-ASCII kept), best of three runs of each.
import json
import sys
import time

text = open(sys.argv[1], encoding="utf-8").read()
best_load = best_dump = float("inf")
for _ in range(3):
    start = time.perf_counter()
    value = json.loads(text)
    best_load = min(best_load, time.perf_counter() - start)
    start = time.perf_counter()
    out = json.dumps(value, ensure_ascii=False, separators=(",", ":"))
    best_dump = min(best_dump, time.perf_counter() - start)
print(f"python3  decode {best_load * 1000:7.1f} ms   encode {best_dump * 1000:7.1f} ms   ({len(text)} -> {len(out)} chars)")
