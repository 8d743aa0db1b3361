#include "datatypes/hooks.h"

#include "runtime/errors.h"

namespace zot::hooks {

Services g_services;

Cell word(const char* name) {
  if (g_services.word) return g_services.word(name);
  Cell none;
  set_none(&none);
  return none;
}

u32 canonical(u32 symbol) { return g_services.canonical ? g_services.canonical(symbol) : symbol; }

void missing() {
  raise_error(Err::InternalNotDone);
}

}  // namespace zot::hooks
