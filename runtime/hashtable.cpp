#include "runtime/hashtable.h"

#include <algorithm>
#include <cstdio>

#include "runtime/actions.h"
#include "runtime/collector.h"
#include "runtime/errors.h"
#include "runtime/fatal.h"
#include "runtime/heap.h"
#include "runtime/services.h"
#include "runtime/stack.h"
#include "runtime/symbol.h"
#include "runtime/unicode.h"

namespace zot::hashtable {

u32 g_hash_seed = 0x5A07C0DEu;
u32 g_node_moves = 0;
bool g_collecting = false;

namespace {

constexpr u32 kNoBucket = 0xFFFFFFFFu;
constexpr u32 kMoneySign = 0x4000u;  // header bit 14 of a money! value

// ---- raw access (re-derive after every allocation)

ZOT_INLINE u32* words_of(i32 n) { return reinterpret_cast<u32*>(mem::series_of(Node(n))->head_ptr()); }
ZOT_INLINE i32* ints_of(i32 n) { return reinterpret_cast<i32*>(mem::series_of(Node(n))->head_ptr()); }
ZOT_INLINE Cell* cells_of(i32 n) { return mem::series_of(Node(n))->cells(); }
ZOT_INLINE u32 cell_count(i32 n) { return mem::series_of(Node(n))->bytes_used() / sizeof(Cell); }
ZOT_INLINE u32 word_count(i32 n) { return mem::series_of(Node(n))->bytes_used() / 4; }

// ---- bucket flags: 2 bits per bucket, high bit empty, low bit deleted

ZOT_INLINE u32 flag_shift(u32 i) { return (i & 15u) << 1; }
ZOT_INLINE u32 flag_of(const u32* f, u32 i) { return (f[i >> 4] >> flag_shift(i)) & 3u; }
ZOT_INLINE bool is_empty(const u32* f, u32 i) { return (flag_of(f, i) & 2u) != 0; }
ZOT_INLINE bool is_live(const u32* f, u32 i) { return flag_of(f, i) == 0; }
ZOT_INLINE void set_live(u32* f, u32 i) { f[i >> 4] &= ~(3u << flag_shift(i)); }
ZOT_INLINE void set_deleted(u32* f, u32 i) {
  f[i >> 4] = (f[i >> 4] & ~(3u << flag_shift(i))) | (1u << flag_shift(i));
}

// Equality of two values as the language sees it under op.
ZOT_INLINE bool values_equal(const Cell* stored, const Cell* key, i32 op) {
  // Integer keys, the most common ones, compare without a dispatch.
  if (stored->is(T_INTEGER) && key->is(T_INTEGER) && (op == actions::kEqual || op == actions::kStrictEqual))
    return stored->int_value() == key->int_value();
  return actions::compare(stored, key, op);
}

// Table sizes: buckets for asked keys and the growth bound.
ZOT_INLINE u32 buckets_for(u32 asked) { return round_up_pow2(u32(double(asked) / kLoadFactor)); }
ZOT_INLINE u32 upper_of(u32 buckets) { return u32(double(buckets) * kLoadFactor); }
ZOT_INLINE u32 upper_rounded(u32 buckets) { return u32(0.5 + kLoadFactor * double(buckets)); }

ZOT_INLINE u32 grow_count(const Table* r) {
  return r->size * 2 >= r->buckets ? u32(r->buckets) + 1 : u32(r->buckets) - 1;
}

ZOT_INLINE bool needs_refresh(const Table* r) {
  return r->stamp != 0 && u32(r->stamp) != g_node_moves + 1 && !g_collecting;
}

// Keeps a table being built reachable by the collector: a `hash!` cell naming
// its block and the table sits on the argument stack meanwhile.
class TableRoot {
 public:
  TableRoot(Node table, Node block) {
    if (!stack::g_top) return;
    Cell c;
    make_cell(&c, T_HASH, 0, block, table);
    slot_ = stack::push(&c);
  }
  void set_block(Node block) {
    if (slot_) slot_->set_series_node(block);
  }
  ~TableRoot() {
    if (slot_ && stack::g_top == slot_ + 1) stack::g_top = slot_;
  }
  TableRoot(const TableRoot&) = delete;
  TableRoot& operator=(const TableRoot&) = delete;

 private:
  Cell* slot_ = nullptr;
};

// Switches collection off while a table is rebuilt, so that no node moves
// under it; restored however the rebuild ends.
class CollectionOff {
 public:
  CollectionOff() : saved_(collector::g_enabled) { collector::g_enabled = false; }
  ~CollectionOff() { collector::g_enabled = saved_; }
  CollectionOff(const CollectionOff&) = delete;
  CollectionOff& operator=(const CollectionOff&) = delete;

 private:
  bool saved_;
};

// ---- MurmurHash3 pieces

ZOT_INLINE u32 rotl(u32 x, int r) { return (x << r) | (x >> (32 - r)); }

ZOT_INLINE u32 mix_block(u32 h, u32 k) {
  k *= 0xCC9E2D51u;
  k = rotl(k, 15);
  k *= 0x1B873593u;
  h ^= k;
  h = rotl(h, 13);
  return h * 5 + 0xE6546B64u;
}

ZOT_INLINE u32 mix_tail(u32 h, u32 k) {
  k *= 0xCC9E2D51u;
  k = rotl(k, 15);
  k *= 0x1B873593u;
  return h ^ k;
}

ZOT_INLINE u32 load_le32(const u8* p) {
  return u32(p[0]) | (u32(p[1]) << 8) | (u32(p[2]) << 16) | (u32(p[3]) << 24);
}

ZOT_INLINE u8 lower_ascii(u8 b) { return (b >= 0x41 && b <= 0x5A) ? u8(b | 0x60) : b; }

// lower_ascii of four bytes at once: a byte below 0x80 whose low seven bits
// reach 'A' (0x41) but not past 'Z' (0x5A) gets bit 5.
ZOT_INLINE u32 lower_ascii4(u32 x) {
  const u32 low7 = x & 0x7F7F7F7Fu;
  const u32 from_a = low7 + 0x3F3F3F3Fu;
  const u32 past_z = low7 + 0x25252525u;
  return x | ((from_a & ~past_z & ~x & 0x80808080u) >> 2);
}

template <bool Lower>
u32 murmur_impl(const u8* data, u32 length, u32 seed) {
  u32 h = seed;
  u32 blocks = length / 4;
  for (u32 i = 0; i < blocks; i++) {
    const u8* p = data + i * 4;
    u32 k;
    if constexpr (Lower) {
      k = lower_ascii4(load_le32(p));
    } else {
      k = load_le32(p);
    }
    h = mix_block(h, k);
  }
  const u8* tail = data + blocks * 4;
  u32 k = 0;
  auto byte = [](u8 b) -> u32 { return Lower ? lower_ascii(b) : b; };
  switch (length & 3u) {
    case 3:
      k ^= byte(tail[2]) << 16;
      [[fallthrough]];
    case 2:
      k ^= byte(tail[1]) << 8;
      [[fallthrough]];
    case 1:
      k ^= byte(tail[0]);
      h = mix_tail(h, k);
      break;
    default:
      break;
  }
  return hash_int(h ^ length);
}

template <class Read>
ZOT_INLINE u32 hash_code_points(const u8* text, u32 count, u32 unit, bool case_sensitive, Read read) {
  u32 h = g_hash_seed;
  for (u32 i = 0; i < count; i++) {
    u32 cp = read(text + i * unit);
    if (!case_sensitive) cp = case_::fold_char(cp, true);
    h = mix_block(h, cp);
  }
  return hash_int(h ^ (count * 4));
}

// ---- kind 0 helpers

// The first position a live kind-0 bucket holds, or -1.
i32 first_position(const Table* r, u32 b) {
  i32 k = ints_of(r->keys)[b];
  if (k >= 0) return k;
  u32 slot = u32(-(k + 1));
  if (slot >= word_count(r->chains)) return -1;
  Node chain = words_of(r->chains)[slot];
  if (!chain || word_count(i32(chain)) == 0) return -1;
  return ints_of(i32(chain))[0];
}

ZOT_INLINE u32 index_length(const Table* r) { return mem::series_of(Node(r->indexes))->size / 4; }

// Makes the position->bucket array at least length long (new room -1).
void ensure_indexes(Node t, u32 length) {
  Table* r = record(t);
  mem::Series* s = mem::series_of(Node(r->indexes));
  u32 have = s->size / 4;
  if (length <= have) return;
  u64 want = std::max<u64>(u64(have) * 2, length);
  if (want * 4 > mem::kMaxSeriesBytes) raise_error(Err::InternalNoMemory);
  s = mem::expand_series_filled(s, u32(want * 4), 0xFF);
  s->tail = s->size;
}

void set_index(Node t, u32 position, i32 value) {
  ensure_indexes(t, position + 1);
  ints_of(record(t)->indexes)[position] = value;
}

// Appends position to the duplicates of live bucket b, making a chain the
// first time.
void chain_add(Node t, u32 b, u32 position) {
  Table* r = record(t);
  i32 k = ints_of(r->keys)[b];
  if (k < 0) {
    Node chain = words_of(r->chains)[u32(-(k + 1))];
    *reinterpret_cast<i32*>(mem::alloc_tail_bytes(chain, 4)) = i32(position);
    return;
  }
  // The list slot first, so the chain is reachable as soon as it exists.
  u32 slot = word_count(r->chains);
  *reinterpret_cast<u32*>(mem::alloc_tail_bytes(Node(r->chains), 4)) = 0;
  Node chain = mem::alloc_units(4, 4);
  auto* c = reinterpret_cast<i32*>(mem::alloc_tail_bytes(chain, 8));
  c[0] = k;
  c[1] = i32(position);
  r = record(t);
  words_of(r->chains)[slot] = chain;
  ints_of(r->keys)[b] = -i32(slot + 1);
}

// Whether live kind-0 bucket b already holds the position (a key put twice).
bool holds_position(const Table* r, u32 b, u32 position) {
  i32 k = ints_of(r->keys)[b];
  if (k >= 0) return k == i32(position);
  Node chain = words_of(r->chains)[u32(-(k + 1))];
  if (!chain) return false;
  const i32* c = ints_of(i32(chain));
  u32 n = word_count(i32(chain));
  for (u32 j = 0; j < n; j++) {
    if (c[j] == i32(position)) return true;
  }
  return false;
}

// Removes one kind-0 position; true when its bucket became deleted.
bool delete_position(Node t, u32 position) {
  Table* r = record(t);
  if (position >= index_length(r)) return false;
  i32* ix = ints_of(r->indexes);
  i32 v = ix[position];
  if (v <= 0 || v > r->buckets) return false;
  u32 b = u32(v - 1);
  u32* f = words_of(r->flags);
  if (!is_live(f, b)) return false;
  i32 k = ints_of(r->keys)[b];
  if (k < 0) {
    u32 slot = u32(-(k + 1));
    if (slot >= word_count(r->chains)) return false;
    Node chain = words_of(r->chains)[slot];
    if (!chain) return false;
    mem::Series* cs = mem::series_of(chain);
    i32* c = reinterpret_cast<i32*>(cs->head_ptr());
    u32 n = cs->bytes_used() / 4;
    u32 j = 0;
    while (j < n && c[j] != i32(position)) j++;
    if (j == n) return false;
    std::memmove(c + j, c + j + 1, (n - j - 1) * 4);
    cs->tail -= 4;
    ix[position] = -1;
    if (n > 1) return false;
    words_of(r->chains)[slot] = 0;
  } else {
    if (k != i32(position)) return false;
    ix[position] = -1;
  }
  set_deleted(f, b);
  r->size--;
  return true;
}

// Renumbers the stored positions lying in [lo, hi) through map, in every
// bucket and every chain, each exactly once.
template <class Map>
void renumber(Node t, u32 lo, u32 hi, Map map) {
  Table* r = record(t);
  i32* ix = ints_of(r->indexes);
  i32* keys = ints_of(r->keys);
  u32* f = words_of(r->flags);
  u32 limit = std::min(hi, index_length(r));
  for (u32 p = lo; p < limit; p++) {
    i32 v = ix[p];
    if (v <= 0 || v > r->buckets) continue;
    u32 b = u32(v - 1);
    if (is_live(f, b) && keys[b] == i32(p)) keys[b] = i32(map(p));
  }
  u32 n = word_count(r->chains);
  for (u32 s = 0; s < n; s++) {
    Node chain = words_of(r->chains)[s];
    if (!chain) continue;
    mem::Series* cs = mem::series_of(chain);
    i32* c = reinterpret_cast<i32*>(cs->head_ptr());
    u32 m = cs->bytes_used() / 4;
    for (u32 j = 0; j < m; j++) {
      if (c[j] >= i32(lo) && c[j] < i32(hi)) c[j] = i32(map(u32(c[j])));
    }
  }
}

// Whether position p passes find_key's position filter.
ZOT_INLINE bool position_passes(i32 p, i32 start, i32 skip, bool last, bool reverse) {
  i64 d;
  if (reverse) {
    if (p >= start) return false;
    d = i64(start) - 1 - p;
  } else if (last) {
    if (p < start) return false;
    d = i64(start) - 1 - p;
  } else {
    if (p < start) return false;
    d = i64(p) - start;
  }
  i64 m = d % skip;
  if (m < 0) m += skip;
  return m == 0;
}

// ---- node-keyed helpers

ZOT_INLINE Cell* entry_at(const Table* r, u32 offset) {
  return reinterpret_cast<Cell*>(mem::series_of(Node(r->block))->head_ptr() + offset);
}

// The bucket holding key, or kNoBucket.
u32 find_int_bucket(const Table* r, u32 key) {
  const u32* f = words_of(r->flags);
  const i32* keys = ints_of(r->keys);
  u32 mask = u32(r->buckets) - 1;
  u32 i = hash_int(key) & mask, start = i, step = 0;
  for (;;) {
    if (is_empty(f, i)) return kNoBucket;
    if (is_live(f, i) && entry_at(r, u32(keys[i]))->w1 == key) return i;
    i = (i + ++step) & mask;
    if (i == start) return kNoBucket;
  }
}

void heap_flags_fill(u32* f, u32 buckets) { std::memset(f, 0xAA, ((buckets + 15) / 16) * 4); }

}  // namespace

// ---------------------------------------------------------------------------
// Hashing

u32 murmur3_32(const void* bytes, u32 length, u32 seed) {
  return murmur_impl<false>(static_cast<const u8*>(bytes), length, seed);
}

u32 murmur_hash_lower(const u8* bytes, u32 length) { return murmur_impl<true>(bytes, length, g_hash_seed); }

u32 hash_text(const u8* text, u32 unit, u32 count, bool cs) {
  switch (unit) {
    case 1:
      return hash_code_points(text, count, 1, cs, [](const u8* p) { return u32(*p); });
    case 2:
      return hash_code_points(text, count, 2, cs, [](const u8* p) { return u32(p[0]) | (u32(p[1]) << 8); });
    case 4:
      return hash_code_points(text, count, 4, cs, [](const u8* p) { return load_le32(p); });
    default:
      runtime::quit(runtime::kFatalNoSwitch, ZOT_CALLER_ADDRESS());
  }
}

u32 hash_string(const Cell* value, bool case_sensitive) {
  mem::Series* s = mem::series_of(value->series_node());
  u32 unit = s->unit();
  if (unit != 1 && unit != 2 && unit != 4) runtime::quit(runtime::kFatalNoSwitch, ZOT_CALLER_ADDRESS());
  i64 index = value->series_index();
  i64 length = s->length();
  if (index < 0) index = 0;
  u32 count = index < length ? u32(length - index) : 0;
  return hash_text(s->head_ptr() + index * unit, unit, count, case_sensitive);
}

u32 hash_symbol(const Cell* symbol) {
  mem::Series* s = mem::series_of(symbol->symbol_bytes());
  return murmur_hash_lower(s->head_ptr(), s->bytes_used());
}

u32 hash_any(const Cell* value, bool case_sensitive) {
  switch (value->type()) {
    case T_INTEGER:
      return hash_int(u32(value->int_value()));
    case T_CHAR:
      return hash_int(value->char_value());
    case T_WORD:
    case T_SET_WORD:
    case T_LIT_WORD:
    case T_GET_WORD:
    case T_REFINEMENT:
    case T_ISSUE:
      return hash_int(symbol::resolve(value->word_symbol()));
    case T_SYMBOL:
      return hash_symbol(value);
    case T_STRING:
    case T_FILE:
    case T_URL:
    case T_TAG:
    case T_EMAIL:
    case T_REF:
      return hash_string(value, case_sensitive);
    case T_FLOAT:
    case T_PERCENT:
    case T_TIME:
    case T_PAIR:
      return murmur_hash(&value->w2, 8);
    case T_POINT2D:
      return murmur_hash(&value->w1, 8);
    case T_POINT3D:
    case T_OP:
    case T_FUNCTION:
    case T_TYPESET:
    case T_TRIPLE:
    case T_DATE:
      return murmur_hash(&value->w1, 12);
    case T_NONE:
      return u32(-1);
    case T_UNSET:
      return u32(-2);
    case T_MONEY: {
      Cell c = *value;
      c.header = T_MONEY | (value->header & kMoneySign);
      return murmur_hash(&c, sizeof c);
    }
    case T_BINARY: {
      mem::Series* s = mem::series_of(value->series_node());
      i64 index = value->series_index();
      i64 length = s->bytes_used();
      if (index < 0) index = 0;
      u32 count = index < length ? u32(length - index) : 0;
      return murmur_hash(s->head_ptr() + index, count);
    }
    case T_TUPLE: {
      u32 count = (value->header >> 19) & 0xFu;
      return murmur_hash(&value->w1, count > 12 ? 12 : count);
    }
    case T_OBJECT:
    case T_ERROR:
    case T_PORT:
      return hash_int(value->object_context());
    case T_LOGIC:
      return hash_int(value->w1);
    case T_DATATYPE:
      return hash_int(value->datatype_id());
    case T_NATIVE:
    case T_ACTION:
      return hash_int(value->function_more());
    case T_MAP:
      return hash_int(value->map_block());
    case T_HANDLE:
    case T_EVENT:
      return hash_int(value->w2);
    case T_BLOCK:
    case T_PAREN:
    case T_HASH:
    case T_PATH:
    case T_LIT_PATH:
    case T_SET_PATH:
    case T_GET_PATH:
    case T_IMAGE:
      return murmur_hash(&value->w1, 8);
    default:
      return 0;
  }
}

bool address_keyed(const Cell* value) {
  switch (value->type()) {
    case T_BLOCK:
    case T_PAREN:
    case T_NATIVE:
    case T_ACTION:
    case T_OP:
    case T_FUNCTION:
    case T_PATH:
    case T_LIT_PATH:
    case T_SET_PATH:
    case T_GET_PATH:
    case T_OBJECT:
    case T_ERROR:
    case T_HASH:
    case T_MAP:
    case T_PORT:
    case T_IMAGE:
    case T_EVENT:
      return true;
    default:
      return false;
  }
}

int compare_names(const u8* a, const u8* b, u32 length, bool exact) {
  if (exact) return std::memcmp(a, b, length) == 0 ? 0 : 1;
  for (u32 i = 0; i < length; i++) {
    if (lower_ascii(a[i]) != lower_ascii(b[i])) return 1;
  }
  return 0;
}

Node alloc_filled(u32 bytes, u8 byte) {
  Node n = mem::alloc_bytes(bytes);
  mem::Series* s = mem::series_of(n);
  std::memset(s->head_ptr(), byte, s->size - s->head);
  s->tail = s->size;
  return n;
}

Node alloc_zeroed(u32 bytes) { return alloc_filled(bytes, 0); }

void fill(Node n, u8 byte) {
  mem::Series* s = mem::series_of(n);
  std::memset(s->head_ptr(), byte, s->size - s->head);
}

// ---------------------------------------------------------------------------
// Creation, copying, clearing

Node init(u32 asked, const Cell* source, int kind, int value_count) {
  if (source && source->is(T_NONE)) source = nullptr;
  Node t = alloc_zeroed(sizeof(Table));
  TableRoot root(t, source && kind != kSymbols ? source->series_node() : 0);
  Table* r = record(t);
  r->kind = kind;
  if (kind == kSymbols) {
    if (source && value_count == 2) return copy_from(source, t);
    if (asked >= 4000) asked *= 2;
    if (source) root.set_block(source->series_node());
  } else if (kind == kNodeKeyed || kind == kOwnership) {
    r->indexes = (value_count + 1) * i32(sizeof(Cell));
    r->stamp = i32(g_node_moves + 1);
  }
  if (asked < 4) asked = 4;
  u32 buckets = buckets_for(asked);
  r->buckets = i32(buckets);
  r->upper = i32(upper_of(buckets));
  Node flags = alloc_filled(buckets / 4, 0xAA);
  record(t)->flags = i32(flags);
  Node keys = alloc_zeroed(buckets * 4);
  record(t)->keys = i32(keys);
  if (kind == kHash) {
    Node ix = alloc_filled(asked * 4, 0xFF);
    record(t)->indexes = i32(ix);
    Node chains = mem::alloc_units(4, 4);
    record(t)->chains = i32(chains);
  }
  if (kind == kNodeKeyed || kind == kOwnership || !source) {
    Node block = mem::alloc_cells(asked);
    record(t)->block = i32(block);
    root.set_block(block);
  } else {
    record(t)->block = i32(source->series_node());
    i32 start = source->series_index();
    put_all(t, start < 0 ? 0 : u32(start), kind == kMap ? 2 : 1);
  }
  return t;
}

Node copy_from(const Cell* context, Node table) {
  TableRoot root(table, 0);
  Node src = Node(context->context_table());
  *record(table) = *record(src);
  Node block = mem::copy_series(mem::series_of(Node(record(src)->block)));
  record(table)->block = i32(block);
  root.set_block(block);
  Node keys = mem::copy_series(mem::series_of(Node(record(src)->keys)));
  record(table)->keys = i32(keys);
  Node flags = mem::copy_series(mem::series_of(Node(record(src)->flags)));
  record(table)->flags = i32(flags);
  return table;
}

Node copy(Node t, Node block) {
  Node n = mem::copy_series(mem::series_of(t));
  TableRoot root(n, block);
  // Until each series is copied the copy names the original's; replace them one by one.
  Table* r = record(n);
  r->block = i32(block);
  Node flags = mem::copy_series(mem::series_of(Node(record(t)->flags)));
  record(n)->flags = i32(flags);
  Node keys = mem::copy_series(mem::series_of(Node(record(t)->keys)));
  record(n)->keys = i32(keys);
  if (record(t)->kind == kHash) {
    Node ix = mem::copy_series(mem::series_of(Node(record(t)->indexes)));
    record(n)->indexes = i32(ix);
    Node list = mem::copy_series(mem::series_of(Node(record(t)->chains)));
    record(n)->chains = i32(list);
    u32 count = word_count(i32(list));
    for (u32 i = 0; i < count; i++) {
      Node chain = words_of(i32(list))[i];
      if (!chain) continue;
      Node c = mem::copy_series(mem::series_of(chain));
      words_of(record(n)->chains)[i] = c;
    }
  }
  return n;
}

void clear(Node t) {
  Table* r = record(t);
  r->size = 0;
  r->occupied = 0;
  mem::Series* b = mem::series_of(Node(r->block));
  b->tail = b->head;
  fill(Node(r->flags), 0xAA);
  if (r->kind == kHash) {
    fill(Node(r->indexes), 0xFF);
    mem::Series* c = mem::series_of(Node(r->chains));
    c->tail = c->head;
  }
}

// ---------------------------------------------------------------------------
// Insertion

Cell* put_key_status(Node t, Cell* key, int* status) {
  if (status) *status = 0;
  Table* r = record(t);
  u32 position = u32(key - cells_of(r->block));
  i32 kind = r->kind;
  if (kind == kHash && needs_refresh(r)) {
    // The rebuild indexes the whole block, this key included.
    rebuild(t, cell_count(r->block));
    if (status) *status = 2;
    return cells_of(record(t)->block) + position;
  }
  if (r->occupied >= r->upper) {
    u32 n = kind == kMap ? u32(r->buckets) + 1 : grow_count(r);
    if (kind == kHash) {
      rebuild(t, n);
      if (status) *status = 2;
      return cells_of(record(t)->block) + position;
    }
    resize(t, n);
    r = record(t);
  }
  if (kind == kHash && r->stamp == 0 && address_keyed(key)) r->stamp = i32(g_node_moves + 1);

  key = cells_of(r->block) + position;
  u32 mask = u32(r->buckets) - 1;
  u32 i = hash_value(key, false) & mask, start = i, step = 0;
  u32 reuse = kNoBucket, site = kNoBucket;
  bool equal_found = false;
  u32 count = cell_count(r->block);
  for (;;) {
    u32 fl = flag_of(words_of(r->flags), i);
    if (fl & 2u) {
      site = reuse != kNoBucket ? reuse : i;
      break;
    }
    if (fl & 1u) {
      reuse = i;
    } else {
      i32 p = kind == kHash ? first_position(r, i) : ints_of(r->keys)[i];
      if (p >= 0 && u32(p) < count) {
        const Cell* stored = cells_of(r->block) + p;
        key = cells_of(r->block) + position;
        bool hit = kind == kHash ? stored->type() == key->type() && values_equal(stored, key, actions::kEqual)
                                 : values_equal(stored, key, actions::kStrictEqual);
        r = record(t);
        if (hit) {
          equal_found = true;
          site = i;
          break;
        }
      }
    }
    i = (i + ++step) & mask;
    if (i == start) {
      site = reuse;
      break;
    }
  }
  if (ZOT_UNLIKELY(site == kNoBucket)) runtime::quit(runtime::kFatalAssertion, ZOT_CALLER_ADDRESS());

  if (!equal_found) {
    u32* f = words_of(r->flags);
    bool was_empty = is_empty(f, site);
    ints_of(r->keys)[site] = i32(position);
    set_live(f, site);
    r->size++;
    if (was_empty) r->occupied++;
  } else if (kind == kHash && !holds_position(r, site, position)) {
    chain_add(t, site, position);
  }
  if (kind == kHash) set_index(t, position, i32(site + 1));
  return cells_of(record(t)->block) + position;
}

void put_all(Node t, u32 start, u32 step) {
  if (step == 0) step = 1;
  if (record(t)->kind != kMap) {
    for (u32 p = start; p < cell_count(record(t)->block); p += step) {
      int status;
      put_key_status(t, cells_of(record(t)->block) + p, &status);
      if (status == 2) break;
    }
    return;
  }
  u32 p = start;
  while (p < cell_count(record(t)->block)) {
    Cell* key = cells_of(record(t)->block) + p;
    Cell* earlier = find_key(t, key, 0, 1, actions::kStrictEqual, false, false);
    if (!earlier) {
      put_key(t, key);
      if (g_services.map_key) g_services.map_key(cells_of(record(t)->block) + p);
      p += step;
      continue;
    }
    // A key met again: its value wins and its pair leaves the block.
    mem::Series* b = mem::series_of(Node(record(t)->block));
    Cell* base = b->cells();
    u32 n = b->bytes_used() / sizeof(Cell);
    u32 earlier_pos = u32(earlier - base);
    if (p + 1 < n) base[earlier_pos + 1] = base[p + 1];
    u32 removed = std::min<u32>(2, n - p);
    std::memmove(base + p, base + p + removed, (n - p - removed) * sizeof(Cell));
    b->tail -= removed * sizeof(Cell);
  }
}

// ---------------------------------------------------------------------------
// Lookup

Cell* find_key(Node t, const Cell* key, i32 start, i32 skip, i32 op, bool last, bool reverse) {
  refresh(t);
  Table* r = record(t);
  i32 kind = r->kind;
  Cell local;
  if (kind == kMap && (key->is(T_WORD) || key->is(T_SET_WORD) || key->is(T_LIT_WORD) || key->is(T_GET_WORD))) {
    local = *key;
    set_type(&local, T_SET_WORD);
    key = &local;
  }
  if (skip <= 0) skip = 1;
  if (reverse) last = true;
  const bool hash_by_node = kind == kHash && address_keyed(key);
  u32 mask = u32(r->buckets) - 1;
  u32 i = hash_value(key, false) & mask, first = i, step = 0;
  // kind 0: values hashed by their node (blocks, objects...) can be equal
  // and still sit in different chains: the best position is looked for in
  // every chain of the probe.
  i32 best = -1;
  auto found = [&]() { return best >= 0 ? cells_of(record(t)->block) + best : nullptr; };
  for (;;) {
    const u32* f = words_of(r->flags);
    if (is_empty(f, i)) return found();
    if (is_live(f, i)) {
      u32 count = cell_count(r->block);
      if (kind != kHash) {
        i32 p = ints_of(r->keys)[i];
        if (p >= 0 && u32(p) < count) {
          const Cell* stored = cells_of(r->block) + p;
          if (stored->type() == key->type() && values_equal(stored, key, op)) return cells_of(record(t)->block) + p;
          r = record(t);
        }
      } else {
        i32 fp = first_position(r, i);
        if (fp >= 0 && u32(fp) < count && values_equal(cells_of(r->block) + fp, key, actions::kEqual)) {
          r = record(t);
          i32 k = ints_of(r->keys)[i];
          u32 n = 1;
          Node chain = 0;
          if (k < 0) {
            chain = words_of(r->chains)[u32(-(k + 1))];
            n = chain ? word_count(i32(chain)) : 0;
          }
          for (u32 j = 0; j < n; j++) {
            i32 p = chain ? ints_of(i32(chain))[j] : k;
            if (p < 0 || u32(p) >= cell_count(record(t)->block)) continue;
            if (!position_passes(p, start, skip, last, reverse)) continue;
            if (best >= 0 && (last ? p <= best : p >= best)) continue;
            if (values_equal(cells_of(record(t)->block) + p, key, op)) best = p;
          }
          r = record(t);
          if (best >= 0 && !hash_by_node) return found();
        }
        r = record(t);
      }
    }
    i = (i + ++step) & mask;
    if (i == first) return found();
  }
}

MapSlot map_probe(Node t, const Cell* key, i32 op) {
  Cell local;
  const u32 kt = key->type();
  if (kt == T_WORD || kt == T_LIT_WORD || kt == T_GET_WORD) {
    local = *key;
    set_type(&local, T_SET_WORD);
    key = &local;
  }
  const Table* r = record(t);
  const u32 mask = u32(r->buckets) - 1;
  u32 i = hash_value(key, false) & mask, first = i, step = 0;
  u32 reuse = kNoBucket;
  const u32 count = cell_count(r->block);
  // Integers (the common keys) compare in line; other keys through the
  // datatype, after which the arrays are read again.
  const bool plain = key->is(T_INTEGER) && (op == actions::kEqual || op == actions::kStrictEqual);
  const u32* f = words_of(r->flags);
  const i32* keys = ints_of(r->keys);
  const Cell* cells = cells_of(r->block);
  for (;;) {
    const u32 fl = flag_of(f, i);
    if (fl & 2u) return {-1, reuse != kNoBucket ? reuse : i};
    if (fl & 1u) {
      if (reuse == kNoBucket) reuse = i;
    } else {
      const i32 p = keys[i];
      if (p >= 0 && u32(p) < count) {
        const Cell* stored = cells + p;
        if (plain) {
          if (stored->is(T_INTEGER) && stored->int_value() == key->int_value()) return {p, 0};
        } else if (stored->type() == key->type()) {
          if (actions::compare(stored, key, op)) return {p, 0};
          r = record(t);
          f = words_of(r->flags);
          keys = ints_of(r->keys);
          cells = cells_of(r->block);
        }
      }
    }
    i = (i + ++step) & mask;
    if (i == first) break;
  }
  if (ZOT_UNLIKELY(reuse == kNoBucket)) runtime::quit(runtime::kFatalAssertion, ZOT_CALLER_ADDRESS());
  return {-1, reuse};
}

void map_place(Node t, u32 site, u32 position) {
  Table* r = record(t);
  if (r->occupied >= r->upper) {
    resize(t, u32(r->buckets) + 1);
    r = record(t);
    // The buckets moved: the key takes the first free one of its probe.
    const u32 mask = u32(r->buckets) - 1;
    const u32* f = words_of(r->flags);
    u32 i = hash_value(cells_of(r->block) + position, false) & mask, step = 0;
    while (!is_empty(f, i) && is_live(f, i)) i = (i + ++step) & mask;
    site = i;
  }
  u32* f = words_of(r->flags);
  if (is_empty(f, site)) r->occupied++;
  ints_of(r->keys)[site] = i32(position);
  set_live(f, site);
  r->size++;
}

Cell* find_next(Node t, const Cell* key, i32* bucket, i32* first, i32* step) {
  Table* r = record(t);
  u32 mask = u32(r->buckets) - 1;
  if (*bucket == -1) {
    *bucket = i32(hash_value(key, false) & mask);
    *first = *bucket;
    *step = 0;
  } else if (*bucket < 0) {
    return nullptr;
  }
  for (;;) {
    u32 i = u32(*bucket);
    const u32* f = words_of(r->flags);
    if (is_empty(f, i)) {
      *bucket = -2;
      return nullptr;
    }
    u32 next = (i + u32(++*step)) & mask;
    *bucket = next == u32(*first) ? -2 : i32(next);
    if (is_live(f, i)) {
      i32 p = r->kind == kHash ? first_position(r, i) : ints_of(r->keys)[i];
      if (p >= 0 && u32(p) < cell_count(r->block)) {
        const Cell* stored = cells_of(r->block) + p;
        if (stored->type() == key->type() && values_equal(stored, key, actions::kEqual)) {
          return cells_of(record(t)->block) + p;
        }
        r = record(t);
      }
    }
    if (*bucket == -2) return nullptr;
  }
}

// ---------------------------------------------------------------------------
// Removal and renumbering

void delete_key(Node t, Cell* key) {
  Table* r = record(t);
  mem::Series* b = mem::series_of(Node(r->block));
  i64 position = key - b->cells();
  if (position < 0 || u64(position) >= b->bytes_used() / sizeof(Cell)) return;
  if (r->kind == kHash) {
    delete_position(t, u32(position));
    return;
  }
  if (r->kind == kMap) {
    if (u64(position) + 1 >= b->bytes_used() / sizeof(Cell)) return;
    Cell* value = b->cells() + position + 1;
    // A key removed already keeps its void value; counting it again would break the size.
    if (value->header == 0) return;
    value->header = 0;
    r->size--;
  }
}

void remove_range(Node t, u32 position, u32 count) {
  Table* r = record(t);
  u32 length = cell_count(r->block);
  if (position >= length || count == 0) return;
  if (count > length - position) count = length - position;
  if (count == length) {
    r->size = 0;
    r->occupied = 0;
    fill(Node(r->flags), 0xAA);
    fill(Node(r->indexes), 0xFF);
    mem::Series* c = mem::series_of(Node(r->chains));
    c->tail = c->head;
    return;
  }
  for (u32 p = position; p < position + count; p++) delete_position(t, p);
}

void shift_indexes(Node t, i32 delta, u32 start, u32 count, bool move) {
  if (move && delta < 0) {
    u32 from = u32(std::max<i64>(0, i64(start) + delta));
    for (u32 p = from; p < start; p++) delete_position(t, p);
  }
  renumber(t, start, start + count, [delta](u32 p) { return u32(i64(p) + delta); });
  if (move) {
    ensure_indexes(t, start + count + u32(std::max(delta, 0)));
    i32* ix = ints_of(record(t)->indexes);
    i64 to = i64(start) + delta;
    if (to < 0) return;
    std::memmove(ix + to, ix + start, count * 4);
    if (delta > 0) {
      std::fill(ix + start, ix + start + delta, -1);
    } else if (delta < 0) {
      std::fill(ix + start + count + delta, ix + start + count, -1);
    }
  }
}

void move_indexes(Node t, u32 target, u32 start, u32 count) {
  if (count == 0 || (target >= start && target < start + count)) return;
  i64 delta = i64(target) - start;
  if (delta > 0) delta -= count - 1;
  bool forward = start < target;
  u32 lo = forward ? start : target;
  u32 hi = forward ? target + 1 : start + count;
  renumber(t, lo, hi, [=](u32 p) {
    if (p >= start && p < start + count) return u32(i64(p) + delta);
    return forward ? p - count : p + count;
  });
  ensure_indexes(t, hi);
  i32* ix = ints_of(record(t)->indexes);
  if (forward) {
    std::rotate(ix + lo, ix + start + count, ix + hi);
  } else {
    std::rotate(ix + lo, ix + start, ix + hi);
  }
}

// ---------------------------------------------------------------------------
// Growth and rebuilding

void rehash(Node t, u32 count) {
  u32 moves = g_node_moves;
  u32 power = round_up_pow2(u32(1.5 * double(count)));
  Table* r = record(t);
  r->upper = i32(upper_of(power));
  r->buckets = i32(std::max<u32>(power, 4));
  r->stamp = 0;
  r->size = 0;
  r->occupied = 0;
  mem::Series* c = mem::series_of(Node(r->chains));
  c->tail = c->head;
  u32 buckets = u32(r->buckets);
  // The bucket arrays are filled again where they are large enough, so a
  // rebuild of the same size allocates nothing but duplicate chains.
  auto room = [](i32 n) { return mem::series_of(Node(n))->size - mem::series_of(Node(n))->head; };
  if (room(r->flags) >= buckets / 4) {
    fill(Node(r->flags), 0xAA);
  } else {
    Node flags = alloc_filled(buckets / 4, 0xAA);
    record(t)->flags = i32(flags);
  }
  if (room(record(t)->keys) >= buckets * 4) {
    fill(Node(record(t)->keys), 0);
  } else {
    Node keys = alloc_zeroed(buckets * 4);
    record(t)->keys = i32(keys);
  }
  put_all(t, 0, 1);
  r = record(t);
  if (r->stamp != 0) r->stamp = i32(moves + 1);
}

void rebuild(Node t, u32 buckets) {
  CollectionOff off;
  switch (record(t)->kind) {
    case kHash:
      rehash(t, buckets);
      break;
    case kNodeKeyed:
    case kOwnership:
      rebuild_entries(t, buckets);
      break;
    default:
      resize(t, buckets);
      break;
  }
}

void resize(Node t, u32 count) {
  u32 n = std::max<u32>(round_up_pow2(count), 4);
  u32 new_upper = upper_rounded(n);
  Table* r = record(t);
  if (u32(r->size) >= new_upper) return;
  u32 old = u32(r->buckets);
  RootedNode new_flags(alloc_filled(n / 4, 0xAA));  // held until it replaces the old flags
  r = record(t);
  if (n > old) {
    mem::Series* ks = mem::expand_series(mem::series_of(Node(r->keys)), n * 4);
    ks->tail = ks->size;
    r = record(t);
  }
  u32* of = words_of(r->flags);
  u32* nf = words_of(i32(new_flags));
  i32* keys = ints_of(r->keys);
  Cell* base = cells_of(r->block);
  u32 mask = n - 1;
  // The keys' cells are read in bucket order, scattered over the block: each
  // is fetched some buckets ahead.
  constexpr u32 kAhead = 16;
  const u32 cells = cell_count(r->block);
  for (u32 j = 0; j < old; j++) {
    if (j + kAhead < old && is_live(of, j + kAhead) && u32(keys[j + kAhead]) < cells)
      __builtin_prefetch(base + keys[j + kAhead]);
    if (!is_live(of, j)) continue;
    i32 key = keys[j];
    set_deleted(of, j);
    for (;;) {
      u32 i = hash_value(base + key, false) & mask, step = 0;
      while (!is_empty(nf, i)) i = (i + ++step) & mask;
      set_live(nf, i);
      if (i < old && is_live(of, i)) {
        std::swap(keys[i], key);
        set_deleted(of, i);
      } else {
        keys[i] = key;
        break;
      }
    }
  }
  r->flags = i32(new_flags);
  r->buckets = i32(n);
  r->upper = i32(new_upper);
  if (r->kind != kMap) r->occupied = r->size;
}

void refresh(Node t) {
  Table* r = record(t);
  if (!needs_refresh(r)) return;
  if (r->kind == kHash) {
    rebuild(t, cell_count(r->block));
  } else if (r->kind == kNodeKeyed || r->kind == kOwnership) {
    reindex_entries(t);
  }
}

// ---------------------------------------------------------------------------
// Symbols and words

u32 intern_symbol(Node t, const u8* text, u32 length, bool any_case) {
  Table* r = record(t);
  if (r->occupied >= r->upper) {
    resize(t, 16 * grow_count(r));
    r = record(t);
  }
  u32 mask = u32(r->buckets) - 1;
  u32 i = murmur_hash_lower(text, length) & mask, start = i, step = 0;
  u32 site = kNoBucket;
  i32 variant = -1;
  const u32* f = words_of(r->flags);
  const i32* keys = ints_of(r->keys);
  const Cell* symbols = cells_of(r->block);
  // One walk serves both rounds: an exact match ends it, and the first case
  // variant met is remembered on the way.
  for (;;) {
    if (is_empty(f, i)) {
      site = i;
      break;
    }
    if (is_live(f, i)) {
      const mem::Series* name = mem::series_of(symbols[keys[i]].symbol_bytes());
      if (name->bytes_used() == length) {
        const u8* stored = name->data() + name->head;
        if (!any_case && compare_names(stored, text, length, true) == 0) return u32(keys[i]) + 1;
        if (variant < 0 && compare_names(stored, text, length, false) == 0) {
          if (any_case) return u32(keys[i]) + 1;
          variant = keys[i] + 1;
        }
      }
    }
    i = (i + ++step) & mask;
    if (i == start) break;
  }
  if (ZOT_UNLIKELY(site == kNoBucket)) runtime::quit(runtime::kFatalAssertion, ZOT_CALLER_ADDRESS());

  Node block = Node(r->block);
  u32 position = cell_count(i32(block));
  mem::alloc_tail_cell(block);  // `unset!` until it is filled
  Node bytes = mem::alloc_bytes(length + 1);
  mem::Series* bs = mem::series_of(bytes);
  std::memcpy(bs->head_ptr(), text, length);
  bs->head_ptr()[length] = 0;
  bs->tail = bs->head + length;
  Cell* cell = cells_of(i32(block)) + position;
  make_cell(cell, T_SYMBOL, u32(variant), 0, bytes);
  r = record(t);
  ints_of(r->keys)[site] = i32(position);
  set_live(words_of(r->flags), site);
  r->size++;
  r->occupied++;
  return position + 1;
}

i32 find_word_index(Node t, u32 sym, bool by_alias, Node context, i32* out) {
  Table* r = record(t);
  if (context && r->occupied >= r->upper) {
    resize(t, 16 * grow_count(r));
    r = record(t);
  }
  u32 canonical = symbol::resolve(sym);
  u32 wanted = by_alias ? canonical : sym;
  u32 mask = u32(r->buckets) - 1;
  u32 i = hash_int(canonical) & mask, start = i, step = 0;
  u32 site = kNoBucket;
  const u32* f = words_of(r->flags);
  const i32* keys = ints_of(r->keys);
  const Cell* words = cells_of(r->block);
  for (;;) {
    if (is_empty(f, i)) {
      site = i;
      break;
    }
    if (is_live(f, i)) {
      u32 s = words[keys[i]].word_symbol();
      if ((by_alias ? symbol::resolve(s) : s) == wanted) {
        if (out) *out = keys[i];
        return keys[i];
      }
    }
    i = (i + ++step) & mask;
    if (i == start) break;
  }
  if (!context) return -1;
  if (ZOT_UNLIKELY(site == kNoBucket)) runtime::quit(runtime::kFatalAssertion, ZOT_CALLER_ADDRESS());
  Node block = Node(r->block);
  u32 position = cell_count(i32(block));
  Cell* word = mem::alloc_tail_cell(block);
  make_cell(word, T_WORD, context, sym, position);
  r = record(t);
  ints_of(r->keys)[site] = i32(position);
  set_live(words_of(r->flags), site);
  r->size++;
  r->occupied++;
  if (out) *out = i32(position);
  return -1;
}

// ---------------------------------------------------------------------------
// Node-keyed tables

Cell* put_int(Node t, u32 key) {
  refresh(t);
  Table* r = record(t);
  if (r->occupied >= r->upper) {
    rebuild(t, grow_count(r));
    r = record(t);
  }
  u32 mask = u32(r->buckets) - 1;
  u32 i = hash_int(key) & mask, start = i, step = 0;
  u32 reuse = kNoBucket, site = kNoBucket;
  bool found = false;
  {
    const u32* f = words_of(r->flags);
    const i32* keys = ints_of(r->keys);
    for (;;) {
      u32 fl = flag_of(f, i);
      if (fl & 2u) {
        site = reuse != kNoBucket ? reuse : i;
        break;
      }
      if (fl & 1u) {
        reuse = i;
      } else if (entry_at(r, u32(keys[i]))->w1 == key) {
        site = i;
        found = true;
        break;
      }
      i = (i + ++step) & mask;
      if (i == start) {
        site = reuse;
        break;
      }
    }
  }
  if (ZOT_UNLIKELY(site == kNoBucket)) runtime::quit(runtime::kFatalAssertion, ZOT_CALLER_ADDRESS());
  u32 entry_size = u32(r->indexes);
  u32 offset;
  if (found) {
    offset = u32(ints_of(r->keys)[site]);
  } else if (is_empty(words_of(r->flags), site)) {
    Node block = Node(r->block);
    offset = mem::series_of(block)->bytes_used();
    u8* at = mem::alloc_tail_bytes(block, entry_size);
    std::memset(at, 0, entry_size);
    r = record(t);
    ints_of(r->keys)[site] = i32(offset);
    set_live(words_of(r->flags), site);
    r->size++;
    r->occupied++;
  } else {
    // A deleted bucket: its entry's storage is reused.
    offset = u32(ints_of(r->keys)[site]);
    set_live(words_of(r->flags), site);
    r->size++;
  }
  Cell* entry = entry_at(r, offset);
  entry->w1 = key;
  for (u32 c = 0; c < entry_size / sizeof(Cell); c++) entry[c].header = T_UNSET;
  return entry + 1;
}

Cell* get_int(Node t, u32 key) {
  refresh(t);
  Table* r = record(t);
  u32 b = find_int_bucket(r, key);
  if (b == kNoBucket) return nullptr;
  return entry_at(r, u32(ints_of(r->keys)[b])) + 1;
}

Cell* delete_int(Node t, u32 key) {
  refresh(t);
  Table* r = record(t);
  u32 b = find_int_bucket(r, key);
  if (b == kNoBucket) return nullptr;
  set_deleted(words_of(r->flags), b);
  r->size--;
  Cell* entry = entry_at(r, u32(ints_of(r->keys)[b]));
  entry->header = 0;
  return entry + 1;
}

void rebuild_entries(Node t, u32 count) {
  u32 power = round_up_pow2(count);
  Table* r = record(t);
  u32 entry_size = u32(r->indexes);
  u32 cells_per_entry = entry_size / sizeof(Cell);
  u32 old_size = u32(r->size);
  RootedNode old_block(Node(r->block));  // its entries are read after the new block replaces it
  r->upper = i32(upper_rounded(power));
  r->buckets = i32(std::max<u32>(power, 4));
  r->stamp = 0;
  r->size = 0;
  r->occupied = 0;
  u32 buckets = u32(r->buckets);
  Node flags = alloc_filled(buckets / 4, 0xAA);
  record(t)->flags = i32(flags);
  Node keys = alloc_zeroed(buckets * 4);
  record(t)->keys = i32(keys);
  Node block = mem::alloc_cells(std::max<u32>(old_size, 1) * cells_per_entry);
  record(t)->block = i32(block);
  u32 used = mem::series_of(old_block)->bytes_used();
  for (u32 off = 0; off + entry_size <= used; off += entry_size) {
    const Cell* old = reinterpret_cast<const Cell*>(mem::series_of(old_block)->head_ptr() + off);
    if (old->header != T_UNSET) continue;
    Cell* values = put_int(t, old->w1);
    old = reinterpret_cast<const Cell*>(mem::series_of(old_block)->head_ptr() + off);
    std::memcpy(values, old + 1, entry_size - sizeof(Cell));
  }
  record(t)->stamp = i32(g_node_moves + 1);
}

void reindex_entries(Node t) {
  Table* r = record(t);
  fill(Node(r->flags), 0xAA);
  r->size = 0;
  r->occupied = 0;
  u32 entry_size = u32(r->indexes);
  u32 mask = u32(r->buckets) - 1;
  u32* f = words_of(r->flags);
  i32* keys = ints_of(r->keys);
  mem::Series* b = mem::series_of(Node(r->block));
  u32 used = b->bytes_used();
  for (u32 off = 0; off + entry_size <= used; off += entry_size) {
    const Cell* e = reinterpret_cast<const Cell*>(b->head_ptr() + off);
    if (e->header != T_UNSET) continue;
    u32 i = hash_int(e->w1) & mask, step = 0;
    while (!is_empty(f, i)) i = (i + ++step) & mask;
    keys[i] = i32(off);
    set_live(f, i);
    r->size++;
    r->occupied++;
  }
  r->stamp = i32(g_node_moves + 1);
}

void sweep(Node t) {
  Table* r = record(t);
  u32 entry_size = u32(r->indexes);
  bool ownership = r->kind == kOwnership;
  u32 used = mem::series_of(Node(r->block))->bytes_used();
  auto dead = [](u32 n) { return !mem::node_in_use(n) || !(mem::series_of(n)->flags & mem::kMark); };
  for (u32 off = 0; off + entry_size <= used; off += entry_size) {
    Cell* e = entry_at(record(t), off);
    if (e->header != T_UNSET) continue;
    bool drop = dead(e->w1);
    if (!drop && ownership && entry_size >= 3 * sizeof(Cell) && e[2].w1 != 0) drop = dead(e[2].w1);
    if (!drop) continue;
    delete_int(t, e->w1);
    e = entry_at(record(t), off);
    e->header = 0;
    e->w1 = 0;
  }
}

// ---------------------------------------------------------------------------
// Marking and dumping

void mark_weak(Node t, const MarkFns& fns) {
  fns.series(t);
  const Table* r = record(t);
  if (r->flags) fns.series(Node(r->flags));
  if (r->keys) fns.series(Node(r->keys));
  if (r->block) fns.series(Node(r->block));
}

void mark_live_entries(Node t, const MarkFns& fns) {
  const Table* r = record(t);
  if ((r->kind != kNodeKeyed && r->kind != kOwnership) || !r->block) return;
  u32 entry_size = u32(r->indexes);
  for (u32 off = 0; off + entry_size <= mem::series_of(Node(record(t)->block))->bytes_used(); off += entry_size) {
    const Cell* e = entry_at(record(t), off);
    if (e->header != T_UNSET || !e->w1 || !mem::node_in_use(e->w1)) continue;
    if (!(mem::series_of(e->w1)->flags & mem::kMark)) continue;
    for (u32 i = 1; i < entry_size / sizeof(Cell); i++) {
      // Marking never moves buffers: the entry stays where it is.
      fns.cell(entry_at(record(t), off) + i);
    }
  }
}

void mark(Node t, const MarkFns& fns) {
  Table* r = record(t);
  if (r->kind == kOwnership) return mark_weak(t, fns);
  fns.series(t);
  r = record(t);
  if (r->kind == kHash) {
    if (r->indexes) fns.series(Node(r->indexes));
    if (r->chains) {
      fns.series(Node(r->chains));
      u32 n = word_count(r->chains);
      for (u32 i = 0; i < n; i++) {
        Node chain = words_of(record(t)->chains)[i];
        if (chain) fns.series(chain);
      }
    }
  }
  r = record(t);
  if (r->flags) fns.series(Node(r->flags));
  if (r->keys) fns.series(Node(r->keys));
  if ((r->kind == kNodeKeyed || r->kind == kOwnership) && r->block) {
    u32 entry_size = u32(r->indexes);
    u32 used = mem::series_of(Node(r->block))->bytes_used();
    for (u32 off = 0; off + entry_size <= used; off += entry_size) {
      const Cell* e = entry_at(record(t), off);
      if (e->header != T_UNSET || !e->w1 || !mem::node_in_use(e->w1)) continue;
      Node key = e->w1;
      if (mem::series_of(key)->unit() == sizeof(Cell)) {
        fns.cells(key);
      } else {
        fns.series(key);
      }
    }
  }
  r = record(t);
  if (r->block) fns.cells(Node(r->block));
}

std::string dump_text(Node t) {
  Table* r = record(t);
  std::string out = "\n== Deleted keys ==\n";
  std::string alive = "== Alive keys ==\n";
  const u32* f = words_of(r->flags);
  const i32* keys = ints_of(r->keys);
  u32 count = cell_count(r->block);
  bool entries = r->kind == kNodeKeyed || r->kind == kOwnership;
  char buf[32];
  for (u32 i = 0; i < u32(r->buckets); i++) {
    if (is_empty(f, i)) continue;
    std::string& to = is_live(f, i) ? alive : out;
    if (entries) {
      const Cell* e = entry_at(r, u32(keys[i]));
      std::snprintf(buf, sizeof buf, " %08X", e->w1);
      to += buf;
      for (u32 c = 1; c < u32(r->indexes) / sizeof(Cell); c++) {
        std::snprintf(buf, sizeof buf, " %u", e[c].type());
        to += buf;
      }
    } else {
      i32 p = r->kind == kHash ? first_position(r, i) : keys[i];
      if (p >= 0 && u32(p) < count) {
        const Cell* c = cells_of(r->block) + p;
        std::snprintf(buf, sizeof buf, "%u", c->type());
        to += buf;
        if (r->kind != kHash && u32(p) + 1 < count) {
          std::snprintf(buf, sizeof buf, " %u", c[1].type());
          to += buf;
        }
      } else {
        to += "-";
      }
    }
    to += '\n';
  }
  return out + alive;
}

void dump(Node t) {
  std::string text = dump_text(t);
  std::fwrite(text.data(), 1, text.size(), stdout);
  std::fflush(stdout);
}

// ---------------------------------------------------------------------------
// int-map

void* heap_fill(std::size_t bytes, u8 byte) {
  void* p = runtime::allocate(bytes);
  std::memset(p, byte, bytes);
  return p;
}

namespace {

ZOT_INLINE std::size_t flag_bytes(u32 buckets) { return ((std::size_t(buckets) + 15) / 16) * 4; }

}  // namespace

IntMap* int_map_new(u32 expected) {
  if (expected < 4) expected = 4;
  auto* m = static_cast<IntMap*>(runtime::allocate(sizeof(IntMap)));
  u32 buckets = buckets_for(expected);
  m->size = 0;
  m->occupied = 0;
  m->buckets = i32(buckets);
  m->upper = i32(upper_of(buckets));
  m->flags = static_cast<u32*>(heap_fill(flag_bytes(buckets), 0xAA));
  m->pairs = static_cast<u32*>(runtime::allocate(std::size_t(buckets) * 8));
  return m;
}

i32 int_map_find(const IntMap* m, u32 key) {
  u32 mask = u32(m->buckets) - 1;
  u32 i = hash_int(key) & mask, start = i, step = 0;
  for (;;) {
    if (is_empty(m->flags, i)) return -1;
    if (is_live(m->flags, i) && m->pairs[2 * i] == key) return i32(i);
    i = (i + ++step) & mask;
    if (i == start) return -1;
  }
}

int int_map_put(IntMap* m, u32 key, u32 value) {
  if (m->occupied >= m->upper) {
    int_map_resize(m, m->size * 2 < m->buckets ? u32(m->buckets) - 1 : u32(m->buckets) + 1);
  }
  u32 mask = u32(m->buckets) - 1;
  u32 i = hash_int(key) & mask, start = i, step = 0;
  u32 reuse = kNoBucket, site = kNoBucket;
  bool present = false;
  for (;;) {
    u32 fl = flag_of(m->flags, i);
    if (fl & 2u) {
      site = reuse != kNoBucket ? reuse : i;
      break;
    }
    if (fl & 1u) {
      reuse = i;
    } else if (m->pairs[2 * i] == key) {
      site = i;
      present = true;
      break;
    }
    i = (i + ++step) & mask;
    if (i == start) {
      site = reuse;
      break;
    }
  }
  if (ZOT_UNLIKELY(site == kNoBucket)) runtime::quit(runtime::kFatalAssertion, ZOT_CALLER_ADDRESS());
  m->pairs[2 * site + 1] = value;
  if (present) return 1;
  bool was_empty = is_empty(m->flags, site);
  m->pairs[2 * site] = key;
  set_live(m->flags, site);
  m->size++;
  if (was_empty) m->occupied++;
  return 0;
}

u32* int_map_get(IntMap* m, u32 key) {
  i32 b = int_map_find(m, key);
  return b < 0 ? nullptr : &m->pairs[2 * b + 1];
}

void int_map_delete(IntMap* m, u32 key) {
  i32 b = int_map_find(m, key);
  if (b < 0) return;
  set_deleted(m->flags, u32(b));
  m->size--;
}

int int_map_resize(IntMap* m, u32 count) {
  u32 n = std::max<u32>(round_up_pow2(count), 4);
  u32 new_upper = upper_rounded(n);
  if (u32(m->size) >= new_upper) return 0;
  u32 old = u32(m->buckets);
  u32* nf = static_cast<u32*>(heap_fill(flag_bytes(n), 0xAA));
  if (n > old) m->pairs = static_cast<u32*>(runtime::resize(m->pairs, std::size_t(n) * 8));
  u32* of = m->flags;
  u32 mask = n - 1;
  for (u32 j = 0; j < old; j++) {
    if (!is_live(of, j)) continue;
    u32 key = m->pairs[2 * j];
    u32 value = m->pairs[2 * j + 1];
    set_deleted(of, j);
    for (;;) {
      u32 i = hash_int(key) & mask, step = 0;
      while (!is_empty(nf, i)) i = (i + ++step) & mask;
      set_live(nf, i);
      if (i < old && is_live(of, i)) {
        std::swap(m->pairs[2 * i], key);
        std::swap(m->pairs[2 * i + 1], value);
        set_deleted(of, i);
      } else {
        m->pairs[2 * i] = key;
        m->pairs[2 * i + 1] = value;
        break;
      }
    }
  }
  if (n < old) m->pairs = static_cast<u32*>(runtime::resize(m->pairs, std::size_t(n) * 8));
  runtime::free(of);
  m->flags = nf;
  m->buckets = i32(n);
  m->upper = i32(new_upper);
  m->occupied = m->size;
  return 0;
}

void int_map_clear(IntMap* m) {
  heap_flags_fill(m->flags, u32(m->buckets));
  m->size = 0;
  m->occupied = 0;
}

u32* int_map_next(IntMap* m, u32* prev) {
  u32 i = prev ? u32((prev - m->pairs) / 2) + 1 : 0;
  for (; i < u32(m->buckets); i++) {
    if (is_live(m->flags, i)) return &m->pairs[2 * i];
  }
  return nullptr;
}

void int_map_free(IntMap* m) {
  if (!m) return;
  runtime::free(m->pairs);
  runtime::free(m->flags);
  runtime::free(m);
}

}  // namespace zot::hashtable
