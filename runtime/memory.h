// The memory manager: nodes, node frames, series frames and series buffers.
//
// A series value never holds the address of its data: it holds a node, a
// 32-bit handle naming a slot of a node frame, and the slot holds the address
// of the series buffer. The buffer points back to its node, so buffers can move
// (when they grow, and when the collector compacts frames) while values keep
// their nodes. Rule: never hold a raw element pointer across anything that may
// allocate, raise an error or run Zot code; keep the node and re-derive.
#pragma once

#include <vector>

#include "runtime/base.h"
#include "runtime/cell.h"
#include "runtime/rooted.h"  // holders of values across allocations

namespace zot::mem {

using Node = u32;  // 0 = none

// Series buffer flags.
constexpr u32 kUnitMask = 0x1Fu;
constexpr u32 kInUse = 0x80000000u;
constexpr u32 kNewBuffer = 0x20000000u;
constexpr u32 kMiddleHead = 0x10000000u;
constexpr u32 kMark = 0x08000000u;
constexpr u32 kBig = 0x01000000u;
constexpr u32 kHeapBuffer = 0x00100000u;
constexpr u32 kOwned = 0x00020000u;
// Library code (from the boot image): evaluated without trace events, frames
// marked as compiled, and errors keep their Near position.
constexpr u32 kLibrary = 0x00200000u;
// Flags that describe where and how a buffer lives, never carried to another buffer.
constexpr u32 kPlacementFlags = kMiddleHead | kMark | kBig | kHeapBuffer;

// A series buffer: this header, then the data (8-aligned). head and tail are
// byte offsets from the data start.
struct Series {
  u32 flags;
  Node node;
  u32 size;  // data capacity in bytes, a multiple of 16
  u32 head;
  u32 tail;
  u32 spare;

  ZOT_INLINE u8* data() { return reinterpret_cast<u8*>(this + 1); }
  ZOT_INLINE const u8* data() const { return reinterpret_cast<const u8*>(this + 1); }
  ZOT_INLINE u8* head_ptr() { return data() + head; }
  ZOT_INLINE const u8* head_ptr() const { return data() + head; }
  ZOT_INLINE u8* tail_ptr() { return data() + tail; }
  ZOT_INLINE const u8* tail_ptr() const { return data() + tail; }
  ZOT_INLINE u8* end_ptr() { return data() + size; }
  ZOT_INLINE u32 unit() const { return flags & kUnitMask; }
  ZOT_INLINE u32 unit_shift() const { return u32(__builtin_ctz(flags & kUnitMask)); }
  ZOT_INLINE u32 length() const { return (tail - head) >> unit_shift(); }
  ZOT_INLINE u32 bytes_used() const { return tail - head; }
  ZOT_INLINE u32 room() const { return size - tail; }  // bytes free after the tail
  ZOT_INLINE Cell* cells() { return reinterpret_cast<Cell*>(head_ptr()); }
  ZOT_INLINE const Cell* cells() const { return reinterpret_cast<const Cell*>(head_ptr()); }
  ZOT_INLINE Cell* cells_tail() { return reinterpret_cast<Cell*>(tail_ptr()); }
};
static_assert(sizeof(Series) == 24, "series header is six 32-bit fields");

constexpr u32 kSeriesHeader = sizeof(Series);
constexpr u32 kNodesPerFrame = 10000;
constexpr u32 kNodeSlotBits = 14;  // slot part of a node handle
constexpr u32 kMaxNodeFrames = 1u << (32 - kNodeSlotBits);
constexpr u32 kFirstSeriesFrame = 1u << 20;   // 1 MiB
constexpr u32 kLargestSeriesFrame = 2u << 20; // 2 MiB, also the big-buffer threshold
constexpr u32 kFrameWorthSearching = 0xCCCC;  // less room left than this: take a new frame
constexpr u32 kMaxSeriesBytes = 0x7FFFFFF0u;

// Buffers moved so far: a buffer moves only when its series grows or in a
// collection, and both count here (a collection also counts in
// collector::count()). A pointer into a buffer kept aside stays good while
// this count stands.
extern u32 g_moves;

// The node table: one slot per handle, a buffer address (or a free link),
// over one reservation of address space; a node frame's slots are the
// committed stretch of 2^kNodeSlotBits handles from id << kNodeSlotBits.
extern std::uintptr_t* g_nodes;

#ifdef ZOT_GC_STRESS
// A handle whose slot is free: a node the collector took back is still used.
ZOT_NORETURN void stale_node(Node n);
// The call stack, on standard error (sanitizer builds).
void print_stack_trace();
#endif

ZOT_INLINE Series* series_of(Node n) {
  std::uintptr_t slot = g_nodes[n];
#ifdef ZOT_GC_STRESS
  if (ZOT_UNLIKELY(slot & 1)) stale_node(n);
#endif
  return reinterpret_cast<Series*>(slot);
}
ZOT_INLINE void set_series_of(Node n, Series* s) {
  g_nodes[n] = reinterpret_cast<std::uintptr_t>(s);
}

// ---- set-up and teardown
void init();
// When not 0, the bytes the memory manager may take from the OS: past it
// allocations fail as if the OS refused them (tests and fuzzing).
extern u64 g_os_limit;

// ---- nodes
Node take_node();
void free_node(Node n);  // collector only
bool node_in_use(Node n);

// ---- buffers and series
// A new buffer with no node; offset 0, or -1 for the middle of the data.
Series* alloc_buffer(u32 count, u32 unit, i32 offset);
Node alloc_series(u32 count, u32 unit, i32 offset);
Node alloc_cells(u32 count);
Node alloc_unset_cells(u32 count);
Node alloc_bytes(u32 count);  // 0 gives 16 bytes
Node alloc_units(u32 count, u32 unit);  // 0 gives 16 bytes' worth
// A buffer from the C heap that never moves.
Node alloc_heap_series(u32 count, u32 unit, i32 offset);
void set_series_flags(Node n, u32 bits);

// The series' new buffer of new_size bytes (0 = twice the old size); data not
// copied. The old buffer is abandoned.
Series* realloc_buffer(Series* s, u32 new_size);
// As realloc_buffer, with the old data from its head copied to the new head.
Series* expand_series(Series* s, u32 new_size);
Series* expand_series_filled(Series* s, u32 new_size, u8 fill);
// An independent copy of the buffer (same unit, contents and length).
Node copy_series(Series* s);

// ---- tail allocation (the series may move: use the returned pointers)
// Appends one `unset!` cell at the tail, doubling the buffer when full.
Cell* alloc_tail_cell(Node n);
// Reserves n bytes at the tail; returns the old tail.
u8* alloc_tail_bytes(Node n, u32 bytes);
// Fills count units by copying the first unit and doubling the copied stretch.
void copy_repeat(u8* dst, u32 unit, u32 count);

// ---- collector interface (runtime/collector.h drives these)
// After marking: slides the live buffers of the series frames down (or into
// the free end of the frame below), clears their marks, hands the node of
// every dead buffer to dead, and releases frames left empty. Returns the
// bytes of live buffers.
u64 compact_series_frames(void (*dead)(Node n));
// Set (the stress build's default): the compaction copies every live buffer
// into fresh frames and returns the old frames to the OS, so that a pointer
// into a buffer kept across an allocation faults at once.
extern bool g_move_every_buffer;
// Set (the stress build's default): a freed node is never handed out again
// (nor the id of a released node frame), so a handle kept past its series'
// death is found out instead of naming another series.
extern bool g_retire_nodes;
// After marking: frees the big frames of unmarked buffers (their nodes to
// dead), clears the marks of the others.
void sweep_big_series(void (*dead)(Node n));
// After a collection: releases empty node frames, picks the current one and
// records each frame's stability history.
void sweep_node_frames();
// Bytes of buffers allocated since the last call.
u64 take_allocated_bytes();

// ---- statistics (tests, `stats` and the memory report)
struct Stats {
  u64 os_bytes;        // total taken from the OS
  u32 node_frames;
  u32 series_frames;
  u32 big_frames;
  u32 next_frame_size;
  u32 nodes_used;
  u64 series_bytes;    // bytes taken in series frames (live and not yet reclaimed)
  u64 frame_bytes;     // capacity of the series frames
  u64 big_bytes;       // bytes of the big-series frames
};
Stats stats();
// The frames one by one, for the memory statistics: node frames in slots,
// series frames in bytes (free, used, total), big frames by their size.
struct FrameUse {
  u64 free;
  u64 used;
  u64 total;
};
void frame_usage(std::vector<FrameUse>& nodes, std::vector<FrameUse>& series, std::vector<u64>& big);
// The memory in use, as `stats` and `recycle` answer it: 4 bytes per node
// taken, the bytes taken in each series frame, the size of each big buffer.
u64 bytes_in_use();
// True when the buffer lies in a big-series frame.
bool is_big(const Series* s);

// Marks memory as unusable (sanitizer builds) and, in the stress build, fills
// it with a poison byte.
void poison(void* p, std::size_t n);
void unpoison(void* p, std::size_t n);

}  // namespace zot::mem
