// The memory native: `recycle`.
#include "interpreter/natives.h"
#include "runtime/collector.h"
#include "runtime/memory.h"
#include "runtime/stack.h"

namespace zot::natives {

namespace {

// A byte count as the language shows it: integer! up to 2147483647, float! above.
void set_count(Cell* c, u64 n) {
  if (n <= 0x7FFFFFFFu) set_integer(c, i32(n));
  else set_float(c, double(n));
}

// recycle: a full collection and the memory then in use; /on and /off switch
// the collections that allocation runs (/on wins) and answer unset.
void n_recycle(const i32* refs) {
  Cell* b = stack::g_base;
  bool on = refs[0] >= 0, off = refs[1] >= 0;
  if (on || off) {
    collector::g_enabled = on;
    set_unset(b);
  } else {
    collector::collect();
    set_count(b, mem::bytes_in_use());
  }
  stack::g_top = b + 1;
}

}  // namespace

void register_memory() { define_native(105, "recycle [/on /off]", n_recycle); }

}  // namespace zot::natives
