#!/usr/bin/env bash
# Start-up time: from exec to the first user expression, with the whole
# library evaluated, beside the empty programs of Lua and Python on the same
# machine. Each program runs RUNS times (default 200); the mean and the best
# run are reported in milliseconds.
#   bash bench/startup.sh [path/to/zot]
set -euo pipefail
cd "$(dirname "$0")/.."
zot=${1:-build/release/zot}
runs=${RUNS:-200}

source bench/python.sh

measure() {
  local name=$1
  shift
  python3 - "$runs" "$name" "$@" <<'PY'
import subprocess, sys, time
runs, name, cmd = int(sys.argv[1]), sys.argv[2], sys.argv[3:]
times = []
for _ in range(runs):
    t = time.perf_counter()
    subprocess.run(cmd, stdout=subprocess.DEVNULL, check=True)
    times.append((time.perf_counter() - t) * 1000)
print(f"{name:<24} mean {sum(times) / len(times):6.2f} ms   best {min(times):6.2f} ms")
PY
}

measure "zot (library + script)" "$zot" bench/startup.zot
if command -v lua5.4 >/dev/null; then measure "lua5.4 -e ''" lua5.4 -e ''; fi
measure "python3 -c pass" "$python" -c pass
