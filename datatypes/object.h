// object!: a value wrapping an object context (a set of words with one value
// slot each), and the change events an object hears: `on-change*` when one of
// its words is set, `on-deep-change*` when a series it owns is modified.
//
// An object cell: w1 the context node (kind object, values on the heap, with
// `self`), w2 the class id, w3 the event-index series node or 0. The context's
// owner cell holds a copy of the object cell, events included.
//
// Event-index series: two pair! cells, 0 for on-change*, 1 for
// on-deep-change*; w2 = (handler slot index << 16) | local slot count (index
// 0xFFFF: no handler), w3 = the spec node the count was taken for (0: none yet).
#pragma once

#include "runtime/actions.h"
#include "runtime/base.h"
#include "runtime/cell.h"
#include "runtime/memory.h"

namespace zot::object {

using mem::Node;

constexpr u32 kFirstClassId = 1000001;
// Error objects all share one class id.
constexpr u32 kErrorClassId = 1;

// A fresh class id (the first one handed out is 1,000,001).
u32 next_class_id();

// ---- reading (addresses good until the next allocation)
Cell* word_at(Node ctx, u32 index);
// The value of the word's symbol (any case), or the shared none! cell.
const Cell* select_word(const Cell* obj, const Cell* word);
// 0-based index of the word (any case), or -1.
i32 find_word(const Cell* obj, const Cell* word);
u32 word_count(const Cell* obj);
bool is_object_of(Node ctx, u32 index, u32 class_id);
void clear_flag_bit30(mem::Series* buffer);
void clear_changed(Node ctx);

// ---- making
// cell becomes an empty object with room for `slots` words, class id 0, no events.
Cell* make_at(Cell* cell, u32 slots);
Cell* push(Node ctx, u32 class_id, Node events);
Node make_event_series(Node change_spec, Node deep_spec, i32 change_index, i32 change_locals, i32 deep_index,
                       i32 deep_locals);
// Looks up the handlers of the context; 0 when it has neither.
Node make_event_info(Node ctx);
bool has_deep_handler(const Cell* obj);

// Adds the source's words and values to the target, then deep-copies every
// series value and remakes every function! for the target. True when words were added.
bool extend(Node target, Node source);
// dst becomes a copy of src (same type and class id) over a new context.
Cell* copy_into(const Cell* src, Cell* dst, bool deep, const Cell* types, bool fresh_events);

// The `set` native on an object.
void set_many(const Cell* obj, const Cell* value, bool any, bool only, bool some);
// The `construct` native: the new object is pushed and returned.
Cell* construct(const Cell* spec, const Cell* proto, bool only);

// ---- change events
void fire_on_change(Cell* obj, const Cell* word, const Cell* old_value, const Cell* new_value);
// old and new are the two cells below the stack top.
void fire_on_change_args(Cell* obj, const Cell* word);
void fire_on_deep_change(const Cell* owner, const Cell* word, const Cell* target, const Cell* action,
                         const Cell* new_value, i32 index, i32 part);

// ---- text
// The words and values (see mold), at the nesting level o.indent; lines puts
// each on its own indented line after a leading break (unless flat or only).
// Returns the part budget left.
i32 serialize(const Cell* obj, Cell* out, const actions::MoldOptions& o, i32 part, bool lines);

// ---- slot functions
Cell* make(Cell* proto, Cell* spec, int type);
// make with a fixed class id (0: the usual rule) for the library's objects
// whose class ids are pinned.
Cell* make_with_class(Cell* proto, Cell* spec, u32 class_id);
void reflect(Cell* value, u32 field_symbol);
i32 form(const Cell* value, Cell* out, const Cell* limit, i32 part);
i32 mold(const Cell* value, Cell* out, const actions::MoldOptions& o, i32 part);
Cell* eval_path(Cell* parent, Cell* element, Cell* value, const actions::PathOptions& o);
i32 compare(const Cell* a, const Cell* b, i32 op);
Cell* copy(Cell* value, Cell* result, Cell* part, bool deep, Cell* kind);
Cell* put(Cell* obj, Cell* key, Cell* value, bool case_);
Cell* select(Cell* obj, Cell* key, const actions::FindOptions& o);
Cell* modify(Cell* target, Cell* field, Cell* value, bool case_);

// The body block: set-words (each on a new line) and their values; word!
// and path! values in their literal forms.
void body_of(const Cell* obj, Cell* out);

// Registers object! (no parent).
void register_type();

}  // namespace zot::object
