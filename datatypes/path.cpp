#include "datatypes/path.h"

#include "datatypes/block.h"
#include "datatypes/registry.h"
#include "datatypes/string.h"
#include "runtime/actions.h"
#include "runtime/cycles.h"
#include "runtime/errors.h"
#include "runtime/stack.h"

namespace zot::path {

namespace {


i32 text(Cell* out, const char* s, i32 part) {
  string::append_c_text(out, s);
  return part - i32(std::strlen(s));
}

// Writes the elements with "/" between them, formed or molded. /only is the
// path's own business: a block element keeps its brackets.
i32 write(const Cell* value, Cell* out, bool mold, const actions::MoldOptions& o, i32 part) {
  Cell p = *value;
  if (cycles::find(p.series_node())) return text(out, "...", part);
  cycles::Guard guard(p.series_node());
  const actions::MoldOptions element = o.nested(0);
  i32 n = block::length_at(&p);
  for (i32 i = 0; i < n; i++) {
    if (i > 0) part = text(out, "/", part);
    Cell e = *block::cell_at(&p, p.series_index() + i);
    if (mold) {
      part = actions::lookup<actions::kMold>(e.type())(&e, out, element, part);
    } else {
      part = actions::lookup<actions::kForm>(e.type())(&e, out, o.limit, part);
    }
    if (o.limit && part < 1) break;
  }
  return part;
}

i32 form(const Cell* value, Cell* out, const Cell* limit, i32 part) {
  return write(value, out, false, {.limit = limit}, part);
}

i32 mold(const Cell* v, Cell* out, const actions::MoldOptions& o, i32 part) {
  return write(v, out, true, o, part);
}
i32 mold_lit(const Cell* v, Cell* out, const actions::MoldOptions& o, i32 part) {
  part = text(out, "'", part);
  return write(v, out, true, o, part);
}
i32 mold_set(const Cell* v, Cell* out, const actions::MoldOptions& o, i32 part) {
  part = write(v, out, true, o, part);
  return text(out, ":", part);
}
i32 mold_get(const Cell* v, Cell* out, const actions::MoldOptions& o, i32 part) {
  part = text(out, ":", part);
  return write(v, out, true, o, part);
}

Cell* make(Cell* proto, Cell* spec, int type) {
  u32 t = spec->type();
  if (t == T_INTEGER || t == T_FLOAT || t == T_PERCENT) {
    Cell n = *spec;
    if (t != T_INTEGER) set_integer(&n, i32(n.float_value()));
    return block::make(proto, &n, type);
  }
  if (is_any_block(t))
    return block::make(proto, spec, type);
  Cell dt;
  set_datatype(&dt, u32(type));
  raise_error(Err::ScriptBadMakeArg, &dt, spec);
}

Cell* to(Cell* proto, Cell* spec, int type) {
  u32 t = spec->type();
  if (t == T_MAP || t == T_OBJECT || t == T_TYPESET) {
    Cell v = *spec;
    Cell* r = block::push_new(1);
    block::append_cell(r, &v);
    return set_type(r, u8(type));
  }
  return block::to(proto, spec, type);
}

}  // namespace

void register_types() {
  actions::SlotTable s;
  s.inherit_all();
  s.set<actions::kMake>(&make);
  s.set<actions::kTo>(&to);
  s.set<actions::kForm>(&form);
  s.set<actions::kMold>(&mold);
  s.set<actions::kCopy>(&block::copy);
  s.clear(actions::kRandom);
  s.clear(actions::kSort);
  s.clear(actions::kTrim);
  datatype::register_type(T_PATH, T_BLOCK, "path!", s);
  struct Child {
    u32 type;
    const char* name;
    actions::MoldFn mold;
  };
  const Child children[] = {
      {T_LIT_PATH, "lit-path!", mold_lit}, {T_SET_PATH, "set-path!", mold_set}, {T_GET_PATH, "get-path!", mold_get}};
  for (const Child& c : children) {
    actions::SlotTable k;
    k.inherit_all();
    k.set<actions::kMold>(c.mold);
    k.clear(actions::kRandom);
    k.clear(actions::kSort);
    k.clear(actions::kTrim);
    datatype::register_type(c.type, T_PATH, c.name, k);
  }
}

}  // namespace zot::path
