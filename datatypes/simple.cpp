#include "datatypes/simple.h"

#include "datatypes/block.h"
#include "datatypes/registry.h"
#include "datatypes/string.h"
#include "runtime/actions.h"
#include "runtime/errors.h"
#include "runtime/fatal.h"
#include "runtime/helpers.h"
#include "runtime/services.h"
#include "runtime/stack.h"

namespace zot {

namespace {

// Cells that slot functions hand back for the entry to copy.
Cell g_answer;

i32 put_text(Cell* out, const char* text, i32 part) {
  string::append_c_text(out, text);
  return part - i32(std::strlen(text));
}

bool is_equality_op(i32 op) {
  switch (op) {
    case actions::kEqual: case actions::kNotEqual: case actions::kStrictEqual:
    case actions::kSame: case actions::kFindEqual:
      return true;
    default:
      return false;
  }
}

bool is_sort_op(i32 op) { return op == actions::kSortOrder || op == actions::kCaseSortOrder; }

Cell* append_to(const Cell* block, const Cell* value) { return block::append_cell(block, value); }

}  // namespace

// ---- datatype!

namespace datatype {

Cell* push(u32 type) {
  Cell c;
  set_datatype(&c, type);
  return stack::push(&c);
}

Cell* make_in(const Cell* block, u32 type) {
  Cell c;
  set_datatype(&c, type);
  return append_to(block, &c);
}

i32 form(const Cell* value, Cell* out, const Cell* limit, i32 part) {
  (void)limit;
  const char* name = type_name(value->datatype_id());
  u32 n = name[0] ? g_types[value->datatype_id()].name_len_minus1 : 0;
  string::append_c_text_n(out, name, n);
  return part - i32(n);
}

i32 mold(const Cell* value, Cell* out, const actions::MoldOptions& o, i32 part) {
  if (o.all) part = put_text(out, "#(", part);
  part = put_text(out, type_name(value->datatype_id()), part);
  if (o.all) part = put_text(out, ")", part);
  return part;
}

i32 compare(const Cell* a, const Cell* b, i32 op) {
  if (!is_equality_op(op)) return actions::kNotComparable;
  return b->is(T_DATATYPE) && b->datatype_id() == a->datatype_id() ? 0 : 1;
}

void register_datatype() {
  using namespace actions;
  actions::SlotTable slots;
  slots.set<kForm>(&form);
  slots.set<kMold>(&mold);
  slots.set<kCompare>(&compare);
  register_type(T_DATATYPE, 0, "datatype!", slots);
}

}  // namespace datatype

// ---- unset!

namespace unset {

Cell* set_result() { return set_unset(stack::g_base); }
Cell* make_in(const Cell* block) { return append_to(block, &datatype::g_unset); }
Cell* push() { return stack::push(&datatype::g_unset); }

Cell* make(Cell* proto, Cell* spec, int type) {
  (void)proto, (void)spec, (void)type;
  return push();
}

i32 form(const Cell* value, Cell* out, const Cell* limit, i32 part) {
  (void)value, (void)out, (void)limit;
  return part;
}

i32 mold(const Cell*, Cell* out, const actions::MoldOptions& o, i32 part) {
  return put_text(out, o.all ? "#(unset)" : "unset", part);
}

i32 compare(const Cell* a, const Cell* b, i32 op) {
  (void)a;
  if (!b->is(T_UNSET)) return actions::kNotComparable;
  return is_equality_op(op) || is_sort_op(op) ? 0 : actions::kNotComparable;
}

void register_type() {
  using namespace actions;
  actions::SlotTable slots;
  slots.set<kMake>(&make);
  slots.set<kTo>(&make);
  slots.set<kForm>(&form);
  slots.set<kMold>(&mold);
  slots.set<kCompare>(&compare);
  datatype::register_type(T_UNSET, 0, "unset!", slots);
}

}  // namespace unset

// ---- none!

namespace none {

Cell* set_result() { return set_none(stack::g_base); }
Cell* make_in(const Cell* block) { return append_to(block, &datatype::g_none); }
Cell* push() { return stack::push(&datatype::g_none); }

Cell* make(Cell* proto, Cell* spec, int type) {
  (void)proto, (void)spec, (void)type;
  return push();
}

i32 form(const Cell* value, Cell* out, const Cell* limit, i32 part) {
  (void)value, (void)limit;
  return put_text(out, "none", part);
}

i32 mold(const Cell*, Cell* out, const actions::MoldOptions& o, i32 part) {
  return put_text(out, o.all ? "#(none)" : "none", part);
}

i32 compare(const Cell* a, const Cell* b, i32 op) {
  (void)a;
  if (!b->is(T_NONE)) return actions::kNotComparable;
  return is_equality_op(op) || is_sort_op(op) ? 0 : actions::kNotComparable;
}

// Clearing, finding, selecting, taking or removing in none answers none.
void clear(Cell* value) { set_none(value); }

Cell* find(Cell*, Cell*, const actions::FindOptions&) { return set_none(&g_answer); }

i32 length_q(const Cell* value) {
  (void)value;
  return -1;
}

void remove(Cell* series, Cell* part, Cell* key) {
  (void)part, (void)key;
  set_none(series);
}

Cell* select(Cell*, Cell*, const actions::FindOptions&) { return set_none(&g_answer); }

Cell* take(Cell* series, Cell* part, bool deep, bool last) {
  (void)series, (void)part, (void)deep, (void)last;
  return set_none(&g_answer);
}

void register_type() {
  using namespace actions;
  actions::SlotTable slots;
  slots.set<kMake>(&make);
  slots.set<kTo>(&make);
  slots.set<kForm>(&form);
  slots.set<kMold>(&mold);
  slots.set<kCompare>(&compare);
  slots.set<kClear>(&clear);
  slots.set<kFind>(&find);
  slots.set<kLengthQ>(&length_q);
  slots.set<kRemove>(&remove);
  slots.set<kSelect>(&select);
  slots.set<kTake>(&take);
  datatype::register_type(T_NONE, 0, "none!", slots);
}

}  // namespace none

// ---- logic!

namespace logic {

Cell* set_result(bool v) { return set_logic(stack::g_base, v); }

Cell* make_in(const Cell* block, bool v) { return append_to(block, v ? &datatype::g_true : &datatype::g_false); }

Cell* push(bool v) { return stack::push(v ? &datatype::g_true : &datatype::g_false); }

bool true_q(const Cell* c, bool unset_is_error, const Cell* word) {
  if (unset_is_error && c->is(T_UNSET)) raise_error(Err::ScriptNoValue, word);
  return !is_false(c);
}

namespace {
const Cell* last_value() { return stack::g_top > stack::g_base ? stack::g_top - 1 : stack::g_base; }
}  // namespace

bool last_false_q() { return is_false(last_value()); }
bool last_true_q() { return !is_false(last_value()); }

bool check_result_true_q() {
  if (stack::g_base->is(T_UNSET)) raise_error(Err::ScriptNoReturn);
  return !is_false(stack::g_base);
}

bool result_false_q() { return is_false(stack::g_base); }

Cell* make(Cell* proto, Cell* spec, int type) {
  switch (spec->type()) {
    case T_INTEGER:
      return set_logic(proto, spec->int_value() != 0);
    case T_FLOAT:
    case T_PERCENT:
      // A NaN is true: it is not equal to 0.0.
      return set_logic(proto, spec->float_value() != 0.0);
    default:
      return to(proto, spec, type);
  }
}

Cell* to(Cell* proto, Cell* spec, int type) {
  (void)proto, (void)type;
  if (spec->is(T_LOGIC)) return spec;
  return set_logic(&g_answer, !spec->is(T_NONE));
}

void random(Cell* value, bool seed, bool secure, bool only) {
  (void)only;
  if (seed) return random_seed_value(value, value->logic_value() ? 1 : 0);
  if (!g_services.random_draw) service_missing();
  set_logic(value, g_services.random_draw(secure) > 0x3FFFFFFF);
}

i32 form(const Cell* value, Cell* out, const Cell* limit, i32 part) {
  (void)limit;
  return put_text(out, value->logic_value() ? "true" : "false", part);
}

i32 mold(const Cell* value, Cell* out, const actions::MoldOptions& o, i32 part) {
  if (o.all) return put_text(out, value->logic_value() ? "#(true)" : "#(false)", part);
  return put_text(out, value->logic_value() ? "true" : "false", part);
}

i32 compare(const Cell* a, const Cell* b, i32 op) {
  if (!b->is(T_LOGIC)) return actions::kNotComparable;
  if (!is_equality_op(op) && !is_sort_op(op)) return actions::kNotComparable;
  return i32(a->logic_value()) - i32(b->logic_value());
}

Cell* complement(Cell* value) {
  value->set_logic_value(!value->logic_value());
  return value;
}

namespace {
void bitwise(int op) {
  Cell* a = stack::g_base;
  Cell* b = a + 1;
  if (!b->is(T_LOGIC)) {
    Cell logic_only;
    make_cell(&logic_only, T_TYPESET, 0, 0, 0);
    runtime::typeset_add(&logic_only, T_LOGIC);
    runtime::check_arg_type(&logic_only, 1, b);
  }
  switch (op) {
    case 5: a->set_logic_value(a->logic_value() || b->logic_value()); break;
    case 6: a->set_logic_value(a->logic_value() && b->logic_value()); break;
    case 7: a->set_logic_value(a->logic_value() != b->logic_value()); break;
    default: runtime::quit(runtime::kFatalNoSwitch, ZOT_CALLER_ADDRESS());
  }
}
}  // namespace

void and_() { bitwise(6); }
void or_() { bitwise(5); }
void xor_() { bitwise(7); }

void register_type() {
  using namespace actions;
  actions::SlotTable slots;
  slots.set<kMake>(&make);
  slots.set<kRandom>(&random);
  slots.set<kTo>(&to);
  slots.set<kForm>(&form);
  slots.set<kMold>(&mold);
  slots.set<kCompare>(&compare);
  slots.set<kAnd>(&and_);
  slots.set<kComplement>(&complement);
  slots.set<kOr>(&or_);
  slots.set<kXor>(&xor_);
  datatype::register_type(T_LOGIC, 0, "logic!", slots);
}

}  // namespace logic

}  // namespace zot
