#include "runtime/resources.h"

#include "runtime/errors.h"
#include "runtime/heap.h"

namespace zot::resources {

namespace {

struct Kind {
  u32 symbol;
  ReleaseFn release;
};

struct Record {
  u32 flags;
  u32 owner;
  i32 next;  // next record of the same list, -1 at the end
};

constexpr u32 kInitialRecords = 1000;

Kind g_kinds[kMaxKinds];
u32 g_kind_count = 0;
Record* g_records = nullptr;
u32 g_capacity = 0;
u32 g_used = 0;
i32 g_used_head = -1;
i32 g_free_head = -1;

// Chains records [from, to) as free, the last one linked to tail.
void chain_free(u32 from, u32 to, i32 tail) {
  for (u32 i = from; i < to; i++) {
    g_records[i] = Record{kFreeRecord, 0, i + 1 < to ? i32(i + 1) : tail};
  }
}

void grow() {
  u32 old = g_capacity;
  u32 cap = old * 2;
  g_records = static_cast<Record*>(runtime::resize(g_records, sizeof(Record) * cap));
  g_capacity = cap;
  // The old last free record leads to the new ones.
  i32 last = g_free_head;
  while (last >= 0 && g_records[last].next >= 0) last = g_records[last].next;
  chain_free(old, cap, -1);
  if (last >= 0) g_records[last].next = i32(old);
  else g_free_head = i32(old);
}

bool used(i32 index) {
  return index >= 0 && u32(index) < g_capacity && !(g_records[index].flags & kFreeRecord);
}

// Unlinks a used record (prev is the record before it in the used list, or -1).
void unlink(i32 index, i32 prev) {
  if (prev >= 0) g_records[prev].next = g_records[index].next;
  else g_used_head = g_records[index].next;
  g_records[index] = Record{kFreeRecord, 0, g_free_head};
  g_free_head = index;
  g_used--;
}

}  // namespace

void init() {
  g_kind_count = 0;
  runtime::free(g_records);
  g_capacity = kInitialRecords;
  g_records = static_cast<Record*>(runtime::allocate(sizeof(Record) * g_capacity));
  chain_free(0, g_capacity, -1);
  g_free_head = 0;
  g_used_head = -1;
  g_used = 0;
}

u32 register_kind(u32 symbol, ReleaseFn release_fn) {
  if (g_kind_count >= kMaxKinds) {
    Cell limit;
    set_integer(&limit, i32(kMaxKinds));
    raise_error(Err::InternalLimitHit, &limit);
  }
  g_kinds[g_kind_count] = Kind{symbol, release_fn};
  return ++g_kind_count;
}

i32 add(u32 owner, u32 flags) {
  if (!g_records) init();
  // Taking the last free record doubles the table first.
  if (g_free_head < 0 || g_records[g_free_head].next < 0) grow();
  i32 index = g_free_head;
  g_free_head = g_records[index].next;
  g_records[index] = Record{flags & ~(kMarked | kFreeRecord), owner, g_used_head};
  g_used_head = index;
  g_used++;
  return index;
}

void release(u32 flags, u32 owner) {
  u32 kind = flags & kKindMask;
  if (kind == 0 || kind > g_kind_count || !g_kinds[kind - 1].release) return;
  g_kinds[kind - 1].release(owner);
}

void remove(i32 index, bool release_it) {
  if (!used(index)) return;
  if (release_it) release(g_records[index].flags, g_records[index].owner);
  // The release routine may itself have removed the record.
  if (!used(index)) return;
  i32 prev = -1;
  for (i32 i = g_used_head; i >= 0 && i != index; i = g_records[i].next) prev = i;
  unlink(index, prev);
}

void set_owner(i32 index, u32 owner) {
  if (!used(index)) return;
  Record& r = g_records[index];
  u32 old = r.owner;
  r.owner = owner;
  if (old != owner) release(r.flags, old);
}

bool mark(i32 index, const u32* owner) {
  if (!used(index)) return false;
  Record& r = g_records[index];
  if (owner) r.owner = *owner;
  if (r.flags & kMarked) return false;
  r.flags |= kMarked;
  return true;
}

void for_each(u32 kind, void (*fn)(u32 owner)) {
  for (i32 i = g_used_head; i >= 0;) {
    i32 next = g_records[i].next;
    if ((g_records[i].flags & kKindMask) == kind) fn(g_records[i].owner);
    i = next;
  }
}

void sweep() {
  // The dead records leave the used list first, flagged free (so that a
  // release routine removing records of its own cannot meet them), and are
  // released and put on the free list afterwards.
  i32 dying = -1;
  i32 prev = -1;
  for (i32 i = g_used_head; i >= 0;) {
    Record& r = g_records[i];
    i32 next = r.next;
    if (r.flags & kMarked) {
      r.flags &= ~kMarked;
      prev = i;
    } else {
      if (prev >= 0) g_records[prev].next = next;
      else g_used_head = next;
      r.flags |= kFreeRecord;
      r.next = dying;
      dying = i;
      g_used--;
    }
    i = next;
  }
  while (dying >= 0) {
    i32 next = g_records[dying].next;
    u32 flags = g_records[dying].flags, owner = g_records[dying].owner;
    release(flags, owner);
    g_records[dying] = Record{kFreeRecord, 0, g_free_head};
    g_free_head = dying;
    dying = next;
  }
}

u32 used_count() { return g_used; }
u32 capacity() { return g_capacity; }

}  // namespace zot::resources
