#include "datatypes/tag.h"

#include "datatypes/registry.h"
#include "datatypes/string.h"
#include "runtime/actions.h"

namespace zot::tag {

i32 form(const Cell* value, Cell* out, const Cell* limit, i32 part) {
  string::append_c_text(out, "<");
  part = string::form(value, out, limit, part - 1);
  string::append_c_text(out, ">");
  return part - 1;
}

i32 mold(const Cell* value, Cell* out, const actions::MoldOptions& o, i32 part) {
  return form(value, out, o.limit, part);
}

void register_type() {
  using namespace actions;
  actions::SlotTable slots;
  for (Slot s : {kMake, kReflect, kTo, kEvalPath, kCompare, kAppend, kAt, kBack, kChange, kClear, kCopy, kFind,
                 kHead, kHeadQ, kIndexQ, kInsert, kLengthQ, kMove, kNext, kPick, kPoke, kPut, kRemove, kReverse,
                 kSelect, kSkip, kSwap, kTail, kTailQ, kTake, kModify})
    slots.inherit(s);
  slots.set<kForm>(&form);
  slots.set<kMold>(&mold);
  datatype::register_type(T_TAG, T_STRING, "tag!", slots);
}

}  // namespace zot::tag
