// Writing the fixed record layout: a header word (type id, per-type bits,
// new-line bit 31), then whole 32-bit words; byte data padded to a multiple
// of 4, and a zero word before a double when the records so far are not a
// multiple of 8 bytes long.
#include "boot/zotbin_codec.h"
#include "datatypes/date.h"
#include "datatypes/money.h"
#include "datatypes/tuple.h"

namespace zot::zotbin {

void Encoder::fixed_word(u32 v) {
  for (int k = 0; k < 4; k++) records_.push_back(u8(v >> (8 * k)));
}

void Encoder::fixed_bytes(const u8* p, std::size_t n) {
  records_.insert(records_.end(), p, p + n);
  records_.resize(align_up(records_.size(), 4), 0);
}

void Encoder::fixed_reference(u32 offset) {
  const u32* p = path_at(offset);
  fixed_word(kFixedReference);
  for (u32 k = 0; k <= p[0]; k++) fixed_word(p[k]);
}

void Encoder::write_fixed_scalar(const Cell& v) {
  u32 t = v.type();
  switch (t) {
    case T_UNSET:
    case T_NONE:
      start(v, t, false, 0, false);
      return;
    case T_LOGIC:
      start(v, t, false, 0, false);
      fixed_word(v.w1 ? 1 : 0);
      return;
    case T_DATATYPE:
      start(v, t, false, 0, false);
      fixed_word(v.w1);
      return;
    case T_CHAR:
    case T_INTEGER:
      start(v, t, false, 0, false);
      fixed_word(v.w2);
      return;
    case T_FLOAT:
    case T_PERCENT:
    case T_TIME:
      if (records_.size() % 8) fixed_word(0);
      start(v, t, false, 0, false);
      fixed_word(v.w3);  // the high word first
      fixed_word(v.w2);
      return;
    case T_PAIR:
      start(v, t, false, 0, false);
      fixed_word(v.w2);
      fixed_word(v.w3);
      return;
    case T_POINT2D:
    case T_POINT3D:
    case T_TYPESET:
      start(v, t, false, 0, false);
      fixed_word(v.w1);
      fixed_word(v.w2);
      if (t != T_POINT2D) fixed_word(v.w3);
      return;
    case T_DATE: {
      bool time = date::has_time(v.w1);
      start(v, t, false, 0, false);
      fixed_word(time ? v.w1 : v.w1 & ~date::kZoneMask);  // a date without time has no zone
      fixed_word(time ? v.w3 : 0);
      fixed_word(time ? v.w2 : 0);
      return;
    }
    case T_TUPLE:
    case T_MONEY: {
      u32 bits = t == T_TUPLE ? u32(tuple::count_of(&v)) << kFixedUnitShift
                              : money::negative(&v) ? kFixedMoneyNegative : 0;
      start(v, t, false, bits, false);
      fixed_word(v.w1);
      fixed_word(v.w2);
      fixed_word(v.w3);
      return;
    }
    case T_ISSUE:
      start(v, t, false, 0, false);
      fixed_word(symbol_index(v.w2));
      return;
    default:
      refuse(t);
  }
}

// Text and binary!: the count and the units; vector!: the count, the
// element type and the elements; bitset!: the byte count and the bytes.
void Encoder::write_fixed_data(const Cell& v) {
  const mem::Series* s = mem::series_of(v.w2);
  fixed_word(s->length());
  if (v.is(T_VECTOR)) fixed_word(v.w3);
  fixed_bytes(s->head_ptr(), s->bytes_used());
}

}  // namespace zot::zotbin
