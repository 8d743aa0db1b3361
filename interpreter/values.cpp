// Value natives: comparison, logic negation and type?.
#include "datatypes/registry.h"
#include "datatypes/simple.h"
#include "interpreter/natives.h"
#include "runtime/actions.h"
#include "runtime/stack.h"

namespace zot::natives {

void define_native(u32 index, const char* text, EntryFn fn);

namespace {

ZOT_INLINE Cell* base() { return stack::g_base; }

template <i32 Op>
void n_compare(const i32*) {
  bool r = actions::compare(base(), base() + 1, Op);
  set_logic(base(), r);
  stack::g_top = base() + 1;
}

void n_not(const i32*) {
  Cell* b = base();
  bool f = b->is(T_NONE) || (b->is(T_LOGIC) && !b->w1);
  set_logic(b, f);
  stack::g_top = b + 1;
}

void n_type_q(const i32* refs) {
  Cell* b = base();
  u32 t = b->type();
  if (refs[0] >= 0) {
    // /word: the type's name word
    *b = datatype::g_types[t].name_word;
  } else {
    make_cell(b, T_DATATYPE, t, 0, 0);
  }
  stack::g_top = b + 1;
}

}  // namespace

void register_values() {
  define_native(25, "equal? [value1 [any-type!] value2 [any-type!]]", n_compare<actions::kEqual>);
  define_native(26, "not-equal? [value1 [any-type!] value2 [any-type!]]", n_compare<actions::kNotEqual>);
  define_native(27, "strict-equal? [value1 [any-type!] value2 [any-type!]]", n_compare<actions::kStrictEqual>);
  define_native(28, "lesser? [value1 [any-type!] value2 [any-type!]]", n_compare<actions::kLesser>);
  define_native(29, "greater? [value1 [any-type!] value2 [any-type!]]", n_compare<actions::kGreater>);
  define_native(30, "lesser-or-equal? [value1 [any-type!] value2 [any-type!]]",
                n_compare<actions::kLesserOrEqual>);
  define_native(31, "greater-or-equal? [value1 [any-type!] value2 [any-type!]]",
                n_compare<actions::kGreaterOrEqual>);
  define_native(32, "same? [value1 [any-type!] value2 [any-type!]]", n_compare<actions::kSame>);
  define_native(33, "not [value [any-type!]]", n_not);
  define_native(34, "type? [value [any-type!] /word]", n_type_q);
}

}  // namespace zot::natives
