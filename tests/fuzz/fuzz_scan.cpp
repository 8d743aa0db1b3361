// Fuzzing the lexer: arbitrary bytes are scanned as source text, building
// values, and once more in scan mode. Bad text must end in a syntax error
// (a language error, unwinding as a C++ exception), never in a crash.
#include <cstddef>
#include <cstdint>

#include "boot/startup.h"
#include "interpreter/lexer.h"
#include "runtime/stack.h"
#include "runtime/throw.h"

namespace {

struct Bottom {
  zot::Cell* base;
  zot::Cell* top;
  zot::stack::Frame* ctop;
};

Bottom set_up() {
  zot::startup::runtime_init();
  zot::lexer::install_loaders();
  return {zot::stack::g_base, zot::stack::g_top, zot::stack::g_ctop};
}

void scan(const uint8_t* data, size_t size, const zot::lexer::Options& opt, const Bottom& bottom) {
  zot::stack::push_try_frame(nullptr);
  try {
    zot::Cell out;
    zot::lexer::scan(&out, data, zot::u32(size), opt);
  } catch (const zot::RuntimeThrow& t) {
    if (t.code != zot::kThrowError) throw;
    zot::runtime::g_thrown_code = 0;
  }
  zot::stack::g_base = bottom.base;
  zot::stack::g_top = bottom.top;
  zot::stack::g_ctop = bottom.ctop;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const Bottom bottom = set_up();
  if (size > (1u << 20)) return 0;
  zot::lexer::Options load;
  scan(data, size, load, bottom);
  zot::lexer::Options check;
  check.wrap = false;
  scan(data, size, check, bottom);
  return 0;
}
