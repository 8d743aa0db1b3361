// Runs a Zot file for the script tests: each top-level expression is
// evaluated in turn and its value, when it has one, printed molded after "== ".
// An error prints its category and id and ends the run (status 1).
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "boot/boot_image.h"
#include "boot/library.h"
#include "boot/startup.h"
#include "datatypes/string.h"
#include "interpreter/eval.h"
#include "interpreter/lexer.h"
#include "runtime/actions.h"
#include "runtime/errors.h"
#include "runtime/fatal.h"
#include "runtime/rooted.h"
#include "runtime/stack.h"

namespace {

using namespace zot;

std::string g_text;
int g_status = 0;

std::string mold(const Cell& v) {
  Rooted value(v), out;
  string::make_at(&out, 16);
  actions::lookup<actions::kMold>(v.type())(&value, &out, false, false, false, nullptr, 1 << 20, 0);
  return string::to_utf8(&out);
}

void run(void*) {
  startup::boot_library(boot_image::kImage, boot_image::kImageSize);
  stack::push_try_frame(nullptr);
  try {
    Rooted code;
    lexer::scan(&code, reinterpret_cast<const u8*>(g_text.data()), u32(g_text.size()), lexer::Options{});
    Cell* base = stack::g_base;
    u32 end = mem::series_of(code.w2)->length();
    for (u32 pos = code.w1; pos < end;) {
      stack::g_top = base;
      pos = interp::eval_next(&code, pos, end, true);
      runtime::raise_pending();
      Cell v = *stack::top_value();
      if (!v.is(T_UNSET)) std::printf("== %s\n", mold(v).c_str());
    }
  } catch (const RuntimeThrow& t) {
    if (t.code != kThrowError) throw;
    Err e = error_from_code(error_cell_code(stack::top_value()));
    if (e == Err::Count) {
      std::printf("*** error\n");
    } else {
      const ErrorInfo& info = error_info(e);
      std::printf("*** %s error: %s\n", error_category(info.category).word, info.word);
    }
    g_status = 1;
  }
  std::fflush(stdout);
  runtime::exit_process(g_status);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: zot_script_runner FILE\n");
    return 2;
  }
  std::ifstream in(argv[1], std::ios::binary);
  if (!in) {
    std::fprintf(stderr, "cannot open %s\n", argv[1]);
    return 2;
  }
  // Unbuffered, so results interleave rightly with what print writes.
  std::setvbuf(stdout, nullptr, _IONBF, 0);
  std::ostringstream ss;
  ss << in.rdbuf();
  g_text = ss.str();
  zot::startup::run(argc, argv, run, nullptr);
}
