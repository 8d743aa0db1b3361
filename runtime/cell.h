// The value cell: every value of the language is one 16-byte cell.
#pragma once

#include <array>
#include <cstring>

#include "runtime/assert.h"
#include "runtime/base.h"

namespace zot {

// Type ids: the low byte of every cell header.
enum TypeId : u8 {
  T_NONE_ID = 0,  // no type (an empty slot, never a live value)
  T_DATATYPE = 1,
  T_UNSET,
  T_NONE,
  T_LOGIC,
  T_BLOCK,
  T_PAREN,
  T_STRING,
  T_FILE,
  T_URL,
  T_CHAR,
  T_INTEGER,
  T_FLOAT,
  T_SYMBOL,
  T_CONTEXT,
  T_WORD,
  T_SET_WORD,
  T_LIT_WORD,
  T_GET_WORD,
  T_REFINEMENT,
  T_ISSUE,
  T_NATIVE,
  T_ACTION,
  T_OP,
  T_FUNCTION,
  T_PATH,
  T_LIT_PATH,
  T_SET_PATH,
  T_GET_PATH,
  T_ROUTINE,
  T_BITSET,
  T_TRIPLE,
  T_OBJECT,
  T_TYPESET,
  T_ERROR,
  T_VECTOR,
  T_HASH,
  T_PAIR,
  T_PERCENT,
  T_TUPLE,
  T_MAP,
  T_BINARY,
  T_SERIES,
  T_TIME,
  T_TAG,
  T_EMAIL,
  T_HANDLE,
  T_DATE,
  T_PORT,
  T_MONEY,
  T_REF,
  T_POINT2D,
  T_POINT3D,
  T_IMAGE,
  T_EVENT,  // 54
};

constexpr int kTypeCount = 54;       // highest type id in use
constexpr int kTypeTableSize = 57;   // room in the type table

// Header bit 30: a line break precedes the value when it is molded in a block.
constexpr u32 kCellNewLine = 0x40000000u;
constexpr u32 kCellTypeMask = 0xFFu;

// ---- type families
ZOT_INLINE constexpr bool is_any_path(u32 t) { return t >= T_PATH && t <= T_GET_PATH; }
// block!, paren!, hash!: any-block but the paths.
ZOT_INLINE constexpr bool is_any_list(u32 t) { return t == T_BLOCK || t == T_PAREN || t == T_HASH; }
ZOT_INLINE constexpr bool is_any_block(u32 t) {
  return t == T_BLOCK || t == T_PAREN || is_any_path(t) || t == T_HASH;
}
ZOT_INLINE constexpr bool is_any_string(u32 t) {
  return t == T_STRING || t == T_FILE || t == T_URL || t == T_TAG || t == T_EMAIL || t == T_REF;
}
// any-block, any-string, binary!, vector!, image!: an index into a buffer.
ZOT_INLINE constexpr bool is_any_series(u32 t) {
  return is_any_block(t) || is_any_string(t) || t == T_BINARY || t == T_VECTOR || t == T_IMAGE;
}
// word!, set-word!, lit-word!, get-word!, refinement!, issue!
ZOT_INLINE constexpr bool is_any_word(u32 t) { return t >= T_WORD && t <= T_ISSUE; }
// word!, set-word!, lit-word!, get-word!: any-word but refinement! and issue!
ZOT_INLINE constexpr bool is_plain_word(u32 t) { return t >= T_WORD && t <= T_GET_WORD; }
// Words that binding reaches: any-word but issue!.
ZOT_INLINE constexpr bool is_bindable_word(u32 t) { return t >= T_WORD && t <= T_REFINEMENT; }
ZOT_INLINE constexpr bool is_any_function(u32 t) {
  return t == T_NATIVE || t == T_ACTION || t == T_OP || t == T_FUNCTION || t == T_ROUTINE;
}
// The values that wrap a context: object!, error!, port!.
ZOT_INLINE constexpr bool is_any_object(u32 t) { return t == T_OBJECT || t == T_ERROR || t == T_PORT; }
// A double in payload words 2 and 3.
ZOT_INLINE constexpr bool holds_double(u32 t) { return t == T_FLOAT || t == T_PERCENT || t == T_TIME; }

// Header bits 16-23 of an op!: the type of the function it wraps (its
// payload is that function's).
constexpr u32 kOpTypeShift = 16;

// A value cell. Read and write the payload through the accessors of its
// datatype: each checks (in a debug build) that the cell holds that type. The
// raw words are for code about the layout itself: copying, hashing, ZOTBIN.
struct Cell {
  u32 header;
  u32 w1;
  u32 w2;
  u32 w3;

  ZOT_INLINE TypeId type() const { return TypeId(header & kCellTypeMask); }
  ZOT_INLINE bool is(TypeId t) const { return type() == t; }
  ZOT_INLINE u32 flags() const { return header & ~kCellTypeMask; }

  // ---- integer! (w2; char! arithmetic works on the same word)
  ZOT_INLINE i32 int_value() const {
    ZOT_ASSERT(is(T_INTEGER) || is(T_CHAR));
    return i32(w2);
  }
  ZOT_INLINE void set_int_value(i32 v) {
    ZOT_ASSERT(is(T_INTEGER) || is(T_CHAR));
    w2 = u32(v);
  }
  // ---- float!, percent!, time! (a double in w2-w3; a date!'s time too)
  ZOT_INLINE double float_value() const {
    ZOT_ASSERT(holds_double(type()) || is(T_DATE));
    double d;
    std::memcpy(&d, &w2, sizeof d);
    return d;
  }
  ZOT_INLINE void set_float(double d) {
    ZOT_ASSERT(holds_double(type()) || is(T_DATE));
    std::memcpy(&w2, &d, sizeof d);
  }
  // The double's bits: the very same value (`same?` tells 0.0 from -0.0
  // and finds a NaN the same as itself).
  ZOT_INLINE u64 float_bits() const {
    ZOT_ASSERT(holds_double(type()) || is(T_DATE));
    return (u64(w3) << 32) | w2;
  }
  // ---- char! (the code point in w2)
  ZOT_INLINE u32 char_value() const {
    ZOT_ASSERT(is(T_CHAR));
    return w2;
  }
  ZOT_INLINE void set_char_value(u32 cp) {
    ZOT_ASSERT(is(T_CHAR));
    w2 = cp;
  }
  // ---- logic! (w1)
  ZOT_INLINE bool logic_value() const {
    ZOT_ASSERT(is(T_LOGIC));
    return w1 != 0;
  }
  // Keeps the header's flags (set_logic makes a fresh cell).
  ZOT_INLINE void set_logic_value(bool v) {
    ZOT_ASSERT(is(T_LOGIC));
    w1 = v ? 1 : 0;
  }
  // ---- datatype! (the type id in w1)
  ZOT_INLINE u32 datatype_id() const {
    ZOT_ASSERT(is(T_DATATYPE));
    return w1;
  }

  // ---- date!: w1 the packed date word (year, month, day, zone, has-time),
  // w2-w3 the stored time (a double, seconds)
  ZOT_INLINE u32 date_word() const {
    ZOT_ASSERT(is(T_DATE));
    return w1;
  }
  ZOT_INLINE void set_date_word(u32 w) {
    ZOT_ASSERT(is(T_DATE));
    w1 = w;
  }

  // ---- series: any-block, any-string, binary!, vector!, image!
  // w1 the index in units from the buffer's head (signed; it may lie past
  // the tail after the buffer was shortened through another value), w2 the
  // buffer's node, w3 per type (a hash!'s table, a vector!'s element type,
  // an image!'s size).
  ZOT_INLINE i32 series_index() const {
    ZOT_ASSERT(is_any_series(type()));
    return i32(w1);
  }
  ZOT_INLINE u32 series_node() const {
    ZOT_ASSERT(is_any_series(type()));
    return w2;
  }
  ZOT_INLINE void set_series_index(i32 index) {
    ZOT_ASSERT(is_any_series(type()));
    w1 = u32(index);
  }
  ZOT_INLINE void set_series_node(u32 node) {
    ZOT_ASSERT(is_any_series(type()));
    w2 = node;
  }
  // hash!: the node of its hash table (0 while it has none).
  ZOT_INLINE u32 hash_table() const {
    ZOT_ASSERT(is(T_HASH));
    return w3;
  }
  ZOT_INLINE void set_hash_table(u32 table) {
    ZOT_ASSERT(is(T_HASH));
    w3 = table;
  }
  // vector!: the element type (char!, integer!, float!, percent!).
  ZOT_INLINE u32 vector_type() const {
    ZOT_ASSERT(is(T_VECTOR));
    return w3;
  }
  // image!: width in the low 16 bits, height in the high 16 bits.
  ZOT_INLINE u32 image_size() const {
    ZOT_ASSERT(is(T_IMAGE));
    return w3;
  }
  ZOT_INLINE void set_image_size(u32 width, u32 height) {
    ZOT_ASSERT(is(T_IMAGE));
    w3 = (height << 16) | (width & 0xFFFFu);
  }

  // ---- map!: w2 the node of the key/value block, w3 the node of its table
  ZOT_INLINE u32 map_block() const {
    ZOT_ASSERT(is(T_MAP));
    return w2;
  }
  ZOT_INLINE u32 map_table() const {
    ZOT_ASSERT(is(T_MAP));
    return w3;
  }
  ZOT_INLINE void set_map_table(u32 table) {
    ZOT_ASSERT(is(T_MAP));
    w3 = table;
  }
  // w1: the position of a foreach loop over the map (0 in a map value).
  ZOT_INLINE u32 map_position() const {
    ZOT_ASSERT(is(T_MAP));
    return w1;
  }
  ZOT_INLINE void set_map_position(u32 position) {
    ZOT_ASSERT(is(T_MAP));
    w1 = position;
  }

  // ---- bitset!: w2 the node of its bytes
  ZOT_INLINE u32 bitset_node() const {
    ZOT_ASSERT(is(T_BITSET));
    return w2;
  }

  // ---- any-word: w1 the context (0: unbound), w2 the symbol, w3 the index
  // of the word in its context (-1: not looked up yet).
  ZOT_INLINE u32 word_context() const {
    ZOT_ASSERT(is_any_word(type()));
    return w1;
  }
  ZOT_INLINE u32 word_symbol() const {
    ZOT_ASSERT(is_any_word(type()));
    return w2;
  }
  ZOT_INLINE i32 word_index() const {
    ZOT_ASSERT(is_any_word(type()));
    return i32(w3);
  }
  // Bound to a context with the index of its slot there: its value can be
  // read without a lookup.
  ZOT_INLINE bool word_resolved() const { return word_context() != 0 && word_index() >= 0; }
  ZOT_INLINE void set_word_binding(u32 context, i32 index) {
    ZOT_ASSERT(is_any_word(type()));
    w1 = context;
    w3 = u32(index);
  }
  ZOT_INLINE void set_word_index(i32 index) {
    ZOT_ASSERT(is_any_word(type()));
    w3 = u32(index);
  }
  ZOT_INLINE void set_word_symbol(u32 symbol) {
    ZOT_ASSERT(is_any_word(type()));
    w2 = symbol;
  }

  // ---- symbol!: w1 the alias (-1, or the id of the first-made spelling of
  // its case family), w2 the node of its name as a string! (0 until needed),
  // w3 the node of its UTF-8 name
  ZOT_INLINE i32 symbol_alias() const {
    ZOT_ASSERT(is(T_SYMBOL));
    return i32(w1);
  }
  ZOT_INLINE u32 symbol_string() const {
    ZOT_ASSERT(is(T_SYMBOL));
    return w2;
  }
  ZOT_INLINE void set_symbol_string(u32 node) {
    ZOT_ASSERT(is(T_SYMBOL));
    w2 = node;
  }
  ZOT_INLINE u32 symbol_bytes() const {
    ZOT_ASSERT(is(T_SYMBOL));
    return w3;
  }

  // ---- context!: w1 the word table, w2 the values (a series node, or for
  // values on the argument stack the stack reference of the first, 0 while
  // the function does not run)
  ZOT_INLINE u32 context_table() const {
    ZOT_ASSERT(is(T_CONTEXT));
    return w1;
  }
  ZOT_INLINE void set_context_table(u32 table) {
    ZOT_ASSERT(is(T_CONTEXT));
    w1 = table;
  }
  ZOT_INLINE u32 context_values() const {
    ZOT_ASSERT(is(T_CONTEXT));
    return w2;
  }
  ZOT_INLINE void set_context_values(u32 values) {
    ZOT_ASSERT(is(T_CONTEXT));
    w2 = values;
  }

  // ---- object!, error!, port!: w1 the context, w2 the class id, w3 the
  // node of the event index (0: none yet)
  ZOT_INLINE u32 object_context() const {
    ZOT_ASSERT(is_any_object(type()));
    return w1;
  }
  ZOT_INLINE void set_object_context(u32 context) {
    ZOT_ASSERT(is_any_object(type()));
    w1 = context;
  }
  ZOT_INLINE u32 object_class() const {
    ZOT_ASSERT(is_any_object(type()));
    return w2;
  }
  ZOT_INLINE void set_object_class(u32 class_id) {
    ZOT_ASSERT(is_any_object(type()));
    w2 = class_id;
  }
  ZOT_INLINE u32 object_events() const {
    ZOT_ASSERT(is_any_object(type()));
    return w3;
  }
  ZOT_INLINE void set_object_events(u32 node) {
    ZOT_ASSERT(is_any_object(type()));
    w3 = node;
  }

  // ---- native!, action!, function!, routine!, and op! (which holds the
  // payload of the function it wraps): w1 the target (a natives-table index,
  // an action slot, a function's context), w2 the spec block's node, w3 the
  // node of the "more" cells
  // The callable's own type; for an op!, the wrapped function's.
  ZOT_INLINE u32 callable_type() const {
    ZOT_ASSERT(is_any_function(type()));
    return is(T_OP) ? (header >> kOpTypeShift) & 0xFFu : u32(type());
  }
  ZOT_INLINE u32 op_type() const {
    ZOT_ASSERT(is(T_OP));
    return (header >> kOpTypeShift) & 0xFFu;
  }
  // The target whatever the kind (for identity comparisons).
  ZOT_INLINE u32 callable_target() const {
    ZOT_ASSERT(is_any_function(type()));
    return w1;
  }
  ZOT_INLINE u32 native_index() const {
    ZOT_ASSERT(callable_type() == T_NATIVE);
    return w1;
  }
  ZOT_INLINE u32 action_slot() const {
    ZOT_ASSERT(callable_type() == T_ACTION);
    return w1;
  }
  ZOT_INLINE u32 function_context() const {
    ZOT_ASSERT(callable_type() == T_FUNCTION || callable_type() == T_ROUTINE);
    return w1;
  }
  ZOT_INLINE void set_function_context(u32 context) {
    ZOT_ASSERT(callable_type() == T_FUNCTION || callable_type() == T_ROUTINE);
    w1 = context;
  }
  ZOT_INLINE u32 function_spec() const {
    ZOT_ASSERT(is_any_function(type()));
    return w2;
  }
  ZOT_INLINE u32 function_more() const {
    ZOT_ASSERT(is_any_function(type()));
    return w3;
  }

  // ---- triple!: three signed integers in w1-w3 (the frames of parse, the
  // lexer's series markers)
  ZOT_INLINE i32 triple_first() const {
    ZOT_ASSERT(is(T_TRIPLE));
    return i32(w1);
  }
  ZOT_INLINE i32 triple_second() const {
    ZOT_ASSERT(is(T_TRIPLE));
    return i32(w2);
  }
  ZOT_INLINE i32 triple_third() const {
    ZOT_ASSERT(is(T_TRIPLE));
    return i32(w3);
  }
  ZOT_INLINE void set_triple_first(i32 v) {
    ZOT_ASSERT(is(T_TRIPLE));
    w1 = u32(v);
  }
  ZOT_INLINE void set_triple_second(i32 v) {
    ZOT_ASSERT(is(T_TRIPLE));
    w2 = u32(v);
  }
  ZOT_INLINE void set_triple_third(i32 v) {
    ZOT_ASSERT(is(T_TRIPLE));
    w3 = u32(v);
  }

  // ---- point2D!, point3D!: the coordinates x, y, z (axis 0 to 2) as
  // 32-bit floats in w1-w3
  ZOT_INLINE float point_coord(int axis) const {
    ZOT_ASSERT(is(T_POINT2D) || is(T_POINT3D));
    const u32 w = axis == 0 ? w1 : axis == 1 ? w2 : w3;
    float f;
    std::memcpy(&f, &w, sizeof f);
    return f;
  }
  // A coordinate's bits, for the very same value.
  ZOT_INLINE u32 point_bits(int axis) const {
    ZOT_ASSERT(is(T_POINT2D) || is(T_POINT3D));
    return axis == 0 ? w1 : axis == 1 ? w2 : w3;
  }
  ZOT_INLINE void set_point_coord(int axis, float f) {
    ZOT_ASSERT(is(T_POINT2D) || is(T_POINT3D));
    std::memcpy(axis == 0 ? &w1 : axis == 1 ? &w2 : &w3, &f, sizeof f);
  }

  // ---- handle!: w1 the kind, w2 the value (an index into its maker's side
  // table), w3 the resource-registry index that owns it (-1: none)
  ZOT_INLINE i32 handle_kind() const {
    ZOT_ASSERT(is(T_HANDLE));
    return i32(w1);
  }
  ZOT_INLINE u32 handle_value() const {
    ZOT_ASSERT(is(T_HANDLE));
    return w2;
  }
  ZOT_INLINE i32 handle_resource() const {
    ZOT_ASSERT(is(T_HANDLE));
    return i32(w3);
  }

  // ---- typeset!: 96 member bits in w1-w3. By bytes in memory order, type t
  // is bit 0x80 >> (t & 7) of byte t >> 3; set operations work on the words.
  ZOT_INLINE const u8* typeset_bytes() const {
    ZOT_ASSERT(is(T_TYPESET));
    return reinterpret_cast<const u8*>(&w1);
  }
  ZOT_INLINE u8* typeset_bytes() {
    ZOT_ASSERT(is(T_TYPESET));
    return reinterpret_cast<u8*>(&w1);
  }
  ZOT_INLINE std::array<u32, 3> typeset_words() const {
    ZOT_ASSERT(is(T_TYPESET));
    return {w1, w2, w3};
  }
  ZOT_INLINE void set_typeset_words(const std::array<u32, 3>& words) {
    ZOT_ASSERT(is(T_TYPESET));
    w1 = words[0];
    w2 = words[1];
    w3 = words[2];
  }
};
static_assert(sizeof(Cell) == 16, "a value cell is 16 bytes");
static_assert(offsetof(Cell, w2) == 8, "doubles live in payload words 2 and 3");

ZOT_INLINE Cell* copy_cell(const Cell* src, Cell* dst) {
  if (src != dst) *dst = *src;
  return dst;
}

// Copies the value into a slot that keeps its own new-line flag (a slot a
// scanner filled in place).
ZOT_INLINE Cell* copy_keeping_new_line(const Cell* src, Cell* dst) {
  const u32 nl = dst->header & kCellNewLine;
  *dst = *src;
  dst->header = nl | (src->header & ~kCellNewLine);
  return dst;
}

// Replaces the type byte, keeping the flag bits.
ZOT_INLINE Cell* set_type(Cell* c, u8 type) {
  c->header = (c->header & ~kCellTypeMask) | type;
  return c;
}

ZOT_INLINE Cell* clear_new_line(Cell* c) {
  c->header &= ~kCellNewLine;
  return c;
}

// Writes a whole cell in one 16-byte store: nothing can run between its
// parts, and a copy of the cell read soon after (the usual next step) is
// then forwarded from that store rather than stalled on four small ones.
ZOT_INLINE Cell* make_cell(Cell* c, u32 header, u32 w1, u32 w2, u32 w3) {
  typedef u32 Words __attribute__((vector_size(16)));
  const Words words = {header, w1, w2, w3};
  static_assert(sizeof words == sizeof(Cell));
  std::memcpy(static_cast<void*>(c), &words, sizeof words);
  return c;
}

ZOT_INLINE Cell* set_unset(Cell* c) { return make_cell(c, T_UNSET, 0, 0, 0); }
ZOT_INLINE Cell* set_none(Cell* c) { return make_cell(c, T_NONE, 0, 0, 0); }
ZOT_INLINE Cell* set_logic(Cell* c, bool v) { return make_cell(c, T_LOGIC, v ? 1 : 0, 0, 0); }
ZOT_INLINE Cell* set_integer(Cell* c, i32 v) { return make_cell(c, T_INTEGER, 0, u32(v), 0); }
ZOT_INLINE Cell* set_char(Cell* c, u32 cp) { return make_cell(c, T_CHAR, 0, cp, 0); }
ZOT_INLINE Cell* set_datatype(Cell* c, u32 type) { return make_cell(c, T_DATATYPE, type, 0, 0); }
// A datatype! value, as an error argument most often.
ZOT_INLINE Cell datatype_cell(u32 type) {
  Cell c;
  set_datatype(&c, type);
  return c;
}
// A series of the type (flag bits may come with it) over the node.
ZOT_INLINE Cell* set_series(Cell* c, u32 header, u32 node, i32 index = 0) {
  ZOT_ASSERT(is_any_series(header & kCellTypeMask));
  return make_cell(c, header, u32(index), node, 0);
}
// A word of the type: unbound, or bound to the context's slot at index.
ZOT_INLINE Cell* set_word(Cell* c, u32 header, u32 symbol, u32 context = 0, i32 index = -1) {
  ZOT_ASSERT(is_any_word(header & kCellTypeMask));
  return make_cell(c, header, context, symbol, u32(index));
}
ZOT_INLINE Cell* set_float(Cell* c, double d) {
  make_cell(c, T_FLOAT, 0, 0, 0);
  c->set_float(d);
  return c;
}

}  // namespace zot
