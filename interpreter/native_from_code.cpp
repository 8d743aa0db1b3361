// A native! or action! called by its word from untraced code: the call
// call_from_code makes, its plain parameters and their types read from the
// call shape. One whose spec starts otherwise takes call_from_code's road.
#include "interpreter/call_path.h"

namespace zot::interp::callpath {

u32 call_native_from_code(const Cell& fn_in, const Cell* code, u32 pos, u32 end, const Cell* name_in) {
  const Cell fn = fn_in;
  const Cell* const name = name_in && name_in->is(T_WORD) ? name_in : anon_word();
  Cell* const t0 = stack::g_top;
  const Shape* sh = open_lean_call(fn, name, stack::kHdrInterpStep, &Shape::leading);
  if (ZOT_UNLIKELY(!sh)) return call_general(fn, code, pos, end, name_in, nullptr, 0, false, false);
  CodeView cv = view_of(code->series_node());
  if (!push_plain_arguments(fn, sh, code, cv, pos, end, name)) return pos;
  // Every refinement absent (-1).
  i32 refs[kMaxRefinements];
  if (sh->refinements) std::memset(refs, 0xFF, sizeof refs);
  Cell* const a = stack::g_base;
  const u32 target = fn.callable_target();
  if (stack::g_top - a == 2 && a[0].is(T_INTEGER) && a[1].is(T_INTEGER) &&
      integer_fast(fn.type(), target, a[0].int_value(), a[1].int_value(), a)) {
    stack::g_top = a + 1;
  } else if (fn.is(T_NATIVE)) {
    natives::g_table[target](refs);
  } else {
    natives::g_action_entries[target](refs);
  }
  // An exit from inside the native has already unwound the stacks past us.
  if (ZOT_UNLIKELY(runtime::pending())) return pos;
  return finish_call(code, pos, name, t0);
}

}  // namespace zot::interp::callpath
