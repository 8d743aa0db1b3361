#include "runtime/heap.h"

#include <cstdio>
#include <cstdlib>
#include <unordered_set>

#include "runtime/fatal.h"

namespace zot::runtime {

namespace {

struct alignas(16) BlockHeader {
  BlockHeader* prev;
  BlockHeader* next;
  std::size_t size;
};

BlockHeader* g_first = nullptr;
BlockHeader* g_last = nullptr;
std::size_t g_count = 0;
std::size_t g_bytes = 0;

// Membership is kept apart from the list so that freeing an unknown pointer
// never reads memory it does not own.
std::unordered_set<const void*>& live() {
  static auto* set = new std::unordered_set<const void*>;
  return *set;
}

void link(BlockHeader* b) {
  b->prev = g_last;
  b->next = nullptr;
  if (g_last) g_last->next = b; else g_first = b;
  g_last = b;
  g_count++;
  g_bytes += b->size;
  live().insert(b + 1);
}

void unlink(BlockHeader* b) {
  if (b->prev) b->prev->next = b->next; else g_first = b->next;
  if (b->next) b->next->prev = b->prev; else g_last = b->prev;
  g_count--;
  g_bytes -= b->size;
  live().erase(b + 1);
}

ZOT_NORETURN ZOT_NOINLINE void out_of_memory() {
  quit(kFatalOutOfMemory, reinterpret_cast<std::uintptr_t>(__builtin_return_address(0)));
}

}  // namespace

void* allocate(std::size_t size) {
  auto* b = static_cast<BlockHeader*>(std::malloc(sizeof(BlockHeader) + size));
  if (!b) out_of_memory();
  b->size = size;
  link(b);
  return b + 1;
}

void* allocate_zeroed(std::size_t size) {
  void* p = allocate(size);
  std::memset(p, 0, size);
  return p;
}

bool heap_owns(const void* p) { return p && live().count(p) != 0; }

void free(void* p) {
  if (!heap_owns(p)) return;
  BlockHeader* b = static_cast<BlockHeader*>(p) - 1;
  unlink(b);
  std::free(b);
}

void* resize(void* p, std::size_t size) {
  if (!p) return allocate(size);
  if (size == 0) {
    free(p);
    return nullptr;
  }
  if (!heap_owns(p)) return nullptr;
  BlockHeader* b = static_cast<BlockHeader*>(p) - 1;
  unlink(b);
  auto* nb = static_cast<BlockHeader*>(std::realloc(b, sizeof(BlockHeader) + size));
  if (!nb) {
    link(b);
    out_of_memory();
  }
  nb->size = size;
  link(nb);
  return nb + 1;
}

void free_all() {
  BlockHeader* b = g_first;
  while (b) {
    BlockHeader* next = b->next;
    std::free(b);
    b = next;
  }
  g_first = g_last = nullptr;
  g_count = g_bytes = 0;
  live().clear();
}

std::size_t heap_block_count() { return g_count; }
std::size_t heap_bytes() { return g_bytes; }

}  // namespace zot::runtime
