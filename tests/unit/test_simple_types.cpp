#include <gtest/gtest.h>

#include <limits>

#include "datatypes/simple.h"
#include "runtime/services.h"
#include "tests/unit/series_fixture.h"

namespace zot {
namespace {

using actions::AnyFn;
using test::int_cell;

// ---- the registry over a synthetic hierarchy

void f_parent_a() {}
void f_parent_b() {}
void f_child() {}
void f_late() {}
void f_grandchild() {}

// Keeps the rows and names of the types a test registers, and puts them back.
class ScratchTypes {
 public:
  explicit ScratchTypes(std::initializer_list<u32> types) : types_(types) {
    for (u32 t : types_) {
      std::memcpy(rows_[t], actions::g_table[t], sizeof rows_[t]);
      names_[t] = datatype::g_types[t];
    }
    highest_ = datatype::g_highest_id;
  }
  ~ScratchTypes() {
    for (u32 t : types_) {
      std::memcpy(actions::g_table[t], rows_[t], sizeof rows_[t]);
      datatype::g_types[t] = names_[t];
    }
    datatype::g_highest_id = highest_;
  }

 private:
  std::vector<u32> types_;
  AnyFn rows_[kTypeTableSize][actions::kSlotCount];
  datatype::TypeEntry names_[kTypeTableSize];
  u32 highest_;
};

TEST(Registry, ChildrenCopyTheirParentsRowsAsTheyStand) {
  constexpr u32 P = 54, C = 55, G = 56;
  ScratchTypes scratch({P, C, G});
  AnyFn parent[actions::kSlotCount] = {};
  parent[actions::kMake - 1] = &f_parent_a;
  parent[actions::kForm - 1] = &f_parent_b;
  parent[actions::kMold - 1] = &f_parent_b;
  datatype::register_type(P, 0, "parent!", parent, actions::kSlotCount);

  AnyFn child[actions::kSlotCount];
  for (AnyFn& f : child) f = ZOT_INHERIT;
  child[actions::kForm - 1] = &f_child;  // override
  child[actions::kMold - 1] = nullptr;   // none, not inherited
  datatype::register_type(C, P, "child!", child, actions::kSlotCount);

  // A later change to the parent's row does not reach the child.
  actions::g_table[P][actions::kCopy - 1] = &f_late;

  AnyFn grand[actions::kSlotCount];
  for (AnyFn& f : grand) f = ZOT_INHERIT;
  grand[actions::kAppend - 1] = &f_grandchild;
  datatype::register_type(G, C, "grandchild!", grand, actions::kSlotCount);

  struct Case {
    u32 type;
    int slot;
    AnyFn want;
  };
  const Case cases[] = {
      {P, actions::kMake, &f_parent_a}, {P, actions::kForm, &f_parent_b}, {P, actions::kCopy, &f_late},
      {P, actions::kAppend, nullptr},   {C, actions::kMake, &f_parent_a}, {C, actions::kForm, &f_child},
      {C, actions::kMold, nullptr},     {C, actions::kCopy, nullptr},     {C, actions::kAppend, nullptr},
      {G, actions::kMake, &f_parent_a}, {G, actions::kForm, &f_child},    {G, actions::kMold, nullptr},
      {G, actions::kCopy, nullptr},     {G, actions::kAppend, &f_grandchild},
  };
  for (const auto& c : cases) EXPECT_EQ(actions::raw(c.type, c.slot), c.want) << c.type << "/" << c.slot;
  EXPECT_STREQ(datatype::type_name(C), "child!");
  EXPECT_EQ(datatype::g_types[G].name_len_minus1, 10u);
  EXPECT_EQ(datatype::g_highest_id, G);
}

TEST(Registry, TheCoreTypesResolveToTheirFunctions) {
  test::ensure_core_types();
  struct Case {
    u32 type;
    int slot;
    AnyFn want;
  };
  using actions::fn;
  const Case cases[] = {
      {T_DATATYPE, actions::kMold, fn(&datatype::mold)}, {T_DATATYPE, actions::kMake, nullptr},
      {T_UNSET, actions::kTo, fn(&unset::make)},         {T_NONE, actions::kLengthQ, fn(&none::length_q)},
      {T_LOGIC, actions::kXor, fn(&logic::xor_)},        {T_LOGIC, actions::kAppend, nullptr},
      {T_SERIES, actions::kAt, fn(&series::at)},         {T_SERIES, actions::kAppend, nullptr},
      {T_BLOCK, actions::kAt, fn(&series::at)},          {T_BLOCK, actions::kInsert, fn(&block::append)},
      {T_BLOCK, actions::kTake, fn(&block::take)},       {T_BLOCK, actions::kAdd, nullptr},
      {T_PAREN, actions::kMold, fn(&block::paren_mold)}, {T_PAREN, actions::kForm, fn(&block::form)},
      {T_PAREN, actions::kTrim, nullptr},                {T_PAREN, actions::kPoke, fn(&series::poke)},
  };
  for (const auto& c : cases) EXPECT_EQ(actions::raw(c.type, c.slot), c.want) << c.type << "/" << c.slot;
  EXPECT_STREQ(datatype::type_name(T_PAREN), "paren!");
}

TEST(RegistryDeathTest, AWrongSlotCountEndsTheProcessWithStatusZero) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  const actions::AnyFn two[] = {&f_parent_a, &f_parent_b};
  EXPECT_EXIT(datatype::register_type(55, 0, "bad!", two, 2), ::testing::ExitedWithCode(0), "");
}

// ---- the four simple types

TEST(SimpleTypes, FormAndMold) {
  test::ensure_core_types();
  Cell dt, u, n;
  make_cell(&dt, T_DATATYPE, T_LOGIC, 0, 0);
  set_unset(&u);
  set_none(&n);
  struct Case {
    Cell v;
    const char* form;
    const char* mold;
    const char* mold_all;
  };
  const Case cases[] = {
      {dt, "logic", "logic!", "#(logic!)"},
      {u, "", "unset", "#(unset)"},
      {n, "none", "none", "#(none)"},
      {datatype::g_true, "true", "true", "#(true)"},
      {datatype::g_false, "false", "false", "#(false)"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(test::form_text(c.v), c.form);
    EXPECT_EQ(test::mold_text(c.v), c.mold);
    EXPECT_EQ(test::mold_text(c.v, false, true), c.mold_all);
  }
  // The part budget falls by what was written.
  Cell out;
  set_unset(&out);
  string::make_at(&out, 8);
  EXPECT_EQ(datatype::mold(&dt, &out, {.all = true}, 100), 100 - 9);
  EXPECT_EQ(unset::form(&u, &out, nullptr, 100), 100);
}

TEST(SimpleTypes, Compare) {
  test::ensure_core_types();
  Cell dt_logic, dt_block, u, n;
  make_cell(&dt_logic, T_DATATYPE, T_LOGIC, 0, 0);
  make_cell(&dt_block, T_DATATYPE, T_BLOCK, 0, 0);
  set_unset(&u);
  set_none(&n);
  const Cell& t = datatype::g_true;
  const Cell& f = datatype::g_false;
  struct Case {
    Cell a, b;
    i32 op;
    i32 want;
  };
  const Case cases[] = {
      {dt_logic, dt_logic, actions::kEqual, 0},    {dt_logic, dt_block, actions::kEqual, 1},
      {dt_logic, n, actions::kEqual, 1},           {dt_logic, dt_block, actions::kLesser, -2},
      {u, u, actions::kEqual, 0},                  {u, u, actions::kSortOrder, 0},
      {u, u, actions::kLesser, -2},                {u, n, actions::kEqual, -2},
      {n, n, actions::kStrictEqual, 0},            {n, u, actions::kEqual, -2},
      {t, t, actions::kEqual, 0},                  {t, f, actions::kEqual, 1},
      {f, t, actions::kSortOrder, -1},             {t, f, actions::kLesser, -2},
      {t, n, actions::kEqual, -2},
  };
  for (const auto& c : cases)
    EXPECT_EQ(actions::lookup<actions::kCompare>(c.a.type())(&c.a, &c.b, c.op), c.want);
  // Ordering two datatypes cannot be done.
  EXPECT_EQ(test::error_code_of([&] { actions::compare(&dt_logic, &dt_block, actions::kLesser); }),
            error_code(Err::ScriptInvalidCompare));
}

TEST(SimpleTypes, LogicMakeToAndComplement) {
  test::ensure_core_types();
  Cell n;
  set_none(&n);
  struct Case {
    Cell spec;
    bool make, to;
  };
  Cell zero_f, half, nan;
  set_float(&zero_f, 0.0);
  set_float(&half, 0.5);
  set_float(&nan, std::numeric_limits<double>::quiet_NaN());
  const Case cases[] = {
      {int_cell(0), false, true}, {int_cell(2), true, true}, {zero_f, false, true},
      {half, true, true},         {nan, true, true},         {n, false, false},
      {datatype::g_false, false, false},
  };
  for (const auto& c : cases) {
    Cell proto = datatype::g_true, spec = c.spec;
    EXPECT_EQ(logic::make(&proto, &spec, T_LOGIC)->w1, u32(c.make));
    EXPECT_EQ(logic::to(&proto, &spec, T_LOGIC)->w1, u32(c.to));
  }
  Cell v = datatype::g_true;
  EXPECT_EQ(logic::complement(&v)->w1, 0u);
  Cell nn = n;
  EXPECT_EQ(none::length_q(&nn), -1);
}

TEST(SimpleTypes, LogicBitwiseAndTheirArgumentCheck) {
  test::ensure_core_types();
  struct Case {
    actions::FrameFn f;
    bool a, b, want;
  };
  const Case cases[] = {
      {&logic::and_, true, false, false}, {&logic::and_, true, true, true}, {&logic::or_, false, true, true},
      {&logic::or_, false, false, false}, {&logic::xor_, true, true, false}, {&logic::xor_, true, false, true},
  };
  for (const auto& c : cases) {
    Cell r = test::run_frame(c.f, {c.a ? datatype::g_true : datatype::g_false, c.b ? datatype::g_true : datatype::g_false});
    EXPECT_TRUE(r.is(T_LOGIC));
    EXPECT_EQ(r.w1, u32(c.want));
  }
  EXPECT_EQ(test::error_code_of([] { test::run_frame(&logic::xor_, {datatype::g_true, int_cell(1)}); }),
            error_code(Err::ScriptExpectArg));
  EXPECT_EQ(last_error_arg(1)->w1, u32(T_INTEGER)) << "the error names the datatype given";
}

i32 g_draw = 0;
i32 fixed_draw(bool) { return g_draw; }
u32 g_seeded = 99;
void record_seed(u32 s) { g_seeded = s; }

TEST(SimpleTypes, LogicRandom) {
  test::ensure_core_types();
  auto saved = g_services;
  g_services.random_draw = &fixed_draw;
  g_services.random_seed = &record_seed;
  Cell v = datatype::g_false;
  g_draw = 0x40000000;
  logic::random(&v, false, false, false);
  EXPECT_EQ(v.w1, 1u);
  g_draw = 0x3FFFFFFF;
  logic::random(&v, false, false, false);
  EXPECT_EQ(v.w1, 0u);
  Cell s = datatype::g_true;
  logic::random(&s, true, false, false);
  EXPECT_EQ(g_seeded, 1u);
  EXPECT_TRUE(s.is(T_UNSET));
  g_services = saved;
}

TEST(SimpleTypes, TruthTests) {
  test::ensure_core_types();
  Cell u, n, word;
  set_unset(&u);
  set_none(&n);
  set_none(&word);
  EXPECT_TRUE(logic::true_q(&u, false, &word));
  EXPECT_FALSE(logic::true_q(&n, true, &word));
  EXPECT_FALSE(logic::true_q(&datatype::g_false, true, &word));
  Cell zero = int_cell(0);
  EXPECT_TRUE(logic::true_q(&zero, true, &word));
  EXPECT_EQ(test::error_code_of([&] { logic::true_q(&u, true, &word); }), error_code(Err::ScriptNoValue));

  // The last value: the top cell, or the result slot when nothing is above it.
  auto in_frame = [](std::initializer_list<Cell> cells, auto test_fn) {
    Cell* base = stack::g_base;
    Cell* top = stack::g_top;
    stack::Frame* ctop = stack::g_ctop;
    stack::push_native_frame(nullptr);
    for (const Cell& c : cells) stack::push(&c);
    bool r = test_fn();
    stack::g_base = base;
    stack::g_top = top;
    stack::g_ctop = ctop;
    return r;
  };
  EXPECT_TRUE(in_frame({datatype::g_true, n}, [] { return logic::last_false_q(); }));
  EXPECT_FALSE(in_frame({datatype::g_true, n}, [] { return logic::last_true_q(); }));
  EXPECT_TRUE(in_frame({n}, [] { return logic::result_false_q(); }));
  EXPECT_TRUE(in_frame({datatype::g_true}, [] { return logic::check_result_true_q(); }));
  EXPECT_TRUE(in_frame({}, [] {
    set_none(stack::g_base);
    return logic::last_false_q();
  }));
  EXPECT_EQ(test::error_code_of([&] { in_frame({u}, [] { return logic::check_result_true_q(); }); }),
            error_code(Err::ScriptNoReturn));
  EXPECT_TRUE(in_frame({u}, [] { return !logic::result_false_q(); }));
}

TEST(SimpleTypes, NoneAnswersNone) {
  test::ensure_core_types();
  Cell n;
  set_none(&n);
  EXPECT_TRUE(none::take(&n, nullptr, false, false)->is(T_NONE));
  EXPECT_TRUE(none::find(&n, &n, {})->is(T_NONE));
  Cell i = int_cell(3);
  none::clear(&i);
  EXPECT_TRUE(i.is(T_NONE));
  Cell* made = unset::make(nullptr, nullptr, T_UNSET);
  EXPECT_TRUE(made->is(T_UNSET));
  stack::pop(1);
}

}  // namespace
}  // namespace zot
