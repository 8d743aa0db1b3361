// The collector: reclaims the series that no root reaches and keeps memory
// dense. A collection marks every live buffer from the roots, releases the
// OS resources whose owners died, drops the dead entries of weak tables,
// slides the live buffers of each series frame down (or into the free end of
// the frame below), frees dead nodes and empty frames.
//
// Roots are precise: the root block, the symbol table, the argument stack
// (bottom to top) and the call frames, the cycle stack, the cells C++ code
// holds in `Rooted` (runtime/rooted.h), the permanent cells and the callbacks
// that modules register here (the global context, lexer states, the
// evaluator's cells, the value-slot pool...). The machine stack is never
// scanned. Nodes never move; only buffers do.
#pragma once

#include "runtime/base.h"
#include "runtime/cell.h"
#include "runtime/memory.h"

namespace zot::collector {

// Collections from the allocator run only while set (start-up sets it once
// the runtime is built; `recycle/off` clears it). collect() runs regardless.
extern bool g_enabled;
// Set while the library boots: the stress build collects less often then.
extern bool g_booting;

// From the start of the library's boot to its end the allocator's pace
// starts no collection (nearly everything the boot makes stays); the end
// counts what the boot made as live, so the first collection comes once as
// much again was made. The stress build collects as it always does.
void begin_boot();
void end_boot();

void init();
// One full collection.
void collect();
// From the allocator when the current frame is full: a collection when enabled and
// enough was allocated since the last one to be worth it (in the stress
// build: at every allocation while enabled).
void collect_if_enabled();
// True while a collection runs.
bool active();
// Collections so far (nodes are freed only by a collection: what is known
// of a node holds until the count moves).
extern u32 g_count;
ZOT_INLINE u32 count() { return g_count; }

// ---- marking, for root callbacks
// The buffer alone (text, bytes, any series whose elements are no values).
void mark_node(mem::Node n);
// The buffer and what its cells (head to tail) reach. Contexts are such
// series too: their context cell and owner cell.
void mark_series_cells(mem::Node n);
ZOT_INLINE void mark_context(mem::Node ctx) { mark_series_cells(ctx); }
// A hash table: its own series, its block and what the block's cells reach.
void mark_table(mem::Node t);
// What the cells reach.
void mark_cells(const Cell* first, const Cell* end);
void mark_cell(const Cell* c);

// ---- extra roots
// A routine that marks what its module holds, called at every collection in
// registration order (registering one again changes nothing). Room for 100:
// more raise internal/limit-hit.
void add_root_callback(void (*fn)());
// Its entry becomes empty (a later registration does not reuse it).
void remove_root_callback(void (*fn)());
// Cells of C++ that live as long as the process (answer cells of slot
// functions, the evaluator's position...). Room for 100: more raise
// internal/limit-hit.
void add_root_cells(Cell* cells, u32 count);
// A node-keyed table (kinds 3 and 4) held weakly: an entry's cells are marked
// only while its key series is otherwise alive, and the entries of dead keys
// (or dead owners) leave the table after marking. The table's own series stay.
void add_weak_table(const mem::Node* table);

// ---- the queue of nodes to free
// Queued by the sweeps; a full queue is flushed first.
void queue_free_node(mem::Node n);
// Frees the queued nodes.
void flush_free_nodes();

}  // namespace zot::collector
