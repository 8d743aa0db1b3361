#include "boot/image.h"

#include "boot/zotbin.h"
#include "runtime/memory.h"
#include "runtime/rooted.h"

namespace zot::boot_image {

std::string encode(const Cell* image) {
  Rooted bin;
  zotbin::encode(image, true, &bin.cell);
  const mem::Series* s = mem::series_of(bin.cell.series_node());
  const u32 from = u32(bin.cell.series_index());
  return std::string(reinterpret_cast<const char*>(s->head_ptr()) + from, s->length() - from);
}

void decode(const u8* data, std::size_t size, Cell* out) {
  // The image's one record becomes root cell 0: the root block keeps it for
  // the life of the process.
  zotbin::boot_decode(data, size);
  *out = *zotbin::root_cell(0);
}

}  // namespace zot::boot_image
