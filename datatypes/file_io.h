// The files layer: read, write, query, delete and rename on file! values,
// directory listings, and the byte conversions that HTTP shares. Every
// operation opens, works and closes; the OS calls are in platform/files.h.
//
// Text on disk is UTF-8. Reading drops a leading byte-order mark and turns
// CR LF into LF; writing writes the text's LF line ends as they are.
#pragma once

#include <string>

#include "runtime/actions.h"
#include "runtime/base.h"
#include "runtime/cell.h"

namespace zot::simple_io {

// Written text and the lines of write/lines end with LF (Linux text files);
// true writes every LF as CR LF instead (unless /binary).
constexpr bool kWriteCrlf = false;

// The OS path of a file! (on Linux its text from the index, as UTF-8);
// false when the text holds a NUL, which no OS path can.
bool os_path(const Cell* file, std::string* out);
// A path that names a directory by its text: it ends with "/", or it is "."
// or "..", or it ends with "/." or "/..".
bool dir_path(const Cell* file);

// The content of a file, pushed: string! (UTF-8 decoded), binary!, or with
// lines a block! of strings; a directory path gives its listing. part and
// seek (integer! cells, or null) limit the bytes read. access/cannot-open
// when the file cannot be read.
Cell* read(Cell* file, const actions::ReadOptions& o);
// The entries of a directory as a block! of file! (directories end with "/",
// no "." or ".."), pushed; access/cannot-open when it cannot be listed.
Cell* read_dir(Cell* dir);
// Writes the data: a string! as UTF-8, a binary! as its bytes, any other
// value molded; with lines each value of a block (or the one value) followed
// by a line end. Without append or seek the whole file is replaced at once
// (a failed write leaves it as it was); append and seek write in place.
// access/cannot-open when it cannot be written.
void write(Cell* file, Cell* data, const actions::WriteOptions& o);
// The last modification time as a date! (UTC), or none when the path names
// nothing (or ends with "/" and names no directory); pushed.
Cell* query(Cell* file);
// Removes a file, or an empty directory when the path ends with "/".
bool remove(const Cell* file);
bool rename(const Cell* from, const Cell* to);
bool exists(const Cell* file);
// Creates one directory level.
bool make_dir(const Cell* file);

// Bytes as text: UTF-8 decoded, a leading byte-order mark dropped, CR LF
// made LF (a lone CR stays). Malformed UTF-8 raises access/invalid-utf8.
Cell* bytes_to_string(Cell* out, std::string bytes);
// Bytes as a block! of lines (strings): each LF ends a line, a CR before it
// dropped; text after the last LF is a last line, an LF at the very end
// adds no empty one.
Cell* split_lines(Cell* out, std::string bytes);

}  // namespace zot::simple_io
