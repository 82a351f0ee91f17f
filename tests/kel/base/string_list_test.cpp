#include "kel/base/string_list.h"

#include <gtest/gtest.h>

namespace kel {
namespace {

TEST(StringList, ChangesNotifyOutsideUpdates) {
  TKELStringList list;
  int changes = 0;
  list.OnChange = [&] { ++changes; };
  list.Add("a");
  list.Insert(0, "B");
  EXPECT_EQ(changes, 2);
  list.BeginUpdate();
  list.Add("c");
  list.Delete(0);
  EXPECT_EQ(changes, 2);
  list.EndUpdate();
  EXPECT_EQ(changes, 3);
  list.SetTag(0, 7);  // a cache, not a change
  EXPECT_EQ(changes, 3);
  EXPECT_EQ(list.Join(";"), "a;c");
  EXPECT_EQ(list.Text(), "a\r\nc\r\n");
}

TEST(StringList, IndexOfIgnoresCaseUnlessAsked) {
  TKELStringList list{"Alpha", "beta"};
  EXPECT_EQ(list.IndexOf("BETA"), 1);
  list.CaseSensitive = true;
  EXPECT_EQ(list.IndexOf("BETA"), -1);
  EXPECT_EQ(list.IndexOf("beta"), 1);
}

}  // namespace
}  // namespace kel
