#!/bin/sh
# Runs a Zot script against the loopback HTTP server (tests/fixtures/
# http_server.py): the server starts first, the script gets its port as its
# argument, and the script's output must equal the expected file.
#   run_http.sh ZOT SCRIPT EXPECTED SERVER
zot=$1
script=$2
expected=$3
server=$4
dir=$(mktemp -d)
trap 'kill "$pid" 2>/dev/null; wait "$pid" 2>/dev/null; rm -rf "$dir"' EXIT
python3 "$server" > "$dir/port" &
pid=$!
tries=0
while [ ! -s "$dir/port" ]; do
  tries=$((tries + 1))
  if [ "$tries" -gt 200 ]; then
    echo "the HTTP server did not start" >&2
    exit 1
  fi
  sleep 0.05
done
port=$(head -n 1 "$dir/port")
# Loopback requests never go through a proxy of the environment. HOME, which
# holds the per-user directory and the download cache, is this run's own.
mkdir "$dir/home"
HOME="$dir/home" no_proxy='*' NO_PROXY='*' "$zot" "$script" "$port" > "$dir/out" 2>&1
if ! cmp -s "$dir/out" "$expected"; then
  echo "output differs for $script"
  diff "$expected" "$dir/out"
  exit 1
fi
