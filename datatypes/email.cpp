#include "datatypes/email.h"

#include "datatypes/registry.h"
#include "datatypes/string.h"
#include "datatypes/string_actions.h"
#include "datatypes/words.h"
#include "runtime/actions.h"
#include "runtime/errors.h"
#include "runtime/stack.h"
#include "runtime/symbol.h"

namespace zot::email {

i32 mold(const Cell* value, Cell* out, const actions::MoldOptions& o, i32 part) {
  return string::form(value, out, o.limit, part);
}

Cell* eval_path(Cell* parent, Cell* element, Cell* value, const actions::PathOptions& o) {
  if (element->is(T_INTEGER)) return string::eval_path(parent, element, value, o);
  const u32 canon = element->is(T_WORD) ? symbol::resolve(element->word_symbol()) : 0;
  const bool user = canon && canon == symbol::resolve(words::sym(w::user));
  const bool host = canon && canon == symbol::resolve(words::sym(w::host));
  if (!user && !host) raise_error(Err::ScriptInvalidPath, parent, element);
  Cell e = *parent;
  const i32 len = string::length_at(&e);
  const i32 at = string::index_of(&e);
  i32 split = string::find_char(&e, '@');
  const bool has_at = split >= 0;
  if (!has_at) split = len;
  const i32 from = user ? at : at + split + (has_at ? 1 : 0);
  const i32 count = user ? split : len - split - (has_at ? 1 : 0);
  if (!value) {
    Cell* r = stack::push(&datatype::g_none);
    mem::Series* src = string::buffer_of(&e);
    mem::Series* copy = string::copy_widened(src, nullptr, src->unit(), 0, from, from + count, count);
    return make_cell(r, T_STRING, 0, copy->node, 0);
  }
  // A host given to an email without "@" comes after a new "@".
  Cell part = e;
  part.set_series_index(from);
  if (host && !has_at) {
    Cell sign;
    set_char(&sign, '@');
    string::append(&part, &sign, {.append = true});
    part.set_series_index(from + 1);
  }
  string::change(&part, value, {.part = count});
  return value;
}

void register_type() {
  using namespace actions;
  actions::SlotTable slots;
  for (Slot s : {kMake, kReflect, kTo, kForm, kCompare, kAppend, kAt, kBack, kChange, kClear, kCopy, kFind, kHead,
                 kHeadQ, kIndexQ, kInsert, kLengthQ, kMove, kNext, kPick, kPoke, kPut, kRemove, kReverse, kSelect,
                 kSkip, kSwap, kTail, kTailQ, kTake, kModify})
    slots.inherit(s);
  slots.set<kMold>(&mold);
  slots.set<kEvalPath>(&eval_path);
  datatype::register_type(T_EMAIL, T_STRING, "email!", slots);
}

}  // namespace zot::email
