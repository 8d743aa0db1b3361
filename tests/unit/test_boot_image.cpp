// The boot image embedded in the program: compact ZOTBIN that decodes and
// re-encodes to the same bytes.
#include <gtest/gtest.h>

#include <string>

#include "boot/boot_image.h"
#include "boot/image.h"
#include "boot/zotbin.h"
#include "datatypes/block.h"
#include "runtime/memory.h"
#include "runtime/rooted.h"
#include "tests/unit/runtime_fixture.h"

namespace zot {
namespace {

const std::string kImage(reinterpret_cast<const char*>(boot_image::kImage), boot_image::kImageSize);

TEST(BootImage, IsCompactZotbinWithSymbols) {
  ASSERT_GT(kImage.size(), 8u);
  EXPECT_EQ(kImage.substr(0, 6), "ZOTBIN");
  EXPECT_EQ(u8(kImage[7]), zotbin::kFlagCompact | zotbin::kFlagSymbols);
}

TEST(BootImage, DecodesAndEncodesToTheSameBytes) {
  test::ensure_runtime();
  Rooted decoded;
  block::make_at(&decoded.cell, 4);
  zotbin::decode(boot_image::kImage, boot_image::kImageSize, &decoded.cell);
  // One record: the block of the build description and the sections.
  ASSERT_EQ(mem::series_of(decoded.cell.w2)->length(), 1u);
  Rooted image(*block::cell_at(&decoded.cell, 0));
  ASSERT_TRUE(image.cell.is(T_BLOCK));
  EXPECT_GT(mem::series_of(image.cell.w2)->length(), 1u);
  EXPECT_TRUE(block::cell_at(&image.cell, 0)->is(T_BLOCK));
  std::string again = boot_image::encode(&image.cell);
  EXPECT_EQ(again.size(), kImage.size());
  EXPECT_TRUE(again == kImage);
}

}  // namespace
}  // namespace zot
