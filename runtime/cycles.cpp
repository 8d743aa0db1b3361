#include "runtime/cycles.h"

#include "runtime/errors.h"

namespace zot::cycles {

namespace {
mem::Node g_entries[kCapacity];
u32 g_top = 0;
}  // namespace

void push(mem::Node n) {
  g_entries[g_top++] = n;
  if (g_top >= kCapacity) {
    g_top = 0;
    raise_error(Err::InternalTooDeep);
  }
}

void pop() {
  if (g_top) g_top--;
}

void drop(u32 count) { g_top = count >= g_top ? 0 : g_top - count; }
void reset() { g_top = 0; }

bool find(mem::Node n) {
  for (u32 i = 0; i < g_top; i++)
    if (g_entries[i] == n) return true;
  return false;
}

u32 depth() { return g_top; }
const mem::Node* entries() { return g_entries; }

}  // namespace zot::cycles
