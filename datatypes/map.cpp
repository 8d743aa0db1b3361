#include "datatypes/map.h"

#include <algorithm>
#include <cstring>
#include <exception>

#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/registry.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/words.h"
#include "runtime/collector.h"
#include "runtime/actions.h"
#include "runtime/cycles.h"
#include "runtime/errors.h"
#include "runtime/hashtable.h"
#include "runtime/helpers.h"
#include "runtime/services.h"
#include "runtime/stack.h"
#include "runtime/symbol.h"

namespace zot::map {

using mem::Node;

namespace {

Cell g_answer;  // slot functions answering a value that lives nowhere else

// Larger maps would overflow the table's bucket arithmetic.
constexpr i64 kMaxCells = i64(1) << 26;


ZOT_INLINE Node table_of(const Cell* m) { return m->map_table(); }
ZOT_INLINE Cell* cells_of(Node b) { return mem::series_of(b)->cells(); }
ZOT_INLINE u32 count_of(Node b) { return mem::series_of(b)->bytes_used() / sizeof(Cell); }
// A pair is live while its value cell has a header.
ZOT_INLINE bool live_at(Node b, u32 key_pos) { return cells_of(b)[key_pos + 1].header != 0; }


Cell block_of(Node b) {
  Cell c;
  make_cell(&c, T_BLOCK, 0, b, 0);
  return c;
}

// The comparison of keys: equality, or strict with the case flag, or sameness.
ZOT_INLINE i32 key_op(bool case_, bool same) {
  return same ? actions::kSame : case_ ? actions::kStrictEqual : actions::kEqual;
}

// The position of the stored key matching key under op (live or dead), or -1.
ZOT_INLINE i64 find_position(const Cell* m, const Cell* key, i32 op) {
  return hashtable::map_probe(table_of(m), key, op).position;
}

// A stored key as handed out: set-word! as word! (unless kept), and text keys
// as copies, so that changing what a caller got cannot change a key behind
// the table's back.
Cell key_out(Cell k, bool keep_set_word) {
  clear_new_line(&k);
  if (k.is(T_SET_WORD) && !keep_set_word) set_type(&k, T_WORD);
  if (is_any_string(k.type()) || k.is(T_BINARY)) {
    Cell c;
    series::copy(&k, &c, nullptr, false, nullptr);
    k = c;
  }
  return k;
}

// The value of a live key, or none.
Cell get_value(const Cell* m, const Cell* key, i32 op) {
  i64 p = find_position(m, key, op);
  Cell v;
  if (p < 0 || !live_at(m->map_block(), u32(p))) return *set_none(&v);
  v = cells_of(m->map_block())[p + 1];
  return *clear_new_line(&v);
}

// Sets the value of a key, adding the pair when the key is missing and
// reviving it when it was removed.
void set_value(const Cell* map, const Cell* key_in, const Cell* value_in, i32 op, const Cell* where) {
  const Node t = table_of(map), b = map->map_block();
  const hashtable::MapSlot slot = hashtable::map_probe(t, key_in, op);
  if (slot.position >= 0) {
    Cell value = *value_in;
    clear_new_line(&value);
    if (!live_at(b, u32(slot.position))) hashtable::record(t)->size++;
    cells_of(b)[slot.position + 1] = value;
    return;
  }
  // The key may become a copy of its own (preprocess_key): held, with the
  // map and the value, while the pair block grows.
  Rooted m = *map, key = *key_in, value = *value_in;
  clear_new_line(&value);
  preprocess_key(&key, where ? where : key_in);
  const u32 at = count_of(b);
  Cell* pair = reinterpret_cast<Cell*>(mem::alloc_tail_bytes(b, 2 * sizeof(Cell)));
  pair[0] = key;
  pair[1] = value;
  hashtable::map_place(t, slot.site, at);
}

// Makes room in the pair block for n more cells at once.
void reserve_cells(Node b, u32 n) {
  mem::Series* s = mem::series_of(b);
  u64 want = u64(s->bytes_used()) + u64(n) * sizeof(Cell);
  if (s->room() >= u64(n) * sizeof(Cell)) return;
  if (want > mem::kMaxSeriesBytes) raise_error(Err::InternalNoMemory);
  s = mem::expand_series(s, u32(want));
}

// ---- text

// What was appended since `from` counts against the part budget.
using string::Budget;

i32 mold_value(const Cell* v, Cell* out, const actions::MoldOptions& o, i32 part) {
  Cell c = *v;
  clear_new_line(&c);
  return actions::lookup<actions::kMold>(c.type())(&c, out, o, part);
}

// Writes the live pairs, key and value molded: each pair through `before`,
// then key, a space and value, then `after`; separator between pairs. Keys
// and values are molded with the options o (their level is o.indent).
template <class Before, class After>
i32 write_pairs(const Cell& m, Cell* out, const actions::MoldOptions& o, i32 part, Before before, After after,
                const char* separator) {
  Budget bud(out, &part);
  Node b = m.map_block();
  bool first = true;
  for (u32 p = 0; p + 1 < count_of(b); p += 2) {
    if (!live_at(b, p)) continue;
    if (o.limit && part < 1) break;
    if (!first && separator) bud.text(separator);
    first = false;
    before(bud);
    Cell k = cells_of(b)[p];
    part = mold_value(&k, out, o, part);
    bud.from = string::total_length(out);
    bud.text(" ");
    Cell v = cells_of(b)[p + 1];
    part = mold_value(&v, out, o, part);
    bud.from = string::total_length(out);
    after(bud);
  }
  return part;
}

}  // namespace

void from_literal(Cell* cell) {
  Cell b = *cell;
  if (block::length_at(&b) & 1) raise_error(Err::ScriptInvalidArg, &b);
  Cell m;
  make_at(&m, &b, 0);
  *cell = m;
}

void normalise_table_key(Cell* key) {
  Cell k = *key;
  Cell where = k;
  preprocess_key(&k, &where);
  *key = k;
}

namespace {

// ---- slot functions

Cell* make_or_to(Cell* spec_in, bool make) {
  Cell spec = *spec_in;
  u32 t = spec.type();
  Cell* r = stack::push(&datatype::g_none);
  if (is_any_list(t)) {
    if (block::length_at(&spec) & 1) raise_error(Err::ScriptInvalidArg, &spec);
    return make_at(r, &spec, 0);
  }
  if (make && (t == T_INTEGER || t == T_FLOAT)) {
    i32 n = t == T_INTEGER ? spec.int_value() : runtime::float_to_int(&spec);
    if (n < 0) raise_error(Err::ScriptOutOfRange, &spec);
    if (i64(n) * 2 > kMaxCells) raise_error(Err::InternalNoMemory);
    return make_at(r, nullptr, n * 2);
  }
  if (t == T_MAP) {
    Cell* fresh = stack::push(&datatype::g_none);
    Cell* c = actions::lookup<actions::kCopy>(T_MAP)(&spec, fresh, nullptr, false, nullptr);
    *r = *c;
    stack::g_top = r + 1;
    return r;
  }
  raise_with_type(Err::ScriptBadToArg, T_MAP, &spec);
}

Cell* make(Cell* proto, Cell* spec, int type) {
  (void)proto, (void)type;
  return make_or_to(spec, true);
}

Cell* to(Cell* proto, Cell* spec, int type) {
  (void)proto, (void)type;
  return make_or_to(spec, false);
}

void reflect(Cell* value, u32 field_symbol) {
  Cell out;
  reflect_into(value, field_symbol, &out);
  *value = out;
}

i32 form(const Cell* value, Cell* out, const Cell* limit, i32 part) {
  Cell m = *value;
  cycles::Guard guard(m.map_block());
  return write_pairs(
      m, out, {.limit = limit}, part, [](Budget&) {}, [](Budget&) {}, "\n");
}

i32 mold(const Cell* value, Cell* out, const actions::MoldOptions& o, i32 part) {
  Cell m = *value;
  Budget bud(out, &part);
  if (cycles::find(m.map_block())) {
    bud.text("#[...]");
    return part;
  }
  if (!o.only) bud.text("#[");
  if (size(&m) > 0) {
    cycles::Guard guard(m.map_block());
    bool lines = !o.flat;
    bool indented = !o.only && !o.flat;
    i32 level = o.indent + 1;
    if (indented) bud.text("\n");
    part = write_pairs(
        m, out, o.nested(level), part,
        [&](Budget& b) {
          if (indented) b.indent(level);
        },
        [&](Budget& b) {
          if (lines) b.text("\n");
        },
        o.flat ? " " : nullptr);
    bud.from = string::total_length(out);
    if (!o.flat && o.indent > 0) bud.indent(o.indent);
  }
  if (!o.only) bud.text("]");
  return part;
}

Cell* eval_path(Cell* parent, Cell* element, Cell* value, const actions::PathOptions& o) {
  Cell m = *parent, k = *element;
  i32 op = key_op(o.case_, false);
  if (value) {
    set_value(&m, &k, value, op, o.path ? o.path : element);
    return value;
  }
  g_answer = get_value(&m, &k, op);
  return &g_answer;
}

ZOT_INLINE bool equality_op(i32 op) {
  return op == actions::kEqual || op == actions::kNotEqual || op == actions::kStrictEqual ||
         op == actions::kFindEqual;
}

// Whether the second map holds the key with an equal value.
bool pair_matches(const Cell* other, const Cell* key, const Cell* value, i32 op) {
  if (op == actions::kStrictEqual) {
    i64 p = find_position(other, key, actions::kStrictEqual);
    if (p < 0 || !live_at(other->map_block(), u32(p))) return false;
    Cell ov = cells_of(other->map_block())[p + 1];
    return actions::compare_direct(value, &ov, actions::kStrictEqual) == 0;
  }
  i32 value_op = op == actions::kFindEqual ? actions::kFindEqual : actions::kEqual;
  Node t = table_of(other);
  i32 bucket = -1, first = 0, step = 0;
  while (Cell* found = hashtable::find_next(t, key, &bucket, &first, &step)) {
    i64 p = found - cells_of(other->map_block());
    if (!live_at(other->map_block(), u32(p))) continue;
    Cell ov = cells_of(other->map_block())[p + 1];
    if (actions::compare_direct(value, &ov, value_op) == 0) return true;
  }
  return false;
}

i32 compare(const Cell* a_in, const Cell* b_in, i32 op) {
  Cell a = *a_in, b = *b_in;
  if (!b.is(T_MAP)) return actions::kNotComparable;
  const Node ba = a.map_block(), bb = b.map_block();
  if (op == actions::kSortOrder || op == actions::kCaseSortOrder) return ba == bb ? 0 : ba < bb ? -1 : 1;
  if (!equality_op(op) && op != actions::kSame) return actions::kNotComparable;
  if (ba == bb) return 0;
  if (op == actions::kSame) return -1;
  if (cycles::find(a.map_block())) return cycles::find(b.map_block()) ? 0 : -1;
  i32 na = size(&a), nb = size(&b);
  if (na != nb) return na > nb ? 1 : -1;
  if (na == 0) return 0;
  cycles::Guard ga(a.map_block());
  cycles::Guard gb(b.map_block());
  for (u32 p = 0; p + 1 < count_of(a.map_block()); p += 2) {
    if (!live_at(a.map_block(), p)) continue;
    Cell k = cells_of(a.map_block())[p], v = cells_of(a.map_block())[p + 1];
    if (!pair_matches(&b, &k, &v, op)) return -1;
  }
  return 0;
}

// Copies of the nested series and maps among the cells (every step-th from first).
void copy_nested(Cell* block, u32 first, u32 step) {
  Node b = block->series_node();
  for (u32 i = first; i < count_of(b); i += step) {
    Cell elem = cells_of(b)[i];
    u32 t = elem.type();
    if (elem.header == 0 || (!is_any_series(t) && t != T_MAP)) continue;
    stack::TopMark mark;
    Cell* tmp = stack::push(&datatype::g_none);
    Cell* r = actions::lookup<actions::kCopy>(t)(&elem, tmp, nullptr, true, nullptr);
    Cell c = *r;
    c.header = (c.header & ~kCellNewLine) | (elem.header & kCellNewLine);
    cells_of(b)[i] = c;
  }
}

Cell* copy(Cell* value, Cell* result, Cell* part, bool deep, Cell* kind) {
  (void)part;
  Cell m = *value;
  if (deep && cycles::find(m.map_block())) {
    cycles::reset();
    raise_error(Err::InternalNoCycle);
  }
  Cell src = block_of(m.map_block());
  series::copy(&src, result, nullptr, false, nullptr);
  Cell c = *result;
  set_type(&c, T_BLOCK);
  *result = c;
  if (deep || kind) {
    cycles::Guard guard(m.map_block());
    if (kind) block::copy_types_in_place(result, 1, i32(count_of(c.series_node())), 2, deep, kind);
    else copy_nested(result, 0, 1);
  }
  Node t = hashtable::copy(table_of(&m), c.series_node());
  make_cell(result, T_MAP, 0, c.series_node(), t);
  return result;
}

void clear(Cell* value) { hashtable::clear(table_of(value)); }

Cell* find(Cell* series, Cell* value, const actions::FindOptions& o) {
  Cell m = *series;
  i64 p = find_position(&m, value, key_op(o.case_, o.same));
  if (p < 0 || !live_at(m.map_block(), u32(p))) return set_none(&g_answer);
  g_answer = key_out(cells_of(m.map_block())[p], false);
  return &g_answer;
}

i32 length_q(const Cell* value) { return size(value); }

Cell* put(Cell* series, Cell* key, Cell* value, bool case_) {
  Cell m = *series;
  set_value(&m, key, value, key_op(case_, false), key);
  return value;
}

void remove(Cell* series, Cell* part, Cell* key) {
  (void)part;
  if (!key) raise_error(Err::ScriptMissingArg);
  Cell m = *series;
  i64 p = find_position(&m, key, actions::kStrictEqual);
  if (p < 0) return;
  hashtable::delete_key(table_of(&m), cells_of(m.map_block()) + p);
}

Cell* select(Cell* series, Cell* value, const actions::FindOptions& o) {
  Cell m = *series;
  g_answer = get_value(&m, value, key_op(o.case_, o.same));
  return &g_answer;
}

}  // namespace

// ---- operations

Cell* make_at(Cell* out, const Cell* block, i32 size) {
  Node src = 0;
  u32 from = 0, n = 0;
  if (block) {
    src = block->series_node();
    from = u32(std::max(series::index_of(block), 0));
    u32 total = count_of(src);
    n = from < total ? total - from : 0;
  }
  if (n & 1) {
    Cell b = *block;
    raise_error(Err::ScriptInvalidArg, &b);
  }
  u32 cells = std::max<u32>({u32(std::max(size, 0)), n, 2});
  Node t = hashtable::init(cells, nullptr, hashtable::kMap, 0);
  Node b = Node(hashtable::record(t)->block);
  if (n) {
    mem::Series* d = mem::series_of(b);
    Cell* to = d->cells();
    std::memcpy(to, cells_of(src) + from, std::size_t(n) * sizeof(Cell));
    d->tail = d->head + n * u32(sizeof(Cell));
    for (u32 i = 0; i < n; i++) clear_new_line(to + i);
  }
  Rooted m;
  make_cell(&m, T_MAP, 0, b, t);
  index_pairs(&m);
  *out = m;
  return out;
}

i32 size(const Cell* m) { return hashtable::record(table_of(m))->size; }

// Normalises and indexes every key of the pair block of m; a key met again
// gives its value to the earlier pair and leaves the block with its value.
void index_pairs(const Cell* map) {
  Cell m = *map;
  Node t = table_of(&m), b = m.map_block();
  u32 p = 0;
  while (p + 1 < count_of(b)) {
    Cell k = cells_of(b)[p];
    Cell where = k;
    preprocess_key(&k, &where);
    cells_of(b)[p] = k;
    const hashtable::MapSlot slot = hashtable::map_probe(t, &k, actions::kEqual);
    if (slot.position < 0) {
      hashtable::map_place(t, slot.site, p);
      p += 2;
      continue;
    }
    mem::Series* s = mem::series_of(b);
    Cell* base = s->cells();
    u32 n = count_of(b);
    base[slot.position + 1] = base[p + 1];
    std::memmove(base + p, base + p + 2, (n - p - 2) * sizeof(Cell));
    s->tail -= 2 * sizeof(Cell);
  }
}

bool valid_key(u32 type) {
  switch (type) {
    case T_STRING: case T_FILE: case T_URL: case T_CHAR: case T_INTEGER: case T_FLOAT:
    case T_WORD: case T_SET_WORD: case T_LIT_WORD: case T_GET_WORD: case T_REFINEMENT: case T_ISSUE:
    case T_PAIR: case T_PERCENT: case T_TUPLE: case T_BINARY: case T_TIME: case T_TAG: case T_EMAIL:
    case T_DATE: case T_MONEY: case T_REF: case T_POINT2D: case T_POINT3D:
      return true;
    default:
      return false;
  }
}

void preprocess_key(Cell* key, const Cell* where) {
  u32 t = key->type();
  if (!valid_key(t)) {
    Cell w = where ? *where : *key;
    Cell dt = datatype_cell(t);
    raise_error(Err::ScriptInvalidPath, &w, &dt);
  }
  clear_new_line(key);
  if (is_plain_word(t)) {
    set_type(key, T_SET_WORD);
  } else if (is_any_string(t) || t == T_BINARY) {
    // The key keeps its own text: later changes of the text given stay out of the map.
    Cell k = *key;
    Cell c;
    series::copy(&k, &c, nullptr, false, nullptr);
    *key = *clear_new_line(&c);
  }
}

void reflect_into(const Cell* map, u32 field_symbol, Cell* out) {
  Cell m = *map;
  u32 f = symbol::resolve(field_symbol);
  auto is = [&](w::Id id) { return f == symbol::resolve(words::sym(id)); };
  bool keys = is(w::words), values = is(w::values), body = is(w::body);
  if (!keys && !values && !body) raise_error(Err::InternalNotDone);
  stack::TopMark mark;
  i32 n = size(&m);
  Cell* r = block::push_new(std::max(body ? n * 2 : n, 1));
  Node b = m.map_block();
  for (u32 p = 0; p + 1 < count_of(b); p += 2) {
    if (!live_at(b, p)) continue;
    Cell k = cells_of(b)[p], v = cells_of(b)[p + 1];
    clear_new_line(&v);
    if (keys) {
      k = key_out(k, false);
      block::append_cell(r, &k);
    } else if (values) {
      block::append_cell(r, &v);
    } else {
      k = key_out(k, true);
      k.header |= kCellNewLine;
      block::append_cell(r, &k);
      block::append_cell(r, &v);
    }
  }
  *out = *r;
}

void extend(Cell* map, const Cell* pairs, bool case_) {
  Cell m = *map, src = *pairs;
  i32 len = block::length_at(&src);
  if (len & 1) raise_error(Err::ScriptInvalidArg, &src);
  if (len == 0) return;
  reserve_cells(m.map_block(), u32(len));
  i32 first = series::index_of(&src);
  i32 op = key_op(case_, false);
  for (i32 i = 0; i < len; i += 2) {
    Cell k = *block::cell_at(&src, first + i), v = *block::cell_at(&src, first + i + 1);
    set_value(&m, &k, &v, op, &k);
  }
}

bool foreach_next(Cell* loop, const Cell* words, i32 count) {
  Node b = loop->map_block();
  i32 first = series::index_of(words);
  bool any = false;
  for (i32 i = 0; i < count; i++) {
    Cell w = *block::cell_at(words, first + i);
    if (!is_plain_word(w.type())) raise_error(Err::ScriptInvalidArg, &w);
    u32 pos = loop->map_position();
    if ((pos & 1) == 0) {
      while (pos + 1 < count_of(b) && !live_at(b, pos)) pos += 2;
      loop->set_map_position(pos);
    }
    Cell v;
    if (pos < count_of(b)) {
      v = cells_of(b)[pos];
      clear_new_line(&v);
      if ((pos & 1) == 0) v = key_out(v, false);
      loop->set_map_position(pos + 1);
      any = true;
    } else {
      set_none(&v);
    }
    context::set(&w, &v);
  }
  return any;
}

Cell* push(const Cell* m) { return stack::push(m); }

void register_type() {
  collector::add_root_cells(&g_answer, 1);
  using namespace actions;
  actions::SlotTable s;
  s.set<kMake>(&make);
  s.set<kTo>(&to);
  s.set<kReflect>(&reflect);
  s.set<kForm>(&form);
  s.set<kMold>(&mold);
  s.set<kEvalPath>(&eval_path);
  s.set<kCompare>(&compare);
  s.set<kClear>(&clear);
  s.set<kCopy>(&copy);
  s.set<kFind>(&find);
  s.set<kLengthQ>(&length_q);
  s.set<kPut>(&put);
  s.set<kRemove>(&remove);
  s.set<kSelect>(&select);
  datatype::register_type(T_MAP, 0, "map!", s);
}

}  // namespace zot::map
