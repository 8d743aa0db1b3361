// The console's routines: the line editor and standard input reached from
// Zot code, registered by name in the routines registry (the library binds
// them to routine! values):
//
//   _set-buffer-history line [string!] hist [block!]
//   _read-input prompt [string!] hidden? [logic!]  -> false when input ended
//   _terminate-console
//   input-stdin                                    -> string! (one line)
//   read-stdin buffer [binary!] buflen [integer!]  -> integer! (bytes read)
//   console-init str [string!]                     (system/console/init)
//
// They are registered while the program starts, before the library runs:
// the link keeps this file for that (see CMakeLists.txt).
#pragma once

namespace zot::console {

void register_routines();

}  // namespace zot::console
