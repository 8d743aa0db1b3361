// HTTP and HTTPS requests through libcurl (opened on first use): one synchronous request a call,
// redirects followed, nothing kept between calls.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "runtime/base.h"

namespace zot::platform::http {

struct Request {
  std::string method;  // "GET", "HEAD", "POST" or any other name, sent as it is
  std::string url;     // percent-encoded where the wire needs it
  // Sent in order; an empty list sends only what the transport itself adds.
  std::vector<std::pair<std::string, std::string>> headers;
  bool has_body = false;
  std::string body;
};

struct Response {
  long status = 0;
  // The header lines of the last response (after redirects), each ending in
  // CR LF, without its status line.
  std::string headers;
  std::string body;
};

// The soname of the HTTP library when it cannot be opened (it is opened on
// first use), else null.
const char* missing_library();

// Sends the request and waits for the whole response. False when no
// response came (a refused connection, an unknown host, a URL the transport
// does not take, a time-out, a body larger than `most` bytes); error then
// says why.
bool send(const Request& request, Response* response, std::string* error, std::size_t most);

}  // namespace zot::platform::http
