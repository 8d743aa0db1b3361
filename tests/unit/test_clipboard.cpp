// The clipboard routines: round trips of text, file lists and images through
// the process's own store, through stand-ins for xclip and the Wayland tools
// (tests/fixtures/fake_clipboard.sh, called by those names), and through the
// real xclip when there is one and a display; a failing tool answers false.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "boot/routines.h"
#include "datatypes/context.h"
#include "tests/unit/eval_fixture.h"
#include "tests/unit/runtime_fixture.h"

namespace zot {
namespace {

namespace fs = std::filesystem;

// Sets or removes an environment variable for the scope.
class Env {
 public:
  Env(const char* name, const char* value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old, had_ = true;
    if (value) setenv(name, value, 1);
    else unsetenv(name);
  }
  ~Env() {
    if (had_) setenv(name_, old_.c_str(), 1);
    else unsetenv(name_);
  }
  Env(const Env&) = delete;
  Env& operator=(const Env&) = delete;

 private:
  const char* name_;
  std::string old_;
  bool had_ = false;
};

class Clipboard : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    test::ensure_runtime();
    routines::register_boot();
    test::bind_routine("read-clipboard", "");
    test::bind_routine("write-clipboard", "data [any-type!]");
  }

  // A directory holding the stand-in tools, and the directory they keep
  // their entry in.
  void SetUp() override {
    tools_ = fs::temp_directory_path() / ("zot-clip-" + std::to_string(getpid()));
    fs::remove_all(tools_);
    fs::create_directories(tools_ / "bin");
    fs::create_directories(tools_ / "store");
    for (const char* name : {"xclip", "wl-copy", "wl-paste"})
      fs::create_symlink(ZOT_FIXTURE_DIR "/fake_clipboard.sh", tools_ / "bin" / name);
  }
  void TearDown() override { fs::remove_all(tools_); }

  std::string path_with_tools() const { return (tools_ / "bin").string() + ":" + std::getenv("PATH"); }
  std::string log() const {
    std::ifstream in(tools_ / "store" / "log");
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
  }

  // The round trips every clipboard must give.
  static void round_trips() {
    const test::Case cases[] = {
        {"write-clipboard \"héllo^/wörld\"", "true"},
        {"read-clipboard", "\"héllo^/wörld\""},
        {"write-clipboard [%/tmp/a %\"/tmp/b c#d\" %/tmp/été.txt]", "true"},
        {"equal? read-clipboard [%/tmp/a %\"/tmp/b c#d\" %/tmp/été.txt]", "true"},
        {"pick read-clipboard 1", "%/tmp/a"},
        {"write-clipboard make image! [3x1 #{FF0000 00FF00 0000FF} #{00 80 FF}]", "true"},
        {"read-clipboard", "make image! [3x1 #{FF000000FF000000FF} #{0080FF}]"},
        // A refused value leaves the clipboard as it was.
        {"write-clipboard \"kept\" write-clipboard 12", test::err(Err::ScriptInvalidArg)},
        {"write-clipboard [%a.txt 3]", test::err(Err::ScriptInvalidArg)},
        {"read-clipboard", "\"kept\""},
    };
    ZOT_CHECK_TABLE(cases);
  }

  fs::path tools_;
};

TEST_F(Clipboard, InProcessStore) {
  Env w("WAYLAND_DISPLAY", nullptr), x("DISPLAY", nullptr);
  round_trips();
  const test::Case cases[] = {
      {"write-clipboard none read-clipboard", "none"},
      {"write-clipboard \"\" read-clipboard", "\"\""},
      // An image without pixels only empties the clipboard.
      {"write-clipboard \"x\" write-clipboard make image! 0x0 read-clipboard", "none"},
  };
  ZOT_CHECK_TABLE(cases);
}

TEST_F(Clipboard, RelativePathsAreListedFromTheCurrentDirectory) {
  Env w("WAYLAND_DISPLAY", nullptr), x("DISPLAY", ":99"), p("PATH", path_with_tools().c_str());
  Env d("FAKE_CLIP_DIR", (tools_ / "store").c_str());
  const fs::path here = fs::current_path();
  fs::current_path(tools_);
  EXPECT_EQ(test::run("write-clipboard [%notes.txt %\"a b/\"]"), "true");
  fs::current_path(here);
  std::ifstream in(tools_ / "store" / "data");
  std::stringstream ss;
  ss << in.rdbuf();
  EXPECT_EQ(ss.str(), "file://" + tools_.string() + "/notes.txt\r\nfile://" + tools_.string() + "/a%20b/\r\n");
}

TEST_F(Clipboard, ThroughXclip) {
  Env w("WAYLAND_DISPLAY", nullptr), x("DISPLAY", ":99"), p("PATH", path_with_tools().c_str());
  Env d("FAKE_CLIP_DIR", (tools_ / "store").c_str());
  round_trips();
  std::string calls = log();
  EXPECT_NE(calls.find("xclip -selection clipboard -i -t UTF8_STRING\n"), std::string::npos) << calls;
  EXPECT_NE(calls.find("xclip -selection clipboard -i -t text/uri-list\n"), std::string::npos) << calls;
  EXPECT_NE(calls.find("xclip -selection clipboard -o -t image/png\n"), std::string::npos) << calls;
  // X keeps no empty selection: none leaves an empty text.
  EXPECT_EQ(test::run("write-clipboard none read-clipboard"), "\"\"");
  {
    Env f("FAKE_CLIP_FAIL", "fetch");
    EXPECT_EQ(test::run("read-clipboard"), "false");
  }
  Env f("FAKE_CLIP_FAIL", "all");
  EXPECT_EQ(test::run("write-clipboard \"x\""), "false");
}

TEST_F(Clipboard, ThroughWaylandTools) {
  Env w("WAYLAND_DISPLAY", "wayland-9"), x("DISPLAY", nullptr), p("PATH", path_with_tools().c_str());
  Env d("FAKE_CLIP_DIR", (tools_ / "store").c_str());
  round_trips();
  std::string calls = log();
  EXPECT_NE(calls.find("wl-copy --type text/plain;charset=utf-8\n"), std::string::npos) << calls;
  EXPECT_NE(calls.find("wl-paste --no-newline --type image/png\n"), std::string::npos) << calls;
  EXPECT_EQ(test::run("write-clipboard none read-clipboard"), "none");
  EXPECT_NE(log().find("wl-copy --clear\n"), std::string::npos);
  Env f("FAKE_CLIP_FAIL", "fetch");
  EXPECT_EQ(test::run("write-clipboard \"x\" read-clipboard"), "false");
}

TEST_F(Clipboard, RealXclip) {
  const char* display = std::getenv("DISPLAY");
  if (!display || !*display || std::system("command -v xclip >/dev/null 2>&1") != 0)
    GTEST_SKIP() << "no xclip or no X display";
  Env w("WAYLAND_DISPLAY", nullptr);
  EXPECT_EQ(test::run("write-clipboard \"zot clipboard test\" read-clipboard"), "\"zot clipboard test\"");
}

}  // namespace
}  // namespace zot
