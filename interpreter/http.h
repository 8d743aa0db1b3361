// HTTP and HTTPS requests of url! values (read and write on an http or https
// URL): the request made from values, the response made into values.
#pragma once

#include <string>

#include "runtime/cell.h"

namespace zot::http {

// One request. method: a word (get, head, post, or any other, sent upper
// case); url: the URL (from its index); headers: a block of names and values
// or null (null or none sends the default headers); data: the body or null (a
// binary! as its bytes, text as UTF-8, any other value formed: a block as its
// form). The response goes into out (a cell the collector sees): binary!
// with binary, a block! of lines with lines, else a string!; with info the
// block [status headers body]. False when no response came.
bool request(const Cell* method, const Cell* url, const Cell* headers, const Cell* data, bool binary, bool lines,
             bool info, Cell* out);

// The header lines ("Name: value", CR LF ended) as a map! of words to
// strings; a name met again makes its entry a block! of the strings in order.
Cell* headers_to_map(const std::string& lines, Cell* out);

}  // namespace zot::http
