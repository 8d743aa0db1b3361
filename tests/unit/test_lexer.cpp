// The lexer engine: token classes, nesting, syntax errors, line counting and
// the loaders that exist so far. Loaders of datatypes that do not exist yet
// are stood in for by a stub that keeps the token text under the token's type.
#include <memory>
#include <string>
#include <vector>

#include "datatypes/string.h"
#include "interpreter/lexer.h"
#include "runtime_fixture.h"

namespace zot {
namespace {

using lexer::State;

const char* const kClassNames[lexer::kTokenClassCount] = {
    "eof",     "error",   "block-open", "block-close", "paren-open", "paren-close", "brace-open",
    "brace-close", "map-open", "path-head", "construct", "comment", "comma", "string", "word",
    "issue",   "integer", "refinement", "char",        "file",       "binary",      "percent",
    "float",   "special-float", "tuple", "date",       "pair",       "point",       "time",
    "money",   "tag",     "url",        "email",       "hex",        "rawstring",   "ref"};

const char* type_name(u32 t) {
  static const char* const kNames[] = {
      "",        "datatype!", "unset!",  "none!",      "logic!",    "block!",    "paren!",
      "string!", "file!",     "url!",    "char!",      "integer!",  "float!",    "symbol!",
      "context!", "word!",    "set-word!", "lit-word!", "get-word!", "refinement!", "issue!",
      "native!", "action!",   "op!",     "function!",  "path!",     "lit-path!", "set-path!",
      "get-path!", "routine!", "bitset!", "triple!",   "object!",   "typeset!",  "error!",
      "vector!", "hash!",     "pair!",   "percent!",   "tuple!",    "map!",      "binary!",
      "series!", "time!",     "tag!",    "email!",     "handle!",   "date!",     "port!",
      "money!",  "ref!",      "point2D!", "point3D!",  "image!",    "event!"};
  return t < sizeof kNames / sizeof *kNames ? kNames[t] : "?";
}

// Stub loader: a string cell holding the token text, typed as the token.
void stub_loader(State* st, const u8* start, const u8* end, u32, bool load) {
  if (!load) return;
  Cell* c = lexer::alloc_slot(st);
  u32 nl = c->header & kCellNewLine;
  string::make_at(c, u32(end - start));
  string::append_c_text_n(c, reinterpret_cast<const char*>(start), std::size_t(end - start));
  c->header = nl | (st->token_type > 0 ? u32(st->token_type) : u32(T_STRING));
}

// Integers for the point tests: the value itself, so the stub can see a number.
void stub_integer(State* st, const u8* start, const u8* end, u32, bool load) {
  if (!load) return;
  i32 v = 0;
  for (const u8* p = start; p < end; p++) v = v * 10 + (*p - '0');
  Cell* c = lexer::alloc_slot(st);
  make_cell(c, (c->header & kCellNewLine) | T_INTEGER, 0, u32(v), 0);
}

std::string describe(const Cell* c);

std::string describe_series(const Cell* c) {
  const bool map = c->is(T_MAP);
  mem::Series* s = mem::series_of(map ? c->map_block() : c->series_node());
  std::string out;
  const Cell* cells = reinterpret_cast<const Cell*>(s->head_ptr());
  u32 n = s->bytes_used() / sizeof(Cell);
  for (u32 i = map ? 0 : u32(c->series_index()); i < n; i++) {
    if (!out.empty()) out += ' ';
    if (cells[i].header & kCellNewLine) out += "/ ";
    out += describe(&cells[i]);
  }
  return out;
}

std::string describe(const Cell* c) {
  switch (c->type()) {
    case T_BLOCK: return "[" + describe_series(c) + "]";
    case T_PAREN: return "(" + describe_series(c) + ")";
    case T_PATH: case T_LIT_PATH: case T_SET_PATH: case T_GET_PATH: case T_MAP:
      return std::string(type_name(c->type())) + "[" + describe_series(c) + "]";
    case T_LOGIC: return c->logic_value() ? "true" : "false";
    case T_NONE: return "none";
    case T_UNSET: return "unset";
    case T_INTEGER: return std::to_string(c->int_value());
    case T_CHAR: return "char:" + std::to_string(c->char_value());
    case T_DATATYPE: return std::string("datatype:") + std::to_string(c->datatype_id());
    case T_POINT2D: case T_POINT3D: return type_name(c->type());
    default: {
      std::string name = type_name(c->type());
      name.pop_back();  // drop the "!"
      // Every other value here is text: a stub's cell (a word's, a number's)
      // keeps its token in a string payload under the token's type.
      Cell text = *c;
      set_type(&text, T_STRING);
      return name + ":" + string::to_utf8(&text);
    }
  }
}

class LexerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    test::ensure_runtime();
    lexer::init();
    for (int i = 0; i < lexer::kTokenClassCount; i++) saved_[i] = lexer::g_loaders[i];
    // The engine is tested alone: every loader but its own (text, chars,
    // tags, raw strings, refs) is a stub that keeps the token's text.
    for (int i = lexer::TK_STRING; i < lexer::kTokenClassCount; i++) {
      bool engine_own = i == lexer::TK_STRING || i == lexer::TK_CHAR || i == lexer::TK_TAG ||
                        i == lexer::TK_RAWSTRING || i == lexer::TK_REF;
      if (!engine_own) lexer::g_loaders[i] = stub_loader;
    }
    lexer::g_loaders[lexer::TK_INTEGER] = stub_integer;
  }
  void TearDown() override {
    for (int i = 0; i < lexer::kTokenClassCount; i++) lexer::g_loaders[i] = saved_[i];
  }
  lexer::TokenFn saved_[lexer::kTokenClassCount];
};

// Loads text into a block and describes it ("" plus the error message when it raises).
std::string load(const std::string& text, Cell* out = nullptr) {
  Cell result;
  set_none(&result);
  lexer::Options opt;
  int code = test::error_code_of([&] {
    lexer::scan(&result, reinterpret_cast<const u8*>(text.data()), u32(text.size()), opt);
  });
  if (code >= 0) return "error " + std::to_string(code);
  if (out) *out = result;
  return describe(&result);
}

// The message of the syntax error the text raises, as the catalog forms it.
std::string error_of(const std::string& text, lexer::Options opt = {}) {
  Cell result;
  int code = test::error_code_of([&] {
    lexer::scan(&result, reinterpret_cast<const u8*>(text.data()), u32(text.size()), opt);
  });
  if (code < 0) return "(no error)";
  Err e = error_from_code(code);
  std::string line = string::to_utf8(last_error_arg(0));
  auto text_of = [](const Cell* c) { return c->is(T_STRING) ? string::to_utf8(c) : std::string("?"); };
  switch (e) {
    case Err::SyntaxInvalid:
      return line + " invalid " + type_name(last_error_arg(1)->datatype_id()) + " at " + text_of(last_error_arg(2));
    case Err::SyntaxMissing: {
      u32 d = last_error_arg(1)->char_value();
      return line + " missing " + (d ? std::string(1, char(d)) : std::string("^@")) + " at " +
             text_of(last_error_arg(2));
    }
    case Err::SyntaxMalconstruct: return line + " invalid construction spec at " + text_of(last_error_arg(1));
    case Err::SyntaxBadChar: return line + " invalid character at " + text_of(last_error_arg(1));
    default: return "error " + std::to_string(code);
  }
}

// Records the tokens the table finds (and whole brace strings).
struct Recorder {
  std::string out;
  static bool hook(void* data, State* st, lexer::Event ev, i32, const u8* start, const u8* end, const Cell*) {
    auto* r = static_cast<Recorder*>(data);
    if (ev == lexer::EV_SCAN && st->token_class != lexer::TK_BRACE_CLOSE) return true;
    if (!r->out.empty()) r->out += ' ';
    r->out += ev == lexer::EV_SCAN ? "string" : kClassNames[st->token_class];
    if (end > start) {
      r->out += '=';
      r->out.append(reinterpret_cast<const char*>(start), std::size_t(end - start));
    }
    return true;
  }
};

std::string tokens(const std::string& text, bool prescan = false) {
  Recorder r;
  lexer::Hook hook{Recorder::hook, &r, lexer::EV_PRESCAN | lexer::EV_SCAN};
  lexer::Options opt;
  opt.wrap = false;
  opt.load = !prescan;
  opt.hook = &hook;
  Cell result;
  i32 type = lexer::scan(&result, reinterpret_cast<const u8*>(text.data()), u32(text.size()), opt);
  if (type == T_ERROR) r.out += " !error";
  return r.out;
}

TEST_F(LexerTest, EveryTokenClassFromTheTable) {
  struct Case {
    const char* text;
    const char* tokens;
  } cases[] = {
      {"", ""},
      {"[a]", "block-open word=a block-close"},
      {"(a)", "paren-open word=a paren-close"},
      {"{a{b}c}", "brace-open string={a{b}c}"},
      {"#[a 1]", "map-open=# word=a integer=1 block-close"},
      {"a/b", "path-head=a word=b"},
      {"#(true)", "construct=#(true)"},
      {"; note\nx", "comment=; note word=x"},
      {"(1, 2)", "paren-open integer=1 comma integer=2 paren-close"},
      {"\"a b\" \"^\"\"", "string=\"a b\" string=\"^\"\""},
      {"a a: :a 'a + - <= < = //", "word=a word=a: word=:a word='a word=+ word=- word=<= word=< word== word=//"},
      {"#a #b", "issue=#a issue=#b"},
      {"12 0 1'000 -3", "integer=12 integer=0 integer=1'000 integer=-3"},
      {"/a /", "refinement=/a word=/"},
      {"#\"a\" #\"^\"\"", "char=#\"a\" char=#\"^\"\""},
      {"%a/b.txt %\"a b\"", "file=%a/b.txt file=%\"a b\""},
      {"#{00FF} 2#{00000101} 64#{AA==}", "binary=#{00FF} binary=2#{00000101} binary=64#{AA==}"},
      {"5% 1.5%", "percent=5% percent=1.5%"},
      {"1.5 1. .5 1e10 1.5E-3", "float=1.5 float=1. float=.5 float=1e10 float=1.5E-3"},
      {"1.#INF -1.#NaN", "special-float=1.#INF special-float=-1.#NaN"},
      {"1.2.3 1.2.3.4", "tuple=1.2.3 tuple=1.2.3.4"},
      {"1-Jan-2000 2020/1/2 2000-01-01T10:00", "date=1-Jan-2000 date=2020/1/2 date=2000-01-01T10:00"},
      {"1x2 10X-3", "pair=1x2 pair=10X-3"},
      {"(10.5, 2.5) (1.25,2,3)", "paren-open point=(10.5, 2.5) paren-open point=(1.25,2,3)"},
      {"10:30 1:2:3.5 -1:00", "time=10:30 time=1:2:3.5 time=-1:00"},
      {"$1 $1.50 -$2 EUR$3", "money=$1 money=$1.50 money=-$2 money=EUR$3"},
      {"<a> <b c=\"x>y\">", "tag=<a> tag=<b c=\"x>y\">"},
      {"http://x.org/a?b=c a:b", "url=http://x.org/a?b=c url=a:b"},
      {"a@b.c 1@x", "email=a@b.c email=1@x"},
      {"FFh 1Fh 00h", "hex=FFh hex=1Fh hex=00h"},
      {"%{a}% %%{x}b}%%", "rawstring=%{a}% rawstring=%%{x}b}%%"},
      {"@a @b:c", "ref=@a ref=@b:c"},
      // Lower-case words made of hex letters stay words.
      {"each face F1 FACE", "word=each word=face word=F1 word=FACE"},
  };
  for (const Case& c : cases) EXPECT_EQ(tokens(c.text), c.tokens) << c.text;
}

TEST_F(LexerTest, PrescanGivesTheTypeOfTheFirstValue) {
  struct Case {
    const char* text;
    i32 type;
  } cases[] = {
      {"a b", T_WORD},         {"12 x", T_INTEGER},    {"[a b] c", T_BLOCK}, {"(a)", T_PAREN},
      {"\"x", T_ERROR},        {"1a", T_ERROR},        {"#{", T_ERROR},      {"", 0},
      {"{a{b}c} d", T_STRING}, {"a/b c", T_PATH},     {"[a", T_ERROR},      {"; c\n%x", T_FILE},
  };
  for (const Case& c : cases) {
    lexer::Options opt;
    opt.load = false;
    Cell out;
    EXPECT_EQ(lexer::scan(&out, reinterpret_cast<const u8*>(c.text), u32(std::strlen(c.text)), opt), c.type)
        << c.text;
  }
}

TEST_F(LexerTest, ScanModeRecognisesWithoutBuilding) {
  struct Case {
    const char* text;
    i32 type;
  } cases[] = {
      {"a:", T_SET_WORD}, {":a", T_GET_WORD}, {"'a", T_LIT_WORD}, {"a/b:", T_SET_PATH},
      {":a/b", T_GET_PATH}, {"'a/b", T_LIT_PATH}, {"#[a 1 b]", T_MAP}, {"a:b", T_URL},
      {"'a:", T_ERROR}, {"\"a^(zz)\"", T_ERROR}, {"a ]", T_ERROR}, {"(1, 2)", T_POINT2D},
  };
  for (const Case& c : cases) {
    lexer::Options opt;
    opt.wrap = false;
    Cell out;
    set_unset(&out);
    EXPECT_EQ(lexer::scan(&out, reinterpret_cast<const u8*>(c.text), u32(std::strlen(c.text)), opt), c.type)
        << c.text;
    if (c.type == T_ERROR) {
      EXPECT_TRUE(out.is(T_NONE)) << c.text;
    }
  }
}

TEST_F(LexerTest, LoadsValuesAndNesting) {
  struct Case {
    const char* text;
    const char* value;
  } cases[] = {
      {"", "[]"},
      {" ", "[]"},
      {"\n", "[]"},
      {"a [b (c d) []] e", "[word:a [word:b (word:c word:d) []] word:e]"},
      {"{a{b}c}", "[string:a{b}c]"},
      {"\"a^/b^(41)^(tab)^-^^\"", "[string:a\nbA\t\t^]"},
      {"{a^}b}", "[string:a}b]"},
      {"%{a}b}% %%{x}%% %%{a}%b}%%", "[string:a}b string:x string:a}%b]"},
      {"<a b> @ref", "[tag:a b ref:ref]"},
      {"a/b:", "[set-path![word:a word:b]]"},
      {":a/b 'c/d a/b/c", "[get-path![word:a word:b] lit-path![word:c word:d] path![word:a word:b word:c]]"},
      {"a/(b c)/d e", "[path![word:a (word:b word:c) word:d] word:e]"},
      {"a/b[c]", "[path![word:a word:b] [word:c]]"},
      {"a: :b 'c", "[set-word:a: get-word::b lit-word:'c]"},
      {"(1, 2) (1,2,3) (1 2)", "[point2D! point3D! (1 2)]"},
      {"(10.5, 2.5)", "[point2D!]"},
      {"#(true) #(false) #(none) #(unset)", "[true false none unset]"},
      // String keys: the stub words above are no real words for a map to hash.
      {"#[\"a\" 1 \"b\" 2]", "[map![string:a 1 string:b 2]]"},
      {"a\xC2\xA0" "b", "[word:a word:b]"},
      {"\xE3\x80\x80", "[]"},
      {"a\xE3\x80\x80 \xE2\x80\x83" "b", "[word:a word:b]"},
      {"#\"^(line)\" #\"^(3000)\" #\"x\" #\"\xC3\xA9\"", "[char:10 char:12288 char:120 char:233]"},
      {"a\nb [\nc]", "[word:a / word:b [/ word:c]]"},
      {"x {a\nb} y\n{c}", "[word:x string:a\nb word:y / string:c]"},
  };
  for (const Case& c : cases) EXPECT_EQ(load(c.text), c.value) << c.text;
}

TEST_F(LexerTest, SyntaxErrorsReadExactly) {
  struct Case {
    const char* text;
    const char* message;
  } cases[] = {
      {"1a", "(line 1) invalid integer! at 1a"},
      {"}", "(line 1) invalid character at }"},
      {"\\", "(line 1) invalid character at \\"},
      {"a \xC0", "(line 1) invalid character at \xEF\xBF\xBD"},
      {"#{", "(line 1) invalid binary! at #{"},
      {"[a", "(line 1) missing ] at [a"},
      {"a]", "(line 1) missing [ at ]"},
      {"[a)", "(line 1) missing ] at )"},
      {"(a]", "(line 1) missing ) at ]"},
      {"[(a]", "(line 1) missing ) at ]"},
      {"[[a]\nb\n", "(line 3) missing ] at [[a]"},
      {"a/:", "(line 1) invalid path! at a/:"},
      {"a/", "(line 1) invalid path! at a/"},
      {"a/b:/c", "(line 1) invalid path! at a/b:/c"},
      {",", "(line 1) invalid point2D! at ,"},
      {"[1, 2]", "(line 1) invalid point2D! at , 2]"},
      {"(1,2,3,4)", "(line 1) invalid point3D! at (1,2,3,4)"},
      {"(a ,1)", "(line 1) invalid point2D! at (a ,1)"},
      {"(a, 1)", "(line 1) invalid word! at a, 1)"},
      {"(1, [a])", "(line 1) invalid point2D! at [a])"},
      {"#[a 1 b]", "(line 1) invalid map! at #[a 1 b]"},
      {"#(foo)", "(line 1) invalid construction spec at #(foo)"},
      {"#(truex)", "(line 1) invalid construction spec at #(truex)"},
      {"#(true", "(line 1) invalid construction spec at #(true"},
      {"a\n\n1a", "(line 3) invalid integer! at 1a"},
      {"\n}", "(line 2) invalid character at }"},
      {"\"abc", "(line 1) invalid string! at \"abc"},
      {"\"ab\ncd\"", "(line 1) invalid string! at \"ab"},
      {"{abc", "(line 1) invalid string! at {abc"},
      {"x {a{b}\n", "(line 2) invalid string! at {a{b}"},
      {"'a:", "(line 1) invalid lit-word! at 'a:"},
      {":a:", "(line 1) invalid word! at :a:"},
      {"#", "(line 1) invalid issue! at #"},
      {"#\"ab\"", "(line 1) invalid char! at #\"ab\""},
      {"#\"^(1234567)\"", "(line 1) invalid char! at #\"^(1234567)\""},
      {"\"^(zz)\"", "(line 1) invalid string! at \"^(zz)\""},
      {"a\xC2", "(line 1) invalid word! at a\xEF\xBF\xBD"},
      {"%{abc}%%{", "(line 1) invalid string! at %{"},
      {"%%{abc}%", "(line 1) invalid string! at %%{abc}%"},
      {"a/b#c", "(line 1) invalid path! at a/b#c"},
      {"1.2.3x", "(line 1) invalid tuple! at 1.2.3x"},
      {"$", "(line 1) invalid money! at $"},
      {"1x2x3", "(line 1) invalid pair! at 1x2x3"},
      {"<a", "(line 1) invalid tag! at <a"},
  };
  for (const Case& c : cases) EXPECT_EQ(error_of(c.text), c.message) << c.text;
  // The error text is cut at 30 bytes.
  EXPECT_EQ(error_of(std::string("\"0123456789012345678901234567890123456789")),
            "(line 1) invalid string! at \"01234567890123456789012345678");
  // A NUL byte inside the input is refused, not taken as the end.
  EXPECT_EQ(error_of(std::string("a \0b", 4)), "(line 1) invalid character at " + std::string("\0b", 2));
  // The error text never splits a character at the 30-byte limit.
  EXPECT_EQ(error_of("\"" + std::string(28, 'x') + "\xC3\xA9"),
            "(line 1) invalid string! at \"" + std::string(28, 'x'));
}

// A hook that refuses errors lets the scan go on after the bad token.
TEST_F(LexerTest, RefusedErrorsResumeAfterTheToken) {
  struct Refuse {
    int errors = 0;
    static bool hook(void* d, State*, lexer::Event ev, i32, const u8*, const u8*, const Cell*) {
      if (ev == lexer::EV_ERROR) static_cast<Refuse*>(d)->errors++;
      return ev != lexer::EV_ERROR;
    }
  } r;
  lexer::Hook hook{Refuse::hook, &r, lexer::EV_ERROR};
  lexer::Options opt;
  opt.hook = &hook;
  const char* texts[] = {"a 1a b", "[a } b", "{abc", "a/", "\"ab", "[a", "(1, 2, 3, 4)", "a\0b"};
  std::string results[8];
  for (int i = 0; i < 8; i++) {
    Cell out;
    std::string t = i == 7 ? std::string("a\0b", 3) : std::string(texts[i]);
    int code = test::error_code_of([&] { lexer::scan(&out, reinterpret_cast<const u8*>(t.data()), u32(t.size()), opt); });
    results[i] = code < 0 ? describe(&out) : "error";
  }
  EXPECT_EQ(results[0], "[word:a word:b]");
  EXPECT_EQ(results[1], "[word:a word:b]");  // the unclosed block's marker is dropped
  EXPECT_EQ(results[2], "[]");
  EXPECT_EQ(results[4], "[]");
  EXPECT_EQ(results[5], "[word:a]");
  EXPECT_EQ(results[7], "[word:a word:b]");
  EXPECT_GE(r.errors, 8);
}

TEST_F(LexerTest, FirstValueAloneAndIntoBlock) {
  Cell out;
  lexer::Options opt;
  opt.one = true;
  u32 used = 0;
  const char* text = "[a b] c";
  lexer::scan(&out, reinterpret_cast<const u8*>(text), 7, opt, &used);
  EXPECT_EQ(describe(&out), "[word:a word:b]");
  EXPECT_EQ(used, 5u);
  opt.keep_block = true;
  lexer::scan(&out, reinterpret_cast<const u8*>(text), 7, opt, &used);
  EXPECT_EQ(describe(&out), "[[word:a word:b]]");

  Cell into;
  lexer::Options first;
  lexer::scan(&into, reinterpret_cast<const u8*>("x"), 1, first);
  lexer::Options more;
  more.into = &into;
  lexer::scan(nullptr, reinterpret_cast<const u8*>("y z"), 3, more);
  EXPECT_EQ(describe(&into), "[word:x word:y word:z]");
}

// Many values grow the shared cell buffer; a loader may scan again (nested).
TEST_F(LexerTest, BufferGrowthAndNestedScans) {
  std::string text;
  for (int i = 0; i < 3000; i++) text += std::to_string(i) + (i % 7 == 6 ? "\n" : " ");
  Cell out{};
  ASSERT_EQ(load(text, &out).substr(0, 8), "[0 1 2 3");
  EXPECT_EQ(mem::series_of(out.series_node())->bytes_used() / sizeof(Cell), 3000u);
  EXPECT_GE(lexer::cell_capacity(), 3000u);

  lexer::g_loaders[lexer::TK_ISSUE] = [](State* st, const u8*, const u8*, u32, bool load) {
    if (!load) return;
    u32 index = st->tail;
    lexer::alloc_slot(st);
    Cell inner;
    lexer::Options opt;
    lexer::scan(&inner, reinterpret_cast<const u8*>("p [q r]"), 7, opt);
    *lexer::cell_at(index) = inner;
  };
  EXPECT_EQ(load("a #n b"), "[word:a [word:p [word:q word:r]] word:b]");
  EXPECT_EQ(lexer::g_states, nullptr);
}

// Loading a token whose datatype has no loader yet says so instead of guessing.
TEST_F(LexerTest, MissingLoaderIsReported) {
  lexer::g_loaders[lexer::TK_DATE] = nullptr;
  Cell out;
  lexer::Options opt;
  int code = test::error_code_of([&] { lexer::scan(&out, reinterpret_cast<const u8*>("1-1-2000"), 8, opt); });
  EXPECT_EQ(code, error_code(Err::InternalFeatureNa));
}

// Cut-off and hostile inputs never read outside the text, in every mode
// (the sanitizer build checks the reads: each text sits in a buffer of its
// exact size).
TEST_F(LexerTest, TruncatedInputsStayInBounds) {
  std::vector<std::string> texts = {
      "\"abc", "#", "^", "%", "#\"", "#\"^", "{^", "%{", "%%{a}%", "(1234", "#(", "<a", "a/", "'", ":",
      "1.#", "$", "1x", "1e", "#[", "@", "\"^", "a\xC2", "\xE3\x80", "{a^", "16#", "(1,", "a/(", "/", "<",
      "a/b:", "%\"", "#{0", "1:", "-", "(1234,", "(1234, 5", "a/\xC2\xA0", "#\"^(", "#\"^(12"};
  // Every short text over the characters that start or end tokens.
  const std::string alphabet = std::string("\"#^%{}[]()/:'a1.,<>;@$\\\n\xC2\xA0", 26) + std::string(1, '\0');
  for (char a : alphabet)
    for (char b : alphabet) {
      texts.push_back(std::string{a, b});
      for (char c : std::string("\"{}[]()/:^%a1")) texts.push_back(std::string{a, b, c});
    }
  for (const std::string& t : texts) {
    for (int mode = 0; mode < 3; mode++) {
      std::unique_ptr<u8[]> buf(new u8[t.size() ? t.size() : 1]);
      std::memcpy(buf.get(), t.data(), t.size());
      lexer::Options opt;
      opt.load = mode != 0;
      opt.wrap = mode != 1;
      Cell out;
      int code = test::error_code_of([&] { lexer::scan(&out, buf.get(), u32(t.size()), opt); });
      bool syntax = code >= 200 && code < 300;
      EXPECT_TRUE(code == -1 || syntax || code == error_code(Err::InternalFeatureNa))
          << "mode " << mode << " text " << t << " code " << code;
      EXPECT_EQ(lexer::g_states, nullptr);
    }
  }
}

TEST_F(LexerTest, TablesAreComplete) {
  // Every state ends somewhere at the end of input, and no byte is unclassified.
  for (int s = 0; s < lexer::kStateCount; s++)
    EXPECT_GE(lexer::g_tables.transition[s][lexer::C_EOF], lexer::kFinal) << lexer::state_name(s);
  EXPECT_EQ(lexer::g_tables.class_word[u8('\n')] & 0xFF, lexer::C_LF);
  EXPECT_EQ(lexer::g_tables.class_word[0xF0], u32(lexer::C_WORD) | lexer::F_LEAD4 | lexer::F_HIGH);
  EXPECT_EQ(lexer::unit_of_flags(lexer::F_LEAD2 | lexer::F_LEAD4), 4u);
  EXPECT_EQ(lexer::unit_of_flags(lexer::F_LEAD2), 2u);
}

}  // namespace
}  // namespace zot
