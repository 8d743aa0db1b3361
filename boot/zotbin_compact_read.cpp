// Reading the compact record layout: marker bytes, special bytes for small
// integers and logic values, header bytes (type id and one flag) and fields
// of bytes, varints (LEB128, at most five bytes) and zigzag numbers.
#include "boot/zotbin_codec.h"
#include "datatypes/bitset.h"
#include "datatypes/context.h"
#include "runtime/unicode.h"

namespace zot::zotbin {

// ---------------------------------------------------------------------------
// Primitives

u8 Decoder::byte() {
  need(p_, 1);
  return *p_++;
}

u32 Decoder::varint() {
  const u8* at = p_;
  u32 v = 0;
  for (u32 k = 0; k < 5; k++) {
    if (p_ >= end_) invalid(at);
    u8 b = *p_++;
    if (k == 4 && b >= 0x10) invalid(at);
    v |= u32(b & 0x7F) << (7 * k);
    if (!(b & 0x80)) break;
  }
  return v;
}

i32 Decoder::count() {
  const u8* at = p_;
  i32 v = i32(varint());
  if (v < 0) invalid(at);
  return v;
}

i32 Decoder::zigzag() {
  u32 v = varint();
  return i32((v >> 1) ^ (0u - (v & 1)));
}

u32 Decoder::word() {
  need(p_, 4);
  u32 v = u32(p_[0]) | (u32(p_[1]) << 8) | (u32(p_[2]) << 16) | (u32(p_[3]) << 24);
  p_ += 4;
  return v;
}

double Decoder::float64() {
  u64 low = word();
  u64 high = word();
  u64 bits = low | (high << 32);
  double d;
  std::memcpy(&d, &bits, sizeof d);
  return d;
}

const u8* Decoder::read_path() {
  const u8* at = p_;
  i32 n = count();
  if (n < 1 || u32(n) > kMaxPathEntries || u32(n) > left()) invalid(at);
  path_.resize(u32(n));
  for (i32 k = 0; k < n; k++) path_[u32(k)] = u32(count());
  return at;
}

// ---------------------------------------------------------------------------
// Tables

void Decoder::read_compact_tables() {
  varint();  // the root count: every record is decoded whatever it says
  const u8* size_at = p_;
  i32 records = count();
  if (has_symbols_) {
    const u8* count_at = p_;
    i32 n = count();
    const u8* names_at = p_;
    read_symbol_table(n, count_at, count(), names_at);
  }
  if (u32(records) > left()) invalid(size_at);
  end_ = p_ + records;
}

// ---------------------------------------------------------------------------
// Records

// Marker bytes, then a special byte (a whole value) or a header byte.
bool Decoder::read_compact_start(Rooted& into, Header* h, u32* index) {
  for (;;) {
    need(p_, 1);
    u8 m = *p_;
    if (m == kMarkNewLine) {
      h->new_line = true;
    } else if (m == kMarkReference) {
      h->reference = true;
    } else if (m == kMarkDefinition) {
      if (!boot_) invalid(p_);
      h->definition = true;
    } else {
      break;
    }
    p_++;
  }
  h->at = p_;
  u8 b = byte();
  if (b >= 0x80) {
    if (h->reference || h->definition) invalid(h->at);
    Cell v;
    if (b <= kSmallIntLast) {
      set_integer(&v, i32(b - kSmallIntFirst));
    } else if (b == kTrue || b == kFalse) {
      set_logic(&v, b == kTrue);
    } else if (b == kAnyReference) {
      v = resolve(read_path());
    } else {
      invalid(h->at);
    }
    *index = put(into, v);
    return false;
  }
  h->bits = b;
  h->type = b & 0x3F;
  if (h->type == kTypeEscape) {
    h->type = varint();
    if (h->type > 0xFF) invalid(h->at);
  }
  if (h->type == 0) invalid(h->at);
  // A definition names a word; before an issue! it means nothing.
  if (h->definition && !(h->type >= T_WORD && h->type <= T_ISSUE)) invalid(h->at);
  if (h->type == T_ISSUE) h->definition = false;
  return true;
}

void Decoder::read_compact_context_flags(ContextHeader* c) {
  c->at = p_;
  u8 flags = byte();
  if ((flags & 0xE0) || (flags & kCtxKindMask) == 3 || ((flags & kCtxStack) && (flags & kCtxValues))) {
    invalid(c->at);
  }
  c->kind = flags & kCtxKindMask;
  c->stack = (flags & kCtxStack) != 0;
  c->self = (flags & kCtxSelf) != 0;
  c->values = (flags & kCtxValues) != 0;
}

// A function's spec or body block: markers, a block! header byte, a head
// that is ignored (the blocks start at their first cell). True for a short form.
bool Decoder::read_compact_block_start() {
  bool reference = false;
  for (;;) {
    need(p_, 1);
    if (*p_ == kMarkReference) reference = true;
    else if (*p_ != kMarkNewLine) break;
    p_++;
  }
  const u8* at = p_;
  u8 b = byte();
  if ((b & ~kHeaderFlag) != T_BLOCK) invalid(at);
  if (b & kHeaderFlag) count();
  return reference;
}

// Text: (count << 2 | unit code), the code points; binary: the byte count
// and bytes; vector: (element type << 2 | unit code), the count, the elements.
u32 Decoder::read_compact_units(Rooted& into, const Header& h, u32 head) {
  const u8* at = p_;
  u32 n, unit = 1, element = 0;
  if (h.type == T_BINARY) {
    n = u32(count());
  } else if (h.type == T_VECTOR) {
    u8 kind = byte();
    element = kind >> 2;
    unit = 1u << (kind & 3);
    if (!vector_kind_ok(element, unit)) invalid(at);
    at = p_;
    n = u32(count());
  } else {
    u32 packed = u32(count());
    if ((packed & 3) == 3) invalid(at);
    unit = 1u << (packed & 3);
    n = packed >> 2;
  }
  if (u64(n) * unit > left()) invalid(at);
  if (h.type != T_VECTOR || element == T_CHAR) check_code_points(p_, n, unit);
  return put_units(into, h.type, head, unit, n, bytes(u64(n) * unit), element, 0);
}

u32 Decoder::read_compact_bitset(Rooted& into, const Header& h) {
  const u8* at = p_;
  i32 n = count();
  if (u32(n) > left()) invalid(at);
  return put_units(into, T_BITSET, 0, 1, u32(n), bytes(u32(n)), 0, (h.bits & kHeaderFlag) ? bitset::kNegated : 0);
}

// Words: the symbol; flagged, a bound word with its index and then its
// owner inline or (after 0xC1) a path to its context. The boot image names
// the context by root index instead, and may define the word.
u32 Decoder::read_compact_word(Rooted& into, const Header& h) {
  u32 sym = read_symbol();
  u32 index;
  if (!(h.bits & kHeaderFlag)) {
    if (h.reference) invalid(h.at);
    index = put_global_word(into, h.type, sym);
  } else if (boot_) {
    if (h.reference) invalid(h.at);
    const u8* at = p_;
    u32 root = u32(count());
    i32 i = zigzag();
    index = put_boot_word(into, h.type, sym, root, i, at);
  } else {
    const u8* at = p_;
    i32 i = zigzag();
    if (h.reference) return put_word_by_path(into, h.type, sym, i, at);
    index = put_word_with_owner(into, h.type, sym, i, at);
  }
  if (h.definition) return define(into, index, h.at);
  return index;
}

// Most records of a block are words of the global context met before (a
// header byte without flag and the index of a symbol already looked up
// there) and blocks from their head: read here, after a new-line marker or
// not, without the general walk of read_record. Anything else, and any
// record nested too deep, takes that walk from its first byte.
void Decoder::read_compact_cells(Rooted& block, i32 n) {
  for (i32 k = 0; k < n; k++) {
    const u8* p = p_;
    u32 new_line = 0;
    if (p < end_ && *p == kMarkNewLine) {
      new_line = kCellNewLine;
      p++;
    }
    if (end_ - p >= 2 && depth_ < kMaxDepth) {
      const u32 type = p[0];
      if (is_any_word(type)) {
        u32 index = p[1];
        p += 2;
        if (index & 0x80) {
          if (p >= end_ || (*p & 0x80)) index = kNoCell;
          else index = (index & 0x7F) | (u32(*p++) << 7);
        }
        const u32 sym = index < symbol_count_ ? symbol_ids_[index] : 0;
        const u32 slot = sym && sym < global_slots_.size() ? global_slots_[sym] : 0;
        if (slot) {
          mem::Series* s = mem::series_of(block.cell.series_node());
          if (s->room() >= sizeof(Cell)) {
            make_cell(s->cells_tail(), new_line | type, context::g_global, sym, slot - 1);
            s->tail += sizeof(Cell);
          } else {
            make_cell(mem::alloc_tail_cell(block.cell.series_node()), new_line | type, context::g_global, sym, slot - 1);
          }
          p_ = p;
          continue;
        }
      } else if (is_block_type(type)) {
        p_ = p + 1;
        read_compact_block(block, type, new_line);
        continue;
      }
    }
    read_record(block);
  }
}

// A block record from its head, past its header byte.
void Decoder::read_compact_block(Rooted& into, u32 type, u32 new_line) {
  DepthGuard guard(depth_);
  const i32 n = record_count();
  const u32 index = begin_block(into, type, 0, u32(n));
  Cell* c = cell_at(into, index);
  c->header |= new_line;
  Rooted block(*c);
  read_compact_cells(block, n);
}

u32 Decoder::read_compact_scalar(Rooted& into, const Header& h) {
  bool flag = (h.bits & kHeaderFlag) != 0;
  const u8* at = p_;
  Cell v;
  switch (h.type) {
    case T_DATATYPE: {
      u32 id = varint();
      check_datatype(id, at);
      set_datatype(&v, id);
      break;
    }
    case T_UNSET:
    case T_NONE:
      make_cell(&v, h.type, 0, 0, 0);
      break;
    case T_CHAR: {
      u32 cp = varint();
      if (cp > unicode::kMaxCodePoint) invalid(at);
      make_cell(&v, T_CHAR, 0, cp, 0);
      break;
    }
    case T_INTEGER:
      set_integer(&v, zigzag());
      break;
    case T_FLOAT:
    case T_PERCENT:
    case T_TIME: {
      // Flagged: a whole number (of hundredths for a percent).
      double d;
      if (flag) {
        i32 n = zigzag();
        d = h.type == T_PERCENT ? double(n) / 100.0 : double(n);
      } else {
        d = float64();
      }
      set_float(&v, d);
      set_type(&v, u8(h.type));
      break;
    }
    case T_PAIR: {
      i32 x = zigzag();
      i32 y = zigzag();
      make_cell(&v, T_PAIR, 0, u32(x), u32(y));
      break;
    }
    case T_POINT2D: {
      u32 x = word();
      u32 y = word();
      make_cell(&v, T_POINT2D, x, y, 0);
      break;
    }
    case T_POINT3D: {
      u32 x = word();
      u32 y = word();
      u32 z = word();
      make_cell(&v, T_POINT3D, x, y, z);
      break;
    }
    case T_DATE: {
      u32 packed = word();
      bool has_time = (packed & 0x10000) != 0;
      if (has_time != flag) invalid(at);
      double time = has_time ? float64() : 0.0;
      check_date(packed, time, at);
      make_cell(&v, T_DATE, packed, 0, 0);
      v.set_float(time);
      break;
    }
    case T_TYPESET: {
      u32 n = byte();
      if (n > 12) invalid(at);
      make_cell(&v, T_TYPESET, 0, 0, 0);
      std::memcpy(&v.w1, bytes(n), n);
      break;
    }
    case T_TUPLE: {
      u32 n = flag ? byte() : 3;
      if (n < 3 || n > 12) invalid(at);
      make_cell(&v, T_TUPLE | (n << 19), 0, 0, 0);
      std::memcpy(&v.w1, bytes(n), n);
      break;
    }
    default:
      invalid(h.at);
  }
  return put(into, v);
}

}  // namespace zot::zotbin
