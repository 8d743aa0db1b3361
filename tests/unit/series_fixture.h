// Helpers for the series, block and simple-type tests: building blocks and
// raw unit series, running frame functions, molding to UTF-8, and rows of
// the action table that a test swaps in and restores.
#pragma once

#include <initializer_list>
#include <string>
#include <vector>

#include "datatypes/block.h"
#include "datatypes/register.h"
#include "datatypes/registry.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "runtime/actions.h"
#include "tests/unit/runtime_fixture.h"

namespace zot::test {

inline void ensure_core_types() {
  static bool done = false;
  ensure_runtime();
  if (done) return;
  done = true;
  datatypes::register_core();
}

inline Cell int_cell(i32 v) {
  Cell c;
  return *set_integer(&c, v);
}

inline Cell char_cell(u32 cp) {
  Cell c;
  return *make_cell(&c, T_CHAR, 0, cp, 0);
}

inline Cell new_line(Cell c) {
  c.header |= kCellNewLine;
  return c;
}

inline Cell block_of(std::initializer_list<Cell> cells, u32 type = T_BLOCK) {
  Cell b;
  set_unset(&b);
  block::make_at(&b, i32(cells.size()));
  for (const Cell& c : cells) block::append_cell(&b, &c);
  set_type(&b, u8(type));
  return b;
}

inline Cell ints(std::initializer_list<i32> values) {
  Cell b;
  set_unset(&b);
  block::make_at(&b, i32(values.size()));
  for (i32 v : values) {
    Cell c = int_cell(v);
    block::append_cell(&b, &c);
  }
  return b;
}

// A series of the given type whose buffer has the unit and holds the values.
inline Cell units(u32 unit, std::initializer_list<u32> values, u32 type = T_STRING) {
  mem::Node n = mem::alloc_units(u32(values.size()), unit);
  mem::Series* s = mem::series_of(n);
  u8* p = s->head_ptr();
  for (u32 v : values) {
    u64 wide = v;
    std::memcpy(p, &wide, unit);  // little-endian: the low bytes
    p += unit;
  }
  s->tail = s->head + u32(values.size()) * unit;
  Cell c;
  return *make_cell(&c, type, 0, n, 0);
}

inline Cell at_index(Cell c, i32 i) {
  c.w1 = u32(i);
  return c;
}

// The units of a raw series from its head, or the integers of a block.
inline std::vector<i64> contents(const Cell& s) {
  std::vector<i64> out;
  mem::Series* b = series::buffer_of(&s);
  u32 n = b->length();
  for (u32 i = 0; i < n; i++) {
    if (b->unit() == 16) {
      const Cell& c = b->cells()[i];
      out.push_back(c.is(T_INTEGER) ? c.int_value() : -1000 - i64(c.type()));
    } else {
      u64 v = 0;
      std::memcpy(&v, b->head_ptr() + i * b->unit(), b->unit() > 8 ? 8 : b->unit());
      out.push_back(i64(v));
    }
  }
  return out;
}

// Runs a frame function on the arguments; returns the result slot.
inline Cell run_frame(actions::FrameFn f, std::initializer_list<Cell> args) {
  ensure_runtime();
  Cell* base = stack::g_base;
  Cell* top = stack::g_top;
  stack::Frame* ctop = stack::g_ctop;
  stack::push_native_frame(nullptr);
  for (const Cell& a : args) stack::push(&a);
  f();
  Cell r = *stack::g_base;
  stack::g_base = base;
  stack::g_top = top;
  stack::g_ctop = ctop;
  return r;
}

// A mold-like slot call into a new string; the text as UTF-8.
inline std::string mold_text(const Cell& v, bool only = false, bool all = false, bool flat = false,
                             i32 limit = -1) {
  Cell out;
  set_unset(&out);
  string::make_at(&out, 16);
  Cell lim = int_cell(limit);
  auto f = actions::lookup<actions::kMold>(v.type());
  f(&v, &out, {.limit = limit >= 0 ? &lim : nullptr, .only = only, .all = all, .flat = flat},
    limit >= 0 ? limit : 0x7FFFFFFF);
  return string::to_utf8(&out);
}

inline std::string form_text(const Cell& v, i32 limit = -1) {
  Cell out;
  set_unset(&out);
  string::make_at(&out, 16);
  Cell lim = int_cell(limit);
  auto f = actions::lookup<actions::kForm>(v.type());
  f(&v, &out, limit >= 0 ? &lim : nullptr, limit >= 0 ? limit : 0x7FFFFFFF);
  return string::to_utf8(&out);
}

// Swaps in action-table entries for the life of the object.
class SlotPatch {
 public:
  SlotPatch() = default;
  SlotPatch(const SlotPatch&) = delete;
  SlotPatch& operator=(const SlotPatch&) = delete;
  // The slot's entry for the type, typed as the slot's functions are.
  template <int S>
  void set(u32 type, actions::SlotFn<S> f) {
    saved_.push_back({type, S, actions::g_table[type][S - 1]});
    actions::g_table[type][S - 1] = actions::erase<S>(f);
  }
  ~SlotPatch() {
    for (auto it = saved_.rbegin(); it != saved_.rend(); ++it) actions::g_table[it->type][it->slot - 1] = it->f;
  }

 private:
  struct Saved {
    u32 type;
    int slot;
    actions::AnyFn f;
  };
  std::vector<Saved> saved_;
};

// Minimal integer! and string! text and comparison for block tests, so they
// do not depend on those datatypes' own slot functions.
inline i32 test_int_form(const Cell* v, Cell* out, const Cell*, i32 part) {
  std::string s = std::to_string(v->int_value());
  string::append_c_text(out, s.c_str());
  return part - i32(s.size());
}
inline i32 test_int_mold(const Cell* v, Cell* out, const actions::MoldOptions& o, i32 part) {
  return test_int_form(v, out, o.limit, part);
}
inline i32 test_int_compare(const Cell* a, const Cell* b, i32 op) {
  if (!b->is(T_INTEGER)) return actions::kNotComparable;
  (void)op;
  return a->int_value() < b->int_value() ? -1 : a->int_value() > b->int_value() ? 1 : 0;
}

class ValueTypes {
 public:
  ValueTypes() {
    ensure_core_types();
    patch_.set<actions::kForm>(T_INTEGER, &test_int_form);
    patch_.set<actions::kMold>(T_INTEGER, &test_int_mold);
    patch_.set<actions::kCompare>(T_INTEGER, &test_int_compare);
    patch_.set<actions::kForm>(T_STRING, &string::form);
    patch_.set<actions::kMold>(T_STRING, &string::mold);
    patch_.set<actions::kCopy>(T_STRING, &series::copy);
  }

 private:
  SlotPatch patch_;
};

}  // namespace zot::test
