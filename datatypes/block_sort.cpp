// sort on blocks.
//
// The records are copied into a work block on the argument stack and an
// array of record numbers is sorted; the cells go back in that order at the
// end. So the buffer being sorted is never addressed while a comparison may
// allocate (and move buffers) or a user comparator runs Zot code that changes
// the series, and an error out of a comparator leaves the series as it was.
// Plain integers are the exception: ordered by value where they are, since
// nothing can move or change them meanwhile.
#include <algorithm>
#include <memory>
#include <numeric>
#include <vector>

#include "datatypes/block.h"
#include "datatypes/block_search.h"
#include "datatypes/context.h"
#include "datatypes/registry.h"
#include "datatypes/series.h"
#include "runtime/actions.h"
#include "runtime/comparator.h"
#include "runtime/stack.h"
#include "runtime/errors.h"
#include "runtime/sort.h"

namespace zot::block {

namespace {

using series::bad_refine;
using series::buffer_of;
using series::Change;
using series::index_of;


struct Order {
  const Cell* work;  // the records, on the argument stack
  i32 size;          // cells per record
  i32 offset;        // the compared cell of a record (not with all)
  bool all;
  bool reverse;
  bool stable;           // merge sort, else the partition sort
  i32 mode;              // sort ordering, case-sensitive with /case
  const Cell* function;  // a user comparator, or null
  Cell* first;           // work blocks for whole records passed to the function
  Cell* second;
};

ZOT_INLINE Cell record_cell(const Order& o, u32 record, i32 k) {
  return buffer_of(o.work)->cells()[i64(record) * o.size + k];
}

// Two cells through the left one's compare slot; values that cannot be
// compared order by their type ids.
i32 compare_cells(const Cell* a, const Cell* b, i32 mode) {
  u32 ta = a->type(), tb = b->type();
  i32 r = actions::kNotComparable;
  if (actions::raw(ta, actions::kCompare) && (ta != T_LOGIC || tb == T_LOGIC)) r = actions::compare_direct(a, b, mode);
  if (r == actions::kNotComparable) return i32(ta) - i32(tb);
  return r;
}

void fill_record(Cell* block, const Order& o, u32 record) {
  truncate_at(block, 0);
  for (i32 k = 0; k < o.size; k++) {
    Cell c = record_cell(o, record, k);
    append_cell(block, &c);
  }
}

int record_order(const void* pa, const void* pb, void* context) {
  const Order& o = *static_cast<const Order*>(context);
  u32 a = *static_cast<const u32*>(pa), b = *static_cast<const u32*>(pb);
  if (o.function) {
    if (o.all) {
      fill_record(o.first, o, a);
      fill_record(o.second, o, b);
      return comparator::order(o.function, o.first, o.second, o.reverse);
    }
    Cell x = record_cell(o, a, 0), y = record_cell(o, b, 0);
    return comparator::order(o.function, &x, &y, o.reverse);
  }
  i32 from = o.all ? 0 : o.offset, to = o.all ? o.size : o.offset + 1;
  for (i32 k = from; k < to; k++) {
    Cell x = record_cell(o, a, k), y = record_cell(o, b, k);
    i32 r = o.reverse ? compare_cells(&y, &x, o.mode) : compare_cells(&x, &y, o.mode);
    if (r != 0) return r;
  }
  return 0;
}

// A stretch of cells that are each one integer! is ordered by the values
// directly, in place, with a least-significant-digit radix sort: stable, as
// the merge sort would be, so equal integers keep their order both ways.
// Nothing here can allocate from the collected heap or run Zot code, so the
// series' own cells are read and written. Answers false, cells untouched,
// when any cell is not an integer.
bool sort_integers(Cell* cells, u32 n, bool reverse) {
  for (u32 r = 0; r < n; r++)
    if (!cells[r].is(T_INTEGER)) return false;
  // Each cell as (ordering key << 32 | position); the key is the value with
  // its sign bit flipped, so that unsigned order is numeric order, and
  // complemented for /reverse.
  const u32 flip = reverse ? 0x7FFFFFFFu : 0x80000000u;
  std::unique_ptr<u64[]> a(new u64[n]), b(new u64[n]);
  u32 counts[4][256] = {};
  for (u32 r = 0; r < n; r++) {
    const u32 key = u32(cells[r].int_value()) ^ flip;
    a[r] = (u64(key) << 32) | r;
    counts[0][key & 0xFFu]++;
    counts[1][(key >> 8) & 0xFFu]++;
    counts[2][(key >> 16) & 0xFFu]++;
    counts[3][key >> 24]++;
  }
  const u32 first = u32(a[0] >> 32);
  for (u32 d = 0; d < 4; d++) {
    const u32* c = counts[d];
    // A digit that all keys share leaves the order as it is.
    if (c[(first >> (8 * d)) & 0xFFu] == n) continue;
    u32 at[256];
    u32 sum = 0;
    for (u32 k = 0; k < 256; k++) {
      at[k] = sum;
      sum += c[k];
    }
    const u32 shift = 32 + 8 * d;
    for (u32 r = 0; r < n; r++) b[at[(a[r] >> shift) & 0xFFu]++] = a[r];
    a.swap(b);
  }
  const std::vector<Cell> was(cells, cells + n);
  for (u32 r = 0; r < n; r++) cells[r] = was[u32(a[r])];
  return true;
}

// The general sort: the records go through a work block and an order array.
void sort_records(Cell* s, Order& o, i32 start, i32 n, u32 records) {
  const i32 size = o.size;
  stack::TopMark mark;
  Cell* work = push_new(n);
  std::memcpy(buffer_of(work)->cells(), buffer_of(s)->cells() + start, std::size_t(n) * sizeof(Cell));
  buffer_of(work)->tail = buffer_of(work)->head + u32(n) * sizeof(Cell);
  o.work = work;
  if (o.function && o.all) {
    o.first = push_new(size);
    o.second = push_new(size);
  }
  std::vector<u32> order(records);
  std::iota(order.begin(), order.end(), 0u);
  sort::records(order.data(), records, sizeof(u32), record_order, &o, o.stable);
  // A user comparator may have changed the series: only cells that are
  // still there are written.
  i32 now = i32(buffer_of(s)->length());
  Cell* dst = buffer_of(s)->cells();
  const Cell* src = buffer_of(work)->cells();
  for (u32 r = 0; r < records; r++)
    for (i32 k = 0; k < size; k++) {
      i64 at = i64(start) + i64(r) * size + k;
      if (at < now) dst[at] = src[i64(order[r]) * size + k];
    }
}

}  // namespace

Cell* sort(Cell* s, const actions::SortOptions& opt) {
  i32 total = i32(buffer_of(s)->length());
  i32 idx = std::clamp(index_of(s), 0, total);
  i32 start = idx, n = total - idx;
  if (opt.part) {
    i64 len;
    if (opt.part->is(T_INTEGER))
      len = opt.part->int_value();
    else if (opt.part->type() == s->type() && opt.part->series_node() == s->series_node())
      len = i64(std::clamp(index_of(opt.part), 0, total)) - idx;
    else
      bad_refine("part", opt.part);
    if (len < 0) {
      // The stretch before the position.
      start = i32(std::max<i64>(i64(idx) + len, 0));
      n = idx - start;
    } else if (len < n) {
      n = i32(len);
    }
  }
  if (n == 0) return s;
  i32 size = 1;
  if (opt.skip) {
    if (!opt.skip->is(T_INTEGER)) bad_refine("skip", opt.skip);
    size = opt.skip->int_value();
    if (size < 1 || size > n || n % size) bad_refine("skip", opt.skip);
  }
  if (opt.all && !opt.skip) raise_error(Err::ScriptBadRefines);
  Order o{nullptr, size, 0, opt.all, opt.reverse, opt.stable,
          opt.case_ ? actions::kCaseSortOrder : actions::kSortOrder, nullptr, nullptr, nullptr};
  Cell fn;
  if (opt.comparator) {
    if (opt.comparator->is(T_INTEGER)) {
      if (!opt.skip || opt.all) raise_error(Err::ScriptBadRefines);
      i32 at = opt.comparator->int_value();
      if (at < 1 || at > size) raise_error(Err::ScriptOutOfRange, opt.comparator);
      o.offset = at - 1;
    } else if (comparator::is_function(opt.comparator)) {
      fn = *opt.comparator;
      o.function = &fn;
    } else {
      bad_refine("compare", opt.comparator);
    }
  }
  u32 records = u32(n / size);
  if (records < 2) return s;

  bool owned = series::ownership_check(s, Change::kSort, nullptr, start, 0);
  // The owner's handler may have shortened the series.
  i32 left = std::max(i32(buffer_of(s)->length()) - start, 0);
  if (n > left) n = left / size * size;
  records = u32(n / size);
  if (records < 2) {
    if (owned) series::ownership_done(s, Change::kSorted, nullptr, start, 0);
    return s;
  }
  if (!o.function && size == 1 && sort_integers(buffer_of(s)->cells() + start, records, opt.reverse)) {
    // done: integers ordered as numbers where they are
  } else {
    sort_records(s, o, start, n, records);
  }
  if (s->is(T_HASH)) series::hash_rebuild(s);
  if (owned) series::ownership_done(s, Change::kSorted, nullptr, start, 0);
  return s;
}

}  // namespace zot::block
