// The `zot` program.
#include <cstdio>

#include "boot/startup.h"

namespace {

void console_main(void*) {
  std::fputs("Zot: the runtime is built; the console comes in a later step.\n", stdout);
}

}  // namespace

int main(int argc, char** argv) { zot::startup::run(argc, argv, console_main, nullptr); }
