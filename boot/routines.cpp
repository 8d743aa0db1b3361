#include "boot/routines.h"

#include <string>

#include "boot/start_up_object.h"
#include "boot/type_predicates.h"
#include "boot/zotbin.h"
#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/error.h"
#include "datatypes/file.h"
#include "datatypes/file_io.h"
#include "datatypes/registry.h"
#include "datatypes/string.h"
#include "datatypes/tuple.h"
#include "interpreter/clipboard.h"
#include "interpreter/eval.h"
#include "interpreter/natives.h"
#include "interpreter/routines.h"
#include "platform/platform.h"
#include "runtime/actions.h"
#include "runtime/collector.h"
#include "runtime/errors.h"
#include "runtime/fatal.h"
#include "runtime/helpers.h"
#include "runtime/output.h"
#include "runtime/rooted.h"
#include "runtime/stack.h"
#include "runtime/unicode.h"

namespace zot::routines {

namespace {

Cell* arg(int i) { return stack::g_base + i; }

void set_result_logic(bool b) { set_logic(stack::g_base, b); }
void set_result_integer(i32 n) { set_integer(stack::g_base, n); }

// The calling word, the argument's datatype and its name: the error of an
// argument that the routine checks itself.
ZOT_NORETURN void expect_arg(int index) {
  Cell name = stack::calling_word();
  Cell dt;
  set_datatype(&dt, arg(index)->type());
  Cell param = error::argument_word(index);
  raise_error(Err::ScriptExpectArg, &name, &dt, &param);
}

// ---- quitting, quiet stores, shifts

void quit_return() { runtime::exit_process(arg(0)->int_value()); }

void set_quiet() {
  u32 t = arg(0)->type();
  if (t != T_WORD && t != T_SET_WORD && t != T_LIT_WORD && t != T_GET_WORD) expect_arg(0);
  Cell w = *arg(0), v = *arg(1);
  context::set_in(&w, &v, w.word_context(), false);
  *stack::g_base = v;
}

void set_slot_quiet() {
  u32 t = arg(0)->type();
  if (t != T_BLOCK && t != T_PAREN && t != T_PATH && t != T_LIT_PATH && t != T_SET_PATH && t != T_GET_PATH)
    expect_arg(0);
  Cell s = *arg(0);
  mem::Series* ser = mem::series_of(s.series_node());
  const u32 at = u32(s.series_index());
  if (at < ser->length()) ser->cells()[at] = *arg(1);
}

void shift_with(bool left, bool logical) {
  set_result_integer(runtime::shift(arg(0)->int_value(), arg(1)->int_value(), left, logical));
}
void shift_right() { shift_with(false, false); }
void shift_left() { shift_with(true, false); }
void shift_logical() { shift_with(false, true); }

void last_lf() { set_result_logic(natives::g_last_new_line); }

// ---- directories

void get_current_dir() {
  std::string dir;
  if (!platform::current_dir(&dir)) dir.clear();
  // With its separator at the end ("./" when the directory is unknown).
  const char* sep = dir.empty() ? "./" : dir.back() == '/' ? "" : "/";
  dir.append(sep);
  file::make_from_utf8(stack::g_base, dir.data(), dir.size());
}

void set_current_dir() {
  std::string path;
  if (!simple_io::os_path(arg(0), &path) || !platform::set_current_dir(path.c_str()))
    raise_error(Err::AccessCannotOpen, arg(0));
}

void create_dir() {
  if (!simple_io::make_dir(arg(0))) raise_error(Err::AccessNoCreate, arg(0));
}

void exists() { set_result_logic(simple_io::exists(arg(0))); }

// ---- tuples

void as_color() {
  u8 bytes[3];
  for (int i = 0; i < 3; i++) {
    i32 v = arg(i)->int_value();
    if (v < 0) raise_error(Err::ScriptInvalidArg, arg(i));
    bytes[i] = u8(v & 0xFF);
  }
  tuple::make_at(stack::g_base, bytes, 3);
}

// Four components packed a + b << 8 + c << 16 + d << 24: a component above
// 255 lets its high bits fall into the next byte (those of the last are lost).
void as_ipv4() {
  u32 packed = 0;
  for (int i = 0; i < 4; i++) {
    i32 v = arg(i)->int_value();
    if (v < 0) raise_error(Err::ScriptInvalidArg, arg(i));
    packed |= u32(v) << (8 * i);
  }
  u8 bytes[4] = {u8(packed), u8(packed >> 8), u8(packed >> 16), u8(packed >> 24)};
  tuple::make_at(stack::g_base, bytes, 4);
}

// ---- UTF-8 and the stacks

void count_chars() {
  const Cell start = *arg(0), pos = *arg(1);
  mem::Series* s = mem::series_of(start.series_node());
  const u8* head = s->head_ptr();
  const u8* p = head + std::min(u32(start.series_index()), s->length());
  // The end is taken in the same buffer, at the index of pos.
  const u8* tail = head + std::min(u32(pos.series_index()), s->length());
  i32 count = 0;
  const u8* end = head + s->length();
  while (p < tail) {
    i32 cp;
    const u8* next = unicode::decode_utf8_char(p, end, cp);
    p = next > p ? next : p + 1;
    count++;
  }
  set_result_integer(count);
}

void stack_size() { set_result_integer(i32(stack::g_top - stack::g_bottom)); }

void pick_stack() {
  i32 idx = arg(0)->int_value();
  i32 size = i32(stack::g_top - stack::g_bottom);
  if (idx > 0 && idx < size) *stack::g_base = stack::g_bottom[idx - 1];
  else set_none(stack::g_base);
}

void frame_index() { set_result_integer(i32(stack::g_base - stack::g_bottom)); }

// The calls under way, newest first, down to the frame above the oldest:
// each frame's word (in its function's context, else the global one) and its
// position on the argument stack, skipping <body> and <anon> frames.
void collect_calls() {
  Rooted blk(*arg(0));
  if (stack::g_ctop - stack::g_cbottom < 2) {
    *stack::g_base = blk.cell;
    return;
  }
  for (i64 i = (stack::g_ctop - stack::g_cbottom) - 1; i >= 1; i--) {
    const stack::Frame f = stack::g_cbottom[i];
    u32 sym = stack::frame_symbol(&f);
    if (!sym || sym == stack::body_symbol() || sym == stack::anon_symbol()) continue;
    Cell w = f.fn_ctx ? context::word_or_global(f.fn_ctx, sym) : context::add_global_word(sym);
    set_type(&w, T_WORD);
    Cell pos;
    set_integer(&pos, i32(f.caller_base));
    block::append_cell(&blk.cell, &w);
    block::append_cell(&blk.cell, &pos);
  }
  *stack::g_base = blk.cell;
}

void tracing() { set_result_logic(interp::g_tracing); }

// ---- the clipboard

void read_clipboard() {
  Cell* out = stack::push(&datatype::g_none);
  clipboard::read(out);
  *stack::g_base = *out;
}

void write_clipboard() { set_result_logic(clipboard::write(arg(0))); }

// A string as UTF-8 (line ends as they are), a binary's bytes, any other
// value molded; straight to standard output after what the console writer
// holds.
void write_stdout() {
  Cell v = *arg(0);
  std::string bytes;
  if (v.is(T_BINARY)) {
    mem::Series* s = mem::series_of(v.series_node());
    u32 from = std::min(u32(v.series_index()), s->length());
    bytes.assign(reinterpret_cast<const char*>(s->head_ptr()) + from, s->length() - from);
  } else if (v.is(T_STRING)) {
    bytes = string::to_utf8(&v);
  } else {
    Rooted out;
    string::make_at(&out.cell, 64);
    actions::lookup<actions::kMold>(v.type())(&v, &out.cell, actions::MoldOptions{}, 1 << 30);
    bytes = string::to_utf8(&out.cell);
  }
  output::flush();
  platform::write_all(1, bytes.data(), bytes.size());
}

// ---- the zotbin codec

void zotbin_encode() {
  Rooted data(*arg(0));
  zotbin::encode(&data.cell, arg(1)->logic_value(), stack::g_base);
}

// A binary! from its index, or the content of a file!; one value decoded
// gives that value, more give the block of them.
void zotbin_decode() {
  Rooted payload(*arg(0));
  if (payload.cell.is(T_FILE)) {
    actions::ReadOptions o;
    o.binary = true;
    payload = *simple_io::read(&payload.cell, o);
  }
  zotbin::decode_value(&payload.cell, stack::g_base);
}

// ---- system/state/GC: the collector's switch and its count of collections

void gc_active() { set_result_logic(collector::g_enabled); }
void gc_series_cycles() { set_result_integer(i32(collector::count())); }
// Node frames are never evacuated (nodes never move), so no node-frame cycle
// ever runs.
void gc_nodes_cycles() { set_result_integer(0); }

}  // namespace

void register_boot() {
  static bool done = false;
  if (done) return;
  done = true;
  const struct {
    const char* name;
    EntryFn fn;
  } entries[] = {
      {"quit-return", quit_return},
      {"set-quiet", set_quiet},
      {"set-slot-quiet", set_slot_quiet},
      {"shift-right", shift_right},
      {"shift-left", shift_left},
      {"shift-logical", shift_logical},
      {"last-lf?", last_lf},
      {"get-current-dir", get_current_dir},
      {"set-current-dir", set_current_dir},
      {"create-dir", create_dir},
      {"exists?", exists},
      {"as-color", as_color},
      {"as-ipv4", as_ipv4},
      {"as-rgba", as_ipv4},
      {"count-chars", count_chars},
      {"stack-size?", stack_size},
      {"pick-stack", pick_stack},
      {"frame-index?", frame_index},
      {"collect-calls", collect_calls},
      {"tracing?", tracing},
      {"read-clipboard", read_clipboard},
      {"write-clipboard", write_clipboard},
      {"write-stdout", write_stdout},
      {"zotbin-encode", zotbin_encode},
      {"zotbin-decode", zotbin_decode},
      {"gc-active?", gc_active},
      {"gc-series-cycles", gc_series_cycles},
      {"gc-nodes-cycles", gc_nodes_cycles},
  };
  for (const auto& e : entries) register_entry(e.name, e.fn);
  type_predicates::register_entries();
  start_up::register_entries();
}

}  // namespace zot::routines
