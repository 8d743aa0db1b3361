// Hash tables: one open-addressing scheme for the whole runtime.
//
// A table never owns its keys: it indexes a block (a series of cells) and
// keeps in each bucket only the key's position in that block. Bucket counts
// are powers of two, each bucket has 2 flag bits (empty, deleted, or neither
// for live), probing is triangular (start, +1, +2, +3 ...), and a table grows
// when its occupied buckets reach 77% of them, re-placing its keys in place.
//
// A table is a byte series holding one Table record, passed around by its
// node. Tables live in series, so the rule of memory.h applies: pointers
// returned here (cells of the block) are good until the next allocation.
//
// Kinds:
//   0 `hash!`    every cell of the block; equal values share a bucket through
//                a duplicate chain
//   1 `map!`     the keys of a key/value block (even offsets); a removed key
//                keeps its bucket and gets a void value (header 0)
//   2 symbols    the symbol table and the word tables of contexts; entries are
//                never removed
//   3 node-keyed fixed-size entries of cells keyed by a 32-bit integer
//   4 ownership  as kind 3
//
// The int-map at the end is a plain heap map of 32-bit keys to 32-bit values
// for the collector's use during one collection.
#pragma once

#include <string>

#include "runtime/base.h"
#include "runtime/cell.h"
#include "runtime/memory.h"

namespace zot::hashtable {

using mem::Node;

enum Kind : i32 {
  kHash = 0,
  kMap = 1,
  kSymbols = 2,
  kNodeKeyed = 3,
  kOwnership = 4,
};

// The table record: eleven 32-bit words.
struct Table {
  i32 size;      // live buckets (map!: live keys)
  i32 indexes;   // kind 0: node of an int32 array, block position -> bucket + 1 (-1: none);
                 // kinds 3 and 4: entry size in bytes
  i32 chains;    // kind 0: node of the list of duplicate-chain nodes
  i32 flags;     // node of the bucket flags, 2 bits per bucket
  i32 keys;      // node of one int32 per bucket: the key's block position
                 // (kind 0: -n for the n-th chain; kinds 3 and 4: byte offset of the entry)
  i32 block;     // node of the cells holding the keys
  i32 occupied;  // live or deleted buckets
  i32 buckets;   // a power of two, at least 4
  i32 upper;     // growth threshold for `occupied`
  i32 kind;
  i32 stamp;     // 0, or node-move count + 1 when keys depending on node handles were placed
};
static_assert(sizeof(Table) == 44, "a table record is eleven 32-bit words");

ZOT_INLINE Table* record(Node t) { return reinterpret_cast<Table*>(mem::series_of(t)->head_ptr()); }

constexpr double kLoadFactor = 0.77;

// ---------------------------------------------------------------------------
// State shared with the collector.

// The seed of every MurmurHash3 computation; fixed before the first table.
extern u32 g_hash_seed;
// Count of collections that renumbered nodes. The collector bumps it (and sets
// g_collecting while it runs); a table whose hashes read node handles carries
// the count + 1 of the time its keys were placed and re-places them on first
// use after a change.
extern u32 g_node_moves;
extern bool g_collecting;

// ---------------------------------------------------------------------------
// Hashing

// MurmurHash3 x86 32-bit.
u32 murmur3_32(const void* bytes, u32 length, u32 seed);
// The same with the hash seed.
ZOT_INLINE u32 murmur_hash(const void* bytes, u32 length) { return murmur3_32(bytes, length, g_hash_seed); }
// MurmurHash3 with the hash seed of the bytes with A-Z lowered (nothing else
// changes), computed without a copy.
u32 murmur_hash_lower(const u8* bytes, u32 length);

// The MurmurHash3 finalizer.
ZOT_INLINE u32 hash_int(u32 h) {
  h ^= h >> 16;
  h *= 0x85EBCA6Bu;
  h ^= h >> 13;
  h *= 0xC2B2AE35u;
  h ^= h >> 16;
  return h;
}

// count code points stored in the unit (1, 2 as little-endian, or 4) at text,
// each upper-case folded unless case_sensitive, hashed as UTF-32LE. A unit
// other than 1, 2 or 4 is fatal runtime error 101.
u32 hash_text(const u8* text, u32 unit, u32 count, bool case_sensitive);
// The code points of a text series value from its index to the tail.
u32 hash_string(const Cell* value, bool case_sensitive);
// A `symbol!` cell: its UTF-8 name with A-Z lowered.
u32 hash_symbol(const Cell* symbol);
// Any value, by datatype; text case-insensitively unless case_sensitive.
u32 hash_any(const Cell* value, bool case_sensitive);
// The same, with the most common keys (integers) hashed in line.
ZOT_INLINE u32 hash_value(const Cell* value, bool case_sensitive) {
  if (value->is(T_INTEGER)) return hash_int(u32(value->int_value()));
  return hash_any(value, case_sensitive);
}
// True for the values whose hash reads a node or context handle.
bool address_keyed(const Cell* value);

// The power of two at or above n (0 for 0 and above 2^31).
ZOT_INLINE u32 round_up_pow2(u32 n) {
  n--;
  n |= n >> 1;
  n |= n >> 2;
  n |= n >> 4;
  n |= n >> 8;
  n |= n >> 16;
  return n + 1;
}

// 0 when the length bytes are equal: exactly, or ignoring the case of ASCII letters.
int compare_names(const u8* a, const u8* b, u32 length, bool exact);

// Byte series whose tail is at the end of the buffer, filled with the byte.
Node alloc_filled(u32 bytes, u8 fill);
Node alloc_zeroed(u32 bytes);
// Refills a whole series.
void fill(Node n, u8 byte);

// ---------------------------------------------------------------------------
// Tables of kinds 0 to 2

// A new table for the asked number of keys. With a source (a series value, or
// for kind 2 with value count 2 a context cell; null or none for no source)
// it indexes the source's block from the source's index, else it gets a fresh
// block. Kinds 3 and 4: value count is the number of value cells per entry.
Node init(u32 asked, const Cell* source, int kind, int value_count);

// Indexes key, a cell of the table's block. status (may be null) becomes 2
// when the whole table was rebuilt instead (the key is then indexed too).
// Returns the key cell.
Cell* put_key_status(Node t, Cell* key, int* status);
ZOT_INLINE Cell* put_key(Node t, Cell* key) { return put_key_status(t, key, nullptr); }
// Indexes the block from position start, every step-th cell (map!: step 2;
// a key met again takes the later value and its pair leaves the block).
void put_all(Node t, u32 start, u32 step);

// The stored cell equal to key under op (an actions::CompareOp), or null.
// Kind 0: the best position of the equal keys passing the filter: p >= start
// and (p - start) a multiple of skip, the smallest; with last, p >= start and
// (start - 1 - p) a multiple of skip, the largest; with reverse, p < start
// and the same multiple rule, the largest.
Cell* find_key(Node t, const Cell* key, i32 start, i32 skip, i32 op, bool last, bool reverse);
// Walks the stored keys of key's type equal to it: bucket is -1 to begin; it,
// first and step carry the walk between calls. Null when no more.
Cell* find_next(Node t, const Cell* key, i32* bucket, i32* first, i32* step);

// map! tables: one probe serves a lookup and the insertion that may follow.
struct MapSlot {
  i32 position;  // block position of the stored key, -1 when missing
  u32 site;      // when missing: the bucket the key would take
};
// The stored key of key's type equal to it under op (word keys are looked
// for as set-word!, as the table stores them).
MapSlot map_probe(Node t, const Cell* key, i32 op);
// Indexes the key cell at position (just added to the block) in the bucket
// map_probe answered, no key having been placed since; grows the table
// first when it is full.
void map_place(Node t, u32 site, u32 position);

// Removes a stored key (a cell of the block). map!: the value after it
// becomes void, the bucket stays live.
void delete_key(Node t, Cell* key);
// Kind 0: removes count positions from position.
void remove_range(Node t, u32 position, u32 count);
// Kind 0: the stored positions from start (count of them) move by delta, in
// place. With move, the -delta positions before start are removed first
// (delta < 0) and the position->bucket array follows the shift.
void shift_indexes(Node t, i32 delta, u32 start, u32 count, bool move);
// Kind 0: the count positions from start moved so that they end at target
// (target after them) or begin at target (target before them); the positions
// in between make room. Nothing when target lies inside the range.
void move_indexes(Node t, u32 target, u32 start, u32 count);

// Kind 0: rebuilds from the whole block, sized for count keys.
void rehash(Node t, u32 count);
// Rebuild with collection switched off (kind 0: rehash; kinds 3, 4: rebuild_entries).
void rebuild(Node t, u32 buckets);
// Kinds 1 and 2: grows (or cleans) in place to the bucket count.
void resize(Node t, u32 buckets);
// Re-places keys that depend on node handles after the collector renumbered nodes.
void refresh(Node t);
// Empties the table and its block.
void clear(Node t);
// A copy indexing another block, sharing no series with the original.
Node copy(Node t, Node block);
// Fills table with a copy of the word table of the context cell (its word
// list duplicated); returns table.
Node copy_from(const Cell* context, Node table);
ZOT_INLINE void no_op(Node) {}

// Symbol table lookup or insertion: the id (block position + 1) of the name.
// An exact match wins; with any_case the first case variant met is taken.
// A new symbol records its first-made case variant as its alias.
// text must not lie in a series buffer (interning allocates).
u32 intern_symbol(Node t, const u8* text, u32 length, bool any_case);
// Word table lookup by symbol id (by_alias: canonical ids on both sides).
// Without a context: the word's index or -1. With a context node: a found
// index goes to out and is returned; an absent word is appended to the word
// list (a `word!` bound to the context), its index goes to out and -1 is
// returned.
i32 find_word_index(Node t, u32 symbol, bool by_alias, Node context, i32* out);

// ---------------------------------------------------------------------------
// Node-keyed tables (kinds 3 and 4). An entry is value count + 1 cells: the
// key cell (header `unset!` while live, 0 once deleted; payload word 1 the
// key) and the value cells. The cells returned are the entry's first value cell.

Cell* put_int(Node t, u32 key);  // every cell of the entry gets header `unset!`
Cell* get_int(Node t, u32 key);
Cell* delete_int(Node t, u32 key);
// Rebuild into a fresh, compacted block.
void rebuild_entries(Node t, u32 buckets);
// Re-places every live entry where it is.
void reindex_entries(Node t);
// After the collector's marking: drops the entries whose key series is not
// marked (kind 4: also those whose second value cell names an unmarked series).
void sweep(Node t);

// ---------------------------------------------------------------------------
// Collector marking: series marks one buffer, cells marks a cell series and
// what its cells reach, cell what one cell reaches.
struct MarkFns {
  void (*series)(Node n);
  void (*cells)(Node n);
  void (*cell)(const Cell* c);
};
// The table's series and what it holds. An ownership table (kind 4) is weak:
// only its own series are marked, as mark_weak.
void mark(Node t, const MarkFns& fns);
// The table's own series alone (record, flags, keys, block), not what the
// entries hold.
void mark_weak(Node t, const MarkFns& fns);
// Kinds 3 and 4: the value cells of every live entry whose key series is
// marked (the collector repeats this until nothing new is marked).
void mark_live_entries(Node t, const MarkFns& fns);

// Debugging print: "\n== Deleted keys ==" and a line per deleted bucket, then
// "== Alive keys ==" and a line per live bucket.
std::string dump_text(Node t);
void dump(Node t);

// ---------------------------------------------------------------------------
// int-map

struct IntMap {
  i32 size;
  u32* flags;
  u32* pairs;  // buckets x (key, value)
  i32 occupied;
  i32 buckets;
  i32 upper;
};

IntMap* int_map_new(u32 expected);
// 1 when the key was there (its value replaced), 0 when added.
int int_map_put(IntMap* m, u32 key, u32 value);
u32* int_map_get(IntMap* m, u32 key);  // address of the value, or null
i32 int_map_find(const IntMap* m, u32 key);  // bucket, or -1
void int_map_delete(IntMap* m, u32 key);
// 0; the map is unchanged when the count would not lower its load.
int int_map_resize(IntMap* m, u32 buckets);
void int_map_clear(IntMap* m);
// The next live (key, value) pair after prev (null: the first), or null.
u32* int_map_next(IntMap* m, u32* prev);
ZOT_INLINE i32 int_map_count(const IntMap* m) { return m->size; }
void int_map_free(IntMap* m);  // null is ignored
// A heap block of bytes filled with the byte.
void* heap_fill(std::size_t bytes, u8 byte);

}  // namespace zot::hashtable
