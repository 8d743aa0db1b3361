#include "datatypes/hash.h"

#include <algorithm>

#include "datatypes/block.h"
#include "datatypes/registry.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "runtime/actions.h"
#include "runtime/errors.h"
#include "runtime/hashtable.h"
#include "runtime/helpers.h"
#include "runtime/stack.h"

namespace zot::hash {


namespace {

Cell* copy(Cell* value, Cell* result, Cell* part, bool deep, Cell* kind) {
  Cell h = *value;
  block::copy(&h, result, part, deep, kind);
  set_type(result, T_HASH);
  result->set_hash_table(0);
  if (!part && !deep && !kind && series::index_of(&h) == 0 && h.hash_table()) {
    result->set_hash_table(hashtable::copy(mem::Node(h.hash_table()), mem::Node(result->series_node())));
  } else {
    index_cells(result);
  }
  return result;
}

Cell* to(Cell* proto, Cell* spec, int type) {
  (void)type;
  if (spec->is(T_HASH)) {
    Cell* fresh = stack::push(&datatype::g_none);
    return copy(spec, fresh, nullptr, false, nullptr);
  }
  Cell* r = block::to(proto, spec, T_HASH);
  index_cells(r);
  return r;
}

Cell* make(Cell* proto, Cell* spec, int type) {
  u32 t = spec->type();
  if (t == T_INTEGER || t == T_FLOAT) {
    i32 n = runtime::float_to_int(spec);
    Cell* r = set_type(block::push_new(std::max(n, 1)), T_HASH);
    index_cells(r);
    return r;
  }
  if (t == T_BLOCK) {
    Cell* r = set_type(block::clone(spec, false, false), T_HASH);
    index_cells(r);
    return r;
  }
  return to(proto, spec, type);
}

i32 mold(const Cell* value, Cell* out, const actions::MoldOptions& o, i32 part) {
  Cell b = *value;
  set_type(&b, T_BLOCK);
  if (!o.only) {
    i32 before = string::total_length(out);
    string::append_c_text(out, "make hash! ");
    part -= string::total_length(out) - before;
  }
  return block::mold(&b, out, o.nested(o.indent), part);
}

// The block! swap re-indexes one cell after the other; within one hash! the
// first re-indexing meets the second cell's stale entry and may give its value
// a bucket of its own beside the one it shares with its equals. Both
// positions are therefore indexed again once both cells hold their values.
void swap(Cell* a, Cell* b) {
  bool same = b->is(T_HASH) && a->series_node() == b->series_node() && a->hash_table();
  block::swap(a, b);
  if (!same) return;
  i32 ia = series::index_of(a), ib = series::index_of(b);
  i32 n = series::total_length(a);
  if (ia == ib || ia < 0 || ib < 0 || ia >= n || ib >= n) return;
  mem::Node t = mem::Node(a->hash_table());
  hashtable::delete_key(t, series::buffer_of(a)->cells() + ia);
  hashtable::delete_key(t, series::buffer_of(a)->cells() + ib);
  int status = 0;
  hashtable::put_key_status(t, series::buffer_of(a)->cells() + ia, &status);
  if (status != 2) hashtable::put_key(t, series::buffer_of(a)->cells() + ib);
}

}  // namespace

void index_cells(Cell* h) {
  i32 n = std::max(series::total_length(h), 1);
  h->set_hash_table(0);
  mem::Node t = hashtable::init(u32(n), h, hashtable::kHash, 0);
  h->set_hash_table(t);
}

void register_type() {
  using namespace actions;
  actions::SlotTable s;
  s.inherit_all();
  for (Slot m : {kAbsolute, kAdd, kDivide, kMultiply, kNegate, kPower, kRemainder, kRound, kSubtract, kEven, kOdd,
                 kAnd, kComplement, kOr, kXor})
    s.clear(m);
  s.set<kMake>(&make);
  s.set<kTo>(&to);
  s.set<kMold>(&mold);
  s.set<kCopy>(&copy);
  s.set<kSwap>(&swap);
  datatype::register_type(T_HASH, T_BLOCK, "hash!", s);
}

}  // namespace zot::hash
