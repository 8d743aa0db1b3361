// The lexer's loaders: every literal type from its text, the syntax errors of
// malformed tokens, the text-to-number scanners and loading one value.
#include <cmath>
#include <string>
#include <vector>

#include "datatypes/context.h"
#include "datatypes/date.h"
#include "datatypes/money.h"
#include "datatypes/point.h"
#include "datatypes/registry.h"
#include "datatypes/string.h"
#include "datatypes/tuple.h"
#include "interpreter/lexer.h"
#include "interpreter/load.h"
#include "runtime/actions.h"
#include "runtime/dtoa.h"
#include "runtime/scan_numbers.h"
#include "runtime/symbol.h"
#include "tests/unit/runtime_fixture.h"

namespace zot {
namespace {

class LoadersTest : public ::testing::Test {
 protected:
  void SetUp() override {
    test::ensure_runtime();
    lexer::init();
    for (int i = 0; i < lexer::kTokenClassCount; i++) saved_[i] = lexer::g_loaders[i];
    lexer::install_loaders();
  }
  // Other suites in this process may stand in for loaders of their own.
  void TearDown() override {
    for (int i = 0; i < lexer::kTokenClassCount; i++) lexer::g_loaders[i] = saved_[i];
  }
  lexer::TokenFn saved_[lexer::kTokenClassCount];
};

const char* type_name(u32 t) {
  static const char* const kNames[] = {
      "",          "datatype!", "unset!",    "none!",      "logic!",    "block!",      "paren!",
      "string!",   "file!",     "url!",      "char!",      "integer!",  "float!",      "symbol!",
      "context!",  "word!",     "set-word!", "lit-word!",  "get-word!", "refinement!", "issue!",
      "native!",   "action!",   "op!",       "function!",  "path!",     "lit-path!",   "set-path!",
      "get-path!", "routine!",  "bitset!",   "triple!",    "object!",   "typeset!",    "error!",
      "vector!",   "hash!",     "pair!",     "percent!",   "tuple!",    "map!",        "binary!",
      "series!",   "time!",     "tag!",      "email!",     "handle!",   "date!",       "port!",
      "money!",    "ref!",      "point2D!",  "point3D!",   "image!",    "event!"};
  return t < sizeof kNames / sizeof *kNames ? kNames[t] : "?";
}

std::string float_text(double d) { return dtoa::float_to_text(d, 0, true, nullptr); }

std::string text_of(const Cell* c) { return string::to_utf8(c); }

// The molds of the types whose mold is part of the core; the other types are
// described by their cell content, so these cases do not hang on their molds.
bool core_mold(u32 t) {
  switch (t) {
    case T_INTEGER: case T_FLOAT: case T_CHAR: case T_STRING: case T_LOGIC: case T_NONE: case T_DATATYPE:
    case T_WORD: case T_SET_WORD: case T_GET_WORD: case T_LIT_WORD: case T_REFINEMENT: case T_ISSUE:
      return true;
    default:
      return false;
  }
}

std::string molded(const Cell* v) {
  Cell* out = stack::push(v);
  string::make_at(out, 16);
  actions::lookup<actions::kMold>(v->type())(v, out, {}, 100000);
  std::string s = string::to_utf8(out);
  stack::pop(1);
  return s;
}

std::string describe(const Cell* c);

std::string elements(const Cell* c, const char* sep) {
  std::string out;
  mem::Series* s = mem::series_of(c->w2);
  for (u32 i = c->w1; i < s->length(); i++) {
    if (i > c->w1) out += sep;
    const Cell* e = mem::series_of(c->w2)->cells() + i;
    if (e->header & kCellNewLine) out += "/ ";
    out += describe(e);
  }
  return out;
}

std::string describe(const Cell* c) {
  u32 t = c->type();
  if (core_mold(t)) return molded(c);
  switch (t) {
    case T_BLOCK: return "[" + elements(c, " ") + "]";
    case T_PAREN: return "(" + elements(c, " ") + ")";
    case T_PATH: return elements(c, "/");
    case T_LIT_PATH: return "'" + elements(c, "/");
    case T_GET_PATH: return ":" + elements(c, "/");
    case T_SET_PATH: return elements(c, "/") + ":";
    case T_FILE: return "%" + text_of(c);
    case T_URL: case T_EMAIL: case T_TAG: case T_REF: return text_of(c);
    case T_BINARY: {
      mem::Series* s = mem::series_of(c->w2);
      std::string out = "#{";
      for (u32 i = c->w1; i < s->bytes_used(); i++) out += string::byte_to_hex(s->head_ptr()[i]);
      return out + "}";
    }
    case T_PERCENT: return float_text(c->float_value());  // the fraction
    case T_TIME: return float_text(c->float_value());     // seconds
    case T_PAIR: return std::to_string(i32(c->w2)) + "x" + std::to_string(i32(c->w3));
    case T_TUPLE: {
      std::string out;
      for (int i = 0; i < tuple::count_of(c); i++) out += (i ? "." : "") + std::to_string(tuple::byte_at(c, i));
      return out;
    }
    case T_POINT2D: case T_POINT3D: {
      float xyz[3];
      std::memcpy(xyz, &c->w1, sizeof xyz);
      std::string out = "(" + float_text(xyz[0]) + ", " + float_text(xyz[1]);
      if (t == T_POINT3D) out += ", " + float_text(xyz[2]);
      return out + ")";
    }
    case T_DATE: {
      u32 w = c->w1;
      std::string out = std::to_string(date::year_of(w)) + "-" + std::to_string(date::month_of(w)) + "-" +
                        std::to_string(date::day_of(w));
      if (date::has_time(w)) {
        out += "/" + float_text(date::time_of(c) + date::zone_seconds(w));
        if (date::zone_seconds(w)) out += " zone " + std::to_string(date::zone_seconds(w));
      }
      return out;
    }
    case T_MONEY: {
      std::string code = money::currency_code(money::currency_of(c));
      return std::string(money::negative(c) ? "-" : "") + code + "$" +
             float_text(std::fabs(money::to_float(c)));
    }
    default: return "?";
  }
}

// The loaded values as "type description" separated by " | ", or the error.
std::string load(const std::string& text) {
  Cell result;
  set_none(&result);
  int code = test::error_code_of([&] {
    lexer::scan(&result, reinterpret_cast<const u8*>(text.data()), u32(text.size()), lexer::Options{});
  });
  if (code >= 0) {
    Err e = error_from_code(code);
    std::string line = string::to_utf8(last_error_arg(0));
    auto arg = [](int i) { return last_error_arg(i)->is(T_STRING) ? text_of(last_error_arg(i)) : std::string("?"); };
    switch (e) {
      case Err::SyntaxInvalid:
        return line + " invalid " + type_name(last_error_arg(1)->w1) + " at " + arg(2);
      case Err::SyntaxMissing:
        return line + " missing " + std::string(1, char(last_error_arg(1)->w2)) + " at " + arg(2);
      case Err::SyntaxMalconstruct: return line + " invalid construction spec at " + arg(1);
      case Err::SyntaxBadChar: return line + " invalid character at " + arg(1);
      default: return "error " + std::to_string(code);
    }
  }
  std::string out;
  mem::Series* s = mem::series_of(result.w2);
  for (u32 i = 0; i < s->length(); i++) {
    const Cell* v = mem::series_of(result.w2)->cells() + i;
    if (i) out += " | ";
    if (v->header & kCellNewLine) out += "/ ";
    out += std::string(type_name(v->type())) + " " + describe(v);
  }
  return out;
}

struct Case {
  const char* text;
  const char* expected;
};

void check_all(const std::vector<Case>& cases) {
  for (const Case& c : cases) EXPECT_EQ(load(c.text), c.expected) << "text: " << c.text;
}

TEST_F(LoadersTest, WordsOfEveryKind) {
  check_all({
      {"a", "word! a"},
      {"a:", "set-word! a:"},
      {":a", "get-word! :a"},
      {"'a", "lit-word! 'a"},
      {"/a", "refinement! /a"},
      {"#a", "issue! #a"},
      {"#a-b.c", "issue! #a-b.c"},
      {"/", "word! /"},
      {"//", "word! //"},
      {"+ - < <= <> > = ==", "word! + | word! - | word! < | word! <= | word! <> | word! > | word! = | word! =="},
      {"foo-bar? a.b a'b", "word! foo-bar? | word! a.b | word! a'b"},
      {"\xC3\xA9t\xC3\xA9", "word! \xC3\xA9t\xC3\xA9"},
      {"a\xC2\xA0" "b", "word! a | word! b"},   // U+00A0 separates words
      {"\xE3\x80\x80", ""},                      // a word of U+3000 only is whitespace
      {"a/b:", "set-path! a/b:"},
      {":a/b", "get-path! :a/b"},
      {"'a/b", "lit-path! 'a/b"},
      {"a/1/:b/'c", "path! a/1/:b/'c"},
      {"a/b/c: 1", "set-path! a/b/c: | integer! 1"},
      {"a\n:b", "word! a | / get-word! :b"},
      {"#", "(line 1) invalid issue! at #"},
      {"'a:", "(line 1) invalid lit-word! at 'a:"},
  });
}

TEST_F(LoadersTest, LoadedWordsAreBoundInTheGlobalContext) {
  Cell block;
  const char* text = "zot-loader-word Zot-Loader-Word /zot-loader-word";
  lexer::scan(&block, reinterpret_cast<const u8*>(text), u32(std::strlen(text)), lexer::Options{});
  const Cell* w = mem::series_of(block.w2)->cells();
  Cell v0 = w[0], v1 = w[1], v2 = w[2];
  EXPECT_EQ(v0.w1, context::g_global);
  EXPECT_EQ(v1.w1, context::g_global);
  EXPECT_EQ(v2.w1, context::g_global);
  // Case variants keep their own spelling and share the one global slot.
  EXPECT_NE(v0.w2, v1.w2);
  EXPECT_EQ(symbol::resolve(v0.w2), symbol::resolve(v1.w2));
  EXPECT_EQ(v0.w3, v1.w3);
  EXPECT_EQ(v0.w3, v2.w3);
  EXPECT_EQ(context::find_word(context::g_global, v0.w2, true), i32(v0.w3));
}

TEST_F(LoadersTest, IntegersAndHex) {
  check_all({
      {"0", "integer! 0"},
      {"12 -3 +3", "integer! 12 | integer! -3 | integer! 3"},
      {"1'000'000", "integer! 1000000"},
      {"2147483647", "integer! 2147483647"},
      {"2147483648", "float! 2147483648.0"},
      {"-2147483648", "integer! -2147483648"},
      {"-2147483649", "float! -2147483649.0"},
      {"12345678901", "float! 12345678901.0"},
      {"1''0", "(line 1) invalid integer! at 1''0"},
      {"1a", "(line 1) invalid integer! at 1a"},
      {"a/1", "path! a/1"},
      {"FFh", "integer! 255"},
      {"FFFFFFFFh", "integer! -1"},
      {"1Fh 7FFFFFFFh", "integer! 31 | integer! 2147483647"},
      {"0h", "(line 1) invalid integer! at 0h"},
      {"123456789h", "(line 1) invalid integer! at 123456789h"},
  });
}

TEST_F(LoadersTest, FloatsPercentsAndSpecials) {
  check_all({
      {"1.5", "float! 1.5"},
      {"1.", "float! 1.0"},
      {".5 +.5 -.5", "float! 0.5 | float! 0.5 | float! -0.5"},
      {"1e10", "float! 10000000000.0"},
      {"1.5E-3", "float! 0.0015"},
      {"-0.0", "float! -0.0"},
      {"1'000.5", "float! 1000.5"},
      {"0.1", "float! 0.1"},
      {"1.#INF 1.#inf", "float! 1.#INF | float! 1.#INF"},
      {"-1.#INF", "float! -1.#INF"},
      {"1.#NaN 1.#nan", "float! 1.#NaN | float! 1.#NaN"},
      {"1.#foo", "(line 1) invalid float! at 1.#foo"},
      {"1.5e", "(line 1) invalid float! at 1.5e"},
      {"5%", "percent! 0.05"},
      {"1.5%", "percent! 0.015"},
      {"-50% 100%", "percent! -0.5 | percent! 1.0"},
      {"1e2%", "percent! 1.0"},
      {"0.07%", "percent! 0.0007"},
  });
}

TEST_F(LoadersTest, TuplesPairsAndPoints) {
  check_all({
      {"1.2.3", "tuple! 1.2.3"},
      {"255.255.255.0", "tuple! 255.255.255.0"},
      {"1.2.3.4.5.6.7.8.9.10.11.12", "tuple! 1.2.3.4.5.6.7.8.9.10.11.12"},
      {"1.2.3.4.5.6.7.8.9.10.11.12.13", "(line 1) invalid tuple! at 1.2.3.4.5.6.7.8.9.10.11.12.13"},
      {"256.0.0", "(line 1) invalid tuple! at 256.0.0"},
      {"1.2..3", "(line 1) invalid tuple! at 1.2..3"},
      {"1.2.", "(line 1) invalid tuple! at 1.2."},
      {"1x2", "pair! 1x2"},
      {"10X-3 -1x-2", "pair! 10x-3 | pair! -1x-2"},
      {"1x2x3", "(line 1) invalid pair! at 1x2x3"},
      {"1.5x2", "(line 1) invalid pair! at 1.5x2"},
      {"3000000000x1", "(line 1) invalid pair! at 3000000000x1"},
      {"(1, 2)", "point2D! (1.0, 2.0)"},
      {"(1,2,3)", "point3D! (1.0, 2.0, 3.0)"},
      {"(1 2)", "paren! (1 2)"},
      {"(10.5, 2.5)", "point2D! (10.5, 2.5)"},
      {"(1.25,2,3)", "point3D! (1.25, 2.0, 3.0)"},
      {"( 1.5 , -2.5 )", "point2D! (1.5, -2.5)"},
      {"(1.#INF, 0.5)", "point2D! (1.#INF, 0.5)"},
      {"(1.5 2.5, 3)", "(line 1) invalid point2D! at (1.5 2.5, 3)"},
      {"(1.5, 2.5, 3.5, 4)", "(line 1) invalid point3D! at (1.5, 2.5, 3.5, 4)"},
      {"(a, 1)", "(line 1) invalid word! at a, 1)"},
      {",", "(line 1) invalid point2D! at ,"},
  });
}

TEST_F(LoadersTest, Times) {
  check_all({
      {"10:30", "time! 37800.0"},
      {"1:2:3.5", "time! 3723.5"},
      {"-1:00", "time! -3600.0"},
      {"10:30.5", "time! 630.5"},
      {"0:0:59.999", "time! 59.999"},
      {"1:60", "time! 7200.0"},
      {"1:2:60", "(line 1) invalid time! at 1:2:60"},
      {"1:2:3:4", "(line 1) invalid time! at 1:2:3:4"},
      {"10:", "(line 1) invalid time! at 10:"},
      {"99999999999:00", "(line 1) invalid time! at 99999999999:00"},
  });
}

TEST_F(LoadersTest, Dates) {
  check_all({
      {"1-Jan-2000", "date! 2000-1-1"},
      {"1-january-2000 1-SEP-2000", "date! 2000-1-1 | date! 2000-9-1"},
      {"2020/1/2", "date! 2020-1-2"},
      {"2020-12-31", "date! 2020-12-31"},
      {"1/2/99 1/2/49", "date! 1999-2-1 | date! 2049-2-1"},
      {"29-Feb-2000", "date! 2000-2-29"},
      {"29-Feb-2001", "(line 1) invalid date! at 29-Feb-2001"},
      {"32-Jan-2000", "(line 1) invalid date! at 32-Jan-2000"},
      {"1-Foo-2000", "(line 1) invalid date! at 1-Foo-2000"},
      {"2000-13-01", "(line 1) invalid date! at 2000-13-01"},
      {"2000-01-01T10:00", "date! 2000-1-1/36000.0"},
      {"1-Jan-2000/10:30:15", "date! 2000-1-1/37815.0"},
      {"1-Jan-2000/10:00+5:00", "date! 2000-1-1/36000.0 zone 18000"},
      {"1-Jan-2000/10:00-0530", "date! 2000-1-1/36000.0 zone -19800"},
      {"1-Jan-2000/24:00", "(line 1) invalid date! at 1-Jan-2000/24:00"},
      {"20200102T1030", "date! 2020-1-2/37800.0"},
      {"20200102T103015Z", "date! 2020-1-2/37815.0"},
      {"2020-060", "date! 2020-2-29"},
      {"2021-000", "(line 1) invalid date! at 2021-000"},
      {"2020-W01-1", "date! 2019-12-30"},
      {"2020-W01-8", "(line 1) invalid date! at 2020-W01-8"},
  });
}

TEST_F(LoadersTest, Money) {
  check_all({
      {"$1", "money! $1.0"},
      {"$1.50 -$2", "money! $1.5 | money! -$2.0"},
      {"EUR$3", "money! EUR$3.0"},
      {"-USD$0.25", "money! -USD$0.25"},
      {"$1'000.5", "money! $1000.5"},
      {"$0001", "money! $1.0"},
      {"$0.12345", "money! $0.12345"},
      {"$0.123456", "(line 1) invalid money! at $0.123456"},
      {"$1''0", "(line 1) invalid money! at $1''0"},
      {"$1.2'3", "(line 1) invalid money! at $1.2'3"},
      {"XYZ$1", "(line 1) invalid money! at XYZ$1"},
      {"$123456789012345678", "(line 1) invalid money! at $123456789012345678"},
      {"$", "(line 1) invalid money! at $"},
  });
}

TEST_F(LoadersTest, Binaries) {
  check_all({
      {"#{00FF}", "binary! #{00FF}"},
      {"#{}", "binary! #{}"},
      {"#{0a0B}", "binary! #{0A0B}"},
      {"#{abc}", "(line 1) invalid binary! at #{abc}"},  // an unpaired digit is refused
      {"#{00 FF ; note\n 01}", "binary! #{00FF01}"},
      {"16#{FF}", "binary! #{FF}"},
      {"2#{00000001 11111111}", "binary! #{01FF}"},
      {"2#{0101}", "(line 1) invalid binary! at 2#{0101}"},
      {"64#{YWJj}", "binary! #{616263}"},
      {"64#{YWI=}", "binary! #{6162}"},
      {"64#{YQ==}", "binary! #{61}"},
      {"64#{YQ}", "binary! #{}"},
      {"64#{Y===}", "(line 1) invalid binary! at 64#{Y===}"},
      {"64#{a-b_}", "(line 1) invalid binary! at 64#{a-b_}"},
      {"8#{00}", "(line 1) invalid binary! at 8#{00}"},
      {"#{xy}", "(line 1) invalid binary! at #{xy}"},
      {"#{", "(line 1) invalid binary! at #{"},
  });
}

TEST_F(LoadersTest, FilesUrlsAndEmails) {
  check_all({
      {"%a/b.txt", "file! %a/b.txt"},
      {"%\"a b\"", "file! %a b"},
      {"%\"a%20b^(41)\"", "file! %a%20bA"},  // quoted: escapes, no percent decoding
      {"%a%20b", "file! %a b"},
      {"%%C3%A9", "file! %\xC3\xA9"},
      {"%%41%42", "file! %AB"},
      {"%a%zz %a%C3", "file! %a%zz | file! %a%C3"},
      {"%%A9", "file! %\xC2\xA9"},
      {"%a%C3%41", "(line 1) invalid file! at %a%C3%41"},
      {"%", "word! %"},  // a lone "%" is the remainder operator; the empty file is %""
      {"%\"\"", "file! %"},
      {"%\xC3\xA9t\xC3\xA9", "file! %\xC3\xA9t\xC3\xA9"},
      {"http://x.org/a?b=c", "url! http://x.org/a?b=c"},
      {"a:b mailto:a@b.c", "url! a:b | url! mailto:a@b.c"},
      {"http://x.org/a%20b", "url! http://x.org/a b"},
      {"http://x.org/\xC3\xA9", "url! http://x.org/\xC3\xA9"},
      {":a:b", "(line 1) invalid get-word! at :a:b"},
      {"'a:b", "(line 1) invalid lit-word! at 'a:b"},
      {"a@b.c 1@x", "email! a@b.c | email! 1@x"},
      {"a@b%41", "email! a@bA"},
      {"a%41@b", "(line 1) invalid word! at a%41@b"},
  });
}

// The loaders of the engine and the structural cases, seen with real values.
TEST_F(LoadersTest, StringsCharsAndStructure) {
  check_all({
      {"{a{b}c}", "string! \"a{b}c\""},
      {"\"a^/b\"", "string! \"a^/b\""},
      {"%{a}b}% %%{x}%%", "string! \"a}b\" | string! \"x\""},
      {"#\"^(line)\"", "char! #\"^/\""},
      {"#\"^(3000)\"", "char! #\"\xE3\x80\x80\""},
      {"#\"^(1234567)\"", "(line 1) invalid char! at #\"^(1234567)\""},
      {"#(true) #(none)", "logic! true | none! none"},
      {"#(integer!)", "datatype! integer!"},
      {"#(foo)", "(line 1) invalid construction spec at #(foo)"},
      {"#[a 1 b]", "(line 1) invalid map! at #[a 1 b]"},
      {"[1 [2.5 %f] (a)]", "block! [1 [2.5 %f] (a)]"},
      {"1\n2.5 [\n%a]", "integer! 1 | / float! 2.5 | block! [/ %a]"},
      {"a 1 2.5 $1 10:00 1x2 1.2.3 5%",
       "word! a | integer! 1 | float! 2.5 | money! $1.0 | time! 36000.0 | pair! 1x2 | tuple! 1.2.3 | percent! 0.05"},
      {"[a", "(line 1) missing ] at [a"},
      {"1.2.3x", "(line 1) invalid tuple! at 1.2.3x"},
  });
}

TEST_F(LoadersTest, ScanModeChecksWithoutBuilding) {
  struct Mode {
    const char* text;
    i32 type;
  } cases[] = {
      {"12", T_INTEGER}, {"1''0", T_ERROR}, {"1.2.3", T_TUPLE}, {"256.1.1", T_ERROR}, {"#{xy}", T_ERROR},
      {"1x2", T_PAIR},   {"29-Feb-2001", T_ERROR}, {"$1", T_MONEY}, {"XYZ$1", T_ERROR}, {"1:2:60", T_ERROR},
  };
  for (const Mode& c : cases) {
    struct Watch {
      static bool hook(void*, lexer::State*, lexer::Event, i32, const u8*, const u8*, const Cell*) { return true; }
    };
    lexer::Hook hook{Watch::hook, nullptr, lexer::EV_SCAN};
    lexer::Options opt;
    opt.wrap = false;
    opt.hook = &hook;
    Cell out;
    u32 before = mem::stats().nodes_used;
    EXPECT_EQ(lexer::scan(&out, reinterpret_cast<const u8*>(c.text), u32(std::strlen(c.text)), opt), c.type)
        << c.text;
    EXPECT_EQ(mem::stats().nodes_used, before) << c.text;
  }
}

TEST_F(LoadersTest, LoadSingle) {
  auto single = [](const char* text, Cell* out) {
    Cell s;
    string::make_from_utf8(&s, text, std::strlen(text));
    stack::push(&s);
    runtime::load_single(&s, out);
    stack::pop(1);
  };
  Cell out;
  single("12", &out);
  EXPECT_TRUE(out.is(T_INTEGER));
  EXPECT_EQ(out.int_value(), 12);
  single("\n  7", &out);
  EXPECT_EQ(out.int_value(), 7);
  EXPECT_EQ(out.header & kCellNewLine, 0u);
  single("", &out);
  EXPECT_TRUE(out.is(T_UNSET));
  single("  ", &out);
  EXPECT_TRUE(out.is(T_UNSET));
  single("1 2", &out);
  EXPECT_TRUE(out.is(T_NONE));
  single("[a b] ", &out);  // text is left over after the value
  EXPECT_TRUE(out.is(T_NONE));
  single("[a b]", &out);
  EXPECT_TRUE(out.is(T_BLOCK));
  single("\xC3\xA9t\xC3\xA9", &out);
  EXPECT_TRUE(out.is(T_WORD));
  EXPECT_EQ(error_from_code(test::error_code_of([&] { single("1a", &out); })), Err::SyntaxInvalid);
}

TEST(ScanNumbers, FloatText) {
  struct Row {
    const char* text;
    bool ok;
  } rows[] = {
      {"1", true},    {"+1", true},    {"-1.5", true},  {"1.", true},     {".5", true},    {"1e5", true},
      {"1.5E-3", true}, {"1'000.5", true}, {"1.5'5", true}, {"1''0", false}, {"'1", false},  {"1.e5", false},
      {"1e", false},  {"1e+", false},  {"1.2.3", false}, {"1x", false},    {"", false},     {"1'", true},
  };
  for (const Row& r : rows)
    EXPECT_EQ(numtext::is_float_text(reinterpret_cast<const u8*>(r.text), u32(std::strlen(r.text))), r.ok) << r.text;
  std::string longest = "0." + std::string(309, '0') + "1";
  EXPECT_EQ(longest.size(), 312u);
  EXPECT_TRUE(numtext::is_float_text(reinterpret_cast<const u8*>(longest.data()), 312));
  EXPECT_FALSE(numtext::is_float_text(reinterpret_cast<const u8*>((longest + "0").data()), 313));
}

TEST(ScanNumbers, TextToIntegerInEveryUnit) {
  struct Row {
    const char* text;
    i32 value;
    i32 error;
  } rows[] = {
      {"12", 12, 0},          {"-12", -12, 0},       {"+7", 7, 0},          {"1'000", 1000, 0},
      {"'1'", 1, 0},          {"2147483647", 2147483647, 0},             {"-2147483648", INT32_MIN, 0},
      {"2147483648", 0, numtext::kOverflow},          {"-2147483649", 0, numtext::kOverflow},
      {"99999999999", 0, numtext::kOverflow},         {"", 0, numtext::kNotANumber},
      {"-", 0, numtext::kNotANumber},                 {"1a", 0, numtext::kNotANumber},
      {" 1", 0, numtext::kNotANumber},
  };
  for (const Row& r : rows) {
    for (u32 unit : {1u, 2u, 4u}) {
      u32 n = u32(std::strlen(r.text));
      std::vector<u8> data(n * unit, 0);
      for (u32 i = 0; i < n; i++) data[i * unit] = u8(r.text[i]);
      i32 error = 99;
      i32 v = numtext::text_to_integer(data.data(), n, unit, &error);
      EXPECT_EQ(error, r.error) << r.text << " unit " << unit;
      if (!r.error) {
        EXPECT_EQ(v, r.value) << r.text << " unit " << unit;
      }
    }
  }
}

TEST(ScanNumbers, TextToFloat) {
  auto convert = [](const std::u32string& text, u32 unit, bool* failed) {
    std::vector<u8> data(text.size() * unit, 0);
    for (std::size_t i = 0; i < text.size(); i++) std::memcpy(&data[i * unit], &text[i], unit);
    Cell result;
    set_unset(&result);
    double d = numtext::text_to_float(data.data(), u32(text.size()), unit, &result);
    *failed = result.header == 0xFFFFFFFFu;
    return d;
  };
  bool failed;
  EXPECT_EQ(convert(U"1,5", 1, &failed), 1.5);
  EXPECT_FALSE(failed);
  EXPECT_EQ(convert(U"-1'000.25", 2, &failed), -1000.25);
  EXPECT_FALSE(failed);
  EXPECT_EQ(convert(U"1e5", 4, &failed), 100000.0);
  EXPECT_FALSE(failed);
  EXPECT_TRUE(std::isnan(convert(U"abc", 1, &failed)));
  EXPECT_TRUE(failed);
  // A wide character is never a digit, whatever its low byte.
  convert(U"1\u0131", 2, &failed);
  EXPECT_TRUE(failed);
  std::u32string longest = U"0." + std::u32string(309, U'0') + U"1";
  EXPECT_EQ(convert(longest, 1, &failed), 1e-310);
  EXPECT_FALSE(failed);
  convert(longest + U"0", 1, &failed);  // 313 characters
  EXPECT_TRUE(failed);
}

}  // namespace
}  // namespace zot
