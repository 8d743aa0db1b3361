#include "runtime/memory.h"

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/asan_interface.h>
#include <sanitizer/common_interface_defs.h>
#define ZOT_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#include <sanitizer/asan_interface.h>
#include <sanitizer/common_interface_defs.h>
#define ZOT_ASAN 1
#endif
#endif

#include <cstdio>

#include "platform/platform.h"
#include "runtime/collector.h"
#include "runtime/errors.h"
#include "runtime/fatal.h"
#include "runtime/heap.h"
#include "runtime/throw.h"

namespace zot::mem {

std::uintptr_t* g_nodes = nullptr;
u32 g_moves = 0;
#ifdef ZOT_GC_STRESS
bool g_move_every_buffer = true;
bool g_retire_nodes = true;
#else
bool g_move_every_buffer = false;
bool g_retire_nodes = false;
#endif
u64 g_os_limit = 0;

namespace {

// ---- OS blocks: a 16-byte prefix holds the rounded size.
constexpr std::size_t kOsPrefix = 16;
u64 g_os_bytes = 0;

// Address space held back for the moment the OS refuses memory: it is given
// back then, so that the no-memory error can be caught, reported and acted
// on; it is taken again when memory goes back to the OS.
constexpr std::size_t kReserveBytes = std::size_t(8) << 20;
void* g_reserve = nullptr;

void take_reserve() {
  if (!g_reserve) g_reserve = platform::valloc(kReserveBytes);
}

void give_back_reserve() {
  if (g_reserve) platform::vfree(g_reserve, kReserveBytes);
  g_reserve = nullptr;
}

// pages: now for memory filled from its start soon (a frame of nodes or
// series); huge for big buffers, which grow a little at a time.
void* os_alloc(std::size_t bytes, platform::Pages pages) {
  std::size_t rounded = align_up(bytes + kOsPrefix, platform::kPageSize);
  void* p = g_os_limit && g_os_bytes + rounded > g_os_limit ? nullptr : platform::valloc(rounded, pages);
  if (!p) {
    give_back_reserve();
    raise_no_memory();
  }
  g_os_bytes += rounded;
  *static_cast<std::size_t*>(p) = rounded;
  return static_cast<u8*>(p) + kOsPrefix;
}

// The block of os_alloc(..., Pages::huge) resized, kept as it was when the OS
// refuses (the no-memory error then).
void* os_resize(void* block, std::size_t bytes) {
  u8* p = static_cast<u8*>(block) - kOsPrefix;
  const std::size_t old = *reinterpret_cast<std::size_t*>(p);
  const std::size_t rounded = align_up(bytes + kOsPrefix, platform::kPageSize);
  void* q = g_os_limit && g_os_bytes - old + rounded > g_os_limit ? nullptr : platform::vresize(p, old, rounded);
  if (!q) {
    give_back_reserve();
    raise_no_memory();
  }
  g_os_bytes = g_os_bytes - old + rounded;
  *static_cast<std::size_t*>(q) = rounded;
  return static_cast<u8*>(q) + kOsPrefix;
}

// Commits memory inside a reservation, counted as taken from the OS.
void os_commit(void* p, std::size_t bytes) {
  if ((g_os_limit && g_os_bytes + bytes > g_os_limit) || !platform::vcommit(p, bytes)) {
    give_back_reserve();
    raise_no_memory();
  }
  g_os_bytes += bytes;
}

void os_decommit(void* p, std::size_t bytes) {
  g_os_bytes -= bytes;
  if (!platform::vdecommit(p, bytes)) raise_error(Err::InternalWrongMem);
  take_reserve();
}

void os_free(void* block) {
  u8* p = static_cast<u8*>(block) - kOsPrefix;
  std::size_t rounded = *reinterpret_cast<std::size_t*>(p);
  g_os_bytes -= rounded;
  if (!platform::vfree(p, rounded)) raise_error(Err::InternalWrongMem);
  take_reserve();
}

// ---- node frames
struct NodeFrame {
  NodeFrame* next;
  NodeFrame* prev;
  u32 capacity;
  u32 free_head;   // slot index + 1 of the first free slot, 0 when full
  u32 used;
  u32 stamp;       // collection count when made
  u32 used_prev;   // used count at the previous collection
  u32 stability;   // history bits: 1 where the used count did not change
  u32 evacuate;
  u32 id;          // the high bits of the frame's handles
  std::uintptr_t* slots;
};

// Each frame id owns a stretch of the node table: its slots, then its record.
constexpr std::size_t kNodeStretch = sizeof(std::uintptr_t) << kNodeSlotBits;
static_assert(kNodesPerFrame * sizeof(std::uintptr_t) + sizeof(NodeFrame) <= kNodeStretch);
u32 g_node_ids = 0;  // frame ids the node table's reservation has room for

ZOT_INLINE std::size_t node_frame_bytes(u32 count) {
  return align_up(sizeof(std::uintptr_t) * count + sizeof(NodeFrame), platform::kPageSize);
}

// The node table's address space: every handle's slot where the machine
// allows it, else as many frames' worth as it gives.
void reserve_node_table() {
  if (g_nodes) return;
  for (std::size_t ids = kMaxNodeFrames; ids >= 64; ids /= 4) {
    g_nodes = static_cast<std::uintptr_t*>(platform::vreserve(ids * kNodeStretch));
    if (g_nodes) {
      g_node_ids = u32(ids);
      return;
    }
  }
  raise_no_memory();
}

NodeFrame* g_first_nf = nullptr;
NodeFrame* g_last_nf = nullptr;
NodeFrame* g_current_nf = nullptr;
NodeFrame* g_nf_by_id[kMaxNodeFrames];
u32 g_free_ids[kMaxNodeFrames];
u32 g_free_id_count = 0;
u32 g_next_id = 1;  // id 0 is never used, so handle 0 is never a node
u32 g_node_frame_count = 0;

// Free slots hold (next free index + 1) << 1 | 1; in-use slots hold a buffer
// address (8-aligned, so bit 0 is clear) or 0.
ZOT_INLINE std::uintptr_t free_link(u32 next_plus_one) { return (std::uintptr_t(next_plus_one) << 1) | 1; }

void thread_free_nodes(NodeFrame* f) {
  for (u32 i = 0; i < f->capacity; i++) f->slots[i] = free_link(i + 1 < f->capacity ? i + 2 : 0);
  f->free_head = f->capacity ? 1 : 0;
}

NodeFrame* new_node_frame(u32 count) {
  reserve_node_table();
  u32 id;
  if (g_free_id_count) id = g_free_ids[--g_free_id_count];
  else if (g_next_id < g_node_ids) id = g_next_id++;
  else raise_error(Err::InternalNoMemory);
  std::uintptr_t* slots = g_nodes + (std::size_t(id) << kNodeSlotBits);
  os_commit(slots, node_frame_bytes(count));
  auto* f = reinterpret_cast<NodeFrame*>(slots + count);
  f->next = nullptr;
  f->prev = g_last_nf;
  f->capacity = count;
  f->used = 0;
  f->stamp = collector::count();
  f->used_prev = 0;
  f->stability = 0;
  f->evacuate = 0;
  f->id = id;
  f->slots = slots;
  if (g_last_nf) g_last_nf->next = f;
  else g_first_nf = g_current_nf = f;
  g_last_nf = f;
  thread_free_nodes(f);
  g_nf_by_id[id] = f;
  g_node_frame_count++;
  return f;
}

void release_node_frame(NodeFrame* f) {
  if (f->prev) f->prev->next = f->next; else g_first_nf = f->next;
  if (f->next) f->next->prev = f->prev; else g_last_nf = f->prev;
  if (g_current_nf == f) g_current_nf = g_last_nf;
  g_nf_by_id[f->id] = nullptr;
  if (!g_retire_nodes) g_free_ids[g_free_id_count++] = f->id;
  g_node_frame_count--;
  os_decommit(f->slots, node_frame_bytes(f->capacity));
}

// ---- series frames (address-sorted list) and big frames
struct SeriesFrame {
  SeriesFrame* next;
  SeriesFrame* prev;
  std::size_t size;  // data bytes
  u8* heap;          // first free byte
  u8* end;           // just past the data
  std::size_t pad;
};
static_assert(sizeof(SeriesFrame) % 8 == 0);

struct BigFrame {
  BigFrame* next;
  BigFrame* prev;
  std::size_t size;  // bytes of the buffer area
  std::size_t pad;
};
static_assert(sizeof(BigFrame) % 8 == 0);

// The data bytes a big buffer of at least size bytes takes: with the headers
// before its data, a whole number of huge pages, so that the buffer it grows
// into next starts on a huge page of its own.
u32 big_data_size(u32 size) {
  constexpr u64 kHuge = platform::kHugePageSize;
  constexpr u64 kHeaders = kOsPrefix + sizeof(BigFrame) + kSeriesHeader;
  const u64 whole = ((align_up(u64(size) + kHeaders, kHuge) - kHeaders) & ~u64(15));
  return whole >= size && whole <= kMaxSeriesBytes ? u32(whole) : size;
}

SeriesFrame* g_first_sf = nullptr;
SeriesFrame* g_current_sf = nullptr;
SeriesFrame* g_last_sf = nullptr;
u32 g_next_sf_size = kFirstSeriesFrame;
u32 g_series_frame_count = 0;
BigFrame* g_first_big = nullptr;
BigFrame* g_last_big = nullptr;
u32 g_big_frame_count = 0;

SeriesFrame* new_series_frame() {
  std::size_t size = g_next_sf_size;
  if (g_next_sf_size < kLargestSeriesFrame) g_next_sf_size *= 2;
  auto* f = static_cast<SeriesFrame*>(os_alloc(sizeof(SeriesFrame) + size, platform::Pages::now));
  f->size = size;
  f->heap = reinterpret_cast<u8*>(f + 1);
  f->end = f->heap + size;
  f->pad = 0;
  // Fresh from the OS: never used, so marked unusable without being filled.
#ifdef ZOT_ASAN
  ASAN_POISON_MEMORY_REGION(f->heap, size);
#endif
  // Keep the list sorted by address.
  if (!g_first_sf) {
    f->next = f->prev = nullptr;
    g_first_sf = g_last_sf = g_current_sf = f;
  } else if (f < g_first_sf) {
    f->prev = nullptr;
    f->next = g_first_sf;
    g_first_sf->prev = f;
    g_first_sf = f;
  } else if (f > g_last_sf) {
    f->next = nullptr;
    f->prev = g_last_sf;
    g_last_sf->next = f;
    g_last_sf = f;
  } else {
    SeriesFrame* above = g_first_sf;
    while (above && above < f) above = above->next;
    f->next = above;
    f->prev = above->prev;
    above->prev->next = f;
    above->prev = f;
  }
  g_series_frame_count++;
  return f;
}

SeriesFrame* find_series_frame(u32 needed) {
  for (SeriesFrame* f = g_first_sf; f; f = f->next)
    if (f->heap + needed < f->end) return f;
  return nullptr;
}

u8* new_big_series_frame(std::size_t bytes) {
  auto* f = static_cast<BigFrame*>(os_alloc(sizeof(BigFrame) + bytes, platform::Pages::huge));
  f->next = nullptr;
  f->prev = g_last_big;
  f->size = bytes;
  f->pad = 0;
  if (g_last_big) g_last_big->next = f; else g_first_big = f;
  g_last_big = f;
  g_big_frame_count++;
  return reinterpret_cast<u8*>(f + 1);
}

void free_big_series_frame(Series* s) {
  BigFrame* f = reinterpret_cast<BigFrame*>(s) - 1;
  if (f->prev) f->prev->next = f->next; else g_first_big = f->next;
  if (f->next) f->next->prev = f->prev; else g_last_big = f->prev;
  g_big_frame_count--;
  os_free(f);
}

u64 g_allocated = 0;  // bytes of buffers since the collector last asked

ZOT_INLINE u8* frame_data(SeriesFrame* f) { return reinterpret_cast<u8*>(f + 1); }
ZOT_INLINE std::size_t frame_room(const SeriesFrame* f) { return std::size_t(f->end - f->heap); }
ZOT_INLINE u32 span_of(const Series* s) { return kSeriesHeader + s->size; }
ZOT_INLINE bool is_live(const Series* s) { return (s->flags & (kInUse | kMark)) == (kInUse | kMark); }

void release_series_frame(SeriesFrame* f) {
  if (f->prev) f->prev->next = f->next; else g_first_sf = f->next;
  if (f->next) f->next->prev = f->prev; else g_last_sf = f->prev;
  if (g_current_sf == f) g_current_sf = g_last_sf;
  g_series_frame_count--;
  unpoison(f + 1, f->size);
  os_free(f);
}

// Moves len bytes of whole buffers from src to dst (lower, possibly
// overlapping) and points their nodes at the new places.
void move_run(u8* src, std::size_t len, u8* dst) {
  unpoison(dst, len);
  std::memmove(dst, src, len);
  for (u8* p = dst; p < dst + len;) {
    auto* s = reinterpret_cast<Series*>(p);
    set_series_of(s->node, s);
    p += span_of(s);
  }
}

// The bytes of the leading whole buffers of [run, end) that fit in room.
std::size_t fitting_prefix(u8* run, u8* end, std::size_t room) {
  std::size_t n = 0;
  for (u8* p = run; p < end;) {
    u32 span = span_of(reinterpret_cast<Series*>(p));
    if (n + span > room) break;
    n += span;
    p += span;
  }
  return n;
}

void maybe_collect() { collector::collect_if_enabled(); }

// Bytes of data for count units, rounded to 16; refuses sizes past the limit.
u32 data_size(u32 count, u32 unit) {
  u64 bytes = align_up(u64(count) * unit, 16);
  if (bytes > kMaxSeriesBytes) raise_error(Err::InternalNoMemory);
  return u32(bytes);
}

Series* init_buffer(u8* at, u32 size, u32 unit, i32 offset, u32 extra_flags) {
  auto* s = reinterpret_cast<Series*>(at);
  s->flags = unit | kInUse | kNewBuffer | extra_flags;
  s->size = size;
  u32 off = 0;
  if (offset == -1) {
    off = (size / 2) & ~(unit - 1);
    s->flags |= kMiddleHead;
  } else if (offset > 0) {
    off = u32(offset);
  }
  s->head = s->tail = off;
  s->node = 0;
  s->spare = 0;
  return s;
}

Node link_node(Series* s) {
  Node n = take_node();
  // take_node never collects, so s is still where it was.
  set_series_of(n, s);
  s->node = n;
  return n;
}

// A big buffer given size bytes of data where its pages are, the OS moving
// them: no copy, and the pages already touched are not made again. Its data
// from the head moves to the start of the buffer, as a reallocation leaves it.
Series* resize_big_buffer(Series* s, u32 size) {
  size = big_data_size(size);
  const u32 needed = size + kSeriesHeader;
  const Node n = s->node;
  g_allocated += needed;
  maybe_collect();
  if (n) s = series_of(n);
  if (s->head) {
    std::memmove(s->data(), s->head_ptr(), s->size - s->head);
    s->tail -= s->head;
    s->head = 0;
  }
  s->flags &= ~kMiddleHead;
  auto* f = static_cast<BigFrame*>(os_resize(reinterpret_cast<BigFrame*>(s) - 1, sizeof(BigFrame) + std::size_t(needed)));
  if (f->prev) f->prev->next = f; else g_first_big = f;
  if (f->next) f->next->prev = f; else g_last_big = f;
  f->size = needed;
  s = reinterpret_cast<Series*>(f + 1);
  s->size = size;
  if (s->tail > size) s->tail = size;
  if (n) set_series_of(n, s);
  return s;
}

Series* realloc_impl(Series* s, u32 new_size, Series** old_out) {
  g_moves++;
  u32 unit = s->unit();
  Node n = s->node;
  u64 want = new_size ? u64(new_size) : u64(s->size) * 2;
  if (want == 0 || want > kMaxSeriesBytes) raise_error(Err::InternalNoMemory);
  if ((s->flags & kBig) && data_size(u32(want / unit), unit) + kSeriesHeader >= kLargestSeriesFrame) {
    *old_out = nullptr;
    return resize_big_buffer(s, data_size(u32(want / unit), unit));
  }
  Series* fresh = alloc_buffer(u32(want / unit), unit, 0);
  // The allocation may have collected and moved the old buffer.
  Series* old = n ? series_of(n) : s;
  if (n) set_series_of(n, fresh);
  fresh->flags = (old->flags & ~kPlacementFlags) | (fresh->flags & kBig);
  fresh->node = n;
  u32 used = old->tail - old->head;
  fresh->tail = fresh->head + (used < fresh->size ? used : fresh->size);
  old->node = 0;
  old->flags &= ~kInUse;
  *old_out = old;
  return fresh;
}

// The old buffer of a reallocation is dead: a heap one goes back to the heap,
// a frame one waits for compaction (poisoned meanwhile).
void retire_buffer(Series* old) {
  if (old->flags & kHeapBuffer) {
    runtime::free(old);
  } else if (old->flags & kBig) {
    free_big_series_frame(old);
  } else {
    poison(old->data(), old->size);
  }
}

}  // namespace

void poison(void* p, std::size_t n) {
#ifdef ZOT_GC_STRESS
  unpoison(p, n);
  std::memset(p, 0xDB, n);
#endif
#ifdef ZOT_ASAN
  ASAN_POISON_MEMORY_REGION(p, n);
#else
  (void)p;
  (void)n;
#endif
}

void unpoison(void* p, std::size_t n) {
#ifdef ZOT_ASAN
  ASAN_UNPOISON_MEMORY_REGION(p, n);
#else
  (void)p;
  (void)n;
#endif
}

void init() {
  g_first_nf = g_last_nf = g_current_nf = nullptr;
  g_first_sf = g_last_sf = g_current_sf = nullptr;
  g_first_big = g_last_big = nullptr;
  g_next_sf_size = kFirstSeriesFrame;
  g_next_id = 1;
  g_free_id_count = 0;
  take_reserve();
  new_node_frame(kNodesPerFrame);
  new_series_frame();
}

Node take_node() {
  NodeFrame* f = g_current_nf;
  if (!f || !f->free_head) {
    f = nullptr;
    for (NodeFrame* g = g_first_nf; g; g = g->next)
      if (g->free_head && !g->evacuate) {
        f = g;
        break;
      }
    if (!f) f = new_node_frame(kNodesPerFrame);
    g_current_nf = f;
  }
  u32 slot = f->free_head - 1;
  f->free_head = u32(f->slots[slot] >> 1);
  f->slots[slot] = 0;
  f->used++;
  return (f->id << kNodeSlotBits) | slot;
}

void free_node(Node n) {
  NodeFrame* f = g_nf_by_id[n >> kNodeSlotBits];
  u32 slot = n & ((1u << kNodeSlotBits) - 1);
  f->used--;
  if (g_retire_nodes) {
    // Free but never handed out again: a stale handle stays detectable.
    f->slots[slot] = free_link(0);
    return;
  }
  f->slots[slot] = free_link(f->free_head);
  f->free_head = slot + 1;
}

bool node_in_use(Node n) {
  u32 id = n >> kNodeSlotBits;
  u32 slot = n & ((1u << kNodeSlotBits) - 1);
  if (id == 0 || id >= g_node_ids || !g_nf_by_id[id]) return false;
  if (slot >= g_nf_by_id[id]->capacity) return false;
  return (g_nf_by_id[id]->slots[slot] & 1) == 0;
}

Series* alloc_buffer(u32 count, u32 unit, i32 offset) {
  u32 size = data_size(count, unit);
  u32 needed = size + kSeriesHeader;
  g_allocated += needed;
#ifdef ZOT_GC_STRESS
  maybe_collect();
#endif
  if (needed >= kLargestSeriesFrame) {
#ifndef ZOT_GC_STRESS
    maybe_collect();
#endif
    size = big_data_size(size);
    needed = size + kSeriesHeader;
    u8* at = new_big_series_frame(needed);
    return init_buffer(at, size, unit, offset, kBig);
  }
  SeriesFrame* f = g_current_sf;
  if (!(f && f->heap + needed < f->end)) {
    // The current frame is full: a collection (when enough was allocated
    // since the last) comes before any leftover room or a new frame, else
    // small buffers would fill old frames' tails and new frames forever.
#ifndef ZOT_GC_STRESS
    maybe_collect();
#endif
    f = find_series_frame(needed);
    if (!f || std::size_t(f->end - f->heap) < kFrameWorthSearching) {
      if (needed >= g_next_sf_size) g_next_sf_size = kLargestSeriesFrame;
      f = new_series_frame();
    }
    g_current_sf = f;
  }
  u8* at = f->heap;
  f->heap += needed;
  unpoison(at, needed);
  return init_buffer(at, size, unit, offset, 0);
}

Node alloc_series(u32 count, u32 unit, i32 offset) { return link_node(alloc_buffer(count, unit, offset)); }

Node alloc_cells(u32 count) { return alloc_series(count, sizeof(Cell), 0); }

Node alloc_unset_cells(u32 count) {
  Node n = alloc_cells(count);
  Series* s = series_of(n);
  Cell* c = reinterpret_cast<Cell*>(s->data());
  for (u32 i = 0; i < s->size / sizeof(Cell); i++) set_unset(c + i);
  return n;
}

Node alloc_bytes(u32 count) { return alloc_series(count ? count : 16, 1, 0); }

Node alloc_units(u32 count, u32 unit) { return alloc_series(count ? count : 16 / unit, unit, 0); }

Node alloc_heap_series(u32 count, u32 unit, i32 offset) {
  u32 size = data_size(count, unit);
  u8* at = static_cast<u8*>(runtime::allocate(kSeriesHeader + std::size_t(size)));
  return link_node(init_buffer(at, size, unit, offset, kHeapBuffer));
}

void set_series_flags(Node n, u32 bits) { series_of(n)->flags |= bits; }

Series* realloc_buffer(Series* s, u32 new_size) {
  Series* old;
  Series* fresh = realloc_impl(s, new_size, &old);
  if (old) retire_buffer(old);
  return fresh;
}

Series* expand_series(Series* s, u32 new_size) {
  Series* old;
  Series* fresh = realloc_impl(s, new_size, &old);
  if (!old) return fresh;  // a big buffer resized with its data
  u32 avail = old->size - old->head;
  std::memcpy(fresh->head_ptr(), old->head_ptr(), avail < fresh->size ? avail : fresh->size);
  retire_buffer(old);
  return fresh;
}

Series* expand_series_filled(Series* s, u32 new_size, u8 fill) {
  u32 old_size = s->size;
  Series* fresh = expand_series(s, new_size);
  if (fresh->size > old_size) std::memset(fresh->head_ptr() + old_size, fill, fresh->size - old_size - fresh->head);
  return fresh;
}

Node copy_series(Series* s) {
  Node src = s->node;
  u32 size = s->size;
  Node n = alloc_bytes(size);
  // The allocation may have moved the source.
  if (src) s = series_of(src);
  Series* d = series_of(n);
  d->flags = (s->flags & ~(kPlacementFlags | kOwned)) | (d->flags & kBig);
  d->tail = d->head + (s->tail - s->head);
  if (size) std::memcpy(d->head_ptr(), s->head_ptr(), size - s->head);
  return n;
}

Cell* alloc_tail_cell(Node n) {
  Series* s = series_of(n);
  if (s->tail + sizeof(Cell) > s->size) s = expand_series(s, 0);
  Cell* c = s->cells_tail();
  s->tail += sizeof(Cell);
  set_unset(c);
  return c;
}

u8* alloc_tail_bytes(Node n, u32 bytes) {
  Series* s = series_of(n);
  if (u64(s->tail) + bytes > s->size) {
    u64 want = bytes > s->size ? u64(bytes) * 2 : u64(s->size) * 2;
    // The doubled size must also hold what is already there.
    while (want < u64(s->tail - s->head) + bytes) want *= 2;
    if (want > kMaxSeriesBytes) raise_error(Err::InternalNoMemory);
    s = expand_series(s, u32(align_up(want, 16)));
  }
  u8* old_tail = s->tail_ptr();
  s->tail += bytes;
  return old_tail;
}

void copy_repeat(u8* dst, u32 unit, u32 count) {
  if (count < 2) return;
  u64 total = u64(unit) * count;
  u64 done = unit;
  while (done < total) {
    u64 step = done < total - done ? done : total - done;
    std::memcpy(dst + done, dst, step);
    done += step;
  }
}

void sweep_node_frames() {
  NodeFrame* f = g_first_nf;
  bool current_set = false;
  while (f) {
    NodeFrame* next = f->next;
    if ((f->used == 0 || f->evacuate) && g_node_frame_count > 1) {
      release_node_frame(f);
    } else {
      if (!current_set && f->used < f->capacity) {
        g_current_nf = f;
        current_set = true;
      }
      f->stability = (f->stability << 1) | (f->used == f->used_prev ? 1u : 0u);
      f->used_prev = f->used;
    }
    f = next;
  }
}

void sweep_big_series(void (*dead)(Node n)) {
  BigFrame* f = g_first_big;
  while (f) {
    BigFrame* next = f->next;
    auto* s = reinterpret_cast<Series*>(f + 1);
    if (s->flags & kMark) {
      s->flags &= ~kMark;
    } else {
      if (s->node && (s->flags & kInUse)) dead(s->node);
      free_big_series_frame(s);
    }
    f = next;
  }
}


namespace {

// Copies every live buffer into fresh frames and gives the old ones back to
// the OS, so that a pointer into a buffer held across an allocation faults.
u64 move_every_buffer(void (*dead)(Node n)) {
  SeriesFrame* old = g_first_sf;
  g_first_sf = g_last_sf = g_current_sf = nullptr;
  g_series_frame_count = 0;
  g_next_sf_size = kLargestSeriesFrame;
  SeriesFrame* to = new_series_frame();
  u64 live = 0;
  for (SeriesFrame* f = old; f; f = f->next) {
    for (u8* p = frame_data(f); p < f->heap;) {
      auto* s = reinterpret_cast<Series*>(p);
      u32 span = span_of(s);
      p += span;
      if (!is_live(s)) {
        if ((s->flags & kInUse) && s->node) dead(s->node);
        continue;
      }
      s->flags &= ~kMark;
      if (frame_room(to) < span) to = new_series_frame();
      unpoison(to->heap, span);
      std::memcpy(to->heap, s, span);
      set_series_of(s->node, reinterpret_cast<Series*>(to->heap));
      to->heap += span;
      live += span;
    }
  }
  while (old) {
    SeriesFrame* next = old->next;
    unpoison(old + 1, old->size);
    os_free(old);
    old = next;
  }
  g_current_sf = to;
  return live;
}

}  // namespace

u64 compact_series_frames(void (*dead)(Node n)) {
  if (g_move_every_buffer) return move_every_buffer(dead);
  // Below 52,429 bytes of room a frame takes nothing from the frame above.
  constexpr std::size_t kOfferRoom = kFrameWorthSearching + 1;
  u64 live = 0;
  SeriesFrame* below = nullptr;
  for (SeriesFrame* f = g_first_sf; f;) {
    SeriesFrame* next = f->next;
    u8* const start = frame_data(f);
    u8* const old_heap = f->heap;
    bool offer = below && frame_room(below) >= kOfferRoom;
    u8* w = start;  // where the next run that stays in this frame goes
    for (u8* p = start; p < old_heap;) {
      auto* s = reinterpret_cast<Series*>(p);
      if (!is_live(s)) {
        if ((s->flags & kInUse) && s->node) dead(s->node);
        p += span_of(s);
        continue;
      }
      u8* run = p;
      while (p < old_heap && is_live(reinterpret_cast<Series*>(p))) {
        reinterpret_cast<Series*>(p)->flags &= ~kMark;
        p += span_of(reinterpret_cast<Series*>(p));
      }
      live += u64(p - run);
      while (run < p) {
        if (offer) {
          std::size_t n = fitting_prefix(run, p, frame_room(below));
          if (n) {
            move_run(run, n, below->heap);
            below->heap += n;
            run += n;
            if (frame_room(below) < kOfferRoom) offer = false;
            continue;
          }
        }
        std::size_t n = std::size_t(p - run);
        if (w != run) move_run(run, n, w);
        w += n;
        run = p;
      }
    }
    f->heap = w;
    poison(w, std::size_t(old_heap - w));
    if (w == start && next) {
      release_series_frame(f);
    } else {
      below = f;
    }
    f = next;
  }
  if (!g_current_sf) g_current_sf = g_last_sf;
  return live;
}

u64 take_allocated_bytes() {
  u64 n = g_allocated;
  g_allocated = 0;
  return n;
}

#ifdef ZOT_GC_STRESS
void stale_node(Node n) {
  char buf[80];
  int len = std::snprintf(buf, sizeof buf, "\n*** stale node %08X: the collector took it back\n", n);
  platform::write_all(2, buf, std::size_t(len));
  print_stack_trace();
  runtime::quit(runtime::kFatalAssertion, ZOT_CALLER_ADDRESS());
}

void print_stack_trace() {
#ifdef ZOT_ASAN
  __sanitizer_print_stack_trace();
#endif
}
#endif

Stats stats() {
  u32 used = 0;
  for (NodeFrame* f = g_first_nf; f; f = f->next) used += f->used;
  u64 series = 0, capacity = 0, big = 0;
  for (SeriesFrame* f = g_first_sf; f; f = f->next) {
    series += u64(f->heap - frame_data(f));
    capacity += f->size;
  }
  for (BigFrame* f = g_first_big; f; f = f->next) big += f->size;
  return Stats{g_os_bytes, g_node_frame_count, g_series_frame_count, g_big_frame_count, g_next_sf_size, used,
               series, capacity, big};
}

void frame_usage(std::vector<FrameUse>& nodes, std::vector<FrameUse>& series, std::vector<u64>& big) {
  for (NodeFrame* f = g_first_nf; f; f = f->next) nodes.push_back({f->capacity - f->used, f->used, f->capacity});
  for (SeriesFrame* f = g_first_sf; f; f = f->next) {
    u64 used = u64(f->heap - reinterpret_cast<u8*>(f + 1));
    series.push_back({f->size - used, used, f->size});
  }
  for (BigFrame* f = g_first_big; f; f = f->next) big.push_back(f->size);
}

bool is_big(const Series* s) { return (s->flags & kBig) != 0; }

u64 bytes_in_use() {
  Stats s = stats();
  return u64(s.nodes_used) * 4 + s.series_bytes + s.big_bytes;
}

}  // namespace zot::mem
