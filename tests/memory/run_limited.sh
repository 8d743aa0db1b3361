#!/bin/sh
# Runs a script test with the process's address space limited to $4 KiB:
# usage: run_limited.sh RUNNER SCRIPT EXPECTED KIB
runner=$1 script=$2 expected=$3 kib=$4
actual=$( (ulimit -v "$kib" && exec "$runner" "$script") 2>&1 )
status=$?
if [ "$actual" != "$(cat "$expected")" ]; then
  printf 'output differs for %s (status %s)\n--- expected\n%s\n--- actual\n%s\n' \
    "$script" "$status" "$(cat "$expected")" "$actual"
  exit 1
fi
