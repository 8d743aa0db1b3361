// HTTP requests against a loopback server that the test starts (python3's
// http.server with the small handler in tests/fixtures/http_server.py):
// methods, default and given headers, bodies, redirects, a 404 with /info,
// a refused connection and a large body. Nothing leaves the machine.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/registry.h"
#include "datatypes/string.h"
#include "interpreter/http.h"
#include "tests/unit/eval_fixture.h"
#include "tests/unit/runtime_fixture.h"

namespace zot {
namespace {

pid_t g_server = -1;
int g_port = 0;

// Starts the server and reads the port it prints.
bool start_server() {
  int fds[2];
  if (pipe(fds) != 0) return false;
  g_server = fork();
  if (g_server == 0) {
    dup2(fds[1], 1);
    close(fds[0]);
    close(fds[1]);
    execlp("python3", "python3", ZOT_FIXTURE_DIR "/http_server.py", static_cast<char*>(nullptr));
    _exit(127);
  }
  close(fds[1]);
  std::string line;
  char c;
  while (read(fds[0], &c, 1) == 1 && c != '\n') line += c;
  close(fds[0]);
  g_port = std::atoi(line.c_str());
  return g_port > 0;
}

// A port on which nothing listens: bound, then let go.
int closed_port() {
  int s = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof a;
  bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
  getsockname(s, reinterpret_cast<sockaddr*>(&a), &len);
  close(s);
  return ntohs(a.sin_port);
}

class Http : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    // Loopback requests never go through a proxy of the environment.
    setenv("no_proxy", "*", 1);
    setenv("NO_PROXY", "*", 1);
    test::ensure_runtime();
    ASSERT_TRUE(start_server());
  }
  static void TearDownTestSuite() {
    if (g_server > 0) {
      kill(g_server, SIGTERM);
      waitpid(g_server, nullptr, 0);
    }
  }

  static std::string url(const std::string& path) { return "http://127.0.0.1:" + std::to_string(g_port) + path; }

  struct Options {
    const char* method = "get";
    const char* headers = nullptr;  // source of the header block
    const char* data = nullptr;     // source of the data value
    bool binary = false, lines = false, info = false;
  };

  // The mold of the response, or "none" when no response came.
  static std::string send(const std::string& target, Options o) {
    std::string result;
    int code = test::error_code_of([&] {
      Cell* method = stack::push(&datatype::g_none);
      *method = word::load(o.method);
      Cell* u = stack::push(&datatype::g_none);
      string::make_from_utf8(u, target.data(), target.size());
      set_type(u, T_URL);
      Cell* headers = nullptr;
      if (o.headers) {
        headers = stack::push(&datatype::g_none);
        *headers = test::load(o.headers);
      }
      Cell* data = nullptr;
      if (o.data) {
        data = stack::push(&datatype::g_none);
        Cell blk = test::load(o.data);
        *data = *block::cell_at(&blk, 0);
      }
      Cell* out = stack::push(&datatype::g_none);
      bool ok = http::request(method, u, headers, data, o.binary, o.lines, o.info, out);
      result = ok ? test::mold(*out) : "none";
    });
    return code >= 0 ? "error " + std::to_string(code) : result;
  }

  static bool has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }
};

TEST_F(Http, GetSendsTheDefaultHeaders) {
  std::string r = send(url("/echo/a"), {});
  EXPECT_TRUE(has(r, "GET^//echo/a^/")) << r;
  EXPECT_TRUE(has(r, "Content-Type: application/x-www-form-urlencoded^/")) << r;
  EXPECT_TRUE(has(r, "Accept-Charset: UTF-8^/")) << r;
  EXPECT_TRUE(has(r, "User-Agent: Mozilla/5.0 (X11; Linux x86_64)^/")) << r;
}

TEST_F(Http, MethodsHeadersAndBodies) {
  struct Case {
    Options o;
    std::vector<std::string> present, absent;
  };
  const Case cases[] = {
      // A string is posted as UTF-8 with the default form type.
      {{"post", nullptr, "\"a=1&b=été\""},
       {"POST^//echo", "Content-Type: application/x-www-form-urlencoded", "Content-Length: 11", "a=1&b=été"},
       {}},
      // Given headers replace the defaults; no type is added for the body.
      {{"put", "X-Test \"yes\" Accept: 'text/plain'", "\"new text\""},
       {"PUT^//echo", "X-Test: yes", "Accept: text/plain", "new text"},
       {"User-Agent", "Content-Type", "Accept-Charset"}},
      // Header values that are not strings are formed.
      {{"patch", "X-Number 42 X-Block [a b]", "#{41C3A9}"}, {"PATCH^//echo", "X-Number: 42", "X-Block: a b", "^/^/Aé"}, {}},
      // A block is sent as its form.
      {{"post", nullptr, "[a 1 \"b c\" [d]]"}, {"a 1 b c d"}, {}},
      {{"delete"}, {"DELETE^//echo"}, {"Content-Length"}},
      {{"options", "[]"}, {"OPTIONS^//echo"}, {"User-Agent"}},
  };
  for (const auto& c : cases) {
    std::string r = send(url("/echo"), c.o);
    for (const auto& p : c.present) EXPECT_TRUE(has(r, p)) << c.o.method << ": " << p << " in " << r;
    for (const auto& p : c.absent) EXPECT_FALSE(has(r, p)) << c.o.method << ": " << p << " in " << r;
  }
}

TEST_F(Http, HeadGivesHeadersAndNoBody) {
  Options o;
  o.method = "head";
  o.info = true;
  std::string r = send(url("/echo"), o);
  EXPECT_EQ(r.substr(0, 5), "[200 ") << r;
  EXPECT_TRUE(has(r, "Content-Length:")) << r;
  EXPECT_EQ(r.substr(r.size() - 4), " \"\"]") << r;
}

TEST_F(Http, ResponseBodiesAsTextLinesAndBytes) {
  EXPECT_EQ(send(url("/text"), {}), "{first^/second^Mthird^/été^/}");
  Options lines;
  lines.lines = true;
  EXPECT_EQ(send(url("/text"), lines), "[\"first\" \"second^Mthird\" \"été\"]");
  Options bin;
  bin.binary = true;
  std::string all = send(url("/bytes"), bin);
  EXPECT_EQ(all.substr(0, 12), "#{\n    00010");
  EXPECT_TRUE(has(all, "FCFDFEFF"));
  // A 404 still gives its body; with /info its status.
  EXPECT_EQ(send(url("/missing"), {}), "\"not here\"");
  Options info;
  info.info = true;
  std::string r = send(url("/missing"), info);
  EXPECT_EQ(r.substr(0, 7), "[404 #[") << r;
  EXPECT_TRUE(has(r, "Content-Type: \"text/plain\"")) << r;
  EXPECT_EQ(r.substr(r.size() - 14), "\n] \"not here\"]") << r;
}

TEST_F(Http, RepeatedHeadersBecomeBlocks) {
  Options info;
  info.info = true;
  std::string r = send(url("/twice"), info);
  EXPECT_TRUE(has(r, "X-Twice: [\"one\" \"two\"]")) << r;
  EXPECT_TRUE(has(r, "X-Once: \"alone\"")) << r;
}

TEST_F(Http, RedirectsAreFollowed) {
  EXPECT_TRUE(has(send(url("/redirect"), {}), "GET^//echo/redirected"));
  // After a 303 the post becomes a get.
  Options post;
  post.method = "post";
  post.data = "\"x\"";
  EXPECT_TRUE(has(send(url("/see-other"), post), "GET^//echo/after-post"));
  // A redirect that never ends is no response.
  EXPECT_EQ(send(url("/loop"), {}), "none");
}

TEST_F(Http, NoResponseIsNone) {
  EXPECT_EQ(send("http://127.0.0.1:" + std::to_string(closed_port()) + "/", {}), "none");
  EXPECT_EQ(send("ftp://127.0.0.1/", {}), "none");
  EXPECT_EQ(send("http://", {}), "none");
}

TEST_F(Http, UrlsAreEncodedForTheWire) {
  EXPECT_TRUE(has(send(url("/echo/a b/é?q=\"1\""), {}), "GET^//echo/a%20b/%C3%A9?q=%221%22^/"));
}

TEST_F(Http, LargeBody) {
  const std::string target = url("/large?n=5000000");
  int code = test::error_code_of([&] {
    Cell* method = stack::push(&datatype::g_none);
    *method = word::load("get");
    Cell* u = stack::push(&datatype::g_none);
    string::make_from_utf8(u, target.data(), target.size());
    set_type(u, T_URL);
    Cell* out = stack::push(&datatype::g_none);
    ASSERT_TRUE(http::request(method, u, nullptr, nullptr, true, false, false, out));
    ASSERT_TRUE(out->is(T_BINARY));
    mem::Series* b = mem::series_of(out->w2);
    ASSERT_EQ(b->length(), 5000000u);
    // The pattern a..z runs on to the last byte.
    EXPECT_EQ(b->head_ptr()[0], 'a');
    EXPECT_EQ(b->head_ptr()[4999999], 'a' + 4999999 % 26);
  });
  EXPECT_EQ(code, -1);
}

TEST(HttpHeaders, LinesToMap) {
  test::ensure_runtime();
  std::string r;
  int code = test::error_code_of([&] {
    Cell* out = stack::push(&datatype::g_none);
    http::headers_to_map("Server: x\r\ncontent-type:text/html\r\nSet-Cookie: a=1\r\nbroken line\r\n"
                         "SET-COOKIE:   b=2 \r\nEmpty:\r\n",
                         out);
    r = test::mold(*out);
  });
  EXPECT_EQ(code, -1);
  EXPECT_EQ(r, "#[\n    Server: \"x\"\n    content-type: \"text/html\"\n    Set-Cookie: [\"a=1\" \"b=2 \"]\n"
               "    Empty: \"\"\n]");
}

}  // namespace
}  // namespace zot
