#include "runtime/errors.h"

#include <string>

#include "platform/platform.h"
#include "runtime/root.h"
#include "runtime/rooted.h"
#include "runtime/services.h"
#include "runtime/stack.h"
#include "runtime/throw.h"

namespace zot {

namespace {

const ErrorInfo kErrors[] = {
#define ZOT_ERROR_CATEGORY(index, word, title)
#define ZOT_ERROR_ID(cat, id, word, tmpl) {0, 0, word, tmpl},
#include "runtime/error_catalog.inc"
#undef ZOT_ERROR_CATEGORY
#undef ZOT_ERROR_ID
};

struct Tables {
  ErrorInfo errors[size_t(Err::Count)];
  ErrorCategoryInfo categories[kErrCategoryCount];
};

const Tables& tables() {
  static const Tables t = [] {
    Tables t{};
    static const char* const kWords[] = {
#define ZOT_ERROR_CATEGORY(index, word, title) word,
#define ZOT_ERROR_ID(cat, id, word, tmpl)
#include "runtime/error_catalog.inc"
#undef ZOT_ERROR_CATEGORY
#undef ZOT_ERROR_ID
    };
    static const char* const kTitles[] = {
#define ZOT_ERROR_CATEGORY(index, word, title) title,
#define ZOT_ERROR_ID(cat, id, word, tmpl)
#include "runtime/error_catalog.inc"
#undef ZOT_ERROR_CATEGORY
#undef ZOT_ERROR_ID
    };
    // Walk the catalog in order: a category line starts a new category.
    static const int kKinds[] = {
#define ZOT_ERROR_CATEGORY(index, word, title) -1,
#define ZOT_ERROR_ID(cat, id, word, tmpl) 0,
#include "runtime/error_catalog.inc"
#undef ZOT_ERROR_CATEGORY
#undef ZOT_ERROR_ID
    };
    int cat = -1, idx = 0, e = 0;
    for (int k : kKinds) {
      if (k < 0) {
        cat++;
        idx = 0;
        t.categories[cat] = {kWords[cat], kTitles[cat], u16(e), 0};
      } else {
        t.errors[e] = kErrors[e];
        t.errors[e].category = u8(cat);
        t.errors[e].index = u8(idx++);
        t.categories[cat].count++;
        e++;
      }
    }
    return t;
  }();
  return t;
}

Cell g_last_args[3];
u32 g_no_memory_root = 0;  // root block index + 1 of the no-memory error

void default_make_error(Err e, const Cell* args[3], Cell* out) {
  (void)args;
  make_cell(out, T_ERROR, 0, u32(error_code(e)), 0);
}

void default_print_error(const Cell* error) {
  int code = error_cell_code(error);
  Err e = error_from_code(code);
  std::string s = "*** ";
  if (e == Err::Count) {
    s += "Internal Error: invalid error object field value: ";
    s += std::to_string(code);
  } else {
    const ErrorInfo& info = error_info(e);
    s += error_category(info.category).title;
    s += ": ";
    s += info.word;
  }
  s += "\n";
  platform::write_all(1, s.data(), s.size());
}

}  // namespace

const ErrorInfo& error_info(Err e) { return tables().errors[size_t(e)]; }
const ErrorCategoryInfo& error_category(int index) { return tables().categories[index]; }
int error_code(Err e) {
  const ErrorInfo& i = error_info(e);
  return i.category * 100 + i.index;
}

Err error_from_code(int code) {
  if (code < 0) return Err::Count;
  int cat = code / 100, idx = code % 100;
  if (cat >= kErrCategoryCount) return Err::Count;
  const ErrorCategoryInfo& c = error_category(cat);
  if (idx >= c.count) return Err::Count;
  return Err(c.first + idx);
}

int error_cell_code(const Cell* error) {
  // Before the error datatype takes over, an error cell holds its code itself.
  if (!error->object_context() || !g_services.error_code) return i32(error->object_class());
  return g_services.error_code(error);
}
const Cell* last_error_arg(int i) { return &g_last_args[i]; }

void raise_error(Err e, const Cell* arg1, const Cell* arg2, const Cell* arg3) {
  const Cell* args[3] = {arg1, arg2, arg3};
  for (int i = 0; i < 3; i++) {
    if (args[i]) g_last_args[i] = *args[i];
    else set_unset(&g_last_args[i]);
  }
  // The arguments stay alive in g_last_args, the error in err.
  Rooted err;
  (g_services.make_error ? g_services.make_error : default_make_error)(e, args, &err);
  if (g_services.trace_error) {
    // The tracer runs Zot code: the pending code is set aside meanwhile.
    u32 pending = runtime::g_thrown_code;
    g_services.trace_error(&err);
    runtime::g_thrown_code = pending;
  }
  stack::throw_error(&err);
}

void prepare_no_memory_error() {
  const Cell* args[3] = {nullptr, nullptr, nullptr};
  Rooted err;  // the root block may grow while it is put there
  (g_services.make_error ? g_services.make_error : default_make_error)(Err::InternalNoMemory, args, &err.cell);
  g_no_memory_root = root::append_copy(&err.cell) + 1;
}

void raise_with_type(Err e, u32 type, const Cell* arg2) {
  Cell dt = datatype_cell(type);
  raise_error(e, &dt, arg2);
}

void raise_no_memory() {
  for (Cell& a : g_last_args) set_unset(&a);
  Cell err;
  if (g_no_memory_root) err = *root::cell(g_no_memory_root - 1);
  else default_make_error(Err::InternalNoMemory, nullptr, &err);
  stack::throw_error(&err);
}

namespace stack {
void print_uncaught_error(const Cell* error) {
  (g_services.print_error ? g_services.print_error : default_print_error)(error);
}
}  // namespace stack

}  // namespace zot
