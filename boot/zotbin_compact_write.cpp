// Writing the compact record layout. Small integers, true and false take one
// byte, whole floats a header and a zigzag number, three-byte tuples no
// length; a series or context met before is written as a short form that
// ends with the path to its first record.
#include <cmath>

#include "boot/zotbin_codec.h"
#include "datatypes/date.h"
#include "datatypes/money.h"
#include "datatypes/tuple.h"

namespace zot::zotbin {

namespace {

constexpr double kWholeLimit = 2147483000.0;
constexpr double kPercentLimit = 21474836.0;

u32 unit_code(u32 unit) { return unit == 1 ? 0 : unit == 2 ? 1 : unit == 4 ? 2 : 3; }

}  // namespace

// ---------------------------------------------------------------------------
// Primitives

void Encoder::compact_header(u32 type, bool flag) {
  u8 f = flag ? kHeaderFlag : 0;
  if (type < kTypeEscape) {
    records_.push_back(u8(type) | f);
  } else {
    records_.push_back(kTypeEscape | f);
    compact_varint(type);
  }
}

void Encoder::compact_varint(u32 v) {
  while (v >= 0x80) {
    records_.push_back(u8(v | 0x80));
    v >>= 7;
  }
  records_.push_back(u8(v));
}

void Encoder::compact_zigzag(i32 v) { compact_varint((u32(v) << 1) ^ u32(v >> 31)); }

void Encoder::compact_word(u32 v) {
  for (int k = 0; k < 4; k++) records_.push_back(u8(v >> (8 * k)));
}

void Encoder::compact_path(u32 offset) {
  const u32* p = path_at(offset);
  compact_varint(p[0]);
  for (u32 k = 1; k <= p[0]; k++) compact_varint(p[k]);
}

void Encoder::compact_bytes(const u8* p, std::size_t n) { records_.insert(records_.end(), p, p + n); }

// ---------------------------------------------------------------------------
// Records

void Encoder::write_compact_scalar(const Cell& v) {
  u32 t = v.type();
  if (t == T_LOGIC) {
    if (v.header & kCellNewLine) records_.push_back(kMarkNewLine);
    records_.push_back(v.w1 ? kTrue : kFalse);
    return;
  }
  if (t == T_INTEGER && v.int_value() >= 0 && v.int_value() <= kSmallIntLast - kSmallIntFirst) {
    if (v.header & kCellNewLine) records_.push_back(kMarkNewLine);
    records_.push_back(u8(kSmallIntFirst + v.int_value()));
    return;
  }
  switch (t) {
    case T_UNSET:
    case T_NONE:
      start(v, t, false, 0, false);
      return;
    case T_DATATYPE:
      start(v, t, false, 0, false);
      compact_varint(v.w1);
      return;
    case T_INTEGER:
      start(v, t, false, 0, false);
      compact_zigzag(v.int_value());
      return;
    case T_CHAR:
      start(v, t, false, 0, false);
      compact_varint(v.w2);
      return;
    case T_FLOAT:
    case T_TIME:
    case T_PERCENT: {
      // A whole number (of hundredths for a percent) as a zigzag number;
      // negative zero keeps its sign in the two words.
      double d = v.float_value();
      bool whole = false;
      i32 n = 0;
      if (!(d == 0.0 && std::signbit(d))) {
        if (t == T_PERCENT) {
          if (d >= -kPercentLimit && d <= kPercentLimit) {
            n = i32(std::round(d * 100.0));
            whole = double(n) / 100.0 == d;
          }
        } else if (d >= -kWholeLimit && d <= kWholeLimit && d == std::trunc(d)) {
          n = i32(d);
          whole = true;
        }
      }
      start(v, t, whole, 0, false);
      if (whole) {
        compact_zigzag(n);
      } else {
        compact_word(v.w2);  // the low word first
        compact_word(v.w3);
      }
      return;
    }
    case T_PAIR:
      start(v, t, false, 0, false);
      compact_zigzag(i32(v.w2));
      compact_zigzag(i32(v.w3));
      return;
    case T_POINT2D:
    case T_POINT3D:
      start(v, t, false, 0, false);
      compact_word(v.w1);
      compact_word(v.w2);
      if (t == T_POINT3D) compact_word(v.w3);
      return;
    case T_DATE: {
      bool time = date::has_time(v.w1);
      start(v, t, time, 0, false);
      // A date without time has no zone.
      compact_word(time ? v.w1 : v.w1 & ~date::kZoneMask);
      if (time) {
        compact_word(v.w2);
        compact_word(v.w3);
      }
      return;
    }
    case T_TYPESET: {
      // The mask bytes up to the last one that is not zero.
      const u8* bytes = reinterpret_cast<const u8*>(&v.w1);
      u32 n = 12;
      while (n > 0 && bytes[n - 1] == 0) n--;
      start(v, t, false, 0, false);
      records_.push_back(u8(n));
      compact_bytes(bytes, n);
      return;
    }
    case T_TUPLE: {
      int n = tuple::count_of(&v);
      start(v, t, n != 3, 0, false);
      if (n != 3) records_.push_back(u8(n));
      compact_bytes(reinterpret_cast<const u8*>(&v.w1), std::size_t(n));
      return;
    }
    case T_MONEY:
      start(v, t, money::negative(&v), 0, false);
      compact_bytes(reinterpret_cast<const u8*>(&v.w1), 12);
      return;
    case T_ISSUE:
      start(v, t, false, 0, false);
      compact_varint(symbol_index(v.w2));
      return;
    default:
      refuse(t);
  }
}

// Text: (count << 2 | unit code) and the code points; binary!: the count and
// the bytes; vector!: (element type << 2 | unit code), the count, the
// elements; bitset!: the byte count and the bytes. All from the first unit.
void Encoder::write_compact_data(const Cell& v) {
  u32 t = v.type();
  const mem::Series* s = mem::series_of(v.w2);
  if (is_any_string(t)) {
    if (s->length() >= (1u << 29)) refuse(t);
    compact_varint((s->length() << 2) | unit_code(s->unit()));
  } else {
    if (t == T_VECTOR) records_.push_back(u8((v.w3 << 2) | unit_code(s->unit())));
    compact_varint(s->length());
  }
  compact_bytes(s->head_ptr(), s->bytes_used());
}

}  // namespace zot::zotbin
