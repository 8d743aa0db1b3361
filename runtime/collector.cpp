#include "runtime/collector.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/platform.h"
#include "runtime/cycles.h"
#include "runtime/errors.h"
#include "runtime/fatal.h"
#include "runtime/hashtable.h"
#include "runtime/heap.h"
#include "runtime/resources.h"
#include "runtime/root.h"
#include "runtime/rooted.h"
#include "runtime/stack.h"
#include "runtime/symbol.h"

namespace zot::collector {

u32 g_count = 0;

bool g_enabled = false;
bool g_booting = false;

namespace {

using mem::Node;
using mem::Series;

constexpr u32 kMaxCallbacks = 100;
constexpr u32 kMaxRootCells = 100;
constexpr u32 kMaxWeakTables = 8;
constexpr u32 kFreeQueueSize = 20000;
// The allocator collects once this much was allocated since the last
// collection, or as much as was live after it, whichever is more: the work
// of marking stays proportional to the allocation that pays for it.
constexpr u64 kMinPace = 1u << 20;

bool g_active = false;
u64 g_live = 0;
u64 g_allocated = 0;  // bytes allocated since the last collection
u64 g_newly_marked = 0;  // buffers marked in this collection
bool g_boot_pause = false;  // between begin_boot and end_boot
#ifdef ZOT_GC_STRESS
// The stress build collects at every allocation, or every Nth one when the
// environment says so (ZOT_GC_STRESS_EVERY=N, for long-running tests).
u32 g_stress_every = 1;
u32 g_stress_tick = 0;
// While the library boots, every Nth allocation only: the same start-up runs
// before every test, and at every allocation it cost each test minutes.
// ZOT_GC_STRESS_BOOT_EVERY=1 gives the full stress there (one test does).
u32 g_stress_boot_every = 61;
#endif

void (*g_callbacks[kMaxCallbacks])();
u32 g_callback_count = 0;

struct RootCells {
  Cell* cells;
  u32 count;
};
RootCells g_root_cells[kMaxRootCells];
u32 g_root_cell_count = 0;

const Node* g_weak[kMaxWeakTables];
u32 g_weak_count = 0;

// The mark stack: series of cells whose cells are still to be marked. An
// explicit stack keeps deep nesting off the machine stack.
Node* g_pending = nullptr;
u32 g_pending_count = 0;
u32 g_pending_capacity = 0;

// Heap buffers met while marking: they are never swept, so their marks are
// cleared at the end.
Series** g_heap_marked = nullptr;
u32 g_heap_marked_count = 0;
u32 g_heap_marked_capacity = 0;

Node* g_free_queue = nullptr;
u32 g_free_queue_count = 0;

template <class T>
void push_grow(T*& items, u32& count, u32& capacity, T item) {
  if (count == capacity) {
    capacity = capacity ? capacity * 2 : 1024;
    items = static_cast<T*>(runtime::resize(items, sizeof(T) * capacity));
  }
  items[count++] = item;
}

ZOT_NORETURN void limit_hit(u32 limit) {
  Cell arg;
  set_integer(&arg, i32(limit));
  raise_error(Err::InternalLimitHit, &arg);
}

#ifdef ZOT_GC_STRESS
// A live value names a node that is free: memory is already corrupt.
ZOT_NORETURN void dangling(Node n) {
  char buf[96];
  int len = std::snprintf(buf, sizeof buf, "\n*** collector: a live value names the free node %08X\n", n);
  platform::write_all(2, buf, std::size_t(len));
  mem::print_stack_trace();
  runtime::quit(runtime::kFatalAssertion, ZOT_CALLER_ADDRESS());
}
#endif

// Sets the mark bit; true when it was clear.
ZOT_INLINE bool set_mark(Node n) {
#ifdef ZOT_GC_STRESS
  if (!mem::node_in_use(n)) dangling(n);
#endif
  Series* s = mem::series_of(n);
  if (s->flags & mem::kMark) return false;
  s->flags |= mem::kMark;
  g_newly_marked++;
  if (ZOT_UNLIKELY(s->flags & mem::kHeapBuffer))
    push_grow(g_heap_marked, g_heap_marked_count, g_heap_marked_capacity, s);
  return true;
}

ZOT_INLINE void mark_cells_of(Node n) {
  if (n && set_mark(n)) push_grow(g_pending, g_pending_count, g_pending_capacity, n);
}

ZOT_INLINE void mark_plain(Node n) {
  if (n) set_mark(n);
}

void mark_event_series(Node ev) {
  // An object's events: a pair per handler, word 3 the handler's spec.
  if (!ev || !set_mark(ev)) return;
  Series* s = mem::series_of(ev);
  for (const Cell* c = s->cells(); c < s->cells_tail(); c++)
    if (c->is(T_PAIR)) mark_cells_of(c->w3);
}

void mark_table_of(Node t);

void mark_one(const Cell* c) {
  switch (c->type()) {
    case T_BLOCK:
    case T_PAREN:
    case T_PATH:
    case T_LIT_PATH:
    case T_SET_PATH:
    case T_GET_PATH:
      mark_cells_of(c->w2);
      break;
    case T_STRING:
    case T_FILE:
    case T_URL:
    case T_TAG:
    case T_EMAIL:
    case T_REF:
      mark_plain(c->w2);
      mark_plain(c->w3);
      break;
    case T_SYMBOL:
      mark_plain(c->w3);
      mark_plain(c->w2);
      break;
    case T_CONTEXT:
      mark_table_of(c->w1);
      if (!(c->header & stack::kCtxStackValues)) mark_cells_of(c->w2);
      break;
    case T_WORD:
    case T_SET_WORD:
    case T_LIT_WORD:
    case T_GET_WORD:
    case T_REFINEMENT:
    case T_ISSUE:
      // A context is a series of two cells: a `self` word and any other word
      // keep it alike.
      mark_cells_of(c->w1);
      break;
    case T_OP:
      if (((c->header >> 16) & 0xFF) == T_FUNCTION || ((c->header >> 16) & 0xFF) == T_ROUTINE)
        mark_cells_of(c->w1);
      mark_cells_of(c->w2);
      mark_cells_of(c->w3);
      break;
    case T_NATIVE:
    case T_ACTION:
      mark_cells_of(c->w2);
      mark_cells_of(c->w3);
      break;
    case T_FUNCTION:
    case T_ROUTINE:
      mark_cells_of(c->w1);
      mark_cells_of(c->w2);
      mark_cells_of(c->w3);
      break;
    case T_BITSET:
    case T_VECTOR:
    case T_BINARY:
      mark_plain(c->w2);
      break;
    case T_OBJECT:
    case T_ERROR:
    case T_PORT:
      mark_cells_of(c->w1);
      mark_event_series(c->w3);
      break;
    case T_HASH:
    case T_MAP:
      mark_cells_of(c->w2);
      mark_table_of(c->w3);
      break;
    case T_HANDLE:
      if (i32(c->w3) >= 0) resources::mark(i32(c->w3), nullptr);
      break;
    case T_IMAGE:
      mark_plain(c->w2);
      break;
    case T_EVENT:
      if (c->header & 0x1000u) mark_cells_of(c->w2);
      break;
    default:
      break;
  }
}

// Marks the cells of every pending series until none is left.
void drain() {
  while (g_pending_count) {
    Node n = g_pending[--g_pending_count];
    Series* s = mem::series_of(n);
    // The cells are read through the node each time: marking never moves
    // buffers, but the pending stack may grow meanwhile.
    for (u32 off = s->head; off + sizeof(Cell) <= s->tail; off += sizeof(Cell))
      mark_one(reinterpret_cast<const Cell*>(s->data() + off));
  }
}

void table_series(Node n) { mark_plain(n); }
void table_cells(Node n) { mark_cells_of(n); }
constexpr hashtable::MarkFns kTableFns{table_series, table_cells, mark_one};

void mark_table_of(Node t) {
  // A table is marked once: its record buffer carries the mark.
  if (t && !(mem::series_of(t)->flags & mem::kMark)) hashtable::mark(t, kTableFns);
}

void mark_stacks() {
  // The stacks are heap series: marked so that nothing else sweeps them,
  // their contents read from their own bounds.
  for (const Cell* c = stack::g_bottom; c < stack::g_top; c++) mark_one(c);
  for (const stack::Frame* f = stack::g_cbottom; f < stack::g_ctop; f++) {
    mark_cells_of(f->word_ctx);
    mark_cells_of(f->fn_ctx);
  }
}

void mark_roots() {
  if (root::g_block) mark_cells_of(root::g_block);
  if (symbol::g_table) mark_table(symbol::g_table);
  mark_stacks();
  drain();
  const Node* cycle = cycles::entries();
  for (u32 i = 0; i < cycles::depth(); i++) mark_cells_of(cycle[i]);
  for (u32 i = 0; i < g_root_cell_count; i++) mark_cells(g_root_cells[i].cells, g_root_cells[i].cells + g_root_cells[i].count);
  for (int i = 0; i < 3; i++) mark_one(last_error_arg(i));
  for (const Rooted* r = Rooted::head(); r; r = r->prev()) mark_one(r);
  for (const RootedNode* r = RootedNode::head(); r; r = r->prev()) {
    if (!r->node) continue;
    if (r->table) mark_table(r->node);
    else if (mem::series_of(r->node)->unit() == sizeof(Cell)) mark_cells_of(r->node);
    else mark_plain(r->node);
  }
  drain();
  for (u32 i = 0; i < g_callback_count; i++) {
    if (g_callbacks[i]) g_callbacks[i]();
    drain();
  }
  // Weak tables: entries whose keys live keep their cells, which may bring
  // more keys to life.
  for (u64 before = ~u64(0); before != g_newly_marked;) {
    before = g_newly_marked;
    for (u32 i = 0; i < g_weak_count; i++) {
      Node t = *g_weak[i];
      if (!t) continue;
      hashtable::mark_weak(t, kTableFns);
      hashtable::mark_live_entries(t, kTableFns);
      drain();
    }
  }
}

void clear_heap_marks() {
  for (u32 i = 0; i < g_heap_marked_count; i++) g_heap_marked[i]->flags &= ~mem::kMark;
  g_heap_marked_count = 0;
}

}  // namespace

void init() {
#ifdef ZOT_GC_STRESS
  std::string every;
  if (platform::get_env("ZOT_GC_STRESS_EVERY", &every)) {
    long n = std::strtol(every.c_str(), nullptr, 10);
    g_stress_every = n > 1 ? u32(n) : 1;
  }
  if (platform::get_env("ZOT_GC_STRESS_BOOT_EVERY", &every)) {
    long n = std::strtol(every.c_str(), nullptr, 10);
    g_stress_boot_every = n > 1 ? u32(n) : 1;
  }
#endif
  g_count = 0;
  g_live = 0;
  g_active = false;
  if (!g_free_queue) g_free_queue = static_cast<Node*>(runtime::allocate(sizeof(Node) * kFreeQueueSize));
  g_free_queue_count = 0;
  resources::init();
}

void begin_boot() { g_boot_pause = true; }

void end_boot() {
  g_boot_pause = false;
  g_allocated += mem::take_allocated_bytes();
  if (g_allocated > g_live) g_live = g_allocated;
  g_allocated = 0;
}

void collect() {
  if (g_active) return;
  std::atomic_thread_fence(std::memory_order_seq_cst);
  g_active = true;
  std::atomic_thread_fence(std::memory_order_seq_cst);
  // Nodes never move, so tables keyed by node handles stay placed.
  bool was_collecting = hashtable::g_collecting;
  hashtable::g_collecting = true;
  mark_roots();
  resources::sweep();
  for (u32 i = 0; i < g_weak_count; i++)
    if (*g_weak[i]) hashtable::sweep(*g_weak[i]);
  g_live = mem::compact_series_frames(queue_free_node);
  mem::sweep_big_series(queue_free_node);
  flush_free_nodes();
  clear_heap_marks();
  mem::sweep_node_frames();
  mem::take_allocated_bytes();
  g_allocated = 0;
  hashtable::g_collecting = was_collecting;
  g_count++;
  mem::g_moves++;  // the compaction moved buffers
  std::atomic_thread_fence(std::memory_order_seq_cst);
  g_active = false;
  std::atomic_thread_fence(std::memory_order_seq_cst);
}

void collect_if_enabled() {
  if (!g_enabled || g_active) return;
#ifdef ZOT_GC_STRESS
  if (++g_stress_tick < (g_booting ? g_stress_boot_every : g_stress_every)) return;
  g_stress_tick = 0;
#else
  // Not enough new since the last collection: more frames are cheaper.
  g_allocated += mem::take_allocated_bytes();
  if (g_boot_pause || g_allocated < (g_live > kMinPace ? g_live : kMinPace)) return;
#endif
  collect();
}

bool active() { return g_active; }

void mark_node(Node n) { mark_plain(n); }
void mark_series_cells(Node n) { mark_cells_of(n); }
void mark_table(Node t) { mark_table_of(t); }
void mark_cells(const Cell* first, const Cell* end) {
  for (const Cell* c = first; c < end; c++) mark_one(c);
}
void mark_cell(const Cell* c) { mark_one(c); }

void add_root_callback(void (*fn)()) {
  for (u32 i = 0; i < g_callback_count; i++)
    if (g_callbacks[i] == fn) return;
  if (g_callback_count >= kMaxCallbacks) limit_hit(kMaxCallbacks);
  g_callbacks[g_callback_count++] = fn;
}

void remove_root_callback(void (*fn)()) {
  for (u32 i = 0; i < g_callback_count; i++)
    if (g_callbacks[i] == fn) g_callbacks[i] = nullptr;
}

void add_root_cells(Cell* cells, u32 count) {
  for (u32 i = 0; i < g_root_cell_count; i++)
    if (g_root_cells[i].cells == cells) return;
  if (g_root_cell_count >= kMaxRootCells) limit_hit(kMaxRootCells);
  g_root_cells[g_root_cell_count++] = RootCells{cells, count};
}

void add_weak_table(const Node* table) {
  for (u32 i = 0; i < g_weak_count; i++)
    if (g_weak[i] == table) return;
  if (g_weak_count >= kMaxWeakTables) limit_hit(kMaxWeakTables);
  g_weak[g_weak_count++] = table;
}

void queue_free_node(Node n) {
  if (!g_free_queue) g_free_queue = static_cast<Node*>(runtime::allocate(sizeof(Node) * kFreeQueueSize));
  if (g_free_queue_count == kFreeQueueSize) flush_free_nodes();
  g_free_queue[g_free_queue_count++] = n;
}

void flush_free_nodes() {
  // No sorting: the node-frame sweep makes the lowest frame with room the
  // current one, so new nodes gather in the low frames and the high ones
  // empty out; the order of slots within a frame does not matter.
  for (u32 i = 0; i < g_free_queue_count; i++) mem::free_node(g_free_queue[i]);
  g_free_queue_count = 0;
}

}  // namespace zot::collector
