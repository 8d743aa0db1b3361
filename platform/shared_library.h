// Libraries that only some programs need (HTTP, the image codecs, digests)
// are opened on first use rather than linked, so that a program that never
// uses them never maps them: start-up stays short.
#pragma once

#include "runtime/base.h"

namespace zot::platform {

// One shared library, opened by its soname and kept open for the life of the
// process. Not thread-safe by itself: each user opens its library once, in a
// static initializer.
class SharedLibrary {
 public:
  // Opens the library; ok() tells whether it was found. A library whose
  // soname begins with an entry of the colon-separated list in the
  // environment variable ZOT_MISSING_LIBRARIES is taken as absent (a test
  // aid: the errors of a machine that lacks it).
  explicit SharedLibrary(const char* soname);
  SharedLibrary(const SharedLibrary&) = delete;
  SharedLibrary& operator=(const SharedLibrary&) = delete;

  bool ok() const { return handle_ != nullptr; }
  const char* soname() const { return soname_; }

  // Sets *fn to the library's function of that name; false (and the library
  // then counts as missing: ok() answers false) when there is none.
  template <class Fn>
  bool get(const char* name, Fn* fn) {
    void* p = symbol(name);
    *fn = reinterpret_cast<Fn>(p);
    return p != nullptr;
  }

 private:
  void* symbol(const char* name);

  const char* soname_;
  void* handle_ = nullptr;
};

}  // namespace zot::platform

// Finds the function `name` of the library into the member of that name of
// a table of function pointers (the table's members keep the library's names).
#define ZOT_FIND_FUNCTION(lib, table, name) (lib).get(#name, &(table).name)
