#!/bin/sh
# Runs a script test under a resource limit of the shell's ulimit:
# usage: run_limited.sh ZOT SCRIPT EXPECTED LIMIT VALUE
#   LIMIT -v: the address space in KiB, so the OS refuses memory;
#   LIMIT -f: the size of a file written, in blocks, so a write fails part way
#   (the signal that would end the process is ignored, and the write fails).
zot=$1 script=$2 expected=$3 limit=$4 value=$5
actual=$( (trap '' XFSZ; ulimit "$limit" "$value" && exec "$zot" "$script") 2>&1 )
status=$?
if [ "$actual" != "$(cat "$expected")" ]; then
  printf 'output differs for %s (status %s)\n--- expected\n%s\n--- actual\n%s\n' \
    "$script" "$status" "$(cat "$expected")" "$actual"
  exit 1
fi
