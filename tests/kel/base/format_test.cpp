#include "kel/base/format.h"

#include <gtest/gtest.h>

namespace kel {
namespace {

TEST(Format, Placeholders) {
  EXPECT_EQ(kelFormat("Cannot open file \"%s\". %s", {"a.txt", "No such file"}),
            "Cannot open file \"a.txt\". No such file");
  EXPECT_EQ(kelFormat("LZMA Error (%d)", {-3}), "LZMA Error (-3)");
  EXPECT_EQ(kelFormat("%u%% of %x/%X", {42u, 255, 255}), "42% of ff/FF");
  EXPECT_EQ(kelFormat("%x", {-1}), "ffffffff");
}

TEST(Format, OutsideTemplatesNeverFail) {
  EXPECT_EQ(kelFormat("%s and %s and %d", {"one"}), "one and  and ");
  EXPECT_EQ(kelFormat("%q %5s 100%", {"x"}), "%q %5s 100%");
  EXPECT_EQ(kelFormat("%d", {"text"}), "text");
  EXPECT_EQ(kelFormat("", {}), "");
}

}  // namespace
}  // namespace kel
