// The set operations on blocks: unique, union, intersect, exclude and
// difference, over records of one cell or of the /skip size. Membership is
// decided by the first cell of each record, through hash tables: the result
// keeps one as it grows, and the other block's own table (a hash!) or a
// temporary one answers whether a value is in it.
#include <algorithm>
#include <exception>

#include "datatypes/block.h"
#include "datatypes/block_search.h"
#include "datatypes/context.h"
#include "datatypes/registry.h"
#include "datatypes/series.h"
#include "runtime/actions.h"
#include "runtime/stack.h"
#include "runtime/errors.h"
#include "runtime/hashtable.h"

namespace zot::block {

namespace {

using series::buffer_of;
using series::index_of;

enum SetOp : int { kUnique = 8, kUnion = 9, kIntersect = 10, kExclude = 11, kDifference = 12 };


// A hash! cell on the argument stack over the block's cells from its index,
// with a table of its own unless it is a hash! that has one.
Cell* indexed(const Cell* block) {
  Cell* h = stack::push(block);
  if (h->is(T_HASH) && h->hash_table()) return h;
  set_type(h, T_HASH);
  h->set_hash_table(0);
  mem::Node t = hashtable::init(u32(std::max(length_at(h), 1)), h, hashtable::kHash, 0);
  h->set_hash_table(t);
  return h;
}

// Whether a record of the indexed block (starting at its index, size cells
// apart) begins with a value equal to the key.
bool has_record(const Cell* h, const Cell* key, i32 size, i32 mode) {
  i32 from = std::max(index_of(h), 0);
  if (is_any_block(key->type())) {
    // Blocks are looked up one by one, as find/only does.
    i32 n = i32(buffer_of(h)->length());
    for (i32 i = from; i < n; i += size) {
      Cell c = buffer_of(h)->cells()[i];
      if (actions::compare(&c, key, mode)) return true;
    }
    return false;
  }
  return hashtable::find_key(h->hash_table(), key, from, size, mode, false, false) != nullptr;
}

}  // namespace

void set_operation(bool case_, const Cell* skip, int op) {
  i32 size = 1;
  if (skip) {
    if (!skip->is(T_INTEGER) || skip->int_value() < 1) series::bad_refine("skip", skip);
    size = skip->int_value();
  }
  Cell* first = stack::g_base;
  Cell* second = op == kUnique ? nullptr : stack::g_base + 1;
  if (second) series::clamp_index(second);
  series::clamp_index(first);
  bool hashed = first->is(T_HASH) || (second && second->is(T_HASH));
  i32 mode = case_ ? actions::kStrictEqual : actions::kEqual;

  stack::TopMark mark;
  i32 room = length_at(first) + (op == kUnion ? length_at(second) : 0);
  Cell* result = push_new(std::max(room, 1));
  set_type(result, T_HASH);
  result->set_hash_table(0);
  mem::Node table = hashtable::init(u32(std::max(room, 1)), result, hashtable::kHash, 0);
  result->set_hash_table(table);

  // Appends the records of from whose first value passes the test against
  // other (when given) and is not in the result yet.
  auto walk = [&](const Cell* from, const Cell* other, bool keep_if_found) {
    i32 i = std::max(index_of(from), 0);
    for (;; i += size) {
      i32 total = i32(buffer_of(from)->length());
      if (i >= total) break;
      Cell key = buffer_of(from)->cells()[i];
      if (other && has_record(other, &key, size, mode) != keep_if_found) continue;
      if (has_record(result, &key, size, mode)) continue;
      i32 count = std::min(size, total - i);
      i32 at = length_at(result);
      for (i32 k = 0; k < count; k++) {
        Cell c = buffer_of(from)->cells()[i + k];
        append_cell(result, &c);
      }
      series::hash_inserted(result, at, count);
    }
  };
  switch (op) {
    case kUnique:
      walk(first, nullptr, false);
      break;
    case kUnion:
      walk(first, nullptr, false);
      walk(second, nullptr, false);
      break;
    case kIntersect:
      walk(first, indexed(second), true);
      break;
    case kExclude:
      walk(first, indexed(second), false);
      break;
    case kDifference: {
      Cell* a = indexed(first);
      Cell* b = indexed(second);
      walk(first, b, false);
      walk(second, a, false);
      break;
    }
    default:
      raise_error(Err::InternalNotDone);
  }
  Cell r = *result;
  if (!hashed) {
    r.set_hash_table(0);
    set_type(&r, T_BLOCK);
  }
  *stack::g_base = r;
  stack::g_top = stack::g_base + 1;
  mark.top = stack::g_top;
}

}  // namespace zot::block
