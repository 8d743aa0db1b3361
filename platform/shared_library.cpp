#include "platform/shared_library.h"

#include <dlfcn.h>

#include <cstdlib>

namespace zot::platform {

namespace {

bool listed_missing(const char* soname) {
  const char* list = std::getenv("ZOT_MISSING_LIBRARIES");
  if (!list) return false;
  while (*list) {
    const char* end = std::strchr(list, ':');
    const std::size_t n = end ? std::size_t(end - list) : std::strlen(list);
    if (n > 0 && std::strncmp(soname, list, n) == 0) return true;
    if (!end) break;
    list = end + 1;
  }
  return false;
}

}  // namespace

SharedLibrary::SharedLibrary(const char* soname) : soname_(soname) {
  if (listed_missing(soname)) return;
  // Symbols bound when first called; none of them joins the global scope.
  handle_ = dlopen(soname, RTLD_LAZY | RTLD_LOCAL);
}

void* SharedLibrary::symbol(const char* name) {
  if (!handle_) return nullptr;
  void* p = dlsym(handle_, name);
  // A library without a function we call is not one we can use; it stays
  // mapped (closing it could run its destructors under a live pointer).
  if (!p) handle_ = nullptr;
  return p;
}

}  // namespace zot::platform
