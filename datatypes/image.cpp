#include "datatypes/image.h"

#include <algorithm>
#include <string>
#include <vector>

#include "datatypes/binary.h"
#include "datatypes/file.h"
#include "datatypes/pair.h"
#include "datatypes/registry.h"
#include "datatypes/scalar.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/tuple.h"
#include "datatypes/words.h"
#include "platform/files.h"
#include "platform/image_codecs.h"
#include "runtime/actions.h"
#include "runtime/errors.h"
#include "runtime/output.h"
#include "runtime/rooted.h"
#include "runtime/stack.h"

namespace zot::image {

namespace {

using series::Change;

Cell g_none_answer;
Cell* none_answer() { return set_none(&g_none_answer); }

constexpr u32 kPixelsPerLine = 10;  // mold: pixels on one line
constexpr u32 kBreakAt = 8;         // mold: this many pixels or more go on lines of their own

// The pixels a value reaches: its size, and never more than its series holds.
u32 live_count(const Cell* c) {
  u32 n = count_of(c);
  u32 held = mem::series_of(c->series_node())->length();
  return n < held ? n : held;
}

ZOT_INLINE u32 red(u32 p) { return (p >> 16) & 0xFF; }
ZOT_INLINE u32 green(u32 p) { return (p >> 8) & 0xFF; }
ZOT_INLINE u32 blue(u32 p) { return p & 0xFF; }
ZOT_INLINE u32 opacity(u32 p) { return p >> 24; }

Cell* tuple_of(u32 p, Cell* out) {
  const u8 bytes[4] = {u8(red(p)), u8(green(p)), u8(blue(p)), u8(255 - opacity(p))};
  return tuple::make_at(out, bytes, 4);
}

u32 pixel_of(const Cell* t) {
  const u32 a = tuple::count_of(t) > 3 ? 255u - tuple::byte_at(t, 3) : 255u;
  return pack(tuple::byte_at(t, 0), tuple::byte_at(t, 1), tuple::byte_at(t, 2), a);
}

// Where an index of pick, poke, at (one-based) or skip lands, and whether that
// is a pixel of the image.
struct Spot {
  i64 pos;
  bool inside;
};

Spot locate(const Cell* img, const Cell* index_cell, i32 n, bool one_based) {
  const i64 w = width_of(img), h = height_of(img), count = count_of(img);
  bool inside = true;
  i64 off = n;
  if (index_cell && index_cell->is(T_PAIR)) {
    i64 x = pair::x_of(index_cell), y = pair::y_of(index_cell);
    if (one_based) {
      inside = x >= 1 && x <= w && y >= 1 && y <= h;
      if (y > 0) y--;
    } else {
      inside = x >= 0 && x < w && y >= 0 && y < h;
    }
    off = y * w + x;
  } else if (index_cell && !index_cell->is(T_INTEGER) && !index_cell->is(T_CHAR) && !index_cell->is(T_LOGIC)) {
    raise_error(Err::ScriptInvalidArg, index_cell);
  }
  i64 pos = i64(img->series_index());
  if (!one_based) {
    pos += off;
  } else if (off < 1) {
    // 0 names no pixel; -1 is the one before the index.
    pos += off;
    if (off == 0) inside = false;
  } else {
    pos += off - 1;
  }
  if (pos < 0 || pos >= count) {
    pos = std::clamp<i64>(pos, 0, count);
    inside = false;
  }
  return {pos, inside};
}

// The index clamped to the pixels.
i64 clamped_index(const Cell* img) { return std::clamp<i64>(img->series_index(), 0, count_of(img)); }

void notify(const Cell* img, Change c, const Cell* value, i64 index, i64 part) {
  series::ownership_check(img, c, value, i32(index), i32(part));
}

Cell word_part() { return scalar::refinement_arg(words::ref_part); }

// A new image of the rectangle (x, y, w, h) of the source (already clipped).
Cell* copy_rect(const Cell* src_in, i64 x, i64 y, i64 w, i64 h, Cell* out) {
  Rooted src(*src_in);
  if (w <= 0 || h <= 0) return make_at(out, 0, 0, nullptr);
  make_at(out, i32(w), i32(h), nullptr);
  const u32 sw = width_of(&src.cell);
  const u32* s = pixels_of(&src.cell);
  u32* d = pixels_of(out);
  for (i64 row = 0; row < h; row++)
    std::memcpy(d + row * w, s + (y + row) * sw + x, std::size_t(w) * 4);
  return out;
}

void hex_pair(std::string* line, u32 v) {
  static const char kDigits[] = "0123456789ABCDEF";
  line->push_back(kDigits[(v >> 4) & 15]);
  line->push_back(kDigits[v & 15]);
}

// One "#{...}" section of the mold: each pixel from `from` written by `put`,
// on lines of 10 when asked.
template <class Put>
void mold_section(const Cell* img, i64 from, i64 n, bool lines, i32 indent, string::Budget& b, const Cell* limit,
                  i32* part, Put put) {
  auto stop = [&] { return limit && *part < 1; };
  b.text(" #{");
  if (lines) {
    b.text("\n");
    b.indent(indent + 1);
  }
  std::string line;
  for (i64 i = 0; i < n && !stop();) {
    line.clear();
    const u32* p = pixels_of(img) + from;  // re-read: appending moves buffers
    i64 end = std::min<i64>(n, i + kPixelsPerLine);
    for (; i < end; i++) put(&line, p[i]);
    string::append_c_text_n(b.out, line.data(), line.size());
    b.settle();
    if (lines && i < n && !stop()) {
      b.text("\n");
      b.indent(indent + 1);
    }
  }
  if (lines && !stop()) {
    b.text("\n");
    b.indent(indent);
  }
  if (!stop()) b.text("}");
}

}  // namespace

// ---- making

Cell* make_at(Cell* out, i32 width, i32 height, const Cell* size) {
  if (width < 0) width = 0;
  if (height < 0) height = 0;
  if (u32(width) > kMaxSide || u32(height) > kMaxSide) {
    Cell s;
    set_none(&s);
    if (size) s = *size;
    else pair::make_at(&s, width, height);
    raise_error(Err::ScriptInvalidArg, &s);
  }
  const u64 count = u64(width) * u64(height);
  if (count * 4 > mem::kMaxSeriesBytes) raise_error(Err::InternalNoMemory);
  set_unset(out);
  mem::Node n = mem::alloc_units(u32(count), 4);
  mem::Series* s = mem::series_of(n);
  s->tail = s->head + u32(count) * 4;
  std::memset(s->head_ptr(), 0xFF, std::size_t(count) * 4);
  return make_cell(out, T_IMAGE, 0, n, u32(height) << 16 | u32(width));
}

Cell* from_bgra(Cell* out, u32 width, u32 height, const u8* bgra) {
  make_at(out, i32(width), i32(height), nullptr);
  std::memcpy(pixels_of(out), bgra, std::size_t(width) * height * 4);
  return out;
}

// ---- pixels and binaries

Cell* pixels_to_binary(const Cell* img_in, int format, Cell* out) {
  Rooted img(*img_in);
  const u32 n = live_count(&img.cell);
  const u32 per = format == kAlpha ? 1 : format == kRgb ? 3 : 4;
  binary::make_at(out, n * per);
  mem::Series* b = mem::series_of(out->series_node());
  u8* d = b->head_ptr();
  const u32* p = pixels_of(&img.cell);
  for (u32 i = 0; i < n; i++) {
    const u32 v = p[i];
    if (format == kAlpha) {
      *d++ = u8(255 - opacity(v));
    } else if (format == kRgb) {
      *d++ = u8(red(v));
      *d++ = u8(green(v));
      *d++ = u8(blue(v));
    } else {
      std::memcpy(d, &v, 4);
      d += 4;
    }
  }
  b->tail = b->head + n * per;
  return out;
}

void binary_to_pixels(const Cell* img_in, const Cell* source_in, int format) {
  // Held: the owner's handler runs Zot code.
  Rooted img_held(*img_in), src_held(*source_in);
  const Cell& img = img_held.cell;
  const Cell& src = src_held.cell;
  u32 value[4];
  if (src.is(T_TUPLE)) {
    for (int i = 0; i < 4; i++) value[i] = i < tuple::count_of(&src) ? tuple::byte_at(&src, i) : 0;
    if (tuple::count_of(&src) < 4) value[3] = 0;
  } else if (src.is(T_INTEGER)) {
    for (int i = 0; i < 4; i++) value[i] = (u32(src.int_value()) >> (8 * i)) & 0xFF;
  } else if (!src.is(T_BINARY)) {
    raise_error(Err::ScriptInvalidArg, &src);
  }
  notify(&img, Change::kPoke, &src, 0, count_of(&img));
  const u32 n = live_count(&img);
  u32* p = pixels_of(&img);
  if (src.is(T_BINARY)) {
    const i64 len = std::max(binary::length_at(&src), 0);
    const u8* s = mem::series_of(src.series_node())->head_ptr() + std::max(src.series_index(), 0);
    if (format == kArgb) {
      std::memcpy(p, s, std::size_t(std::min<i64>(len, i64(n) * 4)) & ~std::size_t(3));
      if (len % 4 && len / 4 < n) std::memcpy(p + len / 4, s + len / 4 * 4, std::size_t(len % 4));
    } else if (format == kRgb) {
      for (i64 i = 0; i < std::min<i64>(n, len / 3); i++)
        p[i] = pack(s[i * 3], s[i * 3 + 1], s[i * 3 + 2], opacity(p[i]));
    } else {
      for (i64 i = 0; i < std::min<i64>(n, len); i++) p[i] = (p[i] & 0x00FFFFFF) | (255u - s[i]) << 24;
    }
  } else {
    for (u32 i = 0; i < n; i++) {
      if (format == kArgb) p[i] = pack(value[0], value[1], value[2], 255 - value[3]);
      else if (format == kRgb) p[i] = pack(value[0], value[1], value[2], opacity(p[i]));
      else p[i] = (p[i] & 0x00FFFFFF) | (255u - value[0]) << 24;
    }
  }
  series::ownership_done(&img, Change::kPoked, &src, 0, i32(count_of(&img)));
}

// ---- codecs

bool is_image_data(const u8* bytes, std::size_t size) { return platform::image::sniff(bytes, size) >= 0; }

// A codec whose library the system lacks gives cannot-open naming it.
void need_codec(int format) {
  if (const char* soname = platform::image::missing_library(format)) file::cannot_open_library(soname);
}

Cell* decode(const Cell* data, Cell* out) {
  platform::image::Pixels px;
  if (data->is(T_BINARY)) {
    const i32 len = std::max(binary::length_at(data), 0);
    // Decoding allocates no series: the bytes stay where they are meanwhile.
    const u8* bytes = mem::series_of(data->series_node())->head_ptr() + std::max(data->series_index(), 0);
    if (!is_image_data(bytes, std::size_t(len))) return set_none(out);
    need_codec(platform::image::sniff(bytes, std::size_t(len)));
    if (!platform::image::decode(bytes, std::size_t(len), &px)) raise_error(Err::AccessBadMedia);
  } else if (data->is(T_FILE) || data->is(T_STRING)) {
    std::string path = string::to_utf8(data);
    std::string bytes;
    const bool read = platform::read_file(path.c_str(), &bytes);
    if (read) need_codec(platform::image::sniff(reinterpret_cast<const u8*>(bytes.data()), bytes.size()));
    if (!read || !platform::image::decode(reinterpret_cast<const u8*>(bytes.data()), bytes.size(), &px))
      raise_error(Err::AccessCannotOpen, data);
  } else {
    raise_error(Err::ScriptInvalidArg, data);
  }
  return from_bgra(out, px.width, px.height, px.bgra.data());
}

Cell* save_to_format(const Cell* img_in, const Cell* target_in, int format, Cell* out) {
  if (format < 0 || format >= platform::image::kFormatCount) {
    output::print_c_text("Cannot find image encoder\n");
    return set_none(out);
  }
  const Cell img = *img_in;
  Rooted target(*target_in);
  const u32 n = live_count(&img);
  if (n == 0 || n != count_of(&img)) raise_error(Err::AccessBadMedia);
  need_codec(format);
  std::vector<u8> bytes;
  // Encoding allocates no series: the pixels stay where they are meanwhile.
  if (!platform::image::encode(platform::image::Format(format), width_of(&img), height_of(&img),
                               reinterpret_cast<const u8*>(pixels_of(&img)), &bytes))
    raise_error(Err::AccessBadMedia);
  if (bytes.size() > mem::kMaxSeriesBytes) raise_error(Err::InternalNoMemory);
  if (target.cell.is(T_BINARY)) {
    binary::append_bytes(&target.cell, bytes.data(), u32(bytes.size()));
    *out = target.cell;
    return out;
  }
  binary::make_at(out, u32(bytes.size()));
  binary::append_bytes(out, bytes.data(), u32(bytes.size()));
  return out;
}

// ---- slot functions

Cell* make(Cell* proto, Cell* spec, int type) {
  if (spec->is(T_BLOCK) && series::index_at_tail(spec)) {
    if (!proto->is(T_IMAGE)) raise_error(Err::ScriptInvalidArg, spec);
    Cell* r = stack::push(&datatype::g_none);
    return copy(proto, r, nullptr, false, nullptr);
  }
  if (spec->is(T_PAIR)) return make_at(stack::push(&datatype::g_none), pair::x_of(spec), pair::y_of(spec), spec);
  if (!spec->is(T_BLOCK)) return to(proto, spec, type);
  const Cell blk = *spec;
  const i32 at = series::index_of(&blk);
  const i32 n = series::total_length(&blk) - at;
  auto item = [&](i32 i) { return *(mem::series_of(blk.series_node())->cells() + at + i); };
  const Cell size = item(0);
  if (!size.is(T_PAIR)) raise_error(Err::ScriptInvalidArg, &size);
  Cell rgb, alpha;
  set_none(&rgb);
  set_none(&alpha);
  i32 next = 1;
  if (n > next) {
    Cell v = item(next);
    if (!v.is(T_BINARY) && !v.is(T_TUPLE)) raise_error(Err::ScriptInvalidArg, &v);
    rgb = v;
    next++;
  }
  if (n > next) {
    Cell v = item(next);
    if (!v.is(T_BINARY)) raise_error(Err::ScriptInvalidArg, &v);
    alpha = v;
  }
  Cell* r = make_at(stack::push(&datatype::g_none), pair::x_of(&size), pair::y_of(&size), &size);
  const u32 count = count_of(r);
  u32* p = pixels_of(r);
  if (rgb.is(T_TUPLE)) {
    const u32 v = pixel_of(&rgb);
    for (u32 i = 0; i < count; i++) p[i] = v;
    return r;
  }
  // Pixels past the end of either binary keep the white, opaque default.
  if (rgb.is(T_BINARY)) {
    const i64 len = std::max(binary::length_at(&rgb), 0);
    const u8* s = mem::series_of(rgb.series_node())->head_ptr() + std::max(rgb.series_index(), 0);
    for (i64 i = 0; i < std::min<i64>(count, len / 3); i++) p[i] = pack(s[i * 3], s[i * 3 + 1], s[i * 3 + 2], 255);
  }
  if (alpha.is(T_BINARY)) {
    const i64 len = std::max(binary::length_at(&alpha), 0);
    const u8* s = mem::series_of(alpha.series_node())->head_ptr() + std::max(alpha.series_index(), 0);
    for (i64 i = 0; i < std::min<i64>(count, len); i++) p[i] = (p[i] & 0x00FFFFFF) | (255u - s[i]) << 24;
  }
  return r;
}

Cell* to(Cell* proto, Cell* spec, int type) {
  (void)proto;
  if (spec->is(T_IMAGE)) return copy(spec, stack::push(&datatype::g_none), nullptr, false, nullptr);
  raise_with_type(Err::ScriptBadToArg, u32(type), spec);
}

i32 form(const Cell* value, Cell* out, const Cell* limit, i32 part) {
  return mold(value, out, {.limit = limit}, part);
}

i32 mold(const Cell* value, Cell* out, const actions::MoldOptions& o, i32 part) {
  const Cell* limit = o.limit;
  const i32 indent = o.indent;
  Rooted img(*value);
  string::Budget b(out, &part);
  auto stop = [&] { return limit && part < 1; };
  if (!o.only) b.text("make image! [");
  const std::string size = std::to_string(width_of(&img.cell)) + "x" + std::to_string(height_of(&img.cell));
  b.text(size.c_str());
  const i64 from = clamped_index(&img.cell);
  const i64 n = i64(live_count(&img.cell)) - from;
  if (count_of(&img.cell) == 0 || n <= 0) {
    if (!stop()) b.text(" #{}");
  } else if (!stop()) {
    const bool lines = !o.flat && n >= kBreakAt;
    mold_section(&img.cell, from, n, lines, indent, b, limit, &part, [](std::string* line, u32 p) {
      hex_pair(line, red(p));
      hex_pair(line, green(p));
      hex_pair(line, blue(p));
    });
    const u32* p = pixels_of(&img.cell) + from;
    if (!stop() && std::any_of(p, p + n, [](u32 v) { return opacity(v) < 255; }))
      mold_section(&img.cell, from, n, lines, indent, b, limit, &part,
                   [](std::string* line, u32 v) { hex_pair(line, 255 - opacity(v)); });
  }
  if (!o.only && !stop()) b.text("]");
  return part;
}

Cell* eval_path(Cell* parent, Cell* element, Cell* value, const actions::PathOptions& o) {
  if (element->is(T_INTEGER) || element->is(T_PAIR)) {
    const i32 n = element->is(T_INTEGER) ? element->int_value() : 0;
    if (!value) return pick(parent, n, element);
    return poke(parent, n, value, element);
  }
  int format = -1;
  if (scalar::word_is(element, words::rgb)) format = kRgb;
  else if (scalar::word_is(element, words::alpha)) format = kAlpha;
  else if (scalar::word_is(element, words::argb)) format = kArgb;
  if (format >= 0) {
    if (value) {
      binary_to_pixels(parent, value, format);
      return value;
    }
    return pixels_to_binary(parent, format, stack::push(&datatype::g_none));
  }
  if (scalar::word_is(element, words::size) && !value) {
    Cell* r = stack::push(&datatype::g_none);
    return pair::make_at(r, i32(width_of(parent)), i32(height_of(parent)));
  }
  raise_error(Err::ScriptInvalidPath, o.path, element);
}

i32 compare(const Cell* a, const Cell* b, i32 op) {
  if (!b->is(T_IMAGE)) return actions::kNotComparable;
  const bool same = a->series_node() == b->series_node() && a->series_index() == b->series_index();
  if (op == actions::kSame) return same ? 0 : -1;
  switch (op) {
    case actions::kEqual: case actions::kNotEqual: case actions::kStrictEqual:
      if (same) return 0;
      [[fallthrough]];
    case actions::kSortOrder: case actions::kCaseSortOrder: case actions::kFindEqual: {
      const u32 ca = live_count(a), cb = live_count(b);
      if (ca != cb) return ca < cb ? -1 : 1;
      // Images of the same pixel count but another shape are not equal.
      if (width_of(a) != width_of(b)) return width_of(a) < width_of(b) ? -1 : 1;
      const int c = ca ? std::memcmp(pixels_of(a), pixels_of(b), std::size_t(ca) * 4) : 0;
      return (c > 0) - (c < 0);
    }
    default:
      return actions::kNotComparable;
  }
}

// The offset as a number (a pair! offset is read by locate itself).
ZOT_INLINE i32 plain_offset(const Cell* c) { return c->is(T_INTEGER) ? c->int_value() : 0; }

void at() {
  Cell* s = stack::g_base;
  s->set_series_index(i32(locate(s, s + 1, plain_offset(s + 1), true).pos));
}

void skip() {
  Cell* s = stack::g_base;
  s->set_series_index(i32(locate(s, s + 1, plain_offset(s + 1), false).pos));
}

void next() {
  Cell* s = stack::g_base;
  if (i64(s->series_index()) < i64(count_of(s))) s->set_series_index(s->series_index() + 1);
}

void tail() { stack::g_base->set_series_index(i32(count_of(stack::g_base))); }
void tail_q() {
  Cell* s = stack::g_base;
  set_logic(s, i64(s->series_index()) + 1 > i64(count_of(s)));
}

i32 length_q(const Cell* value) { return i32(count_of(value)); }

Cell* pick(Cell* series, i32 index, Cell* index_cell) {
  const Spot at = locate(series, index_cell, index, true);
  if (!at.inside) return none_answer();
  return tuple_of(pixels_of(series)[at.pos], stack::push(&datatype::g_none));
}

Cell* poke(Cell* series, i32 index, Cell* value, Cell* index_cell) {
  const Cell img = *series, v = *value;
  if (!v.is(T_TUPLE)) raise_error(Err::ScriptInvalidArg, &v);
  const Spot at = locate(&img, index_cell, index, true);
  if (!at.inside) scalar::raise_out_of_range(index, index_cell);
  notify(&img, Change::kPoke, &v, at.pos, 1);
  pixels_of(&img)[at.pos] = pixel_of(&v);
  series::ownership_done(&img, Change::kPoked, &v, i32(at.pos), 1);
  return value;
}

void change(Cell* series, Cell* value, const actions::InsertOptions& o) {
  if (o.part >= 0 || o.dup > 1) raise_error(Err::InternalNotDone);
  const Cell v = *value;
  if (v.is(T_TUPLE)) {
    Cell one;
    set_integer(&one, 1);
    poke(series, 1, value, &one);
    series->set_series_index(series->series_index() + 1);
    return;
  }
  if (!v.is(T_IMAGE)) raise_with_type(Err::ScriptInvalidType, v.type());
  const Cell img = *series;
  notify(&img, Change::kChange, &v, clamped_index(&img), 0);
  const i64 tw = width_of(&img), th = height_of(&img), sw = width_of(&v), sh = height_of(&v);
  const i64 ti = clamped_index(&img), si = clamped_index(&v);
  if (tw == 0 || sw == 0 || live_count(&img) != count_of(&img) || live_count(&v) != count_of(&v)) return;
  const i64 tx = ti % tw, ty = ti / tw, sx = si % sw, sy = si / sw;
  const i64 cols = std::min(tw - tx, sw - sx), rows = std::min(th - ty, sh - sy);
  if (cols <= 0 || rows <= 0) return;
  // Through a copy: the source may be the target itself.
  std::vector<u32> rect(std::size_t(cols * rows));
  const u32* s = pixels_of(&v);
  for (i64 r = 0; r < rows; r++) std::memcpy(&rect[std::size_t(r * cols)], s + (sy + r) * sw + sx, std::size_t(cols) * 4);
  u32* d = pixels_of(&img);
  for (i64 r = 0; r < rows; r++) std::memcpy(d + (ty + r) * tw + tx, &rect[std::size_t(r * cols)], std::size_t(cols) * 4);
  series->set_series_index(i32((ty + rows - 1) * tw + tx + cols));
  series::ownership_done(&img, Change::kChanged, &v, i32(ti), i32(cols * rows));
}

Cell* copy(Cell* value, Cell* result, Cell* part, bool, Cell*) {
  const Cell img = *value;
  const i64 w = width_of(&img), h = height_of(&img);
  if (w == 0 || h == 0 || live_count(&img) != count_of(&img)) return make_at(result, 0, 0, nullptr);
  const i64 idx = clamped_index(&img);
  const i64 col = idx % w, row = idx / w;
  if (!part) {
    if (idx == 0) return copy_rect(&img, 0, 0, w, h, result);
    return copy_rect(&img, col, row, w - col, h - row, result);
  }
  if (part->is(T_INTEGER)) raise_error(Err::InternalNotDone);
  if (part->is(T_PAIR)) {
    // Each side reaches forward from the index when positive, back before
    // it when negative; the rectangle is clipped to the image.
    auto span = [](i64 from, i64 len, i64 limit, i64* start) {
      if (len >= 0) {
        *start = from;
        return std::min(len, limit - from);
      }
      *start = std::max<i64>(0, from + len);
      return from - *start;
    };
    i64 x0, y0;
    const i64 cw = span(col, pair::x_of(part), w, &x0), ch = span(row, pair::y_of(part), h, &y0);
    return copy_rect(&img, x0, y0, cw, ch, result);
  }
  if (part->is(T_IMAGE) && part->series_node() == img.series_node()) {
    const i64 other = clamped_index(part);
    const i64 c2 = other % w, r2 = other / w;
    return copy_rect(&img, std::min(col, c2), std::min(row, r2), std::abs(c2 - col), std::abs(r2 - row), result);
  }
  Cell word = word_part();
  raise_error(Err::ScriptInvalidRefineArg, &word, part);
}

void register_type() {
  using namespace actions;
  actions::SlotTable s;
  s.inherit_all();
  for (Slot slot : {kRandom, kReflect, kSetPath, kAbsolute, kAdd, kDivide, kMultiply, kNegate, kPower, kRemainder,
                    kRound, kSubtract, kEven, kOdd, kAnd, kComplement, kOr, kXor, kAppend, kInsert, kFind,
                    kSelect, kSort, kRemove, kReverse, kTake, kTrim, kPut, kCreate, kClose, kDelete, kOpen, kOpenQ,
                    kQuery, kRead, kRename, kUpdate, kWrite,
                    // The pixel count is fixed by the size: nothing may shorten or reorder the series.
                    kClear, kMove, kSwap})
    s.clear(slot);
  s.set<kMake>(&make);
  s.set<kTo>(&to);
  s.set<kForm>(&form);
  s.set<kMold>(&mold);
  s.set<kEvalPath>(&eval_path);
  s.set<kCompare>(&compare);
  s.set<kAt>(&at);
  s.set<kChange>(&change);
  s.set<kCopy>(&copy);
  s.set<kLengthQ>(&length_q);
  s.set<kNext>(&next);
  s.set<kPick>(&pick);
  s.set<kPoke>(&poke);
  s.set<kSkip>(&skip);
  s.set<kTail>(&tail);
  s.set<kTailQ>(&tail_q);
  datatype::register_type(T_IMAGE, T_SERIES, "image!", s);
}

}  // namespace zot::image
