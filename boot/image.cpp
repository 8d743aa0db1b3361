#include "boot/image.h"

#include "datatypes/string.h"
#include "runtime/actions.h"
#include "interpreter/lexer.h"

namespace zot::boot_image {

std::string encode(const Cell* image) {
  Rooted out;
  string::make_at(&out, 1 << 16);
  Rooted v = *image;
  actions::lookup<actions::MoldFn>(v.type(), actions::kMold)(&v, &out, false, true, false, nullptr, 1 << 30, 0);
  return string::to_utf8(&out);
}

void decode(const u8* data, std::size_t size, Cell* out) {
  lexer::Options opt;
  opt.one = true;
  lexer::scan(out, data, u32(size), opt);
}

}  // namespace zot::boot_image
