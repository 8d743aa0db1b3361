// port!: an object that stands for a resource reached through a scheme. The
// datatype does no I/O itself: each series and I/O action on a port calls
// the function of the same name in the port's actor object (which its
// scheme supplies), with the port and the action's arguments, refinements
// handed over as a logic! followed by their argument (or none). read and
// write are open, copy (after an insert for write) and close.
//
// A port cell is an object cell (type port!, class id 2) made from
// system/standard/port: fields spec, scheme, actor, awake, state, data, extra.
#pragma once

#include "runtime/actions.h"
#include "runtime/base.h"
#include "runtime/cell.h"

namespace zot::port {

constexpr u32 kClassId = 2;

// A port from a URL of a scheme other than HTTP, parsed by the library's
// url-parser/parse-url into its spec (not opened), into out. False when
// there is no parser or the URL does not parse.
bool from_url(const Cell* url, Cell* out);

// ---- slot functions
// The spec: a port spec object, or anything system/standard/url-parts can
// be made from (a block). access/no-scheme when its scheme is no word,
// access/unknown-scheme when system/schemes has none of that name,
// access/invalid-actor when the scheme's actor is neither object nor handle.
Cell* make(Cell* proto, Cell* spec, int type);
i32 form(const Cell* value, Cell* out, const Cell* limit, i32 part);
// "make port! [" and the fields as object! molds them, then "]".
i32 mold(const Cell* value, Cell* out, const actions::MoldOptions& o, i32 part);

// Registers port! (type 48, parent object!).
void register_type();

}  // namespace zot::port
