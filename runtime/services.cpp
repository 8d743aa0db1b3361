#include "runtime/services.h"

#include "runtime/errors.h"

namespace zot {

Services g_services;

void service_missing() { raise_error(Err::InternalNotDone); }

}  // namespace zot
