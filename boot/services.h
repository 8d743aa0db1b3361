// Fills the services table (runtime/services.h): what the runtime and the
// datatypes call up for, taken from the layers above them.
#pragma once

namespace zot::startup {

// The evaluator, the lexer, the natives and the map keys. Early in the
// runtime init: an entry is only called once its module is set up.
void install_services();
// Making, printing and reading error values, once the error catalog exists.
void install_error_services();

}  // namespace zot::startup
