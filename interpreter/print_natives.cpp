// print, prin and stats.
#include <exception>
#include <vector>

#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/registry.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/words.h"
#include "interpreter/eval.h"
#include "interpreter/natives.h"
#include "runtime/actions.h"
#include "runtime/errors.h"
#include "runtime/heap.h"
#include "runtime/memory.h"
#include "runtime/output.h"
#include "runtime/root.h"
#include "runtime/services.h"
#include "runtime/stack.h"
#include "runtime/throw.h"

namespace zot::natives {

bool g_last_new_line = false;

namespace {

ZOT_INLINE Cell* base() { return stack::g_base; }

constexpr i32 kNoLimit = 0x7FFFFFFF;

// The root cell of the print buffer: the block that print and prin reduce a
// block argument into (nested prints use it above the outer one's values).
u32 g_print_buffer = 0;

// The print buffer's index and tail are put back however the reduction ends.
struct BufferMark {
  Cell buffer;
  i32 index;
  i32 tail;
  explicit BufferMark(const Cell& b) : buffer(b), index(series::index_of(&b)), tail(series::total_length(&b)) {}
  ~BufferMark() {
    block::truncate_at(&buffer, tail);
    root::cell(g_print_buffer)->set_series_index(index);
  }
};

// The text that print writes for a value: a string! as it is, a block
// reduced and formed (a space between values unless the text so far ends in
// a tab or a line end), any other value formed.
void print_value(bool new_line) {
  Cell v = *base();
  if (v.is(T_STRING)) {
    string::length_at(&v);
    output::print_string(&v, new_line);
    return;
  }
  Cell* out = stack::push(&datatype::g_none);
  string::make_at(out, 16);
  if (v.is(T_BLOCK)) {
    Cell buffer = *root::cell(g_print_buffer);
    BufferMark mark(buffer);
    root::cell(g_print_buffer)->set_series_index(mark.tail);
    Cell* above = stack::g_top;
    stack::push_native_frame(words::word(w::tag_body));
    u32 pos = u32(std::max(series::index_of(&v), 0));
    while (pos < u32(series::total_length(&v))) {
      pos = interp::eval_next(&v, pos, u32(series::total_length(&v)), true);
      runtime::raise_pending();
      Cell r = *stack::top_value();
      stack::g_top = stack::g_base + 1;
      clear_new_line(&r);
      block::append_cell(&buffer, &r);
    }
    stack::pop_frame();
    stack::g_top = above;
    Cell reduced = buffer;
    reduced.set_series_index(mark.tail);
    block::form(&reduced, out, nullptr, kNoLimit);
  } else {
    actions::lookup<actions::kForm>(v.type())(&v, out, nullptr, kNoLimit);
  }
  output::print_string(out, new_line);
}

void n_print(const i32*) {
  print_value(true);
  g_last_new_line = true;
  set_unset(base());
  stack::g_top = base() + 1;
}

void n_prin(const i32*) {
  print_value(false);
  g_last_new_line = false;
  set_unset(base());
  stack::g_top = base() + 1;
}

// ---- stats

// A count as integer!, or as float! beyond 2147483647.
Cell number_cell(u64 n) {
  Cell c;
  if (n > 2147483647u) set_float(&c, double(n));
  else set_integer(&c, i32(n));
  return c;
}

// The statistics block: [node-frames series-frames big-frames heap-bytes
// heap-blocks], a line per frame: [free used capacity] nodes, [free used
// total] bytes, and the size of each big buffer.
void stats_block(Cell* out) {
  std::vector<mem::FrameUse> nodes, series_frames;
  std::vector<u64> big;
  mem::frame_usage(nodes, series_frames, big);
  block::make_at(out, 5);
  auto add_lines = [&](const std::vector<mem::FrameUse>& frames) {
    Cell* lines = block::make_in(out, i32(frames.size()));
    Cell list = *lines;
    for (const mem::FrameUse& f : frames) {
      Cell* line = block::make_in(&list, 3);
      Cell row = *line;
      Cell a = number_cell(f.free), b = number_cell(f.used), c = number_cell(f.total);
      block::append_cell(&row, &a);
      block::append_cell(&row, &b);
      block::append_cell(&row, &c);
      block::cell_at(&list, series::total_length(&list) - 1)->header |= kCellNewLine;
    }
  };
  add_lines(nodes);
  add_lines(series_frames);
  Cell* sizes = block::make_in(out, i32(big.size()));
  Cell list = *sizes;
  for (u64 size : big) {
    Cell n = number_cell(size);
    n.header |= kCellNewLine;
    block::append_cell(&list, &n);
  }
  Cell heap_bytes = number_cell(runtime::heap_bytes()), heap_blocks = number_cell(runtime::heap_block_count());
  block::append_cell(out, &heap_bytes);
  block::append_cell(out, &heap_blocks);
}

// stats [/show /info]
void n_stats(const i32* refs) {
  bool show = refs[0] >= 0, info = refs[1] >= 0;
  if (!show && !info) {
    Cell n = number_cell(mem::bytes_in_use());
    *base() = n;
    stack::g_top = base() + 1;
    return;
  }
  Cell* out = stack::push(&datatype::g_none);
  stats_block(out);
  if (!show) {
    *base() = *out;
    stack::g_top = base() + 1;
    return;
  }
  // The library's show-memory-stats prints the table.
  Cell* call = stack::push(&datatype::g_none);
  block::make_at(call, 2);
  Cell fn = word::name("show-memory-stats"), table = *out;
  block::append_cell(call, &fn);
  block::append_cell(call, &table);
  if (!g_services.do_block) service_missing();
  g_services.do_block(call);
  set_unset(base());
  stack::g_top = base() + 1;
}

}  // namespace

void register_print_natives() {
  Cell buffer;
  set_unset(&buffer);
  block::make_at(&buffer, 32);
  g_print_buffer = root::append_copy(&buffer);
  define_native(23, "print [value [any-type!]]", n_print);
  define_native(24, "prin [value [any-type!]]", n_prin);
  define_native(37, "stats [/show /info]", n_stats);
}

}  // namespace zot::natives
