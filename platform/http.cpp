#include "platform/http.h"

#include <curl/curl.h>
#include <strings.h>

namespace zot::platform::http {

namespace {

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
  CURL* h = curl_easy_init();
  curl_slist* headers = nullptr;
  ~Easy() {
    curl_slist_free_all(headers);
    if (h) curl_easy_cleanup(h);
  }
};

bool add_header(Easy* e, const std::string& line) {
  curl_slist* next = curl_slist_append(e->headers, line.c_str());
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

bool send(const Request& request, Response* response, std::string* error, std::size_t most) {
  static const bool ready = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
  *response = Response{};
  error->clear();
  if (!ready) {
    *error = "the HTTP library could not start";
    return false;
  }
  Easy e;
  if (!e.h) {
    *error = "the HTTP library could not make a request";
    return false;
  }
  char message[CURL_ERROR_SIZE] = "";
  Sink sink{response, most};
  CURL* h = e.h;
  curl_easy_setopt(h, CURLOPT_ERRORBUFFER, message);
  curl_easy_setopt(h, CURLOPT_URL, request.url.c_str());
  curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(h, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 1L);
  curl_easy_setopt(h, CURLOPT_MAXREDIRS, kMaxRedirects);
  // Our own signal handlers stay in charge.
  curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT, kConnectSeconds);
  curl_easy_setopt(h, CURLOPT_LOW_SPEED_LIMIT, 1L);
  curl_easy_setopt(h, CURLOPT_LOW_SPEED_TIME, kStalledSeconds);
  curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, on_body);
  curl_easy_setopt(h, CURLOPT_WRITEDATA, &sink);
  curl_easy_setopt(h, CURLOPT_HEADERFUNCTION, on_header);
  curl_easy_setopt(h, CURLOPT_HEADERDATA, response);
  const std::string& m = request.method;
  if (m == "GET") {
    curl_easy_setopt(h, CURLOPT_HTTPGET, 1L);
  } else if (m == "HEAD") {
    curl_easy_setopt(h, CURLOPT_NOBODY, 1L);
  } else {
    if (m != "POST") curl_easy_setopt(h, CURLOPT_CUSTOMREQUEST, m.c_str());
    if (m == "POST" || request.has_body) {
      curl_easy_setopt(h, CURLOPT_POSTFIELDSIZE_LARGE, curl_off_t(request.body.size()));
      curl_easy_setopt(h, CURLOPT_POSTFIELDS, request.body.data());
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
  curl_easy_setopt(h, CURLOPT_HTTPHEADER, e.headers);
  CURLcode rc = curl_easy_perform(h);
  if (rc != CURLE_OK) {
    *error = message[0] ? message : curl_easy_strerror(rc);
    *response = Response{};
    return false;
  }
  curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &response->status);
  return true;
}

}  // namespace zot::platform::http
