// Action dispatch and function specs, through the evaluator.
#include <gtest/gtest.h>

#include <string>

#include "datatypes/string.h"
#include "interpreter/eval.h"
#include "interpreter/lexer.h"
#include "runtime/actions.h"
#include "tests/unit/eval_fixture.h"
#include "tests/unit/runtime_fixture.h"

namespace zot {
namespace {

using test::run;
using test::err;

struct DispatchTest : ::testing::Test {
  void SetUp() override { test::ensure_runtime(); }
};

// (action, type) -> result or the exact error.
TEST_F(DispatchTest, ActionsChooseTheFirstArgumentsType) {
  struct Case {
    const char* source;
    std::string result;
  };
  const Case cases[] = {
      {"add 2 3", "5"},
      {"add 2.5 1", "3.5"},
      {"multiply 65536 65536", "4294967296.0"},
      {"negate 5", "-5"},
      {"length? [a b c]", "3"},
      {"length? none", "none"},
      {"pick [a b] true", "a"},
      {"pick [a b] false", "b"},
      {"pick [a b] 0", "none"},
      {"next tail [1 2]", "[]"},
      {"index? back head [1 2]", "1"},
      {"append/part [1] [2 3] 0", "[1]"},
      {"append/dup [1] 2 0", "[1]"},
      {"append/dup [1] 2 3", "[1 2 2 2]"},
      {"form/part \"hello\" 0", "\"\""},
      {"form/part \"hello\" -1", "\"\""},
      {"form/part \"hello\" 3", "\"hel\""},
      {"mold/only [1 [2]]", "\"1 [2]\""},
      {"form integer!", "\"integer\""},
      {"mold true", "\"true\""},
      {"make integer! 12", "12"},
      {"to logic! 0", "true"},
      {"make logic! 0", "false"},
      {"absolute \"x\"", err(Err::ScriptExpectArg)},
      {"append/part [1] 2 1", err(Err::ScriptInvalidPart)},
      {"b: [1 2 3] append/part [0] b next [4]", err(Err::ScriptInvalidRefineArg)},
      {"integer! < float!", err(Err::ScriptInvalidCompare)},
      {"integer! = 1", "false"},
      {"integer! = integer!", "true"},
      {"none = none", "true"},
  };
  for (const auto& c : cases) EXPECT_EQ(run(c.source), c.result) << c.source;
}

TEST_F(DispatchTest, FunctionSpecsAndOperators) {
  struct Case {
    const char* source;
    std::string result;
  };
  const Case cases[] = {
      {"f: func [a b] [a - b] g: make op! :f 10 g 3", "7"},
      {"f: func [a b /local c] [a] g: make op! :f 1 g 2", "1"},
      {"make op! func [a] [a]", err(Err::ScriptBadOpSpec)},
      {"make op! func [a b c] [a]", err(Err::ScriptBadOpSpec)},
      {"make op! func ['a b] [a]", err(Err::ScriptBadOpSpec)},
      {"make op! func [a b /x] [a]", err(Err::ScriptBadOpSpec)},
      {"make op! 1", err(Err::ScriptInvalidType)},
      {"func [a A] []", err(Err::ScriptDupVars)},
      {"func [a [foo-not-a-type]] []", err(Err::ScriptInvalidTypeSpec)},
      {"func [a [\"x\"]] []", err(Err::ScriptInvalidTypeSpec)},
      {"func [return: [integer!] a] []", err(Err::ScriptBadFuncDef)},
      {"func [/local a [integer!]] []", err(Err::ScriptBadFuncDef)},
      {"func [1] []", err(Err::ScriptBadFuncDef)},
      {"func [[trace] a \"doc\" b [integer!] /r c return: [integer!]] [a]", "func [[trace] a \"doc\" b [integer!] /r c return: [integer!]] [a]"},
      {"f: function [] [x: 1 foreach [k v] [] [] repeat i 2 []] reflect :f 'spec", "[/local x k v i]"},
      {"f: function [/extern x] [x: 1 y: 2] reflect :f 'spec", "[/local y]"},
      {"form :add", "\"?action?\""},
      {"reflect :if 'body", "1"},
      {"f: func [] [] g: func [] [] :f = :g", "false"},
      {"f: func [] [] :f = :f", "true"},
      {"make native! [[a] 108]", err(Err::ScriptBadMakeArg)},
      {"make native! [[a] 1]", "make native! [[a]]"},
  };
  for (const auto& c : cases) EXPECT_EQ(run(c.source), c.result) << c.source;
}

}  // namespace
}  // namespace zot
