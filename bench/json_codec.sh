#!/usr/bin/env bash
# load-json and to-json on a few megabytes of JSON, beside Python's json
# module on the same text.
#   bash bench/json_codec.sh [path/to/zot]
set -euo pipefail
cd "$(dirname "$0")/.."
zot=${1:-build/release/zot}
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
python3 bench/json_data.py "$tmp/data.json"
"$zot" bench/json_codec.zot "$tmp/data.json"
python3 bench/json_codec.py "$tmp/data.json"
