#!/usr/bin/env bash
# The evaluator beside Lua 5.4 and Python 3: the same small programs
# (bench/compare/NAME.zot, .lua, .py) run whole, each RUNS times (default 3);
# the best wall time of each is printed with the ratios zot/lua and zot/python.
# The three programs of a row must print the same line; a row whose outputs
# differ is marked.  A benchmark, not a test: the figures depend on the machine.
#   bash bench/compare.sh [path/to/zot] [program...]
set -euo pipefail
cd "$(dirname "$0")/.."
zot=${1:-build/release/zot}
shift || true
runs=${RUNS:-3}

if ! command -v lua5.4 >/dev/null; then
  echo "Installing lua5.4"
  sudo=""
  [ "$(id -u)" = 0 ] || sudo="sudo"
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q lua5.4 </dev/null >/dev/null ||
    { $sudo apt-get update -q </dev/null >/dev/null && DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q lua5.4 </dev/null >/dev/null; }
fi
[ -x "$zot" ] || { echo "no zot at $zot (build it first: bash build.sh)" >&2; exit 1; }

source bench/python.sh
programs=("$@")
[ ${#programs[@]} -gt 0 ] || programs=(fib loop strings sort map refinements parse)

python3 - "$runs" "$zot" "$python" "${programs[@]}" <<'PY'
import subprocess, sys, time
runs, zot, python, programs = int(sys.argv[1]), sys.argv[2], sys.argv[3], sys.argv[4:]
langs = [("zot", [zot], "zot"), ("lua", ["lua5.4"], "lua"), ("python", [python], "py")]

def best(cmd):
    times, out = [], None
    for _ in range(runs):
        t = time.perf_counter()
        r = subprocess.run(cmd, stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
        times.append(time.perf_counter() - t)
        out = " ".join(r.stdout.decode("utf-8", "replace").split())
        if r.returncode != 0:
            out = "failed: " + out
    return min(times) * 1000, out

ver = lambda cmd: subprocess.run(cmd, capture_output=True, text=True).stdout.strip() or "?"
print(f"lua: {ver(['lua5.4', '-e', 'io.write(_VERSION)'])}, python: {python} "
      f"({ver([python, '-c', 'import sys; print(sys.version.split()[0])'])})")
print(f"{'program':<12} {'zot ms':>9} {'lua ms':>9} {'python ms':>10} {'zot/lua':>8} {'zot/python':>11}")
for p in programs:
    ms, outs = {}, {}
    for name, cmd, ext in langs:
        ms[name], outs[name] = best(cmd + [f"bench/compare/{p}.{ext}"])
    same = len(set(outs.values())) == 1
    mark = "" if same else "   outputs differ: " + " | ".join(f"{k}: {v}" for k, v in outs.items())
    print(f"{p:<12} {ms['zot']:9.1f} {ms['lua']:9.1f} {ms['python']:10.1f} "
          f"{ms['zot'] / ms['lua']:8.2f} {ms['zot'] / ms['python']:11.2f}{mark}")
PY
