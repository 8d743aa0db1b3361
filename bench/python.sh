# Sourced by the benchmarks: the Python to compare with, in $python. The
# system's own (Debian's python3 package, built with its optimizations) is
# what a user of the machine runs; a python3 found first on PATH may be a
# slower local build (pyenv, a virtualenv). PYTHON overrides it.
if [ -n "${PYTHON:-}" ]; then
  python=$PYTHON
elif [ -x /usr/bin/python3 ]; then
  python=/usr/bin/python3
else
  # The interpreter itself, not a wrapper script that finds it.
  python=$(python3 -c 'import sys; print(sys.executable)')
fi
