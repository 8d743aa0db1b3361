// find, select and select-key on blocks.
//
// Cells are read afresh at every step (a comparison may allocate, which may
// move the buffer); the key lives on the argument stack or in a local copy.
#include "datatypes/block_search.h"

#include <algorithm>

#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/registry.h"
#include "datatypes/series.h"
#include "runtime/actions.h"
#include "runtime/stack.h"
#include "runtime/errors.h"
#include "runtime/hashtable.h"
#include "runtime/helpers.h"

namespace zot::block {

namespace {

using series::bad_refine;
using series::buffer_of;
using series::index_of;

enum class KeyKind : u8 { kCell, kType, kTypeset, kSequence };

// Equality of a series cell with the key under the comparison code; a type
// without a compare slot is equal only to the very same cell.
bool cells_equal(const Cell* a, const Cell* b, i32 op) {
  if (!actions::raw(a->type(), actions::kCompare))
    return a->type() == b->type() && a->w1 == b->w1 && a->w2 == b->w2 && a->w3 == b->w3;
  return actions::compare(a, b, op);
}

struct Matcher {
  Cell key;  // the key value (a block key: its series cell)
  KeyKind kind;
  i32 op;
  i32 klen;  // cells a match covers

  bool at(const Cell* s, i32 i) const {
    switch (kind) {
      case KeyKind::kType:
        return buffer_of(s)->cells()[i].type() == key.datatype_id();
      case KeyKind::kTypeset:
        return runtime::typeset_has(&key, buffer_of(s)->cells()[i].type());
      case KeyKind::kCell: {
        Cell c = buffer_of(s)->cells()[i];
        return cells_equal(&c, &key, op);
      }
      case KeyKind::kSequence: {
        i32 from = std::max(index_of(&key), 0);
        for (i32 k = 0; k < klen; k++) {
          // Both read afresh: a nested comparison may move either buffer.
          Cell c = buffer_of(s)->cells()[i + k];
          Cell kc = buffer_of(&key)->cells()[from + k];
          if (!cells_equal(&c, &kc, op)) return false;
        }
        return true;
      }
    }
    return false;
  }
};

// Whether the hash table of a hash! may answer for this key.
bool table_answers(const Cell* s, const Cell* key, const FindOptions& o) {
  if (!s->is(T_HASH) || !s->hash_table() || o.match) return false;
  u32 t = key->type();
  if (is_any_block(t) && !(o.only && o.same)) return false;
  if ((t == T_DATATYPE || t == T_TYPESET) && !o.only) return false;
  if (t == T_OBJECT && !o.same) return false;
  return true;
}

}  // namespace

Found search(const Cell* series, const Cell* value, const FindOptions& o) {
  Found none;
  Cell s = *series;
  i32 total = i32(buffer_of(&s)->length());
  if (total == 0) return none;
  i32 idx = std::clamp(index_of(&s), 0, total);
  if (idx >= total && !o.reverse) return none;
  i32 step = 1;
  if (o.skip) {
    if (!o.skip->is(T_INTEGER)) bad_refine("skip", o.skip);
    step = o.skip->int_value();
    if (step < 1) raise_error(Err::ScriptOutOfRange, o.skip);
  }
  // The searched range: forward [idx, end), backward [low, idx).
  i32 end = total, low = 0;
  if (o.part) {
    i64 len;
    if (o.part->is(T_INTEGER)) {
      len = o.part->int_value();
    } else if (o.part->type() == s.type() && o.part->series_node() == s.series_node()) {
      len = i64(std::clamp(index_of(o.part), 0, total)) - idx;
      if (o.reverse && len < 0) len = -len;
    } else {
      bad_refine("part", o.part);
    }
    if (len < 1) return none;
    end = i32(std::min<i64>(i64(idx) + len, total));
    low = i32(std::max<i64>(i64(idx) - len, 0));
  }
  if (o.reverse && (o.match || idx == 0)) return none;

  Matcher m{*value, KeyKind::kCell, actions::kFindEqual, 1};
  if (o.same) m.op = actions::kSame;
  else if (o.case_) m.op = actions::kStrictEqual;
  u32 kt = m.key.type();
  if (!o.only) {
    if (kt == T_DATATYPE) {
      m.kind = KeyKind::kType;
    } else if (kt == T_TYPESET) {
      m.kind = KeyKind::kTypeset;
    } else if (is_any_block(kt)) {
      m.kind = KeyKind::kSequence;
      m.klen = length_at(&m.key);
      if (m.klen == 0) return none;
    }
  }

  // Backwards, the walk starts one step (one record) before the position, or
  // as many steps as the sub-sequence needs.
  i64 back = i64(step) * ((i64(m.klen) + step - 1) / step);
  if (table_answers(&s, &m.key, o) && !(o.last && (step > 1 || o.part))) {
    // The table's backward filter takes the positions p < start that lie a
    // whole number of steps below start - 1.
    i32 from = o.reverse ? i32(idx - back + 1) : idx;
    Cell* hit = hashtable::find_key(mem::Node(s.hash_table()), &m.key, from, step, m.op, o.last, o.reverse);
    if (!hit) return none;
    i32 p = i32(hit - buffer_of(&s)->cells());
    if (o.reverse ? p < low : p >= end) return none;
    return Found{p, p + 1};
  }

  auto found = [&](i64 i) { return Found{i32(i), i32(i) + m.klen}; };
  if (o.match) {
    if (i64(idx) + m.klen <= end && m.at(&s, idx)) return found(idx);
    return none;
  }
  if (o.reverse) {
    for (i64 i = i64(idx) - back; i >= low; i -= step)
      if (m.at(&s, i32(i))) return found(i);
    return none;
  }
  i64 top = i64(end) - m.klen;  // the last start whose match fits the range
  if (top < idx) return none;
  if (o.last) {
    for (i64 i = idx + (top - idx) / step * step; i >= idx; i -= step)
      if (m.at(&s, i32(i))) return found(i);
    return none;
  }
  for (i64 i = idx; i <= top; i += step)
    if (m.at(&s, i32(i))) return found(i);
  return none;
}

// /any and /with (wildcards) mean nothing for cells.
Cell* find(Cell* series, Cell* value, const actions::FindOptions& o) {
  Found f = search(series, value, o);
  Cell* r = stack::push(&datatype::g_none);
  if (f.at < 0) return r;
  *r = *series;
  clear_new_line(r);
  r->set_series_index(o.tail ? f.end : f.at);
  return r;
}

Cell* select(Cell* series, Cell* value, const actions::FindOptions& o) {
  actions::FindOptions no_match = o;
  no_match.match = false;
  Found f = search(series, value, no_match);
  Cell* r = stack::push(&datatype::g_none);
  if (f.at < 0 || f.end >= i32(buffer_of(series)->length())) return r;
  *r = buffer_of(series)->cells()[f.end];
  clear_new_line(r);
  return r;
}

}  // namespace zot::block
