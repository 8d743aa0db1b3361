// Tracked heap blocks: every block the runtime takes from the C heap is on one
// list, so that an exit can release them all and a report can list them.
#pragma once

#include "runtime/base.h"

namespace zot::runtime {

// size bytes; running out of memory is fatal error 94.
void* allocate(std::size_t size);
void* allocate_zeroed(std::size_t size);
// A pointer that is not a live tracked block is ignored.
void free(void* p);
// Null allocates; size 0 frees (and returns null); otherwise resizes in place
// or moves, keeping the block tracked.
void* resize(void* p, std::size_t size);
// Releases every tracked block.
void free_all();

std::size_t heap_block_count();
std::size_t heap_bytes();
bool heap_owns(const void* p);

}  // namespace zot::runtime
