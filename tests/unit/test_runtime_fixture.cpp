#include "tests/unit/runtime_fixture.h"

namespace zot::test {

void ensure_runtime() {
  static bool done = false;
  if (done) return;
  done = true;
  mem::init();
  stack::init();
}

}  // namespace zot::test
