// What the fuzz targets share: the runtime started once, and a language
// error caught and the stacks put back where they stood.
#pragma once

#include "boot/startup.h"
#include "runtime/stack.h"
#include "runtime/throw.h"

namespace fuzz {

// The stacks as they stand after start-up.
struct Bottom {
  zot::Cell* base;
  zot::Cell* top;
  zot::stack::Frame* ctop;
};

inline Bottom set_up() {
  zot::startup::runtime_init();
  return {zot::stack::g_base, zot::stack::g_top, zot::stack::g_ctop};
}

// Runs fn under a try frame; answers false when it raised a language error.
template <class F>
bool attempt(const Bottom& bottom, F&& fn) {
  bool ok = true;
  zot::stack::push_try_frame(nullptr);
  try {
    fn();
  } catch (const zot::RuntimeThrow& t) {
    if (t.code != zot::kThrowError) throw;
    zot::runtime::g_thrown_code = 0;
    ok = false;
  }
  zot::stack::g_base = bottom.base;
  zot::stack::g_top = bottom.top;
  zot::stack::g_ctop = bottom.ctop;
  return ok;
}

}  // namespace fuzz
