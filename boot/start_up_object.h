// The start-up object: what the library's top level does that Zot code
// cannot say (make a routine from a registry entry, an object with a fixed
// class id, the object view of the global context, words of any name) and
// the facts of the process it reads (the command line, the build), and the
// two runtime hooks of system's handlers (the float forms' pretty switch,
// whether the caller runs interpreted). The
// library reaches it through the word `start-up`, which is bound only inside
// the boot image's blocks: scripts never see it.
#pragma once

#include "runtime/cell.h"

namespace zot::start_up {

// Registers the entries of the object's routines.
void register_entries();

// Makes the object (build: the build description block), marks every block
// of the image as library code (block::mark_library) and binds the word
// `start-up` throughout the image to the object.
void bind(Cell* image, const Cell* build);

}  // namespace zot::start_up
