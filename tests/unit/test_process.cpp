// Command lines, child processes through the platform layer, and os-info.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "datatypes/context.h"
#include "interpreter/command_line.h"
#include "interpreter/routines.h"
#include "platform/process.h"
#include "tests/unit/eval_fixture.h"
#include "tests/unit/runtime_fixture.h"

namespace zot {
namespace {

using Args = std::vector<std::string>;

struct SplitCase {
  const char* text;
  Args args;
};

TEST(CommandLine, SplitsLikeShellWords) {
  const SplitCase cases[] = {
      {"", {}},
      {"   ", {}},
      {"ls", {"ls"}},
      {"  ls   -l\t/tmp \n", {"ls", "-l", "/tmp"}},
      {"echo 'a  b' \"c  d\"", {"echo", "a  b", "c  d"}},
      {R"(say "q\"uote" "back\\slash" "other\n")", {"say", "q\"uote", "back\\slash", "other\\n"}},
      {R"(say 'no \escapes "here"')", {"say", "no \\escapes \"here\""}},
      {R"(a\ b c\"d \\)", {"a b", "c\"d", "\\"}},
      {R"(x "" '' y)", {"x", "", "", "y"}},
      {R"(pre"mid"'post' "a"b)", {"premidpost", "ab"}},
      {"open 'unclosed quote", {"open", "unclosed quote"}},
      {"trailing\\", {"trailing\\"}},
  };
  for (const auto& c : cases) EXPECT_EQ(command_line::split(c.text), c.args) << c.text;
}

TEST(CommandLine, ShellLineGivesTheArgumentsBack) {
  const Args tricky[] = {{"plain"}, {"two words", "it's", "\"q\"", "$HOME", "a\\b", "", "*"}, {"'", "''"}};
  for (const auto& args : tricky) EXPECT_EQ(command_line::split(command_line::shell_line(args)), args);
}

platform::ChildResult run(platform::ChildSpec spec) {
  platform::ChildResult r;
  platform::run_child(spec, &r);
  return r;
}

TEST(Process, StatusesOfExitsAndSignals) {
  struct Case {
    const char* script;
    int status;
  } cases[] = {{"exit 0", 0}, {"exit 3", 3}, {"exit 255", 255}, {"kill -9 $$", 137}, {"kill -15 $$", 143}};
  for (const auto& c : cases) {
    platform::ChildSpec spec;
    spec.argv = {"/bin/sh", "-c", c.script};
    EXPECT_EQ(run(spec).status, c.status) << c.script;
  }
  platform::ChildSpec missing;
  missing.argv = {"no-such-program-for-zot-tests"};
  auto r = run(missing);
  EXPECT_EQ(r.status, -1);
  EXPECT_TRUE(r.not_found);
}

TEST(Process, PipesAreServedTogether) {
  // The child echoes its input while writing as much to its error stream: a
  // parent that fed all input before reading anything would deadlock.
  std::string input(3 << 20, 'i');
  for (std::size_t k = 0; k < input.size(); k += 4097) input[k] = char('a' + k % 26);
  platform::ChildSpec spec;
  spec.argv = {"/bin/sh", "-c", "tee /dev/stderr"};
  spec.in = spec.out = spec.err = platform::Stream::kPipe;
  spec.in_data = input;
  auto r = run(spec);
  EXPECT_EQ(r.status, 0);
  EXPECT_TRUE(r.out == input);
  EXPECT_TRUE(r.err == input);
  // A child that reads nothing: the rest of the input is dropped, not a hang or a signal.
  spec.argv = {"/bin/sh", "-c", "echo done"};
  r = run(spec);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "done\n");
}

TEST(Process, FilesForInputAndOutput) {
  char dir[] = "/tmp/zot-process-XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  std::string in_path = std::string(dir) + "/in", out_path = std::string(dir) + "/out";
  std::ofstream(in_path) << "from a file\n";
  std::ofstream(out_path) << "kept\n";
  platform::ChildSpec spec;
  spec.argv = {"cat"};
  spec.in = platform::Stream::kFile;
  spec.in_path = in_path;
  spec.out = platform::Stream::kFile;
  spec.out_path = out_path;
  EXPECT_EQ(run(spec).status, 0);
  std::ifstream f(out_path);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()), "kept\nfrom a file\n");
  spec.in_path = std::string(dir) + "/missing";
  EXPECT_EQ(run(spec).status, -1);
  std::remove(in_path.c_str());
  std::remove(out_path.c_str());
  rmdir(dir);
}

TEST(Process, ChildrenNotWaitedForAreReaped) {
  platform::ChildSpec spec;
  spec.argv = {"true"};
  spec.wait = false;
  int pid = run(spec).status;
  ASSERT_GT(pid, 0);
  // Once it has ended, nothing of it is left to wait for.
  for (int i = 0; i < 200 && access(("/proc/" + std::to_string(pid)).c_str(), F_OK) == 0; i++) usleep(10000);
  EXPECT_NE(access(("/proc/" + std::to_string(pid)).c_str(), F_OK), 0) << "a zombie stays behind";
}

TEST(Process, EnvironmentListsEveryVariable) {
  setenv("ZOT_LIST_TEST", "a=b", 1);
  bool found = false;
  for (const auto& [name, value] : platform::environment())
    if (name == "ZOT_LIST_TEST") found = value == "a=b";
  EXPECT_TRUE(found);
  unsetenv("ZOT_LIST_TEST");
}

TEST(Process, OsInfoDescribesTheKernel) {
  test::ensure_runtime();
  Cell spec = test::load("");
  int code = test::error_code_of([&] {
    Cell* top = stack::g_top;
    routines::push(&spec, nullptr, "os-info");
    Cell r = *top;
    stack::g_top = top;
    Cell w = word::load("os-info");
    context::set(&w, &r);
  });
  ASSERT_EQ(code, -1);
  EXPECT_EQ(test::run("o: os-info o/name"), "\"Linux\"");
  EXPECT_EQ(test::run("type? o/arch"), "word!");
  EXPECT_EQ(test::run("reduce [type? o/version length? o/version type? o/build]"), "[tuple! 3 integer!]");
  platform::OsInfo os = platform::os_info();
  std::string version = os.release.substr(0, os.release.find_first_not_of("0123456789."));
  EXPECT_EQ(test::run("form o/version"), "\"" + version + "\"");
}

}  // namespace
}  // namespace zot
