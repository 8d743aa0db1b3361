// Sorting of vector! elements: by their numbers, whatever the width and the
// element kind.

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "datatypes/vector.h"
#include "runtime/comparator.h"
#include "runtime/sort.h"
#include "runtime/stack.h"

namespace zot::vector {

namespace {

double number_at(const u8* at, u32 width, u32 type) {
  Cell c;
  get_value(at, width, type, &c);
  return integer_kind(type) ? double(c.int_value()) : c.float_value();
}

// A total order: NaN compares equal to NaN and after every number.
int compare_numbers(double x, double y) {
  bool nx = std::isnan(x), ny = std::isnan(y);
  if (nx || ny) return int(nx) - int(ny);
  return x < y ? -1 : x > y ? 1 : 0;
}

struct NumberOrder {
  u32 width, type;
  u32 offset;  // element of the record that is compared (not with all)
  u32 count;   // elements compared: 1, or the record size with all
  bool reverse;
};

int number_order(const void* a, const void* b, void* context) {
  const NumberOrder& o = *static_cast<const NumberOrder*>(context);
  const u8* pa = static_cast<const u8*>(a) + o.offset * o.width;
  const u8* pb = static_cast<const u8*>(b) + o.offset * o.width;
  for (u32 i = 0; i < o.count; i++) {
    int r = compare_numbers(number_at(pa + i * o.width, o.width, o.type), number_at(pb + i * o.width, o.width, o.type));
    if (r) return o.reverse ? -r : r;
  }
  return 0;
}

// A function comparator works on a copy of the records outside any series:
// the function may run Zot code that changes or moves the vector.
struct CallOrder {
  const Cell* function;
  u32 width, type, size;
  bool all, reverse;
  Cell* first;  // one-record vectors (all)
  Cell* second;
};

void fill_record(Cell* v, const u8* record, u32 bytes) {
  mem::Series* s = mem::series_of(v->series_node());
  std::memcpy(s->head_ptr(), record, bytes);
  s->tail = s->head + bytes;
}

int call_order(const void* a, const void* b, void* context) {
  const CallOrder& o = *static_cast<const CallOrder*>(context);
  const u8* ra = static_cast<const u8*>(a);
  const u8* rb = static_cast<const u8*>(b);
  if (o.all) {
    fill_record(o.first, ra, o.size * o.width);
    fill_record(o.second, rb, o.size * o.width);
    return comparator::order(o.function, o.first, o.second, o.reverse);
  }
  Cell x, y;
  get_value(ra, o.width, o.type, &x);
  get_value(rb, o.width, o.type, &y);
  return comparator::order(o.function, &x, &y, o.reverse);
}

}  // namespace

void sort_records(Cell* v, i32 start, u32 records, u32 size, u32 offset, bool all, bool reverse, bool stable,
                  const Cell* function) {
  const u32 width = width_of(v), type = element_type(v);
  const std::size_t record_bytes = std::size_t(size) * width;
  if (!function) {
    NumberOrder order{width, type, offset, all ? size : 1u, reverse};
    u8* base = mem::series_of(v->series_node())->head_ptr() + std::size_t(start) * width;
    sort::records(base, records, record_bytes, &number_order, &order, stable);
    return;
  }
  const std::size_t bytes = records * record_bytes;
  std::vector<u8> work(bytes);
  std::memcpy(work.data(), mem::series_of(v->series_node())->head_ptr() + std::size_t(start) * width, bytes);
  stack::TopMark mark;
  Cell fn = *function;
  Cell* first = nullptr;
  Cell* second = nullptr;
  if (all) {
    first = stack::push(v);
    make_at(first, size, type, width);
    second = stack::push(v);
    make_at(second, size, type, width);
  }
  CallOrder order{&fn, width, type, size, all, reverse, first, second};
  sort::records(work.data(), records, record_bytes, &call_order, &order, stable);
  // The comparator may have shortened the vector: only elements that are
  // still there are written back.
  mem::Series* s = mem::series_of(v->series_node());
  std::size_t now = s->length() > u32(start) ? std::size_t(s->length() - u32(start)) * width : 0;
  std::memcpy(s->head_ptr() + std::size_t(start) * width, work.data(), std::min(bytes, now));
}

}  // namespace zot::vector
