// Palettes for indexed formats: at most 256 entries chosen from the pixels
// (exactly their colours when they are few enough, else by median cut), and
// every pixel mapped to an entry.
#pragma once

#include <vector>

#include "runtime/base.h"

namespace zot::platform::image {

struct Indexed {
  std::vector<u32> palette;  // 0x00RRGGBB
  std::vector<u8> indexes;   // one per pixel
  int transparent = -1;      // the entry that stands for clear pixels, or -1
};

// Pixels whose opacity is below half become the transparent entry (the
// last one). Opaque colours keep their exact values while they fit.
Indexed to_indexed(u32 width, u32 height, const u8* bgra);

}  // namespace zot::platform::image
