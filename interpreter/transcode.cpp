// The `transcode` native: text to values through the lexer, with the
// `<lexer-callback>` protocol for /trace.
#include <algorithm>
#include <iterator>
#include <string>

#include "datatypes/block.h"
#include "datatypes/pair.h"
#include "datatypes/series.h"
#include "datatypes/simple.h"
#include "datatypes/string.h"
#include "datatypes/system.h"
#include "datatypes/words.h"
#include "interpreter/eval.h"
#include "interpreter/event_words.h"
#include "interpreter/lexer.h"
#include "interpreter/natives.h"
#include "runtime/errors.h"
#include "runtime/stack.h"
#include "runtime/unicode.h"

namespace zot::natives {

namespace {

ZOT_INLINE Cell* base() { return stack::g_base; }

const interp::EventWord kEvents[] = {
    {lexer::EV_PRESCAN, w::prescan}, {lexer::EV_SCAN, w::scan},   {lexer::EV_LOAD, w::load},
    {lexer::EV_OPEN, w::open},       {lexer::EV_CLOSE, w::close}, {lexer::EV_ERROR, w::error},
};

// What the callback watches: the function, the input series and where its
// text starts in the bytes being scanned.
struct Watch {
  Cell callback;
  Cell input;            // string! or binary! at the scan's start
  const u8* text;        // first byte scanned
  bool chars;            // positions in characters (string! input)
};

// A byte position as a 0-based offset in the input's units.
u32 offset_of(const Watch& w, const u8* p) {
  return w.chars ? u32(unicode::count_utf8_chars(w.text, p)) : u32(p - w.text);
}

bool call_callback(void* data, lexer::State* st, lexer::Event ev, i32 type, const u8* start, const u8* end,
                   const Cell* value) {
  Watch& w = *static_cast<Watch*>(data);
  Cell fn = w.callback;
  // The input at the token's start (open, or a prescan of an untyped token) or end.
  bool at_start = ev == lexer::EV_OPEN || (ev == lexer::EV_PRESCAN && type <= 0);
  Cell input = w.input;
  const u32 given = u32(w.input.series_index()) + offset_of(w, at_start ? start : end);
  input.set_series_index(i32(given));
  Cell type_v;
  if (type > 0) {
    set_datatype(&type_v, u32(type));
  } else {
    // An untyped token: the word system/lexer/exit-states gives its class.
    set_none(&type_v);
    Cell states;
    if (type < 0 && sys::exit_states(&states)) {
      u32 at = u32(states.series_index()) + u32(-type - 1);
      const mem::Series* s = mem::series_of(states.series_node());
      if (at < s->length()) type_v = s->cells()[at];
    }
  }
  Cell line;
  set_integer(&line, st->line);
  Cell token;
  if (ev == lexer::EV_LOAD && value) {
    token = *value;
  } else {
    set_none(&token);
    pair::make_at(&token, i32(offset_of(w, start)) + 1, i32(offset_of(w, end)) + 1);
  }
  Cell ev_word;
  set_none(&ev_word);
  for (const auto& e : kEvents)
    if (e.event == ev) ev_word = *words::word(e.word);

  const Cell args[5] = {ev_word, input, type_v, line, token};
  Cell after[5];
  interp::CallbackOptions o;
  o.frame_word = words::word(w::tag_lexer_callback);
  o.callback_class = sys::kLexerCallback;
  o.args_after = after;
  const Cell answer = interp::call_callback(&fn, args, 5, o);
  const Cell moved = after[1];
  // A callback that moved the input's index resumes the scan there.
  const u32 from = u32(w.input.series_index());
  const bool same_input = is_any_series(moved.type()) && moved.series_node() == w.input.series_node();
  const u32 to = same_input ? u32(moved.series_index()) : given;
  if (to != given && to >= from) {
    u32 off = to - from;
    st->pos = w.chars ? unicode::skip_utf8_chars(w.text, st->in_end, off) : w.text + off;
    if (st->pos > st->in_end) st->pos = st->in_end;
  }
  return !logic::is_false(&answer);
}

// The events a callback wants: the words of a block its body starts with, else all.
u32 callback_mask(const Cell* fn) { return interp::requested_events(fn, kEvents, std::size(kEvents), 63); }

// refs: /next /one /prescan /scan /part length /into target /trace callback
void n_transcode(const i32* refs) {
  Cell src = base()[0];
  const bool next = refs[0] >= 0, one = refs[1] >= 0, prescan = refs[2] >= 0, scan_only = refs[3] >= 0;
  i32 total = series::total_length(&src);
  if (src.series_index() > total) src.set_series_index(total);
  i32 length = total - src.series_index();
  if (refs[4] >= 0) {
    Cell part = base()[refs[4]];
    if (part.is(T_INTEGER)) {
      length = std::clamp(part.int_value(), 0, length);
    } else {
      if (part.type() != src.type()) raise_error(Err::ScriptNotSameType);
      i32 at = std::clamp(part.series_index(), src.series_index(), total);
      length = at - src.series_index();
    }
  }
  // The bytes to scan (a copy: the input must not move while it is scanned).
  std::string bytes;
  const bool chars = src.is(T_STRING);
  if (chars) {
    Cell part = src;
    bytes = string::to_utf8(&part);
    const u8* p = reinterpret_cast<const u8*>(bytes.data());
    const u8* cut = unicode::skip_utf8_chars(p, p + bytes.size(), std::size_t(length));
    bytes.resize(std::size_t(cut - p));
  } else {
    mem::Series* s = mem::series_of(src.series_node());
    bytes.assign(reinterpret_cast<const char*>(s->head_ptr()) + src.series_index(), std::size_t(length));
    if (bytes.size() >= 3 && u8(bytes[0]) == 0xEF && u8(bytes[1]) == 0xBB && u8(bytes[2]) == 0xBF) {
      bytes.erase(0, 3);
      src.set_series_index(src.series_index() + 3);
    }
  }
  Watch watch{};
  lexer::Hook hook{};
  lexer::Options opt;
  opt.one = next || one || scan_only;
  opt.load = !prescan;
  opt.wrap = !scan_only;
  if (refs[6] >= 0) {
    Cell cb = base()[refs[6]];
    if (!cb.is(T_FUNCTION)) raise_error(Err::ScriptInvalidArg, &cb);
    watch = Watch{cb, src, reinterpret_cast<const u8*>(bytes.data()), chars};
    hook = lexer::Hook{call_callback, &watch, callback_mask(&cb)};
    opt.hook = &hook;
  }
  Cell* into = refs[5] >= 0 ? base() + refs[5] : nullptr;
  if (into && !opt.one) opt.into = into;
  Cell* out = stack::reserve_slot();
  set_none(out);
  u32 consumed = 0;
  i32 type = lexer::scan(out, reinterpret_cast<const u8*>(bytes.data()), u32(bytes.size()), opt, &consumed);
  Cell result;
  if (prescan || scan_only) {
    if (bytes.find_first_not_of(" \t\r\n") == std::string::npos) set_none(&result);
    else set_datatype(&result, u32(type));
  } else if (next) {
    Cell value = *out;
    Cell rest = src;
    const u32 scanned = chars ? u32(unicode::count_utf8_chars(reinterpret_cast<const u8*>(bytes.data()),
                                                              reinterpret_cast<const u8*>(bytes.data()) + consumed))
                              : consumed;
    rest.set_series_index(rest.series_index() + i32(scanned));
    block::make_at(&result, 2);
    *stack::reserve_slot() = result;
    block::append_cell(&result, &value);
    block::append_cell(&result, &rest);
  } else if (into) {
    if (opt.one) block::append_cell(into, out);
    result = *into;
  } else {
    result = *out;
  }
  *base() = result;
  stack::g_top = base() + 1;
}

}  // namespace

void register_transcode() {
  define_native(106,
                "transcode [src [string! binary!] /next /one /prescan /scan /part length [integer! string! binary!] "
                "/into target [block!] /trace callback [function!]]",
                n_transcode);
}

}  // namespace zot::natives
