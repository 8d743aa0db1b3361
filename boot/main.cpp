// The `zot` program: the runtime, the library from the boot image, then the
// console's launch (a script named on the command line, or the console).
#include "boot/boot_image.h"
#include "boot/library.h"
#include "boot/startup.h"

namespace {

void program(void*) {
  zot::startup::boot_library(zot::boot_image::kImage, zot::boot_image::kImageSize);
  zot::startup::launch();
}

}  // namespace

int main(int argc, char** argv) { zot::startup::run(argc, argv, program, nullptr); }
