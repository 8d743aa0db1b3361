#!/usr/bin/env bash
# Memory under churn: churn.zot builds and drops a million strings, blocks and
# objects; its peak memory must stay bounded, not grow with the loop count.
# Runs it at 1, 2 and 4 million rounds (the peak should not move), beside the
# same program in Lua and Python, and reports wall time and peak resident
# memory of each run.
#   bash bench/churn.sh [path/to/zot]
set -euo pipefail
cd "$(dirname "$0")/.."
zot=${1:-build/release/zot}
source bench/python.sh
[ -x /usr/bin/time ] || { echo "churn.sh needs GNU time (/usr/bin/time)" >&2; exit 1; }
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

# One run: wall seconds and peak resident memory, through GNU time (a forked
# measuring process would count its own memory in the child's peak).
measure() {
  local name=$1
  shift
  /usr/bin/time -f "%e %M" -o "$tmp/time" "$@" >/dev/null
  awk -v name="$name" '{ printf "%-22s %6.2f s   peak %6.1f MB\n", name, $1, $2 / 1024 }' "$tmp/time"
}

for rounds in 1000000 2000000 4000000; do
  sed "s/loop 1000000/loop $rounds/" bench/churn.zot > "$tmp/churn.zot"
  measure "zot, $((rounds / 1000000))M rounds" "$zot" "$tmp/churn.zot"
done
if command -v lua5.4 >/dev/null; then measure "lua5.4, 1M rounds" lua5.4 bench/churn.lua; fi
measure "python3, 1M rounds" "$python" bench/churn.py
