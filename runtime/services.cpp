#include "runtime/services.h"

#include "runtime/errors.h"

namespace zot {

Services g_services;

void service_missing() { raise_error(Err::InternalNotDone); }

i32 random_range(i32 n, bool secure) {
  if (!g_services.random_range) service_missing();
  return g_services.random_range(n, secure);
}

i32 random_draw(bool secure) {
  if (!g_services.random_draw) service_missing();
  return g_services.random_draw(secure);
}

void random_seed_value(Cell* value, u32 seed) {
  if (!g_services.random_seed) service_missing();
  g_services.random_seed(seed);
  set_unset(value);
}

}  // namespace zot
