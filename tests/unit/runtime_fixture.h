// Shared set-up for unit tests that need the runtime (memory and stacks).
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "runtime/actions.h"
#include "runtime/collector.h"
#include "runtime/errors.h"
#include "runtime/memory.h"
#include "runtime/stack.h"
#include "runtime/throw.h"

namespace zot::test {

// Starts the runtime and evaluates the library once per test process. The collector
// stays off: tests hold values in C++ locals of their own.
void ensure_runtime();

// round's refinements for a mode named as its refinement ("" for the default,
// "even", "down", "half-down", "floor", "ceiling", "half-ceiling").
inline actions::RoundOptions round_options(Cell* scale, const std::string& mode) {
  actions::RoundOptions o;
  o.scale = scale;
  o.even = mode == "even", o.down = mode == "down", o.half_down = mode == "half-down";
  o.floor = mode == "floor", o.ceiling = mode == "ceiling", o.half_ceiling = mode == "half-ceiling";
  return o;
}

// Lets the allocator collect for a scope (in the stress build: at every
// allocation), for code whose values are all held by the runtime's roots.
class CollectingOn {
 public:
  CollectingOn() : saved_(collector::g_enabled) { collector::g_enabled = true; }
  ~CollectingOn() { collector::g_enabled = saved_; }
  CollectingOn(const CollectingOn&) = delete;
  CollectingOn& operator=(const CollectingOn&) = delete;

 private:
  bool saved_;
};

// Runs fn under a try frame; returns the code of the language error it raised
// (-1 when it raised none). The stacks are back where they were afterwards.
template <class F>
int error_code_of(F&& fn) {
  ensure_runtime();
  Cell* base = stack::g_base;
  Cell* top = stack::g_top;
  stack::Frame* ctop = stack::g_ctop;
  stack::push_try_frame(nullptr);
  int code = -1;
  try {
    fn();
    runtime::raise_pending();  // an exit that found no landing here is a throw
  } catch (const RuntimeThrow& t) {
    if (t.code != kThrowError) throw;
    runtime::g_thrown_code = 0;
    code = error_cell_code(stack::top_value());
  }
  stack::g_base = base;
  stack::g_top = top;
  stack::g_ctop = ctop;
  return code;
}

}  // namespace zot::test
