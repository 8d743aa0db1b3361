#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <string>

#include "runtime/fatal.h"

namespace {

struct ChildResult {
  std::string out;
  int status;
};

ChildResult run_probe(const std::string& args) {
  std::string cmd = std::string(ZOT_PROBE_PATH) + " " + args + " 2>/dev/null";
  FILE* p = popen(cmd.c_str(), "r");
  ChildResult r{"", -1};
  if (!p) return r;
  char buf[512];
  std::size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) r.out.append(buf, n);
  int st = pclose(p);
  r.status = WIFEXITED(st) ? WEXITSTATUS(st) : 1000 + (WIFSIGNALED(st) ? WTERMSIG(st) : 0);
  return r;
}

struct FatalCase {
  const char* args;
  const char* text;  // exact output, or a prefix when prefix_only
  bool prefix_only;
  int status;
};

TEST(Fatal, ChildProcessesEndWithNumberedMessages) {
  const FatalCase cases[] = {
      {"quit 100", "\n*** Runtime Error 100: no value matched in CASE\n*** at: 1234ABCDh\n", false, 100},
      {"quit 50", "\n*** Runtime Error 50: unknown error code!\n*** at: 1234ABCDh\n", false, 50},
      {"quit 6", "\n*** Runtime Error 6: float denormal operan\n*** at: 1234ABCDh\n", false, 6},
      {"quit 94", "\n*** Runtime Error 94: out of memory\n*** at: 1234ABCDh\n", false, 94},
      {"quit 0", "", false, 0},
      {"segv", "\n*** Runtime Error 1: access violation\n*** at: ", true, 1},
      {"fpe", "\n*** Runtime Error 13: integer divide by zero\n*** at: ", true, 13},
      {"ill", "\n*** Runtime Error 23: illegal operand\n*** at: ", true, 23},  // ud2
      {"recurse", "\n*** Runtime Error 19: stack error or overflow\n*** at: ", true, 19},
      {"throw", "\n*** Runtime Error 95: no CATCH for THROW\n*** at: ", true, 95},
      {"quit-request", "", false, 0},
      {"interrupt", "", false, 0},
      {"error", "*** Script Error", true, 254},
      {"bad-type", "\n*** Runtime Error 98: assertion failed\n*** at: ", true, 98},
      {"ok", "fine\n", false, 0},
      {"zotbin-magic", "Error: Not a Zotbin file!\n", false, 1},
      {"zotbin-corrupt", "Error: Zotbin compressed data corrupted!\n", false, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args);
    ChildResult r = run_probe(c.args);
    EXPECT_EQ(r.status, c.status);
    if (c.prefix_only) EXPECT_EQ(r.out.substr(0, std::strlen(c.text)), c.text) << r.out;
    else EXPECT_EQ(r.out, c.text);
  }
}

TEST(Fatal, CommandLineQuotesEmptyAndSpacedArguments) {
  ChildResult r = run_probe("cmdline 'a b' '' 'c\td'");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, std::string(ZOT_PROBE_PATH) + " cmdline \"a b\" \"\" \"c\td\"\n");
}

TEST(Fatal, MessagesOfUnknownNumbers) {
  EXPECT_STREQ(zot::runtime::fatal_message(34), "Bus error");
  EXPECT_STREQ(zot::runtime::fatal_message(35), "unknown error code!");
  EXPECT_STREQ(zot::runtime::fatal_message(-2), "unknown error code!");
}

}  // namespace
