#include "datatypes/block.h"

#include "datatypes/block_search.h"

#include <algorithm>
#include <exception>

#include "datatypes/map.h"
#include "datatypes/object.h"
#include "datatypes/registry.h"
#include "datatypes/string.h"
#include "datatypes/vector.h"
#include "datatypes/words.h"
#include "runtime/cycles.h"
#include "runtime/errors.h"
#include "runtime/helpers.h"
#include "runtime/services.h"
#include "runtime/stack.h"
#include "runtime/symbol.h"

namespace zot::block {

using mem::Series;
using series::buffer_of;
using series::Change;
using series::index_of;

namespace {

constexpr u64 kMaxCells = u64(1) << 27;


ZOT_INLINE i32 total(const Cell* b) { return i32(buffer_of(b)->length()); }

// The index, clamped to the tail (and written back when it lay past it).
ZOT_NORETURN void no_memory() { raise_error(Err::InternalNoMemory); }

// Makes sure the buffer holds `cells` cells from its head; grows to exactly
// `capacity` cells when it does not.
Series* ensure_room(Cell* b, u64 cells, u64 capacity) {
  Series* s = buffer_of(b);
  if (u64(s->head) + cells * sizeof(Cell) <= s->size) return s;
  u64 bytes = capacity * sizeof(Cell);
  if (bytes > mem::kMaxSeriesBytes) no_memory();
  return mem::expand_series(s, u32(bytes));
}

// A series value whose cells come from the block being changed is copied to
// a work block first (kept on the argument stack), so opening the gap cannot
// shift or overwrite them. count cells from the value's index.
void stage_if_same(Cell* value, const Cell* target, i32 count) {
  if (value->series_node() != target->series_node()) return;
  Cell* work = stack::push(&datatype::g_none);
  make_at(work, count);
  Series* w = buffer_of(work);
  std::memcpy(w->cells(), buffer_of(value)->cells() + index_of(value), std::size_t(count) * sizeof(Cell));
  w->tail = w->head + u32(count) * sizeof(Cell);
  value->set_series_node(work->series_node());
  value->set_series_index(0);
}

void put_char(Cell* out, u32 cp) { string::append_char(string::buffer_of(out), cp); }

void put_indent(Cell* out, i32 level) {
  for (i32 i = 0; i < level; i++) string::append_c_text(out, "    ");
}

bool is_number(u32 t) { return t == T_INTEGER || t == T_FLOAT || t == T_PERCENT; }

Cell* find_in(Cell* series, Cell* key, bool case_) {
  auto find = actions::lookup<actions::kFind>(series->type());
  actions::FindOptions o;
  o.case_ = case_;
  return find(series, key, o);
}

bool found_in(const Cell* found, const Cell* series) {
  return found->type() == series->type() && found->series_node() == series->series_node();
}

// Deep copies of the series cells of a block (objects stay shared).
void deep_copy_cells(Cell* block) {
  i32 n = total(block);
  for (i32 i = 0; i < n; i++) {
    Cell elem = *cell_at(block, i);
    if (!is_any_series(elem.type())) continue;
    stack::TopMark mark;
    Cell* tmp = stack::push(&datatype::g_none);
    Cell* r = actions::lookup<actions::kCopy>(elem.type())(&elem, tmp, nullptr, true, nullptr);
    *cell_at(block, i) = *r;
  }
}

// The cycle text when the block is already being molded or formed.
bool cycle_detected(const Cell* b, Cell* out, i32* part, const char* marker) {
  if (!cycles::find(b->series_node())) return false;
  string::append_c_text(out, marker);
  *part -= i32(std::strlen(marker));
  return true;
}

// Reading a block by a word: the value after the first word of the same name.
Cell* select_word(Cell* b, const Cell* word, bool case_) {
  static Cell none_answer;
  u32 sym = word->word_symbol();
  u32 want = case_ ? sym : symbol::resolve(sym);
  i32 n = total(b);
  for (i32 i = std::max(index_of(b), 0); i < n; i++) {
    const Cell* c = cell_at(b, i);
    u32 t = c->type();
    if (t != T_WORD && t != T_SET_WORD && t != T_GET_WORD && t != T_LIT_WORD) continue;
    if ((case_ ? c->word_symbol() : symbol::resolve(c->word_symbol())) != want) continue;
    if (i + 1 >= n) break;
    return cell_at(b, i + 1);
  }
  return set_none(&none_answer);
}

}  // namespace

// ---- walking

Cell* index_cell(Cell* b) { return buffer_of(b)->cells() + clamp_index(b); }
bool index_at_tail(const Cell* b) { return index_of(b) == total(b); }

void truncate_at(Cell* b, i32 n) {
  Series* s = buffer_of(b);
  s->tail = s->head + u32(n) * sizeof(Cell);
}

void drop_last(Cell* b) {
  i32 t = total(b);
  if (t == 0) return;
  truncate_at(b, t - 1);
  if (index_of(b) > t - 1) b->set_series_index(t - 1);
}

// ---- building

Cell* append_cell(const Cell* b, const Cell* value) {
  Cell v = *value;
  Cell* c = mem::alloc_tail_cell(b->series_node());
  *c = v;
  return c;
}

Cell* append_values(Cell* target, const Cell* source) {
  i32 n = length_at(source);
  if (n == 0) return target;
  mem::Node src = source->series_node();
  i32 from = index_of(source);
  u8* dst = mem::alloc_tail_bytes(target->series_node(), u32(n) * sizeof(Cell));
  // Re-derived: the tail allocation may have moved the source buffer.
  std::memcpy(dst, mem::series_of(src)->cells() + from, std::size_t(n) * sizeof(Cell));
  return target;
}

Cell* insert_value(Cell* b, const Cell* value, bool advance, bool at_head) {
  Cell v = *value;
  i32 t = total(b);
  i32 at = at_head ? 0 : clamp_index(b);
  Series* s = ensure_room(b, u64(t) + 1, (u64(t) + 1) * 2);
  Cell* base = s->cells();
  std::memmove(base + at + 1, base + at, std::size_t(t - at) * sizeof(Cell));
  base[at] = v;
  s->tail += sizeof(Cell);
  if (b->is(T_HASH)) series::hash_inserted(b, at, 1);
  if (advance) b->set_series_index(at + 1);
  return b;
}

void insert_values(Cell* target, const Cell* source) {
  stack::TopMark mark;
  Cell src = *source;
  i32 n = length_at(&src);
  if (n == 0) return;
  stage_if_same(&src, target, n);
  for (i32 k = 0; k < n; k++) insert_value(target, cell_at(&src, index_of(&src) + k), true, false);
}

Cell* make_at(Cell* cell, i32 capacity) {
  u32 flags = cell->header & ~kCellTypeMask;
  set_unset(cell);
  // Room for at least one cell, so a later append can double it.
  mem::Node n = mem::alloc_cells(u32(capacity < 1 ? 1 : capacity));
  return make_cell(cell, flags | T_BLOCK, 0, n, 0);
}

Cell* make_at_fixed(Cell* cell, i32 capacity, int mode) {
  u32 flags = cell->header & ~kCellTypeMask;
  set_unset(cell);
  u32 n = u32(capacity < 1 ? 1 : capacity);
  mem::Node node = mode == 1 ? mem::alloc_heap_series(n, sizeof(Cell), 0) : mem::alloc_unset_cells(n);
  return make_cell(cell, flags | T_BLOCK, 0, node, 0);
}

namespace {
Cell* make_in_impl(const Cell* parent, i32 capacity, bool fixed) {
  mem::Node p = parent->series_node();
  mem::alloc_tail_cell(p);  // the new cell, unset! until its buffer exists
  i32 at = i32(mem::series_of(p)->length()) - 1;
  Cell made;
  set_unset(&made);
  if (fixed)
    make_at_fixed(&made, capacity, 1);
  else
    make_at(&made, capacity);
  Cell* c = mem::series_of(p)->cells() + at;
  *c = made;
  return c;
}
}  // namespace

Cell* make_in(const Cell* parent, i32 capacity) { return make_in_impl(parent, capacity, false); }

Cell* push(const Cell* b) { return stack::push(b); }

Cell* push_new(i32 capacity) {
  Cell* c = stack::push(&datatype::g_none);
  return make_at(c, capacity);
}

void mark_library(const Cell* b) {
  mem::Series* s = mem::series_of(b->series_node());
  if (s->flags & mem::kLibrary) return;
  s->flags |= mem::kLibrary;
  for (u32 i = 0; i < s->length(); i++) {
    Cell c = mem::series_of(b->series_node())->cells()[i];
    if (is_any_block(c.type())) mark_library(&c);
  }
}

Cell* clone(const Cell* b, bool deep, bool paths_too) {
  Cell src = *b;
  i32 n = length_at(&src);
  Cell* r = push_new(n);
  set_type(r, src.type());
  Series* d = buffer_of(r);
  std::memcpy(d->cells(), buffer_of(&src)->cells() + std::max(index_of(&src), 0), std::size_t(n) * sizeof(Cell));
  d->tail = d->head + u32(n) * sizeof(Cell);
  if (!deep) return r;
  for (i32 i = 0; i < n; i++) {
    Cell elem = *cell_at(r, i);
    u32 t = elem.type();
    bool nested = t == T_BLOCK || (paths_too && (t == T_PAREN || is_any_path(t)));
    if (!nested) continue;
    stack::TopMark mark;
    Cell* c = clone(&elem, true, paths_too);
    c->header = elem.header;  // the nested value's type and flags
    *cell_at(r, i) = *c;
  }
  return r;
}

void copy_types_in_place(Cell* block, i32 first, i32 end, i32 step, bool deep, const Cell* kind) {
  for (i32 i = first; i < end; i += step) {
    Cell elem = *cell_at(block, i);
    u32 t = elem.type();
    bool wanted = kind->is(T_DATATYPE) ? kind->datatype_id() == t : runtime::typeset_has(kind, t);
    bool copyable = is_any_series(t) || t == T_MAP || t == T_BITSET || t == T_OBJECT || t == T_ERROR;
    if (!wanted || !copyable) continue;
    stack::TopMark mark;
    Cell k = *kind;
    Cell* tmp = stack::push(&datatype::g_none);
    auto copy_fn = actions::lookup<actions::kCopy>(t);
    Cell* r = copy_fn(&elem, tmp, nullptr, deep, deep ? &k : nullptr);
    *cell_at(block, i) = *r;
  }
}

bool remove_key(Cell* b, const Cell* key, bool from_head) {
  Cell k = *key;
  i32 n = total(b);
  for (i32 i = from_head ? 0 : std::max(index_of(b), 0); i < n; i++) {
    Cell c = *cell_at(b, i);
    if (actions::compare_direct(&k, &c, actions::kFindEqual) != 0) continue;
    Cell* base = buffer_of(b)->cells();
    std::memmove(base + i, base + i + 1, std::size_t(n - i - 1) * sizeof(Cell));
    truncate_at(b, n - 1);
    return i <= index_of(b);
  }
  return false;
}

// ---- text

i32 form(const Cell* value, Cell* out, const Cell* limit, i32 part) {
  Cell b = *value;
  if (cycle_detected(&b, out, &part, "...")) return part;
  cycles::Guard guard(b.series_node());
  i32 first = std::max(index_of(&b), 0);
  for (i32 i = first; i < total(&b); i++) {
    if (limit && part < 1) break;
    if (i > first) {
      Series* o = string::buffer_of(out);
      u32 last = 0;
      if (o->tail > o->head) last = string::get_char(o->tail_ptr() - o->unit(), o->unit());
      if (last != '\n' && last != '\r' && last != '\t') {
        put_char(out, ' ');
        part--;
      }
    }
    Cell elem = *cell_at(&b, i);
    part = actions::lookup<actions::kForm>(elem.type())(&elem, out, limit, part);
  }
  return part;
}

i32 mold_each(const Cell* value, Cell* out, const actions::MoldOptions& o, i32 part) {
  Cell b = *value;
  cycles::Guard guard(b.series_node());
  bool owe_break = false;
  i32 indent = o.indent;
  i32 first = std::max(index_of(&b), 0);
  for (i32 i = first; i < total(&b); i++) {
    if (o.limit && part < 1) break;
    Cell elem = *cell_at(&b, i);
    if (!o.flat && (elem.header & kCellNewLine)) {
      if (i == first && !o.only) {
        indent++;
        owe_break = true;
      }
      if (!(i == first && o.only)) {
        put_char(out, '\n');
        part--;
      }
      put_indent(out, indent);
      part -= 4 * indent;
    } else if (i > first) {
      put_char(out, ' ');
      part--;
    }
    part = actions::lookup<actions::kMold>(elem.type())(&elem, out, o.nested(indent), part);
  }
  if (owe_break) {
    indent--;
    put_char(out, '\n');
    put_indent(out, indent);
    part -= 1 + 4 * indent;
  }
  return part;
}

namespace {
i32 mold_between(const Cell* value, Cell* out, const actions::MoldOptions& o, i32 part, char open, char close,
                 const char* marker) {
  Cell b = *value;
  if (cycle_detected(&b, out, &part, marker)) return part;
  if (!o.only) {
    put_char(out, u32(open));
    part--;
  }
  part = mold_each(&b, out, o, part);
  if (!o.only) {
    put_char(out, u32(close));
    part--;
  }
  return part;
}
}  // namespace

i32 mold(const Cell* value, Cell* out, const actions::MoldOptions& o, i32 part) {
  return mold_between(value, out, o, part, '[', ']', "[...]");
}

i32 paren_mold(const Cell* value, Cell* out, const actions::MoldOptions& o, i32 part) {
  // A paren that contains itself gets its cycle text like a block does.
  return mold_between(value, out, o, part, '(', ')', "(...)");
}

// ---- make and to

namespace {
// The body of an object!, map! or vector! as a new block! into out.
void body_of(const Cell* value, Cell* out) {
  switch (value->type()) {
    case T_MAP: return map::reflect_into(value, words::sym(w::body), out);
    case T_VECTOR: return vector::to_block(value, out);
    default: return object::body_of(value, out);
  }
}
}  // namespace

Cell* make(Cell* proto, Cell* spec, int type) {
  (void)proto;
  u32 t = spec->type();
  if (t == T_INTEGER || t == T_FLOAT) {
    i32 n = runtime::float_to_int(spec);
    return set_type(push_new(n < 1 ? 1 : n), u8(type));
  }
  if (is_any_block(t)) return set_type(clone(spec, false, false), u8(type));
  if (t == T_OBJECT || t == T_MAP || t == T_VECTOR) {
    Cell* r = stack::push(&datatype::g_none);
    body_of(spec, r);
    return set_type(r, u8(type));
  }
  Cell dt;
  set_datatype(&dt, u32(type));
  raise_error(Err::ScriptBadMakeArg, &dt, spec);
}

Cell* to(Cell* proto, Cell* spec, int type) {
  (void)proto;
  u32 t = spec->type();
  Cell* r;
  if (t == T_OBJECT || t == T_MAP || t == T_VECTOR) {
    r = stack::push(&datatype::g_none);
    body_of(spec, r);
  } else if (t == T_STRING) {
    if (!g_services.scan_text) service_missing();
    r = stack::push(&datatype::g_none);
    g_services.scan_text(spec, r);
  } else if (t == T_TYPESET) {
    Cell ts = *spec;
    r = push_new(8);
    for (u32 id = 1; id <= u32(kTypeCount); id++) {
      if (!runtime::typeset_has(&ts, id)) continue;
      Cell dt;
      set_datatype(&dt, id);
      append_cell(r, &dt);
    }
  } else if (is_any_block(t)) {
    r = clone(spec, false, false);
  } else {
    Cell v = *spec;
    r = push_new(1);
    append_cell(r, &v);
  }
  return set_type(r, u8(type));
}

// ---- paths

Cell* eval_path(Cell* parent, Cell* element, Cell* value, const actions::PathOptions& o) {
  if (element->is(T_INTEGER)) {
    if (value) return series::poke(parent, element->int_value(), value, element);
    return series::pick(parent, element->int_value(), element);
  }
  if (!value) {
    if (element->is(T_WORD) && !parent->is(T_HASH)) return select_word(parent, element, o.case_);
    auto select = actions::lookup<actions::kSelect>(parent->type());
    actions::FindOptions search;
    search.only = true, search.case_ = o.case_;
    return select(parent, element, search);
  }
  Cell* found = find_in(parent, element, o.case_);
  if (!found_in(found, parent)) raise_error(Err::ScriptBadPathSet, o.path, element);
  Cell at = *found;
  return series::poke(&at, 2, value, nullptr);
}

// ---- compare

i32 compare(const Cell* a, const Cell* b, i32 op) {
  u32 ta = a->type(), tb = b->type();
  if (ta != tb) {
    bool paths = (ta == T_PATH || ta == T_LIT_PATH) && (tb == T_PATH || tb == T_LIT_PATH);
    if (!paths || (op != actions::kEqualForm1 && op != actions::kEqualForm2)) return actions::kNotComparable;
  }
  if (a->series_node() == b->series_node() && a->series_index() == b->series_index()) return 0;
  if (op == actions::kSame) return -1;
  if (cycles::find(a->series_node())) return cycles::find(b->series_node()) ? 0 : -1;
  i32 la = length_at(a), lb = length_at(b);
  if (la != lb) {
    switch (op) {
      case actions::kEqual: case actions::kNotEqual: case actions::kStrictEqual:
      case actions::kEqualForm1: case actions::kEqualForm2: case actions::kFindEqual:
        return 1;
      default:
        break;
    }
  }
  if (la == 0 && lb == 0) return 0;
  Cell x = *a, y = *b;
  cycles::Guard ga(x.series_node());
  cycles::Guard gb(y.series_node());
  i32 n = std::min(la, lb);
  i32 ia = std::max(index_of(&x), 0), ib = std::max(index_of(&y), 0);
  for (i32 k = 0; k < n; k++) {
    Cell ca = *cell_at(&x, ia + k), cb = *cell_at(&y, ib + k);
    u32 ea = ca.type(), eb = cb.type();
    if (ea != eb && !(is_any_word(ea) && is_any_word(eb)) && !(is_number(ea) && is_number(eb)))
      return ea < eb ? -1 : 1;
    i32 r = actions::compare_direct(&ca, &cb, op);
    if (r != 0) return r;
  }
  if (la == lb) return 0;
  return la < lb ? -1 : 1;
}

// ---- modifying actions

void append(Cell* series, Cell* value, const actions::InsertOptions& o) {
  Cell v = *value;
  bool splice = !o.only && is_any_block(v.type());
  if (o.dup < 1) return;
  // The plan: part cells of the value, dup times, at `at` of a block of t cells.
  i32 t = 0, idx = 0, part = 0;
  u64 cells = 0;
  auto plan = [&] {
    i32 count = splice ? length_at(&v) : 1;
    part = o.part < 0 || o.part > count ? count : o.part;
    t = total(series);
    idx = clamp_index(series);
    cells = u64(part) * u64(o.dup);
    if (cells > u64(INT32_MAX) || u64(t) + cells >= kMaxCells) no_memory();
  };
  plan();
  if (cells == 0) return;
  Change before = o.append ? Change::kAppend : Change::kInsert;
  i32 where = o.append ? t : idx;
  bool owned = series::ownership_check(series, before, value, where, i32(cells));
  if (owned) plan();
  i32 at = o.append ? t : idx;
  u64 new_len = u64(t) + cells;
  if (cells > 0) {
    stack::TopMark mark;
    if (splice) stage_if_same(&v, series, part);
    Series* s = ensure_room(series, new_len, o.dup < 5 ? new_len * 2 : new_len);
    Cell* base = s->cells();
    if (at < t) std::memmove(base + at + cells, base + at, std::size_t(t - at) * sizeof(Cell));
    s->tail += u32(cells) * sizeof(Cell);
    Cell* dst = base + at;
    if (splice)
      std::memcpy(dst, buffer_of(&v)->cells() + index_of(&v), std::size_t(part) * sizeof(Cell));
    else
      *dst = v;
    if (o.dup > 1) mem::copy_repeat(reinterpret_cast<u8*>(dst), u32(part) * sizeof(Cell), u32(o.dup));
    if (series->is(T_HASH)) series::hash_inserted(series, at, i32(cells));
  }
  if (owned)
    series::ownership_done(series, o.append ? Change::kAppended : Change::kInserted, value, at, i32(cells));
  series->set_series_index(o.append ? 0 : i32(std::min<u64>(u64(idx) + cells, new_len)));
}

void change(Cell* series, Cell* value, const actions::InsertOptions& o) {
  Cell v = *value;
  if (o.dup < 1) return;
  bool splice = !o.only && is_any_block(v.type());
  // The plan: count cells of the value, dup times, over `replaced` cells from idx.
  i32 t = 0, idx = 0, count = 0, replaced = 0;
  u64 inserted = 0, new_len = 0;
  auto plan = [&] {
    t = total(series);
    idx = clamp_index(series);
    i32 avail = t - idx;
    count = splice ? length_at(&v) : 1;
    inserted = u64(count) * u64(o.dup);
    replaced = o.part >= 0 ? std::min(o.part, avail) : i32(std::min<u64>(inserted, u64(avail)));
    if (inserted > u64(INT32_MAX)) no_memory();
    new_len = u64(t) + inserted - u64(replaced);
    if (new_len >= kMaxCells) no_memory();
  };
  plan();
  bool owned = series::ownership_check(series, Change::kChange, value, idx, replaced);
  if (owned) plan();
  stack::TopMark mark;
  if (splice) stage_if_same(&v, series, count);
  Series* s = ensure_room(series, new_len, new_len);
  Cell* base = s->cells();
  if (inserted != u64(replaced))
    std::memmove(base + idx + inserted, base + idx + replaced, std::size_t(t - idx - replaced) * sizeof(Cell));
  s->tail = s->head + u32(new_len) * sizeof(Cell);
  if (count > 0) {
    Cell* dst = base + idx;
    if (splice)
      std::memcpy(dst, buffer_of(&v)->cells() + index_of(&v), std::size_t(count) * sizeof(Cell));
    else
      *dst = v;
    if (o.dup > 1) mem::copy_repeat(reinterpret_cast<u8*>(dst), u32(count) * sizeof(Cell), u32(o.dup));
  }
  if (series->is(T_HASH)) series::hash_rebuild(series);
  series::ownership_done(series, Change::kChanged, nullptr, idx, i32(inserted));
  series->set_series_index(i32(std::min<u64>(u64(idx) + inserted, new_len)));
}

Cell* put(Cell* series, Cell* key, Cell* value, bool case_) {
  Cell k = *key, v = *value;
  // The position of the key's value, or -1 when the key is not there.
  auto value_at = [&] {
    Cell* found = find_in(series, &k, case_);
    return found_in(found, series) ? index_of(found) + 1 : -1;
  };
  i32 at = value_at();
  i32 where = at < 0 ? length_at(series) : at;
  bool owned = series::ownership_check(series, Change::kPut, value, where, 1);
  if (owned) at = value_at();
  if (at < 0) {
    i32 t = total(series);
    append_cell(series, &k);
    append_cell(series, &v);
    if (series->is(T_HASH)) series::hash_inserted(series, t, 2);
  } else if (at >= total(series)) {
    append_cell(series, &v);
    if (series->is(T_HASH)) series::hash_inserted(series, at, 1);
  } else {
    Cell old = *cell_at(series, at);
    if (actions::compare_direct(&old, &v, actions::kFindEqual) != 0) {
      *cell_at(series, at) = v;
      if (series->is(T_HASH)) series::hash_replaced(series, at);
    }
  }
  // The owner hears the past-tense word for an added pair too.
  series::ownership_done(series, Change::kPutEd, value, where, 1);
  return value;
}

void swap(Cell* a, Cell* b) {
  if (!is_any_block(b->type())) raise_error(Err::ScriptInvalidArg, b);
  if (series::index_at_tail(a) || series::index_at_tail(b)) return;
  i32 ia = index_of(a), ib = index_of(b);
  bool oa = series::ownership_check(a, Change::kSwap, nullptr, ia, 1);
  bool ob = series::ownership_check(b, Change::kSwap, nullptr, ib, 1);
  // Either handler may have shortened either block.
  bool both = !series::index_at_tail(a) && !series::index_at_tail(b);
  if (both) {
    std::swap(*cell_at(a, ia), *cell_at(b, ib));
    if (a->is(T_HASH)) series::hash_replaced(a, ia);
    if (b->is(T_HASH)) series::hash_replaced(b, ib);
  }
  if (oa) series::ownership_done(a, Change::kSwaped, nullptr, ia, 1);
  if (ob) series::ownership_done(b, Change::kSwaped, nullptr, ib, 1);
}

Cell* take(Cell* series, Cell* part, bool deep, bool last) {
  Cell* r = series::take(series, part, deep, last);
  if (r->is(T_NONE)) return r;
  if (deep) deep_copy_cells(r);
  if (!part && total(r) == 1) *r = *cell_at(r, 0);
  return r;
}

// Takes out the none values from the index on, whatever the refinements.
void trim(Cell* series, const actions::TrimOptions&) {
  i32 idx = clamp_index(series);
  bool owned = series::ownership_check(series, Change::kTrim, nullptr, idx, 0);
  if (owned) idx = clamp_index(series);
  Series* s = buffer_of(series);
  Cell* base = s->cells();
  i32 t = i32(s->length());
  i32 w = idx;
  for (i32 r = idx; r < t; r++)
    if (!base[r].is(T_NONE)) base[w++] = base[r];
  s->tail = s->head + u32(w) * sizeof(Cell);
  if (series->is(T_HASH)) series::hash_rebuild(series);
  if (owned) series::ownership_done(series, Change::kTrimmed, nullptr, idx, 0);
}

Cell* copy(Cell* value, Cell* result, Cell* part, bool deep, Cell* kind) {
  series::copy(value, result, part, false, nullptr);
  if (!deep && !kind) return result;
  if (value->is(T_HASH)) set_type(result, T_BLOCK);
  mem::Node node = value->series_node();
  if (deep && cycles::find(node)) {
    cycles::reset();
    raise_error(Err::InternalNoCycle);
  }
  if (!deep) {
    copy_types_in_place(result, 0, total(result), 1, false, kind);
    return result;
  }
  cycles::Guard guard(node);
  if (kind)
    copy_types_in_place(result, 0, total(result), 1, true, kind);
  else
    deep_copy_cells(result);
  return result;
}

// ---- registration

void register_type() {
  using namespace actions;
  actions::SlotTable slots;
  for (Slot s : {kRandom, kReflect, kAt, kBack, kClear, kHead, kHeadQ, kIndexQ, kLengthQ, kMove, kNext, kPick,
                 kPoke, kRemove, kReverse, kSkip, kTail, kTailQ, kModify})
    slots.inherit(s);
  slots.set<kMake>(&make);
  slots.set<kTo>(&to);
  slots.set<kForm>(&form);
  slots.set<kMold>(&mold);
  slots.set<kEvalPath>(&eval_path);
  slots.set<kCompare>(&compare);
  slots.set<kAppend>(&append);
  slots.set<kInsert>(&append);
  slots.set<kChange>(&change);
  slots.set<kCopy>(&copy);
  slots.set<kPut>(&put);
  slots.set<kSwap>(&swap);
  slots.set<kTake>(&take);
  slots.set<kTrim>(&trim);
  slots.set<kFind>(&find);
  slots.set<kSelect>(&select);
  slots.set<kSort>(&sort);
  datatype::register_type(T_BLOCK, T_SERIES, "block!", slots);
}

void register_paren() {
  using namespace actions;
  actions::SlotTable slots;
  slots.inherit_all();
  slots.set<kMold>(&paren_mold);
  slots.clear(kTrim);
  datatype::register_type(T_PAREN, T_BLOCK, "paren!", slots);
}

}  // namespace zot::block
