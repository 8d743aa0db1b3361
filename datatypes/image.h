// image!: a series of pixels, row by row. The cell holds w1 = the index (a
// pixel number from the first), w2 = the pixel series (4-byte units, one per
// pixel, in memory order B, G, R, A with A the opacity), w3 = the size word
// (width in the low 16 bits, height in the high 16 bits). The pixels live in
// an ordinary series, so the collector keeps and moves them like any other.
//
// At the language level a pixel is a 4-byte tuple! R.G.B.T, T being the
// transparency (255 - A); a 3-byte tuple stands for an opaque pixel.
#pragma once

#include "runtime/actions.h"
#include "runtime/base.h"
#include "runtime/cell.h"
#include "runtime/memory.h"

namespace zot::image {

constexpr u32 kMaxSide = 0xFFFF;

ZOT_INLINE u32 width_of(const Cell* c) { return c->image_size() & 0xFFFF; }
ZOT_INLINE u32 height_of(const Cell* c) { return c->image_size() >> 16; }
ZOT_INLINE u32 count_of(const Cell* c) { return width_of(c) * height_of(c); }
// The first pixel (good until the next allocation).
ZOT_INLINE u32* pixels_of(const Cell* c) {
  return reinterpret_cast<u32*>(mem::series_of(c->series_node())->head_ptr());
}

// A pixel from its channels (a: the opacity).
ZOT_INLINE u32 pack(u32 r, u32 g, u32 b, u32 a) { return a << 24 | r << 16 | g << 8 | b; }

// ---- making
// out becomes a new image of width x height opaque white pixels at index 0.
// A side beyond 65,535 raises script/invalid-arg with size; more pixels than
// a series holds raise internal/no-memory.
Cell* make_at(Cell* out, i32 width, i32 height, const Cell* size);
// out becomes a new image holding a copy of the BGRA bytes.
Cell* from_bgra(Cell* out, u32 width, u32 height, const u8* bgra);

// ---- pixels and binaries
enum BinaryFormat : int { kAlpha = 0, kRgb = 1, kArgb = 2 };
// A new binary! of every pixel from the first: alpha one byte of
// transparency each, rgb three bytes R, G, B, argb the four stored bytes.
Cell* pixels_to_binary(const Cell* img, int format, Cell* out);
// Writes pixels from the first one from a binary! (as many as it holds), a
// tuple! or an integer! (every pixel); tells the owner. Other sources raise
// script/invalid-arg.
void binary_to_pixels(const Cell* img, const Cell* source, int format);

// ---- codecs
// True when the bytes begin like a PNG, JPEG, BMP, GIF or TIFF file.
bool is_image_data(const u8* bytes, std::size_t size);
// An image from encoded data: a binary! that is not image data gives none!,
// one that does not decode raises access/bad-media; a file! (or a string! of
// a path) is read and decoded, and a failure raises access/cannot-open with
// it. Other values raise script/invalid-arg. The answer goes to out.
Cell* decode(const Cell* data, Cell* out);
// The image encoded in a format (0 BMP, 1 PNG, 2 GIF, 3 JPEG, 4 TIFF): a
// binary! target receives the bytes at its tail and is the answer; any other
// target (none!, a file! the caller writes) gives a new binary!. An image
// without pixels raises access/bad-media. An unknown format prints "Cannot
// find image encoder" and answers none.
Cell* save_to_format(const Cell* img, const Cell* target, int format, Cell* out);

// ---- slot functions
Cell* make(Cell* proto, Cell* spec, int type);
Cell* to(Cell* proto, Cell* spec, int type);
i32 form(const Cell* value, Cell* out, const Cell* limit, i32 part);
i32 mold(const Cell* value, Cell* out, const actions::MoldOptions& o, i32 part);
Cell* eval_path(Cell* parent, Cell* element, Cell* value, const actions::PathOptions& o);
i32 compare(const Cell* a, const Cell* b, i32 op);
void at();
void change(Cell* series, Cell* value, const actions::InsertOptions& o);
Cell* copy(Cell* value, Cell* result, Cell* part, bool deep, Cell* kind);
i32 length_q(const Cell* value);
void next();
Cell* pick(Cell* series, i32 index, Cell* index_cell);
Cell* poke(Cell* series, i32 index, Cell* value, Cell* index_cell);
void skip();
void tail();
void tail_q();

// Registers image! (type 53, parent series!).
void register_type();

}  // namespace zot::image
