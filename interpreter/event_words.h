// Callbacks that hear events (the tracer, the lexer callback of transcode)
// name the events they want in a block their body starts with.
#pragma once

#include <cstddef>

#include "datatypes/words.h"
#include "runtime/base.h"
#include "runtime/cell.h"

namespace zot::interp {

// An event's bit and the word that names it.
struct EventWord {
  u32 event;
  w::Id word;
};

// The events the function's body asks for: the bits of the event words in
// the block it starts with (other values there are ignored); `all` when the
// body does not start with a block.
u32 requested_events(const Cell* fn, const EventWord* table, std::size_t count, u32 all);

}  // namespace zot::interp
