// Shared set-up for unit tests that need the runtime (memory and stacks).
#pragma once

#include <gtest/gtest.h>

#include "runtime/errors.h"
#include "runtime/memory.h"
#include "runtime/stack.h"
#include "runtime/throw.h"

namespace zot::test {

// Starts the runtime and evaluates the library once per test process.
void ensure_runtime();

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
