// Fuzzing the interpreter with random small programs. The input bytes pick
// tokens from a vocabulary of the language's words and literals, and of
// pieces that set up what the runtime must survive (objects whose change
// handlers clear, grow or replace what they own; tracers; comparators),
// with brackets kept balanced. The program is loaded and evaluated: it must
// end in a value or a language error, never in a crash or a sanitizer
// report. Programs are small, and their steps and memory are bounded.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "boot/startup.h"
#include "interpreter/eval.h"
#include "interpreter/lexer.h"
#include "platform/platform.h"
#include "runtime/collector.h"
#include "runtime/memory.h"
#include "runtime/stack.h"
#include "runtime/throw.h"

namespace {

using namespace zot;

constexpr std::size_t kMaxTokens = 96;
constexpr std::size_t kMaxDepth = 12;
constexpr i64 kSteps = 20000;
constexpr u64 kMemory = u64(768) << 20;

// An opener's text and the text that closes it ("" for a plain token).
struct Token {
  const char* text;
  const char* close;
};

// Handlers run once: `done` keeps a handler that changes its own series
// from changing it again at every notification.
#define ZOT_HANDLER(body) "func [o w t a n i p] [if not done [done: true " body "]]"

const Token kTokens[] = {
    // words the programs keep their values in
    {"a", ""}, {"b", ""}, {"s", ""}, {"o", ""}, {"x", ""}, {"v", ""},
    {"a:", ""}, {"b:", ""}, {"s:", ""}, {"x:", ""}, {"v:", ""}, {"done: false", ""},
    {"o/s", ""}, {"o/s2", ""}, {"o/s/2", ""}, {"o/s/2:", ""}, {"o/s/(1 + 1):", ""}, {"s/1", ""}, {"s/1:", ""},
    {"a/1/x:", ""}, {"'w", ""},
    // literals
    {"0", ""}, {"1", ""}, {"2", ""}, {"3", ""}, {"-1", ""}, {"7", ""}, {"255", ""}, {"2147483647", ""},
    {"1.5", ""}, {"-0.0", ""}, {"1e10", ""}, {"\"abc\"", ""}, {"\"\"", ""}, {"\"^(D800)x\"", ""},
    {"\"h\u00e9llo \u20ac\U0001F600\"", ""}, {"#\"a\"", ""}, {"#\"^(1F600)\"", ""}, {"#{00FF7F}", ""},
    {"1x2", ""}, {"1.2.3", ""}, {"1:02:03.5", ""}, {"23:59:59.999999", ""}, {"1-Jan-2024/10:00+05:30", ""},
    {"$1.50", ""}, {"50%", ""}, {"none", ""}, {"true", ""}, {"false", ""},
    // series and values to change
    {"copy [1 2 3 4 5 6]", ""}, {"copy \"abcdef\"", ""}, {"make hash! [1 2 3 4]", ""},
    {"make vector! [1 2 3 4]", ""}, {"make bitset! #{F0}", ""}, {"#[k: 1 j: 2]", ""},
    {"reduce [1x2 3x4]", ""},
    // natives and actions
    {"if", ""}, {"either", ""}, {"any", ""}, {"all", ""}, {"loop", ""}, {"repeat i", ""}, {"foreach e", ""},
    {"forall", ""}, {"remove-each e", ""}, {"do", ""}, {"reduce", ""}, {"compose", ""}, {"try", ""},
    {"catch", ""}, {"throw", ""}, {"break", ""}, {"continue", ""}, {"not", ""}, {"type?", ""}, {"same?", ""},
    {"append", ""}, {"append/dup", ""}, {"append/only", ""}, {"append/part", ""}, {"insert", ""},
    {"insert/dup", ""}, {"insert/part", ""}, {"change", ""}, {"change/part", ""}, {"clear", ""}, {"copy", ""},
    {"copy/part", ""}, {"copy/deep", ""}, {"remove", ""}, {"remove/part", ""}, {"take", ""}, {"take/last", ""},
    {"take/part", ""}, {"poke", ""}, {"pick", ""}, {"at", ""}, {"skip", ""}, {"next", ""}, {"back", ""},
    {"head", ""}, {"tail", ""}, {"index?", ""}, {"length?", ""}, {"reverse", ""}, {"reverse/part", ""},
    {"move", ""}, {"move/part", ""}, {"swap", ""}, {"sort", ""}, {"sort/reverse", ""}, {"find", ""},
    {"select", ""}, {"put", ""}, {"trim", ""}, {"form", ""}, {"mold", ""}, {"mold/all", ""}, {"round/to", ""},
    {"to string!", ""}, {"to block!", ""}, {"to binary!", ""}, {"to char!", ""}, {"transcode/one", ""},
    {"make", ""}, {"block!", ""}, {"string!", ""}, {"+", ""}, {"-", ""}, {"*", ""}, {"=", ""}, {"<", ""},
    {"and", ""}, {"union", ""}, {"unique", ""}, {"uppercase", ""}, {"max", ""}, {"negate", ""},
    // openers
    {"[", "]"}, {"(", ")"}, {"#[", "]"}, {"func [x] [", "]"}, {"does [", "]"},
    {"o: make object! [s: copy [1 2 3 4 5 6] s2: copy [7 8] on-deep-change*: " ZOT_HANDLER("clear head t") " ", "]"},
    {"o: make object! [s: copy \"hello\" s2: copy \"xy\" on-deep-change*: " ZOT_HANDLER("append t \"^(1F600)\"") " ",
     "]"},
    {"o: make object! [s: make vector! [1 2 3 4] s2: make vector! [5] on-deep-change*: "
     ZOT_HANDLER("loop 9 [append t 7]") " ", "]"},
    {"o: make object! [s: make hash! [1 2 3 4] s2: copy [] on-deep-change*: "
     ZOT_HANDLER("o/s: copy [1] take/part head t 2") " ", "]"},
    {"o: make object! [s: reduce [1x2 3x4] s2: copy [] on-deep-change*: " ZOT_HANDLER("clear skip head t 1") " ",
     "]"},
    {"o: make object! [s: copy [a b] s2: copy [] on-deep-change*: func [o w t a n i p] [", "]]"},
    {"do/trace [", "] func [e c o v r f] [[fetch enter end] clear head c]"},
    {"do/trace [", "] func [e c o v r f] [[end error] throw 5]"},
    {"sort/compare copy [3 1 2 5 4] func [p q] [", " p < q]"},
    {"catch [", "]"},
    {"try [", "]"},
    // closer
    {nullptr, ""},
};
constexpr std::size_t kTokenCount = sizeof kTokens / sizeof kTokens[0];

// The program the bytes choose: one token per byte, brackets balanced.
std::string program_of(const uint8_t* data, std::size_t size) {
  std::string text;
  const char* closers[kMaxDepth];
  std::size_t depth = 0;
  for (std::size_t i = 0; i < size && i < kMaxTokens; i++) {
    const Token& t = kTokens[data[i] % kTokenCount];
    if (!t.text) {
      if (depth) text += closers[--depth];
    } else if (*t.close) {
      if (depth == kMaxDepth) continue;
      text += t.text;
      closers[depth++] = t.close;
    } else {
      text += t.text;
    }
    text += ' ';
  }
  while (depth) text += closers[--depth];
  return text;
}

struct Bottom {
  Cell* base;
  Cell* top;
  stack::Frame* ctop;
};

// Runs source text under a try frame; any language error or exit ends it.
// It runs on a thread with the interpreter's stack, as in `zot`: deep
// recursion meets the language's limits before the machine stack's.
void run_here(const std::string& text, const Bottom& bottom) {
  stack::push_try_frame(nullptr);
  try {
    Cell code;
    lexer::scan(&code, reinterpret_cast<const u8*>(text.data()), u32(text.size()), lexer::Options{});
    interp::do_block(&code);
  } catch (const RuntimeThrow& t) {
    if (t.code < kThrowThrow || t.code > kThrowError) throw;
  }
  runtime::g_thrown_code = 0;
  runtime::g_pending = 0;
  stack::g_base = bottom.base;
  stack::g_top = bottom.top;
  stack::g_ctop = bottom.ctop;
}

void run(const std::string& text, const Bottom& bottom) {
  struct Job {
    const std::string* text;
    const Bottom* bottom;
  } job{&text, &bottom};
  platform::run_on_big_stack(
      [](void* p) {
        auto* j = static_cast<Job*>(p);
        run_here(*j->text, *j->bottom);
      },
      &job, startup::kInterpreterStack);
}

Bottom set_up() {
  startup::runtime_init();
  collector::g_enabled = true;  // as in `zot`: a full frame collects
  Bottom bottom{stack::g_base, stack::g_top, stack::g_ctop};
  // Nothing a program does may reach outside the process or print.
  run("unset [call browse set-env wait write read delete rename open create close query update modify "
      "print prin]",
      bottom);
  mem::g_os_limit = mem::stats().os_bytes + kMemory;
  return bottom;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const Bottom bottom = set_up();
  interp::g_step_budget = INT64_MAX;
  run("unset [a b s o x v done e i]", bottom);
  interp::g_step_budget = kSteps;
  std::string program = program_of(data, size);
  // To turn a finding into a script test: the program an input stands for.
  static const bool show = std::getenv("ZOT_FUZZ_SHOW") != nullptr;
  if (show) std::fprintf(stderr, "%s\n", program.c_str());
  run(program, bottom);
  // What the program left is garbage now.
  collector::collect();
  return 0;
}
