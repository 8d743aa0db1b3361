// Hash tables: insertion and lookup of integer keys, and symbol interning.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "runtime/actions.h"
#include "runtime/hashtable.h"
#include "runtime/memory.h"
#include "runtime/stack.h"
#include "runtime/symbol.h"

namespace {

using namespace zot;

// Integer equality for as long as no integer datatype has registered its compare slot.
i32 integer_compare(const Cell* a, const Cell* b, i32) {
  if (!b->is(T_INTEGER)) return 1;
  return a->int_value() < b->int_value() ? -1 : a->int_value() > b->int_value() ? 1 : 0;
}

void ensure() {
  static bool done = false;
  if (done) return;
  done = true;
  mem::init();
  stack::init();
  symbol::init();
  auto& slot = actions::g_table[T_INTEGER][actions::kCompare - 1];
  if (!slot) slot = actions::fn(&integer_compare);
}

// A hash! over N distinct integers: index them all, then find each.
void BM_HashPutFind(benchmark::State& st) {
  ensure();
  const u32 n = u32(st.range(0));
  for (auto _ : st) {
    mem::Node block = mem::alloc_cells(n);
    for (u32 i = 0; i < n; i++) set_integer(mem::alloc_tail_cell(block), i32(i * 2654435761u));
    Cell src;
    make_cell(&src, T_BLOCK, 0, block, 0);
    mem::Node t = hashtable::init(4, &src, hashtable::kHash, 0);
    for (u32 i = 0; i < n; i++) {
      Cell key;
      set_integer(&key, i32(i * 2654435761u));
      benchmark::DoNotOptimize(hashtable::find_key(t, &key, 0, 1, actions::kEqual, false, false));
    }
  }
  st.SetItemsProcessed(st.iterations() * n);
}
BENCHMARK(BM_HashPutFind)->Arg(1000)->Arg(100000);

// A map! table over N integer keys (a multiple of 7 each, as bench/compare's
// map program): put each with one probe, then look each up. The pair block
// has its room from the start, so the table's work is what is timed.
void BM_MapPutSelect(benchmark::State& st) {
  ensure();
  const u32 n = u32(st.range(0));
  for (auto _ : st) {
    mem::Node block = mem::alloc_cells(2 * n);
    Cell src;
    make_cell(&src, T_BLOCK, 0, block, 0);
    mem::Node t = hashtable::init(4, &src, hashtable::kMap, 0);
    for (u32 i = 1; i <= n; i++) {
      Cell key;
      set_integer(&key, i32(i * 7));
      const hashtable::MapSlot slot = hashtable::map_probe(t, &key, actions::kEqual);
      const u32 at = mem::series_of(block)->bytes_used() / sizeof(Cell);
      *mem::alloc_tail_cell(block) = key;
      set_integer(mem::alloc_tail_cell(block), i32(i & 1023));
      hashtable::map_place(t, slot.site, at);
    }
    for (u32 i = 1; i <= n; i++) {
      Cell key;
      set_integer(&key, i32(i * 7));
      benchmark::DoNotOptimize(hashtable::map_probe(t, &key, actions::kEqual));
    }
  }
  st.SetItemsProcessed(st.iterations() * n);
}
BENCHMARK(BM_MapPutSelect)->Arg(1000)->Arg(300000);

// A node-keyed table: put N keys, then get each.
void BM_NodeKeyedPutGet(benchmark::State& st) {
  ensure();
  const u32 n = u32(st.range(0));
  for (auto _ : st) {
    mem::Node t = hashtable::init(4, nullptr, hashtable::kNodeKeyed, 1);
    for (u32 i = 1; i <= n; i++) hashtable::put_int(t, i * 40503u);
    for (u32 i = 1; i <= n; i++) benchmark::DoNotOptimize(hashtable::get_int(t, i * 40503u));
  }
  st.SetItemsProcessed(st.iterations() * n);
}
BENCHMARK(BM_NodeKeyedPutGet)->Arg(1000)->Arg(100000);

// Looking up names already interned (the lexer's common case).
void BM_SymbolLookup(benchmark::State& st) {
  ensure();
  std::vector<std::string> names;
  for (int i = 0; i < 2000; i++) names.push_back("bench-word-" + std::to_string(i));
  for (const auto& name : names) symbol::make(name.c_str());
  std::size_t i = 0;
  for (auto _ : st) {
    benchmark::DoNotOptimize(symbol::make(names[i].c_str()));
    if (++i == names.size()) i = 0;
  }
}
BENCHMARK(BM_SymbolLookup);

// Interning new names (table growth included).
void BM_SymbolIntern(benchmark::State& st) {
  ensure();
  static u32 serial = 0;
  char name[32];
  for (auto _ : st) {
    std::snprintf(name, sizeof name, "fresh-%u", serial++);
    benchmark::DoNotOptimize(symbol::make(name));
  }
}
BENCHMARK(BM_SymbolIntern);

}  // namespace
