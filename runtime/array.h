// Small growable arrays of bytes or 32-bit values kept in a byte series (so
// they live and move like any series: hold the node, not addresses).
// Positions are 1-based. 32-bit elements hold integers or handles (nodes,
// indexes): no machine address is ever stored.
#pragma once

#include "runtime/base.h"
#include "runtime/memory.h"

namespace zot::array {

using mem::Node;

Node make(u32 count, u32 width);  // width 1 or 4
u32 length(Node a);
void clear(Node a);
// The array ends just before the position.
void truncate(Node a, u32 position);
Node copy(Node a);
// The first element (good until the next allocation).
u8* head(Node a);

// Each answers the address of what it appended (good until the next allocation).
u8* append_byte(Node a, u8 b);
u8* append_bytes(Node a, const void* src, u32 length);
u8* append_int(Node a, u32 value);

u8 pick_byte(Node a, u32 position);
u32 pick_int(Node a, u32 position);
void poke_int(Node a, u32 position, u32 value);
// Byte offset of the first equal 32-bit element, or -1.
i32 find_int(Node a, u32 value);
// Removes the first equal 32-bit element, if any.
void remove_int(Node a, u32 value);
void remove_bytes(Node a, u32 offset, u32 count);
void insert_int(Node a, u32 value, u32 position);

}  // namespace zot::array
