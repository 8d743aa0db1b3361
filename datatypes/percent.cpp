#include "datatypes/percent.h"

#include "datatypes/float.h"
#include "datatypes/registry.h"
#include "datatypes/string.h"
#include "runtime/actions.h"
#include "runtime/memory.h"

namespace zot::percent {

Cell* make_at(Cell* c, u32 high, u32 low) { return make_cell(c, T_PERCENT, 0, low, high); }

Cell* make_in(const Cell* block, u32 high, u32 low) { return make_at(mem::alloc_tail_cell(block->series_node()), high, low); }

Cell* make_float_at(Cell* c, double fraction) {
  set_float(c, fraction);
  return set_type(c, T_PERCENT);
}

Cell* push(double fraction) { return make_float_at(stack::reserve_slot(), fraction); }

Cell* set_result(double fraction) { return make_float_at(stack::g_base, fraction); }

i32 form(const Cell* value, Cell* out, const Cell*, i32 part) {
  int len;
  const char* text = float_::form_float(value->float_value() * 100.0, float_::kFormPercent, &len);
  string::append_c_text_n(out, text, std::size_t(len));
  return part - len;
}

i32 mold(const Cell* value, Cell* out, const actions::MoldOptions& o, i32 part) {
  return form(value, out, o.limit, part);
}

void register_type() {
  using namespace actions;
  actions::SlotTable slots;
  for (int s : {kMake, kRandom, kTo, kCompare, kAbsolute, kAdd, kDivide, kMultiply, kNegate, kPower, kRemainder,
                kRound, kSubtract, kEven, kOdd})
    slots.inherit(s);
  slots.set<kForm>(&form);
  slots.set<kMold>(&mold);
  datatype::register_type(T_PERCENT, T_FLOAT, "percent!", slots);
}

}  // namespace zot::percent
