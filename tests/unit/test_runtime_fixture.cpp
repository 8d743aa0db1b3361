#include "tests/unit/runtime_fixture.h"

#include "boot/startup.h"

namespace zot::test {

void ensure_runtime() {
  startup::runtime_init();
}

}  // namespace zot::test
