// Helpers for the tests of the one-cell datatypes (time!, percent!, triple!,
// pair!, tuple!, handle!, point2D!, point3D!): value makers, slot calls on
// the frame, text of values and path access.
#pragma once

#include <initializer_list>
#include <string>

#include "datatypes/handle.h"
#include "datatypes/pair.h"
#include "datatypes/percent.h"
#include "datatypes/point.h"
#include "datatypes/scalar.h"
#include "datatypes/time.h"
#include "datatypes/triple.h"
#include "datatypes/tuple.h"
#include "datatypes/words.h"
#include "runtime/services.h"
#include "runtime/symbol.h"
#include "tests/unit/series_fixture.h"

namespace zot::test {

inline void ensure_scalar_types() {
  static bool done = false;
  ensure_runtime();
  if (done) return;
  done = true;
  triple::register_type();
  pair::register_type();
  percent::register_type();
  tuple::register_type();
  time::register_type();
  handle::register_type();
  point2d::register_type();
  point3d::register_type();
}

// ---- values
inline Cell I(i32 v) { return int_cell(v); }
inline Cell F(double d) {
  Cell c;
  return *set_float(&c, d);
}
inline Cell Tm(double seconds) {
  Cell c = F(0.0);
  return *time::make_at(&c, seconds);
}
inline Cell Pct(double fraction) {
  Cell c;
  return *percent::make_float_at(&c, fraction);
}
inline Cell P(i32 x, i32 y) {
  Cell c;
  return *make_cell(&c, T_PAIR, 0, u32(x), u32(y));
}
inline Cell P2(float x, float y) {
  Cell c;
  return *point2d::set(&c, x, y);
}
inline Cell P3(float x, float y, float z) {
  Cell c;
  return *point3d::set(&c, x, y, z);
}
inline Cell Tup(std::initializer_list<int> bytes) {
  u8 b[tuple::kMaxBytes] = {};
  int n = 0;
  for (int v : bytes) b[n++] = u8(v);
  Cell c;
  return *tuple::make_at(&c, b, n);
}
inline Cell Str(const char* text) {
  Cell c;
  set_unset(&c);
  return *string::make_from_utf8(&c, text, std::strlen(text));
}
inline Cell Word(const char* text, TypeId type = T_WORD) {
  Cell c;
  return *make_cell(&c, type, 0, symbol::make(text), 0);
}
inline Cell Dt(u32 type) { return datatype_cell(type); }
inline Cell Logic(bool v) {
  Cell c;
  return *set_logic(&c, v);
}

// ---- calls
// The text of a value through its registered form / mold slot.
inline std::string form_of(const Cell& v) { return form_text(v); }
inline std::string mold_of(const Cell& v, bool all = false) { return mold_text(v, false, all); }

// Runs a frame slot (math) on two operands; returns the result cell.
inline Cell math(actions::FrameFn f, const Cell& a, const Cell& b) { return run_frame(f, {a, b}); }

// A make/to slot's answer, copied.
inline Cell made(actions::MakeFn f, const Cell& spec, u32 type) {
  Cell s = spec;
  return *f(nullptr, &s, int(type));
}

// Path read (value null) or write through an eval-path slot on a copy of the
// value; the copy (changed by a write) comes back through `holder`.
inline Cell path_get(actions::EvalPathFn f, const Cell& value, const Cell& element) {
  Cell* top = stack::g_top;
  Cell v = value, e = element;
  Cell r = *f(&v, &e, nullptr, {});
  stack::g_top = top;
  return r;
}
inline Cell path_set(actions::EvalPathFn f, const Cell& value, const Cell& element, const Cell& new_value) {
  Cell v = value, e = element, n = new_value;
  f(&v, &e, &n, {});
  return v;
}

inline Cell pick_of(actions::PickFn f, const Cell& value, const Cell& index) {
  Cell* top = stack::g_top;
  Cell v = value, i = index;
  Cell r = *f(&v, i.is(T_INTEGER) ? i.int_value() : 0, &i);
  stack::g_top = top;
  return r;
}

// Replaces the scan service for the life of the object: every text scans to
// a block holding the one given value.
class ScanStub {
 public:
  explicit ScanStub(const Cell& result) : saved_(g_services.scan_text) {
    g_result = result;
    g_services.scan_text = [](const Cell*, Cell* out) {
      block::make_at(out, 1);
      block::append_cell(out, &g_result);
    };
  }
  ~ScanStub() { g_services.scan_text = saved_; }
  ScanStub(const ScanStub&) = delete;
  ScanStub& operator=(const ScanStub&) = delete;

 private:
  static inline Cell g_result;
  void (*saved_)(const Cell*, Cell*);
};

inline int code(Err e) { return error_code(e); }

}  // namespace zot::test
