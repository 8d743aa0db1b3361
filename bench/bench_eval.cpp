// The evaluator on small programs: a counting loop, function calls, and
// arithmetic expressions.
#include <benchmark/benchmark.h>

#include <string>

#include "boot/boot_image.h"
#include "boot/library.h"
#include "boot/startup.h"
#include "datatypes/context.h"
#include "interpreter/eval.h"
#include "interpreter/lexer.h"

namespace {

using namespace zot;

// The runtime and the library, once.
void start() {
  static bool done = false;
  if (done) return;
  done = true;
  startup::runtime_init();
  startup::boot_library(boot_image::kImage, boot_image::kImageSize);
}

Cell load(const std::string& text) {
  start();
  Cell out;
  lexer::scan(&out, reinterpret_cast<const u8*>(text.data()), u32(text.size()), lexer::Options{});
  return out;
}

void run(benchmark::State& st, const std::string& setup, const std::string& body, int items) {
  Cell s = load(setup);
  interp::do_block(&s);
  Cell code = load(body);
  for (auto _ : st) benchmark::DoNotOptimize(interp::do_block(&code));
  st.SetItemsProcessed(st.iterations() * items);
}

void BM_Loop(benchmark::State& st) { run(st, "n: 0", "n: 0 loop 1000 [n: n + 1]", 1000); }
BENCHMARK(BM_Loop);

void BM_FunctionCall(benchmark::State& st) {
  run(st, "inc: func [x] [x + 1]", "n: 0 loop 1000 [n: inc n]", 1000);
}
BENCHMARK(BM_FunctionCall);

void BM_FunctionReturn(benchmark::State& st) {
  run(st, "inc: func [x] [return x + 1]", "n: 0 loop 1000 [n: inc n]", 1000);
}
BENCHMARK(BM_FunctionReturn);

void BM_Arithmetic(benchmark::State& st) { run(st, "a: 3 b: 4", "a * a + b * b - 1 / 2", 1); }
BENCHMARK(BM_Arithmetic);

void BM_Recursion(benchmark::State& st) {
  run(st, "fib: func [n] [either n < 2 [n] [(fib n - 1) + (fib n - 2)]]", "fib 15", 1973);
}
BENCHMARK(BM_Recursion);

}  // namespace
