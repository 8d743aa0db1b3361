#include "datatypes/context.h"

#include <algorithm>
#include <vector>

#include "datatypes/block.h"
#include "datatypes/object.h"
#include "datatypes/words.h"
#include "runtime/collector.h"
#include "runtime/cycles.h"
#include "runtime/errors.h"
#include "runtime/hashtable.h"
#include "runtime/root.h"
#include "runtime/stack.h"
#include "runtime/symbol.h"

namespace zot::context {

Node g_global = 0;

namespace {

ZOT_INLINE Node words_of(Node ctx) { return Node(hashtable::record(table_of(ctx))->block); }

void append_unset_value(Node ctx) {
  if (!on_stack(ctx)) set_unset(mem::alloc_tail_cell(ctx_cell(ctx)->context_values()));
}

}  // namespace

Node words_node(Node ctx) { return words_of(ctx); }
u32 word_count(Node ctx) { return mem::series_of(words_of(ctx))->length(); }
Cell* word_at(Node ctx, u32 index) { return mem::series_of(words_of(ctx))->cells() + index; }

namespace {
void mark_global() { collector::mark_context(g_global); }
}  // namespace

void init_global(u32 slots) {
  if (!g_global) g_global = create(slots, false, false, nullptr, kGlobal);
  collector::add_root_callback(mark_global);
}

Node create(u32 slots, bool stack, bool self, const Cell* word_block, u32 kind) {
  if (slots == 0) slots = 1;
  // The context holds each part as soon as it is made, and is held itself.
  RootedNode ctx(mem::alloc_cells(2));
  {
    mem::Series* s = mem::series_of(ctx);
    set_unset(s->cells());
    set_unset(s->cells() + 1);
    s->tail = 2 * sizeof(Cell);
  }
  u32 header = T_CONTEXT | (kind << kKindShift) | (self ? kHasSelf : 0) | (stack ? kStackValues : 0);
  Node table = hashtable::init(slots, word_block, 2, 1);
  make_cell(ctx_cell(ctx), header, table, 0, 0);
  if (!stack) {
    Node values = mem::alloc_cells(slots);
    ctx_cell(ctx)->set_context_values(values);
  }
  return ctx;
}

Node make(const Cell* spec, bool stack, bool self, u32 kind) {
  Rooted sp = *spec;
  mem::Series* s = mem::series_of(sp.series_node());
  u32 len = s->length();
  u32 from = std::min(u32(sp.series_index()), len);
  RootedNode ctx(create(len - from, stack, self, nullptr, kind));
  u32 counted = 0;
  for (u32 i = from; i < len; i++) {
    Cell w = mem::series_of(sp.series_node())->cells()[i];
    u32 t = w.type();
    if (t == T_WORD || t == T_GET_WORD || t == T_LIT_WORD || t == T_REFINEMENT) {
      i32 out;
      find_word_slot(ctx, w.word_symbol(), true, &out);
      counted++;
    }
  }
  if (!stack) {
    Node values = ctx_cell(ctx)->context_values();
    for (u32 i = 0; i < counted; i++) set_unset(mem::alloc_tail_cell(values));
  }
  return ctx;
}

Node clone(Cell* cell, u32 kind) {
  RootedNode src(cell->object_context());
  u32 count = word_count(src);
  u32 flags = ctx_cell(src)->header & (kStackValues | kHasSelf);
  RootedNode ctx(create(count, (flags & kStackValues) != 0, (flags & kHasSelf) != 0, nullptr, kind));
  hashtable::copy_from(ctx_cell(src), table_of(ctx));
  mem::Series* w = mem::series_of(words_of(ctx));
  for (u32 i = 0; i < w->length(); i++) {
    Cell* word = w->cells() + i;
    word->set_word_binding(ctx, word->word_index());
  }
  cell->set_object_context(ctx);
  return ctx;
}

bool collect_set_words(Node ctx, Cell* block) {
  Cell b = *block;
  u32 len = mem::series_of(b.series_node())->length();
  u32 from = u32(b.series_index());
  if (from > len) {
    from = len;
    block->set_series_index(i32(len));
  }
  bool grew = false;
  for (u32 i = from; i < len; i++) {
    Cell w = mem::series_of(b.series_node())->cells()[i];
    if (!w.is(T_SET_WORD)) continue;
    i32 out;
    if (find_word_slot(ctx, w.word_symbol(), true, &out) < 0) {
      append_unset_value(ctx);
      grew = true;
    }
  }
  return grew;
}

i32 find_word(Node ctx, u32 symbol, bool any_case) {
  return hashtable::find_word_index(table_of(ctx), symbol, any_case, 0, nullptr);
}

i32 find_word_slot(Node ctx, u32 symbol, bool any_case, i32* out) {
  return hashtable::find_word_index(table_of(ctx), symbol, any_case, ctx, out);
}

Cell* put_value(Node ctx, const Cell* word, const Cell* value) {
  Cell v = *value;
  i32 out;
  if (find_word_slot(ctx, word->word_symbol(), true, &out) < 0) append_unset_value(ctx);
  Cell* slot = value_at(ctx, u32(out));
  if (slot) *slot = v;
  return slot;
}

Cell* find_value_cell(u32 symbol, Node ctx) {
  if (on_stack(ctx)) ctx = g_global;
  i32 i = find_word(ctx, symbol, true);
  return i < 0 ? nullptr : value_at(ctx, u32(i));
}

Cell add_global(u32 symbol, bool any_case, bool alias) {
  i32 out;
  i32 found = find_word_slot(g_global, symbol, any_case, &out);
  Cell entry = *word_at(g_global, u32(out));
  if (found >= 0) {
    if (any_case && alias && entry.word_symbol() != symbol) {
      // A case variant names the same slot under its own letters.
      entry.set_word_symbol(symbol);
      root::append_copy(&entry);
    }
    return entry;
  }
  if (symbol::alias(symbol) > 0) {
    i32 existing = find_word(g_global, symbol, true);
    if (existing >= 0 && existing != out) {
      entry.set_word_index(existing);
      word_at(g_global, u32(out))->set_word_index(existing);
    }
  }
  append_unset_value(g_global);
  return entry;
}

Cell add_global_word(u32 symbol) {
  Cell w = add_global(symbol, false, true);
  if (root::g_collecting) root::append_copy(&w);
  return w;
}

Cell word_or_global(Node ctx, u32 symbol) {
  i32 i = find_word(ctx, symbol, false);
  if (i >= 0) return *word_at(ctx, u32(i));
  return add_global_word(symbol);
}

i32 bind_word(Node ctx, Cell* word) {
  i32 i = find_word(ctx, word->word_symbol(), true);
  if (i >= 0) word->set_word_binding(ctx, i);
  return i;
}

namespace {

// Binding finds a word's index in a table indexed by canonical symbol id
// (the word's index + 1; 0 for a symbol the context lacks, kSeveral for one
// it holds in more than one spelling, which the hash lookup settles), filled
// with the context's words for one bind and emptied after it. A large
// context over a short block keeps the hash lookups: filling would cost more.
constexpr u32 kSeveral = 0xFFFFFFFFu;
std::vector<u32> g_bind_slots;
bool g_bind_busy = false;

ZOT_INLINE u32 canonical(const Cell* symbols, u32 sym) {
  i32 a = symbols[sym - 1].symbol_alias();
  return a > 0 ? u32(a) : sym;
}

class BindSlots {
 public:
  explicit BindSlots(Node ctx) : ctx_(ctx) {
    const u32 symbols = symbol::count() + 1;
    if (g_bind_slots.size() < symbols) g_bind_slots.resize(symbols + symbols / 2, 0);
    const Cell* names = symbol::get(1);
    const Cell* words = word_at(ctx, 0);
    const u32 n = word_count(ctx);
    u32* slots = g_bind_slots.data();
    for (u32 i = 0; i < n; i++) {
      u32& e = slots[canonical(names, words[i].word_symbol())];
      e = e ? kSeveral : i + 1;
    }
    g_bind_busy = true;
  }
  ~BindSlots() {
    const Cell* names = symbol::get(1);
    const Cell* words = word_at(ctx_, 0);
    const u32 n = word_count(ctx_);
    u32* slots = g_bind_slots.data();
    for (u32 i = 0; i < n; i++) slots[canonical(names, words[i].word_symbol())] = 0;
    g_bind_busy = false;
  }
  BindSlots(const BindSlots&) = delete;
  BindSlots& operator=(const BindSlots&) = delete;

 private:
  Node ctx_;
};

// Nothing here allocates (the cycle stack is a fixed array), so the
// buffers stay where they are for the whole walk. With mark, each series met
// gets the library flag as block::mark_library gives it: below a series
// that had it already, nothing more is marked.
void bind_walk(Cell* block, Node ctx, bool self, const u32* slots, bool mark) {
  Node series = block->series_node();
  if (cycles::find(series)) return;
  cycles::Guard guard(series);
  const u32 self_sym = words::sym(w::self);
  const Cell* names = symbol::get(1);
  mem::Series* s = mem::series_of(series);
  const u32 from = u32(block->series_index());
  const u32 len = s->length();
  if (mark) {
    if (s->flags & mem::kLibrary) {
      mark = false;
    } else {
      s->flags |= mem::kLibrary;
      for (u32 i = 0; i < from && i < len; i++) {
        const Cell* c = s->cells() + i;
        if (is_any_block(c->type())) block::mark_library(c);
      }
    }
  }
  if (from >= len) return;
  for (Cell *c = s->cells() + from, *end = s->cells() + len; c < end; c++) {
    u32 t = c->type();
    if (is_bindable_word(t)) {
      const u32 sym = c->word_symbol();
      if (self && t == T_WORD && sym == self_sym) {
        c->set_word_binding(ctx, -1);
      } else if (!slots) {
        bind_word(ctx, c);
      } else if (const u32 e = slots[canonical(names, sym)]) {
        if (e == kSeveral) bind_word(ctx, c);
        else c->set_word_binding(ctx, i32(e - 1));
      }
    } else if (is_any_block(t)) {
      Cell inner = *c;
      bind_walk(&inner, ctx, self, slots, mark);
    }
  }
}

void bind_marking(Cell* block, Node ctx, bool self, bool mark) {
  const u32 n = word_count(ctx);
  const u32 len = mem::series_of(block->series_node())->length();
  if (g_bind_busy || (n > 64 && n / 8 > len)) return bind_walk(block, ctx, self, nullptr, mark);
  BindSlots table(ctx);
  bind_walk(block, ctx, self, g_bind_slots.data(), mark);
}

}  // namespace

void bind(Cell* block, Node ctx, bool self) { bind_marking(block, ctx, self, false); }

void bind_body(Cell* block, Node ctx, bool library) { bind_marking(block, ctx, false, library); }

Cell* get_in(const Cell* word, Node ctx) {
  if (ZOT_UNLIKELY(word->word_index() < 0 || !ctx)) {
    if (word->word_symbol() == words::sym(w::self) && word->word_context()) return owner_cell(word->word_context());
    raise_error(Err::ScriptNoValue, word);
  }
  Cell* v = value_at(ctx, u32(word->word_index()));
  if (ZOT_UNLIKELY(!v)) raise_error(Err::ScriptNotInContext, word);
  return v;
}

Cell* set_in(Cell* word, const Cell* value, Node ctx, bool fire) {
  if (ZOT_UNLIKELY(!ctx)) raise_error(Err::ScriptNotDefined, word);
  Cell v = *value;
  if (word->word_index() < 0) {
    i32 i = find_word(ctx, word->word_symbol(), false);
    if (i < 0) {
      i32 out;
      if (find_word_slot(ctx, word->word_symbol(), true, &out) < 0) append_unset_value(ctx);
      i = out;
    }
    word->set_word_index(i);
  }
  Cell* c = ctx_cell(ctx);
  if (c->header & kStackValues) {
    if (!c->context_values()) raise_error(Err::ScriptNotDefined, word);
    Cell* slot = stack::cell_of(c->context_values()) + word->word_index();
    *slot = v;
    return slot;
  }
  u32 index = u32(word->word_index());
  if (kind_of(ctx) == kObject) word_at(ctx, index)->header |= kWordStored;
  Cell* owner = owner_cell(ctx);
  if (fire && owner->is(T_OBJECT) && owner->object_events()) {
    Cell old = *value_at(ctx, index);
    *value_at(ctx, index) = v;
    Cell own = *owner;
    Cell w = *word;
    object::fire_on_change(&own, &w, &old, &v);
    return value_at(ctx, index);
  }
  Cell* slot = value_at(ctx, index);
  *slot = v;
  return slot;
}

}  // namespace zot::context

namespace zot::word {

Cell load(const char* text) {
  u32 sym = symbol::make(text);
  Cell w = context::add_global(sym, true, true);
  if (root::g_collecting) root::append_copy(&w);
  return w;
}

Cell name(const char* text) {
  if (context::g_global) return load(text);
  Cell none;
  set_none(&none);
  return none;
}

Cell* make_at(u32 symbol, Cell* out) {
  i32 idx;
  if (context::find_word_slot(context::g_global, symbol, true, &idx) < 0) {
    set_unset(mem::alloc_tail_cell(context::ctx_cell(context::g_global)->context_values()));
  }
  return make_cell(out, T_WORD, context::g_global, symbol, u32(idx));
}

Cell* make_in(u32 symbol, mem::Node block) {
  Cell w;
  make_at(symbol, &w);
  Cell* slot = mem::alloc_tail_cell(block);
  *slot = w;
  return slot;
}

Cell* get(const Cell* word) {
  Cell v = *context::get(word);
  if (v.is(T_UNSET)) raise_error(Err::ScriptNoValue, word);
  return stack::push(&v);
}

Cell* push_value_at(mem::Node ctx, u32 index) {
  Cell* v = context::value_at(ctx, index);
  if (!v) {
    Cell w = *context::word_at(ctx, index);
    raise_error(Err::ScriptNotDefined, &w);
  }
  Cell copy = *v;
  return stack::push(&copy);
}

}  // namespace zot::word
