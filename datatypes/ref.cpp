#include "datatypes/ref.h"

#include "datatypes/registry.h"
#include "datatypes/string.h"
#include "runtime/actions.h"

namespace zot::ref {

i32 mold(const Cell* value, Cell* out, const actions::MoldOptions& o, i32 part) {
  string::append_c_text(out, "@");
  return string::form(value, out, o.limit, part - 1);
}

void register_type() {
  using namespace actions;
  actions::SlotTable slots;
  for (Slot s : {kMake, kReflect, kTo, kForm, kCompare, kAt, kBack, kChange, kClear, kCopy, kFind, kHead, kHeadQ,
                 kIndexQ, kInsert, kLengthQ, kMove, kNext, kPick, kPoke, kRemove, kReverse, kSelect, kSkip, kSwap,
                 kTail, kTailQ, kTake, kModify})
    slots.inherit(s);
  slots.set<kMold>(&mold);
  datatype::register_type(T_REF, T_STRING, "ref!", slots);
}

}  // namespace zot::ref
