// The resource registry: operating-system objects (images, ports, processes,
// handles) that must be released when the value owning them dies. A value
// names its record by index; the collector marks the records that live
// values reach and releases the others through their kind's routine.
#pragma once

#include "runtime/base.h"

namespace zot::resources {

constexpr u32 kMaxKinds = 20;
// Record flags: bit 31 the mark, bit 30 a free record, bits 0-7 the kind.
constexpr u32 kMarked = 0x80000000u;
constexpr u32 kFreeRecord = 0x40000000u;
constexpr u32 kKindMask = 0xFFu;

// Told the owner of a record to release.
using ReleaseFn = void (*)(u32 owner);

// Makes both tables: every record on the free list. Again: empties them.
void init();

// A new kind, named by a symbol id: its 1-based index. Past 20 kinds:
// internal/limit-hit.
u32 register_kind(u32 symbol, ReleaseFn release);

// A record for the owner (kind in bits 0-7 of flags): its index. The table
// doubles when the last free record is taken.
i32 add(u32 owner, u32 flags);
// Optionally releases the owner, then returns the record to the free list.
// An index that names no used record is ignored.
void remove(i32 index, bool release);
// Calls the release routine of the kind in flags (none for kind 0).
void release(u32 flags, u32 owner);
// Replaces the owner, releasing the old one when it differs.
void set_owner(i32 index, u32 owner);
// Sets the mark (and the owner when given): true when it was not yet marked.
bool mark(i32 index, const u32* owner);
// Calls fn with the owner of every used record of the kind.
void for_each(u32 kind, void (*fn)(u32 owner));
// After marking: unmarked records are released and freed, marked ones lose
// their mark.
void sweep();

// Used records, and the size of the record table.
u32 used_count();
u32 capacity();

}  // namespace zot::resources
