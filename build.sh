#!/usr/bin/env bash
# Sets up a Debian machine for Zot, builds it, and runs the console or the tests.
#   bash build.sh run     build (release) and start the console
#   bash build.sh test    build release and sanitizer builds, run every test in both
set -euo pipefail
cd "$(dirname "$0")"

PACKAGES=(cmake ninja-build g++ clang libclang-rt-14-dev libgtest-dev libgmock-dev libbenchmark-dev libssl-dev
  python3 libcurl4-openssl-dev libpng-dev libturbojpeg0-dev libgif-dev libtiff-dev)

setup() {
  local missing=()
  for p in "${PACKAGES[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  if ((${#missing[@]})); then
    echo "Installing: ${missing[*]}"
    local sudo=""
    [ "$(id -u)" = 0 ] || sudo="sudo"
    export DEBIAN_FRONTEND=noninteractive
    $sudo apt-get update -q </dev/null
    $sudo apt-get install -y -q "${missing[@]}" </dev/null
  fi
}

jobs() { nproc 2>/dev/null || echo 2; }

build_release() {
  cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release -DZOT_WERROR=ON >/dev/null
  cmake --build build/release -j "$(jobs)"
}

build_debug() {
  cmake -S . -B build/debug -G Ninja -DCMAKE_BUILD_TYPE=Debug -DZOT_WERROR=ON \
    -DZOT_SANITIZE=ON -DZOT_GC_STRESS=ON -DZOT_BENCH=OFF >/dev/null
  cmake --build build/debug -j "$(jobs)"
}

# Short fuzzing runs (libFuzzer needs clang): the lexer, the inflater, the base
# decoders, the ZOTBIN decoder, the image decoders, the JSON decoder.
fuzz_run() {
  # ZOT_FUZZ_SECONDS shortens every run (quick local checks); CI uses the full times.
  local target=$1 seconds=${ZOT_FUZZ_SECONDS:-$2} max_len=$3
  shift 3
  mkdir -p "build/fuzz/corpus-$target"
  echo "== fuzz: $target, $seconds s"
  if ! "build/fuzz/tests/fuzz/$target" -max_total_time="$seconds" -artifact_prefix="build/fuzz/$target-" -rss_limit_mb=4096 -max_len="$max_len" \
      "build/fuzz/corpus-$target" "$@" >"build/fuzz/$target.log" 2>&1; then
    tail -40 "build/fuzz/$target.log"
    echo "fuzz: $target FAILED"
    return 1
  fi
  tail -1 "build/fuzz/$target.log"
}

fuzz() {
  CC=clang CXX=clang++ cmake -S . -B build/fuzz -G Ninja -DZOT_FUZZ=ON -DZOT_BENCH=OFF \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
  cmake --build build/fuzz --target fuzz_scan fuzz_inflate fuzz_debase fuzz_zotbin fuzz_images fuzz_programs fuzz_json -j "$(jobs)"
  fuzz_run fuzz_scan 60 4096 tests/scripts
  # Random small programs: one input byte per token.
  fuzz_run fuzz_programs 60 96 tests/fuzz/programs
  fuzz_run fuzz_inflate 20 8192 tests/fixtures/deflate
  fuzz_run fuzz_debase 20 4096
  fuzz_run fuzz_zotbin 20 4096 tests/fuzz/zotbin
  fuzz_run fuzz_images 20 8192 tests/fuzz/images
  fuzz_run fuzz_json 20 4096 tests/fuzz/json
}

run_tests() {
  local dir=$1  # ZOT_TEST_TIMEOUT: seconds a test may take (a loaded machine needs more)
  echo "== tests: $dir"
  ctest --test-dir "$dir" -j "$(jobs)" --output-on-failure --timeout "${ZOT_TEST_TIMEOUT:-300}"
}

case "${1:-run}" in
  run)
    setup
    build_release
    shift || true
    exec build/release/zot "$@"
    ;;
  test)
    setup
    bash tools/check_layers.sh
    python3 tools/gen_unicode_tables.py --check
    build_release
    run_tests build/release
    build_debug
    ASAN_OPTIONS=detect_leaks=0:abort_on_error=0 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
      run_tests build/debug
    fuzz
    ;;
  *)
    echo "usage: bash build.sh [run|test]" >&2
    exit 2
    ;;
esac
