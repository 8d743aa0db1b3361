// error!: a language error is an object with ten fixed fields, made from a
// category and an id of the error catalog and up to three argument values.
// Its form is the text the console prints for an uncaught error.
//
// The catalog (the object that `system/catalog/errors` will hold) is built at
// start-up from runtime/error_catalog.inc: one object per category with the
// words `code`, `type` (the title) and then its ids, each holding its message
// template (a string, or a block of strings and the words arg1..arg3).
#pragma once

#include "runtime/actions.h"
#include "runtime/base.h"
#include "runtime/cell.h"
#include "runtime/errors.h"
#include "runtime/memory.h"

namespace zot::error {

enum Field : u32 {
  kCode = 0, kType, kId, kArg1, kArg2, kArg3, kNear, kWhere, kStack, kFiles,
  kFieldCount
};

// Builds the catalog and the error prototype. After the natives exist.
void init();

// The runtime's errors become error objects here (services of start-up):
// making one, printing an uncaught one, the code of one.
void make_error(Err e, const Cell* args[3], Cell* out);
void print_error(const Cell* error);
i32 code_of(const Cell* error);

// The catalog object and the error prototype (root cells).
const Cell* catalog();
const Cell* prototype();

// The field cell of an error (good until the next allocation).
Cell* field(const Cell* error, u32 index);

// A new error from a category word and an id word (each argument may be
// null), pushed on the argument stack.
Cell* create_from_words(const Cell* category, const Cell* id, const Cell* arg1, const Cell* arg2,
                        const Cell* arg3);
// Turns the recorded call position of a caught error into a block of words.
void fill_stack_trace(Cell* error);
// Stores the value as `where` unless that is set already.
void set_where(Cell* error, const Cell* value);
constexpr u32 stack_field() { return kStack; }
// The word naming the index-th parameter of the function being called.
Cell argument_word(int index);

// The stack-trace depth (`system/state/stack-trace`; 0 before the library
// runs): above 0 the form prints a "*** Stack: " line.
i32 stack_trace_level();

// The frame words up to the recorded position (exclusive): appended to a
// block, or formed into a string (each followed by a space) within the limit.
void collect_frame_words(i32 level, Cell* block, i32 end_frame);
i32 form_frame_words(i32 level, i32 end_frame, Cell* out, i32 limit);

// ---- slot functions
Cell* make(Cell* proto, Cell* spec, int type);
i32 form(const Cell* value, Cell* out, const Cell* limit, i32 part);
i32 mold(const Cell* value, Cell* out, const actions::MoldOptions& o, i32 part);
Cell* eval_path(Cell* parent, Cell* element, Cell* value, const actions::PathOptions& o);
i32 compare(const Cell* a, const Cell* b, i32 op);

// Registers error! (parent object!).
void register_type();

}  // namespace zot::error
