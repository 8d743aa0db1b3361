// The parse engine: rule blocks with their alternatives, the keywords, the
// work stacks and the trace events. Matching one rule item against the
// input is in parse_match.cpp.
//
// Rules run by recursion over rule blocks, mirrored frame by frame on the rule
// stack (a block the collector marks and a trace callback sees). A run holds
// its input and rule blocks as (node, index) cells that the stacks root, and
// reads every element through its node again after anything that may
// allocate or run Zot code.
#include <algorithm>
#include <exception>
#include <vector>

#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/pair.h"
#include "datatypes/registry.h"
#include "datatypes/series.h"
#include "datatypes/simple.h"
#include "datatypes/triple.h"
#include "datatypes/system.h"
#include "interpreter/eval.h"
#include "interpreter/parse_engine.h"
#include "runtime/actions.h"
#include "runtime/errors.h"
#include "runtime/root.h"
#include "runtime/stack.h"
#include "runtime/symbol.h"

namespace zot::parse {

mem::Node g_inputs = 0;
mem::Node g_rules = 0;

namespace {

std::vector<u8> g_keywords;  // Keyword by canonical symbol id

// The cell at i of a rule block, false past its tail.
ZOT_INLINE bool item(const Cell& blk, u32 i, Cell* out) {
  const mem::Series* s = mem::series_of(blk.series_node());
  if (i >= s->length()) return false;
  *out = s->cells()[i];
  return true;
}
ZOT_INLINE bool exists(const Cell& blk, u32 i) { return i < mem::series_of(blk.series_node())->length(); }

ZOT_NORETURN void fail_with(Err e, const Cell& arg) {
  Cell a = arg;
  raise_error(e, &a);
}

// A cell kept on the argument stack (so the collector sees it) for a scope.
// An error unwinding through leaves the stack alone: it carries the error
// value on its top for the try that takes it.
struct Hold {
  Cell* top;
  Cell* slot;
  int unwinding = std::uncaught_exceptions();
  explicit Hold(const Cell& c) : top(stack::g_top), slot(stack::push(&c)) {}
  ~Hold() {
    if (std::uncaught_exceptions() == unwinding) stack::g_top = top;
  }
  Hold(const Hold&) = delete;
  Hold& operator=(const Hold&) = delete;
};

ZOT_INLINE bool is_keyword(Keyword kw) { return kw != kNoKeyword && kw < kOnly; }

// An optional modifier word (only, pick) before a keyword's argument: steps
// past it, to the argument in c; true when it was there.
bool modifier(Keyword kw, const Cell& blk, u32& i, Cell* c) {
  if (!c->is(T_WORD) || keyword_of(c) != kw) return false;
  const Cell m = *c;
  i++;
  if (!item(blk, i, c)) fail_with(Err::ScriptParseEnd, m);
  return true;
}

}  // namespace

// ---------------------------------------------------------------------------
// Keywords and set-up

void init_keywords() {
  const struct {
    w::Id word;
    Keyword kw;
  } list[] = {
      {w::bar, kBar},         {w::any, kAny},         {w::some, kSome},       {w::opt, kOpt},
      {w::while_, kWhileKw},  {w::to, kToKw},         {w::thru, kThruKw},     {w::skip, kSkip},
      {w::end, kEnd},         {w::none, kNone},       {w::fail, kFailKw},       {w::break_, kBreakKw},
      {w::reject, kRejectKw},   {w::not_, kNotKw},      {w::ahead, kAheadKw},   {w::quote, kQuote},
      {w::set, kSetKw},       {w::copy, kCopyKw},     {w::collect, kCollectKw}, {w::keep, kKeep},
      {w::into, kIntoKw},     {w::if_, kIf},          {w::case_, kCaseKw},    {w::insert, kInsert},
      {w::remove, kRemoveKw}, {w::change, kChangeKw}, {w::only, kOnly},       {w::pick, kPick},
      {w::after, kAfter},
  };
  for (const auto& k : list) {
    u32 id = symbol::resolve(words::sym(k.word));
    if (id >= g_keywords.size()) g_keywords.resize(id + 1, kNoKeyword);
    g_keywords[id] = k.kw;
  }
}

Keyword keyword_of(const Cell* word) {
  u32 id = symbol::resolve(word->word_symbol());
  return id < g_keywords.size() ? Keyword(g_keywords[id]) : kNoKeyword;
}

void init() {
  if (g_rules) return;
  Cell b;
  set_none(&b);
  block::make_at(&b, 8);
  root::append_copy(&b);
  g_inputs = b.series_node();
  block::make_at(&b, 100);
  root::append_copy(&b);
  g_rules = b.series_node();
  init_keywords();
}

// ---------------------------------------------------------------------------
// The work stacks

u32 Engine::push_frame(const Cell* cells, u32 n) {
  mem::Series* s = mem::series_of(g_rules);
  const u32 len = s->length();
  if (len + n >= kWorkLimit) raise_error(Err::ScriptParseStack);
  const u32 bytes = n * u32(sizeof(Cell));
  Cell* to;
  if (s->room() >= bytes) {
    to = s->cells_tail();
    s->tail += bytes;
  } else {
    // The cells hold only values that something else roots while this allocates.
    to = reinterpret_cast<Cell*>(mem::alloc_tail_bytes(g_rules, bytes));
  }
  for (u32 k = 0; k < n; k++) to[k] = cells[k];
  return len;
}

void Engine::pop_frame(u32 n) { mem::series_of(g_rules)->tail -= n * u32(sizeof(Cell)); }

namespace {

// A keyword frame: the saved cell, the position, the command.
void keyword_frame(Cell* f, const Cell* first, u32 rule_index, u32 pos, u32 remaining, Command code, i32 flag) {
  if (first) f[0] = *first;
  else triple::make_at(&f[0], 0, 0, 0);
  triple::make_at(&f[1], i32(rule_index), i32(pos), i32(remaining));
  make_cell(&f[2], T_PAIR, 0, u32(code), u32(flag));
}

}  // namespace

// Pushes a keyword frame for the command whose rule is at j, and tells the callback.
u32 Engine::open_keyword(Command code, const Cell* first, const Cell& blk, u32 j, i32 flag) {
  Cell frame[kKeywordFrame];
  keyword_frame(frame, first, j, pos, u32(input_length()) - pos, code, flag);
  const u32 f = push_frame(frame, kKeywordFrame);
  if (ZOT_UNLIKELY(traced)) fire(w::push, blk, j);
  return f;
}

// Ends the innermost keyword frame with the command's result.
Status Engine::close_keyword(Status st, const Cell& blk, u32 i) {
  match = st == kMatch || st == kBreak;
  if (ZOT_UNLIKELY(traced)) fire(w::pop, blk, i);
  pop_frame(kKeywordFrame);
  return st;
}

// A rule block entered again at the same input position while it is still
// running would recurse for ever.
void Engine::check_recursion(const Cell& block) {
  const u32 remaining = u32(input_length()) - pos;
  u32 k = work_length(g_rules);
  const Cell* cells = work_cell(g_rules, 0);
  while (k > rule_base) {
    const Cell& last = cells[k - 1];
    if (last.is(T_PAIR)) {
      if (pair::x_of(&last) == kInto) return;  // the frames below match another input
      k -= kKeywordFrame;
      continue;
    }
    const Cell& at = cells[k - 2];
    if (last.series_node() == block.series_node() && last.series_index() == block.series_index() &&
        u32(at.triple_second()) == pos && u32(at.triple_third()) == remaining)
      fail_with(Err::ScriptParseInfinite, block);
    k -= kBlockFrame;
  }
}

// ---------------------------------------------------------------------------
// Values that the rules name

Cell Engine::lookup(const Cell& word) {
  Cell v = *context::get(&word);
  if (v.is(T_UNSET)) fail_with(Err::ScriptNoValue, word);
  return v;
}

void Engine::set_word(const Cell& word, const Cell& value) {
  Hold h(value);
  Cell w = word;
  context::set(&w, h.slot);  // an object's change handler may run here
  effects++;
  refresh();
}

Cell Engine::eval_paren(const Cell& paren) {
  Cell v = interp::do_block(&paren);
  effects++;
  refresh();
  return v;
}

// The value argument of insert and change: a paren evaluated, a word looked up.
Cell Engine::argument_value(const Cell& item, const Cell& blk, u32 i) {
  switch (item.type()) {
    case T_PAREN: {
      Cell v = eval_paren(item);
      if (ZOT_UNLIKELY(traced)) {
        Hold h(v);
        fire(w::paren, blk, i);
        return *h.slot;
      }
      return v;
    }
    case T_WORD:
      return lookup(item);
    case T_GET_WORD:
      return *context::get(&item);
    case T_PATH: case T_SET_PATH: case T_GET_PATH: case T_LIT_PATH:
      fail_with(Err::ScriptParseRule, item);
    case T_LIT_WORD: {
      Cell v = item;
      set_type(&v, T_WORD);
      return v;
    }
    default:
      return item;
  }
}

// ---------------------------------------------------------------------------
// Events

void Engine::fire(w::Id event, const Cell& blk, u32 i) {
  Cell args[5];
  args[0] = *words::word(event);
  set_logic(&args[1], match);
  args[2] = blk;
  set_type(&args[2], T_BLOCK);
  args[2].set_series_index(i32(i));
  args[3] = input;
  args[3].set_series_index(i32(pos));
  // The callback gets a copy of the run's frames: changing it cannot upset the run.
  const u32 n = work_length(g_rules) - rule_base;
  Hold frames(datatype::g_none);
  block::make_at(frames.slot, i32(n));
  u8* dst = mem::alloc_tail_bytes(frames.slot->series_node(), n * u32(sizeof(Cell)));
  std::memcpy(dst, work_cell(g_rules, rule_base), n * sizeof(Cell));
  args[4] = *frames.slot;
  effects++;
  Cell answer = interp::call_callback(&callback, words::word(w::tag_parse_callback), args, 5, sys::kParseCallback);
  refresh();
  if (logic::is_false(&answer)) throw Stop{};
}

// ---------------------------------------------------------------------------
// Rule blocks

namespace {

// Whether the cell is a rule item that rule() hands to terminal() as it is.
ZOT_INLINE bool literal_terminal(const Cell& c) {
  switch (c.type()) {
    case T_WORD: case T_BLOCK: case T_PAREN: case T_SET_WORD: case T_GET_WORD: case T_INTEGER:
      return false;
    default:
      return true;
  }
}

// A block of alternatives that are each one literal terminal ([#"," | #"^/"]),
// matched in place: it runs no rule of its own, so it can neither recurse
// nor need a frame while no trace watches. False when the block is not
// that simple.
bool literal_alternatives(Engine& e, const Cell& block, Status* st) {
  const mem::Series* s = mem::series_of(block.series_node());
  const u32 from = u32(block.series_index()), to = s->length();
  if (from >= to) return false;
  for (u32 i = from; i < to; i += 2) {
    if (!literal_terminal(s->cells()[i])) return false;
    if (i + 1 < to) {
      const Cell& bar = s->cells()[i + 1];
      if (!bar.is(T_WORD) || keyword_of(&bar) != kBar || i + 2 >= to) return false;
    }
  }
  for (u32 i = from; i < to; i += 2) {
    // A terminal reads the rule block only before it raises or answers.
    const Cell key = mem::series_of(block.series_node())->cells()[i];
    const i32 n = e.terminal_at(e.pos, key, false);
    if (n >= 0) {
      e.pos += u32(n);
      e.match = true;
      *st = kMatch;
      return true;
    }
  }
  e.match = false;
  *st = kFail;
  return true;
}

}  // namespace

Status Engine::rules(const Cell& block) {
  if (!traced) {
    Status st;
    if (literal_alternatives(*this, block, &st)) return st;
  }
  check_recursion(block);
  const u32 start = pos;
  Cell frame[kBlockFrame];
  triple::make_at(&frame[0], block.series_index(), i32(pos), input_length() - i32(pos));
  frame[1] = block;
  const u32 f = push_frame(frame, kBlockFrame);
  u32 i = u32(block.series_index());
  if (ZOT_UNLIKELY(traced)) fire(w::push, block, i);
  Status st = kMatch;
  Cell c;
  while (item(block, i, &c)) {
    if (c.is(T_WORD) && keyword_of(&c) == kBar) break;  // this alternative matched
    if (ZOT_UNLIKELY(traced)) work_cell(g_rules, f)->set_triple_first(i32(i));
    st = rule(block, i);
    if (st == kMatch) continue;
    if (st != kFail) break;
    // The next alternative, from where this block began.
    bool found = false;
    while (item(block, i, &c)) {
      i++;
      if (!c.is(T_WORD)) continue;
      Keyword kw = keyword_of(&c);
      if (kw == kBar) {
        found = true;
        break;
      }
      if (kw == kQuote) i++;  // its argument is a value, never a bar
    }
    if (!found) break;
    pos = start;
    match = true;
    st = kMatch;
  }
  if (st == kFail || st == kReject) pos = start;
  match = st == kMatch || st == kBreak;
  if (ZOT_UNLIKELY(traced)) fire(w::pop, block, i);
  pop_frame(kBlockFrame);
  return st;
}

// One rule item at i with its arguments; i moves past them (also on failure).
Status Engine::rule(const Cell& blk, u32& i) {
  Cell c;
  if (!item(blk, i, &c)) {
    Cell here = blk;
    here.set_series_index(i32(i));
    fail_with(Err::ScriptParseEnd, here);
  }
  if (ZOT_UNLIKELY(traced)) fire(w::fetch, blk, i);
  switch (c.type()) {
    case T_WORD: {
      Keyword kw = keyword_of(&c);
      if (is_keyword(kw)) return keyword(kw, c, blk, i);
      return word_value(lookup(c), c, blk, i);
    }
    case T_BLOCK:
      i++;
      return rules(c);
    case T_PAREN: {
      i++;
      eval_paren(c);
      if (ZOT_UNLIKELY(traced)) fire(w::paren, blk, i - 1);
      return kMatch;
    }
    case T_SET_WORD: {
      i++;
      Cell here = input;
      here.set_series_index(i32(pos));
      set_word(c, here);
      return kMatch;
    }
    case T_GET_WORD: {
      i++;
      Cell v = *context::get(&c);
      if (!is_any_series(v.type()) || v.series_node() != input.series_node()) raise_error(Err::ScriptParseInvalidRef);
      pos = u32(v.series_index());
      refresh();
      return kMatch;
    }
    case T_INTEGER:
      return count(c.int_value(), c, blk, i);
    default:
      i++;
      return terminal(c, false, blk, i - 1);
  }
}

// A word's value used as the rule (i at the word).
Status Engine::word_value(const Cell& value, const Cell& word, const Cell& blk, u32& i) {
  switch (value.type()) {
    case T_INTEGER:
      return count(value.int_value(), word, blk, i);
    case T_BLOCK:
      i++;
      return rules(value);
    default:
      i++;
      return terminal(value, false, blk, i - 1);
  }
}

namespace {

// The count of a repetition: an integer, or a word that holds one.
bool count_value(Engine& e, const Cell& c, i32* n) {
  if (c.is(T_INTEGER)) {
    *n = c.int_value();
    return true;
  }
  if (!c.is(T_WORD) || is_keyword(keyword_of(&c))) return false;
  Cell v = e.lookup(c);
  if (!v.is(T_INTEGER)) return false;
  *n = v.int_value();
  return true;
}

}  // namespace

// n, or n m, then the rule (i at the count).
Status Engine::count(i32 n, const Cell& at, const Cell& blk, u32& i) {
  if (n < 0) {
    Cell v;
    set_integer(&v, n);
    raise_error(Err::ScriptOutOfRange, &v);
  }
  i++;
  Cell c;
  if (!item(blk, i, &c)) fail_with(Err::ScriptParseRule, at);
  i32 max = n, m;
  if (count_value(*this, c, &m)) {
    if (m < n) fail_with(Err::ScriptParseRule, c);
    max = m;
    i++;
    if (!exists(blk, i)) fail_with(Err::ScriptParseRule, c);
  }
  if (max == 0) {
    i = extent(blk, i);
    match = true;
    return kMatch;
  }
  return repeat(n, max, kRepeat, blk, i);
}

// Repeats the rule at i from min to max times (-1: no bound).
Status Engine::repeat(i32 min, i32 max, Command code, const Cell& blk, u32& i) {
  if (!exists(blk, i)) {  // a repetition at the end of its block succeeds
    match = true;
    return kMatch;
  }
  const u32 j = i;
  const u32 start = pos;
  if (!traced) {
    // A literal, bitset or datatype repeats in one loop.
    Cell key;
    bool skip;
    if (simple_key(blk, j, &key, &skip)) {
      i = j + 1;
      i32 n = skip ? -1 : run_of(key, max);
      if (n >= 0) {
        pos += u32(n);
      } else {
        n = 0;
        while (max < 0 || n < max) {
          i32 len = skip ? (pos < tail ? 1 : -1) : terminal_at(pos, key, false);
          if (len < 0) break;
          pos += u32(len);
          n++;
          if (len == 0) {
            if (code == kRepeat) break;
            Cell here = blk;
            here.set_series_index(i32(j));
            fail_with(Err::ScriptParseInfinite, here);
          }
        }
      }
      match = n >= min;
      if (!match) pos = start;
      return match ? kMatch : kFail;
    }
  }
  Cell bounds;
  triple::make_at(&bounds, min, max, 1);
  const u32 f = open_keyword(code, &bounds, blk, j);
  i32 n = 0;
  u32 k = j;
  Status result;
  for (;;) {
    if (max >= 0 && n >= max) {
      result = n >= min ? kMatch : kFail;
      break;
    }
    const u32 save = pos;
    const u32 save_remaining = u32(input_length()) - pos;
    const u32 seen = effects;
    k = j;
    Status st = rule(blk, k);
    if (st == kBreak) {
      result = kMatch;
      break;
    }
    if (st == kReject) {
      result = kFail;
      break;
    }
    if (st == kFail) {
      pos = save;
      result = n >= min ? kMatch : kFail;
      break;
    }
    n++;
    Cell* fc = work_cell(g_rules, f);
    fc[0].set_triple_third(n + 1);
    fc[1].set_triple_second(i32(pos));
    fc[1].set_triple_third(input_length() - i32(pos));
    // Progress is a move of the position or a change of what is left after it.
    if (pos == save && u32(input_length()) - pos == save_remaining) {
      if (code == kRepeat) {
        result = n >= min ? kMatch : kFail;
        break;
      }
      // `while` without progress and with nothing else going on would never end.
      if (effects == seen) {
        Cell here = blk;
        here.set_series_index(i32(j));
        fail_with(Err::ScriptParseInfinite, here);
      }
    }
    if (ZOT_UNLIKELY(traced)) fire(w::iterate, blk, j);
  }
  i = k;
  if (result == kFail) pos = start;
  return close_keyword(result, blk, k);
}

// ---------------------------------------------------------------------------
// Keywords

Status Engine::keyword(Keyword kw, const Cell& word, const Cell& blk, u32& i) {
  switch (kw) {
    case kAny:
      i++;
      return repeat(0, -1, kRepeat, blk, i);
    case kSome:
      i++;
      return repeat(1, -1, kRepeat, blk, i);
    case kOpt:
      i++;
      return repeat(0, 1, kRepeat, blk, i);
    case kWhileKw:
      i++;
      if (!exists(blk, i)) fail_with(Err::ScriptParseEnd, word);
      return repeat(0, -1, kWhile, blk, i);
    case kToKw:
    case kThruKw:
      return to_thru(kw == kThruKw, word, blk, i);
    case kSkip: {
      i++;
      match = pos < tail;
      if (match) pos++;
      if (ZOT_UNLIKELY(traced)) fire(w::match, blk, i - 1);
      return match ? kMatch : kFail;
    }
    case kEnd:
      i++;
      match = pos >= tail;
      if (ZOT_UNLIKELY(traced)) fire(w::match, blk, i - 1);
      return match ? kMatch : kFail;
    case kNone:
      i++;
      match = true;
      return kMatch;
    case kFailKw:
      i++;
      match = false;
      return kFail;
    case kBreakKw:
      i++;
      match = true;
      return kBreak;
    case kRejectKw:
      i++;
      match = false;
      return kReject;
    case kNotKw:
    case kAheadKw: {
      i++;
      if (!exists(blk, i)) fail_with(Err::ScriptParseEnd, word);
      const u32 start = pos;
      open_keyword(kw == kNotKw ? kNot : kAhead, nullptr, blk, i);
      Status st = rule(blk, i);
      if (kw == kNotKw) {
        if (st == kMatch) st = kFail;
        else if (st == kFail) st = kMatch;
        pos = start;
      } else if (st == kMatch) {
        pos = start;
      }
      return close_keyword(st, blk, i);
    }
    case kQuote: {
      i++;
      Cell c;
      if (!item(blk, i, &c)) fail_with(Err::ScriptParseEnd, word);
      i++;
      return terminal(c, true, blk, i - 1);
    }
    case kSetKw:
    case kCopyKw:
      return set_copy(kw == kCopyKw, word, blk, i);
    case kCollectKw:
      return collect(word, blk, i);
    case kKeep:
      return keep(word, blk, i);
    case kIntoKw:
      return into(word, blk, i);
    case kIf: {
      i++;
      Cell c;
      if (!item(blk, i, &c) || !c.is(T_PAREN)) fail_with(Err::ScriptParseEnd, word);
      i++;
      Cell v = eval_paren(c);
      match = !logic::is_false(&v);
      if (ZOT_UNLIKELY(traced)) fire(w::paren, blk, i - 1);
      return match ? kMatch : kFail;
    }
    case kCaseKw: {
      i++;
      Cell c;
      if (!item(blk, i, &c)) fail_with(Err::ScriptParseEnd, word);
      if (!c.is(T_WORD)) fail_with(Err::ScriptParseRule, c);
      Cell v = lookup(c);
      i++;
      if (!exists(blk, i)) fail_with(Err::ScriptParseEnd, c);
      const i32 saved = case_op;
      case_op = logic::is_false(&v) ? actions::kEqual : actions::kStrictEqual;
      open_keyword(kCase, nullptr, blk, i);
      Status st = rule(blk, i);
      case_op = saved;
      return close_keyword(st, blk, i);
    }
    case kInsert:
      return insert(word, blk, i);
    case kRemoveKw:
      return remove(word, blk, i);
    case kChangeKw:
      return change(word, blk, i);
    default:  // a bar where a rule is needed
      fail_with(Err::ScriptParseRule, word);
  }
}

Status Engine::to_thru(bool thru, const Cell& word, const Cell& blk, u32& i) {
  i++;
  Cell c;
  if (!item(blk, i, &c)) fail_with(Err::ScriptParseEnd, word);
  const u32 j = i;
  if (c.is(T_WORD) && keyword_of(&c) == kEnd) {
    i++;
    pos = tail;
    match = true;
    if (ZOT_UNLIKELY(traced)) fire(w::match, blk, j);
    return kMatch;
  }
  if (!traced) {
    // Literal targets and blocks of literal alternatives are searched directly.
    Cell key;
    bool skip;
    i32 at = -1;
    u32 len = 0;
    bool direct = simple_key(blk, j, &key, &skip);
    if (direct) {
      at = search(key, skip, &len);
    } else {
      Cell target = c;
      if (c.is(T_WORD) && !is_keyword(keyword_of(&c))) target = lookup(c);
      direct = target.is(T_BLOCK) && search_alternatives(target, &at, &len);
    }
    if (direct) {
      i = j + 1;
      match = at >= 0;
      if (!match) return kFail;
      pos = thru ? u32(at) + len : u32(at);
      return kMatch;
    }
  }
  open_keyword(thru ? kThru : kTo, nullptr, blk, j);
  const u32 start = pos;
  Status result = kFail;
  u32 k = j;
  for (u32 p = start; p <= tail; p++) {
    pos = p;
    k = j;
    Status st = rule(blk, k);
    if (st == kMatch) {
      if (!thru) pos = p;
      result = kMatch;
      break;
    }
    if (st != kFail) {
      result = st;
      break;
    }
  }
  if (result == kFail) pos = start;
  i = k;
  return close_keyword(result, blk, k);
}

Status Engine::set_copy(bool copy, const Cell& word, const Cell& blk, u32& i) {
  i++;
  Cell target;
  if (!item(blk, i, &target)) fail_with(Err::ScriptParseEnd, word);
  if (!target.is(T_WORD)) fail_with(Err::ScriptParseRule, target);
  i++;
  if (!exists(blk, i)) fail_with(Err::ScriptParseEnd, target);
  const u32 start = pos;
  Cell here = input;
  here.set_series_index(i32(start));
  open_keyword(copy ? kCopy : kSet, &here, blk, i);
  Status st = rule(blk, i);
  if (st == kMatch) {
    Cell v;
    if (copy) v = copy_part(start, pos);
    else if (pos > start) v = item_value(start);
    else set_none(&v);
    set_word(target, v);
  }
  return close_keyword(st, blk, i);
}

namespace {
enum CollectMode : i32 { kCollectPlain = 0, kCollectSet = 1, kCollectInto = 2, kCollectAfter = 3 };
}

Status Engine::collect(const Cell& word, const Cell& blk, u32& i) {
  i++;
  Cell c;
  if (!item(blk, i, &c)) fail_with(Err::ScriptParseEnd, word);
  i32 mode = kCollectPlain;
  Cell target_word;
  Cell next;
  if (c.is(T_WORD) && item(blk, i + 1, &next) && next.is(T_WORD)) {
    switch (keyword_of(&c)) {
      case kSetKw: mode = kCollectSet; break;
      case kIntoKw: mode = kCollectInto; break;
      case kAfter: mode = kCollectAfter; break;
      default: break;
    }
    if (mode != kCollectPlain) {
      target_word = next;
      i += 2;
      if (!exists(blk, i)) fail_with(Err::ScriptParseEnd, target_word);
    }
  }
  Cell first;
  set_none(&first);
  if (mode == kCollectInto || mode == kCollectAfter) {
    first = lookup(target_word);
    u32 t = first.type();
    if (!is_any_series(t)) raise_error(Err::ScriptParseIntoBad);
  }
  Hold target(first);
  if (mode == kCollectPlain || mode == kCollectSet) block::make_at(target.slot, 8);
  const u32 f = open_keyword(kCollect, target.slot, blk, i, mode);
  const i32 outer = collect_frame;
  collect_frame = i32(f);
  Status st = rule(blk, i);
  collect_frame = outer;
  // The collected block stays in the frame (rooted) until it is placed.
  Cell made = *work_cell(g_rules, f);
  switch (mode) {
    case kCollectSet:
    case kCollectAfter:
      set_word(target_word, made);
      break;
    case kCollectInto:
      break;
    default:
      if (outer >= 0) keep_value(made, false);
      else result = made;
  }
  return close_keyword(st, blk, i);
}

// Adds a value to the innermost collect: its new block, or its into/after target.
void Engine::keep_value(const Cell& value, bool pick) {
  if (pick && is_any_block(value.type())) {
    Hold h(value);
    for (u32 k = u32(value.series_index()); k < mem::series_of(value.series_node())->length(); k++) {
      Cell e = mem::series_of(value.series_node())->cells()[k];
      keep_value(e, false);
    }
    return;
  }
  const u32 f = u32(collect_frame);
  Cell target = *work_cell(g_rules, f);
  const i32 mode = pair::y_of(&work_cell(g_rules, f)[2]);
  if (mode == kCollectPlain || mode == kCollectSet) {
    block::append_cell(&target, &value);
    return;
  }
  const u32 tt = target.type();
  const u32 vt = value.type();
  bool fits;
  if (is_any_block(tt)) fits = true;
  else if (is_any_string(tt)) fits = vt == T_CHAR || is_any_string(vt);
  else if (tt == T_BINARY) fits = vt == T_CHAR || vt == T_INTEGER || vt == T_BINARY || is_any_string(vt);
  else fits = false;
  if (!fits) raise_error(Err::ScriptParseIntoType);
  Hold h(value);
  actions::lookup<actions::kInsert>(tt)(&target, h.slot, {.only = true});
  // Later values go after this one.
  work_cell(g_rules, f)->set_series_index(target.series_index());
  effects++;
  refresh();
}

Status Engine::keep(const Cell& word, const Cell& blk, u32& i) {
  if (collect_frame < 0) raise_error(Err::ScriptParseKeep);
  i++;
  Cell c;
  if (!item(blk, i, &c)) fail_with(Err::ScriptParseEnd, word);
  const bool pick = modifier(kPick, blk, i, &c);
  if (c.is(T_PAREN)) {
    i++;
    Hold v(eval_paren(c));
    if (ZOT_UNLIKELY(traced)) fire(w::paren, blk, i - 1);
    keep_value(*v.slot, pick);
    match = true;
    return kMatch;
  }
  const u32 start = pos;
  const u32 f = open_keyword(kKeepRule, nullptr, blk, i, pick ? 1 : 0);
  Status st = rule(blk, i);
  if (st == kMatch && pos > start) {
    const u32 end = pos;
    if (pick) {
      for (u32 p = start; p < end && p < u32(input_length()); p++) keep_value(item_value(p), false);
    } else if (end - start == 1) {
      keep_value(item_value(start), false);
    } else {
      Cell v = copy_part(start, end);
      *work_cell(g_rules, f) = v;  // rooted by the frame while it is kept
      keep_value(v, false);
    }
    pos = end <= u32(input_length()) ? end : u32(input_length());
    refresh();
  }
  return close_keyword(st, blk, i);
}

Status Engine::into(const Cell& word, const Cell& blk, u32& i) {
  i++;
  if (!exists(blk, i)) fail_with(Err::ScriptParseEnd, word);
  if (kind != kBlockInput) {
    Cell here = input;
    here.set_series_index(i32(pos));
    fail_with(Err::ScriptParseBlock, here);
  }
  const u32 j = i;
  Cell sub;
  if (pos < tail) sub = item_value(pos);
  else set_none(&sub);
  const u32 t = sub.type();
  if (!is_any_block(t) && !is_any_string(t) && t != T_BINARY) {
    i = extent(blk, j);
    match = false;
    if (ZOT_UNLIKELY(traced)) fire(w::match, blk, j);
    return kFail;
  }
  const u32 depth = work_length(g_inputs);
  if (depth + 1 >= kWorkLimit) raise_error(Err::ScriptParseStack);
  *mem::alloc_tail_cell(g_inputs) = sub;
  const Cell outer = input;
  const u32 outer_pos = pos;
  const i32 outer_limit = limit;
  const InputKind outer_kind = kind;
  open_keyword(kInto, nullptr, blk, j);
  enter_input(sub);
  Status st = rule(blk, i);
  const bool whole = st == kMatch && pos == tail;
  input = outer;
  pos = outer_pos;
  limit = outer_limit;
  kind = outer_kind;
  refresh();
  mem::series_of(g_inputs)->tail -= u32(sizeof(Cell));
  if (st == kMatch || st == kFail) {
    st = whole ? kMatch : kFail;
    if (whole && pos < tail) pos++;
  }
  return close_keyword(st, blk, i);
}

Status Engine::insert(const Cell& word, const Cell& blk, u32& i) {
  i++;
  Cell c;
  if (!item(blk, i, &c)) fail_with(Err::ScriptParseEnd, word);
  const bool only = modifier(kOnly, blk, i, &c);
  u32 at = pos;
  // A word holding a position in the input says where.
  if ((c.is(T_WORD) && !is_keyword(keyword_of(&c))) || c.is(T_GET_WORD)) {
    Cell v = *context::get(&c);
    if (is_any_series(v.type()) && v.series_node() == input.series_node()) {
      Cell next;
      if (!item(blk, i + 1, &next)) fail_with(Err::ScriptParseRule, c);
      at = std::min(u32(v.series_index()), u32(input_length()));
      i++;
      c = next;
    }
  }
  Hold value(argument_value(c, blk, i));
  i++;
  if (at > u32(input_length())) at = u32(input_length());
  Cell target = input;
  target.set_series_index(i32(at));
  const i32 before = input_length();
  actions::lookup<actions::kInsert>(input.type())(&target, value.slot, {.only = only});
  const i32 delta = input_length() - before;
  if (at <= pos) pos += u32(delta);
  adjust_limit(at, delta);
  effects++;
  refresh();
  match = true;
  return kMatch;
}

Status Engine::change(const Cell& word, const Cell& blk, u32& i) {
  i++;
  Cell c;
  if (!item(blk, i, &c)) fail_with(Err::ScriptParseEnd, word);
  const bool only = modifier(kOnly, blk, i, &c);
  const u32 start = pos;
  open_keyword(only ? kChangeOnly : kChange, nullptr, blk, i);
  Status st = rule(blk, i);
  Cell vi;
  if (!item(blk, i, &vi)) fail_with(Err::ScriptParseEnd, word);
  i++;
  if (st == kMatch) {
    const u32 end = pos;
    Hold value(argument_value(vi, blk, i - 1));
    u32 from = start <= u32(input_length()) ? start : u32(input_length());
    Cell target = input;
    target.set_series_index(i32(from));
    const i32 count = end > from ? i32(end - from) : 0;
    const i32 before = input_length();
    actions::lookup<actions::kChange>(input.type())(&target, value.slot, {.part = count, .only = only});
    adjust_limit(from, input_length() - before);
    pos = u32(target.series_index());
    effects++;
    refresh();
  }
  return close_keyword(st, blk, i);
}

Status Engine::remove(const Cell& word, const Cell& blk, u32& i) {
  i++;
  if (!exists(blk, i)) fail_with(Err::ScriptParseEnd, word);
  const u32 start = pos;
  open_keyword(kRemove, nullptr, blk, i);
  Status st = rule(blk, i);
  if (st == kMatch && pos > start) {
    Cell target = input;
    target.set_series_index(i32(start));
    Cell part;
    set_integer(&part, i32(pos - start));
    auto fn = actions::get<actions::kRemove>(input.type());
    if (!fn) fn = series::remove;
    fn(&target, &part, nullptr);
    adjust_limit(start, -i32(pos - start));
    pos = start;
    effects++;
    refresh();
  }
  return close_keyword(st, blk, i);
}

// ---------------------------------------------------------------------------
// Skipping a rule without running it

namespace {

// A count word's value, without raising for words that have none.
bool peek_count(const Cell& c) {
  if (c.is(T_INTEGER)) return true;
  if (!c.is(T_WORD) || is_keyword(keyword_of(&c)) || !c.word_resolved()) return false;
  const Cell* v = context::value_at(c.word_context(), u32(c.word_index()));
  return v && v->is(T_INTEGER);
}

}  // namespace

u32 Engine::extent(const Cell& blk, u32 i) {
  Cell c;
  if (!item(blk, i, &c)) return i;
  if (peek_count(c)) {
    u32 j = i + 1;
    Cell n;
    if (item(blk, j, &n) && peek_count(n)) j++;
    return extent(blk, j);
  }
  if (!c.is(T_WORD)) return i + 1;
  Cell n;
  switch (keyword_of(&c)) {
    case kAny: case kSome: case kOpt: case kWhileKw: case kToKw: case kThruKw: case kNotKw: case kAheadKw:
    case kRemoveKw: case kIntoKw:
      return extent(blk, i + 1);
    case kQuote: case kIf:
      return i + 2;
    case kSetKw: case kCopyKw: case kCaseKw:
      return extent(blk, i + 2);
    case kCollectKw: {
      u32 j = i + 1;
      if (item(blk, j, &n) && n.is(T_WORD)) {
        Keyword m = keyword_of(&n);
        Cell t;
        if ((m == kSetKw || m == kIntoKw || m == kAfter) && item(blk, j + 1, &t) && t.is(T_WORD)) j += 2;
      }
      return extent(blk, j);
    }
    case kKeep: {
      u32 j = i + 1;
      if (item(blk, j, &n) && n.is(T_WORD) && keyword_of(&n) == kPick) j++;
      if (item(blk, j, &n) && n.is(T_PAREN)) return j + 1;
      return extent(blk, j);
    }
    case kInsert: {
      u32 j = i + 1;
      if (item(blk, j, &n) && n.is(T_WORD) && keyword_of(&n) == kOnly) j++;
      if (item(blk, j, &n) && ((n.is(T_WORD) && !is_keyword(keyword_of(&n)) && n.word_resolved()) ||
                               n.is(T_GET_WORD))) {
        const Cell* v = n.word_resolved() ? context::value_at(n.word_context(), u32(n.word_index())) : nullptr;
        if (v && is_any_series(v->type()) && v->series_node() == input.series_node() && exists(blk, j + 1)) j++;
      }
      return j + 1;
    }
    case kChangeKw: {
      u32 j = i + 1;
      if (item(blk, j, &n) && n.is(T_WORD) && keyword_of(&n) == kOnly) j++;
      return extent(blk, j) + 1;
    }
    default:
      return i + 1;
  }
}

// ---------------------------------------------------------------------------
// A run

Cell run(const Cell* input_in, const Cell* rules_in, const Options& opt) {
  const Cell input = *input_in, rules = *rules_in;
  // Each run works above the frames of the runs it is nested in, and gives
  // the stacks back as it found them however it ends.
  struct Depths {
    u32 inputs = work_length(g_inputs);
    u32 rules = work_length(g_rules);
    ~Depths() {
      mem::Series* in = mem::series_of(g_inputs);
      in->tail = in->head + inputs * u32(sizeof(Cell));
      mem::Series* ru = mem::series_of(g_rules);
      ru->tail = ru->head + rules * u32(sizeof(Cell));
    }
  } depths;
  Engine e;
  e.input_base = depths.inputs;
  e.rule_base = depths.rules;
  e.case_op = opt.case_sensitive ? actions::kStrictEqual : actions::kEqual;
  if (opt.callback) {
    e.callback = *opt.callback;
    e.traced = true;
  }
  if (depths.inputs + 1 >= kWorkLimit) raise_error(Err::ScriptParseStack);
  *mem::alloc_tail_cell(g_inputs) = input;
  e.enter_input(input);
  e.limit = opt.limit;
  e.refresh();
  bool result;
  try {
    Status st = e.rules(rules);
    e.match = (st == kMatch || st == kBreak) && e.pos == e.tail;
    result = e.match;
    if (e.traced) e.fire(w::end, rules, mem::series_of(rules.series_node())->length());
  } catch (const Stop&) {
    result = e.match;
  }
  if (!e.result.is(T_UNSET)) return e.result;
  Cell r;
  set_logic(&r, result);
  return r;
}

}  // namespace zot::parse
