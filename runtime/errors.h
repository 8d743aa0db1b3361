// Language errors: raised through one routine with a category, an id and up to
// three argument values. They unwind as the runtime throw kThrowError to the
// nearest try frame.
#pragma once

#include "runtime/base.h"
#include "runtime/cell.h"

namespace zot {

enum ErrCategory : u8 {
#define ZOT_ERROR_CATEGORY(index, word, title) kErrCat_##index = index,
#define ZOT_ERROR_ID(cat, id, word, tmpl)
#include "runtime/error_catalog.inc"
#undef ZOT_ERROR_CATEGORY
#undef ZOT_ERROR_ID
  kErrCategoryCount
};

// Every error id of the catalog, named <Category><Id> (Err::ScriptNoValue).
enum class Err : u16 {
#define ZOT_ERROR_CATEGORY(index, word, title)
#define ZOT_ERROR_ID(cat, id, word, tmpl) cat##id,
#include "runtime/error_catalog.inc"
#undef ZOT_ERROR_CATEGORY
#undef ZOT_ERROR_ID
  Count
};

struct ErrorInfo {
  u8 category;     // index of the category in the catalog
  u8 index;        // index of the id within its category
  const char* word;      // the id word
  const char* tmpl;      // message template as Zot source ("" when none)
};

struct ErrorCategoryInfo {
  const char* word;   // category word
  const char* title;  // "Script Error", ...
  u16 first;          // first Err of the category
  u16 count;          // number of ids
};

const ErrorInfo& error_info(Err e);
const ErrorCategoryInfo& error_category(int index);
// category * 100 + index
int error_code(Err e);
// The Err of a code, or Err::Count when the code names no id.
Err error_from_code(int code);

// Raises the error: makes the error value, fires the tracer (once it exists)
// and unwinds to the nearest try frame; with none, prints it and exits with
// status -2. Never returns.
ZOT_NORETURN void raise_error(Err e, const Cell* arg1 = nullptr, const Cell* arg2 = nullptr,
                              const Cell* arg3 = nullptr);
// Raises the error with the datatype of the type id as its first argument.
ZOT_NORETURN void raise_with_type(Err e, u32 type, const Cell* arg2 = nullptr);
// Raises internal/no-memory when the OS refuses memory. Its value is made in
// advance (making one allocates, and that would fail again), and no tracer
// hears of it.
ZOT_NORETURN void raise_no_memory();
// Makes that value and keeps it in the root block (start-up, once the error
// datatype is in place).
void prepare_no_memory_error();

// The error datatype takes over making and printing error values through the
// services table. Until then an error value is an `error!` cell whose payload
// word 2 holds the code, with its arguments kept aside.

// For the interim error values: the code and arguments of the last error made.
int error_cell_code(const Cell* error);
const Cell* last_error_arg(int i);  // 0..2; unset when absent

}  // namespace zot
