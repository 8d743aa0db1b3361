// The boot routines: runtime facilities that no action or native offers,
// made into routine! values by the library's first section (quitting with a
// status, quiet stores, bit shifts, directories, colour and address tuples,
// UTF-8 counting, argument-stack inspection, the clipboard, raw standard
// output), and the routines of system/state/GC.
#pragma once

namespace zot::routines {

// Registers the boot routines' entries (and the start-up object's) by name;
// os-info's entry comes with the process natives.
void register_boot();

}  // namespace zot::routines
