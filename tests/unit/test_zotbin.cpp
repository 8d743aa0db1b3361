#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "boot/compressor.h"
#include "boot/zotbin.h"
#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/error.h"
#include "datatypes/string.h"
#include "interpreter/eval.h"
#include "runtime/root.h"
#include "runtime/rooted.h"
#include "runtime/stack.h"
#include "tests/unit/eval_fixture.h"
#include "tests/unit/runtime_fixture.h"

namespace zot {
namespace {

using Bytes = std::vector<u8>;

struct ZotbinTest : ::testing::Test {
  void SetUp() override { test::ensure_runtime(); }
};

std::string hex(const u8* p, std::size_t n) {
  std::string s;
  char buf[4];
  for (std::size_t i = 0; i < n; i++) {
    std::snprintf(buf, sizeof buf, i ? " %02X" : "%02X", p[i]);
    s += buf;
  }
  return s;
}
std::string hex(const Bytes& b) { return hex(b.data(), b.size()); }

Bytes unhex(const std::string& s) {
  Bytes b;
  for (std::size_t i = 0; i < s.size();) {
    if (s[i] == ' ') {
      i++;
      continue;
    }
    b.push_back(u8(std::stoul(s.substr(i, 2), nullptr, 16)));
    i += 2;
  }
  return b;
}

Bytes text_bytes(const std::string& s) { return Bytes(s.begin(), s.end()); }

Bytes cat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

// The value of Zot source (its last expression).
Cell eval(const std::string& source) {
  Cell v;
  set_none(&v);
  int code = test::error_code_of([&] {
    Cell block = test::load(source);
    v = interp::do_block(&block);
  });
  EXPECT_LT(code, 0) << source;
  return v;
}

void set_global(const char* name, const Cell& value) {
  Cell w = word::load(name);
  Cell v = value;
  context::set(&w, &v);
}

Bytes bytes_of(const Cell& binary) {
  const mem::Series* s = mem::series_of(binary.w2);
  return Bytes(s->head_ptr(), s->tail_ptr());
}

Cell binary_of(const Bytes& b) {
  Cell c;
  mem::Node n = mem::alloc_bytes(u32(b.size()));
  mem::Series* s = mem::series_of(n);
  if (!b.empty()) std::memcpy(s->head_ptr(), b.data(), b.size());
  s->tail = s->head + u32(b.size());
  return *make_cell(&c, T_BINARY, 0, n, 0);
}

Bytes encoded(const Cell& v, bool compact) {
  Cell out;
  zotbin::encode(&v, compact, &out);
  return bytes_of(out);
}

u32 read_varint(const Bytes& b, std::size_t* at) {
  u32 v = 0;
  for (int shift = 0;; shift += 7) {
    u8 c = b[(*at)++];
    v |= u32(c & 0x7F) << shift;
    if (!(c & 0x80)) return v;
  }
}

u32 read_word(const Bytes& b, std::size_t* at) {
  u32 v = u32(b[*at]) | (u32(b[*at + 1]) << 8) | (u32(b[*at + 2]) << 16) | (u32(b[*at + 3]) << 24);
  *at += 4;
  return v;
}

// The records area of the binary that the source's value encodes to.
std::string records_hex(const std::string& source, bool compact) {
  Bytes b = encoded(eval(source), compact);
  std::size_t at = 8;
  auto number = [&] { return compact ? read_varint(b, &at) : read_word(b, &at); };
  number();
  u32 size = number();
  if (b[7] & zotbin::kFlagSymbols) {
    u32 n = number();
    u32 names = number();
    at += 4 * n + names;
  }
  return hex(b.data() + at, size);
}

// A compact binary around the records, with a symbol table of the names.
Bytes compact_binary(const std::string& records, const std::vector<std::string>& names = {}, u8 extra_flags = 0) {
  Bytes r = unhex(records);
  Bytes out = text_bytes("ZOTBIN");
  out.push_back(2);
  out.push_back(u8(zotbin::kFlagCompact | (names.empty() ? 0 : zotbin::kFlagSymbols) | extra_flags));
  auto varint = [&](u32 v) {
    while (v >= 0x80) {
      out.push_back(u8(v | 0x80));
      v >>= 7;
    }
    out.push_back(u8(v));
  };
  varint(1);
  varint(u32(r.size()));
  if (!names.empty()) {
    std::string area;
    Bytes offsets;
    for (const std::string& n : names) {
      u32 o = u32(area.size());
      for (int k = 0; k < 4; k++) offsets.push_back(u8(o >> (8 * k)));
      area += n;
      area.push_back('\0');
    }
    varint(u32(names.size()));
    varint(u32(area.size()));
    out.insert(out.end(), offsets.begin(), offsets.end());
    out.insert(out.end(), area.begin(), area.end());
  }
  out.insert(out.end(), r.begin(), r.end());
  return out;
}

// A fixed binary around the records (no symbol table).
Bytes fixed_binary(const std::string& records) {
  Bytes r = unhex(records);
  Bytes out = text_bytes("ZOTBIN");
  out.push_back(2);
  out.push_back(0);
  for (u32 v : {1u, u32(r.size())})
    for (int k = 0; k < 4; k++) out.push_back(u8(v >> (8 * k)));
  out.insert(out.end(), r.begin(), r.end());
  return out;
}

// What decoding raised: the error code and its first argument molded, or
// the molded value that the codec's decode gave.
struct Outcome {
  int code = -1;
  std::string arg;
  std::string value;
};

template <class F>
Outcome outcome_of(F&& fn) {
  Outcome o;
  Cell* base = stack::g_base;
  Cell* top = stack::g_top;
  stack::Frame* ctop = stack::g_ctop;
  stack::push_try_frame(nullptr);
  try {
    fn(&o);
  } catch (const RuntimeThrow& t) {
    if (t.code != kThrowError) throw;
    runtime::g_thrown_code = 0;
    Cell* e = stack::top_value();
    o.code = error_cell_code(e);
    Cell arg = *error::field(e, error::kArg1);
    // Binaries do not mold yet: their type names them.
    o.arg = arg.is(T_BINARY) ? "binary" : test::mold(arg);
  }
  stack::g_base = base;
  stack::g_top = top;
  stack::g_ctop = ctop;
  return o;
}

Outcome decode_bytes(const Bytes& b) {
  return outcome_of([&](Outcome* o) {
    Rooted in(binary_of(b));
    Cell out;
    zotbin::decode_value(&in.cell, &out);
    o->value = test::mold(out);
  });
}

// ---------------------------------------------------------------------------
// Byte vectors

struct Vector {
  const char* source;
  const char* records;
};

TEST_F(ZotbinTest, CompactRecordsOfTheFormat) {
  const Vector cases[] = {
      {"63", "BF"},
      {"0", "80"},
      {"64", "0B 80 01"},
      {"-1", "0B 01"},
      {"-2147483648", "0B FF FF FF FF 0F"},
      {"1.0", "4C 02"},
      {"0.5", "0C 00 00 00 00 00 00 E0 3F"},
      {"-0.0", "0C 00 00 00 00 00 00 00 80"},
      {"-3.0", "4C 05"},
      {"3000000000.0", "0C 00 00 00 C0 0B 5A E6 41"},
      {"50%", "66 64"},
      {"0.1%", "26 FC A9 F1 D2 4D 62 50 3F"},
      {"1:00", "6B A0 38"},
      {"make typeset! []", "21 00"},
      {"make typeset! [none!]", "21 01 10"},
      {"1.2.3", "27 01 02 03"},
      {"1.2.3.4", "67 04 01 02 03 04"},
      {"true", "C2"},
      {"false", "C3"},
      {"none", "03"},
      {"#\"a\"", "0A 61"},
      {"1x-1", "25 02 01"},
      {"integer!", "01 0B"},
      {"1-Jan-2000", "2F 80 10 A0 0F"},
      {"[1\n2]", "05 02 81 C0 82"},
      {"next [1 2]", "45 01 02 81 82"},
      {"s: \"abc\" reduce [s s]", "05 02 07 0C 61 62 63 C1 07 02 00 00"},
      {"s: \"abc\" reduce [s next s]", "05 02 07 0C 61 62 63 C1 47 01 02 00 00"},
      {"\"\u00e9\"", "07 05 E9 00"},
      {"#{0102}", "29 02 01 02"},
      {"b: [] append/only b b b", "05 01 C1 05 01 00"},
      {"make vector! [integer! 16 [1 -2]]", "23 2D 02 01 00 FE FF"},
      {"make bitset! \"a\"", "1E 0D 00 00 00 00 00 00 00 00 00 00 00 00 40"},
      {"complement make bitset! \"\"", "5E 01 FF"},
  };
  for (const auto& c : cases) EXPECT_EQ(records_hex(c.source, true), c.records) << c.source;
}

TEST_F(ZotbinTest, FixedRecordsOfTheFormat) {
  const Vector cases[] = {
      {"5", "0B 00 00 00 05 00 00 00"},
      {"[1\n5]", "05 00 00 00 00 00 00 00 02 00 00 00 0B 00 00 00 01 00 00 00 0B 00 00 80 05 00 00 00"},
      {"1.2.3.4", "27 04 00 00 01 02 03 04 00 00 00 00 00 00 00 00"},
      {"\"abc\"", "07 01 00 00 00 00 00 00 03 00 00 00 61 62 63 00"},
      {"[]", "05 00 00 00 00 00 00 00 00 00 00 00"},
      {"#[]", "28 00 00 00 00 00 00 00"},
      // A double after an odd number of words gets a zero word before it.
      {"[1 1.5]", "05 00 00 00 00 00 00 00 02 00 00 00 0B 00 00 00 01 00 00 00 00 00 00 00 "
                  "0C 00 00 00 00 00 F8 3F 00 00 00 00"},
      {"true", "04 00 00 00 01 00 00 00"},
      {"s: \"a\" reduce [s s]", "05 00 00 00 00 00 00 00 02 00 00 00 07 01 00 00 00 00 00 00 01 00 00 00 "
                                "61 00 00 00 07 01 08 00 00 00 00 00 FF 00 00 00 02 00 00 00 00 00 00 00 "
                                "00 00 00 00"},
  };
  for (const auto& c : cases) EXPECT_EQ(records_hex(c.source, false), c.records) << c.source;
  // A negative money! sets bit 22 of its header word.
  EXPECT_EQ(records_hex("-$1", false).substr(0, 11), "31 00 40 00");
}

TEST_F(ZotbinTest, WholeBinaries) {
  EXPECT_EQ(hex(encoded(eval("63"), true)), hex(cat({text_bytes("ZOTBIN"), unhex("02 01 01 01 BF")})));
  EXPECT_EQ(hex(encoded(eval("5"), false)),
            hex(cat({text_bytes("ZOTBIN"), unhex("02 00 01 00 00 00 08 00 00 00 0B 00 00 00 05 00 00 00")})));
  // A name is stored once, in the order of first use.
  EXPECT_EQ(hex(encoded(eval("[b a b]"), true)),
            hex(cat({text_bytes("ZOTBIN"), unhex("02 05 01 08 02 04 00 00 00 00 02 00 00 00 62 00 61 00"),
                     unhex("05 03 0F 00 0F 01 0F 00")})));
  // Fixed names start on multiples of 8, and the records on a multiple of 8
  // (the last word is the global word's index).
  Bytes fixed = encoded(eval("pick ['a] 1"), false);
  ASSERT_EQ(fixed.size(), 52u);
  EXPECT_EQ(hex(Bytes(fixed.begin(), fixed.end() - 4)),
            hex(cat({text_bytes("ZOTBIN"),
                     unhex("02 04 01 00 00 00 0C 00 00 00 01 00 00 00 0C 00 00 00 00 00 00 00"),
                     unhex("61 00 00 00 00 00 00 00 00 00 00 00 11 00 00 02 00 00 00 00")})));
}

TEST_F(ZotbinTest, DecodesEveryVersionAndEscapedTypes) {
  for (u8 version : {0, 1, 2}) {
    Bytes b = compact_binary("BF");
    b[6] = version;
    EXPECT_EQ(decode_bytes(b).value, "63");
  }
  // A type id written through the escape.
  EXPECT_EQ(decode_bytes(compact_binary("3F 05 01 81")).value, "[1]");
  // Root count 0 with records: every record is decoded.
  Bytes b = compact_binary("81 82");
  b[8] = 0;
  EXPECT_EQ(decode_bytes(b).value, "[1 2]");
  // One value: the value; several: the block of them.
  EXPECT_EQ(decode_bytes(compact_binary("05 00")).value, "[]");
  EXPECT_EQ(decode_bytes(compact_binary("0B FF FF FF FF 0F")).value, "-2147483648");
}

// ---------------------------------------------------------------------------
// Round trips

struct Trip {
  const char* source;  // makes the value
  const char* check;   // true when the decoded value `rt` matches `orig`; null: same_shape
};

constexpr const char* kSameMold = "equal? mold/all orig mold/all rt";

// Types, flags, indexes and contents alike, down through blocks (for the
// values that no Zot code can compare yet).
bool same_shape(const Cell& a, const Cell& b, int depth = 0) {
  u32 t = a.type();
  if (t != b.type() || (a.header & kCellNewLine) != (b.header & kCellNewLine) || depth > 50) return false;
  if (t == T_BLOCK || t == T_PAREN || t == T_HASH || (t >= T_PATH && t <= T_GET_PATH)) {
    const mem::Series* x = mem::series_of(a.w2);
    const mem::Series* y = mem::series_of(b.w2);
    if (a.w1 != b.w1 || x->length() != y->length()) return false;
    for (u32 k = 0; k < x->length(); k++)
      if (!same_shape(mem::series_of(a.w2)->cells()[k], mem::series_of(b.w2)->cells()[k], depth + 1)) return false;
    return true;
  }
  if (t == T_STRING || t == T_FILE || t == T_URL || t == T_TAG || t == T_EMAIL || t == T_REF || t == T_BINARY ||
      t == T_VECTOR || t == T_BITSET) {
    const mem::Series* x = mem::series_of(a.w2);
    const mem::Series* y = mem::series_of(b.w2);
    return a.w1 == b.w1 && a.w3 == b.w3 && x->flags == y->flags && x->bytes_used() == y->bytes_used() &&
           std::memcmp(x->head_ptr(), y->head_ptr(), x->bytes_used()) == 0;
  }
  return a.w1 == b.w1 && a.w2 == b.w2 && a.w3 == b.w3;
}

const Cell& word_rt() {
  static Cell w = word::load("rt");
  return w;
}

void check_trips(const Trip* cases, std::size_t n) {
  for (bool compact : {true, false}) {
    for (std::size_t i = 0; i < n; i++) {
      const Trip& c = cases[i];
      SCOPED_TRACE(std::string(compact ? "compact: " : "fixed: ") + c.source);
      Rooted orig(eval(c.source));
      set_global("orig", orig.cell);
      Outcome o = outcome_of([&](Outcome*) {
        Cell bin;
        zotbin::encode(&orig.cell, compact, &bin);
        Rooted b(bin);
        Cell out;
        zotbin::decode_value(&b.cell, &out);
        set_global("rt", out);
      });
      ASSERT_EQ(o.code, -1) << o.arg;
      if (c.check) {
        EXPECT_EQ(test::run(c.check), "true") << c.check;
      } else {
        EXPECT_TRUE(same_shape(orig.cell, *context::get(&word_rt())));
      }
    }
  }
}

TEST_F(ZotbinTest, ScalarsRoundTrip) {
  const Trip cases[] = {
      {"[1 -7 2147483647 -2147483648 0.1 -2.5e300 1.#INF 3.0 -0.0]", kSameMold},
      {"[#\"a\" #\"^(3B1)\" #\"^(1F600)\" 10% 0.1% -12.5% 1:02:03.5 -0:00:01]", kSameMold},
      {"[$1'234.56 -EUR$0.01 $0 1x2 -3x4 (1.5, 2.5) (1, 2, 3) 1.2.3 255.0.0.1.2.3.4.5.6.7.8.9]", kSameMold},
      {"[none true false #issue integer! string!]", kSameMold},
      {"make typeset! [integer! string! block!]", kSameMold},
      {"[29-Feb-2024 15-Mar-2024/10:30:00+5:30 1-Jan-2000/0:00-8:00 31-Dec-1999/23:59:59.25]",
       "all [equal? mold/all orig mold/all rt equal? rt/2/zone 5:30 equal? rt/3/zone -8:00 equal? rt orig]"},
      {"1.#NaN", "equal? mold rt \"1.#NaN\""},
  };
  check_trips(cases, std::size(cases));
}

TEST_F(ZotbinTest, SeriesRoundTrip) {
  const Trip cases[] = {
      {"[\"abc\" \"\u00e9t\u00e9\" \"\u20ac\" \"\U0001F600x\" %file.txt http://zot.example <tag> a@b.c #{00FF}]",
       nullptr},
      // Text of every unit width keeps its width.
      {"reduce [\"abc\" append copy \"a\" #\"^(100)\" append copy \"a\" #\"^(10000)\"]",
       "all [equal? orig rt equal? length? rt/2 2 equal? rt/3/2 #\"^(10000)\"]"},
      {"[a\n b c\n  d [e\n f]]", kSameMold},
      {"reduce [next [1 2 3] skip \"abcd\" 2 at 'a/b/c 2]",
       "all [equal? index? rt/1 2 equal? index? rt/2 3 equal? index? rt/3 2 equal? mold/all orig mold/all rt]"},
      {"[(1 + 2) a/b/c 'a/b :a/b a/b: ()]", kSameMold},
      {"reduce [make bitset! \"abc\" complement make bitset! \"xyz\" make bitset! 0]",
       "all [equal? mold orig mold rt find rt/1 #\"b\" not find rt/2 #\"x\" find rt/2 #\"a\"]"},
      {"reduce [make vector! [integer! 8 [1 -2 3]] make vector! [integer! 16 [300 -300]] "
       "make vector! [integer! 32 [70000]] make vector! [char! 8 [#\"a\"]] make vector! [char! 16 [#\"b\"]] "
       "make vector! [char! 32 [#\"c\"]] make vector! [float! 32 [1.5]] make vector! [float! 64 [0.1]] "
       "make vector! [percent! 64 [50%]] next make vector! [integer! 8 [7 8]]]",
       kSameMold},
      {"m: #[a: 1 \"k\" [2 3] 5 #[x: 1] 1.5 none] remove/key m 5 m",
       "all [equal? mold/all orig mold/all rt equal? select rt \"K\" [2 3] equal? none select rt 5 "
       "equal? length? rt 3]"},
      {"h: make hash! [a 1 b 2 c 3] next h",
       "all [equal? mold/all orig mold/all rt equal? index? rt 2 equal? select head rt 'c 3]"},
  };
  check_trips(cases, std::size(cases));
}

TEST_F(ZotbinTest, SharingAndCyclesRoundTrip) {
  const Trip cases[] = {
      {"b: [1 2] reduce [b b next b]", "all [same? rt/1 rt/2 same? rt/1 head rt/3 not same? rt/1 orig/1]"},
      {"s: \"ab\" reduce [s 1 s]", "all [same? rt/1 rt/3]"},
      {"b: [x] append/only b b b", "same? rt rt/2"},
      {"o: make object! [a: 1 me: none] o/me: o o", "all [same? rt rt/me equal? rt/a 1]"},
      {"o: make object! [a: 1 w: 'a] reduce [o o o/w]",
       "all [same? rt/1 rt/2 equal? get rt/3 1 set rt/3 5 equal? rt/1/a 5]"},
      {"m: #[a: 1] reduce [m m]", "all [same? rt/1 rt/2 equal? rt/1/a 1]"},
      {"c: make bitset! \"ab\" reduce [c c]", "same? rt/1 rt/2"},
      {"v: make vector! [integer! 8 [1]] reduce [v v]", "same? rt/1 rt/2"},
      {"o: make object! [a: 5 f: func [] [self/a]] o", "all [equal? rt/f 5 rt/a: 6 equal? rt/f 6]"},
      {"o: make object! [n: 1 inc: func [] [n: n + 1]] o",
       "all [equal? rt/inc 2 equal? rt/n 2 equal? orig/n 1]"},
      {"o: make object! [p: make object! [q: none]] o/p/q: o reduce [o/p o]", "same? rt/1/q rt/2"},
      {"f: func [x /y z] [either y [x * z] [x + 1]] :f", "all [equal? rt 1 2 equal? rt/y 3 4 12]"},
      {"f: func [x] [x] append reflect :f 'body :f :f", "same? :rt pick reflect :rt 'body 2"},
      {"f: func [x] [x * 2] reduce [:f :f]", "all [same? :rt/1 :rt/2 equal? rt/1 21 42]"},
      {"reduce [:append :if :+ :add]", "all [equal? mold/all orig mold/all rt equal? [1 2] rt/1 [1] 2 "
                                      "equal? type? :rt/3 op!]"},
      {"try [1 / 0]", "all [equal? type? rt error! equal? rt/id 'zero-divide equal? rt/type 'math]"},
      {"e: make error! \"boom\" e", "equal? form rt form orig"},
      {"o: make object! [a: 1 on-change*: func [w o n] [zb-seen: w]] o",
       "zb-seen: none rt/a: 2 equal? mold zb-seen \"a\""},
      {"make object! [b: [] on-deep-change*: func [o w t a n i p] [zb-deep: a]]",
       "zb-deep: none append rt/b 1 equal? zb-deep 'appended"},
  };
  check_trips(cases, std::size(cases));
}

TEST_F(ZotbinTest, ObjectsDecodeWithClassIdMinusOne) {
  Outcome o = outcome_of([&](Outcome* r) {
    Rooted v(eval("make object! [a: 1]"));
    Cell bin;
    zotbin::encode(&v.cell, true, &bin);
    Rooted b(bin);
    Cell out;
    zotbin::decode_value(&b.cell, &out);
    r->value = std::to_string(i32(out.w2));
  });
  EXPECT_EQ(o.value, "-1");
}

// ---------------------------------------------------------------------------
// Refusals

TEST_F(ZotbinTest, EncoderRefusesValuesWithoutARecord) {
  struct Case {
    const char* source;
    const char* datatype;
  };
  const Case cases[] = {
      {"zb-odd", "handle!"},
      {"reduce [1 [2 #[a: 1]] zb-odd]", "handle!"},
      {"zb-triple", "triple!"},
      {"zb-context", "context!"},
      {":zb-op", "routine!"},
  };
  Cell c;
  set_global("zb-odd", *make_cell(&c, T_HANDLE, 1, 0, 0));
  set_global("zb-triple", *make_cell(&c, T_TRIPLE, 1, 2, 3));
  set_global("zb-context", *make_cell(&c, T_CONTEXT, 0, 0, 0));
  set_global("zb-op", *make_cell(&c, T_OP | (T_ROUTINE << 16), 0, 0, 0));
  for (bool compact : {true, false}) {
    for (const Case& k : cases) {
      Rooted v(eval(k.source));
      Outcome o = outcome_of([&](Outcome*) {
        Cell bin;
        zotbin::encode(&v.cell, compact, &bin);
      });
      EXPECT_EQ(o.code, error_code(Err::AccessNoCodec)) << k.source;
      EXPECT_EQ(o.arg, k.datatype) << k.source;
    }
  }
}

struct Reject {
  Bytes input;
  Err error;
  int offset;  // the 1-based offset of zb-invalid-record, else 0
};

void check_rejects(const std::vector<Reject>& cases) {
  for (std::size_t i = 0; i < cases.size(); i++) {
    const Reject& c = cases[i];
    SCOPED_TRACE(std::to_string(i) + ": " + hex(c.input));
    Outcome o = decode_bytes(c.input);
    EXPECT_EQ(o.code, error_code(c.error)) << o.value;
    if (c.offset) {
      EXPECT_EQ(o.arg, std::to_string(c.offset));
    }
  }
}

// Compact records start at offset 11 (header 8, root count, records size).
TEST_F(ZotbinTest, CompactRejects) {
  const Err zb = Err::ScriptZbInvalidRecord;
  const std::vector<Reject> cases = {
      {cat({text_bytes("ZOTBIX"), unhex("02 01 01 01 BF")}), Err::ScriptInvalidData, 0},
      {cat({text_bytes("ZOTBIN"), unhex("02 01 01 01")}), Err::ScriptInvalidData, 0},  // 10 bytes
      {cat({text_bytes("ZOTBIN"), unhex("02 01 01 05 BF")}), zb, 10},  // records size past the end
      {compact_binary("0B"), zb, 12},                 // a field past the end
      {compact_binary("0B FF FF FF FF 10"), zb, 12},  // a fifth varint byte of 0x10
      {compact_binary("C5"), zb, 11},                 // no such special byte
      {compact_binary("00"), zb, 11},                 // type 0
      {compact_binary("3F 40"), zb, 11},              // no type 64
      {compact_binary("04"), zb, 11},                 // logic! only as special bytes
      {compact_binary("C4 0F 00"), zb, 11},           // a definition outside boot mode
      {compact_binary("C1 0B 01"), zb, 12},           // a short form of an integer
      {compact_binary("C1 80"), zb, 12},              // a reference before a special byte
      {compact_binary("05 05 81"), zb, 12},           // more records than bytes
      {compact_binary("07 03"), zb, 12},              // unit code 3
      {compact_binary("07 0D 61"), zb, 12},           // three 2-byte units in one byte
      {compact_binary("07 06 00 00 11 00"), zb, 13},  // a code point above 10FFFF
      {compact_binary("0A 80 80 44"), zb, 12},        // char! above 10FFFF
      {compact_binary("0F 00"), zb, 12},              // a word without a symbol table
      {compact_binary("0F 01", {"a"}), zb, 20},       // a symbol past the table
      {compact_binary("FF 01 05"), zb, 12},           // a path to nothing
      {compact_binary("81 FF 01 01"), zb, 13},        // a path past the records decoded so far
      {compact_binary("FF 00"), zb, 12},              // an empty path
      {compact_binary("05 01 81 FF 02 00 05"), zb, 15},  // cell 5 of a block of one
      {compact_binary("81 FF 02 00 00"), zb, 13},     // an integer has no cells
      {compact_binary("81 C1 07 01 00"), zb, 14},        // a string sharing an integer
      {compact_binary("29 01 00 C1 0F 01 00"), zb, 16},  // a word bound by a path to a binary
      {compact_binary("2F 80 D0 A0 0F"), zb, 12},     // month 13
      {compact_binary("2F 00 2F A0 0F"), zb, 12},     // 30 February
      {compact_binary("6F 80 10 A0 0F"), zb, 12},     // a time flag without has-time
      {compact_binary("67 02 01 02"), zb, 12},        // a tuple of 2
      {compact_binary("67 0D"), zb, 12},              // a tuple of 13
      {compact_binary("21 0D"), zb, 12},              // a typeset of 13 bytes
      {compact_binary("31 FF 00 00 00 00 00 00 00 00 00 00 00"), zb, 12},  // no currency 255
      {compact_binary("01 00"), zb, 12},              // datatype 0
      {compact_binary("01 37"), zb, 12},              // datatype 55
      {compact_binary("28 01 81"), zb, 12},           // a map of an odd cell count
      {compact_binary("28 02 05 00 81"), zb, 13},     // a block as a map key
      {compact_binary("22 8F 4E"), zb, 12},           // no error 9999
      {compact_binary("15 FF 01 05 00"), zb, 12},     // no native 255
      {compact_binary("16 3F 05 00"), zb, 12},        // no action 63
      {compact_binary("15 01 81"), zb, 13},           // a native's spec that is no block
      {compact_binary("23 14 00"), zb, 12},           // a vector of block! elements
      {compact_binary("23 2B 00"), zb, 12},           // integer! elements of 8 bytes
      {compact_binary("23 2A 01 00 00 11 00"), zb, 14},  // a char! element above 10FFFF
      {compact_binary("20 00 05"), zb, 13},           // an object's context must be a context record
      {compact_binary("0E 20 00"), zb, 12},           // context flags bits 5-7
      {compact_binary("0E 03 00"), zb, 12},           // context kind 3
      {compact_binary("0E 14 00"), zb, 12},           // values on the stack and following
      {compact_binary("0E 06 00"), zb, 12},           // an object over a stack context
      {compact_binary("0E 02 02 00 00", {"a"}), zb, 23},  // a word twice
      {compact_binary("18 00 00 0E 05 00 05 00 06 00"), zb, 19},  // a function body that is no block
      {compact_binary("18 00 00 0E 02 00 05 00 05 00"), zb, 15},  // a function over an object context
      {compact_binary("18 00 00 0E 05 01 00 05 00 05 00", {"a"}), zb, 19},  // spec words unlike the context
      {compact_binary("17 81"), zb, 12},              // an operator of an integer
      {compact_binary("4F 00 00 05", {"a"}), zb, 22}, // an inline owner that is no object
      {compact_binary("20 00 0E 02 01 00 C1 4F 00 0A 01 00", {"a"}), zb, 28},  // word index 5 of 1
      {compact_binary("20 00 0E 02 01 00 C1 4F 00 02 01 00", {"a", "b"}), zb, 34},  // index 1 of 1
      {compact_binary("20 00 0E 02 01 00 C1 4F 01 00 01 00", {"a", "b"}), zb, 34},  // b is not a's slot
      {compact_binary("60 00 02 01 0E 02 00"), zb, 13},  // a change handler past the words
      {compact_binary("0F 00", {"\xFF"}), zb, 20},    // a name that is no UTF-8
      {compact_binary("0F 00", {""}), zb, 19},        // an empty name
      {compact_binary("2E"), Err::AccessNoCodec, 0},  // handle!
      {compact_binary("1F 00"), Err::AccessNoCodec, 0},  // triple!
  };
  check_rejects(cases);
}

TEST_F(ZotbinTest, SymbolTableRejects) {
  const Err zb = Err::ScriptZbInvalidRecord;
  Bytes base = text_bytes("ZOTBIN");
  base.push_back(2);
  base.push_back(zotbin::kFlagCompact | zotbin::kFlagSymbols);
  const std::vector<Reject> cases = {
      // more offsets than bytes
      {cat({base, unhex("01 00 05 00")}), zb, 11},
      // a string area past the end
      {cat({base, unhex("01 00 01 09 00 00 00 00 61 00")}), zb, 12},
      // a string area that does not end in NUL
      {cat({base, unhex("01 00 01 02 00 00 00 00 61 62")}), zb, 18},
      // an offset past the string area
      {cat({base, unhex("01 02 01 02 09 00 00 00 61 00 0F 00")}), zb, 20},
  };
  check_rejects(cases);
}

TEST_F(ZotbinTest, NestingTooDeepIsRefused) {
  std::string deep, fine;
  for (int k = 0; k < 1001; k++) deep += "05 01 ";
  for (int k = 0; k < 900; k++) fine += "05 01 ";
  EXPECT_EQ(decode_bytes(compact_binary(deep + "80")).code, error_code(Err::InternalTooDeep));
  EXPECT_EQ(decode_bytes(compact_binary(fine + "80")).code, -1);
  // Encoding refuses what it could not decode.
  Outcome o = outcome_of([&](Outcome*) {
    Rooted v(eval("b: [] loop 1200 [b: reduce [b]] b"));
    Cell bin;
    zotbin::encode(&v.cell, true, &bin);
  });
  EXPECT_EQ(o.code, error_code(Err::InternalTooDeep));
}

// Fixed records start at offset 17 (header 8, root count, records size).
TEST_F(ZotbinTest, FixedRejects) {
  const Err zb = Err::ScriptZbInvalidRecord;
  Bytes short_payload = cat({text_bytes("ZOTBIN"), unhex("02 00 01 00 00 00 00")});
  const std::vector<Reject> cases = {
      {short_payload, Err::ScriptInvalidData, 0},
      {fixed_binary("0B 00 00 00"), zb, 21},
      {fixed_binary("04 00 00 00 02 00 00 00"), zb, 21},  // logic 2
      {fixed_binary("00 00 00 00"), zb, 21},              // padding and nothing after it
      {fixed_binary("07 03 00 00 00 00 00 00 01 00 00 00 61 00 00 00"), zb, 17},  // unit 3
      {fixed_binary("29 02 00 00 00 00 00 00 01 00 00 00 61 00 00 00"), zb, 17},  // binary of unit 2
      {fixed_binary("07 01 00 00 00 00 00 00 05 00 00 00 61 00 00 00"), zb, 25},  // bytes past the end
      {fixed_binary("FF 00 00 00 01 00 00 00 05 00 00 00"), zb, 17},  // a path to nothing
      {fixed_binary("FF 00 00 00 00 00 00 00"), zb, 17},              // an empty path
      {fixed_binary("0F 00 00 02 00 00 00 00 00 00 00 00"), zb, 21},  // a word without a symbol table
      {fixed_binary("27 02 00 00 01 02 00 00 00 00 00 00 00 00 00 00"), zb, 17},  // a tuple of 2
      {fixed_binary("05 00 00 00 00 00 00 00 FF FF FF 7F"), zb, 25},  // a count past the end
      {fixed_binary("17 00 0B 00 0B 00 00 00 01 00 00 00"), zb, 21},  // an operator of an integer
      {fixed_binary("2E 00 00 00"), Err::AccessNoCodec, 0},
  };
  check_rejects(cases);
}

TEST_F(ZotbinTest, CompressedPayloads) {
  // A payload long enough to compress: a block of 200 small integers.
  std::string records = "05 C8 01";
  for (int k = 0; k < 200; k++) records += k % 2 ? " 81" : " 82";
  Bytes plain = compact_binary(records);
  Bytes payload(plain.begin() + 8, plain.end());
  Bytes packed(payload.size());
  i64 n = compressor::compress(payload.data(), u32(payload.size()), packed.data());
  ASSERT_GT(n, 0);
  packed.resize(std::size_t(n));
  Bytes header(plain.begin(), plain.begin() + 8);
  header[7] |= zotbin::kFlagCompressed;
  Outcome o = decode_bytes(cat({header, packed}));
  EXPECT_EQ(o.code, -1);
  EXPECT_EQ(o.value.substr(0, 10), "[2 1 2 1 2");

  // Corrupt compressed data is invalid data: here a block length of 0.
  Bytes broken = cat({header, packed});
  for (int k = 16; k < 20; k++) broken[k] = 0;
  EXPECT_EQ(decode_bytes(broken).code, error_code(Err::ScriptInvalidData));

  // A bad record in a compressed payload reports its offset as if the
  // payload stood uncompressed after the header (records from offset 12).
  std::string filler;
  for (int k = 0; k < 199; k++) filler += " 81";
  Bytes bad = compact_binary("05 C8 01 81 C5" + filler);
  Bytes bad_payload(bad.begin() + 8, bad.end());
  Bytes bad_packed(bad_payload.size());
  n = compressor::compress(bad_payload.data(), u32(bad_payload.size()), bad_packed.data());
  ASSERT_GT(n, 0);
  bad_packed.resize(std::size_t(n));
  Outcome e = decode_bytes(cat({header, bad_packed}));
  EXPECT_EQ(e.code, error_code(Err::ScriptZbInvalidRecord));
  EXPECT_EQ(e.arg, "16");
}

// ---------------------------------------------------------------------------
// Boot mode

TEST_F(ZotbinTest, BootModeDefinitionsRootWordsAndSpecs) {
  u32 before = root::count();
  // Root record 0: an object of class 174 with the word zb-field; then a
  // word bound to it by root index; a definition of zb-defined as 7;
  // a native whose spec stays as a root cell.
  Bytes image = compact_binary(
      "20 DC 02 0E 12 01 00 81 "  // object class 174 [zb-field: 1]
      "4F 00 00 00 "              // zb-field bound to root 0, index 0
      "C4 0F 01 87 "              // zb-defined: 7
      "15 01 05 00",              // native 1 and its spec
      {"zb-field", "zb-defined"});
  image[6] = 1;
  u32 base = zotbin::boot_decode(image.data(), image.size());
  EXPECT_EQ(base, before);
  EXPECT_EQ(root::count(), before + 4);  // object, word, native, spec
  Cell* obj = zotbin::root_cell(0);
  ASSERT_TRUE(obj->is(T_OBJECT));
  EXPECT_EQ(obj->w2, 174u);
  EXPECT_EQ(zotbin::root_cell(1)->w1, obj->w1);
  EXPECT_TRUE(zotbin::root_cell(2)->is(T_NATIVE));
  EXPECT_TRUE(zotbin::root_cell(3)->is(T_BLOCK));
  EXPECT_EQ(test::run("zb-defined"), "7");
  set_global("zb-rw", *zotbin::root_cell(1));
  EXPECT_EQ(test::run("get zb-rw"), "1");
}

}  // namespace
}  // namespace zot
