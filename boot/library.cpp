#include "boot/library.h"

#include "boot/image.h"
#include "boot/routines.h"
#include "boot/start_up_object.h"
#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/system.h"
#include "datatypes/words.h"
#include "interpreter/eval.h"
#include "runtime/collector.h"
#include "runtime/memory.h"
#include "runtime/root.h"
#include "runtime/rooted.h"
#include "runtime/services.h"
#include "runtime/stack.h"

namespace zot::startup {

void boot_library(const unsigned char* image, std::size_t size) {
  collector::begin_boot();
  routines::register_boot();
  Rooted decoded;
  boot_image::decode(image, size, &decoded.cell);
  // The first value describes the build; the sections follow. Binding marks
  // the whole image as library code.
  Rooted build(*block::cell_at(&decoded.cell, 0));
  start_up::bind(&decoded.cell, &build.cell);
  // The top level has no error handling of its own: an error it raises is
  // printed and ends the process, as an uncaught error does.
  u32 sections = mem::series_of(decoded.cell.series_node())->length();
  collector::g_booting = true;
  for (u32 i = 1; i < sections; i++) {
    Cell section = *block::cell_at(&decoded.cell, i32(i));
    g_services.do_block(&section);
    sys::attach_if_defined();
  }
  collector::g_booting = false;
  collector::end_boot();
}

void launch() {
  Cell ctx_word = word::load("cli-console-ctx");
  const Cell* console = context::get(&ctx_word);
  if (!console->is(T_OBJECT)) return;
  Rooted code;
  const char text[] = "cli-console-ctx/launch";
  g_services.scan_utf8(&code.cell, reinterpret_cast<const u8*>(text), sizeof text - 1, false);
  // The launcher is the library's own code: an error of the user's input
  // or script never names it as where it happened.
  block::mark_library(&code.cell);
  g_services.do_block(&code.cell);
}

}  // namespace zot::startup
