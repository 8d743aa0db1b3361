// The set natives: unique, union, intersect, exclude and difference, over
// blocks (and hash!), strings, bitsets, typesets, and dates for difference.
#include "datatypes/bitset.h"
#include "datatypes/block_search.h"
#include "datatypes/date.h"
#include "datatypes/string_actions.h"
#include "datatypes/typeset.h"
#include "interpreter/natives.h"
#include "runtime/stack.h"
#include "interpreter/support.h"
#include "runtime/errors.h"

namespace zot::natives {

namespace {

enum SetOp : int { kUnique = 8, kUnion = 9, kIntersect = 10, kExclude = 11, kDifference = 12 };

ZOT_INLINE bool block_or_hash(u32 t) { return t == T_BLOCK || t == T_HASH; }


// refs: /case, /skip size.
template <int Op>
void n_set_op(const i32* refs) {
  Cell* a = stack::g_base;
  Cell* b = Op == kUnique ? nullptr : a + 1;
  u32 ta = a->type();
  if (b) {
    u32 tb = b->type();
    bool agree = block_or_hash(ta) ? block_or_hash(tb) : ta == tb;
    if (!agree) {
      // What was expected is the first argument's kind.
      Cell got = datatype_cell(b->type());
      raise_with_type(Err::ScriptExpectVal, a->type(), &got);
    }
  }
  bool case_ = refs[0] >= 0;
  const Cell* skip = refs[1] >= 0 ? stack::g_base + refs[1] : nullptr;
  switch (ta) {
    case T_BLOCK: case T_HASH:
      block::set_operation(case_, skip, Op);
      break;
    case T_STRING:
      string::set_operation(case_, skip, Op);
      break;
    case T_BITSET:
      bitset::do_bitwise(Op);
      break;
    case T_TYPESET:
      if (Op != kUnique) typeset::do_set_op(Op);
      break;
    case T_DATE:
      if (Op != kDifference) expect_arg(a, "set1");
      date::difference(a, b);
      break;
    default:
      expect_arg(a, Op == kUnique ? "set" : "set1");
  }
  stack::g_top = stack::g_base + 1;
}

}  // namespace

void register_set_natives() {
  define_native(41, "union [set1 [any-type!] set2 [any-type!] /case /skip size [integer!]]", n_set_op<kUnion>);
  define_native(42, "intersect [set1 [any-type!] set2 [any-type!] /case /skip size [integer!]]",
                n_set_op<kIntersect>);
  define_native(43, "unique [set [any-type!] /case /skip size [integer!]]", n_set_op<kUnique>);
  define_native(44, "difference [set1 [any-type!] set2 [any-type!] /case /skip size [integer!]]",
                n_set_op<kDifference>);
  define_native(45, "exclude [set1 [any-type!] set2 [any-type!] /case /skip size [integer!]]", n_set_op<kExclude>);
}

}  // namespace zot::natives
