// The services table: the one way a lower layer calls up. The runtime and the
// datatypes need a few things that only higher layers can do (run a block,
// call a function, scan text, make error values, draw random numbers); each
// is an entry here that start-up fills (boot/services.cpp). An entry still
// empty when it is needed raises internal/not-done, or falls back to the
// plain behaviour its comment names, so nothing silently does the wrong thing.
#pragma once

#include "runtime/base.h"
#include "runtime/cell.h"

namespace zot {

enum class Err : u16;

struct Services {
  // ---- the evaluator
  // Evaluates a block and returns its value.
  Cell (*do_block)(const Cell* block) = nullptr;
  // Calls a function! with argument values: its parameters take them in
  // order (none past count; not type-checked), refinements off, in a frame
  // named by frame_word, as a callback of its class (change handlers: 8
  // on-change*, 16 on-deep-change*; port actors; the URL parser), traced
  // only when its class is on in system/state/callbacks/bits. Exits become
  // throws. Returns its value.
  Cell (*call_callback)(const Cell* fn, const Cell* frame_word, const Cell* args, u32 count,
                        u32 callback_class) = nullptr;
  // Calls a function value with two arguments and writes its answer (sort
  // comparators).
  void (*call_with_two)(const Cell* fn, const Cell* first, const Cell* second, Cell* answer) = nullptr;
  // Told of every error about to be raised (the tracer); empty: nothing.
  void (*trace_error)(const Cell* error) = nullptr;
  // The evaluator's current position (the "near" of errors); empty: none.
  const Cell* (*near)() = nullptr;

  // ---- the lexer
  // A string! scanned into a block! of values.
  void (*scan_text)(const Cell* text, Cell* out) = nullptr;
  // UTF-8 bytes scanned into a block! of values, or (one) into the first
  // value alone, none when nothing scans. The bytes must not move meanwhile.
  void (*scan_utf8)(Cell* out, const u8* text, u32 length, bool one) = nullptr;

  // ---- natives and action entries
  // True when the 1-based index names a native (type native!) or an action
  // entry (type action!).
  bool (*entry_exists)(u32 type, i32 index) = nullptr;

  // ---- error values (empty: an interim error! cell that holds its code)
  void (*make_error)(Err e, const Cell* args[3], Cell* out) = nullptr;
  void (*print_error)(const Cell* error) = nullptr;
  i32 (*error_code)(const Cell* error) = nullptr;
  // The word of the calling function's parameter (expect-arg errors); empty: none.
  Cell (*argument_word)(int param_index) = nullptr;

  // ---- random numbers and checksums
  // A number in 1..n (n < 0: n..-1, 0: 0); one raw draw 0..2^31-1; restarting
  // the sequence; the hash of bytes that seeds it from a series. Start-up
  // installs the generator of runtime/random.h; tests put their own.
  i32 (*random_range)(i32 n, bool secure) = nullptr;
  i32 (*random_draw)(bool secure) = nullptr;
  void (*random_seed)(u32 seed) = nullptr;
  u32 (*hash_bytes)(const u8* bytes, u32 length) = nullptr;

  // ---- URLs of other layers (empty: the request fails with its error)
  // One HTTP or HTTPS request: the method (a word), the url!, a block of
  // header names and values or null, the data (block!, string! or binary!)
  // or null. The response goes into out, a cell the collector sees: a
  // binary! with binary, a block! of lines with lines, else a string!; with
  // info the block [status headers body]. False when no response came
  // (access/no-connect follows); empty: every request fails so.
  bool (*http_request)(const Cell* method, const Cell* url, const Cell* headers, const Cell* data, bool binary,
                       bool lines, bool info, Cell* out) = nullptr;
  // A port! made from a URL of any other scheme (parsed into a port spec,
  // not opened) into out, a cell the collector sees; read, write and open
  // then go through the port's own actions. False when the URL does not
  // make a port (script/invalid-arg with the URL follows); empty: so for
  // every URL.
  bool (*url_port)(const Cell* url, Cell* out) = nullptr;

  // ---- settings of the system object
  // The fraction digits that money! forms with (an integer! cell), or null.
  const Cell* (*money_digits)() = nullptr;

  // ---- observers
  // map! keys are normalised by the map datatype as they enter a table.
  void (*map_key)(Cell* key) = nullptr;
  // Sees every change of a series before its owner does; answers true to
  // stop the change (tests listen here). Empty: owners are told.
  bool (*series_change)(const Cell* s, int change, const Cell* value, i32 index, i32 part) = nullptr;
  // Invalid code points and UTF-8 (empty: the script/invalid-char and
  // access/invalid-utf8 errors). A handler must not return.
  void (*bad_code_point)(u32 code_point) = nullptr;
  void (*invalid_utf8)(const u8* bytes, std::size_t count) = nullptr;
};

extern Services g_services;

// Raises internal/not-done for a service that is not installed.
ZOT_NORETURN void service_missing();

// The random generator through the table (internal/not-done when empty).
i32 random_range(i32 n, bool secure);
i32 random_draw(bool secure);
// The /seed form of every random slot: the generator restarts from seed and
// the value becomes unset!.
void random_seed_value(Cell* value, u32 seed);

}  // namespace zot
