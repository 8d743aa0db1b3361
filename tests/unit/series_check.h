// Checks that a value is sound after code that may have broken it: every
// series within its buffer, every cell a value of a known type, every text
// unit a code point, every hash! cell found through its table.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "datatypes/block.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "runtime/actions.h"
#include "runtime/hashtable.h"
#include "tests/unit/series_fixture.h"

namespace zot::test {

// Every cell of the hash! is found through its table at its own position,
// searching forwards from it and backwards from the next one; a value absent
// from the block is not found.
inline ::testing::AssertionResult indexed(const Cell& h) {
  if (!h.is(T_HASH)) return ::testing::AssertionFailure() << "not a hash!";
  if (!h.w3) return ::testing::AssertionFailure() << "no table";
  mem::Node t = mem::Node(h.w3);
  if (hashtable::record(t)->block != i32(h.w2)) return ::testing::AssertionFailure() << "table of another block";
  i32 n = series::total_length(&h);
  for (i32 p = 0; p < n; p++) {
    Cell key = *block::cell_at(&h, p);
    Cell* f = hashtable::find_key(t, &key, p, 1, actions::kEqual, false, false);
    i64 at = f ? f - series::buffer_of(&h)->cells() : -1;
    if (at != p) return ::testing::AssertionFailure() << "position " << p << " found at " << at;
    Cell* r = hashtable::find_key(t, &key, p + 1, 1, actions::kEqual, false, true);
    at = r ? r - series::buffer_of(&h)->cells() : -1;
    if (at != p) return ::testing::AssertionFailure() << "position " << p << " found backwards at " << at;
  }
  Cell absent;
  set_integer(&absent, 987654);
  if (hashtable::find_key(t, &absent, 0, 1, actions::kEqual, false, false))
    return ::testing::AssertionFailure() << "absent value found";
  return ::testing::AssertionSuccess();
}

// The value and everything in it (to the given depth) is sound; an empty
// text when it is, else what is wrong.
inline std::string unsound(const Cell& v, int depth = 4) {
  u32 t = v.type();
  if (t == 0 || t > u32(kTypeCount)) return "cell of type id " + std::to_string(t);
  bool any_series = is_any_series(t) || t == T_MAP || t == T_BITSET;
  if (!any_series) return "";
  const mem::Series* b = mem::series_of(v.w2);
  if (!b) return "series without a buffer";
  u32 unit = b->unit();
  if (b->head > b->tail || b->tail > b->size) return "tail outside its buffer";
  if ((b->tail - b->head) % unit) return "length not a whole number of units";
  if (is_any_series(t) && i32(v.w1) < 0) return "negative index";
  if (is_any_block(t) || t == T_MAP) {
    if (unit != sizeof(Cell)) return "block of unit " + std::to_string(unit);
    if (depth == 0) return "";
    for (u32 i = 0; i < b->length(); i++) {
      const Cell& c = b->cells()[i];
      if (t == T_MAP && c.header == 0) continue;  // a removed pair's value
      std::string inner = unsound(c, depth - 1);
      if (!inner.empty()) return "cell " + std::to_string(i) + ": " + inner;
    }
    if (t == T_HASH && v.w3) {
      auto r = indexed(v);
      if (!r) return std::string("hash! table: ") + r.message();
    }
  } else if (is_any_string(t)) {
    if (unit != 1 && unit != 2 && unit != 4) return "text of unit " + std::to_string(unit);
    for (u32 i = 0; i < b->length(); i++) {
      u32 cp = string::get_char(b->head_ptr() + i * unit, unit);
      if (cp > 0x10FFFF) return "unit " + std::to_string(i) + " is no code point";
    }
  } else if (t == T_BINARY) {
    if (unit != 1) return "binary of unit " + std::to_string(unit);
  } else if (t == T_VECTOR) {
    if (unit != 1 && unit != 2 && unit != 4 && unit != 8) return "vector of unit " + std::to_string(unit);
  }
  return "";
}

}  // namespace zot::test
