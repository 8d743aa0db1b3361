#!/bin/sh
# A long differential run by hand: deep.sh ZOT [COUNT] [FIRST-SEED] [JOBS]
# (failing programs are kept in ./differential-failures).
here=$(dirname "$0")
exec python3 "$here/run.py" "$1" "${3:-1}" "${2:-2000}" --jobs "${4:-$(nproc)}" --keep differential-failures
