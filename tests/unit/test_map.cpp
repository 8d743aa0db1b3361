#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "datatypes/block.h"
#include "datatypes/map.h"
#include "datatypes/string.h"
#include "datatypes/words.h"
#include "interpreter/eval.h"
#include "interpreter/lexer.h"
#include "runtime/actions.h"
#include "runtime/stack.h"
#include "tests/unit/eval_fixture.h"
#include "tests/unit/runtime_fixture.h"

namespace zot {
namespace {

using test::load;
using test::err;

struct MapTest : ::testing::Test {
  void SetUp() override { test::ensure_runtime(); }
};

std::string mold(const Cell& v, bool only = false, bool flat = false) {
  Cell out;
  string::make_at(&out, 16);
  actions::lookup<actions::kMold>(v.type())(&v, &out, {.only = only, .flat = flat}, 100000);
  return string::to_utf8(&out);
}

// The value of the source, or an error code.
Cell eval(const std::string& text, int* error = nullptr) {
  Cell v;
  set_none(&v);
  int code = test::error_code_of([&] {
    Cell code = load(text);
    v = interp::do_block(&code);
  });
  if (error) *error = code;
  return v;
}

std::string run(const std::string& text) {
  int code;
  Cell v = eval(text, &code);
  if (code >= 0) return "error " + std::to_string(code);
  return v.is(T_UNSET) ? "unset" : mold(v);
}

TEST_F(MapTest, MoldAndFormGolden) {
  struct Case {
    const char* source;
    const char* molded;
  };
  const Case cases[] = {
      {"make map! [a 1 b 2]", "#[\n    a: 1\n    b: 2\n]"},
      {"#[]", "#[]"},
      {"make map! 0", "#[]"},
      {"make map! []", "#[]"},
      {"#[\"s\" \"t\" 1 2.5 #i x /r y]", "#[\n    \"s\" \"t\"\n    1 2.5\n    #i x\n    /r y\n]"},
      {"#[a: #[b: 1]]", "#[\n    a: #[\n        b: 1\n    ]\n]"},
      {"#[a: [1 2] b: #[]]", "#[\n    a: [1 2]\n    b: #[]\n]"},
      {"m: #[x 1] m/self: m m", "#[\n    x: 1\n    self: #[...]\n]"},
      {"m: #[a 1 b 2 c 3] remove/key m 'b m", "#[\n    a: 1\n    c: 3\n]"},
      {"mold/flat #[a: 1 b: 2]", "\"#[a: 1 b: 2]\""},
      {"mold/only #[a: 1 b: 2]", "\"a: 1^/b: 2^/\""},
      {"form #[a: 1 b: \"s\"]", "{a: 1^/b: \"s\"}"},
      {"form #[]", "\"\""},
      {"mold/part #[aaaa: 1 bbbb: 2] 8", "\"#[^/    a\""},
  };
  for (const auto& c : cases) EXPECT_EQ(run(c.source), c.molded) << c.source;
}

TEST_F(MapTest, KeysAndValuesTable) {
  struct Case {
    const char* source;
    std::string result;
  };
  const Case cases[] = {
      // Word kinds are one key; the first spelling stays, the last value wins.
      {"m: make map! [a 1 A 2 a: 3 'a 4 :a 5] length? m", "1"},
      {"m: make map! [a 1 A 2] m/a", "2"},
      {"m: make map! [\"a\" 1] select m \"A\"", "1"},
      {"m: make map! [\"a\" 1] select/case m \"A\"", "none"},
      {"m: make map! [\"a\" 1] select/case m \"a\"", "1"},
      {"m: #[a 1] select m 'a", "1"},
      {"m: #[a 1] find m 'A", "a"},
      {"m: #[\"k\" 1] find m \"K\"", "\"k\""},
      {"m: #[a 1] find m 'b", "none"},
      // refinement!, issue! and word keys are distinct.
      {"m: #[a 1 /a 2 #a 3] length? m", "3"},
      {"m: #[a 1 /a 2 #a 3] select m /a", "2"},
      // A text key is a copy: changing the text given does not reach the key.
      {"s: \"ab\" m: make map! reduce [s 1] append s \"c\" select m \"ab\"", "1"},
      {"s: \"xab\" m: #[] put m next s 1 m", "#[\n    \"ab\" 1\n]"},
      // Keys handed out are copies: changing them leaves the map's keys alone.
      {"m: #[\"ab\" 1] append find m \"ab\" \"z\" select m \"ab\"", "1"},
      {"m: #[\"ab\" 1] append pick reflect m 'words 1 \"z\" append pick reflect m 'body 1 \"z\" m",
       "#[\n    \"ab\" 1\n]"},
      {"m: #[\"ab\" 1] foreach [k v] m [append k \"z\"] select m \"ab\"", "1"},
      // Removing leaves the key reachable for revival in its old place.
      {"m: #[a 1 b 2] remove/key m 'a length? m", "1"},
      {"m: #[a 1 b 2] remove/key m 'a m/a", "none"},
      {"m: #[a 1 b 2] remove/key m 'a find m 'a", "none"},
      {"m: #[a 1 b 2] remove/key m 'a m/a: 9 m", "#[\n    a: 9\n    b: 2\n]"},
      {"m: #[a 1 b 2] remove/key m 'a m/a: 9 length? m", "2"},
      {"m: #[a 1 b 2] remove/key m 'a remove/key m 'a length? m", "1"},
      // remove/key matches strictly.
      {"m: #[\"a\" 1] remove/key m \"A\" length? m", "1"},
      {"m: #[a 1] remove/key m 'z length? m", "1"},
      // none is a value like any other.
      {"m: #[a 1] m/a: none length? m", "1"},
      {"m: #[a 1] m/a: none find m 'a", "a"},
      {"m: #[a 1] put m 'b 2", "2"},
      {"m: #[a 1] put m 'b 2 m", "#[\n    a: 1\n    b: 2\n]"},
      {"m: #[\"a\" 1] put/case m \"A\" 2 length? m", "2"},
      {"m: #[\"a\" 1] put m \"A\" 2 m", "#[\n    \"a\" 2\n]"},
      {"m: #[a 1] m/b: 2 m/b", "2"},
      {"m: #[1 one 2.5 two 1x2 three] reduce [m/1 select m 2.5 select m 1x2]", "[one two three]"},
      {"m: #[a 1 b 2] clear m length? m", "0"},
      {"m: #[a 1 b 2] clear m m/c: 3 m", "#[\n    c: 3\n]"},
      {"length? #[a 1 b 2 c 3]", "3"},
      // reflect
      {"reflect #[a 1 \"b\" 2] 'words", "[a \"b\"]"},
      {"m: #[a 1 b 2 c 3] remove/key m 'b reflect m 'values", "[1 3]"},
      {"reflect #[a 1] 'body", "[\n    a: 1\n]"},
      {"to block! #[a 1 b 2]", "[\n    a: 1\n    b: 2\n]"},
      {"reflect #[] 'words", "[]"},
      // make and to
      {"make map! next [a 1]", err(Err::ScriptInvalidArg)},
      {"make map! next [x a 1]", "#[\n    a: 1\n]"},
      {"make map! skip [x y a 1] 2", "#[\n    a: 1\n]"},
      {"make map! 2.0", "#[]"},
      {"make map! make hash! [a 1]", "#[\n    a: 1\n]"},
      {"m: #[a 1] n: make map! m n/a: 2 m/a", "1"},
      {"to map! [a 1]", "#[\n    a: 1\n]"},
      // foreach
      {"o: copy [] foreach [k v] #[a 1 \"b\" 2] [append o reduce [k v]] o", "[a 1 \"b\" 2]"},
      {"o: copy [] m: #[a 1 b 2 c 3] remove/key m 'a remove/key m 'c foreach [k v] m [append o reduce [k v]] o",
       "[b 2]"},
      {"o: 0 m: #[a 1] remove/key m 'a foreach [k v] m [o: o + 1] o", "0"},
      {"foreach [k v] #[a 1] [k]", "a"},
      {"o: 0 foreach [k v] #[] [o: o + 1] o", "0"},
  };
  for (const auto& c : cases) EXPECT_EQ(run(c.source), c.result) << c.source;
}

TEST_F(MapTest, ErrorsTable) {
  struct Case {
    const char* source;
    Err error;
  };
  const Case cases[] = {
      {"make map! [a 1 b]", Err::ScriptInvalidArg},
      {"make map! -1", Err::ScriptOutOfRange},
      {"make map! 1e20", Err::ScriptOutOfRange},
      {"to map! 10", Err::ScriptBadToArg},
      {"to map! 1.5", Err::ScriptBadToArg},
      {"make map! \"x\"", Err::ScriptBadToArg},
      {"make map! [[1] 2]", Err::ScriptInvalidPath},
      {"m: #[] m/a: 1 put m [1] 2", Err::ScriptInvalidPath},
      {"m: #[] put m none 2", Err::ScriptInvalidPath},
      {"remove #[a 1]", Err::ScriptMissingArg},
      {"reflect #[a 1] 'spec", Err::InternalNotDone},
      {"foreach [k 1] #[a 1] []", Err::ScriptInvalidArg},
      {"foreach k #[a 1] []", Err::ScriptInvalidArg},
      {"m: #[a 1] m/self: m copy/deep/types m map!", Err::InternalNoCycle},
      {"#[a]", Err::SyntaxInvalid},
  };
  for (const auto& c : cases) {
    std::string r = run(c.source);
    if (c.error == Err::SyntaxInvalid) {
      EXPECT_EQ(r.rfind("error ", 0), 0u) << c.source;
    } else {
      EXPECT_EQ(r, err(c.error)) << c.source;
    }
  }
}

TEST_F(MapTest, CompareTable) {
  struct Case {
    const char* source;
    const char* result;
  };
  const Case cases[] = {
      {"equal? #[a 1 b 2] #[b 2 a 1]", "true"},
      {"equal? #[a 1 \"b\" 2] #[a 1 \"B\" 2]", "true"},
      {"strict-equal? #[a 1 \"b\" 2] #[a 1 \"B\" 2]", "false"},
      {"strict-equal? #[a 1 \"b\" 2] #[\"b\" 2 a 1]", "true"},
      {"equal? #[a 1] #[a 2]", "false"},
      {"equal? #[a 1] #[a 1 b 2]", "false"},
      {"equal? #[] make map! 10", "true"},
      {"m: #[a 1 b 2] remove/key m 'b equal? m #[a 1]", "true"},
      {"m: #[a 1] same? m m", "true"},
      {"same? #[a 1] #[a 1]", "false"},
      {"equal? #[a 1] [a 1]", "false"},
      // A key met in two spellings: the one with the equal value counts.
      {"m: #[\"a\" 1] put/case m \"A\" 2 n: #[\"a\" 2] put/case n \"A\" 1 equal? m n", "true"},
      {"m: #[x 1] m/self: m n: #[x 1] n/self: n equal? m n", "true"},
  };
  for (const auto& c : cases) EXPECT_EQ(run(c.source), c.result) << c.source;
}

TEST_F(MapTest, CopyTable) {
  struct Case {
    const char* source;
    const char* result;
  };
  const Case cases[] = {
      // A copy keeps its dead pairs and its own table.
      {"m: #[a 1 b 2] remove/key m 'a n: copy m n/a: 5 reduce [length? m length? n mold/flat n]",
       "[1 2 \"#[a: 5 b: 2]\"]"},
      {"m: #[a [1]] n: copy m append n/a 2 m/a", "[1 2]"},
      {"m: #[a [1]] n: copy/deep m append n/a 2 m/a", "[1]"},
      {"m: #[a #[b [1]]] n: copy/deep m append n/a/b 2 m/a/b", "[1]"},
      {"m: #[a [1] b \"s\"] n: copy/types m string! append n/a 2 append n/b \"t\" reduce [m/a m/b]",
       "[[1 2] \"s\"]"},
      {"m: #[a [1]] n: copy m n/z: 1 length? m", "1"},
  };
  for (const auto& c : cases) EXPECT_EQ(run(c.source), c.result) << c.source;
}

TEST_F(MapTest, ExtendAddsAndReplaces) {
  Cell m = eval("#[a 1 \"k\" 2]");
  Cell pairs = eval("[A 10 \"K\" 20 c 30]");
  map::extend(&m, &pairs, false);
  EXPECT_EQ(mold(m, false, true), "#[a: 10 \"k\" 20 c: 30]");
  Cell strict = eval("[\"K\" 40]");
  map::extend(&m, &strict, true);
  EXPECT_EQ(map::size(&m), 4);
  Cell odd = eval("[x]");
  EXPECT_EQ(test::error_code_of([&] { map::extend(&m, &odd, false); }), error_code(Err::ScriptInvalidArg));
}

// put, remove/key, select, select/case and clear against a model whose keys
// are case-folded, with stored spellings, dead pairs and insertion order.
TEST_F(MapTest, RandomizedAgainstModel) {
  struct Entry {
    std::string stored;
    int value;
    bool live;
  };
  std::map<std::string, Entry> model;
  std::vector<std::string> order;  // folded keys in pair order
  auto fold = [](std::string s) {
    for (char& c : s) c = char(std::tolower(static_cast<unsigned char>(c)));
    return s;
  };
  std::mt19937 rng(1234);
  Cell m;
  map::make_at(&m, nullptr, 0);
  auto key_cell = [](const std::string& s) {
    Cell k;
    string::make_from_utf8(&k, s.data(), s.size());
    return k;
  };
  const char* names[] = {"alpha", "beta", "gamma", "delta", "eps", "zeta", "eta", "theta", "iota", "kappa",
                         "lambda", "mu"};
  for (int step = 0; step < 3000; step++) {
    std::string key = names[rng() % 12];
    for (char& c : key)
      if (rng() % 4 == 0) c = char(std::toupper(static_cast<unsigned char>(c)));
    std::string f = fold(key);
    Cell k = key_cell(key);
    int op = int(rng() % 100);
    Cell* top = stack::g_top;
    if (op < 45) {
      int v = int(rng() % 1000);
      Cell value;
      set_integer(&value, v);
      actions::lookup<actions::kPut>(T_MAP)(&m, &k, &value, false);
      auto it = model.find(f);
      if (it == model.end()) {
        model[f] = {key, v, true};
        order.push_back(f);
      } else {
        it->second.value = v;
        it->second.live = true;
      }
    } else if (op < 70) {
      actions::lookup<actions::kRemove>(T_MAP)(&m, nullptr, &k);
      auto it = model.find(f);
      if (it != model.end() && it->second.stored == key) it->second.live = false;
    } else if (op < 98) {
      bool case_ = op >= 85;
      actions::FindOptions o;
      o.case_ = case_;
      Cell* r = actions::lookup<actions::kSelect>(T_MAP)(&m, &k, o);
      auto it = model.find(f);
      bool hit = it != model.end() && it->second.live && (!case_ || it->second.stored == key);
      if (hit) {
        ASSERT_TRUE(r->is(T_INTEGER)) << "step " << step << " key " << key;
        EXPECT_EQ(r->int_value(), it->second.value) << "step " << step;
      } else {
        EXPECT_TRUE(r->is(T_NONE)) << "step " << step << " key " << key;
      }
    } else {
      actions::lookup<actions::kClear>(T_MAP)(&m);
      model.clear();
      order.clear();
    }
    stack::g_top = top;
    i32 live = i32(std::count_if(model.begin(), model.end(), [](const auto& e) { return e.second.live; }));
    ASSERT_EQ(map::size(&m), live) << "step " << step;
  }
  // Pair order and stored spellings.
  std::string expected = "[";
  for (const auto& f : order) {
    const Entry& e = model[f];
    if (!e.live) continue;
    if (expected.size() > 1) expected += ' ';
    expected += '"' + e.stored + "\" " + std::to_string(e.value);
  }
  expected += ']';
  Cell body;
  map::reflect_into(&m, words::sym(w::body), &body);
  std::string got = mold(body, false, true);
  EXPECT_EQ(got, expected);
}

TEST_F(MapTest, ServicesForOtherModules) {
  EXPECT_TRUE(map::valid_key(T_STRING));
  EXPECT_TRUE(map::valid_key(T_POINT3D));
  EXPECT_TRUE(map::valid_key(T_ISSUE));
  EXPECT_FALSE(map::valid_key(T_BLOCK));
  EXPECT_FALSE(map::valid_key(T_NONE));
  EXPECT_FALSE(map::valid_key(T_MAP));
  Cell k = eval("'abc");
  map::preprocess_key(&k, nullptr);
  EXPECT_TRUE(k.is(T_SET_WORD));
  Cell b = eval("[a 1 b 2]");
  Cell m;
  map::make_at(&m, nullptr, 100);
  EXPECT_EQ(map::size(&m), 0);
  map::make_at(&m, &b, 0);
  EXPECT_EQ(map::size(&m), 2);
  Cell* top = stack::g_top;
  Cell* pushed = map::push(&m);
  EXPECT_TRUE(pushed->is(T_MAP));
  EXPECT_EQ(pushed->w2, m.w2);
  stack::g_top = top;
}

}  // namespace
}  // namespace zot
