// image! values through the codec routines: encoding and decoding from Zot,
// files, binaries that hold no image, damaged data, and the encoder errors.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <string>

#include "datatypes/context.h"
#include "datatypes/image.h"
#include "datatypes/registry.h"
#include "runtime/output.h"
#include "tests/unit/eval_fixture.h"
#include "tests/unit/runtime_fixture.h"

namespace zot {
namespace {

class ImageRoutines : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    test::ensure_runtime();
    test::bind_routine("image-decode", "data [any-type!]");
    for (const char* f : {"bmp", "png", "gif", "jpeg", "tiff"})
      test::bind_routine(("image-encode-" + std::string(f)).c_str(), "img [image!] where [any-type!]");
    test::run("sample: make image! [3x2 #{FF0000 00FF00 0000FF FFFFFF 000000 804020} #{00 80 FF 00 10 00}]");
  }
};

TEST_F(ImageRoutines, RoundTripsThroughEveryCodec) {
  const test::Case cases[] = {
      {"equal? sample image-decode image-encode-png sample none", "true"},
      {"equal? sample image-decode image-encode-bmp sample none", "true"},
      {"equal? sample image-decode image-encode-tiff sample none", "true"},
      // GIF keeps the colours; what is below half opacity becomes clear
      // (all zero), the rest opaque.
      {"g: image-decode image-encode-gif sample none reduce [g/size g/rgb g/alpha]",
       "[3x2 #{FF0000000000000000FFFFFF000000804020} #{00FFFF000000}]"},
      {"j: image-decode image-encode-jpeg make image! [4x4 200.100.50] none j/size", "4x4"},
      {"j/alpha", "#{00000000000000000000000000000000}"},
      {"t: j/6 all [(absolute t/1 - 200) < 8 (absolute t/2 - 100) < 8 (absolute t/3 - 50) < 8]", "true"},
      // The codecs read from the binary's index.
      {"b: image-encode-png sample none equal? sample image-decode next head insert copy b #{00}", "true"},
  };
  ZOT_CHECK_TABLE(cases);
}

TEST_F(ImageRoutines, DecodingRefusals) {
  const test::Case cases[] = {
      {"image-decode #{0102030405}", "none"},
      {"image-decode #{}", "none"},
      {"image-decode #{89504E470D0A1A0A0000}", test::err(Err::AccessBadMedia)},
      {"image-decode #{424D00}", test::err(Err::AccessBadMedia)},
      {"image-decode %/nonexistent/picture.png", test::err(Err::AccessCannotOpen)},
      {"image-decode 12", test::err(Err::ScriptInvalidArg)},
  };
  ZOT_CHECK_TABLE(cases);
}

TEST_F(ImageRoutines, DecodesFiles) {
  char path[] = "/tmp/zot-image-XXXXXX";
  int fd = mkstemp(path);
  ASSERT_GE(fd, 0);
  close(fd);
  std::string bytes = test::run("enbase/base image-encode-bmp sample none 16");
  ASSERT_GT(bytes.size(), 2u);
  {
    std::ofstream out(path, std::ios::binary);
    std::string hex = bytes.substr(1, bytes.size() - 2);
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2) out.put(char(std::stoi(hex.substr(i, 2), nullptr, 16)));
  }
  EXPECT_EQ(test::run(std::string("equal? sample image-decode %") + path), "true");
  // Not an image: cannot-open with the file.
  { std::ofstream out(path, std::ios::binary); out << "BM garbage"; }
  EXPECT_EQ(test::run(std::string("image-decode %") + path), test::err(Err::AccessCannotOpen));
  std::remove(path);
}

TEST_F(ImageRoutines, EncodingTargetsAndErrors) {
  const test::Case cases[] = {
      {"b: #{AABB} r: image-encode-png sample b same? r b", "true"},
      {"copy/part b 6", "#{AABB89504E47}"},
      {"equal? sample image-decode skip b 2", "true"},
      {"binary! = type? image-encode-png sample %out.png", "true"},
      {"image-encode-png make image! 0x0 none", test::err(Err::AccessBadMedia)},
      {"image-encode-gif make image! 5x0 none", test::err(Err::AccessBadMedia)},
  };
  ZOT_CHECK_TABLE(cases);
}

TEST_F(ImageRoutines, UnknownFormatPrintsAndGivesNone) {
  static std::string printed;
  printed.clear();
  output::set_sink([](const char* b, std::size_t n) { printed.append(b, n); });
  int code = test::error_code_of([] {
    Cell* out = stack::push(&datatype::g_none);
    Cell* img = stack::push(&datatype::g_none);
    image::make_at(img, 2, 2, nullptr);
    image::save_to_format(img, &datatype::g_none, 9, out);
    EXPECT_TRUE(out->is(T_NONE));
  });
  output::flush();
  output::set_sink(nullptr);
  EXPECT_EQ(code, -1);
  EXPECT_EQ(printed, "Cannot find image encoder\n");
}

}  // namespace
}  // namespace zot
