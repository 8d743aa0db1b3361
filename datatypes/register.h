// Registration of the datatypes at start-up, parents before children.
#pragma once

namespace zot::datatypes {

// Registers every datatype built so far, in the start-up order.
void register_core();

}  // namespace zot::datatypes
