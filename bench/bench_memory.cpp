// Allocation and growth of series: the bump-allocation path and doubling.
#include <benchmark/benchmark.h>

#include "runtime/memory.h"
#include "runtime/stack.h"

namespace {

void ensure() {
  static bool done = false;
  if (!done) {
    zot::mem::init();
    zot::stack::init();
    done = true;
  }
}

void BM_AllocSmallSeries(benchmark::State& st) {
  ensure();
  for (auto _ : st) benchmark::DoNotOptimize(zot::mem::alloc_cells(4));
}
BENCHMARK(BM_AllocSmallSeries);

void BM_AppendCells(benchmark::State& st) {
  ensure();
  for (auto _ : st) {
    zot::mem::Node n = zot::mem::alloc_cells(1);
    for (int i = 0; i < 1000; i++) benchmark::DoNotOptimize(zot::mem::alloc_tail_cell(n));
  }
}
BENCHMARK(BM_AppendCells);

}  // namespace
