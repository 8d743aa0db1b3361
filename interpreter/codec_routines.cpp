#include "interpreter/codec_routines.h"

#include "datatypes/image.h"
#include "datatypes/registry.h"
#include "interpreter/routines.h"
#include "platform/image_codecs.h"
#include "runtime/stack.h"

namespace zot::routines {

namespace {

using platform::image::Format;

void decode() {
  Cell* out = stack::push(&datatype::g_none);
  image::decode(stack::g_base, out);
  *stack::g_base = *out;
}

template <Format F>
void encode() {
  Cell* out = stack::push(&datatype::g_none);
  image::save_to_format(stack::g_base, stack::g_base + 1, F, out);
  *stack::g_base = *out;
}

}  // namespace

void register_codecs() {
  register_entry("image-decode", decode);
  register_entry("image-encode-bmp", encode<platform::image::kBmp>);
  register_entry("image-encode-png", encode<platform::image::kPng>);
  register_entry("image-encode-gif", encode<platform::image::kGif>);
  register_entry("image-encode-jpeg", encode<platform::image::kJpeg>);
  register_entry("image-encode-tiff", encode<platform::image::kTiff>);
}

}  // namespace zot::routines
