// The root block: permanent cells the collector always keeps (boot image
// records, words made while the root-collecting flag is set, tracer cell...).
#pragma once

#include "runtime/cell.h"
#include "runtime/memory.h"

namespace zot::root {

extern mem::Node g_block;
// While set, the word makers that return fresh words keep a copy here.
extern bool g_collecting;

void init();
// Appends a copy of the cell; returns its index in the root block.
u32 append_copy(const Cell* c);
// Root cell N (good until the next allocation).
ZOT_INLINE Cell* cell(u32 index) { return mem::series_of(g_block)->cells() + index; }
u32 count();

}  // namespace zot::root
