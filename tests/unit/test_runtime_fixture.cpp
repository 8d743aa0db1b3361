#include "tests/unit/runtime_fixture.h"

#include "boot/boot_image.h"
#include "boot/library.h"
#include "boot/startup.h"

namespace zot::test {

void ensure_runtime() {
  static bool done = false;
  if (done) return;
  done = true;
  startup::runtime_init();
  startup::boot_library(boot_image::kImage, boot_image::kImageSize);
}

}  // namespace zot::test

#include "datatypes/context.h"
#include "datatypes/string.h"
#include "interpreter/eval.h"
#include "interpreter/lexer.h"
#include "interpreter/routines.h"
#include "runtime/actions.h"
#include "tests/unit/eval_fixture.h"

namespace zot::test {

Cell load(const std::string& text) {
  ensure_runtime();
  Cell out;
  lexer::scan(&out, reinterpret_cast<const u8*>(text.data()), u32(text.size()), lexer::Options{});
  return out;
}

std::string mold(const Cell& v, bool only, bool all, bool flat) {
  Rooted value = v, out;
  string::make_at(&out, 16);
  actions::lookup<actions::kMold>(v.type())(&value, &out, {.only = only, .all = all, .flat = flat}, 1 << 20);
  return string::to_utf8(&out);
}

// The source runs with the collector on: every value it makes is held by
// the runtime's own roots.
std::string run(const std::string& source) {
  std::string result;
  int code = error_code_of([&] {
    CollectingOn collecting;
    Rooted code = load(source);
    Rooted v = interp::do_block(&code);
    result = v.is(T_UNSET) ? "unset" : mold(v);
  });
  return code >= 0 ? "error " + std::to_string(code) : result;
}

std::string err(Err e) { return "error " + std::to_string(error_code(e)); }

void bind_routine(const char* name, const char* spec_text) {
  Cell spec = load(spec_text);
  int code = error_code_of([&] {
    stack::TopMark mark;
    Cell* at = stack::g_top;
    routines::push(&spec, nullptr, name);
    Cell w = word::load(name);
    context::set(&w, at);
  });
  EXPECT_EQ(code, -1) << name;
}

void check(const Case* cases, std::size_t n) {
  for (std::size_t i = 0; i < n; i++) EXPECT_EQ(run(cases[i].source), cases[i].result) << cases[i].source;
}

}  // namespace zot::test
