#include "runtime/symbol.h"

#include "runtime/hashtable.h"

namespace zot::symbol {

mem::Node g_block = 0;
mem::Node g_table = 0;

void init() {
  if (g_table) return;
  g_block = mem::alloc_cells(kInitialSymbols);
  Cell source;
  make_cell(&source, T_BLOCK, 0, g_block, 0);
  g_table = hashtable::init(kInitialSymbols, &source, hashtable::kSymbols, 1);
}

u32 make_from_bytes(const u8* bytes, u32 count) { return hashtable::intern_symbol(g_table, bytes, count, false); }

u32 make(const char* text) { return make_from_bytes(reinterpret_cast<const u8*>(text), u32(std::strlen(text))); }

u32 make_with_flag(const char* text) {
  return hashtable::intern_symbol(g_table, reinterpret_cast<const u8*>(text), u32(std::strlen(text)), true);
}

u32 count() { return mem::series_of(g_block)->bytes_used() / sizeof(Cell); }

const char* name_text(u32 id) {
  mem::Series* s = mem::series_of(get(id)->symbol_bytes());
  if (s->tail >= s->size) s = mem::expand_series(s, s->size + 16);
  *s->tail_ptr() = 0;
  return reinterpret_cast<const char*>(s->head_ptr());
}

u32 name_length(u32 id) { return mem::series_of(get(id)->symbol_bytes())->bytes_used(); }

}  // namespace zot::symbol
