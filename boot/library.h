// The library's start-up: the boot image decoded, its blocks marked as
// library code, and each section's top level evaluated in order; then the
// console's launch.
#pragma once

#include <cstddef>

namespace zot::startup {

// Evaluates the library from the image bytes. Once per process, after the
// runtime init.
void boot_library(const unsigned char* image, std::size_t size);

// Calls `cli-console-ctx/launch` as a compiled caller does; returns when the
// console engine returns.
void launch();

}  // namespace zot::startup
