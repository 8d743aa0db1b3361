// Libraries opened on first use: found by soname, functions found by name,
// and the test list of libraries taken as missing.
#include <gtest/gtest.h>

#include <stdlib.h>

#include <string>

#include "platform/shared_library.h"

namespace zot {
namespace {

using platform::SharedLibrary;

// Sets ZOT_MISSING_LIBRARIES for one scope (libraries read it when opened).
struct MissingList {
  explicit MissingList(const char* list) { setenv("ZOT_MISSING_LIBRARIES", list, 1); }
  ~MissingList() { unsetenv("ZOT_MISSING_LIBRARIES"); }
};

TEST(SharedLibrary, FindsALibraryAndItsFunctions) {
  SharedLibrary libc("libc.so.6");
  ASSERT_TRUE(libc.ok());
  std::size_t (*length)(const char*) = nullptr;
  ASSERT_TRUE(libc.get("strlen", &length));
  EXPECT_EQ(length("four"), 4u);
  EXPECT_STREQ(libc.soname(), "libc.so.6");
}

TEST(SharedLibrary, AMissingLibraryOrFunctionMakesItUnusable) {
  SharedLibrary none("libzot-no-such-library.so.1");
  EXPECT_FALSE(none.ok());
  int (*fn)() = reinterpret_cast<int (*)()>(1);
  EXPECT_FALSE(none.get("anything", &fn));
  EXPECT_EQ(fn, nullptr);

  // A library that lacks one function we need is not used at all.
  SharedLibrary libc("libc.so.6");
  ASSERT_TRUE(libc.ok());
  EXPECT_FALSE(libc.get("zot_no_such_function", &fn));
  EXPECT_FALSE(libc.ok());
}

TEST(SharedLibrary, TheMissingListMatchesSonamePrefixes) {
  struct Case {
    const char* list;
    bool found;
  };
  const Case cases[] = {
      {"", true},
      {"libc", false},
      {"libc.so.6", false},
      {"libcurl:libc.so", false},
      {"libcurl::libpng", true},
      {"libc.so.7", true},
      {"libcx", true},
  };
  for (const Case& c : cases) {
    MissingList list(c.list);
    EXPECT_EQ(SharedLibrary("libc.so.6").ok(), c.found) << '"' << c.list << '"';
  }
  EXPECT_TRUE(SharedLibrary("libc.so.6").ok());
}

}  // namespace
}  // namespace zot
