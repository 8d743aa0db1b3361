// The parse dialect over CSV-like text (5.4 MB): splitting every line
// into its fields with collect/keep, and counting fields with a character
// class and a paren. bench/parse_split.py and bench/parse_split.lua do the
// same split over the same text.
#include <benchmark/benchmark.h>

#include <string>

#include "boot/boot_image.h"
#include "boot/library.h"
#include "boot/startup.h"
#include "datatypes/context.h"
#include "datatypes/string.h"
#include "interpreter/eval.h"
#include "interpreter/lexer.h"

namespace {

using namespace zot;

// 100,000 lines of six fields, the same text the scripts make.
std::string csv_text() {
  std::string t;
  for (int i = 0; i < 100000; i++) {
    t += "row" + std::to_string(i) + ",alpha beta," + std::to_string(i * 7 % 1000) + ",3." +
         std::to_string(i % 97) + ",\"quoted text\",last field\n";
  }
  return t;
}

Cell load(const std::string& text) {
  Cell out;
  lexer::scan(&out, reinterpret_cast<const u8*>(text.data()), u32(text.size()), lexer::Options{});
  return out;
}

void setup() {
  static bool done = false;
  if (done) return;
  done = true;
  startup::runtime_init();
  // Parse's spec names library typesets (any-string!...): the library, too.
  startup::boot_library(boot_image::kImage, boot_image::kImageSize);
  std::string t = csv_text();
  Cell s;
  set_none(&s);
  string::make_from_utf8(&s, t.data(), t.size());
  Cell w = word::load("csv-text");
  context::set(&w, &s);
  Cell defs = load(
      "sep: make bitset! \",^/\" "
      "field: complement sep "
      "split-rule: [collect [some [keep to [#\",\" | #\"^/\"] skip]]] "
      "count-rule: [some [some field (n: n + 1) skip]]");
  interp::do_block(&defs);
}

void run(benchmark::State& st, const char* code) {
  setup();
  Cell c = load(code);
  Cell r;
  set_none(&r);
  for (auto _ : st) benchmark::DoNotOptimize(r = interp::do_block(&c));
  st.counters["fields"] = r.int_value();
  st.SetBytesProcessed(i64(st.iterations()) * i64(csv_text().size()));
}

void BM_ParseSplitCollect(benchmark::State& st) { run(st, "length? parse csv-text split-rule"); }
BENCHMARK(BM_ParseSplitCollect)->Unit(benchmark::kMillisecond);

void BM_ParseCountFields(benchmark::State& st) { run(st, "n: 0 parse csv-text count-rule n"); }
BENCHMARK(BM_ParseCountFields)->Unit(benchmark::kMillisecond);

}  // namespace
