#include "runtime/hashtable.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

#include "runtime/actions.h"
#include "runtime/services.h"
#include "runtime/symbol.h"
#include "runtime/unicode.h"
#include "tests/unit/runtime_fixture.h"

namespace {

using namespace zot;
using hashtable::Node;

// Equality for the types these tests use, for as long as their datatypes have
// not registered a compare slot: numbers by value (strict needs one type),
// words by canonical symbol (strict: same type and spelling), others by payload.
i32 payload_compare(const Cell* a, const Cell* b, i32 op) {
  auto numeric = [](const Cell* c) { return c->is(T_INTEGER) || c->is(T_FLOAT); };
  auto wordish = [](const Cell* c) { return c->type() >= T_WORD && c->type() <= T_ISSUE; };
  if (numeric(a) && numeric(b)) {
    if (op == actions::kStrictEqual && a->type() != b->type()) return 1;
    double x = a->is(T_INTEGER) ? a->int_value() : a->float_value();
    double y = b->is(T_INTEGER) ? b->int_value() : b->float_value();
    return x < y ? -1 : x > y ? 1 : 0;
  }
  if (wordish(a) && wordish(b)) {
    if (op == actions::kStrictEqual) return a->type() == b->type() && a->w2 == b->w2 ? 0 : 1;
    return symbol::resolve(a->w2) == symbol::resolve(b->w2) ? 0 : 1;
  }
  if (a->type() != b->type()) return actions::kNotComparable;
  return a->w1 == b->w1 && a->w2 == b->w2 && a->w3 == b->w3 ? 0 : 1;
}

class HashTable : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    test::ensure_runtime();
    symbol::init();
    for (u32 t : {T_INTEGER, T_FLOAT, T_CHAR, T_NONE, T_WORD, T_SET_WORD, T_LIT_WORD, T_GET_WORD, T_REFINEMENT,
                  T_ISSUE}) {
      auto& slot = actions::g_table[t][actions::kCompare - 1];
      if (!slot) slot = actions::erase<actions::kCompare>(&payload_compare);
    }
  }
};

Cell* at(Node block, u32 p) { return mem::series_of(block)->cells() + p; }
u32 length(Node block) { return mem::series_of(block)->bytes_used() / sizeof(Cell); }
Cell int_cell(i32 v) {
  Cell c;
  set_integer(&c, v);
  return c;
}
Cell* append(Node block, const Cell& c) {
  Cell* slot = mem::alloc_tail_cell(block);
  *slot = c;
  return slot;
}
Cell block_of(Node block) {
  Cell c;
  make_cell(&c, T_BLOCK, 0, block, 0);
  return c;
}
i32 pos(Node t, const Cell* c) {
  return c ? i32(c - at(Node(hashtable::record(t)->block), 0)) : -1;
}
Node table_over(Node block, int kind) {
  Cell src = block_of(block);
  return hashtable::init(4, &src, kind, 0);
}

// ---------------------------------------------------------------------------
// Sizing

TEST_F(HashTable, SizingFollowsLoadFactor) {
  struct Case {
    u32 asked;
    int kind;
    i32 buckets;
    i32 upper;
  };
  const Case cases[] = {
      {0, hashtable::kHash, 8, 6},         {3, hashtable::kMap, 8, 6},
      {4, hashtable::kHash, 8, 6},         {8, hashtable::kHash, 16, 12},
      {8, hashtable::kNodeKeyed, 16, 12},  {1000, hashtable::kMap, 2048, 1576},
      {1000, hashtable::kHash, 2048, 1576}, {3999, hashtable::kSymbols, 8192, 6307},
      {4000, hashtable::kSymbols, 16384, 12615},
  };
  for (const Case& c : cases) {
    Node t = hashtable::init(c.asked, nullptr, c.kind, 1);
    const hashtable::Table* r = hashtable::record(t);
    EXPECT_EQ(r->buckets, c.buckets) << "asked " << c.asked << " kind " << c.kind;
    EXPECT_EQ(r->upper, c.upper) << "asked " << c.asked << " kind " << c.kind;
    EXPECT_EQ(r->size, 0);
    EXPECT_EQ(r->kind, c.kind);
  }
  Node keyed = hashtable::init(8, nullptr, hashtable::kOwnership, 3);
  EXPECT_EQ(hashtable::record(keyed)->indexes, 64);  // four cells per entry
  EXPECT_NE(hashtable::record(keyed)->stamp, 0);

  hashtable::IntMap* m = hashtable::int_map_new(20000);
  EXPECT_EQ(m->buckets, 32768);
  EXPECT_EQ(m->upper, 25231);
  hashtable::int_map_free(m);

  const std::pair<u32, u32> pow2[] = {{1, 1}, {2, 2}, {3, 4}, {5, 8}, {1024, 1024}, {1025, 2048}, {10389, 16384}};
  for (auto [n, p] : pow2) EXPECT_EQ(hashtable::round_up_pow2(n), p) << n;
}

// ---------------------------------------------------------------------------
// Hashing

TEST_F(HashTable, MurmurMatchesReferenceVectors) {
  struct Case {
    std::string text;
    u32 seed;
    u32 hash;
  };
  const Case cases[] = {
      {"", 0, 0},
      {"", 1, 0x514E28B7u},
      {"", 0xFFFFFFFFu, 0x81F16F39u},
      {std::string("\0\0\0\0", 4), 0, 0x2362F9DEu},
      {"a", 0x9747B28Cu, 0x7FA09EA6u},
      {"aa", 0x9747B28Cu, 0x5D211726u},
      {"aaa", 0x9747B28Cu, 0x283E0130u},
      {"aaaa", 0x9747B28Cu, 0x5A97808Au},
      {"abcd", 0x9747B28Cu, 0xF0478627u},
      {"Hello, world!", 0x9747B28Cu, 0x24884CBAu},
      {"The quick brown fox jumps over the lazy dog", 0x9747B28Cu, 0x2FA826CDu},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(hashtable::murmur3_32(c.text.data(), u32(c.text.size()), c.seed), c.hash) << c.text;
  }
}

TEST_F(HashTable, LoweredMurmurLowersOnlyAsciiLetters) {
  const std::pair<std::string, std::string> cases[] = {
      {"A", "a"},
      {"Ab", "ab"},
      {"ABC", "abc"},
      {"HeLLo World_[@]`{", "hello world_[@]`{"},
      {"\xC3\x89t\xC3\xA9", "\xC3\x89t\xC3\xA9"},  // non-ASCII bytes stay
      {"MIXED-case-NAME?", "mixed-case-name?"},
  };
  for (const auto& [text, lowered] : cases) {
    EXPECT_EQ(hashtable::murmur_hash_lower(reinterpret_cast<const u8*>(text.data()), u32(text.size())),
              hashtable::murmur_hash(lowered.data(), u32(lowered.size())))
        << text;
  }
  EXPECT_NE(hashtable::murmur_hash_lower(reinterpret_cast<const u8*>("\xC3\x89"), 2),
            hashtable::murmur_hash_lower(reinterpret_cast<const u8*>("\xC3\xA9"), 2));
}

// Text laid out in the given unit.
std::vector<u8> encode(const std::u32string& text, u32 unit) {
  std::vector<u8> out;
  for (char32_t cp : text) {
    for (u32 b = 0; b < unit; b++) out.push_back(u8(u32(cp) >> (8 * b)));
  }
  return out;
}

TEST_F(HashTable, TextHashIsFoldedUtf32InEveryUnit) {
  struct Case {
    std::u32string text;
    std::u32string upper;
    u32 narrowest;
  };
  const Case cases[] = {
      {U"", U"", 1},
      {U"Hello", U"HELLO", 1},
      {U"caf\u00E9", U"CAF\u00C9", 1},
      {U"\u03C9mega", U"\u03A9MEGA", 2},
      {U"x\U0001F600y", U"X\U0001F600Y", 4},
  };
  for (const Case& c : cases) {
    std::vector<u8> utf32 = encode(c.upper, 4);
    u32 folded = hashtable::murmur_hash(utf32.data(), u32(utf32.size()));
    for (u32 unit : {1u, 2u, 4u}) {
      if (unit < c.narrowest) continue;
      std::vector<u8> lower = encode(c.text, unit);
      std::vector<u8> upper = encode(c.upper, unit);
      u32 n = u32(c.text.size());
      EXPECT_EQ(hashtable::hash_text(lower.data(), unit, n, false), folded) << "unit " << unit;
      EXPECT_EQ(hashtable::hash_text(upper.data(), unit, n, false), folded) << "unit " << unit;
      std::vector<u8> exact = encode(c.text, 4);
      EXPECT_EQ(hashtable::hash_text(lower.data(), unit, n, true),
                hashtable::murmur_hash(exact.data(), u32(exact.size())));
    }
  }
}

TEST_F(HashTable, ValueHashFollowsTheTypeTable) {
  using hashtable::hash_int;
  using hashtable::hash_value;
  using hashtable::murmur_hash;
  auto cell = [](u32 header, u32 w1, u32 w2, u32 w3) {
    Cell c;
    make_cell(&c, header, w1, w2, w3);
    return c;
  };
  struct Case {
    Cell c;
    u32 expected;
  };
  const u32 p[3] = {0x11111111u, 0x22222222u, 0x33333333u};
  std::vector<Case> cases = {
      {cell(T_INTEGER, 9, 42, 9), hash_int(42)},
      {cell(T_CHAR, 0, 'x', 0), hash_int('x')},
      {cell(T_FLOAT, 9, p[1], p[2]), murmur_hash(&p[1], 8)},
      {cell(T_PAIR, 9, p[1], p[2]), murmur_hash(&p[1], 8)},
      {cell(T_POINT2D, p[0], p[1], 9), murmur_hash(&p[0], 8)},
      {cell(T_POINT3D, p[0], p[1], p[2]), murmur_hash(&p[0], 12)},
      {cell(T_DATE, p[0], p[1], p[2]), murmur_hash(&p[0], 12)},
      {cell(T_NONE, 1, 2, 3), 0xFFFFFFFFu},
      {cell(T_UNSET, 1, 2, 3), 0xFFFFFFFEu},
      {cell(T_TUPLE | (3u << 19), p[0], p[1], p[2]), murmur_hash(&p[0], 3)},
      {cell(T_OBJECT, 7, 8, 9), hash_int(7)},
      {cell(T_LOGIC, 1, 0, 0), hash_int(1)},
      {cell(T_NATIVE, 7, 8, 9), hash_int(9)},
      {cell(T_MAP, 7, 8, 9), hash_int(8)},
      {cell(T_BLOCK, p[0], p[1], 9), murmur_hash(&p[0], 8)},
      {cell(T_HASH, p[0], p[1], 5), murmur_hash(&p[0], 8)},
      {cell(T_BITSET, 1, 2, 3), 0},
  };
  for (const Case& c : cases) EXPECT_EQ(hash_value(&c.c, false), c.expected) << "type " << u32(c.c.type());

  // money!: only the sign bit of the header counts.
  Cell m1 = cell(T_MONEY | 0x4000u | 0x00100000u, p[0], p[1], p[2]);
  Cell m2 = cell(T_MONEY | 0x4000u, p[0], p[1], p[2]);
  Cell m3 = cell(T_MONEY, p[0], p[1], p[2]);
  EXPECT_EQ(hash_value(&m1, false), hash_value(&m2, false));
  EXPECT_NE(hash_value(&m2, false), hash_value(&m3, false));

  // Words hash their canonical symbol, whatever the word type.
  u32 lower = symbol::make("hash-word");
  u32 upper = symbol::make("HASH-Word");
  Cell w1 = cell(T_WORD, 0, lower, 0);
  Cell w2 = cell(T_SET_WORD, 3, upper, 7);
  EXPECT_EQ(hash_value(&w1, false), hash_int(lower));
  EXPECT_EQ(hash_value(&w2, false), hash_int(lower));
  EXPECT_EQ(hash_value(symbol::get(upper), false),
            hashtable::murmur_hash("hash-word", 9));

  // binary!: the bytes from the index.
  Node bytes = mem::alloc_bytes(8);
  std::memcpy(mem::alloc_tail_bytes(bytes, 5), "abcde", 5);
  Cell bin = cell(T_BINARY, 2, bytes, 0);
  EXPECT_EQ(hash_value(&bin, false), murmur_hash("cde", 3));
  Cell past = cell(T_BINARY, 9, bytes, 0);
  EXPECT_EQ(hash_value(&past, false), murmur_hash("", 0));

  // string!: code points from the index, case-folded unless asked not to.
  Node text = mem::alloc_units(8, 2);
  std::vector<u8> units = encode(U"xxAb\u00E9", 2);
  std::memcpy(mem::alloc_tail_bytes(text, u32(units.size())), units.data(), units.size());
  Cell str = cell(T_STRING, 2, text, 0);
  std::vector<u8> folded = encode(U"AB\u00C9", 1);
  EXPECT_EQ(hash_value(&str, false), hashtable::hash_text(folded.data(), 1, 3, false));
  EXPECT_NE(hash_value(&str, true), hash_value(&str, false));
}

TEST_F(HashTable, AddressKeyedTypes) {
  std::set<u32> keyed = {T_BLOCK, T_PAREN, T_NATIVE, T_ACTION, T_OP,    T_FUNCTION, T_PATH, T_LIT_PATH, T_SET_PATH,
                         T_GET_PATH, T_OBJECT, T_ERROR, T_HASH, T_MAP, T_PORT, T_IMAGE, T_EVENT};
  for (u32 t = 1; t <= u32(kTypeCount); t++) {
    Cell c;
    make_cell(&c, t, 0, 0, 0);
    EXPECT_EQ(hashtable::address_keyed(&c), keyed.count(t) == 1) << "type " << t;
  }
}

// ---------------------------------------------------------------------------
// hash! (kind 0)

// Expected find_key answer over a block whose live positions are known.
i32 expected_find(Node block, const std::vector<bool>& live, i32 v, i32 start, i32 skip, bool last,
                  bool reverse) {
  if (reverse) last = true;
  i32 best = -1;
  for (u32 p = 0; p < live.size(); p++) {
    if (!live[p] || at(block, p)->int_value() != v) continue;
    i32 ip = i32(p);
    i64 d;
    if (reverse) {
      if (ip >= start) continue;
      d = i64(start) - 1 - ip;
    } else if (last) {
      if (ip < start) continue;
      d = i64(start) - 1 - ip;
    } else {
      if (ip < start) continue;
      d = i64(ip) - start;
    }
    if (((d % skip) + skip) % skip != 0) continue;
    if (best < 0 || (last ? ip > best : ip < best)) best = ip;
  }
  return best;
}

TEST_F(HashTable, HashBlockMatchesMultisetModel) {
  std::mt19937 rng(1234);
  Node block = mem::alloc_cells(4);
  Node t = table_over(block, hashtable::kHash);
  std::vector<bool> live;
  std::multiset<i32> values;
  bool nones = false;
  for (int step = 0; step < 20000; step++) {
    u32 op = rng() % 10;
    if (op < 5 || live.empty()) {
      i32 v = i32(rng() % 300);
      Cell* c = append(block, int_cell(v));
      EXPECT_EQ(hashtable::put_key(t, c), at(block, length(block) - 1));
      live.push_back(true);
      values.insert(v);
    } else if (op < 7) {
      u32 p = rng() % live.size();
      if (!live[p]) continue;
      // As a hash! change does: the old key leaves the index, the new value
      // (none here) enters it, so that a rebuild over the block agrees.
      values.erase(values.find(at(block, p)->int_value()));
      hashtable::delete_key(t, at(block, p));
      set_none(at(block, p));
      hashtable::put_key(t, at(block, p));
      live[p] = false;
      nones = true;
    } else {
      i32 v = i32(rng() % 300);
      i32 start = i32(rng() % (live.size() + 1));
      i32 skip = i32(1 + rng() % 3);
      bool last = rng() % 3 == 0, reverse = rng() % 4 == 0;
      Cell key = int_cell(v);
      Cell* got = hashtable::find_key(t, &key, start, skip, actions::kEqual, last, reverse);
      ASSERT_EQ(pos(t, got), expected_find(block, live, v, start, skip, last, reverse))
          << "step " << step << " v " << v << " start " << start << " skip " << skip << " last " << last
          << " reverse " << reverse << " got value " << (got ? got->int_value() : -1)
          << " live " << (got ? int(live[pos(t, got)]) : -1);
    }
  }
  std::set<i32> distinct(values.begin(), values.end());
  EXPECT_EQ(hashtable::record(t)->size, i32(distinct.size()) + (nones ? 1 : 0));
  EXPECT_GT(hashtable::record(t)->buckets, 8);
  // Deleting every position empties the table.
  for (u32 p = 0; p < live.size(); p++) hashtable::delete_key(t, at(block, p));
  EXPECT_EQ(hashtable::record(t)->size, 0);
  Cell key = int_cell(1);
  EXPECT_EQ(hashtable::find_key(t, &key, 0, 1, actions::kEqual, false, false), nullptr);
}

TEST_F(HashTable, HashBlockChainsEqualValuesOfOneTypeOnly) {
  Node block = mem::alloc_cells(4);
  append(block, int_cell(1));
  Cell f;
  set_float(&f, 1.0);
  append(block, f);
  append(block, int_cell(1));
  Node t = table_over(block, hashtable::kHash);
  EXPECT_EQ(hashtable::record(t)->size, 2);  // one chain for the integers, one bucket for the float
  Cell one = int_cell(1);
  EXPECT_EQ(pos(t, hashtable::find_key(t, &one, 0, 1, actions::kEqual, false, false)), 0);
  EXPECT_EQ(pos(t, hashtable::find_key(t, &one, 1, 1, actions::kEqual, false, false)), 2);
  EXPECT_EQ(pos(t, hashtable::find_key(t, &one, 0, 1, actions::kEqual, true, false)), 2);
  EXPECT_EQ(pos(t, hashtable::find_key(t, &f, 0, 1, actions::kStrictEqual, false, false)), 1);
  hashtable::delete_key(t, at(block, 0));
  EXPECT_EQ(pos(t, hashtable::find_key(t, &one, 0, 1, actions::kEqual, false, false)), 2);
  EXPECT_EQ(hashtable::record(t)->size, 2);
  hashtable::delete_key(t, at(block, 2));
  EXPECT_EQ(hashtable::find_key(t, &one, 0, 1, actions::kEqual, false, false), nullptr);
  EXPECT_EQ(hashtable::record(t)->size, 1);
  hashtable::delete_key(t, at(block, 2));  // again: nothing left to remove
  EXPECT_EQ(hashtable::record(t)->size, 1);
}

// All positions of v found by walking find_key forward.
std::vector<i32> found_positions(Node t, i32 v) {
  std::vector<i32> out;
  Cell key = int_cell(v);
  i32 start = 0;
  while (Cell* c = hashtable::find_key(t, &key, start, 1, actions::kEqual, false, false)) {
    out.push_back(pos(t, c));
    start = out.back() + 1;
  }
  return out;
}

void expect_indexes_block(Node t, Node block, i32 values, const char* what) {
  std::set<i32> distinct;
  for (i32 v = 0; v < values; v++) {
    std::vector<i32> expected;
    for (u32 p = 0; p < length(block); p++) {
      if (at(block, p)->int_value() == v) expected.push_back(i32(p));
    }
    if (!expected.empty()) distinct.insert(v);
    ASSERT_EQ(found_positions(t, v), expected) << what << ", value " << v;
  }
  EXPECT_EQ(hashtable::record(t)->size, i32(distinct.size())) << what;
}

TEST_F(HashTable, HashBlockEditsRenumberPositions) {
  std::mt19937 rng(99);
  const i32 kValues = 15;
  Node block = mem::alloc_cells(8);
  for (int i = 0; i < 60; i++) append(block, int_cell(i32(rng() % kValues)));
  Node t = table_over(block, hashtable::kHash);
  expect_indexes_block(t, block, kValues, "initial");
  for (int step = 0; step < 300; step++) {
    u32 len = length(block);
    u32 op = rng() % 3;
    if (op == 0 || len < 10) {
      // insert k cells at p
      u32 p = rng() % (len + 1), k = 1 + rng() % 4;
      for (u32 i = 0; i < k; i++) mem::alloc_tail_cell(block);
      Cell* base = at(block, 0);
      std::memmove(base + p + k, base + p, (len - p) * sizeof(Cell));
      for (u32 i = 0; i < k; i++) base[p + i] = int_cell(i32(rng() % kValues));
      hashtable::shift_indexes(t, i32(k), p, len - p, true);
      // A put that rebuilds the table has indexed the rest too.
      for (u32 i = 0; i < k; i++) {
        int status = 0;
        hashtable::put_key_status(t, at(block, p + i), &status);
        if (status == 2) break;
      }
    } else if (op == 1) {
      // remove k cells at p
      u32 p = rng() % len, k = std::min<u32>(1 + rng() % 4, len - p);
      hashtable::shift_indexes(t, -i32(k), p + k, len - p - k, true);
      Cell* base = at(block, 0);
      std::memmove(base + p, base + p + k, (len - p - k) * sizeof(Cell));
      mem::series_of(block)->tail -= k * sizeof(Cell);
    } else {
      // move count cells from start to target
      u32 count = 1 + rng() % 5;
      if (count >= len) continue;
      u32 start = rng() % (len - count + 1);
      u32 target = rng() % len;
      if (target >= start && target < start + count) continue;
      hashtable::move_indexes(t, target, start, count);
      Cell* base = at(block, 0);
      if (start < target) {
        std::rotate(base + start, base + start + count, base + target + 1);
      } else {
        std::rotate(base + target, base + start, base + start + count);
      }
    }
    expect_indexes_block(t, block, kValues, ("step " + std::to_string(step)).c_str());
    if (HasFatalFailure()) return;
  }
}

TEST_F(HashTable, HashBlockRemoveRangeRehashAndCopy) {
  Node block = mem::alloc_cells(8);
  for (i32 i = 0; i < 40; i++) append(block, int_cell(i % 7));
  Node t = table_over(block, hashtable::kHash);
  expect_indexes_block(t, block, 7, "built");

  // A copy over a copied block shares nothing with the original.
  Node block2 = mem::copy_series(mem::series_of(block));
  Node t2 = hashtable::copy(t, block2);
  hashtable::remove_range(t2, 0, 10);
  expect_indexes_block(t, block, 7, "original after copy edit");
  EXPECT_EQ(found_positions(t2, 3), (std::vector<i32>{10, 17, 24, 31, 38}));

  // rehash gives the same answers as incremental indexing.
  hashtable::rehash(t, length(block));
  expect_indexes_block(t, block, 7, "rehashed");

  hashtable::remove_range(t, 5, 1000);  // clipped to the tail
  EXPECT_EQ(found_positions(t, 3), (std::vector<i32>{3}));
  hashtable::remove_range(t, 0, length(block));  // everything: the table resets
  EXPECT_EQ(hashtable::record(t)->size, 0);
  EXPECT_EQ(hashtable::record(t)->occupied, 0);
  EXPECT_TRUE(found_positions(t, 0).empty());

  hashtable::clear(t2);
  EXPECT_EQ(length(block2), 0u);
  EXPECT_EQ(hashtable::record(t2)->size, 0);
  Cell* c = append(block2, int_cell(3));
  hashtable::put_key(t2, c);
  EXPECT_EQ(found_positions(t2, 3), (std::vector<i32>{0}));
}

// ---------------------------------------------------------------------------
// map! (kind 1)

Cell* map_find(Node t, i32 k) {
  Cell key = int_cell(k);
  return hashtable::find_key(t, &key, 0, 1, actions::kStrictEqual, false, false);
}

TEST_F(HashTable, MapMatchesUnorderedMapModel) {
  std::mt19937 rng(7);
  Node block = mem::alloc_cells(4);
  Node t = table_over(block, hashtable::kMap);
  std::unordered_map<i32, i32> model;
  for (int step = 0; step < 20000; step++) {
    i32 k = i32(rng() % 1500);
    u32 op = rng() % 10;
    Cell* found = map_find(t, k);
    if (op < 5) {
      i32 v = i32(rng());
      if (found) {
        // As the map datatype does: a void value comes back to life.
        if (found[1].header == 0) hashtable::record(t)->size++;
        set_integer(found + 1, v);
      } else {
        append(block, int_cell(k));
        append(block, int_cell(v));
        hashtable::put_key(t, at(block, length(block) - 2));
      }
      model[k] = v;
    } else if (op < 7) {
      if (found) hashtable::delete_key(t, found);
      model.erase(k);
    } else {
      auto it = model.find(k);
      bool present = found && found[1].header != 0;
      ASSERT_EQ(present, it != model.end()) << "step " << step << " key " << k;
      if (present) {
        ASSERT_EQ(found[1].int_value(), it->second);
      }
    }
  }
  EXPECT_EQ(hashtable::record(t)->size, i32(model.size()));
  EXPECT_GT(hashtable::record(t)->buckets, 1024);
  for (auto [k, v] : model) {
    Cell* found = map_find(t, k);
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(found[1].int_value(), v);
  }
}

// The one-probe path of the map datatype: map_probe answers what find_key
// answers, and a key placed where it said is found by both, through growth.
TEST_F(HashTable, MapProbeAndPlaceMatchFindKey) {
  std::mt19937 rng(11);
  Node block = mem::alloc_cells(4);
  Node t = table_over(block, hashtable::kMap);
  const u32 words[] = {symbol::make("probe-a"), symbol::make("probe-b"), symbol::make("PROBE-A")};
  // Integers, floats of the same numbers (another key) and words.
  auto key_of = [&](u32 n) {
    Cell k;
    if (n % 3 == 0) {
      set_integer(&k, i32(n / 3) - 200);
    } else if (n % 3 == 1) {
      make_cell(&k, T_FLOAT, 0, 0, 0);
      k.set_float(double(i32(n / 3) - 200));
    } else {
      make_cell(&k, T_WORD, 0, words[(n / 3) % 3], 0);
    }
    return k;
  };
  std::map<u32, i32> placed;  // key number -> block position
  for (int step = 0; step < 6000; step++) {
    const u32 n = rng() % 1800;
    Cell key = key_of(n);
    for (i32 op : {actions::kEqual, actions::kStrictEqual}) {
      const hashtable::MapSlot slot = hashtable::map_probe(t, &key, op);
      const i32 expected = pos(t, hashtable::find_key(t, &key, 0, 1, op, false, false));
      ASSERT_EQ(slot.position, expected) << "step " << step << " key " << n;
    }
    const hashtable::MapSlot slot = hashtable::map_probe(t, &key, actions::kStrictEqual);
    if (slot.position >= 0) continue;
    if (key.is(T_WORD)) set_type(&key, T_SET_WORD);
    const u32 at_pos = length(block);
    append(block, key);
    append(block, int_cell(step));
    hashtable::map_place(t, slot.site, at_pos);
    placed[n] = i32(at_pos);
  }
  // Word keys differ only in case once: the strict probe keeps both spellings.
  EXPECT_EQ(hashtable::record(t)->size, i32(length(block) / 2));
  EXPECT_GT(hashtable::record(t)->buckets, 1024);
  for (auto [n, p] : placed) {
    Cell key = key_of(n);
    EXPECT_EQ(hashtable::map_probe(t, &key, actions::kStrictEqual).position, p) << "key " << n;
  }
}

TEST_F(HashTable, MapDeleteLeavesVoidPairAndLiveBucket) {
  Node block = mem::alloc_cells(8);
  for (i32 k : {1, 2, 3}) {
    append(block, int_cell(k));
    append(block, int_cell(k * 10));
  }
  Node t = table_over(block, hashtable::kMap);
  ASSERT_EQ(hashtable::record(t)->size, 3);
  i32 occupied = hashtable::record(t)->occupied;
  Cell* two = map_find(t, 2);
  hashtable::delete_key(t, two);
  EXPECT_EQ(hashtable::record(t)->size, 2);
  EXPECT_EQ(hashtable::record(t)->occupied, occupied);
  EXPECT_EQ(length(block), 6u);
  two = map_find(t, 2);
  ASSERT_NE(two, nullptr);  // the key still answers, with a void value
  EXPECT_EQ(two[1].header, 0u);
  hashtable::delete_key(t, two);  // removing it again changes nothing
  EXPECT_EQ(hashtable::record(t)->size, 2);
}

i32 g_key_hook_calls = 0;
void count_key(Cell*) { g_key_hook_calls++; }

TEST_F(HashTable, MapIndexingDropsRepeatedKeys) {
  Node block = mem::alloc_cells(8);
  for (auto [k, v] : std::vector<std::pair<i32, i32>>{{1, 10}, {2, 20}, {1, 30}, {3, 40}, {2, 50}}) {
    append(block, int_cell(k));
    append(block, int_cell(v));
  }
  g_key_hook_calls = 0;
  auto saved = g_services.map_key;
  g_services.map_key = &count_key;
  Node t = table_over(block, hashtable::kMap);
  g_services.map_key = saved;
  EXPECT_EQ(g_key_hook_calls, 3);
  ASSERT_EQ(length(block), 6u);
  const i32 expected[] = {1, 30, 2, 50, 3, 40};
  for (u32 i = 0; i < 6; i++) EXPECT_EQ(at(block, i)->int_value(), expected[i]) << i;
  EXPECT_EQ(hashtable::record(t)->size, 3);
}

TEST_F(HashTable, MapWordKeysAreSetWordsAndFindNextVisitsCaseVariants) {
  u32 lower = symbol::make("map-key");
  u32 upper = symbol::make("MAP-KEY");
  u32 other = symbol::make("other-key");
  Node block = mem::alloc_cells(8);
  Cell k;
  make_cell(&k, T_SET_WORD, 0, lower, 0);
  append(block, k);
  append(block, int_cell(1));
  make_cell(&k, T_SET_WORD, 0, upper, 0);
  append(block, k);
  append(block, int_cell(2));
  make_cell(&k, T_SET_WORD, 0, other, 0);
  append(block, k);
  append(block, int_cell(3));
  Node t = table_over(block, hashtable::kMap);
  EXPECT_EQ(hashtable::record(t)->size, 3);  // strict equality keeps both spellings

  for (u32 type : {T_WORD, T_LIT_WORD, T_GET_WORD, T_SET_WORD}) {
    Cell key;
    make_cell(&key, type, 0, upper, 0);
    Cell* found = hashtable::find_key(t, &key, 0, 1, actions::kStrictEqual, false, false);
    ASSERT_NE(found, nullptr) << "type " << type;
    EXPECT_EQ(found[1].int_value(), 2);
    EXPECT_EQ(key.type(), type);  // the caller's key is left alone
  }

  Cell key;
  make_cell(&key, T_SET_WORD, 0, symbol::make("Map-Key"), 0);
  std::set<i32> seen;
  i32 bucket = -1, first = 0, step = 0;
  while (Cell* c = hashtable::find_next(t, &key, &bucket, &first, &step)) seen.insert(c[1].int_value());
  EXPECT_EQ(seen, (std::set<i32>{1, 2}));
  EXPECT_EQ(hashtable::find_next(t, &key, &bucket, &first, &step), nullptr);
}

// ---------------------------------------------------------------------------
// Symbol and word tables (kind 2)

TEST_F(HashTable, SymbolTableGrowsSixteenfold) {
  Node block = mem::alloc_cells(4);
  Cell src = block_of(block);
  Node t = hashtable::init(4, &src, hashtable::kSymbols, 1);
  ASSERT_EQ(hashtable::record(t)->buckets, 8);
  std::vector<std::string> names;
  for (char c = '0'; c < '7'; c++) names.push_back(std::string("n") + c);
  for (u32 i = 0; i < names.size(); i++) {
    auto* text = reinterpret_cast<const u8*>(names[i].data());
    EXPECT_EQ(hashtable::intern_symbol(t, text, u32(names[i].size()), false), i + 1);
  }
  EXPECT_EQ(hashtable::record(t)->buckets, 256);  // 16 x 9, rounded up
  for (u32 i = 0; i < names.size(); i++) {
    auto* text = reinterpret_cast<const u8*>(names[i].data());
    EXPECT_EQ(hashtable::intern_symbol(t, text, u32(names[i].size()), false), i + 1);
  }
  EXPECT_EQ(length(block), 7u);
}

TEST_F(HashTable, WordTableMatchesModel) {
  const Node kContext = 0x4321;
  Node t = hashtable::init(4, nullptr, hashtable::kSymbols, 1);
  std::unordered_map<u32, i32> exact;    // symbol -> index
  std::map<u32, std::set<i32>> family;  // canonical -> indexes
  std::mt19937 rng(5);
  std::vector<u32> symbols;
  for (int i = 0; i < 400; i++) {
    std::string name = "wt-" + std::to_string(i % 250);
    if (i >= 250) name[0] = 'W';
    symbols.push_back(symbol::make(name.c_str()));
  }
  for (int step = 0; step < 3000; step++) {
    u32 s = symbols[rng() % symbols.size()];
    bool add = rng() % 2 == 0;
    i32 out = -7;
    i32 r = hashtable::find_word_index(t, s, false, add ? kContext : 0, &out);
    auto it = exact.find(s);
    if (it != exact.end()) {
      ASSERT_EQ(r, it->second);
      if (add) {
        ASSERT_EQ(out, it->second);
      }
    } else if (add) {
      ASSERT_EQ(r, -1);
      i32 index = i32(exact.size());
      ASSERT_EQ(out, index);
      Node words = Node(hashtable::record(t)->block);
      const Cell* w = at(words, u32(index));
      EXPECT_TRUE(w->is(T_WORD));
      EXPECT_EQ(w->w1, kContext);
      EXPECT_EQ(w->w2, s);
      EXPECT_EQ(w->w3, u32(index));
      exact[s] = index;
      family[symbol::resolve(s)].insert(index);
    } else {
      ASSERT_EQ(r, -1);
    }
    // By alias: any word of the case family answers.
    i32 a = hashtable::find_word_index(t, s, true, 0, nullptr);
    auto fam = family.find(symbol::resolve(s));
    if (fam == family.end()) {
      ASSERT_EQ(a, -1);
    } else {
      ASSERT_EQ(fam->second.count(a), 1u);
    }
  }
  EXPECT_EQ(hashtable::record(t)->size, i32(exact.size()));
  EXPECT_GT(hashtable::record(t)->buckets, 8);
}

TEST_F(HashTable, WordTableCopyFromContextSharesNoSeries) {
  const Node kContext = 0x777;
  Node t = hashtable::init(4, nullptr, hashtable::kSymbols, 1);
  std::vector<u32> syms;
  for (const char* name : {"copy-a", "copy-b", "copy-c"}) {
    syms.push_back(symbol::make(name));
    hashtable::find_word_index(t, syms.back(), false, kContext, nullptr);
  }
  Cell context;
  make_cell(&context, T_CONTEXT, t, 0, 0);
  Node c = hashtable::init(3, &context, hashtable::kSymbols, 2);
  const hashtable::Table* a = hashtable::record(t);
  const hashtable::Table* b = hashtable::record(c);
  EXPECT_NE(a->block, b->block);
  EXPECT_NE(a->keys, b->keys);
  EXPECT_NE(a->flags, b->flags);
  EXPECT_EQ(b->size, 3);
  for (u32 i = 0; i < syms.size(); i++) EXPECT_EQ(hashtable::find_word_index(c, syms[i], false, 0, nullptr), i32(i));
  // Adding to the copy leaves the original alone.
  u32 extra = symbol::make("copy-d");
  EXPECT_EQ(hashtable::find_word_index(c, extra, false, kContext, nullptr), -1);
  EXPECT_EQ(hashtable::find_word_index(c, extra, false, 0, nullptr), 3);
  EXPECT_EQ(hashtable::find_word_index(t, extra, false, 0, nullptr), -1);
  EXPECT_EQ(length(Node(hashtable::record(t)->block)), 3u);
}

// ---------------------------------------------------------------------------
// Node-keyed tables (kinds 3 and 4)

TEST_F(HashTable, NodeKeyedMatchesModel) {
  std::mt19937 rng(11);
  Node t = hashtable::init(4, nullptr, hashtable::kNodeKeyed, 1);
  std::unordered_map<u32, i32> model;
  for (int step = 0; step < 20000; step++) {
    u32 key = 1 + rng() % 700;
    u32 op = rng() % 10;
    if (op < 5) {
      i32 v = i32(rng());
      Cell* c = hashtable::put_int(t, key);
      EXPECT_TRUE(c->is(T_UNSET));
      EXPECT_TRUE(c[-1].is(T_UNSET));
      EXPECT_EQ(c[-1].w1, key);
      set_integer(c, v);
      model[key] = v;
    } else if (op < 7) {
      Cell* c = hashtable::delete_int(t, key);
      ASSERT_EQ(c != nullptr, model.count(key) == 1);
      if (c) {
        EXPECT_EQ(c[-1].header, 0u);
      }
      model.erase(key);
    } else {
      Cell* c = hashtable::get_int(t, key);
      auto it = model.find(key);
      ASSERT_EQ(c != nullptr, it != model.end()) << "step " << step;
      if (c) {
        ASSERT_EQ(c->int_value(), it->second);
      }
    }
  }
  EXPECT_EQ(hashtable::record(t)->size, i32(model.size()));
  EXPECT_GT(hashtable::record(t)->buckets, 8);
}

TEST_F(HashTable, NodeKeyedEntriesAreReusedAndCompacted) {
  Node t = hashtable::init(4, nullptr, hashtable::kNodeKeyed, 2);
  const hashtable::Table* r = hashtable::record(t);
  u32 mask = u32(r->buckets) - 1;
  Cell* a = hashtable::put_int(t, 100);
  set_integer(a, 5);
  set_integer(a + 1, 6);
  // Putting a key again gives the same entry, headers reset, payload kept.
  Cell* again = hashtable::put_int(t, 100);
  EXPECT_EQ(again, a);
  EXPECT_TRUE(again[0].is(T_UNSET));
  EXPECT_TRUE(again[1].is(T_UNSET));
  EXPECT_EQ(again[0].w2, 5u);
  // A key starting its walk at the deleted key's bucket takes over its storage.
  u32 other = 1001;
  while ((hashtable::hash_int(other) & mask) != (hashtable::hash_int(100) & mask)) other++;
  u32 used = mem::series_of(Node(hashtable::record(t)->block))->bytes_used();
  hashtable::delete_int(t, 100);
  EXPECT_EQ(hashtable::get_int(t, 100), nullptr);
  Cell* b = hashtable::put_int(t, other);
  EXPECT_EQ(b, a);
  EXPECT_EQ(mem::series_of(Node(hashtable::record(t)->block))->bytes_used(), used);
  EXPECT_EQ(hashtable::delete_int(t, 100), nullptr);  // absent: nothing

  // Growth rebuilds into a compacted block: deleted entries do not survive.
  for (u32 k = 1; k <= 40; k++) set_integer(hashtable::put_int(t, k), i32(k));
  for (u32 k = 1; k <= 40; k += 2) hashtable::delete_int(t, k);
  bool rebuilt = false;
  for (u32 k = 41; k <= 200; k++) {
    i32 buckets = hashtable::record(t)->buckets;
    set_integer(hashtable::put_int(t, k), i32(k));
    r = hashtable::record(t);
    if (!rebuilt && r->buckets != buckets) {
      rebuilt = true;
      EXPECT_EQ(mem::series_of(Node(r->block))->bytes_used(), u32(r->size) * 48u) << "key " << k;
    }
  }
  EXPECT_TRUE(rebuilt);
  for (u32 k = 1; k <= 200; k++) {
    Cell* c = hashtable::get_int(t, k);
    bool present = k > 40 || k % 2 == 0;
    ASSERT_EQ(c != nullptr, present) << k;
    if (c) {
      EXPECT_EQ(c->int_value(), i32(k));
    }
  }
  EXPECT_EQ(hashtable::get_int(t, other)->w2, 5u);
}

TEST_F(HashTable, NodeKeyedTableReplacesKeysAfterNodesMove) {
  Node t = hashtable::init(16, nullptr, hashtable::kNodeKeyed, 1);
  for (u32 k = 1; k <= 12; k++) set_integer(hashtable::put_int(t, k * 7), i32(k));
  hashtable::delete_int(t, 14);
  u32 used = mem::series_of(Node(hashtable::record(t)->block))->bytes_used();
  // Scramble the buckets the way stale hashes would look, then let the table notice.
  hashtable::fill(Node(hashtable::record(t)->flags), 0xAA);
  hashtable::g_node_moves++;
  ASSERT_NE(hashtable::get_int(t, 7), nullptr);
  EXPECT_EQ(hashtable::record(t)->stamp, i32(hashtable::g_node_moves + 1));
  EXPECT_EQ(hashtable::record(t)->size, 11);
  EXPECT_EQ(mem::series_of(Node(hashtable::record(t)->block))->bytes_used(), used);  // entries stay put
  for (u32 k = 1; k <= 12; k++) {
    Cell* c = hashtable::get_int(t, k * 7);
    ASSERT_EQ(c != nullptr, k != 2) << k;
    if (c) {
      EXPECT_EQ(c->int_value(), i32(k));
    }
  }
}

TEST_F(HashTable, SweepDropsEntriesOfUnmarkedSeries) {
  for (int kind : {hashtable::kNodeKeyed, hashtable::kOwnership}) {
    Node t = hashtable::init(8, nullptr, kind, 3);
    std::vector<Node> nodes;
    for (int i = 0; i < 6; i++) nodes.push_back(mem::alloc_bytes(16));
    Node owner_alive = mem::alloc_bytes(16), owner_dead = mem::alloc_bytes(16);
    mem::series_of(owner_alive)->flags |= mem::kMark;
    for (int i = 0; i < 6; i++) {
      if (i % 2 == 0) mem::series_of(nodes[i])->flags |= mem::kMark;
      Cell* v = hashtable::put_int(t, nodes[i]);
      v[1].w1 = i == 4 ? owner_dead : owner_alive;
    }
    hashtable::g_collecting = true;
    hashtable::sweep(t);
    hashtable::g_collecting = false;
    for (int i = 0; i < 6; i++) {
      bool kept = i % 2 == 0 && !(kind == hashtable::kOwnership && i == 4);
      EXPECT_EQ(hashtable::get_int(t, nodes[i]) != nullptr, kept) << "kind " << kind << " entry " << i;
      mem::series_of(nodes[i])->flags &= ~mem::kMark;
    }
    mem::series_of(owner_alive)->flags &= ~mem::kMark;
    EXPECT_EQ(hashtable::record(t)->size, kind == hashtable::kOwnership ? 2 : 3);
  }
}

TEST_F(HashTable, MarkVisitsEverySeriesOfTheTable) {
  static std::set<Node> marked, deep;
  marked.clear();
  deep.clear();
  hashtable::MarkFns fns{[](Node n) { marked.insert(n); }, [](Node n) { deep.insert(n); }, nullptr};

  Node block = mem::alloc_cells(4);
  for (i32 v : {1, 1, 2}) append(block, int_cell(v));
  Node t = table_over(block, hashtable::kHash);
  hashtable::mark(t, fns);
  const hashtable::Table* r = hashtable::record(t);
  Node chain = *reinterpret_cast<u32*>(mem::series_of(Node(r->chains))->head_ptr());
  EXPECT_EQ(marked, (std::set<Node>{t, Node(r->indexes), Node(r->chains), chain, Node(r->flags), Node(r->keys)}));
  EXPECT_EQ(deep, (std::set<Node>{block}));

  marked.clear();
  deep.clear();
  Node keyed = hashtable::init(4, nullptr, hashtable::kNodeKeyed, 1);
  Node cells_key = mem::alloc_cells(2), bytes_key = mem::alloc_bytes(4);
  hashtable::put_int(keyed, cells_key);
  hashtable::put_int(keyed, bytes_key);
  hashtable::mark(keyed, fns);
  r = hashtable::record(keyed);
  EXPECT_EQ(marked, (std::set<Node>{keyed, Node(r->flags), Node(r->keys), bytes_key}));
  EXPECT_EQ(deep, (std::set<Node>{cells_key, Node(r->block)}));
}

TEST_F(HashTable, DumpListsDeletedThenAliveBuckets) {
  Node t = hashtable::init(4, nullptr, hashtable::kNodeKeyed, 1);
  hashtable::put_int(t, 0x1234);
  hashtable::put_int(t, 0xABCDEF01u);
  hashtable::delete_int(t, 0xABCDEF01u);
  EXPECT_EQ(hashtable::dump_text(t), "\n== Deleted keys ==\n ABCDEF01 2\n== Alive keys ==\n 00001234 2\n");

  Node block = mem::alloc_cells(4);
  append(block, int_cell(5));
  Cell f;
  set_float(&f, 2.5);
  append(block, f);
  Node m = table_over(block, hashtable::kMap);
  EXPECT_EQ(hashtable::dump_text(m), "\n== Deleted keys ==\n== Alive keys ==\n11 12\n");
}

// ---------------------------------------------------------------------------
// int-map

TEST_F(HashTable, IntMapMatchesModel) {
  std::mt19937 rng(3);
  hashtable::IntMap* m = hashtable::int_map_new(4);
  std::unordered_map<u32, u32> model;
  for (int step = 0; step < 30000; step++) {
    u32 key = rng() % 2000;
    u32 op = rng() % 10;
    if (op < 5) {
      u32 v = rng();
      EXPECT_EQ(hashtable::int_map_put(m, key, v), model.count(key) ? 1 : 0);
      model[key] = v;
    } else if (op < 7) {
      hashtable::int_map_delete(m, key);
      model.erase(key);
    } else {
      u32* v = hashtable::int_map_get(m, key);
      auto it = model.find(key);
      ASSERT_EQ(v != nullptr, it != model.end()) << "step " << step;
      if (v) {
        ASSERT_EQ(*v, it->second);
      }
    }
  }
  EXPECT_EQ(hashtable::int_map_count(m), i32(model.size()));
  std::unordered_map<u32, u32> walked;
  for (u32* p = hashtable::int_map_next(m, nullptr); p; p = hashtable::int_map_next(m, p)) walked[p[0]] = p[1];
  EXPECT_EQ(walked, model);

  // Shrinking keeps every key; a count too small to hold them changes nothing.
  for (u32 k = 0; k < 10; k++) {
    hashtable::int_map_put(m, k, k);
    model[k] = k;
  }
  for (u32 k = 0; k < 2000; k++) {
    if (k >= 10) {
      hashtable::int_map_delete(m, k);
      model.erase(k);
    }
  }
  i32 before = m->buckets;
  EXPECT_EQ(hashtable::int_map_resize(m, 4), 0);
  EXPECT_EQ(m->buckets, before);
  hashtable::int_map_resize(m, 32);
  EXPECT_EQ(m->buckets, 32);
  for (auto [k, v] : model) {
    ASSERT_NE(hashtable::int_map_get(m, k), nullptr);
    EXPECT_EQ(*hashtable::int_map_get(m, k), v);
  }
  hashtable::int_map_clear(m);
  EXPECT_EQ(hashtable::int_map_count(m), 0);
  EXPECT_EQ(hashtable::int_map_next(m, nullptr), nullptr);
  EXPECT_EQ(hashtable::int_map_find(m, 3), -1);
  hashtable::int_map_free(m);
  hashtable::int_map_free(nullptr);
}

}  // namespace
