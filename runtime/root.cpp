#include "runtime/root.h"

namespace zot::root {

mem::Node g_block = 0;
bool g_collecting = true;

void init() {
  if (!g_block) g_block = mem::alloc_cells(1000);
}

u32 append_copy(const Cell* c) {
  Cell copy = *c;  // c may lie in a buffer the append moves
  u32 index = count();
  *mem::alloc_tail_cell(g_block) = copy;
  return index;
}

u32 count() { return mem::series_of(g_block)->length(); }

}  // namespace zot::root
