#include <gtest/gtest.h>

#include <cctype>
#include <string>
#include <vector>

#include "datatypes/context.h"
#include "datatypes/words.h"
#include "runtime/root.h"
#include "runtime/rooted.h"
#include "runtime/symbol.h"
#include "tests/unit/runtime_fixture.h"

namespace zot {
namespace {

// A block! cell over fresh cells.
Cell make_block(std::initializer_list<Cell> cells) {
  mem::Node n = mem::alloc_cells(u32(cells.size()));
  for (const Cell& c : cells) *mem::alloc_tail_cell(n) = c;
  Cell b;
  make_cell(&b, T_BLOCK, 0, n, 0);
  return b;
}

Cell unbound(u32 type, const char* name) {
  Cell w;
  make_cell(&w, type, 0, symbol::make(name), u32(-1));
  return w;
}

Cell integer(i32 v) {
  Cell c;
  set_integer(&c, v);
  return c;
}

struct ContextTest : ::testing::Test {
  void SetUp() override { test::ensure_runtime(); }
};

TEST_F(ContextTest, CaseVariantsOfAGlobalWordShareOneValue) {
  Cell lower = word::load("ctx-test-name");
  Cell upper = word::load("Ctx-Test-Name");
  EXPECT_NE(lower.w2, upper.w2);  // each keeps its own letters
  EXPECT_EQ(symbol::resolve(lower.w2), symbol::resolve(upper.w2));
  Cell seven = integer(7);
  context::set(&lower, &seven);
  EXPECT_EQ(context::get(&upper)->int_value(), 7);
  EXPECT_STREQ(symbol::name_text(upper.w2), "Ctx-Test-Name");
}

TEST_F(ContextTest, MakeFromSpecCountsRepeatedWords) {
  Cell spec = make_block({unbound(T_WORD, "a"), unbound(T_WORD, "b"), unbound(T_WORD, "a"),
                          unbound(T_SET_WORD, "c"), integer(1)});
  mem::Node ctx = context::make(&spec, false, false, context::kObject);
  EXPECT_EQ(context::word_count(ctx), 2u);
  EXPECT_EQ(mem::series_of(context::ctx_cell(ctx)->w2)->length(), 3u);
  EXPECT_EQ(context::find_word(ctx, symbol::make("b"), false), 1);
  EXPECT_EQ(context::find_word(ctx, symbol::make("c"), false), -1);
  EXPECT_TRUE(context::collect_set_words(ctx, &spec));
  EXPECT_EQ(context::find_word(ctx, symbol::make("c"), false), 2);
  EXPECT_FALSE(context::collect_set_words(ctx, &spec));
}

TEST_F(ContextTest, BindSetAndGetWithSelf) {
  Cell spec = make_block({unbound(T_WORD, "x"), unbound(T_WORD, "y")});
  mem::Node ctx = context::make(&spec, false, true, context::kObject);
  Cell owner;
  make_cell(&owner, T_OBJECT, ctx, 99, 0);
  *context::owner_cell(ctx) = owner;

  Cell code = make_block({unbound(T_WORD, "x"), unbound(T_SET_WORD, "Y"), unbound(T_WORD, "self"),
                          unbound(T_WORD, "z")});
  // A block that holds itself: binding must end.
  *mem::alloc_tail_cell(code.w2) = code;
  context::bind(&code, ctx, true);
  Cell* cells = mem::series_of(code.w2)->cells();
  EXPECT_EQ(cells[0].w1, ctx);
  EXPECT_EQ(cells[0].w3, 0u);
  EXPECT_EQ(cells[1].w1, ctx);  // found ignoring case
  EXPECT_EQ(cells[1].w3, 1u);
  EXPECT_EQ(cells[3].w1, 0u);   // absent: left alone

  Cell self = cells[2];
  EXPECT_EQ(context::get(&self)->w2, 99u);
  Cell x = cells[0], five = integer(5);
  context::set(&x, &five);
  EXPECT_EQ(context::get(&x)->int_value(), 5);
  EXPECT_TRUE(context::word_at(ctx, 0)->header & context::kWordStored);

  // Setting a word the context lacks adds it with its value.
  Cell z = unbound(T_WORD, "z");
  z.w1 = ctx;
  context::set(&z, &five);
  EXPECT_EQ(z.w3, 2u);
  EXPECT_EQ(context::word_count(ctx), 3u);
}

TEST_F(ContextTest, BindFindsEveryWordOfSmallAndLargeContexts) {
  // Contexts below and above the size whose words binding filters by symbol;
  // the code holds each word (upper case, in a nested block too) among many
  // the context lacks.
  for (u32 size : {1u, 5u, 32u, 33u, 120u}) {
    std::vector<std::string> names;
    for (u32 i = 0; i < size; i++) names.push_back("bind-" + std::to_string(size) + "-" + std::to_string(i));
    mem::Node spec_words = mem::alloc_cells(size);
    for (const std::string& n : names) *mem::alloc_tail_cell(spec_words) = unbound(T_WORD, n.c_str());
    Cell spec;
    make_cell(&spec, T_BLOCK, 0, spec_words, 0);
    RootedNode ctx(context::make(&spec, false, false, context::kObject));

    Cell inner;
    make_cell(&inner, T_BLOCK, 0, mem::alloc_cells(size), 0);
    Rooted code(make_block({inner}));
    for (u32 i = 0; i < 300; i++) {
      std::string other = "bind-other-" + std::to_string(i);
      *mem::alloc_tail_cell(code.cell.w2) = unbound(T_WORD, other.c_str());
    }
    for (u32 i = 0; i < size; i++) {
      std::string upper = names[i];
      for (char& ch : upper) ch = char(std::toupper(static_cast<unsigned char>(ch)));
      *mem::alloc_tail_cell(code.cell.w2) = unbound(T_SET_WORD, upper.c_str());
      *mem::alloc_tail_cell(inner.w2) = unbound(T_GET_WORD, names[i].c_str());
    }
    context::bind(&code.cell, ctx.node, false);
    const Cell* cells = mem::series_of(code.cell.w2)->cells();
    for (u32 i = 0; i < 300; i++) EXPECT_EQ(cells[1 + i].w1, 0u) << size;
    for (u32 i = 0; i < size; i++) {
      EXPECT_EQ(cells[301 + i].w1, ctx.node) << size << " " << i;
      EXPECT_EQ(cells[301 + i].w3, i) << size << " " << i;
      const Cell& nested = mem::series_of(inner.w2)->cells()[i];
      EXPECT_EQ(nested.w1, ctx.node) << size << " " << i;
      EXPECT_EQ(nested.w3, i) << size << " " << i;
    }
  }
}

TEST_F(ContextTest, ErrorsForUnboundAndIdleStackContexts) {
  Cell w = unbound(T_WORD, "nowhere");
  EXPECT_EQ(test::error_code_of([&] { context::get(&w); }), error_code(Err::ScriptNoValue));

  Cell spec = make_block({unbound(T_WORD, "arg")});
  mem::Node fn = context::make(&spec, true, false, context::kFunction);
  Cell arg = unbound(T_WORD, "arg");
  context::bind_word(fn, &arg);
  Cell one = integer(1);
  EXPECT_EQ(test::error_code_of([&] { context::get(&arg); }), error_code(Err::ScriptNotInContext));
  EXPECT_EQ(test::error_code_of([&] { context::set(&arg, &one); }), error_code(Err::ScriptNotDefined));
  EXPECT_EQ(test::error_code_of([&] { word::push_value_at(fn, 0); }), error_code(Err::ScriptNotDefined));

  // Running: values on the argument stack.
  stack::push_native_frame(nullptr);
  Cell* first = stack::push(&one);
  context::ctx_cell(fn)->w2 = stack::ref_of(first);
  EXPECT_EQ(context::get(&arg)->int_value(), 1);
  Cell two = integer(2);
  context::set(&arg, &two);
  EXPECT_EQ(first->int_value(), 2);
  context::ctx_cell(fn)->w2 = 0;
  stack::drop_frame();

  Cell unset;
  set_unset(&unset);
  Cell g = word::load("ctx-unset-word");
  EXPECT_EQ(test::error_code_of([&] { word::get(&g); }), error_code(Err::ScriptNoValue));
}

TEST_F(ContextTest, CloneGivesIndependentValues) {
  Cell spec = make_block({unbound(T_WORD, "p"), unbound(T_WORD, "q")});
  mem::Node a = context::make(&spec, false, false, context::kObject);
  Cell holder;
  make_cell(&holder, T_OBJECT, a, 0, 0);
  mem::Node b = context::clone(&holder, context::kObject);
  EXPECT_EQ(holder.w1, b);
  EXPECT_EQ(context::word_count(b), 2u);
  EXPECT_EQ(context::word_at(b, 1)->w1, b);
  Cell p = *context::word_at(b, 0);
  Cell nine = integer(9);
  context::set(&p, &nine);
  Cell pa = *context::word_at(a, 0);
  EXPECT_TRUE(context::get(&pa)->is(T_UNSET));
}

TEST_F(ContextTest, RuntimeWordsAreInterned) {
  EXPECT_STREQ(symbol::name_text(words::sym(w::put_ed)), "put-ed");
  EXPECT_STREQ(symbol::name_text(words::sym(w::swaped)), "swaped");
  EXPECT_EQ(words::word(w::tag_body)->w1, context::g_global);
  EXPECT_TRUE(words::g_refinements[words::ref_part].is(T_REFINEMENT));
}

}  // namespace
}  // namespace zot
