#include "runtime/throw.h"

#include <new>

#include "runtime/fatal.h"

namespace zot::runtime {

u32 g_thrown_code = 0;
u32 g_pending = 0;

void raise_pending() {
  if (u32 code = take_pending()) throw_code(code);
}

void throw_code(u32 code) {
  g_thrown_code = code;
  throw RuntimeThrow{code};
}

void run_top_level(TopLevelFn fn, void* arg) {
  try {
    fn(arg);
  } catch (const RuntimeThrow& t) {
    if (t.code == kThrowQuit) quit(0, 0);
    quit(kFatalNoCatch, 0);
  } catch (const std::bad_alloc&) {
    // C++ containers that ran out of memory.
    quit(kFatalOutOfMemory, 0);
  }
}

}  // namespace zot::runtime
