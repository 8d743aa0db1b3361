#include "platform/http.h"

// Calls go through pointers to the library's functions, which the header's
// type-checking macros cannot wrap.
#define CURL_DISABLE_TYPECHECK
#include <curl/curl.h>
#include <strings.h>

#include "platform/shared_library.h"

namespace zot::platform::http {

namespace {

// The functions of libcurl this file calls, found when it is first used.
struct Curl {
  decltype(&::curl_global_init) curl_global_init;
  decltype(&::curl_easy_init) curl_easy_init;
  decltype(&::curl_easy_cleanup) curl_easy_cleanup;
  decltype(&::curl_easy_setopt) curl_easy_setopt;
  decltype(&::curl_easy_perform) curl_easy_perform;
  decltype(&::curl_easy_getinfo) curl_easy_getinfo;
  decltype(&::curl_easy_strerror) curl_easy_strerror;
  decltype(&::curl_slist_append) curl_slist_append;
  decltype(&::curl_slist_free_all) curl_slist_free_all;
  bool found;  // the library and every function above
  bool ready;  // and it started
};

const Curl& curl() {
  static const Curl api = [] {
    static SharedLibrary lib(ZOT_SONAME_CURL);
    Curl c{};
    c.found =
        ZOT_FIND_FUNCTION(lib, c, curl_global_init) && ZOT_FIND_FUNCTION(lib, c, curl_easy_init) &&
        ZOT_FIND_FUNCTION(lib, c, curl_easy_cleanup) && ZOT_FIND_FUNCTION(lib, c, curl_easy_setopt) &&
        ZOT_FIND_FUNCTION(lib, c, curl_easy_perform) && ZOT_FIND_FUNCTION(lib, c, curl_easy_getinfo) &&
        ZOT_FIND_FUNCTION(lib, c, curl_easy_strerror) && ZOT_FIND_FUNCTION(lib, c, curl_slist_append) &&
        ZOT_FIND_FUNCTION(lib, c, curl_slist_free_all);
    c.ready = c.found && c.curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
    return c;
  }();
  return api;
}

constexpr long kConnectSeconds = 30;
// A transfer that moves less than a byte a second for this long is given up.
constexpr long kStalledSeconds = 120;
constexpr long kMaxRedirects = 20;

struct Sink {
  Response* response;
  std::size_t most;
};

std::size_t on_body(char* data, std::size_t size, std::size_t count, void* user) {
  auto* sink = static_cast<Sink*>(user);
  const std::size_t n = size * count;
  if (sink->response->body.size() + n > sink->most) return 0;  // ends the transfer
  sink->response->body.append(data, n);
  return n;
}

// Each response (a redirect, an interim 100) starts with its status line:
// only the last one's header lines are kept.
std::size_t on_header(char* data, std::size_t size, std::size_t count, void* user) {
  auto* r = static_cast<Response*>(user);
  const std::size_t n = size * count;
  std::string line(data, n);
  if (line.compare(0, 5, "HTTP/") == 0) {
    r->headers.clear();
  } else if (line != "\r\n" && line != "\n") {
    r->headers += line;
  }
  return n;
}

struct Easy {
  CURL* h = curl().curl_easy_init();
  curl_slist* headers = nullptr;
  ~Easy() {
    curl().curl_slist_free_all(headers);
    if (h) curl().curl_easy_cleanup(h);
  }
};

bool add_header(Easy* e, const std::string& line) {
  curl_slist* next = curl().curl_slist_append(e->headers, line.c_str());
  if (!next) return false;
  e->headers = next;
  return true;
}

bool has_header(const Request& r, const char* name) {
  for (const auto& [n, v] : r.headers)
    if (strcasecmp(n.c_str(), name) == 0) return true;
  return false;
}

}  // namespace

const char* missing_library() { return curl().found ? nullptr : ZOT_SONAME_CURL; }

bool send(const Request& request, Response* response, std::string* error, std::size_t most) {
  *response = Response{};
  error->clear();
  if (!curl().ready) {
    *error = "the HTTP library could not start";
    return false;
  }
  const Curl& api = curl();
  Easy e;
  if (!e.h) {
    *error = "the HTTP library could not make a request";
    return false;
  }
  char message[CURL_ERROR_SIZE] = "";
  Sink sink{response, most};
  CURL* h = e.h;
  api.curl_easy_setopt(h, CURLOPT_ERRORBUFFER, message);
  api.curl_easy_setopt(h, CURLOPT_URL, request.url.c_str());
  api.curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "http,https");
  api.curl_easy_setopt(h, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
  api.curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 1L);
  api.curl_easy_setopt(h, CURLOPT_MAXREDIRS, kMaxRedirects);
  // Our own signal handlers stay in charge.
  api.curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
  api.curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT, kConnectSeconds);
  api.curl_easy_setopt(h, CURLOPT_LOW_SPEED_LIMIT, 1L);
  api.curl_easy_setopt(h, CURLOPT_LOW_SPEED_TIME, kStalledSeconds);
  api.curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, on_body);
  api.curl_easy_setopt(h, CURLOPT_WRITEDATA, &sink);
  api.curl_easy_setopt(h, CURLOPT_HEADERFUNCTION, on_header);
  api.curl_easy_setopt(h, CURLOPT_HEADERDATA, response);
  const std::string& m = request.method;
  if (m == "GET") {
    api.curl_easy_setopt(h, CURLOPT_HTTPGET, 1L);
  } else if (m == "HEAD") {
    api.curl_easy_setopt(h, CURLOPT_NOBODY, 1L);
  } else {
    if (m != "POST") api.curl_easy_setopt(h, CURLOPT_CUSTOMREQUEST, m.c_str());
    if (m == "POST" || request.has_body) {
      api.curl_easy_setopt(h, CURLOPT_POSTFIELDSIZE_LARGE, curl_off_t(request.body.size()));
      api.curl_easy_setopt(h, CURLOPT_POSTFIELDS, request.body.data());
    }
  }
  for (const auto& [name, value] : request.headers)
    if (!add_header(&e, value.empty() ? name + ";" : name + ": " + value)) {
      *error = "out of memory";
      return false;
    }
  // No "Expect: 100-continue" pause before a body, and no content type the
  // caller did not ask for.
  bool ok = add_header(&e, "Expect:");
  if (ok && !has_header(request, "Content-Type")) ok = add_header(&e, "Content-Type:");
  if (!ok) {
    *error = "out of memory";
    return false;
  }
  api.curl_easy_setopt(h, CURLOPT_HTTPHEADER, e.headers);
  CURLcode rc = api.curl_easy_perform(h);
  if (rc != CURLE_OK) {
    *error = message[0] ? message : api.curl_easy_strerror(rc);
    *response = Response{};
    return false;
  }
  api.curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &response->status);
  return true;
}

}  // namespace zot::platform::http
