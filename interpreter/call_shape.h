// What a call needs to know of its callable, cached by the callable's nodes:
// its parsed spec and, for the common spec of plain parameters before any
// refinement, their types; a function's body. Reading these through the callable's series is
// a chain of dependent loads at every call; the cache is one lookup.
//
// An entry names nodes only. Nodes are freed (and reused) only by a
// collection, and a callable's spec, parsed spec and body never change once
// made: an entry holds until the collection count moves.
#pragma once

#include <cstddef>
#include <cstring>

#include "runtime/cell.h"
#include "runtime/collector.h"
#include "runtime/memory.h"

namespace zot::interp::callpath {

// Plain parameters a shape keeps the types of.
constexpr u32 kShapeParams = 6;
// Refinements a shape keeps the places of.
constexpr u32 kShapeRefinements = 8;
// Starting values of tail slots a shape keeps as cells.
constexpr u32 kShapeTail = 4;
// A count too large for the shape to keep.
constexpr u8 kNoTail = 0xFF;

// No member has a default initialiser: an empty entry is all zero, so the
// table needs no start-up code and stays untouched until calls use it.
struct Shape {
  u32 spec;      // key: the callable's spec node
  u32 more;      // key: its "more" node (0: empty entry); with spec, as the
                 // callable's cell holds them (one 64-bit comparison)
  u32 epoch;     // collector::count() when the entry was made
  u8 type;       // key: native!, action!, routine! or function!
  bool simple;   // normal parameters only (at most kShapeParams), no refinement
  bool leading;  // the parameters before the first refinement are normal ones
                 // (at most kShapeParams)
  u8 params;     // leading: their number
  u16 rest;      // leading: the entry of the first refinement (the count without one)
  bool refinements;  // native! or action! with refinements
  bool lean;     // function! leading, its tail slots kept: the lean road takes it
  // leading function! or routine!: the slots of its refinements and their
  // parameters, which a call starts off (false for a refinement, none for a
  // parameter): their number (at most 32, else kNoTail) and which are
  // refinements (a bit each, from the first).
  u8 tail_slots;
  u32 tail_refinements;
  i32 locals;              // local slots of a function! or routine!
  mem::Node parsed;        // the parsed spec
  u32 count;               // its entries
  // Its refinements when it has at most kShapeRefinements (ref_count, else
  // kNoTail): each one's symbol, entry in the parsed spec, slot (its place
  // among the spec's parameters and refinements) and parameters.
  u8 ref_count;
  u8 ref_slot[kShapeRefinements];
  u8 ref_params[kShapeRefinements];
  u16 ref_entry[kShapeRefinements];
  u32 ref_symbol[kShapeRefinements];
  Cell ref_first[kShapeRefinements];  // the entry of each one's first parameter (unset: none)
  Cell body;               // function!: its body
  // The first kShapeTail of those starting values (the rest unset), written
  // at once when there are no more.
  Cell tail[kShapeTail];
  Cell types[kShapeParams];  // leading: the typeset of each of those parameters
};

static_assert(offsetof(Shape, more) == offsetof(Shape, spec) + 4, "the key reads as one word");

constexpr u32 kShapeSlots = 1024;
extern Shape g_shapes[kShapeSlots];

// Makes the entry for fn (building its parsed spec on its first call).
const Shape& fill_shape(Shape& entry, const Cell& fn);
// Empties the cache (a new start of the runtime: the first one finds it empty).
void clear_shapes();

// The shape of a native!, action!, routine! or function!. The reference
// holds until Zot code runs (a nested call may take the entry over).
ZOT_INLINE const Shape& shape_of(const Cell& fn) {
  const u32 more = fn.function_more();
  Shape& e = g_shapes[(more * 2654435761u) >> 22];
  u64 key, cell_key;
  std::memcpy(&key, &e.spec, sizeof key);
  std::memcpy(&cell_key, &fn.w2, sizeof cell_key);  // spec node, then "more"
  if (ZOT_LIKELY(key == cell_key && e.type == fn.type() && e.epoch == collector::count())) return e;
  return fill_shape(e, fn);
}

}  // namespace zot::interp::callpath
